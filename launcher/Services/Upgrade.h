// Replacing the program: the self-upgrade check against the operator's published digest, the copy of
// this program to a place the scripts name, deleting a file the scripts name, and deleting a folder tree.
// Replacement always starts another copy of the program with a switch ("/copy", "/delete") and the path
// it is to act on, then ends this process through the loop-end request.
//
// A downloaded build must match the published digest. When the settings name accepted signers
// (setProgramSigners), it must also carry a valid appended signature by one of them: the digest comes
// from the same server as the build, so alone it cannot tell a replaced download from a genuine one.
#pragma once

#include "Base/LauncherState.h"

#include <functional>
#include <vector>

namespace Vexel
{

// Copies and deletions that keep failing give up after these times.
constexpr _dword _COPY_RETRY_MS = 3000;
constexpr _dword _DELETE_FILE_RETRY_MS = 3000;
constexpr _dword _DELETE_FOLDER_RETRY_MS = 10000;
// The longest wait between two attempts; a window message ends it early.
constexpr _dword _RETRY_PAUSE_MS = 50;

// The clock of the retry rules: milliseconds, and the pause between attempts. Tests put their own in;
// empty members fall back to the steady clock and a wait for window messages.
struct RetryClock
{
    std::function<_qword()> mNow;
    std::function<void(_dword ms)> mPause;
};
void SetRetryClock(RetryClock clock);

// Where a downloaded build of the program goes: "<per-user root>/<appName>/<fileName>[<digest>]".
String UpgradeTargetPath(const LauncherState& state, const String& digest);
// The arguments of a started build: the words of passArgs, then the switch and this program's path.
std::vector<String> HandOverArguments(const ScriptSettings& settings, const String& hand, const String& path);

// The self-upgrade check (with the progress window of frame slot 6 only).
void CheckUpgrade(LauncherState& state, bool autoUpgrade);
// True when the downloaded build at path may be started: no signers are configured, or it carries a
// valid signature by one of them.
bool UpgradeSignatureAccepted(const ScriptSettings& settings, const String& path);
// Why the downloaded program at path may not be started (empty when it may): with signers configured it
// must carry a valid signature by one of them (the appended signature here, the system's code signature
// on Windows).
String ProgramSignatureProblem(const ScriptSettings& settings, const String& path);
// The plug-in set-up and the hall program before they start: a refused file is deleted unstarted, with a
// trace line, and the player is told in a message box. True when it may start.
bool DownloadedProgramMayStart(LauncherState& state, const String& path);
// Copies this program to destination and starts it there with "/delete" and this program's path.
void CopySelfTo(LauncherState& state, const String& destination);
void DeleteFileWithRetry(LauncherState& state, const String& path);
// Deletes the folder tree (with the temporary folder made current, so it is not in use); true when it is
// gone.
bool DeleteFolderWithRetry(LauncherState& state, const String& folder);
// The integrity check of the program's own file before the scripts' requests run: a program that carries
// a signature must carry a valid one (by an accepted signer when signers are configured).
bool CheckProgramIntegrity(LauncherState& state);

} // namespace Vexel
