#include "Common/Regex.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <utility>

using namespace Vexel;
using Vexel::Test::LogCapture;

namespace
{

// What the launcher does with a page address: the value after "name=", or the empty text.
String Parameter(TextRef text, TextRef name)
{
    Regex regex(FormatString(u"%ls=\\w+", Regex::Escape(name).c_str()));
    RegexMatch match;
    if (!regex.Find(text, match))
        return String();
    return String(match.text.substr(name.size() + 1));
}

} // namespace

TEST(RegexParameters, NameFollowedByWordCharacters)
{
    EXPECT_EQ(Parameter(u"http://portal/game?uid=42&x=1", u"uid"), u"42");
    EXPECT_EQ(Parameter(u"w=1024&h=768", u"h"), u"768");
    EXPECT_EQ(Parameter(u"key=a_B9-rest", u"key"), u"a_B9");
    EXPECT_EQ(Parameter(u"x=1", u"uid"), u"");
    // One or more word characters are needed.
    EXPECT_EQ(Parameter(u"uid=&uid=7", u"uid"), u"7");
}

TEST(RegexParameters, FirstMatchWins)
{
    Regex regex(u"w=\\w+");
    RegexMatch match;
    ASSERT_TRUE(regex.Find(u"a?w=1&w=2", match));
    EXPECT_EQ(match.position, 2);
    EXPECT_EQ(match.length, 3u);
    EXPECT_EQ(match.text, u"w=1");
}

TEST(RegexParameters, NamesAreTakenLiterally)
{
    EXPECT_EQ(Parameter(u"a.b=1&axb=2", u"a.b"), u"1");
    EXPECT_EQ(Parameter(u"axb=2", u"a.b"), u"");
    EXPECT_EQ(Parameter(u"q(1)=ok", u"q(1)"), u"ok");
}

TEST(RegexMatching, CaptureGroupsByNumber)
{
    Regex regex(u"(\\w+)@(\\w+)(\\.com)?");
    ASSERT_TRUE(regex.IsValid());
    EXPECT_EQ(regex.GroupCount(), 3u);
    RegexMatch match;
    ASSERT_TRUE(regex.Find(u"mail: joe@host!", match));
    EXPECT_EQ(match.text, u"joe@host");
    ASSERT_EQ(match.groups.size(), 4u);
    EXPECT_EQ(match.Group(0), u"joe@host");
    EXPECT_EQ(match.Group(1), u"joe");
    EXPECT_EQ(match.groups[1].position, 6);
    EXPECT_EQ(match.groups[1].length, 3u);
    EXPECT_EQ(match.Group(2), u"host");
    // The optional group took no part.
    EXPECT_EQ(match.groups[3].position, -1);
    EXPECT_EQ(match.Group(3), u"");
    EXPECT_EQ(match.Group(99), u"");
}

TEST(RegexMatching, EngineFeaturesTheProgramReliesOn)
{
    RegexMatch match;
    Regex backReference(u"(\\w)\\1");
    ASSERT_TRUE(backReference.Find(u"abccd", match));
    EXPECT_EQ(match.position, 2);

    Regex boundary(u"\\bid\\b");
    ASSERT_TRUE(boundary.Find(u"uid id", match));
    EXPECT_EQ(match.position, 4);

    Regex lazy(u"<.+?>");
    EXPECT_EQ(lazy.FindText(u"<a><b>"), u"<a>");
    Regex possessive(u"a++b");
    EXPECT_TRUE(possessive.Contains(u"aaab"));
    Regex atomic(u"(?>a+)ab");
    EXPECT_FALSE(atomic.Contains(u"aaab"));
    Regex posix(u"[[:digit:]]+");
    EXPECT_EQ(posix.FindText(u"v12.5"), u"12");
    Regex condition(u"^(<)?\\w+(?(1)>)$");
    EXPECT_TRUE(condition.Contains(u"<tag>"));
    EXPECT_TRUE(condition.Contains(u"tag"));
    EXPECT_FALSE(condition.Contains(u"<tag"));
}

