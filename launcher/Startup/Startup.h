// The launcher's start-up and shutdown: command line, folders, the per-user switch file, logging, the
// script manager with the launcher classes, the main window, the two scripts, the data folder, the saved
// boss-key choices, and the full and short shutdown.
#pragma once

#include "Base/LauncherState.h"

#include <string>

namespace Vexel
{

class IScriptManager;

struct SwitchFlags
{
    bool mLog = false;
    bool mNoAutoUpgrade = false;
};

// The command line (8-bit, without the program path) becomes the cmd setting, at most 1,023 characters.
void ReadCommandLine(LauncherState& state, const char* commandLine);
// The same from wide text (the Windows entry passes its command line as it got it).
void ReadCommandLine(LauncherState& state, const String& commandLine);
// Executable name and program folder from the program file's full path.
void SetProgramPath(LauncherState& state, const String& path);
// The first line of the per-user switch file, searched for "mclog" and "noautoupgrade".
SwitchFlags ReadSwitchFile(const String& path);
// The script manager (made when there is none) with _Launcher, _LauncherButton, the global launcher
// object and "_info" / "print".
IScriptManager* PrepareScripting(LauncherState& state);
void SetEnvironmentMarkers();
bool CreateMainWindow(LauncherState& state);
// Runs the named script from the program's resources, or else from the file of that name in the current
// folder; unpack lets a packed buffer be unpacked first. False when neither exists.
bool RunStartupScript(IScriptManager& manager, const String& name, bool unpack);
// The settings script: the file named by the environment variable VEXEL_SETTINGS when it can be read
// (so the client can be pointed at another operator site without rebuilding), else config.lua.
void RunSettingsScript(IScriptManager& manager);
void ShowProgressWindow(LauncherState& state);
// Settles the data folder and makes it the current folder.
void SettleDataFolder(LauncherState& state);
void CleanStaleArchives(const ScriptSettings& settings);
void FullShutdown(LauncherState& state);
void ShortShutdown(LauncherState& state);

// The process's result when no display can be opened for the windows.
constexpr int _EXIT_NO_DISPLAY = 3;

// The whole start-up; the process's result (0, or _EXIT_NO_DISPLAY).
int RunLauncher(LauncherState& state, const char* commandLine);
int RunLauncher(LauncherState& state, const String& commandLine);

} // namespace Vexel
