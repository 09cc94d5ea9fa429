#include "Platform/Module.h"

#include "Common/StringFormatter.h"
#include "Platform/File.h"

#include <windows.h>

namespace Vexel::Detail
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

bool FullModulePath(const String& path, String& full, String& folder)
{
    const std::wstring native = NativePath(path);
    wchar_t resolved[MAX_PATH + 1] = {};
    wchar_t* name = nullptr;
    const DWORD length = GetFullPathNameW(native.c_str(), MAX_PATH + 1, resolved, &name);
    if (length == 0 || length > MAX_PATH)
        return false;
    full = FromNativeText(resolved);
    folder = FromNativeText(std::wstring_view(resolved, name ? static_cast<std::size_t>(name - resolved)
                                                             : std::wstring::traits_type::length(resolved)));
    return true;
}

void* OpenModule(const String& pathOrName, String& error)
{
    HMODULE handle = LoadLibraryW(ToNativeText(pathOrName).c_str());
    if (!handle)
    {
        const DWORD code = GetLastError();
        error = FormatString(u"%ls (%d)", SystemMessage(code), static_cast<int>(code));
    }
    return reinterpret_cast<void*>(handle);
}

void* ModuleSymbol(void* handle, const char* name)
{
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

void CloseModule(void* handle)
{
    FreeLibrary(static_cast<HMODULE>(handle));
}

} // namespace Vexel::Detail
