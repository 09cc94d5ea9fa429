#include "Storage/Download/WebTransfer.h"

#include "Common/Log.h"
#include "Common/StringEncoding.h"
#include "Platform/File.h"
#include "Platform/System.h"
#include "Storage/Download/ContentRange.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <list>
#include <mutex>
#include <new>
#include <optional>
#include <vector>

namespace Vexel
{

namespace
{

constexpr _dword _MAX_URL_BYTES = 4096;
constexpr _dword _MAX_HEADER_BYTES = 1024;
constexpr int _RETRY_MS = 1000;
constexpr long _CONNECT_TIMEOUT_MS = 5000;
// Larger receive blocks than libcurl's default: fewer callbacks on fast links.
constexpr long _RECEIVE_BUFFER = 256 * 1024;
constexpr int _ABORT_CODE = 42;

struct RedirectEntry
{
    String url;
    std::vector<String> targets;
};

struct WebHandleData
{
    std::list<RedirectEntry> redirects;
    curl_slist* headers = nullptr;
    bool headersInstalled = false;
    WorkerThread* thread = nullptr;
    WebStallRule stall;
};

void InitializeCurl()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

WebHandleData* GetData(WebHandle handle)
{
    char* data = nullptr;
    if (handle == nullptr || curl_easy_getinfo(handle, CURLINFO_PRIVATE, &data) != CURLE_OK)
        return nullptr;
    return reinterpret_cast<WebHandleData*>(data);
}

WebHandleData* EnsureData(WebHandle handle)
{
    WebHandleData* data = GetData(handle);
    if (data == nullptr)
    {
        data = new WebHandleData;
        curl_easy_setopt(handle, CURLOPT_PRIVATE, data);
    }
    return data;
}

std::string Utf8Limited(const String& text, _dword limit)
{
    std::string bytes = ToUtf8(text);
    if (bytes.size() > limit)
        bytes.resize(limit);
    return bytes;
}

long ResponseCode(CURL* curl)
{
    long code = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    return code;
}

bool IsHttpError(long code)
{
    return code >= 400 && code <= 599;
}

bool IsRedirect(long code)
{
    return code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
}

// libcurl is C code: an exception must not unwind through it. A handler that throws ends the transfer
// with the failure value instead, and the attempt reports it once libcurl has returned.
template <typename Result, typename Body>
Result Guarded(WebRequest& request, Result failure, Body body) noexcept
{
    try
    {
        return body();
    }
    catch (const std::bad_alloc&)
    {
        request.reply.outOfMemory = true;
    }
    catch (...)
    {
    }
    request.reply.handlerFailed = true;
    return failure;
}

std::size_t HeaderFunction(char* data, std::size_t size, std::size_t count, void* user)
{
    auto* request = static_cast<WebRequest*>(user);
    const std::size_t n = size * count;
    if (n >= 5 && std::strncmp(data, "HTTP/", 5) == 0)
    {
        // A new response begins.
        request->reply.rangeStart = _WEB_OPEN;
        request->reply.rangeTotal = _WEB_OPEN;
    }
    else if (std::optional<ContentRange> range = ParseContentRangeLine(data, n))
    {
        request->reply.rangeStart = range->first;
        request->reply.rangeTotal = range->total;
    }
    return n;
}

// Decides once per attempt, at the first body bytes, what of the body is the resource.
bool CheckReply(WebRequest& request)
{
    WebRequest::Reply& reply = request.reply;
    reply.checked = true;
    const long code = ResponseCode(request.handle);
    reply.payload = !(code >= 300 && code <= 599);
    if (!reply.payload || reply.askedStart == _WEB_OPEN)
        return true;
    std::optional<ContentRange> range;
    if (reply.rangeStart != _WEB_OPEN)
        range = ContentRange{reply.rangeStart, reply.rangeStart, reply.rangeTotal};
    switch (JudgeRangeAnswer(code, range, reply.askedStart, request.wholeLength))
    {
    case RangeAnswer::Refused:
        LogTrace(u"[WS] Range of a resource of %I64d bytes asked, the reply is %ls : %ls",
                 request.wholeLength,
                 code == 206 ? FormatString(u"a range of %I64d bytes", reply.rangeTotal)
                             : FormatString(u"HTTP %d", static_cast<int>(code)),
                 request.url);
        reply.rejected = true;
        if (request.counts != nullptr)
            request.counts->refused.store(true);
        return false;
    case RangeAnswer::Rejected:
        LogTrace(u"[WS] Range reply starts at %I64d, asked %I64d : %ls", reply.rangeStart, reply.askedStart,
                 request.url);
        reply.rejected = true;
        return false;
    case RangeAnswer::SkipFront:
        // The server ignored the range and sends the whole resource: keep only what was asked.
        reply.skip = static_cast<_qword>(reply.askedStart);
        break;
    case RangeAnswer::Payload:
        break;
    }
    return true;
}

// Bytes of the resource the reply announces it will deliver (after any skipped front, within the range
// asked); -1 when it announces no length.
std::int64_t AnnouncedPayload(const WebRequest& request)
{
    curl_off_t announced = -1;
    curl_easy_getinfo(request.handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    if (announced < 0)
        return _WEB_OPEN;
    const WebRequest::Reply& reply = request.reply;
    std::int64_t payload = static_cast<std::int64_t>(announced);
    payload =
        payload > static_cast<std::int64_t>(reply.skip) ? payload - static_cast<std::int64_t>(reply.skip) : 0;
    if (reply.askedLength != _WEB_OPEN)
        payload = std::min(payload, reply.askedLength);
    return payload;
}

// Appends to the memory output within the request's limit. The first block sizes the buffer once from the
// announced length (never past the limit, so a lying length costs at most that much address space, and
// the pages are only touched as data arrives); later growth stays within the limit too.
bool KeepInMemory(WebRequest& request, const _byte* bytes, std::size_t length)
{
    ByteBuffer& pending = request.pending;
    const _qword room = request.limit > request.already ? request.limit - request.already : 0;
    if (pending.empty() && pending.capacity() == 0)
    {
        const std::int64_t announced = request.reply.expected;
        if (announced != _WEB_OPEN && static_cast<_qword>(announced) > room)
        {
            request.reply.overLimit = true;
            return false;
        }
        if (announced > 0)
        {
            pending.reserve(static_cast<std::size_t>(announced));
            PrepareBufferForFill(pending.data(), pending.capacity());
        }
    }
    if (pending.size() + length > room)
    {
        request.reply.overLimit = true;
        return false;
    }
    if (pending.size() + length > pending.capacity())
    {
        // Growth past the announced length (or without one): doubling, but never past the limit.
        const std::size_t wanted = std::max(pending.size() + length, pending.capacity() * 2);
        pending.reserve(static_cast<std::size_t>(std::min<_qword>(wanted, room)));
        PrepareBufferForFill(pending.data() + pending.size(), pending.capacity() - pending.size());
    }
    pending.insert(pending.end(), bytes, bytes + length);
    return true;
}

std::size_t WriteData(WebRequest* request, char* data, std::size_t n)
{
    WebRequest::Reply& reply = request->reply;
    if (request->abort != nullptr && request->abort->load())
    {
        reply.aborted = true;
        return 0;
    }
    if (!reply.checked)
    {
        if (!CheckReply(*request))
            return 0;
        reply.expected = AnnouncedPayload(*request);
    }
    if (!reply.payload)
        return n;

    const _byte* bytes = reinterpret_cast<const _byte*>(data);
    std::size_t length = n;
    if (reply.skip > 0)
    {
        std::size_t cut = static_cast<std::size_t>(std::min<_qword>(reply.skip, length));
        reply.skip -= cut;
        bytes += cut;
        length -= cut;
    }
    if (reply.askedLength != _WEB_OPEN)
    {
        _qword left = static_cast<_qword>(reply.askedLength) -
                      std::min<_qword>(request->received, static_cast<_qword>(reply.askedLength));
        if (left == 0 && length > 0)
        {
            // More than the range: what was asked is complete; stop the transfer here.
            reply.complete = true;
            return 0;
        }
        length = static_cast<std::size_t>(std::min<_qword>(left, length));
    }
    if (length == 0)
        return n;

    if (request->file != nullptr)
    {
        if (!request->file->Write(bytes, static_cast<_dword>(length)))
            return 0;
        request->received += length;
    }
    else if (request->buffer != nullptr)
    {
        if (!KeepInMemory(*request, bytes, length))
            return 0;
        request->received += length;
    }
    else if (request->callback)
    {
        request->callback(bytes, length, request->received);
        request->received += length;
    }
    else if (request->sink)
    {
        const std::size_t taken = std::min(request->sink(bytes, length), length);
        request->received += taken;
        if (taken < length)
        {
            // The caller has what it needs: the attempt is complete, whatever else the server sends.
            reply.complete = true;
            return 0;
        }
    }
    return n;
}

std::size_t WriteFunction(char* data, std::size_t size, std::size_t count, void* user)
{
    auto* request = static_cast<WebRequest*>(user);
    return Guarded<std::size_t>(*request, 0, [&] { return WriteData(request, data, size * count); });
}

void StoreProgress(std::atomic<float>* progress, float value)
{
    if (progress != nullptr)
        progress->exchange(value);
}

std::int64_t StallClockNow(const WebStallRule& rule)
{
    if (rule.clock)
        return rule.clock();
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void StartStallWindow(WebRequest& request, _qword bytes)
{
    request.reply.stallMark = StallClockNow(request.stall);
    request.reply.stallBytes = bytes;
}

// True when the attempt has brought fewer than one byte per second over a whole window. Every window's
// worth of bytes starts a new window.
bool IsStalled(WebRequest& request, _qword bytes)
{
    WebRequest::Reply& reply = request.reply;
    const std::int64_t now = StallClockNow(request.stall);
    const _qword needed = static_cast<_qword>(std::max(request.stall.window / 1000, 1));
    if (bytes - std::min(bytes, reply.stallBytes) >= needed)
    {
        reply.stallMark = now;
        reply.stallBytes = bytes;
        return false;
    }
    return now - reply.stallMark >= request.stall.window;
}

int CheckProgress(WebRequest* request, curl_off_t total, curl_off_t now)
{
    if (IsStalled(*request, static_cast<_qword>(std::max<curl_off_t>(now, 0))))
    {
        request->reply.stalled = true;
        return _ABORT_CODE;
    }
    // An error page or a redirect's body is not the resource: it moves no progress, so callers that
    // watch progress for silence treat a failing source like a silent one.
    if (total != 0 && request->progress != nullptr && !(request->reply.checked && !request->reply.payload))
    {
        double fraction = static_cast<double>(now + static_cast<curl_off_t>(request->already)) /
                          static_cast<double>(total + static_cast<curl_off_t>(request->already));
        StoreProgress(request->progress, static_cast<float>(std::min(fraction, 0.9999)));
    }
    if (request->counts != nullptr && !(request->reply.checked && !request->reply.payload))
    {
        const auto already = static_cast<std::int64_t>(request->already);
        request->counts->received.store(already + static_cast<std::int64_t>(std::max<curl_off_t>(now, 0)));
        request->counts->total.store(total > 0 ? already + static_cast<std::int64_t>(total) : _WEB_OPEN);
    }
    if ((request->thread != nullptr && request->thread->IsStopping()) ||
        (request->abort != nullptr && request->abort->load()))
    {
        if (!request->reply.aborted)
            LogTrace(u"[WS] Web download aborted at thread 0x%p",
                     request->thread != nullptr ? request->thread->GetHandle() : nullptr);
        request->reply.aborted = true;
        return _ABORT_CODE;
    }
    return 0;
}

int ProgressFunction(void* user, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t)
{
    auto* request = static_cast<WebRequest*>(user);
    return Guarded(*request, _ABORT_CODE, [&] { return CheckProgress(request, total, now); });
}

// Records where the request's URL moved. False when there is no target or the URL moved too often.
bool FollowRedirect(WebRequest& request, CURL* curl)
{
    char* location = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &location) != CURLE_OK || location == nullptr ||
        *location == '\0')
        return false;
    WebHandleData* data = EnsureData(curl);
    String target = Utf8ToWide(location, _MAX_URL_BYTES);
    auto entry = std::find_if(data->redirects.begin(), data->redirects.end(),
                              [&](const RedirectEntry& e) { return e.url == request.url; });
    if (entry == data->redirects.end())
        data->redirects.push_back({request.url, {std::move(target)}});
    else if (entry->targets.size() >= _MAX_REDIRECTS)
        return false;
    else
        entry->targets.push_back(std::move(target));
    request.pending.clear();
    request.handle = curl;
    return true;
}

String AddressText(CURL* curl, CURLINFO ipInfo, CURLINFO portInfo)
{
    char* ip = nullptr;
    long port = 0;
    if (curl_easy_getinfo(curl, ipInfo, &ip) != CURLE_OK || ip == nullptr || *ip == '\0' ||
        curl_easy_getinfo(curl, portInfo, &port) != CURLE_OK || port <= 0)
        return u"NA";
    return FormatString(u"%ls:%d", FromUtf8(ip), port);
}

// Joins the attempt's memory output onto the buffer, in arrival order.
void JoinPending(WebRequest& request)
{
    ByteBuffer& buffer = *request.buffer;
    if (buffer.empty())
        buffer.swap(request.pending);
    else
    {
        try
        {
            buffer.reserve(buffer.size() + request.pending.size());
            buffer.insert(buffer.end(), request.pending.begin(), request.pending.end());
        }
        catch (const std::bad_alloc&)
        {
            // What this attempt brought is dropped; a retry asks for it again.
            request.reply.outOfMemory = request.reply.handlerFailed = true;
        }
    }
    ByteBuffer().swap(request.pending);
    request.already = buffer.size();
}

// One request on its handle, the attempts after redirects included.
bool PerformAttempts(WebRequest& request)
{
    CURL* curl = request.handle;
    for (;;)
    {
        WebHandleData* data = EnsureData(curl);
        if (data->headers != nullptr && !data->headersInstalled)
        {
            curl_easy_setopt(curl, CURLOPT_HTTPHEADER, data->headers);
            data->headersInstalled = true;
        }

        String url = request.url;
        for (const RedirectEntry& entry : data->redirects)
            if (entry.url == request.url && !entry.targets.empty())
                url = entry.targets.back();
        if (request.thread == nullptr)
            request.thread = data->thread;

        std::string urlBytes = Utf8Limited(url, _MAX_URL_BYTES);
        curl_easy_setopt(curl, CURLOPT_URL, urlBytes.c_str());
        std::string cookieBytes = Utf8Limited(request.cookie, _MAX_URL_BYTES);
        // A handle keeps its options between requests: clear what this request does not set.
        curl_easy_setopt(curl, CURLOPT_COOKIE, request.cookie.empty() ? nullptr : cookieBytes.c_str());

        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &request);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteFunction);
        curl_easy_setopt(curl, CURLOPT_HEADERDATA, &request);
        curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, HeaderFunction);

        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        // The progress function runs for every transfer: it applies the stall rule, whose clock is ours
        // (libcurl's own low-speed rule reads a clock nobody can set).
        request.stall = data->stall;
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &request);
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, ProgressFunction);

        request.received = 0;
        request.reply = WebRequest::Reply();
        curl_easy_setopt(curl, CURLOPT_RANGE, nullptr);
        curl_easy_setopt(curl, CURLOPT_RESUME_FROM_LARGE, curl_off_t(0));
        std::string range;
        if (request.begin != _WEB_OPEN)
        {
            const std::int64_t start = request.begin + static_cast<std::int64_t>(request.already);
            const std::int64_t end = request.end;
            if (end != _WEB_OPEN && end > start)
            {
                range = std::to_string(start) + "-" + std::to_string(end - 1);
                curl_easy_setopt(curl, CURLOPT_RANGE, range.c_str());
                request.reply.askedStart = start;
                request.reply.askedLength = end - start;
            }
            else if (start != 0 && end == _WEB_OPEN)
                curl_easy_setopt(curl, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(start));
        }

        curl_easy_setopt(curl, CURLOPT_TIMEOUT,
                         request.timeout != _WEB_ASYNC && request.timeout != _WEB_NO_TIMEOUT
                             ? std::max(request.timeout / 1000, 1)
                             : 0L);

        StartStallWindow(request, 0);
        CURLcode result = curl_easy_perform(curl);
        if (result == CURLE_WRITE_ERROR && request.reply.complete)
            result = CURLE_OK;
        const long code = ResponseCode(curl);

        bool redirected = false;
        if (result == CURLE_OK && IsRedirect(code))
        {
            if (FollowRedirect(request, curl))
            {
                redirected = true;
            }
            else
                LogTrace(u"[WS] Redirect not followed (%d) : %ls", code, url);
        }
        if (redirected)
            continue;

        WebRequest::Reply& reply = request.reply;
        if (request.buffer != nullptr)
            JoinPending(request);
        else if (request.file != nullptr)
            request.already = request.file->GetSize();

        if (reply.overLimit)
        {
            // Nothing of a body that does not fit is kept.
            LogTrace(u"[WS] Web download exceeds the limit of %I64d bytes : %ls",
                     static_cast<std::int64_t>(request.limit), url);
            if (request.buffer != nullptr)
                ByteBuffer().swap(*request.buffer);
            if (request.counts != nullptr)
            {
                // The caller may fetch it another way: the length the reply told (the progress callback
                // may not have run before the first block ended the transfer).
                if (reply.expected != _WEB_OPEN && request.begin == 0)
                    request.counts->total.store(static_cast<std::int64_t>(request.already) + reply.expected);
                request.counts->overLimit.store(true);
            }
            request.already = 0;
            StoreProgress(request.progress, 0.0f);
        }
        else if (reply.stalled)
            LogTrace(u"[WS] Web download stalled, under 1 byte per second for %d ms : %ls",
                     request.stall.window, url);
        else if (reply.outOfMemory)
            LogTrace(u"[WS] Web download out of memory : %ls", url);
        else if (reply.handlerFailed)
            LogTrace(u"[WS] Web download data handler failed : %ls", url);

        const bool ok = result == CURLE_OK && !IsHttpError(code) && !IsRedirect(code) && !reply.rejected &&
                        !reply.overLimit && !reply.handlerFailed;
        if (result == CURLE_OK)
            StoreProgress(request.progress, ok ? 1.0f : 0.0f);
        return ok;
    }
}

} // namespace

