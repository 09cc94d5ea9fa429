// The JSON reader's lexer: cuts UTF-8 text into tokens, one per call, resumable at any byte.
#pragma once

#include "Common/Json.h"

#include <string_view>

namespace Vexel
{

// The lexer state between tokens (JsonContext::mLexerState).
constexpr int _JSON_LEX_BETWEEN = 0;

// One token per call. At the end of the input the position is cleared and _JSON_LEX_MORE returned; the
// lexer state and the token text stay for the next call.
int LexJson(JsonContext& context);

inline bool IsJsonDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

inline bool IsJsonHex(unsigned char c)
{
    return IsJsonDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The four hexadecimal digits at text[at], or false.
bool ReadHex4(std::string_view text, std::size_t at, unsigned& value);

} // namespace Vexel
