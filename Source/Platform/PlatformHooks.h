// The services the kernel layer leaves to the platform: it cannot call up into this layer, so it offers
// hooks (debugger output, the system code page, opening log files) that InitializePlatform fills here.
#pragma once

namespace Vexel
{

void InstallPlatformHooks();

} // namespace Vexel
