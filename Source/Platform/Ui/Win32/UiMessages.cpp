// The message queue of the Win32 backend (the thread's own queue), timers, synthesised input and modal
// message boxes.
#include "UiWin32Private.h"

#include "Platform/System.h"

#include <algorithm>
#include <vector>

namespace Vexel::Ui::Win32
{
namespace
{

Message FromMsg(const MSG& msg)
{
    Message m;
    m.window = ToId(msg.hwnd);
    m.message = msg.message;
    m.wParam = msg.wParam;
    m.lParam = msg.lParam;
    m.time = GetTime(); // the program's clock, not the system's tick count that msg.time holds
    m.point = {msg.pt.x, msg.pt.y};
    return m;
}

MSG ToMsg(const Message& m)
{
    MSG msg{};
    msg.hwnd = ToHwnd(m.window);
    msg.message = m.message;
    msg.wParam = m.wParam;
    msg.lParam = m.lParam;
    msg.time = GetMessageTime();
    msg.pt = {m.point.x, m.point.y};
    return msg;
}

// A quit asked for by another thread goes to a hidden window of the pump's thread, whose procedure
// makes it the queue's own quit there: it still comes after everything posted before it, and a modal
// loop (a message box, a menu) that dispatches it loses nothing.
bool IsQuitRequest(const MSG& msg)
{
    return msg.hwnd && msg.hwnd == State().quitRelay && msg.message == _QUIT_REQUEST;
}

// --- Message boxes ----------------------------------------------------------------------------------

struct BoxContext
{
    _dword type = 0;
    HWND box = nullptr;
    WNDPROC proc = nullptr;
    int answer = 0; // the button that ended the box, 0 while open
};

std::vector<BoxContext*>& Boxes()
{
    static std::vector<BoxContext*> boxes;
    return boxes;
}

BoxContext* ContextOf(HWND box)
{
    for (BoxContext* context : Boxes())
        if (context->box == box)
            return context;
    return nullptr;
}

bool IsBoxButton(_dword type, int id)
{
    switch (type & 0x0F)
    {
    case _MB_OK:
        return id == _IDOK;
    case _MB_OKCANCEL:
        return id == _IDOK || id == _IDCANCEL;
    case _MB_YESNO:
        return id == _IDYES || id == _IDNO;
    case _MB_YESNOCANCEL:
        return id == _IDYES || id == _IDNO || id == _IDCANCEL;
    default:
        return id == _IDOK || id == _IDCANCEL;
    }
}

// The box answers only its own buttons: a command for a button it lacks is ignored, and closing it
// answers Cancel (OK when that is its only button); a Yes/No box cannot be closed.
LRESULT CALLBACK BoxProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    BoxContext* context = ContextOf(hwnd);
    if (!context)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    WNDPROC proc = context->proc;
    if (message == WM_COMMAND && HIWORD(wParam) <= 1)
    {
        int id = LOWORD(wParam);
        if (!IsBoxButton(context->type, id))
            return 0;
        context->answer = id;
    }
    else if (message == WM_CLOSE)
    {
        _dword buttons = context->type & 0x0F;
        if (buttons == _MB_YESNO)
            return 0;
        int id = buttons == _MB_OK ? _IDOK : _IDCANCEL;
        context->answer = id;
        return CallWindowProcW(proc, hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    }
    else if (message == WM_NCDESTROY)
    {
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc));
        context->box = nullptr;
    }
    return CallWindowProcW(proc, hwnd, message, wParam, lParam);
}

HHOOK gBoxHook = nullptr;

LRESULT CALLBACK BoxHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND && !Boxes().empty() && !Boxes().back()->box)
    {
        HWND hwnd = reinterpret_cast<HWND>(wParam);
        wchar_t name[16] = {};
        GetClassNameW(hwnd, name, 16);
        if (lstrcmpW(name, L"#32770") == 0)
        {
            BoxContext* context = Boxes().back();
            context->box = hwnd;
            context->proc = reinterpret_cast<WNDPROC>(
                SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&BoxProc)));
        }
    }
    return CallNextHookEx(gBoxHook, code, wParam, lParam);
}

// Extended keys need their flag, or they arrive as their number-pad twins.
bool IsExtendedKey(_dword key)
{
    switch (key)
    {
    case _VK_PRIOR:
    case _VK_NEXT:
    case _VK_END:
    case _VK_HOME:
    case _VK_LEFT:
    case _VK_UP:
    case _VK_RIGHT:
    case _VK_DOWN:
    case _VK_INSERT:
    case _VK_DELETE:
    case _VK_DIVIDE:
    case _VK_NUMLOCK:
    case _VK_LWIN:
    case _VK_RWIN:
    case _VK_APPS:
    case _VK_SNAPSHOT:
        return true;
    default:
        return false;
    }
}

} // namespace
} // namespace Vexel::Ui::Win32

namespace Vexel::Ui
{
using namespace Win32;

bool PostUiMessage(WindowId window, _dword message, WParam wParam, LParam lParam)
{
    auto& state = State();
    if (!state.initialised)
        return false;
    if (window == 0)
        return PostThreadMessageW(state.thread, message, wParam, lParam) != FALSE;
    if (!IsUiWindow(window))
        return false;
    return PostMessageW(ToHwnd(window), message, wParam, lParam) != FALSE;
}

LResult SendUiMessage(WindowId window, _dword message, WParam wParam, LParam lParam)
{
    if (!IsUiWindow(window))
        return 0;
    return SendMessageW(ToHwnd(window), message, wParam, lParam);
}

void PostQuit(int exitCode)
{
    auto& state = State();
    if (!state.initialised)
        return;
    if (GetCurrentThreadId() == state.thread)
        PostQuitMessage(exitCode);
    else
        PostMessageW(state.quitRelay, _QUIT_REQUEST, static_cast<WPARAM>(exitCode), 0);
}

bool PeekUiMessage(Message& message, bool remove)
{
    if (!State().initialised)
        return false;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, remove ? PM_REMOVE : PM_NOREMOVE))
    {
        if (IsQuitRequest(msg))
        {
            if (!remove)
                PeekMessageW(&msg, msg.hwnd, _QUIT_REQUEST, _QUIT_REQUEST, PM_REMOVE);
            DispatchMessageW(&msg);
            continue;
        }
        message = FromMsg(msg);
        return true;
    }
    return false;
}

