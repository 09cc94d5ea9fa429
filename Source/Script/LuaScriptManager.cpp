#include "Script/LuaScriptManager.h"

#include "Common/Assert.h"
#include "Common/Compression.h"
#include "Common/Log.h"
#include "Common/StringEncoding.h"
#include "Common/StringFormatter.h"
#include "Platform/File.h"
#include "Script/LuaRuntime.h"
#include "Script/ScriptConfig.h"
#include "Script/ScriptObject.h"

#include <chrono>
#include <cstring>

namespace Vexel
{

using namespace LuaRuntime;

namespace LuaRuntime
{
const char _MARKER_KEY = 0;
const char _MARKER_META_KEY = 0;
const char _PRIVATE_META_KEY = 0;
const char _CLASS_OF_KEY = 0;

String ToWide(lua_State* L, int index)
{
    std::size_t length = 0;
    const char* text = lua_type(L, index) == LUA_TSTRING || lua_type(L, index) == LUA_TNUMBER
                           ? lua_tolstring(L, index, &length)
                           : nullptr;
    return text ? FromUtf8(std::string_view(text, length)) : String();
}

String ErrorText(lua_State* L, int index)
{
    int type = lua_type(L, index);
    if (type == LUA_TSTRING || type == LUA_TNUMBER)
        return ToWide(L, index);
    // Metamethods are not run here: this may be outside any protected call.
    return FormatString(u"(error object is a %hs value)", lua_typename(L, type));
}

void PushWide(lua_State* L, std::u16string_view text)
{
    std::string utf8 = ToUtf8(text);
    lua_pushlstring(L, utf8.data(), utf8.size());
}

bool IsIdentifier(std::string_view name)
{
    if (name.empty())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i)
    {
        char c = name[i];
        bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
        if (!letter && !(i > 0 && c >= '0' && c <= '9'))
            return false;
    }
    return true;
}
} // namespace LuaRuntime

namespace
{
const String _EMPTY_TEXT;

std::int64_t SteadyNow()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int Panic(lua_State* L)
{
    String text = ErrorText(L, -1);
    LogBoth(FormatString(u"[LS] Unprotected script error: %ls", text).c_str());
    return 0;
}

// Release handler of function references held by variables: duplicates on copy, releases on clear.
void ScriptRefRelease(Variable* variable, _dword release)
{
    int reference = variable->GetScriptRef();
    LuaScriptManager* manager = LuaScriptManager::Instance();
    if (reference <= 0)
        return;
    if (manager == nullptr)
    {
        if (release == 0)
            variable->SetScriptRef(0);
        return;
    }
    if (release != 0)
    {
        manager->Unref(reference);
        return;
    }
    lua_State* L = manager->GetLuaState();
    lua_rawgeti(L, LUA_REGISTRYINDEX, reference);
    variable->SetScriptRef(luaL_ref(L, LUA_REGISTRYINDEX));
}

} // namespace

// --- Construction ---------------------------------------------------------------------------------------

LuaScriptManager::LuaScriptManager() : mClock(SteadyNow), mClockFrequency(1000000000)
{
    mFrames.reserve(16);
    mDeferred.reserve(16);
    mUnknownAllocations.mSource = u"?";
    mUnknownAllocations.mName = u"?";
    mUnknownAllocations.mLine = 0;
    _dword handle = CreateState(nullptr);
    SwitchState(handle);
    // Not ownership: the Lua C callbacks and variables' reference release find the manager here.
    if (VEXEL_ASSERT(sInstance == nullptr))
        sInstance = this;
}

LuaScriptManager::~LuaScriptManager()
{
    mRecycled.clear();
    mDeferred.clear();
    if (mProfiling)
        DumpProfile();
    if (mAllocThreshold > 0 && mAllocState)
        lua_setallocf(mAllocState, mBaseAlloc, mBaseAllocData);
    if (mHookInstalled)
    {
        mProfiling = false;
        mAllocThreshold = -1;
        UpdateHook();
    }
    mConfigs.clear();
    // From here on objects are only detached from scripts: closing a state finalises every bound table,
    // destroying the objects native code does not hold.
    mClosing = true;
    for (auto& record : mStates)
        if (record.mOwned && record.mState)
        {
            lua_close(record.mState);
            record.mState = nullptr;
        }
    while (!mBound.empty())
        DetachBinding(*mBound.begin());
    if (sInstance == this)
        sInstance = nullptr;
}

void LuaScriptManager::SetErrorCallback(ScriptErrorCallback callback)
{
    mErrorCallback = callback;
}

