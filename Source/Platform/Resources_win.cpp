// The program file's resources of type "VEXELRES" (from its .rc file). The system compares resource
// names without regard to case.
#include "Platform/Resources.h"

#include "Platform/File.h"

#include <windows.h>

namespace Vexel::Detail
{

bool LoadModuleResource(const String& name, std::vector<_byte>& buffer)
{
    if (name.empty())
        return false;
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(module, ToNativeText(name).c_str(), L"VEXELRES");
    if (!found)
        return false;
    DWORD size = SizeofResource(module, found);
    HGLOBAL loaded = size ? LoadResource(module, found) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data)
        return false;
    const _byte* bytes = static_cast<const _byte*>(data);
    buffer.assign(bytes, bytes + size);
    return true;
}

} // namespace Vexel::Detail
