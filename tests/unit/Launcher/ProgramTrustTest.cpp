// Programs the launcher downloads and starts besides itself (the plug-in set-up, the hall program): with
// program signers configured only a file they validly signed starts; any other is deleted unstarted, with
// a trace line and a message box for the player. Without signers they start as before.
#include "Flow/Commands.h"
#include "InstallTestSupport.h"
#include "LauncherTestSupport.h"
#include "Services/RemoteFetch.h"
#include "Services/Upgrade.h"
#include "TestCertificates.h"
#include "TestServer.h"

#include "Platform/CodeTrust.h"
#include "Platform/CodeTrust_posix.h"
#include "Platform/File.h"
#include "Platform/Process.h"

namespace Vexel::Test
{
namespace
{

namespace fs = std::filesystem;

class ProgramTrustTest : public LauncherWindowTest
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
        mStartFolder = GetCurrentFolder();
        mFolders = std::make_unique<UserFolders>(mDir.Path());
        mState->mTitle = u"Program trust test";
        ASSERT_TRUE(CreateFrameWindow(*mState, _FRAME_MAIN, u"main", 0, 0, 300, 200, 1));
        ASSERT_TRUE(CreateFrameWindow(*mState, 1, u"slot", 0, 0, 300, 200, 2));
        // Every message box is answered as soon as it shows, and counted.
        mState->mFrameHook = [this](FrameWindow&, _dword message, Ui::WParam, Ui::LParam, Ui::Point)
        {
            if (message != Ui::_WM_TIMER)
                return false;
            if (Ui::WindowId box = Ui::FindUiWindow(u"Program trust test"))
            {
                ++mBoxes;
                Ui::SendUiMessage(box, Ui::_WM_COMMAND, static_cast<Ui::WParam>(Ui::_IDOK));
            }
            return true;
        };
        Ui::SetUiTimer(mState->mFrames[_FRAME_MAIN]->mWindow, 9, 20);
        SetCurrentFolder(mDir.Wide());
    }
    void TearDown() override
    {
        if (mState)
        {
            Ui::KillUiTimer(mState->mFrames[_FRAME_MAIN]->mWindow, 9);
            mState->mHallFetch.mTask.reset();
            mState->mFrameHook = nullptr;
        }
        WaitForStartedPrograms();
        SetCurrentFolder(mStartFolder);
        mFolders.reset();
        LauncherWindowTest::TearDown();
    }
    static TestPki& Pki()
    {
        if (!sPki)
            sPki = std::make_unique<TestPki>(sPkiDir->Path() / "pki");
        return *sPki;
    }
    static std::string Signed(const std::string& program, const TestSigner& signer)
    {
        std::vector<_byte> signature;
        String error;
        const auto* data = reinterpret_cast<const _byte*>(program.data());
        EXPECT_TRUE(SignModuleBytes(data, program.size(), String(signer.key.u16string()),
                                    String(signer.cert.u16string()), String(signer.chain.u16string()),
                                    signature, error))
            << Narrow(error);
        std::vector<_byte> file = AppendSignature(data, program.size(), signature.data(), signature.size());
        return std::string(file.begin(), file.end());
    }
    void Signers()
    {
        ASSERT_TRUE(Pki().Ok()) << Pki().Error();
        mState->mProgramSigners = {u"Vexel Studio Ltd."};
        mState->mProgramCaFile = String(Pki().root.u16string());
    }
    // The hall download of bytes, then the slot handler that starts it once it is there.
    void RunHall(const std::string& bytes)
    {
        mServer.AddFile("/hall.exe", bytes);
        mState->mDownloadUrl = mServer.WideUrl("/hall.exe");
        StartHallDownload(*mState, mState->mDownloadUrl, u"hall.exe");
        ASSERT_TRUE(WaitUntil([&] { return mState->mHallFetch.mProgress.load() == 1.0f; }));
        HandleSlotMessage(*mState, *mState->mFrames[1], Ui::_WM_NULL, 0, 0);
        EXPECT_TRUE(mState->mDownloadUrl.empty());
    }
    // Takes the waiting messages; true when the end of a pass was among them.
    bool DropQuit()
    {
        bool quit = false;
        Ui::Message m;
        while (Ui::PeekUiMessage(m, true))
        {
            if (m.message == Ui::_WM_QUIT)
                quit = true;
            else
                Ui::DispatchUiMessage(m);
        }
        return quit;
    }
    std::string Program() const { return RecordingProgram(mDir / "record.txt", "hall"); }
    bool Started() const
    {
        return WaitUntil([&] { return fs::exists(mDir / "record.txt"); });
    }

