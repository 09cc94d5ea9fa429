// The system's identity and the running program: module path, environment, OS version, time.
#pragma once

#include "Common/String.h"

namespace Vexel
{

// Records the program's path in the kernel context and the calling thread as the main thread.
// Call once at start, before other threads exist.
void InitializePlatform();

// Full path of the running program, empty on failure.
String GetModulePath();

} // namespace Vexel
