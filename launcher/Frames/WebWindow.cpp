#include "Frames/WebWindow.h"

#include "Frames/GameFrame.h"

#include "Common/Log.h"
#include "Common/StringFormatter.h"
#include "Platform/Ui/UiCanvas.h"

#include <algorithm>
#include <set>

namespace Vexel
{

namespace
{

constexpr int _FOLLOWER_TOP = 50;
constexpr int _FOLLOWER_MARGIN = 10;

// Windows that hold a browser, for the key handler of the pump.
std::set<Ui::WindowId>& WebWindows()
{
    static std::set<Ui::WindowId> windows;
    return windows;
}

bool Visible(Ui::WindowId window)
{
    return Ui::IsUiWindowVisible(window);
}

void ShowIfContent(WebWindow& web)
{
    Ui::ShowUiWindow(web.mWindow, web.mPageDone || web.mReady ? Ui::_SW_SHOW : Ui::_SW_HIDE);
}

void FocusParentOfPopup(WebWindow& web)
{
    if (web.mKind == _WEB_POPUP && Visible(web.mParent))
        Ui::SetFocusUiWindow(web.mParent);
}

void SetLook(WebWindow& web, _dword border, _dword titleColor, const String& font, const String& suffix,
             const String& titleImage, const String& closeNormal, const String& closeHover, int closeRight,
             int closeTop)
{
    web.mBorderColor = border;
    web.mTitleColor = titleColor;
    web.mTitleFont = font;
    web.mTitleSuffix = suffix;
    web.mTitleImage = LoadSkinImage(titleImage);
    web.mCloseNormal = LoadSkinImage(closeNormal);
    web.mCloseHover = LoadSkinImage(closeHover);
    web.mCloseRight = closeRight;
    web.mCloseTop = closeTop;
    web.ApplyInsets();
    SetBrowserOption(web, u'm', false);
    SetBrowserOption(web, u's', false);
    SetBrowserOption(web, u'c', false);
}

} // namespace

WebWindow::~WebWindow()
{
    DestroyWebWindow(*this);
}

_dword WebWindow::HostId() const
{
    // The record's address stands for the browser host: unique while the page lives.
    return static_cast<_dword>(reinterpret_cast<std::uintptr_t>(this));
}

int WebWindow::TitleHeight() const
{
    return mTitleImage ? mTitleImage->Height() : _WEB_CAPTION_HEIGHT;
}

void WebWindow::ApplyInsets()
{
    if (!DrawsFrame() || !mWindow)
        return;
    Ui::SetFrameInsets(mWindow, {mBorderWidth, mBorderWidth + TitleHeight(), mBorderWidth, mBorderWidth});
}

void WebWindow::PaintFrame()
{
    Ui::Rect bounds;
    if (!DrawsFrame() || !Ui::GetWindowBounds(mWindow, bounds) || bounds.IsEmpty())
        return;
    int width = bounds.Width(), height = bounds.Height(), border = mBorderWidth, title = TitleHeight();
    Ui::Canvas canvas(width, height);
    _dword color = Ui::OpaqueColor(mBorderColor);
    canvas.Clear(color);
    if (mTitleImage)
        canvas.DrawImage(*mTitleImage, {border, border, width - border, border + title});
    if (!mTitleFont.empty())
        canvas.DrawString(Ui::GetWindowTitle(mWindow),
                          {border + 8, border + 4, width - border, border + title},
                          Ui::FontSpec{mTitleFont, 14, false}, Ui::OpaqueColor(mTitleColor),
                          Ui::_DT_LEFT | Ui::_DT_TOP | Ui::_DT_SINGLELINE);
    const ImageRef& close = mCloseHot && mCloseHover ? mCloseHover : mCloseNormal;
    if (close)
    {
        int right = width - border - mCloseRight;
        mCloseRect = {right - close->Width(), border + mCloseTop, right,
                      border + mCloseTop + close->Height()};
        canvas.DrawImage(*close, mCloseRect);
    }
    else
        mCloseRect = {};
    Ui::PresentWindowCanvas(mWindow, canvas);
}

void WebWindow::CloseRequest(Ui::WParam wParam, Ui::LParam lParam)
{
    if (!mHideOnClose)
    {
        Ui::DestroyUiWindow(mWindow);
        return;
    }
    TracePage(*this, u"Hide", mForce);
    mShown = false;
    Ui::ShowUiWindow(mWindow, Ui::_SW_HIDE);
    Ui::SendUiMessage(mParent, _WM_WEB_HIDDEN, wParam, lParam);
}

void WebWindow::KeepInsideParent()
{
    Ui::Rect parent, own;
    if (mMoving || !Ui::GetWindowBounds(mParent, parent) || !Ui::GetWindowBounds(mWindow, own))
        return;
    int margin = Ui::IsUiWindowMaximized(mParent) ? _FOLLOWER_MARGIN : 0;
    int x = std::max(own.left, parent.left + margin);
    x = std::min(x, parent.right - margin - own.Width());
    int y = std::max(own.top, parent.top + _FOLLOWER_TOP + margin);
    y = std::min(y, std::max(parent.bottom - margin - own.Height(), parent.top + _FOLLOWER_TOP + margin));
    if (x != own.left || y != own.top)
    {
        mMoving = true;
        Ui::SetWindowPlace(mWindow, x, y);
        mMoving = false;
    }
    if (!Ui::IsUiWindowMinimized(mParent))
    {
        mX = x - parent.left;
        mY = y - parent.top;
    }
}

Ui::LResult WebWindow::Handle(_dword message, Ui::WParam wParam, Ui::LParam lParam)
{
    Ui::WindowId window = mWindow;
    switch (message)
    {
    case Ui::_WM_WEB_BEFORENAVIGATE:
        if (mReady)
        {
            mReady = mPageDone = mForce = false;
            if (mOnRestart)
                mOnRestart(*this);
        }
        return 0;
    case Ui::_WM_WEB_NAVIGATECOMPLETE:
        if (mOnComplete)
            mOnComplete(*this);
        return 0;
    case Ui::_WM_WEB_DOCUMENTCOMPLETE:
    {
        bool complete = IsDocumentReady(*this);
        if (!mReady && mOnReady && complete)
            mOnReady(*this);
        mReady = true;
        if (mShown && !Visible(window))
        {
            LogTrace(u"[MC] Page 0x%x ready in window 0x%x, doc ready %d", HostId(), window,
                     complete ? 1 : 0);
            TracePage(*this, u"Show", 0);
            mShown = true;
            ShowIfContent(*this);
            FocusParentOfPopup(*this);
        }
        return 0;
    }
    case Ui::_WM_WEB_SCRIPTSTART:
        if (!mShowOnLoad)
        {
            LogTrace(u"[MC] Start to load page, but not shown");
            return 0;
        }
        mPageDone = true;
        if (mShown && !Visible(window))
        {
            LogTrace(u"[MC] Page 0x%x done in window 0x%x, show is %d", HostId(), window, mShown ? 1 : 0);
            TracePage(*this, u"Show", 0);
            mShown = true;
            ShowIfContent(*this);
            FocusParentOfPopup(*this);
        }
        return 0;
    case Ui::_WM_WEB_NAVIGATEERROR:
        LogTrace(u"[MC] Page 0x%x visit error, pagedone %d, ready %d", HostId(), mPageDone ? 1 : 0,
                 mReady ? 1 : 0);
        return 0;
    case _WM_WEB_INVOKE:
        // A named page command, for the launcher's handlers.
        return Ui::SendUiMessage(mParent, _WM_INVOKE, wParam, lParam);
    case Ui::_WM_PAINT:
        return 0;
    case Ui::_WM_MOUSEWHEEL:
        return 0;
    case Ui::_WM_ERASEBKGND:
        return 1;
    case Ui::_WM_MOUSEACTIVATE:
        if (mKind == _WEB_POPUP && Visible(mParent))
            Ui::SetFocusUiWindow(mParent);
        else
            Ui::SetFocusUiWindow(window);
        return 0;
    default:
        break;
    }

    if (!DrawsFrame())
    {
        switch (message)
        {
        case Ui::_WM_CLOSE:
            Ui::SendUiMessage(mParent, Ui::_WM_CLOSE, wParam, lParam);
            return 0;
        case _WM_WEB_NEWMSG:
        case _WM_WEB_GSNAME:
        case _WM_WEB_CONSOLEMSG:
            return 0; // only the launcher's own top-level pages answer the page
        default:
            return Ui::DefaultHandler(window, message, wParam, lParam);
        }
    }

    switch (message)
    {
    case _WM_WEB_NEWMSG:
        if (Ui::GetForegroundUiWindow() == window && Visible(window))
            LogTrace(u"webpage got new msg, but window foreground");
        else
        {
            LogTrace(u"webpage got new msg");
            Ui::SendUiMessage(mParent, _WM_WEB_NEWMSG, wParam, lParam);
        }
        if (!Visible(window))
            Ui::ShowUiWindow(window, Ui::_SW_SHOWMINNOACTIVE);
        Ui::FlashUiWindow(window);
        return 0;
    case _WM_WEB_GSNAME:
    {
        const auto* name = reinterpret_cast<const char16_t*>(wParam);
        String text = name ? String(name) : String();
        Ui::SetWindowTitle(window, FormatString(u"%ls%ls", text, mTitleSuffix));
        Ui::SendUiMessage(mParent, _WM_WEB_GSNAME, reinterpret_cast<Ui::WParam>(text.c_str()), 1);
        PaintFrame();
        return 0;
    }
    case _WM_WEB_CONSOLEMSG:
    {
        const auto* text = reinterpret_cast<const char16_t*>(wParam);
        LogTrace(u"[MC] WEB 0x%x LOG: %ls", HostId(), text ? String(text) : String());
        return 0;
    }
    case Ui::_WM_CLOSE:
        CloseRequest(wParam, lParam);
        return 0;
    case Ui::_WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == Ui::_SC_RESTORE)
        {
            LogTrace(u"webpage restored, clear blur");
            Ui::SendUiMessage(mParent, _WM_WEB_HIDDEN, Ui::_SC_RESTORE, lParam);
        }
        break;
    case Ui::_WM_NCHITTEST:
    {
        Ui::Rect bounds;
        Ui::GetWindowBounds(window, bounds);
        Ui::Point p{Ui::PointX(lParam) - bounds.left, Ui::PointY(lParam) - bounds.top};
        if (mCloseRect.Contains(p))
            return Ui::_HTBORDER; // the drawn close button, hit-tested here
        Ui::LResult hit = Ui::DefaultHandler(window, message, wParam, lParam);
        if (hit == Ui::_HTCLOSE || hit == Ui::_HTMAXBUTTON || hit == Ui::_HTMINBUTTON ||
            hit == Ui::_HTSYSMENU)
            return Ui::_HTCAPTION;
        return hit;
    }
    case Ui::_WM_NCMOUSEMOVE:
    case Ui::_WM_NCMOUSELEAVE:
    {
        Ui::Rect bounds;
        Ui::GetWindowBounds(window, bounds);
        bool hot = message == Ui::_WM_NCMOUSEMOVE &&
                   mCloseRect.Contains({Ui::PointX(lParam) - bounds.left, Ui::PointY(lParam) - bounds.top});
        if (hot != mCloseHot)
        {
            mCloseHot = hot;
            PaintFrame();
        }
        return 0;
    }
    case Ui::_WM_NCLBUTTONDOWN:
    case Ui::_WM_NCLBUTTONUP:
    {
        Ui::Rect bounds;
        Ui::GetWindowBounds(window, bounds);
        if (mCloseRect.Contains({Ui::PointX(lParam) - bounds.left, Ui::PointY(lParam) - bounds.top}))
        {
            if (message == Ui::_WM_NCLBUTTONUP)
                CloseRequest(Ui::_SC_CLOSE, 0);
            return 0;
        }
        break;
    }
    case Ui::_WM_NCRBUTTONDOWN:
    case Ui::_WM_NCRBUTTONUP:
    case Ui::_WM_RBUTTONUP:
        Ui::SendUiMessage(window, Ui::_WM_CANCELMODE);
        return 0;
    case Ui::_WM_NCPAINT:
        PaintFrame();
        return 0;
    case Ui::_WM_NCACTIVATE:
        PaintFrame();
        return 1;
    case Ui::_WM_SIZE:
        PaintFrame();
        break;
    case Ui::_WM_MOVE:
        if (mKind == _WEB_FOLLOWER)
            KeepInsideParent();
        break;
    default:
        break;
    }
    return Ui::DefaultHandler(window, message, wParam, lParam);
}

