// The launcher's handlers: the game frame's window messages, named page commands, menu and title-bar
// commands, skinned buttons, and the messages of the frame slot windows. They drive the main loop through
// SwitchLocation, AskExit, the loop-end request and ending the pass.
#pragma once

#include "Base/LauncherState.h"

#include <vector>

namespace Vexel
{

class FrameWindow;

// What the prompt window does when confirmed.
constexpr int _PROMPT_NONE = 0;
constexpr int _PROMPT_EXIT = 1;
constexpr int _PROMPT_CLEAN = 2;
constexpr int _PROMPT_REFRESH = 3;
constexpr int _PROMPT_SERVER = 4; // switch to the server chosen again

// What a click on a user button runs (the script binding's: its onClick function).
using UserButtonFunction = void (*)(ScriptObject* button);
// Puts the handlers into the frame windows' hooks and the game frame's; user buttons go to userButton.
void InstallHandlers(LauncherState& state, UserButtonFunction userButton = nullptr);

// Shows text in the prompt window (slot 3, label 0) with the action to take when it is confirmed.
void ShowPrompt(LauncherState& state, int action, const String& text);
// The clean-cache prompt (kind 3) as the script member asks for it.
void ShowPrompt(LauncherState& state, int kind);

// The game frame's message handler; true when it handled the message.
bool HandleGameFrameMessage(LauncherState& state, _dword message, Ui::WParam wParam, Ui::LParam lParam);
// A named command from a page or the game; the answer goes back to the caller.
Ui::LResult HandlePageCommand(LauncherState& state, const String& command, const InvokeArgs* args);
void HandleMenuCommand(LauncherState& state, _dword id, const String& text, const String& url);
// The close and minimise buttons; false for a user button, which is not the commands' to run.
bool HandleButton(LauncherState& state, int kind, ScriptObject* object, FrameWindow& frame);
// Messages of the frame slot windows, before the frame handles them; true when handled.
bool HandleSlotMessage(LauncherState& state, FrameWindow& frame, _dword message, Ui::WParam wParam,
                       Ui::LParam lParam);

void ChangeServer(LauncherState& state, int slot, _dword controlId);
void ApplyBossSettings(LauncherState& state, int slot, _dword controlIds);
// Registers the hot-key box value (key in bits 0-7, box modifiers in bits 8-15) as the boss key of the
// game frame; 0 only unregisters. True when a key is registered.
bool RegisterBossKey(const FramesAndPages& frames, _dword value);
// Hides or shows the launcher (boss key or tray click).
void ToggleLauncher(LauncherState& state, bool bossKey);

// The saved hot-key value and check-box state ("mcconfig.ini" in the current folder).
void ReadBossSettings(LauncherState& state);
bool WriteBossSettings(const LauncherState& state);
// Opens the address with the desktop's browser.
void BrowseUrl(const String& url);

} // namespace Vexel
