#include "Platform/PlatformHooks.h"

#include "Common/Log.h"
#include "Common/LogFiles.h"
#include "Common/StringEncoding.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <windows.h>

namespace Vexel
{

namespace
{

// The log file under its own wide path ("\" is the system's separator here).
LogFile OpenLogFileWide(const String& path)
{
    std::filesystem::path native{std::u16string(path)};
    PrepareLogFilePlace(native);
    return _wfopen(native.c_str(), L"w+b");
}

void DebuggerOutput(const char16_t* text)
{
    OutputDebugStringW(reinterpret_cast<const wchar_t*>(text));
}

// Code page 0: the active code page of the system.
String CodePageToWide(const char* text, std::size_t length)
{
    if (length == 0)
        return String();
    int bytes = static_cast<int>(std::min<std::size_t>(length, 0x7FFFFFFF));
    int units = MultiByteToWideChar(CP_ACP, 0, text, bytes, nullptr, 0);
    String out(static_cast<std::size_t>(units > 0 ? units : 0), u'\0');
    if (units > 0)
        MultiByteToWideChar(CP_ACP, 0, text, bytes, reinterpret_cast<wchar_t*>(out.data()), units);
    return out;
}

std::string WideToCodePage(const char16_t* text, std::size_t length)
{
    if (length == 0)
        return std::string();
    int units = static_cast<int>(std::min<std::size_t>(length, 0x7FFFFFFF));
    const auto* wide = reinterpret_cast<const wchar_t*>(text);
    int bytes = WideCharToMultiByte(CP_ACP, 0, wide, units, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_ACP, 0, wide, units, out.data(), bytes, nullptr, nullptr);
    return out;
}

} // namespace

void InstallPlatformHooks()
{
    SetDebugOutput(DebuggerOutput);
    SetLogFileOpener(OpenLogFileWide);
    SetSystemTextConverters({CodePageToWide, WideToCodePage});
}

} // namespace Vexel
