// Helpers of the window-system tests: a pump that stops by itself, and a handler that records what its
// window receives.
#pragma once

#include "Platform/Ui/Ui.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

namespace Vexel::Test
{

// Pumps messages until done() holds or the time runs out (a guard against hanging, not a measurement).
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 10000)
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

// Pumps for a while regardless (lets the X server and GTK settle).
inline void PumpFor(int ms)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    PumpUntil([&] { return std::chrono::steady_clock::now() > end; }, ms + 1000);
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

#define VEXEL_REQUIRE_DISPLAY()                                                                              \
    do                                                                                                       \
    {                                                                                                        \
        if (!::Vexel::Ui::InitUi())                                                                          \
            GTEST_SKIP() << "no display";                                                                    \
    } while (0)

} // namespace Vexel::Test
