#include "Common/JsonLexer.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace Vexel
{

namespace
{

// Lexer states.
enum : int
{
    LexBetween = _JSON_LEX_BETWEEN,
    LexTrueR = 1, // "t" read, "r" expected
    LexTrueU = 2,
    LexTrueE = 3,
    LexFalseA = 4,
    LexFalseL = 5,
    LexFalseS = 6,
    LexFalseE = 7,
    LexNullU = 8,
    LexNullL1 = 9,
    LexNullL2 = 10,
    LexString = 11,
    LexEscape = 12,
    LexHex1 = 13,
    LexHex2 = 14,
    LexHex3 = 15,
    LexHex4 = 16,
    LexMinus = 17,    // "-" read, a digit must follow
    LexZero = 18,     // a leading "0": no more integer digits
    LexInteger = 19,  // integer digits
    LexPoint = 20,    // "." read, a digit must follow
    LexFraction = 21, // fraction digits
    LexExponent = 22, // "e" read, a sign or digit must follow
    LexExpSign = 23,  // exponent sign read, a digit must follow
    LexExpDigits = 24,
};

// Step results besides a token: keep reading.
constexpr int _LEX_GO_ON = -1;

// The letters of "true", "false" and "null" after the first: the letter each state expects, where it
// leads, and the token once the word is whole.
struct WordStep
{
    char expected;
    int next;
    int token;
};
constexpr WordStep _WORD_STEPS[] = {
    {'r', LexTrueU, 0},
    {'u', LexTrueE, 0},
    {'e', LexBetween, _JSON_LEX_TRUE},
    {'a', LexFalseL, 0},
    {'l', LexFalseS, 0},
    {'s', LexFalseE, 0},
    {'e', LexBetween, _JSON_LEX_FALSE},
    {'u', LexNullL1, 0},
    {'l', LexNullL2, 0},
    {'l', LexBetween, _JSON_LEX_NULL},
};

int Invalid(JsonContext& c)
{
    ++c.mPosition;
    c.mLexerState = LexBetween;
    return _JSON_LEX_INVALID;
}

// Keeps the character as part of the token and moves to state.
int Take(JsonContext& c, unsigned char ch, int state)
{
    c.mToken.push_back(static_cast<char>(ch));
    ++c.mPosition;
    c.mLexerState = state;
    return _LEX_GO_ON;
}

// Between tokens: white space, punctuation, or the first character of a longer token.
int LexStart(JsonContext& c, unsigned char ch)
{
    ++c.mPosition;
    int& state = c.mLexerState;
    switch (ch)
    {
    case ' ':
    case '\t':
        return _LEX_GO_ON;
    case '\n':
    case '\r':
        ++c.mLine;
        return _LEX_GO_ON;
    case '{':
        return _JSON_LEX_OBJECT_BEGIN;
    case '}':
        return _JSON_LEX_OBJECT_END;
    case '[':
        return _JSON_LEX_ARRAY_BEGIN;
    case ']':
        return _JSON_LEX_ARRAY_END;
    case ':':
        return _JSON_LEX_COLON;
    case ',':
        return _JSON_LEX_COMMA;
    case '"':
        c.mToken.clear();
        state = LexString;
        return _LEX_GO_ON;
    case 't':
        state = LexTrueR;
        return _LEX_GO_ON;
    case 'f':
        state = LexFalseA;
        return _LEX_GO_ON;
    case 'n':
        state = LexNullU;
        return _LEX_GO_ON;
    case '-':
        c.mToken.assign(1, '-');
        state = LexMinus;
        return _LEX_GO_ON;
    default:
        if (!IsJsonDigit(ch))
            return _JSON_LEX_INVALID;
        c.mToken.assign(1, static_cast<char>(ch));
        state = ch == '0' ? LexZero : LexInteger;
        return _LEX_GO_ON;
    }
}

int LexWord(JsonContext& c, unsigned char ch)
{
    const WordStep& step = _WORD_STEPS[c.mLexerState - LexTrueR];
    ++c.mPosition;
    if (ch != static_cast<unsigned char>(step.expected))
    {
        c.mLexerState = LexBetween;
        return _JSON_LEX_INVALID;
    }
    c.mLexerState = step.next;
    return step.next == LexBetween ? step.token : _LEX_GO_ON;
}

// Inside a string: plain characters, escapes and the four digits of \u. The token keeps the escapes
// as written; the reader decodes them.
int LexStringPart(JsonContext& c, unsigned char ch)
{
    const char*& p = c.mPosition;
    int state = c.mLexerState;
    if (state == LexString)
    {
        // Plain characters in one run: long strings cost one append, not one per byte.
        const char* run = p;
        while (run < c.mEnd && *run != '"' && *run != '\\' && static_cast<unsigned char>(*run) >= 0x20)
            ++run;
        c.mToken.append(p, run);
        p = run;
        if (p == c.mEnd)
            return _LEX_GO_ON;
        ch = static_cast<unsigned char>(*p);
        if (ch == '"')
        {
            ++p;
            c.mLexerState = LexBetween;
            return _JSON_LEX_STRING;
        }
        if (ch < 0x20)
            return Invalid(c);
        return Take(c, '\\', LexEscape);
    }
    if (state == LexEscape)
    {
        if (!std::strchr("\"\\/bfnrtu", ch) || ch == 0)
            return Invalid(c);
        return Take(c, ch, ch == 'u' ? LexHex1 : LexString);
    }
    if (!IsJsonHex(ch))
        return Invalid(c);
    return Take(c, ch, state == LexHex4 ? LexString : state + 1);
}

// Inside a number. A number ends at the first character that cannot continue it, which is read again
// as the next token's start.
int LexNumberPart(JsonContext& c, unsigned char ch)
{
    int state = c.mLexerState;
    bool digit = IsJsonDigit(ch);
    switch (state)
    {
    case LexMinus:
        return digit ? Take(c, ch, ch == '0' ? LexZero : LexInteger) : Invalid(c);
    case LexZero:
    case LexInteger:
    case LexFraction:
        if (ch == '.' && state != LexFraction)
            return Take(c, ch, LexPoint);
        if (ch == 'e' || ch == 'E')
            return Take(c, ch, LexExponent);
        if (!digit || state == LexZero)
            break;
        return Take(c, ch, state);
    case LexPoint:
        return digit ? Take(c, ch, LexFraction) : Invalid(c);
    case LexExponent:
        if (!digit && ch != '+' && ch != '-')
            return Invalid(c);
        return Take(c, ch, digit ? LexExpDigits : LexExpSign);
    case LexExpSign:
        return digit ? Take(c, ch, LexExpDigits) : Invalid(c);
    default: // LexExpDigits
        if (digit)
            return Take(c, ch, state);
        break;
    }
    c.mLexerState = LexBetween;
    return _JSON_LEX_NUMBER;
}

int LexStep(JsonContext& c, unsigned char ch)
{
    int state = c.mLexerState;
    if (state == LexBetween)
        return LexStart(c, ch);
    if (state >= LexTrueR && state <= LexNullL2)
        return LexWord(c, ch);
    if (state >= LexString && state <= LexHex4)
        return LexStringPart(c, ch);
    if (state >= LexMinus && state <= LexExpDigits)
        return LexNumberPart(c, ch);
    std::fprintf(stderr, "JSON: *state missing: %d\n", state);
    return Invalid(c);
}

unsigned HexValue(unsigned char c)
{
    if (IsJsonDigit(c))
        return c - '0';
    return (c | 0x20) - 'a' + 10;
}

} // namespace

bool ReadHex4(std::string_view text, std::size_t at, unsigned& value)
{
    if (at + 4 > text.size())
        return false;
    value = 0;
    for (std::size_t i = at; i < at + 4; ++i)
    {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (!IsJsonHex(c))
            return false;
        value = value * 16 + HexValue(c);
    }
    return true;
}

int LexJson(JsonContext& c)
{
    try
    {
        while (c.mPosition && c.mPosition < c.mEnd)
        {
            int result = LexStep(c, static_cast<unsigned char>(*c.mPosition));
            if (result != _LEX_GO_ON)
                return result;
        }
    }
    catch (const std::bad_alloc&)
    {
        return _JSON_LEX_OUT_OF_MEMORY;
    }
    c.mPosition = nullptr;
    c.mEnd = nullptr;
    return _JSON_LEX_MORE;
}

} // namespace Vexel
