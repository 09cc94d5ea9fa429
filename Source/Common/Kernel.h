// The process-wide kernel context: the two log channels and the program's path. The engine services
// (script and resource managers) are not here: whoever starts them owns them and passes them down.
#pragma once

#include "Common/String.h"

#include <cstdio>

namespace Vexel
{

using LogFile = std::FILE*;
// Writes text (UTF-16, no terminator) to the file, then "\r\n" when lineEnd is set.
using LogWriter = void (*)(const char16_t* text, LogFile file, bool lineEnd);

struct KernelContext
{
    LogWriter traceWriter = nullptr;
    LogFile traceFile = nullptr;
    LogWriter errorWriter = nullptr;
    LogFile errorFile = nullptr;
    void (*closeFunction)() = nullptr;

    // Full path of the running program; the platform layer fills it in at start (used for defaults such
    // as the log file folder and name).
    String modulePath;
};

KernelContext& Kernel();

} // namespace Vexel
