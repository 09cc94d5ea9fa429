#include "Services/LoaderHost.h"

#include "Services/GameModule.h"
#include "Services/LoaderChoice.h"

#include "Common/Log.h"
#include "Common/Md5.h"
#include "Common/StringEncoding.h"
#include "Common/StringHelpers.h"
#include "Platform/File.h"
#include "Platform/Folders.h"
#include "Platform/Process.h"
#include "Platform/System.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <system_error>
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

LoaderHost& LoaderHostOf(LauncherState& state)
{
    if (!state.mLoaderHost)
        state.mLoaderHost = std::make_unique<LoaderHost>(state.mLoader);
    return *state.mLoaderHost;
}

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
    mSource.mUrl = Trim(url, _BLANKS);
    mSource.mMd5 = Trim(md5, _BLANKS);
    mSettings.mExternal = false;
}

bool LoaderHost::StartLoaderHost(Ui::WindowId gameWindow)
{
    mGameWindow = gameWindow;
    Ui::SendUiMessage(gameWindow, _WM_INVOKE, reinterpret_cast<Ui::WParam>(u"pluginok"), 0);
    mTopWindow = Ui::GetTopLevelWindow(gameWindow);
    mNativeWindow = Ui::GetNativeWindowHandle(gameWindow);
    PrepareDrawing();
    mFileReady = false;
    mDigestKnown = false;
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
        EqualIgnoringCase(Md5ToText(mFileDigest = FileDigest(mSource.mPath)), mSource.mMd5))
    {
        mDigestKnown = true;
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
    String address = mSource.mUrl;
    if (mCdnIndex >= 1 && static_cast<std::size_t>(mCdnIndex) <= mSource.mCdn.size())
        address = ReplaceUrlHost(address, mSource.mCdn[mCdnIndex - 1]);
    mAddress = address + _VERSION_QUERY;
    // A host named twice in the list (the URL's own host again among the CDNs) is not asked twice in
    // one breath.
    _qword now = Now();
    String host = UrlHost(address);
    auto asked = mAsked.find(host);
    if (asked != mAsked.end() && now - asked->second < _LOADER_ASK_INTERVAL_MS)
    {
        mWaiting = true;
        mWaitUntil = asked->second + _LOADER_ASK_INTERVAL_MS;
        return;
    }
    mAsked[host] = now;
    mWaiting = false;
    mMoved = 0.0f;
    mMovedAt = now;
    mCounts.received.store(0);
    mCounts.total.store(_WEB_OPEN);
    mCounts.refused.store(false);
    mCounts.overLimit.store(false);
    mMeter.Reset();
    if (!mKept.empty())
    {
        // The page's addresses serve the same file: this one is asked for the rest only.
        LogTrace(u"[MC] Download loader from %ls, from byte %I64d of %I64d", mAddress,
                 static_cast<std::int64_t>(mKept.size()), mKeptTotal);
        mFetch.mTask = WebDownloadRest(mAddress, &mFetch.mBuffer, static_cast<std::int64_t>(mKept.size()),
                                       mKeptTotal, mHeaders, &mFetch.mProgress, &mCounts);
        return;
    }
    LogTrace(u"[MC] Download loader from %ls", mAddress);
    mFetch.mTask = WebDownload(mAddress, &mFetch.mBuffer, _WEB_ASYNC, 0, _WEB_OPEN, mHeaders, String(),
                               &mFetch.mProgress, nullptr, mMemoryLimit, &mCounts);
}

void LoaderHost::RestartWhole()
{
    mFetch.mTask.reset();
    mFetch.mBuffer.clear();
    ByteBuffer().swap(mKept);
    mKeptTotal = 0;
    StartDownload();
}

