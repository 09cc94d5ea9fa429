// Replacing the program against a loopback server and real files: digest answers that name no build,
// equal digests, a build started with "/copy" and this program's path (with and without passArgs), a
// mismatching or interrupted download deleted, a download folder that cannot be written, the signature
// rule when signers are configured; the copy to a named place, and deletions that wait for a busy file or
// give up on a folder that cannot go.
#include "InstallTestSupport.h"
#include "Services/RemoteFetch.h"
#include "TestCertificates.h"

#include "Platform/CodeTrust.h"
#include "Platform/CodeTrust_posix.h"
#include "Platform/File.h"
#include "Platform/Process.h"

#include <sys/stat.h>

namespace Vexel::Test
{
namespace
{

namespace fs = std::filesystem;

// A program in a folder whose name has a space, recording how it was started.
struct ProgramFiles
{
    explicit ProgramFiles(LauncherState& state, const TempDir& dir) : folder(dir / "my programs")
    {
        fs::create_directories(folder);
        program = folder / "vexel-launcher";
        record = dir / "record.txt";
        WriteBytes(program, RecordingProgram(record, "A"));
        fs::permissions(program, fs::perms::owner_all);
        SetProgramPath(state, String(program.u16string()));
        state.mAppName = u"demo";
        state.mFileName = u"vexel-launcher";
        state.mUserRoot = GetUserRoot();
    }
    std::string Record() const { return ReadBytes(record); }
    bool WaitForRecord() const
    {
        return WaitUntil([&] { return Record().find("end\n") != std::string::npos; });
    }

    fs::path folder;
    fs::path program;
    fs::path record;
};

class UpgradeTest : public LauncherWindowTest
{
protected:
    static void SetUpTestSuite() { sPkiDir = std::make_unique<TempDir>(); }
    static void TearDownTestSuite()
    {
        sPki.reset();
        sPkiDir.reset();
    }
    void SetUp() override
    {
        LauncherWindowTest::SetUp();
        if (!mState)
            return;
        mFolders = std::make_unique<UserFolders>(mDir.Path());
        mFiles = std::make_unique<ProgramFiles>(*mState, mDir);
        mState->mCheckClient = {mServer.WideUrl("/client/prog"), mServer.WideUrl("/client/prog.md5")};
        ASSERT_TRUE(Run(u"_launcher:newFrameWin(6, 'Copying', 10, 10, 300, 120, 2)\n"
                        u"_launcher:addProgressBar(0, 10, 60, 280, 20, 'Sans', 0xFFFFFF, 12, 1, '', '', 6)"));
        ASSERT_TRUE(mState->mFrames[_FRAME_PROGRESS]);
    }
    void TearDown() override
    {
        if (mState)
            CancelMainFetch(*mState);
        WaitForStartedPrograms();
        mFiles.reset();
        mFolders.reset();
        LauncherWindowTest::TearDown();
    }
    double Progress() const { return mState->mFrames[_FRAME_PROGRESS]->mProgressBars.at(0).mRatio; }
    void Publish(const std::string& build, const std::string& digest)
    {
        mServer.AddFile("/client/prog", build);
        mServer.AddFile("/client/prog.md5", digest + "\r\n");
    }
    fs::path Target(const std::string& digest) const
    {
        return mDir / "data" / "vexel" / "demo" / ("vexel-launcher[" + digest + "]");
    }
    static TestPki& Pki()
    {
        if (!sPki)
            sPki = std::make_unique<TestPki>(sPkiDir->Path() / "pki");
        return *sPki;
    }
    static std::string Signed(const std::string& build, const TestSigner& signer)
    {
        std::vector<_byte> signature;
        String error;
        const auto* data = reinterpret_cast<const _byte*>(build.data());
        EXPECT_TRUE(SignModuleBytes(data, build.size(), String(signer.key.u16string()),
                                    String(signer.cert.u16string()), String(signer.chain.u16string()),
                                    signature, error))
            << Narrow(error);
        std::vector<_byte> file = AppendSignature(data, build.size(), signature.data(), signature.size());
        return std::string(file.begin(), file.end());
    }
    // The program is untouched and nothing was started.
    void ExpectUnchanged()
    {
        EXPECT_EQ(mState->mLoopEnd, 0);
        EXPECT_EQ(ReadBytes(mFiles->program), RecordingProgram(mFiles->record, "A"));
        EXPECT_FALSE(fs::exists(mFiles->record));
        EXPECT_DOUBLE_EQ(Progress(), 0.9);
    }