_dword LuaScriptManager::CreateState(lua_State* state)
{
    bool owned = false;
    if (state == nullptr)
    {
        state = luaL_newstate();
        if (state == nullptr)
        {
            LogBoth(u"[LS] Can't open new lua state");
            return 0xFFFFFFFF;
        }
        owned = true;
        lua_atpanic(state, Panic);
        luaL_openlibs(state);
        // Scripts run in the interpreter: jit.off().
        int top = lua_gettop(state);
        lua_getfield(state, LUA_GLOBALSINDEX, "jit");
        if (lua_istable(state, -1))
        {
            lua_getfield(state, -1, "off");
            if (lua_isfunction(state, -1))
                lua_pcall(state, 0, 0, 0);
        }
        lua_settop(state, top);
    }
    StateRecord record;
    record.mState = state;
    record.mOwned = owned;
    lua_State* L = state;

    // Object table: native object -> script table, weak values.
    lua_newtable(L);
    lua_newtable(L);
    lua_pushliteral(L, "v");
    lua_setfield(L, -2, "__mode");
    lua_setmetatable(L, -2);
    record.mObjectTable = luaL_ref(L, LUA_REGISTRYINDEX);

    lua_newtable(L);
    record.mAnchorTable = luaL_ref(L, LUA_REGISTRYINDEX);

    // Member-table template: the metatable of every class table.
    lua_newtable(L);
    lua_newtable(L);
    lua_setfield(L, -2, "__index");
    lua_pushlightuserdata(L, this);
    lua_pushcclosure(L, MemberAssignHandler, 1);
    lua_setfield(L, -2, "__newindex");
    lua_pushcfunction(L, ClassCallHandler);
    lua_setfield(L, -2, "__call");
    record.mMemberTemplate = luaL_ref(L, LUA_REGISTRYINDEX);

    lua_newtable(L);
    record.mClassTable = luaL_ref(L, LUA_REGISTRYINDEX);

    PrepareState(L);
    mStates.push_back(record);
    return static_cast<_dword>(mStates.size() - 1);
}

void LuaScriptManager::PrepareState(lua_State* L)
{
    // Private "__metatable" value shared by every class.
    PushKey(L, &_PRIVATE_META_KEY);
    lua_newtable(L);
    lua_rawset(L, LUA_REGISTRYINDEX);

    // Markers: __gc is the release routine of collected bound tables.
    PushKey(L, &_MARKER_META_KEY);
    lua_newtable(L);
    lua_pushcfunction(L, MarkerCollected);
    lua_setfield(L, -2, "__gc");
    PushKey(L, &_PRIVATE_META_KEY);
    lua_rawget(L, LUA_REGISTRYINDEX);
    lua_setfield(L, -2, "__metatable");
    lua_rawset(L, LUA_REGISTRYINDEX);

    // Class table -> class metatable, for scripts that add members through the class table.
    PushKey(L, &_CLASS_OF_KEY);
    lua_newtable(L);
    lua_newtable(L);
    lua_pushliteral(L, "k");
    lua_setfield(L, -2, "__mode");
    lua_setmetatable(L, -2);
    lua_rawset(L, LUA_REGISTRYINDEX);
}

bool LuaScriptManager::SwitchState(_dword handle)
{
    if (handle >= mStates.size())
    {
        LogTrace(u"[LS] Failed to switch script state to invalid index %d", static_cast<int>(handle));
        return false;
    }
    const StateRecord& record = mStates[handle];
    mCurrent = handle;
    mLuaState = record.mState;
    mObjectTable = record.mObjectTable;
    mAnchorTable = record.mAnchorTable;
    mMemberTemplate = record.mMemberTemplate;
    return true;
}

_dword LuaScriptManager::GetScriptType()
{
    return _SCRIPT_TYPE_LUA;
}

lua_State* LuaScriptManager::GetLuaState()
{
    return mLuaState;
}

void LuaScriptManager::Reserved6() {}
void LuaScriptManager::Reserved7() {}

lua_State* LuaScriptManager::GetRuntimeState()
{
    return mLuaState;
}

lua_State* LuaScriptManager::ActiveState() const
{
    // Inside a native call the calling thread (possibly a coroutine) is the one to work on.
    if (!mFrames.empty() && mFrames.back().mHandle == mCurrent)
        return mFrames.back().mState;
    return mLuaState;
}

// --- Compiling and running ------------------------------------------------------------------------------

bool LuaScriptManager::ReadSource(const String& path, std::vector<_byte>& buffer)
{
    buffer.clear();
    if (mLoader)
    {
        void* data = nullptr;
        _dword length = 0;
        if (mLoader(path, &data, &length, mLoaderContext))
        {
            const _byte* bytes = static_cast<const _byte*>(data);
            if (bytes != nullptr)
                buffer.assign(bytes, bytes + length);
            if (mLoaderRelease)
                mLoaderRelease(data, mLoaderContext);
            return true;
        }
    }
    if (!ReadFile(path, buffer))
    {
        LogBoth(FormatString(u"[LS] Can't read script %ls", path).c_str());
        return false;
    }
    return true;
}

void LuaScriptManager::CheckError(lua_State* L, int status)
{
    if (status == 0)
    {
        mLastError.clear();
        return;
    }
    mLastError = ErrorText(L, -1);
    lua_pop(L, 1);
    if (mErrorCallback)
        mErrorCallback(mLastError);
}

