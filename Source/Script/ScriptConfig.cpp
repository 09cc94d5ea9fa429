#include "Script/ScriptConfig.h"

#include "Common/Log.h"
#include "Common/StringEncoding.h"
#include "Common/StringFormatter.h"
#include "Platform/File.h"
#include "Script/LuaRuntime.h"
#include "Script/LuaScriptManager.h"

#include <cmath>
#include <cstring>

namespace Vexel
{

using namespace LuaRuntime;

namespace
{
constexpr _byte _TYPE_BOOLEAN = 1;
constexpr _byte _TYPE_NUMBER = 2;
constexpr _byte _TYPE_STRING = 3;
constexpr _byte _TYPE_TABLE = 4;
constexpr std::size_t _NODE_HEADER = 24;
constexpr std::size_t _HASH_ENTRY = 24;
constexpr std::size_t _ARRAY_ITEM = 9;
constexpr _dword _STRINGS_END = 0xFFFFFFFF;
constexpr _dword _MAX_NAME = 1024;

// Stack slots of a configuration state.
constexpr int _LOOKUP = 1;
constexpr int _STRINGS = 2;
constexpr int _ROOT = 3;

void PutU32(std::vector<_byte>& out, _dword value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<_byte>(value >> (8 * i)));
}

void PutU64(std::vector<_byte>& out, _qword value)
{
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<_byte>(value >> (8 * i)));
}

_dword GetU32(const _byte* p)
{
    return static_cast<_dword>(p[0]) | static_cast<_dword>(p[1]) << 8 | static_cast<_dword>(p[2]) << 16 |
           static_cast<_dword>(p[3]) << 24;
}

_qword GetU64(const _byte* p)
{
    return static_cast<_qword>(GetU32(p)) | static_cast<_qword>(GetU32(p + 4)) << 32;
}

_qword NumberBits(double number)
{
    _qword bits = 0;
    std::memcpy(&bits, &number, sizeof bits);
    return bits;
}

double BitsNumber(_qword bits)
{
    double number = 0;
    std::memcpy(&number, &bits, sizeof number);
    return number;
}

_byte ValueType(lua_State* L, int index)
{
    switch (lua_type(L, index))
    {
    case LUA_TBOOLEAN:
        return _TYPE_BOOLEAN;
    case LUA_TNUMBER:
        return _TYPE_NUMBER;
    case LUA_TSTRING:
        return _TYPE_STRING;
    case LUA_TTABLE:
        return _TYPE_TABLE;
    default:
        return 0;
    }
}

bool IsKeyType(lua_State* L, int index)
{
    int type = lua_type(L, index);
    return type == LUA_TSTRING || type == LUA_TNUMBER;
}

bool IsArrayKey(lua_State* L, int index, _dword arrayCount)
{
    if (lua_type(L, index) != LUA_TNUMBER)
        return false;
    double key = lua_tonumber(L, index);
    return key >= 1 && key <= arrayCount && key == std::floor(key);
}

// The 8 value bytes of a scalar (strings by their index in the lookup table at _LOOKUP).
_qword ScalarBits(lua_State* L, int index)
{
    switch (lua_type(L, index))
    {
    case LUA_TBOOLEAN:
        return lua_toboolean(L, index) ? 1 : 0;
    case LUA_TNUMBER:
        return NumberBits(lua_tonumber(L, index));
    case LUA_TSTRING:
    {
        lua_pushvalue(L, index);
        lua_rawget(L, _LOOKUP);
        _qword position = static_cast<_qword>(lua_tonumber(L, -1));
        lua_pop(L, 1);
        return position;
    }
    default:
        return 0;
    }
}

_dword ArrayCount(lua_State* L, int table)
{
    _dword count = 0;
    for (;;)
    {
        lua_rawgeti(L, table, static_cast<int>(count + 1));
        bool present = ValueType(L, -1) != 0;
        lua_pop(L, 1);
        if (!present || count == 0x7FFFFFFE)
            return count;
        ++count;
    }
}

