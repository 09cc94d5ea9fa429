#include "Common/StringHelpers.h"

#include <gtest/gtest.h>

using namespace Vexel;

TEST(StringHelpers, TrimCutsOnlyItsSetFromBothEnds)
{
    // Each set leaves the others' characters alone, inside the text and at its ends.
    EXPECT_EQ(Trim(u"  a b \t", _SPACES), u"a b \t");
    EXPECT_EQ(Trim(u"\t a\tb \t", _BLANKS), u"a\tb");
    EXPECT_EQ(Trim(u"\r\n key = v \r\n", _BLANKS), u"\r\n key = v \r\n");
    EXPECT_EQ(Trim(u" \t\r\nkey = v\r\n", _LINE_BLANKS), u"key = v");
    EXPECT_EQ(Trim(u"||a|b||", _BARS), u"a|b");
    EXPECT_EQ(Trim(u" |a| ", _BARS), u" |a| ");
    // Nothing but the set, or nothing at all, gives the empty text.
    EXPECT_EQ(Trim(u" \t \t", _BLANKS), u"");
    EXPECT_EQ(Trim(u"", _LINE_BLANKS), u"");
    EXPECT_EQ(Trim(u"x", _SPACES), u"x");
}

TEST(StringHelpers, ListMatchesTakeNonEmptyEntriesWithCase)
{
    std::vector<String> list = {String(), u"http://a/login"};
    EXPECT_TRUE(StartsWithAny(u"http://a/login?x", list));
    EXPECT_FALSE(StartsWithAny(u"http://A/login", list)); // with case
    EXPECT_FALSE(StartsWithAny(u"x", {String()}));        // empty entries match nothing
    EXPECT_FALSE(StartsWithAny(u"http://a/", list));      // the text shorter than the entry
    EXPECT_FALSE(StartsWithAny(u"x", {}));
    EXPECT_TRUE(ContainsAny(u"http://a/b/game2", {u"/game"}));
    EXPECT_FALSE(ContainsAny(u"http://a/b/GAME2", {u"/game"}));
    EXPECT_FALSE(ContainsAny(u"anything", {String()}));
}
