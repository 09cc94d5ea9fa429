// Start-up pieces over real files in temporary folders.
#include "Flow/Commands.h"
#include "LauncherTestSupport.h"
#include "Services/Install.h"

#include "Common/Compression.h"
#include "Platform/Folders.h"
#include "Platform/System.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#if !defined(_WIN32)
#include <sys/resource.h>
#endif

namespace Vexel::Test
{

using StartupTest = LauncherTest;

namespace
{
std::string Utf16(const std::string& ascii)
{
    std::string out;
    for (char c : ascii)
    {
        out += c;
        out += '\0';
    }
    return out;
}
} // namespace

TEST_F(StartupTest, SwitchFileReadsOnlyTheFirstLineCaseSensitively)
{
    TempDir dir;
    auto flags = [&](const std::string& bytes)
    {
        WriteBytes(dir / "mc.cfg", bytes);
        return ReadSwitchFile(dir.Wide("mc.cfg"));
    };
    EXPECT_FALSE(flags("\r\nmclog").mLog);
    EXPECT_FALSE(flags("MCLOG").mLog);
    SwitchFlags both = flags("x noautoupgrade y mclog\nrest");
    EXPECT_TRUE(both.mLog);
    EXPECT_TRUE(both.mNoAutoUpgrade);
    EXPECT_TRUE(flags("\xEF\xBB\xBFmclog").mLog);
    EXPECT_TRUE(flags("\xFF\xFE" + Utf16("noautoupgrade")).mNoAutoUpgrade);
    EXPECT_TRUE(flags(Utf16("mclog\r\n")).mLog); // UTF-16 without mark
    EXPECT_FALSE(ReadSwitchFile(dir.Wide("none.cfg")).mLog);
}

TEST_F(StartupTest, CommandLineAndProgramPath)
{
    std::string longLine(2000, 'x');
    ReadCommandLine(*mState, longLine.c_str());
    EXPECT_EQ(mState->mCmd.size(), 1023u);
    SetProgramPath(*mState, u"/opt/game/abc.exe");
    EXPECT_EQ(mState->mExeName, u"abc");
    EXPECT_EQ(mState->mProgramFolder, u"/opt/game");
}

class DataFolderTest : public StartupTest
{
protected:
    void SetUp() override
    {
        StartupTest::SetUp();
        mSaved = GetCurrentFolder();
        mState->mProgramFolder = mDir.Wide("prog");
        mState->mUserRoot = mDir.Wide("root");
        mState->mAppName = u"demo";
        std::filesystem::create_directories(mDir / "prog");
    }
    void TearDown() override
    {
        SetCurrentFolder(mSaved);
        StartupTest::TearDown();
    }
    std::filesystem::path Current() const { return std::filesystem::current_path(); }
    TempDir mDir;
    String mSaved;
};

TEST_F(DataFolderTest, WithoutInstallInfoOrDataFolderUsesThePerUserFolder)
{
    SettleDataFolder(*mState);
    EXPECT_EQ(Current(), mDir / "root" / "demo");
    EXPECT_FALSE(std::filesystem::exists(mDir / "root" / "demo" / "install.inf"));
}

TEST_F(DataFolderTest, FirstStartBesideADataFolderWritesInstallInfo)
{
    // Someone else's "data" beside the program is not taken over.
    std::filesystem::create_directories(mDir / "prog" / "data");
    SettleDataFolder(*mState);
    EXPECT_EQ(Current(), mDir / "root" / "demo");
    EXPECT_FALSE(std::filesystem::exists(mDir / "root" / "demo" / "install.inf"));
    EXPECT_FALSE(std::filesystem::exists(mDir / "prog" / "data" / Narrow(_DATA_FOLDER_MARKER)));
    // One the client made (it carries the mark) is. (Out of the folder first: Windows deletes no
    // current folder.)
    SetCurrentFolder(mDir.Wide("prog"));
    std::filesystem::remove_all(mDir / "root");
    ASSERT_TRUE(MarkDataFolder(mDir.Wide("prog/data")));
    SettleDataFolder(*mState);
    EXPECT_EQ(Current(), mDir / "prog" / "data");
    std::string info = ReadBytes(mDir / "root" / "demo" / "install.inf");
    std::replace(info.begin(), info.end(), '\\', '/'); // either separator names the folder here
    EXPECT_EQ(info, Utf16((mDir / "prog" / "data").generic_string())); // UTF-16LE, no mark, no terminator
}

TEST_F(DataFolderTest, InstallInfoNamingAnExistingFolderWins)
{
    std::filesystem::create_directories(mDir / "root" / "demo");
    std::filesystem::create_directories(mDir / "elsewhere");
    WriteBytes(mDir / "root" / "demo" / "install.inf", Utf16((mDir / "elsewhere").string()));
    SettleDataFolder(*mState);
    EXPECT_EQ(Current(), mDir / "elsewhere");

    WriteBytes(mDir / "root" / "demo" / "install.inf", Utf16((mDir / "gone").string()));
    SettleDataFolder(*mState);
    EXPECT_EQ(Current(), mDir / "root" / "demo");
}

TEST_F(DataFolderTest, UseCurrentPathTakesTheProgramDataFolderAndLeavesInstallInfoAlone)
{
    mState->mUseCurrentPath = true;
    SettleDataFolder(*mState);
    EXPECT_EQ(Current(), mDir / "prog" / "data");
    EXPECT_FALSE(std::filesystem::exists(mDir / "root"));
}

TEST_F(DataFolderTest, StaleArchivesAreRemovedAndTheCurrentOneStays)
{
    std::filesystem::create_directories(mDir / "d" / "sub");
    for (const char* name : {"game.fod", "game.fod.old", "GAME2.fod", "game.fob", "other.fod1", "game.fod2"})
        WriteBytes(mDir / "d" / name, "x");
    WriteBytes(mDir / "d" / "sub" / "game.fod1", "x");
    SetCurrentFolder(mDir.Wide("d"));
    mState->mResName = u"game";
    CleanStaleArchives(*mState);
    EXPECT_TRUE(std::filesystem::exists(mDir / "d" / "game.fod"));
    EXPECT_FALSE(std::filesystem::exists(mDir / "d" / "game.fod.old"));
    EXPECT_FALSE(std::filesystem::exists(mDir / "d" / "GAME2.fod"));
    EXPECT_FALSE(std::filesystem::exists(mDir / "d" / "game.fod2"));
    EXPECT_TRUE(std::filesystem::exists(mDir / "d" / "game.fob"));
    EXPECT_TRUE(std::filesystem::exists(mDir / "d" / "other.fod1"));
    EXPECT_TRUE(std::filesystem::exists(mDir / "d" / "sub" / "game.fod1"));

    // A resource name with dots of its own: the live archive and its companions stay.
    std::filesystem::create_directories(mDir / "v2");
    SetCurrentFolder(mDir.Wide("v2"));
    const char* kept[] = {"game.v2.fod", "game.v2.fob", "game.v2.foc", "game.v2.shr", "@game.v2.fob"};
    const char* stale[] = {"game.v2.fod.old", "game.v2.fod2", "game.v22.fod", "GAME.V2.x.fod"};
    for (const char* name : kept)
        WriteBytes(mDir / "v2" / name, "x");
    for (const char* name : stale)
        WriteBytes(mDir / "v2" / name, "x");
    mState->mResName = u"game.v2";
    for (int start = 0; start < 2; ++start) // every start leaves the same files
    {
        CleanStaleArchives(*mState);
        for (const char* name : kept)
            EXPECT_TRUE(std::filesystem::exists(mDir / "v2" / name)) << name;
        for (const char* name : stale)
            EXPECT_FALSE(std::filesystem::exists(mDir / "v2" / name)) << name;
    }

    // An empty resource name would match every archive: nothing goes.
    SetCurrentFolder(mDir.Wide("d"));
    mState->mResName.clear();
    WriteBytes(mDir / "d" / "x.fod1", "x");
    CleanStaleArchives(*mState);
    EXPECT_TRUE(std::filesystem::exists(mDir / "d" / "x.fod1"));
}

TEST_F(DataFolderTest, BossSettingsRoundTripAndShortFilesChangeNothing)
{
    SetCurrentFolder(mDir.Wide("prog"));
    WriteBytes(mDir / "prog" / "mcconfig.ini", "1234567");
    ReadBossSettings(*mState);
    EXPECT_EQ(mState->mHotKey, 0u);
    WriteBytes(mDir / "prog" / "mcconfig.ini", std::string("\x74\x03\0\0\x02\x09\x09\x09", 8));
    ReadBossSettings(*mState);
    EXPECT_EQ(mState->mHotKey, 0x374u);
    EXPECT_TRUE(mState->mBossChecked);
    mState->mBossChecked = false;
    ASSERT_TRUE(WriteBossSettings(*mState));
    EXPECT_EQ(ReadBytes(mDir / "prog" / "mcconfig.ini"), std::string("\x74\x03\0\0\0\0\0\0", 8));
}

// A write made to fail by the process's file-size limit, which Windows does not have.
#if !defined(_WIN32)
TEST_F(DataFolderTest, AFailedBossSettingsWriteKeepsTheSavedOnes)
{
    SetCurrentFolder(mDir.Wide("prog"));
    const std::string saved("\x74\x03\0\0\x01\0\0\0", 8);
    WriteBytes(mDir / "prog" / "mcconfig.ini", saved);
    mState->mHotKey = 0x275;
    // Files of this process may not grow beyond 4 bytes: the new settings cannot be written.
    struct rlimit before;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit tight = before;
    tight.rlim_cur = 4;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tight), 0);
    bool written = WriteBossSettings(*mState);
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(ReadBytes(mDir / "prog" / "mcconfig.ini"), saved);
    EXPECT_TRUE(Logged(u"Cannot save the boss-key settings"));
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(mDir / "prog"))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"mcconfig.ini"}); // no temporary file left behind
}
#endif