bool WriteNode(lua_State* L, int table, std::vector<_byte>& out, int depth)
{
    if (depth > _MAX_DEPTH || !lua_checkstack(L, 6))
        return false;
    _dword arrayCount = ArrayCount(L, table);
    _dword hashCount = 0;
    lua_pushnil(L);
    while (lua_next(L, table) != 0)
    {
        if (IsKeyType(L, -2) && !IsArrayKey(L, -2, arrayCount) && ValueType(L, -1) != 0)
            ++hashCount;
        lua_pop(L, 1);
    }
    PutU32(out, arrayCount);
    PutU32(out, hashCount);
    out.insert(out.end(), 16, 0);
    for (_dword i = 1; i <= arrayCount; ++i)
    {
        lua_rawgeti(L, table, static_cast<int>(i));
        _byte type = ValueType(L, -1);
        out.push_back(type);
        bool ok = type == _TYPE_TABLE ? WriteNode(L, lua_gettop(L), out, depth + 1)
                                      : (PutU64(out, ScalarBits(L, -1)), true);
        lua_pop(L, 1);
        if (!ok)
            return false;
    }
    lua_pushnil(L);
    while (lua_next(L, table) != 0)
    {
        _byte type = ValueType(L, -1);
        if (IsKeyType(L, -2) && !IsArrayKey(L, -2, arrayCount) && type != 0)
        {
            PutU64(out, type == _TYPE_TABLE ? 0 : ScalarBits(L, -1));
            PutU64(out, ScalarBits(L, -2));
            PutU32(out, 0);
            out.push_back(ValueType(L, -2));
            out.push_back(type);
            out.push_back(0);
            out.push_back(0);
            if (type == _TYPE_TABLE && !WriteNode(L, lua_gettop(L), out, depth + 1))
            {
                lua_pop(L, 2);
                return false;
            }
        }
        lua_pop(L, 1);
    }
    return true;
}

// Reads nodes of a block; every read is checked against the end of the input.
struct NodeReader
{
    lua_State* L;
    const _byte* data;
    std::size_t size;
    std::size_t pos;
    _dword strings;

    bool Need(std::size_t count) const { return count <= size - pos; }

    bool PushScalar(_byte type, const _byte* bytes)
    {
        _qword bits = GetU64(bytes);
        switch (type)
        {
        case _TYPE_BOOLEAN:
            lua_pushboolean(L, bits != 0);
            return true;
        case _TYPE_NUMBER:
            lua_pushnumber(L, BitsNumber(bits));
            return true;
        case _TYPE_STRING:
            if (bits >= strings)
                return false;
            lua_rawgeti(L, _STRINGS, static_cast<int>(bits + 1));
            return true;
        default:
            return false;
        }
    }

    bool ReadNode(int depth)
    {
        if (depth > _MAX_DEPTH || !lua_checkstack(L, 6) || !Need(_NODE_HEADER))
            return false;
        _dword arrayCount = GetU32(data + pos);
        _dword hashCount = GetU32(data + pos + 4);
        pos += _NODE_HEADER;
        // Every item takes bytes of its own, which bounds what the counts may ask for.
        std::size_t left = size - pos;
        if (arrayCount > left / _ARRAY_ITEM || hashCount > left / _HASH_ENTRY)
            return false;
        lua_createtable(L, static_cast<int>(arrayCount), static_cast<int>(hashCount));
        int table = lua_gettop(L);
        for (_dword i = 1; i <= arrayCount; ++i)
        {
            if (!Need(1))
                return false;
            _byte type = data[pos++];
            if (type == _TYPE_TABLE)
            {
                if (!ReadNode(depth + 1))
                    return false;
            }
            else
            {
                if (!Need(8) || !PushScalar(type, data + pos))
                    return false;
                pos += 8;
            }
            lua_rawseti(L, table, static_cast<int>(i));
        }
        for (_dword i = 0; i < hashCount; ++i)
        {
            if (!Need(_HASH_ENTRY))
                return false;
            const _byte* entry = data + pos;
            pos += _HASH_ENTRY;
            _byte keyType = entry[20];
            _byte valueType = entry[21];
            if (keyType == _TYPE_NUMBER)
            {
                double key = BitsNumber(GetU64(entry + 8));
                if (std::isnan(key))
                    return false;
                lua_pushnumber(L, key);
            }
            else if (keyType != _TYPE_STRING || !PushScalar(keyType, entry + 8))
                return false;
            if (valueType == _TYPE_TABLE)
            {
                if (!ReadNode(depth + 1))
                    return false;
            }
            else if (!PushScalar(valueType, entry))
                return false;
            lua_rawset(L, table);
        }
        return true;
    }
};

