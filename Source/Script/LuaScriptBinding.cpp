// Native object binding: class registration, bound tables and their metamethods, object lifetimes.
#include "Common/Assert.h"
#include "Common/Log.h"
#include "Common/StringEncoding.h"
#include "Common/StringFormatter.h"
#include "Script/LuaRuntime.h"
#include "Script/LuaScriptManager.h"
#include "Script/ScriptObject.h"

#include <cstdint>
#include <cstring>
#include <new>

namespace Vexel
{

using namespace LuaRuntime;

namespace
{
// A setter's key is its getter's key with the low bit set: key sources are aligned object addresses, so
// the two keys never meet each other or another member's.
const void* SetterKey(const void* getterKey)
{
    return reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(getterKey) | 1);
}

void PushPrivateMeta(lua_State* L)
{
    PushKey(L, &_PRIVATE_META_KEY);
    lua_rawget(L, LUA_REGISTRYINDEX);
}

// Pushes the class metatable of a bound table: behind the table's own per-object metatable. Returns its
// index, 0 when there is none (nothing pushed).
int PushMembers(lua_State* L, int table)
{
    if (!lua_getmetatable(L, table))
        return 0;
    if (!lua_getmetatable(L, -1))
    {
        lua_pop(L, 1);
        return 0;
    }
    lua_remove(L, -2);
    return lua_gettop(L);
}

// The marker and class metatable a handler works with: its upvalues (the per-object handlers), or for
// the class-wide handlers the table's own marker and class metatable (pushed).
ScriptMarker* HandlerTarget(lua_State* L, int& members)
{
    if (void* marker = lua_touserdata(L, lua_upvalueindex(1)))
    {
        members = lua_upvalueindex(2);
        return static_cast<ScriptMarker*>(marker);
    }
    return nullptr;
}

bool IsProxy(const ScriptMarker* marker)
{
    return marker->mObject && marker->mObject->mBinding && marker->mObject->mBinding->mProxy;
}
} // namespace

ScriptMarker* LuaScriptManager::MarkerOf(lua_State* L, int index)
{
    if (lua_type(L, index) != LUA_TTABLE)
        return nullptr;
    index = AbsIndex(L, index);
    PushKey(L, &_MARKER_KEY);
    lua_rawget(L, index);
    // Only a full user data has both an address and this length (strings have no address here).
    void* data = lua_touserdata(L, -1);
    bool sized = data != nullptr && lua_objlen(L, -1) == sizeof(ScriptMarker);
    lua_pop(L, 1);
    auto* marker = static_cast<ScriptMarker*>(data);
    return sized && marker->mTag == _SCRIPT_BINDING_TAG ? marker : nullptr;
}

int LuaScriptManager::RunNative(lua_State* L, const ScriptNative* native, ScriptObject* object, int knownTop)
{
    LuaScriptManager* manager = sInstance;
    if (manager == nullptr)
        return 0;
    bool known = native != nullptr;
    if (known)
        manager->PushFrame(L, knownTop);
    else
        native = static_cast<const ScriptNative*>(manager->BeginNativeCall(L));
    if (native == nullptr || native->mFunction == nullptr)
    {
        manager->SetScriptError(u"Internal Error : function empty");
        return manager->ReturnNothing();
    }
    if (known)
    {
        // The caller found the object already (a getter called from the member-read handler).
        CallFrame& frame = manager->mFrames.back();
        frame.mObject = object;
        frame.mBase = 2;
    }
    else if (native->mMethod)
    {
        // A per-object method copy carries its table and marker: argument 1 being that table is the
        // common case and needs no lookup.
        auto* marker = static_cast<ScriptMarker*>(lua_touserdata(L, lua_upvalueindex(3)));
        if (marker && lua_rawequal(L, 1, lua_upvalueindex(2)))
        {
            CallFrame& frame = manager->mFrames.back();
            frame.mObject = object = marker->mObject;
            frame.mBase = 2;
        }
        else
            object = manager->GetCallObject();
        if (object == nullptr)
            return manager->ReturnNothing();
    }
    std::size_t depth = manager->mFrames.size();
    bool profiling = manager->mProfiling;
    if (profiling)
        manager->ProfileNativeEnter(native);
    int results = native->mFunction(*manager, object);
    if (profiling)
        manager->ProfileNativeLeave();
    // A member that forgot its Return... still ends its call.
    if (manager->mFrames.size() >= depth)
        results = manager->ReturnNothing();
    return results;
}

