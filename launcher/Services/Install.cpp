#include "Services/Install.h"

#include "Base/TextReader.h"
#include "Frames/FrameWindow.h"
#include "Services/MessagePump.h"
#include "Services/Upgrade.h"

#include "Common/Log.h"
#include "Common/Md5.h"
#include "Common/StringEncoding.h"
#include "Platform/File.h"
#include "Platform/Folders.h"
#include "Platform/KeyStore.h"
#include "Platform/Process.h"
#include "Platform/Shortcut.h"
#include "Storage/Archive/HashArchive.h"
#include "Storage/ResourceManager.h"

#include <thread>

namespace Vexel
{

namespace
{

String gProgramVersion = u"1.0";
// The temporary uninstaller's name begins so (Windows keeps three letters of it).
constexpr const char16_t* _UNINSTALLER_PREFIX = u"vexel-";

struct UninstallValue
{
    const char16_t* name;
    String data;
};

// The start-menu entry: the installed program, its folder as working folder, an "Uninstall" action.
void WriteStartMenuEntry(const ScriptSettings& settings, const String& installed)
{
    Shortcut entry;
    entry.name = settings.mTitle;
    entry.target = installed;
    entry.workingFolder = FolderOf(installed);
    entry.actions.push_back({u"Uninstall", u"Uninstall", {u"/uninstall"}});
    CreateShortcut(StartMenuShortcutPath(settings.mTitle), entry);
}

void WriteUninstallEntry(const ScriptSettings& settings, const String& installed)
{
    const String quoted = u"\"" + installed + u"\"";
    const UninstallValue values[] = {
        {u"DisplayName", settings.mTitle}, {u"UninstallString", quoted + u" /uninstall"},
        {u"Publisher", _PUBLISHER},        {u"Contact", _PUBLISHER},
        {u"URLInfoAbout", _PUBLISHER_URL}, {u"HelpLink", _PUBLISHER_URL},
        {u"DisplayVersion", u"1.0"},       {u"InstallLocation", FolderOf(installed)},
        {u"DisplayIcon", quoted},
    };
    String key = UninstallKey(settings);
    for (const UninstallValue& value : values)
        if (!SetUserValue(key, value.name, value.data))
            return; // the store cannot be written: nothing more to try
    SetUserNumber(key, u"NoModify", 1);
    SetUserNumber(key, u"NoRepair", 1);
}

String AutostartName(const ScriptSettings& settings)
{
    return settings.mAppName.empty() ? settings.mTitle : settings.mAppName;
}

// Removes everything the install step made: the data folder, the uninstall entry, the shortcuts and the
// autostart entry (which would otherwise start a program that is gone). Only folders the installed client
// recorded and marked as its own go: the folder this copy runs from (the temporary folder, for the
// temporary uninstaller) or a folder someone else made there says nothing about the installed client.
void Uninstall(LauncherState& state)
{
    LogTrace(u"[MC] Uninstalling %ls", state.mTitle);
    for (const String& folder : RecordedDataFolders(state))
    {
        if (!FolderExists(folder))
            continue;
        if (IsOwnDataFolder(folder))
            DeleteFolderWithRetry(state, folder);
        else
            LogTrace(u"[MC] %ls carries no data-folder mark of this client; left in place", folder);
    }
    if (!state.mTitle.empty())
    {
        DeleteUserKey(UninstallKey(state));
        for (const String& path : {StartMenuShortcutPath(state.mTitle), DesktopShortcutPath(state.mTitle)})
            if (FileExists(path))
                DeleteFile(path);
    }
    String autostart = AutostartName(state);
    if (!autostart.empty())
        RemoveAutostart(autostart);
}

// The temporary uninstaller (a copy StartUninstaller made in the temporary folder) leaves nothing behind.
void RemoveTemporaryUninstaller(const LauncherState& state)
{
    String prefix = String(_UNINSTALLER_PREFIX).substr(0, 3);
    if (!SameFolder(state.mProgramFolder, GetTempFolder()) ||
        !StartsWith(FileNameOf(state.mProgramPath), prefix))
        return;
    if (RemoveProgramFileAtExit(state.mProgramPath))
        LogTrace(u"[MC] Removed the temporary uninstaller %ls", state.mProgramPath);
    else
        LogTrace(u"[MC] Cannot remove the temporary uninstaller %ls", state.mProgramPath);
}

// The temporary copy performs the removal, so that nothing runs from the installed place meanwhile.
void StartUninstaller(LauncherState& state)
{
    String temp = GetTempFileName(GetTempFolder(), _UNINSTALLER_PREFIX);
    if (temp.empty() || !CopyFile(state.mProgramPath, temp) || !SetExecutable(temp))
    {
        LogTrace(u"[MC] Cannot make the temporary uninstaller %ls", temp);
        if (!temp.empty())
            DeleteFile(temp);
        return;
    }
    LogTrace(u"[MC] Start process: %ls /uninstall", temp);
    if (StartProgram(temp, {u"/uninstall"}))
        state.mLoopEnd = 2;
}

void WriteDesktopShortcut(const String& name, const String& target, const String& workingFolder)
{
    String shown = FileNameOf(name, false);
    if (shown.empty())
        return;
    Shortcut link;
    link.name = shown;
    link.target = target;
    link.workingFolder = workingFolder;
    String path = DesktopShortcutPath(shown);
    if (!path.empty() && CreateShortcut(path, link))
        LogTrace(u"[MC] Shortcut %ls to %ls", path, link.target);
}

void CopyIfThere(const String& from, const String& to)
{
    if (FileExists(from) && !CopyFile(from, to))
        LogTrace(u"[MC] Cannot copy %ls to %ls", from, to);
}

bool CollectName(const String& name, void* a, void*)
{
    static_cast<std::vector<String>*>(a)->push_back(name);
    return true;
}

std::vector<String> NamesOf(IDataArchive* archive)
{
    std::vector<String> names;
    archive->Enumerate(CollectName, &names, nullptr);
    return names;
}

// None of the archive's records is damaged and its entries read back with their recorded digests.
bool ArchiveIsSound(IResourceManager& manager, IDataArchive* archive)
{
    auto* hash = dynamic_cast<HashArchive*>(archive);
    if (!hash || hash->GetSkippedCount() > 0)
        return false;
    for (const String& name : NamesOf(archive))
    {
        DataStream* stream = archive->OpenStream(name);
        if (!stream)
            return false;
        ByteBuffer bytes;
        bool ok = stream->ReadText(bytes, false);
        MD5 recorded = stream->GetMD5();
        manager.ReleaseStream(stream);
        if (!ok || (recorded != MD5() && Md5Of(bytes.data(), bytes.size()) != recorded))
            return false;
    }
    return true;
}

// Checks the pack's archive, then installs it: copied when the install folder has none, else merged into
// a copy of the installed one that is then put in place, so that a failure anywhere leaves the installed
// archive as it was. Entries of the pack replace entries of the same name; entries only the installed
// archive has stay.
bool InstallArchive(LauncherState& state, const String& pack, const String& installed)
{
    IResourceManager& manager = ResourceManagerOf(state);
    IDataArchive* from = manager.OpenHashArchive(u"preload:pack", pack, false);
    if (!from || !ArchiveIsSound(manager, from))
    {
        LogTrace(u"[MC] The preload archive %ls is damaged; nothing installed from it", pack);
        if (from)
            manager.RemoveArchive(from);
        return false;
    }
    if (!FileExists(installed))
    {
        manager.RemoveArchive(from);
        return CopyFile(pack, installed);
    }
    String work = installed + u".merge";
    DeleteFile(work);
    IDataArchive* to =
        CopyFile(installed, work) ? manager.OpenHashArchive(u"preload:target", work, true) : nullptr;
    bool ok = to != nullptr;
    if (ok)
    {
        manager.CopyArchiveResources(from, to, true);
        // Every entry of the pack must now be there as the pack has it.
        for (const String& name : NamesOf(from))
        {
            _dword size = 0, got = 0;
            MD5 md5, present;
            if (!from->GetResourceInfo(name, size, md5) || !to->GetResourceInfo(name, got, present) ||
                got != size || present != md5)
            {
                LogTrace(u"[MC] Preload entry %ls did not reach %ls", name, installed);
                ok = false;
                break;
            }
        }
    }
    manager.RemoveArchive(from);
    if (to)
        manager.RemoveArchive(to);
    ok = ok && MoveFile(work, installed);
    if (!ok)
        DeleteFile(work);
    return ok;
}

} // namespace

void SetProgramVersion(const String& version)
{
    gProgramVersion = version;
}

const String& ProgramVersion()
{
    return gProgramVersion;
}

String InstalledProgramPath(const LauncherState& state)
{
    if (state.mDataFolder.empty() || state.mFileName.empty())
        return String();
    return JoinFolder(state.mDataFolder, ProgramFileName(state.mFileName));
}

String InstallFolderOf(const LauncherState& state)
{
    if (!state.mInstallFolder.empty())
        return state.mInstallFolder;
    return state.mDataFolder.empty() ? GetCurrentFolder() : state.mDataFolder;
}

String UninstallKey(const ScriptSettings& settings)
{
    return String(_UNINSTALL_KEY) + u"\\" + settings.mTitle;
}

String DesktopShortcutPath(const String& name)
{
    String folder = GetSpecialFolder(SpecialFolder::Desktop);
    return folder.empty() ? String() : ShortcutPath(folder, name);
}

String StartMenuShortcutPath(const String& name)
{
    String folder = GetSpecialFolder(SpecialFolder::StartMenu);
    return folder.empty() ? String() : ShortcutPath(folder, name);
}

bool IsOwnDataFolder(const String& folder)
{
    return !folder.empty() && FileExists(JoinFolder(folder, _DATA_FOLDER_MARKER));
}

bool MarkDataFolder(const String& folder)
{
    if (IsOwnDataFolder(folder))
        return true;
    static const char _TEXT[] =
        "This folder belongs to the game client; uninstalling the client deletes it.\n";
    bool ok = WriteFile(JoinFolder(folder, _DATA_FOLDER_MARKER), _TEXT, sizeof _TEXT - 1);
    if (!ok)
        LogTrace(u"[MC] Cannot mark %ls as the data folder", folder);
    return ok;
}

std::vector<String> RecordedDataFolders(const LauncherState& state)
{
    std::vector<String> folders;
    auto add = [&](const String& folder)
    {
        if (folder.empty())
            return;
        for (const String& known : folders)
            if (SameFolder(known, folder))
                return;
        folders.push_back(folder);
    };
    String location;
    if (!state.mTitle.empty() && GetUserValue(UninstallKey(state), u"InstallLocation", location))
        add(location);
    if (!state.mUserRoot.empty() && !state.mAppName.empty())
    {
        String base = JoinFolder(state.mUserRoot, state.mAppName);
        TextReader reader;
        String info = JoinFolder(base, u"install.inf");
        if (FileExists(info) && reader.Open(info))
            add(reader.ReadRest());
        add(base);
    }
    return folders;
}

void InstallStep(LauncherState& state)
{
    LogTrace(u"[MC] Program version %ls", gProgramVersion);
    String installed = InstalledProgramPath(state);
    bool asInstalled = !installed.empty() && installed == state.mProgramPath;
    if (!asInstalled)
    {
        if (state.mUninstall)
        {
            Uninstall(state);
            RemoveTemporaryUninstaller(state);
            return;
        }
        if (!installed.empty() && !FilesEqual(state.mProgramPath, installed))
        {
            std::vector<_byte> bytes;
            if (ReadFile(state.mProgramPath, bytes) && WriteFile(installed, bytes) &&
                SetExecutable(installed))
                LogTrace(u"[MC] Installed the program as %ls", installed);
            else
                LogTrace(u"[MC] Cannot install the program as %ls", installed);
        }
    }
    else if (state.mUninstall)
    {
        StartUninstaller(state);
        return;
    }
    if (installed.empty())
        installed = state.mProgramPath;
    if (state.mAutoStart)
        SetAutostart(AutostartName(state), installed, String());
    if (state.mInstall && !state.mTitle.empty())
    {
        WriteUninstallEntry(state, installed);
        WriteStartMenuEntry(state, installed);
    }
    CreateDesktopShortcut(state, state.mTitle, installed);
}

void CreateDesktopShortcut(LauncherState& state, const String& name, const String& target)
{
    if (!state.mCreateShortcut)
        return;
    WriteDesktopShortcut(name.empty() ? state.mTitle : name, target.empty() ? state.mProgramPath : target,
                         InstallFolderOf(state));
}

String VirtualizedFolderOf(const String& profile, const String& installFolder)
{
    if (profile.empty() || installFolder.empty())
        return String();
    // C:\Users\x becomes C\Users\x; a path without a drive loses its leading separators instead.
    String rest = installFolder;
    if (rest.size() >= 2 && rest[1] == u':')
        rest.erase(1, 1);
    while (!rest.empty() && (rest.front() == u'\\' || rest.front() == u'/'))
        rest.erase(0, 1);
    return JoinFolder(JoinFolder(profile, _VIRTUALIZED_FOLDER), rest);
}

bool SameFolder(const String& a, const String& b)
{
    auto fold = [](String path)
    {
        for (char16_t& c : path)
            c = c == u'\\' ? u'/' : (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
        while (path.size() > 1 && path.back() == u'/')
            path.pop_back();
        return path;
    };
    return !a.empty() && fold(a) == fold(b);
}

CopyJob MakeCopyJob(const LauncherState& state)
{
    CopyJob job;
    job.mProgramPath = state.mProgramPath;
    job.mProgramFolder = state.mProgramFolder;
    job.mInstallFolder = InstallFolderOf(state);
    job.mProfileFolder = GetSpecialFolder(SpecialFolder::Profile);
    job.mResName = state.mResName;
    job.mProgramName = state.mFileName.empty() ? state.mExeName : state.mFileName;
    job.mTitle = state.mTitle;
    job.mCreateShortcut = state.mCreateShortcut;
    return job;
}

void CopyThreadProc(const CopyJob& job, std::atomic<bool>& done)
{
    LogTrace(u"[MC] CopyThreadProc startpath: %ls, vexelpath: %ls", job.mProgramFolder, job.mInstallFolder);
    // Only a program that a browser's protected mode started from its virtualized copy of the install
    // folder has files to bring over.
    if (!SameFolder(job.mProgramFolder, job.mInstallFolder) &&
        SameFolder(job.mProgramFolder, VirtualizedFolderOf(job.mProfileFolder, job.mInstallFolder)))
        MigrateProgramFiles(job, job.mProgramFolder, job.mInstallFolder);
    done.store(true);
}

void CopyThreadProc(LauncherState& state, std::atomic<bool>& done)
{
    CopyThreadProc(MakeCopyJob(state), done);
}

void MigrateProgramFiles(const CopyJob& job, const String& folder, const String& installFolder)
{
    if (!FolderExists(installFolder))
        CreateFolder(installFolder);
    std::vector<String> names = {u"install.inf", u"vexel3d.lod", u"vexel3d.fob"};
    if (!job.mResName.empty())
    {
        names.push_back(job.mResName + u".foc");
        names.push_back(job.mResName + u".fod");
    }
    for (const String& name : names)
        CopyIfThere(JoinFolder(folder, name), JoinFolder(installFolder, name));
    String program = JoinFolder(installFolder, ProgramFileName(job.mProgramName));
    if (CopyFile(job.mProgramPath, program))
        SetExecutable(program);
    else
        LogTrace(u"[MC] Cannot copy %ls to %ls", job.mProgramPath, program);
    if (job.mCreateShortcut)
        WriteDesktopShortcut(job.mTitle, program, job.mInstallFolder);
}

void MigrateProgramFiles(LauncherState& state, const String& folder, const String& installFolder)
{
    MigrateProgramFiles(MakeCopyJob(state), folder, installFolder);
}

void RunCopyThread(LauncherState& state)
{
    FrameWindow* progress = state.mFrames[_FRAME_PROGRESS].get();
    if (!progress)
        return;
    std::atomic<bool> done{false};
    // The worker gets its own copy of what it needs, made here on the main thread.
    std::thread worker([job = MakeCopyJob(state), &done] { CopyThreadProc(job, done); });
    PumpMessages(
        progress->mWindow, [&](_dword) { return !done.load(); }, true);
    worker.join();
}

std::vector<String> CacheFilesIn(const ScriptSettings& settings, const String& folder)
{
    std::vector<String> names = {u"vexel3d.lod",      u"vexel3d.fob",       u"@vexel3d.fob",
                                 u"vexelmclient.tmp", u"vexelnotifier.exe", u"vexelsetup.exe",
                                 u"loading.swf"};
    const String& res = settings.mResName;
    if (res.empty())
        return names; // every name would begin with an empty prefix
    for (const char16_t* extension : {u".fob", u".foc", u".fod", u".shr"})
        names.push_back(res + extension);
    names.push_back(u"@" + res + u".fob");
    EnumerateFiles(folder, false,
                   [&](const String& path)
                   {
                       String name = FileNameOf(path);
                       if (!StartsWith(name, res, false))
                           return;
                       std::size_t last = name.rfind(u'.');
                       if (last == String::npos)
                           return;
                       // "fod" anywhere after the first dot, so that a kept-aside "name.fod.old" goes too.
                       if (name.substr(last + 1) == u"lod" ||
                           name.find(u"fod", name.find(u'.') + 1) != String::npos)
                           names.push_back(name);
                   });
    return names;
}

void CleanCache(LauncherState& state)
{
    String folder = InstallFolderOf(state);
    LogTrace(u"[MC] Cleaning the cache in %ls", folder);
    for (const String& name : CacheFilesIn(state, folder))
    {
        String path = JoinFolder(folder, name);
        if (FileExists(path))
            DeleteFile(path);
    }
}

bool InstallPreloadPack(LauncherState& state, const String& packFolder, const String& archiveName)
{
    String pack = JoinFolder(state.mProgramFolder, packFolder);
    String install = InstallFolderOf(state);
    if (packFolder.empty() || archiveName.empty() || !FolderExists(pack))
    {
        LogTrace(u"[MC] No preload pack in %ls", pack);
        return false;
    }
    CreateFolder(install);
    CopyIfThere(JoinFolder(pack, u"vexel3d.lod"), JoinFolder(install, u"vexel3d.lod"));
    for (const char16_t* extension : {u".fob", u".foc"})
        CopyIfThere(JoinFolder(pack, archiveName + extension), JoinFolder(install, archiveName + extension));

    String from = JoinFolder(pack, archiveName + u".fod");
    String to = JoinFolder(install, archiveName + u".fod");
    if (!FileExists(from))
    {
        LogTrace(u"[MC] The preload pack holds no %ls.fod", archiveName);
        return false;
    }
    bool ok = InstallArchive(state, from, to);
    LogTrace(u"[MC] Preload archive %ls into %ls: %d", from, to, ok ? 1 : 0);
    return ok;
}

} // namespace Vexel
