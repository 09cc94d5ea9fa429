// Web transfers: one URL over HTTP(S) into a memory buffer, a file or a data callback, on the calling
// thread with a time limit or on a worker thread of its own that retries every second.
//
// A web handle is a libcurl easy handle with the program's data attached: extra request headers, the
// owning worker thread (whose stop aborts the handle's transfers) and a redirect map that remembers where
// each URL moved, so later requests of the same URL go straight to the last target. One handle serves
// one thread at a time.
#pragma once

#include "Common/Compression.h"
#include "Common/String.h"
#include "Storage/WorkerThread.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

namespace Vexel
{

class File;

using WebHandle = void*;

// Range ends and the timeout's special values.
constexpr std::int64_t _WEB_OPEN = -1;
constexpr int _WEB_ASYNC = 0;
constexpr int _WEB_NO_TIMEOUT = -1;
// Redirects followed for one URL on one handle.
constexpr std::size_t _MAX_REDIRECTS = 8;
// The most a memory transfer keeps unless its caller says otherwise. The largest files fetched whole
// into memory (loader modules, resource files of a few MiB, packages' lists) are far below it, and a
// 32-bit process cannot count on one free region of address space much larger.
constexpr std::size_t _WEB_BODY_LIMIT = std::size_t(256) << 20;

// Called for each block of a streamed transfer with the bytes received before it in this attempt.
using WebDataCallback = std::function<void(const _byte* data, std::size_t size, _qword received)>;

// Output that may end a transfer early: it takes what it wants of the bytes and returns how many; fewer
// than offered ends the transfer as complete.
using WebSink = std::function<std::size_t(const _byte* data, std::size_t size)>;

// Milliseconds from any fixed origin; the stall rule reads it.
using WebClock = std::function<std::int64_t()>;
// An attempt that brings fewer than one byte per second over this window fails.
constexpr int _WEB_STALL_WINDOW_MS = 10000;
struct WebStallRule
{
    int window = _WEB_STALL_WINDOW_MS;
    WebClock clock; // empty: the system's steady clock
};

// Null when libcurl gives no handle.
WebHandle CreateWebHandle();
// Adds a request header line ("Name: value"); empty lines are ignored.
void AppendWebHandleHeader(WebHandle handle, const String& header);
// Transfers on the handle are aborted when this thread is stopping.
void SetWebHandleThread(WebHandle handle, WorkerThread* thread);
// The stall rule of the handle's transfers (tests give their own clock).
void SetWebHandleStallRule(WebHandle handle, WebStallRule rule);
void DestroyWebHandle(WebHandle handle);

// A transfer's byte counts for people watching it: the resource's bytes received so far (earlier attempts
// included) and its whole length (-1 while the server has not said).
struct WebCounts
{
    std::atomic<std::int64_t> received{0};
    std::atomic<std::int64_t> total{-1};
    // A request for the rest of a resource (WebDownloadRest) got the whole resource or a range of a
    // resource of another length: the server cannot continue those bytes.
    std::atomic<bool> refused{false};
    // The body did not fit the memory output's limit; total then holds its length when the reply told it.
    std::atomic<bool> overLimit{false};
};

// One transfer with its output and the state kept across its attempts.
struct WebRequest
{
    String url;
    File* file = nullptr;
    ByteBuffer* buffer = nullptr;
    String cookie;
    WebDataCallback callback;
    WebSink sink;
    WorkerThread* thread = nullptr;
    // Set by another thread to end the transfer as failed (for requests run without a worker thread).
    const std::atomic<bool>* abort = nullptr;
    int timeout = _WEB_NO_TIMEOUT;
    std::atomic<float>* progress = nullptr;
    WebCounts* counts = nullptr;
    // The length of the whole resource the range must come from; a reply that is the whole resource or a
    // range of another length is refused instead of trimmed (-1: any reply is trimmed to the range).
    std::int64_t wholeLength = _WEB_OPEN;
    // Bytes obtained by earlier attempts (the resume point of buffer and file output).
    _qword already = 0;
    // Bytes delivered by the current attempt.
    _qword received = 0;
    // Byte range, end exclusive.
    std::int64_t begin = 0;
    std::int64_t end = _WEB_OPEN;
    WebHandle handle = nullptr;
    // Memory output holds at most this many bytes, earlier attempts included; a body that does not fit
    // fails the transfer for good.
    std::size_t limit = _WEB_BODY_LIMIT;
    // Taken from the handle.
    WebStallRule stall;
    // Memory output of the current attempt, joined onto the buffer when the attempt ends.
    ByteBuffer pending;

