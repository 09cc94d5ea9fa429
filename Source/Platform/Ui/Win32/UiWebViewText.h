// Text rules of the Windows web view that need no browser: origins of addresses, the cut of named
// values, which elements take Backspace and the arrows, and what a visit error's status means.
#pragma once

#include "Common/String.h"
#include "Platform/Ui/WebView.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace Vexel::Ui::WebText
{

constexpr std::size_t _MAX_URL = 1024;
constexpr std::size_t _MAX_NAMED_VALUE = 8192;

// "scheme://host[:port]" as page script's location.origin spells it (scheme and host in lower case, the
// scheme's default port left out, IPv6 hosts in brackets, user names dropped); "file://" for files;
// empty for text that is no absolute address with a host.
String OriginOf(const String& url);

// Pages given inline (about:, data:) have no origin of their own but may still be loaded.
bool IsInlineAddress(const String& url);

String Cut(const String& text, std::size_t limit);

// Adds the pair when both attributes are there, each cut to the named-value limit.
void AddNamedValue(std::vector<NamedValue>& values, const std::optional<String>& name,
                   const std::optional<String>& value);

// Whether an element takes Backspace, Left and Right itself (text fields, text areas, lists, editable
// content). Tag and type compare without regard to case.
bool IsEditableElement(const String& tag, const String& type, bool contentEditable);

// The lParam of a visit error: the HTTP status for 400 to 599, else 0 (network and engine failures
// arrive as negative result codes).
std::intptr_t VisitErrorStatus(long status);

} // namespace Vexel::Ui::WebText
