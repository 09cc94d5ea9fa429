#include "Services/GameModule.h"

#include "Frames/GameFrame.h"
#include "Services/LoaderChoice.h"
#include "Services/LoaderHost.h"

#include "Common/Log.h"
#include "Common/StringHelpers.h"
#include "Platform/File.h"
#include "Platform/System.h"

#include <set>

namespace Vexel
{

namespace
{

constexpr const char16_t* _PLUGIN_PARAM = u"foaparam";
constexpr const char16_t* _PLUGIN_VERSION = u"pluginver|0x00010004";

// The files of the modules loaded in this process.
std::multiset<String>& LoadedFiles()
{
    static std::multiset<String> files;
    return files;
}

bool ReadFlagNumber(const String& name)
{
    String value;
    if (!GetEnvironment(name, value))
        return false;
    // Numbers in the environment are written as hexadecimal digits; any non-zero digit is non-zero.
    for (char16_t c : value)
        if ((c >= u'1' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'))
            return true;
    return false;
}

bool IsInputMessage(_dword message)
{
    return (message >= Ui::_WM_KEYDOWN && message <= Ui::_WM_SYSCHAR) ||
           (message >= Ui::_WM_MOUSEMOVE && message <= Ui::_WM_MOUSEWHEEL);
}

} // namespace

bool IsLoadedModuleFile(const String& path)
{
    return LoadedFiles().count(path) != 0;
}

// --- The module --------------------------------------------------------------------------------------

bool LoaderHost::LoadModule()
{
    const String& path = mSource.mPath;
    if (!mModule.LoadModule(path))
    {
        SetError(ContactText(u"Loader cannot be loaded, contact", mSettings.mPolicy.supportAddress));
        return false;
    }
    String marker =
        FormatString(u"[VexelLoader-%lx]",
                     static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(mModule.NativeHandle())));
    String taken;
    if (GetEnvironment(marker, taken) && !taken.empty())
    {
        // Another host runs this library already; only our reference to it goes.
        LogTrace(u"[MC] Loader %ls is already loaded from %ls", path, taken);
        mModule.UnloadModule();
        SetError(ContactText(u"Loader is already running, contact", mSettings.mPolicy.supportAddress));
        return false;
    }
    mMarker = marker;
    SetEnvironmentText(mMarker, path);
    LoadedFiles().insert(path);
    mCreate = reinterpret_cast<VexelCreateFunc>(mModule.GetModuleProc(VEXEL_EXPORT_CREATE));
    mDelete = reinterpret_cast<VexelDeleteFunc>(mModule.GetModuleProc(VEXEL_EXPORT_DELETE));
    mSetup = reinterpret_cast<VexelSetupFunc>(mModule.GetModuleProc(VEXEL_EXPORT_SETUP));
    mUpdate = reinterpret_cast<VexelUpdateFunc>(mModule.GetModuleProc(VEXEL_EXPORT_UPDATE));
    mRender = reinterpret_cast<VexelRenderFunc>(mModule.GetModuleProc(VEXEL_EXPORT_RENDER));
    mMessage = reinterpret_cast<VexelMessageFunc>(mModule.GetModuleProc(VEXEL_EXPORT_MESSAGE));
    mProgressEntry = reinterpret_cast<VexelProgressFunc>(mModule.GetModuleProc(VEXEL_EXPORT_PROGRESS));
    if (!mCreate || !mDelete || !mSetup || !mUpdate || !mRender || !mMessage)
    {
        LogTrace(u"[MC] Loader %ls lacks an entry point", path);
        // Nothing of the game was made: no delete call.
        mDelete = nullptr;
        UnloadModule();
        SetError(ContactText(u"Invalid loader, contact", mSettings.mPolicy.supportAddress));
        return false;
    }
    mLastFrame = Now();
    if (mCreate(mNativeWindow, u"", u"", u"", 1) == 0)
    {
        LogTrace(u"[MC] Loader %ls did not start", path);
        UnloadModule();
        SetError(ContactText(u"Loader cannot be started, contact", mSettings.mPolicy.supportAddress));
        return false;
    }
    bool versionAdded = ReadFlagNumber(u"[MICRO-CLIENT]");
    for (std::size_t i = 0; i < mSource.mParamNames.size() && i < mSource.mParamValues.size(); ++i)
    {
        const String& name = mSource.mParamNames[i];
        if (name.empty())
            break;
        String value = mSource.mParamValues[i];
        if (!versionAdded && name == _PLUGIN_PARAM)
        {
            value = Trim(value, _BARS);
            if (!value.empty())
                value += u'|';
            value += _PLUGIN_VERSION;
            versionAdded = true;
        }
        mSetup(name.c_str(), value.c_str());
    }
    LogTrace(u"[MC] Loader %ls loaded", path);
    RequestBlockList();
    return true;
}

void LoaderHost::LoaderFrame()
{
    _qword now = Now();
    auto elapsed = static_cast<_dword>(now - mLastFrame);
    mLastFrame = now;
    if (mUpdate && !mBlocked)
    {
        Ui::WindowId focus = Ui::GetFocusUiWindow();
        bool focused = false;
        for (Ui::WindowId w = mGameWindow; w && !focused; w = Ui::GetParentWindow(w))
            focused = focus == w;
        if (focused)
        {
            if (mFocus != 1)
            {
                mFocus = 1;
                ForwardMessage(Ui::_WM_ACTIVATE, 1, 0);
            }
        }
        else
        {
            if (mFocus != 0)
            {
                mFocus = 0;
                ForwardMessage(Ui::_WM_ACTIVATE, 0, 0);
            }
            // A game in the background runs slowly and leaves the machine to the active program.
            _dword ms = Ui::IsUiWindowMinimized(mTopWindow) ? 100 : 10;
            if (mSleep)
                mSleep(ms);
            else
                Ui::WaitUiMessage(ms);
        }
        if (mUpdate && mUpdate(mNativeWindow, static_cast<int>(elapsed)) != 0)
        {
            if (!mFirstFrame)
            {
                Ui::KillUiTimer(mGameWindow, _LOADING_TIMER);
                mFirstFrame = true;
                // The window's pixels are the game's from now on.
                Ui::SetForeignPainting(mGameWindow, true);
                LogTrace(u"[MC] Loader first frame");
            }
            if (mRender)
                mRender(mNativeWindow);
        }
    }
    CheckBlockList();
    // The loading screen shows until the game (or the external launcher, which has the window) draws;
    // a ban shows over either.
    if ((!mFirstFrame && !mExternalStarted) || mBlocked)
        mScreen.Draw(mGameWindow, elapsed, Progress(), mError,
                     (!IsLoaded() && Progress() >= 1.0f) || mBlocked || mRefused, ProgressDetail());
}

Ui::LResult LoaderHost::ForwardMessage(_dword message, Ui::WParam wParam, Ui::LParam lParam)
{
    if (!mFirstFrame || mBlocked || !mMessage)
        return 0;
    return mMessage(mNativeWindow, message, wParam, lParam);
}

void LoaderHost::UnloadModule()
{
    if (mExternalStarted)
    {
        mExternalStarted = false;
        return;
    }
    if (!mModule.IsLoaded())
        return;
    if (mDelete)
        mDelete(mNativeWindow);
    mCreate = nullptr;
    mDelete = nullptr;
    mSetup = nullptr;
    mUpdate = nullptr;
    mRender = nullptr;
    mMessage = nullptr;
    mProgressEntry = nullptr;
    if (!mMarker.empty())
    {
        SetEnvironmentText(mMarker, String());
        mMarker.clear();
        auto found = LoadedFiles().find(mSource.mPath);
        if (found != LoadedFiles().end())
            LoadedFiles().erase(found);
    }
    mModule.UnloadModule();
    LogTrace(u"[MC] Loader unloaded");
}

void LoaderHost::PrepareDrawing()
{
    mScreen.Prepare();
    Ui::SetForeignPainting(mGameWindow, false);
    Ui::SetUiTimer(mGameWindow, _LOADING_TIMER, 100);
}

void LoaderHost::ResetLoaderHost()
{
    UnloadModule();
    mScreen.Release();
    mFetch.mTask.reset();
    DropSegments(true);
    if (mHeaders)
        DestroyWebHandle(mHeaders);
    mHeaders = nullptr;
    mHeadersMade = false;
    if (mGameWindow)
        Ui::KillUiTimer(mGameWindow, _LOADING_TIMER);
    if (mTemporary && !mSource.mPath.empty())
    {
        DeleteFile(mSource.mPath);
        LogTrace(u"[MC] Deleted the temporary loader %ls", mSource.mPath);
    }
    mSource.mUrl.clear();
    mSource.mMd5.clear();
    mSource.mPath.clear();
    mSource.mParamNames.clear();
    mSource.mParamValues.clear();
    mSource.mCdn.clear();
    mGameWindow = 0;
    mNativeWindow = 0;
    mTopWindow = 0;
    mExternalStarted = false;
    mTemporary = false;
    mBlocked = false;
    mFileReady = false;
    mError.clear();
    mFetch.mBuffer.clear();
    mFetch.mProgress.store(0.0f);
    mFetchingBlockList = false;
    mCdnIndex = 0;
    mAddress.clear();
    mMoved = 0.0f;
    mMovedAt = 0;
    mRoundTried = 0;
    mRoundWrong = 0;
    mBackoff = 0;
    mWaiting = false;
    mWaitUntil = 0;
    mRefused = false;
    mAsked.clear();
    mCounts.received.store(0);
    mCounts.total.store(_WEB_OPEN);
    mCounts.refused.store(false);
    mMeter.Reset();
    ByteBuffer().swap(mKept);
    mKeptTotal = 0;
    mWholeRetried = false;
    mFileDigest = MD5();
    mDigestKnown = false;
    mFirstFrame = false;
    mFocus = -1;
    mLastFrame = Now();
}

// --- The game child window ---------------------------------------------------------------------------

Ui::WindowId CreateGameChildWindow(LauncherState& state)
{
    GameFrame* frame = state.mGameFrame.get();
    if (!frame || !frame->mWindow)
        return 0;
    if (state.mGameChild && Ui::IsUiWindow(state.mGameChild))
        return state.mGameChild;
    Ui::Rect client;
    Ui::GetClientBounds(frame->mWindow, client);
    Ui::WindowParams params;
    params.style = Ui::_WS_CHILD;
    params.title = u"game";
    params.width = client.Width();
    params.height = client.Height();
    params.parent = frame->mWindow;
    LauncherState* s = &state;
    params.handler = [s](Ui::WindowId window, _dword message, Ui::WParam wParam,
                         Ui::LParam lParam) -> Ui::LResult
    {
        LoaderHost& host = LoaderHostOf(*s);
        switch (message)
        {
        case _WM_INVOKE:
            // Named commands (the host's "pluginok" among them) are the launcher's.
            if (s->mGameFrame && s->mGameFrame->mWindow)
                return Ui::SendUiMessage(s->mGameFrame->mWindow, message, wParam, lParam);
            return 0;
        case Ui::_WM_TIMER:
            return 0; // the loading screen's timer: the frame function draws it
        case Ui::_WM_LBUTTONDOWN:
        case Ui::_WM_RBUTTONDOWN:
            Ui::SetFocusUiWindow(window);
            break;
        case Ui::_WM_DESTROY:
            host.UnloadModule();
            return 0;
        default:
            break;
        }
        if (IsInputMessage(message) || message == Ui::_WM_SIZE)
            if (Ui::LResult answer = host.ForwardMessage(message, wParam, lParam))
                return answer;
        return Ui::DefaultHandler(window, message, wParam, lParam);
    };
    state.mGameChild = Ui::NewWindow(params);
    return state.mGameChild;
}

void DestroyGameChildWindow(LauncherState& state)
{
    if (!state.mGameChild)
        return;
    LoaderHostOf(state).UnloadModule();
    Ui::DestroyUiWindow(state.mGameChild);
    state.mGameChild = 0;
}

void LayoutGameChildWindow(const FramesAndPages& frames)
{
    if (!frames.mGameChild || !frames.mGameFrame || !frames.mGameFrame->mWindow)
        return;
    Ui::Rect client;
    if (Ui::GetClientBounds(frames.mGameFrame->mWindow, client))
        Ui::MoveUiWindow(frames.mGameChild, 0, 0, client.Width(), client.Height());
}

void StartLoader(LauncherState& state)
{
    LoaderHost& host = LoaderHostOf(state);
    LoaderSource& source = state.mLoader;
    if (state.mStartMode == 2)
    {
        // startLoader's file, or startRemoteLoader's address, and the arguments ("name=value", or a
        // word that is both).
        source.mParamNames.clear();
        source.mParamValues.clear();
        for (const auto& arg : state.mLoaderArgs)
        {
            std::size_t equals = arg.find(u'=');
            source.mParamNames.push_back(equals == String::npos ? arg : String(arg.substr(0, equals)));
            source.mParamValues.push_back(equals == String::npos ? arg : String(arg.substr(equals + 1)));
        }
        bool external = host.mSettings.mExternal;
        if (state.mLoaderUrl.empty())
        {
            source.mPath = state.mLoaderPath;
            host.SetLoaderSource(u"local:\\" + state.mLoaderPath, String());
        }
        else
        {
            // Where a game page's module goes: the data folder's loader file, which a later start
            // finds there by its digest instead of downloading it again.
            ChooseDataFolder(state, state.mAppSize);
            source.mCdn = state.mLoaderCdn;
            host.SetLoaderSource(state.mLoaderUrl, state.mLoaderMd5);
        }
        host.mSettings.mExternal = external;
    }
    String blockHost = host.mSettings.mBlockListHost;
    if (blockHost.empty())
    {
        String report = state.mReportUrl;
        std::size_t scheme = report.find(u"://");
        String host = UrlHost(report);
        if (!host.empty())
            blockHost = report.substr(0, scheme + 3) + host;
    }
    else if (blockHost.find(u"://") == String::npos)
        blockHost = u"http://" + blockHost;
    while (!blockHost.empty() && blockHost.back() == u'/')
        blockHost.pop_back();
    host.mSettings.mBlockListUrl = blockHost.empty() ? String() : blockHost + u"/dev/bl";
    Ui::WindowId child = CreateGameChildWindow(state);
    if (!child)
        return;
    LayoutGameChildWindow(state);
    host.StartLoaderHost(child);
    Ui::ShowUiWindow(child, Ui::_SW_SHOW);
    Ui::UpdateUiWindow(child);
    Ui::SetFocusUiWindow(child);
}

void DriveLoader(LauncherState& state)
{
    LoaderHost& host = LoaderHostOf(state);
    if (!host.IsStarted())
        return;
    if (!host.IsLoaded() && host.PollLoaderDownload())
        host.VerifyAndLoad();
    host.LoaderFrame();
}

void StopLoader(LauncherState& state)
{
    LoaderHostOf(state).ResetLoaderHost();
    DestroyGameChildWindow(state);
}

} // namespace Vexel