int LuaScriptManager::CompileChunk(const void* data, std::size_t length, const std::string& chunkName)
{
    lua_State* L = ActiveState();
    int top = lua_gettop(L);
    int status = luaL_loadbuffer(L, static_cast<const char*>(data), length, chunkName.c_str());
    if (status != 0)
    {
        CheckError(L, status);
        LogBoth(mLastError.c_str());
        lua_settop(L, top);
        return 0;
    }
    mLastError.clear();
    return luaL_ref(L, LUA_REGISTRYINDEX);
}

int LuaScriptManager::CompileString(const String& text, const String& name)
{
    std::string utf8 = ToUtf8(text);
    return CompileChunk(utf8.data(), utf8.size(), name.empty() ? utf8 : ToUtf8(name));
}

int LuaScriptManager::CompileBuffer(const void* data, _dword length, const String& name)
{
    if (data == nullptr && length != 0)
        return 0;
    return CompileChunk(data ? data : "", length, ToUtf8(FormatString(u"@%ls", name)));
}

int LuaScriptManager::CompileFile(const String& path)
{
    std::vector<_byte> buffer;
    if (!ReadSource(path, buffer))
        return 0;
    return CompileBuffer(buffer.data(), static_cast<_dword>(buffer.size()), path);
}

Variable LuaScriptManager::FinishRun(lua_State* L, int status, _dword resultMode)
{
    Variable result;
    if (status != 0)
    {
        CheckError(L, status);
        LogBoth(mLastError.c_str());
        return result;
    }
    mLastError.clear();
    if (resultMode == _SCRIPT_RESULT_VALUE)
        ToVariable(L, -1, result);
    if (resultMode == _SCRIPT_RESULT_STACK)
        mResultsOnStack = true;
    else
        lua_pop(L, 1);
    return result;
}

Variable LuaScriptManager::RunChunk(const void* data, std::size_t length, const std::string& chunkName,
                                    _dword resultMode)
{
    lua_State* L = ActiveState();
    int status = luaL_loadbuffer(L, static_cast<const char*>(data), length, chunkName.c_str());
    if (status == 0)
        status = ProtectedCall(L, 0);
    return FinishRun(L, status, resultMode);
}

Variable LuaScriptManager::RunString(const String& text, const String& name, _dword resultMode)
{
    std::string utf8 = ToUtf8(text);
    return RunChunk(utf8.data(), utf8.size(), name.empty() ? utf8 : ToUtf8(name), resultMode);
}

Variable LuaScriptManager::RunBuffer(const void* data, _dword length, const String& name, _dword resultMode)
{
    if (data == nullptr && length != 0)
        return Variable();
    const _byte* bytes = static_cast<const _byte*>(data);
    // Packed scripts (the launcher script is carried packed) are unpacked first.
    ByteBuffer unpacked;
    if (bytes && IsCompressed(bytes, length))
    {
        unpacked.assign(bytes, bytes + length);
        bool changed = false;
        if (!DecompressBuffer(unpacked, changed))
        {
            LogBoth(FormatString(u"[LS] Can't unpack script %ls", name).c_str());
            return Variable();
        }
        bytes = unpacked.data();
        length = static_cast<_dword>(unpacked.size());
    }
    if (length >= 4 && std::memcmp(bytes, "LUC1", 4) == 0)
        return RunConfigBlocks(bytes, length);
    Variable result = RunChunk(bytes ? bytes : reinterpret_cast<const _byte*>(""), length,
                               ToUtf8(FormatString(u"@%ls", name)), resultMode);
    if (!mLastError.empty())
        SetLastError(mLastError);
    return result;
}

Variable LuaScriptManager::RunFile(const String& path, _dword resultMode)
{
    std::vector<_byte> buffer;
    if (!ReadSource(path, buffer))
        return Variable();
    return RunBuffer(buffer.data(), static_cast<_dword>(buffer.size()), path, resultMode);
}

int LuaScriptManager::TracebackHandler(lua_State* L)
{
    if (lua_type(L, 1) != LUA_TSTRING)
        return 1;
    lua_getfield(L, LUA_GLOBALSINDEX, "debug");
    if (!lua_istable(L, -1))
    {
        lua_pop(L, 1);
        return 1;
    }
    lua_getfield(L, -1, "traceback");
    if (!lua_isfunction(L, -1))
    {
        lua_pop(L, 2);
        return 1;
    }
    lua_pushvalue(L, 1);
    lua_pushinteger(L, 2);
    lua_call(L, 2, 1);
    return 1;
}

int LuaScriptManager::ProtectedCall(lua_State* L, int argCount)
{
    int function = lua_gettop(L) - argCount;
    // Scripts and native calls that call each other without end would exhaust the C stack first.
    if (mCallNesting >= _MAX_CALL_NESTING)
    {
        lua_settop(L, function - 1);
        lua_pushliteral(L, "C stack overflow");
        return LUA_ERRRUN;
    }
    ++mCallNesting;
    // The marker bounds the records this call may leave open, so an error never unbalances the stack.
    std::size_t base = mProfStack.size();
    mProfStack.push_back(nullptr);
    lua_pushcfunction(L, TracebackHandler);
    lua_insert(L, function);
    int status = lua_pcall(L, argCount, 1, function);
    lua_remove(L, function);
    --mCallNesting;
    CloseProfileRecords(base);
    if (status != 0)
        lua_gc(L, LUA_GCCOLLECT, 0);
    if (mFrames.empty())
    {
        ProcessDeferred(-1);
        DrainRecycled();
    }
    return status;
}