// --- Class registration ---------------------------------------------------------------------------------

bool LuaScriptManager::BeginClass(const String& className, const void* binding, ScriptNativeFunction creator)
{
    if (!VEXEL_ASSERT_TEXT(mClassName == nullptr, u"mClassName == _null"))
        return false;
    lua_State* L = mLuaState;
    if (!lua_checkstack(L, 8))
        return false;
    std::string name = ToUtf8(className);

    // Class table: a global named after the class, "new" is the creator.
    lua_newtable(L);
    int classTable = lua_gettop(L);
    if (creator)
    {
        PushKey(L, binding);
        lua_pushcclosure(L, creator, 1);
        lua_setfield(L, classTable, "new");
        AddNativeRecord(binding, FormatString(u"%ls.%ls", className, u"new"));
    }
    PushRegistryRef(L, Current().mMemberTemplate);
    lua_setmetatable(L, classTable);
    lua_pushstring(L, name.c_str());
    lua_pushvalue(L, classTable);
    lua_rawset(L, LUA_GLOBALSINDEX);

    // Class metatable with the three handlers and the private __metatable.
    lua_newtable(L);
    int meta = lua_gettop(L);
    lua_pushcfunction(L, IndexHandler);
    lua_setfield(L, meta, "__index");
    lua_pushcfunction(L, NewIndexHandler);
    lua_setfield(L, meta, "__newindex");
    lua_pushcfunction(L, ToStringHandler);
    lua_setfield(L, meta, "__tostring");
    PushPrivateMeta(L);
    lua_setfield(L, meta, "__metatable");

    PushRegistryRef(L, Current().mClassTable);
    lua_pushstring(L, name.c_str());
    lua_pushvalue(L, meta);
    lua_rawset(L, -3);
    lua_pop(L, 1);
    PushKey(L, &_CLASS_OF_KEY);
    lua_rawget(L, LUA_REGISTRYINDEX);
    lua_pushvalue(L, classTable);
    lua_pushvalue(L, meta);
    lua_rawset(L, -3);
    lua_pop(L, 1);

    mClassNameText = className;
    mClassName = mClassNameText.c_str();
    mClassTableIndex = classTable;
    mClassMetaIndex = meta;
    bool known = false;
    for (const auto& info : mClasses)
        known = known || info.mName == className;
    if (!known)
        mClasses.push_back({className, name});
    return true;
}

void LuaScriptManager::EndClass()
{
    if (!VEXEL_ASSERT_TEXT(mClassName != nullptr, u"mClassName != _null"))
        return;
    VEXEL_ASSERT_TEXT(lua_type(mLuaState, -1) == LUA_TTABLE, u"lua_type( mLuaState, -1 ) == LUA_TTABLE");
    lua_settop(mLuaState, mClassTableIndex - 1);
    mClassName = nullptr;
    mClassTableIndex = 0;
    mClassMetaIndex = 0;
}

void LuaScriptManager::StoreMember(lua_State* L, int target, const void* key, const void* binding,
                                   ScriptNativeFunction function)
{
    PushKey(L, key);
    // A generic getter or setter is kept as its binding alone: the handlers run it without a call.
    PushKey(L, binding);
    if (function != ScriptNativeThunk)
        lua_pushcclosure(L, function, 1);
    lua_rawset(L, target);
}

