// The main loop's rules: the pump's sleeps and idle calls, navigation of the main page, the main page
// events and the exit question.
#include "PortalTestSupport.h"

#include <thread>

namespace Vexel::Test
{
namespace
{

using LauncherMainLoopTest = PortalTest;

TEST_F(LauncherMainLoopTest, PumpSleepsByWindowStateAndCallsIdleWithElapsedTime)
{
    ASSERT_TRUE(CreateFrameWindow(*mState, _FRAME_MAIN, u"pump", 50, 50, 200, 150, 1));
    Ui::WindowId window = mState->mFrames[_FRAME_MAIN]->mWindow;
    Ui::ShowUiWindow(window, Ui::_SW_SHOW);
    Ui::SetForegroundUiWindow(window);
    ASSERT_TRUE(PumpUntil([&] { return Ui::GetForegroundUiWindow() == window; }));
    EXPECT_EQ(PumpSleep(window, true), 10u);
    EXPECT_EQ(PumpSleep(window, false), 0u);

    // Idle turns get the time since the previous one; false ends the pump without a quit.
    std::vector<_dword> elapsed;
    mSleeps.clear();
    bool quit = PumpMessages(
        window,
        [&](_dword ms)
        {
            elapsed.push_back(ms);
            mNow += 7;
            return elapsed.size() < 3;
        },
        true);
    EXPECT_FALSE(quit);
    ASSERT_EQ(elapsed.size(), 3u);
    EXPECT_EQ(elapsed[0], 0u);
    EXPECT_EQ(elapsed[1], 7u);
    ASSERT_EQ(mSleeps.size(), 2u);
    EXPECT_EQ(mSleeps[0], 10u);

    // A quit ends it before any idle turn.
    Ui::PostQuit(0);
    elapsed.clear();
    EXPECT_TRUE(PumpMessages(
        window,
        [&](_dword ms)
        {
            elapsed.push_back(ms);
            return true;
        },
        false));
    EXPECT_TRUE(elapsed.empty());

    Ui::ShowUiWindow(window, Ui::_SW_MINIMIZE);
    ASSERT_TRUE(PumpUntil([&] { return Ui::IsUiWindowMinimized(window); }));
    EXPECT_EQ(PumpSleep(window, true), 200u);
    Ui::ShowUiWindow(window, Ui::_SW_RESTORE);
    Ui::WindowParams p;
    p.title = u"other";
    p.width = p.height = 100;
    p.style = Ui::_WS_POPUP | Ui::_WS_VISIBLE;
    p.handler = Ui::DefaultHandler;
    Ui::WindowId other = Ui::NewWindow(p);
    Ui::SetForegroundUiWindow(other);
    ASSERT_TRUE(PumpUntil([&] { return Ui::GetForegroundUiWindow() == other; }));
    EXPECT_EQ(PumpSleep(window, true), 20u);
    Ui::DestroyUiWindow(other);
}

TEST_F(LauncherMainLoopTest, PumpWithoutIdleFunctionWaitsForMessagesFromOtherThreads)
{
    // The real waits: with nothing to poll, the pump sleeps until a message comes, so one posted by a
    // worker thread, and then its quit, must wake it.
    SetLoopClock({});
    std::vector<Ui::WParam> seen;
    Ui::WindowParams p;
    p.title = u"pump";
    p.width = p.height = 100;
    p.style = Ui::_WS_POPUP;
    p.handler = [&](Ui::WindowId window, _dword message, Ui::WParam wParam, Ui::LParam lParam)
    {
        if (message == Ui::_WM_USER + 7)
            seen.push_back(wParam);
        return Ui::DefaultHandler(window, message, wParam, lParam);
    };
    Ui::WindowId window = Ui::NewWindow(p);
    ASSERT_NE(window, 0u);
    Drain();
    std::thread worker(
        [window]
        {
            Ui::PostUiMessage(window, Ui::_WM_USER + 7, 1, 0);
            Ui::PostUiMessage(window, Ui::_WM_USER + 7, 2, 0);
            Ui::PostQuit(0);
        });
    EXPECT_TRUE(PumpMessages(window, nullptr, true));
    worker.join();
    EXPECT_EQ(seen, (std::vector<Ui::WParam>{1, 2}));
    Ui::DestroyUiWindow(window);
}

TEST_F(LauncherMainLoopTest, SwitchLocationReplacesTheBrowserAndChoosesTheStage)
{
    mServer.Page("/login", "<html><body>login</body></html>");
    mServer.Page("/news", "<html><body>news</body></html>");
    mState->mFrameUrls = {mServer.Url("/login")};
    WebRef first = AddMainPage(mServer.Url("/news"));
    ASSERT_TRUE(WaitReady(*first));

    mState->mStartMode = 0;
    SwitchLocation(*mState, mServer.Url("/login?from=x"), 1);
    EXPECT_EQ(mState->mStartMode, 1);
    EXPECT_TRUE(Logged(u"Switching to frame url " + mServer.Url("/login?from=x")));
    WebRef second = MainPage(*mState);
    ASSERT_TRUE(second);
    EXPECT_NE(second.get(), first.get());
    ASSERT_TRUE(PumpUntil([&] { return second->mReady; }));
    EXPECT_EQ(CurrentUrl(*second), mServer.Url("/login?from=x"));

    SwitchLocation(*mState, mServer.Url("/news"), 0);
    EXPECT_EQ(mState->mStartMode, 0);
    EXPECT_TRUE(Logged(u"[MC] Switch location to: " + mServer.Url("/news") + u", restart 0"));

    // A loader started directly keeps its stage.
    mState->mStartMode = 2;
    SwitchLocation(*mState, mServer.Url("/news"), 0);
    EXPECT_EQ(mState->mStartMode, 2);
}

TEST_F(LauncherMainLoopTest, AGameAddressInTheFrameStageHidesThePageAndEndsThePass)
{
    mServer.Page("/servers", "<html><body>servers</body></html>");
    mServer.Page("/game", "<html><body>game</body></html>");
    mState->mFrameUrls = {mServer.Url("/servers")};
    mState->mQuietUrls = {u"/game"};
    mState->mStartMode = 1;
    WebRef page = AddMainPage(mServer.Url("/servers"));
    ASSERT_TRUE(PumpUntil([&] { return page->mReady && Ui::IsUiWindowVisible(page->mWindow); }));
    EXPECT_FALSE(Drain()); // a frame URL is shown, the pass goes on

    NavigateWeb(*page, mServer.Url("/game?w=800&h=600"));
    // Pumped by Drain, which notes the pass's end (PumpUntil would drop it with the page's own messages).
    bool ended = false;
    ASSERT_TRUE(PumpUntil(
        [&]
        {
            ended = Drain() || ended;
            return mState->mGameShown;
        }));
    EXPECT_EQ(mState->mGameState, 1);
    EXPECT_EQ(mState->mLoginPage, page);
    EXPECT_EQ(mState->mLoadingWidth, 800);
    EXPECT_EQ(mState->mLoadingHeight, 600);
    EXPECT_FALSE(Ui::IsUiWindowVisible(page->mWindow));
    EXPECT_TRUE(Logged(u"[MC] Found game url, " + mServer.Url("/game?w=800&h=600")));
    EXPECT_TRUE(Drain() || ended);
}

TEST_F(LauncherMainLoopTest, ExitQuestionByExitPagePromptOrMessageBox)
{
    mServer.Page("/bye", "<html><body>bye</body></html>");
    // An exit page: the main page goes there and the pass may end.
    AddMainPage(mServer.Url("/bye"));
    EXPECT_TRUE(AskExit(*mState, 0, mServer.Url("/bye")));
    EXPECT_TRUE(Logged(u"[MC] Switch location to: " + mServer.Url("/bye")));
    EXPECT_EQ(mState->mLoopEnd, 0);

    // A box answered No keeps the program; one answered Yes ends it. A second close while it is open
    // does nothing.
    mState->mTitle = u"Exit question test";
    mState->mPrompts[0] = u"Leave?";
    Ui::WindowId timerWindow = mState->mFrames[_FRAME_MAIN]->mWindow;
    int answer = Ui::_IDNO;
    bool secondClose = true;
    mState->mFrameHook = [&](FrameWindow&, _dword message, Ui::WParam, Ui::LParam, Ui::Point)
    {
        if (message != Ui::_WM_TIMER)
            return false;
        if (Ui::WindowId box = Ui::FindUiWindow(u"Exit question test"))
        {
            secondClose = AskExit(*mState, 0, String());
            Ui::SendUiMessage(box, Ui::_WM_COMMAND, static_cast<Ui::WParam>(answer));
        }
        return true;
    };
    Ui::SetUiTimer(timerWindow, 9, 20);
    EXPECT_FALSE(AskExit(*mState, timerWindow, String()));
    EXPECT_EQ(mState->mLoopEnd, 0);
    EXPECT_FALSE(secondClose);
    answer = Ui::_IDYES;
    secondClose = true;
    EXPECT_TRUE(AskExit(*mState, timerWindow, String()));
    EXPECT_EQ(mState->mLoopEnd, 1);
    EXPECT_FALSE(secondClose);
    Ui::KillUiTimer(timerWindow, 9);
    EXPECT_TRUE(AskExit(*mState, timerWindow, String())); // already leaving

    // With a prompt window the question goes there, with exit as its action.
    mState->mLoopEnd = 0;
    mState->mFrameHook = nullptr;
    ASSERT_TRUE(CreateFrameWindow(*mState, _FRAME_PROMPT, u"prompt", 0, 0, 300, 150, 2));
    mState->mFrames[_FRAME_PROMPT]->AddLabel(0, 10, 10, 280, 40, String(), String(), 0, 14, 0);
    EXPECT_FALSE(AskExit(*mState, timerWindow, String()));
    EXPECT_EQ(mState->mPromptAction, _PROMPT_EXIT);
    EXPECT_EQ(mState->mFrames[_FRAME_PROMPT]->mLabels[0].mText, u"Leave?");
    EXPECT_TRUE(Ui::IsUiWindowVisible(mState->mFrames[_FRAME_PROMPT]->mWindow));
    EXPECT_EQ(mState->mLoopEnd, 0);
    // Confirming it ends the program.
    HandleGameFrameMessage(*mState, _WM_PROMPT_CONFIRMED, _FRAME_PROMPT, 0);
    EXPECT_EQ(mState->mLoopEnd, 1);
    EXPECT_EQ(mState->mPromptAction, _PROMPT_NONE);
    EXPECT_TRUE(Drain());
}

// Runs the loop until the game stage has read the loader, then asks it to end.
class LauncherLoopRunTest : public PortalTest
{
protected:
    void RunUntilGame()
    {
        Ui::WindowParams p;
        p.title = u"loop watcher";
        p.width = p.height = 10;
        p.handler = [this](Ui::WindowId w, _dword message, Ui::WParam wParam, Ui::LParam lParam)
        {
            // A loop that never gets there ends after a while, failing instead of hanging.
            if (message == Ui::_WM_TIMER &&
                ((mState->mGameState == 2 && mCapture->Contains(u"Game loader to load")) || ++mTicks > 1500))
            {
                mState->mLoopEnd = 1;
                EndPass();
            }
            return Ui::DefaultHandler(w, message, wParam, lParam);
        };
        Ui::WindowId watcher = Ui::NewWindow(p);
        SetLoopClock({}); // the real clock: the loop waits on pages here
        Ui::SetUiTimer(watcher, 1, 20);
        RunMainLoop(*mState);
        Ui::DestroyUiWindow(watcher);
    }
    void Pages()
    {
        mServer.Page("/servers",
                     "<html><body><script>location.href = '/game?w=640&h=480';</script></body></html>");
        mServer.Page("/game",
                     "<html><body><param name='libmd5' value='0123'><param name='liburl' "
                     "value='http://127.0.0.1:1/l.lod'><param name='param1' value='a=b'></body></html>");
        mState->mFrameUrls = {mServer.Url("/servers")};
        mState->mQuietUrls = {u"/game"};
        mState->mUseCurrentPath = true;
        InstallHandlers(*mState);
    }
    TempDir mData;
    int mTicks = 0;
};

TEST_F(LauncherLoopRunTest, WebStageFindsTheGamePageAndEntersTheGameStage)
{
    Pages();
    ASSERT_TRUE(SetCurrentFolder(mData.Wide()));
    mState->mStartMode = 0;
    mState->mStartUrl = mServer.Url("/game");
    RunUntilGame();
    EXPECT_TRUE(Logged(u"[MC] Show web window"));
    EXPECT_TRUE(Logged(u"[MC] Show page at: " + mServer.Url("/game")));
    EXPECT_TRUE(Logged(u"[MC] Show game window, game stage 0, mc type 2"));
    EXPECT_TRUE(Logged(u"[MC] Game loader to load: url http://127.0.0.1:1/l.lod, md5 0123, path "));
    EXPECT_TRUE(Logged(u", 1 parameters"));
    // The reset after the pass.
    EXPECT_EQ(mState->mGameState, 0);
    EXPECT_TRUE(mState->mCurrentPageUrl.empty());
}

TEST_F(LauncherLoopRunTest, FrameStageFollowsTheMainPageToTheGame)
{
    Pages();
    ASSERT_TRUE(SetCurrentFolder(mData.Wide()));
    mState->mStartMode = 1;
    AddMainPage(mServer.Url("/servers"));
    RunUntilGame();
    EXPECT_TRUE(Logged(u"[MC] Show frame window, 0, 0"));
    EXPECT_TRUE(Logged(u"[MC] Main window shown"));
    EXPECT_TRUE(Logged(u"[MC] Found game url, " + mServer.Url("/game?w=640&h=480")));
    EXPECT_TRUE(Logged(u"[MC] No game window, continue loop main window."));
    EXPECT_TRUE(Logged(u"[MC] Show game window, game stage 1, mc type 2"));
    EXPECT_EQ(mState->mLoadingWidth, 640);
    // Back in the main window, hidden, for the next pass.
    EXPECT_EQ(Ui::GetParentWindow(MainPage(*mState)->mWindow), mState->mFrames[_FRAME_MAIN]->mWindow);
}

TEST(LauncherUrlRules, Sizes)
{
    EXPECT_EQ(ReadSizeValue(u"http://a/game?w=1024&h=768", u"w="), 1024);
    EXPECT_EQ(ReadSizeValue(u"http://a/game?h=768", u"w="), 0);
    EXPECT_EQ(ReadSizeValue(u"http://a/game?w=&w=12", u"w="), 12);
    EXPECT_EQ(ReadSizeValue(u"http://a/game?w=abc", u"w="), 0);
}

} // namespace
} // namespace Vexel::Test
