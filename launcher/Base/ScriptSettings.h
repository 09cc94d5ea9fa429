// The settings the scripts write through _Launcher (the script binding owns them): texts, addresses,
// sizes, flags and lists that the stages, the install and upgrade steps and the fetches read.
#pragma once

#include "Base/LauncherMessages.h"

#include "Common/String.h"

#include <array>
#include <vector>

namespace Vexel
{

// Pending file operations.
constexpr int _FILEOP_NONE = 0;
constexpr int _FILEOP_COPY = 1;
constexpr int _FILEOP_DELETE = 2;

struct ScriptSettings
{
    // Texts.
    String mAppName;
    String mFileName;
    String mResName;
    String mTitle;
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
    _dword mFrameStyle = _FRAME_SYSBUTTON | _FRAME_MAXBUTTON | _FRAME_MINBUTTON;

    // Lists.
    std::vector<String> mLoaderArgs;
    // A module started directly from the operator's site (startRemoteLoader): its address, digest and
    // the CDN addresses tried after the address's own host. Empty: startLoader's local file.
    String mLoaderUrl;
    String mLoaderMd5;
    std::vector<String> mLoaderCdn;
    std::vector<String> mFrameUrls;
    std::vector<String> mQuietUrls;

    // Accepted signers of the program's own builds (setProgramSigners) and the operator's CA file; with
    // signers named, a downloaded build must carry a valid signature by one of them.
    std::vector<String> mProgramSigners;
    String mProgramCaFile;
};

} // namespace Vexel
