#include "Common/StringEncoding.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace Vexel;
using Vexel::Test::LogCapture;
using Vexel::Test::Narrow;

namespace
{

std::string Bytes(std::initializer_list<int> values)
{
    std::string out;
    for (int v : values)
        out += static_cast<char>(v);
    return out;
}

std::vector<String> Tokens(const Array<String>& list)
{
    return std::vector<String>(list.begin(), list.end());
}

std::vector<String> SplitOf(TextRef text, TextRef separators, bool trim = false)
{
    Array<String> out;
    Split(text, separators, trim, out);
    return Tokens(out);
}

std::vector<String> ArgumentsOf(TextRef line)
{
    Array<String> out;
    SplitArguments(line, out);
    return Tokens(out);
}

String Normalized(const char16_t* text)
{
    String path(text);
    _dword key = NormalizePath(path);
    return String(path.substr(key));
}

} // namespace

// --- WideToUtf8 ----------------------------------------------------------------------------------

TEST(WideToUtf8, EncodesEachUnitInOneTwoOrThreeBytes)
{
    EXPECT_EQ(WideToUtf8(u"A"), "A");
    EXPECT_EQ(WideToUtf8(u"\u00E9"), Bytes({0xC3, 0xA9}));
    EXPECT_EQ(WideToUtf8(u"\u4E2D"), Bytes({0xE4, 0xB8, 0xAD}));
    EXPECT_EQ(WideToUtf8(u"\u007F\u0080\u07FF\u0800\uFFFF"),
              Bytes({0x7F, 0xC2, 0x80, 0xDF, 0xBF, 0xE0, 0xA0, 0x80, 0xEF, 0xBF, 0xBF}));
}

TEST(WideToUtf8, SurrogateHalvesAreTwoSeparateThreeByteSequences)
{
    // U+1F600 as a pair, and each half alone.
    EXPECT_EQ(WideToUtf8(u"\U0001F600"), Bytes({0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80}));
    const char16_t lone[] = {0xDC00, 0};
    EXPECT_EQ(WideToUtf8(lone), Bytes({0xED, 0xB0, 0x80}));
}

TEST(WideToUtf8, StopsAtTerminatorOrMaximumLength)
{
    EXPECT_EQ(WideToUtf8(u"abcdef", 3), "abc");
    EXPECT_EQ(WideToUtf8(u"ab\0cd", 5), "ab");
    EXPECT_EQ(WideToUtf8(u"", 10), "");
    EXPECT_EQ(WideToUtf8(u"abc", 0), "");

    // A counted source needs no terminator at all.
    const char16_t counted[3] = {u'x', u'y', u'z'};
    char out[8];
    _dword produced = 99;
    WideToUtf8(out, sizeof out, counted, 3, &produced);
    EXPECT_STREQ(out, "xyz");
    EXPECT_EQ(produced, 3u);
}

TEST(WideToUtf8, DestinationTooSmallCutsBeforeTheUnitAndFlagsIt)
{
    char out[3] = {'?', '?', '?'};
    _dword produced = 99;
    bool truncated = false;
    EXPECT_EQ(WideToUtf8(out, 3, u"a\u00E9", _WHOLE_TEXT, &produced, &truncated), out);
    EXPECT_STREQ(out, "a");
    EXPECT_EQ(produced, 1u);
    EXPECT_TRUE(truncated);

    // Exactly enough room: nothing is cut.
    char fits[4];
    EXPECT_EQ(WideToUtf8(fits, 4, u"a\u00E9", _WHOLE_TEXT, &produced, &truncated), fits);
    EXPECT_EQ(std::string(fits), Bytes({'a', 0xC3, 0xA9}));
    EXPECT_EQ(produced, 3u);
    EXPECT_FALSE(truncated);

    // A three-byte unit that does not fit is left out whole, even when one byte would.
    char small[3];
    WideToUtf8(small, 3, u"\u4E2D", _WHOLE_TEXT, &produced, &truncated);
    EXPECT_STREQ(small, "");
    EXPECT_EQ(produced, 0u);
    EXPECT_TRUE(truncated);
}

