// The program's one message pump: takes and dispatches window messages, calling an idle function between
// them and sleeping by the state of the window it serves; the clock its rules use; ending the running
// pump. The stages of the main loop, the install and upgrade steps and their progress windows all pump
// here.
#pragma once

#include "Base/LauncherMessages.h"

#include "Platform/Ui/Ui.h"

#include <functional>

namespace Vexel
{

// The clocks the pump's rules depend on: the millisecond tick (idle intervals, the game-parameter
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
// Without an idle function there is nothing to do between messages: it waits for the next one instead
// of waking on those intervals. True when it ended by _WM_QUIT.
bool PumpMessages(Ui::WindowId window, const IdleFunction& idle, bool busy);
// The sleep the pump takes after an idle turn for that window.
_dword PumpSleep(Ui::WindowId window, bool busy);

// Ends the current pass: the running pump returns.
void EndPass();

} // namespace Vexel
