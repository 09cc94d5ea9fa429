// Choosing the loader from the game page's `param` elements, and the wait for them.
#include "PortalTestSupport.h"

#if !defined(_WIN32)
#include "../Tools/ToolRunner.h"
#endif
#include "Services/LoaderChoice.h"

#include "Common/Md5.h"
#include "Platform/File.h"

#include <filesystem>

namespace Vexel::Test
{
namespace
{

class LauncherLoaderChoiceTest : public PortalTest
{
protected:
    void SetUp() override
    {
        PortalTest::SetUp();
        ASSERT_TRUE(SetCurrentFolder(mData.Wide()));
        mState->mUseCurrentPath = true;
        mState->mAppTimeout = 1000;
    }
    TempDir mData;
};

TEST_F(LauncherLoaderChoiceTest, ParametersAddressDigestAndCdnListFromThePage)
{
    mServer.Page("/game", "<html><body><object>"
                          "<param name='libmd5' value='0123456789ABCDEF0123456789abcdef'>"
                          "<param name='liburl' value=' http://127.0.0.1:1/vexel3d.lod '>"
                          "<param name='size' value='12'>"
                          "<param name='param1' value='server=s1=x'>"
                          "<param name='paramX' value='plain'>"
                          "<param name='Param2' value='ignored=1'>"
                          "<param name='param3' value='cdnip=10.0.0.1| 10.0.0.2\t'>"
                          "</object></body></html>");
    WebRef page = AddMainPage(mServer.Url("/game"));
    ASSERT_TRUE(WaitReady(*page));
    mState->mGameState = 1;
    EXPECT_TRUE(ChooseLoader(*mState));
    EXPECT_EQ(mState->mGameState, 2);
    const LoaderSource& loader = mState->mLoader;
    EXPECT_EQ(loader.mUrl, u"http://127.0.0.1:1/vexel3d.lod");
    EXPECT_EQ(loader.mMd5, u"0123456789ABCDEF0123456789abcdef");
    EXPECT_EQ(loader.mSizeMb, 12);
    EXPECT_EQ(loader.mParamNames, (std::vector<String>{u"server", u"plain", u"cdnip"}));
    EXPECT_EQ(loader.mParamValues, (std::vector<String>{u"s1=x", u"plain", u"10.0.0.1| 10.0.0.2\t"}));
    EXPECT_EQ(loader.mCdn, (std::vector<String>{u"10.0.0.1", u"10.0.0.2"}));
    EXPECT_EQ(loader.mPath, JoinFolder(mData.Wide(), u"vexel3d.lod"));
    EXPECT_EQ(mState->mGamePage, page);
    EXPECT_TRUE(Logged(u"[MC] Use remote loader:  http://127.0.0.1:1/vexel3d.lod , "));
    EXPECT_TRUE(Drain());

    // A loader file the scripts placed wins over the page's address.
    WriteBytes(mData / "mine.lod", "module");
    mState->mLoaderPath = mData.Wide("mine.lod");
    mState->mGameState = 1;
    mNow += _PARAM_READ_INTERVAL;
    EXPECT_TRUE(ChooseLoader(*mState));
    EXPECT_EQ(mState->mLoader.mUrl, u"local:\\" + mData.Wide("mine.lod"));
    EXPECT_TRUE(mState->mLoader.mMd5.empty());
    EXPECT_TRUE(Logged(u"[MC] Use local loader: " + mData.Wide("mine.lod")));
}

// The operator tool runs as a program of the build machine (a cross build cannot start its own).
#if !defined(_WIN32)
TEST_F(LauncherLoaderChoiceTest, TheOperatorToolsParamBlockIsWhatThePageReaderTakes)
{
    WriteBytes(mData / "module.lod", std::string(5 * 1024 * 1024 + 1, 'x'));
    ToolRun run =
        RunVexelpack(mData, {"gamepage", (mData / "module.lod").string(), "http://game.example.com/v3.lod",
                             "--param", "server=s1&b=\"2\"", "--cdn", "127.0.0.1:81", "--cdn", "10.0.0.2"});
    ASSERT_EQ(run.code, 0) << run.err;
    mServer.Page("/game", "<html><body><object>" + run.out + "</object></body></html>");
    WebRef page = AddMainPage(mServer.Url("/game"));
    ASSERT_TRUE(WaitReady(*page));
    mState->mGameState = 1;
    ASSERT_TRUE(ChooseLoader(*mState));
    const LoaderSource& loader = mState->mLoader;
    EXPECT_EQ(loader.mUrl, u"http://game.example.com/v3.lod");
    EXPECT_EQ(loader.mMd5, Md5ToText(FileDigest(mData.Wide("module.lod"))));
    EXPECT_EQ(loader.mSizeMb, 6);
    EXPECT_EQ(loader.mParamNames, (std::vector<String>{u"server", u"cdnip"}));
    EXPECT_EQ(loader.mParamValues, (std::vector<String>{u"s1&b=\"2\"", u"127.0.0.1:81|10.0.0.2"}));
    EXPECT_EQ(loader.mCdn, (std::vector<String>{u"127.0.0.1:81", u"10.0.0.2"}));
}
#endif

TEST_F(LauncherLoaderChoiceTest, OneParameterWaitsForTheTimeOutThenReloads)
{
    mServer.Page("/game", "<html><body><param name='libmd5' value='00'></body></html>");
    WebRef page = AddMainPage(mServer.Url("/game"));
    ASSERT_TRUE(WaitReady(*page));
    int reloads = 0;
    page->mOnRestart = [&](WebWindow&) { ++reloads; };
    mState->mGameState = 1;
    EXPECT_FALSE(ChooseLoader(*mState)); // the wait starts
    mNow += 999;
    EXPECT_FALSE(ChooseLoader(*mState));
    EXPECT_FALSE(Logged(u"Timeout of getting game param"));
    mNow += 1;
    EXPECT_FALSE(ChooseLoader(*mState));
    EXPECT_TRUE(Logged(u"[MC] Timeout of getting game param, refresh " + mServer.Url("/game")));
    EXPECT_EQ(mState->mGameState, 1);
    ASSERT_TRUE(PumpUntil([&] { return reloads == 1 && page->mReady; }));
    EXPECT_FALSE(Drain()); // still waiting
}

TEST_F(LauncherLoaderChoiceTest, OnAFrameUrlTheTimeOutStopsWaiting)
{
    mServer.Page("/servers", "<html><body><param name='libmd5' value='00'></body></html>");
    mState->mFrameUrls = {String(), mServer.Url("/servers")};
    WebRef page = AddMainPage(mServer.Url("/servers"));
    ASSERT_TRUE(WaitReady(*page));
    int reloads = 0;
    page->mOnRestart = [&](WebWindow&) { ++reloads; };
    mState->mGameState = 1;
    ChooseLoader(*mState);
    mNow += 1000;
    ChooseLoader(*mState);
    EXPECT_EQ(mState->mGameState, 0);
    EXPECT_TRUE(Drain());
    EXPECT_EQ(reloads, 0);
}

TEST_F(LauncherLoaderChoiceTest, InstallFolderFromInstallInfo)
{
    TempDir root, games;
    mState->mUseCurrentPath = false;
    mState->mAppName = u"Demo";
    mState->mUserRoot = root.Wide();
    // First time: the per-user folder, written back to install.inf with its case kept.
    String chosen = ChooseDataFolder(*mState, 10);
    EXPECT_EQ(chosen, JoinFolder(root.Wide(), u"Demo"));
    EXPECT_EQ(mState->mLoader.mPath, JoinFolder(chosen, u"vexel3d.lod"));
    std::string info = ReadBytes(root / "Demo" / "install.inf");
    EXPECT_EQ(info.size(), chosen.size() * 2);
    // A folder named there is used.
    String named = games.Wide("My Games");
    ASSERT_TRUE(CreateFolder(named));
    std::string bytes;
    for (char16_t c : named)
        bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    WriteBytes(root / "Demo" / "install.inf", bytes);
    EXPECT_EQ(ChooseDataFolder(*mState, 10), named);
    // The same folder, in the system's own spelling of it (with "\\" on Windows).
    EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::path(std::u16string(GetCurrentFolder())),
                                            std::filesystem::path(std::u16string(named))));
}

} // namespace
} // namespace Vexel::Test
