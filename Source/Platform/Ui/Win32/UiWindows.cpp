// Windows of the Win32 backend: one registered class whose procedure hands every message to the
// window's handler, the frame insets of windows that draw their own non-client area, and each window's
// life and geometry.
#include "UiWin32Private.h"

#include "Common/Log.h"

#include <algorithm>
#include <cwchar>

namespace Vexel::Ui::Win32
{

UiState& State()
{
    static UiState state;
    return state;
}

WindowRecord* FindRecord(HWND hwnd)
{
    if (!hwnd)
        return nullptr;
    auto& records = State().records;
    auto it = records.find(hwnd);
    if (it == records.end() || it->second->dead || !IsWindow(hwnd))
        return nullptr;
    return it->second.get();
}

bool IsOwnWindow(HWND hwnd)
{
    if (!hwnd || !IsWindow(hwnd))
        return false;
    DWORD process = 0;
    GetWindowThreadProcessId(hwnd, &process);
    return process == GetCurrentProcessId();
}

LRESULT CallHandler(WindowRecord& record, UINT message, WPARAM wParam, LPARAM lParam)
{
    WindowId id = ToId(record.hwnd);
    ++record.busy;
    LRESULT result;
    if (record.handler)
    {
        // A copy: the handler may replace itself (SetWindowHandler) while it runs.
        WindowHandler handler = record.handler;
        result = handler(id, message, wParam, lParam);
    }
    else
        result = DefaultHandler(id, message, wParam, lParam);
    if (--record.busy == 0 && record.dead)
    {
        auto& graveyard = State().graveyard;
        for (auto it = graveyard.begin(); it != graveyard.end(); ++it)
            if (it->get() == &record)
            {
                graveyard.erase(it); // last use of the record
                break;
            }
    }
    return result;
}

void ReleaseRecord(HWND hwnd)
{
    auto& state = State();
    auto it = state.records.find(hwnd);
    if (it == state.records.end())
        return;
    WindowRecord& record = *it->second;
    ReleaseTrayIcons(hwnd);
    if (record.iconBig)
        DestroyIcon(record.iconBig);
    if (record.iconSmall)
        DestroyIcon(record.iconSmall);
    if (record.font)
        DeleteObject(record.font);
    record.iconBig = record.iconSmall = nullptr;
    record.font = nullptr;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    state.topOrder.erase(std::remove(state.topOrder.begin(), state.topOrder.end(), hwnd),
                         state.topOrder.end());
    record.dead = true;
    if (record.busy > 0)
        state.graveyard.push_back(std::move(it->second));
    state.records.erase(it);
}

namespace
{

bool HasInsets(const WindowRecord& record)
{
    const Rect& in = record.insets;
    return in.left || in.top || in.right || in.bottom;
}

// Overlapped windows with a caption get the system's frame; every other top-level window is bare and
// draws its own (the frame insets say how wide it is).
bool IsDecorated(_dword style)
{
    return (style & _WS_CHILD) == 0 && (style & _WS_CAPTION) == _WS_CAPTION && (style & _WS_POPUP) == 0;
}

DWORD RealStyle(_dword style)
{
    if (style & _WS_CHILD)
        return style;
    if (IsDecorated(style))
        return style;
    // A caption or system menu on a bare window would bring the system's caption or its menu back.
    return (style & ~(_WS_CAPTION | _WS_SYSMENU)) | _WS_POPUP;
}

// The menu bar's rectangle on the screen, or an empty one.
RECT MenuBarRect(HWND hwnd)
{
    RECT rect{};
    if (!GetMenu(hwnd))
        return rect;
    MENUBARINFO info{};
    info.cbSize = sizeof(info);
    if (GetMenuBarInfo(hwnd, OBJID_MENU, 0, &info))
        rect = info.rcBar;
    return rect;
}

LRESULT HitTestFromInsets(WindowRecord& record, POINT p)
{
    HWND hwnd = record.hwnd;
    RECT client;
    GetClientRect(hwnd, &client);
    MapWindowPoints(hwnd, nullptr, reinterpret_cast<POINT*>(&client), 2);
    if (PtInRect(&client, p))
        return _HTCLIENT;
    RECT outer;
    GetWindowRect(hwnd, &outer);
    if (!PtInRect(&outer, p))
        return _HTNOWHERE;
    RECT menu = MenuBarRect(hwnd);
    if (PtInRect(&menu, p))
        return _HTMENU;
    const Rect& in = record.insets;
    bool sizing = (record.style & _WS_THICKFRAME) != 0 && !IsZoomed(hwnd);
    bool left = p.x < outer.left + in.left;
    bool right = p.x >= outer.right - in.right;
    bool bottom = p.y >= outer.bottom - in.bottom;
    if (sizing && bottom)
        return left ? _HTBOTTOMLEFT : right ? _HTBOTTOMRIGHT : _HTBOTTOM;
    if (sizing && left)
        return _HTLEFT;
    if (sizing && right)
        return _HTRIGHT;
    int captionBottom = std::max<int>(outer.top + in.top, menu.bottom > menu.top ? menu.bottom + in.top : 0);
    if (p.y < captionBottom)
        return left || right ? _HTBORDER : _HTCAPTION;
    return _HTBORDER;
}

// The client area is the window less the menu bar (placed by the system) and the frame insets.
void CalculateClient(WindowRecord& record, HWND hwnd, WPARAM wParam, LPARAM lParam)
{
    RECT* rect =
        wParam ? &reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam)->rgrc[0] : reinterpret_cast<RECT*>(lParam);
    if (IsDecorated(record.style) || GetMenu(hwnd))
        DefWindowProcW(hwnd, WM_NCCALCSIZE, wParam, lParam);
    if (IsIconic(hwnd))
        return;
    const Rect& in = record.insets;
    rect->left += in.left;
    rect->top += in.top;
    rect->right -= in.right;
    rect->bottom -= in.bottom;
    rect->right = std::max(rect->right, rect->left);
    rect->bottom = std::max(rect->bottom, rect->top);
}

// Leave notices come without asking on the other platforms: ask for them here, one area at a time (the
// system tracks one per thread), and tell of leaving one area as the pointer enters the other.
void TrackLeave(HWND hwnd, bool frame)
{
    TRACKMOUSEEVENT track{};
    track.cbSize = sizeof(track);
    track.dwFlags = TME_LEAVE | (frame ? TME_NONCLIENT : 0);
    track.hwndTrack = hwnd;
    TrackMouseEvent(&track);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    WindowRecord* record = reinterpret_cast<WindowRecord*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!record && message == WM_NCCREATE)
    {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        record = static_cast<WindowRecord*>(create->lpCreateParams);
        auto& state = State();
        if (!record || state.creating.get() != record)
            return DefWindowProcW(hwnd, message, wParam, lParam);
        record->hwnd = hwnd;
        state.records[hwnd] = std::move(state.creating);
        if (!(create->style & WS_CHILD))
            state.topOrder.push_back(hwnd); // in creation order, before windows its handler makes
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(record));
    }
    if (!record)
        return DefWindowProcW(hwnd, message, wParam, lParam);

    switch (message)
    {
    case WM_NCCALCSIZE:
        CalculateClient(*record, hwnd, wParam, lParam);
        return 0;
    case WM_GETMINMAXINFO:
    {
        LRESULT result = DefWindowProcW(hwnd, message, wParam, lParam);
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        // A bare window maximises to the work area, so that panels (the taskbar) stay visible.
        if (!(record->style & _WS_CHILD) && !IsDecorated(record->style))
        {
            MONITORINFO monitor{};
            monitor.cbSize = sizeof(monitor);
            if (GetMonitorInfoW(MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), &monitor))
            {
                info->ptMaxPosition = {monitor.rcWork.left - monitor.rcMonitor.left,
                                       monitor.rcWork.top - monitor.rcMonitor.top};
                info->ptMaxSize = {monitor.rcWork.right - monitor.rcWork.left,
                                   monitor.rcWork.bottom - monitor.rcWork.top};
            }
        }
        if (record->minimum.width > 0)
            info->ptMinTrackSize.x = record->minimum.width;
        if (record->minimum.height > 0)
            info->ptMinTrackSize.y = record->minimum.height;
        return result;
    }
    case WM_CREATE:
    {
        record->created = true;
        LRESULT result = CallHandler(*record, message, wParam, reinterpret_cast<LPARAM>(record->params));
        if (FindRecord(hwnd) != record)
            return -1; // the handler destroyed its window already
        record->params = nullptr;
        if (result == -1 && !record->destroySent)
        {
            // The window system destroys a refused window; its handler hears of it first, as always.
            record->destroySent = true;
            CallHandler(*record, WM_DESTROY, 0, 0);
        }
        return result == -1 ? -1 : 0;
    }
    case WM_NCDESTROY:
    {
        if (record->created)
            CallHandler(*record, message, wParam, lParam);
        ReleaseRecord(hwnd);
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    default:
        break;
    }
    if (!record->created)
        return DefWindowProcW(hwnd, message, wParam, lParam);

    switch (message)
    {
    case WM_DESTROY:
        if (record->destroySent)
            return 0;
        record->destroySent = true;
        break;
    case WM_PAINT:
        // The kept pixels first, so that a handler that paints nothing still shows them.
        PaintClientFromBacking(*record);
        CallHandler(*record, message, wParam, lParam);
        return 0;
    case WM_NCPAINT:
    {
        LRESULT result = CallHandler(*record, message, wParam, lParam);
        if (FindRecord(hwnd) == record)
            PaintFrameFromBacking(*record);
        return result;
    }
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED)
            RefreshLayered(*record);
        break;
    case WM_MOUSEMOVE:
        if (record->mouseInFrame)
        {
            record->mouseInFrame = false;
            CallHandler(*record, WM_NCMOUSELEAVE, 0, 0);
            if (FindRecord(hwnd) != record)
                return 0;
        }
        if (!record->mouseInClient)
        {
            record->mouseInClient = true;
            TrackLeave(hwnd, false);
        }
        break;
    case WM_NCMOUSEMOVE:
        if (record->mouseInClient)
        {
            record->mouseInClient = false;
            CallHandler(*record, WM_MOUSELEAVE, 0, 0);
            if (FindRecord(hwnd) != record)
                return 0;
        }
        if (!record->mouseInFrame)
        {
            record->mouseInFrame = true;
            TrackLeave(hwnd, true);
        }
        break;
    case WM_MOUSELEAVE:
        if (!record->mouseInClient)
            return 0; // told already
        record->mouseInClient = false;
        break;
    case WM_NCMOUSELEAVE:
        if (!record->mouseInFrame)
            return 0;
        record->mouseInFrame = false;
        break;
    case WM_COMMAND:
        if (lParam)
            if (WindowRecord* control = FindRecord(reinterpret_cast<HWND>(lParam)))
                if (control->kind != RecordKind::Window)
                {
                    _dword notices[2] = {};
                    int count = FilterControlCommand(*control, HIWORD(wParam), notices);
                    for (int i = 0; i < count && FindRecord(hwnd) == record; ++i)
                        CallHandler(*record, message, MAKEWPARAM(LOWORD(wParam), notices[i]), lParam);
                    return 0;
                }
        break;
    case _POPUP_REQUEST:
    {
        // The menu takes the input while open; the empty message after it lets the next click through.
        SetForegroundWindow(hwnd);
        // Menus are made as bar menus (see NewMenu); one becomes a popup menu once it has been a
        // submenu, which a throwaway holder makes it for a moment.
        HMENU menu = reinterpret_cast<HMENU>(wParam);
        if (HMENU holder = CreatePopupMenu())
        {
            AppendMenuW(holder, MF_POPUP, reinterpret_cast<UINT_PTR>(menu), L"");
            RemoveMenu(holder, 0, MF_BYPOSITION);
            DestroyMenu(holder);
        }
        TrackPopupMenuEx(menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, PointX(lParam), PointY(lParam),
                         hwnd, nullptr);
        PostMessageW(hwnd, WM_NULL, 0, 0);
        return 0;
    }
    default:
        break;
    }
    return CallHandler(*record, message, wParam, lParam);
}