const void* LuaScriptManager::MemberKey(lua_State* L, const String& name)
{
    // The interned name string is the key source; the anchor table keeps it (and its address) alive.
    if (name.empty())
        return lua_topointer(L, mClassMetaIndex);
    PushWide(L, name);
    const void* key = lua_tostring(L, -1);
    PushRegistryRef(L, Current().mAnchorTable);
    lua_pushvalue(L, -2);
    lua_pushboolean(L, 1);
    lua_rawset(L, -3);
    lua_pop(L, 2);
    return key;
}

void LuaScriptManager::AddFunction(const String& name, const void* binding, ScriptNativeFunction function,
                                   bool isStatic)
{
    lua_State* L = mLuaState;
    if (function == nullptr || !lua_checkstack(L, 4))
        return;
    PushWide(L, name);
    PushKey(L, binding);
    lua_pushcclosure(L, function, 1);
    if (mClassName == nullptr)
    {
        lua_rawset(L, LUA_GLOBALSINDEX);
        AddNativeRecord(binding, name);
        return;
    }
    lua_rawset(L, isStatic ? mClassTableIndex : mClassMetaIndex);
    AddNativeRecord(binding, FormatString(u"%ls.%ls", mClassNameText, name));
}

void LuaScriptManager::AddProperty(const String& name, const void* binding, ScriptNativeFunction getter,
                                   const void* setterBinding, ScriptNativeFunction setter)
{
    if (!VEXEL_ASSERT_TEXT(mClassName != nullptr, u"mClassName != _null"))
        return;
    lua_State* L = mLuaState;
    if (!lua_checkstack(L, 6))
        return;
    const void* key = MemberKey(L, name);
    if (getter)
    {
        StoreMember(L, mClassMetaIndex, key, binding, getter);
        AddNativeRecord(binding, FormatString(u"%ls.%ls(%ls)", mClassNameText, name, u"get"));
    }
    if (setter)
    {
        StoreMember(L, mClassMetaIndex, SetterKey(key), setterBinding, setter);
        AddNativeRecord(setterBinding, FormatString(u"%ls.%ls(%ls)", mClassNameText, name, u"set"));
    }
}

void LuaScriptManager::AddReadOnlyProperty(const String& name, const void* binding,
                                           ScriptNativeFunction getter)
{
    AddProperty(name, binding, getter, nullptr, nullptr);
}

void LuaScriptManager::AddConstant(const String& name, const Variable& value, bool isStatic)
{
    if (!VEXEL_ASSERT_TEXT(mClassName != nullptr, u"mClassName != _null"))
        return;
    lua_State* L = mLuaState;
    if (!lua_checkstack(L, 4))
        return;
    PushWide(L, name);
    PushVariable(L, value);
    lua_rawset(L, isStatic ? mClassTableIndex : mClassMetaIndex);
}

bool LuaScriptManager::CallClassNew(const String& globalName, const String& className)
{
    lua_State* L = ActiveState();
    if (!lua_checkstack(L, 6))
        return false;
    int top = lua_gettop(L);
    PushWide(L, className);
    lua_rawget(L, LUA_GLOBALSINDEX);
    if (!lua_istable(L, -1))
    {
        lua_settop(L, top);
        return false;
    }
    lua_pushliteral(L, "new");
    lua_rawget(L, -2);
    if (!lua_isfunction(L, -1))
    {
        lua_settop(L, top);
        return false;
    }
    int status = ProtectedCall(L, 0);
    if (status != 0)
    {
        CheckError(L, status);
        LogBoth(mLastError.c_str());
        lua_settop(L, top);
        return false;
    }
    PushWide(L, globalName);
    lua_insert(L, -2);
    lua_rawset(L, LUA_GLOBALSINDEX);
    lua_settop(L, top);
    return true;
}

int LuaScriptManager::PushNativeClosure(const void* binding, ScriptNativeFunction function,
                                        const String& name)
{
    lua_State* L = ActiveState();
    if (function == nullptr || !lua_checkstack(L, 4))
        return 0;
    AddNativeRecord(binding, name.empty() ? String(u"__call") : name);
    PushKey(L, binding);
    lua_pushcclosure(L, function, 1);
    lua_pushvalue(L, -1);
    return luaL_ref(L, LUA_REGISTRYINDEX);
}