WebRef CreateWebWindow(Ui::WindowId parent, int x, int y, int w, int h, int kind)
{
    if (kind < _WEB_CHILD || kind > _WEB_FOLLOWER)
        kind = _WEB_CHILD;
    auto web = std::make_shared<WebWindow>();
    web->mKind = kind;
    web->mParent = parent;
    web->mX = x;
    web->mY = y;
    web->mW = w;
    web->mH = h;
    web->mBorderWidth = _WEB_FIXED_FRAME;
    Ui::WindowParams params;
    params.x = x;
    params.y = y;
    params.width = w;
    params.height = h;
    switch (kind)
    {
    case _WEB_CHILD:
        params.style = Ui::_WS_CHILD | Ui::_WS_VISIBLE;
        params.parent = parent;
        break;
    case _WEB_OWNED:
        params.style = Ui::_WS_CAPTION | Ui::_WS_SYSMENU | Ui::_WS_THICKFRAME;
        params.exStyle = Ui::_WS_EX_TOOLWINDOW;
        params.parent = parent;
        break;
    case _WEB_POPUP:
        params.style = Ui::_WS_POPUP | Ui::_WS_VISIBLE;
        params.exStyle = Ui::_WS_EX_TOOLWINDOW;
        break;
    case _WEB_TOPLEVEL:
        params.style = Ui::_WS_OVERLAPPED;
        break;
    default:
        params.style = Ui::_WS_OVERLAPPED;
        params.exStyle = Ui::_WS_EX_TOOLWINDOW;
        break;
    }
    if (kind == _WEB_POPUP || kind == _WEB_FOLLOWER)
    {
        Ui::Rect bounds;
        if (Ui::GetWindowBounds(parent, bounds))
        {
            params.x += bounds.left;
            params.y += bounds.top;
        }
    }
    WebWindow* raw = web.get();
    params.handler = [raw](Ui::WindowId, _dword message, Ui::WParam wParam, Ui::LParam lParam)
    { return raw->Handle(message, wParam, lParam); };
    params.doubleClicks = true;
    params.className = u"Vexel3D Web Window";
    // The record learns its window before the first message can need it.
    web->mWindow = Ui::NewWindow(params);
    if (!web->mWindow)
    {
        LogError(u"[MC] Cannot create web window of kind %d", kind);
        return nullptr;
    }
    web->ApplyInsets();
    web->mBrowser = Ui::NewWebView(web->mWindow);
    if (web->mBrowser)
        WebWindows().insert(web->mWindow);
    else
        LogError(u"[MC] Cannot create the browser of window 0x%x", web->mWindow);
    if (kind != _WEB_TOPLEVEL)
    {
        TracePage(*web, u"Show", 0);
        web->mShown = true;
        ShowIfContent(*web);
    }
    web->mCloseRect = {};
    return web;
}

