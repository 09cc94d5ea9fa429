// Small helpers over the Lua C API shared by the script engine's files (not for callers outside it).
#pragma once

#include "Common/String.h"

#include <cstdint>
#include <lua.hpp>
#include <string>

namespace Vexel::LuaRuntime
{

// Private keys: their addresses become light user data keys that scripts cannot make.
extern const char _MARKER_KEY;       // bound table -> its ScriptMarker user data
extern const char _MARKER_META_KEY;  // registry -> metatable of the markers (__gc)
extern const char _PRIVATE_META_KEY; // registry -> the private "__metatable" value
extern const char _PROXY_KEY;        // per-object proxy metatable -> true
extern const char _CLASS_OF_KEY;     // registry -> class table -> class metatable

// Maximum nesting of tables converted in either direction.
constexpr int _MAX_DEPTH = 64;

inline int AbsIndex(lua_State* L, int index)
{
    return (index < 0 && index > LUA_REGISTRYINDEX) ? lua_gettop(L) + index + 1 : index;
}

inline void PushKey(lua_State* L, const void* key)
{
    lua_pushlightuserdata(L, const_cast<void*>(key));
}

// Conversions of script numbers, defined for every double (NaN gives 0, out of range saturates).
inline std::int64_t NumberToInt64(double d)
{
    if (!(d == d))
        return 0;
    if (d >= 9223372036854775807.0)
        return INT64_MAX;
    if (d <= -9223372036854775808.0)
        return INT64_MIN;
    return static_cast<std::int64_t>(d);
}
inline std::uint64_t NumberToUInt64(double d)
{
    if (!(d == d))
        return 0;
    if (d < 0)
        return static_cast<std::uint64_t>(NumberToInt64(d));
    if (d >= 18446744073709551615.0)
        return UINT64_MAX;
    return static_cast<std::uint64_t>(d);
}
// The low 32 bits of the 64-bit conversion, as the script's colours and identifiers expect.
inline std::int32_t NumberToInt32(double d)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(NumberToInt64(d)));
}
inline std::uint32_t NumberToUInt32(double d)
{
    return static_cast<std::uint32_t>(NumberToInt64(d));
}

// A Lua string (or number) as wide text; anything else is empty.
String ToWide(lua_State* L, int index);
// Text for a Lua error value that may not be a string.
String ErrorText(lua_State* L, int index);
void PushWide(lua_State* L, std::u16string_view text);

// True for a name scripts can use as a plain global: [A-Za-z_][A-Za-z0-9_]*.
bool IsIdentifier(std::string_view name);

} // namespace Vexel::LuaRuntime