bool WaitUiMessage(_dword timeoutMs)
{
    if (!State().initialised)
        return false;
    DWORD result =
        MsgWaitForMultipleObjectsEx(0, nullptr, timeoutMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE | MWMO_ALERTABLE);
    return result == WAIT_OBJECT_0;
}

bool GetUiMessage(Message& message)
{
    if (!State().initialised)
        return false;
    MSG msg;
    for (;;)
    {
        BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == -1)
            return false;
        if (got && IsQuitRequest(msg))
        {
            DispatchMessageW(&msg);
            continue;
        }
        message = FromMsg(msg);
        return got != 0;
    }
}

bool TranslateUiMessage(const Message& message)
{
    if (message.message != _WM_KEYDOWN && message.message != _WM_SYSKEYDOWN)
        return false;
    MSG msg = ToMsg(message);
    // The system answers true for every key it looks at; whether a character came is in the queue.
    if (!TranslateMessage(&msg))
        return false;
    MSG character;
    UINT first = message.message == _WM_SYSKEYDOWN ? WM_SYSCHAR : WM_CHAR;
    return PeekMessageW(&character, msg.hwnd, first, first, PM_NOREMOVE) != FALSE ||
           PeekMessageW(&character, msg.hwnd, WM_DEADCHAR, WM_DEADCHAR, PM_NOREMOVE) != FALSE;
}

LResult DispatchUiMessage(const Message& message)
{
    if (message.window == 0 || !IsUiWindow(message.window))
        return 0;
    MSG msg = ToMsg(message);
    return DispatchMessageW(&msg);
}

bool SetUiTimer(WindowId window, _dword timerId, _dword intervalMs)
{
    if (!IsUiWindow(window))
        return false;
    return SetTimer(ToHwnd(window), timerId, std::max<_dword>(intervalMs, USER_TIMER_MINIMUM), nullptr) != 0;
}

bool KillUiTimer(WindowId window, _dword timerId)
{
    if (!IsUiWindow(window))
        return false;
    return KillTimer(ToHwnd(window), timerId) != FALSE;
}

bool InjectMouseMove(int screenX, int screenY)
{
    int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    int width = std::max(GetSystemMetrics(SM_CXVIRTUALSCREEN), 1);
    int height = std::max(GetSystemMetrics(SM_CYVIRTUALSCREEN), 1);
    INPUT input{};
    input.type = INPUT_MOUSE;
    // Absolute positions are in 1/65536 of the desktop; rounding up lands on the pixel itself.
    input.mi.dx = static_cast<LONG>(((static_cast<long long>(screenX - left) << 16) + width - 1) / width);
    input.mi.dy = static_cast<LONG>(((static_cast<long long>(screenY - top) << 16) + height - 1) / height);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK;
    if (SendInput(1, &input, sizeof(input)) != 1)
        return false;
    POINT p;
    if (GetCursorPos(&p) && (p.x != screenX || p.y != screenY))
        SetCursorPos(screenX, screenY);
    return true;
}

bool InjectMouseButton(int button, bool down)
{
    INPUT input{};
    input.type = INPUT_MOUSE;
    switch (button)
    {
    case 1:
        input.mi.dwFlags = down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
        break;
    case 2:
        input.mi.dwFlags = down ? MOUSEEVENTF_MIDDLEDOWN : MOUSEEVENTF_MIDDLEUP;
        break;
    case 3:
        input.mi.dwFlags = down ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_RIGHTUP;
        break;
    default:
        return false;
    }
    return SendInput(1, &input, sizeof(input)) == 1;
}

bool InjectKey(_dword virtualKey, bool down)
{
    if (virtualKey == 0 || virtualKey > 0xFE)
        return false;
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = static_cast<WORD>(virtualKey);
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = (down ? 0 : KEYEVENTF_KEYUP) | (IsExtendedKey(virtualKey) ? KEYEVENTF_EXTENDEDKEY : 0);
    return SendInput(1, &input, sizeof(input)) == 1;
}

int ShowMessageBox(WindowId owner, const String& text, const String& caption, _dword type)
{
    if (!InitUi())
        return 0;
    HWND ownerHwnd = owner && IsUiWindow(owner) ? ToHwnd(owner) : nullptr;
    BoxContext context;
    context.type = type;
    Boxes().push_back(&context);
    if (!gBoxHook)
        gBoxHook = SetWindowsHookExW(WH_CBT, &BoxHook, nullptr, GetCurrentThreadId());
    int result = MessageBoxW(ownerHwnd, W(text), W(caption), type | MB_SETFOREGROUND);
    Boxes().erase(std::find(Boxes().begin(), Boxes().end(), &context));
    if (Boxes().empty() && gBoxHook)
    {
        UnhookWindowsHookEx(gBoxHook);
        gBoxHook = nullptr;
    }
    if (context.box && IsWindow(context.box))
    {
        SetWindowLongPtrW(context.box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(context.proc));
        DestroyWindow(context.box);
    }
    // Ended without a button (a quit came): no answer. The quit stays queued for the caller's loop.
    if (context.answer == 0 || result == 0)
        return 0;
    return context.answer;
}

} // namespace Vexel::Ui
