#include "Common/Json.h"

#include <gtest/gtest.h>

#include <string>

using namespace Vexel;

namespace
{
// The tree as text, e.g. O(S:a(N:1)), walked without recursion; "!" marks a broken link.
std::string Dump(const JsonNode* root)
{
    if (!root)
        return "-";
    static const char tags[] = "SNOATFZ";
    std::string out;
    const JsonNode* n = root;
    for (;;)
    {
        out += tags[n->mType];
        if (n->mType == _JSON_STRING || n->mType == _JSON_NUMBER)
            out += ":" + n->mText;
        if (n->mFirstChild)
        {
            const JsonNode* first = n->mFirstChild;
            if (first->mParent != n || first->mPrevious)
                out += "!";
            out += "(";
            n = first;
            continue;
        }
        while (n != root && !n->mNext)
        {
            if (n->mParent->mLastChild != n)
                out += "!";
            n = n->mParent;
            out += ")";
        }
        if (n == root)
            break;
        if (n->mNext->mPrevious != n || n->mNext->mParent != n->mParent)
            out += "!";
        out += ",";
        n = n->mNext;
    }
    return out;
}

struct Parsed
{
    int result;
    std::string tree;
    std::string messages;
};

Parsed ParseWhole(const std::string& text)
{
    JsonDocument document;
    testing::internal::CaptureStderr();
    int result = document.Parse(text);
    std::string messages = testing::internal::GetCapturedStderr();
    return {result, Dump(document.Root()), messages};
}
} // namespace

// --- Documents and results ----------------------------------------------------------------------------

TEST(JsonParse, BuildsNamesWithTheirValues)
{
    JsonContext context;
    EXPECT_EQ(parseJson(context, "{\"a\":1}"), _JSON_COMPLETE);
    ASSERT_NE(context.mRoot, nullptr);
    EXPECT_EQ(context.mRoot->mType, _JSON_OBJECT);
    const JsonNode* name = context.mRoot->mFirstChild;
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->mType, _JSON_STRING);
    EXPECT_EQ(name->mText, "a");
    ASSERT_NE(name->mFirstChild, nullptr);
    EXPECT_EQ(name->mFirstChild->mType, _JSON_NUMBER);
    EXPECT_EQ(name->mFirstChild->mText, "1");
    EXPECT_EQ(context.mParserState, _JSON_STATE_ROOT_DONE);
    resetJson(context);
    EXPECT_EQ(context.mRoot, nullptr);

    Parsed all =
        ParseWhole(" {\"s\" : \"x\\\"y\\u00e9\", \"list\":[1, -0.5e-3, true,false ,null,{\"k\":[]},[]],\n"
                   "\t\"o\":{}, \"n\":0, \"e\":1E+9, \"u\":\"\\u4E2D\"}  \r\n");
    EXPECT_EQ(all.result, _JSON_COMPLETE);
    EXPECT_EQ(all.tree, "O(S:s(S:x\\\"y\\u00e9),S:list(A(N:1,N:-0.5e-3,T,F,Z,O(S:k(A)),A)),S:o(O),S:n(N:0),"
                        "S:e(N:1E+9),S:u(S:\\u4E2D))");
    EXPECT_EQ(all.messages, "");
}

