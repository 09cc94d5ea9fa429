// The _Launcher members that start the game and keep the program: the loader, the start and stop of the
// game, shortcuts, cache cleaning, install and uninstall, the upgrade check, copies and deletions, downloads,
// the report and the outside client.
#include "Binding/ScriptNatives.h"

#include "Base/TextReader.h"
#include "Common/Compression.h"
#include "Common/Log.h"
#include "Common/StringEncoding.h"
#include "Common/StringHelpers.h"
#include "Flow/Commands.h"
#include "Frames/ClientBridge.h"
#include "Platform/File.h"
#include "Platform/Folders.h"
#include "Platform/KeyStore.h"
#include "Platform/System.h"
#include "Services/Install.h"
#include "Services/LoaderChoice.h"

namespace Vexel
{

namespace
{

LAUNCHER_NATIVE(Abort)
{
    state.mAbort = true;
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(StartGame)
{
    state.mStartUrl = ArgText(m, 0);
    state.mStartMode = 0;
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(SetLoader)
{
    String name = ArgText(m, 0);
    bool replace = ArgBool(m, 1);
    if (name.empty())
        return m.ReturnNothing();
    String path;
    if (WriteLoaderFile(state, name, true, replace, path) && replace)
        state.mLoaderPath = path;
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(StartLoader)
{
    String name = ArgText(m, 0);
    if (name.empty())
        return m.ReturnNothing();
    state.mStartMode = 2;
    state.mLoaderUrl.clear();
    state.mLoaderMd5.clear();
    state.mLoaderCdn.clear();
    String path;
    WriteLoaderFile(state, name, false, true, path);
    state.mLoaderPath = path;
    for (_dword i = 1; i <= 9; ++i)
    {
        String arg = ArgText(m, i);
        if (!arg.empty())
            state.mLoaderArgs.push_back(arg);
    }
    return m.ReturnNothing();
}
// The module from the operator's site, as a game page would name it: its address, its digest (without
// one no download could be told from a replaced file, so nothing starts), the CDN addresses ("|"
// between them) and up to eight loader arguments.
LAUNCHER_NATIVE(StartRemoteLoader)
{
    String url = TrimBlank(ArgText(m, 0));
    String md5 = TrimBlank(ArgText(m, 1));
    if (url.empty())
        return m.ReturnNothing();
    if (md5.empty())
    {
        LogTrace(u"[MC] Loader %ls named without its digest; not started", url);
        return m.ReturnNothing();
    }
    state.mStartMode = 2;
    state.mLoaderPath.clear();
    state.mLoaderUrl = url;
    state.mLoaderMd5 = md5;
    state.mLoaderCdn = SplitCdnList(ArgText(m, 2));
    for (_dword i = 3; i <= 10; ++i)
    {
        String arg = ArgText(m, i);
        if (!arg.empty())
            state.mLoaderArgs.push_back(arg);
    }
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(CreateShortcut)
{
    state.mCreateShortcut = true;
    state.mShortcutName = ArgText(m, 0);
    CreateDesktopShortcut(state, state.mShortcutName, String());
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(CleanCacheMember)
{
    if (state.mFrames[_FRAME_PROMPT])
    {
        ShowPrompt(state, 3);
        return m.ReturnNothing();
    }
    if (state.mModalState == 2)
        return m.ReturnNothing();
    state.mModalState = 2;
    Ui::WindowId owner = 0;
    if (FrameWindow* main = state.mFrames[_FRAME_MAIN].get())
        owner = main->mOwnerPage ? main->mOwnerPage : main->mWindow;
    int answer = Ui::ShowMessageBox(owner, state.mCleanCacheText, state.mCleanCacheCaption,
                                    Ui::_MB_YESNO | Ui::_MB_ICONQUESTION);
    if (answer == Ui::_IDYES)
        CleanCache(state);
    state.mModalState = 0;
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetIniValueMember)
{
    return m.ReturnString(GetIniValue(ArgText(m, 0), ArgText(m, 1), ArgText(m, 2)));
}
LAUNCHER_NATIVE(CreateTencentClientMember)
{
    return m.ReturnBool(CreateTencentClient(state, ArgText(m, 0)));
}
LAUNCHER_NATIVE(InstallPreloadPackMember)
{
    return m.ReturnBool(InstallPreloadPack(state, ArgText(m, 0), ArgText(m, 1)));
}
LAUNCHER_NATIVE(CheckMC)
{
    if (Usable(ArgText(m, 0), true))
        state.mCheckClient = {ArgText(m, 0), ArgText(m, 1)};
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(CopyTo)
{
    state.mFileOperation = _FILEOP_COPY;
    state.mFileOperationPath = Trim(ArgText(m, 0), _SPACES);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(DeleteFileMember)
{
    state.mFileOperation = _FILEOP_DELETE;
    state.mFileOperationPath = Trim(ArgText(m, 0), _SPACES);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(GetMACAddressMember)
{
    return m.ReturnString(GetMACAddress());
}
LAUNCHER_NATIVE(ReportChannel)
{
    if (Usable(ArgText(m, 0), true))
        state.mReportUrl = ArgText(m, 0);
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(Download)
{
    String url = ArgText(m, 0);
    if (!Usable(url, true))
        return m.ReturnNothing();
    // A key that is present, whatever it holds, means the download was done before.
    if (!UserKeyExists(ArgText(m, 2)))
    {
        state.mDownloadUrl = url;
        state.mDownloadFolder = ArgText(m, 1);
    }
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(InstallApp)
{
    state.mInstall = true;
    return m.ReturnNothing();
}
LAUNCHER_NATIVE(UninstallApp)
{
    state.mUninstall = true;
    return m.ReturnNothing();
}

} // namespace

void AddProgramMembers(IScriptManager& m)
{
    static constexpr Member methods[] = {
        {u"abort", &_NATIVE_Abort},
        {u"startGame", &_NATIVE_StartGame},
        {u"setLoader", &_NATIVE_SetLoader},
        {u"startLoader", &_NATIVE_StartLoader},
        {u"startRemoteLoader", &_NATIVE_StartRemoteLoader},
        {u"createShortcut", &_NATIVE_CreateShortcut},
        {u"cleanCache", &_NATIVE_CleanCacheMember},
        {u"getIniValue", &_NATIVE_GetIniValueMember},
        {u"createTencentClient", &_NATIVE_CreateTencentClientMember},
        {u"installPreloadPack", &_NATIVE_InstallPreloadPackMember},
        {u"checkMC", &_NATIVE_CheckMC},
        {u"copyTo", &_NATIVE_CopyTo},
        {u"deleteFile", &_NATIVE_DeleteFileMember},
        {u"getMACAddress", &_NATIVE_GetMACAddressMember},
        {u"reportChannel", &_NATIVE_ReportChannel},
        {u"download", &_NATIVE_Download},
        {u"installApp", &_NATIVE_InstallApp},
        {u"uninstallApp", &_NATIVE_UninstallApp},
    };
    AddMethods(m, methods);
}

bool WriteLoaderFile(LauncherState& state, const String& name, bool forSetLoader, bool replace, String& path)
{
    String fileName = FileNameOf(name);
    String folder = state.mProgramFolder;
    if (forSetLoader && state.mUseCurrentPath)
    {
        // Anchored at the program folder: the data sub-folder becomes the current folder later on, so a
        // relative "data" would point one level too deep.
        folder = JoinFolder(state.mProgramFolder, u"data");
        if (!FolderExists(folder))
            CreateFolder(folder);
    }
    path = JoinFolder(folder, fileName);
    if (forSetLoader && !replace && FileExists(path))
        return true;
    std::vector<_byte> data;
    bool changed = false;
    bool ok = ReadNamedData(name, data) && DecompressBuffer(data, changed) && WriteFile(path, data);
    if (!ok)
        LogTrace(u"[MC] Failed to create loader file %ls", path);
    return ok;
}

String GetIniValue(const String& file, const String& section, const String& key)
{
    TextReader reader;
    if (!reader.Open(file))
        return String();
    bool inSection = false;
    while (!reader.AtEnd())
    {
        String line = Trim(reader.ReadLine(), _LINE_BLANKS);
        if (line.empty() || line[0] == u';')
            continue;
        if (line.front() == u'[')
        {
            std::size_t close = line.find(u']');
            String name = close == String::npos ? line.substr(1) : line.substr(1, close - 1);
            inSection = CompareText(Trim(name, _LINE_BLANKS), section, false) == 0;
            continue;
        }
        if (!inSection)
            continue;
        std::size_t equals = line.find(u'=');
        if (equals == String::npos)
            continue;
        if (CompareText(Trim(line.substr(0, equals), _LINE_BLANKS), key, false) == 0)
            return Trim(line.substr(equals + 1), _LINE_BLANKS);
    }
    return String();
}

} // namespace Vexel
