#include "LoaderHost.h"

#include "LoaderChoice.h"
#include "LoaderModule.h"

#include "Common/Log.h"
#include "Common/Md5.h"
#include "Platform/File.h"
#include "Platform/Folders.h"
#include "Platform/Process.h"
#include "Platform/System.h"

#include <chrono>
#include <functional>
#include <thread>

namespace Vexel
{

namespace
{

constexpr const char16_t* _VERSION_QUERY = u"?pv=10004";
constexpr const char16_t* _EXTERNAL_LAUNCHER = u"vexelexelauncher.exe";

bool StartsWithIgnoringCase(const String& text, std::u16string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
    {
        char16_t a = text[i], b = prefix[i];
        if (a >= u'A' && a <= u'Z')
            a = static_cast<char16_t>(a - u'A' + u'a');
        if (b >= u'A' && b <= u'Z')
            b = static_cast<char16_t>(b - u'A' + u'a');
        if (a != b)
            return false;
    }
    return true;
}

bool EqualIgnoringCase(const String& a, const String& b)
{
    return a.size() == b.size() && StartsWithIgnoringCase(a, b);
}

// Where the host part of an address begins (after "scheme://"), or npos.
std::size_t HostStart(const String& url)
{
    std::size_t scheme = url.find(u"://");
    return scheme == String::npos ? String::npos : scheme + 3;
}

} // namespace

String UrlHost(const String& url)
{
    std::size_t begin = HostStart(url);
    if (begin == String::npos)
        return String();
    std::size_t end = url.find(u'/', begin);
    return url.substr(begin, end == String::npos ? String::npos : end - begin);
}

String ReplaceUrlHost(const String& url, const String& host)
{
    std::size_t begin = HostStart(url);
    if (begin == String::npos)
        return url;
    std::size_t end = url.find(u'/', begin);
    return url.substr(0, begin) + host + (end == String::npos ? String() : String(url.substr(end)));
}

String TemporaryModulePath(const String& path, _dword number)
{
    std::size_t slash = path.find_last_of(u"/\\");
    std::size_t dot = path.find_last_of(u'.');
    String stem = path, extension;
    if (dot != String::npos && (slash == String::npos || dot > slash))
    {
        stem = path.substr(0, dot);
        extension = path.substr(dot + 1);
    }
    return FormatString(u"%ls-%.8x.%ls", stem, number, extension);
}

LoaderHost::LoaderHost(LoaderSource& source) : mSource(source) {}

LoaderHost::~LoaderHost()
{
    ResetLoaderHost();
}

_qword LoaderHost::Now() const
{
    if (mClock)
        return mClock();
    return static_cast<_qword>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

void LoaderHost::SetError(const String& text)
{
    mError = text;
    LogTrace(u"[MC] Loader error: %ls", text);
}

void LoaderHost::SetLoaderSource(const String& url, const String& md5)
{
    mSource.mUrl = TrimBlank(url);
    mSource.mMd5 = TrimBlank(md5);
    mSettings.mExternal = false;
}

bool LoaderHost::StartLoaderHost(Ui::WindowId gameWindow)
{
    mGameWindow = gameWindow;
    Ui::SendUiMessage(gameWindow, _WM_LOADER_INVOKE, reinterpret_cast<Ui::WParam>(u"pluginok"), 0);
    mTopWindow = Ui::GetTopLevelWindow(gameWindow);
    mNativeWindow = Ui::GetNativeWindowHandle(gameWindow);
    PrepareDrawing();
    mFileReady = false;
    const String& url = mSource.mUrl;
    std::size_t prefix = StartsWithIgnoringCase(url, u"local://")   ? 8
                         : StartsWithIgnoringCase(url, u"local:\\") ? 7
                                                                    : 0;
    if (prefix != 0)
    {
        String local = url.substr(prefix);
        if (FileExists(local))
        {
            LogTrace(u"[MC] Loader is the local file %ls", local);
            mSource.mPath = local;
            mFetch.mProgress.store(1.0f);
            mFileReady = true;
            return true;
        }
    }
    if (!mSource.mPath.empty() && FileExists(mSource.mPath) && !mSource.mMd5.empty() &&
        EqualIgnoringCase(Md5ToText(FileDigest(mSource.mPath)), mSource.mMd5))
    {
        LogTrace(u"[MC] Loader is the cached file %ls", mSource.mPath);
        mFetch.mProgress.store(1.0f);
        mFileReady = true;
        return true;
    }
    StartDownload();
    return false;
}

void LoaderHost::StartDownload()
{
    if (!mHeadersMade)
    {
        mHeadersMade = true;
        String host = UrlHost(mSource.mUrl);
        if (!host.empty())
        {
            mHeaders = CreateWebHandle();
            AppendWebHandleHeader(mHeaders, FormatString(u"Host: %ls", host));
        }
    }
    mFetch.mTask.reset();
    mFetch.mProgress.store(0.0f);
    mFetchingBlockList = false;
    mStalling = false;
    String address = mSource.mUrl;
    if (mCdnIndex >= 1 && static_cast<std::size_t>(mCdnIndex) <= mSource.mCdn.size())
        address = ReplaceUrlHost(address, mSource.mCdn[mCdnIndex - 1]);
    mAddress = address + _VERSION_QUERY;
    LogTrace(u"[MC] Download loader from %ls", mAddress);
    mFetch.mTask = WebDownload(mAddress, &mFetch.mBuffer, _WEB_ASYNC, 0, _WEB_OPEN, mHeaders, String(),
                               &mFetch.mProgress);
}

void LoaderHost::NextAddress()
{
    mCdnIndex = static_cast<int>((mCdnIndex + 1) % (mSource.mCdn.size() + 1));
    StartDownload();
}

bool LoaderHost::PollLoaderDownload()
{
    if (mFileReady)
        return true;
    if (mBlocked || mFetchingBlockList || !mFetch.mTask)
        return false;
    float progress = mFetch.mProgress.load();
    if (progress <= 0.0f)
    {
        _qword now = Now();
        if (!mStalling)
        {
            mStalling = true;
            mStallStart = now;
        }
        else if (now - mStallStart >= _LOADER_STALL_MS)
        {
            LogTrace(u"[MC] No progress from %ls, next address", mAddress);
            NextAddress();
        }
        return false;
    }
    mStalling = false;
    if (progress < 1.0f)
        return false;
    // The worker is done with the buffer once it is stopped.
    mFetch.mTask.reset();
    ByteBuffer bytes = std::move(mFetch.mBuffer);
    mFetch.mBuffer.clear();
    bool changed = false;
    if (!DecompressBuffer(bytes, changed))
    {
        LogTrace(u"[MC] Loader from %ls is packed but cannot be unpacked, next address", mAddress);
        NextAddress();
        return false;
    }
    String digest = Md5ToText(Md5Of(bytes.data(), bytes.size()));
    if (!EqualIgnoringCase(digest, mSource.mMd5))
    {
        LogTrace(u"[MC] Loader from %ls has digest %ls, expected %ls, next address", mAddress, digest,
                 mSource.mMd5);
        NextAddress();
        return false;
    }
    if (!SaveModule(bytes))
        return false;
    mFetch.mProgress.store(1.0f);
    mFileReady = true;
    return true;
}

bool LoaderHost::ModuleFileInUse(const String& path) const
{
    // Replacing the file of a loaded module is what Windows refuses; here the bytes under a loaded
    // library must not change either.
    return (mModule.IsLoaded() && mSource.mPath == path) || IsLoadedModuleFile(path);
}

bool LoaderHost::SaveModule(ByteBuffer& bytes)
{
    String path = mSource.mPath;
    if (path.empty())
    {
        SetError(u"No place for the loader");
        return false;
    }
    if (FileExists(path) && ModuleFileInUse(path))
    {
        auto thread = static_cast<_dword>(std::hash<std::thread::id>()(std::this_thread::get_id()));
        path = TemporaryModulePath(path, thread);
        mTemporary = true;
    }
    bool ok = WriteFile(path, bytes);
    LogTrace(u"[MC] Save loader to %ls, %d", path, ok ? 1 : 0);
    if (!ok)
        return false;
    mSource.mPath = path;
    return true;
}

bool LoaderHost::VerifyAndLoad()
{
    mFileReady = false;
    const String& path = mSource.mPath;
    CodeTrust trust = CheckFileTrust(path, mSettings.mCaFile);
    LoaderVerdict verdict = JudgeLoader(trust, FileDigest(path), mSettings.mPolicy);
    if (!verdict.accepted)
    {
        LogTrace(u"[MC] Loader %ls refused: %ls", path, verdict.reason);
        SetError(verdict.error);
        return false;
    }
    LogTrace(u"[MC] Loader %ls verified (%ls)", path,
             trust.signer.empty() ? String(u"unsigned") : trust.signer);
    if (mSettings.mExternal)
    {
        if (!StartExternalLauncher())
            return false;
        mExternalStarted = true;
        // The outside program draws into the game window from now on.
        Ui::KillUiTimer(mGameWindow, _LOADING_TIMER);
        Ui::SetForeignPainting(mGameWindow, true);
        RequestBlockList();
        return true;
    }
    return LoadModule();
}

String ExternalLauncherCommandLine(const String& program, const String& module, _dword window,
                                   const String& exeparam)
{
    return FormatString(u"\"%ls\" \"%ls\" %ld %ls", program, module, static_cast<long>(window), exeparam);
}

bool LoaderHost::StartExternalLauncher()
{
    String value;
    for (std::size_t i = 0; i < mSource.mParamNames.size() && i < mSource.mParamValues.size(); ++i)
        if (mSource.mParamNames[i] == u"exeparam")
        {
            value = mSource.mParamValues[i];
            break;
        }
    String program =
        JoinFolder(JoinFolder(GetSpecialFolder(SpecialFolder::AppData), u"Vexel"), _EXTERNAL_LAUNCHER);
    LogTrace(u"[MC] Start external launcher %ls for %ls", program, mSource.mPath);
    if (!StartProcess(ExternalLauncherCommandLine(program, mSource.mPath, mNativeWindow, value)))
    {
        SetError(ContactText(u"Cannot start the game launcher, contact", mSettings.mPolicy.supportAddress));
        return false;
    }
    return true;
}

void LoaderHost::RequestBlockList()
{
    mFetch.mTask.reset();
    mFetch.mBuffer.clear();
    mFetch.mProgress.store(0.0f);
    mFetchingBlockList = false;
    if (mSettings.mBlockListUrl.empty())
        return;
    mFetchingBlockList = true;
    LogTrace(u"[MC] Ask block list %ls", mSettings.mBlockListUrl);
    mFetch.mTask = WebDownload(mSettings.mBlockListUrl, &mFetch.mBuffer, _WEB_ASYNC, 0, _WEB_OPEN, nullptr,
                               String(), &mFetch.mProgress);
}

void LoaderHost::CheckBlockList()
{
    if (!mFetchingBlockList || mBlocked || mFetch.mProgress.load() < 1.0f)
        return;
    mFetch.mTask.reset();
    mFetch.mProgress.store(0.0f);
    mFetchingBlockList = false;
    if (mFetch.mBuffer.size() <= 15)
        return;
    std::optional<String> message =
        FindBlockedLoader(mFetch.mBuffer.data(), mFetch.mBuffer.size(), FileDigest(mSource.mPath),
                          mSettings.mPolicy.supportAddress);
    mFetch.mBuffer.clear();
    if (!message)
        return;
    LogTrace(u"[MC] Loader %ls is on the block list", mSource.mPath);
    SetError(*message);
    mBlocked = true;
    UnloadModule();
    mScreen.Invalidate();
    Ui::SetForeignPainting(mGameWindow, false);
    Ui::SetUiTimer(mGameWindow, _LOADING_TIMER, 100);
}

} // namespace Vexel
