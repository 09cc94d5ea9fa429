// The handlers reached where a player reaches them: the windows the settings and launcher scripts build (the
// embedded config.lua and launcher.lua, pointed at a loopback site) clicked through their own message
// handlers: the frame slots' buttons, the game frame's menu bar, title-bar buttons and window menu, and the
// running main loop.
#include "../Platform/ScopedEnvironment.h"
#include "InstallTestSupport.h"
#include "PortalTestSupport.h"

#include "Services/Install.h"
#include "Services/RemoteFetch.h"

#include "Platform/File.h"
#include "Platform/Process.h"

namespace Vexel::Test
{
namespace
{

namespace fs = std::filesystem;

class PlayerHandlersTest : public PortalTest
{
protected:
    void SetUp() override
    {
        PortalTest::SetUp();
        if (HasFatalFailure())
            return;
        mFolders = std::make_unique<UserFolders>(mDir.Path());
        fs::create_directories(mDir / "data");
        ASSERT_TRUE(SetCurrentFolder(mDir.Wide("data")));
        mState->mInstallFolder = mDir.Wide("data");
        mServer.Page("/login", "<html><body>login</body></html>");
        mServer.Page("/charge", "<html><body>charge</body></html>");
        mServer.Page("/news", "<html><body>news</body></html>");
        ASSERT_NO_FATAL_FAILURE(RunScripts());
        // Text entries of the window menu, as scripts add them before the game frame is made.
        ASSERT_TRUE(Run(u"_launcher:addURLMenu(0, 'Site', 'http://127.0.0.1:9/site', 0, false) "
                        u"_launcher:addURLMenu(7, 'News', '" +
                        mServer.Url("/news") +
                        u"', 0, false) "
                        u"_launcher:addShortcutMenu('Shortcut', '', 0, false)"));
        ASSERT_TRUE(EnsureGameFrame(*mState));
        Drain();
    }
    void TearDown() override
    {
        if (mState && mState->mGameChild)
            Ui::DestroyUiWindow(mState->mGameChild);
        if (mState)
            mState->mGameChild = 0;
        PortalTest::TearDown();
        WaitForStartedPrograms();
        mFolders.reset();
    }

    // The main window, then the settings and launcher scripts with the site's pages on the loopback server.
    void RunScripts()
    {
        ASSERT_TRUE(CreateMainWindow(*mState));
        ASSERT_TRUE(RunStartupScript(*mManager, u"config.lua", false));
        ASSERT_TRUE(
            Run(u"entry = '" + mServer.Url("/login") + u"' chargeurl = '" + mServer.Url("/charge") + u"'"));
        mState->mCmd = u"/noshortcut";
        ASSERT_TRUE(RunStartupScript(*mManager, u"launcher.lua", true));
        ASSERT_TRUE(mManager->GetLastError().empty()) << Narrow(mManager->GetLastError());
    }
    Ui::WindowId Game() const { return mState->mGameFrame->mWindow; }
    bool Shows(int slot) const { return Ui::IsUiWindowVisible(mState->mFrames[slot]->mWindow); }
    void Show(int slot) { Ui::ShowUiWindow(mState->mFrames[slot]->mWindow, Ui::_SW_SHOW); }

