#include "Platform/Process.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace Vexel;
using Vexel::Test::TempDir;

TEST(CommandLines, SplitLikeAStartedProgramDoes)
{
    using Words = std::vector<String>;
    EXPECT_EQ(SplitCommandLine(u"x \"a b\" c"), (Words{u"x", u"a b", u"c"}));
    EXPECT_EQ(SplitCommandLine(u"  \t "), Words{});
    EXPECT_EQ(SplitCommandLine(u"\"C:\\Program Files\\mc.exe\"  /copy\t\"\""),
              (Words{u"C:\\Program Files\\mc.exe", u"/copy", u""}));
    // Escaped quotes, backslash runs before quotes, doubled quotes inside quotes.
    EXPECT_EQ(SplitCommandLine(u"p \"say \\\"hi\\\"\" a\\\\\"b c\" d\\e \"x\"\"y\""),
              (Words{u"p", u"say \"hi\"", u"a\\b c", u"d\\e", u"x\"y"}));
    EXPECT_EQ(SplitCommandLine(u"p a\\\\\\\"b"), (Words{u"p", u"a\\\"b"}));
    // The program name takes no escapes: a trailing backslash stays.
    EXPECT_EQ(SplitCommandLine(u"C:\\dir\\ x"), (Words{u"C:\\dir\\", u"x"}));
}

TEST(Processes, OpeningNeedsSomethingToOpen)
{
    EXPECT_FALSE(OpenWithArguments(u""));
    EXPECT_FALSE(OpenWithArguments(u"\"\" x"));
    TempDir dir;
    EXPECT_FALSE(RunElevated(dir.Wide("missing")));
}
