// Which folder is the client's data folder, and so which one uninstall deletes: start-up, upgrade and
// the temporary uninstaller against real folders of a temporary user, with someone else's "data" folder
// beside the program and in the temporary folder.
#include "InstallTestSupport.h"
#include "Services/Install.h"

#include "Platform/File.h"
#include "Platform/Process.h"

namespace Vexel::Test
{
namespace
{

namespace fs = std::filesystem;

class DataFolderOwnershipTest : public LauncherTest
{
protected:
    void SetUp() override
    {
        LauncherTest::SetUp();
        mStartFolder = GetCurrentFolder();
        mFolders = std::make_unique<UserFolders>(mDir.Path());
        mProgram = mDir / "my programs" / "vexel-launcher";
        fs::create_directories(mProgram.parent_path());
        WriteBytes(mProgram, RecordingProgram(mDir / "record.txt"));
        fs::permissions(mProgram, fs::perms::owner_all);
        mState->mAppName = u"vexel demo";
        mState->mFileName = u"vexel-launcher";
        mState->mTitle = u"Vexel Demo";
        mState->mUserRoot = GetUserRoot();
        mState->mInstall = true;
        mData = mDir / "data" / "vexel" / "vexel demo";
        // Folders of other programs that happen to be called "data".
        for (const fs::path& theirs : {mProgram.parent_path() / "data", mDir / "tmp" / "data"})
        {
            fs::create_directories(theirs);
            WriteBytes(theirs / "saves.db", "not the client's");
        }
    }
    void TearDown() override
    {
        WaitForStartedPrograms();
        SetCurrentFolder(mStartFolder);
        mFolders.reset();
        LauncherTest::TearDown();
    }
    // One start of the program at path, as far as folders go.
    void Start(const fs::path& path, bool uninstall)
    {
        SetProgramPath(*mState, String(path.u16string()));
        mState->mDataFolder.clear();
        mState->mInstallFolder.clear();
        mState->mUninstall = uninstall;
        mState->mLoopEnd = 0;
        SettleDataFolder(*mState);
        InstallStep(*mState);
    }
    // install.inf naming folder: UTF-16LE, as the client writes it.
    void WriteInstallInfo(const fs::path& folder)
    {
        std::string bytes;
        for (char16_t c : folder.u16string())
        {
            bytes += static_cast<char>(c & 0xFF);
            bytes += static_cast<char>(c >> 8);
        }
        WriteBytes(mData / "install.inf", bytes);
    }
    void ExpectTheirsKept()
    {
        for (const fs::path& theirs : {mProgram.parent_path() / "data", mDir / "tmp" / "data"})
            EXPECT_EQ(ReadBytes(theirs / "saves.db"), "not the client's") << theirs;
    }

    TempDir mDir;
    String mStartFolder;
    std::unique_ptr<UserFolders> mFolders;
    fs::path mProgram;
    fs::path mData;
    FakeRetryClock mClock;
};

TEST_F(DataFolderOwnershipTest, OthersDataFoldersSurviveStartUpgradeAndUninstall)
{
    // First start: the per-user folder is made and marked; the "data" beside the program is not taken.
    Start(mProgram, false);
    EXPECT_EQ(mState->mDataFolder, String(mData.u16string()));
    EXPECT_TRUE(IsOwnDataFolder(mState->mDataFolder));
    EXPECT_FALSE(fs::exists(mData / "install.inf"));
    EXPECT_TRUE(Logged(u"is not this client's data folder; not adopted"));
    ASSERT_TRUE(fs::exists(mData / "vexel-launcher"));
    WriteBytes(mData / "vexeldemo.fod", "game data");

    // An upgrade: the downloaded build starts from the per-user folder, then the old place again.
    const fs::path download = mData / "vexel-launcher[0123]";
    fs::copy_file(mProgram, download);
    Start(download, false);
    EXPECT_EQ(mState->mDataFolder, String(mData.u16string()));
    Start(mProgram, false);
    ExpectTheirsKept();

    // Uninstall from the menu entry: the installed program hands over to a temporary copy...
    Start(mData / "vexel-launcher", true);
    EXPECT_EQ(mState->mLoopEnd, 2);
    ASSERT_TRUE(WaitUntil([&] { return ReadBytes(mDir / "record.txt").find("end\n") != std::string::npos; }));
    fs::path uninstaller;
    for (const auto& entry : fs::directory_iterator(mDir / "tmp"))
        if (entry.is_regular_file())
            uninstaller = entry.path();
    ASSERT_FALSE(uninstaller.empty());
    // ...which removes the real data folder, leaves the others and removes itself.
    Start(uninstaller, true);
    EXPECT_FALSE(fs::exists(mData));
    ExpectTheirsKept();
    EXPECT_FALSE(fs::exists(uninstaller));
    EXPECT_TRUE(Logged(u"[MC] Removed the temporary uninstaller"));
    EXPECT_TRUE(fs::exists(mProgram)); // a program elsewhere is the player's own copy
}

TEST_F(DataFolderOwnershipTest, UninstallDeletesTheRecordedFolderOnlyWithTheMark)
{
    // The uninstall record and install.inf name the folder; the one a copy runs beside never counts.
    const fs::path recorded = mDir / "games" / "vexel";
    fs::create_directories(recorded);
    fs::create_directories(mData);
    ASSERT_TRUE(MarkDataFolder(String(recorded.u16string())));
    WriteInstallInfo(recorded);
    Start(mProgram, false);
    EXPECT_EQ(mState->mDataFolder, String(recorded.u16string()));
    std::vector<String> folders = RecordedDataFolders(*mState);
    ASSERT_EQ(folders.size(), 2u);
    EXPECT_EQ(folders[0], String(recorded.u16string())); // the uninstall record's InstallLocation
    EXPECT_EQ(folders[1], String(mData.u16string()));

    Start(mDir / "tmp" / "vexel-copy", true); // a copy elsewhere uninstalls: no file is needed for that
    EXPECT_FALSE(fs::exists(recorded));
    EXPECT_FALSE(fs::exists(mData));
    ExpectTheirsKept();

    // A folder recorded before the mark existed, or a foreign one an older client adopted, is used but
    // never deleted.
    const fs::path legacy = mDir / "tmp" / "data";
    fs::create_directories(mData);
    WriteInstallInfo(legacy);
    Start(mProgram, false);
    EXPECT_EQ(mState->mDataFolder, String(legacy.u16string()));
    EXPECT_FALSE(IsOwnDataFolder(mState->mDataFolder));
    Start(mProgram, true);
    EXPECT_TRUE(
        Logged(String(legacy.u16string()) + u" carries no data-folder mark of this client; left in place"));
    ExpectTheirsKept();
    EXPECT_FALSE(fs::exists(mData)); // the per-user folder is the client's own by its place
}

} // namespace
} // namespace Vexel::Test
