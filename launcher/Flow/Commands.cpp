#include "Flow/Commands.h"

#include "Flow/MainLoop.h"
#include "Frames/ClientBridge.h"
#include "Frames/FrameWindow.h"
#include "Frames/GameFrame.h"
#include "Frames/WebWindow.h"
#include "Services/GameModule.h"
#include "Services/Install.h"
#include "Services/LoaderHost.h"
#include "Services/RemoteFetch.h"
#include "Services/Upgrade.h"

#include "Common/Log.h"
#include "Platform/File.h"
#include "Platform/Folders.h"
#include "Platform/Process.h"

namespace Vexel
{

namespace
{

int gChosenServer = -1;        // the server the prompt asks about
Ui::WindowId gChosenCombo = 0; // the combo box it was chosen in

Ui::WindowId GameWindow(const FramesAndPages& frames)
{
    return frames.mGameFrame ? frames.mGameFrame->mWindow : 0;
}

bool IsVisible(Ui::WindowId window)
{
    return window && Ui::IsUiWindowVisible(window);
}

void HideSlot(const FramesAndPages& frames, Ui::WParam slot)
{
    if (slot < static_cast<Ui::WParam>(_FRAME_SLOTS))
        if (FrameWindow* frame = frames.mFrames[slot].get())
            Ui::ShowUiWindow(frame->mWindow, Ui::_SW_HIDE);
}

// Centres the window over the game frame (or the screen when there is none).
void CentreOverGame(const FramesAndPages& frames, Ui::WindowId window)
{
    Ui::Rect over, own;
    if (!Ui::GetWindowBounds(window, own))
        return;
    if (!Ui::GetWindowBounds(GameWindow(frames), over) || !IsVisible(GameWindow(frames)))
    {
        Ui::Size screen = Ui::GetScreenSize();
        over = {0, 0, screen.width, screen.height};
    }
    Ui::SetWindowPlace(window, over.left + (over.Width() - own.Width()) / 2,
                       over.top + (over.Height() - own.Height()) / 2);
}

void ShowSlot(Ui::WindowId window)
{
    Ui::ShowUiWindow(window, Ui::_SW_SHOW);
    Ui::UpdateUiWindow(window);
    Ui::SetFocusUiWindow(window);
}

// A running game: the game stage is on screen with the loader's parameters read.
// The game child shows and its module is loaded (or handed to the external launcher).
bool GameRunning(LauncherState& state)
{
    return state.mGameChild && IsVisible(state.mGameChild) && state.mLoaderHost &&
           state.mLoaderHost->IsLoaded();
}

void PerformPromptAction(LauncherState& state)
{
    int action = state.mPromptAction;
    state.mPromptAction = _PROMPT_NONE;
    switch (action)
    {
    case _PROMPT_EXIT:
        state.mLoopEnd = 1;
        EndPass();
        break;
    case _PROMPT_CLEAN:
        CleanCache(state);
        break;
    case _PROMPT_REFRESH:
        HandleMenuCommand(state, _CMD_REFRESH, String(), String());
        break;
    case _PROMPT_SERVER:
        if (gChosenServer >= 0 && static_cast<std::size_t>(gChosenServer) < state.mServerUrls.size())
        {
            SwitchLocation(state, state.mServerUrls[gChosenServer], 1);
            state.mCurrentServer = state.mServerNames[gChosenServer];
            if (Ui::IsUiWindow(gChosenCombo))
                Ui::ComboSetSelection(gChosenCombo, gChosenServer);
            EndPass();
        }
        break;
    default:
        break;
    }
}

void RunSetup(LauncherState& state)
{
    HideSlot(state, 4);
    String program =
        state.mPluginUrl.empty() ? state.mProgramPath : JoinFolder(GetCurrentFolder(), u"vexelsetup.exe");
    String arguments = state.mPluginUrl.empty() ? String(u"/regserver") : String(u"-s");
    // A downloaded set-up runs with raised rights: with program signers configured it must carry their
    // signature. Elevation asks the system for rights where it can; the switch goes as an argument of its
    // own.
    bool started = (state.mPluginUrl.empty() || DownloadedProgramMayStart(state, program)) &&
                   RunElevated(program, {arguments});
    if (started)
    {
        if (FrameWindow* progress = state.mFrames[5].get())
            ShowSlot(progress->mWindow);
    }
    else
        EndPass();
}

void ShowUrlPage(LauncherState& state, _dword id, const String& url)
{
    GameFrame* game = state.mGameFrame.get();
    if (!game || !game->mWindow || url.empty())
        return;
    // A game started directly gives the frame to the page until the game entry brings it back.
    if (state.mStartMode == 2 && state.mGameChild)
    {
        Ui::ShowUiWindow(state.mGameChild, Ui::_SW_HIDE);
        Ui::SetFocusUiWindow(game->mWindow);
    }
    Ui::Rect client;
    Ui::GetClientBounds(game->mWindow, client);
    WebRef web;
    for (auto& page : state.mPages)
    {
        if (!page.mWeb || page.mId < 1 || page.mId > 999)
            continue;
        if (page.mId == static_cast<int>(id))
            web = page.mWeb;
        else
            HidePage(*page.mWeb);
    }
    if (!web)
    {
        web = CreateWebWindow(game->mWindow, 0, 0, client.Width(), client.Height(), _WEB_CHILD);
        if (!web)
            return;
        PageEntry page;
        page.mId = static_cast<int>(id);
        page.mSlot = -1;
        page.mUrl = url;
        page.mWeb = web;
        state.mPages.push_back(page);
        web->mOnRestart = [](WebWindow& w)
        {
            LogTrace(u"[MC] Onload called: %ls", CurrentUrl(w));
            HidePage(w);
        };
        web->mOnReady = [](WebWindow& w) { ShowPage(w); };
        SetBrowserOption(*web, u's', state.mScrollBars);
        SetBrowserOption(*web, u'a', false);
        SetBrowserOption(*web, u'm', false);
        SetBrowserOption(*web, u'c', false);
    }
    Ui::MoveUiWindow(web->mWindow, 0, 0, client.Width(), client.Height());
    NavigateWeb(*web, url);
    ShowPage(*web);
}

void ToggleSlotOne(const FramesAndPages& frames)
{
    FrameWindow* slot = frames.mFrames[1].get();
    if (!slot)
        return;
    if (IsVisible(slot->mWindow))
    {
        Ui::ShowUiWindow(slot->mWindow, Ui::_SW_HIDE);
        return;
    }
    const ImageMenuEntry* entry = nullptr;
    if (GameFrame* game = frames.mGameFrame.get())
        for (const auto& list : game->mMenuLists)
            for (const auto& e : list)
                if (e.mId == _CMD_DROPDOWN && e.mRect.left != -100 && !entry)
                    entry = &e;
    Ui::Rect frame;
    if (entry && Ui::GetWindowBounds(GameWindow(frames), frame))
        Ui::SetWindowPlace(slot->mWindow, frame.left + entry->mRect.left, frame.top + entry->mRect.bottom);
    else
        CentreOverGame(frames, slot->mWindow);
    ShowSlot(slot->mWindow);
}

void ToggleBossWindow(LauncherState& state)
{
    FrameWindow* slot = state.mFrames[2].get();
    if (!slot)
        return;
    if (IsVisible(slot->mWindow))
    {
        Ui::ShowUiWindow(slot->mWindow, Ui::_SW_HIDE);
        return;
    }
    CentreOverGame(state, slot->mWindow);
    slot->SetCheckBox(state.mBossChecked);
    slot->SetHotkey(state.mHotKey ? state.mHotKey : 0x200);
    ShowSlot(slot->mWindow);
}

} // namespace

void InstallHandlers(LauncherState& state, UserButtonFunction userButton)
{
    LauncherState* s = &state;
    state.mFrameHook = [s](FrameWindow& frame, _dword message, Ui::WParam wParam, Ui::LParam lParam,
                           Ui::Point) { return HandleSlotMessage(*s, frame, message, wParam, lParam); };
    state.mButtonHandler = [s, userButton](int kind, ScriptObject* object, FrameWindow& frame)
    {
        if (!HandleButton(*s, kind, object, frame) && userButton)
            userButton(object);
    };
    if (GameFrame* game = state.mGameFrame.get())
    {
        game->mHook = [s](_dword message, Ui::WParam wParam, Ui::LParam lParam)
        { return HandleGameFrameMessage(*s, message, wParam, lParam); };
        game->mCommand = [s](_dword id, const String& text, const String& url)
        { HandleMenuCommand(*s, id, text, url); };
    }
}

void ShowPrompt(LauncherState& state, int action, const String& text)
{
    FrameWindow* prompt = state.mFrames[_FRAME_PROMPT].get();
    if (!prompt)
        return;
    prompt->SetLabelText(0, text);
    state.mPromptAction = action;
    CentreOverGame(state, prompt->mWindow);
    ShowSlot(prompt->mWindow);
}

void ShowPrompt(LauncherState& state, int kind)
{
    if (kind == 3)
        ShowPrompt(state, _PROMPT_CLEAN, state.mCleanCacheText);
}

bool HandleGameFrameMessage(LauncherState& state, _dword message, Ui::WParam wParam, Ui::LParam lParam)
{
    GameFrame* game = state.mGameFrame.get();
    Ui::WindowId window = GameWindow(state);
    switch (message)
    {
    case _WM_OPEN_CLIENT_PAGE:
    {
        // The record {int, int, text, text} of the outside client's page; only its numbers are read here.
        struct ClientPage
        {
            int a;
            int b;
            const char16_t* c;
            const char16_t* d;
        };
        const auto* page = reinterpret_cast<const ClientPage*>(wParam);
        if (page)
        {
            String first = page->c ? page->c : u"";
            String second = page->d ? page->d : u"";
            LogTrace(u"[MC] Open QQ page: %d,%d,%ls,%ls", page->a, page->b, first, second);
            if (page->a != 0 && page->b != 0)
                SendTencentPage(state, page->a, page->b, first, second);
        }
        return true;
    }
    case _WM_INVOKE:
        HandlePageCommand(state, wParam ? String(reinterpret_cast<const char16_t*>(wParam)) : String(),
                          reinterpret_cast<const InvokeArgs*>(lParam));
        return true;
    case _WM_TRAYICON:
        if (wParam == 0 && lParam == Ui::_WM_LBUTTONDOWN)
            ToggleLauncher(state, false);
        return true;
    case Ui::_WM_HOTKEY:
        ToggleLauncher(state, true);
        return true;
    case _WM_WEB_NEWMSG:
        LogTrace(u"[MC] Got new message");
        if (game)
            game->SetBlinking(_CMD_IM);
        return true;
    case _WM_WEB_GSNAME:
    {
        String name = wParam ? String(reinterpret_cast<const char16_t*>(wParam)) : String();
        LogTrace(u"[MC] Got gs name: %ls", name);
        if (game)
        {
            game->UpdateMenuEntry(_CMD_IM, String(), name, 255);
            Ui::SendUiMessage(window, Ui::_WM_NCACTIVATE, 1, 0);
        }
        return true;
    }
    case _WM_WEB_HIDDEN:
        LogTrace(u"[MC] Clear blur state");
        if (game)
            game->SetBlinking(0);
        return true;
    case _WM_LOGOFF:
    {
        // The current page, else the operator's log-off page; but while a game runs the current page is
        // the game page, and going back there would only enter the game again.
        const bool gamePage = state.mGameState != 0 || state.mStartMode == 2;
        const String& first = gamePage ? state.mLogoffUrl : state.mCurrentPageUrl;
        String target = !first.empty() ? first : gamePage ? state.mCurrentPageUrl : state.mLogoffUrl;
        if (!target.empty())
        {
            LogTrace(u"[MC] Logoff to %ls", target);
            SwitchLocation(state, target, 0);
            EndPass();
        }
        return true;
    }
    case _WM_SERVER_CHOICE:
        ChangeServer(state, static_cast<int>(wParam), static_cast<_dword>(lParam));
        return true;
    case _WM_BOSS_SETTINGS:
        ApplyBossSettings(state, static_cast<int>(wParam), static_cast<_dword>(lParam));
        return true;
    case _WM_HIDE_SLOT:
        HideSlot(state, wParam);
        return true;
    case _WM_PROMPT_CONFIRMED:
        HideSlot(state, wParam);
        PerformPromptAction(state);
        return true;
    case _WM_RUN_SETUP:
        // The set-up window's button: scripts send to the game frame while it shows.
        RunSetup(state);
        return true;
    case _WM_EXIT_NOTICE:
        LogTrace(u"[MC] Notified to exit");
        state.mLoopEnd = 1;
        EndPass();
        return true;
    case Ui::_WM_CLOSE:
        if (game && game->mCloseGuard)
            return true;
        // The frame's own handling of a close is the end of the pass.
        if (AskExit(state, window, state.mExitUrl))
            EndPass();
        return true;
    case Ui::_WM_ACTIVATE:
    case Ui::_WM_WINDOWPOSCHANGED:
    case Ui::_WM_MOVE:
        // The video pop-up keeps its place on the frame. (The frame's own messages are not passed on: the
        // system's default handling would give a pop-up the frame's place and the focus.)
        if (state.mVideoPopup && Ui::IsUiWindow(state.mVideoPopup->mWindow))
            FollowParent(*state.mVideoPopup);
        return false;
    case Ui::_WM_SIZE:
    {
        Ui::Rect client;
        if (window && Ui::GetClientBounds(window, client))
            for (auto& page : state.mPages)
                if (page.mWeb && page.mWeb->mParent == window &&
                    Ui::GetParentWindow(page.mWeb->mWindow) == window)
                    Ui::MoveUiWindow(page.mWeb->mWindow, 0, 0, client.Width(), client.Height());
        LayoutGameChildWindow(state);
        return false;
    }
    case Ui::_WM_NCLBUTTONDOWN:
    case Ui::_WM_LBUTTONDOWN:
        for (int slot = 1; slot <= 3; ++slot)
            HideSlot(state, static_cast<Ui::WParam>(slot));
        if (message == Ui::_WM_LBUTTONDOWN && state.mGameChild)
            Ui::SetFocusUiWindow(state.mGameChild);
        return false;
    case Ui::_WM_RBUTTONDOWN:
        if (state.mGameChild)
            Ui::SetFocusUiWindow(state.mGameChild);
        return false;
    case Ui::_WM_LBUTTONUP:
    case Ui::_WM_RBUTTONUP:
        Ui::SetFocusUiWindow(window);
        return false;
    default:
        return LoaderHostOf(state).ForwardMessage(message, wParam, lParam) != 0;
    }
}

Ui::LResult HandlePageCommand(LauncherState& state, const String& command, const InvokeArgs* args)
{
    LogTrace(u"[MC] _WM_INVOKE called, %ls", command);
    if (!state.mKickFunc.empty() && command == state.mKickFunc)
    {
        String target = !state.mExitUrl.empty() ? state.mExitUrl : state.mCurrentPageUrl;
        if (!target.empty())
        {
            LogTrace(u"[MC] Logoff to %ls", target);
            SwitchLocation(state, target, 0);
            EndPass();
        }
        return 0;
    }
    if (command == u"refresh")
    {
        if (args && !args->empty())
        {
            SwitchLocation(state, (*args)[0], 0);
            EndPass();
        }
        return 0;
    }
    if (command == u"logindone")
    {
        state.mLoginDone = true;
        return 0;
    }
    if (command == u"maxwin")
    {
        if (GameFrame* game = state.mGameFrame.get())
        {
            game->mCloseGuard = false;
            Ui::ShowUiWindow(game->mWindow, Ui::_SW_MAXIMIZE);
        }
        return 0;
    }
    if (command == u"openvideo" || command == u"qqpay")
    {
        int count = args ? static_cast<int>(args->size()) : 0;
        if (count < 6)
        {
            LogTrace(u"[MC] Openvideo / QQpay param count error %d", count);
            return 0;
        }
        const InvokeArgs& a = *args;
        auto number = [](const String& text)
        {
            int value = 0;
            bool negative = !text.empty() && text[0] == u'-';
            for (std::size_t i = negative ? 1 : 0; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
                value = value > 1000000 ? value : value * 10 + (text[i] - u'0');
            return negative ? -value : value;
        };
        int x = number(a[0]), y = number(a[1]), w = number(a[2]), h = number(a[3]);
        LogTrace(u"[MC] Openvideo / QQpay: %d,%d,%d,%d,%ls,%ls", x, y, w, h, a[4], a[5]);
        return OpenVideoPopup(state, x, y, w, h, a[4], a[5]) ? 1 : 0;
    }
    return 0;
}

void ChangeServer(LauncherState& state, int slot, _dword controlId)
{
    FrameWindow* frame = GetFrame(state, static_cast<_dword>(slot));
    SkinBox* combo = frame ? frame->FindComboBox(controlId) : nullptr;
    if (!combo || !combo->mControl)
        return;
    int index = Ui::ComboGetSelection(combo->mControl);
    if (index < 0 || static_cast<std::size_t>(index) >= state.mServerNames.size() ||
        static_cast<std::size_t>(index) >= state.mServerUrls.size())
        return;
    const String name = state.mServerNames[index];
    LogTrace(u"[MC] Change server to %ls", name);
    if (name == state.mCurrentServer)
    {
        if (state.mFrames[_FRAME_PROMPT])
        {
            gChosenServer = index;
            gChosenCombo = combo->mControl;
            ShowPrompt(state, _PROMPT_SERVER, state.mPrompts[3]);
            return;
        }
        int answer = Ui::ShowMessageBox(frame->mWindow, state.mPrompts[3], state.mTitle,
                                        Ui::_MB_YESNO | Ui::_MB_ICONQUESTION);
        if (answer != Ui::_IDYES)
            return;
    }
    SwitchLocation(state, state.mServerUrls[index], 1);
    state.mCurrentServer = name;
    Ui::ComboSetSelection(combo->mControl, index);
    EndPass();
}

void ApplyBossSettings(LauncherState& state, int slot, _dword controlIds)
{
    FrameWindow* frame = GetFrame(state, static_cast<_dword>(slot));
    if (!frame)
        return;
    _dword hotKey = frame->GetHotkey(Ui::LowWord(controlIds));
    bool checked = frame->IsChecked(Ui::HighWord(controlIds));
    bool modifier = (hotKey & 0xFF00) != 0;
    if (!modifier && checked)
    {
        LogTrace(u"[MC] Boss key 0x%x refused: no modifier", hotKey);
        if (state.mFrames[_FRAME_PROMPT])
            ShowPrompt(state, _PROMPT_NONE, state.mPrompts[2]);
        else
            Ui::ShowMessageBox(frame->mWindow, state.mPrompts[2], state.mTitle, Ui::_MB_OKCANCEL);
        return;
    }
    state.mHotKey = modifier ? hotKey : 0;
    state.mBossChecked = checked;
    if (checked)
        RegisterBossKey(state, state.mHotKey);
    else
        Ui::UnregisterGlobalHotKey(GameWindow(state), 0);
    WriteBossSettings(state);
    Ui::ShowUiWindow(frame->mWindow, Ui::_SW_HIDE);
}

bool RegisterBossKey(const FramesAndPages& frames, _dword value)
{
    Ui::WindowId window = GameWindow(frames);
    if (!window)
        return false;
    Ui::UnregisterGlobalHotKey(window, 0);
    if (value == 0)
        return false;
    _dword modifiers = 0, key = 0;
    Ui::HotKeyValueToRegistration(value, modifiers, key);
    bool ok = Ui::RegisterGlobalHotKey(window, 0, modifiers, key);
    if (!ok)
        LogError(u"[MC] Cannot register the boss key 0x%x", value);
    return ok;
}

void ToggleLauncher(LauncherState& state, bool bossKey)
{
    FrameWindow* main = state.mFrames[_FRAME_MAIN].get();
    Ui::WindowId window = GameWindow(state);
    if ((main && IsVisible(main->mWindow)) || !window)
        return;
    if (IsVisible(window))
    {
        if (bossKey)
            Ui::RemoveTrayIcon(window, 0);
        Ui::ShowUiWindow(window, Ui::_SW_HIDE);
        state.mImWasVisible = state.mImPopup && IsVisible(state.mImPopup->mWindow);
        if (state.mImWasVisible)
            Ui::ShowUiWindow(state.mImPopup->mWindow, Ui::_SW_HIDE);
        state.mVideoPopup.reset();
        for (int slot = 1; slot < _FRAME_SLOTS; ++slot)
            HideSlot(state, static_cast<Ui::WParam>(slot));
        return;
    }
    if (bossKey)
    {
        ImageRef icon = LoadSkinImage(u"skin/icon.png");
        Ui::AddTrayIcon(window, 0, icon.get(), state.mTitle, _WM_TRAYICON);
    }
    Ui::ShowUiWindow(window, Ui::_SW_SHOW);
    Ui::UpdateUiWindow(window);
    if (Ui::IsUiWindowMinimized(window))
        Ui::ShowUiWindow(window, Ui::_SW_RESTORE);
    if (state.mImWasVisible && state.mImPopup)
        Ui::ShowUiWindow(state.mImPopup->mWindow, Ui::_SW_SHOW);
}

void HandleMenuCommand(LauncherState& state, _dword id, const String& text, const String& url)
{
    GameFrame* game = state.mGameFrame.get();
    Ui::WindowId window = GameWindow(state);
    switch (id)
    {
    case _CMD_GAME:
        if (state.mStartMode == 2)
        {
            for (auto& entry : state.mPages)
                if (entry.mWeb && entry.mId >= 1 && entry.mId <= 999)
                    HidePage(*entry.mWeb);
            if (state.mGameChild)
            {
                Ui::ShowUiWindow(state.mGameChild, Ui::_SW_SHOW);
                Ui::SetFocusUiWindow(state.mGameChild);
            }
        }
        else if (game && window)
        {
            WebRef page = state.mGamePage ? state.mGamePage : MainPage(state);
            if (page)
            {
                for (auto& entry : state.mPages)
                    if (entry.mWeb && entry.mWeb != page && entry.mId >= 1 && entry.mId <= 999)
                        HidePage(*entry.mWeb);
                ShowPage(*page);
            }
        }
        return;
    case _CMD_REFRESH:
        if (GameRunning(state))
        {
            if (state.mRefreshing != 0)
                return;
            ++state.mRefreshing;
            if (state.mStartMode == 2)
            {
                // The pass's reset unloads the module; the next pass's loader stage starts it again.
                LogTrace(u"[MC] Refresh, re-initializing");
                EndPass();
                return;
            }
            if (!state.mLoginDone)
            {
                WebRef page = MainPage(state);
                String address = page ? CurrentUrl(*page) : String();
                LogTrace(u"[MC] Refresh %ls", address);
                SwitchLocation(state, address, 1);
                EndPass();
                return;
            }
            LogTrace(u"[MC] Send msg to game, %d, %d, %d", _WM_GAME_REFRESH, 1, 0);
            if (state.mLoaderHost)
                state.mLoaderHost->ForwardMessage(_WM_GAME_REFRESH, 1, 0);
            return;
        }
        for (auto& page : state.mPages)
            if (page.mWeb)
                Ui::WebRefresh(page.mWeb->mWindow);
        return;
    case _CMD_SHORTCUT:
        CreateDesktopShortcut(state, state.mShortcutName, String());
        return;
    case _CMD_CLEAR:
        if (state.mFrames[_FRAME_PROMPT])
            ShowPrompt(state, _PROMPT_CLEAN, state.mCleanCacheText);
        else if (Ui::ShowMessageBox(window, state.mCleanCacheText, state.mCleanCacheCaption,
                                    Ui::_MB_YESNO | Ui::_MB_ICONQUESTION) == Ui::_IDYES)
            CleanCache(state);
        return;
    case _CMD_CLOSE:
        LogTrace(u"[MC] Exit to %ls", state.mExitUrl);
        if (AskExit(state, window, state.mExitUrl))
            EndPass();
        return;
    case _CMD_MAXIMIZE:
        Ui::ShowUiWindow(window, Ui::_SW_MAXIMIZE);
        return;
    case _CMD_RESTORE:
        Ui::ShowUiWindow(window, Ui::_SW_RESTORE);
        return;
    case _CMD_MINIMIZE:
        for (WebWindow* popup : {state.mImPopup.get(), state.mVideoPopup.get()})
            if (popup && Ui::IsUiWindow(popup->mWindow))
                HidePage(*popup);
        Ui::ShowUiWindow(window, Ui::_SW_MINIMIZE);
        return;
    case _CMD_TRAY:
        ToggleLauncher(state, false);
        return;
    case _CMD_IM:
        // The server data names the IM page when the entry itself has none.
        OpenImPopup(state, url.empty() ? state.mImUrl : url, state.mImTitle.empty() ? text : state.mImTitle);
        return;
    case _CMD_DROPDOWN:
    case _CMD_USER:
        ToggleSlotOne(state);
        return;
    case _CMD_BOSS:
        ToggleBossWindow(state);
        return;
    default:
        break;
    }
    if (id >= 1 && id <= 999)
    {
        ShowUrlPage(state, id, url);
        return;
    }
    if (id == 0 && !url.empty())
        BrowseUrl(url);
}

bool HandleButton(LauncherState& state, int kind, ScriptObject* object, FrameWindow& frame)
{
    switch (kind)
    {
    case _BUTTON_CLOSE:
        if (frame.mIndex >= 4)
        {
            state.mLoopEnd = 2;
            EndPass();
        }
        else if (frame.mIndex == _FRAME_MAIN)
        {
            if (AskExit(state, frame.mWindow, String()))
                EndPass(); // as the frame's own close would
        }
        else
            Ui::ShowUiWindow(frame.mWindow, Ui::_SW_HIDE);
        break;
    case _BUTTON_MINIMIZE:
        Ui::ShowUiWindow(frame.mWindow, Ui::_SW_SHOWMINIMIZED);
        break;
    default:
        return false;
    }
    return true;
}

bool HandleSlotMessage(LauncherState& state, FrameWindow& frame, _dword message, Ui::WParam wParam,
                       Ui::LParam lParam)
{
    if (frame.mIndex >= 1 && !state.mDownloadUrl.empty() && PollHallDownload(state))
    {
        state.mDownloadUrl.clear();
        String hall = JoinFolder(state.mDownloadFolder.empty() ? GetCurrentFolder() : state.mDownloadFolder,
                                 u"hall.exe");
        if (DownloadedProgramMayStart(state, hall) && !StartProcess(u"\"" + hall + u"\""))
            LogError(u"[MC] Cannot start %ls", hall);
    }
    switch (message)
    {
    case Ui::_WM_CLOSE:
        if (frame.mIndex >= 4)
        {
            state.mLoopEnd = 2;
            EndPass();
        }
        else if (frame.mIndex == _FRAME_MAIN)
        {
            if (AskExit(state, frame.mWindow, String()))
                EndPass();
        }
        else
            Ui::ShowUiWindow(frame.mWindow, Ui::_SW_HIDE);
        return true;
    case _WM_RUN_SETUP:
        RunSetup(state);
        return true;
    case Ui::_WM_COMMAND:
        // A server chosen in a combo box, the current one again too (that one asks first): handled after
        // the control's own notification is done.
        if (Ui::HighWord(wParam) == Ui::_CBN_SELENDOK)
            for (const auto& combo : frame.mCombos)
                if (combo.mControl == static_cast<Ui::WindowId>(lParam))
                {
                    Ui::WindowId target = GameWindow(state) ? GameWindow(state) : frame.mWindow;
                    Ui::PostUiMessage(target, _WM_SERVER_CHOICE, static_cast<Ui::WParam>(frame.mIndex),
                                      combo.mId);
                    return true;
                }
        return false;
    case _WM_PROMPT_CONFIRMED:
    case _WM_SERVER_CHOICE:
    case _WM_LOGOFF:
    case _WM_BOSS_SETTINGS:
    case _WM_HIDE_SLOT:
    case _WM_EXIT_NOTICE:
    case _WM_INVOKE:
        // Scripts send these to the main window while the game frame is hidden.
        return HandleGameFrameMessage(state, message, wParam, lParam);
    default:
        break;
    }
    if (frame.mIndex >= 1)
    {
        FrameWindow* main = state.mFrames[_FRAME_MAIN].get();
        Ui::WindowId game = GameWindow(state);
        if (main && IsVisible(game) && IsVisible(main->mWindow) && state.mMainShown)
        {
            LogTrace(u"[MC] !!!!!!Mainwindow 0x%x shown when frame 0x%x shown, hide main msg 0x%x(0x%x,0x%x)",
                     main->mWindow, game, message, static_cast<_dword>(wParam), static_cast<_dword>(lParam));
            Ui::ShowUiWindow(game, Ui::_SW_HIDE);
        }
    }
    return false;
}

void ReadBossSettings(LauncherState& state)
{
    File file;
    _byte bytes[8];
    _dword read = 0;
    if (!file.OpenRead(u"mcconfig.ini") || !file.Read(bytes, 8, &read) || read != 8)
        return;
    state.mHotKey = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<_dword>(bytes[3]) << 24);
    state.mBossChecked = bytes[4] != 0;
}

bool WriteBossSettings(const LauncherState& state)
{
    _byte bytes[8] = {static_cast<_byte>(state.mHotKey),
                      static_cast<_byte>(state.mHotKey >> 8),
                      static_cast<_byte>(state.mHotKey >> 16),
                      static_cast<_byte>(state.mHotKey >> 24),
                      static_cast<_byte>(state.mBossChecked ? 1 : 0),
                      0,
                      0,
                      0};
    // Written beside and renamed over: a failed write leaves the saved choices as they were.
    if (WriteFile(u"mcconfig.ini", bytes, sizeof bytes))
        return true;
    LogError(u"[MC] Cannot save the boss-key settings to mcconfig.ini; the saved ones stay");
    return false;
}

void BrowseUrl(const String& url)
{
    // No browser of this platform needs the environment dance; the desktop's opener takes the address.
    if (!OpenWithArguments(url))
        LogError(u"[MC] Cannot open %ls", url);
}

} // namespace Vexel
