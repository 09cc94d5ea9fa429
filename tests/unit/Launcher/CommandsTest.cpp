// The launcher's handlers: page commands, the refresh command, the close guard, server change and the
// boss-key settings.
#include "PortalTestSupport.h"

#include "Services/LoaderHost.h"

#include "Common/Md5.h"
#include "Platform/File.h"
#include "TestServer.h"

namespace Vexel::Test
{
namespace
{

class LauncherCommandsTest : public PortalTest
{
protected:
    Ui::LResult Invoke(const char16_t* command, const InvokeArgs* args = nullptr)
    {
        return Ui::SendUiMessage(mState->mGameFrame->mWindow, _WM_INVOKE,
                                 reinterpret_cast<Ui::WParam>(command), reinterpret_cast<Ui::LParam>(args));
    }
    void MakeGameFrame()
    {
        InstallHandlers(*mState);
        ASSERT_TRUE(EnsureGameFrame(*mState));
    }
    // A game child window in the game frame with the test module loaded into it: a game that runs.
    void RunTestModule()
    {
        Ui::WindowParams p;
        p.style = Ui::_WS_CHILD; // shown once it is native, as the launcher does
        p.parent = mState->mGameFrame->mWindow;
        p.width = 100;
        p.height = 100;
        mState->mGameChild = Ui::NewWindow(p);
        ASSERT_NE(mState->mGameChild, 0u);
        const std::string file = std::string(VEXEL_TEST_MODULE_DIR) + "/complete.so";
        const String path(file.begin(), file.end());
        std::vector<_byte> bytes;
        ASSERT_TRUE(ReadFile(path, bytes));
        LoaderHost& host = LoaderHostOf(*mState);
        host.mSettings.mPolicy.acceptedDigests = {Md5Of(bytes.data(), bytes.size())};
        host.SetLoaderSource(u"local:\\" + path, String());
        ASSERT_TRUE(host.StartLoaderHost(mState->mGameChild));
        ASSERT_TRUE(host.VerifyAndLoad()) << Narrow(host.ErrorText());
        Ui::ShowUiWindow(mState->mGameChild, Ui::_SW_SHOW);
    }
    void TearDown() override
    {
        if (mState && mState->mLoaderHost)
            mState->mLoaderHost->ResetLoaderHost();
        PortalTest::TearDown();
    }
    // A shown game frame holding a shown game child window (no module in it).
    Ui::WindowId ShowGameChild()
    {
        Ui::WindowId frame = mState->mGameFrame->mWindow;
        Ui::ShowUiWindow(frame, Ui::_SW_SHOW);
        Ui::WindowParams p;
        p.style = Ui::_WS_CHILD | Ui::_WS_VISIBLE;
        p.parent = frame;
        p.width = 100;
        p.height = 100;
        return mState->mGameChild = Ui::NewWindow(p);
    }
    // While it is on, a timer of the frame window answers the message box of that title (its button id in
    // *answer) and counts the boxes answered.
    void AnswerBoxes(FrameWindow& timerFrame, const String& title, const int* answer, int* answered)
    {
        mState->mFrameHook = [=](FrameWindow&, _dword message, Ui::WParam, Ui::LParam, Ui::Point)
        {
            if (message != Ui::_WM_TIMER)
                return false;
            if (Ui::WindowId box = Ui::FindUiWindow(title))
            {
                ++*answered;
                Ui::SendUiMessage(box, Ui::_WM_COMMAND, static_cast<Ui::WParam>(*answer));
            }
            return true;
        };
        Ui::SetUiTimer(timerFrame.mWindow, 9, 20);
    }
    void StopAnswering(FrameWindow& timerFrame)
    {
        Ui::KillUiTimer(timerFrame.mWindow, 9);
        mState->mFrameHook = nullptr;
    }
    void MakePrompt()
    {
        ASSERT_TRUE(CreateFrameWindow(*mState, _FRAME_PROMPT, u"prompt", 0, 0, 300, 150, 2));
        mState->mFrames[_FRAME_PROMPT]->AddLabel(0, 10, 10, 280, 40, String(), String(), 0, 14, 0);
    }
};

TEST_F(LauncherCommandsTest, PageCommands)
{
    MakeGameFrame();
    mState->mTitle = u"game";
    Drain();

    // refresh: to the given address, ending the pass; without arguments nothing.
    Invoke(u"refresh");
    EXPECT_FALSE(Drain());
    InvokeArgs to = {u"http://127.0.0.1:1/again"};
    Invoke(u"refresh", &to);
    EXPECT_TRUE(Logged(u"[MC] _WM_INVOKE called, refresh"));
    EXPECT_TRUE(Logged(u"[MC] Switch location to: http://127.0.0.1:1/again, restart 0"));
    EXPECT_TRUE(Drain());

    Invoke(u"logindone");
    EXPECT_TRUE(mState->mLoginDone);

    // The game frame ignores close requests until a page says "maxwin".
    EXPECT_TRUE(mState->mGameFrame->mCloseGuard);
    Ui::SendUiMessage(mState->mGameFrame->mWindow, Ui::_WM_CLOSE);
    EXPECT_EQ(mState->mLoopEnd, 0);
    EXPECT_FALSE(Drain());
    Invoke(u"maxwin");
    EXPECT_FALSE(mState->mGameFrame->mCloseGuard);
    MakePrompt();
    Ui::SendUiMessage(mState->mGameFrame->mWindow, Ui::_WM_CLOSE);
    EXPECT_EQ(mState->mPromptAction, _PROMPT_EXIT); // now it asks

    // openvideo needs six arguments.
    InvokeArgs five = {u"10", u"20", u"320", u"240", u"http://127.0.0.1:1/video"};
    EXPECT_EQ(Invoke(u"openvideo", &five), 0);
    EXPECT_TRUE(Logged(u"[MC] Openvideo / QQpay param count error 5"));
    EXPECT_FALSE(mState->mVideoPopup);
    mServer.Page("/video", "<html><body>video</body></html>");
    InvokeArgs six = {u"10", u"20", u"320", u"240", mServer.Url("/video"), u"Video"};
    EXPECT_EQ(HandlePageCommand(*mState, u"qqpay", &six), 1);
    ASSERT_TRUE(mState->mVideoPopup);
    EXPECT_EQ(mState->mVideoPopup->mKind, _WEB_FOLLOWER);
    EXPECT_EQ(Ui::GetWindowTitle(mState->mVideoPopup->mWindow), u"Video");
    EXPECT_TRUE(Logged(u"[MC] Openvideo / QQpay: 10,20,320,240," + mServer.Url("/video") + u",Video"));
    EXPECT_EQ(Invoke(u"unknown"), 0);

    // A script cannot hand a number where a text's address belongs.
    ASSERT_TRUE(
        Run(u"_launcher:sendMsg(0x43E, 5, 0) _launcher:sendMsg(0x4C9, 7, 1) _launcher:sendMsg(0x501, 9, 0)"));
    EXPECT_EQ(Count(u"refused: its parameters are addresses"), 3);
}

// The page command the scripts named as the kick command logs the player off: to the exit address, else
// to the page now shown, else nowhere.
TEST_F(LauncherCommandsTest, KickCommandLogsOffToTheExitAddressElseTheCurrentPage)
{
    MakeGameFrame();
    Drain();
    mState->mKickFunc = u"kicked";
    mState->mExitUrl = u"http://127.0.0.1:1/bye";
    mState->mCurrentPageUrl = u"http://127.0.0.1:1/now";
    EXPECT_EQ(Invoke(u"kicked"), 0);
    EXPECT_TRUE(Logged(u"[MC] Logoff to http://127.0.0.1:1/bye"));
    EXPECT_TRUE(Logged(u"[MC] Switch location to: http://127.0.0.1:1/bye, restart 0"));
    EXPECT_TRUE(Drain());

    mState->mExitUrl.clear();
    Invoke(u"kicked");
    EXPECT_TRUE(Logged(u"[MC] Logoff to http://127.0.0.1:1/now"));
    EXPECT_TRUE(Drain());

    mState->mCurrentPageUrl.clear();
    Invoke(u"kicked");
    EXPECT_EQ(Count(u"[MC] Logoff to"), 2);
    EXPECT_FALSE(Drain());
    mState->mExitUrl = u"http://127.0.0.1:1/bye";
    Invoke(u"Kicked"); // names are matched exactly
    EXPECT_EQ(Count(u"[MC] Logoff to"), 2);
    EXPECT_FALSE(Drain());
}

// What scripts send to the game frame while it shows: hide a slot, run the set-up program (its window
// gives way to the progress window, or the pass ends when it cannot start), the exit notice.
TEST_F(LauncherCommandsTest, SlotMessagesReachTheirHandlersThroughTheVisibleGameFrame)
{
    MakeGameFrame();
    Ui::WindowId frame = mState->mGameFrame->mWindow;
    Ui::ShowUiWindow(frame, Ui::_SW_SHOW);
    for (int slot : {2, 4, 5})
        ASSERT_TRUE(CreateFrameWindow(*mState, slot, u"slot", 0, 0, 100, 60, 2));
    auto visible = [&](int slot) { return Ui::IsUiWindowVisible(mState->mFrames[slot]->mWindow); };
    TempDir folder;
    SetCurrentFolder(folder.Wide());
    mState->mPluginUrl = u"http://127.0.0.1:1/vexelsetup.exe";
    Drain();

    Ui::ShowUiWindow(mState->mFrames[2]->mWindow, Ui::_SW_SHOW);
    Ui::SendUiMessage(frame, _WM_HIDE_SLOT, 2, 0);
    EXPECT_FALSE(visible(2));
    EXPECT_FALSE(Drain());

    // No set-up program in the folder: the pass ends.
    Ui::ShowUiWindow(mState->mFrames[4]->mWindow, Ui::_SW_SHOW);
    Ui::SendUiMessage(frame, _WM_RUN_SETUP, 0, 0);
    EXPECT_FALSE(visible(4));
    EXPECT_FALSE(visible(5));
    EXPECT_TRUE(Drain());
    // With it: started with "-s", and the progress window shows.
    WriteBytes(folder / "vexelsetup.exe", "#!/bin/sh\necho \"$@\" > \"$0.args\"\n");
    std::filesystem::permissions(folder / "vexelsetup.exe", std::filesystem::perms::owner_all);
    Ui::ShowUiWindow(mState->mFrames[4]->mWindow, Ui::_SW_SHOW);
    Ui::SendUiMessage(frame, _WM_RUN_SETUP, 0, 0);
    EXPECT_FALSE(visible(4));
    EXPECT_TRUE(visible(5));
    EXPECT_FALSE(Drain());
    EXPECT_TRUE(WaitUntil([&] { return ReadBytes(folder / "vexelsetup.exe.args") == "-s\n"; }));

    Ui::SendUiMessage(frame, _WM_EXIT_NOTICE, 0, 0);
    EXPECT_TRUE(Logged(u"[MC] Notified to exit"));
    EXPECT_EQ(mState->mLoopEnd, 1);
    EXPECT_TRUE(Drain());
}

// A game started directly (start mode 2) gives the frame to a menu entry's page and gets it back with
// the game entry.
TEST_F(LauncherCommandsTest, MenuPagesAndTheGameEntryShareTheFrameOfADirectlyStartedGame)
{
    mServer.Page("/news", "<html><body>news</body></html>");
    MakeGameFrame();
    mState->mStartMode = 2;
    Ui::WindowId child = ShowGameChild();
    ASSERT_NE(child, 0u);

    HandleMenuCommand(*mState, 5, u"News", mServer.Url("/news"));
    EXPECT_FALSE(Ui::IsUiWindowVisible(child));
    WebRef page;
    for (const auto& entry : mState->mPages)
        if (entry.mId == 5)
            page = entry.mWeb;
    ASSERT_TRUE(page);
    EXPECT_TRUE(PumpUntil([&] { return Ui::IsUiWindowVisible(page->mWindow); }));

    HandleMenuCommand(*mState, _CMD_GAME, String(), String());
    EXPECT_TRUE(Ui::IsUiWindowVisible(child));
    EXPECT_FALSE(Ui::IsUiWindowVisible(page->mWindow));
    Ui::DestroyUiWindow(child);
    mState->mGameChild = 0;
}

// Presses in the game frame: a left press, on the title bar too, hides the server, boss-key and prompt
// windows; a left or right press in the frame gives the game the keyboard, and the release gives it back to
// the frame.
TEST_F(LauncherCommandsTest, PressesInTheGameFrameHideTheSlotsAndMoveTheFocus)
{
    MakeGameFrame();
    Ui::WindowId frame = mState->mGameFrame->mWindow;
    Ui::WindowId child = ShowGameChild();
    ASSERT_NE(child, 0u);
    for (int slot = 1; slot <= 3; ++slot)
        ASSERT_TRUE(CreateFrameWindow(*mState, slot, u"slot", 0, 0, 100, 60, 2));
    auto showSlots = [&]
    {
        for (int slot = 1; slot <= 3; ++slot)
            Ui::ShowUiWindow(mState->mFrames[slot]->mWindow, Ui::_SW_SHOWNA);
    };
    auto slotsShown = [&]
    {
        int shown = 0;
        for (int slot = 1; slot <= 3; ++slot)
            shown += Ui::IsUiWindowVisible(mState->mFrames[slot]->mWindow) ? 1 : 0;
        return shown;
    };
    ASSERT_TRUE(PumpUntilMapped(frame));
    Ui::SetFocusUiWindow(frame);
    ASSERT_TRUE(PumpUntil([&] { return Ui::GetFocusUiWindow() == frame; }));

    showSlots();
    HandleGameFrameMessage(*mState, Ui::_WM_NCLBUTTONDOWN, 2, 0);
    EXPECT_EQ(slotsShown(), 0);
    ASSERT_TRUE(PumpPending());
    EXPECT_EQ(Ui::GetFocusUiWindow(), frame); // the title bar keeps the keyboard where it was

    showSlots();
    HandleGameFrameMessage(*mState, Ui::_WM_LBUTTONDOWN, 0, 0);
    EXPECT_EQ(slotsShown(), 0);
    EXPECT_TRUE(PumpUntil([&] { return Ui::GetFocusUiWindow() == child; }));
    HandleGameFrameMessage(*mState, Ui::_WM_LBUTTONUP, 0, 0);
    EXPECT_TRUE(PumpUntil([&] { return Ui::GetFocusUiWindow() == frame; }));

    showSlots();
    HandleGameFrameMessage(*mState, Ui::_WM_RBUTTONDOWN, 0, 0);
    EXPECT_EQ(slotsShown(), 3); // only a left press hides them
    EXPECT_TRUE(PumpUntil([&] { return Ui::GetFocusUiWindow() == child; }));
    HandleGameFrameMessage(*mState, Ui::_WM_RBUTTONUP, 0, 0);
    EXPECT_TRUE(PumpUntil([&] { return Ui::GetFocusUiWindow() == frame; }));
    Ui::DestroyUiWindow(child);
    mState->mGameChild = 0;
}

// Closing a slot window, by its close button or by the window system: the set-up and progress windows
// (slots 4-6) end the loop, the others hide.
TEST_F(LauncherCommandsTest, SlotWindowsCloseByTheirSlot)
{
    MakeGameFrame();
    for (int slot : {1, 2, 4, 5, 6})
        for (bool button : {false, true})
        {
            SCOPED_TRACE("slot " + std::to_string(slot) + (button ? " button" : " close"));
            if (!mState->mFrames[slot])
            {
                ASSERT_TRUE(CreateFrameWindow(*mState, slot, u"slot", 0, 0, 100, 60, 2));
            }
            FrameWindow& window = *mState->mFrames[slot];
            Ui::ShowUiWindow(window.mWindow, Ui::_SW_SHOW);
            mState->mLoopEnd = 0;
            Drain();
            if (button)
                mState->mButtonHandler(_BUTTON_CLOSE, nullptr, window);
            else
                Ui::SendUiMessage(window.mWindow, Ui::_WM_CLOSE, 0, 0);
            const bool ends = slot >= 4;
            EXPECT_EQ(mState->mLoopEnd, ends ? 2 : 0);
            EXPECT_EQ(Drain(), ends);
            EXPECT_TRUE(Ui::IsUiWindow(window.mWindow));
            EXPECT_EQ(Ui::IsUiWindowVisible(window.mWindow), ends);
        }
}

// The game frame's commands on their windows: the clean-cache question and its confirmation, the
// drop-down and boss-key windows toggled (the boss window set to the saved choices), close to the exit
// page, the tray entry hiding the frame, and the guard that hides the frame when the main window shows.
TEST_F(LauncherCommandsTest, GameFrameCommandsActOnTheirWindows)
{
    MakeGameFrame();
    MakePrompt();
    Ui::WindowId frame = mState->mGameFrame->mWindow;
    Ui::ShowUiWindow(frame, Ui::_SW_SHOW);
    ASSERT_TRUE(CreateFrameWindow(*mState, 1, u"servers", 0, 0, 100, 60, 2));
    ASSERT_TRUE(CreateFrameWindow(*mState, 2, u"boss", 0, 0, 200, 100, 2));
    mState->mFrames[2]->AddCheckBox(0, 10, 10, 20, 20, false);
    mState->mFrames[2]->AddHotkeyBox(0, 40, 10, 100, 20, String(), 0, 14, 0, 0);
    auto visible = [&](int slot) { return Ui::IsUiWindowVisible(mState->mFrames[slot]->mWindow); };
    mState->mCleanCacheText = u"Clean?";
    TempDir install;
    mState->mInstallFolder = install.Wide();
    WriteBytes(install / "vexel3d.lod", "module");
    WriteBytes(install / "keep.txt", "player's");
    Drain();

    HandleMenuCommand(*mState, _CMD_CLEAR, String(), String());
    EXPECT_TRUE(visible(_FRAME_PROMPT));
    EXPECT_EQ(mState->mPromptAction, _PROMPT_CLEAN);
    EXPECT_EQ(mState->mFrames[_FRAME_PROMPT]->mLabels[0].mText, u"Clean?");
    Ui::SendUiMessage(frame, _WM_PROMPT_CONFIRMED, _FRAME_PROMPT, 0);
    EXPECT_FALSE(visible(_FRAME_PROMPT));
    EXPECT_FALSE(std::filesystem::exists(install / "vexel3d.lod"));
    EXPECT_TRUE(std::filesystem::exists(install / "keep.txt"));
    EXPECT_EQ(mState->mPromptAction, _PROMPT_NONE);

    for (_dword id : {_CMD_DROPDOWN, _CMD_USER})
    {
        HandleMenuCommand(*mState, id, String(), String());
        EXPECT_TRUE(visible(1)) << id;
        HandleMenuCommand(*mState, id, String(), String());
        EXPECT_FALSE(visible(1)) << id;
    }
    mState->mBossChecked = true;
    mState->mHotKey = 0x642; // Control+Alt+B
    HandleMenuCommand(*mState, _CMD_BOSS, String(), String());
    EXPECT_TRUE(visible(2));
    EXPECT_TRUE(mState->mFrames[2]->IsChecked(0));
    EXPECT_EQ(mState->mFrames[2]->GetHotkey(0), 0x642u);
    HandleMenuCommand(*mState, _CMD_BOSS, String(), String());
    EXPECT_FALSE(visible(2));

    mState->mExitUrl = u"http://127.0.0.1:1/exit";
    HandleMenuCommand(*mState, _CMD_CLOSE, String(), String());
    EXPECT_TRUE(Logged(u"[MC] Exit to http://127.0.0.1:1/exit"));
    EXPECT_TRUE(Logged(u"[MC] Switch location to: http://127.0.0.1:1/exit, restart 0"));
    EXPECT_TRUE(Drain());

    HandleMenuCommand(*mState, _CMD_TRAY, String(), String());
    EXPECT_FALSE(Ui::IsUiWindowVisible(frame));
    HandleMenuCommand(*mState, _CMD_TRAY, String(), String());
    EXPECT_TRUE(Ui::IsUiWindowVisible(frame));

    // The main window shown this pass over the visible game frame: the next slot message hides the frame.
    WebRef main = AddMainPage(mServer.Url("/none"));
    Ui::ShowUiWindow(mState->mFrames[_FRAME_MAIN]->mWindow, Ui::_SW_SHOW);
    mState->mMainShown = true;
    Ui::SendUiMessage(mState->mFrames[1]->mWindow, Ui::_WM_NULL, 0, 0);
    EXPECT_TRUE(Logged(u"[MC] !!!!!!Mainwindow 0x"));
    EXPECT_FALSE(Ui::IsUiWindowVisible(frame));
}

TEST_F(LauncherCommandsTest, PagesSendCommandsThroughExternal)
{
    mServer.Page("/cmd", "<html><body><script>"
                         "external.invoke('openvideo', ['10', '20', '320', 240, 'http://x/v']);"
                         "external.invoke('logindone');"
                         "try { external.invoke(); } catch (e) { external.consoleMsg('refused'); }"
                         "</script></body></html>");
    MakeGameFrame();
    WebRef page = AddMainPage(mServer.Url("/cmd"));
    ASSERT_TRUE(PumpUntil([&] { return mState->mLoginDone; }));
    EXPECT_TRUE(Logged(u"[MC] _WM_INVOKE called, openvideo"));
    EXPECT_TRUE(Logged(u"[MC] Openvideo / QQpay param count error 5"));
    EXPECT_EQ(Count(u"_WM_INVOKE called"), 2); // a call without a name is refused in the page
}

TEST_F(LauncherCommandsTest, SecondRefreshOfARunningGameIsIgnored)
{
    mServer.Page("/game", "<html><body>game</body></html>");
    MakeGameFrame();
    WebRef page = AddMainPage(mServer.Url("/game"));
    ASSERT_TRUE(WaitReady(*page));
    mState->mGameState = 2;
    Ui::ShowUiWindow(mState->mGameFrame->mWindow, Ui::_SW_SHOW);
    // The game stage alone is no running game: the pages are reloaded.
    HandleMenuCommand(*mState, _CMD_REFRESH, String(), String());
    EXPECT_EQ(mState->mRefreshing, 0);
    EXPECT_FALSE(Logged(u"[MC] Refresh"));
    ASSERT_NO_FATAL_FAILURE(RunTestModule());
    HandleMenuCommand(*mState, _CMD_REFRESH, String(), String());
    HandleMenuCommand(*mState, _CMD_REFRESH, String(), String());
    EXPECT_EQ(Count(u"[MC] Refresh http"), 1);
    EXPECT_EQ(mState->mRefreshing, 1);
    EXPECT_TRUE(Drain());

    // Once logged in, a refresh goes to the game instead.
    mState->mRefreshing = 0;
    mState->mLoginDone = true;
    HandleMenuCommand(*mState, _CMD_REFRESH, String(), String());
    EXPECT_TRUE(Logged(u"[MC] Send msg to game, 1091, 1, 0"));
    EXPECT_FALSE(Drain());

    // A loader started by the scripts starts again with the next pass.
    mState->mRefreshing = 0;
    mState->mStartMode = 2;
    HandleMenuCommand(*mState, _CMD_REFRESH, String(), String());
    EXPECT_TRUE(Logged(u"[MC] Refresh, re-initializing"));
    EXPECT_TRUE(Drain());
}

TEST_F(LauncherCommandsTest, ServerChangeAsksOnlyForTheCurrentServer)
{
    MakeGameFrame();
    MakePrompt();
    mState->mPrompts[3] = u"Again?";
    ASSERT_TRUE(CreateFrameWindow(*mState, 1, u"servers", 0, 0, 300, 150, 2));
    FrameWindow& slot = *mState->mFrames[1];
    slot.AddComboBox(5, 10, 10, 200, 100, String(), 0, 14, 0);
    Ui::WindowId combo = slot.FindComboBox(5)->mControl;
    mState->mServerNames = {u"Alpha", u"Beta"};
    mState->mServerIds = {u"1", u"2"};
    mState->mServerUrls = {u"http://127.0.0.1:1/a", u"http://127.0.0.1:1/b"};
    mState->mCurrentServer = u"Alpha";
    for (const auto& name : mState->mServerNames)
        Ui::ComboAddItem(combo, name);

    Ui::ComboSetSelection(combo, 1);
    HandleGameFrameMessage(*mState, _WM_SERVER_CHOICE, 1, 5);
    EXPECT_TRUE(Logged(u"[MC] Change server to Beta"));
    EXPECT_TRUE(Logged(u"[MC] Switch location to: http://127.0.0.1:1/b, restart 1"));
    EXPECT_EQ(mState->mCurrentServer, u"Beta");
    EXPECT_TRUE(Drain());

    // The same server again: the prompt asks first, and confirming switches.
    mCapture->Clear();
    HandleGameFrameMessage(*mState, _WM_SERVER_CHOICE, 1, 5);
    EXPECT_FALSE(Logged(u"Switch location"));
    EXPECT_EQ(mState->mPromptAction, _PROMPT_SERVER);
    EXPECT_EQ(mState->mFrames[_FRAME_PROMPT]->mLabels[0].mText, u"Again?");
    EXPECT_FALSE(Drain());
    Ui::ComboSetSelection(combo, 0); // the box moved on while the question was open
    HandleGameFrameMessage(*mState, _WM_PROMPT_CONFIRMED, _FRAME_PROMPT, 0);
    EXPECT_TRUE(Logged(u"[MC] Switch location to: http://127.0.0.1:1/b, restart 1"));
    EXPECT_EQ(Ui::ComboGetSelection(combo), 1);
    EXPECT_TRUE(Drain());

    // An index beyond the list is ignored.
    mCapture->Clear();
    Ui::ComboAddItem(combo, u"Gamma");
    Ui::ComboSetSelection(combo, 2);
    HandleGameFrameMessage(*mState, _WM_SERVER_CHOICE, 1, 5);
    EXPECT_FALSE(Logged(u"Change server"));
}

// Without a prompt window a message box asks before the current server is entered again.
TEST_F(LauncherCommandsTest, ServerChangeAsksInAMessageBoxWithoutAPromptWindow)
{
    MakeGameFrame();
    mState->mTitle = u"Server question test";
    mState->mPrompts[3] = u"Again?";
    ASSERT_TRUE(CreateFrameWindow(*mState, 1, u"servers", 0, 0, 300, 150, 2));
    FrameWindow& slot = *mState->mFrames[1];
    slot.AddComboBox(5, 10, 10, 200, 100, String(), 0, 14, 0);
    Ui::WindowId combo = slot.FindComboBox(5)->mControl;
    mState->mServerNames = {u"Alpha"};
    mState->mServerIds = {u"1"};
    mState->mServerUrls = {u"http://127.0.0.1:1/a"};
    mState->mCurrentServer = u"Alpha";
    Ui::ComboAddItem(combo, u"Alpha");
    Ui::ComboSetSelection(combo, 0);
    Drain();

    int answer = Ui::_IDNO, answered = 0;
    AnswerBoxes(slot, mState->mTitle, &answer, &answered);
    HandleGameFrameMessage(*mState, _WM_SERVER_CHOICE, 1, 5);
    EXPECT_EQ(answered, 1);
    EXPECT_FALSE(Logged(u"Switch location"));
    EXPECT_FALSE(Drain());

    answer = Ui::_IDYES;
    HandleGameFrameMessage(*mState, _WM_SERVER_CHOICE, 1, 5);
    StopAnswering(slot);
    EXPECT_EQ(answered, 2);
    EXPECT_TRUE(Logged(u"[MC] Switch location to: http://127.0.0.1:1/a, restart 1"));
    EXPECT_TRUE(Drain());
}

// Log-off goes to the current page, else the log-off page; while a game runs (the current page is then
// the game page) the log-off page comes first.
TEST_F(LauncherCommandsTest, LogOffTargetDependsOnWhetherAGameRuns)
{
    const String page = u"http://127.0.0.1:1/servers", logoff = u"http://127.0.0.1:1/logout";
    const struct
    {
        int gameState, startMode;
        String current, logoff, target; // empty target: nothing happens
    } rows[] = {
        {0, 1, page, logoff, page},   {0, 1, String(), logoff, logoff}, {2, 1, page, logoff, logoff},
        {1, 1, page, String(), page}, {0, 2, page, logoff, logoff},     {0, 1, String(), String(), String()},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(Narrow(row.current + u" | " + row.logoff) + " state " + std::to_string(row.gameState));
        mCapture->Clear();
        mState->mGameState = row.gameState;
        mState->mStartMode = row.startMode;
        mState->mCurrentPageUrl = row.current;
        mState->mLogoffUrl = row.logoff;
        HandleGameFrameMessage(*mState, _WM_LOGOFF, 0, 0);
        if (row.target.empty())
        {
            EXPECT_FALSE(Logged(u"Logoff to"));
            EXPECT_FALSE(Drain());
            continue;
        }
        EXPECT_TRUE(Logged(u"[MC] Logoff to " + row.target));
        EXPECT_TRUE(Logged(u"[MC] Switch location to: " + row.target + u", restart 0"));
        EXPECT_TRUE(Drain());
    }
}

TEST_F(LauncherCommandsTest, BossKeyNeedsAModifier)
{
    TempDir folder;
    ASSERT_TRUE(SetCurrentFolder(folder.Wide()));
    MakeGameFrame();
    MakePrompt();
    mState->mPrompts[2] = u"Add Ctrl, Alt or Shift";
    ASSERT_TRUE(CreateFrameWindow(*mState, 2, u"boss", 0, 0, 300, 150, 2));
    FrameWindow& slot = *mState->mFrames[2];
    slot.AddCheckBox(0, 10, 10, 20, 20, true);
    slot.AddHotkeyBox(0, 10, 40, 200, 26, String(), 0, 14, 0, 0);
    Ui::ShowUiWindow(slot.mWindow, Ui::_SW_SHOW);

    slot.SetHotkey(0x41); // A alone
    HandleGameFrameMessage(*mState, _WM_BOSS_SETTINGS, 2, 0);
    EXPECT_EQ(mState->mHotKey, 0u);
    EXPECT_FALSE(mState->mBossChecked);
    EXPECT_EQ(mState->mFrames[_FRAME_PROMPT]->mLabels[0].mText, u"Add Ctrl, Alt or Shift");
    EXPECT_FALSE(FileExists(folder.Wide("mcconfig.ini")));
    EXPECT_TRUE(Ui::IsUiWindowVisible(slot.mWindow));

    slot.SetHotkey(0x241); // Ctrl + A
    HandleGameFrameMessage(*mState, _WM_BOSS_SETTINGS, 2, 0);
    EXPECT_EQ(mState->mHotKey, 0x241u);
    EXPECT_TRUE(mState->mBossChecked);
    EXPECT_EQ(ReadBytes(folder / "mcconfig.ini"), std::string("\x41\x02\0\0\x01\0\0\0", 8));
    EXPECT_FALSE(Ui::IsUiWindowVisible(slot.mWindow));
    SetCurrentFolder(mFolder);
}

// Without a prompt window the refusal of a key without a modifier comes in a message box; nothing is saved
// and the settings window stays.
TEST_F(LauncherCommandsTest, BossKeyRefusalComesInAMessageBoxWithoutAPromptWindow)
{
    TempDir folder;
    ASSERT_TRUE(SetCurrentFolder(folder.Wide()));
    MakeGameFrame();
    mState->mTitle = u"Boss key question test";
    mState->mPrompts[2] = u"Add Ctrl, Alt or Shift";
    ASSERT_TRUE(CreateFrameWindow(*mState, 2, u"boss", 0, 0, 300, 150, 2));
    FrameWindow& slot = *mState->mFrames[2];
    slot.AddCheckBox(0, 10, 10, 20, 20, true);
    slot.AddHotkeyBox(0, 10, 40, 200, 26, String(), 0, 14, 0, 0);
    Ui::ShowUiWindow(slot.mWindow, Ui::_SW_SHOW);
    const int answer = Ui::_IDOK;
    int answered = 0;
    AnswerBoxes(slot, mState->mTitle, &answer, &answered);
    slot.SetHotkey(0x41); // A alone
    HandleGameFrameMessage(*mState, _WM_BOSS_SETTINGS, 2, 0);
    StopAnswering(slot);
    EXPECT_EQ(answered, 1);
    EXPECT_TRUE(Logged(u"[MC] Boss key 0x41 refused: no modifier"));
    EXPECT_EQ(mState->mHotKey, 0u);
    EXPECT_FALSE(FileExists(folder.Wide("mcconfig.ini")));
    EXPECT_TRUE(Ui::IsUiWindowVisible(slot.mWindow));
    SetCurrentFolder(mFolder);
}

TEST_F(LauncherCommandsTest, BossKeyAndTrayHideAndShowTheGame)
{
    MakeGameFrame();
    Ui::WindowId game = mState->mGameFrame->mWindow;
    Ui::ShowUiWindow(game, Ui::_SW_SHOW);
    bool tray = Ui::HasTrayIcon(game, 0);

    // The boss key hides the game and its tray icon, and brings both back.
    Ui::SendUiMessage(game, Ui::_WM_HOTKEY, 0, 0);
    EXPECT_FALSE(Ui::IsUiWindowVisible(game));
    EXPECT_FALSE(Ui::HasTrayIcon(game, 0));
    Ui::SendUiMessage(game, Ui::_WM_HOTKEY, 0, 0);
    EXPECT_TRUE(Ui::IsUiWindowVisible(game));
    EXPECT_EQ(Ui::HasTrayIcon(game, 0), tray);

    // A tray click leaves the icon.
    Ui::SendUiMessage(game, _WM_TRAYICON, 0, Ui::_WM_LBUTTONDOWN);
    EXPECT_FALSE(Ui::IsUiWindowVisible(game));
    EXPECT_EQ(Ui::HasTrayIcon(game, 0), tray);
    Ui::SendUiMessage(game, _WM_TRAYICON, 0, Ui::_WM_RBUTTONDOWN); // other clicks do nothing
    EXPECT_FALSE(Ui::IsUiWindowVisible(game));
    Ui::SendUiMessage(game, _WM_TRAYICON, 0, Ui::_WM_LBUTTONDOWN);
    EXPECT_TRUE(Ui::IsUiWindowVisible(game));

    // Nothing happens while the main window is on screen.
    ASSERT_TRUE(CreateFrameWindow(*mState, _FRAME_MAIN, u"main", 0, 0, 200, 100, 1));
    Ui::ShowUiWindow(mState->mFrames[_FRAME_MAIN]->mWindow, Ui::_SW_SHOW);
    Ui::SendUiMessage(game, Ui::_WM_HOTKEY, 0, 0);
    EXPECT_TRUE(Ui::IsUiWindowVisible(game));
}

TEST_F(LauncherCommandsTest, MenuEntriesToggleTheirWindowsAndPagesReachTheImEntry)
{
    MakeGameFrame();
    GameFrame& game = *mState->mGameFrame;
    game.AddMenuEntry(true, _CMD_IM, String(), 1, String(), String(), String(), 0, u"Messages", 0, String(),
                      String());
    Ui::ShowUiWindow(game.mWindow, Ui::_SW_SHOW);
    ASSERT_TRUE(CreateFrameWindow(*mState, 2, u"boss", 0, 0, 300, 150, 2));
    FrameWindow& boss = *mState->mFrames[2];
    boss.AddCheckBox(0, 10, 10, 20, 20, false);
    boss.AddHotkeyBox(0, 10, 40, 200, 26, String(), 0, 14, 0, 0);
    mState->mBossChecked = true;
    mState->mHotKey = 0;

    HandleMenuCommand(*mState, _CMD_BOSS, String(), String());
    EXPECT_TRUE(Ui::IsUiWindowVisible(boss.mWindow));
    EXPECT_TRUE(boss.IsChecked(0));
    EXPECT_EQ(boss.GetHotkey(0), 0x200u); // no saved key: a default to start from
    HandleMenuCommand(*mState, _CMD_BOSS, String(), String());
    EXPECT_FALSE(Ui::IsUiWindowVisible(boss.mWindow));

    // The IM entry blinks on a new message and takes the game-server name.
    Ui::SendUiMessage(game.mWindow, _WM_WEB_NEWMSG);
    EXPECT_EQ(game.mBlinkId, _CMD_IM);
    String name = u"Server 7";
    Ui::SendUiMessage(game.mWindow, _WM_WEB_GSNAME, reinterpret_cast<Ui::WParam>(name.c_str()), 1);
    EXPECT_EQ(game.mMenuLists[1][0].mText, u"Server 7");
    EXPECT_EQ(game.mMenuLists[1][0].mMask, 255);
    Ui::SendUiMessage(game.mWindow, _WM_WEB_HIDDEN);
    EXPECT_EQ(game.mBlinkId, 0u);
    EXPECT_TRUE(Logged(u"[MC] Got gs name: Server 7"));
}

TEST_F(LauncherCommandsTest, ImPopupOpensHiddenThenToggles)
{
    mServer.Page("/im", "<html><body>messages</body></html>");
    MakeGameFrame();
    Ui::ShowUiWindow(mState->mGameFrame->mWindow, Ui::_SW_SHOW);
    mState->mImW = 300;
    mState->mImH = 400;
    mState->mImTitleSuffix = u" - IM";
    HandleMenuCommand(*mState, _CMD_IM, u"Friends", String()); // no page named yet
    EXPECT_FALSE(mState->mImPopup);
    mState->mImUrl = mServer.Url("/im");
    HandleMenuCommand(*mState, _CMD_IM, u"Friends", String());
    ASSERT_TRUE(mState->mImPopup);
    WebWindow& im = *mState->mImPopup;
    EXPECT_EQ(im.mKind, _WEB_TOPLEVEL);
    EXPECT_TRUE(im.mHideOnClose);
    EXPECT_FALSE(Ui::IsUiWindowVisible(im.mWindow));
    EXPECT_TRUE(Logged(u"[MC] Open IM window: " + mServer.Url("/im") + u", Friends, xy("));
    ASSERT_TRUE(WaitReady(im));
    HandleMenuCommand(*mState, _CMD_IM, u"Friends", String());
    EXPECT_TRUE(PumpUntil([&] { return Ui::IsUiWindowVisible(im.mWindow); }));
    HandleMenuCommand(*mState, _CMD_IM, u"Friends", String());
    EXPECT_FALSE(Ui::IsUiWindowVisible(im.mWindow));
}

} // namespace
} // namespace Vexel::Test