bool RegisterClasses()
{
    auto& state = State();
    state.instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = state.instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = L"VexelWindow";
    state.windowClass = RegisterClassExW(&wc);
    wc.style = 0;
    wc.lpszClassName = L"VexelWindowSingleClicks";
    state.windowClassNoDouble = RegisterClassExW(&wc);
    return state.windowClass && state.windowClassNoDouble;
}

// A class under the name the caller gives (other programs find the windows by it), registered on first
// use: redrawn whole when resized, the system's icon and arrow cursor. A class of that name this module
// registered before (a repeated initialisation) is used as it is.
ATOM NamedClass(const String& name, bool doubleClicks)
{
    auto& state = State();
    const std::wstring native = W(name);
    auto known = state.namedClasses.find(native);
    if (known != state.namedClasses.end())
        return known->second;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW | (doubleClicks ? CS_DBLCLKS : 0);
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = state.instance;
    wc.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = native.c_str();
    ATOM atom = RegisterClassExW(&wc);
    if (!atom)
    {
        WNDCLASSEXW existing{};
        existing.cbSize = sizeof(existing);
        atom = static_cast<ATOM>(GetClassInfoExW(state.instance, native.c_str(), &existing));
        if (atom && existing.lpfnWndProc != WindowProc)
            atom = 0; // someone else's class: not ours to create windows of
    }
    if (atom)
        state.namedClasses[native] = atom;
    else
        LogError(u"[FG] Cannot register window class %ls (error %u)", name,
                 static_cast<unsigned>(GetLastError()));
    return atom;
}