    // Presses and releases the left button over the nth button of the kind in the slot's window.
    void Click(int slot, int kind, int nth = 0)
    {
        FrameWindow& frame = *mState->mFrames[slot];
        for (const SkinButton& button : frame.mButtons)
            if (button.mKind == kind && nth-- == 0)
            {
                const Ui::Rect& r = button.mRect;
                Ui::LParam at = Ui::MakeLParam((r.left + r.right) / 2, (r.top + r.bottom) / 2);
                Ui::SendUiMessage(frame.mWindow, Ui::_WM_LBUTTONDOWN, 1, at);
                Ui::SendUiMessage(frame.mWindow, Ui::_WM_LBUTTONUP, 0, at);
                return;
            }
        ADD_FAILURE() << "slot " << slot << " has no button of kind " << kind;
    }
    // Presses and releases the left button over the game frame's menu entry or title-bar button as laid out
    // now.
    void ClickEntry(_dword id)
    {
        GameFrame& game = *mState->mGameFrame;
        game.Repaint();
        Ui::Rect bounds;
        ASSERT_TRUE(Ui::GetWindowBounds(game.mWindow, bounds));
        for (auto* list : {&game.mTitleButtons, &game.mMenuLists[0], &game.mMenuLists[1]})
            for (const ImageMenuEntry& entry : *list)
                if (entry.mId == id && entry.mRect.left != -100)
                {
                    Ui::LParam at = Ui::MakeLParam(bounds.left + (entry.mRect.left + entry.mRect.right) / 2,
                                                   bounds.top + (entry.mRect.top + entry.mRect.bottom) / 2);
                    Ui::SendUiMessage(game.mWindow, Ui::_WM_NCLBUTTONDOWN, Ui::_HTBORDER, at);
                    Ui::SendUiMessage(game.mWindow, Ui::_WM_NCLBUTTONUP, Ui::_HTBORDER, at);
                    return;
                }
        ADD_FAILURE() << "no entry " << id << " on the game frame";
    }
    // A game child in the game frame, as a game started directly has.
    void MakeGameChild()
    {
        Ui::WindowParams p;
        p.style = Ui::_WS_CHILD | Ui::_WS_VISIBLE;
        p.parent = Game();
        p.width = p.height = 100;
        mState->mGameChild = Ui::NewWindow(p);
        ASSERT_NE(mState->mGameChild, 0u);
    }
    WebRef PageOf(int id) const
    {
        for (const auto& page : mState->mPages)
            if (page.mId == id)
                return page.mWeb;
        return nullptr;
    }
    // A program that records its arguments, in the data folder.
    fs::path Program(const std::string& name)
    {
        WriteBytes(mDir / "data" / name, RecordingProgram(mDir / (name + ".args")));
        fs::permissions(mDir / "data" / name, fs::perms::owner_all);
        return mDir / (name + ".args");
    }