std::vector<String> OperatorAddresses(const LauncherState& state)
{
    std::vector<String> out = {state.mStartUrl, state.mPageUrl, state.mExitUrl, state.mLogoffUrl,
                               state.mImUrl};
    auto add = [&out](const auto& list) { out.insert(out.end(), list.begin(), list.end()); };
    add(state.mFrameUrls);
    add(state.mQuietUrls);
    add(state.mInfoServer);
    add(state.mServerUrls);
    add(state.mTrustedOrigins);
    for (const MenuEntry& menu : state.mMenus)
        out.push_back(menu.mUrl);
    for (const PageEntry& page : state.mPages)
        out.push_back(page.mUrl);
    std::erase_if(out, [](const String& address) { return address.empty(); });
    return out;
}

namespace
{
// Texts that name no origin (relative addresses, fragments of game page addresses) are passed over.
void TrustOperatorOrigins(const WebWindow& web)
{
    if (!web.mBrowser || !HasLauncherState())
        return;
    for (const String& address : OperatorAddresses(Launcher()))
        Ui::WebAllowOrigin(web.mWindow, address);
}
} // namespace

void DestroyWebWindow(WebWindow& web)
{
    if (!web.mWindow)
        return;
    WebWindows().erase(web.mWindow);
    if (Ui::IsUiWindow(web.mWindow))
    {
        Ui::DestroyWebView(web.mWindow);
        Ui::DestroyUiWindow(web.mWindow);
    }
    web.mWindow = 0;
    web.mBrowser = false;
}