LRESULT CALLBACK QuitRelayProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == _QUIT_REQUEST)
    {
        PostQuitMessage(static_cast<int>(wParam));
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

} // namespace
} // namespace Vexel::Ui::Win32

namespace Vexel::Ui
{
using namespace Win32;

bool InitUi()
{
    auto& state = State();
    if (state.initialised)
        return state.available;
    state.initialised = true;
    state.thread = GetCurrentThreadId();
    // A thread message queue from the start, so that posts made before the first window are kept.
    MSG m;
    PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);
    state.available = RegisterClasses();
    if (state.available)
    {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = QuitRelayProc;
        wc.hInstance = state.instance;
        wc.lpszClassName = L"VexelQuitRelay";
        if (RegisterClassExW(&wc))
            state.quitRelay = CreateWindowExW(0, L"VexelQuitRelay", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                              state.instance, nullptr);
        state.available = state.quitRelay != nullptr;
    }
    if (!state.available)
        LogError(u"[FG] No display for windows (error %u)", static_cast<unsigned>(GetLastError()));
    return state.available;
}

bool IsUiAvailable()
{
    return State().available;
}

WindowId NewWindow(const WindowParams& params)
{
    if (!InitUi())
        return 0;
    auto& state = State();
    bool child = (params.style & _WS_CHILD) != 0;
    HWND parent = params.parent ? ToHwnd(params.parent) : nullptr;
    if ((child && !IsOwnWindow(parent)) || (parent && !IsOwnWindow(parent)))
        return 0;
    auto owned = std::make_unique<WindowRecord>();
    WindowRecord* record = owned.get();
    record->handler = params.handler;
    record->userData = params.userData;
    record->style = params.style & ~_WS_VISIBLE;
    record->params = &params;
    DWORD style = RealStyle(params.style) & ~WS_VISIBLE;
    if (!child)
        style |= WS_CLIPCHILDREN;
    ATOM atom = params.className.empty()
                    ? (params.doubleClicks ? state.windowClass : state.windowClassNoDouble)
                    : NamedClass(params.className, params.doubleClicks);
    if (!atom)
        return 0;
    // The window procedure moves the record into the table on WM_NCCREATE, before any handler runs.
    state.creating = std::move(owned);
    HWND hwnd = CreateWindowExW(params.exStyle, reinterpret_cast<LPCWSTR>(static_cast<std::uintptr_t>(atom)),
                                W(params.title), style, params.x, params.y, std::max(params.width, 0),
                                std::max(params.height, 0), parent, nullptr, state.instance, record);
    state.creating.reset();
    if (!hwnd)
        return 0; // refused at _WM_CREATE, or the system could not make it
    if (params.style & _WS_VISIBLE)
        ShowUiWindow(ToId(hwnd), params.style & _WS_MINIMIZE   ? _SW_SHOWMINIMIZED
                                 : params.style & _WS_MAXIMIZE ? _SW_SHOWMAXIMIZED
                                                               : _SW_SHOW);
    return IsWindow(hwnd) ? ToId(hwnd) : 0;
}

