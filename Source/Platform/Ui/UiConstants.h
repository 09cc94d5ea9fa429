// Numbers of the window-system layer: window messages, styles, show commands, hit-test codes, key codes,
// message-box flags and the like. They keep the values Windows gives them, because the launcher's
// scripts, its pages and the loader module speak in those numbers; the names are the layer's own so that
// they never collide with the macros of the Windows headers.
#pragma once

#include "Common/String.h"

namespace Vexel::Ui
{

// --- Window messages --------------------------------------------------------------------------------
constexpr _dword _WM_NULL = 0x0000;
constexpr _dword _WM_CREATE = 0x0001;
constexpr _dword _WM_DESTROY = 0x0002;
constexpr _dword _WM_MOVE = 0x0003;
constexpr _dword _WM_SIZE = 0x0005;
constexpr _dword _WM_ACTIVATE = 0x0006;
constexpr _dword _WM_SETFOCUS = 0x0007;
constexpr _dword _WM_KILLFOCUS = 0x0008;
constexpr _dword _WM_ENABLE = 0x000A;
constexpr _dword _WM_SETTEXT = 0x000C;
constexpr _dword _WM_PAINT = 0x000F;
constexpr _dword _WM_CLOSE = 0x0010;
constexpr _dword _WM_QUIT = 0x0012;
constexpr _dword _WM_ERASEBKGND = 0x0014;
constexpr _dword _WM_SHOWWINDOW = 0x0018;
constexpr _dword _WM_SETCURSOR = 0x0020;
constexpr _dword _WM_MOUSEACTIVATE = 0x0021;
constexpr _dword _WM_GETMINMAXINFO = 0x0024;
constexpr _dword _WM_WINDOWPOSCHANGED = 0x0047;
constexpr _dword _WM_NCDESTROY = 0x0082;
constexpr _dword _WM_NCCALCSIZE = 0x0083;
constexpr _dword _WM_NCHITTEST = 0x0084;
constexpr _dword _WM_NCPAINT = 0x0085;
constexpr _dword _WM_NCACTIVATE = 0x0086;
constexpr _dword _WM_NCMOUSEMOVE = 0x00A0;
constexpr _dword _WM_NCLBUTTONDOWN = 0x00A1;
constexpr _dword _WM_NCLBUTTONUP = 0x00A2;
constexpr _dword _WM_NCLBUTTONDBLCLK = 0x00A3;
constexpr _dword _WM_NCRBUTTONDOWN = 0x00A4;
constexpr _dword _WM_NCRBUTTONUP = 0x00A5;
constexpr _dword _WM_NCRBUTTONDBLCLK = 0x00A6;
constexpr _dword _WM_NCMBUTTONDOWN = 0x00A7;
constexpr _dword _WM_NCMBUTTONUP = 0x00A8;
constexpr _dword _WM_NCMBUTTONDBLCLK = 0x00A9;
constexpr _dword _WM_KEYDOWN = 0x0100;
constexpr _dword _WM_KEYUP = 0x0101;
constexpr _dword _WM_CHAR = 0x0102;
constexpr _dword _WM_SYSKEYDOWN = 0x0104;
constexpr _dword _WM_SYSKEYUP = 0x0105;
constexpr _dword _WM_SYSCHAR = 0x0106;
constexpr _dword _WM_COMMAND = 0x0111;
constexpr _dword _WM_SYSCOMMAND = 0x0112;
constexpr _dword _WM_TIMER = 0x0113;
constexpr _dword _WM_MOUSEMOVE = 0x0200;
constexpr _dword _WM_LBUTTONDOWN = 0x0201;
constexpr _dword _WM_LBUTTONUP = 0x0202;
constexpr _dword _WM_LBUTTONDBLCLK = 0x0203;
constexpr _dword _WM_RBUTTONDOWN = 0x0204;
constexpr _dword _WM_RBUTTONUP = 0x0205;
constexpr _dword _WM_RBUTTONDBLCLK = 0x0206;
constexpr _dword _WM_MBUTTONDOWN = 0x0207;
constexpr _dword _WM_MBUTTONUP = 0x0208;
constexpr _dword _WM_MBUTTONDBLCLK = 0x0209;
constexpr _dword _WM_MOUSEWHEEL = 0x020A;
constexpr _dword _WM_CANCELMODE = 0x001F;
constexpr _dword _WM_NCMOUSELEAVE = 0x02A2;
constexpr _dword _WM_MOUSELEAVE = 0x02A3;
constexpr _dword _WM_HOTKEY = 0x0312;
constexpr _dword _WM_USER = 0x0400;

// Messages the web view sends to the window that hosts it (wParam and lParam in WebView.h).
constexpr _dword _WM_WEB_NEWMSG = 1224;           // page called external.getNewMsg()
constexpr _dword _WM_WEB_GSNAME = 1225;           // page called external.getGsName(name)
constexpr _dword _WM_WEB_CONSOLEMSG = 1226;       // page called external.consoleMsg(text)
constexpr _dword _WM_WEB_BEFORENAVIGATE = 1274;   // a new navigation starts
constexpr _dword _WM_WEB_NAVIGATECOMPLETE = 1276; // the navigation is committed
constexpr _dword _WM_WEB_DOCUMENTCOMPLETE = 1283; // the document has finished loading
constexpr _dword _WM_WEB_NAVIGATEERROR = 1295;    // the page could not be visited
constexpr _dword _WM_WEB_SCRIPTSTART = 1314;      // the page starts to run script (it has content)

// Callback message of the notification-area icon by default.
constexpr _dword _WM_TRAYICON = _WM_USER + 0x42;

// --- Message parameters -----------------------------------------------------------------------------
constexpr _dword _WA_INACTIVE = 0;
constexpr _dword _WA_ACTIVE = 1;
constexpr _dword _WA_CLICKACTIVE = 2;

constexpr _dword _SIZE_RESTORED = 0;
constexpr _dword _SIZE_MINIMIZED = 1;
constexpr _dword _SIZE_MAXIMIZED = 2;

constexpr _dword _SC_SIZE = 0xF000;
constexpr _dword _SC_MOVE = 0xF010;
constexpr _dword _SC_MINIMIZE = 0xF020;
constexpr _dword _SC_MAXIMIZE = 0xF030;
constexpr _dword _SC_CLOSE = 0xF060;
constexpr _dword _SC_RESTORE = 0xF120;

// Mouse key state in wParam of mouse messages.
constexpr _dword _MK_LBUTTON = 0x0001;
constexpr _dword _MK_RBUTTON = 0x0002;
constexpr _dword _MK_SHIFT = 0x0004;
constexpr _dword _MK_CONTROL = 0x0008;
constexpr _dword _MK_MBUTTON = 0x0010;

constexpr int _WHEEL_DELTA = 120;

// Hit-test results (answers to _WM_NCHITTEST).
constexpr int _HTERROR = -2;
constexpr int _HTTRANSPARENT = -1;
constexpr int _HTNOWHERE = 0;
constexpr int _HTCLIENT = 1;
constexpr int _HTCAPTION = 2;
constexpr int _HTSYSMENU = 3;
constexpr int _HTMENU = 5;
constexpr int _HTMINBUTTON = 8;
constexpr int _HTMAXBUTTON = 9;
constexpr int _HTLEFT = 10;
constexpr int _HTRIGHT = 11;
constexpr int _HTTOP = 12;
constexpr int _HTTOPLEFT = 13;
constexpr int _HTTOPRIGHT = 14;
constexpr int _HTBOTTOM = 15;
constexpr int _HTBOTTOMLEFT = 16;
constexpr int _HTBOTTOMRIGHT = 17;
constexpr int _HTBORDER = 18;
constexpr int _HTCLOSE = 20;

// --- Window styles ----------------------------------------------------------------------------------
constexpr _dword _WS_OVERLAPPED = 0x00000000;
constexpr _dword _WS_POPUP = 0x80000000;
constexpr _dword _WS_CHILD = 0x40000000;
constexpr _dword _WS_MINIMIZE = 0x20000000;
constexpr _dword _WS_VISIBLE = 0x10000000;
constexpr _dword _WS_DISABLED = 0x08000000;
constexpr _dword _WS_CLIPSIBLINGS = 0x04000000;
constexpr _dword _WS_CLIPCHILDREN = 0x02000000;
constexpr _dword _WS_MAXIMIZE = 0x01000000;
constexpr _dword _WS_CAPTION = 0x00C00000;
constexpr _dword _WS_BORDER = 0x00800000;
constexpr _dword _WS_DLGFRAME = 0x00400000;
constexpr _dword _WS_VSCROLL = 0x00200000;
constexpr _dword _WS_HSCROLL = 0x00100000;
constexpr _dword _WS_SYSMENU = 0x00080000;
constexpr _dword _WS_THICKFRAME = 0x00040000;
constexpr _dword _WS_MINIMIZEBOX = 0x00020000;
constexpr _dword _WS_MAXIMIZEBOX = 0x00010000;

constexpr _dword _WS_EX_TOPMOST = 0x00000008;
constexpr _dword _WS_EX_TRANSPARENT = 0x00000020;
constexpr _dword _WS_EX_TOOLWINDOW = 0x00000080;
constexpr _dword _WS_EX_CLIENTEDGE = 0x00000200;
constexpr _dword _WS_EX_APPWINDOW = 0x00040000;
constexpr _dword _WS_EX_LAYERED = 0x00080000;

// --- Show commands ----------------------------------------------------------------------------------
constexpr int _SW_HIDE = 0;
constexpr int _SW_SHOWNORMAL = 1;
constexpr int _SW_SHOWMINIMIZED = 2;
constexpr int _SW_SHOWMAXIMIZED = 3;
constexpr int _SW_MAXIMIZE = 3;
constexpr int _SW_SHOWNOACTIVATE = 4;
constexpr int _SW_SHOW = 5;
constexpr int _SW_MINIMIZE = 6;
constexpr int _SW_SHOWMINNOACTIVE = 7;
constexpr int _SW_SHOWNA = 8;
constexpr int _SW_RESTORE = 9;

// --- Cursors ----------------------------------------------------------------------------------------
constexpr _dword _IDC_ARROW = 32512;
constexpr _dword _IDC_HAND = 32649;

// --- Text drawing format (Canvas::DrawString, MeasureString) ----------------------------------------
constexpr _dword _DT_LEFT = 0x0000;
constexpr _dword _DT_CENTER = 0x0001;
constexpr _dword _DT_RIGHT = 0x0002;
constexpr _dword _DT_TOP = 0x0000;
constexpr _dword _DT_VCENTER = 0x0004;
constexpr _dword _DT_BOTTOM = 0x0008;
constexpr _dword _DT_WORDBREAK = 0x0010;
constexpr _dword _DT_SINGLELINE = 0x0020;
constexpr _dword _DT_NOCLIP = 0x0100;
constexpr _dword _DT_END_ELLIPSIS = 0x8000;

// --- Message boxes ----------------------------------------------------------------------------------
constexpr _dword _MB_OK = 0x00;
constexpr _dword _MB_OKCANCEL = 0x01;
constexpr _dword _MB_YESNOCANCEL = 0x03;
constexpr _dword _MB_YESNO = 0x04;
constexpr _dword _MB_ICONERROR = 0x10;
constexpr _dword _MB_ICONQUESTION = 0x20;
constexpr _dword _MB_ICONWARNING = 0x30;
constexpr _dword _MB_ICONINFORMATION = 0x40;
constexpr _dword _MB_DEFBUTTON2 = 0x100;

constexpr int _IDOK = 1;
constexpr int _IDCANCEL = 2;
constexpr int _IDYES = 6;
constexpr int _IDNO = 7;

// --- Menus ------------------------------------------------------------------------------------------
constexpr _dword _MF_STRING = 0x0000;
constexpr _dword _MF_GRAYED = 0x0001;
constexpr _dword _MF_CHECKED = 0x0008;
constexpr _dword _MF_SEPARATOR = 0x0800;
constexpr _dword _MF_RIGHTJUSTIFY = 0x4000;

// --- Controls ---------------------------------------------------------------------------------------
// Notification codes in the high word of wParam of _WM_COMMAND sent by controls to their parent.
constexpr _dword _BN_CLICKED = 0;
constexpr _dword _CBN_SELCHANGE = 1;
// The user ended a choice in the list with an item, the one already chosen included.
constexpr _dword _CBN_SELENDOK = 9;
constexpr _dword _EN_CHANGE = 0x0300;

// Modifier flags of a hot-key box value (bits 8-15), and of a global hot key registration.
constexpr _dword _HOTKEYF_SHIFT = 0x01;
constexpr _dword _HOTKEYF_CONTROL = 0x02;
constexpr _dword _HOTKEYF_ALT = 0x04;
constexpr _dword _HOTKEYF_EXT = 0x08;

constexpr _dword _MOD_ALT = 0x0001;
constexpr _dword _MOD_CONTROL = 0x0002;
constexpr _dword _MOD_SHIFT = 0x0004;
constexpr _dword _MOD_WIN = 0x0008;

// --- Virtual-key codes ------------------------------------------------------------------------------
// Letters and digits use their upper-case ASCII codes ('A' = 0x41, '0' = 0x30).
constexpr _dword _VK_LBUTTON = 0x01;
constexpr _dword _VK_RBUTTON = 0x02;
constexpr _dword _VK_MBUTTON = 0x04;
constexpr _dword _VK_BACK = 0x08;
constexpr _dword _VK_TAB = 0x09;
constexpr _dword _VK_RETURN = 0x0D;
constexpr _dword _VK_SHIFT = 0x10;
constexpr _dword _VK_CONTROL = 0x11;
constexpr _dword _VK_MENU = 0x12;
constexpr _dword _VK_PAUSE = 0x13;
constexpr _dword _VK_CAPITAL = 0x14;
constexpr _dword _VK_ESCAPE = 0x1B;
constexpr _dword _VK_SPACE = 0x20;
constexpr _dword _VK_PRIOR = 0x21;
constexpr _dword _VK_NEXT = 0x22;
constexpr _dword _VK_END = 0x23;
constexpr _dword _VK_HOME = 0x24;
constexpr _dword _VK_LEFT = 0x25;
constexpr _dword _VK_UP = 0x26;
constexpr _dword _VK_RIGHT = 0x27;
constexpr _dword _VK_DOWN = 0x28;
constexpr _dword _VK_SNAPSHOT = 0x2C;
constexpr _dword _VK_INSERT = 0x2D;
constexpr _dword _VK_DELETE = 0x2E;
constexpr _dword _VK_LWIN = 0x5B;
constexpr _dword _VK_RWIN = 0x5C;
constexpr _dword _VK_APPS = 0x5D;
constexpr _dword _VK_NUMPAD0 = 0x60;
constexpr _dword _VK_MULTIPLY = 0x6A;
constexpr _dword _VK_ADD = 0x6B;
constexpr _dword _VK_SUBTRACT = 0x6D;
constexpr _dword _VK_DECIMAL = 0x6E;
constexpr _dword _VK_DIVIDE = 0x6F;
constexpr _dword _VK_F1 = 0x70;
constexpr _dword _VK_F24 = 0x87;
constexpr _dword _VK_NUMLOCK = 0x90;
constexpr _dword _VK_SCROLL = 0x91;
constexpr _dword _VK_OEM_1 = 0xBA;      // ;:
constexpr _dword _VK_OEM_PLUS = 0xBB;   // =+
constexpr _dword _VK_OEM_COMMA = 0xBC;  // ,<
constexpr _dword _VK_OEM_MINUS = 0xBD;  // -_
constexpr _dword _VK_OEM_PERIOD = 0xBE; // .>
constexpr _dword _VK_OEM_2 = 0xBF;      // /?
constexpr _dword _VK_OEM_3 = 0xC0;      // `~
constexpr _dword _VK_OEM_4 = 0xDB;      // [{
constexpr _dword _VK_OEM_5 = 0xDC;      // \|
constexpr _dword _VK_OEM_6 = 0xDD;      // ]}
constexpr _dword _VK_OEM_7 = 0xDE;      // '"

} // namespace Vexel::Ui
