// The loaded game module and the window it draws into: the game child window of the game frame (its
// native handle is the module's window), the module's seven entry points, the frame function, the
// forwarding of window messages and the teardown. LoaderHost's module functions are defined here.
#pragma once

#include "Base/LauncherState.h"

namespace Vexel
{

class LoaderHost;

// True while a module loaded from this file is in the process (loaded through any host).
bool IsLoadedModuleFile(const String& path);

// The game child window: a child of the game frame filling its client area, whose messages go to the
// module (and "pluginok" and other named commands to the game frame). 0 when there is no game frame.
Ui::WindowId CreateGameChildWindow(LauncherState& state);
// Unloads the module (the window's before-destroy step) and destroys the window.
void DestroyGameChildWindow(LauncherState& state);
// Fits the game child window to the game frame's client area.
void LayoutGameChildWindow(const FramesAndPages& frames);

// The game stage's start of the loader: the source from the game page (or, in start mode 2, the file
// and arguments of startLoader), then the host's start in the game child window.
void StartLoader(LauncherState& state);
// One game loop idle turn of the loader: load a ready file, then drive one frame.
void DriveLoader(LauncherState& state);
// The loop reset: the host returns to its start and the game child window goes.
void StopLoader(LauncherState& state);

} // namespace Vexel
