// The pieces the _Launcher member files share: argument conversions, the native's frame (every member acts
// on the current LauncherState and does nothing without one), the tables members are registered from, and
// each member file's registration. Private to the script binding.
#pragma once

#include "Base/LauncherState.h"
#include "Binding/LauncherScript.h"
#include "Frames/GameFrame.h"

#include "Script/IScriptManager.h"
#include "Script/ScriptObject.h"

#include <span>

namespace Vexel
{

// Argument conversions; a missing argument reads as 0, false or the empty text.
inline String ArgText(IScriptManager& m, _dword i)
{
    return m.GetArgString(i);
}
inline int ArgInt(IScriptManager& m, _dword i)
{
    return m.GetArgInt(i);
}
inline _dword ArgDword(IScriptManager& m, _dword i)
{
    // Through 64 bits so that colours and ids above 0x7FFFFFFF keep their low 32 bits.
    return static_cast<_dword>(static_cast<_qword>(m.GetArgInt64(i)));
}
inline bool ArgBool(IScriptManager& m, _dword i)
{
    return m.GetArgBool(i);
}

// A text a setting takes: not empty, and (nilToo) not the word "nil".
inline bool Usable(const String& text, bool nilToo)
{
    return !text.empty() && !(nilToo && text == u"nil");
}

inline GameFrame* Game()
{
    return Launcher().mGameFrame.get();
}

// A member's native: _NATIVE_<name>, whose body sees the manager (m) and the current state (state).
#define LAUNCHER_NATIVE(name)                                                                                \
    int name##Body(IScriptManager& m, LauncherState& state);                                                 \
    int name##Entry(IScriptManager& m, ScriptObject* object)                                                 \
    {                                                                                                        \
        if (object == nullptr || !HasLauncherState())                                                        \
            return m.ReturnNothing();                                                                        \
        return name##Body(m, Launcher());                                                                    \
    }                                                                                                        \
    const ScriptNative _NATIVE_##name{name##Entry, true};                                                    \
    int name##Body(IScriptManager& m, [[maybe_unused]] LauncherState& state)

struct Member
{
    const char16_t* mName;
    const ScriptNative* mNative;
};

inline void AddMethods(IScriptManager& m, std::span<const Member> methods)
{
    for (const auto& member : methods)
        m.AddFunction(member.mName, member.mNative, ScriptNativeThunk, false);
}

// Each member file's registration into the _Launcher class being defined.
void AddSettingsMembers(IScriptManager& m); // properties, and the setters of settings and addresses
void AddFrameMembers(IScriptManager& m);    // frame windows, their controls, the game frame and its menus
void AddPageMembers(IScriptManager& m);     // web windows and the two pop-ups
void AddProgramMembers(IScriptManager& m);  // the game's start, install, upgrade, downloads, files

} // namespace Vexel
