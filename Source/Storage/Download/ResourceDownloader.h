// The resource downloader: fills the resource manager with the resources it is missing. The package's
// bytes form one resource space, cut into chunks of 64 KiB; each downloader is asked for one chunk, or a
// run of up to eight fresh chunks of one resource, at a time, chosen by the priority of the tasks that
// want it. A fragment list per chunk records which bytes have arrived, and arrived bytes go to every
// resource that overlaps them. Resources named by URL, and resources the package index does not place,
// are fetched whole by name instead.
//
// One lock guards all of it: task lists, the resource table, chunks, records and every downloader's
// queue. Transfers run outside it on the downloaders' worker threads.
#pragma once

#include "Common/Md5.h"
#include "Common/String.h"
#include "Storage/Download/DownloadRes.h"
#include "Storage/Download/DownloadTask.h"
#include "Storage/Download/Downloader.h"
#include "Storage/Download/WebTransfer.h"

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

namespace Vexel
{

class IResourceManager;
class IResourceManifest;

constexpr _dword _CHUNK_SIZE = 65536;
constexpr std::size_t _SPEED_BUCKETS = 10;

// Called whenever a resource record is asked for.
using DownloadStartHandler = std::function<void(const String& name, IDownloadTask* task)>;
// One resource of the download enumeration.
using DownloadEnumCallback = std::function<void(const String& name, _dword length, _dword finished,
                                                _dword kind, int priority, void* value)>;

class IResourceDownloader
{
public:
    virtual ~IResourceDownloader() = default;
    virtual void SetVerbose(bool verbose) = 0;
    virtual bool IsVerbose() = 0;
    virtual void SetStartHandler(DownloadStartHandler handler) = 0;
    virtual IDownloader* AddCopyDownloader(const String& path) = 0;
    virtual IDownloader* AddWebDownloader(const String& url, WebHandle handle) = 0;
    virtual void RemoveDownloader(IDownloader*& downloader) = 0;
    virtual void RemoveAllDownloaders() = 0;
    virtual _dword GetDownloaderCount() = 0;
    virtual IDownloader* GetDownloader(_dword index) = 0;
    virtual IDownloadTask* CreateTask(int priority, _dword kind) = 0;
    virtual IDownloadTask* CreateLoadTask(int priority, _dword kind, DownloadLoadHandler handler,
                                          void* argument) = 0;
    virtual void DestroyTask(IDownloadTask*& task) = 0;
    virtual void DestroyAllTasks() = 0;
    virtual bool IsPaused() = 0;
    virtual void Pause() = 0;
    virtual void Resume() = 0;
    virtual void StartBackground() = 0;
    virtual void StopBackground() = 0;
    // Kilobytes per second over the last seconds (at most 10).
    virtual float GetSpeed(_dword seconds) = 0;
    virtual _qword GetTotalBytes() = 0;
    virtual void ResetTotalBytes() = 0;
    virtual void EnumerateDownloads(DownloadEnumCallback callback, void* value) = 0;
};

class ResourceDownloader : public IResourceDownloader
{
public:
    // Fragment marks: a span still missing runs from an opening fragment to the closing one after it.
    static constexpr int _SPAN_OPEN = 0;
    static constexpr int _SPAN_CLOSE = -1;
    // Chunk states besides a request count.
    static constexpr int _CHUNK_UNREQUESTED = 0;
    static constexpr int _CHUNK_COMPLETE = -1;

    // One mark of a chunk's fragment list (_SPAN_OPEN or _SPAN_CLOSE at an offset in the resource space).
    struct Fragment
    {
        _dword mOffset;
        int mFlag;
        bool operator==(const Fragment&) const = default;
    };
    struct ResShare
    {
        DownloadRes* mRes;
        _dword mFinished; // bytes of the resource that came from this chunk
    };
    struct Chunk
    {
        int mFlag = _CHUNK_UNREQUESTED; // or requested n > 0 times, or _CHUNK_COMPLETE
        std::vector<Fragment> mFragments;
        std::vector<ResShare> mShares;
    };

    // The storage to fill and the package index that places resources in the resource space (by
    // default the process-wide resource manager and manifest).
    ResourceDownloader(IResourceManager* manager, IResourceManifest* index);
    ~ResourceDownloader() override;
    ResourceDownloader(const ResourceDownloader&) = delete;
    ResourceDownloader& operator=(const ResourceDownloader&) = delete;

    void SetVerbose(bool verbose) override { mVerbose.store(verbose); }
    bool IsVerbose() override { return mVerbose.load(); }
    void SetStartHandler(DownloadStartHandler handler) override;
    IDownloader* AddCopyDownloader(const String& path) override;
    IDownloader* AddWebDownloader(const String& url, WebHandle handle) override;
    void RemoveDownloader(IDownloader*& downloader) override;
    void RemoveAllDownloaders() override;
    _dword GetDownloaderCount() override;
    IDownloader* GetDownloader(_dword index) override;
    IDownloadTask* CreateTask(int priority, _dword kind) override;
    IDownloadTask* CreateLoadTask(int priority, _dword kind, DownloadLoadHandler handler,
                                  void* argument) override;
    void DestroyTask(IDownloadTask*& task) override;
    void DestroyAllTasks() override;
    bool IsPaused() override;
    void Pause() override;
    void Resume() override;
    void StartBackground() override;
    void StopBackground() override;
    float GetSpeed(_dword seconds) override;
    _qword GetTotalBytes() override;
    void ResetTotalBytes() override;
    void EnumerateDownloads(DownloadEnumCallback callback, void* value) override;