// --- Metamethods ----------------------------------------------------------------------------------------
//
// These run inside script calls and may see script errors pass through them (a getter that fails): they
// hold no object with a destructor.

ScriptMarker* LuaScriptManager::HandlerMarker(lua_State* L, int& members)
{
    if (ScriptMarker* marker = HandlerTarget(L, members))
        return marker;
    ScriptMarker* marker = MarkerOf(L, 1);
    if (marker == nullptr)
        return nullptr;
    members = PushMembers(L, 1);
    return members != 0 ? marker : nullptr;
}

int LuaScriptManager::CallMember(lua_State* L, int arguments, ScriptObject* object, const void* native)
{
    // The member is on top: a generic native (light user data, given as native) runs directly, anything
    // else is called.
    if (native)
    {
        int results = RunNative(L, static_cast<const ScriptNative*>(native), object, arguments);
        return results >= 0 ? (results > 0 ? 1 : 0) : lua_error(L);
    }
    lua_insert(L, 1);
    lua_settop(L, arguments + 1);
    lua_call(L, arguments, 1);
    return 1;
}

int LuaScriptManager::IndexHandler(lua_State* L)
{
    int members = 0;
    ScriptMarker* marker = HandlerMarker(L, members);
    if (marker == nullptr || marker->mObject == nullptr)
        return 0;
    if (lua_type(L, 2) == LUA_TSTRING)
    {
        const char* name = lua_tostring(L, 2);
        PushKey(L, name);
        lua_rawget(L, members);
        const void* native = lua_touserdata(L, -1);
        if (native || !lua_isnil(L, -1))
            return CallMember(L, 1, marker->mObject, native);
        lua_pop(L, 1);
        // Methods and constants are stored under their names; the metamethods themselves stay hidden.
        if (!(name[0] == '_' && name[1] == '_'))
        {
            lua_pushvalue(L, 2);
            lua_rawget(L, members);
            if (!lua_isnil(L, -1))
                return 1;
            lua_pop(L, 1);
        }
    }
    PushKey(L, lua_topointer(L, members));
    lua_rawget(L, members);
    if (!lua_isnil(L, -1))
        return CallMember(L, 2, marker->mObject, lua_touserdata(L, -1));
    lua_pop(L, 1);
    if (IsProxy(marker) && lua_getmetatable(L, 1))
    {
        // A proxy keeps the script's own fields in its private metatable.
        lua_pushvalue(L, 2);
        lua_rawget(L, -2);
        return 1;
    }
    return 0;
}

int LuaScriptManager::NewIndexHandler(lua_State* L)
{
    int members = 0;
    ScriptMarker* marker = HandlerMarker(L, members);
    if (marker == nullptr || marker->mObject == nullptr)
        return 0; // writes to a table whose object is gone are dropped
    if (lua_type(L, 2) == LUA_TSTRING)
    {
        const void* key = lua_tostring(L, 2);
        PushKey(L, SetterKey(key));
        lua_rawget(L, members);
        if (!lua_isnil(L, -1))
        {
            lua_remove(L, 2); // the setter sees (table, value)
            CallMember(L, 2, marker->mObject, lua_touserdata(L, -1));
            return 0;
        }
        lua_pop(L, 1);
        // A read-only property ignores writes rather than being shadowed by a plain field.
        PushKey(L, key);
        lua_rawget(L, members);
        bool readOnly = !lua_isnil(L, -1);
        lua_pop(L, 1);
        if (readOnly)
            return 0;
    }
    PushKey(L, SetterKey(lua_topointer(L, members)));
    lua_rawget(L, members);
    if (!lua_isnil(L, -1))
    {
        CallMember(L, 3, marker->mObject, lua_touserdata(L, -1));
        return 0;
    }
    lua_pop(L, 1);
    // Anything else is a plain field of the script's own.
    if (IsProxy(marker))
    {
        if (!lua_getmetatable(L, 1))
            return 0;
        lua_pushvalue(L, 2);
        lua_pushvalue(L, 3);
        lua_rawset(L, -3);
        return 0;
    }
    lua_settop(L, 3);
    lua_rawset(L, 1);
    return 0;
}