void LoaderHost::EndAttempt(bool wrongBytes)
{
    // The worker has joined what it received onto the buffer once it is stopped.
    const std::int64_t total = mCounts.total.load();
    mFetch.mTask.reset();
    if (wrongBytes)
    {
        ByteBuffer().swap(mKept);
        mKeptTotal = 0;
    }
    else if (!mFetch.mBuffer.empty() && (!mKept.empty() || total > 0))
    {
        // Keep what arrived: the next address continues from there.
        if (mKept.empty())
            mKeptTotal = total;
        mKept.insert(mKept.end(), mFetch.mBuffer.begin(), mFetch.mBuffer.end());
        if (static_cast<std::int64_t>(mKept.size()) >= mKeptTotal)
        {
            ByteBuffer().swap(mKept);
            mKeptTotal = 0;
        }
    }
    mFetch.mBuffer.clear();
    ++mRoundTried;
    if (wrongBytes)
        ++mRoundWrong;
    const int addresses = static_cast<int>(mSource.mCdn.size()) + 1;
    mCdnIndex = (mCdnIndex + 1) % addresses;
    if (mRoundTried < addresses)
    {
        StartDownload();
        return;
    }
    const bool allWrong = mRoundWrong == mRoundTried;
    mRoundTried = 0;
    mRoundWrong = 0;
    if (allWrong)
    {
        // Every address serves the same other file: asking again would only bring it again.
        LogTrace(u"[MC] No address serves the loader with digest %ls", mSource.mMd5);
        mRefused = true;
        mFetch.mProgress.store(1.0f);
        SetError(ContactText(u"Invalid loader, contact", mSettings.mPolicy.supportAddress));
        return;
    }
    mBackoff = mBackoff == 0 ? _LOADER_BACKOFF_FIRST_MS : std::min(mBackoff * 2, _LOADER_BACKOFF_MAX_MS);
    LogTrace(u"[MC] No address gave the loader, next round in %d ms", static_cast<int>(mBackoff));
    mFetch.mProgress.store(0.0f);
    mWaiting = true;
    mWaitUntil = Now() + mBackoff;
}

bool LoaderHost::PollLoaderDownload()
{
    if (mFileReady)
        return true;
    if (mBlocked || mFetchingBlockList || mRefused)
        return false;
    if (mSegments)
        return PollSegments();
    if (mWaiting)
    {
        if (Now() >= mWaitUntil)
            StartDownload();
        return false;
    }
    if (!mFetch.mTask)
        return false;
    if (mCounts.refused.load())
    {
        // The server sent the whole file or a file of another length: it starts from byte 0.
        LogTrace(u"[MC] %ls cannot continue the loader, from the start", mAddress);
        RestartWhole();
        return false;
    }
    float progress = mFetch.mProgress.load();
    if (progress < 1.0f && WantsSegments())
    {
        StartSegments();
        return false;
    }
    if (mCounts.overLimit.load())
    {
        // Without its length it cannot go into the file in parts; waiting would never bring it.
        LogTrace(u"[MC] Loader from %ls is over %I64d bytes and its length is not told, next address",
                 mAddress, static_cast<std::int64_t>(mMemoryLimit));
        EndAttempt(true);
        return false;
    }
    if (progress < 1.0f)
    {
        // Any forward step counts; a value that merely holds (at 0 or half-way) does not.
        _qword now = Now();
        mMeter.Sample(now, mCounts.received.load());
        if (progress > mMoved)
        {
            mMoved = progress;
            mMovedAt = now;
        }
        else if (now - mMovedAt >= _LOADER_STALL_MS)
        {
            LogTrace(u"[MC] No progress from %ls, next address", mAddress);
            EndAttempt(false);
        }
        return false;
    }
    // The worker is done with the buffer once it is stopped.
    mFetch.mTask.reset();
    ByteBuffer bytes;
    const bool resumed = !mKept.empty();
    if (resumed)
    {
        bytes.swap(mKept);
        mKeptTotal = 0;
        bytes.insert(bytes.end(), mFetch.mBuffer.begin(), mFetch.mBuffer.end());
        ByteBuffer().swap(mFetch.mBuffer);
    }
    else
        bytes = std::move(mFetch.mBuffer);
    mFetch.mBuffer.clear();
    return AcceptBytes(bytes, resumed);
}

