#include "Platform/Module.h"

#include "Platform/File.h"

#include <cstdlib>
#include <dlfcn.h>
#include <limits.h>

namespace Vexel::Detail
{

bool FullModulePath(const String& path, String& full, String& folder)
{
    // An absolute path: dlopen searches the library paths for a name without "/", and the current folder
    // changes while the module loads.
    char resolved[PATH_MAX + 1];
    if (!::realpath(NativePath(path).c_str(), resolved))
        return false;
    const std::string native = resolved;
    const std::string parent = native.substr(0, native.find_last_of('/'));
    full = FromNativeText(native);
    folder = FromNativeText(parent.empty() ? "/" : parent);
    return true;
}

void* OpenModule(const String& pathOrName, String& error)
{
    ::dlerror();
    void* handle = ::dlopen(ToNativeText(pathOrName).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
    {
        const char* text = ::dlerror();
        error = FromNativeText(text ? text : "unknown error");
    }
    return handle;
}

void* ModuleSymbol(void* handle, const char* name)
{
    return ::dlsym(handle, name);
}

void CloseModule(void* handle)
{
    ::dlclose(handle);
}

} // namespace Vexel::Detail
