// Helpers of the window tests (window-system layer and launcher): a display or a clear reason why not,
// a pump that stops by itself, a handler that records what its window receives, region data blocks.
// Header only: only the test programs that link the window-system layer include it.
#pragma once

#include "Platform/Ui/Ui.h"
#include "Platform/Ui/UiCanvas.h"
#include "PrivateDisplay.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace Vexel::Test
{

// Pumps messages until done() holds or the time runs out (a guard against hanging, not a measurement).
inline bool PumpUntil(const std::function<bool()>& done,
                      int timeoutMs = static_cast<int>(_EVENT_TIMEOUT.count()))
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done())
    {
        if (std::chrono::steady_clock::now() > end)
            return false;
        Ui::Message m;
        if (Ui::PeekUiMessage(m, true))
        {
            if (m.message == Ui::_WM_QUIT)
                continue;
            Ui::TranslateUiMessage(m);
            Ui::DispatchUiMessage(m);
        }
        else
            Ui::WaitUiMessage(20);
    }
    return true;
}

// Pumps until everything the window system had to deliver when it was called has been handled, so that
// a test can then say what did not arrive. The pointer query is a request the display server answers
// only after every earlier request (injected input among them), with the events they caused sent ahead
// of the answer; a thread message posted after it comes back once all of those are dispatched.
inline bool PumpPending()
{
    constexpr _dword marker = Ui::_WM_USER + 0x3FF0;
    Ui::Point ignored;
    Ui::GetPointerPosition(ignored);
    if (!Ui::PostUiMessage(0, marker))
        return false;
    auto end = std::chrono::steady_clock::now() + _EVENT_TIMEOUT;
    while (std::chrono::steady_clock::now() <= end)
    {
        Ui::Message m;
        if (!Ui::PeekUiMessage(m, true))
        {
            Ui::WaitUiMessage(20);
            continue;
        }
        if (m.window == 0 && m.message == marker)
            return true;
        if (m.message == Ui::_WM_QUIT)
            continue;
        Ui::TranslateUiMessage(m);
        Ui::DispatchUiMessage(m);
    }
    return false;
}

// Moves the pointer and pumps until the window system reports it there: a button injected next then
// goes to whatever lies under the new position.
inline bool MovePointerTo(int x, int y)
{
    if (!Ui::InjectMouseMove(x, y))
        return false;
    return PumpUntil(
        [&]
        {
            Ui::Point at;
            return Ui::GetPointerPosition(at) && at.x == x && at.y == y;
        });
}

// Pumps until the window is on the screen (its pixels can be read).
inline bool PumpUntilMapped(Ui::WindowId window)
{
    Ui::Canvas shot;
    return PumpUntil([&] { return Ui::CaptureWindowPixels(window, shot); });
}

// A click of the button at the screen point.
inline bool ClickAt(int x, int y, int button = 1)
{
    if (!MovePointerTo(x, y))
        return false;
    return Ui::InjectMouseButton(button, true) && Ui::InjectMouseButton(button, false);
}

// Pumps until the window's pixels on the screen satisfy painted (the picture reached the screen); shot
// holds the last capture.
inline bool PumpUntilPainted(Ui::WindowId window, Ui::Canvas& shot,
                             const std::function<bool(const Ui::Canvas&)>& painted)
{
    return PumpUntil([&] { return Ui::CaptureWindowPixels(window, shot) && painted(shot); });
}

// The same for one pixel of the window.
inline bool PumpUntilPixel(Ui::WindowId window, Ui::Canvas& shot, int x, int y, _dword colour)
{
    return PumpUntilPainted(window, shot,
                            [&](const Ui::Canvas& c)
                            { return x < c.Width() && y < c.Height() && c.GetPixel(x, y) == colour; });
}

struct Received
{
    Ui::WindowId window;
    _dword message;
    Ui::WParam wParam;
    Ui::LParam lParam;
};

class Recorder
{
public:
    Ui::WindowHandler Handler()
    {
        return [this](Ui::WindowId w, _dword m, Ui::WParam wp, Ui::LParam lp) -> Ui::LResult
        {
            mLog.push_back({w, m, wp, lp});
            if (mHook)
            {
                Ui::LResult result = 0;
                if (mHook(w, m, wp, lp, result))
                    return result;
            }
            return Ui::DefaultHandler(w, m, wp, lp);
        };
    }
    // Messages of the given numbers only, in order.
    std::vector<_dword> Filtered(std::initializer_list<_dword> wanted) const
    {
        std::vector<_dword> out;
        for (const Received& r : mLog)
            if (std::find(wanted.begin(), wanted.end(), r.message) != wanted.end())
                out.push_back(r.message);
        return out;
    }
    int Count(_dword message) const
    {
        return static_cast<int>(
            std::count_if(mLog.begin(), mLog.end(), [&](const Received& r) { return r.message == message; }));
    }
    const Received* Last(_dword message) const
    {
        for (auto it = mLog.rbegin(); it != mLog.rend(); ++it)
            if (it->message == message)
                return &*it;
        return nullptr;
    }

    std::vector<Received> mLog;
    // Answers a message itself when it returns true.
    std::function<bool(Ui::WindowId, _dword, Ui::WParam, Ui::LParam, Ui::LResult&)> mHook;
};

// Why window tests cannot run here, or empty when they can.
inline std::string DisplayProblem()
{
    if (!UsePrivateDisplay())
        return "no private X server: " + PrivateDisplayError();
    if (!Ui::InitUi())
    {
        const char* display = std::getenv("DISPLAY");
        return std::string("the window system could not open display ") + (display ? display : "(unset)");
    }
    return {};
}

// The pointer position outlives the windows of a test: a window that later appears under it is
// focused by the pointer (an X server without a window manager gives focus to the window under the
// pointer) before it is activated, which changes the activation messages it sees. Every window test
// starts with the pointer in the screen's bottom right corner, where no test puts a window.
inline void ParkPointer()
{
    Ui::Size screen = Ui::GetScreenSize();
    Ui::InjectMouseMove(screen.width > 0 ? screen.width - 1 : 0, screen.height > 0 ? screen.height - 1 : 0);
}

// In a fixture's SetUp or a test body: the display, or a failure with the reason. Never a skip: a run
// without its windows must not look like a run that checked them.
#define VEXEL_REQUIRE_DISPLAY()                                                                              \
    do                                                                                                       \
    {                                                                                                        \
        std::string vexelProblem = ::Vexel::Test::DisplayProblem();                                          \
        if (!vexelProblem.empty())                                                                           \
            GTEST_FAIL() << vexelProblem;                                                                    \
        ::Vexel::Test::ParkPointer();                                                                        \
    } while (0)

// A region data block: a 32-byte header (size, type, count, bytes of rectangles) and the rectangles.
inline std::vector<_byte> RegionBlock(const std::vector<Ui::Rect>& rects, _dword type = 1)
{
    std::vector<_byte> block(32 + rects.size() * 16);
    auto put = [&](std::size_t at, _dword v) { std::memcpy(block.data() + at, &v, 4); };
    put(0, 32);
    put(4, type);
    put(8, static_cast<_dword>(rects.size()));
    put(12, static_cast<_dword>(rects.size() * 16));
    for (std::size_t i = 0; i < rects.size(); ++i)
    {
        put(32 + i * 16, static_cast<_dword>(rects[i].left));
        put(36 + i * 16, static_cast<_dword>(rects[i].top));
        put(40 + i * 16, static_cast<_dword>(rects[i].right));
        put(44 + i * 16, static_cast<_dword>(rects[i].bottom));
    }
    return block;
}

} // namespace Vexel::Test