TEST(RegexMatching, WideTextOutsideAscii)
{
    Regex regex(u"\u540D=(\\S+)");
    RegexMatch match;
    ASSERT_TRUE(regex.Find(u"x \u540D=\u4E2D\u6587 y", match));
    EXPECT_EQ(match.position, 2);
    EXPECT_EQ(match.Group(1), u"\u4E2D\u6587");
    // Word characters are ASCII unless asked otherwise.
    EXPECT_EQ(Regex(u"\\w+").FindText(u"\u00E9t\u00E9"), u"t");
    EXPECT_EQ(Regex(u"\\w+", Regex::_UNICODE_CLASSES).FindText(u"\u00E9t\u00E9"), u"\u00E9t\u00E9");
    // A supplementary character is one character.
    EXPECT_EQ(Regex(u"^.$").FindText(u"\U0001F600"), u"\U0001F600");
}

TEST(RegexMatching, LoneSurrogatesDoNotBreakTheSearch)
{
    const char16_t text[] = {u'a', 0xD800, u'b', u'=', u'1', 0};
    Regex regex(u"b=\\w+");
    RegexMatch match;
    ASSERT_TRUE(regex.Find(text, match));
    EXPECT_EQ(match.position, 2);
    EXPECT_EQ(match.text, u"b=1");
}

TEST(RegexMatching, OptionsAndStartOffset)
{
    EXPECT_FALSE(Regex(u"abc").Contains(u"ABC"));
    EXPECT_TRUE(Regex(u"abc", Regex::_IGNORE_CASE).Contains(u"ABC"));
    EXPECT_FALSE(Regex(u"^b").Contains(u"a\nb"));
    EXPECT_TRUE(Regex(u"^b", Regex::_MULTILINE).Contains(u"a\nb"));
    EXPECT_FALSE(Regex(u"a.b").Contains(u"a\nb"));
    EXPECT_TRUE(Regex(u"a.b", Regex::_DOT_ALL).Contains(u"a\nb"));

    Regex regex(u"\\d");
    RegexMatch match;
    ASSERT_TRUE(regex.Find(u"1a2", match, 1));
    EXPECT_EQ(match.position, 2);
    EXPECT_FALSE(regex.Find(u"1a2", match, 3));
    EXPECT_FALSE(match.Found());
    EXPECT_FALSE(regex.Find(u"1a2", match, 100));
}

TEST(RegexMatching, EmptyMatchesAndEmptyTexts)
{
    Regex regex(u"x*");
    RegexMatch match;
    ASSERT_TRUE(regex.Find(u"", match));
    EXPECT_EQ(match.position, 0);
    EXPECT_EQ(match.length, 0u);
    EXPECT_TRUE(match.Found());
    EXPECT_FALSE(Regex(u"a").Contains(u""));
    EXPECT_FALSE(Regex(u"a").Contains(std::u16string_view()));
    EXPECT_EQ(Regex(u"a").FindText(u"bbb"), u"");
}

TEST(RegexMatching, MatchObjectIsReusedAndClearedBetweenSearches)
{
    Regex regex(u"(a)|(b)");
    RegexMatch match;
    ASSERT_TRUE(regex.Find(u"a", match));
    EXPECT_EQ(match.Group(1), u"a");
    ASSERT_TRUE(regex.Find(u"b", match));
    EXPECT_EQ(match.Group(1), u"");
    EXPECT_EQ(match.groups[1].position, -1);
    EXPECT_EQ(match.Group(2), u"b");
    EXPECT_FALSE(regex.Find(u"c", match));
    EXPECT_EQ(match.text, u"");
    EXPECT_TRUE(match.groups.empty());
}