bool LoaderHost::AcceptBytes(ByteBuffer& bytes, bool resumed)
{
    bool changed = false;
    if (!DecompressBuffer(bytes, changed))
    {
        LogTrace(u"[MC] Loader from %ls is packed but cannot be unpacked, next address", mAddress);
        EndAttempt(true);
        return false;
    }
    const MD5 bytesDigest = Md5Of(bytes.data(), bytes.size());
    String digest = Md5ToText(bytesDigest);
    if (!EqualIgnoringCase(digest, mSource.mMd5) && resumed && !mWholeRetried)
    {
        // Pieces of two different files, perhaps: once more, whole, from this address.
        LogTrace(u"[MC] Loader pieced together up to %ls has digest %ls, expected %ls, again from the start",
                 mAddress, digest, mSource.mMd5);
        mWholeRetried = true;
        RestartWhole();
        return false;
    }
    if (!EqualIgnoringCase(digest, mSource.mMd5))
    {
        LogTrace(u"[MC] Loader from %ls has digest %ls, expected %ls, next address", mAddress, digest,
                 mSource.mMd5);
        EndAttempt(true);
        return false;
    }
    if (!SaveModule([&](const String& path) { return WriteFile(path, bytes); }))
        return false;
    mFileDigest = bytesDigest;
    mDigestKnown = true;
    mFetch.mProgress.store(1.0f);
    mFileReady = true;
    return true;
}

namespace
{

int DistinctHosts(const LoaderSource& source)
{
    std::vector<String> hosts{UrlHost(source.mUrl)};
    for (const String& cdn : source.mCdn)
        if (std::find(hosts.begin(), hosts.end(), cdn) == hosts.end())
            hosts.push_back(cdn);
    return static_cast<int>(hosts.size());
}

} // namespace

bool LoaderHost::BeyondMemory() const
{
    return mCounts.total.load() > static_cast<std::int64_t>(mMemoryLimit);
}

bool LoaderHost::WantsSegments() const
{
    if (BeyondMemory() && mKept.empty() && !mSource.mPath.empty())
        return true;
    return !mSegmentsTried && mKept.empty() && !mWholeRetried && !mSource.mPath.empty() &&
           mCounts.total.load() > _LOADER_SEGMENT_THRESHOLD && mCounts.received.load() > 0 &&
           DistinctHosts(mSource) > 1;
}

void LoaderHost::StartSegments()
{
    const std::int64_t total = mCounts.total.load();
    // The bytes so far are the file's first; this address is asked for its share once its second is up.
    mFetch.mTask.reset();
    mSegmentsTried = true;
    ByteBuffer head;
    head.swap(mFetch.mBuffer);
    if (static_cast<std::int64_t>(head.size()) >= total)
    {
        // It finished meanwhile.
        mFetch.mBuffer.swap(head);
        mFetch.mProgress.store(1.0f);
        return;
    }
    // Each host once, from the current address on: the page's addresses serve the same file.
    std::vector<SegmentedSource> sources;
    const int addresses = static_cast<int>(mSource.mCdn.size()) + 1;
    for (int k = 0; k < addresses; ++k)
    {
        const int index = (mCdnIndex + k) % addresses;
        const String address =
            index == 0 ? mSource.mUrl : ReplaceUrlHost(mSource.mUrl, mSource.mCdn[index - 1]);
        const String host = UrlHost(address);
        if (std::none_of(sources.begin(), sources.end(),
                         [&](const SegmentedSource& s) { return s.host == host; }))
            sources.push_back({address + _VERSION_QUERY, host});
        // After a pieced file of the wrong digest, one address at a time.
        if (mWholeRetried)
            break;
    }
    std::vector<String> headers;
    if (String host = UrlHost(mSource.mUrl); !host.empty())
        headers.push_back(FormatString(u"Host: %ls", host));
    SegmentedTransferRules rules;
    rules.parallel = _LOADER_SEGMENT_SOURCES;
    rules.stallMs = _LOADER_STALL_MS;
    rules.askIntervalMs = _LOADER_ASK_INTERVAL_MS;
    rules.restFirstMs = _LOADER_BACKOFF_FIRST_MS;
    rules.restMaxMs = _LOADER_BACKOFF_MAX_MS;
    LogTrace(u"[MC] Loader of %I64d bytes, in segments from %d addresses", total,
             static_cast<int>(sources.size()));
    mSegmentPath = mSource.mPath + u".part";
    mSegments = std::make_unique<SegmentedTransfer>(
        std::move(sources), headers, total, rules, [this] { return Now(); }, &mAsked);
    mMeter.Reset();
    if (!mSegments->Start(mSegmentPath, head.data(), head.size()))
    {
        DropSegments(false);
        if (BeyondMemory())
        {
            // Nowhere to put it: memory cannot hold it and the file cannot be made.
            SetError(ContactText(u"Loader cannot be saved, contact", mSettings.mPolicy.supportAddress));
            return;
        }
        RestartWhole();
    }
}

