// Small text helpers the launcher's readers share: cutting a set of characters from both ends of a text,
// and matching a text against a list of prefixes or parts.
#pragma once

#include "Common/String.h"

#include <vector>

namespace Vexel
{

// The character sets the readers cut.
constexpr const char16_t* _SPACES = u" ";            // paths and names the scripts pass
constexpr const char16_t* _BLANKS = u" \t";          // values of page parameters
constexpr const char16_t* _LINE_BLANKS = u" \t\r\n"; // lines of settings files
constexpr const char16_t* _BARS = u"|";              // lists with bars between their entries

// The text with every character of the set cut from both ends (empty when nothing else is left).
String Trim(const String& text, const char16_t* characters);

// True when text begins with (StartsWithAny) or contains anywhere (ContainsAny) a non-empty entry of the
// list; with case.
bool StartsWithAny(const String& text, const std::vector<String>& list);
bool ContainsAny(const String& text, const std::vector<String>& list);

} // namespace Vexel
