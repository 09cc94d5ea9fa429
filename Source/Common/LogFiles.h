// The file system's side of the log files, which the platform layer takes over at start-up
// (InstallPlatformHooks): an opener gets the path in the program's "\" form and opens it for writing,
// made anew, after PrepareLogFilePlace. Until one is installed (and after nullptr) the "\" become "/" and
// the narrow file functions open it, as POSIX systems want.
#pragma once

#include "Common/Kernel.h"
#include "Common/String.h"

#include <filesystem>

namespace Vexel
{

using LogFileOpener = LogFile (*)(const String& path);
void SetLogFileOpener(LogFileOpener opener);
// Makes the file's folder, and makes an existing file writable for its owner.
void PrepareLogFilePlace(const std::filesystem::path& native);

} // namespace Vexel
