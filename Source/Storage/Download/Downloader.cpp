#include "Storage/Download/Downloader.h"

#include "Common/Assert.h"

#include <algorithm>

namespace Vexel
{

namespace
{
constexpr int _WORKER_INTERVAL = 10;
// How long an idle or paused worker waits before it asks for work again unwoken.
constexpr int _IDLE_WAIT_MS = 1000;
// Pause before retrying after the second failed or short attempt in a row, so a broken server is not
// hammered.
constexpr int _RETRY_WAIT_MS = 1000;
} // namespace

_dword CutBaseOffset(String& address)
{
    auto mark = address.find(u'?');
    if (mark == String::npos)
        return _DOWNLOAD_UNKNOWN;
    _qword value = 0;
    for (auto i = mark + 1; i < address.size() && address[i] >= u'0' && address[i] <= u'9'; ++i)
        value = std::min<_qword>(value * 10 + (address[i] - u'0'), _DOWNLOAD_UNKNOWN - 1);
    address.resize(mark);
    return static_cast<_dword>(value);
}

Downloader::Downloader(std::recursive_mutex* lock, const String& address, _dword id)
    : mLock(lock != nullptr ? lock : &mOwnLock), mAddress(address), mId(id)
{
}

Downloader::~Downloader()
{
    StopWorker();
    std::lock_guard<std::recursive_mutex> lock(*mLock);
    mItems.clear();
}

void Downloader::StartWorker()
{
    // A thread never started takes jobs; only a stopped one refuses them.
    bool queued = mThread.AddJob([this](WorkerThread& thread) { return RunJob(thread); });
    VEXEL_ASSERT_TEXT(queued, u"mThread.AddJob( RunJob )");
    mThread.Start(_WORKER_INTERVAL, false);
}

void Downloader::StopWorker()
{
    mThread.Stop();
}

String Downloader::GetAddress() const
{
    return mAddress;
}

void Downloader::SetIdleHandler(DownloadIdleHandler handler)
{
    std::lock_guard<std::recursive_mutex> lock(*mLock);
    mIdleHandler = std::move(handler);
}

void Downloader::SetDataHandler(DownloadDataHandler handler)
{
    std::lock_guard<std::recursive_mutex> lock(*mLock);
    mDataHandler = std::move(handler);
}

void Downloader::SetFailHandler(DownloadFailHandler handler)
{
    std::lock_guard<std::recursive_mutex> lock(*mLock);
    mFailHandler = std::move(handler);
}

void Downloader::SetPaused(bool paused)
{
    mPaused.store(paused);
    if (!paused)
        mThread.Wake();
}

void Downloader::Queue(std::unique_ptr<DownloadItem> item)
{
    if (mThread.IsStopping())
        return;
    {
        std::lock_guard<std::recursive_mutex> lock(*mLock);
        mItems.push_back(std::move(item));
    }
    mThread.Wake();
}

void Downloader::DownloadRange(void* task, _dword begin, _dword end)
{
    auto item = std::make_unique<DownloadItem>();
    item->task = task;
    item->begin = begin;
    item->end = end;
    Queue(std::move(item));
}

void Downloader::DownloadFile(void* task, const String& name, const String& cookie)
{
    auto item = std::make_unique<DownloadItem>();
    item->task = task;
    item->name = name;
    item->cookie = cookie;
    Queue(std::move(item));
}

std::vector<DownloadItem> Downloader::GetQueue() const
{
    std::lock_guard<std::recursive_mutex> lock(*mLock);
    std::vector<DownloadItem> items;
    for (const auto& item : mItems)
        items.push_back(*item);
    return items;
}

void Downloader::OnData(DownloadItem& item, const _byte* data, _dword size, _dword offset)
{
    item.received += size;
    if (item.begin != _DOWNLOAD_UNKNOWN)
        offset += item.begin;
    DownloadDataHandler handler;
    {
        std::lock_guard<std::recursive_mutex> lock(*mLock);
        handler = mDataHandler;
    }
    if (handler)
        handler(*this, item.task, data, size, offset);
}

void Downloader::CallFailHandler(const DownloadItem& item)
{
    DownloadFailHandler handler;
    {
        std::lock_guard<std::recursive_mutex> lock(*mLock);
        handler = mFailHandler;
    }
    if (handler)
        handler(*this, item);
}

bool Downloader::RunJob(WorkerThread& thread)
{
    if (thread.IsStopping())
        return false;
    if (IsPaused())
    {
        thread.Wait(_IDLE_WAIT_MS);
        return true;
    }

    {
        // Asked under the lock, the pause checked again there: once SetPaused(true) has returned and
        // the caller has taken the lock, no idle call can be in flight to ask for more work.
        std::lock_guard<std::recursive_mutex> lock(*mLock);
        DownloadIdleHandler idle = mItems.empty() && !IsPaused() ? mIdleHandler : nullptr;
        if (idle)
            idle(*this);
    }

    std::unique_ptr<DownloadItem> item;
    {
        // Paused again under the lock: nothing queued after a pause is started.
        std::lock_guard<std::recursive_mutex> lock(*mLock);
        if (!mItems.empty() && !IsPaused())
        {
            item = std::move(mItems.front());
            mItems.pop_front();
        }
    }
    if (!item)
    {
        // Nothing to do: sleep until an item is queued, the downloader is resumed or the owner wakes us.
        thread.Wait(_IDLE_WAIT_MS);
        return true;
    }

    item->status = 0;
    item->url.clear();
    const bool ok = Fetch(*item);
    bool failed = !ok;
    if (ok && item->name.empty() && item->received != item->end - item->begin)
    {
        // A short range is asked again whole.
        failed = true;
        if (item->status >= _HTTP_ERROR_FIRST)
            CallFailHandler(*item);
        item->received = 0;
        std::lock_guard<std::recursive_mutex> lock(*mLock);
        mItems.push_back(std::move(item));
    }
    else if (!ok && !item->name.empty())
        CallFailHandler(*item);
    item.reset();

    mFailures = failed ? mFailures + 1 : 0;
    if (mFailures >= 2)
        thread.Wait(_RETRY_WAIT_MS);
    else
        thread.Wake(); // more work may be waiting: no pause between items
    return true;
}

} // namespace Vexel
