// The launcher script's command-line switches, read by running the embedded settings and launcher
// scripts as the program does: a switch counts only as a whole argument, its value is the next argument,
// and paths that hold a switch's name ("/copy /home/ann/uninstall-old/...") never uninstall anything.
#include "InstallTestSupport.h"
#include "LauncherTestSupport.h"

#include "Common/StringEncoding.h"

namespace Vexel::Test
{
namespace
{

struct Switches
{
    int operation = _FILEOP_NONE;
    std::string path;
    bool uninstall = false;
    bool abort = false;
    bool shortcut = false;
};

class CommandSwitchTest : public LauncherWindowTest
{
protected:
    void SetUp() override
    {
        LauncherWindowTest::SetUp();
        if (mState)
            mFolders = std::make_unique<UserFolders>(mDir.Path()); // the desktop entry goes there
    }
    void TearDown() override
    {
        mFolders.reset();
        LauncherWindowTest::TearDown();
    }
    // A fresh launcher state runs both scripts with the command line, as the start-up does.
    Switches Read(const std::string& commandLine)
    {
        LauncherState state;
        SetLauncherState(&state);
        IScriptManager* manager = PrepareScripting(state);
        CreateMainWindow(state);
        RunStartupScript(*manager, u"config.lua", false);
        ReadCommandLine(state, commandLine.c_str());
        EXPECT_TRUE(RunStartupScript(*manager, u"launcher.lua", true));
        EXPECT_TRUE(manager->GetLastError().empty()) << Narrow(manager->GetLastError());
        Switches read{state.mFileOperation, Narrow(state.mFileOperationPath), state.mUninstall, state.mAbort,
                      state.mCreateShortcut};
        for (auto& frame : state.mFrames)
            frame.reset();
        state.mGameFrame.reset();
        state.mPages.clear();
        state.mScriptManager.reset();
        SetLauncherState(mState.get());
        return read;
    }

    TempDir mDir;
    std::unique_ptr<UserFolders> mFolders;
};

TEST_F(CommandSwitchTest, SwitchNamesInsidePathsAreNotSwitches)
{
    struct Case
    {
        std::string commandLine;
        int operation;
        std::string path;
    };
    // Every switch name inside paths, as values of /copy and /delete and as stray arguments.
    const Case cases[] = {
        {"/copy /home/ann/uninstall-old/vexel-launcher", _FILEOP_COPY,
         "/home/ann/uninstall-old/vexel-launcher"},
        {"/delete /home/ann/.local/share/vexel/uninstall/vexel-launcher[0a]", _FILEOP_DELETE,
         "/home/ann/.local/share/vexel/uninstall/vexel-launcher[0a]"},
        {"/copy /srv/x/regserver/noshortcut/uninstall", _FILEOP_COPY,
         "/srv/x/regserver/noshortcut/uninstall"},
        {"/delete /opt/copy/delete/uninstall.bin", _FILEOP_DELETE, "/opt/copy/delete/uninstall.bin"},
        {"/tmp/uninstall /tmp/regserver /tmp/noshortcut /tmp/copy /tmp/delete", _FILEOP_NONE, ""},
        {"--x=/uninstall", _FILEOP_NONE, ""},
        // The value is the next argument even when it reads like a switch.
        {"/copy /uninstall", _FILEOP_COPY, "/uninstall"},
        // Quotes group as the command line has them.
        {"/copy \"/home/ann/My Games/uninstall me/vexel-launcher\"", _FILEOP_COPY,
         "/home/ann/My Games/uninstall me/vexel-launcher"},
        {"/delete \"C:\\Users\\ann\\a \\\"b\\\"\\\\\"", _FILEOP_DELETE, "C:\\Users\\ann\\a \"b\"\\"},
        {"/copy", _FILEOP_COPY, ""},
    };
    for (const Case& c : cases)
    {
        Switches read = Read(c.commandLine);
        EXPECT_EQ(read.operation, c.operation) << c.commandLine;
        EXPECT_EQ(read.path, c.path) << c.commandLine;
        EXPECT_FALSE(read.uninstall) << c.commandLine;
        EXPECT_FALSE(read.abort) << c.commandLine;
        EXPECT_TRUE(read.shortcut) << c.commandLine;
    }
}

TEST_F(CommandSwitchTest, WholeSwitchesStillWork)
{
    Switches uninstall = Read("/uninstall");
    EXPECT_TRUE(uninstall.uninstall);
    EXPECT_TRUE(uninstall.abort);
    Switches regserver = Read("x /regserver");
    EXPECT_FALSE(regserver.uninstall);
    EXPECT_TRUE(regserver.abort);
    Switches quiet = Read("/noshortcut /delete /tmp/a");
    EXPECT_FALSE(quiet.shortcut);
    EXPECT_EQ(quiet.operation, _FILEOP_DELETE);
    EXPECT_EQ(quiet.path, "/tmp/a");
    // A value followed by more switches: each is read on its own.
    Switches both = Read("/copy /home/ann/uninstall /noshortcut");
    EXPECT_EQ(both.path, "/home/ann/uninstall");
    EXPECT_FALSE(both.shortcut);
    EXPECT_FALSE(both.uninstall);
}

} // namespace
} // namespace Vexel::Test