void SetBrowserOption(WebWindow& web, char16_t letter, bool on)
{
    if (web.mBrowser)
        Ui::WebSetOption(web.mWindow, letter, on);
}

int NavigateWeb(WebWindow& web, const String& url)
{
    if (!web.mBrowser || !Ui::HasWebView(web.mWindow))
        return -1;
    // The server data may have named more of the operator's addresses since the window was made.
    TrustOperatorOrigins(web);
    return Ui::WebNavigate(web.mWindow, url);
}

bool IsDocumentReady(const WebWindow& web)
{
    return web.mBrowser && Ui::WebIsDocumentReady(web.mWindow);
}

String CurrentUrl(const WebWindow& web)
{
    return web.mBrowser ? Ui::WebCurrentUrl(web.mWindow) : String();
}

std::vector<Ui::NamedValue> ReadNamedValues(const WebWindow& web, const String& tag)
{
    if (!web.mBrowser)
        return {};
    return Ui::WebReadNamedValues(web.mWindow, tag);
}

bool TranslateKey(const Ui::Message& message)
{
    if (message.message != Ui::_WM_KEYDOWN)
        return false;
    for (Ui::WindowId w = message.window; w; w = Ui::GetParentWindow(w))
        if (WebWindows().count(w))
            return Ui::WebTranslateKey(message);
    return false;
}