    // --- Used by the tasks and records, and by the downloaders' handlers -------------------------
    std::recursive_mutex& GetLock() noexcept { return mLock; }
    IResourceManager* GetManager() const noexcept { return mManager; }
    IResourceManifest* GetIndex() const noexcept { return mIndex; }
    // Finds or makes the shared record of a resource for a task (one more reference when found).
    DownloadRes* GetResourceRecord(const String& key, const String& name, DownloadTask* task);
    // Drops one reference; the record goes when none is left.
    void ReleaseRecord(DownloadRes* record);
    // Moves a task between the priority lists; a new task is only appended, priority -1 leaves the
    // loading list.
    void MoveTask(DownloadTask* task, int oldPriority, int newPriority, bool isNew);
    void CallStartHandler(const String& name, IDownloadTask* task);
    // Something changed that may give idle downloaders work.
    void WakeDownloaders();
    void TaskCreated() { ++mLiveTasks; }
    void TaskDestroyed() { --mLiveTasks; }
    int GetLiveTaskCount() const { return mLiveTasks.load(); }
    DownloadTask* GetBackgroundTask() const { return mBackground; }

    // The idle handler: gives the downloader one piece of work (lock taken inside).
    void Schedule(IDownloader& downloader);
    // The data handler.
    void OnData(IDownloader& downloader, void* task, const _byte* data, _dword size, _dword offset);
    // The failure handler: requests by name that failed, and ranges the source refused.
    void OnFailed(IDownloader& downloader, const DownloadItem& item);
    // Bytes of the resource space arriving for one chunk; resources they complete are checked after.
    void OnChunkData(const _byte* data, _dword length, _dword offset);
    // A record whose bytes are all in waits for its check (lock held; one more reference until done).
    void QueueCheck(DownloadRes* record);
    // Checks the waiting records, outside the lock so other downloaders' data keeps flowing meanwhile.
    void RunChecks();
    void RequestChunks(_dword c1, _dword c2, IDownloader& downloader);

    // --- Inspection ---------------------------------------------------------------------------
    _dword GetChunkCount();
    _dword GetResourceSpaceSize();
    // False when the slot is empty; otherwise the chunk's flag and fragments.
    bool GetChunk(_dword index, int& flag, std::vector<Fragment>& fragments,
                  std::size_t* resources = nullptr);
    // The shared record of a name (as the table keys it), or null.
    DownloadRes* FindRecord(const String& name);

    // --- Queries for callers outside the engine (copies taken under the lock) -----------------------
    struct ResourceState
    {
        String name;
        _dword length;   // _DOWNLOAD_UNKNOWN until known
        _dword finished; // bytes in
        bool stored;     // every byte in and checked (stored, or refused when refused is set)
        bool refused;
        _dword failures;
        DownloadFailure lastFailure;
        int failureStatus; // the source's HTTP status of the last failed fetch (0 when none)
        String failureUrl;
    };
    // Each resource of the task, in the task's order.
    std::vector<ResourceState> GetTaskState(IDownloadTask* task);
    // The last byte range a source refused with an HTTP error, and how many refusals came since range
    // data last arrived (0 when none).
    struct RangeRefusal
    {
        int status = 0;
        String url;
        _dword count = 0;
    };
    RangeRefusal GetRangeRefusal();

private:
    Downloader* AddDownloader(std::unique_ptr<Downloader> downloader);
    std::vector<DownloadTask*>& ListOf(int priority);
    // Enters an unfinished record of known place into the chunks it spans.
    void AttachChunks(DownloadRes* record);
    void DeleteChunk(_dword index);
    // After a digest failure: every chunk the record spans starts over, its sharers give back what those
    // chunks had given them, and the record waits in them again.
    void ResetChunksOf(DownloadRes* record);
    void ChunkData(const _byte* data, _dword length, _dword offset);
    void SpeedStep();
    // One list of the scheduling scan; true on a hit.
    bool ScanList(const std::vector<DownloadTask*>& list, bool urlMode, IDownloader& downloader,
                  std::pair<_dword, _dword>& fresh, std::pair<_dword, _dword>& requested);
    void CompleteLoadingTasks();

    std::recursive_mutex mLock;
    std::atomic<bool> mVerbose{false};
    DownloadStartHandler mStartHandler;
    std::vector<std::unique_ptr<Downloader>> mDownloaders;
    std::vector<std::unique_ptr<DownloadTask>> mOwnedTasks; // every task, in the order made
    std::array<std::vector<DownloadTask*>, 4> mTasks;       // lowest, Low, Normal, High
    std::vector<DownloadTask*> mLoading;
    DownloadTask* mBackground = nullptr;
    std::unordered_map<String, DownloadRes*> mResources;
    std::vector<DownloadRes*> mChecks;
    std::vector<std::unique_ptr<Chunk>> mResChunks;
    _dword mResChunkCount = 0;
    _dword mResSize = 0;
    _dword mNextId = 0;
    std::atomic<int> mLiveTasks{0};
    _dword mSpeedClock = 0;
    _qword mTotalBytes = 0;
    std::array<_qword, _SPEED_BUCKETS> mBuckets{};
    IResourceManager* mManager;
    IResourceManifest* mIndex;
    RangeRefusal mRangeRefusal;
};

} // namespace Vexel
