#include "Platform/Module.h"

#include "Common/Log.h"
#include "Platform/File.h"
#include "Platform/Folders.h"

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
    String full, folder;
    if (!Detail::FullModulePath(path, full, folder))
        return false;
    // Libraries beside the module are found from its folder while it loads.
    const String previous = GetCurrentFolder();
    const bool switched = !previous.empty() && !folder.empty() && SetCurrentFolder(folder);
    String error;
    mHandle = Detail::OpenModule(full, error);
    if (switched)
        SetCurrentFolder(previous);
    if (!mHandle)
    {
        LogTrace(u"[FG] LoadModule %ls fail: %ls", path, error);
        return false;
    }
    return true;
}

bool Module::LoadModuleByName(const String& name)
{
    UnloadModule();
    if (name.empty() || name.find_first_of(u"\\/") != String::npos)
        return false;
    String error;
    mHandle = Detail::OpenModule(name, error);
    if (!mHandle)
    {
        LogTrace(u"[FG] LoadModule %ls fail: %ls", name, error);
        return false;
    }
    return true;
}

void* Module::GetModuleProc(const char* name) const
{
    if (!mHandle || !name || !*name)
        return nullptr;
    return Detail::ModuleSymbol(mHandle, name);
}

void Module::UnloadModule()
{
    if (!mHandle)
        return;
    Detail::CloseModule(mHandle);
    mHandle = nullptr;
}

} // namespace Vexel