TEST(WideToUtf8, OneByteDestinationHoldsOnlyTheTerminatorAndZeroHoldsNothing)
{
    char one[1] = {'x'};
    bool truncated = false;
    WideToUtf8(one, 1, u"a", _WHOLE_TEXT, nullptr, &truncated);
    EXPECT_EQ(one[0], '\0');
    EXPECT_TRUE(truncated);

    char none[1] = {'x'};
    _dword produced = 99;
    WideToUtf8(none, 0, u"a", _WHOLE_TEXT, &produced, &truncated);
    EXPECT_EQ(none[0], 'x');
    EXPECT_EQ(produced, 0u);
    EXPECT_TRUE(truncated);

    WideToUtf8(none, 0, u"", _WHOLE_TEXT, &produced, &truncated);
    EXPECT_FALSE(truncated);
}

TEST(WideToUtf8, NoDestinationMeasuresAndTheAllocatingFormOwnsExactlyTheBytes)
{
    _dword produced = 0;
    bool truncated = true;
    EXPECT_EQ(WideToUtf8(nullptr, 0, u"a\u00E9\u4E2D", _WHOLE_TEXT, &produced, &truncated), nullptr);
    EXPECT_EQ(produced, 6u);
    EXPECT_FALSE(truncated);

    std::string owned = WideToUtf8(u"a\u00E9\u4E2D");
    EXPECT_EQ(owned.size(), 6u);
    EXPECT_EQ(owned[owned.size()], '\0');
}

TEST(WideToUtf8, HugeInputIsConvertedWholeOrCutCleanly)
{
    String big(200000, u'\u4E2D');
    std::string all = WideToUtf8(big.c_str());
    ASSERT_EQ(all.size(), 600000u);
    EXPECT_EQ(all.substr(599997), Bytes({0xE4, 0xB8, 0xAD}));

    std::vector<char> out(1000, 'z');
    _dword produced = 0;
    bool truncated = false;
    WideToUtf8(out.data(), 1000, big.c_str(), _WHOLE_TEXT, &produced, &truncated);
    EXPECT_EQ(produced, 999u); // 333 whole units, then the terminator
    EXPECT_EQ(out[999], '\0');
    EXPECT_TRUE(truncated);
}

TEST(WideToUtf8, NullSourceIsReported)
{
    LogCapture capture;
    char out[4] = {'x'};
    _dword produced = 5;
    bool truncated = true;
    EXPECT_EQ(WideToUtf8(out, 4, nullptr, _WHOLE_TEXT, &produced, &truncated), nullptr);
    EXPECT_TRUE(capture.Contains(u"str != _null"));
    EXPECT_EQ(produced, 0u);
    EXPECT_FALSE(truncated);
    capture.Clear();
    EXPECT_EQ(WideToUtf8(nullptr), "");
    EXPECT_TRUE(capture.Contains(u"str != _null"));
}

// --- Utf8ToWide ----------------------------------------------------------------------------------

TEST(Utf8ToWide, DecodesOneTwoAndThreeByteSequences)
{
    EXPECT_EQ(Utf8ToWide("A\xC3\xA9\xE4\xB8\xAD"), u"A\u00E9\u4E2D");
    EXPECT_EQ(Utf8ToWide("\xED\xA0\xBD\xED\xB8\x80"), u"\U0001F600");
}

TEST(Utf8ToWide, BytesThatCannotLeadAreSkipped)
{
    EXPECT_EQ(Utf8ToWide("a\xFF"
                         "b"),
              u"ab");
    EXPECT_EQ(Utf8ToWide("\x80\xBF"
                         "x"),
              u"x");
    // A four-byte lead produces nothing; its continuation bytes are then stray too.
    EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80!"), u"!");
    EXPECT_EQ(Utf8ToWide("\xF8\xFC\xFE"), u"");
}

TEST(Utf8ToWide, CutOffSequenceAtTheEndIsDropped)
{
    EXPECT_EQ(Utf8ToWide("ab\xE4\xB8"), u"ab");
    EXPECT_EQ(Utf8ToWide("ab\xC3"), u"ab");
    // The maximum length is an end as well.
    EXPECT_EQ(Utf8ToWide("\xE4\xB8\xAD", 2), u"");
    EXPECT_EQ(Utf8ToWide("x\xC3\xA9", 2), u"x");
}

