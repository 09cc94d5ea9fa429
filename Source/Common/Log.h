// Diagnostic lines on two channels, trace and error. A channel with an open file writes UTF-16LE lines
// to it; without one it writes to the debugger output (standard error on POSIX systems). Formatting
// happens in fixed stack buffers: nothing on this path allocates, and it takes no lock.
#pragma once

#include "Common/Kernel.h"
#include "Common/StringFormatter.h"

#include <atomic>

namespace Vexel
{

// Process-wide switches, all on at start.
extern std::atomic<bool> gLogEnabled;
extern std::atomic<bool> gLogTimeStamp;
extern std::atomic<bool> gLogLineEnd;

enum class LogChannel
{
    Trace,
    Error,
};

void LogWriteArgs(LogChannel channel, const char16_t* format, const FormatArg* args, std::size_t count);

template <typename... Args> void LogTrace(const char16_t* format, const Args&... args)
{
    if (!gLogEnabled.load(std::memory_order_relaxed))
        return;
    if constexpr (sizeof...(Args) == 0)
        LogWriteArgs(LogChannel::Trace, format, nullptr, 0);
    else
    {
        const FormatArg list[] = {Detail::MakeFormatArg(args)...};
        LogWriteArgs(LogChannel::Trace, format, list, sizeof...(Args));
    }
}

template <typename... Args> void LogError(const char16_t* format, const Args&... args)
{
    if (!gLogEnabled.load(std::memory_order_relaxed))
        return;
    if constexpr (sizeof...(Args) == 0)
        LogWriteArgs(LogChannel::Error, format, nullptr, 0);
    else
    {
        const FormatArg list[] = {Detail::MakeFormatArg(args)...};
        LogWriteArgs(LogChannel::Error, format, list, sizeof...(Args));
    }
}

// Reports one failure on both channels: trace, then error unless both channels share a destination.
void LogBoth(const char16_t* text);

// Opens "<folder>\<name>-<tag>-[Trace].log" and the matching "[Error].log" (see LogFilePath), replacing
// files of the same names. Empty folder: the program's folder; empty name: the program's file name
// without extension.
void OpenLogFiles(const char16_t* tag, const char16_t* folder, const char16_t* name);
void CloseLogFiles();
bool LogsShareDestination();

// The path OpenLogFiles uses for one channel ("Trace" or "Error"), in the program's "\" form.
String LogFilePath(const char16_t* tag, const char16_t* folder, const char16_t* name,
                   const char16_t* channel);

// The debugger output: standard error on POSIX systems, OutputDebugStringW on Windows. Tests may
// redirect it; nullptr restores the default.
using DebugOutputFunc = void (*)(const char16_t* text);
void SetDebugOutput(DebugOutputFunc func);
void DebugOutput(const char16_t* text);

// The local time as "%.4d/%.2d/%.2d-%.2d:%.2d:%.2d" into buffer (at least 20 characters).
void FormatTimeStamp(char16_t* buffer, std::size_t length);

} // namespace Vexel