int LuaScriptManager::ToStringHandler(lua_State* L)
{
    int members = 0;
    ScriptMarker* marker = HandlerMarker(L, members);
    ScriptObject* object = marker ? marker->mObject : nullptr;
    if (object)
    {
        lua_pushliteral(L, "tostring");
        lua_rawget(L, members);
        if (lua_isfunction(L, -1))
        {
            lua_pushvalue(L, 1);
            lua_call(L, 1, 1);
            return 1;
        }
    }
    char16_t text[64];
    FormatBuffer(text, 64, u"table: 0x%p", static_cast<const void*>(object));
    char utf8[64];
    WideToUtf8(utf8, 64, text);
    lua_pushstring(L, utf8);
    return 1;
}

int LuaScriptManager::MemberAssignHandler(lua_State* L)
{
    // Assigning to a class table adds a member every object of the class sees.
    PushKey(L, &_CLASS_OF_KEY);
    lua_rawget(L, LUA_REGISTRYINDEX);
    lua_pushvalue(L, 1);
    lua_rawget(L, -2);
    if (!lua_istable(L, -1))
    {
        lua_settop(L, 3);
        lua_rawset(L, 1);
        return 0;
    }
    if (lua_type(L, 2) == LUA_TSTRING)
    {
        const char* name = lua_tostring(L, 2);
        if (name[0] == '_' && name[1] == '_')
            return 0; // the metamethods are not the script's to replace
    }
    lua_pushvalue(L, 2);
    lua_pushvalue(L, 3);
    lua_rawset(L, -3);
    return 0;
}

int LuaScriptManager::ClassCallHandler(lua_State* L)
{
    // Calling a class table calls its creator with the remaining arguments.
    lua_pushliteral(L, "new");
    lua_rawget(L, 1);
    if (!lua_isfunction(L, -1))
        return 0;
    lua_replace(L, 1);
    lua_call(L, lua_gettop(L) - 1, LUA_MULTRET);
    return lua_gettop(L);
}

int LuaScriptManager::MarkerCollected(lua_State* L)
{
    auto* marker = static_cast<ScriptMarker*>(lua_touserdata(L, 1));
    if (marker == nullptr || marker->mObject == nullptr)
        return 0;
    ScriptObject* object = marker->mObject;
    marker->mObject = nullptr;
    ScriptBinding* binding = object->mBinding;
    if (binding == nullptr || binding->mMarker != marker)
        return 0; // the object was bound again since
    binding->mMarker = nullptr;
    auto* manager = static_cast<LuaScriptManager*>(binding->mManager);
    if (binding->mHoldCount > 0)
    {
        // Native code holds it: only the script side ends. A closing state detaches the object entirely.
        if (manager->mClosing)
            manager->DetachBinding(object);
        return 0;
    }
    delete object; // its destructor unbinds it
    return 0;
}

// --- Objects --------------------------------------------------------------------------------------------

bool LuaScriptManager::PushObjectTable(lua_State* L, ScriptObject* object)
{
    if (object == nullptr || object->mBinding == nullptr || object->mBinding->mMarker == nullptr ||
        object->mBinding->mState != mCurrent)
        return false;
    PushRegistryRef(L, Current().mObjectTable);
    PushKey(L, object);
    lua_rawget(L, -2);
    lua_remove(L, -2);
    if (!lua_istable(L, -1))
    {
        lua_pop(L, 1);
        return false;
    }
    return true;
}

void LuaScriptManager::PushObject(ScriptObject* object)
{
    lua_State* L = ActiveState();
    if (!lua_checkstack(L, 4) || !PushObjectTable(L, object))
        lua_pushnil(L);
}

