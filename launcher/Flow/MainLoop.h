// The launcher's main loop: one stage per pass (a web page in the game frame, the frame with its web
// windows, or the loader started directly), then the game stage, then the reset. Also the main page's
// events, navigation of the main page and the exit question.
#pragma once

#include "Base/LauncherState.h"
#include "Services/MessagePump.h"

#include <functional>

namespace Vexel
{

struct WebWindow;

void RunMainLoop(LauncherState& state);

// The stages and the reset, one pass each (the loop runs them in order).
void RunWebStage(LauncherState& state);
void RunFrameStage(LauncherState& state);
void RunLoaderStage(LauncherState& state);
void RunGameStage(LauncherState& state);
void ResetPass(LauncherState& state);

// The game frame, made on first need with its menus, tray icon and the boss hot key.
bool EnsureGameFrame(LauncherState& state);

// The web idle function: the loader choice while the game parameters are awaited.
bool WebIdle(LauncherState& state, _dword elapsed);
// The game loop idle.
bool GameIdle(LauncherState& state, _dword elapsed);

// Navigates the main page to url in a fresh browser; a frame URL switches to the frame stage.
void SwitchLocation(LauncherState& state, const String& url, int restart);
// The exit decision: true when the program is to leave the pass for good.
bool AskExit(LauncherState& state, Ui::WindowId owner, const String& exitUrl);

// The main page events: load start, document complete and navigation complete.
void SetMainPageCallbacks(LauncherState& state, WebWindow& web);
// The web window of an addWebWindow entry: made in the entry's frame, hidden until its content comes,
// navigated to the entry's address. The callbacks are the main page events.
void AddPageWindow(LauncherState& state, PageEntry& page);

// The number after "name" ("w=", "h=") followed by word characters; 0 when there is none.
int ReadSizeValue(const String& url, const String& name);

} // namespace Vexel
