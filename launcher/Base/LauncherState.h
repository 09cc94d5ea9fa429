// The one process-wide launcher record: settings written by the scripts through _Launcher, the start
// mode, the loop state, the seven frame slots and the game frame, the page and menu lists. Only the main
// thread touches it.
#pragma once

#include "Base/LauncherMessages.h"

#include "Common/Compression.h"
#include "Common/Owned.h"
#include "Common/String.h"
#include "Platform/Ui/Ui.h"
#include "Storage/WorkerThread.h"

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace Vexel
{

class ClientBridge;
class FrameWindow;
class GameFrame;
class IResourceManager;
class IScriptManager;
class LoaderHost;
class ScriptObject;
struct WebWindow;

// Pending file operations.
constexpr int _FILEOP_NONE = 0;
constexpr int _FILEOP_COPY = 1;
constexpr int _FILEOP_DELETE = 2;

struct MenuEntry
{
    _dword mId = 0;
    String mText;
    String mUrl;
    _dword mBitmap = 0; // 0: a text entry
    bool mRight = false;
    bool mCustom = false;
};

// Kinds of fetch on the main record.
constexpr int _FETCH_NONE = 0;
constexpr int _FETCH_PLUGIN = 2;
constexpr int _FETCH_SERVER_INFO = 3;
constexpr int _FETCH_PROGRAM = 5;

// One asynchronous transfer polled by the main thread. The worker writes only the buffer and the
// progress; the buffer is read after the progress reached 1.0 and the task was deleted.
struct FetchRecord
{
    FetchRecord() = default;
    // The task goes first: its worker writes into the buffer and the progress.
    ~FetchRecord() { mTask.reset(); }
    FetchRecord(const FetchRecord&) = delete;
    FetchRecord& operator=(const FetchRecord&) = delete;

    std::atomic<float> mProgress{0.0f};
    ByteBuffer mBuffer;
    String mTargetPath; // written when done; empty keeps the bytes in memory
    int mKind = _FETCH_NONE;
    _qword mStallStart = 0; // milliseconds; 0 while progress is being made
    std::unique_ptr<WorkerThread> mTask;
};

// The hall download's attempts: one transfer at a time, failures spaced out by a growing pause.
struct HallRetry
{
    String mUrl;
    int mFailures = 0;
    _qword mNextAttempt = 0;                    // milliseconds; 0 while none is waiting
    std::shared_ptr<std::atomic<int>> mOutcome; // 0 running, 1 done, -1 failed
    bool mGivenUp = false;
};

// A web window made by addWebWindow; the page itself comes with the web window host.
struct PageEntry
{
    int mId = -1;
    int mSlot = 0;
    Ui::Rect mRect;
    String mUrl;
    _dword mKind = 0;
    bool mShowOnLoad = true;
    std::shared_ptr<WebWindow> mWeb; // null until the web window host made it
};

// Where the game's loader comes from, as the game page names it.
struct LoaderSource
{
    String mUrl;                     // "local:\\" followed by a path names a local file
    String mMd5;                     // 32 hexadecimal digits, empty when none
    String mPath;                    // the file that is loaded
    int mSizeMb = 0;                 // the room the game needs, for the data folder choice
    std::vector<String> mParamNames; // the loader parameters, in page order
    std::vector<String> mParamValues;
    std::vector<String> mCdn;  // CDN addresses from "cdnip"
    bool mWaitStarted = false; // the game parameters are awaited since mWaitStart
    _dword mWaitStart = 0;
    bool mRead = false; // the page was read at mLastRead
    _dword mLastRead = 0;
};

struct LauncherState
{
    LauncherState();
    ~LauncherState();
    LauncherState(const LauncherState&) = delete;
    LauncherState& operator=(const LauncherState&) = delete;

    // The services the start-up makes and owns; declared first so that they outlive the frames.
    std::unique_ptr<IScriptManager> mScriptManager;
    std::unique_ptr<IResourceManager> mResourceManager; // made on first use

    int mPromptAction = 0; // what the prompt window does when confirmed

    // Text settings.
    String mAppName;
    String mFileName;
    String mResName;
    String mTitle;
    String mExeName;
    String mCmd;
    String mLoaderPath;
    String mStartUrl;
    String mCleanCacheCaption;
    String mCleanCacheText;
    std::array<String, 4> mPrompts;
    String mPluginUrl;
    String mReportUrl;
    String mKickFunc;
    String mExitUrl;
    String mLogoffUrl;
    String mPassArgs;
    String mDownloadUrl;
    String mDownloadFolder;
    std::array<String, 2> mCheckClient;
    std::array<String, 6> mInfoServer;
    String mShortcutName;
    String mPageUrl; // the launcher's page address (the page registered under id -1)
    // Origins (or addresses of them) whose pages may use `external` besides those the settings name.
    std::vector<String> mTrustedOrigins;

    // Instant-message and video pop-up settings.
    _dword mImX = 0, mImY = 0, mImW = 0, mImH = 0, mImBorder = 0, mImTitleColor = 0;
    String mImTitleFont, mImTitleSuffix, mImTitleBg, mImCloseNormal, mImCloseHover;
    _dword mImCloseX = 0, mImCloseY = 0;
    _dword mVideoBorder = 0, mVideoTitleColor = 0;
    String mVideoTitleFont, mVideoTitleBg, mVideoCloseNormal, mVideoCloseHover;
    _dword mVideoCloseX = 0, mVideoCloseY = 0;
    std::array<String, 4> mDropDownTexts;
    std::array<String, 2> mImMenuTexts;
    std::array<String, 2> mUserMenuTexts;

    // Numbers.
    int mWidth = 0;
    int mHeight = 0;
    int mLoadingWidth = 0;
    int mLoadingHeight = 0;
    int mAppSize = 0;
    int mAppTimeout = 0;
    std::array<int, 4> mGameMargins{};
    int mFileOperation = _FILEOP_NONE;
    String mFileOperationPath;

    // Flags.
    bool mUseCurrentPath = false;
    bool mCreateShortcut = false;
    bool mAbort = false;
    bool mAutoStart = false;
    bool mScrollBars = false;
    bool mInstall = false;
    bool mUninstall = false;
    int mStartMode = 0; // 0 web page, 1 frame with web windows, 2 loader started directly
    _dword mFrameStyle = _FRAME_SYSBUTTON | _FRAME_MAXBUTTON | _FRAME_MINBUTTON;

    std::vector<String> mLoaderArgs;
    std::vector<String> mFrameUrls;
    std::vector<String> mQuietUrls;

    Owned<GameFrame> mGameFrame;
    std::array<Owned<FrameWindow>, _FRAME_SLOTS> mFrames;
    std::vector<MenuEntry> mMenus;
    std::vector<PageEntry> mPages;

    // Loop state.
    int mLoopEnd = 0;
    int mGameState = 0;
    bool mLoginDone = false;
    int mRefreshing = 0;
    bool mGameShown = false;
    bool mMainShown = false;
    String mCurrentPageUrl;
    int mModalState = 0; // 2 while the clean-cache question is open

    // Web windows of the portal flow beyond the page list.
    std::shared_ptr<WebWindow> mLoginPage; // hidden when the game address was reached
    std::shared_ptr<WebWindow> mGamePage;  // the page that named the loader
    std::shared_ptr<WebWindow> mImPopup;
    std::shared_ptr<WebWindow> mVideoPopup;
    bool mImWasVisible = false; // the IM pop-up was visible when the boss key hid the launcher
    LoaderSource mLoader;
    // The game's module, its download, checks and loading screen (made on first use: LoaderHostOf).
    Owned<LoaderHost> mLoaderHost;
    Ui::WindowId mGameChild = 0; // the window the game draws into, in the game frame

    // Saved boss-key choices (mcconfig.ini).
    _dword mHotKey = 0;
    bool mBossChecked = false;

    // Start-up facts.
    bool mNoAutoUpgrade = false;
    bool mLogFiles = false;
    String mProgramPath;
    String mProgramFolder;
    String mUserRoot;
    String mInstallFolder;
    String mDataFolder;

    // Remote fetches: the main record (plug-in, server information, program download) and the hall
    // record; the clock of their stall rule in milliseconds (null: the steady clock).
    FetchRecord mMainFetch;
    FetchRecord mHallFetch;
    HallRetry mHallRetry;
    std::function<_qword()> mFetchClock;

    // Accepted signers of the program's own builds (setProgramSigners) and the operator's CA file; with
    // signers named, a downloaded build must carry a valid signature by one of them.
    std::vector<String> mProgramSigners;
    String mProgramCaFile;
    // The outside platform client's bridge, made by createTencentClient; released when the state goes.
    Owned<ClientBridge> mClientBridge;

    // Server data: the game servers in the order received, the current server's name, and the IM page.
    std::vector<String> mServerNames, mServerIds, mServerUrls;
    String mCurrentServer;
    String mImUrl;
    String mImTitle;

    // The launcher's hooks into the frame windows: the message hook sees every frame message first
    // (true: handled); the button handler runs when a skinned button is clicked.
    std::function<bool(FrameWindow& frame, _dword message, Ui::WParam wParam, Ui::LParam lParam,
                       Ui::Point cursor)>
        mFrameHook;
    std::function<void(int kind, ScriptObject* object, FrameWindow& frame)> mButtonHandler;
};

// The state the _Launcher members and the window handlers act on.
LauncherState& Launcher();
// Makes state the current one (start-up and tests); null leaves no state.
void SetLauncherState(LauncherState* state);
bool HasLauncherState();

// The state's resource manager, made on first use.
IResourceManager& ResourceManagerOf(LauncherState& state);
// Bytes of a named resource of the program, or else of the resource manager's file or archive entry.
bool ReadNamedData(const String& name, std::vector<_byte>& buffer);

} // namespace Vexel
