#include "Common/Json.h"

#include "Common/JsonLexer.h"
#include "Common/StringEncoding.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace Vexel
{

namespace
{

bool IsMemberName(const JsonNode* node)
{
    return node->mType == _JSON_STRING && node->mParent && node->mParent->mType == _JSON_OBJECT;
}

// Inserts a new node under the cursor (or as the root of an empty tree) and moves the cursor to it.
int Insert(JsonContext& c, int type, bool withText)
{
    JsonNode* parent = c.mCurrent;
    if (c.mRoot)
    {
        bool accepted = false;
        if (parent)
        {
            switch (parent->mType)
            {
            case _JSON_OBJECT:
                accepted = type == _JSON_STRING; // member names only
                break;
            case _JSON_ARRAY:
                accepted = true;
                break;
            case _JSON_STRING:
                accepted = IsMemberName(parent) && !parent->mFirstChild; // one value per name
                break;
            default:
                accepted = false; // scalars hold nothing
                break;
            }
        }
        if (!accepted)
            return _JSON_BAD_TREE;
    }
    JsonNode* node = new (std::nothrow) JsonNode;
    if (!node)
        return _JSON_OUT_OF_MEMORY;
    node->mType = type;
    if (withText)
        node->mText.swap(c.mToken);
    if (!c.mRoot)
        c.mRoot = node;
    else
    {
        node->mParent = parent;
        node->mPrevious = parent->mLastChild;
        if (parent->mLastChild)
            parent->mLastChild->mNext = node;
        else
            parent->mFirstChild = node;
        parent->mLastChild = node;
    }
    c.mCurrent = node;
    return _JSON_DONE;
}

// The value under the cursor is complete: move to its container (past a member name) and pick the state
// that follows a member or an element.
int Complete(JsonContext& c)
{
    JsonNode* up = c.mCurrent ? c.mCurrent->mParent : nullptr;
    if (up && IsMemberName(up))
        up = up->mParent;
    c.mCurrent = up;
    if (!up)
        c.mParserState = _JSON_STATE_ROOT_DONE;
    else if (up->mType == _JSON_OBJECT)
        c.mParserState = 3;
    else if (up->mType == _JSON_ARRAY)
        c.mParserState = 9;
    else
        return _JSON_BAD_TREE;
    return _JSON_DONE;
}

int ScalarType(int token)
{
    switch (token)
    {
    case _JSON_LEX_STRING:
        return _JSON_STRING;
    case _JSON_LEX_NUMBER:
        return _JSON_NUMBER;
    case _JSON_LEX_TRUE:
        return _JSON_TRUE;
    case _JSON_LEX_FALSE:
        return _JSON_FALSE;
    case _JSON_LEX_NULL:
        return _JSON_NULL;
    default:
        return -1;
    }
}

int InsertScalar(JsonContext& c, int token)
{
    int type = ScalarType(token);
    int result = Insert(c, type, type == _JSON_STRING || type == _JSON_NUMBER);
    return result == _JSON_DONE ? Complete(c) : result;
}

// Feeds one token to the parser.
int Step(JsonContext& c, int token)
{
    if (token == _JSON_LEX_OUT_OF_MEMORY)
        return _JSON_OUT_OF_MEMORY;
    for (;;)
    {
        int& state = c.mParserState;
        switch (state)
        {
        case 0:
            if (token == _JSON_LEX_OBJECT_BEGIN)
            {
                state = 1;
                continue;
            }
            if (token == _JSON_LEX_INVALID)
                return _JSON_MALFORMED;
            break;
        case 1:
        {
            int result = Insert(c, _JSON_OBJECT, false);
            if (result == _JSON_DONE)
                state = 2;
            return result;
        }
        case 2:
        case 4:
            if (token == _JSON_LEX_STRING)
            {
                int result = Insert(c, _JSON_STRING, true);
                if (result == _JSON_DONE)
                    state = 5;
                return result;
            }
            if (state == 2 && token == _JSON_LEX_OBJECT_END)
                return Complete(c);
            if (state == 4 && token == _JSON_LEX_INVALID)
                return _JSON_ILLEGAL_CHAR;
            break;
        case 3:
            if (token == _JSON_LEX_COMMA)
            {
                state = 4;
                return _JSON_DONE;
            }
            if (token == _JSON_LEX_OBJECT_END)
                return Complete(c);
            break;
        case 5:
            if (token == _JSON_LEX_COLON)
            {
                state = 6;
                return _JSON_DONE;
            }
            break;
        case 6:
        case 8:
            if (token == _JSON_LEX_OBJECT_BEGIN)
            {
                state = 1;
                continue;
            }
            if (token == _JSON_LEX_ARRAY_BEGIN)
            {
                state = 7;
                continue;
            }
            if (ScalarType(token) >= 0)
                return InsertScalar(c, token);
            if (state == 8 && token == _JSON_LEX_ARRAY_END)
                return Complete(c);
            if (token == _JSON_LEX_INVALID)
                return _JSON_ILLEGAL_CHAR;
            break;
        case 7:
        {
            int result = Insert(c, _JSON_ARRAY, false);
            if (result == _JSON_DONE)
                state = 8;
            return result;
        }
        case 9:
            if (token == _JSON_LEX_COMMA)
            {
                state = 8;
                return _JSON_DONE;
            }
            if (token == _JSON_LEX_ARRAY_END)
                return Complete(c);
            break;
        default:
            break;
        }
        std::fprintf(stderr, "JSON: state %d: defaulted at line %zd\n", state,
                     static_cast<std::ptrdiff_t>(c.mLine));
        return state > _JSON_STATE_ROOT_DONE ? _JSON_UNKNOWN : _JSON_MALFORMED;
    }
}

void ReportUnsupported(unsigned long value)
{
    std::fprintf(stderr, "JSON: unsupported unicode value: 0x%lX\n", value);
}

} // namespace

int parseJson(JsonContext& context, const char* text)
{
    return parseJson(context, text, text ? std::strlen(text) : 0);
}

int parseJson(JsonContext& context, const char* text, std::size_t length)
{
    if (context.mFailure)
        return context.mFailure;
    context.mPosition = length ? text : nullptr;
    context.mEnd = length ? text + length : nullptr;
    for (;;)
    {
        int token = LexJson(context);
        // A token begun after the finished root can only be malformed: say so now rather than report
        // a complete document for text such as {"a":1} 2.
        if (token == _JSON_LEX_MORE &&
            (context.mParserState != _JSON_STATE_ROOT_DONE || context.mLexerState == _JSON_LEX_BETWEEN))
            return context.mParserState == _JSON_STATE_ROOT_DONE ? _JSON_COMPLETE : _JSON_INCOMPLETE;
        int result = Step(context, token);
        if (result != _JSON_DONE)
        {
            context.mPosition = nullptr;
            context.mEnd = nullptr;
            context.mFailure = result;
            return result;
        }
    }
}

void resetJson(JsonContext& context)
{
    freeTree(context.mRoot);
    context = JsonContext();
}

JsonNode* findMember(JsonNode* object, std::string_view name)
{
    return const_cast<JsonNode*>(findMember(static_cast<const JsonNode*>(object), name));
}

const JsonNode* findMember(const JsonNode* object, std::string_view name)
{
    if (!object || object->mType != _JSON_OBJECT)
        return nullptr;
    for (const JsonNode* child = object->mFirstChild; child; child = child->mNext)
        if (child->mType == _JSON_STRING && child->mText == name)
            return child;
    return nullptr;
}

std::string unescapeToUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size())
    {
        char ch = text[i];
        if (ch != '\\')
        {
            out.push_back(ch);
            ++i;
            continue;
        }
        if (i + 1 >= text.size())
            break; // a trailing backslash escapes nothing
        char escape = text[i + 1];
        i += 2;
        switch (escape)
        {
        case 'b':
            out.push_back('\b');
            break;
        case 'f':
            out.push_back('\f');
            break;
        case 'n':
            out.push_back('\n');
            break;
        case 'r':
            out.push_back('\r');
            break;
        case 't':
            out.push_back('\t');
            break;
        case '"':
        case '/':
        case '\\':
            out.push_back(escape);
            break;
        case 'u':
        {
            unsigned value;
            if (!ReadHex4(text, i, value))
                break; // "\u" without its digits is left out like any unknown escape
            i += 4;
            if (value >= 0xD800 && value <= 0xDBFF)
            {
                unsigned low;
                if (i + 1 < text.size() && text[i] == '\\' && text[i + 1] == 'u' &&
                    ReadHex4(text, i + 2, low) && low >= 0xDC00 && low <= 0xDFFF)
                {
                    AppendUtf8(out, 0x10000 + ((value - 0xD800) << 10) + (low - 0xDC00));
                    i += 6;
                }
                else
                    ReportUnsupported(value);
            }
            else if (value >= 0xDC00 && value <= 0xDFFF)
                ReportUnsupported(value);
            else
                AppendUtf8(out, value);
            break;
        }
        default:
            break; // unknown escapes are left out
        }
    }
    return out;
}