void SetTopmost(WebWindow& web, bool on)
{
    if (web.mTopmost == on)
        return;
    web.mTopmost = on;
    Ui::SetTopmost(web.mWindow, on);
}

void FollowParent(WebWindow& web)
{
    Ui::Rect parent;
    if (web.mKind != _WEB_FOLLOWER || !Ui::GetWindowBounds(web.mParent, parent))
        return;
    web.mMoving = true;
    Ui::SetWindowPlace(web.mWindow, parent.left + web.mX, parent.top + web.mY);
    web.mMoving = false;
}

void TracePage(const WebWindow& web, const char16_t* what, int force)
{
    LogTrace(u"[MC] %ls page 0x%x in window 0x%x, pagedone %d, ready %d, force %d", what, web.HostId(),
             web.mWindow, web.mPageDone ? 1 : 0, web.mReady ? 1 : 0, force);
}

void ShowPage(WebWindow& web, int force)
{
    TracePage(web, u"Show", force);
    web.mShown = true;
    ShowIfContent(web);
}

void HidePage(WebWindow& web)
{
    TracePage(web, u"Hide", web.mForce ? 1 : 0);
    web.mShown = false;
    Ui::ShowUiWindow(web.mWindow, Ui::_SW_HIDE);
}

void PlaceFrameWebWindow(const FramesAndPages& frames, FrameWindow& frame)
{
    for (const auto& page : frames.mPages)
    {
        if (page.mSlot != frame.mIndex || !page.mWeb)
            continue;
        WebWindow& web = *page.mWeb;
        const Ui::Rect& r = frame.mWebRect;
        // A top-level page sits over its frame; a child page lies in the frame's client area.
        if (frame.mOwnerPage == web.mWindow || Ui::GetParentWindow(web.mWindow) == 0)
        {
            Ui::Rect bounds;
            if (Ui::GetWindowBounds(frame.mWindow, bounds))
                Ui::MoveUiWindow(web.mWindow, bounds.left + r.left, bounds.top + r.top, r.right, r.bottom);
        }
        else
            Ui::MoveUiWindow(web.mWindow, r.left, r.top, r.right, r.bottom);
        return;
    }
}

WebRef MainPage(const FramesAndPages& frames)
{
    for (const auto& page : frames.mPages)
        if (page.mId == -1 && page.mWeb)
            return page.mWeb;
    return nullptr;
}

