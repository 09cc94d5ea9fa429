// Downloaders: one source address, a queue of requests and one worker thread that works the queue,
// handing every block of data to a data handler and asking an idle handler for work when the queue runs
// dry. WebDownloader and CopyDownloader are the two transports.
#pragma once

#include "Common/String.h"
#include "Storage/WorkerThread.h"

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace Vexel
{

class IDownloader;

// HTTP statuses from here on are the source's refusal (client and server errors).
constexpr int _HTTP_ERROR_FIRST = 400;

// Sizes and offsets of the resource space; all bits set means unknown.
constexpr _dword _DOWNLOAD_UNKNOWN = 0xFFFFFFFF;

// One queued request: a byte range of the resource space (name empty) or a file by name.
struct DownloadItem
{
    String name;
    String cookie;
    void* task = nullptr;
    _dword begin = _DOWNLOAD_UNKNOWN;
    _dword end = _DOWNLOAD_UNKNOWN; // exclusive
    _dword received = 0;            // bytes delivered by the current attempt
    // Why the current attempt failed, when the transport knows: the source's HTTP status (0 when it gave
    // no answer) and the URL that answered (the last one when redirected).
    int status = 0;
    String url;
};

// Called on the worker thread when its queue is empty; normally queues more items.
using DownloadIdleHandler = std::function<void(IDownloader& downloader)>;
// Called on the worker thread for every block: offset is in the resource space for range items and
// within the file for items by name.
using DownloadDataHandler =
    std::function<void(IDownloader& downloader, void* task, const _byte* data, _dword size, _dword offset)>;
// Called on the worker thread when an item by name could not be fetched (its task gets no data), and when
// the source refused a byte range with an HTTP error (the range is asked again all the same).
using DownloadFailHandler = std::function<void(IDownloader& downloader, const DownloadItem& item)>;

class IDownloader
{
public:
    virtual String GetAddress() const = 0;
    virtual void SetIdleHandler(DownloadIdleHandler handler) = 0;
    virtual void SetDataHandler(DownloadDataHandler handler) = 0;
    virtual void DownloadRange(void* task, _dword begin, _dword end) = 0;
    virtual void DownloadFile(void* task, const String& name, const String& cookie) = 0;
    virtual ~IDownloader() = default;
};

class Downloader : public IDownloader
{
public:
    // lock guards the queue and the handlers; the creator owns it and may hold it while it queues.
    // Without one the downloader uses its own.
    Downloader(std::recursive_mutex* lock, const String& address, _dword id);
    ~Downloader() override;

    String GetAddress() const override;
    void SetIdleHandler(DownloadIdleHandler handler) override;
    void SetDataHandler(DownloadDataHandler handler) override;
    void DownloadRange(void* task, _dword begin, _dword end) override;
    void DownloadFile(void* task, const String& name, const String& cookie) override;

    // Counts the bytes on the item and passes them to the data handler.
    virtual void OnData(DownloadItem& item, const _byte* data, _dword size, _dword offset);
    // One attempt for the item; true on success.
    virtual bool Fetch(DownloadItem& item) = 0;

    void SetFailHandler(DownloadFailHandler handler);
    _dword GetId() const noexcept { return mId; }
    bool IsPaused() const noexcept { return mPaused.load(); }
    // A pause holds from the next time the shared lock is free: no idle call asks for work after it.
    void SetPaused(bool paused);
    // Ends the worker's wait for work (more may be available through the idle handler).
    void Wake() { mThread.Wake(); }
    // A copy of the queue, front first.
    std::vector<DownloadItem> GetQueue() const;
    bool IsWorkerStopping() const noexcept { return mThread.IsStopping(); }

protected:
    // Derived constructors start the worker when they are complete, so it never calls into a part
    // that is not built yet; their destructors stop it before they take their own parts down.
    void StartWorker();
    void StopWorker();
    WorkerThread& Worker() noexcept { return mThread; }

    std::recursive_mutex* mLock;
    String mAddress;

private:
    bool RunJob(WorkerThread& thread);
    void CallFailHandler(const DownloadItem& item);
    void Queue(std::unique_ptr<DownloadItem> item);

    std::recursive_mutex mOwnLock;
    DownloadIdleHandler mIdleHandler;
    DownloadDataHandler mDataHandler;
    DownloadFailHandler mFailHandler;
    const _dword mId;
    std::atomic<bool> mPaused{false};
    int mFailures = 0; // consecutive failed or short attempts, worker only
    WorkerThread mThread;
    std::deque<std::unique_ptr<DownloadItem>> mItems;
};

// Reads "?<decimal>" at the end of an address: cuts it off and returns the number, or _DOWNLOAD_UNKNOWN
// when the address has no "?".
_dword CutBaseOffset(String& address);

} // namespace Vexel