String rawToWide(std::string_view text)
{
    String out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size())
    {
        unsigned value;
        if (text[i] == '\\' && i + 1 < text.size())
        {
            if (text[i + 1] == 'u' && ReadHex4(text, i + 2, value))
            {
                out.push_back(static_cast<char16_t>(value));
                i += 6;
                continue;
            }
            // Any other escape stays as written, both bytes, so "\\u0041" is not read as "\u0041".
            out.push_back(u'\\');
            out.push_back(static_cast<char16_t>(static_cast<unsigned char>(text[i + 1])));
            i += 2;
            continue;
        }
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(text[i])));
        ++i;
    }
    return out;
}

String unescapeToWide(std::string_view text)
{
    std::string utf8 = unescapeToUtf8(text);
    String out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size())
    {
        unsigned char lead = static_cast<unsigned char>(utf8[i]);
        unsigned long code;
        std::size_t extra;
        unsigned long minimum;
        if (lead < 0x80)
        {
            out.push_back(lead);
            ++i;
            continue;
        }
        if (lead >= 0xC2 && lead <= 0xDF)
            code = lead & 0x1F, extra = 1, minimum = 0x80;
        else if (lead >= 0xE0 && lead <= 0xEF)
            code = lead & 0x0F, extra = 2, minimum = 0x800;
        else if (lead >= 0xF0 && lead <= 0xF4)
            code = lead & 0x07, extra = 3, minimum = 0x10000;
        else
        {
            out.push_back(u'\xFFFD');
            ++i;
            continue;
        }
        std::size_t j = 1;
        for (; j <= extra && i + j < utf8.size(); ++j)
        {
            unsigned char next = static_cast<unsigned char>(utf8[i + j]);
            if ((next & 0xC0) != 0x80)
                break;
            code = (code << 6) | (next & 0x3F);
        }
        if (j <= extra || code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        {
            out.push_back(u'\xFFFD');
            i += j; // resume at the first byte that did not belong
            continue;
        }
        i += j;
        if (code >= 0x10000)
        {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        }
        else
            out.push_back(static_cast<char16_t>(code));
    }
    return out;
}