void OpenImPopup(LauncherState& state, const String& url, const String& title)
{
    GameFrame* game = state.mGameFrame.get();
    Ui::WindowId gameWindow = game ? game->mWindow : 0;
    int x = static_cast<int>(state.mImX), y = static_cast<int>(state.mImY);
    int w = static_cast<int>(state.mImW), h = static_cast<int>(state.mImH);
    if (x == 0 && y == 0)
    {
        const ImageMenuEntry* entry = nullptr;
        if (game)
            for (const auto& list : game->mMenuLists)
                for (const auto& e : list)
                    if (e.mId == _CMD_IM && e.mRect.left != -100 && !entry)
                        entry = &e;
        Ui::Rect frame;
        if (entry && Ui::GetWindowBounds(gameWindow, frame))
        {
            x = frame.left + entry->mRect.left;
            y = frame.top + entry->mRect.bottom;
            if (x + w > frame.right - 6)
                x = frame.right - 6 - w;
        }
        else
        {
            x = Ui::GetScreenSize().width - w - 30;
            y = 60;
        }
    }
    if (WebWindow* im = state.mImPopup.get())
    {
        if (Visible(im->mWindow) && !Ui::IsUiWindowMinimized(im->mWindow))
        {
            HidePage(*im);
            return;
        }
        if (game)
            game->SetBlinking(0);
        Ui::MoveUiWindow(im->mWindow, x, y, w, h);
        ShowPage(*im);
        Ui::ShowUiWindow(im->mWindow, Ui::_SW_RESTORE);
        Ui::SetForegroundUiWindow(im->mWindow);
        return;
    }
    if (url.empty())
        return;
    LogTrace(u"[MC] Open IM window: %ls, %ls, xy(%d, %d), wh(%d, %d)", url, title, x, y, w, h);
    WebRef im = CreateWebWindow(gameWindow, x, y, w, h, _WEB_TOPLEVEL);
    if (!im)
        return;
    state.mImPopup = im;
    SetLook(*im, state.mImBorder, state.mImTitleColor, state.mImTitleFont, state.mImTitleSuffix,
            state.mImTitleBg, state.mImCloseNormal, state.mImCloseHover, static_cast<int>(state.mImCloseX),
            static_cast<int>(state.mImCloseY));
    im->mHideOnClose = true;
    Ui::SetWindowTitle(im->mWindow, title);
    NavigateWeb(*im, url);
    HidePage(*im);
    Ui::SetFocusUiWindow(gameWindow);
}

bool OpenVideoPopup(LauncherState& state, int x, int y, int w, int h, const String& url, const String& title)
{
    if (url.empty())
        return false;
    if (WebWindow* video = state.mVideoPopup.get(); video && Ui::IsUiWindow(video->mWindow))
    {
        ShowPage(*video);
        Ui::ShowUiWindow(video->mWindow, Ui::_SW_SHOW);
        Ui::ShowUiWindow(video->mWindow, Ui::_SW_RESTORE);
        Ui::SetForegroundUiWindow(video->mWindow);
        return true;
    }
    Ui::WindowId gameWindow = state.mGameFrame ? state.mGameFrame->mWindow : 0;
    WebRef video = CreateWebWindow(gameWindow, x, y, w, h, _WEB_FOLLOWER);
    if (!video)
        return false;
    state.mVideoPopup = video;
    SetLook(*video, state.mVideoBorder, state.mVideoTitleColor, state.mVideoTitleFont, String(),
            state.mVideoTitleBg, state.mVideoCloseNormal, state.mVideoCloseHover,
            static_cast<int>(state.mVideoCloseX), static_cast<int>(state.mVideoCloseY));
    Ui::SetWindowTitle(video->mWindow, title);
    NavigateWeb(*video, url);
    SetTopmost(*video, true);
    TracePage(*video, u"Show", 1);
    video->mShown = true;
    Ui::ShowUiWindow(video->mWindow, Ui::_SW_SHOW);
    Ui::SetFocusUiWindow(gameWindow);
    return true;
}

void ClosePopups(FramesAndPages& frames)
{
    frames.mImPopup.reset();
    frames.mVideoPopup.reset();
}

} // namespace Vexel
