// The window-system layer: windows named by 32-bit ids, each with its own message handler, and the
// Windows message model on every platform (messages with Windows numbers and wParam/lParam; post, send
// and quit; a peek-and-dispatch pump; timers), plus standard controls, menus, message boxes, the
// notification-area icon and global hot keys. Drawing is in UiCanvas.h, the web view in WebView.h.
//
// Everything here belongs to the thread that called InitUi (the main thread), except PostUiMessage and
// PostQuit, which any thread may call. Operations on an id that names no window do nothing and report
// failure (false, 0 or an empty value).
#pragma once

#include "Common/String.h"
#include "Platform/Ui/UiConstants.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace Vexel::Ui
{

class Canvas;
class UiImage;
struct FontSpec;

using WindowId = _dword; // 0 names no window
using MenuId = _dword;   // 0 names no menu
using WParam = std::uintptr_t;
using LParam = std::intptr_t;
using LResult = std::intptr_t;

struct Point
{
    int x = 0;
    int y = 0;
};

struct Size
{
    int width = 0;
    int height = 0;
};

// Right and bottom are exclusive, as in Windows.
struct Rect
{
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    static Rect FromSize(int x, int y, int width, int height) { return {x, y, x + width, y + height}; }
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool IsEmpty() const { return right <= left || bottom <= top; }
    bool Contains(Point p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
    bool operator==(const Rect&) const = default;
};

// The two 16-bit halves of a message parameter, as MAKELPARAM / LOWORD / HIWORD.
constexpr LParam MakeLParam(int low, int high)
{
    return static_cast<LParam>(static_cast<_dword>((low & 0xFFFF) | ((high & 0xFFFF) << 16)));
}
constexpr WParam MakeWParam(int low, int high)
{
    return static_cast<WParam>(static_cast<_dword>((low & 0xFFFF) | ((high & 0xFFFF) << 16)));
}
constexpr _word LowWord(std::uintptr_t value)
{
    return static_cast<_word>(value & 0xFFFF);
}
constexpr _word HighWord(std::uintptr_t value)
{
    return static_cast<_word>((value >> 16) & 0xFFFF);
}
// Signed coordinates packed into lParam of mouse messages.
constexpr int PointX(LParam value)
{
    return static_cast<short>(value & 0xFFFF);
}
constexpr int PointY(LParam value)
{
    return static_cast<short>((value >> 16) & 0xFFFF);
}

struct Message
{
    WindowId window = 0; // 0 for thread messages (and _WM_QUIT)
    _dword message = 0;
    WParam wParam = 0;
    LParam lParam = 0;
    _dword time = 0;      // milliseconds, the clock of GetTime
    Point point;          // cursor position on the screen when the message was made
    _dword character = 0; // the text a key-down produced (a Unicode code point), for TranslateUiMessage
};

// A window's message handler. Messages it does not handle go to DefaultHandler, as a window procedure
// hands them to the default procedure.
using WindowHandler = std::function<LResult(WindowId window, _dword message, WParam wParam, LParam lParam)>;

// --- Start ------------------------------------------------------------------------------------------

// Connects to the display. False when there is none; every other call then fails quietly.
bool InitUi();
bool IsUiAvailable();

// --- Windows ----------------------------------------------------------------------------------------

struct WindowParams
{
    _dword style = _WS_OVERLAPPED;
    _dword exStyle = 0;
    String title;
    // A top-level window's outer rectangle on the screen; a child's in its parent's client area.
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    // The parent of a _WS_CHILD window, otherwise the owner (0: none).
    WindowId parent = 0;
    WindowHandler handler;
    void* userData = nullptr;
    // Two clicks in quick succession give a double-click message instead of the second button-down.
    bool doubleClicks = true;
    // The window class other programs find the window by (Windows: a class of that name, redrawn whole
    // when resized); empty: the layer's own. Window systems without classes ignore it.
    String className;
};

// Creates the window and sends it _WM_CREATE (lParam: the WindowParams), then _WM_SIZE and _WM_MOVE;
// a handler that answers _WM_CREATE with -1 makes the creation fail. With _WS_VISIBLE the window is shown.
// Child windows are clipped to their parent's client area. Returns 0 on failure.
WindowId NewWindow(const WindowParams& params);
// Sends _WM_DESTROY to the window, destroys its children and owned windows the same way, then sends
// _WM_NCDESTROY. Messages still queued for it are dropped.
bool DestroyUiWindow(WindowId window);
bool IsUiWindow(WindowId window);

// The default handling of every message: _WM_CLOSE destroys the window, _WM_NCHITTEST answers from the
// frame insets, _WM_SYSCOMMAND minimises, maximises, restores or closes; everything else answers 0.
LResult DefaultHandler(WindowId window, _dword message, WParam wParam, LParam lParam);
bool SetWindowHandler(WindowId window, WindowHandler handler);
bool SetWindowData(WindowId window, void* data);
void* GetWindowData(WindowId window);

_dword GetWindowStyle(WindowId window);
_dword GetWindowExStyle(WindowId window);
WindowId GetParentWindow(WindowId window); // 0 for top-level windows
WindowId GetOwnerWindow(WindowId window);
// Makes the window a child of the new parent (at x, y of its client area), or, with parent 0, a
// top-level window at x, y on the screen; style and exStyle replace the window's styles.
bool ReparentWindow(WindowId window, WindowId parent, _dword style, _dword exStyle, int x, int y);
// The top-level window that holds the window (itself for top-level windows).
WindowId GetTopLevelWindow(WindowId window);
// Top-level windows of the program, in creation order.
std::vector<WindowId> GetTopLevelWindows();
// The first top-level window whose title is exactly the text, or 0.
WindowId FindUiWindow(const String& title);

// Show commands are the _SW_ values. Returns whether the window was visible before.
bool ShowUiWindow(WindowId window, int command);
// Visible: the window and all its parents are shown (a minimised window is still visible).
bool IsUiWindowVisible(WindowId window);
bool IsUiWindowMinimized(WindowId window);
bool IsUiWindowMaximized(WindowId window);
bool EnableUiWindow(WindowId window, bool enable);
bool IsUiWindowEnabled(WindowId window);

// Moves and sizes the window (outer rectangle; screen or parent client coordinates as at creation).
bool MoveUiWindow(WindowId window, int x, int y, int width, int height);
bool SetWindowPlace(WindowId window, int x, int y);
bool SetWindowSize(WindowId window, int width, int height);
// The outer rectangle on the screen.
bool GetWindowBounds(WindowId window, Rect& rect);
// The client area: left and top 0, right and bottom its width and height.
bool GetClientBounds(WindowId window, Rect& rect);
bool ClientToScreenPoint(WindowId window, Point& point);
bool ScreenToClientPoint(WindowId window, Point& point);
// Widths of the window's own non-client area (a title bar and borders it draws itself): the client area
// is the window less these on each side. Mouse messages over them are the non-client ones, and the
// window receives _WM_NCPAINT with _WM_PAINT when its frame needs drawing.
bool SetFrameInsets(WindowId window, const Rect& insets);
bool GetFrameInsets(WindowId window, Rect& insets);
// Grows width and height, a client area's size, to the outer size a window of these styles needs for
// it (the system's caption and borders; nothing where the window system puts them outside the window).
bool OuterSizeForClient(_dword style, _dword exStyle, int& width, int& height);
// The smallest outer size the user can give a resizable window.
bool SetMinimumSize(WindowId window, int width, int height);
bool SetTopmost(WindowId window, bool topmost);

bool SetWindowTitle(WindowId window, const String& title);
String GetWindowTitle(WindowId window);
bool SetWindowIconImage(WindowId window, const UiImage& image);
// Draws the user's attention to the window (taskbar flash or urgency hint).
bool FlashUiWindow(WindowId window);
// _IDC_ARROW or _IDC_HAND over the window from now on.
bool SetUiCursor(WindowId window, _dword cursor);
// Where the pointer is now, on the screen.
bool GetPointerPosition(Point& screen);

// The active top-level window of the program, or 0 when another program is active.
WindowId GetForegroundUiWindow();
bool SetForegroundUiWindow(WindowId window);
// The window with the keyboard focus (a window that hosts a focused web view counts), or 0.
WindowId GetFocusUiWindow();
// Gives the window the keyboard focus, activating its top-level window; returns the previous one.
WindowId SetFocusUiWindow(WindowId window);

// The screen size and the work area (the screen less panels) of the monitor that holds the window
// (the primary monitor for 0).
Size GetScreenSize();
bool GetWorkArea(WindowId window, Rect& rect);

// The native handle of the window, for code that draws into it with its own connection to the display
// (an X11 window id on Linux). The layer then leaves the window's pixels alone.
_dword GetNativeWindowHandle(WindowId window);
// Whether the layer leaves the window's pixels to the code that draws through its native handle (true
// from GetNativeWindowHandle on). While false, canvases presented into the window show again, as a
// picture shown until the other side draws its first frame.
bool SetForeignPainting(WindowId window, bool foreign);

// Marks the client area (and, with frame, the non-client area) to be painted: _WM_PAINT comes when the
// queue holds nothing else. UpdateUiWindow sends it at once when the window needs painting.
bool InvalidateUiWindow(WindowId window, bool frame = false);
bool UpdateUiWindow(WindowId window);

// Puts the canvas into the window's client area at x, y (client coordinates). The window keeps the
// pixels and shows them again whenever it is exposed.
bool PresentCanvas(WindowId window, const Canvas& canvas, int x = 0, int y = 0);
// Puts the canvas over the whole window, non-client area included. A _WS_EX_LAYERED window takes the
// canvas's alpha as its own: transparent pixels show what lies behind and let clicks through.
bool PresentWindowCanvas(WindowId window, const Canvas& canvas);
// What the screen shows of the window now (its outer rectangle), read back into a canvas.
bool CaptureWindowPixels(WindowId window, Canvas& canvas);

// Shapes the window: only the given rectangles (window coordinates) are shown and take clicks. No
// rectangles removes the shape.
bool SetWindowRegion(WindowId window, const std::vector<Rect>& rects);
// The same from a Windows region data block (RGNDATA: a 32-byte header and its rectangles).
bool SetWindowRegionData(WindowId window, const void* data, std::size_t size);
// Reads a region data block; false when it is damaged (sizes, counts or type out of range).
bool ParseRegionData(const void* data, std::size_t size, std::vector<Rect>& rects);

// --- Messages ---------------------------------------------------------------------------------------

// Queues the message for the window (0: a thread message). False for an id that names no window.
bool PostUiMessage(WindowId window, _dword message, WParam wParam = 0, LParam lParam = 0);
// Calls the window's handler at once and returns its answer (0 for an id that names no window).
LResult SendUiMessage(WindowId window, _dword message, WParam wParam = 0, LParam lParam = 0);
// Makes the pump return _WM_QUIT (wParam: the code) once the messages posted before it are taken.
void PostQuit(int exitCode = 0);

// Takes the next message without waiting: posted and input messages in order, then _WM_QUIT, then
// _WM_PAINT for windows that need it, then _WM_TIMER for timers that fell due. Messages that are sent
// (as the window system sends _WM_SIZE or _WM_ACTIVATE) reach their handlers inside this call.
bool PeekUiMessage(Message& message, bool remove = true);
// Waits until a message may be there or the time passes; true when something arrived. The wait is
// alertable: completion routines queued to the thread (the transfers' and timers' callbacks) run in it.
bool WaitUiMessage(_dword timeoutMs);
// Waits for and takes the next message; false when it is _WM_QUIT.
bool GetUiMessage(Message& message);
// Posts _WM_CHAR (or _WM_SYSCHAR) for a key-down that produced text. True when it did.
bool TranslateUiMessage(const Message& message);
// Hands the message to its window's handler; thread messages and messages for gone windows answer 0.
LResult DispatchUiMessage(const Message& message);

// _WM_TIMER with wParam timerId every interval milliseconds until killed; setting an existing timer
// again restarts it. At most one _WM_TIMER of a timer waits in the queue.
bool SetUiTimer(WindowId window, _dword timerId, _dword intervalMs);
bool KillUiTimer(WindowId window, _dword timerId);

// --- Synthesised input ------------------------------------------------------------------------------
// Input made at the system level, exactly as if the user moved the mouse or pressed a key; for tests and
// demonstrations. Buttons: 1 left, 2 middle, 3 right. Keys are virtual-key codes.
bool InjectMouseMove(int screenX, int screenY);
bool InjectMouseButton(int button, bool down);
bool InjectKey(_dword virtualKey, bool down);

// --- Controls ---------------------------------------------------------------------------------------
// Controls are child windows with a control id; they tell their parent about user changes with
// _WM_COMMAND (wParam: MakeWParam(control id, notification code), lParam: the control's window id).

enum class ControlKind
{
    PushButton, // _BN_CLICKED
    CheckBox,   // _BN_CLICKED when the user toggles it
    ComboBox,   // drop-down list; _CBN_SELCHANGE when the user picks another item, then _CBN_SELENDOK for
                // every choice the user ends with an item (the same one again too)
    HotKeyBox,  // records a key combination typed into it; _EN_CHANGE when it changes
};

WindowId NewControl(ControlKind kind, WindowId parent, _dword controlId, const String& text, int x, int y,
                    int width, int height, _dword style = _WS_CHILD | _WS_VISIBLE, _dword exStyle = 0);
_dword GetControlId(WindowId control);
bool SetControlFont(WindowId control, const FontSpec& font);

int ComboAddItem(WindowId combo, const String& text); // index of the new item, -1 on failure
bool ComboClear(WindowId combo);
int ComboGetCount(WindowId combo);
int ComboGetSelection(WindowId combo); // -1 when nothing is selected
bool ComboSetSelection(WindowId combo, int index);
String ComboGetItem(WindowId combo, int index);

bool SetCheckState(WindowId check, bool checked);
bool GetCheckState(WindowId check);

// A hot-key box value: virtual key in bits 0-7, _HOTKEYF_ modifiers in bits 8-15 (0: none).
bool SetHotKeyValue(WindowId box, _dword value);
_dword GetHotKeyValue(WindowId box);
// The value's text as the box shows it ("Ctrl + Alt + F5", "None").
String HotKeyText(_dword value);
// Turns a hot-key box value into the modifiers (_MOD_) and key of a global hot key.
void HotKeyValueToRegistration(_dword value, _dword& modifiers, _dword& virtualKey);

// --- Message boxes ----------------------------------------------------------------------------------
// A modal box owned by the window (0: none) with the text, caption, buttons and icon of the _MB_ flags.
// While it is open the pump keeps dispatching other windows' messages. Returns _IDOK, _IDCANCEL, _IDYES
// or _IDNO, or 0 when no box could be shown. The box is a window: _WM_COMMAND with a button's result in
// wParam answers it as a click would.
int ShowMessageBox(WindowId owner, const String& text, const String& caption, _dword type);

// --- Menus ------------------------------------------------------------------------------------------
// A chosen item sends _WM_COMMAND (wParam: its command id, lParam 0) to the window it belongs to.

MenuId NewMenu();
bool DeleteUiMenu(MenuId menu);
// Flags: _MF_GRAYED, _MF_CHECKED, _MF_RIGHTJUSTIFY (in a menu bar: this item and the ones after it go
// to the right end). With an image the item shows it before the text.
bool AppendMenuItem(MenuId menu, _dword flags, _dword commandId, const String& text,
                    const UiImage* image = nullptr);
bool AppendSubMenu(MenuId menu, MenuId subMenu, const String& text, _dword flags = 0);
bool AppendMenuSeparator(MenuId menu);
_dword GetMenuItemCount(MenuId menu);
// Puts the menu as the window's menu bar (0 removes it). The bar lies outside the client area.
bool SetWindowMenuBar(WindowId window, MenuId menu);
// Where item index of the menu shows on the screen (the menu must be on screen).
bool GetMenuItemBounds(MenuId menu, _dword index, Rect& rect);
// Opens the menu at the screen point for the owner window; returns at once. The chosen item's command
// reaches the owner as _WM_COMMAND.
bool PopupMenuAt(MenuId menu, WindowId owner, int screenX, int screenY);

// --- Notification area ------------------------------------------------------------------------------
// An icon with a tip; clicks on it post callbackMessage to the window (wParam: the icon id, lParam: the
// mouse message, such as _WM_LBUTTONDOWN). Adding an icon of the same window and id replaces it.
bool AddTrayIcon(WindowId window, _dword iconId, const UiImage* icon, const String& tip,
                 _dword callbackMessage = _WM_TRAYICON);
bool RemoveTrayIcon(WindowId window, _dword iconId);
bool HasTrayIcon(WindowId window, _dword iconId);
String GetTrayIconTip(WindowId window, _dword iconId);

// --- Global hot keys --------------------------------------------------------------------------------
// The key combination (_MOD_ flags, virtual key) posts _WM_HOTKEY to the window (wParam: the id,
// lParam: MakeLParam(modifiers, key)) wherever the focus is. False when another program holds it.
bool RegisterGlobalHotKey(WindowId window, int id, _dword modifiers, _dword virtualKey);
bool UnregisterGlobalHotKey(WindowId window, int id);

} // namespace Vexel::Ui