bool LoaderHost::PollSegments()
{
    switch (mSegments->Poll())
    {
    case SegmentedTransfer::State::Running:
    {
        const std::int64_t received = mSegments->Received();
        mMeter.Sample(Now(), received);
        mFetch.mProgress.store(static_cast<float>(
            std::min(static_cast<double>(received) / static_cast<double>(mSegments->Total()), 0.9999)));
        return false;
    }
    case SegmentedTransfer::State::Failed:
        mSegmentFetched = mSegments->Fetched();
        DropSegments(false);
        if (BeyondMemory())
        {
            // The whole file would not fit in memory either: the next address, under the round's rules.
            LogTrace(u"[MC] The loader cannot be fetched in segments from %ls, next address", mAddress);
            EndAttempt(false);
            return false;
        }
        LogTrace(u"[MC] The loader cannot be fetched in segments, the whole file from %ls", mAddress);
        RestartWhole();
        return false;
    case SegmentedTransfer::State::Done:
        break;
    }
    return FinishSegments();
}

bool LoaderHost::FinishSegments()
{
    const MD5 digest = mSegments->Digest();
    const int requests = mSegments->Requests();
    mSegmentFetched = mSegments->Fetched();
    // Waiting here for a silent server's request to notice its end would hold up the first frame.
    mSegments->CloseFile();
    mSegmentsEnding = std::move(mSegments);
    const String part = mSegmentPath;
    _byte front[_PACK_HEADER_SIZE] = {};
    File file;
    const bool packed =
        file.OpenRead(part) && file.Read(front, sizeof front) && IsCompressed(front, sizeof front);
    file.Close();
    if (packed)
    {
        // Packed modules are unpacked whole, as they always were.
        ByteBuffer bytes;
        const bool read = ReadFile(part, bytes);
        DropSegments(false);
        if (read)
            return AcceptBytes(bytes, true);
        LogTrace(u"[MC] Cannot read back the loader from %ls", part);
        RestartWhole();
        return false;
    }
    const String text = Md5ToText(digest);
    if (!EqualIgnoringCase(text, mSource.mMd5) && mWholeRetried)
    {
        // Already the one-address retry of a module memory cannot hold.
        LogTrace(u"[MC] Loader from %ls has digest %ls, expected %ls, next address", mAddress, text,
                 mSource.mMd5);
        DropSegments(false);
        EndAttempt(true);
        return false;
    }
    if (!EqualIgnoringCase(text, mSource.mMd5))
    {
        // Some address sent bytes of another file; which one cannot be told: once more, whole, from one.
        LogTrace(u"[MC] Loader pieced together from %d requests has digest %ls, expected %ls, again from the "
                 u"start",
                 requests, text, mSource.mMd5);
        DropSegments(false);
        mWholeRetried = true;
        RestartWhole();
        return false;
    }
    if (!SaveModule([&](const String& path) { return MoveFile(part, path); }))
    {
        DropSegments(false);
        return false;
    }
    mSegmentPath.clear();
    mFileDigest = digest;
    mDigestKnown = true;
    mFetch.mProgress.store(1.0f);
    mFileReady = true;
    return true;
}

