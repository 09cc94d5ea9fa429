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

// The Windows entry hands over what follows its own path, byte for byte: the scripts read switches and
// unquoted paths out of it.
TEST(LauncherCommandLine, TheTailAfterTheProgramPathIsKeptAsWritten)
{
    EXPECT_EQ(CommandLineTail(u"\"C:\\Program Files\\vexel.exe\" /copy C:\\My Games\\a.exe"),
              u"/copy C:\\My Games\\a.exe");
    EXPECT_EQ(CommandLineTail(u"  C:\\vexel.exe\t  \"a b\"  c\\\\\"d\"  "), u"\"a b\"  c\\\\\"d\"  ");
    // A quote inside the program word toggles quoting (a blank there does not end it); backslashes
    // before a quote are plain in the program's path.
    EXPECT_EQ(CommandLineTail(u"C:\\\"my dir\"\\v.exe\\\" x"), u"");
    EXPECT_EQ(CommandLineTail(u"C:\\\"my dir\"\\v.exe x"), u"x");
    EXPECT_EQ(CommandLineTail(u"vexel.exe"), u"");
    EXPECT_EQ(CommandLineTail(u""), u"");
    // The tail splits into the same words as the whole line after its program word.
    const String line = u"\"C:\\a b\\v.exe\" /x \"q\\\"w\" e\\\\\"f g\" \"\"";
    std::vector<String> whole = SplitCommandLine(line);
    std::vector<String> tail = SplitCommandLine(u"v " + CommandLineTail(line));
    ASSERT_EQ(whole.size(), 5u);
    EXPECT_EQ(std::vector<String>(whole.begin() + 1, whole.end()),
              std::vector<String>(tail.begin() + 1, tail.end()));
    EXPECT_EQ(whole[2], u"q\"w");
    EXPECT_EQ(whole[3], u"e\\f g");
}

TEST_F(LauncherTest, AWideCommandLineKeepsEveryCharacter)
{
    ReadCommandLine(*mState, String(u"/copy C:\\\u6e38\u620f\\a.exe"));
    EXPECT_EQ(mState->mCmd, u"/copy C:\\\u6e38\u620f\\a.exe");
    ReadCommandLine(*mState, String(1500, u'x'));
    EXPECT_EQ(mState->mCmd.size(), 1023u);
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
