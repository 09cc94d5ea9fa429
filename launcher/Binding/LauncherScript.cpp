#include "Binding/LauncherScript.h"

#include "Binding/ScriptNatives.h"

namespace Vexel
{

namespace
{

// --- Creators and _LauncherButton ----------------------------------------------------------------------

int NewLauncher(IScriptManager& m, ScriptObject*)
{
    auto* launcher = new VexelLauncher;
    m.BindObject(u"_Launcher", launcher, false);
    return m.ReturnObject(launcher);
}
const ScriptNative _NATIVE_NewLauncher{NewLauncher, false};

int NewButton(IScriptManager& m, ScriptObject*)
{
    auto* button = new VexelLauncherButton;
    m.BindObject(u"_LauncherButton", button, false);
    return m.ReturnObject(button);
}
const ScriptNative _NATIVE_NewButton{NewButton, false};

int GetOnClick(IScriptManager& m, ScriptObject*)
{
    return m.ReturnNothing();
}
int SetOnClick(IScriptManager& m, ScriptObject* object)
{
    auto* button = dynamic_cast<VexelLauncherButton*>(object);
    if (!button)
        return m.ReturnNothing();
    m.Unref(button->mClickRef);
    button->mClickRef = m.RefArgument(0);
    return m.ReturnNothing();
}
const ScriptNative _NATIVE_GetOnClick{GetOnClick, true};
const ScriptNative _NATIVE_SetOnClick{SetOnClick, true};

} // namespace

VexelLauncherButton::~VexelLauncherButton()
{
    // The manager is already gone (null) while it finalises the script objects at shutdown.
    if (IScriptManager* manager = Launcher().mScriptManager.get(); mClickRef && manager)
        manager->Unref(mClickRef);
}

void CallButtonClick(ScriptObject* object)
{
    auto* button = dynamic_cast<VexelLauncherButton*>(object);
    IScriptManager* manager = Launcher().mScriptManager.get();
    if (button && button->mClickRef && manager)
        manager->CallRef(button->mClickRef, nullptr, 0, nullptr);
}

void RegisterLauncherClasses(IScriptManager& m)
{
    m.BeginClass(u"_Launcher", &_NATIVE_NewLauncher, ScriptNativeThunk);
    AddTypeMembers(m);
    AddSettingsMembers(m);
    AddFrameMembers(m);
    AddPageMembers(m);
    AddProgramMembers(m);
    m.EndClass();

    m.BeginClass(u"_LauncherButton", &_NATIVE_NewButton, ScriptNativeThunk);
    AddTypeMembers(m);
    m.AddProperty(u"onClick", &_NATIVE_GetOnClick, ScriptNativeThunk, &_NATIVE_SetOnClick, ScriptNativeThunk);
    m.EndClass();
}

} // namespace Vexel
