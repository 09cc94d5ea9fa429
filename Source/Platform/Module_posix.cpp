#include "Platform/Module.h"

#include "Common/Log.h"
#include "Platform/File.h"
#include "Platform/Folders.h"

#include <cstdlib>
#include <dlfcn.h>
#include <limits.h>

namespace Vexel
{

Module::~Module()
{
    UnloadModule();
}

bool Module::LoadModule(const String& path)
{
    UnloadModule();
    if (!FileExists(path))
        return false;
    // An absolute path: dlopen searches the library paths for a name without "/", and the current
    // folder changes below.
    char full[PATH_MAX + 1];
    if (!::realpath(NativePath(path).c_str(), full))
        return false;
    std::string native = full;
    String previous = GetCurrentFolder();
    std::string folder = native.substr(0, native.find_last_of('/'));
    bool switched = !previous.empty() && SetCurrentFolder(FromNativeText(folder.empty() ? "/" : folder));
    ::dlerror();
    mHandle = ::dlopen(native.c_str(), RTLD_NOW | RTLD_LOCAL);
    const char* error = mHandle ? nullptr : ::dlerror();
    if (switched)
        SetCurrentFolder(previous);
    if (!mHandle)
    {
        LogTrace(u"[FG] LoadModule %ls fail: %hs", path, error ? error : "unknown error");
        return false;
    }
    return true;
}

bool Module::LoadModuleByName(const String& name)
{
    UnloadModule();
    if (name.empty() || name.find_first_of(u"\\/") != String::npos)
        return false;
    ::dlerror();
    mHandle = ::dlopen(ToNativeText(name).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!mHandle)
    {
        const char* error = ::dlerror();
        LogTrace(u"[FG] LoadModule %ls fail: %hs", name, error ? error : "unknown error");
        return false;
    }
    return true;
}

void* Module::GetModuleProc(const char* name) const
{
    if (!mHandle || !name || !*name)
        return nullptr;
    return ::dlsym(mHandle, name);
}

void Module::UnloadModule()
{
    if (!mHandle)
        return;
    ::dlclose(mHandle);
    mHandle = nullptr;
}

} // namespace Vexel
