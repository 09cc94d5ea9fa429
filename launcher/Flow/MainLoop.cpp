#include "Flow/MainLoop.h"

#include "Flow/Commands.h"
#include "Frames/FrameWindow.h"
#include "Frames/GameFrame.h"
#include "Frames/WebWindow.h"
#include "Services/GameModule.h"
#include "Services/LoaderChoice.h"
#include "Services/RemoteFetch.h"

#include "Common/Log.h"
#include "Common/StringHelpers.h"

#include <algorithm>

namespace Vexel
{

namespace
{

// Browsers replaced by SwitchLocation: freed at the end of the pass, never inside their own events.
std::vector<WebRef>& Retired()
{
    static std::vector<WebRef> retired;
    return retired;
}

bool IsWordChar(char16_t c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_';
}

void SetPageOptions(const ScriptSettings& settings, WebWindow& web)
{
    SetBrowserOption(web, u's', settings.mScrollBars);
    SetBrowserOption(web, u'a', false);
    SetBrowserOption(web, u'm', false);
    SetBrowserOption(web, u'c', false);
}

// Puts the page into the window as a child filling its client area (the game frame), or at the frame's
// web rectangle (a frame slot).
void AttachPage(WebWindow& web, Ui::WindowId window, const Ui::Rect* place)
{
    Ui::Rect r;
    if (place)
        r = *place;
    else if (Ui::GetClientBounds(window, r))
        r = {0, 0, r.right, r.bottom};
    if (Ui::GetParentWindow(web.mWindow) != window)
        Ui::ReparentWindow(web.mWindow, window, Ui::_WS_CHILD, 0, r.left, r.top);
    web.mParent = window;
    web.mKind = _WEB_CHILD;
    Ui::MoveUiWindow(web.mWindow, r.left, r.top, place ? r.right : r.Width(), place ? r.bottom : r.Height());
}

void LoaderLine(LauncherState& state)
{
    const LoaderSource& loader = state.mLoader;
    if (state.mStartMode == 2)
        LogTrace(u"[MC] Game loader to load: url local:\\\\%ls, md5 , path %ls, %d parameters",
                 state.mLoaderPath, state.mLoaderPath, static_cast<int>(state.mLoaderArgs.size()));
    else
        LogTrace(u"[MC] Game loader to load: url %ls, md5 %ls, path %ls, %d parameters", loader.mUrl,
                 loader.mMd5, loader.mPath, static_cast<int>(loader.mParamNames.size()));
}

void OnPageLoadStart(LauncherState& state, WebWindow& web)
{
    if (state.mStartMode == 1 && state.mLoginPage.get() == &web)
        return;
    LogTrace(u"[MC] Onload called: %ls", CurrentUrl(web));
    HidePage(web);
}

void OnPageComplete(LauncherState& state, WebWindow& web)
{
    String url = CurrentUrl(web);
    LogTrace(u"[MC] Preload page at: %ls", url);
    bool game = ContainsAny(url, state.mQuietUrls);
    if (!game && !state.mGameShown)
        ShowPage(web);
    if (url == state.mCurrentPageUrl)
        return;
    if (game && state.mGameState != 2)
    {
        LogTrace(u"[MC] Found game url, %ls", url);
        state.mGameState = 1;
        int w = ReadSizeValue(url, u"w="), h = ReadSizeValue(url, u"h=");
        if (w != 0 && h != 0)
        {
            state.mLoadingWidth = w;
            state.mLoadingHeight = h;
        }
    }
    state.mCurrentPageUrl = url;
    GameFrame* frame = state.mGameFrame.get();
    if (frame && frame->mWindow && Ui::IsUiWindowVisible(frame->mWindow))
        return;
    if (state.mStartMode == 1 && StartsWithAny(url, state.mFrameUrls))
        return;
    if (state.mStartMode == 1 && !state.mGameShown && game)
    {
        HidePage(web);
        for (auto& page : state.mPages)
            if (page.mWeb.get() == &web)
                state.mLoginPage = page.mWeb;
        state.mGameShown = true;
        EndPass();
    }
}

} // namespace

int ReadSizeValue(const String& url, const String& name)
{
    for (std::size_t at = url.find(name); at != String::npos; at = url.find(name, at + 1))
    {
        std::size_t begin = at + name.size(), end = begin;
        while (end < url.size() && IsWordChar(url[end]))
            ++end;
        if (end == begin)
            continue;
        int value = 0;
        for (std::size_t i = begin; i < end && url[i] >= u'0' && url[i] <= u'9'; ++i)
            value = std::min(value * 10 + (url[i] - u'0'), 100000);
        return value;
    }
    return 0;
}

void SetMainPageCallbacks(LauncherState& state, WebWindow& web)
{
    LauncherState* s = &state;
    web.mOnRestart = [s](WebWindow& w) { OnPageLoadStart(*s, w); };
    web.mOnReady = [s](WebWindow& w) { OnPageComplete(*s, w); };
    web.mOnComplete = [s](WebWindow&)
    {
        if (s->mStartMode == 1 && s->mGameFrame)
            s->mGameFrame->mShowLogo = false; // the frame's loading picture gives way to the page
    };
}

void AddPageWindow(LauncherState& state, PageEntry& page)
{
    FrameWindow* frame = GetFrame(state, static_cast<_dword>(page.mSlot));
    if (!frame)
        return;
    const Ui::Rect& r = frame->mWebRect;
    WebRef web =
        CreateWebWindow(frame->mWindow, r.left, r.top, r.right, r.bottom, static_cast<int>(page.mKind));
    if (!web)
        return;
    page.mWeb = web;
    if (web->mKind == _WEB_POPUP)
        frame->mOwnerPage = web->mWindow;
    web->mShowOnLoad = page.mShowOnLoad;
    SetBrowserOption(*web, u's', state.mScrollBars);
    SetBrowserOption(*web, u'a', false);
    SetBrowserOption(*web, u'm', false);
    SetBrowserOption(*web, u'c', false);
    SetMainPageCallbacks(state, *web);
    TracePage(*web, u"Hide", 0);
    web->mShown = false;
    Ui::ShowUiWindow(web->mWindow, Ui::_SW_HIDE);
    LogTrace(u"[MC] Add page at: %ls", page.mUrl);
    state.mCurrentPageUrl = page.mUrl;
    if (!page.mUrl.empty())
        NavigateWeb(*web, page.mUrl);
}

bool EnsureGameFrame(LauncherState& state)
{
    GameFrame* game = state.mGameFrame.get();
    if (!game)
        return false;
    if (game->mWindow)
        return true;
    int w = state.mWidth > 0 ? state.mWidth : 1024;
    int h = state.mHeight > 0 ? state.mHeight : 700;
    Ui::Size screen = Ui::GetScreenSize();
    int x = std::max((screen.width - w) / 2, 0), y = std::max((screen.height - h) / 2, 0);
    if (!CreateGameFrameWindow(state, x, y, w, h))
        return false;
    game->BuildWindowMenu(state);
    ImageRef icon = LoadSkinImage(u"skin/icon.png");
    if (icon)
        Ui::SetWindowIconImage(game->mWindow, *icon);
    Ui::AddTrayIcon(game->mWindow, 0, icon.get(), state.mTitle, _WM_TRAYICON);
    if (state.mBossChecked)
        RegisterBossKey(state, state.mHotKey);
    return true;
}

bool WebIdle(LauncherState& state, _dword)
{
    if (state.mGameState == 1)
        ChooseLoader(state);
    return true;
}

bool GameIdle(LauncherState& state, _dword elapsed)
{
    DriveLoader(state);
    if (!state.mInfoServer[0].empty() || !state.mPluginUrl.empty())
        PollServerData(state);
    if (state.mGameFrame)
        state.mGameFrame->BlinkStep();
    state.mRefreshing = 0;
    return WebIdle(state, elapsed);
}

void RunWebStage(LauncherState& state)
{
    LogTrace(u"[MC] Show web window");
    GameFrame* game = state.mGameFrame.get();
    if (!game)
        return;
    if (!game->mWindow)
    {
        if (!EnsureGameFrame(state))
        {
            LogTrace(u"[MC] Create main window fail");
            return;
        }
        Ui::Rect client;
        Ui::GetClientBounds(game->mWindow, client);
        // A main page the scripts made (frame stage before) moves in below instead.
        WebRef web = MainPage(state)
                         ? nullptr
                         : CreateWebWindow(game->mWindow, 0, 0, client.Width(), client.Height(), _WEB_CHILD);
        if (web)
        {
            PageEntry page;
            page.mId = -1;
            page.mSlot = -1;
            page.mUrl = state.mStartUrl;
            page.mWeb = web;
            state.mPages.push_back(page);
            SetMainPageCallbacks(state, *web);
            SetPageOptions(state, *web);
            LogTrace(u"[MC] Show page at: %ls", state.mStartUrl);
            NavigateWeb(*web, state.mStartUrl);
        }
    }
    Ui::ShowUiWindow(game->mWindow, (state.mFrameStyle & _FRAME_MAXIMIZED) ? Ui::_SW_MAXIMIZE : Ui::_SW_SHOW);
    Ui::UpdateUiWindow(game->mWindow);
    if (WebRef page = MainPage(state))
    {
        if (Ui::IsUiWindowMinimized(game->mWindow))
            Ui::ShowUiWindow(game->mWindow, Ui::_SW_RESTORE);
        AttachPage(*page, game->mWindow, nullptr);
        ShowPage(*page);
    }
    PumpMessages(
        game->mWindow, [&state](_dword elapsed) { return WebIdle(state, elapsed); }, true);
}

void RunFrameStage(LauncherState& state)
{
    LogTrace(u"[MC] Show frame window, %d, %d", state.mGameShown ? 1 : 0, state.mRefreshing);
    FrameWindow* main = state.mFrames[_FRAME_MAIN].get();
    WebRef login = state.mLoginPage ? state.mLoginPage : MainPage(state);
    if (!state.mGameShown && main)
    {
        Ui::ShowUiWindow(main->mWindow, Ui::_SW_SHOW);
        if (state.mGameFrame && state.mGameFrame->mWindow)
            Ui::ShowUiWindow(state.mGameFrame->mWindow, Ui::_SW_HIDE);
        if (login)
        {
            if (login->mParent != main->mWindow && login->mKind == _WEB_CHILD)
                AttachPage(*login, main->mWindow, &main->mWebRect);
            ShowPage(*login);
        }
        main->mWebActive = true;
        state.mMainShown = true;
        LogTrace(u"[MC] Main window shown");
        Ui::SetFocusUiWindow(main->mWindow);
        if (state.mRefreshing == 0)
            PumpMessages(main->mWindow, nullptr, true);
    }
    if (!state.mGameShown && state.mRefreshing == 0)
    {
        LogTrace(u"[MC] Show frame window return, %d, %d", 0, 0);
        return;
    }
    if (state.mLoopEnd != 0 || !EnsureGameFrame(state))
        return;
    login = state.mLoginPage ? state.mLoginPage : MainPage(state);
    if (!login || !Ui::IsUiWindowVisible(login->mWindow))
    {
        LogTrace(u"[MC] No game window, continue loop main window.");
        PumpMessages(
            state.mGameFrame->mWindow, [&state](_dword elapsed) { return WebIdle(state, elapsed); }, true);
    }
}

void RunLoaderStage(LauncherState& state)
{
    if (!EnsureGameFrame(state))
        return;
    Ui::ShowUiWindow(state.mGameFrame->mWindow, Ui::_SW_SHOW);
    Ui::UpdateUiWindow(state.mGameFrame->mWindow);
}

void RunGameStage(LauncherState& state)
{
    LogTrace(u"[MC] Show game window, game stage %d, mc type %d", state.mStartMode, state.mGameState);
    // Nothing to run: the pass ends here rather than waiting in a pump that only an exit could end.
    if ((state.mGameState != 2 && state.mStartMode != 2) || state.mLoopEnd != 0)
        return;
    if (!EnsureGameFrame(state))
    {
        LogTrace(u"[MC] Create main window fail");
        return;
    }
    GameFrame& game = *state.mGameFrame;
    if (FrameWindow* main = state.mFrames[_FRAME_MAIN].get())
        Ui::ShowUiWindow(main->mWindow, Ui::_SW_HIDE);
    Ui::ShowUiWindow(game.mWindow, (state.mFrameStyle & _FRAME_MAXIMIZED) ? Ui::_SW_MAXIMIZE : Ui::_SW_SHOW);
    if (state.mGamePage)
        AttachPage(*state.mGamePage, game.mWindow, nullptr);
    LoaderLine(state);
    StartLoader(state);
    if (!state.mInfoServer[0].empty())
    {
        WebRef page = MainPage(state);
        String address = page ? CurrentUrl(*page) : String();
        if (address.empty())
            address = state.mCurrentPageUrl;
        StartServerInfoRequest(state, state.mInfoServer[0], state.mInfoServer[1], state.mInfoServer[2],
                               address, state.mInfoServer[5]);
    }
    else if (!state.mPluginUrl.empty())
        StartPluginDownload(state, state.mPluginUrl, u"vexelsetup.exe");
    // Idle turns sleep as a busy pump does: the module keeps its own frame clock, and a loop that never
    // sleeps would take a whole core from the machine for nothing.
    PumpMessages(
        game.mWindow, [&state](_dword elapsed) { return GameIdle(state, elapsed); }, true);
    state.mRefreshing = 0;
}

void ResetPass(LauncherState& state)
{
    state.mGameState = 0;
    state.mGameShown = false;
    state.mMainShown = false; // a flag of the pass
    state.mLoginDone = false;
    state.mCurrentPageUrl.clear();
    state.mLoader.mWaitStarted = false;
    CancelMainFetch(state);
    ClosePopups(state);
    StopLoader(state);
    FrameWindow* main = state.mFrames[_FRAME_MAIN].get();
    WebRef page = MainPage(state);
    if (state.mStartMode == 1 && page && main)
    {
        HidePage(*page);
        if (page->mKind == _WEB_CHILD || page->mKind == _WEB_POPUP)
        {
            if (main->mOwnerPage == page->mWindow)
            {
                Ui::ReparentWindow(page->mWindow, 0, Ui::_WS_POPUP, Ui::_WS_EX_TOOLWINDOW, 0, 0);
                page->mParent = main->mWindow;
            }
            else
                AttachPage(*page, main->mWindow, &main->mWebRect);
        }
        PlaceFrameWebWindow(state, *main);
    }
    for (auto& frame : state.mFrames)
        if (frame)
            Ui::ShowUiWindow(frame->mWindow, Ui::_SW_HIDE);
    if (GameFrame* game = state.mGameFrame.get())
    {
        if (state.mStartMode == 1 && game->mWindow)
            Ui::ShowUiWindow(game->mWindow, Ui::_SW_HIDE);
        for (_dword id : {_CMD_IM, _CMD_USER, _CMD_DROPDOWN, _CMD_CUSTOM})
            game->UpdateMenuEntry(id, String(), String(), 0);
    }
    state.mGamePage.reset();
    Retired().clear();
}

void RunMainLoop(LauncherState& state)
{
    while (state.mLoopEnd == 0)
    {
        switch (state.mStartMode)
        {
        case 1:
            RunFrameStage(state);
            break;
        case 2:
            RunLoaderStage(state);
            break;
        default:
            RunWebStage(state);
            break;
        }
        RunGameStage(state);
        ResetPass(state);
    }
    Retired().clear();
}

void SwitchLocation(LauncherState& state, const String& url, int restart)
{
    LogTrace(u"[MC] Switch location to: %ls, restart %d", url, restart);
    state.mLoader.mWaitStarted = false;
    PageEntry* entry = nullptr;
    for (auto& page : state.mPages)
        if (page.mId == -1 && page.mWeb)
        {
            entry = &page;
            break;
        }
    if (!entry)
        return;
    WebRef old = entry->mWeb;
    Ui::Rect place{old->mX, old->mY, old->mX + old->mW, old->mY + old->mH};
    if (Ui::GetParentWindow(old->mWindow))
    {
        // Where the old browser is now, in its parent's client area.
        Ui::Rect bounds;
        Ui::Point origin;
        if (Ui::GetWindowBounds(old->mWindow, bounds))
        {
            origin = {bounds.left, bounds.top};
            Ui::ScreenToClientPoint(old->mParent, origin);
            place = Ui::Rect::FromSize(origin.x, origin.y, bounds.Width(), bounds.Height());
        }
    }
    WebRef web =
        CreateWebWindow(old->mParent, place.left, place.top, place.Width(), place.Height(), old->mKind);
    if (web)
    {
        web->mShowOnLoad = old->mShowOnLoad;
        web->mOnRestart = old->mOnRestart;
        web->mOnReady = old->mOnReady;
        web->mOnComplete = old->mOnComplete;
        SetPageOptions(state, *web);
        if (!Ui::IsUiWindowVisible(old->mWindow))
            HidePage(*web);
        entry->mWeb = web;
        if (state.mLoginPage == old)
            state.mLoginPage = web;
        if (state.mGamePage == old)
            state.mGamePage.reset();
        for (auto& frame : state.mFrames)
            if (frame && frame->mOwnerPage == old->mWindow)
                frame->mOwnerPage = web->mWindow;
        Ui::ShowUiWindow(old->mWindow, Ui::_SW_HIDE);
        Retired().push_back(old);
        NavigateWeb(*web, url);
    }
    if (StartsWithAny(url, state.mFrameUrls))
    {
        state.mStartMode = 1;
        LogTrace(u"[MC] Switching to frame url %ls", url);
        state.mGameState = 0;
        state.mRefreshing = 0;
    }
    else if (state.mStartMode != 2)
        state.mStartMode = 0;
}

bool AskExit(LauncherState& state, Ui::WindowId owner, const String& exitUrl)
{
    if (state.mLoopEnd == 1 || state.mLoopEnd == 2)
        return true;
    if (state.mLoopEnd == 3)
        return false;
    if (!exitUrl.empty())
    {
        SwitchLocation(state, exitUrl, 0);
        return true;
    }
    if (state.mFrames[_FRAME_PROMPT])
    {
        ShowPrompt(state, _PROMPT_EXIT, state.mPrompts[0]);
        return false;
    }
    state.mLoopEnd = 3;
    if (FrameWindow* main = state.mFrames[_FRAME_MAIN].get();
        main && owner == main->mWindow && main->mOwnerPage)
        owner = main->mOwnerPage;
    int answer =
        Ui::ShowMessageBox(owner, state.mPrompts[0], state.mTitle, Ui::_MB_YESNO | Ui::_MB_ICONQUESTION);
    if (answer == Ui::_IDYES || answer == 0)
    {
        state.mLoopEnd = 1;
        return true;
    }
    state.mLoopEnd = 0;
    return false;
}

} // namespace Vexel
