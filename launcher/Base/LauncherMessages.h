// The launcher's vocabulary: every private window message its windows, pages, scripts and the game module
// exchange, the menu and title-bar command ids, the frame slots and the frame style flags. One name per
// number; the numbers are fixed (game modules, pages and scripts use them), so a number never changes here.
// Messages the window-system layer defines are named here through it, so that sender and handler spell
// them alike.
#pragma once

#include "Common/String.h"
#include "Platform/Ui/UiConstants.h"
#include "Platform/Ui/WebView.h"

#include <vector>

namespace Vexel
{

// --- Private window messages ------------------------------------------------------------------------
// A named command from a page (passed on by its web window), a script or the game module; the loader host
// sends "pluginok" to the game window with it when it starts.
constexpr _dword _WM_INVOKE = 0x43E; // wParam: const char16_t* command, lParam: const InvokeArgs* (may be 0)
// The notification-area icon's callback (the layer's default one).
using Ui::_WM_TRAYICON;                     // 0x442; wParam: icon id, lParam: mouse message
constexpr _dword _WM_GAME_REFRESH = 0x443;  // to the game: wParam 1, lParam 0
constexpr _dword _WM_EXIT_NOTICE = 0x444;   // exit now
constexpr _dword _WM_SERVER_CHOICE = 0x464; // wParam: frame slot, lParam: combo box id
constexpr _dword _WM_LOGOFF = 0x465;        // log off
constexpr _dword _WM_BOSS_SETTINGS = 0x466; // wParam: frame slot, lParam: hot-key box id | check box id << 16
constexpr _dword _WM_PROMPT_CONFIRMED = 0x467; // wParam: frame slot of the prompt
constexpr _dword _WM_HIDE_SLOT = 0x468;        // wParam: frame slot
constexpr _dword _WM_RUN_SETUP = 0x469;        // the set-up window's button
// From a page through its web window to the window that hosts it (the game frame handles them).
// 0x4C8: the page has news; the messages entry blinks.
using Ui::_WM_WEB_NEWMSG;
// 0x4C9: wParam, the game server's name (text).
using Ui::_WM_WEB_GSNAME;
// 0x4CA: wParam, a text for the trace log.
using Ui::_WM_WEB_CONSOLEMSG;
// A top-level web window was hidden by a close request, or restored from minimised (wParam: the close
// request's wParam, or SC_RESTORE); the game frame stops the messages entry blinking.
constexpr _dword _WM_WEB_HIDDEN = 0x4CB;
// 0x4CE: from the web view; the web window passes it on as _WM_INVOKE.
using Ui::_WM_WEB_INVOKE;
constexpr _dword _WM_OPEN_CLIENT_PAGE = 0x501; // wParam: record {int, int, text, text}

static_assert(_WM_TRAYICON == 0x442 && _WM_WEB_NEWMSG == 0x4C8 && _WM_WEB_GSNAME == 0x4C9 &&
                  _WM_WEB_CONSOLEMSG == 0x4CA && _WM_WEB_INVOKE == 0x4CE,
              "the layer's numbers are part of the launcher's vocabulary");

// The argument list of a named command (_WM_INVOKE's lParam).
using InvokeArgs = std::vector<String>;

// --- Menu and title-bar command ids -----------------------------------------------------------------
// Ids 1 to 999 are the operator's menu pages; 0 with an address opens it in the system's browser.
constexpr _dword _CMD_GAME = 1000;
constexpr _dword _CMD_REFRESH = 1001;
constexpr _dword _CMD_SHORTCUT = 1002;
constexpr _dword _CMD_CLEAR = 1003;
constexpr _dword _CMD_CLOSE = 1007;
constexpr _dword _CMD_MAXIMIZE = 1008;
constexpr _dword _CMD_RESTORE = 1009;
constexpr _dword _CMD_MINIMIZE = 1010;
constexpr _dword _CMD_TRAY = 1011;
constexpr _dword _CMD_IM = 1012;
constexpr _dword _CMD_CUSTOM = 1013; // the scripts' own entry: no handler, hidden with the others at a reset
constexpr _dword _CMD_DROPDOWN = 1014;
constexpr _dword _CMD_USER = 1015;
constexpr _dword _CMD_BOSS = 1017;

// --- Frame slots --------------------------------------------------------------------------------------
constexpr int _FRAME_SLOTS = 7;
constexpr int _FRAME_MAIN = 0;
constexpr int _FRAME_PROMPT = 3;
constexpr int _FRAME_PROGRESS = 6;

// --- Frame style flags (setFrameStyle) ----------------------------------------------------------------
constexpr _dword _FRAME_CAPTION = 0x1;
constexpr _dword _FRAME_CHILD = 0x2;
constexpr _dword _FRAME_APPWINDOW = 0x4;
constexpr _dword _FRAME_TOPMOST = 0x8;
constexpr _dword _FRAME_SYSBUTTON = 0x10;
constexpr _dword _FRAME_MAXBUTTON = 0x20;
constexpr _dword _FRAME_MINBUTTON = 0x40;
constexpr _dword _FRAME_FIXEDSIZE = 0x80;
constexpr _dword _FRAME_MAXIMIZED = 0x100;

} // namespace Vexel
