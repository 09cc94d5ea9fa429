#include "Platform/Folders.h"

#include "Platform/File.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <limits.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace Vexel
{

namespace
{

std::vector<std::string> ListFolder(const std::string& native)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(native.c_str());
    if (!dir)
        return names;
    while (dirent* entry = ::readdir(dir))
    {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(std::move(name));
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

bool RemoveTree(const std::string& native)
{
    // Entries of a folder without write permission cannot be removed: open it up first.
    struct stat st;
    if (::lstat(native.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    if ((st.st_mode & (S_IWUSR | S_IXUSR)) != (S_IWUSR | S_IXUSR))
        ::chmod(native.c_str(), (st.st_mode & 07777) | S_IRWXU);
    bool ok = true;
    for (const std::string& name : ListFolder(native))
    {
        std::string child = native + "/" + name;
        struct stat entry;
        if (::lstat(child.c_str(), &entry) != 0)
            continue;
        if (S_ISDIR(entry.st_mode))
            ok = RemoveTree(child) && ok;
        else
            ok = ::unlink(child.c_str()) == 0 && ok;
    }
    return ::rmdir(native.c_str()) == 0 && ok;
}

_dword Enumerate(const String& folder, bool recursive, const FileCallback& callback)
{
    std::string native = NativePath(folder);
    _dword count = 0;
    for (const std::string& name : ListFolder(native))
    {
        std::string child = native + "/" + name;
        struct stat linkInfo;
        struct stat info;
        if (::lstat(child.c_str(), &linkInfo) != 0)
            continue;
        bool isLink = S_ISLNK(linkInfo.st_mode);
        if (::stat(child.c_str(), &info) != 0)
            info = linkInfo; // a dangling link is listed as a file
        String path = JoinFolder(folder, FromNativeText(name));
        if (S_ISDIR(info.st_mode))
        {
            if (recursive && !isLink)
                count += Enumerate(path, true, callback);
            continue;
        }
        if (callback)
            callback(path);
        ++count;
    }
    return count;
}

String Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? FromNativeText(value) : String();
}

String Home()
{
    String home = Environment("HOME");
    if (!home.empty())
        return home;
    if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_dir)
        return FromNativeText(user->pw_dir);
    return String();
}

// An XDG base folder: the variable when it holds an absolute path, else the default below the home.
String XdgFolder(const char* variable, const char16_t* fallback)
{
    String value = Environment(variable);
    if (!value.empty() && value[0] == u'/')
        return value;
    String home = Home();
    return home.empty() ? String() : home + u"/" + fallback;
}

// XDG_DESKTOP_DIR from user-dirs.dirs ("$HOME/Desktop" style), else ~/Desktop.
String DesktopFolder()
{
    String home = Home();
    String config = XdgFolder("XDG_CONFIG_HOME", u".config");
    std::ifstream in(NativePath(config + u"/user-dirs.dirs"));
    std::string line;
    while (!config.empty() && std::getline(in, line))
    {
        const std::string key = "XDG_DESKTOP_DIR=\"";
        if (line.compare(0, key.size(), key) != 0 || line.size() < key.size() + 1 || line.back() != '"')
            continue;
        std::string value = line.substr(key.size(), line.size() - key.size() - 1);
        if (value.compare(0, 5, "$HOME") == 0)
            return home.empty() ? String() : home + FromNativeText(value.substr(5));
        if (!value.empty() && value[0] == '/')
            return FromNativeText(value);
    }
    return home.empty() ? String() : home + u"/Desktop";
}

} // namespace

namespace Detail
{

bool MakeOneFolder(const String& path)
{
    std::string native = NativePath(path);
    if (native.empty())
        return false;
    if (::mkdir(native.c_str(), 0777) == 0)
        return true;
    struct stat st;
    return errno == EEXIST && ::stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace Detail

bool RemoveFolder(const String& path)
{
    std::string native = NativePath(path);
    return !native.empty() && RemoveTree(native);
}

_dword EnumerateFiles(const String& folder, bool recursive, const FileCallback& callback)
{
    return Enumerate(folder, recursive, callback);
}

_qword GetFreeSpace(const String& path)
{
    std::string native = NativePath(path);
    if (native.empty())
        native = ".";
    struct stat st;
    while (::stat(native.c_str(), &st) != 0)
    {
        std::size_t cut = native.find_last_of('/');
        if (cut == std::string::npos)
            native = ".";
        else
            native = cut == 0 ? "/" : native.substr(0, cut);
    }
    struct statvfs vfs;
    if (::statvfs(native.c_str(), &vfs) != 0)
        return 0;
    return static_cast<_qword>(vfs.f_bavail) * static_cast<_qword>(vfs.f_frsize);
}

String GetCurrentFolder()
{
    char buffer[PATH_MAX + 1];
    return ::getcwd(buffer, sizeof buffer) ? FromNativeText(buffer) : String();
}

bool SetCurrentFolder(const String& path)
{
    std::string native = NativePath(path);
    return !native.empty() && ::chdir(native.c_str()) == 0;
}

String GetTempFileName(const String& folder, const String& prefix)
{
    if (!FolderExists(folder) || prefix.find_first_of(u"\\/") != String::npos)
        return String();
    std::string native = NativePath(folder);
    std::string name = native + "/" + ToNativeText(prefix) + "XXXXXX.tmp";
    int fd = ::mkostemps(name.data(), 4, O_CLOEXEC);
    if (fd < 0)
        return String();
    ::close(fd);
    return JoinFolder(folder, FromNativeText(name.substr(native.size() + 1)));
}

String GetTempFolder()
{
    String folder = Environment("TMPDIR");
    return !folder.empty() && folder[0] == u'/' ? folder : String(u"/tmp");
}

String GetSpecialFolder(SpecialFolder which)
{
    switch (which)
    {
    case SpecialFolder::Profile:
        return Home();
    case SpecialFolder::Desktop:
        return DesktopFolder();
    case SpecialFolder::StartMenu:
    {
        String data = XdgFolder("XDG_DATA_HOME", u".local/share");
        return data.empty() ? String() : data + u"/applications";
    }
    case SpecialFolder::AppData:
        return XdgFolder("XDG_DATA_HOME", u".local/share");
    }
    return String();
}

String GetUserRoot()
{
    String data = XdgFolder("XDG_DATA_HOME", u".local/share");
    return data.empty() ? String() : data + u"/vexel";
}

} // namespace Vexel
