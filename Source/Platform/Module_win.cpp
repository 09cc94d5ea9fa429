#include "Platform/Module.h"

#include "Common/Log.h"
#include "Platform/File.h"
#include "Platform/Folders.h"

#include <windows.h>

namespace Vexel
{

namespace
{

String SystemMessage(DWORD code)
{
    wchar_t* text = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    String message = length && text ? FromNativeText(std::wstring_view(text, length)) : String();
    LocalFree(text);
    while (!message.empty() && (message.back() == u'\n' || message.back() == u'\r' || message.back() == u' '))
        message.pop_back();
    return message;
}

} // namespace

Module::~Module()
{
    UnloadModule();
}

bool Module::LoadModule(const String& path)
{
    UnloadModule();
    if (!FileExists(path))
        return false;
    std::wstring native = NativePath(path);
    wchar_t full[MAX_PATH + 1] = {};
    wchar_t* name = nullptr;
    DWORD length = GetFullPathNameW(native.c_str(), MAX_PATH + 1, full, &name);
    if (length == 0 || length > MAX_PATH)
        return false;
    // Libraries beside the module are found from its folder while it loads.
    String previous = GetCurrentFolder();
    std::wstring folder(full, name ? static_cast<std::size_t>(name - full)
                                   : std::wstring::traits_type::length(full));
    bool switched = !previous.empty() && !folder.empty() && SetCurrentFolder(FromNativeText(folder));
    HMODULE handle = LoadLibraryW(full);
    DWORD error = handle ? 0 : GetLastError();
    if (switched)
        SetCurrentFolder(previous);
    if (!handle)
    {
        LogTrace(u"[FG] LoadModule %ls fail: %ls (%d)", path, SystemMessage(error), int(error));
        return false;
    }
    mHandle = reinterpret_cast<void*>(handle);
    return true;
}

bool Module::LoadModuleByName(const String& name)
{
    UnloadModule();
    if (name.empty() || name.find_first_of(u"\\/") != String::npos)
        return false;
    HMODULE handle = LoadLibraryW(ToNativeText(name).c_str());
    if (!handle)
    {
        DWORD error = GetLastError();
        LogTrace(u"[FG] LoadModule %ls fail: %ls (%d)", name, SystemMessage(error), int(error));
        return false;
    }
    mHandle = reinterpret_cast<void*>(handle);
    return true;
}

void* Module::GetModuleProc(const char* name) const
{
    if (!mHandle || !name || !*name)
        return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(mHandle), name));
}

void Module::UnloadModule()
{
    if (!mHandle)
        return;
    FreeLibrary(static_cast<HMODULE>(mHandle));
    mHandle = nullptr;
}

} // namespace Vexel