    // Checks of the current attempt's reply.
    struct Reply
    {
        std::int64_t askedStart = _WEB_OPEN; // a byte range was asked from here
        std::int64_t askedLength = _WEB_OPEN;
        std::int64_t rangeStart = _WEB_OPEN; // from the reply's Content-Range
        std::int64_t rangeTotal = _WEB_OPEN; // the whole length it names, when it names one
        bool checked = false;
        bool payload = false; // the body is the resource (not an error page or a redirect notice)
        _qword skip = 0;      // bytes to drop at the front (a range the server ignored)
        std::int64_t expected = _WEB_OPEN; // bytes of the resource the reply announces
        bool rejected = false;
        bool complete = false; // everything asked for arrived; anything more was cut off
        bool aborted = false;
        std::int64_t stallMark = 0; // when the current stall window began
        _qword stallBytes = 0;      // bytes that had arrived then
        bool stalled = false;
        bool overLimit = false;     // the body does not fit the memory limit
        bool handlerFailed = false; // the output threw (no memory, or the caller's callback)
        bool outOfMemory = false;
    } reply;
};

// Runs one request (following redirects) and returns true on success: the transfer completed with an
// HTTP code below 300 (or 600 and above). Error pages and redirect notices are never delivered as data.
bool PerformWebRequest(WebRequest& request);

// timeout > 0 (milliseconds) or _WEB_NO_TIMEOUT: runs on the calling thread and returns null; result,
// when given, receives the outcome. _WEB_ASYNC: runs on a worker thread of its own, retrying every second
// until it succeeds or the thread is stopped, and returns that thread (the caller polls the progress or
// IsIdle and stops it; buffer and progress must outlive it). The progress is set to 0.0 first, to a
// fraction below 1.0 while data arrives, then 1.0 on success or 0.0 on an HTTP error. A given buffer is
// cleared first. A body larger than limit bytes fails at once (no retry), leaving the buffer empty.
std::unique_ptr<WorkerThread> WebDownload(const String& url, ByteBuffer* buffer, int timeout,
                                          std::int64_t begin, std::int64_t end, WebHandle handle,
                                          const String& cookie, std::atomic<float>* progress,
                                          bool* result = nullptr, std::size_t limit = _WEB_BODY_LIMIT,
                                          WebCounts* counts = nullptr);
std::unique_ptr<WorkerThread> WebDownloadStream(const String& url, WebDataCallback callback, int timeout,
                                                std::int64_t begin, std::int64_t end, WebHandle handle,
                                                const String& cookie, std::atomic<float>* progress,
                                                bool* result = nullptr);
// The bytes of a resource from begin to its end (wholeLength, known from an earlier reply, perhaps of
// another server) into buffer, on a worker thread of its own as WebDownload does. Only a 206 reply of a
// resource of wholeLength is taken: anything else sets counts->refused and keeps nothing, so that bytes of
// two different files are never joined.
std::unique_ptr<WorkerThread> WebDownloadRest(const String& url, ByteBuffer* buffer, std::int64_t begin,
                                              std::int64_t wholeLength, WebHandle handle,
                                              std::atomic<float>* progress, WebCounts* counts);
// Writes to an open file from its current position; retries resume after what the file already holds.
std::unique_ptr<WorkerThread> WebDownloadFile(const String& url, File* file, int timeout, std::int64_t begin,
                                              std::int64_t end, WebHandle handle, const String& cookie,
                                              std::atomic<float>* progress, bool* result = nullptr);

} // namespace Vexel