TEST(JsonParse, ReportsEachKindOfFailure)
{
    struct Case
    {
        const char* text;
        int result;
    };
    const Case cases[] = {
        {"{\"a\" 1}", _JSON_MALFORMED},
        {"{\"a\":[1,2", _JSON_INCOMPLETE},
        {"[1,2]", _JSON_MALFORMED}, // a document is an object
        {"\"a\"", _JSON_MALFORMED},
        {"{\"a\":1} x", _JSON_MALFORMED},
        {"{\"a\":1} {}", _JSON_MALFORMED},
        {"{\"a\":1} 2", _JSON_MALFORMED}, // a token begun after the root, even unfinished
        {"{\"a\":1} \"open", _JSON_MALFORMED},
        {"{\"a\":1} \n\t ", _JSON_COMPLETE},
        {"tru", _JSON_INCOMPLETE},
        {"", _JSON_INCOMPLETE},
        {"x", _JSON_MALFORMED},
        {"{", _JSON_INCOMPLETE},
        {"{\"a\":1,}", _JSON_MALFORMED}, // no comma before the end of an object
        {"{\"a\":1,x", _JSON_ILLEGAL_CHAR},
        {"{\"a\":x}", _JSON_ILLEGAL_CHAR},
        {"{\"a\":[x]}", _JSON_ILLEGAL_CHAR},
        {"{x}", _JSON_MALFORMED},
        {"{\"a\":\"\x01\"}", _JSON_ILLEGAL_CHAR},
        {"{\"a\":\"\\q\"}", _JSON_ILLEGAL_CHAR},
        {"{\"a\":\"\\u12G4\"}", _JSON_ILLEGAL_CHAR},
        {"{\"a\":trUe}", _JSON_ILLEGAL_CHAR},
        {"{\"a\":01}", _JSON_MALFORMED}, // "0" then "1": two numbers
        {"{\"a\":-}", _JSON_ILLEGAL_CHAR},
        {"{\"a\":1.}", _JSON_ILLEGAL_CHAR},
        {"{\"a\":1.5.}", _JSON_MALFORMED},
        {"{\"a\":1e+}", _JSON_ILLEGAL_CHAR},
        {"{\"a\":.5}", _JSON_ILLEGAL_CHAR},
        {"{\"a\":1 2}", _JSON_MALFORMED},
        {"{\"a\":[1 2]}", _JSON_MALFORMED},
        {"{\"a\":[1,]}", _JSON_COMPLETE}, // an element list may end with a comma
        {"{\"a\"::1}", _JSON_MALFORMED},
        {"{\"a\":1]", _JSON_MALFORMED},
        {"\xEF\xBB\xBF{}", _JSON_MALFORMED},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseWhole(c.text).result, c.result) << c.text;
}

TEST(JsonParse, MessagesNameTheStateAndLine)
{
    EXPECT_EQ(ParseWhole("{\"a\" 1}").messages, "JSON: state 5: defaulted at line 0\n");
    EXPECT_EQ(ParseWhole("{\n\r\n\"a\"\t1}").messages, "JSON: state 5: defaulted at line 3\n");
    EXPECT_EQ(ParseWhole("[1]").messages, "JSON: state 0: defaulted at line 0\n");
    EXPECT_EQ(ParseWhole("{\"a\":1} 2").messages, "JSON: state 99: defaulted at line 0\n");
    // An invalid character at the start and in states 4, 6 and 8 has its own result, no message.
    EXPECT_EQ(ParseWhole("x").messages, "");
    EXPECT_EQ(ParseWhole("{\"a\":x").messages, "");
}

TEST(JsonParse, AFailureStaysWithTheContext)
{
    JsonContext context;
    testing::internal::CaptureStderr();
    EXPECT_EQ(parseJson(context, "{\"a\" "), _JSON_INCOMPLETE);
    EXPECT_EQ(parseJson(context, "1"), _JSON_INCOMPLETE); // the number is still open
    EXPECT_EQ(parseJson(context, "}"), _JSON_MALFORMED);
    EXPECT_EQ(parseJson(context, ":1}"), _JSON_MALFORMED); // more text cannot repair it
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(Dump(context.mRoot), "O(S:a)"); // the partial tree stays for freeTree
    resetJson(context);
    EXPECT_EQ(parseJson(context, "{}"), _JSON_COMPLETE);
    resetJson(context);
}

TEST(JsonParse, CountedTextStopsAtItsLength)
{
    JsonContext context;
    const char text[] = "{\"a\":\"b\"}garbage";
    EXPECT_EQ(parseJson(context, text, 9), _JSON_COMPLETE);
    resetJson(context);
    EXPECT_EQ(parseJson(context, "{\"a\":\"b\0\"}", 10), _JSON_ILLEGAL_CHAR); // NUL inside the counted text
    resetJson(context);
    EXPECT_EQ(parseJson(context, nullptr), _JSON_INCOMPLETE);
    resetJson(context);
}

// --- Incremental parsing ------------------------------------------------------------------------------

