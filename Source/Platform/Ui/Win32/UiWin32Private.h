// Shared state of the Win32 backend. A window id is its HWND's value and a menu id its HMENU's value, so
// code that holds an id may call Windows with it directly; the layer's own data for a window lives in a
// record reachable from the window's GWLP_USERDATA (and from a table, for creation order).
#pragma once

#include "Platform/Ui/Ui.h"
#include "Platform/Ui/UiCanvas.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace Vexel::Ui::Win32
{

enum class RecordKind
{
    Window,
    PushButton,
    CheckBox,
    ComboBox,
    HotKeyBox,
};

struct WindowRecord
{
    HWND hwnd = nullptr;
    RecordKind kind = RecordKind::Window;
    WindowHandler handler;
    void* userData = nullptr;
    _dword style = 0; // the style asked for; the real one may lack what the layer draws itself
    const WindowParams* params = nullptr; // while the window is being made: _WM_CREATE's lParam
    bool created = false;                 // _WM_CREATE reached the handler: later messages go there too
    bool destroySent = false;             // _WM_DESTROY already delivered by DestroyUiWindow
    int busy = 0;                         // handler calls under way: the record outlives them
    bool dead = false;                    // the window is gone; freed when the last call returns
    Rect insets;
    Size minimum;
    HCURSOR cursor = nullptr;
    HICON iconBig = nullptr;
    HICON iconSmall = nullptr;
    HFONT font = nullptr;
    bool foreignPaint = false;
    bool mouseInClient = false; // a leave notice is owed when the pointer goes
    bool mouseInFrame = false;
    // The pixels presented to the window, in window coordinates (premultiplied ARGB words).
    std::vector<_dword> backing;
    int backingWidth = 0;
    int backingHeight = 0;
    RECT clientInWindow{};     // the client area in window coordinates, kept while minimised
    bool frameBacking = false; // the backing covers the frame too (PresentWindowCanvas)
    // Controls: the window procedure the layer wrapped, and the last selection the parent was told.
    WNDPROC controlProc = nullptr;
    int comboReported = -1;
};

struct UiState
{
    bool initialised = false;
    bool available = false;
    DWORD thread = 0;
    HINSTANCE instance = nullptr;
    ATOM windowClass = 0;
    ATOM windowClassNoDouble = 0;
    std::map<std::wstring, ATOM> namedClasses; // classes other programs find windows by (className)
    std::map<HWND, std::unique_ptr<WindowRecord>> records;
    std::unique_ptr<WindowRecord> creating;               // the record of the window being made
    std::vector<std::unique_ptr<WindowRecord>> graveyard; // gone windows whose handler still runs
    std::vector<HWND> topOrder;                           // top-level windows in creation order
    HWND quitRelay = nullptr; // a message-only window that turns other threads' quits into this one's
};

UiState& State();

inline HWND ToHwnd(WindowId id)
{
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(id));
}
inline WindowId ToId(HWND hwnd)
{
    return static_cast<WindowId>(reinterpret_cast<std::uintptr_t>(hwnd));
}
inline HMENU ToHmenu(MenuId id)
{
    return reinterpret_cast<HMENU>(static_cast<std::uintptr_t>(id));
}
inline MenuId ToMenuId(HMENU menu)
{
    return static_cast<MenuId>(reinterpret_cast<std::uintptr_t>(menu));
}
inline const wchar_t* W(const String& text)
{
    static_assert(sizeof(wchar_t) == sizeof(char16_t));
    return reinterpret_cast<const wchar_t*>(text.c_str());
}
inline String FromW(const wchar_t* text, std::size_t length)
{
    return String(reinterpret_cast<const char16_t*>(text), length);
}

// The record of a window or control the layer made, or null.
WindowRecord* FindRecord(HWND hwnd);
inline WindowRecord* FindRecord(WindowId id)
{
    return id ? FindRecord(ToHwnd(id)) : nullptr;
}
// A live window of this program (the layer's own, a control, a message box, a web view's).
bool IsOwnWindow(HWND hwnd);

// Calls the window's handler (or DefaultHandler), keeping its record alive meanwhile.
LRESULT CallHandler(WindowRecord& record, UINT message, WPARAM wParam, LPARAM lParam);

// Forgets a window: its record, tray icons, backing store (at _WM_NCDESTROY).
void ReleaseRecord(HWND hwnd);
void ReleaseTrayIcons(HWND hwnd);

// Painting from the backing store, after the handler saw the message.
void PaintClientFromBacking(WindowRecord& record);
void PaintFrameFromBacking(WindowRecord& record);
// Shows a per-pixel-alpha window's kept pixels again at its size (after a restore or resize).
void RefreshLayered(WindowRecord& record);

// A GDI font for the font description (the caller deletes it).
HFONT MakeFont(const FontSpec& font);
// Pictures of an image's selected frame for Windows calls (the caller destroys them).
HBITMAP MakeBitmap(const UiImage& image, bool premultiplied);
HICON MakeIcon(const UiImage& image, int size);

// The notifications the parent hears for a control's notification code (none, one or two).
int FilterControlCommand(WindowRecord& control, _dword code, _dword notices[2]);

// Starts GDI+ once (image decoding).
bool StartGdiPlus();

// Asks the pump's thread to quit (PostQuit from another thread), sent to the quit relay.
constexpr UINT _QUIT_REQUEST = WM_APP + 0x3A1;
// Posted to a window to open a popup menu from inside the pump (wParam: the menu, lParam: the point).
constexpr UINT _POPUP_REQUEST = WM_APP + 0x3A2;

} // namespace Vexel::Ui::Win32