TEST_F(DataFolderTest, ScriptFileRunsPlainOrPackedWhenNoResourceHasTheName)
{
    SetCurrentFolder(mDir.Wide("prog"));
    std::string text = "_launcher.title = 'from file'";
    WriteBytes(mDir / "prog" / "script.lua", text);
    EXPECT_TRUE(RunStartupScript(*mManager, u"script.lua", true));
    EXPECT_EQ(mState->mTitle, u"from file");

    std::string other = "_launcher.title = 'from pile'"; // a different title proves this copy ran
    ByteBuffer packed(other.begin(), other.end());
    bool changed = false;
    ASSERT_TRUE(CompressBuffer(packed, changed, true));
    WriteBytes(mDir / "prog" / "script.lua", std::string(packed.begin(), packed.end()));
    EXPECT_TRUE(RunStartupScript(*mManager, u"script.lua", true));
    EXPECT_EQ(mState->mTitle, u"from pile");
    // The settings script is never unpacked: the packed bytes fail to run and change nothing.
    RunStartupScript(*mManager, u"script.lua", false);
    EXPECT_EQ(mState->mTitle, u"from pile");
    EXPECT_FALSE(RunStartupScript(*mManager, u"absent.lua", true));
}

TEST_F(DataFolderTest, ResourceRunsBeforeAFileOfTheSameName)
{
    // The test resource table carries resources/config.lua; a file beside it must not run.
    SetCurrentFolder(mDir.Wide("prog"));
    WriteBytes(mDir / "prog" / "config.lua", "appName = 'from file'");
    EXPECT_TRUE(RunStartupScript(*mManager, u"config.lua", false));
    Variable name;
    ASSERT_TRUE(mManager->GetGlobal(nullptr, "appName", name));
    EXPECT_EQ(name.GetText(), u"vexeldemo");
}