TEST(JsonIncremental, EverySplitGivesTheSameResult)
{
    const std::string documents[] = {
        "{\"name\":\"Sv\\u00e9a \\\"1\\\"\",\"id\":-12.5e+3,\"ok\":true,\"no\":false,\"z\":null,"
        "\"list\":[0,[],{\"k\":[1,{}]}],\"pair\":\"\\ud83d\\ude00\"}\n",
        "{\"a\" 1}",
        "{\"a\":[1,2",
        "{\"a\":tru",
        "{\"a\":1} x",
        "{\"a\":12x}",
        "{\"a\":1}\n 23",
        "{\"a\":1} tr",
        "{\"a\":1} \n",
        "{\"a\":\"\\u00e9\\n\"}",
    };
    for (const std::string& document : documents)
    {
        Parsed whole = ParseWhole(document);
        for (std::size_t cut = 0; cut <= document.size(); ++cut)
        {
            JsonContext context;
            testing::internal::CaptureStderr();
            int result = parseJson(context, document.data(), cut);
            if (result == _JSON_INCOMPLETE || result == _JSON_COMPLETE)
                result = parseJson(context, document.data() + cut, document.size() - cut);
            std::string messages = testing::internal::GetCapturedStderr();
            EXPECT_EQ(result, whole.result) << document << " cut at " << cut;
            EXPECT_EQ(Dump(context.mRoot), whole.tree) << document << " cut at " << cut;
            EXPECT_EQ(messages, whole.messages) << document << " cut at " << cut;
            resetJson(context);
        }

        // One byte at a time.
        JsonContext context;
        testing::internal::CaptureStderr();
        int result = _JSON_INCOMPLETE;
        for (char ch : document)
        {
            result = parseJson(context, &ch, 1);
            if (result != _JSON_INCOMPLETE && result != _JSON_COMPLETE)
                break;
        }
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(result, whole.result) << document;
        EXPECT_EQ(Dump(context.mRoot), whole.tree) << document;
        resetJson(context);
    }
}

// --- Limits ---------------------------------------------------------------------------------------------

TEST(JsonLimits, DeepNestingUsesNoStack)
{
    constexpr std::size_t depth = 500000;
    std::string text = "{\"a\":" + std::string(depth, '[') + std::string(depth, ']') + "}";
    JsonDocument document;
    EXPECT_EQ(document.Parse(text), _JSON_COMPLETE);
    std::size_t levels = 0;
    for (const JsonNode* n = document.Member("a"); n; n = n->mFirstChild)
        ++levels;
    EXPECT_EQ(levels, depth);

    std::string objects;
    for (std::size_t i = 0; i < depth / 4; ++i)
        objects += "{\"k\":";
    JsonDocument open;
    EXPECT_EQ(open.Parse(objects), _JSON_INCOMPLETE); // the partial tree is freed by the document
}

TEST(JsonLimits, LongTokensKeepEveryByte)
{
    std::string value(8 * 1024 * 1024, 'x');
    value[12345] = '\\';
    value[12346] = 'n';
    std::string digits(1024 * 1024, '7');
    JsonDocument document;
    // In pieces, so the token grows across calls.
    std::string text = "{\"s\":\"" + value + "\",\"n\":" + digits + "}";
    for (std::size_t at = 0; at < text.size(); at += 100000)
        document.Parse(std::string_view(text).substr(at, 100000));
    ASSERT_TRUE(document.IsComplete());
    EXPECT_EQ(document.Member("s")->mText, value);
    EXPECT_EQ(document.Member("n")->mText, digits);
}

// --- Lookup, text and release -----------------------------------------------------------------------------

TEST(JsonTree, FindMemberComparesBytesExactly)
{
    JsonDocument document;
    ASSERT_EQ(document.Parse("{\"Name\":1,\"name\":2,\"name\":3,\"a\\u0062\":4}"), _JSON_COMPLETE);
    const JsonNode* root = document.Root();
    EXPECT_EQ(findMember(root, "NAME"), nullptr);
    const JsonNode* name = findMember(root, "name");
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->mFirstChild->mText, "2");   // the first of equal names
    EXPECT_EQ(findMember(root, "ab"), nullptr); // escapes are compared as written
    EXPECT_NE(findMember(root, "a\\u0062"), nullptr);
    EXPECT_EQ(findMember(name->mFirstChild, "x"), nullptr); // not an object
    EXPECT_EQ(findMember(static_cast<const JsonNode*>(nullptr), "x"), nullptr);
    EXPECT_EQ(document.MemberText("a\\u0062"), u"4");
    EXPECT_EQ(document.MemberText("missing"), u"");
}