void LuaScriptManager::SetLastError(const String& text)
{
    mLastError = text;
}

void LuaScriptManager::ReportError(const String& text)
{
    if (mErrorCallback)
        mErrorCallback(text);
}

const String& LuaScriptManager::GetLastError()
{
    return mLastError;
}

void LuaScriptManager::CollectGarbage()
{
    lua_gc(ActiveState(), LUA_GCCOLLECT, 0);
}

void LuaScriptManager::SetScriptError(const String& text)
{
    mPendingError = text.empty() ? String(u"script error") : text;
}

void LuaScriptManager::SetResourceLoader(ResourceLoader loader, ResourceRelease release, void* context)
{
    mLoader = loader;
    mLoaderRelease = release;
    mLoaderContext = context;
}

// --- Globals --------------------------------------------------------------------------------------------

bool LuaScriptManager::PushTarget(lua_State* L, ScriptObject* object)
{
    if (object == nullptr)
    {
        lua_pushvalue(L, LUA_GLOBALSINDEX);
        return true;
    }
    return PushObjectTable(L, object);
}

bool LuaScriptManager::SetGlobal(ScriptObject* object, const char* name, const Variable& value)
{
    if (name == nullptr)
        return false;
    lua_State* L = ActiveState();
    if (!lua_checkstack(L, 4) || !PushTarget(L, object))
        return false;
    lua_pushstring(L, name);
    PushVariable(L, value);
    // Raw: a script's own __newindex on the globals must not run outside a protected call.
    lua_rawset(L, -3);
    lua_pop(L, 1);
    return true;
}

bool LuaScriptManager::SetGlobal(ScriptObject* object, const String& name, const Variable& value)
{
    return SetGlobal(object, ToUtf8(name).c_str(), value);
}

bool LuaScriptManager::GetGlobal(ScriptObject* object, const char* name, Variable& value)
{
    if (name == nullptr)
        return false;
    lua_State* L = ActiveState();
    if (!lua_checkstack(L, 4) || !PushTarget(L, object))
        return false;
    lua_pushstring(L, name);
    lua_rawget(L, -2);
    bool found = !lua_isnil(L, -1);
    ToVariable(L, -1, value);
    lua_pop(L, 2);
    return found;
}

bool LuaScriptManager::GetGlobal(ScriptObject* object, const String& name, Variable& value)
{
    return GetGlobal(object, ToUtf8(name).c_str(), value);
}

// --- Value conversion -----------------------------------------------------------------------------------

void LuaScriptManager::ToVariable(lua_State* L, int index, Variable& value)
{
    if (!value.IsValid())
        return;
    mConvertBudget = _MAX_CONVERTED_NODES;
    mConvertPath.clear();
    ToVariableAt(L, AbsIndex(L, index), value, 0);
}

void LuaScriptManager::ConvertTyped(lua_State* L, int index, Variable& value)
{
    _dword type = value.GetType();
    int luaType = lua_type(L, index);
    switch (type)
    {
    case _VAR_BOOL:
        value.SetBool(lua_toboolean(L, index) != 0);
        return;
    case _VAR_WCHAR:
    case _VAR_INT8:
    case _VAR_INT16:
    case _VAR_INT32:
    case _VAR_INT64:
    case _VAR_UINT8:
    case _VAR_UINT16:
    case _VAR_UINT32:
    case _VAR_UINT64:
    case _VAR_FLOAT:
    case _VAR_DOUBLE:
        value.SetDouble(lua_tonumber(L, index));
        return;
    case _VAR_TEXT:
        value.SetText(ToWide(L, index));
        return;
    case _VAR_BINARY:
    {
        std::size_t length = 0;
        const char* bytes = luaType == LUA_TSTRING ? lua_tolstring(L, index, &length) : nullptr;
        value.SetBinary(bytes, bytes ? length : 0);
        return;
    }
    default:
        // Containers, pointers and references take the script value's own shape.
        value.SetType(_VAR_EMPTY);
        ToVariableAt(L, index, value, 0);
        return;
    }
}