bool DestroyUiWindow(WindowId window)
{
    HWND hwnd = ToHwnd(window);
    WindowRecord* record = FindRecord(hwnd);
    if (!record)
        return window && IsOwnWindow(hwnd) ? DestroyWindow(hwnd) != FALSE : false;
    // The window hears of its end before the windows it owns do (the system would tell them first).
    if (record->created && !record->destroySent)
    {
        record->destroySent = true;
        if (IsWindowVisible(hwnd) && !(GetWindowLongW(hwnd, GWL_STYLE) & WS_CHILD))
            ShowWindow(hwnd, SW_HIDE);
        CallHandler(*record, WM_DESTROY, 0, 0);
    }
    if (!IsWindow(hwnd))
        return true;
    return DestroyWindow(hwnd) != FALSE;
}

bool IsUiWindow(WindowId window)
{
    return window && IsOwnWindow(ToHwnd(window));
}

LResult DefaultHandler(WindowId window, _dword message, WParam wParam, LParam lParam)
{
    HWND hwnd = ToHwnd(window);
    if (!IsOwnWindow(hwnd))
        return 0;
    WindowRecord* record = FindRecord(hwnd);
    switch (message)
    {
    case _WM_CLOSE:
        DestroyUiWindow(window);
        return 0;
    case _WM_NCHITTEST:
        if (record && HasInsets(*record))
            return HitTestFromInsets(*record, POINT{PointX(lParam), PointY(lParam)});
        break;
    case _WM_NCLBUTTONDBLCLK:
        if (record && wParam == static_cast<WParam>(_HTCAPTION) && (record->style & _WS_MAXIMIZEBOX))
        {
            ShowUiWindow(window, IsZoomed(hwnd) ? _SW_RESTORE : _SW_MAXIMIZE);
            return 0;
        }
        break;
    case _WM_SYSCOMMAND:
        switch (wParam & 0xFFF0)
        {
        case _SC_MINIMIZE:
            ShowUiWindow(window, _SW_MINIMIZE);
            return 0;
        case _SC_MAXIMIZE:
            ShowUiWindow(window, _SW_MAXIMIZE);
            return 0;
        case _SC_RESTORE:
            ShowUiWindow(window, _SW_RESTORE);
            return 0;
        case _SC_CLOSE:
            SendUiMessage(window, _WM_CLOSE, 0, 0);
            return 0;
        default:
            break;
        }
        break;
    case _WM_SETCURSOR:
        if (record && record->cursor && reinterpret_cast<HWND>(wParam) == hwnd && LOWORD(lParam) == HTCLIENT)
        {
            SetCursor(record->cursor);
            return TRUE;
        }
        break;
    case _WM_NCRBUTTONDOWN:
        // The system would run the window menu's loop, which a bare window has no use for.
        if (record && !IsDecorated(record->style))
            return 0;
        break;
    case _WM_ERASEBKGND:
        // Until the program presents pixels the client area shows the system's face colour, not
        // whatever lay there before; kept pixels and foreign painters are never erased.
        if (record && record->kind == RecordKind::Window && record->backing.empty() &&
            !record->foreignPaint && wParam)
        {
            RECT client;
            GetClientRect(hwnd, &client);
            FillRect(reinterpret_cast<HDC>(wParam), &client, GetSysColorBrush(COLOR_BTNFACE));
        }
        return 1;
    default:
        break;
    }
    if (record && record->kind != RecordKind::Window && record->controlProc)
        return CallWindowProcW(record->controlProc, hwnd, message, wParam, lParam);
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

bool SetWindowHandler(WindowId window, WindowHandler handler)
{
    WindowRecord* record = FindRecord(window);
    if (!record)
        return false;
    record->handler = std::move(handler);
    return true;
}

bool SetWindowData(WindowId window, void* data)
{
    WindowRecord* record = FindRecord(window);
    if (!record)
        return false;
    record->userData = data;
    return true;
}

void* GetWindowData(WindowId window)
{
    WindowRecord* record = FindRecord(window);
    return record ? record->userData : nullptr;
}

_dword GetWindowStyle(WindowId window)
{
    HWND hwnd = ToHwnd(window);
    if (!IsUiWindow(window))
        return 0;
    _dword real = static_cast<_dword>(GetWindowLongW(hwnd, GWL_STYLE));
    WindowRecord* record = FindRecord(hwnd);
    if (!record || record->kind != RecordKind::Window)
        return real;
    constexpr _dword state = _WS_VISIBLE | _WS_MINIMIZE | _WS_MAXIMIZE | _WS_DISABLED;
    return (record->style & ~state) | (real & state);
}

_dword GetWindowExStyle(WindowId window)
{
    if (!IsUiWindow(window))
        return 0;
    return static_cast<_dword>(GetWindowLongW(ToHwnd(window), GWL_EXSTYLE));
}

WindowId GetParentWindow(WindowId window)
{
    HWND hwnd = ToHwnd(window);
    if (!IsUiWindow(window) || !(GetWindowLongW(hwnd, GWL_STYLE) & WS_CHILD))
        return 0;
    return ToId(GetAncestor(hwnd, GA_PARENT));
}

WindowId GetOwnerWindow(WindowId window)
{
    if (!IsUiWindow(window))
        return 0;
    return ToId(GetWindow(ToHwnd(window), GW_OWNER));
}

bool ReparentWindow(WindowId window, WindowId parent, _dword style, _dword exStyle, int x, int y)
{
    HWND hwnd = ToHwnd(window);
    HWND newParent = parent ? ToHwnd(parent) : nullptr;
    if (!IsUiWindow(window) || (parent && !IsUiWindow(parent)))
        return false;
    if (newParent == hwnd || (newParent && IsChild(hwnd, newParent)))
        return false; // a window inside itself
    bool child = (style & _WS_CHILD) != 0;
    if (child != (newParent != nullptr))
        return false;
    WindowRecord* record = FindRecord(hwnd);
    auto& order = State().topOrder;
    DWORD real = (record ? RealStyle(style) : style) & ~WS_VISIBLE;
    ShowWindow(hwnd, SW_HIDE);
    if (child)
    {
        SetWindowLongW(hwnd, GWL_STYLE, static_cast<LONG>(real));
        SetParent(hwnd, newParent);
        order.erase(std::remove(order.begin(), order.end(), hwnd), order.end());
    }
    else
    {
        SetParent(hwnd, nullptr);
        SetWindowLongW(hwnd, GWL_STYLE, static_cast<LONG>(real | WS_CLIPCHILDREN));
        if (std::find(order.begin(), order.end(), hwnd) == order.end())
            order.push_back(hwnd);
    }
    SetWindowLongW(hwnd, GWL_EXSTYLE, static_cast<LONG>(exStyle));
    if (record)
        record->style = style & ~_WS_VISIBLE;
    SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    if (style & _WS_VISIBLE)
        ShowWindow(hwnd, child ? SW_SHOW : SW_SHOWNA);
    return true;
}

WindowId GetTopLevelWindow(WindowId window)
{
    if (!IsUiWindow(window))
        return 0;
    return ToId(GetAncestor(ToHwnd(window), GA_ROOT));
}

std::vector<WindowId> GetTopLevelWindows()
{
    std::vector<WindowId> list;
    for (HWND hwnd : State().topOrder)
        if (FindRecord(hwnd))
            list.push_back(ToId(hwnd));
    return list;
}

namespace
{
bool HasTitle(HWND hwnd, const String& title)
{
    int length = GetWindowTextLengthW(hwnd);
    if (length != static_cast<int>(title.size()))
        return false;
    std::vector<wchar_t> text(static_cast<std::size_t>(length) + 1);
    GetWindowTextW(hwnd, text.data(), length + 1);
    return FromW(text.data(), static_cast<std::size_t>(length)) == title;
}

struct TitleSearch
{
    const String* title;
    HWND found;
};

BOOL CALLBACK FindTitle(HWND hwnd, LPARAM param)
{
    auto* search = reinterpret_cast<TitleSearch*>(param);
    if (!HasTitle(hwnd, *search->title))
        return TRUE;
    search->found = hwnd;
    return FALSE;
}
} // namespace

WindowId FindUiWindow(const String& title)
{
    for (HWND hwnd : State().topOrder)
        if (FindRecord(hwnd) && HasTitle(hwnd, title))
            return ToId(hwnd);
    // Windows the system made for the program (message boxes) count too.
    TitleSearch search{&title, nullptr};
    EnumThreadWindows(State().thread, &FindTitle, reinterpret_cast<LPARAM>(&search));
    return ToId(search.found);
}

bool ShowUiWindow(WindowId window, int command)
{
    if (!IsUiWindow(window))
        return false;
    HWND hwnd = ToHwnd(window);
    bool activate = command == _SW_SHOW || command == _SW_SHOWNORMAL || command == _SW_SHOWMAXIMIZED ||
                    command == _SW_RESTORE;
    bool wasVisible = ShowWindow(hwnd, command) != FALSE;
    if (activate && !(GetWindowLongW(hwnd, GWL_STYLE) & WS_CHILD) && IsWindowVisible(hwnd))
        SetForegroundWindow(hwnd);
    return wasVisible;
}

bool IsUiWindowVisible(WindowId window)
{
    return IsUiWindow(window) && IsWindowVisible(ToHwnd(window));
}

bool IsUiWindowMinimized(WindowId window)
{
    return IsUiWindow(window) && IsIconic(ToHwnd(window));
}

bool IsUiWindowMaximized(WindowId window)
{
    return IsUiWindow(window) && IsZoomed(ToHwnd(window));
}

bool EnableUiWindow(WindowId window, bool enable)
{
    if (!IsUiWindow(window))
        return false;
    EnableWindow(ToHwnd(window), enable);
    return true;
}

bool IsUiWindowEnabled(WindowId window)
{
    return IsUiWindow(window) && IsWindowEnabled(ToHwnd(window));
}

bool MoveUiWindow(WindowId window, int x, int y, int width, int height)
{
    if (!IsUiWindow(window))
        return false;
    return SetWindowPos(ToHwnd(window), nullptr, x, y, std::max(width, 0), std::max(height, 0),
                        SWP_NOZORDER | SWP_NOACTIVATE) != FALSE;
}

bool SetWindowPlace(WindowId window, int x, int y)
{
    if (!IsUiWindow(window))
        return false;
    return SetWindowPos(ToHwnd(window), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE) !=
           FALSE;
}

bool SetWindowSize(WindowId window, int width, int height)
{
    if (!IsUiWindow(window))
        return false;
    return SetWindowPos(ToHwnd(window), nullptr, 0, 0, std::max(width, 0), std::max(height, 0),
                        SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE) != FALSE;
}

bool GetWindowBounds(WindowId window, Rect& rect)
{
    RECT r;
    if (!IsUiWindow(window) || !GetWindowRect(ToHwnd(window), &r))
        return false;
    rect = {r.left, r.top, r.right, r.bottom};
    return true;
}

bool GetClientBounds(WindowId window, Rect& rect)
{
    RECT r;
    if (!IsUiWindow(window) || !GetClientRect(ToHwnd(window), &r))
        return false;
    rect = {0, 0, r.right, r.bottom};
    return true;
}

bool ClientToScreenPoint(WindowId window, Point& point)
{
    POINT p{point.x, point.y};
    if (!IsUiWindow(window) || !ClientToScreen(ToHwnd(window), &p))
        return false;
    point = {p.x, p.y};
    return true;
}

bool ScreenToClientPoint(WindowId window, Point& point)
{
    POINT p{point.x, point.y};
    if (!IsUiWindow(window) || !ScreenToClient(ToHwnd(window), &p))
        return false;
    point = {p.x, p.y};
    return true;
}

bool SetFrameInsets(WindowId window, const Rect& insets)
{
    WindowRecord* record = FindRecord(window);
    if (!record || record->kind != RecordKind::Window)
        return false;
    Rect clean{std::max(insets.left, 0), std::max(insets.top, 0), std::max(insets.right, 0),
               std::max(insets.bottom, 0)};
    if (clean == record->insets)
        return true;
    record->insets = clean;
    SetWindowPos(record->hwnd, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    return true;
}

bool OuterSizeForClient(_dword style, _dword exStyle, int& width, int& height)
{
    RECT rect{0, 0, width, height};
    if (width < 0 || height < 0 || !AdjustWindowRectEx(&rect, RealStyle(style) & ~WS_VISIBLE, FALSE, exStyle))
        return false;
    width = rect.right - rect.left;
    height = rect.bottom - rect.top;
    return true;
}

bool GetFrameInsets(WindowId window, Rect& insets)
{
    WindowRecord* record = FindRecord(window);
    if (!record)
        return false;
    insets = record->insets;
    return true;
}

bool SetMinimumSize(WindowId window, int width, int height)
{
    WindowRecord* record = FindRecord(window);
    if (!record)
        return false;
    record->minimum = {std::max(width, 0), std::max(height, 0)};
    RECT r;
    GetWindowRect(record->hwnd, &r);
    int w = std::max<int>(r.right - r.left, record->minimum.width);
    int h = std::max<int>(r.bottom - r.top, record->minimum.height);
    if (w != r.right - r.left || h != r.bottom - r.top)
        SetWindowSize(window, w, h);
    return true;
}

bool SetTopmost(WindowId window, bool topmost)
{
    if (!IsUiWindow(window))
        return false;
    return SetWindowPos(ToHwnd(window), topmost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                        SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE) != FALSE;
}

bool SetWindowTitle(WindowId window, const String& title)
{
    return IsUiWindow(window) && SetWindowTextW(ToHwnd(window), W(title));
}

String GetWindowTitle(WindowId window)
{
    if (!IsUiWindow(window))
        return {};
    HWND hwnd = ToHwnd(window);
    int length = GetWindowTextLengthW(hwnd);
    std::vector<wchar_t> text(static_cast<std::size_t>(length) + 1);
    int got = GetWindowTextW(hwnd, text.data(), length + 1);
    return FromW(text.data(), static_cast<std::size_t>(std::max(got, 0)));
}

bool SetWindowIconImage(WindowId window, const UiImage& image)
{
    WindowRecord* record = FindRecord(window);
    if (!record)
        return false;
    HICON big = MakeIcon(image, GetSystemMetrics(SM_CXICON));
    HICON small = MakeIcon(image, GetSystemMetrics(SM_CXSMICON));
    if (!big || !small)
    {
        if (big)
            DestroyIcon(big);
        if (small)
            DestroyIcon(small);
        return false;
    }
    SendMessageW(record->hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    SendMessageW(record->hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
    if (record->iconBig)
        DestroyIcon(record->iconBig);
    if (record->iconSmall)
        DestroyIcon(record->iconSmall);
    record->iconBig = big;
    record->iconSmall = small;
    return true;
}

bool FlashUiWindow(WindowId window)
{
    if (!IsUiWindow(window))
        return false;
    FLASHWINFO flash{};
    flash.cbSize = sizeof(flash);
    flash.hwnd = ToHwnd(GetTopLevelWindow(window));
    flash.dwFlags = FLASHW_TRAY | FLASHW_TIMERNOFG;
    FlashWindowEx(&flash);
    return true;
}

bool SetUiCursor(WindowId window, _dword cursor)
{
    WindowRecord* record = FindRecord(window);
    if (!record || (cursor != _IDC_ARROW && cursor != _IDC_HAND))
        return false;
    record->cursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(cursor));
    POINT p;
    GetCursorPos(&p);
    if (WindowFromPoint(p) == record->hwnd)
        SetCursor(record->cursor);
    return true;
}

bool GetPointerPosition(Point& screen)
{
    POINT p;
    if (!GetCursorPos(&p))
        return false;
    screen = {static_cast<int>(p.x), static_cast<int>(p.y)};
    return true;
}

WindowId GetForegroundUiWindow()
{
    HWND hwnd = GetForegroundWindow();
    return IsOwnWindow(hwnd) ? ToId(hwnd) : 0;
}

bool SetForegroundUiWindow(WindowId window)
{
    if (!IsUiWindow(window))
        return false;
    HWND top = GetAncestor(ToHwnd(window), GA_ROOT);
    if (IsIconic(top))
        ShowWindow(top, SW_RESTORE);
    return SetForegroundWindow(top) != FALSE;
}

WindowId GetFocusUiWindow()
{
    // A focused window inside one of ours (a web view's) counts as the window that hosts it.
    for (HWND hwnd = GetFocus(); hwnd; hwnd = GetAncestor(hwnd, GA_PARENT))
        if (FindRecord(hwnd))
            return ToId(hwnd);
    return 0;
}

WindowId SetFocusUiWindow(WindowId window)
{
    if (!IsUiWindow(window))
        return 0;
    HWND hwnd = ToHwnd(window);
    HWND top = GetAncestor(hwnd, GA_ROOT);
    WindowId previous = GetFocusUiWindow();
    if (GetForegroundWindow() != top)
        SetForegroundWindow(top);
    SetFocus(hwnd);
    return previous;
}

Size GetScreenSize()
{
    return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

bool GetWorkArea(WindowId window, Rect& rect)
{
    HMONITOR monitor = window && IsUiWindow(window)
                           ? MonitorFromWindow(ToHwnd(window), MONITOR_DEFAULTTONEAREST)
                           : MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    if (!GetMonitorInfoW(monitor, &info))
        return false;
    rect = {info.rcWork.left, info.rcWork.top, info.rcWork.right, info.rcWork.bottom};
    return true;
}

_dword GetNativeWindowHandle(WindowId window)
{
    WindowRecord* record = FindRecord(window);
    if (!record)
        return 0;
    record->foreignPaint = true;
    return window;
}

bool SetForeignPainting(WindowId window, bool foreign)
{
    WindowRecord* record = FindRecord(window);
    if (!record)
        return false;
    record->foreignPaint = foreign;
    if (!foreign)
        RedrawWindow(record->hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME);
    return true;
}

bool InvalidateUiWindow(WindowId window, bool frame)
{
    if (!IsUiWindow(window))
        return false;
    return RedrawWindow(ToHwnd(window), nullptr, nullptr, RDW_INVALIDATE | (frame ? RDW_FRAME : 0)) != FALSE;
}

bool UpdateUiWindow(WindowId window)
{
    return IsUiWindow(window) && UpdateWindow(ToHwnd(window));
}

} // namespace Vexel::Ui
