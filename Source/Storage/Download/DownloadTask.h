// A download task: a set of resources fetched together, with a priority and a cookie for its requests,
// progress over all of them and, for a loading task, a completion that loads every finished resource
// into a stream and calls the caller back. Tasks are made and destroyed by the resource downloader.
#pragma once

#include "Common/Array.h"
#include "Common/String.h"

#include <atomic>
#include <functional>
#include <vector>

namespace Vexel
{

class DataStream;
class DownloadRes;
class IDownloadTask;
class ResourceDownloader;

// Priorities; any other value is the lowest list.
constexpr int _PRIORITY_LOW = 1;
constexpr int _PRIORITY_NORMAL = 2;
constexpr int _PRIORITY_HIGH = 3;

// Task flag bits.
constexpr _dword _TASK_BULK = 1;
constexpr _dword _TASK_PAUSED = 2;
constexpr _dword _LOADING = 4;
constexpr _dword _TASK_COMPLETE = 8;

// Progress counts a resource of unknown length as this many bytes.
constexpr _dword _UNKNOWN_LENGTH_WEIGHT = 0x40000;

// Called when a loading task's resources are all finished and loaded.
using DownloadLoadHandler = std::function<void(IDownloadTask& task, void* argument)>;

class IDownloadTask
{
public:
    virtual float GetProgress() = 0;
    virtual _dword GetTotalBytes() = 0;
    virtual _dword GetFinishedBytes() = 0;
    virtual _dword GetResourceCount() = 0;
    virtual _dword GetFinishedResourceCount() = 0;
    virtual String GetResourceName(_dword index) = 0;
    virtual _dword GetResourceLength(_dword index) = 0;
    virtual _dword GetResourceFinished(_dword index) = 0;
    virtual void GetResourceNames(Array<String>& list) = 0;
    virtual void GetFinishedResourceNames(Array<String>& list) = 0;
    virtual void GetUnfinishedResourceNames(Array<String>& list) = 0;
    virtual _dword GetKind() = 0;
    virtual void AddStream(DataStream* stream) = 0;
    virtual DataStream* GetStream(_dword index) = 0;
    virtual int GetPriority() = 0;
    virtual void SetPriority(int priority) = 0;
    virtual String GetCookie() = 0;
    virtual void SetCookie(const String& cookie) = 0;
    virtual void Pause() = 0;
    virtual void Resume() = 0;
    virtual bool IsPaused() = 0;
    virtual void AddResource(const String& name, const String& alias) = 0;
    virtual void AddResourcesWithTag(const String& tag) = 0;
    virtual void AddAllResources() = 0;
    virtual void AddNeededResources() = 0;
    virtual void AnnounceResources() = 0;

protected:
    ~IDownloadTask() = default;
};

class DownloadTask : public IDownloadTask
{
public:
    DownloadTask(ResourceDownloader& owner, int priority, _dword kind);
    // A loading task starts paused.
    DownloadTask(ResourceDownloader& owner, int priority, _dword kind, DownloadLoadHandler handler,
                 void* argument);
    // Drops the task's hold on its resources and releases its streams (with the downloader's lock held).
    virtual ~DownloadTask();
    DownloadTask(const DownloadTask&) = delete;
    DownloadTask& operator=(const DownloadTask&) = delete;

    float GetProgress() override;
    _dword GetTotalBytes() override { return mTotalBytes.load(std::memory_order_relaxed); }
    _dword GetFinishedBytes() override { return mFinishedBytes.load(std::memory_order_relaxed); }
    _dword GetResourceCount() override;
    _dword GetFinishedResourceCount() override { return mFinishedCount.load(std::memory_order_relaxed); }
    String GetResourceName(_dword index) override;
    _dword GetResourceLength(_dword index) override;
    _dword GetResourceFinished(_dword index) override;
    void GetResourceNames(Array<String>& list) override;
    void GetFinishedResourceNames(Array<String>& list) override;
    void GetUnfinishedResourceNames(Array<String>& list) override;
    _dword GetKind() override { return mKind; }
    void AddStream(DataStream* stream) override;
    DataStream* GetStream(_dword index) override;
    int GetPriority() override { return mPriority.load(std::memory_order_relaxed); }
    void SetPriority(int priority) override;
    String GetCookie() override;
    void SetCookie(const String& cookie) override;
    void Pause() override;
    void Resume() override;
    bool IsPaused() override { return (mFlag.load() & _TASK_PAUSED) != 0; }
    void AddResource(const String& name, const String& alias) override;
    void AddResourcesWithTag(const String& tag) override;
    void AddAllResources() override;
    void AddNeededResources() override;
    void AnnounceResources() override;

    // For the resource downloader, with its lock held.
    const std::vector<DownloadRes*>& Resources() const { return mResources; }
    bool AllFinished() const;
    // Loads every resource into a stream, leaves the loading state and calls the handler.
    void CompleteLoading();
    _dword GetFlag() const { return mFlag.load(); }
    // The cookie without taking the lock (the caller holds it).
    const String& CookieLocked() const { return mCookie; }

    // Milliseconds that decide when GetProgress works the figures out again (at most every 100 ms);
    // tests set a clock of their own.
    using Clock = _dword (*)();
    void SetClock(Clock clock) { mClock = clock; }

private:
    void AddTagged(const String& tag);

    ResourceDownloader& mOwner;
    String mCookie;
    const _dword mKind;
    std::atomic<int> mPriority;
    std::atomic<_dword> mFlag{0};
    Clock mClock;
    _dword mLastTime = 0;
    std::atomic<float> mProgress{0.0f};
    std::atomic<_dword> mTotalBytes{0};
    std::atomic<_dword> mFinishedBytes{0};
    std::atomic<_dword> mFinishedCount{0};
    DownloadLoadHandler mHandler;
    void* mArgument = nullptr;
    std::vector<DownloadRes*> mResources;
    std::vector<DataStream*> mStreams;
};

} // namespace Vexel
