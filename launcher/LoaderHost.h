// The game loader host: where the game's module comes from (a local file, a cached file with the page's
// digest, or a download that falls back over the page's CDN addresses), whether it may run (its
// signature and signer, or for an unsigned module its digest, then the operator's block list), and the
// module itself once loaded (LoaderModule.cpp) with the loading screen shown until its first frame.
//
// Everything runs on the main thread; the downloads run on worker threads of their own and are polled
// once per frame.
#pragma once

#include "LauncherState.h"
#include "LoadingScreen.h"

#include "Platform/LoaderTrust.h"
#include "Platform/Module.h"
#include "Storage/WebTransfer.h"
#include "Vexel/LoaderModule.h"

#include <functional>

namespace Vexel
{

// The operator's choices, from the settings script; kept across resets.
struct LoaderHostSettings
{
    LoaderTrustPolicy mPolicy{DefaultLoaderSigners(), {}, {}};
    String mCaFile;         // PEM certificates trusted besides the system's, for module signatures
    String mBlockListHost;  // the operator's block-list host; empty: the report address's host
    String mBlockListUrl;   // the block list's address, from the host; empty: none is asked for
    bool mExternal = false; // an external launcher program starts the module instead of this process
};

// The external game launcher's command line: its program and the module quoted, the game window as a
// number, then the page's "exeparam" value spliced in as it stands (its own quotes and blanks make the
// words the launcher gets: Windows hands it the line whole, elsewhere it is split by the same rules).
String ExternalLauncherCommandLine(const String& program, const String& module, _dword window,
                                   const String& exeparam);

// The module's download is abandoned for the next address after this long without progress.
constexpr _qword _LOADER_STALL_MS = 5000;
// The timer of the game window that runs while the loading screen shows.
constexpr _dword _LOADING_TIMER = 1;
// The game window message that tells it the host has started.
constexpr _dword _WM_LOADER_INVOKE = 0x43E;

class LoaderHost
{
public:
    explicit LoaderHost(LoaderSource& source);
    ~LoaderHost();
    LoaderHost(const LoaderHost&) = delete;
    LoaderHost& operator=(const LoaderHost&) = delete;

    LoaderHostSettings mSettings;
    // The clock of the stall rule and the frame times, in milliseconds (null: the steady clock).
    std::function<_qword()> mClock;
    // The sleep of a frame while the game window lacks the focus (null: a real wait that input ends).
    std::function<void(_dword ms)> mSleep;

    // URL and digest with blanks cut from both ends; clears the external-launcher mode.
    void SetLoaderSource(const String& url, const String& md5);
    // Sends "pluginok" to the game window, prepares the loading screen; true when the module file is here
    // now (a local file, or the cached file with the expected digest), false when a download started.
    bool StartLoaderHost(Ui::WindowId gameWindow);
    // Once per frame while no module is loaded: true when the module file is ready (downloaded and
    // written, or ready from the start) and not yet tried.
    bool PollLoaderDownload();
    // Checks the file's signature or digest, then loads the module or starts the external launcher; false
    // with the error text set when the module may not or cannot run. Either way the file counts as tried.
    bool VerifyAndLoad();
    // Asks the operator's block list about the module (the answer is read by LoaderFrame).
    void RequestBlockList();

    // LoaderModule.cpp: the module itself.
    bool LoadModule();
    void LoaderFrame();
    Ui::LResult ForwardMessage(_dword message, Ui::WParam wParam, Ui::LParam lParam);
    void UnloadModule();
    // Unloads, releases the drawing resources and the downloads, deletes a file written under a temporary
    // name, and returns every field to its start.
    void ResetLoaderHost();
    void PrepareDrawing();

    // What the host is doing, for the main loop and tests.
    bool IsStarted() const { return mGameWindow != 0; }
    bool IsLoaded() const { return mModule.IsLoaded() || mExternalStarted; }
    bool IsBlocked() const { return mBlocked; }
    bool FirstFrameDone() const { return mFirstFrame; }
    float Progress() const { return mFetch.mProgress.load(); }
    const String& ErrorText() const { return mError; }
    const String& LoaderPath() const { return mSource.mPath; }
    bool UsesTemporaryName() const { return mTemporary; }
    int CdnIndex() const { return mCdnIndex; }
    // The address the current module download asked for.
    const String& RequestAddress() const { return mAddress; }
    Ui::WindowId GameWindow() const { return mGameWindow; }
    const LoadingScreen& Screen() const { return mScreen; }

private:
    _qword Now() const;
    void StartDownload();
    void NextAddress();
    bool SaveModule(ByteBuffer& bytes);
    bool StartExternalLauncher();
    void CheckBlockList();
    bool ModuleFileInUse(const String& path) const;
    void SetError(const String& text);

    LoaderSource& mSource;
    Ui::WindowId mGameWindow = 0;
    _dword mNativeWindow = 0; // what the module is given as its window
    Ui::WindowId mTopWindow = 0;

    bool mExternalStarted = false; // the module handle's marker -1
    bool mTemporary = false;
    bool mBlocked = false;
    bool mFileReady = false;
    String mError;

    // One transfer at a time: the module or the block list.
    FetchRecord mFetch;
    bool mFetchingBlockList = false;
    WebHandle mHeaders = nullptr; // the "Host:" line of module downloads; made once per run
    bool mHeadersMade = false;
    int mCdnIndex = 0;
    bool mStalling = false;
    _qword mStallStart = 0;
    String mAddress;

    Module mModule;
    String mMarker;
    VexelCreateFunc mCreate = nullptr;
    VexelDeleteFunc mDelete = nullptr;
    VexelSetupFunc mSetup = nullptr;
    VexelUpdateFunc mUpdate = nullptr;
    VexelRenderFunc mRender = nullptr;
    VexelMessageFunc mMessage = nullptr;
    VexelProgressFunc mProgressEntry = nullptr;
    bool mFirstFrame = false;
    int mFocus = -1;
    _qword mLastFrame = 0;

    LoadingScreen mScreen;
};

// The text before the first "/" after the scheme ("host:port"), empty when there is none.
String UrlHost(const String& url);
// The URL with its host part replaced.
String ReplaceUrlHost(const String& url, const String& host);
// "%ls-%.8x.%ls": the path without its extension, the number, the extension.
String TemporaryModulePath(const String& path, _dword number);

} // namespace Vexel