WebHandle CreateWebHandle()
{
    InitializeCurl();
    CURL* curl = curl_easy_init();
    if (curl == nullptr)
        return nullptr;
    auto* data = new WebHandleData;
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, _CONNECT_TIMEOUT_MS);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "libcurl-agent/1.0");
    // Redirects are followed here, through the map; never hand a server's Location to another scheme.
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, _RECEIVE_BUFFER);
    data->headers = curl_slist_append(data->headers, "Accept: */*");
    data->headers = curl_slist_append(data->headers, "Connection: Keep-Alive");
    curl_easy_setopt(curl, CURLOPT_PRIVATE, data);
    return curl;
}

void AppendWebHandleHeader(WebHandle handle, const String& header)
{
    if (handle == nullptr || header.empty())
        return;
    WebHandleData* data = EnsureData(handle);
    data->headers = curl_slist_append(data->headers, Utf8Limited(header, _MAX_HEADER_BYTES).c_str());
    if (data->headersInstalled)
        curl_easy_setopt(handle, CURLOPT_HTTPHEADER, data->headers);
}

void SetWebHandleThread(WebHandle handle, WorkerThread* thread)
{
    if (handle != nullptr)
        EnsureData(handle)->thread = thread;
}

void SetWebHandleStallRule(WebHandle handle, WebStallRule rule)
{
    if (handle != nullptr)
        EnsureData(handle)->stall = std::move(rule);
}

