#include "Platform/Resources.h"

#include "Common/StringEncoding.h"

namespace Vexel
{

namespace
{

char Fold(char c)
{
    if (c == '\\')
        return '/';
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool SameName(const char* stored, const std::string& wanted)
{
    std::size_t i = 0;
    for (; stored[i] && i < wanted.size(); ++i)
        if (Fold(stored[i]) != Fold(wanted[i]))
            return false;
    return stored[i] == 0 && i == wanted.size();
}

} // namespace

bool LoadEmbeddedResource(const String& name, std::vector<_byte>& buffer)
{
    buffer.clear();
    if (name.empty())
        return false;
    String folded = name;
    for (char16_t& c : folded)
        if (c == u'\\')
            c = u'/';
    if (Detail::LoadModuleResource(folded, buffer))
        return true;
    buffer.clear();
    std::string wanted = ToUtf8(name);
    for (std::size_t i = 0; i < gEmbeddedResourceCount && gEmbeddedResources[i].name; ++i)
    {
        const EmbeddedResourceEntry& entry = gEmbeddedResources[i];
        if (!SameName(entry.name, wanted))
            continue;
        if (entry.size == 0 || !entry.data)
            return false;
        buffer.assign(entry.data, entry.data + entry.size);
        return true;
    }
    return false;
}

} // namespace Vexel
