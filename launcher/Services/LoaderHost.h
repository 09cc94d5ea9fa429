// The game loader host: where the game's module comes from (a local file, a cached file with the page's
// digest, or a download that falls back over the page's CDN addresses), whether it may run (its
// signature and signer, or for an unsigned module its digest, then the operator's block list), and the
// module itself once loaded (GameModule.cpp) with the loading screen shown until its first frame.
//
// Everything runs on the main thread; the downloads run on worker threads of their own and are polled
// once per frame.
#pragma once

#include "Base/LauncherState.h"
#include "Frames/LoadingScreen.h"

#include "Platform/LoaderTrust.h"
#include "Platform/Module.h"
#include "Storage/Download/SegmentedTransfer.h"
#include "Storage/Download/WebTransfer.h"
#include "Vexel/LoaderModule.h"

#include <functional>
#include <map>

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
// After a round over every address without the module, the next round waits this long, doubling each
// round up to the most.
constexpr _qword _LOADER_BACKOFF_FIRST_MS = 1000;
constexpr _qword _LOADER_BACKOFF_MAX_MS = 30000;
// No address is asked again sooner than this.
constexpr _qword _LOADER_ASK_INTERVAL_MS = 1000;
// A module longer than this, on a page that names more than one host, is fetched in segments from up to
// this many hosts at once, into a file beside the module's.
constexpr std::int64_t _LOADER_SEGMENT_THRESHOLD = std::int64_t(4) << 20;
constexpr int _LOADER_SEGMENT_SOURCES = 3;
// The timer of the game window that runs while the loading screen shows.
constexpr _dword _LOADING_TIMER = 1;

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
    // The most of a module kept in memory while it downloads; a longer one goes into a file beside the
    // module's, from as many of the page's hosts as serve it (one will do).
    std::size_t mMemoryLimit = _WEB_BODY_LIMIT;

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

    // GameModule.cpp: the module itself.
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
    // Every address of a whole round answered with bytes of another digest: the download stopped.
    bool DownloadRefused() const { return mRefused; }
    // Waiting before the next request (a back-off between rounds, or an address asked just now).
    bool IsWaiting() const { return mWaiting; }
    bool FirstFrameDone() const { return mFirstFrame; }
    // The module's share downloaded (bytes kept from earlier addresses included), or the block list's.
    float Progress() const;
    // Bytes of the module kept from addresses given up on, which the current address is asked to continue.
    std::size_t KeptBytes() const { return mKept.size(); }
    const String& ErrorText() const { return mError; }
    const String& LoaderPath() const { return mSource.mPath; }
    bool UsesTemporaryName() const { return mTemporary; }
    int CdnIndex() const { return mCdnIndex; }
    // The address the current module download asked for.
    const String& RequestAddress() const { return mAddress; }
    Ui::WindowId GameWindow() const { return mGameWindow; }
    const LoadingScreen& Screen() const { return mScreen; }
    // The line under the percentage while the module downloads (bytes, speed, time left); empty
    // otherwise.
    String ProgressDetail() const;
    // The module is being fetched in segments from several hosts now.
    bool InSegments() const { return mSegments != nullptr; }
    const SegmentedTransfer* Segments() const { return mSegments.get(); }
    // Bytes the servers sent for the last download in segments (cut-off ones included), once it ended.
    std::int64_t SegmentBytesFetched() const { return mSegmentFetched; }

private:
    _qword Now() const;
    void StartDownload();
    // The current address is done without the module: the next one, a pause after a round, or the end
    // when the whole round brought bytes of another digest.
    void EndAttempt(bool wrongBytes);
    // Forgets the kept bytes and asks the current address for the whole module again.
    void RestartWhole();
    // Writes the module where it goes (its path, or a temporary name beside it while that file is in use)
    // with write(path).
    bool SaveModule(const std::function<bool(const String& path)>& write);
    // The download from byte 0 has told the module's length: large enough, and more than one host to ask;
    // or longer than memory may hold.
    bool WantsSegments() const;
    bool BeyondMemory() const;
    void StartSegments();
    bool PollSegments();
    bool FinishSegments();
    // Ends a download in segments and deletes its file; all: forgets that one was tried.
    void DropSegments(bool all);
    // The checks of the module's bytes as they arrived (unpacked when packed), then the save.
    bool AcceptBytes(ByteBuffer& bytes, bool resumed);
    bool StartExternalLauncher();
    void CheckBlockList();
    bool ModuleFileInUse(const String& path) const;
    MD5 LoaderFileDigest() const;
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
    String mAddress;
    // The stall rule: the furthest progress of the current attempt and when it got there.
    float mMoved = 0.0f;
    _qword mMovedAt = 0;
    // The current round over the addresses: attempts ended, and of them those with another digest.
    int mRoundTried = 0;
    int mRoundWrong = 0;
    _qword mBackoff = 0;
    bool mWaiting = false;
    _qword mWaitUntil = 0;
    bool mRefused = false;
    // When each host was last asked.
    std::map<String, _qword> mAsked;
    // Resuming on the next address: the bytes the earlier addresses gave and the module's whole length.
    // A module made of such pieces that fails its digest is fetched once more from its start.
    ByteBuffer mKept;
    std::int64_t mKeptTotal = 0;
    bool mWholeRetried = false;
    // The digest of the loader file as written, known from its bytes: the checks after the download need
    // not read the whole file again for it.
    MD5 mFileDigest;
    bool mDigestKnown = false;
    // The download in segments, its file, whether this download went in segments already (a second try
    // after a wrong digest takes the whole file from one address), and what it cost.
    std::unique_ptr<SegmentedTransfer> mSegments;
    std::unique_ptr<SegmentedTransfer> mSegmentsEnding; // done; its requests given up on may still end
    String mSegmentPath;
    bool mSegmentsTried = false;
    std::int64_t mSegmentFetched = 0;
    // The module transfer's byte counts and speed, for the loading screen.
    WebCounts mCounts;
    TransferMeter mMeter;

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

// The state's loader host, made on first use.
LoaderHost& LoaderHostOf(LauncherState& state);

// The text before the first "/" after the scheme ("host:port"), empty when there is none.
String UrlHost(const String& url);
// The URL with its host part replaced.
String ReplaceUrlHost(const String& url, const String& host);
// "%ls-%.8x.%ls": the path without its extension, the number, the extension.
String TemporaryModulePath(const String& path, _dword number);

} // namespace Vexel
