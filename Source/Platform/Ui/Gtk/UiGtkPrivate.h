// Shared state of the GTK backend: the window table, the message queue and the helpers its files use
// among themselves. Only files of this folder include it.
#pragma once

#include "Platform/Ui/Ui.h"
#include "Platform/Ui/UiCanvas.h"

#include <gtk/gtk.h>

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace Vexel::Ui::Gtk
{

enum class Placement
{
    Normal,
    Minimized,
    Maximized,
};

struct WebViewState;
struct ControlState;
struct MessageBoxState;

struct WindowRecord
{
    WindowId mId = 0;
    _dword mStyle = 0;
    _dword mExStyle = 0;
    WindowHandler mHandler;
    void* mUserData = nullptr;
    WindowId mParent = 0; // child windows
    WindowId mOwner = 0;  // top-level windows
    String mTitle;
    bool mDoubleClicks = true;

    GtkWidget* mTop = nullptr;     // the GtkWindow of a top-level window
    GtkWidget* mBox = nullptr;     // vertical box inside mTop: menu bar, then mBody
    GtkWidget* mBody = nullptr;    // GtkLayout that draws, takes input and holds children (or a control)
    GtkWidget* mMenuBar = nullptr; // the menu bar widget in mBox
    MenuId mMenu = 0;

    Rect mBounds; // outer rectangle: screen (top-level) or parent client coordinates (child)
    Rect mInsets; // self-drawn non-client area
    Size mMinSize;
    Placement mPlacement = Placement::Normal;
    bool mMaximizedBeforeMinimize = false;
    bool mShown = false;
    bool mEnabled = true;
    bool mTopmost = false;
    bool mInvalid = false;
    bool mFrameInvalid = false;
    bool mDestroying = false;
    bool mForeignPaint = false;
    bool mHandedOut = false; // GetNativeWindowHandle gave its X window away
    bool mActive = false;
    cairo_surface_t* mBacking = nullptr; // the window's pixels, whole window
    bool mHasRegion = false;
    cairo_region_t* mRegion = nullptr; // window coordinates
    cairo_region_t* mAlphaShape = nullptr;
    _dword mCursor = _IDC_ARROW;
    int mMouseArea = 0; // 0 outside, 1 client, 2 non-client
    Size mLastClientSize{-1, -1};
    Point mLastClientOrigin{-100000, -100000};

    bool mIsControl = false;
    ControlKind mControlKind = ControlKind::PushButton;
    _dword mControlId = 0;
    ControlState* mControl = nullptr; // released by ReleaseControl
    MessageBoxState* mMessageBox = nullptr;
    WebViewState* mWeb = nullptr;

    bool IsTopLevel() const { return mTop != nullptr; }
    bool IsLayered() const { return (mExStyle & _WS_EX_LAYERED) != 0 && mTop != nullptr; }
};

struct TimerRecord
{
    guint mSource = 0;
    bool mDue = false;
};

struct UiState
{
    bool mInitialized = false;
    bool mAvailable = false;
    std::thread::id mMainThread;
    std::map<WindowId, std::unique_ptr<WindowRecord>> mWindows;
    WindowId mNextId = 0x00010000;

    std::mutex mQueueLock;
    std::deque<Message> mQueue;
    bool mQuit = false;
    int mQuitCode = 0;

    std::map<std::pair<WindowId, _dword>, TimerRecord> mTimers;

    WindowId mFocus = 0;
    WindowId mActive = 0;
    Point mPointer;

    // Double-click detection: the last button press.
    WindowId mClickWindow = 0;
    int mClickButton = 0;
    guint32 mClickTime = 0;
    Point mClickPoint;
};

UiState& State();
WindowRecord* FindRecord(WindowId window);
// Puts the window's backing into a handed-out native window directly (GTK's painting does not show there).
void PaintNativeDirect(WindowRecord& record);
// The window id a signal handler was connected with.
inline WindowId IdOf(gpointer data)
{
    return static_cast<WindowId>(GPOINTER_TO_UINT(data));
}
WindowId AllocateWindowId();
_dword NowMs();

// Queues a message for desktop input events, keeping order with posted messages.
void QueueMessage(const Message& message, bool front = false);
// Merges a mouse move into the last queued one of the same window when possible.
void QueueMouseMove(const Message& message);
void WakeUp();

// Client-area origin on the screen, from the layer's own geometry.
Point ClientOriginOnScreen(const WindowRecord& record);
Size ClientSize(const WindowRecord& record);
int MenuBarHeight(const WindowRecord& record);
// Re-reads the client size and origin and sends _WM_SIZE / _WM_MOVE when they changed.
void NotifyGeometry(WindowRecord& record, bool sizeMessages);
void ApplyShape(WindowRecord& record);
GdkWindow* BodyWindow(const WindowRecord& record);
GtkWindow* ToplevelOf(const WindowRecord& record);

// Registers a record made by another file (controls, message boxes) and returns its id.
WindowId AddRecord(std::unique_ptr<WindowRecord> record);
void ConnectFocusTracking(GtkWidget* widget, WindowId window);
// Signal handlers of a window's body and of its GtkWindow: input and activation (UiEvents.cpp), drawing
// (UiPainting.cpp).
void ConnectBodyEvents(GtkWidget* body, WindowId id);
void ConnectTopLevelEvents(GtkWidget* top, WindowId id);
void ConnectBodyPainting(GtkWidget* body, WindowId id);
void ConnectTopLevelPainting(GtkWidget* top, WindowId id);
// Activation messages and the foreground window for a GtkWindow made outside UiWindows.cpp.
void ConnectActivation(GtkWidget* top, WindowId window);
// Shows and activates a top-level GtkWindow now.
void PresentNow(GtkWindow* top);

// Keys.
_dword VirtualKeyFromKeyval(guint keyval);
guint KeyvalFromVirtualKey(_dword virtualKey);
_dword VirtualKeyFromEvent(const GdkEventKey* event);
_dword HotKeyModifiersFromState(guint state);

// Canvas and images.
cairo_surface_t* CanvasSurface(const Canvas& canvas);
cairo_surface_t* ImageSurface(const UiImage& image);
GdkPixbuf* ImageToPixbuf(const UiImage& image);
PangoFontDescription* NewFontDescription(const FontSpec& font);

// Web views, controls, menus and the system parts: cleanup when their window goes.
void ReleaseWebView(WindowRecord& record);
void LayoutWebView(WindowRecord& record);
void ReleaseControl(WindowRecord& record);
void ReleaseWindowSystemParts(WindowId window);
void ReleaseMenuBar(WindowRecord& record);

std::string Utf8(const String& text);
String Wide(const char* text);

} // namespace Vexel::Ui::Gtk
