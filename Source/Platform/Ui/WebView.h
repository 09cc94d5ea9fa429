// A web browser inside a window. The browser fills the window's client area and tells the window what
// the page does by sending it messages (synchronously, from inside the pump):
//
//   _WM_WEB_BEFORENAVIGATE (1274)   a navigation of the page starts      wParam: address (const char16_t*)
//   _WM_WEB_NAVIGATECOMPLETE (1276) the navigation is committed          wParam: address
//   _WM_WEB_DOCUMENTCOMPLETE (1283) the document has finished loading    wParam: address
//   _WM_WEB_NAVIGATEERROR (1295)    the page could not be visited        wParam: address, lParam: the HTTP
//                                                                        status (400 and up), or 0
//   _WM_WEB_SCRIPTSTART (1314)      the page starts to run script        wParam: address
//   _WM_WEB_NEWMSG (1224)           page script called external.getNewMsg()        wParam 0, lParam 0
//   _WM_WEB_GSNAME (1225)           page script called external.getGsName(name)    wParam: name, lParam 1
//   _WM_WEB_CONSOLEMSG (1226)       page script called external.consoleMsg(text)   wParam: text, lParam 0
//   _WM_WEB_INVOKE (1230)           page script called external.invoke(name, args) wParam: name,
//                                   lParam: the arguments (const std::vector<String>*), each as text
//
// Texts passed in wParam are valid only while the message is handled. Events concern the page itself,
// not its frames. Page script sees an `external` object with `ismc()` (true), `getNewMsg()`,
// `getGsName(name)`, `consoleMsg(text)` and `invoke(name, [arguments])` (a named command) only in documents
// whose origin (scheme, host and port) is one the program navigated to or allowed; frames from elsewhere get
// no such object and cannot raise these messages. Backspace, Left and Right do nothing in a page outside
// editable fields.
#pragma once

#include "Common/String.h"
#include "Platform/Ui/Ui.h"

#include <vector>

namespace Vexel::Ui
{

// Page script called external.invoke(name, arguments): a named command for the program.
constexpr _dword _WM_WEB_INVOKE = 1230;

// Where every web view keeps its cookies, storage and cache (one store for the program). Call once,
// before the first web view; without it the store lives only in memory.
bool InitWebViews(const String& dataFolder);

// Puts a browser into the window. False when the window already has one or the browser cannot start.
bool NewWebView(WindowId window);
bool HasWebView(WindowId window);
// Closes the window's browser (destroying the window does it too).
bool DestroyWebView(WindowId window);

// 0 when the navigation started, -1 when the window has no browser, -5 when the address is not one the
// browser can load.
int WebNavigate(WindowId window, const String& url);
bool WebRefresh(WindowId window);
bool WebStop(WindowId window);
// The page's address (at most 1,024 characters), empty without a browser or page.
String WebCurrentUrl(WindowId window);
// 0 nothing loaded, 1 loading, 3 interactive (the document is coming in), 4 complete.
int WebReadyState(WindowId window);
bool WebIsDocumentReady(WindowId window);

// The browser options, each on at start:
//   's' scroll bars: off hides the page's scroll bars;
//   'a' active content: kept for the program (this browser runs no plug-ins either way);
//   'm' page messages: off suppresses the page's alert, confirm and prompt boxes;
//   'c' context menu: off suppresses the browser's context menu.
// Other letters are ignored (false).
bool WebSetOption(WindowId window, char16_t letter, bool on);
bool WebGetOption(WindowId window, char16_t letter);

// Lets documents of the address's origin use `external` (navigating there does it already).
bool WebAllowOrigin(WindowId window, const String& url);

struct NamedValue
{
    String name;
    String value;
};
// The (name, value) attribute pairs of every element with the tag in the document and in up to five of
// its frames (those of the page's own origin), in document order; elements lacking either attribute are
// left out and each text is cut to 8,192 characters. Empty when there is no document.
std::vector<NamedValue> WebReadNamedValues(WindowId window, const String& tag);

// The cookies the browser would send to the address, as "name=value; name2=value2".
String WebGetCookies(const String& url);

// Keystrokes reach the page directly on this platform; the pump may still offer key-downs here.
bool WebTranslateKey(const Message& message);

} // namespace Vexel::Ui
