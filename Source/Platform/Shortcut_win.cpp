// Shortcuts are shell links: an IShellLinkW filled in and saved through its IPersistFile. Actions have no
// place in a link; the uninstall entry offers removal on Windows.
#include "Platform/Shortcut.h"

#include "Common/Log.h"
#include "Platform/File.h"
#include "Platform/Folders.h"

#include <string>
#include <windows.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

namespace Vexel
{

namespace
{

// Words joined so that the program's start-up code splits them back into the same words.
std::wstring JoinArguments(const std::vector<String>& arguments)
{
    std::wstring line;
    for (const String& argument : arguments)
    {
        std::wstring word = ToNativeText(argument);
        if (!line.empty())
            line += L' ';
        if (!word.empty() && word.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        {
            line += word;
            continue;
        }
        line += L'"';
        std::size_t backslashes = 0;
        for (wchar_t c : word)
        {
            if (c == L'\\')
            {
                ++backslashes;
                continue;
            }
            line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
            backslashes = 0;
            line += c;
        }
        line.append(backslashes * 2, L'\\');
        line += L'"';
    }
    return line;
}

// COM for the calling thread for as long as the object lives; a thread that already has it in another
// model still gets the links made.
class ComScope
{
public:
    ComScope() : mResult(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComScope()
    {
        if (SUCCEEDED(mResult))
            CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

    bool Usable() const { return SUCCEEDED(mResult) || mResult == RPC_E_CHANGED_MODE; }

private:
    HRESULT mResult;
};

template <typename T> class ComPtr
{
public:
    ComPtr() = default;
    ~ComPtr()
    {
        if (mPointer)
            mPointer->Release();
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    T* operator->() const { return mPointer; }
    T** Out() { return &mPointer; }
    explicit operator bool() const { return mPointer != nullptr; }

private:
    T* mPointer = nullptr;
};

// Links hold paths the way the shell writes them, with backslashes.
std::wstring LinkPath(const String& path)
{
    std::wstring native = NativePath(path);
    for (wchar_t& c : native)
        if (c == L'/')
            c = L'\\';
    return native;
}

} // namespace

String ShortcutPath(const String& folder, const String& name)
{
    // What a Windows file name cannot hold.
    String clean;
    for (char16_t c : name)
        clean += (c < 0x20 || String(u"\\/:*?\"<>|").find(c) != String::npos) ? u'_' : c;
    if (clean.empty() || clean == u"." || clean == u"..")
        clean = u"_" + clean;
    return JoinFolder(folder, clean + u".lnk");
}

bool CreateShortcut(const String& path, const Shortcut& shortcut)
{
    if (path.empty() || shortcut.target.empty())
        return false;
    String folder = path.substr(0, path.find_last_of(u"/\\"));
    if (!CreateFolder(folder))
    {
        LogTrace(u"[FG] Cannot make the folder of the shortcut %ls", path);
        return false;
    }
    ComScope com;
    if (!com.Usable())
        return false;
    ComPtr<IShellLinkW> link;
    HRESULT result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                      reinterpret_cast<void**>(link.Out()));
    if (FAILED(result))
    {
        LogTrace(u"[FG] Cannot create a shell link: %x", static_cast<unsigned>(result));
        return false;
    }
    link->SetPath(LinkPath(shortcut.target).c_str());
    link->SetArguments(JoinArguments(shortcut.arguments).c_str());
    link->SetDescription(ToNativeText(shortcut.name).c_str());
    if (!shortcut.workingFolder.empty())
        link->SetWorkingDirectory(LinkPath(shortcut.workingFolder).c_str());
    // Without an icon file the program's own first icon shows.
    link->SetIconLocation(LinkPath(shortcut.icon.empty() ? shortcut.target : shortcut.icon).c_str(), 0);
    ComPtr<IPersistFile> file;
    result = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.Out()));
    if (SUCCEEDED(result))
    {
        // A read-only link left by someone else would refuse the save.
        SetFileAttributesW(NativePath(path).c_str(), FILE_ATTRIBUTE_NORMAL);
        result = file->Save(NativePath(path).c_str(), TRUE);
    }
    if (FAILED(result))
    {
        LogTrace(u"[FG] Cannot write the shortcut %ls: %x", path, static_cast<unsigned>(result));
        return false;
    }
    return true;
}

} // namespace Vexel