    static std::unique_ptr<TempDir> sPkiDir;
    static std::unique_ptr<TestPki> sPki;
    TempDir mDir;
    TestServer mServer;
    std::unique_ptr<UserFolders> mFolders;
    std::unique_ptr<ProgramFiles> mFiles;
};
std::unique_ptr<TempDir> UpgradeTest::sPkiDir;
std::unique_ptr<TestPki> UpgradeTest::sPki;

TEST_F(UpgradeTest, DigestAnswersThatNameNoBuildStartNoDownload)
{
    const std::string hex = "0123456789abcdef0123456789abcdef";
    // An error page cut to exactly 32 characters has the length of a digest but is none.
    const std::string page = std::string("<html><body>Bad Gateway</body></html>").substr(0, 32);
    const std::vector<std::string> answers = {hex.substr(1), hex + "0", page, "",
                                              std::string(2 * 1024 * 1024, 'a')};
    for (const std::string& answer : answers)
    {
        mCapture->Clear();
        mState->mFrames[_FRAME_PROGRESS]->SetProgress(0.0);
        mServer.AddFile("/client/prog.md5", answer);
        CheckUpgrade(*mState, true);
        EXPECT_TRUE(Logged(u"[MC] Get mc md5 fail")) << answer.size();
        ExpectUnchanged();
    }
    EXPECT_EQ(mServer.Requests("/client/prog"), 0);
}

TEST_F(UpgradeTest, EqualDigestsOrUpgradeSwitchedOffLeaveTheProgramRunning)
{
    Publish("unused", DigestHex(ReadBytes(mFiles->program)));
    CheckUpgrade(*mState, true);
    EXPECT_TRUE(Logged(u"[MC] Local mc md5 "));
    ExpectUnchanged();

    Publish("B", DigestHex("B"));
    CheckUpgrade(*mState, false);
    EXPECT_TRUE(Logged(u"[MC] Upgrade disabled by local config"));
    ExpectUnchanged();
    EXPECT_EQ(mServer.Requests("/client/prog"), 0);
    EXPECT_EQ(mServer.Requests("/client/prog.md5"), 1);

    // Without a progress window nothing is asked at all.
    DestroyFrameWindow(*mState, _FRAME_PROGRESS);
    CheckUpgrade(*mState, true);
    EXPECT_EQ(mServer.Requests("/client/prog.md5"), 1);
}

TEST_F(UpgradeTest, ANewBuildIsStartedWithCopyAndThisProgramsPath)
{
    const std::string build = RecordingProgram(mFiles->record, "B");
    const std::string digest = DigestHex(build);
    Publish(build, digest);
    CheckUpgrade(*mState, true);
    EXPECT_EQ(mState->mLoopEnd, 2);
    EXPECT_EQ(ReadBytes(Target(digest)), build);
    ASSERT_TRUE(mFiles->WaitForRecord());
    // No passArgs: the switch comes straight after the program.
    EXPECT_EQ(mFiles->Record(), "/copy\n" + mFiles->program.string() + "\nend\n");
    EXPECT_TRUE(Logged(u"[MC] Start process: " + String(Target(digest).u16string()) + u" /copy " +
                       mState->mProgramPath));
    // The program itself is replaced only by the new build.
    EXPECT_EQ(ReadBytes(mFiles->program), RecordingProgram(mFiles->record, "A"));
}

TEST_F(UpgradeTest, PassArgsComeFirstAsSeparateWords)
{
    const std::string build = RecordingProgram(mFiles->record, "B2");
    Publish(build, DigestHex(build));
    mState->mPassArgs = u"-x \"two words\"";
    CheckUpgrade(*mState, true);
    ASSERT_TRUE(mFiles->WaitForRecord());
    EXPECT_EQ(mFiles->Record(), "-x\ntwo words\n/copy\n" + mFiles->program.string() + "\nend\n");
}

TEST_F(UpgradeTest, AMismatchingDownloadIsDeleted)
{
    const std::string build = RecordingProgram(mFiles->record, "B");
    const std::string claimed = DigestHex("something else");
    Publish(build, claimed);
    CheckUpgrade(*mState, true);
    EXPECT_TRUE(Logged(u"[MC] MC download fail, md5 " + DigestText(build) + u" mismatch " +
                       String(claimed.begin(), claimed.end())));
    EXPECT_FALSE(fs::exists(Target(claimed)));
    ExpectUnchanged();
}

TEST_F(UpgradeTest, AnInterruptedDownloadLeavesTheProgramAlone)
{
    const std::string build = RecordingProgram(mFiles->record, "B") + std::string(300000, '#');
    const std::string digest = DigestHex(build);
    Publish(build, digest);
    mServer.SetMode("/client/prog", TestServer::Mode::LieLength);
    _qword now = 1000000;
    mState->mFetchClock = [&] { return now += 1000; }; // each look counts a second of silence
    CheckUpgrade(*mState, true);
    mState->mFetchClock = nullptr;
    EXPECT_FALSE(fs::exists(Target(digest)));
    ExpectUnchanged();
}

TEST_F(UpgradeTest, ADownloadFolderThatCannotBeWrittenStartsNothing)
{
    const std::string build = RecordingProgram(mFiles->record, "B");
    const std::string digest = DigestHex(build);
    Publish(build, digest);
    fs::create_directories(Target(digest).parent_path());
    Busy locked(Target(digest).parent_path());
    ASSERT_TRUE(locked.On());
    CheckUpgrade(*mState, true);
    EXPECT_TRUE(Logged(u", 0")); // the save failed
    EXPECT_TRUE(Logged(u"[MC] MC download fail"));
    ExpectUnchanged();
}

TEST_F(UpgradeTest, WithSignersConfiguredOnlyABuildTheyValidlySignedIsStarted)
{
    TestPki& pki = Pki();
    ASSERT_TRUE(pki.Ok()) << pki.Error();
    mState->mProgramSigners = {u"Vexel Studio Ltd."};
    mState->mProgramCaFile = String(pki.root.u16string());
    const std::string build = RecordingProgram(mFiles->record, "B");

    struct Case
    {
        std::string bytes;
        const char16_t* why;
    };
    std::string tampered = Signed(build, pki.studio);
    tampered[20] ^= 1; // the signature no longer covers these bytes
    for (const Case& refused :
         {Case{build, u"carries no signature"}, Case{Signed(build, pki.rogue), u"verify"},
          Case{tampered, u"verify"}, Case{Signed(build, pki.viaChain), u"not an accepted signer"}})
    {
        mCapture->Clear();
        const std::string digest = DigestHex(refused.bytes);
        Publish(refused.bytes, digest);
        CheckUpgrade(*mState, true);
        EXPECT_TRUE(Logged(u"[MC] MC download refused")) << Narrow(refused.why);
        EXPECT_TRUE(Logged(refused.why)) << Narrow(mCapture->Text());
        EXPECT_FALSE(fs::exists(Target(digest)));
        ExpectUnchanged();
    }

    const std::string good = Signed(build, pki.studio);
    Publish(good, DigestHex(good));
    CheckUpgrade(*mState, true);
    EXPECT_EQ(mState->mLoopEnd, 2);
    ASSERT_TRUE(mFiles->WaitForRecord());
    EXPECT_EQ(mFiles->Record(), "/copy\n" + mFiles->program.string() + "\nend\n");
}

// --- Copy and delete hand-over -----------------------------------------------------------------------

class HandOverTest : public LauncherTest
{
protected:
    void SetUp() override
    {
        LauncherTest::SetUp();
        mStartFolder = GetCurrentFolder();
        mFolders = std::make_unique<UserFolders>(mDir.Path());
        mFiles = std::make_unique<ProgramFiles>(*mState, mDir);
    }
    void TearDown() override
    {
        WaitForStartedPrograms();
        SetCurrentFolder(mStartFolder);
        mFiles.reset();
        mFolders.reset();
        LauncherTest::TearDown();
    }

