// The program's arguments reach the launcher script as one command line that splits into them again.
#include "CommandLine.h"
#include "LauncherTestSupport.h"

#include "Common/StringEncoding.h"
#include "Platform/Process.h"

namespace Vexel::Test
{
namespace
{

TEST(LauncherCommandLine, ArgumentsRoundTripThroughTheCommandLine)
{
    std::vector<std::string> arguments = {
        "/copy", "/home/me/My Games/vexel", "plain", "a\"quoted\"word", "ends with\\", "back\\slash", ""};
    std::string line = JoinArguments(arguments);
    std::vector<String> split = SplitCommandLine(u"prog " + AnsiToWide(line.c_str()));
    ASSERT_EQ(split.size(), arguments.size() + 1);
    for (std::size_t i = 0; i < arguments.size(); ++i)
        EXPECT_EQ(Narrow(split[i + 1]), arguments[i]) << i;
    EXPECT_EQ(QuoteArgument("plain"), "plain");
    EXPECT_EQ(QuoteArgument("My Games"), "\"My Games\"");
}

TEST_F(LauncherTest, ACopyPathWithSpacesReachesTheScriptWhole)
{
    ReadCommandLine(*mState, JoinArguments({"/copy", "/tmp/My Games/vexel"}).c_str());
    EXPECT_EQ(mState->mCmd, u"/copy \"/tmp/My Games/vexel\"");
    // The launcher script's own reading of the switch.
    ASSERT_TRUE(Run(u"local rest = string.sub(_launcher.cmd, 6)\n"
                    u"copied = rest:match('^%s*\"([^\"]*)\"') or rest:match('^%s*(%S*)')"));
    EXPECT_EQ(Eval(u"return copied").GetText(), u"/tmp/My Games/vexel");
}

} // namespace
} // namespace Vexel::Test
