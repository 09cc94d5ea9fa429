// The loaded module: the entry points and their calls (create with empty texts, set-up in page order up
// to the first empty name, the plug-in version on "foaparam"), the marker that keeps a second host from
// loading the same library, messages held back until the first frame, a module without its optional
// export or without a required one; the demo game in a real game child window, its first frame taking
// the window's pixels from the loading screen; and the loading screen itself.
#include "../Platform/ScopedEnvironment.h"
#include "LoaderTestSupport.h"

#include "../Platform/ScopedEnvironment.h"

#include "Flow/MainLoop.h"
#include "Services/GameModule.h"
#include "Services/LoaderHost.h"

#include "Common/Md5.h"
#include "Common/StringFormatter.h"
#include "Platform/File.h"
#include "Platform/Folders.h"
#include "Platform/Process.h"
#include "Platform/Resources.h"
#include "Platform/System.h"
#include "Platform/Ui/UiCanvas.h"
#include "TestServer.h"

#include <fstream>
#include <sstream>

#if defined(VEXEL_DEMO_GAME_DIR) && defined(VEXEL_TEST_MODULE_DIR)

namespace Vexel::Test
{
namespace
{

const std::string _DEMO = VEXEL_DEMO_GAME_DIR;
const std::string _MODULES = VEXEL_TEST_MODULE_DIR;

std::string ReadText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class LoaderModuleTest : public LoaderHostWindowTest
{
protected:
    LoaderModuleTest() { mNow = 5000; }
    void SetUp() override
    {
        LoaderHostWindowTest::SetUp();
        SetVariable("VEXEL_TEST_MODULE_LOG", (mData / "calls.txt").string().c_str());
        // Start-up tests earlier in the same process leave the client's marker in the environment.
        SetVariable("[MICRO-CLIENT]", nullptr);
    }
    void TearDown() override
    {
        SetVariable("VEXEL_TEST_MODULE_LOG", nullptr);
        SetVariable("[MICRO-CLIENT]", nullptr);
        LoaderHostWindowTest::TearDown();
    }
    // Makes the named test module the loader, accepted by its digest.
    void Use(const std::string& variant, LoaderHost& host, LoaderSource& source)
    {
        String path = Wide(_MODULES + "/" + variant + VEXEL_TEST_MODULE_SUFFIX);
        std::vector<_byte> bytes;
        ASSERT_TRUE(ReadFile(path, bytes));
        host.mSettings.mPolicy.acceptedDigests = {Md5Of(bytes.data(), bytes.size())};
        host.SetLoaderSource(u"local:\\" + path, String());
        (void)source;
    }
    void Params(std::vector<std::pair<String, String>> pairs)
    {
        for (auto& [name, value] : pairs)
        {
            mState->mLoader.mParamNames.push_back(name);
            mState->mLoader.mParamValues.push_back(value);
        }
    }
    std::string Calls() const { return ReadText(mData / "calls.txt"); }
};

TEST_F(LoaderModuleTest, CreateAndSetUpFollowThePageAndMessagesWaitForTheFirstFrame)
{
    Use("complete", *mHost, mState->mLoader);
    Params({{u"server", u"s1"},
            {u"foaparam", u"||a|b||"},
            {u"foaparam", u"second"},
            {String(), u"after an empty name"},
            {u"late", u"never"}});
    ASSERT_TRUE(mHost->StartLoaderHost(mWindow));
    ASSERT_TRUE(mHost->VerifyAndLoad()) << Narrow(mHost->ErrorText());
    EXPECT_EQ(Calls(), "create empty 1\n"
                       "setup server=s1 0\n"
                       "setup foaparam=a|b|pluginver|0x00010004 0\n"
                       "setup foaparam=second 0\n");
    // The marker names the file while the module is loaded.
    EXPECT_TRUE(IsLoadedModuleFile(mHost->LoaderPath()));

    // Before the first frame nothing reaches the module.
    EXPECT_EQ(mHost->ForwardMessage(Ui::_WM_KEYDOWN, 7, 0), 0);
    EXPECT_EQ(Calls().find("message"), std::string::npos);
    mNow += 40;
    mHost->LoaderFrame();
    EXPECT_TRUE(mHost->FirstFrameDone());
    EXPECT_EQ(mHost->ForwardMessage(Ui::_WM_KEYDOWN, 7, 0), 1007);
    std::string calls = Calls();
    EXPECT_NE(calls.find("update 40\nrender 0\n"), std::string::npos) << calls;
    EXPECT_NE(calls.find("message 256\n"), std::string::npos);
    // _VexelProgress is looked up, never called.
    EXPECT_EQ(calls.find("progress"), std::string::npos);

    mHost->UnloadModule();
    EXPECT_NE(Calls().find("delete 0\n"), std::string::npos);
    EXPECT_FALSE(IsLoadedModuleFile(mState->mLoader.mPath));
    EXPECT_EQ(mHost->ForwardMessage(Ui::_WM_KEYDOWN, 7, 0), 0);
}

TEST_F(LoaderModuleTest, APluginVersionAlreadyGivenIsNotAddedAgain)
{
    SetVariable("[MICRO-CLIENT]", "00000001");
    Use("complete", *mHost, mState->mLoader);
    Params({{u"foaparam", u"x"}});
    ASSERT_TRUE(mHost->StartLoaderHost(mWindow));
    ASSERT_TRUE(mHost->VerifyAndLoad());
    EXPECT_EQ(Calls(), "create empty 1\nsetup foaparam=x 0\n");
}

// External-launcher mode: "<local data>/Vexel/vexelexelauncher.exe" gets the module's path, the game window
// and the words of "exeparam"; nothing of the module runs here and the loading screen leaves the window
// to that program. Without the program the refusal names the support address.
TEST_F(LoaderModuleTest, TheExternalLauncherGetsTheModuleAndTheWindow)
{
    ScopedEnvironment data("XDG_DATA_HOME", mData.Path().string().c_str());
    auto start = [&]
    {
        Use("complete", *mHost, mState->mLoader);
        Params({{u"exeparam", u"\"server 7\" -fast"}});
        mHost->mSettings.mExternal = true;
        return mHost->StartLoaderHost(mWindow) && mHost->VerifyAndLoad();
    };
    EXPECT_FALSE(start());
    EXPECT_EQ(mHost->ErrorText(), u"Cannot start the game launcher, contact help@vexel.test");
    EXPECT_FALSE(mHost->IsLoaded());
    mHost->ResetLoaderHost();

    // A stand-in that writes its words, one a line, and appears whole.
    const std::filesystem::path program = mData / "Vexel" / "vexelexelauncher.exe";
    const std::filesystem::path words = mData / "Vexel" / "words.txt";
    std::filesystem::create_directories(program.parent_path());
    std::ofstream(program) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.tmp\" && mv \"$0.tmp\" '"
                           << words.string() << "'\n";
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    ASSERT_TRUE(start()) << Narrow(mHost->ErrorText());
    EXPECT_TRUE(mHost->IsLoaded());
    const _dword presented = mHost->Screen().Presented();
    for (int frame = 0; frame < 5; ++frame)
    {
        mNow += 200;
        mHost->LoaderFrame();
    }
    EXPECT_EQ(mHost->Screen().Presented(), presented)
        << "the loading screen painted over the launcher's window";
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(words); }));
    EXPECT_EQ(ReadText(words), Narrow(mHost->LoaderPath()) + "\n" +
                                   std::to_string(Ui::GetNativeWindowHandle(mWindow)) +
                                   "\nserver 7\n-fast\n");
    EXPECT_EQ(Calls(), "");
    mHost->ResetLoaderHost();
    WaitForStartedPrograms();
}