    TempDir mDir;
    String mStartFolder;
    std::unique_ptr<UserFolders> mFolders;
    std::unique_ptr<ProgramFiles> mFiles;
    FakeRetryClock mClock;
};

TEST_F(HandOverTest, ACopyWithTheSameBytesIsStartedAtOnce)
{
    fs::path destination = mDir / "game folder" / "vexel-launcher";
    fs::create_directories(destination.parent_path());
    fs::copy_file(mFiles->program, destination);
    fs::permissions(destination, fs::perms::owner_all);
    struct stat before, after;
    ASSERT_EQ(::stat(destination.c_str(), &before), 0);
    CopySelfTo(*mState, String(destination.u16string()));
    ASSERT_EQ(::stat(destination.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(mState->mLoopEnd, 2);
    ASSERT_TRUE(mFiles->WaitForRecord());
    EXPECT_EQ(mFiles->Record(), "/delete\n" + mFiles->program.string() + "\nend\n");
}

TEST_F(HandOverTest, ADifferingDestinationIsOverwrittenThenStarted)
{
    fs::path destination = mDir / "game folder" / "vexel-launcher";
    fs::create_directories(destination.parent_path());
    WriteBytes(destination, "an old build");
    mState->mPassArgs = u"/noshortcut";
    CopySelfTo(*mState, String(destination.u16string()));
    EXPECT_EQ(ReadBytes(destination), ReadBytes(mFiles->program));
    ASSERT_TRUE(mFiles->WaitForRecord());
    EXPECT_EQ(mFiles->Record(), "/noshortcut\n/delete\n" + mFiles->program.string() + "\nend\n");
}

TEST_F(HandOverTest, ACopyThatKeepsFailingGivesUpAfterThreeSeconds)
{
    fs::path destination = mDir / "locked" / "vexel-launcher";
    fs::create_directories(destination.parent_path());
    Busy locked(destination.parent_path());
    ASSERT_TRUE(locked.On());
    const _qword start = mClock.mNow;
    CopySelfTo(*mState, String(destination.u16string()));
    EXPECT_GE(mClock.mNow - start, _COPY_RETRY_MS);
    EXPECT_LT(mClock.mNow - start, _COPY_RETRY_MS + 2 * _RETRY_PAUSE_MS);
    EXPECT_EQ(mState->mLoopEnd, 0);
    EXPECT_FALSE(fs::exists(destination));
    EXPECT_FALSE(fs::exists(mFiles->record));
}

TEST_F(HandOverTest, ABusyFileIsDeletedOnceItIsReleased)
{
    fs::path file = mDir / "old build";
    WriteBytes(file, "old");
    Busy busy(file);
    ASSERT_TRUE(busy.On());
    const _qword start = mClock.mNow;
    mClock.mOnPause = [&](_qword now)
    {
        if (now - start >= 2000)
            busy.Release();
    };
    DeleteFileWithRetry(*mState, String(file.u16string()));
    EXPECT_TRUE(Logged(u"[MC] Deleting file: " + String(file.u16string())));
    EXPECT_FALSE(fs::exists(file));
    EXPECT_GE(mClock.mNow - start, 2000u);
    EXPECT_LT(mClock.mNow - start, _DELETE_FILE_RETRY_MS);

    // One that stays busy is given up on; an empty path is nothing at all.
    WriteBytes(file, "again");
    Busy stays(file);
    mClock.mOnPause = nullptr;
    const _qword second = mClock.mNow;
    DeleteFileWithRetry(*mState, String(file.u16string()));
    EXPECT_TRUE(fs::exists(file));
    EXPECT_GE(mClock.mNow - second, _DELETE_FILE_RETRY_MS);
    mCapture->Clear();
    DeleteFileWithRetry(*mState, String());
    EXPECT_FALSE(Logged(u"Deleting"));
}

TEST_F(HandOverTest, AFolderTreeThatCannotGoIsGivenUpOnAndNothingElseIsLost)
{
    fs::path tree = mDir / "data folder";
    fs::create_directories(tree / "a" / "b");
    WriteBytes(tree / "a" / "b" / "locked", "stays");
    WriteBytes(tree / "top", "goes");
    fs::path neighbour = mDir / "data folder 2";
    fs::create_directories(neighbour);
    WriteBytes(neighbour / "keep", "keep");
    Busy locked(tree / "a" / "b" / "locked");
    ASSERT_TRUE(locked.On());
    const _qword start = mClock.mNow;
    EXPECT_FALSE(DeleteFolderWithRetry(*mState, String(tree.u16string())));
    EXPECT_GE(mClock.mNow - start, _DELETE_FOLDER_RETRY_MS);
    EXPECT_LT(mClock.mNow - start, _DELETE_FOLDER_RETRY_MS + 2 * _RETRY_PAUSE_MS);
    EXPECT_EQ(ReadBytes(tree / "a" / "b" / "locked"), "stays");
    EXPECT_EQ(ReadBytes(neighbour / "keep"), "keep");
    EXPECT_EQ(ReadBytes(mFiles->program), RecordingProgram(mFiles->record, "A"));
    // The process left the folder for the temporary folder.
    EXPECT_EQ(GetCurrentFolder(), String((mDir / "tmp").u16string()));

    locked.Release();
    EXPECT_TRUE(DeleteFolderWithRetry(*mState, String(tree.u16string())));
    EXPECT_FALSE(fs::exists(tree));
    EXPECT_TRUE(fs::exists(neighbour / "keep"));
}

} // namespace
} // namespace Vexel::Test