ScriptObject* LuaScriptManager::BindObject(const String& className, ScriptObject* object, bool proxy)
{
    if (object == nullptr)
        return nullptr;
    lua_State* L = ActiveState();
    if (!lua_checkstack(L, 16))
        return nullptr;
    int top = lua_gettop(L);
    ScriptBinding* binding = object->mBinding;
    if (binding && binding->mManager == this && PushObjectTable(L, object))
    {
        lua_settop(L, top);
        return object;
    }

    std::string name = ToUtf8(className);
    PushRegistryRef(L, Current().mClassTable);
    lua_pushstring(L, name.c_str());
    lua_rawget(L, -2);
    if (!lua_istable(L, -1))
    {
        LogBoth(FormatString(u"[LS] Can't bind object to unknown class %ls", className).c_str());
        lua_settop(L, top);
        return nullptr;
    }
    int meta = lua_gettop(L);

    if (binding == nullptr)
    {
        binding = new ScriptBinding;
        object->mBinding = binding;
    }
    else if (binding->mMarker)
    {
        // The old table is gone (waiting for its release) or lives in another state: cut it loose.
        binding->mMarker->mObject = nullptr;
        binding->mMarker = nullptr;
    }
    binding->mManager = this;
    binding->mState = mCurrent;
    binding->mProxy = proxy ? 1 : 0;
    binding->mClassName = className;
    binding->mClassId = 0;
    for (std::size_t i = 0; i < mClasses.size(); ++i)
        if (mClasses[i].mName == className)
            binding->mClassId = static_cast<_dword>(i + 1);

    lua_createtable(L, 0, 1);
    int table = lua_gettop(L);
    PushKey(L, &_MARKER_KEY);
    auto* marker = static_cast<ScriptMarker*>(lua_newuserdata(L, sizeof(ScriptMarker)));
    new (marker) ScriptMarker{_SCRIPT_BINDING_TAG, object};
    PushKey(L, &_MARKER_META_KEY);
    lua_rawget(L, LUA_REGISTRYINDEX);
    lua_setmetatable(L, -2);
    lua_rawset(L, table);
    binding->mMarker = marker;

    // A private metatable per object, in front of the class's one: its handlers know the object from
    // their upvalues, and for a proxy it holds the script's own fields so the table itself stays empty.
    lua_createtable(L, 0, 4);
    int own = lua_gettop(L);
    const lua_CFunction handlers[3] = {IndexHandler, NewIndexHandler, ToStringHandler};
    const char* names[3] = {"__index", "__newindex", "__tostring"};
    for (int i = 0; i < 3; ++i)
    {
        PushKey(L, &_MARKER_KEY);
        lua_rawget(L, table);
        lua_pushvalue(L, meta);
        lua_pushboolean(L, proxy);
        lua_pushcclosure(L, handlers[i], 3);
        lua_setfield(L, own, names[i]);
    }
    PushPrivateMeta(L);
    lua_setfield(L, own, "__metatable");
    lua_pushvalue(L, meta);
    lua_setmetatable(L, own);
    lua_setmetatable(L, table);

    if (!proxy)
    {
        // Methods are copied into the table itself, so a method call finds them without the handler;
        // generic ones get the table and its marker as upvalues and skip the marker lookup.
        lua_pushnil(L);
        while (lua_next(L, meta) != 0)
        {
            const char* member = lua_type(L, -2) == LUA_TSTRING ? lua_tostring(L, -2) : nullptr;
            if (member && !(member[0] == '_' && member[1] == '_') && lua_isfunction(L, -1))
            {
                lua_pushvalue(L, -2);
                if (lua_tocfunction(L, -2) == ScriptNativeThunk && lua_getupvalue(L, -2, 1))
                {
                    lua_pushvalue(L, table);
                    PushKey(L, &_MARKER_KEY);
                    lua_rawget(L, table);
                    lua_pushcclosure(L, ScriptNativeThunk, 3);
                }
                else
                    lua_pushvalue(L, -2);
                lua_rawset(L, table);
            }
            lua_pop(L, 1);
        }
    }

    PushRegistryRef(L, Current().mObjectTable);
    PushKey(L, object);
    lua_pushvalue(L, table);
    lua_rawset(L, -3);
    lua_settop(L, top);
    mBound.insert(object);

    // Anchored until the native call that bound it ends (or the current top-level run does), so the
    // table survives until a script or native code holds it.
    ++binding->mTempAnchors;
    UpdateAnchor(object);
    DeferredRelease entry;
    entry.mPointer = object;
    entry.mDepth = static_cast<_dword>(mFrames.size());
    entry.mKind = _DEFER_ANCHOR;
    mDeferred.push_back(entry);
    return object;
}

