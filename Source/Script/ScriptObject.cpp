#include "Script/ScriptObject.h"

#include "Common/Kernel.h"
#include "Script/LuaScriptManager.h"

namespace Vexel
{

ScriptObject::~ScriptObject()
{
    if (mBinding == nullptr)
        return;
    if (mBinding->mManager)
        mBinding->mManager->UnbindObject(this);
    // A record the manager did not take back (no manager any more) goes with the object.
    delete mBinding;
    mBinding = nullptr;
}

namespace
{
// Everything with a destructor lives here, so the thunk can raise after it returned.
int RunNative(lua_State* L)
{
    LuaScriptManager* manager = LuaScriptManager::Instance();
    if (manager == nullptr)
        return 0;
    const auto* native = static_cast<const ScriptNative*>(manager->BeginNativeCall(L));
    if (native == nullptr || native->mFunction == nullptr)
    {
        manager->SetScriptError(u"Internal Error : function empty");
        return manager->ReturnNothing();
    }
    ScriptObject* object = nullptr;
    if (native->mMethod)
    {
        object = manager->GetCallObject();
        if (object == nullptr)
            return manager->ReturnNothing();
    }
    _dword depth = manager->GetCallDepth();
    bool profiling = manager->IsProfiling();
    if (profiling)
        manager->ProfileNativeEnter(native);
    int results = native->mFunction(*manager, object);
    if (profiling)
        manager->ProfileNativeLeave();
    // A member that forgot its Return... still ends its call.
    if (manager->GetCallDepth() >= depth)
        results = manager->ReturnNothing();
    return results;
}

int TypeId(IScriptManager& manager, ScriptObject* object)
{
    return manager.ReturnUInt(object->mBinding ? object->mBinding->mClassId : 0);
}

int TypeString(IScriptManager& manager, ScriptObject* object)
{
    return object->mBinding ? manager.ReturnString(object->mBinding->mClassName)
                            : manager.ReturnString(String());
}
} // namespace

int ScriptNativeThunk(lua_State* L)
{
    int results = RunNative(L);
    return results >= 0 ? results : lua_error(L);
}

const ScriptNative _SCRIPT_TYPEID = {TypeId, true};
const ScriptNative _SCRIPT_TYPESTR = {TypeString, true};

void AddTypeMembers(IScriptManager& manager)
{
    manager.AddReadOnlyProperty(u"typeid", &_SCRIPT_TYPEID, ScriptNativeThunk);
    manager.AddReadOnlyProperty(u"typestr", &_SCRIPT_TYPESTR, ScriptNativeThunk);
}

} // namespace Vexel
