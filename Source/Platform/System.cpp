#include "Platform/System.h"

#include "Common/Kernel.h"
#include "Common/Log.h"
#include "Common/StringFormatter.h"
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

constexpr std::size_t _ENVIRONMENT_CHARS = 1024;

bool ValidVariableName(const String& name)
{
    return !name.empty() && name.find(u'=') == String::npos;
}
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

bool GetEnvironment(const String& name, String& value)
{
    value.clear();
    String text;
    if (!ValidVariableName(name) || !Detail::NativeGetEnvironment(name, text))
        return false;
    if (text.size() > _ENVIRONMENT_CHARS)
    {
        LogTrace(u"[FG] Environment variable %ls is longer than %d characters", name,
                 int(_ENVIRONMENT_CHARS));
        return false;
    }
    value = std::move(text);
    return true;
}

bool SetEnvironmentText(const String& name, const String& value)
{
    return ValidVariableName(name) && Detail::NativeSetEnvironment(name, value);
}

bool SetEnvironment(const String& name, _dword number)
{
    return SetEnvironmentText(name, FormatString(u"%.8x", number));
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
