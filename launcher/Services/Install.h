// Keeping the program installed per user: the install step run on every start (the installed copy in the
// data folder, uninstall, autostart, the uninstall entry, shortcuts), the copy thread, cleaning the
// downloaded game files and installing a preload pack.
//
// On Linux the installed program is "<data folder>/<fileName>"; shortcuts are desktop entries (the
// desktop folder from the user's XDG user-dirs, the start-menu entry in "$XDG_DATA_HOME/applications"
// with an "Uninstall" action); the uninstall entry's values go to the key store under
// _UNINSTALL_KEY\<title>; autostart is the XDG autostart entry named after appName.
#pragma once

#include "Base/LauncherState.h"

#include <atomic>
#include <vector>

namespace Vexel
{

constexpr const char16_t* _UNINSTALL_KEY = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr const char16_t* _PUBLISHER = u"Orrin Harbor (Capital) Tech Ltd";
constexpr const char16_t* _PUBLISHER_URL = u"https://www.vexel3d.example/";
constexpr const char16_t* _VIRTUALIZED_FOLDER =
    u"AppData\\Local\\Microsoft\\Windows\\Temporary Internet Files\\Virtualized";

// The file that marks a data folder as this client's own: made when the client creates the folder, and
// uninstall deletes only a folder that carries it.
constexpr const char16_t* _DATA_FOLDER_MARKER = u"vexel-data-folder.mark";

// The program's version text, traced by the install step (set by the entry point).
void SetProgramVersion(const String& version);
const String& ProgramVersion();

// "<data folder>/<fileName>"; empty without a data folder or a file name.
String InstalledProgramPath(const LauncherState& state);
// The install folder of the start-up (install.inf aware), else the data folder.
String InstallFolderOf(const LauncherState& state);
// Key-store key of the uninstall entry, and the two shortcut files for a name.
String UninstallKey(const ScriptSettings& settings);
String DesktopShortcutPath(const String& name);
String StartMenuShortcutPath(const String& name);

// The data folder carries the client's marker; MarkDataFolder writes it (true when it is there).
bool IsOwnDataFolder(const String& folder);
bool MarkDataFolder(const String& folder);
// The data folders the installed client recorded: the uninstall record's InstallLocation, the folder
// install.inf names, and the per-user folder "<per-user root>/<appName>" (install.inf's own place), each
// once. Never derived from where this program runs.
std::vector<String> RecordedDataFolders(const LauncherState& state);

void InstallStep(LauncherState& state);
// Only while the shortcut request is set. An empty name means the title, an empty target this program.
void CreateDesktopShortcut(LauncherState& state, const String& name, const String& target);

// Where a browser's protected mode keeps its copy of installFolder for the user whose profile folder is
// profile ("<profile>\AppData\Local\Microsoft\Windows\Temporary Internet Files\Virtualized\" and
// the install folder without its drive colon).
String VirtualizedFolderOf(const String& profile, const String& installFolder);
// The same folder, separators and ASCII case aside.
bool SameFolder(const String& a, const String& b);

// What the copy thread works with, copied from the launcher state on the main thread when it starts: the
// main thread goes on changing the state while the copy runs.
struct CopyJob
{
    String mProgramPath;
    String mProgramFolder;
    String mInstallFolder;
    String mProfileFolder;
    String mResName;
    String mProgramName; // the installed program's name (fileName, else this program's)
    String mTitle;
    bool mCreateShortcut = false;
};
CopyJob MakeCopyJob(const LauncherState& state);

// The copy thread's work: when the program runs from the virtualized copy of the install folder, its
// files are brought over (MigrateProgramFiles). done is set when it has finished.
void CopyThreadProc(const CopyJob& job, std::atomic<bool>& done);
void CopyThreadProc(LauncherState& state, std::atomic<bool>& done);
// Copies the game files and the program from folder into the install folder and makes the desktop
// shortcut (the copy thread's migration of a program started from a browser's virtualized folder).
void MigrateProgramFiles(const CopyJob& job, const String& folder, const String& installFolder);
void MigrateProgramFiles(LauncherState& state, const String& folder, const String& installFolder);
// Runs CopyThreadProc on a worker thread, with a CopyJob made here, while pumping the progress window's
// messages.
void RunCopyThread(LauncherState& state);

// Deletes the downloaded game files from the install folder.
void CleanCache(LauncherState& state);
// The names CleanCache deletes from the files directly in the folder.
std::vector<String> CacheFilesIn(const ScriptSettings& settings, const String& folder);

// Installs the pack in the program folder's sub-folder packFolder into the install folder; true when its
// archive "<archiveName>.fod" was installed (copied or merged).
bool InstallPreloadPack(LauncherState& state, const String& packFolder, const String& archiveName);

} // namespace Vexel
