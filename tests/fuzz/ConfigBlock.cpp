// Configuration blocks from outside bytes: loading them into a script manager, reading every loaded tree
// back from a script, and saving and re-reading each block on its own.
#include "Common/Log.h"
#include "Script/LuaScriptManager.h"
#include "Script/ScriptConfig.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{
const char16_t* const _WALK = u"local seen = 0\n"
                              u"local function walk(t, depth)\n"
                              u"  if depth > 70 then return end\n"
                              u"  for k, v in __luaconf.pairs(t) do\n"
                              u"    seen = seen + 1\n"
                              u"    if type(v) == 'table' then walk(v, depth + 1) end\n"
                              u"  end\n"
                              u"  return __luaconf.len(t)\n"
                              u"end\n"
                              u"for name, value in pairs(_G) do\n"
                              u"  if type(name) == 'string' and name:sub(-5) == '_host' then\n"
                              u"    local tree = rawget(_G, name:sub(1, -6))\n"
                              u"    if type(tree) == 'table' then walk(tree, 0) end\n"
                              u"  end\n"
                              u"end\n"
                              u"return seen";
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Vexel::gLogEnabled = false;
    // Always configuration blocks: anything else would be run as a script.
    std::string bytes;
    if (size < 4 || std::memcmp(data, "LUC1", 4) != 0)
        bytes = "LUC1";
    if (size > 0)
        bytes.append(reinterpret_cast<const char*>(data), size);

    {
        Vexel::LuaScriptManager manager;
        manager.RunBuffer(bytes.data(), static_cast<Vexel::_dword>(bytes.size()), u"fuzz",
                          Vexel::_SCRIPT_RESULT_DISCARD);
        manager.RunString(_WALK, u"walk", Vexel::_SCRIPT_RESULT_DISCARD);
    }

    // Whatever reads must write again and read back.
    std::size_t offset = 0;
    const auto* input = reinterpret_cast<const Vexel::_byte*>(bytes.data());
    while (offset < bytes.size())
    {
        Vexel::ScriptConfig config;
        if (!config.Read(input, bytes.size(), offset))
            break;
        std::vector<Vexel::_byte> saved;
        if (!config.Write("again", saved))
            std::abort();
        Vexel::ScriptConfig reread;
        std::size_t start = 0;
        if (!reread.Read(saved.data(), saved.size(), start) || start != saved.size())
            std::abort();
    }
    return 0;
}