TEST_F(DataFolderTest, SettingsFileNamedByTheEnvironmentTakesThePlaceOfTheBuiltInOne)
{
    WriteBytes(mDir / "staging.lua", "appName = 'staging'");
    ASSERT_TRUE(SetEnvironmentText(u"VEXEL_SETTINGS", mDir.Wide("staging.lua")));
    RunSettingsScript(*mManager);
    Variable name;
    ASSERT_TRUE(mManager->GetGlobal(nullptr, "appName", name));
    EXPECT_EQ(name.GetText(), u"staging");
    EXPECT_TRUE(Logged(u"[MC] Settings script from " + mDir.Wide("staging.lua")));

    // A file that is not there: said so, and the built-in settings run.
    ASSERT_TRUE(SetEnvironmentText(u"VEXEL_SETTINGS", mDir.Wide("missing.lua")));
    RunSettingsScript(*mManager);
    ASSERT_TRUE(mManager->GetGlobal(nullptr, "appName", name));
    EXPECT_EQ(name.GetText(), u"vexeldemo");
    EXPECT_TRUE(Logged(u"Cannot read the settings script " + mDir.Wide("missing.lua")));
    SetEnvironmentText(u"VEXEL_SETTINGS", String());
}

TEST_F(StartupTest, EnvironmentMarkers)
{
    SetEnvironmentMarkers();
    String value;
    ASSERT_TRUE(GetEnvironment(u"[MICRO-CLIENT]", value));
    EXPECT_EQ(value, u"00000001");
    ASSERT_TRUE(GetEnvironment(u"[VEXEL-3D]", value));
    EXPECT_EQ(value, u"00000000");
    // The markers change what later tests of this process see (the loader reads the first).
    SetEnvironmentText(u"[MICRO-CLIENT]", String());
    SetEnvironmentText(u"[VEXEL-3D]", String());
}

} // namespace Vexel::Test
