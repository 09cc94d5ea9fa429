// The process-wide kernel context: the two log channels and the slots of the process-wide services.
// Each service registers itself in its slot when made and clears it when destroyed.
#pragma once

#include "Common/String.h"

#include <cstdio>

namespace Vexel
{

class IResourceManager;
class ResourceManifest;
class ResourceCache;

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

    IResourceManager* resourceManager = nullptr;
    ResourceManifest* resourceManifest = nullptr;
    ResourceCache* resourceCache = nullptr;

    // Full path of the running program; the platform layer fills it in at start (used for defaults such
    // as the log file folder and name).
    String modulePath;
};

KernelContext& Kernel();

} // namespace Vexel
