#include "Platform/Folders.h"

#include "Platform/File.h"

namespace Vexel
{

String JoinFolder(const String& folder, const String& name)
{
    if (folder.empty())
        return name;
    char16_t last = folder.back();
    if (last == u'\\' || last == u'/')
        return folder + name;
    bool slashOnly = folder.find(u'/') != String::npos && folder.find(u'\\') == String::npos;
    String joined = folder;
    joined += slashOnly ? u'/' : u'\\';
    joined += name;
    return joined;
}

bool CreateFolder(const String& path)
{
    if (path.empty())
        return false;
    if (path.back() == u':' || FolderExists(path))
        return true;
    for (std::size_t i = 1; i < path.size(); ++i)
    {
        if (path[i] != u'\\' && path[i] != u'/')
            continue;
        String level = path.substr(0, i);
        if (level.back() == u':' || level.back() == u'\\' || level.back() == u'/')
            continue;
        if (!FolderExists(level) && !Detail::MakeOneFolder(level))
            return false;
    }
    return FolderExists(path) || Detail::MakeOneFolder(path);
}

} // namespace Vexel