void LuaScriptManager::ToVariableAt(lua_State* L, int index, Variable& value, int depth)
{
    if (value.GetType() != _VAR_EMPTY)
    {
        ConvertTyped(L, index, value);
        return;
    }
    switch (lua_type(L, index))
    {
    case LUA_TBOOLEAN:
        value.SetType(_VAR_BOOL);
        value.SetBool(lua_toboolean(L, index) != 0);
        return;
    case LUA_TLIGHTUSERDATA:
        value.SetType(_VAR_POINTER);
        value.SetPointer(lua_touserdata(L, index));
        return;
    case LUA_TNUMBER:
        value.SetType(_VAR_DOUBLE);
        value.SetDouble(lua_tonumber(L, index));
        return;
    case LUA_TSTRING:
        value.SetType(_VAR_TEXT);
        value.SetText(ToWide(L, index));
        return;
    case LUA_TFUNCTION:
        value.SetType(_VAR_SCRIPTREF);
        lua_pushvalue(L, index);
        value.SetScriptRef(luaL_ref(L, LUA_REGISTRYINDEX));
        value.SetReleaseHandler(ScriptRefRelease);
        return;
    case LUA_TUSERDATA:
    {
        // A user data that shares the strings' metatable is a binary block.
        if (!lua_checkstack(L, 3) || !lua_getmetatable(L, index))
            return;
        lua_pushliteral(L, "");
        bool binary = lua_getmetatable(L, -1) && lua_rawequal(L, -1, -3);
        lua_settop(L, lua_gettop(L) - (binary ? 3 : 2));
        if (binary)
        {
            value.SetType(_VAR_BINARY);
            value.SetBinary(lua_touserdata(L, index), lua_objlen(L, index));
        }
        return;
    }
    case LUA_TTABLE:
        break;
    default:
        return;
    }

    if (ScriptMarker* marker = MarkerOf(L, index))
    {
        value.SetType(_VAR_POINTER);
        value.SetPointer(marker->mObject);
        return;
    }
    const void* identity = lua_topointer(L, index);
    if (depth >= _MAX_DEPTH || mConvertBudget == 0 || !lua_checkstack(L, 4))
    {
        LogTrace(u"[LS] Script table too deep or too large to convert");
        return;
    }
    for (const void* open : mConvertPath)
        if (open == identity)
            return; // a table inside itself converts once
    mConvertPath.push_back(identity);

    std::size_t length = lua_objlen(L, index);
    std::size_t entries = 0;
    lua_pushnil(L);
    while (lua_next(L, index) != 0)
    {
        ++entries;
        lua_pop(L, 1);
    }
    if (length > 0 && entries <= length)
    {
        value.SetType(_VAR_ARRAY);
        value.Resize(static_cast<_dword>(length));
        for (std::size_t i = 0; i < length && mConvertBudget > 0; ++i)
        {
            --mConvertBudget;
            lua_rawgeti(L, index, static_cast<int>(i + 1));
            ToVariableAt(L, lua_gettop(L), value.GetChild(static_cast<_dword>(i)), depth + 1);
            lua_pop(L, 1);
        }
    }
    else
    {
        value.SetType(_VAR_STRUCT);
        lua_pushnil(L);
        while (lua_next(L, index) != 0)
        {
            int keyType = lua_type(L, -2);
            if ((keyType == LUA_TSTRING || keyType == LUA_TNUMBER) && mConvertBudget > 0)
            {
                --mConvertBudget;
                // Converting a copy keeps lua_next's key intact.
                lua_pushvalue(L, -2);
                Variable& member = value.AddMember(ToWide(L, -1), _VAR_EMPTY);
                lua_pop(L, 1);
                ToVariableAt(L, lua_gettop(L), member, depth + 1);
                // After the value: setting a type clears the key number.
                if (keyType == LUA_TNUMBER)
                    member.SetKeyNumber(lua_tonumber(L, -2));
            }
            lua_pop(L, 1);
        }
    }
    mConvertPath.pop_back();
}

void LuaScriptManager::PushVariable(lua_State* L, const Variable& value)
{
    PushVariableAt(L, value, 0);
}

