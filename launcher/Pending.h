// Launcher work that is not built yet: each call logs one line saying so and changes nothing.
#pragma once

#include "LauncherState.h"

namespace Vexel
{

void RunInstallation(LauncherState& state);       // install, uninstall, auto-start, shortcuts
bool CheckProgramIntegrity(LauncherState& state); // code signature of the program file (true)
void RunSelfUpgradeCheck(LauncherState& state, bool autoUpgrade);
void RunSelfCopy(LauncherState& state, const String& destination);
void RunFileDeletion(LauncherState& state, const String& path);
void StartCopyThread(LauncherState& state);
void CreateShortcutRequest(LauncherState& state, const String& name);
void CleanCache(LauncherState& state);
bool CreateTencentClient(LauncherState& state, const String& argument);
bool InstallPreloadPack(LauncherState& state, const String& a, const String& b);

} // namespace Vexel