    static std::unique_ptr<TempDir> sPkiDir;
    static std::unique_ptr<TestPki> sPki;
    TempDir mDir;
    String mStartFolder;
    std::unique_ptr<UserFolders> mFolders;
    TestServer mServer;
    int mBoxes = 0;
};

std::unique_ptr<TempDir> ProgramTrustTest::sPkiDir;
std::unique_ptr<TestPki> ProgramTrustTest::sPki;

TEST_F(ProgramTrustTest, WithoutSignersTheHallProgramStartsAsBefore)
{
    RunHall(Program());
    EXPECT_TRUE(Started());
    EXPECT_EQ(mBoxes, 0);
}

TEST_F(ProgramTrustTest, WithSignersOnlyAValidlySignedProgramStarts)
{
    Signers();
    std::string tampered = Signed(Program(), Pki().studio);
    tampered[20] ^= 1;
    struct Case
    {
        std::string bytes;
        const char16_t* why;
    };
    for (const Case& refused :
         {Case{Program(), u"carries no signature"}, Case{Signed(Program(), Pki().rogue), u"does not verify"},
          Case{tampered, u"does not verify"},
          Case{Signed(Program(), Pki().viaChain), u"not an accepted signer"}})
    {
        mCapture->Clear();
        const int boxes = mBoxes;
        const fs::path file = mDir / "vexelsetup.exe";
        WriteBytes(file, refused.bytes);
        fs::permissions(file, fs::perms::owner_all);
        EXPECT_FALSE(DownloadedProgramMayStart(*mState, String(file.u16string()))) << Narrow(refused.why);
        EXPECT_FALSE(fs::exists(file));
        EXPECT_TRUE(Logged(u"[MC] Downloaded program refused, deleted unstarted: ")) << Narrow(refused.why);
        EXPECT_TRUE(Logged(refused.why)) << Narrow(mCapture->Text());
        EXPECT_EQ(mBoxes, boxes + 1);
    }

    // The plug-in set-up, asked for from its window: refused and gone, never started; the pass ends.
    mState->mPluginUrl = mServer.WideUrl("/setup.exe");
    WriteBytes(mDir / "vexelsetup.exe", Program());
    fs::permissions(mDir / "vexelsetup.exe", fs::perms::owner_all);
    const int boxes = mBoxes;
    HandleSlotMessage(*mState, *mState->mFrames[1], _WM_RUN_SETUP, 0, 0);
    EXPECT_FALSE(fs::exists(mDir / "vexelsetup.exe"));
    EXPECT_EQ(mBoxes, boxes + 1);
    EXPECT_TRUE(DropQuit());

    // The hall program: refused and gone, never started...
    RunHall(Program());
    EXPECT_FALSE(fs::exists(mDir / "hall.exe"));
    EXPECT_FALSE(fs::exists(mDir / "record.txt"));
    // ...and the same program signed by the accepted signer starts.
    mState->mHallFetch.mTask.reset();
    RunHall(Signed(Program(), Pki().studio));
    EXPECT_TRUE(Started());
}

// The start-up's check of the program's own file: an unsigned file or one validly signed by an accepted
// signer (any signer when none is configured) passes; a damaged signature, bytes changed after signing or
// a signer not accepted stop the start with a message box.
TEST_F(ProgramTrustTest, TheProgramsOwnFileMustPassItsIntegrityCheck)
{
    ASSERT_TRUE(Pki().Ok()) << Pki().Error();
    std::string tampered = Signed(Program(), Pki().studio);
    tampered[20] ^= 1;
    const std::string damaged = Program() + std::string("\xFF\xFF\xFF\x7F", 4) + "VXSIGN01";
    const struct
    {
        std::string bytes;
        bool signers, passes;
    } rows[] = {
        {Program(), false, true},
        {Program(), true, true},
        {Signed(Program(), Pki().viaChain), false, true},
        {Signed(Program(), Pki().studio), true, true},
        {Signed(Program(), Pki().viaChain), true, false},
        {tampered, false, false},
        {damaged, false, false},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(&row - rows);
        mCapture->Clear();
        const int boxes = mBoxes;
        mState->mProgramSigners.clear();
        if (row.signers)
            Signers();
        WriteBytes(mDir / "vexel-launcher", row.bytes);
        mState->mProgramPath = mDir.Wide("vexel-launcher");
        EXPECT_EQ(CheckProgramIntegrity(*mState), row.passes);
        EXPECT_EQ(mBoxes, boxes + (row.passes ? 0 : 1));
        EXPECT_EQ(Logged(u"failed its integrity check"), !row.passes);
        EXPECT_TRUE(fs::exists(mDir / "vexel-launcher")); // never deleted: it is the running program
    }
}

} // namespace
} // namespace Vexel::Test