// The same mode for a module the scripts start themselves (startLoader with externalLauncher set): the
// loop's loader stage hands the file to the external launcher, or reports that it cannot start it, and
// nothing of the module runs here either way.
TEST_F(LoaderModuleTest, AModuleTheScriptsStartGoesToTheExternalLauncherToo)
{
    ScopedEnvironment data("XDG_DATA_HOME", mData.Path().string().c_str());
    ASSERT_TRUE(EnsureGameFrame(*mState));
    const std::string module = _MODULES + "/complete" VEXEL_TEST_MODULE_SUFFIX;
    std::vector<_byte> bytes;
    ASSERT_TRUE(ReadFile(Wide(module), bytes));
    const std::filesystem::path program = mData / "Vexel" / "vexelexelauncher.exe";
    const std::filesystem::path words = mData / "Vexel" / "words.txt";
    for (bool present : {false, true})
    {
        SCOPED_TRACE(present ? "with the launcher" : "without it");
        if (present)
        {
            std::filesystem::create_directories(program.parent_path());
            std::ofstream(program) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.tmp\" && mv \"$0.tmp\" '"
                                   << words.string() << "'\n";
            std::filesystem::permissions(program, std::filesystem::perms::owner_all);
        }
        mState->mStartMode = 2;
        mState->mLoaderPath = Wide(module);
        mState->mLoaderArgs = {u"exeparam=-fast"};
        mHost->mSettings.mPolicy.acceptedDigests = {Md5Of(bytes.data(), bytes.size())};
        mHost->mSettings.mExternal = true;
        StartLoader(*mState);
        ASSERT_NE(mState->mGameChild, 0u);
        DriveLoader(*mState);
        EXPECT_EQ(mHost->IsLoaded(), present);
        EXPECT_EQ(mHost->ErrorText().empty(), present) << Narrow(mHost->ErrorText());
        if (present)
        {
            ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(words); }));
            EXPECT_EQ(ReadText(words), module + "\n" +
                                           std::to_string(Ui::GetNativeWindowHandle(mState->mGameChild)) +
                                           "\n-fast\n");
        }
        EXPECT_EQ(Calls(), "");
        StopLoader(*mState);
    }
    WaitForStartedPrograms();
}

