// Reader for the small JSON documents the operator's servers return: an incremental lexer and parser
// that turn UTF-8 text into a tree of nodes, member lookup, the two ways of turning a string node into
// text, and the release of a tree. It checks syntax only; numbers keep their text.
//
// The parser is iterative (the tree carries parent links), so nesting depth costs heap, never stack.
// Diagnostics go to standard error.
#pragma once

#include "Common/String.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace Vexel
{

// Node types.
constexpr int _JSON_STRING = 0;
constexpr int _JSON_NUMBER = 1;
constexpr int _JSON_OBJECT = 2;
constexpr int _JSON_ARRAY = 3;
constexpr int _JSON_TRUE = 4;
constexpr int _JSON_FALSE = 5;
constexpr int _JSON_NULL = 6;

// Lexer results.
constexpr int _JSON_LEX_MORE = 0; // the input ended inside or before a token
constexpr int _JSON_LEX_INVALID = 1;
constexpr int _JSON_LEX_TRUE = 2;
constexpr int _JSON_LEX_FALSE = 3;
constexpr int _JSON_LEX_NULL = 4;
constexpr int _JSON_LEX_OBJECT_BEGIN = 5;
constexpr int _JSON_LEX_OBJECT_END = 6;
constexpr int _JSON_LEX_ARRAY_BEGIN = 7;
constexpr int _JSON_LEX_ARRAY_END = 8;
constexpr int _JSON_LEX_COLON = 9;
constexpr int _JSON_LEX_COMMA = 10;
constexpr int _JSON_LEX_STRING = 11; // text in the token buffer
constexpr int _JSON_LEX_NUMBER = 12; // text in the token buffer
constexpr int _JSON_LEX_OUT_OF_MEMORY = 14;

// Parse results.
constexpr int _JSON_DONE = 1;
constexpr int _JSON_INCOMPLETE = 2;
constexpr int _JSON_COMPLETE = 3; // the document is whole; only the end of the input is awaited
constexpr int _JSON_MALFORMED = 4;
constexpr int _JSON_OUT_OF_MEMORY = 6;
constexpr int _JSON_ILLEGAL_CHAR = 7;
constexpr int _JSON_BAD_TREE = 8;
constexpr int _JSON_UNKNOWN = 10;

// Parser state of a finished root object.
constexpr int _JSON_STATE_ROOT_DONE = 99;

// One value or member name. An object's children are string nodes (the member names), each with at
// most one child, the member's value; an array's children are its values.
struct JsonNode
{
    int mType = _JSON_NULL;
    std::string mText; // string and number nodes: the token as written (escapes kept, no quotes)
    JsonNode* mNext = nullptr;
    JsonNode* mPrevious = nullptr;
    JsonNode* mParent = nullptr;
    JsonNode* mFirstChild = nullptr;
    JsonNode* mLastChild = nullptr;
};

// Everything a parse carries from one call of parseJson to the next.
struct JsonContext
{
    int mParserState = 0;            // 0 to 9, or _JSON_STATE_ROOT_DONE
    int mLexerState = 0;             // 0 to 24
    std::string mToken;              // text of the token being read
    const char* mPosition = nullptr; // current input position, cleared when a call ends
    const char* mEnd = nullptr;
    std::size_t mLine = 0;        // LF and CR characters seen between tokens
    JsonNode* mCurrent = nullptr; // cursor in the tree
    JsonNode* mRoot = nullptr;
    int mFailure = 0; // the first failure; later calls report it again without reading
};

// Parses NUL-terminated UTF-8 text, continuing where the previous call for the context stopped. The
// counted form reads exactly length bytes (a NUL among them is an invalid character).
int parseJson(JsonContext& context, const char* text);
int parseJson(JsonContext& context, const char* text, std::size_t length);

// Frees the context's tree and starts it afresh.
void resetJson(JsonContext& context);

// The first member-name child of an object whose text equals name byte for byte, or null. The member's
// value is the name node's first child.
JsonNode* findMember(JsonNode* object, std::string_view name);
const JsonNode* findMember(const JsonNode* object, std::string_view name);

// A node's text with the escapes resolved, as UTF-8 (a surrogate pair becomes one four-byte sequence).
std::string unescapeToUtf8(std::string_view text);

// A node's text with each "\uXXXX" turned into that UTF-16 unit and every other byte widened as it is.
String rawToWide(std::string_view text);

// A node's text with the escapes resolved, decoded from UTF-8 into UTF-16 (what callers that show or
// compare the text want); bytes that are not valid UTF-8 become U+FFFD.
String unescapeToWide(std::string_view text);

// Releases a node and everything below it, unlinking it from its parent and siblings first.
void freeTree(JsonNode* node);

// A parse context that frees its tree.
class JsonDocument
{
public:
    JsonDocument() = default;
    ~JsonDocument() { resetJson(mContext); }
    JsonDocument(const JsonDocument&) = delete;
    JsonDocument& operator=(const JsonDocument&) = delete;

    // More text may follow in later calls; the result is that of parseJson.
    int Parse(std::string_view text) { return mResult = parseJson(mContext, text.data(), text.size()); }
    int Result() const { return mResult; }
    bool IsComplete() const { return mResult == _JSON_COMPLETE; }
    const JsonNode* Root() const { return mContext.mRoot; }

    // The value of a member of the root object, or null.
    const JsonNode* Member(std::string_view name) const;
    // The unescaped text of a member's string or number value; empty when there is none.
    String MemberText(std::string_view name) const;

    void Reset()
    {
        resetJson(mContext);
        mResult = _JSON_INCOMPLETE;
    }
    JsonContext& Context() { return mContext; }

private:
    JsonContext mContext;
    int mResult = _JSON_INCOMPLETE;
};

} // namespace Vexel
