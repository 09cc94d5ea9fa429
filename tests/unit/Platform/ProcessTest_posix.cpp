// Starting programs the POSIX way: argument vectors, the PATH, desktop entries for autostart.
#include "Common/StringEncoding.h"
#include "Platform/File.h"
#include "Platform/Process.h"
#include "ScopedEnvironment.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

using namespace Vexel;
using Vexel::Test::LogCapture;
using Vexel::Test::Narrow;
using Vexel::Test::ReadBytes;
using Vexel::Test::ScopedEnvironment;
using Vexel::Test::TempDir;

namespace fs = std::filesystem;

TEST(Processes, ArgumentsReachTheChildIntact)
{
    TempDir dir;
    // touch makes a file named exactly by its argument: spaces, quotes and a dollar sign survive.
    std::string name = "a b \"quoted\" $HOME";
    String line = u"/usr/bin/touch \"" + dir.Wide() + u"/a b \\\"quoted\\\" $HOME\"";
    int exitCode = -1;
    ASSERT_TRUE(RunProcess(line, String(), &exitCode));
    EXPECT_EQ(exitCode, 0);
    EXPECT_TRUE(fs::exists(dir / name));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
}

TEST(Processes, FolderPathSearchAndExitCodes)
{
    TempDir dir;
    fs::create_directory(dir / "Work");
    int exitCode = -1;
    ASSERT_TRUE(RunProcess(u"touch made-here", dir.Wide("WORK"), &exitCode));
    EXPECT_EQ(exitCode, 0);
    EXPECT_TRUE(fs::exists(dir / "Work/made-here"));

    ASSERT_TRUE(RunProcess(u"false", String(), &exitCode));
    EXPECT_EQ(exitCode, 1);

    LogCapture capture;
    EXPECT_FALSE(RunProcess(u"vexel-no-such-program --x", String(), &exitCode));
    EXPECT_FALSE(StartProcess(u"vexel-no-such-program"));
    EXPECT_FALSE(StartProcess(dir.Wide("missing-program")));
    EXPECT_FALSE(StartProcess(u"   "));
    EXPECT_FALSE(RunProcess(u"touch x", dir.Wide("missing-folder"), &exitCode));
    EXPECT_FALSE(fs::exists(dir / "x"));
    EXPECT_TRUE(capture.Contains(u"vexel-no-such-program"));
}