void LuaScriptManager::UpdateAnchor(ScriptObject* object)
{
    ScriptBinding* binding = object->mBinding;
    const StateRecord* record = binding ? BindingState(binding) : nullptr;
    if (record == nullptr || mClosing)
        return;
    lua_State* L = record->mState;
    if (!lua_checkstack(L, 4))
        return;
    bool anchored = binding->mHoldCount > 0 || binding->mTempAnchors > 0;
    PushRegistryRef(L, record->mAnchorTable);
    PushKey(L, object);
    if (anchored && binding->mMarker)
    {
        PushRegistryRef(L, record->mObjectTable);
        PushKey(L, object);
        lua_rawget(L, -2);
        lua_remove(L, -2);
    }
    else
        lua_pushnil(L);
    lua_rawset(L, -3);
    lua_pop(L, 1);
}

const LuaScriptManager::StateRecord* LuaScriptManager::BindingState(const ScriptBinding* binding) const
{
    if (binding->mManager != this || binding->mState >= mStates.size() ||
        mStates[binding->mState].mState == nullptr)
        return nullptr;
    return &mStates[binding->mState];
}

void LuaScriptManager::DetachBinding(ScriptObject* object)
{
    ScriptBinding* binding = object->mBinding;
    mBound.erase(object);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < mDeferred.size(); ++i)
        if (mDeferred[i].mPointer != object)
            mDeferred[kept++] = mDeferred[i];
    mDeferred.resize(kept);
    if (binding == nullptr)
        return;
    if (binding->mMarker)
        binding->mMarker->mObject = nullptr;
    const StateRecord* record = BindingState(binding);
    if (record && !mClosing)
    {
        lua_State* L = record->mState;
        if (lua_checkstack(L, 8))
        {
            ClearMethodCopies(L, object);
            PushRegistryRef(L, record->mObjectTable);
            PushKey(L, object);
            lua_pushnil(L);
            lua_rawset(L, -3);
            lua_pop(L, 1);
            PushRegistryRef(L, record->mAnchorTable);
            PushKey(L, object);
            lua_pushnil(L);
            lua_rawset(L, -3);
            for (const void* key : binding->mFields)
            {
                PushKey(L, key);
                lua_pushnil(L);
                lua_rawset(L, -3);
            }
            lua_pop(L, 1);
            for (int reference : binding->mRefs)
                luaL_unref(L, LUA_REGISTRYINDEX, reference);
        }
    }
    object->mBinding = nullptr;
    delete binding;
}

void LuaScriptManager::ClearMethodCopies(lua_State* L, ScriptObject* object)
{
    // A script that keeps the table of a destroyed object finds its methods gone.
    int top = lua_gettop(L);
    if (object->mBinding->mProxy == 0 && PushObjectTable(L, object) && PushMembers(L, top + 1) != 0)
    {
        int table = top + 1;
        int meta = top + 2;
        lua_pushnil(L);
        while (lua_next(L, meta) != 0)
        {
            if (lua_isfunction(L, -1) && lua_type(L, -2) == LUA_TSTRING)
            {
                lua_pushvalue(L, -2);
                lua_rawget(L, table);
                bool copied = lua_iscfunction(L, -1);
                lua_pop(L, 1);
                if (copied)
                {
                    lua_pushvalue(L, -2);
                    lua_pushnil(L);
                    lua_rawset(L, table);
                }
            }
            lua_pop(L, 1);
        }
    }
    lua_settop(L, top);
}