// Copies a configuration table into a read-only script table of another state (no destructors here:
// script errors may pass).
void PushBoxedTable(lua_State* from, int index, lua_State* to, int depth);

int ReadOnlyError(lua_State* L)
{
    return luaL_error(L, "attempt to change a read-only configuration");
}

void PushCopy(lua_State* from, int index, lua_State* to, int depth)
{
    switch (lua_type(from, index))
    {
    case LUA_TBOOLEAN:
        lua_pushboolean(to, lua_toboolean(from, index));
        return;
    case LUA_TNUMBER:
        lua_pushnumber(to, lua_tonumber(from, index));
        return;
    case LUA_TSTRING:
    {
        std::size_t length = 0;
        const char* text = lua_tolstring(from, index, &length);
        lua_pushlstring(to, text, length);
        return;
    }
    case LUA_TTABLE:
        if (depth < _MAX_DEPTH)
        {
            PushBoxedTable(from, AbsIndex(from, index), to, depth + 1);
            return;
        }
        lua_pushnil(to);
        return;
    default:
        lua_pushnil(to);
        return;
    }
}

void PushBoxedTable(lua_State* from, int index, lua_State* to, int depth)
{
    if (!lua_checkstack(to, 8) || !lua_checkstack(from, 4))
    {
        lua_pushnil(to);
        return;
    }
    lua_newtable(to);
    int proxy = lua_gettop(to);
    lua_newtable(to);
    int meta = proxy + 1;
    lua_newtable(to);
    int data = proxy + 2;
    lua_pushnil(from);
    while (lua_next(from, index) != 0)
    {
        if (IsKeyType(from, -2))
        {
            PushCopy(from, lua_gettop(from) - 1, to, depth);
            PushCopy(from, lua_gettop(from), to, depth);
            lua_rawset(to, data);
        }
        lua_pop(from, 1);
    }
    lua_setfield(to, meta, "__index");
    lua_pushcfunction(to, ReadOnlyError);
    lua_setfield(to, meta, "__newindex");
    lua_pushboolean(to, 0);
    lua_setfield(to, meta, "__metatable");
    lua_setmetatable(to, proxy);
}

// The data behind a boxed table, or the table itself; pushed.
void PushBoxedData(lua_State* L, int index)
{
    if (lua_getmetatable(L, index))
    {
        lua_getfield(L, -1, "__newindex");
        bool boxed = lua_tocfunction(L, -1) == ReadOnlyError;
        lua_pop(L, 1);
        if (boxed)
        {
            lua_getfield(L, -1, "__index");
            lua_remove(L, -2);
            return;
        }
        lua_pop(L, 1);
    }
    lua_pushvalue(L, index);
}

int BoxedNext(lua_State* L)
{
    luaL_checktype(L, 1, LUA_TTABLE);
    lua_settop(L, 2);
    if (lua_next(L, 1))
        return 2;
    lua_pushnil(L);
    return 1;
}
} // namespace

ScriptConfig::ScriptConfig() = default;

ScriptConfig::~ScriptConfig()
{
    if (mState)
        lua_close(mState);
}