TEST(JsonTree, FreeTreeUnlinksFromParentAndSiblings)
{
    JsonContext context;
    ASSERT_EQ(parseJson(context, "{\"a\":[1,2,3],\"b\":{\"c\":[]},\"d\":null}"), _JSON_COMPLETE);
    JsonNode* root = context.mRoot;
    freeTree(findMember(root, "b"));
    EXPECT_EQ(Dump(root), "O(S:a(A(N:1,N:2,N:3)),S:d(Z))");
    JsonNode* list = findMember(root, "a")->mFirstChild;
    freeTree(list->mFirstChild);
    freeTree(list->mLastChild);
    EXPECT_EQ(Dump(root), "O(S:a(A(N:2)),S:d(Z))");
    freeTree(findMember(root, "d"));
    freeTree(findMember(root, "a"));
    EXPECT_EQ(Dump(root), "O");
    EXPECT_EQ(root->mFirstChild, nullptr);
    EXPECT_EQ(root->mLastChild, nullptr);
    freeTree(nullptr);
    resetJson(context);
}

TEST(JsonText, UnescapeResolvesEscapesToUtf8)
{
    EXPECT_EQ(unescapeToUtf8("\\u00e9"), "\xC3\xA9");
    EXPECT_EQ(unescapeToUtf8("a\\b\\f\\n\\r\\t\\\"\\/\\\\z"), "a\b\f\n\r\t\"/\\z");
    EXPECT_EQ(unescapeToUtf8("\\u0041\\u4E2d\\u07FF"), "A\xE4\xB8\xAD\xDF\xBF");
    EXPECT_EQ(unescapeToUtf8("\\ud83d\\ude00!"), "\xF0\x9F\x98\x80!");
    EXPECT_EQ(unescapeToUtf8("\\\\u0041"), "\\u0041"); // an escaped backslash starts nothing
    EXPECT_EQ(unescapeToUtf8("a\\xb\\"), "ab");        // unknown escapes and a lone "\" are left out
    EXPECT_EQ(unescapeToUtf8("caf\xC3\xA9"), "caf\xC3\xA9");

    testing::internal::CaptureStderr();
    EXPECT_EQ(unescapeToUtf8("<\\ud83d>"), "<>");
    EXPECT_EQ(unescapeToUtf8("<\\ude00\\u0041>"), "<A>");
    EXPECT_EQ(unescapeToUtf8("\\ud83d\\u0041"), "A"); // the high half goes, the next escape stays
    EXPECT_EQ(unescapeToUtf8("\\u12"), "12");         // "\u" without four digits is left out
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "JSON: unsupported unicode value: 0xD83D\n"
                                                      "JSON: unsupported unicode value: 0xDE00\n"
                                                      "JSON: unsupported unicode value: 0xD83D\n");
}

TEST(JsonText, RawToWideWidensBytesAndUnicodeEscapes)
{
    EXPECT_EQ(rawToWide("\\u00e9"), std::u16string(1, u'\xE9'));
    EXPECT_EQ(rawToWide("\\ud83d\\ude00"), u"\xD83D\xDE00");
    EXPECT_EQ(rawToWide("a\\nb"), u"a\\nb"); // other escapes stay as written
    EXPECT_EQ(rawToWide("\\\\u0041"), u"\\\\u0041");
    EXPECT_EQ(rawToWide("\xC3\xA9"), u"\xC3\xA9"); // one wide character per byte
    EXPECT_EQ(rawToWide("\\u00"), u"\\u00");

    EXPECT_EQ(unescapeToWide("caf\xC3\xA9 \\u4e2d \\ud83d\\ude00"), u"caf\xE9 \x4E2D \xD83D\xDE00");
    EXPECT_EQ(unescapeToWide("\xFF\xC3"), u"\xFFFD\xFFFD");
}