void DestroyWebHandle(WebHandle handle)
{
    if (handle == nullptr)
        return;
    WebHandleData* data = GetData(handle);
    curl_easy_cleanup(handle);
    if (data != nullptr)
    {
        curl_slist_free_all(data->headers);
        delete data;
    }
}

bool PerformWebRequest(WebRequest& request)
{
    bool temporary = false;
    if (request.handle == nullptr)
    {
        request.handle = CreateWebHandle();
        if (request.handle == nullptr)
            return false;
        temporary = true;
    }
    const bool ok = PerformAttempts(request);
    if (temporary)
    {
        CURL* curl = request.handle;
        String local = AddressText(curl, CURLINFO_LOCAL_IP, CURLINFO_LOCAL_PORT);
        String remote = AddressText(curl, CURLINFO_PRIMARY_IP, CURLINFO_PRIMARY_PORT);
        LogTrace(u"[WS] Web download finish : %ls <-> %ls (%d)", local, remote, ResponseCode(curl));
        DestroyWebHandle(curl);
        request.handle = nullptr;
    }
    return ok;
}

namespace
{

std::unique_ptr<WorkerThread> Run(std::unique_ptr<WebRequest> request, bool* result)
{
    StoreProgress(request->progress, 0.0f);
    if (request->buffer != nullptr)
        request->buffer->clear();
    if (request->timeout != _WEB_ASYNC)
    {
        bool ok = PerformWebRequest(*request);
        if (result != nullptr)
            *result = ok;
        return nullptr;
    }
    std::shared_ptr<WebRequest> shared(std::move(request));
    return WorkerThread::StartSingleJob(
        [shared](WorkerThread& thread)
        {
            shared->thread = &thread;
            // A body over the limit would not fit on the next attempt either.
            while (!PerformWebRequest(*shared) && !thread.IsStopping() && !shared->reply.overLimit)
            {
                auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(_RETRY_MS);
                for (auto now = std::chrono::steady_clock::now(); now < until;
                     now = std::chrono::steady_clock::now())
                    if (!thread.Wait(static_cast<int>(
                            std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count() + 1)))
                        break;
                if (thread.IsStopping())
                    break;
            }
            return false;
        });
}

std::unique_ptr<WebRequest> MakeRequest(const String& url, int timeout, std::int64_t begin, std::int64_t end,
                                        WebHandle handle, const String& cookie, std::atomic<float>* progress)
{
    auto request = std::make_unique<WebRequest>();
    request->url = url;
    request->timeout = timeout;
    request->begin = begin;
    request->end = end;
    request->handle = handle;
    request->cookie = cookie;
    request->progress = progress;
    return request;
}

} // namespace

