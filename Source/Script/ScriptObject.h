// Native objects that scripts can see, their binding records, and the generic thunk that turns a plain
// C++ member into a script function.
//
// A bound object has one script table. The table carries the binding marker (a small full user data
// {_SCRIPT_BINDING_TAG, object} stored under a private key) and the object points at its binding record.
// When native code destroys the object, the destructor unbinds it: the marker's object pointer is nulled,
// so every later member access from a script that still holds the table reads nil. When the collector
// frees the table of an object that native code does not hold (hold count 0), the object is destroyed.
#pragma once

#include "Common/String.h"
#include "Script/IScriptManager.h"

#include <deque>
#include <typeinfo>
#include <vector>

namespace Vexel
{

class ScriptObject;

// The user data stored in a bound table.
struct ScriptMarker
{
    _dword mTag = _SCRIPT_BINDING_TAG;
    ScriptObject* mObject = nullptr;
};

// One per bound object, owned by the object.
struct ScriptBinding
{
    _byte mAlive = 1;
    _byte mProxy = 0;
    _dword mHoldCount = 0;
    std::deque<int> mRefs; // registry references queued by PushObjectRef, oldest first

    // Engine bookkeeping.
    IScriptManager* mManager = nullptr;
    _dword mState = 0;                // handle of the state the table lives in
    ScriptMarker* mMarker = nullptr;  // the marker inside the table (null once the table is gone)
    _dword mTempAnchors = 0;          // anchors held until the native call that bound it ends
    std::vector<const void*> mFields; // keys of the object's fields (SetObjectField and the like)
    _dword mClassId = 0;
    String mClassName;
};

class ScriptObject
{
public:
    ScriptObject() = default;
    // Unbinds the object: a script that still holds its table reads nil from then on.
    virtual ~ScriptObject();
    ScriptObject(const ScriptObject&) = delete;
    ScriptObject& operator=(const ScriptObject&) = delete;

    ScriptBinding* mBinding = nullptr;
};

// A native member for ScriptNativeThunk. The function reads its arguments through the manager and ends
// with one Return... operation, whose value it returns. object is the bound object of the call (for a
// method) or null (static functions and creators).
struct ScriptNative
{
    using Function = int (*)(IScriptManager& manager, ScriptObject* object);
    Function mFunction = nullptr;
    bool mMethod = true; // without a bound object as argument 1 the call returns nothing
};

// The lua_CFunction for ScriptNative bindings: frames, profiling and raising of pending errors.
int ScriptNativeThunk(lua_State* L);

// Adapts a member function int T::F(IScriptManager&) to ScriptNative::Function; an object of another
// class reads as no object.
template <class T, int (T::*F)(IScriptManager&)>
int ScriptMember(IScriptManager& manager, ScriptObject* object)
{
    if (object == nullptr)
        return manager.ReturnNothing();
    T* self = typeid(*object) == typeid(T) ? static_cast<T*>(object) : dynamic_cast<T*>(object);
    if (self == nullptr)
        return manager.ReturnNothing();
    return (self->*F)(manager);
}

// The standard read-only members every class registers: typeid (the class's number, in registration
// order from 1) and typestr (the class name).
extern const ScriptNative _SCRIPT_TYPEID;
extern const ScriptNative _SCRIPT_TYPESTR;
void AddTypeMembers(IScriptManager& manager);

} // namespace Vexel