bool ScriptConfig::Reset()
{
    if (mState)
        lua_close(mState);
    mState = luaL_newstate();
    if (mState == nullptr)
        return false;
    lua_newtable(mState); // _LOOKUP
    lua_newtable(mState); // _STRINGS
    return true;
}

const void* ScriptConfig::GetRoot() const
{
    return mState && lua_gettop(mState) >= _ROOT ? lua_topointer(mState, _ROOT) : nullptr;
}

int ScriptConfig::Intern(const char* text, std::size_t length)
{
    lua_pushlstring(mState, text, length);
    lua_pushvalue(mState, -1);
    lua_rawget(mState, _LOOKUP);
    if (lua_isnumber(mState, -1))
    {
        int position = static_cast<int>(lua_tonumber(mState, -1));
        lua_pop(mState, 2);
        return position;
    }
    lua_pop(mState, 1);
    int position = static_cast<int>(lua_objlen(mState, _STRINGS));
    lua_pushvalue(mState, -1);
    lua_rawseti(mState, _STRINGS, position + 1);
    lua_pushnumber(mState, position);
    lua_rawset(mState, _LOOKUP);
    return position;
}

namespace
{
struct Capturer
{
    ScriptConfig* config;
    lua_State* from;
    lua_State* to;
    std::vector<const void*> path;
    int (ScriptConfig::*intern)(const char*, std::size_t);

    bool PushKeyOrValue(int index, int depth)
    {
        switch (lua_type(from, index))
        {
        case LUA_TBOOLEAN:
            lua_pushboolean(to, lua_toboolean(from, index));
            return true;
        case LUA_TNUMBER:
            lua_pushnumber(to, lua_tonumber(from, index));
            return true;
        case LUA_TSTRING:
        {
            std::size_t length = 0;
            const char* text = lua_tolstring(from, index, &length);
            (config->*intern)(text, length);
            lua_pushlstring(to, text, length);
            return true;
        }
        case LUA_TTABLE:
        {
            const void* identity = lua_topointer(from, index);
            if (depth >= _MAX_DEPTH)
                return false;
            for (const void* open : path)
                if (open == identity)
                    return false;
            return CopyTable(index, depth + 1);
        }
        default:
            return false;
        }
    }

    bool CopyTable(int index, int depth)
    {
        if (!lua_checkstack(from, 4) || !lua_checkstack(to, 6))
            return false;
        path.push_back(lua_topointer(from, index));
        lua_newtable(to);
        int table = lua_gettop(to);
        lua_pushnil(from);
        while (lua_next(from, index) != 0)
        {
            int value = lua_gettop(from);
            if (IsKeyType(from, value - 1))
            {
                // Pushing the key first keeps lua_next's own key untouched (strings convert in place).
                lua_pushvalue(from, value - 1);
                bool keyed = PushKeyOrValue(lua_gettop(from), depth);
                lua_pop(from, 1);
                if (keyed && PushKeyOrValue(value, depth))
                    lua_rawset(to, table);
                else
                    lua_settop(to, table);
            }
            lua_pop(from, 1);
        }
        path.pop_back();
        return true;
    }
};
} // namespace

bool ScriptConfig::Capture(lua_State* L, int index)
{
    index = AbsIndex(L, index);
    if (!lua_istable(L, index) || !Reset())
        return false;
    Capturer capturer{this, L, mState, {}, &ScriptConfig::Intern};
    if (!capturer.CopyTable(index, 0))
    {
        lua_close(mState);
        mState = nullptr;
        return false;
    }
    return true;
}

