#include "Platform/PlatformHooks.h"

namespace Vexel
{

// The kernel's built-in behaviour is the POSIX one already: debugger output goes to standard error and
// the system code page is UTF-8.
void InstallPlatformHooks() {}

} // namespace Vexel
