// Web windows: a window of the layer with a browser in it, kinds 0 to 4, tracking the load state of its
// page so that a page is shown only once it has something to show, drawing its own frame when it is a
// top-level one (kinds 3 and 4), and reporting page events by callbacks and by messages to its parent.
// Also the launcher's uses of them: the pages of addWebWindow, the instant-message pop-up and the video /
// payment pop-up.
#pragma once

#include "Base/LauncherState.h"
#include "Frames/FrameWindow.h"

#include "Platform/Ui/WebView.h"

#include <functional>
#include <memory>
#include <vector>

namespace Vexel
{

constexpr int _WEB_CHILD = 0;    // child window in the parent's client area
constexpr int _WEB_OWNED = 1;    // captioned tool window owned by the parent
constexpr int _WEB_POPUP = 2;    // pop-up placed at an offset from the parent
constexpr int _WEB_TOPLEVEL = 3; // top-level window with a drawn frame
constexpr int _WEB_FOLLOWER = 4; // top-level window with a drawn frame, kept inside its parent

constexpr const char16_t* _WEB_TITLE_FONT = u"幼圆";
constexpr int _WEB_CAPTION_HEIGHT = 27; // title bar without a title image
constexpr int _WEB_FIXED_FRAME = 3;     // border width of a fixed frame

struct WebWindow;
using WebCallback = std::function<void(WebWindow& web)>;

struct WebWindow
{
    WebWindow() = default;
    ~WebWindow();
    WebWindow(const WebWindow&) = delete;
    WebWindow& operator=(const WebWindow&) = delete;

    Ui::WindowId mWindow = 0;
    bool mBrowser = false; // the window has a browser
    int mKind = _WEB_CHILD;
    Ui::WindowId mParent = 0; // messages go here even when the system window has no parent
    bool mHideOnClose = false;
    int mX = 0, mY = 0, mW = 0, mH = 0; // as created; kind 4 keeps an offset from the parent instead
    WebCallback mOnRestart;             // a new navigation after a completed document
    WebCallback mOnComplete;            // navigation complete
    WebCallback mOnReady;               // document complete
    int mBorderWidth = _WEB_FIXED_FRAME;
    _dword mBorderColor = 0xA9D6DB;
    _dword mTitleColor = 0xFFFFFF;
    String mTitleFont = _WEB_TITLE_FONT;
    String mTitleSuffix;
    ImageRef mTitleImage;
    int mCloseTop = 0, mCloseRight = 0;
    ImageRef mCloseNormal, mCloseHover;
    Ui::Rect mCloseRect; // window coordinates, set when drawn
    bool mCloseHot = false;
    // Load state.
    bool mReady = false;    // the document is complete
    bool mPageDone = false; // the page has started to run its script
    bool mForce = false;
    bool mShown = true; // the window is meant to be visible
    bool mShowOnLoad = false;
    bool mTopmost = false;
    bool mMoving = false; // a kind-4 window is being held inside its parent

    // An id of the browser for the trace lines.
    _dword HostId() const;
    int TitleHeight() const;
    bool DrawsFrame() const { return mKind == _WEB_TOPLEVEL || mKind == _WEB_FOLLOWER; }
    void ApplyInsets();
    void PaintFrame();
    Ui::LResult Handle(_dword message, Ui::WParam wParam, Ui::LParam lParam);

private:
    void CloseRequest(Ui::WParam wParam, Ui::LParam lParam);
    void KeepInsideParent();
};

using WebRef = std::shared_ptr<WebWindow>;

// Creates the window (kind 0-4, placed per kind) and its browser; the record even when the browser could
// not start (browser operations then do nothing). Null when the window itself cannot be made.
WebRef CreateWebWindow(Ui::WindowId parent, int x, int y, int w, int h, int kind);
// Closes the browser and the window.
void DestroyWebWindow(WebWindow& web);
// Every address the operator's settings and server data name (entry, server lists, game pages, menus,
// pages, messages, server information, log-off, exit) and the trusted origins; the browser lets pages of
// their origins use `external`, besides the origins the program navigates to and those a trusted page
// redirects to.
std::vector<String> OperatorAddresses(const LauncherState& state);

// Letters 's', 'a', 'm', 'c'; others are ignored.
void SetBrowserOption(WebWindow& web, char16_t letter, bool on);
// 0 on success, -1 without a browser, -5 when the address cannot be loaded.
int NavigateWeb(WebWindow& web, const String& url);
bool IsDocumentReady(const WebWindow& web);
String CurrentUrl(const WebWindow& web);
std::vector<Ui::NamedValue> ReadNamedValues(const WebWindow& web, const String& tag);
// True when the key-down went to a web window's browser and the browser took it.
bool TranslateKey(const Ui::Message& message);
void SetTopmost(WebWindow& web, bool on);
// Moves a kind-4 window back to its offset from its parent.
void FollowParent(WebWindow& web);

// "[MC] <what> page 0x.. in window 0x.., pagedone, ready, force".
void TracePage(const WebWindow& web, const char16_t* what, int force);
// Marks the page shown and shows it once it has content (ready or done); HidePage the reverse.
void ShowPage(WebWindow& web, int force = 0);
void HidePage(WebWindow& web);

// Moves a frame's web window to the remembered web rectangle.
void PlaceFrameWebWindow(const FramesAndPages& frames, FrameWindow& frame);
// The first web window of the page list with id -1.
WebRef MainPage(const FramesAndPages& frames);

// The instant-message pop-up (command 1012): toggles, or creates it hidden.
void OpenImPopup(LauncherState& state, const String& url, const String& title);
// The video / payment pop-up; false for an empty address.
bool OpenVideoPopup(LauncherState& state, int x, int y, int w, int h, const String& url, const String& title);
void ClosePopups(FramesAndPages& frames);

} // namespace Vexel