bool ScriptConfig::Write(std::string_view name, std::vector<_byte>& out) const
{
    if (GetRoot() == nullptr)
    {
        LogBoth(u"[LS] Convert config needs a conf object");
        return false;
    }
    if (!IsIdentifier(name) || name.size() > _MAX_NAME)
    {
        LogBoth(FormatString(u"[LS] Bad config name %hs", std::string(name)).c_str());
        return false;
    }
    std::vector<_byte> block;
    PutU32(block, _CONFIG_MAGIC);
    PutU32(block, static_cast<_dword>(name.size()));
    block.insert(block.end(), name.begin(), name.end());
    std::size_t strings = lua_objlen(mState, _STRINGS);
    for (std::size_t i = 1; i <= strings; ++i)
    {
        lua_rawgeti(mState, _STRINGS, static_cast<int>(i));
        std::size_t length = 0;
        const char* text = lua_tolstring(mState, -1, &length);
        PutU32(block, static_cast<_dword>(length));
        block.insert(block.end(), text, text + length);
        lua_pop(mState, 1);
    }
    PutU32(block, _STRINGS_END);
    int top = lua_gettop(mState);
    bool written = WriteNode(mState, _ROOT, block, 0);
    lua_settop(mState, top);
    if (!written)
    {
        LogBoth(u"[LS] Config too deep to save");
        return false;
    }
    out.insert(out.end(), block.begin(), block.end());
    return true;
}

bool ScriptConfig::Read(const _byte* data, std::size_t size, std::size_t& offset)
{
    if (data == nullptr || offset > size || size - offset < 4 || GetU32(data + offset) != _CONFIG_MAGIC)
        return false;
    std::size_t pos = offset + 4;
    _dword nameLength = size - pos >= 4 ? GetU32(data + pos) : 0xFFFFFFFF;
    pos += 4;
    if (nameLength > _MAX_NAME || pos > size || nameLength > size - pos)
    {
        LogBoth(u"[LS] Load config nodes failed");
        return false;
    }
    mName.assign(reinterpret_cast<const char*>(data + pos), nameLength);
    pos += nameLength;
    if (!Reset())
    {
        LogBoth(u"[LS] Can't open new lua state");
        return false;
    }
    NodeReader reader{mState, data, size, pos, 0};
    bool ok = false;
    for (;;)
    {
        if (!reader.Need(4))
            break;
        _dword length = GetU32(data + reader.pos);
        reader.pos += 4;
        if (length == _STRINGS_END)
        {
            ok = true;
            break;
        }
        if (!reader.Need(length) || reader.strings == 0x7FFFFFFE)
            break;
        // Each string once, in order; the lookup remembers the first index of a text.
        lua_pushlstring(mState, reinterpret_cast<const char*>(data + reader.pos), length);
        reader.pos += length;
        lua_pushvalue(mState, -1);
        lua_rawseti(mState, _STRINGS, static_cast<int>(reader.strings + 1));
        lua_pushvalue(mState, -1);
        lua_rawget(mState, _LOOKUP);
        bool known = !lua_isnil(mState, -1);
        lua_pop(mState, 1);
        if (!known)
        {
            lua_pushnumber(mState, reader.strings);
            lua_rawset(mState, _LOOKUP);
        }
        else
            lua_pop(mState, 1);
        ++reader.strings;
    }
    if (ok)
        ok = reader.ReadNode(0);
    if (!ok)
    {
        LogBoth(u"[LS] Load config nodes failed");
        lua_close(mState);
        mState = nullptr;
        return false;
    }
    lua_settop(mState, _ROOT);
    lua_gc(mState, LUA_GCCOLLECT, 0);
    offset = reader.pos;
    return true;
}

void ScriptConfig::PushBoxed(lua_State* L) const
{
    if (GetRoot() == nullptr || !lua_checkstack(L, 4))
    {
        lua_pushnil(L);
        return;
    }
    PushBoxedTable(mState, _ROOT, L, 0);
}

int ScriptConfig::BoxedPairs(lua_State* L)
{
    luaL_checktype(L, 1, LUA_TTABLE);
    lua_pushcfunction(L, BoxedNext);
    PushBoxedData(L, 1);
    lua_pushnil(L);
    return 3;
}

int ScriptConfig::BoxedLength(lua_State* L)
{
    luaL_checktype(L, 1, LUA_TTABLE);
    PushBoxedData(L, 1);
    lua_pushnumber(L, static_cast<lua_Number>(lua_objlen(L, -1)));
    return 1;
}

