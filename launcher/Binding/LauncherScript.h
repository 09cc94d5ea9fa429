// The script-visible launcher object _Launcher (every member acts on the current LauncherState) and the
// user-button class _LauncherButton.
#pragma once

#include "Base/LauncherState.h"
#include "Script/ScriptObject.h"

namespace Vexel
{

class VexelLauncher : public ScriptObject
{
};

class VexelLauncherButton : public ScriptObject
{
public:
    ~VexelLauncherButton() override;
    int mClickRef = 0; // registry reference of the click function, 0 for none
};

// Registers _Launcher with all its members, then _LauncherButton.
void RegisterLauncherClasses(IScriptManager& manager);
// Calls the button's click function when one is set.
void CallButtonClick(ScriptObject* button);

// The launcher-side work the members hand on; the pieces that belong to later work log that they are not
// built yet.
bool WriteLoaderFile(LauncherState& state, const String& name, bool forSetLoader, bool replace, String& path);
String GetIniValue(const String& file, const String& section, const String& key);

} // namespace Vexel