void freeTree(JsonNode* node)
{
    if (!node)
        return;
    if (node->mPrevious)
        node->mPrevious->mNext = node->mNext;
    else if (node->mParent)
        node->mParent->mFirstChild = node->mNext;
    if (node->mNext)
        node->mNext->mPrevious = node->mPrevious;
    else if (node->mParent)
        node->mParent->mLastChild = node->mPrevious;
    node->mParent = node->mNext = node->mPrevious = nullptr;

    // Leaves first, without recursion: a deep document must not exhaust the stack.
    JsonNode* at = node;
    while (at)
    {
        if (at->mFirstChild)
        {
            at = at->mFirstChild;
            continue;
        }
        JsonNode* up = at->mParent;
        if (up)
        {
            up->mFirstChild = at->mNext;
            if (!at->mNext)
                up->mLastChild = nullptr;
        }
        delete at;
        at = up;
    }
}

const JsonNode* JsonDocument::Member(std::string_view name) const
{
    const JsonNode* member = findMember(mContext.mRoot, name);
    return member ? member->mFirstChild : nullptr;
}

String JsonDocument::MemberText(std::string_view name) const
{
    const JsonNode* value = Member(name);
    if (!value || (value->mType != _JSON_STRING && value->mType != _JSON_NUMBER))
        return String();
    return unescapeToWide(value->mText);
}

} // namespace Vexel
