#include "Services/Upgrade.h"

#include "Frames/FrameWindow.h"
#include "Services/LoaderHost.h"
#include "Services/MessagePump.h"
#include "Services/RemoteFetch.h"

#include "Common/Log.h"
#include "Common/Md5.h"
#include "Common/StringEncoding.h"
#include "Platform/CodeTrust.h"
#include "Platform/File.h"
#include "Platform/Folders.h"
#include "Platform/Process.h"
#include "Platform/Ui/Ui.h"

#include <algorithm>
#include <chrono>

namespace Vexel
{

namespace
{

RetryClock gRetryClock;

_qword RetryNow()
{
    if (gRetryClock.mNow)
        return gRetryClock.mNow();
    return static_cast<_qword>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

// Handles one pending window message, or else waits a little for one.
void RetryPause()
{
    Ui::Message message;
    if (Ui::PeekUiMessage(message, true))
    {
        if (message.message == Ui::_WM_QUIT)
            Ui::PostQuit(static_cast<int>(message.wParam)); // the loop that owns it still sees it
        else
        {
            Ui::TranslateUiMessage(message);
            Ui::DispatchUiMessage(message);
            return;
        }
    }
    if (gRetryClock.mPause)
        gRetryClock.mPause(_RETRY_PAUSE_MS);
    else
        Ui::WaitUiMessage(_RETRY_PAUSE_MS);
}

// Calls attempt until it succeeds or limit milliseconds have passed; true when it succeeded.
template <typename Attempt> bool RetryFor(_dword limit, Attempt attempt)
{
    const _qword start = RetryNow();
    for (;;)
    {
        if (attempt())
            return true;
        if (RetryNow() - start >= limit)
            return false;
        RetryPause();
    }
}

_qword FetchNow(const LauncherState& state)
{
    if (state.mFetchClock)
        return state.mFetchClock();
    return static_cast<_qword>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

bool IsDigestText(const String& text)
{
    return text.size() == 32 && std::all_of(text.begin(), text.end(),
                                            [](char16_t c) {
                                                return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') ||
                                                       (c >= u'A' && c <= u'F');
                                            });
}

// Starts a copy of the program with the hand-over arguments; the current process then ends.
bool HandOver(LauncherState& state, const String& program, const String& hand, const String& path)
{
    std::vector<String> arguments = HandOverArguments(state, hand, path);
    String line = program;
    for (const String& argument : arguments)
        line += u" " + argument;
    LogTrace(u"[MC] Start process: %ls", line);
    SetExecutable(program);
    if (!StartProgram(program, arguments))
        return false;
    state.mLoopEnd = 2;
    return true;
}

void SetProgress(FrameWindow* progress, double ratio)
{
    if (progress)
        progress->SetProgress(ratio);
}

} // namespace

void SetRetryClock(RetryClock clock)
{
    gRetryClock = std::move(clock);
}

String UpgradeTargetPath(const LauncherState& state, const String& digest)
{
    return JoinFolder(JoinFolder(state.mUserRoot, state.mAppName),
                      ProgramFileName(state.mFileName + u"[" + digest + u"]"));
}

std::vector<String> HandOverArguments(const ScriptSettings& settings, const String& hand, const String& path)
{
    std::vector<String> arguments;
    if (!settings.mPassArgs.empty())
        arguments = SplitCommandLine(settings.mPassArgs);
    arguments.push_back(hand);
    arguments.push_back(path);
    return arguments;
}

String ProgramSignatureProblem(const ScriptSettings& settings, const String& path)
{
    if (settings.mProgramSigners.empty())
        return String();
    CodeTrust trust = CheckFileTrust(path, settings.mProgramCaFile);
    if (trust.state == TrustState::Unsigned)
        return path + u" carries no signature";
    if (trust.state != TrustState::Valid)
        return u"the signature of " + path + u" does not verify (" + trust.reason + u")";
    if (std::find(settings.mProgramSigners.begin(), settings.mProgramSigners.end(), trust.signer) ==
        settings.mProgramSigners.end())
        return path + u" is signed by " + trust.signer + u", not an accepted signer";
    return String();
}

bool UpgradeSignatureAccepted(const ScriptSettings& settings, const String& path)
{
    String problem = ProgramSignatureProblem(settings, path);
    if (problem.empty())
        return true;
    LogTrace(u"[MC] MC download refused: %ls", problem);
    return false;
}

bool DownloadedProgramMayStart(LauncherState& state, const String& path)
{
    String problem = ProgramSignatureProblem(state, path);
    if (problem.empty())
        return true;
    LogTrace(u"[MC] Downloaded program refused, deleted unstarted: %ls", problem);
    DeleteFile(path);
    String support = state.mLoaderHost ? state.mLoaderHost->mSettings.mPolicy.supportAddress : String();
    String text = u"The downloaded program " + FileNameOf(path) +
                  u" does not carry the operator's signature. It was deleted and not started.";
    if (!support.empty())
        text += u" " + ContactText(u"Please contact", support);
    Ui::WindowId owner = state.mFrames[_FRAME_MAIN] ? state.mFrames[_FRAME_MAIN]->mWindow : 0;
    Ui::ShowMessageBox(owner, text, state.mTitle, Ui::_MB_OK | Ui::_MB_ICONERROR);
    return false;
}

void CheckUpgrade(LauncherState& state, bool autoUpgrade)
{
    FrameWindow* progress = state.mFrames[_FRAME_PROGRESS].get();
    if (!progress)
        return;
    if (!autoUpgrade)
    {
        LogTrace(u"[MC] Upgrade disabled by local config");
        SetProgress(progress, 0.9);
        return;
    }
    String remote = FetchProgramDigest(state, state.mCheckClient[1]);
    // Anything but 32 hexadecimal digits (an error page, say) names no build.
    if (!IsDigestText(remote))
    {
        LogTrace(u"[MC] Get mc md5 fail %ls", remote.size() > 256 ? String(remote.substr(0, 256)) : remote);
        SetProgress(progress, 0.9);
        return;
    }
    String local = Md5ToText(FileDigest(state.mProgramPath));
    LogTrace(u"[MC] Local mc md5 %ls, remote mc md5 %ls", local, remote);
    if (local == remote)
    {
        SetProgress(progress, 0.9);
        return;
    }
    if (state.mFileName.empty() || state.mCheckClient[0].empty())
    {
        LogTrace(u"[MC] No program name or address for the download; upgrade skipped");
        SetProgress(progress, 0.9);
        return;
    }

    SetProgress(progress, 0.1);
    String target = UpgradeTargetPath(state, remote);
    String folder = FolderOf(target);
    if (!CreateFolder(folder))
    {
        LogTrace(u"[MC] MC download fail, cannot create %ls", folder);
        SetProgress(progress, 0.9);
        return;
    }
    StartProgramDownload(state, state.mCheckClient[0], target);
    // A transfer that stops moving part-way (the server went quiet) is abandoned like a silent one.
    float lastProgress = -1.0f;
    _qword lastMove = FetchNow(state);
    bool stalled = false;
    PumpMessages(
        progress->mWindow,
        [&](_dword)
        {
            if (PollFetch(state, state.mMainFetch) || !state.mMainFetch.mTask)
                return false;
            const float now = state.mMainFetch.mProgress.load();
            const _qword at = FetchNow(state);
            if (now != lastProgress)
            {
                lastProgress = now;
                lastMove = at;
            }
            else if (at > lastMove && at - lastMove > _FETCH_STALL_MS)
            {
                stalled = true;
                return false;
            }
            progress = state.mFrames[_FRAME_PROGRESS].get();
            SetProgress(progress, 0.9 * now);
            return state.mLoopEnd != 2;
        },
        true);
    if (stalled)
    {
        LogTrace(u"[MC] MC download stalled at %d%%", static_cast<int>(lastProgress * 100));
        CancelMainFetch(state);
    }
    progress = state.mFrames[_FRAME_PROGRESS].get();
    state.mMainFetch.mKind = _FETCH_NONE;
    if (state.mLoopEnd == 2)
    {
        CancelMainFetch(state);
        SetProgress(progress, 0.9);
        DeleteFile(target);
        return;
    }
    String got = Md5ToText(FileDigest(target));
    if (got != remote)
    {
        LogTrace(u"[MC] MC download fail, md5 %ls mismatch %ls", got, remote);
        DeleteFile(target);
        SetProgress(progress, 0.9);
        return;
    }
    if (!UpgradeSignatureAccepted(state, target))
    {
        DeleteFile(target);
        SetProgress(progress, 0.9);
        return;
    }
    if (!HandOver(state, target, u"/copy", state.mProgramPath))
    {
        LogTrace(u"[MC] MC download cannot be started: %ls", target);
        DeleteFile(target);
        SetProgress(progress, 0.9);
    }
}

void CopySelfTo(LauncherState& state, const String& destination)
{
    if (destination.empty())
        return;
    if (FilesEqual(state.mProgramPath, destination))
    {
        HandOver(state, destination, u"/delete", state.mProgramPath);
        return;
    }
    std::vector<_byte> bytes;
    if (!ReadFile(state.mProgramPath, bytes))
    {
        LogTrace(u"[MC] Cannot read the program %ls", state.mProgramPath);
        return;
    }
    if (RetryFor(_COPY_RETRY_MS, [&] { return WriteFile(destination, bytes); }))
        HandOver(state, destination, u"/delete", state.mProgramPath);
    else
        LogTrace(u"[MC] Cannot copy the program to %ls", destination);
}

void DeleteFileWithRetry(LauncherState&, const String& path)
{
    if (path.empty())
        return;
    LogTrace(u"[MC] Deleting file: %ls", path);
    RetryFor(_DELETE_FILE_RETRY_MS,
             [&]
             {
                 DeleteFile(path);
                 return !FileExists(path);
             });
}

bool DeleteFolderWithRetry(LauncherState&, const String& folder)
{
    if (folder.empty())
        return false;
    // Out of the folder first, so that this process does not hold it.
    String temp = GetTempFolder();
    CreateFolder(temp);
    SetCurrentFolder(temp);
    LogTrace(u"[MC] Deleting folder: %ls", folder);
    return RetryFor(_DELETE_FOLDER_RETRY_MS,
                    [&]
                    {
                        RemoveFolder(folder);
                        return !FolderExists(folder);
                    });
}

bool CheckProgramIntegrity(LauncherState& state)
{
    CodeTrust trust = CheckFileTrust(state.mProgramPath, state.mProgramCaFile);
    String problem;
    if (trust.state == TrustState::Invalid)
        problem = trust.reason;
    else if (trust.state == TrustState::Valid && !state.mProgramSigners.empty() &&
             std::find(state.mProgramSigners.begin(), state.mProgramSigners.end(), trust.signer) ==
                 state.mProgramSigners.end())
        problem = u"signed by " + trust.signer + u", not an accepted signer";
    if (problem.empty())
        return true;
    LogError(u"[MC] The program file %ls failed its integrity check: %ls", state.mProgramPath, problem);
    Ui::WindowId owner = state.mFrames[_FRAME_MAIN] ? state.mFrames[_FRAME_MAIN]->mWindow : 0;
    Ui::ShowMessageBox(owner, u"The program file is damaged. Please install it again.", state.mTitle,
                       Ui::_MB_OK | Ui::_MB_ICONERROR);
    return false;
}

} // namespace Vexel
