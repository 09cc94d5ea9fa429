#include "Services/MessagePump.h"

#include "Frames/WebWindow.h"

#include "Platform/System.h"

namespace Vexel
{

namespace
{
LoopClock gClock;
// The wait of a pump without an idle function: any message, posted one or quit ends it early, so the
// length only bounds how long a lost wake-up could go unnoticed.
constexpr _dword _IDLE_WAIT_MS = 1000;
} // namespace

void SetLoopClock(LoopClock clock)
{
    gClock = std::move(clock);
}

_dword LoopNow()
{
    return gClock.mNow ? gClock.mNow() : GetTime();
}

_dword PumpSleep(Ui::WindowId window, bool busy)
{
    if (Ui::IsUiWindowMinimized(window))
        return 200;
    if (Ui::GetForegroundUiWindow() != Ui::GetTopLevelWindow(window))
        return 20;
    return busy ? 10 : 0;
}

bool PumpMessages(Ui::WindowId window, const IdleFunction& idle, bool busy)
{
    _dword last = LoopNow();
    for (;;)
    {
        Ui::Message message;
        if (Ui::PeekUiMessage(message, true))
        {
            if (message.message == Ui::_WM_QUIT)
                return true;
            if (message.message == Ui::_WM_KEYDOWN && TranslateKey(message))
                continue;
            Ui::TranslateUiMessage(message);
            Ui::DispatchUiMessage(message);
            continue;
        }
        if (idle)
        {
            _dword now = LoopNow();
            bool go = idle(now - last);
            last = now;
            if (!go)
                return false;
        }
        _dword ms = PumpSleep(window, busy);
        if (gClock.mSleep)
            gClock.mSleep(ms);
        else if (!idle)
            Ui::WaitUiMessage(_IDLE_WAIT_MS); // nothing to poll: only a message (or a quit) has work
        else if (ms > 0)
            Ui::WaitUiMessage(ms); // input ends the wait early
    }
}

void EndPass()
{
    Ui::PostQuit(0);
}

} // namespace Vexel