TEST_F(LoaderModuleTest, TheMarkerKeepsASecondHostFromTheSameLibraryUntilTheFirstUnloads)
{
    Use("complete", *mHost, mState->mLoader);
    ASSERT_TRUE(mHost->StartLoaderHost(mWindow));
    ASSERT_TRUE(mHost->VerifyAndLoad());

    LoaderSource source;
    LoaderHost second(source);
    second.mSleep = [](_dword) {};
    Use("complete", second, source);
    ASSERT_TRUE(second.StartLoaderHost(mWindow));
    EXPECT_FALSE(second.VerifyAndLoad());
    EXPECT_FALSE(second.IsLoaded());
    EXPECT_EQ(second.ErrorText(), u"Loader is already running, contact");
    // The refused host took nothing from the first: it still runs.
    EXPECT_TRUE(mHost->IsLoaded());
    mHost->UnloadModule();

    second.ResetLoaderHost();
    Use("complete", second, source);
    ASSERT_TRUE(second.StartLoaderHost(mWindow));
    EXPECT_TRUE(second.VerifyAndLoad());
    second.ResetLoaderHost();
}

TEST_F(LoaderModuleTest, TheOptionalExportMayBeMissingARequiredOneMayNot)
{
    Use("no-progress", *mHost, mState->mLoader);
    ASSERT_TRUE(mHost->StartLoaderHost(mWindow));
    EXPECT_TRUE(mHost->VerifyAndLoad());
    mHost->ResetLoaderHost();
    std::filesystem::remove(mData / "calls.txt");

    Use("no-message", *mHost, mState->mLoader);
    ASSERT_TRUE(mHost->StartLoaderHost(mWindow));
    EXPECT_FALSE(mHost->VerifyAndLoad());
    EXPECT_FALSE(mHost->IsLoaded());
    EXPECT_EQ(mHost->ErrorText(), u"Invalid loader, contact help@vexel.test");
    // Refused before anything of it ran.
    EXPECT_EQ(Calls(), "");
}