TEST(Processes, AutostartEntry)
{
    TempDir dir;
    ScopedEnvironment config("XDG_CONFIG_HOME", dir.Path().c_str());
    ASSERT_TRUE(SetAutostart(u"Vexel Game", u"/opt/vexel/mc", u"/autostart -x"));
    EXPECT_EQ(AutostartEntryPath(u"Vexel Game"), dir.Wide() + u"/autostart/Vexel Game.desktop");
    std::string text = ReadBytes(dir / "autostart/Vexel Game.desktop");
    EXPECT_EQ(text, "[Desktop Entry]\nType=Application\nName=Vexel Game\nExec=\"/opt/vexel/mc\" /autostart "
                    "-x\nX-GNOME-Autostart-enabled=true\n");

    // Characters with a meaning in the entry are escaped; line breaks cannot add keys.
    ASSERT_TRUE(SetAutostart(u"odd/name", u"/opt/a \"b\" $c 100%", u"--p=50%\nHidden=true"));
    text = ReadBytes(dir / "autostart/odd_name.desktop");
    EXPECT_NE(text.find("Exec=\"/opt/a \\\\\"b\\\\\" \\\\$c 100%%\" --p=50%% Hidden=true\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("\nHidden"), std::string::npos);

    EXPECT_FALSE(SetAutostart(u"", u"/opt/vexel/mc", u""));
    EXPECT_TRUE(RemoveAutostart(u"Vexel Game"));
    EXPECT_FALSE(fs::exists(dir / "autostart/Vexel Game.desktop"));
    EXPECT_TRUE(RemoveAutostart(u"Vexel Game"));
}

namespace
{
int ThreadCount()
{
    std::string text = ReadBytes("/proc/self/status");
    std::size_t at = text.find("Threads:");
    return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + 8);
}
} // namespace

TEST(Processes, StartedProgramsAreReapedWithoutAThreadEach)
{
    // Each child reads the inherited pipe until the test closes the only writer, so all are alive at once.
    int ends[2];
    ASSERT_EQ(::pipe2(ends, 0), 0);
    ::fcntl(ends[1], F_SETFD, FD_CLOEXEC);
    int before = ThreadCount();
    String line = FromUtf8("cat /proc/self/fd/" + std::to_string(ends[0]));
    constexpr int _CHILDREN = 24;
    for (int i = 0; i < _CHILDREN; ++i)
        ASSERT_TRUE(StartProcess(line));
    EXPECT_LE(ThreadCount(), before + 1);
    ::close(ends[0]);
    ::close(ends[1]);
    WaitForStartedPrograms();
    // No child is left, zombie or running.
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST(Processes, ElevatedStartKeepsEachArgumentWhole)
{
    TempDir dir;
    fs::create_directory(dir / "set up");
    const fs::path script = dir / "set up" / "setup.sh";
    {
        std::FILE* file = std::fopen(script.c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fputs("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"${0%/*}/args.txt\"\n",
                   file);
        std::fclose(file);
    }
    fs::permissions(script, fs::perms::owner_all);
    // No way to ask for rights on this PATH: the program starts plainly.
    ScopedEnvironment path("PATH", dir.Path().c_str());
    ASSERT_TRUE(RunElevated(dir.Wide("set up/setup.sh"), {u"-s", u"two words", u"\"q\""}));
    WaitForStartedPrograms();
    EXPECT_EQ(ReadBytes(dir / "set up" / "args.txt"), "-s\ntwo words\n\"q\"\n");
}

TEST(Processes, ArgumentVectorsAreNeverSplitOrJoined)
{
    TempDir dir;
    // A program path with a space, and arguments that a command line would break apart.
    fs::create_directories(dir / "my bin");
    fs::copy_file("/usr/bin/touch", dir / "my bin" / "touch");
    const String program = dir.Wide() + u"/my bin/touch";
    int exitCode = -1;
    ASSERT_TRUE(RunProgram(program, {dir.Wide() + u"/two words", dir.Wide() + u"/\"q\" $HOME %1"}, String(),
                           &exitCode));
    EXPECT_EQ(exitCode, 0);
    EXPECT_TRUE(fs::exists(dir / "two words"));
    EXPECT_TRUE(fs::exists(dir / "\"q\" $HOME %1"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 3);
    // A bare name is searched in the PATH; a missing program is refused.
    const String shell = FindProgram(u"sh");
    EXPECT_TRUE(shell.size() > 3 && shell[0] == u'/' && shell.substr(shell.size() - 3) == u"/sh")
        << Narrow(shell);
    EXPECT_EQ(FindProgram(dir.Wide() + u"/my bin/touch"), program);
    EXPECT_TRUE(FindProgram(u"no-such-program-here").empty());
    EXPECT_FALSE(StartProgram(dir.Wide() + u"/missing", {}));
}

TEST(Processes, FilesBecomeExecutableForWhoeverMayReadThem)
{
    TempDir dir;
    Vexel::Test::WriteBytes(dir / "run", "#!/bin/sh\nexit 3\n");
    fs::permissions(dir / "run", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(SetExecutable(dir.Wide("run")));
    EXPECT_EQ(fs::status(dir / "run").permissions(), fs::perms::owner_read | fs::perms::owner_write |
                                                         fs::perms::owner_exec | fs::perms::group_read |
                                                         fs::perms::group_exec);
    int exitCode = -1;
    ASSERT_TRUE(RunProgram(dir.Wide("run"), {}, String(), &exitCode));
    EXPECT_EQ(exitCode, 3);
    EXPECT_FALSE(SetExecutable(dir.Wide("missing")));
    EXPECT_FALSE(SetExecutable(dir.Wide()));
}