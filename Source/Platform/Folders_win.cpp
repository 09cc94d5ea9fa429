#include "Platform/Folders.h"

#include "Platform/File.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>
#include <windows.h>

#include <shlobj.h>

// The system's macros of these names would rename the program's own functions.
#undef DeleteFile
#undef CopyFile
#undef MoveFile
#undef GetFreeSpace
#undef GetTempFileName

namespace Vexel
{

namespace
{

struct Entry
{
    std::wstring name;
    DWORD attributes = 0;
};

// The folder's entries but "." and "..", in name order.
std::vector<Entry> ListFolder(const std::wstring& native)
{
    std::vector<Entry> entries;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((native + L"\\*.*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return entries;
    do
    {
        std::wstring name = data.cFileName;
        if (name != L"." && name != L"..")
            entries.push_back({std::move(name), data.dwFileAttributes});
    } while (FindNextFileW(find, &data));
    FindClose(find);
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return entries;
}

bool IsFolder(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Links (reparse points) inside are removed as entries, never entered.
bool RemoveTree(const std::wstring& native)
{
    if (!IsFolder(GetFileAttributesW(native.c_str())))
        return false;
    bool ok = true;
    for (const Entry& entry : ListFolder(native))
    {
        std::wstring child = native + L"\\" + entry.name;
        SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (IsFolder(entry.attributes) && !(entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            ok = RemoveTree(child) && ok;
        else if (IsFolder(entry.attributes))
            ok = RemoveDirectoryW(child.c_str()) && ok;
        else
            ok = DeleteFileW(child.c_str()) && ok;
    }
    SetFileAttributesW(native.c_str(), FILE_ATTRIBUTE_NORMAL);
    return RemoveDirectoryW(native.c_str()) && ok;
}

_dword Enumerate(const String& folder, bool recursive, const FileCallback& callback)
{
    std::wstring native = NativePath(folder);
    _dword count = 0;
    for (const Entry& entry : ListFolder(native))
    {
        String path = JoinFolder(folder, FromNativeText(entry.name));
        if (IsFolder(entry.attributes))
        {
            if (recursive && !(entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT))
                count += Enumerate(path, true, callback);
            continue;
        }
        if (callback)
            callback(path);
        ++count;
    }
    return count;
}

String ShellFolder(int csidl)
{
    wchar_t buffer[MAX_PATH + 1] = {};
    if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer)))
        return String();
    return FromNativeText(buffer);
}

} // namespace

namespace Detail
{

bool MakeOneFolder(const String& path)
{
    std::wstring native = NativePath(path);
    if (native.empty())
        return false;
    if (CreateDirectoryW(native.c_str(), nullptr))
        return true;
    return GetLastError() == ERROR_ALREADY_EXISTS && IsFolder(GetFileAttributesW(native.c_str()));
}

} // namespace Detail

bool RemoveFolder(const String& path)
{
    std::wstring native = NativePath(path);
    while (!native.empty() && (native.back() == L'\\' || native.back() == L'/'))
        native.pop_back();
    return !native.empty() && RemoveTree(native);
}

_dword EnumerateFiles(const String& folder, bool recursive, const FileCallback& callback)
{
    return Enumerate(folder, recursive, callback);
}

_qword GetFreeSpace(const String& path)
{
    // The nearest existing folder along the path answers for a path not made yet.
    std::wstring native = NativePath(path);
    while (!native.empty() && !IsFolder(GetFileAttributesW(native.c_str())))
    {
        std::size_t cut = native.find_last_of(L"\\/");
        native = cut == std::wstring::npos ? std::wstring() : native.substr(0, cut);
        if (!native.empty() && native.back() == L':')
            native += L'\\';
    }
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(native.empty() ? nullptr : native.c_str(), &available, nullptr, nullptr))
        return 0;
    return static_cast<_qword>(available.QuadPart);
}

String GetCurrentFolder()
{
    DWORD length = GetCurrentDirectoryW(0, nullptr);
    if (length == 0)
        return String();
    std::wstring buffer(length, L'\0');
    length = GetCurrentDirectoryW(length, buffer.data());
    buffer.resize(length);
    return FromNativeText(buffer);
}

bool SetCurrentFolder(const String& path)
{
    std::wstring native = NativePath(path);
    return !native.empty() && SetCurrentDirectoryW(native.c_str());
}

String GetTempFileName(const String& folder, const String& prefix)
{
    if (!FolderExists(folder) || prefix.find_first_of(u"\\/") != String::npos)
        return String();
    // The system's GetTempFileNameW keeps only three characters of the prefix: the whole prefix, then a
    // number made unique by creating the file exclusively.
    static std::atomic<unsigned> serial{0};
    const unsigned seed = GetTickCount() ^ (GetCurrentProcessId() << 16);
    for (int attempt = 0; attempt < 1000; ++attempt)
    {
        wchar_t digits[16];
        wsprintfW(digits, L"%.6X", (seed + serial++ * 2654435761u) & 0xFFFFFF);
        String name = prefix + FromNativeText(digits) + u".tmp";
        String path = JoinFolder(folder, name);
        HANDLE handle = CreateFileW(NativePath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE)
        {
            CloseHandle(handle);
            return path;
        }
        if (GetLastError() != ERROR_FILE_EXISTS)
            return String();
    }
    return String();
}

String GetTempFolder()
{
    wchar_t buffer[MAX_PATH + 2] = {};
    DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH + 1)
        return String();
    String folder = FromNativeText(std::wstring_view(buffer, length));
    if (folder.size() > 3 && folder.back() == u'\\')
        folder.pop_back();
    return folder;
}

String GetSpecialFolder(SpecialFolder which)
{
    switch (which)
    {
    case SpecialFolder::Profile:
        return ShellFolder(CSIDL_PROFILE);
    case SpecialFolder::Desktop:
        return ShellFolder(CSIDL_DESKTOPDIRECTORY);
    case SpecialFolder::StartMenu:
        return ShellFolder(CSIDL_STARTMENU);
    case SpecialFolder::AppData:
        return ShellFolder(CSIDL_LOCAL_APPDATA);
    }
    return String();
}

String GetUserRoot()
{
    String profile = ShellFolder(CSIDL_PROFILE);
    return profile.empty() ? String() : profile + u"\\vexel";
}

} // namespace Vexel
