#include "Startup/Startup.h"

#include "Base/TextReader.h"
#include "Binding/LauncherScript.h"
#include "Flow/Commands.h"
#include "Flow/MainLoop.h"
#include "Frames/FrameWindow.h"
#include "Frames/GameFrame.h"
#include "Frames/WebWindow.h"
#include "Services/Install.h"
#include "Services/RemoteFetch.h"
#include "Services/Upgrade.h"

#include "Common/Compression.h"
#include "Common/Log.h"
#include "Common/StringEncoding.h"
#include "Common/StringFormatter.h"
#include "Common/Variable.h"
#include "Platform/File.h"
#include "Platform/Folders.h"
#include "Platform/Resources.h"
#include "Platform/System.h"
#include "Script/LuaScriptManager.h"
#include "Storage/ResourceManager.h"

#include <cstdio>

namespace Vexel
{

namespace
{

constexpr std::size_t _MAX_COMMAND_LINE = 1023;

bool DebuggerAttached()
{
    std::vector<_byte> status;
    if (!ReadFile(u"/proc/self/status", status))
        return false;
    std::string text(status.begin(), status.end());
    std::size_t at = text.find("TracerPid:");
    if (at == std::string::npos)
        return false;
    at += 10;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
        ++at;
    return at < text.size() && text[at] != '0';
}

// "_info" and "print": every argument as text (other kinds read as empty), joined with ", ".
int PrintArguments(IScriptManager& m, ScriptObject*)
{
    String line;
    _dword count = m.GetArgCount();
    for (_dword i = 0; i < count; ++i)
    {
        if (i > 0)
            line += u", ";
        Variable value;
        if (m.GetArgVariable(i, value) && value.GetType() == _VAR_TEXT)
            line += value.GetText();
    }
    LogTrace(u"%ls", line);
    return m.ReturnNothing();
}
const ScriptNative _PRINT{PrintArguments, false};

String EnvironmentOrUnset(const char16_t* name)
{
    String value;
    return GetEnvironment(name, value) && !value.empty() ? u"\"" + value + u"\"" : String(u"unset");
}

// On the error output, and in the trace log when one is open (without one, trace lines go to the
// error output already).
void ReportNoDisplay(const LauncherState& state)
{
    String text = FormatString(u"[MC] No display to show the launcher's windows on (DISPLAY %ls, "
                               u"WAYLAND_DISPLAY %ls): the launcher needs a graphical session and exits",
                               EnvironmentOrUnset(u"DISPLAY"), EnvironmentOrUnset(u"WAYLAND_DISPLAY"));
    if (state.mLogFiles)
        LogTrace(u"%ls", text);
    std::string line = ToUtf8(text) + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

bool StartsWithNoCase(const String& text, const String& prefix)
{
    return text.size() >= prefix.size() && CompareText(text.substr(0, prefix.size()), prefix, false) == 0;
}

} // namespace

void ReadCommandLine(LauncherState& state, const char* commandLine)
{
    ReadCommandLine(state, commandLine ? AnsiToWide(commandLine) : String());
}

void ReadCommandLine(LauncherState& state, const String& commandLine)
{
    String text = commandLine;
    if (text.size() > _MAX_COMMAND_LINE)
        text.resize(_MAX_COMMAND_LINE);
    state.mCmd = text;
}

void SetProgramPath(LauncherState& state, const String& path)
{
    state.mProgramPath = path;
    state.mExeName = FileNameOf(path, false);
    String folder = FolderOf(path);
    while (!folder.empty() && (folder.back() == u'/' || folder.back() == u'\\'))
        folder.pop_back();
    state.mProgramFolder = folder;
}

SwitchFlags ReadSwitchFile(const String& path)
{
    SwitchFlags flags;
    TextReader reader;
    if (!reader.Open(path))
        return flags;
    String line = reader.ReadLine();
    flags.mLog = line.find(u"mclog") != String::npos;
    flags.mNoAutoUpgrade = line.find(u"noautoupgrade") != String::npos;
    return flags;
}

IScriptManager* PrepareScripting(LauncherState& state)
{
    if (!state.mGameFrame)
        state.mGameFrame = std::make_unique<GameFrame>();
    if (!state.mScriptManager)
    {
        state.mScriptManager = std::make_unique<LuaScriptManager>();
        LogTrace(u"[KL] Lua ScriptManager Created");
    }
    IScriptManager* manager = state.mScriptManager.get();
    RegisterLauncherClasses(*manager);
    manager->CallClassNew(u"_launcher", u"_Launcher");
    manager->AddFunction(u"_info", &_PRINT, ScriptNativeThunk, true);
    manager->AddFunction(u"print", &_PRINT, ScriptNativeThunk, true);
    return manager;
}

void SetEnvironmentMarkers()
{
    SetEnvironment(u"[MICRO-CLIENT]", 1);
    SetEnvironment(u"[VEXEL-3D]", 0);
}

bool CreateMainWindow(LauncherState& state)
{
    InstallHandlers(state, &CallButtonClick);
    // An ordinary painted pop-up until a script gives it a look of its own.
    return CreateFrameWindow(state, _FRAME_MAIN, state.mTitle, 0, 0, 800, 600, 1);
}

bool RunStartupScript(IScriptManager& manager, const String& name, bool unpack)
{
    std::vector<_byte> data;
    if (!LoadEmbeddedResource(name, data) && !ReadFile(JoinFolder(GetCurrentFolder(), name), data))
        return false;
    if (unpack && IsCompressed(data.data(), data.size()))
    {
        bool changed = false;
        if (!DecompressBuffer(data, changed))
        {
            LogError(u"[MC] Cannot unpack %ls", name);
            return false;
        }
    }
    manager.RunBuffer(data.data(), static_cast<_dword>(data.size()), name, _SCRIPT_RESULT_DISCARD);
    return true;
}

void RunSettingsScript(IScriptManager& manager)
{
    String path;
    if (GetEnvironment(u"VEXEL_SETTINGS", path) && !path.empty())
    {
        std::vector<_byte> data;
        if (ReadFile(path, data))
        {
            LogTrace(u"[MC] Settings script from %ls", path);
            manager.RunBuffer(data.data(), static_cast<_dword>(data.size()), u"config.lua",
                              _SCRIPT_RESULT_DISCARD);
            return;
        }
        LogError(u"[MC] Cannot read the settings script %ls named by VEXEL_SETTINGS; the built-in one runs",
                 path);
    }
    RunStartupScript(manager, u"config.lua", false);
}

void ShowProgressWindow(LauncherState& state)
{
    FrameWindow* progress = state.mFrames[_FRAME_PROGRESS].get();
    if (!progress)
        return;
    Ui::ShowUiWindow(progress->mWindow, Ui::_SW_SHOW);
    Ui::UpdateUiWindow(progress->mWindow);
    if (state.mFileOperation == _FILEOP_COPY)
        progress->SetProgress(0.95);
    else if (state.mFileOperation == _FILEOP_DELETE)
        progress->SetProgress(0.99);
}

void SettleDataFolder(LauncherState& state)
{
    String programData = JoinFolder(state.mProgramFolder, u"data");
    if (state.mUseCurrentPath)
    {
        // Beside the program by the operator's choice; marked only when this client makes it.
        if (!FolderExists(programData) && CreateFolder(programData))
            MarkDataFolder(programData);
        // Hidden on this platform means nothing more than the folder's own name; nothing to set.
        if (SetCurrentFolder(programData))
            state.mDataFolder = programData;
        return;
    }
    String base = JoinFolder(state.mUserRoot, state.mAppName);
    String infoPath = JoinFolder(base, u"install.inf");
    String chosen = base;
    TextReader reader;
    if (FileExists(infoPath) && reader.Open(infoPath))
    {
        String named = reader.ReadRest();
        if (!named.empty() && FolderExists(named))
            chosen = named;
    }
    state.mInstallFolder = chosen;
    // A data folder beside the program is adopted only when this client made it: a folder of that
    // common name may be anyone's, and uninstall deletes the data folder.
    if (!FileExists(infoPath) && FolderExists(programData))
    {
        if (IsOwnDataFolder(programData))
        {
            CreateFolder(base);
            std::vector<_byte> bytes;
            for (char16_t c : programData)
            {
                bytes.push_back(static_cast<_byte>(c & 0xFF));
                bytes.push_back(static_cast<_byte>(c >> 8));
            }
            WriteFile(infoPath, bytes);
            chosen = programData;
        }
        else
            LogTrace(u"[MC] %ls is not this client's data folder; not adopted", programData);
    }
    // The per-user folder is the client's own by its place (one made before the mark existed gets it
    // now); a folder install.inf names is marked only when this start makes it.
    bool made = !FolderExists(chosen);
    CreateFolder(chosen);
    if (made)
        MarkDataFolder(chosen);
    if (FolderExists(base))
        MarkDataFolder(base);
    if (SetCurrentFolder(chosen))
        state.mDataFolder = chosen;
}

void CleanStaleArchives(const ScriptSettings& settings)
{
    if (settings.mResName.empty())
        return; // every name would match an empty prefix
    String folder = GetCurrentFolder();
    std::vector<String> doomed;
    EnumerateFiles(folder, false,
                   [&](const String& path)
                   {
                       String name = FileNameOf(path);
                       if (!StartsWithNoCase(name, settings.mResName))
                           return;
                       // What follows the resource name decides, so that a name with dots of its own
                       // ("game.v2") keeps "game.v2.fod". The live archive ("<name>.fod") and its
                       // companions (".fob", ".foc", ...) stay; a kept-aside "<name>.fod.old", a
                       // "<name>.fod2" or a "<name>2.fod" of another build is stale.
                       String rest = name.substr(settings.mResName.size());
                       std::size_t dot = rest.find(u'.');
                       if (dot == String::npos || rest.find(u"fod", dot + 1) == String::npos)
                           return;
                       if (CompareText(rest, u".fod", false) == 0)
                           return;
                       doomed.push_back(path);
                   });
    for (const auto& path : doomed)
        DeleteFile(path);
}

namespace
{
// The pages, the pop-ups and the frame windows, the last slot first.
void ReleasePagesAndFrames(FramesAndPages& frames)
{
    frames.mLoginPage.reset();
    frames.mGamePage.reset();
    frames.mPages.clear();
    ClosePopups(frames);
    for (int i = _FRAME_SLOTS - 1; i >= 0; --i)
        frames.mFrames[i].reset();
}
} // namespace

void FullShutdown(LauncherState& state)
{
    if (GameFrame* game = state.mGameFrame.get(); game && game->mWindow)
    {
        Ui::RemoveTrayIcon(game->mWindow, 0);
        Ui::UnregisterGlobalHotKey(game->mWindow, 0);
        Ui::DestroyUiWindow(game->mWindow);
        game->mWindow = 0;
    }
    ReleasePagesAndFrames(state);
    // The fetch records' transfers end before anything they might report to.
    CancelMainFetch(state);
    state.mHallFetch.mTask.reset();
    state.mScriptManager.reset();
    state.mResourceManager.reset();
}

void ShortShutdown(LauncherState& state)
{
    // By now the scripts may have made pages and frame windows besides the main window. They go here,
    // while the window system and the pages' own records are there: the state outlives both (the entry
    // keeps it until the process exits).
    ReleasePagesAndFrames(state);
    state.mScriptManager.reset();
    state.mResourceManager.reset();
}

int RunLauncher(LauncherState& state, const char* commandLine)
{
    return RunLauncher(state, commandLine ? AnsiToWide(commandLine) : String());
}

int RunLauncher(LauncherState& state, const String& commandLine)
{
    SetLauncherState(&state);
    ReadCommandLine(state, commandLine);
    SetProgramPath(state, GetModulePath());
    state.mUserRoot = GetUserRoot();
    SwitchFlags flags = ReadSwitchFile(JoinFolder(state.mUserRoot, u"mc.cfg"));
    state.mNoAutoUpgrade = flags.mNoAutoUpgrade;
    if (flags.mLog && !DebuggerAttached())
    {
        String tag = FormatString(u"mc%d", static_cast<int>(GetCurrentProcessNumber()));
        OpenLogFiles(tag.c_str(), state.mUserRoot.c_str(), state.mExeName.c_str());
        state.mLogFiles = true;
    }
    // Without a display nothing the launcher does can be seen: it says why and ends instead of running on
    // with no window.
    if (!Ui::InitUi())
    {
        ReportNoDisplay(state);
        SetLauncherState(nullptr);
        return _EXIT_NO_DISPLAY;
    }
    // Cookies and storage of the operator's pages outlive the process.
    Ui::InitWebViews(JoinFolder(state.mUserRoot, u"web"));
    IScriptManager* manager = PrepareScripting(state);
    SetEnvironmentMarkers();
    CreateMainWindow(state);
    {
        FrameRepaintHold hold(state);
        RunSettingsScript(*manager);
        RunStartupScript(*manager, u"launcher.lua", true);
    }
    ShowProgressWindow(state);
    LogTrace(u"[MC] File path: %ls", state.mProgramPath);
    SettleDataFolder(state);
    LogTrace(u"[MC] Current working folder: %ls", GetCurrentFolder());
    InstallStep(state);
    if (!CheckProgramIntegrity(state) || state.mAbort)
    {
        ShortShutdown(state);
        SetLauncherState(nullptr);
        return 0;
    }
    CleanStaleArchives(state);
    switch (state.mFileOperation)
    {
    case _FILEOP_COPY:
        CopySelfTo(state, state.mFileOperationPath);
        break;
    case _FILEOP_DELETE:
        DeleteFileWithRetry(state, state.mFileOperationPath);
        break;
    default:
        CheckUpgrade(state, !state.mNoAutoUpgrade);
        break;
    }
    if (state.mLoopEnd == 0)
    {
        SendStartReport(state, state.mReportUrl);
        if (state.mFrames[_FRAME_PROGRESS])
            RunCopyThread(state);
        ReadBossSettings(state);
        if (state.mStartMode == 1)
        {
            if (FrameWindow* main = state.mFrames[_FRAME_MAIN].get())
            {
                if (ImageRef icon = LoadSkinImage(u"skin/icon.png"))
                    Ui::SetWindowIconImage(main->mWindow, *icon);
                Ui::SetWindowTitle(main->mWindow, state.mTitle);
            }
            if (!state.mDownloadUrl.empty())
                StartHallDownload(state, state.mDownloadUrl, u"hall.exe");
        }
        // The full bar is drawn and the window goes at once: a pause here only held back the main
        // window (nothing is painted while the thread sleeps).
        if (FrameWindow* progress = state.mFrames[_FRAME_PROGRESS].get())
        {
            progress->SetProgress(1.0);
            DestroyFrameWindow(state, _FRAME_PROGRESS);
        }
        RunMainLoop(state);
    }
    FullShutdown(state);
    SetLauncherState(nullptr);
    return 0;
}

} // namespace Vexel