TEST(Utf8ToWide, FollowingBytesAreTakenWithoutChecking)
{
    // The lead decides the length; the next bytes give their low six bits whatever they are.
    const char16_t expected[] = {
        static_cast<char16_t>(((0xE4 & 0x0F) << 12) | ((0x41 & 0x3F) << 6) | (0x42 & 0x3F)), 0};
    EXPECT_EQ(Utf8ToWide("\xE4"
                         "AB"),
              expected);
    // Overlong forms are not refused either: C0 80 gives U+0000 inside the text.
    String zero = FromUtf8(std::string_view("\xC0\x80", 2));
    ASSERT_EQ(zero.size(), 1u);
    EXPECT_EQ(zero[0], 0);
}

TEST(Utf8ToWide, DestinationTooSmallCutsTheCountAndFlagsIt)
{
    char16_t out[3];
    _dword produced = 0;
    bool truncated = false;
    EXPECT_EQ(Utf8ToWide(out, 3, "abcd", _WHOLE_TEXT, &produced, &truncated), out);
    EXPECT_EQ(std::u16string(out), u"ab");
    EXPECT_EQ(produced, 2u);
    EXPECT_TRUE(truncated);

    char16_t exact[5];
    Utf8ToWide(exact, 5,
               "a\xFF"
               "bcd",
               _WHOLE_TEXT, &produced, &truncated);
    EXPECT_EQ(std::u16string(exact), u"abcd");
    EXPECT_EQ(produced, 4u);
    EXPECT_FALSE(truncated);

    // Skipped bytes and a cut-off tail after the last unit that fits do not count as truncation.
    char16_t tail[2];
    Utf8ToWide(tail, 2, "a\xFF\xE4", _WHOLE_TEXT, &produced, &truncated);
    EXPECT_EQ(std::u16string(tail), u"a");
    EXPECT_FALSE(truncated);

    char16_t none[1] = {u'x'};
    Utf8ToWide(none, 0, "a", _WHOLE_TEXT, &produced, &truncated);
    EXPECT_EQ(none[0], u'x');
    EXPECT_TRUE(truncated);
}

TEST(Utf8ToWide, NoDestinationMeasures)
{
    _dword produced = 0;
    EXPECT_EQ(Utf8ToWide(nullptr, 0, "a\xC3\xA9\xE4\xB8\xAD\xFF", _WHOLE_TEXT, &produced), nullptr);
    EXPECT_EQ(produced, 3u);
}

TEST(Utf8ToWide, EmptyAndHugeInputs)
{
    EXPECT_EQ(Utf8ToWide(""), u"");
    char16_t out[4] = {u'x', u'x', u'x', u'x'};
    _dword produced = 9;
    bool truncated = true;
    Utf8ToWide(out, 4, "", _WHOLE_TEXT, &produced, &truncated);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(produced, 0u);
    EXPECT_FALSE(truncated);

    std::string big;
    for (int i = 0; i < 100000; ++i)
        big += "\xC3\xA9";
    String wide = Utf8ToWide(big.c_str());
    EXPECT_EQ(wide.size(), 100000u);
    EXPECT_EQ(WideToUtf8(wide.c_str()), big);
}

TEST(Utf8ToWide, NullSourceIsReported)
{
    LogCapture capture;
    char16_t out[4];
    EXPECT_EQ(Utf8ToWide(out, 4, nullptr), nullptr);
    EXPECT_TRUE(capture.Contains(u"str != _null"));
}

TEST(Utf8ToWide, RoundTripsEveryUnit)
{
    String all;
    for (char32_t c = 1; c <= 0xFFFF; ++c)
        all += static_cast<char16_t>(c);
    EXPECT_EQ(Utf8ToWide(WideToUtf8(all.c_str()).c_str()), all);
    EXPECT_EQ(FromUtf8(ToUtf8(all)), all);
}

TEST(Utf8Helpers, WholeTextFormsKeepEmbeddedTerminators)
{
    std::u16string withZero(u"a\0b", 3);
    EXPECT_EQ(ToUtf8(withZero), std::string("a\0b", 3));
    EXPECT_EQ(FromUtf8(std::string_view("a\0b", 3)), withZero);
}

