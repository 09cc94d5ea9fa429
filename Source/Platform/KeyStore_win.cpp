// The store is the registry under HKEY_CURRENT_USER: keys are registry keys, values string values. The
// registry compares names without regard to case and writes each value whole.
#include "Platform/KeyStore.h"

#include "Platform/File.h"

#include <string>
#include <windows.h>

namespace Vexel
{

namespace
{

// Values are at most this long (characters); longer ones are refused, never cut.
constexpr DWORD _MAX_VALUE_CHARS = 1024 * 1024;

} // namespace

String KeyStorePath()
{
    return u"HKEY_CURRENT_USER";
}

bool UserKeyExists(const String& key)
{
    HKEY handle = nullptr;
    if (key.empty() || RegOpenKeyExW(HKEY_CURRENT_USER, ToNativeText(key).c_str(), 0, KEY_QUERY_VALUE,
                                     &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

bool GetUserValue(const String& key, const String& name, String& value)
{
    value.clear();
    if (key.empty())
        return false;
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, ToNativeText(key).c_str(), 0, KEY_QUERY_VALUE, &handle) !=
        ERROR_SUCCESS)
        return false;
    const std::wstring valueName = ToNativeText(name);
    DWORD type = 0;
    DWORD bytes = 0;
    bool ok = RegQueryValueExW(handle, valueName.c_str(), nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS &&
              (type == REG_SZ || type == REG_EXPAND_SZ) && bytes / sizeof(wchar_t) <= _MAX_VALUE_CHARS;
    if (ok)
    {
        std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
        DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        ok = RegQueryValueExW(handle, valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                              &size) == ERROR_SUCCESS;
        if (ok)
        {
            // The stored terminator (when there is one) is not part of the value.
            text.resize(size / sizeof(wchar_t));
            while (!text.empty() && text.back() == L'\0')
                text.pop_back();
            value = FromNativeText(text);
        }
    }
    RegCloseKey(handle);
    return ok;
}

bool SetUserValue(const String& key, const String& name, const String& value)
{
    if (key.empty() || value.size() > _MAX_VALUE_CHARS)
        return false;
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, ToNativeText(key).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &handle, nullptr) != ERROR_SUCCESS)
        return false;
    const std::wstring text = ToNativeText(value);
    bool ok = RegSetValueExW(handle, ToNativeText(name).c_str(), 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    RegCloseKey(handle);
    return ok;
}

bool GetUserNumber(const String& key, const String& name, _dword& value)
{
    DWORD number = 0;
    DWORD size = sizeof(number);
    if (key.empty() || RegGetValueW(HKEY_CURRENT_USER, ToNativeText(key).c_str(), ToNativeText(name).c_str(),
                                    RRF_RT_REG_DWORD, nullptr, &number, &size) != ERROR_SUCCESS)
        return false;
    value = number;
    return true;
}

bool SetUserNumber(const String& key, const String& name, _dword value)
{
    if (key.empty())
        return false;
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, ToNativeText(key).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &handle, nullptr) != ERROR_SUCCESS)
        return false;
    const DWORD number = value;
    bool ok = RegSetValueExW(handle, ToNativeText(name).c_str(), 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&number), sizeof(number)) == ERROR_SUCCESS;
    RegCloseKey(handle);
    return ok;
}

bool DeleteUserValue(const String& key, const String& name)
{
    if (key.empty())
        return false;
    HKEY handle = nullptr;
    LONG opened = RegOpenKeyExW(HKEY_CURRENT_USER, ToNativeText(key).c_str(), 0, KEY_SET_VALUE, &handle);
    if (opened == ERROR_FILE_NOT_FOUND)
        return true;
    if (opened != ERROR_SUCCESS)
        return false;
    LONG deleted = RegDeleteValueW(handle, ToNativeText(name).c_str());
    RegCloseKey(handle);
    return deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND;
}

bool DeleteUserKey(const String& key)
{
    if (key.empty())
        return false;
    LONG deleted = RegDeleteTreeW(HKEY_CURRENT_USER, ToNativeText(key).c_str());
    if (deleted == ERROR_SUCCESS)
        deleted = RegDeleteKeyW(HKEY_CURRENT_USER, ToNativeText(key).c_str());
    return deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND;
}

} // namespace Vexel