void LuaScriptManager::PushVariableAt(lua_State* L, const Variable& value, int depth)
{
    if (!lua_checkstack(L, 3))
        return; // nothing sensible can be pushed; callers check their own stack room first
    if (value.IsArray())
    {
        _dword count = value.GetChildCount();
        lua_createtable(L, static_cast<int>(count), 0);
        if (depth < _MAX_DEPTH)
            for (_dword i = 0; i < count; ++i)
            {
                PushVariableAt(L, value.GetChild(i), depth + 1);
                lua_rawseti(L, -2, static_cast<int>(i + 1));
            }
        return;
    }
    switch (value.GetBaseType())
    {
    case _VAR_STRUCT:
    {
        _dword count = value.GetChildCount();
        lua_createtable(L, 0, static_cast<int>(count));
        if (depth < _MAX_DEPTH)
            for (_dword i = 0; i < count; ++i)
            {
                const Variable& member = value.GetChild(i);
                if (member.HasKeyNumber())
                    lua_pushnumber(L, member.GetKeyNumber());
                else
                    PushWide(L, member.GetName());
                PushVariableAt(L, member, depth + 1);
                lua_rawset(L, -3);
            }
        return;
    }
    case _VAR_BOOL:
        lua_pushboolean(L, value.GetBool());
        return;
    case _VAR_WCHAR:
    case _VAR_INT8:
    case _VAR_INT16:
    case _VAR_INT32:
    case _VAR_INT64:
        lua_pushnumber(L, static_cast<lua_Number>(value.GetInt64()));
        return;
    case _VAR_UINT8:
    case _VAR_UINT16:
    case _VAR_UINT32:
    case _VAR_UINT64:
        lua_pushnumber(L, static_cast<lua_Number>(value.GetUInt64()));
        return;
    case _VAR_FLOAT:
    case _VAR_DOUBLE:
        lua_pushnumber(L, value.GetDouble());
        return;
    case _VAR_TEXT:
        PushWide(L, value.GetText());
        return;
    case _VAR_BINARY:
        lua_pushlstring(L, reinterpret_cast<const char*>(value.GetBinaryData()), value.GetBinarySize());
        return;
    case _VAR_POINTER:
    {
        void* pointer = value.GetPointer();
        // A pointer that names a bound object of this state is that object's table.
        if (pointer == nullptr)
            lua_pushnil(L);
        else
        {
            PushRegistryRef(L, Current().mObjectTable);
            PushKey(L, pointer);
            lua_rawget(L, -2);
            lua_remove(L, -2);
            if (lua_isnil(L, -1))
            {
                lua_pop(L, 1);
                lua_pushlightuserdata(L, pointer);
            }
        }
        return;
    }
    case _VAR_SCRIPTREF:
    {
        int reference = value.GetScriptRef();
        if (reference > 0)
            lua_rawgeti(L, LUA_REGISTRYINDEX, reference);
        else
            lua_pushnil(L);
        return;
    }
    default:
        lua_pushnil(L);
        return;
    }
}

// --- Calling scripts ------------------------------------------------------------------------------------

bool LuaScriptManager::CallPrepared(lua_State* L, int top, int selfCount, const Variable* args,
                                    _dword argCount, Variable* result)
{
    if (!lua_isfunction(L, -1 - selfCount))
    {
        lua_settop(L, top);
        return false;
    }
    if (!lua_checkstack(L, static_cast<int>(argCount) + 4))
    {
        lua_settop(L, top);
        return false;
    }
    for (_dword i = 0; i < argCount && args; ++i)
        PushVariable(L, args[i]);
    int status = ProtectedCall(L, static_cast<int>(argCount) + selfCount);
    if (status != 0)
    {
        CheckError(L, status);
        LogBoth(mLastError.c_str());
    }
    else if (result)
        ToVariable(L, -1, *result);
    lua_settop(L, top);
    return status == 0;
}

bool LuaScriptManager::CallRef(int reference, const Variable* args, _dword argCount, Variable* result)
{
    lua_State* L = ActiveState();
    if (reference <= 0 || !lua_checkstack(L, 4))
        return false;
    int top = lua_gettop(L);
    lua_rawgeti(L, LUA_REGISTRYINDEX, reference);
    return CallPrepared(L, top, 0, args, argCount, result);
}

bool LuaScriptManager::PushMemberFunction(lua_State* L, ScriptObject* object, const char* name)
{
    // Globals, or the object's own field, then its class's member; the object goes first as self.
    if (object == nullptr)
    {
        lua_pushstring(L, name);
        lua_rawget(L, LUA_GLOBALSINDEX);
        return true;
    }
    if (!PushObjectTable(L, object))
        return false;
    int table = lua_gettop(L);
    lua_pushstring(L, name);
    lua_rawget(L, table);
    if (lua_isnil(L, -1) && lua_getmetatable(L, table))
    {
        // The class metatable sits behind the object's own one.
        if (lua_getmetatable(L, -1))
        {
            lua_pushstring(L, name);
            lua_rawget(L, -2);
            lua_replace(L, -4);
            lua_pop(L, 1);
        }
        lua_pop(L, 1);
    }
    lua_insert(L, table); // function, self
    return true;
}

bool LuaScriptManager::CallMethod(ScriptObject* object, const char* name, const Variable* args,
                                  _dword argCount, Variable* result)
{
    lua_State* L = ActiveState();
    if (name == nullptr || !lua_checkstack(L, 6))
        return false;
    int top = lua_gettop(L);
    if (!PushMemberFunction(L, object, name))
        return false;
    return CallPrepared(L, top, object ? 1 : 0, args, argCount, result);
}

bool LuaScriptManager::CallFunction(ScriptObject* object, const char* name)
{
    return CallMethod(object, name, nullptr, 0, nullptr);
}

// --- Native call protocol -------------------------------------------------------------------------------

void LuaScriptManager::PushFrame(lua_State* L, int top)
{
    CallFrame frame;
    frame.mState = L;
    frame.mTop = top;
    frame.mHandle = mCurrent;
    frame.mTextMark = mTextsUsed;
    mFrames.push_back(frame);
}

const void* LuaScriptManager::BeginNativeCall(lua_State* L)
{
    PushFrame(L, lua_gettop(L));
    return lua_touserdata(L, lua_upvalueindex(1));
}

void LuaScriptManager::NativeCallStub() {}