TEST(RegexMatching, CompiledOnceSearchesManyTexts)
{
    Regex regex(u"id=(\\d+)");
    RegexMatch match;
    for (int i = 0; i < 1000; ++i)
    {
        String text = FormatString(u"page?x=%d&id=%d", i, i * 7);
        ASSERT_TRUE(regex.Find(text, match));
        ASSERT_EQ(match.Group(1), FormatString(u"%d", i * 7));
    }
}

TEST(RegexMatching, HugeTextIsSearchedWithoutTrouble)
{
    String text(1 << 20, u'a');
    text += u"=x";
    Regex regex(u"a=\\w+");
    RegexMatch match;
    ASSERT_TRUE(regex.Find(text, match));
    EXPECT_EQ(match.position, (1 << 20) - 1);
    // A pattern that backtracks a lot ends with no match rather than hanging or crashing.
    LogCapture capture;
    Regex nasty(u"^(a+)+$");
    EXPECT_FALSE(nasty.Contains(String(4096, u'a') + u"!"));
}

TEST(RegexErrors, BadPatternGivesClearTextAndFindsNothing)
{
    LogCapture capture;
    Regex regex(u"(abc");
    EXPECT_FALSE(regex.IsValid());
    EXPECT_NE(regex.Error().find(u"missing closing parenthesis"), std::u16string::npos)
        << Vexel::Test::Narrow(regex.Error());
    EXPECT_EQ(regex.ErrorOffset(), 4);
    EXPECT_TRUE(capture.Contains(u"(abc"));
    RegexMatch match;
    EXPECT_FALSE(regex.Find(u"abc", match));
    EXPECT_FALSE(regex.Contains(u"abc"));
    EXPECT_EQ(regex.FindText(u"(abc"), u"");

    for (const char16_t* bad : {u"[a-", u"a{2,1}", u"*x", u"\\", u"(?<n>a)(?<n>b)", u"x(?"})
    {
        Regex broken(bad);
        EXPECT_FALSE(broken.IsValid()) << Vexel::Test::Narrow(bad);
        EXPECT_FALSE(broken.Error().empty());
    }
}

TEST(RegexErrors, RecompilingReplacesThePattern)
{
    LogCapture capture;
    Regex regex(u"a");
    ASSERT_TRUE(regex.Contains(u"a"));
    EXPECT_FALSE(regex.Compile(u"("));
    EXPECT_FALSE(regex.Contains(u"a"));
    EXPECT_TRUE(regex.Compile(u"b"));
    EXPECT_TRUE(regex.Error().empty());
    EXPECT_EQ(regex.ErrorOffset(), -1);
    EXPECT_TRUE(regex.Contains(u"b"));
    EXPECT_EQ(regex.Pattern(), u"b");

    Regex empty;
    EXPECT_FALSE(empty.IsValid());
    EXPECT_FALSE(empty.Contains(u"x"));
}

TEST(RegexErrors, MovedRegexKeepsItsPattern)
{
    Regex a(u"(x)y");
    Regex b(std::move(a));
    EXPECT_FALSE(a.IsValid());
    EXPECT_TRUE(b.Contains(u"xy"));
    Regex c;
    c = std::move(b);
    EXPECT_EQ(c.GroupCount(), 1u);
    EXPECT_TRUE(c.Contains(u"xy"));
}

TEST(RegexEscape, EveryAsciiPunctuationIsLiteral)
{
    String all;
    for (char16_t c = 0; c < 0x80; ++c)
        all += c;
    all += u"\u00E9\u4E2D";
    Regex regex(Regex::Escape(all));
    ASSERT_TRUE(regex.IsValid()) << Vexel::Test::Narrow(regex.Error());
    RegexMatch match;
    ASSERT_TRUE(regex.Find(u"xx" + all + u"yy", match));
    EXPECT_EQ(match.position, 2);
    EXPECT_EQ(match.text, all);
    EXPECT_EQ(Regex::Escape(u"a.b"), u"a\\.b");
}