void LoaderHost::DropSegments(bool all)
{
    mSegments.reset();
    mSegmentsEnding.reset();
    if (!mSegmentPath.empty())
        DeleteFile(mSegmentPath);
    mSegmentPath.clear();
    if (all)
    {
        mSegmentsTried = false;
        mSegmentFetched = 0;
    }
}

float LoaderHost::Progress() const
{
    const float progress = mFetch.mProgress.load();
    if (mKept.empty() || mKeptTotal <= 0 || progress >= 1.0f || mFetchingBlockList)
        return progress;
    const double share =
        static_cast<double>(mKept.size() +
                            static_cast<std::size_t>(std::max<std::int64_t>(mCounts.received.load(), 0))) /
        static_cast<double>(mKeptTotal);
    return static_cast<float>(std::min(share, 0.9999));
}

String LoaderHost::ProgressDetail() const
{
    if (mSegments)
        return DownloadProgressText(mSegments->Received(), mSegments->Total(), mMeter.BytesPerSecond());
    if (!mFetch.mTask || mFetchingBlockList || mWaiting || mFileReady || mRefused)
        return String();
    const auto kept = static_cast<std::int64_t>(mKept.size());
    const std::int64_t received = kept + mCounts.received.load();
    if (received <= 0)
        return String();
    const std::int64_t total = kept > 0 ? mKeptTotal : mCounts.total.load();
    return DownloadProgressText(received, total, mMeter.BytesPerSecond());
}

MD5 LoaderHost::LoaderFileDigest() const
{
    return mDigestKnown ? mFileDigest : FileDigest(mSource.mPath);
}

bool LoaderHost::ModuleFileInUse(const String& path) const
{
    // Replacing the file of a loaded module is what Windows refuses; here the bytes under a loaded
    // library must not change either.
    return (mModule.IsLoaded() && mSource.mPath == path) || IsLoadedModuleFile(path);
}

bool LoaderHost::SaveModule(const std::function<bool(const String& path)>& write)
{
    String path = mSource.mPath;
    const String cannotSave =
        ContactText(u"Loader cannot be saved, contact", mSettings.mPolicy.supportAddress);
    if (path.empty())
    {
        LogTrace(u"[MC] Cannot save the loader: no file named for it");
        SetError(cannotSave);
        return false;
    }
    // A file that cannot be deleted is in use (a second client on this machine runs it): this copy goes
    // under a name of its own, and the one in use is left alone. A module this process has loaded counts
    // as in use too, since the system would hand back the loaded one for the same path.
    bool temporary = false;
    if (FileExists(path) && (ModuleFileInUse(path) || (!DeleteFile(path) && FileExists(path))))
    {
        auto thread = static_cast<_dword>(std::hash<std::thread::id>()(std::this_thread::get_id()));
        path = TemporaryModulePath(path, thread);
        temporary = true;
    }
    errno = 0;
    bool ok = write(path);
    if (!ok)
    {
        // Nothing was written under the temporary name, so nothing of it is to be deleted later either.
        const int error = errno;
        LogTrace(u"[MC] Save loader to %ls, 0: %ls", path,
                 error != 0 ? FromUtf8(std::generic_category().message(error))
                            : String(u"the file cannot be written"));
        SetError(cannotSave);
        return false;
    }
    LogTrace(u"[MC] Save loader to %ls, 1", path);
    mSource.mPath = path;
    mTemporary = temporary;
    return true;
}

bool LoaderHost::VerifyAndLoad()
{
    mFileReady = false;
    const String& path = mSource.mPath;
    CodeTrust trust = CheckFileTrust(path, mSettings.mCaFile);
    // The digest decides only for an unsigned module.
    LoaderVerdict verdict = JudgeLoader(
        trust, trust.state == TrustState::Unsigned ? LoaderFileDigest() : MD5(), mSettings.mPolicy);
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
    std::optional<String> message = FindBlockedLoader(mFetch.mBuffer.data(), mFetch.mBuffer.size(),
                                                      LoaderFileDigest(), mSettings.mPolicy.supportAddress);
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