TEST_F(LoaderModuleTest, TheLoadingScreenShowsTheAnimationPercentageAndError)
{
    LoadingScreen screen;
    screen.Prepare();
    ASSERT_TRUE(screen.HasAnimation());
    Ui::Canvas canvas(400, 300);
    screen.Compose(canvas, 0.5f, u"Invalid loader, contact", false);
    EXPECT_EQ(canvas.GetPixel(0, 0), _LOADING_FILL);
    EXPECT_EQ(canvas.GetPixel(399, 299), _LOADING_FILL);
    // The percentage is white text in the middle of the animation.
    auto whiteIn = [&](Ui::Rect r)
    {
        int count = 0;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x)
                count += ((canvas.GetPixel(x, y) >> 16) & 0xFF) > 0xA0;
        return count;
    };
    EXPECT_GT(whiteIn(Ui::Rect::FromSize(179, 141, 40, 16)), 10);
    int below = whiteIn(Ui::Rect::FromSize(0, 185, 400, 60));
    EXPECT_EQ(below, 0);
    screen.Compose(canvas, 1.0f, u"Invalid loader, contact", true);
    EXPECT_GT(whiteIn(Ui::Rect::FromSize(0, 185, 400, 60)), 20);

    // 24 steps of 83 ms each, whatever the image holds.
    std::vector<_byte> bytes;
    ASSERT_TRUE(LoadEmbeddedResource(u"IDR_LOADING", bytes));
    EXPECT_EQ(Ui::UiImage::Decode(bytes.data(), bytes.size())->FrameCount(), _LOADING_FRAMES);
    screen.Draw(mWindow, 83, 0.0f, String(), false);
    EXPECT_EQ(screen.Frame(), 0u);
    EXPECT_EQ(screen.Presented(), 1u);
    screen.Draw(mWindow, 1, 0.0f, String(), false);
    EXPECT_EQ(screen.Frame(), 1u);
    EXPECT_EQ(screen.Presented(), 2u);
    // Nothing changed: the window keeps what it shows.
    screen.Draw(mWindow, 10, 0.0f, String(), false);
    EXPECT_EQ(screen.Presented(), 2u);
    for (int i = 0; i < 23; ++i)
        screen.Draw(mWindow, 84, 0.0f, String(), false);
    EXPECT_EQ(screen.Frame(), 0u);
    screen.Release();
}

TEST_F(LoaderModuleTest, TheDemoGameRendersIntoTheGameChildWindowAfterTheLoadingScreen)
{
    // A game frame of its own for the child window.
    mState->mGameFrame = std::make_unique<GameFrame>();
    ASSERT_TRUE(CreateGameFrameWindow(*mState, 40, 40, 480, 360));
    Ui::ShowUiWindow(mState->mGameFrame->mWindow, Ui::_SW_SHOW);
    LoaderHostOf(*mState).mSettings.mBlockListUrl.clear();
    mState->mLoader.mPath = mData.Wide("vexel3d.lod");
    mHost->SetLoaderSource(u"local:\\" + Wide(_DEMO + "/vexel3d.lod"), String());
    mState->mStartMode = 0;
    Ui::WindowId child = CreateGameChildWindow(*mState);
    ASSERT_NE(child, 0u);
    LayoutGameChildWindow(*mState);
    ASSERT_TRUE(mHost->StartLoaderHost(child));
    Ui::ShowUiWindow(child, Ui::_SW_SHOW);
    ASSERT_TRUE(PumpUntilMapped(child));
    // The loading screen first, on the screen.
    mHost->LoaderFrame();
    EXPECT_GE(mHost->Screen().Presented(), 1u);
    Ui::Canvas shown;
    EXPECT_TRUE(PumpUntil(
        [&] { return Ui::CaptureWindowPixels(child, shown) && shown.GetPixel(10, 10) == _LOADING_FILL; }))
        << std::hex << shown.GetPixel(10, 10);
    ASSERT_TRUE(mHost->VerifyAndLoad()) << Narrow(mHost->ErrorText());
    for (int i = 0; i < 5 && !mHost->FirstFrameDone(); ++i)
    {
        mNow += 20;
        mHost->LoaderFrame();
    }
    EXPECT_TRUE(mHost->FirstFrameDone());
    mHost->ResetLoaderHost();
    DestroyGameChildWindow(*mState);
    EXPECT_EQ(mState->mGameChild, 0u);
}