ScriptObject* LuaScriptManager::GetCallObject()
{
    if (mFrames.empty())
        return nullptr;
    CallFrame& frame = mFrames.back();
    ScriptMarker* marker = MarkerOf(frame.mState, 1);
    if (marker == nullptr || marker->mObject == nullptr)
        return nullptr;
    frame.mObject = marker->mObject;
    frame.mBase = 2;
    return frame.mObject;
}

int LuaScriptManager::ArgPosition(_dword index) const
{
    if (mFrames.empty() || index > 0xFFFF)
        return 0;
    const CallFrame& frame = mFrames.back();
    int position = frame.mBase + static_cast<int>(index);
    return position <= frame.mTop ? position : 0;
}

_dword LuaScriptManager::GetArgCount()
{
    if (mFrames.empty())
        return 0;
    const CallFrame& frame = mFrames.back();
    int count = frame.mTop - (frame.mBase - 1);
    return count > 0 ? static_cast<_dword>(count) : 0;
}

bool LuaScriptManager::GetArgBool(_dword index)
{
    int position = ArgPosition(index);
    return position != 0 && lua_toboolean(mFrames.back().mState, position) != 0;
}

double LuaScriptManager::ArgNumber(_dword index)
{
    int position = ArgPosition(index);
    return position != 0 ? lua_tonumber(mFrames.back().mState, position) : 0.0;
}

int LuaScriptManager::GetArgInt(_dword index)
{
    return NumberToInt32(ArgNumber(index));
}
int LuaScriptManager::GetArgInt8(_dword index)
{
    return GetArgInt(index);
}
int LuaScriptManager::GetArgInt16(_dword index)
{
    return GetArgInt(index);
}
int LuaScriptManager::GetArgUInt16(_dword index)
{
    return GetArgInt(index);
}
_dword LuaScriptManager::GetArgUInt(_dword index)
{
    return NumberToUInt32(ArgNumber(index));
}
_dword LuaScriptManager::GetArgUInt8(_dword index)
{
    return GetArgUInt(index);
}
long long LuaScriptManager::GetArgInt64(_dword index)
{
    return NumberToInt64(ArgNumber(index));
}
long long LuaScriptManager::GetArgLong(_dword index)
{
    return GetArgInt64(index);
}
unsigned long long LuaScriptManager::GetArgUInt64(_dword index)
{
    return NumberToUInt64(ArgNumber(index));
}
double LuaScriptManager::GetArgDouble(_dword index)
{
    return ArgNumber(index);
}
double LuaScriptManager::GetArgFloat(_dword index)
{
    return GetArgDouble(index);
}

const String& LuaScriptManager::GetArgString(_dword index)
{
    int position = ArgPosition(index);
    if (position == 0)
        return _EMPTY_TEXT;
    lua_State* L = mFrames.back().mState;
    int type = lua_type(L, position);
    if (type != LUA_TSTRING && type != LUA_TNUMBER)
        return _EMPTY_TEXT;
    std::size_t length = 0;
    const char* text = lua_tolstring(L, position, &length);
    // Texts live in a pool released when the call ends, so repeated calls reuse their storage.
    if (mTextsUsed == mTexts.size())
        mTexts.push_back(std::make_unique<String>());
    String& out = *mTexts[mTextsUsed++];
    out.resize(length + 1);
    _dword produced = 0;
    Utf8ToWide(out.data(), static_cast<_dword>(out.size()), text, static_cast<_dword>(length), &produced);
    out.resize(produced);
    return out;
}

ScriptObject* LuaScriptManager::GetArgObject(_dword index)
{
    int position = ArgPosition(index);
    if (position == 0)
        return nullptr;
    ScriptMarker* marker = MarkerOf(mFrames.back().mState, position);
    return marker ? marker->mObject : nullptr;
}

bool LuaScriptManager::GetArgVariable(_dword index, Variable& value)
{
    int position = ArgPosition(index);
    if (position == 0)
        return false;
    ToVariable(mFrames.back().mState, position, value);
    return true;
}

int LuaScriptManager::RefArgument(_dword index)
{
    int position = ArgPosition(index);
    if (position == 0)
        return 0;
    lua_State* L = mFrames.back().mState;
    if (lua_isnil(L, position))
        return 0;
    lua_pushvalue(L, position);
    return luaL_ref(L, LUA_REGISTRYINDEX);
}

void LuaScriptManager::Unref(int& reference)
{
    if (reference > 0)
    {
        if (!mFrames.empty())
        {
            DeferredRelease entry;
            entry.mReference = reference;
            entry.mDepth = static_cast<_dword>(mFrames.size());
            entry.mKind = _DEFER_REF;
            mDeferred.push_back(entry);
        }
        else if (!mClosing)
            luaL_unref(mLuaState, LUA_REGISTRYINDEX, reference);
    }
    reference = 0;
}

