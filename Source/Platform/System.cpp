#include "Platform/System.h"

#include "Common/Kernel.h"
#include "Platform/PlatformHooks.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace Vexel
{

namespace
{
std::atomic<bool> gMainThreadKnown{false};
std::thread::id gMainThread;
} // namespace

void InitializePlatform()
{
    InstallPlatformHooks();
    Kernel().modulePath = GetModulePath();
    gMainThread = std::this_thread::get_id();
    gMainThreadKnown.store(true, std::memory_order_release);
    GetTime();
}

bool IsMainThread()
{
    return gMainThreadKnown.load(std::memory_order_acquire) && std::this_thread::get_id() == gMainThread;
}

// The steady clock is the monotonic clock or the performance counter, whichever the system has.
_dword GetTime()
{
    static const auto sStart = std::chrono::steady_clock::now();
    auto elapsed = std::chrono::steady_clock::now() - sStart;
    return static_cast<_dword>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

int OsVersionCode(_dword major, _dword minor)
{
    if (major == 10)
        return 8;
    if (major == 5 && minor <= 2)
        return static_cast<int>(minor) + 1;
    if (major == 6 && minor <= 3)
        return static_cast<int>(minor) + 4;
    return 0;
}

} // namespace Vexel