// A module started directly from the operator's site by the settings: the address's own host holds the
// request, the CDN after it serves; the module becomes the data folder's loader file, passes its
// signature check and runs with the settings' arguments. The next start finds it there by its digest and
// asks no server.
TEST_F(LoaderModuleTest, ADirectStartFromTheSiteFallsBackToTheCdnAndKeepsTheModule)
{
    const std::string module = ReadText(_DEMO + "/vexel3d.lod");
    const std::string path = "/game/vexel3d.lod";
    TestServer holding, cdn;
    holding.AddFile(path, module);
    holding.SetMode(path, TestServer::Mode::Stall);
    cdn.AddFile(path, module);
    mState->mGameFrame = std::make_unique<GameFrame>();
    ASSERT_TRUE(CreateGameFrameWindow(*mState, 40, 40, 480, 360));
    Ui::ShowUiWindow(mState->mGameFrame->mWindow, Ui::_SW_SHOW);
    // The data folder is the current folder, given back at the end (Windows deletes no current folder).
    mState->mAppName.clear();
    struct Back
    {
        String folder = GetCurrentFolder();
        ~Back() { SetCurrentFolder(folder); }
    } back;
    ASSERT_TRUE(SetCurrentFolder(mData.Wide("")));
    const String digest = DigestText(module);
    mManager->SetGlobal(nullptr, "url", TextVar(holding.WideUrl(path)));
    mManager->SetGlobal(nullptr, "md5", TextVar(digest));
    mManager->SetGlobal(nullptr, "cdn", TextVar(u" 127.0.0.1:" + Wide(std::to_string(cdn.Port())) + u" | "));

    // Without a digest nothing could tell a replaced download: nothing starts.
    Run(u"_launcher:startRemoteLoader(url, '')");
    EXPECT_NE(mState->mStartMode, 2);
    EXPECT_TRUE(Logged(u"named without its digest; not started"));
    Run(u"_launcher:startRemoteLoader(url, md5, cdn, 'server=7', '', 'fast')");
    ASSERT_EQ(mState->mStartMode, 2);
    EXPECT_EQ(mState->mLoaderCdn, std::vector<String>{u"127.0.0.1:" + Wide(std::to_string(cdn.Port()))});

    StartLoader(*mState);
    EXPECT_EQ(mHost->RequestAddress(), holding.WideUrl(path) + u"?pv=10004");
    ASSERT_TRUE(PumpUntil([&] { return !mHost->PollLoaderDownload() && holding.HeldConnections() > 0; }));
    mNow += _LOADER_STALL_MS;
    bool ready = PumpUntil(
        [&]
        {
            mNow += 10;
            return mHost->PollLoaderDownload();
        });
    ASSERT_TRUE(ready) << Narrow(mCapture->Text());
    EXPECT_EQ(mHost->CdnIndex(), 1);
    EXPECT_EQ(cdn.Requests(path), 1);
    EXPECT_EQ(ReadText(mData / "vexel3d.lod"), module);
    ASSERT_TRUE(mHost->VerifyAndLoad()) << Narrow(mHost->ErrorText());
    EXPECT_EQ(mState->mLoader.mParamNames, (std::vector<String>{u"server", u"fast"}));
    EXPECT_EQ(mState->mLoader.mParamValues, (std::vector<String>{u"7", u"fast"}));
    StopLoader(*mState);

    // A file that is the one named, from an earlier start: no download.
    mCapture->Clear();
    StartLoader(*mState);
    EXPECT_TRUE(Logged(u"[MC] Loader is the cached file "));
    EXPECT_TRUE(mHost->PollLoaderDownload());
    EXPECT_EQ(cdn.Requests(path), 1);
    StopLoader(*mState);

    // startLoader afterwards names a local file again.
    WriteBytes(mData / "local.lod", module);
    mManager->SetGlobal(nullptr, "lod", TextVar(mData.Wide("local.lod")));
    Run(u"_launcher:startLoader(lod)");
    EXPECT_TRUE(mState->mLoaderUrl.empty());
}

} // namespace
} // namespace Vexel::Test

#endif
