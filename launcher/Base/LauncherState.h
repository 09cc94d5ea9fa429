// The one process-wide launcher record. Each part is declared with its owner in mind (the script
// settings, the pop-up styles, the server information, the fetches, the frames and pages, the loader's
// source); this record joins them and keeps what the whole launcher shares: the services, the start-up
// facts, the start mode and the loop state, the loader host, the boss-key choices and the client bridge.
// A function that needs one part can take that part alone. Only the main thread touches it.
#pragma once

#include "Base/FetchRecords.h"
#include "Base/FrameRecords.h"
#include "Base/LauncherMessages.h"
#include "Base/LoaderSource.h"
#include "Base/PopupStyles.h"
#include "Base/ScriptSettings.h"
#include "Base/ServerInfo.h"

#include "Common/Owned.h"
#include "Common/String.h"

#include <memory>
#include <vector>

namespace Vexel
{

class ClientBridge;
class IResourceManager;
class IScriptManager;
class LoaderHost;

// The services the start-up makes and owns: the first part of the record, so that they outlive the rest
// (the frames' script objects, the pages).
struct LauncherServices
{
    std::unique_ptr<IScriptManager> mScriptManager;
    std::unique_ptr<IResourceManager> mResourceManager; // made on first use
};

struct LauncherState : LauncherServices, ScriptSettings, PopupStyles, ServerInfo, FramesAndPages, FetchRecords
{
    LauncherState();
    ~LauncherState();
    LauncherState(const LauncherState&) = delete;
    LauncherState& operator=(const LauncherState&) = delete;

    int mPromptAction = 0; // what the prompt window does when confirmed

    // Start-up facts.
    String mExeName;
    String mCmd;
    bool mNoAutoUpgrade = false;
    bool mLogFiles = false;
    String mProgramPath;
    String mProgramFolder;
    String mUserRoot;
    String mInstallFolder;
    String mDataFolder;

    int mStartMode = 0; // 0 web page, 1 frame with web windows, 2 loader started directly

    // Loop state.
    int mLoopEnd = 0;
    int mGameState = 0;
    bool mLoginDone = false;
    int mRefreshing = 0;
    bool mGameShown = false;
    bool mMainShown = false;
    String mCurrentPageUrl;
    int mModalState = 0; // 2 while the clean-cache question is open

    LoaderSource mLoader;
    // The game's module, its download, checks and loading screen (made on first use: LoaderHostOf).
    Owned<LoaderHost> mLoaderHost;

    // Saved boss-key choices (mcconfig.ini).
    _dword mHotKey = 0;
    bool mBossChecked = false;

    // The outside platform client's bridge, made by createTencentClient; released when the state goes.
    Owned<ClientBridge> mClientBridge;
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