// Text handed to other programs (URLs, scripts, archive names) is standard UTF-8: a character outside the
// BMP in four bytes, which is what every other program writes and expects. Nothing is lost either way.
TEST(Utf8Helpers, WholeTextFormsUseFourBytesForSupplementaryCharactersAndLoseNothing)
{
    EXPECT_EQ(ToUtf8(u"a\U0001F600b"), "a\xF0\x9F\x98\x80"
                                       "b");
    EXPECT_EQ(FromUtf8("a\xF0\x9F\x98\x80"
                       "b"),
              u"a\U0001F600b");
    EXPECT_EQ(FromUtf8("\xF4\x8F\xBF\xBF"), u"\U0010FFFF");
    // The engine's own per-unit form of the same character still reads back as it.
    EXPECT_EQ(FromUtf8("\xED\xA0\xBD\xED\xB8\x80"), u"\U0001F600");
    // Lone halves keep their three-byte form and come back unchanged, in either order.
    std::u16string lone = u"x";
    lone += char16_t(0xDC00);
    lone += char16_t(0xD83D);
    lone += u'y';
    EXPECT_EQ(ToUtf8(lone), "x\xED\xB0\x80\xED\xA0\xBDy");
    EXPECT_EQ(FromUtf8(ToUtf8(lone)), lone);
    // Four-byte sequences that name no character become U+FFFD; a cut-off one at the end is dropped.
    EXPECT_EQ(FromUtf8("<\xF4\x90\x80\x80>"), u"<\uFFFD>");
    EXPECT_EQ(FromUtf8("<\xF0\x8F\xBF\xBF>"), u"<\uFFFD>");
    EXPECT_EQ(FromUtf8("ab\xF0\x9F\x98"), u"ab");
    // The buffer conversions keep their per-unit form.
    EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80!"), u"!");
}

// --- System code page (UTF-8 on this system) -----------------------------------------------------