void LuaScriptManager::ProcessDeferred(int depth)
{
    // Entries made inside frames deeper than depth (all of them for -1) are due.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < mDeferred.size(); ++i)
    {
        DeferredRelease entry = mDeferred[i];
        if (static_cast<int>(entry.mDepth) <= depth)
        {
            mDeferred[kept++] = entry;
            continue;
        }
        if (entry.mKind == _DEFER_REF)
            mRecycled.push_back(entry.mReference);
        else if (entry.mKind == _DEFER_ANCHOR)
        {
            auto* object = static_cast<ScriptObject*>(entry.mPointer);
            if (object->mBinding && object->mBinding->mTempAnchors > 0)
            {
                --object->mBinding->mTempAnchors;
                UpdateAnchor(object);
            }
        }
    }
    mDeferred.resize(kept);
}

void LuaScriptManager::DrainRecycled()
{
    while (!mRecycled.empty())
    {
        int reference = mRecycled.front();
        mRecycled.pop_front();
        if (!mClosing)
            luaL_unref(mLuaState, LUA_REGISTRYINDEX, reference);
    }
}

int LuaScriptManager::EndCall(int results)
{
    if (mFrames.empty())
        return results;
    lua_State* L = mFrames.back().mState;
    mTextsUsed = mFrames.back().mTextMark;
    mFrames.pop_back();
    mResultsOnStack = false;
    if (!mDeferred.empty())
        ProcessDeferred(static_cast<int>(mFrames.size()));
    if (mFrames.empty() && !mRecycled.empty())
        DrainRecycled();
    if (!mPendingError.empty())
    {
        PushWide(L, mPendingError);
        mPendingError.clear();
        return _SCRIPT_RAISE;
    }
    return results;
}

int LuaScriptManager::ReturnVariable(const Variable& value)
{
    if (mFrames.empty())
        return 0;
    lua_State* L = mFrames.back().mState;
    if (!lua_checkstack(L, 4))
        return EndCall(0);
    PushVariable(L, value);
    return EndCall(1);
}

int LuaScriptManager::ReturnObject(ScriptObject* object)
{
    if (mFrames.empty())
        return 0;
    if (object == nullptr && mResultsOnStack)
        return EndCall(1); // a run left its result on top
    lua_State* L = mFrames.back().mState;
    if (object == nullptr || !PushObjectTable(L, object))
        lua_pushnil(L);
    return EndCall(1);
}

#define VEXEL_RETURN_PUSH(push)                                                                              \
    if (mFrames.empty())                                                                                     \
        return 0;                                                                                            \
    lua_State* L = mFrames.back().mState;                                                                    \
    push;                                                                                                    \
    return EndCall(1)

int LuaScriptManager::ReturnBool(bool value)
{
    VEXEL_RETURN_PUSH(lua_pushboolean(L, value));
}
int LuaScriptManager::ReturnInt8(signed char value)
{
    VEXEL_RETURN_PUSH(lua_pushnumber(L, value));
}
int LuaScriptManager::ReturnUInt8(unsigned char value)
{
    VEXEL_RETURN_PUSH(lua_pushnumber(L, value));
}
int LuaScriptManager::ReturnInt16(short value)
{
    VEXEL_RETURN_PUSH(lua_pushnumber(L, value));
}
int LuaScriptManager::ReturnUInt16(unsigned short value)
{
    VEXEL_RETURN_PUSH(lua_pushnumber(L, value));
}
int LuaScriptManager::ReturnFloat(float value)
{
    VEXEL_RETURN_PUSH(lua_pushnumber(L, value));
}
int LuaScriptManager::ReturnInt(int value)
{
    VEXEL_RETURN_PUSH(lua_pushnumber(L, value));
}
int LuaScriptManager::ReturnUInt(_dword value)
{
    VEXEL_RETURN_PUSH(lua_pushnumber(L, value));
}
int LuaScriptManager::ReturnInt64(long long value)
{
    VEXEL_RETURN_PUSH(lua_pushnumber(L, static_cast<lua_Number>(value)));
}
int LuaScriptManager::ReturnUInt64(unsigned long long value)
{
    VEXEL_RETURN_PUSH(lua_pushnumber(L, static_cast<lua_Number>(value)));
}
int LuaScriptManager::ReturnDouble(double value)
{
    VEXEL_RETURN_PUSH(lua_pushnumber(L, value));
}
int LuaScriptManager::ReturnNumber(double value)
{
    return ReturnDouble(value);
}

int LuaScriptManager::ReturnString(const String& value)
{
    if (mFrames.empty())
        return 0;
    lua_State* L = mFrames.back().mState;
    // A reused buffer keeps short results free of allocations.
    mScratch.resize(value.size() * 3 + 1);
    _dword produced = 0;
    WideToUtf8(mScratch.data(), static_cast<_dword>(mScratch.size()), value.c_str(), value.Length(),
               &produced);
    lua_pushlstring(L, mScratch.data(), produced);
    return EndCall(1);
}

#undef VEXEL_RETURN_PUSH

int LuaScriptManager::ReturnNothing()
{
    return EndCall(0);
}

} // namespace Vexel
