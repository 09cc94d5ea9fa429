#include "Services/RemoteFetch.h"

#include "Base/ServerData.h"
#include "Frames/FrameWindow.h"
#include "Frames/GameFrame.h"

#include "Common/Log.h"
#include "Common/Md5.h"
#include "Common/Regex.h"
#include "Common/StringEncoding.h"
#include "Platform/File.h"
#include "Platform/Ui/WebView.h"
#include "Storage/Download/WebTransfer.h"

#include <chrono>

namespace Vexel
{

namespace
{

// Menu texts from the server are cut to this length.
constexpr std::size_t _MAX_MENU_TEXT = 255;
// The digest answer is read up to this many characters.
constexpr _dword _MAX_DIGEST_TEXT = 1023;
constexpr int _SERVER_SLOT = 1;

_qword Now(const FetchRecords& fetches)
{
    if (fetches.mFetchClock)
        return fetches.mFetchClock();
    return static_cast<_qword>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

void ResetRecord(FetchRecord& record)
{
    record.mTask.reset();
    record.mProgress.store(0.0f);
    record.mStallStart = 0;
}

// Cancels what the record was doing and starts the transfer on a worker thread of its own.
void StartAsync(FetchRecord& record, const String& url, int kind, const String& target, const String& cookie,
                const char16_t* startLine)
{
    ResetRecord(record);
    record.mBuffer.clear();
    record.mKind = kind;
    record.mTargetPath = target;
    if (startLine)
        LogTrace(startLine, url);
    record.mTask =
        WebDownload(url, &record.mBuffer, _WEB_ASYNC, 0, _WEB_OPEN, nullptr, cookie, &record.mProgress);
}

// Writes the bytes, unpacked when they are packed; packed bytes that cannot be unpacked are not written.
void SaveFetched(ByteBuffer& buffer, const String& path, bool unpack)
{
    bool ok = true;
    if (unpack)
    {
        bool changed = false;
        ok = DecompressBuffer(buffer, changed);
        if (!ok)
            LogTrace(u"[MC] Downloaded data for %ls is packed but cannot be unpacked", path);
    }
    if (ok)
        ok = WriteFile(path, buffer);
    LogTrace(u"[MC] Save file to %ls, %d", path, ok ? 1 : 0);
}

// One attempt of the hall download on a worker thread of its own; the outcome tells the main thread how
// it ended, so that the next attempt waits as long as the retry rule says.
void StartHallAttempt(FetchRecords& fetches)
{
    FetchRecord& record = fetches.mHallFetch;
    ResetRecord(record);
    record.mBuffer.clear();
    auto outcome = std::make_shared<std::atomic<int>>(0);
    fetches.mHallRetry.mOutcome = outcome;
    fetches.mHallRetry.mNextAttempt = 0;
    ByteBuffer* buffer = &record.mBuffer;
    std::atomic<float>* progress = &record.mProgress;
    record.mTask = WorkerThread::StartSingleJob(
        [url = fetches.mHallRetry.mUrl, buffer, progress, outcome](WorkerThread& thread)
        {
            // Stopping the thread aborts the transfer through its handle.
            WebHandle handle = CreateWebHandle();
            if (handle)
                SetWebHandleThread(handle, &thread);
            bool ok = false;
            WebDownload(url, buffer, _WEB_NO_TIMEOUT, 0, _WEB_OPEN, handle, String(), progress, &ok);
            if (handle)
                DestroyWebHandle(handle);
            outcome->store(ok ? 1 : -1);
            return false;
        });
}

// A synchronous request with the report and digest time limit; its own buffer, so a transfer running on
// the main record is never disturbed.
bool FetchNow(const String& url, ByteBuffer& buffer)
{
    std::atomic<float> progress{0.0f};
    bool ok = false;
    WebDownload(url, &buffer, _FETCH_SYNC_TIMEOUT_MS, 0, _WEB_OPEN, nullptr, String(), &progress, &ok);
    return ok;
}

void ReplaceAll(String& text, const String& placeholder, const String& value)
{
    if (placeholder.empty())
        return;
    for (std::size_t at = text.find(placeholder); at != String::npos;
         at = text.find(placeholder, at + value.size()))
        text.replace(at, placeholder.size(), value);
}

String Limited(const String& text)
{
    return text.size() > _MAX_MENU_TEXT ? String(text.substr(0, _MAX_MENU_TEXT)) : text;
}

void FillServerCombo(LauncherState& state)
{
    FrameWindow* frame = state.mFrames[_SERVER_SLOT].get();
    SkinBox* box = frame ? frame->FindComboBox(0) : nullptr;
    if (!box || !box->mControl)
        return;
    Ui::ComboClear(box->mControl);
    int selected = 0;
    for (std::size_t i = 0; i < state.mServerNames.size(); ++i)
    {
        Ui::ComboAddItem(box->mControl, state.mServerNames[i]);
        if (state.mServerNames[i] == state.mCurrentServer && selected == 0)
            selected = static_cast<int>(i);
    }
    if (!state.mServerNames.empty())
        Ui::ComboSetSelection(box->mControl, selected);
}

} // namespace

void SendStartReport(LauncherState&, const String& url)
{
    if (url.empty())
        return;
    LogTrace(u"[MC] Report to url %ls", url);
    ByteBuffer answer;
    FetchNow(url, answer);
}

String FetchProgramDigest(LauncherState&, const String& url)
{
    if (url.empty())
        return String();
    LogTrace(u"[MC] Start download mc md5 from %ls", url);
    ByteBuffer answer;
    FetchNow(url, answer);
    answer.push_back(0);
    String text = AnsiToWide(reinterpret_cast<const char*>(answer.data()), _MAX_DIGEST_TEXT);
    // A line end after the digest is not part of it.
    while (!text.empty() &&
           (text.back() == u'\n' || text.back() == u'\r' || text.back() == u' ' || text.back() == u'\t'))
        text.pop_back();
    return text;
}

void StartProgramDownload(FetchRecords& fetches, const String& url, const String& target)
{
    if (url.empty())
        return;
    StartAsync(fetches.mMainFetch, url, _FETCH_PROGRAM, target, String(), u"[MC] Start download mc from %ls");
}

void StartPluginDownload(FetchRecords& fetches, const String& url, const String& fileName)
{
    if (url.empty())
        return;
    if (!fileName.empty() && FileExists(fileName) && !FolderExists(fileName))
    {
        LogTrace(u"[MC] Plugin file exists %ls", fileName);
        return;
    }
    StartAsync(fetches.mMainFetch, url, _FETCH_PLUGIN, fileName, String(),
               u"[MC] Start download plugin from %ls");
}

void StartHallDownload(FetchRecords& fetches, const String& url, const String& fileName)
{
    if (url.empty())
        return;
    if (!fileName.empty() && FileExists(fileName))
        DeleteFile(fileName);
    fetches.mHallFetch.mKind = _FETCH_NONE;
    fetches.mHallFetch.mTargetPath = fileName;
    fetches.mHallRetry = HallRetry();
    fetches.mHallRetry.mUrl = url;
    LogTrace(u"[MC] Start download hall from %ls", url);
    StartHallAttempt(fetches);
}

_qword HallRetryPause(int failures)
{
    _qword pause = _HALL_FIRST_PAUSE_MS;
    for (int i = 1; i < failures && pause < _HALL_LONGEST_PAUSE_MS; ++i)
        pause *= 2;
    return pause < _HALL_LONGEST_PAUSE_MS ? pause : _HALL_LONGEST_PAUSE_MS;
}

bool PollHallDownload(FetchRecords& fetches)
{
    FetchRecord& record = fetches.mHallFetch;
    HallRetry& retry = fetches.mHallRetry;
    if (!record.mTask)
    {
        if (retry.mNextAttempt != 0 && Now(fetches) >= retry.mNextAttempt)
        {
            LogTrace(u"[MC] Start download hall from %ls, try %d", retry.mUrl, retry.mFailures + 1);
            StartHallAttempt(fetches);
        }
        return false;
    }
    const int outcome = retry.mOutcome ? retry.mOutcome->load() : 0;
    const bool done = record.mProgress.load() >= 1.0f;
    if (!done && outcome == 0)
        return false;
    // The worker is stopped (and joined) before its buffer is read.
    ResetRecord(record);
    retry.mOutcome.reset();
    if (done || outcome > 0)
    {
        if (!record.mTargetPath.empty())
        {
            SaveFetched(record.mBuffer, record.mTargetPath, false);
            SetExecutable(record.mTargetPath); // it is started next
        }
        return true;
    }
    ++retry.mFailures;
    if (retry.mFailures >= _HALL_ATTEMPTS)
    {
        retry.mGivenUp = true;
        LogTrace(u"[MC] Hall download from %ls failed %d times; no more tries until the next start",
                 retry.mUrl, retry.mFailures);
        return false;
    }
    const _qword pause = HallRetryPause(retry.mFailures);
    const _qword now = Now(fetches);
    retry.mNextAttempt = (now != 0 ? now : 1) + pause;
    LogTrace(u"[MC] Hall download from %ls failed; next try in %d ms", retry.mUrl, static_cast<int>(pause));
    return false;
}

void StartServerInfoRequest(FetchRecords& fetches, const String& tmpl, const String& key1, const String& key2,
                            const String& pageUrl, const String& key3)
{
    if (tmpl.empty())
        return;
    // Whatever the main record was doing ends here, before the cookie store is asked.
    ResetRecord(fetches.mMainFetch);
    fetches.mMainFetch.mKind = _FETCH_SERVER_INFO;
    String cookie = GetCookies(tmpl);
    String url = tmpl;
    if (!key1.empty())
    {
        String value = ExtractParameter(pageUrl, key1, key2);
        if (!key3.empty() && !value.empty() && value[0] != u'S')
            value.insert(0, u"S");
        ReplaceAll(url, u"{" + key1 + u"}", value);
    }
    if (!key3.empty())
        ReplaceAll(url, u"{" + key3 + u"}", ExtractParameter(pageUrl, key3, String()));
    const String sign = u"{sign}";
    if (url.find(sign) != String::npos)
    {
        std::string bytes = ToUtf8(url);
        ReplaceAll(url, sign, Md5ToText(Md5Of(bytes.data(), bytes.size())));
    }
    LogTrace(u"[MC] Start download server info from %ls", url);
    StartAsync(fetches.mMainFetch, url, _FETCH_SERVER_INFO, String(), cookie, nullptr);
}

bool PollFetch(const FetchRecords& fetches, FetchRecord& record)
{
    if (!record.mTask)
        return false;
    const float progress = record.mProgress.load();
    if (progress == 0.0f || progress == 0.5f)
    {
        const _qword now = Now(fetches);
        if (record.mStallStart == 0)
        {
            record.mStallStart = now != 0 ? now : 1;
            return false;
        }
        if (now <= record.mStallStart || now - record.mStallStart <= _FETCH_STALL_MS)
            return false;
        ResetRecord(record);
        LogTrace(u"[MC] Fetch of kind %d abandoned: nothing received for %d ms", record.mKind,
                 _FETCH_STALL_MS);
        return record.mKind == _FETCH_PROGRAM;
    }
    record.mStallStart = 0;
    if (progress < 1.0f)
        return false;
    ResetRecord(record);
    if (record.mKind == _FETCH_PLUGIN || record.mKind == _FETCH_PROGRAM)
    {
        if (!record.mTargetPath.empty())
        {
            SaveFetched(record.mBuffer, record.mTargetPath, true);
            record.mTargetPath.clear();
        }
        return record.mKind == _FETCH_PROGRAM;
    }
    return true;
}

void PollServerData(LauncherState& state)
{
    FetchRecord& record = state.mMainFetch;
    // A program download on this record belongs to the upgrade check, which polls it itself.
    if (record.mKind != _FETCH_PLUGIN && record.mKind != _FETCH_SERVER_INFO)
        return;
    if (!PollFetch(state, record) || record.mKind != _FETCH_SERVER_INFO)
        return;
    ByteBuffer bytes = std::move(record.mBuffer);
    record.mBuffer.clear();
    record.mKind = _FETCH_NONE;
    ApplyServerData(state, bytes);
}

bool ApplyServerData(LauncherState& state, const std::vector<_byte>& bytes)
{
    LogTrace(u"[MC] Server data done");
    ServerDataFields fields =
        MakeServerDataFields(state.mInfoServer[3], state.mInfoServer[4], state.mUserMenuTexts[0],
                             state.mImMenuTexts[0], state.mImMenuTexts[1]);
    ServerData data;
    if (!ReadServerData(bytes, fields, data, _MAX_SERVER_DATA))
        return false;

    if (data.mHasCurrent)
        state.mCurrentServer = data.mCurrent;
    // Each pass asks again: a new list replaces the old one rather than adding to it.
    if (!data.mNames.empty())
    {
        state.mServerNames = std::move(data.mNames);
        state.mServerIds = std::move(data.mIds);
        state.mServerUrls = std::move(data.mUrls);
    }
    else if (data.mHasList)
        LogTrace(u"[MC] Server data holds no usable server; keeping %d", state.mServerNames.size());
    state.mImUrl = data.mImUrl;
    state.mImTitle = data.mImTitle;
    LogTrace(u"[MC] Servers: %d, current %ls", state.mServerNames.size(), state.mCurrentServer);

    if (GameFrame* frame = state.mGameFrame.get())
    {
        if (!state.mServerNames.empty() || !state.mCurrentServer.empty())
            frame->UpdateMenuEntry(_CMD_DROPDOWN, String(), Limited(state.mCurrentServer), 255);
        if (data.mHasUser || fields.mUser.empty())
            frame->UpdateMenuEntry(_CMD_USER, String(), Limited(data.mUser), 255);
        if (data.mHasIm)
            frame->UpdateMenuEntry(_CMD_IM, state.mImUrl, Limited(state.mImTitle), 255);
        frame->Repaint();
    }
    FillServerCombo(state);
    StartPluginDownload(state, state.mPluginUrl, _PLUGIN_FILE);
    return true;
}

void CancelMainFetch(FetchRecords& fetches)
{
    ResetRecord(fetches.mMainFetch);
}

String ExtractParameter(const String& text, const String& name, const String& secondName)
{
    for (const String* key : {&name, &secondName})
    {
        if (key->empty())
            continue;
        // The name must not be the tail of a longer one ("uid" is not read out of "userid=7").
        Regex pattern(u"(?<!\\w)" + Regex::Escape(*key) + u"=\\w+");
        String match = pattern.FindText(text);
        if (!match.empty())
            return match.substr(key->size() + 1);
    }
    return String();
}

String GetCookies(const String& url)
{
    // The host: the first part between "/" and "?" that is not the scheme.
    String host;
    std::size_t begin = 0;
    for (std::size_t i = 0; i <= url.size() && host.empty(); ++i)
    {
        if (i < url.size() && url[i] != u'/' && url[i] != u'?')
            continue;
        String part = url.substr(begin, i - begin);
        begin = i + 1;
        while (!part.empty() && (part.front() == u' ' || part.front() == u'\t'))
            part.erase(0, 1);
        while (!part.empty() && (part.back() == u' ' || part.back() == u'\t'))
            part.pop_back();
        if (part.empty() || (StartsWith(part, u"http") && part.back() == u':'))
            continue;
        host = part;
    }
    String cookies;
    if (!host.empty())
        cookies = Ui::WebGetCookies((StartsWith(url, u"https:") ? u"https://" : u"http://") + host + u"/");
    LogTrace(u"[MC] Got cookie of %ls: %ls", url, cookies);
    return cookies;
}

} // namespace Vexel
