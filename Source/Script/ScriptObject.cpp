#include "Script/ScriptObject.h"

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
    // Everything with a destructor lives inside RunNative, so raising here skips nothing.
    int results = LuaScriptManager::RunNative(L, nullptr, nullptr, 0);
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