#ifndef _WIN32
TEST(AnsiConversions, AreStandardUtf8WithPairsForSupplementaryCharacters)
{
    EXPECT_EQ(AnsiToWide("a\xC3\xA9\xE4\xB8\xAD"), u"a\u00E9\u4E2D");
    EXPECT_EQ(AnsiToWide("\xF0\x9F\x98\x80"), u"\U0001F600");
    EXPECT_EQ(WideToAnsi(u"\U0001F600"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(WideToAnsi(u"a\u00E9"), "a\xC3\xA9");
}

TEST(AnsiConversions, InvalidInputBecomesReplacementCharacters)
{
    EXPECT_EQ(AnsiToWide("a\xFF"
                         "b"),
              u"a\uFFFD"
              u"b");
    // Overlong and surrogate encodings are refused; a cut-off sequence is one replacement.
    EXPECT_EQ(AnsiToWide("\xC0\x80"), u"\uFFFD\uFFFD");
    EXPECT_EQ(AnsiToWide("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(AnsiToWide("x\xE4\xB8"), u"x\uFFFD");
    const char16_t lone[] = {u'a', 0xD800, u'b', 0};
    EXPECT_EQ(WideToAnsi(lone), "a\xEF\xBF\xBD"
                                "b");
}

TEST(AnsiConversions, TruncationKeepsWholeCharacters)
{
    char out[5];
    _dword produced = 0;
    bool truncated = false;
    WideToAnsi(out, 5, u"a\U0001F600", _WHOLE_TEXT, &produced, &truncated);
    EXPECT_STREQ(out, "a");
    EXPECT_EQ(produced, 1u);
    EXPECT_TRUE(truncated);

    char16_t wide[3];
    AnsiToWide(wide, 3, "a\xF0\x9F\x98\x80", _WHOLE_TEXT, &produced, &truncated);
    EXPECT_EQ(std::u16string(wide), u"a");
    EXPECT_EQ(produced, 1u);
    EXPECT_TRUE(truncated);

    char16_t roomy[8];
    AnsiToWide(roomy, 8, "a\xF0\x9F\x98\x80", _WHOLE_TEXT, &produced, &truncated);
    EXPECT_EQ(std::u16string(roomy), u"a\U0001F600");
    EXPECT_EQ(produced, 3u); // the terminator is not counted
    EXPECT_FALSE(truncated);
}
#endif

namespace
{
// A stand-in for a double-byte code page: every UTF-16 unit is two bytes ('<' and its low byte), and two
// bytes make one unit back; a "P" byte pair decodes to a surrogate pair.
std::string DoubleBytes(const char16_t* text, std::size_t length)
{
    std::string out;
    for (std::size_t i = 0; i < length; ++i)
        out += std::string{'<', static_cast<char>(text[i] & 0x7F)};
    return out;
}
String FromDoubleBytes(const char* text, std::size_t length)
{
    String out;
    for (std::size_t i = 0; i + 1 < length; i += 2)
        out += text[i + 1] == 'P' ? String(u"\U0001F600") : String(1, static_cast<char16_t>(text[i + 1]));
    return out;
}
} // namespace

TEST(AnsiConversions, PlatformConvertersAreUsedAndCutWholeCharacters)
{
    SetSystemTextConverters({FromDoubleBytes, DoubleBytes});
    EXPECT_EQ(WideToAnsi(u"ab"), "<a<b");
    EXPECT_EQ(AnsiToWide("<x<y"), u"xy");
    char out[6];
    _dword produced = 0;
    bool truncated = false;
    WideToAnsi(out, 6, u"abcd", _WHOLE_TEXT, &produced, &truncated);
    EXPECT_STREQ(out, "<a<b"); // five bytes of room hold two whole characters
    EXPECT_EQ(produced, 4u);
    EXPECT_TRUE(truncated);
    char16_t wide[3];
    AnsiToWide(wide, 3, "<a<P", _WHOLE_TEXT, &produced, &truncated);
    EXPECT_EQ(std::u16string(wide), u"a"); // never half of the pair
    EXPECT_TRUE(truncated);
    SetSystemTextConverters({});
    EXPECT_EQ(WideToAnsi(u"ab"), "ab");
}

TEST(Utf8Encoder, EachRangeTakesItsByteCount)
{
    const std::pair<char32_t, std::string> cases[] = {
        {0x7F, "\x7F"},
        {0x80, "\xC2\x80"},
        {0x7FF, "\xDF\xBF"},
        {0x800, "\xE0\xA0\x80"},
        {0xFFFF, "\xEF\xBF\xBF"},
        {0x10000, "\xF0\x90\x80\x80"},
        {0x10FFFF, "\xF4\x8F\xBF\xBF"},
    };
    for (const auto& [codePoint, bytes] : cases)
    {
        std::string out;
        AppendUtf8(out, codePoint);
        EXPECT_EQ(out, bytes) << std::hex << static_cast<unsigned>(codePoint);
    }
}

TEST(AnsiConversions, ShareTheBufferContract)
{
    _dword produced = 0;
    EXPECT_EQ(WideToAnsi(nullptr, 0, u"abc", 2, &produced), nullptr);
    EXPECT_EQ(produced, 2u);
    EXPECT_EQ(AnsiToWide(nullptr, 0, "abc", _WHOLE_TEXT, &produced), nullptr);
    EXPECT_EQ(produced, 3u);
    EXPECT_EQ(AnsiToWide("plain ascii"), u"plain ascii");

    LogCapture capture;
    EXPECT_EQ(AnsiToWide(nullptr), u"");
    EXPECT_EQ(WideToAnsi(nullptr), "");
    EXPECT_TRUE(capture.Contains(u"str != _null"));
}

// --- Case and search -----------------------------------------------------------------------------

TEST(CaseAndSearch, ToLowerFoldsOnlyAsciiInPlace)
{
    char16_t text[] = u"AbZ\u00C9[@`{";
    EXPECT_EQ(ToLower(text), text);
    EXPECT_EQ(std::u16string(text), u"abz\u00C9[@`{");
    EXPECT_EQ(std::u16string(ToLower(nullptr)), u"");

    String s(u"MiXeD.DDS");
    EXPECT_EQ(ToLower(s), u"mixed.dds");
}

TEST(CaseAndSearch, CompareExactOrWithoutAsciiCase)
{
    EXPECT_EQ(Compare(u"abc", u"abc"), 0);
    EXPECT_LT(Compare(u"ABC", u"abc"), 0);
    EXPECT_EQ(Compare(u"ABC", u"abc", false), 0);
    EXPECT_GT(Compare(u"abd", u"ABC", false), 0);
    EXPECT_LT(Compare(u"ab", u"abc", false), 0);
    EXPECT_NE(Compare(u"\u00C9", u"\u00E9", false), 0);
    // Folding goes to lower case: "A" sorts after "_" (0x5F) like "a" does.
    EXPECT_GT(Compare(u"A", u"_", false), 0);
    EXPECT_EQ(Compare(static_cast<const char16_t*>(nullptr), u""), 0);
}

TEST(CaseAndSearch, FindAndStartsWith)
{
    EXPECT_EQ(Find(u"Data\\Maps\\Sky.dds", u"maps"), -1);
    EXPECT_EQ(Find(u"Data\\Maps\\Sky.dds", u"maps", false), 5);
    EXPECT_EQ(Find(u"aaab", u"ab"), 2);
    EXPECT_EQ(Find(u"abc", u""), -1);
    EXPECT_EQ(Find(u"", u""), -1);
    EXPECT_EQ(Find(u"ab", u"abc"), -1);

    EXPECT_TRUE(StartsWith(u"http://cdn", u"http://"));
    EXPECT_FALSE(StartsWith(u"HTTP://cdn", u"http://"));
    EXPECT_TRUE(StartsWith(u"HTTP://cdn", u"http://", false));
    EXPECT_FALSE(StartsWith(u"abc", u""));
    EXPECT_FALSE(StartsWith(u"ab", u"abc"));
}

TEST(CaseAndSearch, FindCharFromEitherEnd)
{
    EXPECT_EQ(FindChar(u"a.b.c", u'.'), 1);
    EXPECT_EQ(FindChar(u"a.b.c", u'.', true), 3);
    EXPECT_EQ(FindChar(u"abc", u'.'), -1);
    EXPECT_EQ(FindChar(u"", u'.', true), -1);
}

// --- Splitting -----------------------------------------------------------------------------------

TEST(Split, AdjacentSeparatorsGiveAnEmptyToken)
{
    EXPECT_EQ(SplitOf(u"a,,b", u","), (std::vector<String>{u"a", u"", u"b"}));
}

TEST(Split, TrailingSeparatorGivesOneFinalEmptyToken)
{
    EXPECT_EQ(SplitOf(u"a,", u","), (std::vector<String>{u"a", u""}));
    EXPECT_EQ(SplitOf(u",", u","), (std::vector<String>{u"", u""}));
    EXPECT_EQ(SplitOf(u"a,,", u","), (std::vector<String>{u"a", u"", u""}));
}

TEST(Split, LastTokenOnlyWhenNotEmpty)
{
    EXPECT_EQ(SplitOf(u"", u","), (std::vector<String>{}));
    EXPECT_EQ(SplitOf(u"abc", u","), (std::vector<String>{u"abc"}));
    EXPECT_EQ(SplitOf(u",a", u","), (std::vector<String>{u"", u"a"}));
}

TEST(Split, SeparatorsAreASetOfCharacters)
{
    EXPECT_EQ(SplitOf(u"http://h/p?x=1", u"/?"), (std::vector<String>{u"http:", u"", u"h", u"p", u"x=1"}));
}

TEST(Split, TrimCutsSpacesAndTabsAtBothEnds)
{
    EXPECT_EQ(SplitOf(u" a \t, b b ,\tc", u",", true), (std::vector<String>{u"a", u"b b", u"c"}));
    EXPECT_EQ(SplitOf(u" a , b ", u","), (std::vector<String>{u" a ", u" b "}));
    // A last token of blanks is empty once trimmed and is left out; a trailing separator still counts.
    EXPECT_EQ(SplitOf(u"a, \t", u",", true), (std::vector<String>{u"a"}));
    EXPECT_EQ(SplitOf(u"a ,", u",", true), (std::vector<String>{u"a", u""}));
    EXPECT_EQ(SplitOf(u"  ,x", u",", true), (std::vector<String>{u"", u"x"}));
}

TEST(Split, AppendsToWhatTheListHolds)
{
    Array<String> out;
    out.Append(u"keep");
    Split(u"x;y", u";", false, out);
    EXPECT_EQ(Tokens(out), (std::vector<String>{u"keep", u"x", u"y"}));
}

TEST(Split, EmptySeparatorSetIsReported)
{
    LogCapture capture;
    Array<String> out;
    Split(u"a,b", u"", false, out);
    EXPECT_TRUE(out.IsEmpty());
    EXPECT_TRUE(capture.Contains(u"division != L\"\""));
}

TEST(SplitArguments, QuotesGroupAndAreDropped)
{
    EXPECT_EQ(ArgumentsOf(u"x \"a b\" c"), (std::vector<String>{u"x", u"a b", u"c"}));
    EXPECT_EQ(ArgumentsOf(u"pre\"fix mid\"post"), (std::vector<String>{u"prefix midpost"}));
    EXPECT_EQ(ArgumentsOf(u"\"unterminated  tail"), (std::vector<String>{u"unterminated  tail"}));
}

TEST(SplitArguments, BlanksSeparateAndEmptyArgumentsAreNotProduced)
{
    EXPECT_EQ(ArgumentsOf(u"  a\t\tb  "), (std::vector<String>{u"a", u"b"}));
    EXPECT_EQ(ArgumentsOf(u"a \"\" b"), (std::vector<String>{u"a", u"b"}));
    EXPECT_EQ(ArgumentsOf(u""), (std::vector<String>{}));
    EXPECT_EQ(ArgumentsOf(u" \t "), (std::vector<String>{}));
    EXPECT_EQ(ArgumentsOf(u"\"a\tb\""), (std::vector<String>{u"a\tb"}));
}

// --- Paths ---------------------------------------------------------------------------------------

TEST(PathParts, TitleAndExtensionGoByTheLastDot)
{
    EXPECT_EQ(FileTitle(u"sky.tex.dds"), u"sky.tex");
    EXPECT_EQ(FileTitle(u"README"), u"README");
    EXPECT_EQ(FileExtension(u"sky.tex.dds"), u"dds");
    EXPECT_EQ(FileExtension(u"README"), u"");
    EXPECT_EQ(FileExtension(u"name."), u"");
}

TEST(PathParts, FolderOfPrefersBackslashThenSlashThenColon)
{
    EXPECT_EQ(FolderOf(u"a\\b/c\\d"), u"a\\b/c");
    EXPECT_EQ(FolderOf(u"a\\b/c\\d", false), u"a");
    EXPECT_EQ(FolderOf(u"a/b/c"), u"a/b");
    EXPECT_EQ(FolderOf(u"a/b/c", false), u"a");
    EXPECT_EQ(FolderOf(u"c:file"), u"c");
    EXPECT_EQ(FolderOf(u"file.txt"), u"");
}

TEST(PathParts, FileNameOfTakesTheLastComponentAndDropsTheExtensionOnRequest)
{
    EXPECT_EQ(FileNameOf(u"data\\maps/sky.dds"), u"sky.dds");
    EXPECT_EQ(FileNameOf(u"c:sky.dds", false), u"sky");
    EXPECT_EQ(FileNameOf(u"data\\sky.dds", false, true), u"data\\sky");
    EXPECT_EQ(FileNameOf(u"data\\sky.dds", true, true), u"data\\sky.dds");
    // A dot before the last separator is not an extension.
    EXPECT_EQ(FileNameOf(u"v1.2\\readme", false), u"readme");
    EXPECT_EQ(FileNameOf(u"v1.2\\readme", false, true), u"v1.2\\readme");
    EXPECT_EQ(FileNameOf(u"folder\\", false), u"");
}

TEST(NormalizePath, ParentComponentsGoWithTheComponentBefore)
{
    EXPECT_EQ(Normalized(u"Data/Maps/../Sky.dds"), u"Data\\Sky.dds");
    EXPECT_EQ(Normalized(u"a\\b\\..\\c"), u"a\\c");
    EXPECT_EQ(Normalized(u"a\\b\\c\\..\\..\\d"), u"a\\d");
    EXPECT_EQ(Normalized(u"a\\b\\.\\..\\c"), u"a\\c");
    EXPECT_EQ(Normalized(u"a\\..\\..\\b"), u"b");
    EXPECT_EQ(Normalized(u"\\..\\a"), u"\\a");
}

TEST(NormalizePath, CurrentComponentsGo)
{
    EXPECT_EQ(Normalized(u"a\\.\\b"), u"a\\b");
    EXPECT_EQ(Normalized(u"a/./././b"), u"a\\b");
}

TEST(NormalizePath, OnlyWholeComponentsCount)
{
    EXPECT_EQ(Normalized(u"a..\\b"), u"a..\\b");
    EXPECT_EQ(Normalized(u"a\\b.\\c"), u"a\\b.\\c");
    EXPECT_EQ(Normalized(u"a\\...\\c"), u"a\\...\\c");
    // Without a separator after it, a final component stays.
    EXPECT_EQ(Normalized(u"a\\b\\.."), u"a\\b\\..");
    EXPECT_EQ(Normalized(u"a\\b\\."), u"a\\b\\.");
}

TEST(NormalizePath, LeadingDotOnlyTurnsSlashes)
{
    EXPECT_EQ(Normalized(u"./a/../b"), u".\\a\\..\\b");
    EXPECT_EQ(Normalized(u"../x/./y"), u"..\\x\\.\\y");
}

TEST(NormalizePath, QuestionMarksGoOnlyWhenSomethingWasRemoved)
{
    EXPECT_EQ(Normalized(u"a?b\\c"), u"a?b\\c");
    EXPECT_EQ(Normalized(u"a?b\\.\\c"), u"ab\\c");
    EXPECT_EQ(Normalized(u"x\\?\\..\\y"), u"x\\y");
}

TEST(NormalizePath, UrlKeysReplaceSeparatorsAfterThePrefix)
{
    String url(u"http://cdn/a/b.dat");
    _dword key = NormalizePath(url);
    EXPECT_EQ(key, 7u);
    EXPECT_EQ(url, u"http://cdn#a#b.dat");
    EXPECT_EQ(url.substr(key), u"cdn#a#b.dat");
    EXPECT_EQ(Normalized(u"http://h:80\\x/../y"), u"h#80#x#..#y");
    // The prefix is exact: anything else is an ordinary path.
    EXPECT_EQ(Normalized(u"HTTP://cdn/a"), u"HTTP:\\\\cdn\\a");
}

TEST(NormalizePath, EmptyAndPlainTextsStayAsTheyAre)
{
    EXPECT_EQ(Normalized(u""), u"");
    EXPECT_EQ(Normalized(u"plain"), u"plain");
    EXPECT_EQ(Normalized(u"a\\\\b"), u"a\\\\b");
}

TEST(NormalizePath, LongPathsWithManyParents)
{
    String path;
    for (int i = 0; i < 2000; ++i)
        path += u"d/";
    for (int i = 0; i < 2000; ++i)
        path += u"../";
    path += u"f";
    EXPECT_EQ(NormalizePath(path), 0u);
    EXPECT_EQ(path, u"f");
}

TEST(JoinPath, JoinsLowerCasesAndNormalises)
{
    EXPECT_EQ(JoinPath(u"Data", u"Maps/../Sky.DDS"), u"data\\sky.dds");
    EXPECT_EQ(JoinPath(u"Data\\", u"sky.dds"), u"data\\sky.dds");
    EXPECT_EQ(JoinPath(u"", u"A/B"), u"a\\b");
    EXPECT_EQ(JoinPath(u".", u"A/B"), u"a\\b");
}

TEST(JoinPath, AbsoluteNamesStandAlone)
{
    EXPECT_EQ(JoinPath(u"data", u"C:\\Games\\X.pak"), u"c:\\games\\x.pak");
    EXPECT_EQ(JoinPath(u"data", u"/opt/x"), u"\\opt\\x");
    EXPECT_EQ(JoinPath(u"data", u"HTTP://CDN/a/b.dat"), u"cdn#a#b.dat");
}
