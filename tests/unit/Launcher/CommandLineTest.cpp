// The program's arguments reach the launcher script as one command line that splits into them again.
#include "Base/CommandLine.h"
#include "LauncherTestSupport.h"
#include "Services/LoaderHost.h"

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

// The external game launcher gets its program, the module and the window as three words, then whatever
// words the page's "exeparam" text makes by the Windows rules, quotes, blanks and backslashes included.
TEST(LauncherCommandLine, ExternalLauncherGetsTheExeparamTextSplitAsWindowsSplitsIt)
{
    using Words = std::vector<String>;
    const String program = u"/home/me/.local/share/Vexel/vexelexelauncher.exe";
    const String module = u"/home/me/My Games/vexel3d.lod";
    const struct
    {
        String exeparam;
        Words tail;
    } rows[] = {
        {u"", {}},
        {u"server7", {u"server7"}},
        {u"server 7", {u"server", u"7"}},
        {u"\t lead  trail \t", {u"lead", u"trail"}},
        {u"\"server 7\" -fast", {u"server 7", u"-fast"}},
        {u"\"a \"\"quoted\"\" word\"", {u"a \"quoted\" word"}},
        {u"say \\\"hi\\\"", {u"say", u"\"hi\""}},
        {u"a\\\\\"b c\"", {u"a\\b c"}},
        {u"C:\\dir\\ x", {u"C:\\dir\\", u"x"}},
        {u"\"\" open\"ended", {u"", u"openended"}},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(Narrow(row.exeparam));
        Words expected = {program, module, u"4194311"};
        expected.insert(expected.end(), row.tail.begin(), row.tail.end());
        EXPECT_EQ(SplitCommandLine(ExternalLauncherCommandLine(program, module, 4194311, row.exeparam)),
                  expected);
    }
    EXPECT_EQ(ExternalLauncherCommandLine(u"C:\\L\\v.exe", u"C:\\g.lod", 42, u"-s \"x y\""),
              u"\"C:\\L\\v.exe\" \"C:\\g.lod\" 42 -s \"x y\"");
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
