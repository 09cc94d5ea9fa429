// Configuration trees saved as "LUC1" blocks and loaded back into scripts.
//
// A configuration is a tree of tables whose values are booleans, numbers, strings or tables and whose
// keys are strings or numbers. It lives in a small Lua state of its own (no libraries), whose stack holds
// 1: the string lookup (string -> index), 2: the string table (index + 1 -> string), 3: the root table.
//
// Block layout, all integers little-endian:
//   "LUC1" | u32 n, n name bytes | string table: {u32 L, L bytes}... ended by u32 0xFFFFFFFF | root node
// Node: a 24-byte header {u32 array count a, u32 hash count h, 16 bytes written as 0 and ignored}, then
//   a array items (the values at keys 1..a): u8 type, then 8 value bytes, or for type 4 a nested node;
//   h hash entries of 24 bytes: [0..7] value, [8..15] key, [16..19] 0, [20] key type, [21] value type,
//   [22..23] 0; an entry of type 4 has value bytes 0 and is followed by its nested node.
// Value types: 1 boolean (value 0 or 1), 2 number (IEEE-754 double), 3 string (u32 index into the string
// table, then 4 zero bytes), 4 nested table. Key types: 2 number, 3 string (same value forms).
//
// Loading (RunBuffer) publishes the root as light user data "<name>_host" and runs
// "_G.<name> = __luaconf.box(_G.<name>_host)". The manager supplies __luaconf when the scripts' environment
// has none: box(host) gives a read-only copy of the tree (tables whose writes raise an error),
// pairs(t) and len(t) iterate and measure such tables.
#pragma once

#include "Common/String.h"

#include <lua.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace Vexel
{

constexpr _dword _CONFIG_MAGIC = 0x3143554C; // "LUC1" in file order

class ScriptConfig
{
public:
    ScriptConfig();
    ~ScriptConfig();
    ScriptConfig(const ScriptConfig&) = delete;
    ScriptConfig& operator=(const ScriptConfig&) = delete;

    // Copies the table at index of L. Values of other kinds (functions, user data) are left out, and so
    // is a table met again inside itself. False when the value is not a table.
    bool Capture(lua_State* L, int index);

    // Appends one block named name; false (logged) when there is no tree or the name is not a plain
    // identifier ([A-Za-z_][A-Za-z0-9_]*, the form the loading script needs).
    bool Write(std::string_view name, std::vector<_byte>& out) const;

    // Reads the block at data + offset into a new state; on success offset moves past the block.
    bool Read(const _byte* data, std::size_t size, std::size_t& offset);

    const std::string& GetName() const { return mName; }
    lua_State* GetState() const { return mState; }
    // Identity of the root table (the "<name>_host" value), null without a tree.
    const void* GetRoot() const;

    // Pushes a read-only copy of the tree onto L (nil without a tree).
    void PushBoxed(lua_State* L) const;

    // __luaconf.pairs and __luaconf.len: iterate and measure a boxed table (or a plain one).
    static int BoxedPairs(lua_State* L);
    static int BoxedLength(lua_State* L);

private:
    bool Reset();
    int Intern(const char* text, std::size_t length);

    lua_State* mState = nullptr;
    std::string mName;
};

} // namespace Vexel
