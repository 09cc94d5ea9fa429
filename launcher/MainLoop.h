// The launcher's main loop: one stage per pass (a web page in the game frame, the frame with its web
// windows, or the loader started directly), then the game stage, then the reset. Also the one message
// pump of the program, the main page's events, navigation of the main page and the exit question.
#pragma once

#include "LauncherState.h"

#include <functional>

namespace Vexel
{

struct WebWindow;

// The clocks the loop's rules depend on: the millisecond tick (idle intervals, the game-parameter
// time-out) and the idle sleep, which may end early when input arrives. Tests put their own in.
struct LoopClock
{
    std::function<_dword()> mNow;
    std::function<void(_dword ms)> mSleep;
};
void SetLoopClock(LoopClock clock); // empty members fall back to the real ones
_dword LoopNow();

// Idle function: milliseconds since the previous idle call; false stops the pump.
using IdleFunction = std::function<bool(_dword elapsed)>;

// Takes and dispatches messages until _WM_QUIT; between them calls the idle function and sleeps 200 ms
// while the window is minimised, 20 ms while it is not the foreground window, 10 ms when busy, else 0.
// True when it ended by _WM_QUIT.
bool PumpMessages(Ui::WindowId window, const IdleFunction& idle, bool busy);
// The sleep the pump takes after an idle turn for that window.
_dword PumpSleep(Ui::WindowId window, bool busy);

// Ends the current pass: the running pump returns.
void EndPass();

void RunMainLoop(LauncherState& state);

// The stages and the reset, one pass each (the loop runs them in order).
void RunWebStage(LauncherState& state);
void RunFrameStage(LauncherState& state);
void RunLoaderStage(LauncherState& state);
void RunGameStage(LauncherState& state);
void ResetPass(LauncherState& state);

// The game frame, made on first need with its menus, tray icon and the boss hot key.
bool EnsureGameFrame(LauncherState& state);

// The web idle function: the loader choice while the game parameters are awaited.
bool WebIdle(LauncherState& state, _dword elapsed);
// The game loop idle.
bool GameIdle(LauncherState& state, _dword elapsed);

// Navigates the main page to url in a fresh browser; a frame URL switches to the frame stage.
void SwitchLocation(LauncherState& state, const String& url, int restart);
// The exit decision: true when the program is to leave the pass for good.
bool AskExit(LauncherState& state, Ui::WindowId owner, const String& exitUrl);

// The main page events: load start, document complete and navigation complete.
void SetMainPageCallbacks(LauncherState& state, WebWindow& web);

// True when text begins with (prefix) or contains (anywhere) a non-empty entry of the list.
bool StartsWithAny(const String& text, const std::vector<String>& list);
bool ContainsAny(const String& text, const std::vector<String>& list);

// The number after "name" ("w=", "h=") followed by word characters; 0 when there is none.
int ReadSizeValue(const String& url, const String& name);

} // namespace Vexel