    TempDir mDir;
    std::unique_ptr<UserFolders> mFolders;
};

// The slot windows' buttons send their messages with sendMsg: to the game frame while it shows, else to
// the main window, whose handler passes them on. Either way they reach their handlers: the prompt's
// Cancel hides it (0x468), the set-up window's Install button runs the set-up program (0x469), a script's
// exit notice ends the loop (0x444), and the prompt's OK runs the clean-cache (2) and refresh (3) actions.
TEST_F(PlayerHandlersTest, SlotButtonsReachTheirHandlersWhetherTheGameFrameShowsOrNot)
{
    WebRef main = MainPage(*mState);
    ASSERT_TRUE(main && WaitReady(*main));
    for (bool gameShows : {true, false})
    {
        SCOPED_TRACE(gameShows ? "game frame shows" : "game frame hidden");
        Ui::ShowUiWindow(Game(), gameShows ? Ui::_SW_SHOW : Ui::_SW_HIDE);
        mState->mLoopEnd = 0;
        mCapture->Clear();
        const fs::path setup = Program("vexelsetup.exe"); // (cleaning the cache deletes it)
        fs::remove(setup);

        ShowPrompt(*mState, _PROMPT_EXIT, u"Leave?");
        ASSERT_TRUE(Shows(_FRAME_PROMPT));
        Click(_FRAME_PROMPT, _BUTTON_USER, 1); // Cancel
        EXPECT_FALSE(Shows(_FRAME_PROMPT));
        EXPECT_EQ(mState->mLoopEnd, 0);
        EXPECT_FALSE(Drain());

        Show(4);
        Click(4, _BUTTON_USER); // Install
        EXPECT_FALSE(Shows(4));
        EXPECT_TRUE(Shows(5));
        EXPECT_TRUE(WaitUntil([&] { return ReadBytes(setup) == "-s\nend\n"; })) << ReadBytes(setup);
        EXPECT_FALSE(Drain());
        Ui::ShowUiWindow(mState->mFrames[5]->mWindow, Ui::_SW_HIDE);

        // The main window's Clear cache button asks; OK deletes the game's files and nothing else.
        WriteBytes(mDir / "data" / "vexel3d.lod", "module");
        WriteBytes(mDir / "data" / "keep.txt", "player's");
        Click(_FRAME_MAIN, _BUTTON_USER, 1);
        ASSERT_TRUE(Shows(_FRAME_PROMPT));
        EXPECT_EQ(mState->mPromptAction, _PROMPT_CLEAN);
        EXPECT_TRUE(fs::exists(mDir / "data" / "vexel3d.lod"));
        Click(_FRAME_PROMPT, _BUTTON_USER, 0); // OK
        EXPECT_FALSE(Shows(_FRAME_PROMPT));
        EXPECT_FALSE(fs::exists(mDir / "data" / "vexel3d.lod"));
        EXPECT_TRUE(fs::exists(mDir / "data" / "keep.txt"));

        // Refresh: without a running game the pages load again.
        ShowPrompt(*mState, _PROMPT_REFRESH, u"Reload?");
        Click(_FRAME_PROMPT, _BUTTON_USER, 0);
        EXPECT_EQ(mState->mPromptAction, _PROMPT_NONE);
        EXPECT_TRUE(PumpUntil([&] { return Logged(u"[MC] Onload called: " + mServer.Url("/login")); }));
        EXPECT_FALSE(Drain());

        ASSERT_TRUE(Run(u"_launcher:sendMsg(0x444, 0, 0)"));
        EXPECT_TRUE(Logged(u"[MC] Notified to exit"));
        EXPECT_EQ(mState->mLoopEnd, 1);
        EXPECT_TRUE(Drain());
    }
}

// Every command of the game frame from where the player chooses it: the menu bar's entries (a page of the
// menu, the game, clear cache, the server and account entries once the server data shows them), the
// title-bar buttons, and the window menu's text entries (the system's browser, the desktop shortcut).
TEST_F(PlayerHandlersTest, GameFrameCommandsRunFromItsMenuBarTitleBarAndWindowMenu)
{
    Ui::ShowUiWindow(Game(), Ui::_SW_SHOW);
    // A game started directly gives the frame to a page of the menu (charge, id 10) and gets it back from
    // the game entry.
    mState->mStartMode = 2;
    ASSERT_NO_FATAL_FAILURE(MakeGameChild());
    ClickEntry(10);
    EXPECT_FALSE(Ui::IsUiWindowVisible(mState->mGameChild));
    WebRef charge = PageOf(10);
    ASSERT_TRUE(charge);
    EXPECT_TRUE(PumpUntil([&] { return charge->mReady && Ui::IsUiWindowVisible(charge->mWindow); }));
    EXPECT_EQ(CurrentUrl(*charge), mServer.Url("/charge"));
    ClickEntry(_CMD_GAME);
    EXPECT_TRUE(Ui::IsUiWindowVisible(mState->mGameChild));
    EXPECT_FALSE(Ui::IsUiWindowVisible(charge->mWindow));
    // A game on a page: the window menu's page takes the place of the menu bar's, and the game entry
    // brings the game's page back.
    mState->mStartMode = 0;
    WebRef main = MainPage(*mState);
    ClickEntry(10);
    ASSERT_TRUE(PumpUntil([&] { return Ui::IsUiWindowVisible(charge->mWindow); }));
    Ui::SendUiMessage(Game(), Ui::_WM_COMMAND, 7, 0);
    WebRef news = PageOf(7);
    ASSERT_TRUE(news);
    EXPECT_FALSE(Ui::IsUiWindowVisible(charge->mWindow));
    EXPECT_TRUE(PumpUntil([&] { return news->mReady && Ui::IsUiWindowVisible(news->mWindow); }));
    HidePage(*main);
    ClickEntry(_CMD_GAME);
    EXPECT_FALSE(Ui::IsUiWindowVisible(news->mWindow));
    EXPECT_TRUE(main->mShown);

    ClickEntry(_CMD_CLEAR);
    EXPECT_TRUE(Shows(_FRAME_PROMPT));
    EXPECT_EQ(mState->mPromptAction, _PROMPT_CLEAN);
    EXPECT_EQ(mState->mFrames[_FRAME_PROMPT]->mLabels[1].mText, mState->mCleanCacheText);
    Click(_FRAME_PROMPT, _BUTTON_CLOSE);
    EXPECT_FALSE(Shows(_FRAME_PROMPT));

    // The server list and account entries show once the server data names them; each opens the server
    // window.
    for (_dword id : {_CMD_DROPDOWN, _CMD_USER})
    {
        mState->mGameFrame->UpdateMenuEntry(id, String(), String(), 255);
        ClickEntry(id);
        EXPECT_TRUE(Shows(1)) << id;
        Click(1, _BUTTON_CLOSE);
        EXPECT_FALSE(Shows(1)) << id;
    }

    // The title-bar buttons, each shown in the window state it changes.
    const struct
    {
        _dword id;
        bool (*done)(Ui::WindowId);
    } buttons[] = {
        {_CMD_MAXIMIZE, [](Ui::WindowId w) { return Ui::IsUiWindowMaximized(w); }},
        {_CMD_RESTORE, [](Ui::WindowId w) { return !Ui::IsUiWindowMaximized(w); }},
        {_CMD_MINIMIZE, [](Ui::WindowId w) { return Ui::IsUiWindowMinimized(w); }},
        {_CMD_TRAY, [](Ui::WindowId w) { return !Ui::IsUiWindowVisible(w); }},
    };
    for (const auto& button : buttons)
    {
        ClickEntry(button.id);
        EXPECT_TRUE(PumpUntil([&] { return button.done(Game()); })) << button.id;
        if (button.id == _CMD_MINIMIZE)
        {
            Ui::ShowUiWindow(Game(), Ui::_SW_RESTORE);
            ASSERT_TRUE(PumpUntil([&] { return !Ui::IsUiWindowMinimized(Game()); }));
        }
    }
    Ui::SendUiMessage(Game(), _WM_TRAYICON, 0, Ui::_WM_LBUTTONDOWN);
    ASSERT_TRUE(Ui::IsUiWindowVisible(Game()));

    // The window menu: id 0 opens its address with the desktop's opener (a stand-in records it)...
    TempDir bin;
    const fs::path opened = bin / "opened.txt";
    WriteBytes(bin / "xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > '" + opened.string() + ".part'\n/bin/mv '" +
                                     opened.string() + ".part' '" + opened.string() + "'\n");
    fs::permissions(bin / "xdg-open", fs::perms::owner_all);
    {
        ScopedEnvironment path("PATH", bin.Path().string().c_str());
        Ui::SendUiMessage(Game(), Ui::_WM_COMMAND, 0, 0);
        EXPECT_TRUE(WaitUntil([&] { return fs::exists(opened); }));
    }
    EXPECT_EQ(ReadBytes(opened), "http://127.0.0.1:9/site");
    // ...and the shortcut entry makes the desktop entry only when the scripts asked for shortcuts.
    const String desktop = DesktopShortcutPath(mState->mTitle);
    ASSERT_FALSE(desktop.empty());
    Ui::SendUiMessage(Game(), Ui::_WM_COMMAND, _CMD_SHORTCUT, 0);
    EXPECT_FALSE(FileExists(desktop));
    mState->mCreateShortcut = true;
    mState->mProgramPath = mDir.Wide("data/vexel-launcher");
    Ui::SendUiMessage(Game(), Ui::_WM_COMMAND, _CMD_SHORTCUT, 0);
    EXPECT_TRUE(FileExists(desktop));

    // Close asks the exit question; its OK ends the program.
    ClickEntry(_CMD_CLOSE);
    ASSERT_TRUE(Shows(_FRAME_PROMPT));
    EXPECT_EQ(mState->mPromptAction, _PROMPT_EXIT);
    EXPECT_FALSE(Drain());
    Click(_FRAME_PROMPT, _BUTTON_USER, 0);
    EXPECT_EQ(mState->mLoopEnd, 1);
    EXPECT_TRUE(Drain());
}

// Closing a slot window while the main loop runs: the set-up and progress windows (4-6) end the loop, the
// others only hide. Slot 6 has no close button; the window system's close request stands in.
TEST_F(PlayerHandlersTest, ClosingTheSetUpOrProgressWindowEndsTheRunningLoop)
{
    mState->mStartMode = 1;
    for (int slot = 1; slot < _FRAME_SLOTS; ++slot)
    {
        SCOPED_TRACE("slot " + std::to_string(slot));
        const bool ends = slot >= 4;
        mState->mLoopEnd = 0;
        int ticks = 0;
        bool shownAfter = true;
        Ui::WindowParams p;
        p.width = p.height = 10;
        p.handler = [&](Ui::WindowId w, _dword message, Ui::WParam wParam, Ui::LParam lParam)
        {
            if (message == Ui::_WM_TIMER && mCapture->Contains(u"[MC] Main window shown"))
            {
                if (++ticks == 1)
                {
                    Show(slot);
                    if (slot == _FRAME_PROGRESS)
                        Ui::SendUiMessage(mState->mFrames[slot]->mWindow, Ui::_WM_CLOSE);
                    else
                        Click(slot, _BUTTON_CLOSE);
                    shownAfter = Shows(slot);
                }
                else
                {
                    // Still running: this row's window did not end it.
                    mState->mLoopEnd = 1;
                    EndPass();
                }
            }
            return Ui::DefaultHandler(w, message, wParam, lParam);
        };
        Ui::WindowId watcher = Ui::NewWindow(p);
        Ui::SetUiTimer(watcher, 1, 20);
        RunMainLoop(*mState);
        Ui::DestroyUiWindow(watcher);
        EXPECT_EQ(shownAfter, ends); // (the reset after the pass hides them)
        EXPECT_EQ(mState->mLoopEnd, ends ? 2 : 1);
        EXPECT_EQ(ticks, ends ? 1 : 2);
        mCapture->Clear();
    }
}

// The main window's own close and minimise buttons, and the window system's close request: the exit
// question, never the end of the loop by itself.
TEST_F(PlayerHandlersTest, TheMainWindowAsksBeforeClosingAndMinimisesItself)
{
    Ui::WindowId main = mState->mFrames[_FRAME_MAIN]->mWindow;
    Show(_FRAME_MAIN);
    for (bool button : {true, false})
    {
        if (button)
            Click(_FRAME_MAIN, _BUTTON_CLOSE);
        else
            Ui::SendUiMessage(main, Ui::_WM_CLOSE);
        EXPECT_TRUE(Shows(_FRAME_PROMPT)) << button;
        EXPECT_EQ(mState->mPromptAction, _PROMPT_EXIT);
        EXPECT_EQ(mState->mLoopEnd, 0);
        EXPECT_FALSE(Drain());
        Click(_FRAME_PROMPT, _BUTTON_USER, 1);
    }
    Click(_FRAME_MAIN, _BUTTON_MINIMIZE);
    EXPECT_TRUE(PumpUntil([&] { return Ui::IsUiWindowMinimized(main); }));
}

// A server picked in the server window's combo box is entered once the box's own notification is done:
// another server at once, the one played now after the prompt's OK.
TEST_F(PlayerHandlersTest, AServerPickedInTheServerWindowIsEntered)
{
    mState->mServerNames = {u"Alpha", u"Beta"};
    mState->mServerUrls = {mServer.Url("/login?s=1"), mServer.Url("/login?s=2")};
    mState->mCurrentServer = u"Alpha";
    FrameWindow& servers = *mState->mFrames[1];
    ASSERT_EQ(servers.mCombos.size(), 1u);
    Ui::WindowId combo = servers.mCombos[0].mControl;
    for (const auto& name : mState->mServerNames)
        Ui::ComboAddItem(combo, name);
    Ui::ShowUiWindow(Game(), Ui::_SW_SHOW);
    for (int index : {1, 1})
    {
        mCapture->Clear();
        Ui::ComboSetSelection(combo, index);
        Ui::SendUiMessage(servers.mWindow, Ui::_WM_COMMAND,
                          Ui::MakeWParam(static_cast<int>(servers.mCombos[0].mId), Ui::_CBN_SELENDOK),
                          static_cast<Ui::LParam>(combo));
        EXPECT_FALSE(Logged(u"Change server")); // posted, not yet handled
        const bool again = mState->mCurrentServer == mState->mServerNames[index];
        EXPECT_EQ(Drain(), !again);
        EXPECT_TRUE(Logged(u"[MC] Change server to " + mState->mServerNames[index]));
        if (again)
        {
            EXPECT_EQ(mState->mPromptAction, _PROMPT_SERVER);
            Click(_FRAME_PROMPT, _BUTTON_USER, 0);
            EXPECT_TRUE(Drain());
        }
        EXPECT_TRUE(Logged(u"[MC] Switch location to: " + mState->mServerUrls[index] + u", restart 1"));
        EXPECT_EQ(mState->mCurrentServer, u"Beta");
    }
}

// Both shutdowns take down what the scripts made (pages, every frame window, the scripts) while the
// program still runs: nothing of it is left for the state's own end, which comes after the process's other
// records are gone. The full one also takes the game frame with its tray icon and boss key.
TEST_F(PlayerHandlersTest, ShutdownsTakeDownTheScriptsWindowsWhileTheProgramStillRuns)
{
    for (bool full : {false, true})
    {
        SCOPED_TRACE(full ? "full" : "short");
        if (full)
        {
            // The short one took the scripts' windows: the scripts make them again.
            ASSERT_NO_FATAL_FAILURE(RunScripts());
            ASSERT_TRUE(RegisterBossKey(*mState, 0x642));
        }
        std::vector<Ui::WindowId> windows;
        for (const auto& frame : mState->mFrames)
            windows.push_back(frame->mWindow);
        for (const auto& page : mState->mPages)
            windows.push_back(page.mWeb->mWindow);
        const Ui::WindowId game = Game();
        if (full)
            FullShutdown(*mState);
        else
            ShortShutdown(*mState);
        for (Ui::WindowId window : windows)
            EXPECT_FALSE(Ui::IsUiWindow(window)) << window;
        EXPECT_TRUE(mState->mPages.empty());
        EXPECT_FALSE(mState->mScriptManager);
        EXPECT_EQ(Ui::IsUiWindow(game), !full);
        if (full)
        {
            EXPECT_FALSE(Ui::HasTrayIcon(game, 0));
            // The boss key is free for another window.
            Ui::WindowParams p;
            p.width = p.height = 10;
            Ui::WindowId other = Ui::NewWindow(p);
            _dword modifiers = 0, key = 0;
            Ui::HotKeyValueToRegistration(0x642, modifiers, key);
            EXPECT_TRUE(Ui::RegisterGlobalHotKey(other, 0, modifiers, key));
            Ui::UnregisterGlobalHotKey(other, 0);
            Ui::DestroyUiWindow(other);
        }
        mManager = PrepareScripting(*mState);
    }
}

// A hall program whose download has finished starts when a slot window other than the main window next
// handles a message (the pointer passing over it), once.
TEST_F(PlayerHandlersTest, AFinishedHallDownloadStartsFromTheNextSlotWindowMessage)
{
    TestServer server;
    server.AddFile("/hall.exe", RecordingProgram(mDir / "hall.args"));
    mState->mDownloadUrl = server.WideUrl("/hall.exe");
    StartHallDownload(*mState, mState->mDownloadUrl, u"hall.exe");
    ASSERT_TRUE(WaitUntil([&] { return mState->mHallFetch.mProgress.load() == 1.0f; }));
    for (int slot : {_FRAME_MAIN, 1, 2})
    {
        Show(slot);
        Ui::SendUiMessage(mState->mFrames[slot]->mWindow, Ui::_WM_MOUSEMOVE, 0, Ui::MakeLParam(5, 5));
        EXPECT_EQ(mState->mDownloadUrl.empty(), slot != _FRAME_MAIN) << slot;
    }
    EXPECT_TRUE(WaitUntil([&] { return ReadBytes(mDir / "hall.args") == "end\n"; }));
    mState->mHallFetch.mTask.reset();
}

// While the game frame shows, the main window shown this pass gives way: a message of any other slot window
// hides the game frame; the main window's own messages, a main window not shown this pass or a hidden one
// change nothing.
TEST_F(PlayerHandlersTest, TheMainWindowShownOverTheGameFrameHidesItAtTheNextSlotMessage)
{
    const struct
    {
        int slot;
        bool mainShown, mainVisible, hides;
    } rows[] = {
        {1, true, true, true},   {3, true, true, true},   {_FRAME_MAIN, true, true, false},
        {1, false, true, false}, {1, true, false, false},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE("slot " + std::to_string(row.slot) + (row.mainShown ? " shown" : "") +
                     (row.mainVisible ? " visible" : ""));
        Ui::ShowUiWindow(Game(), Ui::_SW_SHOW);
        Ui::ShowUiWindow(mState->mFrames[_FRAME_MAIN]->mWindow,
                         row.mainVisible ? Ui::_SW_SHOW : Ui::_SW_HIDE);
        mState->mMainShown = row.mainShown;
        Ui::SendUiMessage(mState->mFrames[row.slot]->mWindow, Ui::_WM_MOUSEMOVE, 0, Ui::MakeLParam(5, 5));
        EXPECT_EQ(Ui::IsUiWindowVisible(Game()), !row.hides);
    }
}

} // namespace
} // namespace Vexel::Test