// --- The manager's side ---------------------------------------------------------------------------------

int LuaScriptManager::ConfigBox(lua_State* L)
{
    auto* self = static_cast<LuaScriptManager*>(lua_touserdata(L, lua_upvalueindex(1)));
    const void* host = lua_type(L, 1) == LUA_TLIGHTUSERDATA ? lua_touserdata(L, 1) : nullptr;
    // Only roots of loaded blocks are trusted; anything else boxes to nil.
    if (self && host)
        for (const auto& config : self->mConfigs)
            if (config->GetRoot() == host)
            {
                config->PushBoxed(L);
                return 1;
            }
    lua_pushnil(L);
    return 1;
}

void LuaScriptManager::InstallConfigEnvironment(lua_State* L)
{
    lua_getfield(L, LUA_GLOBALSINDEX, "__luaconf");
    bool present = lua_istable(L, -1);
    lua_pop(L, 1);
    if (present)
        return;
    lua_newtable(L);
    lua_pushlightuserdata(L, this);
    lua_pushcclosure(L, ConfigBox, 1);
    lua_setfield(L, -2, "box");
    lua_pushcfunction(L, ScriptConfig::BoxedPairs);
    lua_setfield(L, -2, "pairs");
    lua_pushcfunction(L, ScriptConfig::BoxedLength);
    lua_setfield(L, -2, "len");
    lua_setfield(L, LUA_GLOBALSINDEX, "__luaconf");
}

Variable LuaScriptManager::RunConfigBlocks(const _byte* data, std::size_t length)
{
    lua_State* L = ActiveState();
    std::size_t offset = 0;
    while (length - offset >= 4 && std::memcmp(data + offset, "LUC1", 4) == 0)
    {
        auto config = std::make_unique<ScriptConfig>();
        if (!config->Read(data, length, offset))
            break; // the rest cannot be found again
        const std::string& name = config->GetName();
        if (!IsIdentifier(name) || !lua_checkstack(L, 4))
        {
            LogBoth(FormatString(u"[LS] Bad config block name %hs", name).c_str());
            continue;
        }
        std::string host = name + "_host";
        lua_pushlstring(L, host.data(), host.size());
        lua_pushlightuserdata(L, const_cast<void*>(config->GetRoot()));
        lua_rawset(L, LUA_GLOBALSINDEX);
        mConfigs.push_back(std::move(config));
        InstallConfigEnvironment(L);

        std::string script = "_G." + name + " = __luaconf.box(_G." + name + "_host)\n";
        int status = luaL_loadbuffer(L, script.data(), script.size(), script.c_str());
        if (status == 0)
            status = ProtectedCall(L, 0);
        if (status != 0)
        {
            CheckError(L, status);
            LogBoth(mLastError.c_str());
        }
        else
            lua_pop(L, 1);
    }
    return Variable();
}

bool LuaScriptManager::SaveConfig(const ScriptConfig* config, const String& name, const String& path)
{
    if (config == nullptr)
    {
        LogBoth(u"[LS] Convert config needs a conf object");
        return false;
    }
    std::string blockName = ToUtf8(name);
    std::size_t global = blockName.find("_G.");
    if (global != std::string::npos)
        blockName.erase(global, 3);
    std::vector<_byte> block;
    if (!config->Write(blockName, block))
        return false;

    // Blocks are appended to an existing file; a missing path (or a folder, which then fails) is created.
    File file;
    bool append = FileExists(path) && !FolderExists(path);
    if (append ? !(file.OpenReadWrite(path) && file.SeekToEnd()) : !file.Create(path))
    {
        LogBoth(append ? u"[LS] Can't open file for saving config"
                       : u"[LS] Can't create file for saving config");
        return false;
    }
    if (!file.Write(block.data(), static_cast<_dword>(block.size())))
    {
        LogBoth(u"[LS] Can't write config block");
        return false;
    }
    return true;
}

} // namespace Vexel