std::unique_ptr<WorkerThread> WebDownload(const String& url, ByteBuffer* buffer, int timeout,
                                          std::int64_t begin, std::int64_t end, WebHandle handle,
                                          const String& cookie, std::atomic<float>* progress, bool* result,
                                          std::size_t limit, WebCounts* counts)
{
    auto request = MakeRequest(url, timeout, begin, end, handle, cookie, progress);
    request->buffer = buffer;
    request->limit = limit;
    request->counts = counts;
    return Run(std::move(request), result);
}

std::unique_ptr<WorkerThread> WebDownloadRest(const String& url, ByteBuffer* buffer, std::int64_t begin,
                                              std::int64_t wholeLength, WebHandle handle,
                                              std::atomic<float>* progress, WebCounts* counts)
{
    auto request = MakeRequest(url, _WEB_ASYNC, begin, wholeLength, handle, String(), progress);
    request->buffer = buffer;
    request->counts = counts;
    request->wholeLength = wholeLength;
    return Run(std::move(request), nullptr);
}

std::unique_ptr<WorkerThread> WebDownloadStream(const String& url, WebDataCallback callback, int timeout,
                                                std::int64_t begin, std::int64_t end, WebHandle handle,
                                                const String& cookie, std::atomic<float>* progress,
                                                bool* result)
{
    auto request = MakeRequest(url, timeout, begin, end, handle, cookie, progress);
    request->callback = std::move(callback);
    return Run(std::move(request), result);
}

std::unique_ptr<WorkerThread> WebDownloadFile(const String& url, File* file, int timeout, std::int64_t begin,
                                              std::int64_t end, WebHandle handle, const String& cookie,
                                              std::atomic<float>* progress, bool* result)
{
    auto request = MakeRequest(url, timeout, begin, end, handle, cookie, progress);
    request->file = file;
    return Run(std::move(request), result);
}

} // namespace Vexel