void LuaScriptManager::UnbindObject(ScriptObject* object)
{
    if (object == nullptr || object->mBinding == nullptr)
        return;
    if (object->mBinding->mManager != this)
    {
        // Bound by a manager that is gone: only the record remains.
        delete object->mBinding;
        object->mBinding = nullptr;
        return;
    }
    DetachBinding(object);
}

void LuaScriptManager::AddBindingRef(ScriptObject* object)
{
    if (object == nullptr || object->mBinding == nullptr)
        return;
    if (++object->mBinding->mHoldCount == 1)
        UpdateAnchor(object);
}

void LuaScriptManager::ReleaseBindingRef(ScriptObject* object)
{
    if (object == nullptr || object->mBinding == nullptr || object->mBinding->mHoldCount == 0)
        return;
    if (--object->mBinding->mHoldCount == 0)
        UpdateAnchor(object);
}

void LuaScriptManager::PushObjectRef(ScriptObject* object)
{
    lua_State* L = ActiveState();
    if (!lua_checkstack(L, 4) || !PushObjectTable(L, object))
        return;
    object->mBinding->mRefs.push_back(luaL_ref(L, LUA_REGISTRYINDEX));
}

void LuaScriptManager::PopObjectRef(ScriptObject* object)
{
    if (object == nullptr || object->mBinding == nullptr || object->mBinding->mRefs.empty())
        return;
    int reference = object->mBinding->mRefs.front();
    object->mBinding->mRefs.pop_front();
    Unref(reference);
}

bool LuaScriptManager::StoreField(ScriptObject* object, const void* key)
{
    // Object fields live in the anchor table (strongly, unlike the weak object table) under their key;
    // the object's binding remembers the key so its fields go when it does.
    lua_State* L = ActiveState();
    if (lua_gettop(L) < 1)
        return false;
    if (key == nullptr || !lua_checkstack(L, 4))
    {
        lua_pop(L, 1);
        return false;
    }
    bool clearing = lua_isnil(L, -1);
    PushRegistryRef(L, Current().mAnchorTable);
    PushKey(L, key);
    lua_pushvalue(L, -3);
    lua_rawset(L, -3);
    lua_pop(L, 2);
    if (object && object->mBinding && !clearing)
    {
        auto& fields = object->mBinding->mFields;
        bool known = false;
        for (const void* field : fields)
            known = known || field == key;
        if (!known)
            fields.push_back(key);
    }
    return true;
}

void LuaScriptManager::SetObjectField(ScriptObject* object, const void* key)
{
    lua_State* L = ActiveState();
    if (!VEXEL_ASSERT(lua_gettop(L) > 0))
        return;
    StoreField(object, key);
}

void LuaScriptManager::ClearObjectField(ScriptObject* object, const void* key)
{
    lua_State* L = ActiveState();
    if (!lua_checkstack(L, 2))
        return;
    lua_pushnil(L);
    StoreField(object, key);
}

bool LuaScriptManager::SetObjectFunction(ScriptObject* object, const void* key, _dword index)
{
    int position = ArgPosition(index);
    if (position == 0)
        return false;
    lua_State* L = mFrames.back().mState;
    if (!lua_isfunction(L, position) || !lua_checkstack(L, 2))
        return false;
    lua_pushvalue(L, position);
    return StoreField(object, key);
}

void LuaScriptManager::ClearObjectFunction(ScriptObject* object, const void* key)
{
    ClearObjectField(object, key);
}

void LuaScriptManager::MoveRefToObject(ScriptObject* object, const void* key, int& reference)
{
    lua_State* L = ActiveState();
    if (reference <= 0 || !lua_checkstack(L, 2))
        return;
    lua_rawgeti(L, LUA_REGISTRYINDEX, reference);
    StoreField(object, key);
    Unref(reference);
}

} // namespace Vexel
