#include "Storage/Download/ResourceDownloader.h"

#include "Common/Assert.h"
#include "Common/Log.h"
#include "Common/StringEncoding.h"
#include "Platform/System.h"
#include "Storage/Download/CopyDownloader.h"
#include "Storage/Download/WebDownloader.h"
#include "Storage/ResourceManager.h"
#include "Storage/ResourceManifest.h"

#include <algorithm>
#include <chrono>

namespace Vexel
{

namespace
{
using Slot = std::pair<_dword, _dword>;
constexpr _dword _NONE = _DOWNLOAD_UNKNOWN;
constexpr Slot _EMPTY_SLOT{_NONE, _NONE};
// Longest the scheduling step spends completing loading tasks.
constexpr long long _LOADING_BUDGET_US = 30000;
constexpr _dword _SPEED_STEP_MS = 1000;
constexpr _dword _MAX_RUN_CHUNKS = 8;

const char16_t* PriorityWord(int priority)
{
    return priority == _PRIORITY_HIGH ? u"High" : priority == _PRIORITY_NORMAL ? u"Normal" : u"Low";
}

void LeakLine(const String& text)
{
    LogBoth(text.c_str());
}
} // namespace

ResourceDownloader::ResourceDownloader(IResourceManager* manager, IResourceManifest* index)
    : mManager(manager), mIndex(index)
{
    mSpeedClock = GetTime();
}

ResourceDownloader::~ResourceDownloader()
{
    int live = mLiveTasks.load() - (mBackground != nullptr ? 1 : 0);
    if (live == 0)
        LogTrace(u"[RD] Congratulations! No resource loader leaks!");
    else
    {
        const String separator(76, u'-');
        LeakLine(separator);
        LeakLine(FormatString(u"[RD] Caution! DownloadTask leaks : %d", live));
        LeakLine(separator);
    }
    RemoveAllDownloaders();
    RunChecks();
    DestroyAllTasks();
    StopBackground();
    std::lock_guard<std::recursive_mutex> lock(mLock);
    // Records left by requests that never came back.
    for (auto& [name, record] : mResources)
        delete record;
    mResources.clear();
}

void ResourceDownloader::SetStartHandler(DownloadStartHandler handler)
{
    std::lock_guard<std::recursive_mutex> lock(mLock);
    mStartHandler = std::move(handler);
}

void ResourceDownloader::CallStartHandler(const String& name, IDownloadTask* task)
{
    if (mStartHandler)
        mStartHandler(name, task);
}

Downloader* ResourceDownloader::AddDownloader(std::unique_ptr<Downloader> downloader)
{
    downloader->SetIdleHandler([this](IDownloader& self) { Schedule(self); });
    downloader->SetDataHandler([this](IDownloader& self, void* task, const _byte* data, _dword size,
                                      _dword offset) { OnData(self, task, data, size, offset); });
    downloader->SetFailHandler([this](IDownloader& self, const DownloadItem& item) { OnFailed(self, item); });
    std::lock_guard<std::recursive_mutex> lock(mLock);
    mDownloaders.push_back(std::move(downloader));
    Downloader* added = mDownloaders.back().get();
    added->Wake();
    return added;
}

IDownloader* ResourceDownloader::AddCopyDownloader(const String& path)
{
    _dword id;
    {
        std::lock_guard<std::recursive_mutex> lock(mLock);
        id = mNextId++;
    }
    return AddDownloader(std::make_unique<CopyDownloader>(&mLock, path, id));
}

IDownloader* ResourceDownloader::AddWebDownloader(const String& url, WebHandle handle)
{
    _dword id;
    {
        std::lock_guard<std::recursive_mutex> lock(mLock);
        id = mNextId++;
    }
    return AddDownloader(std::make_unique<WebDownloader>(&mLock, url, id, handle));
}

void ResourceDownloader::RemoveDownloader(IDownloader*& downloader)
{
    if (downloader == nullptr)
        return;
    std::unique_ptr<Downloader> removed;
    {
        std::lock_guard<std::recursive_mutex> lock(mLock);
        auto at = std::find_if(mDownloaders.begin(), mDownloaders.end(),
                               [&](const std::unique_ptr<Downloader>& d) { return d.get() == downloader; });
        if (at == mDownloaders.end())
            return;
        removed = std::move(*at);
        mDownloaders.erase(at);
        removed->SetIdleHandler(nullptr);
        removed->SetDataHandler(nullptr);
        removed->SetFailHandler(nullptr);
    }
    // Destroyed outside the lock: its worker may be waiting for the lock in a handler.
    removed.reset();
    downloader = nullptr;
}

void ResourceDownloader::RemoveAllDownloaders()
{
    std::vector<std::unique_ptr<Downloader>> removed;
    {
        std::lock_guard<std::recursive_mutex> lock(mLock);
        for (auto& downloader : mDownloaders)
        {
            downloader->SetIdleHandler(nullptr);
            downloader->SetDataHandler(nullptr);
            downloader->SetFailHandler(nullptr);
        }
        removed.swap(mDownloaders);
    }
    removed.clear();
}

_dword ResourceDownloader::GetDownloaderCount()
{
    std::lock_guard<std::recursive_mutex> lock(mLock);
    return static_cast<_dword>(mDownloaders.size());
}

IDownloader* ResourceDownloader::GetDownloader(_dword index)
{
    std::lock_guard<std::recursive_mutex> lock(mLock);
    return index < mDownloaders.size() ? mDownloaders[index].get() : nullptr;
}

void ResourceDownloader::WakeDownloaders()
{
    std::lock_guard<std::recursive_mutex> lock(mLock);
    for (auto& downloader : mDownloaders)
        downloader->Wake();
}

std::vector<DownloadTask*>& ResourceDownloader::ListOf(int priority)
{
    return mTasks[priority >= _PRIORITY_LOW && priority <= _PRIORITY_HIGH ? priority : 0];
}

IDownloadTask* ResourceDownloader::CreateTask(int priority, _dword kind)
{
    std::lock_guard<std::recursive_mutex> lock(mLock);
    mOwnedTasks.push_back(std::make_unique<DownloadTask>(*this, priority, kind));
    DownloadTask* task = mOwnedTasks.back().get();
    MoveTask(task, priority, priority, true);
    return task;
}

IDownloadTask* ResourceDownloader::CreateLoadTask(int priority, _dword kind, DownloadLoadHandler handler,
                                                  void* argument)
{
    std::lock_guard<std::recursive_mutex> lock(mLock);
    mOwnedTasks.push_back(
        std::make_unique<DownloadTask>(*this, priority, kind, std::move(handler), argument));
    DownloadTask* task = mOwnedTasks.back().get();
    MoveTask(task, priority, priority, true);
    mLoading.push_back(task);
    return task;
}

void ResourceDownloader::MoveTask(DownloadTask* task, int oldPriority, int newPriority, bool isNew)
{
    if (!isNew)
    {
        auto& old = ListOf(oldPriority);
        old.erase(std::remove(old.begin(), old.end(), task), old.end());
    }
    if (newPriority == -1)
        mLoading.erase(std::remove(mLoading.begin(), mLoading.end(), task), mLoading.end());
    else
        ListOf(newPriority).push_back(task);
}

void ResourceDownloader::DestroyTask(IDownloadTask*& task)
{
    if (task == nullptr)
        return;
    std::lock_guard<std::recursive_mutex> lock(mLock);
    auto* owned = static_cast<DownloadTask*>(task);
    for (auto& list : mTasks)
        list.erase(std::remove(list.begin(), list.end(), owned), list.end());
    mLoading.erase(std::remove(mLoading.begin(), mLoading.end(), owned), mLoading.end());
    if (owned == mBackground)
        mBackground = nullptr;
    task = nullptr;
    // Out of the list first: the task's destructor calls back into this downloader.
    auto at =
        std::find_if(mOwnedTasks.begin(), mOwnedTasks.end(),
                     [owned](const std::unique_ptr<DownloadTask>& held) { return held.get() == owned; });
    if (at == mOwnedTasks.end())
        return;
    std::unique_ptr<DownloadTask> doomed = std::move(*at);
    mOwnedTasks.erase(at);
}

void ResourceDownloader::DestroyAllTasks()
{
    std::lock_guard<std::recursive_mutex> lock(mLock);
    for (auto& list : mTasks)
        list.clear();
    mLoading.clear();
    // The tasks leave the list before they are destroyed: their destructors call back into this downloader.
    std::vector<std::unique_ptr<DownloadTask>> doomed;
    for (auto& held : mOwnedTasks)
        if (held.get() != mBackground)
            doomed.push_back(std::move(held));
    std::erase(mOwnedTasks, nullptr);
    doomed.clear();
    // The background task lives on until StopBackground.
    if (mBackground != nullptr)
        ListOf(mBackground->GetPriority()).push_back(mBackground);
}

bool ResourceDownloader::IsPaused()
{
    std::lock_guard<std::recursive_mutex> lock(mLock);
    for (auto& downloader : mDownloaders)
        if (!downloader->GetAddress().empty() && !downloader->IsPaused())
            return false;
    return true;
}

void ResourceDownloader::Pause()
{
    std::lock_guard<std::recursive_mutex> lock(mLock);
    for (auto& downloader : mDownloaders)
        if (!downloader->GetAddress().empty())
            downloader->SetPaused(true);
}

void ResourceDownloader::Resume()
{
    std::lock_guard<std::recursive_mutex> lock(mLock);
    for (auto& downloader : mDownloaders)
        if (!downloader->GetAddress().empty())
            downloader->SetPaused(false);
}

_dword ResourceDownloader::GetResourceSpaceSize()
{
    std::lock_guard<std::recursive_mutex> lock(mLock);
    return mResSize;
}

_dword ResourceDownloader::GetChunkCount()
{
    std::lock_guard<std::recursive_mutex> lock(mLock);
    return mResChunkCount;
}

bool ResourceDownloader::GetChunk(_dword index, int& flag, std::vector<Fragment>& fragments,
                                  std::size_t* resources)
{
    std::lock_guard<std::recursive_mutex> lock(mLock);
    if (index >= mResChunks.size() || !mResChunks[index])
        return false;
    flag = mResChunks[index]->mFlag;
    fragments = mResChunks[index]->mFragments;
    if (resources != nullptr)
        *resources = mResChunks[index]->mShares.size();
    return true;
}

DownloadRes* ResourceDownloader::FindRecord(const String& name)
{
    std::lock_guard<std::recursive_mutex> lock(mLock);
    auto at = mResources.find(name);
    return at == mResources.end() ? nullptr : at->second;
}

void ResourceDownloader::StartBackground()
{
    std::lock_guard<std::recursive_mutex> lock(mLock);
    if (mBackground != nullptr)
        return;
    if (mResChunks.empty())
    {
        {
            std::lock_guard<StorageLock> storage(*mManager->GetLock());
            mResSize = mIndex->GetPackageExtent();
        }
        mResChunkCount = mResSize / _CHUNK_SIZE + 1;
        mResChunks.clear();
        mResChunks.resize(mResChunkCount);
        // Records made before the table existed take their chunks now.
        for (auto& [name, record] : mResources)
            AttachChunks(record);
    }
    mBackground = static_cast<DownloadTask*>(CreateTask(0, 0));
    mBackground->Pause();
    mBackground->AddAllResources();
}

void ResourceDownloader::StopBackground()
{
    std::lock_guard<std::recursive_mutex> lock(mLock);
    if (mBackground != nullptr)
    {
        IDownloadTask* task = mBackground;
        DestroyTask(task);
        mBackground = nullptr;
    }
    mResChunks.clear();
    mResSize = 0;
    mResChunkCount = 0;
}

void ResourceDownloader::AttachChunks(DownloadRes* record)
{
    if (mResChunks.empty() || record->mURL || record->IsComplete() || record->mLength == _NONE ||
        record->mOffset == _NONE || record->mLength == 0)
        return;
    const _dword c1 = record->mOffset / _CHUNK_SIZE;
    const _dword c2 =
        static_cast<_dword>((static_cast<_qword>(record->mOffset) + record->mLength - 1) / _CHUNK_SIZE);
    if (!VEXEL_ASSERT_TEXT(c2 < mResChunkCount, u"c2 < mResChunkCount"))
    {
        LogBoth(FormatString(u"[DL] Resource lies beyond the package : %ls", record->mKey).c_str());
        return;
    }
    for (_dword c = c1; c <= c2; ++c)
    {
        if (!mResChunks[c])
            mResChunks[c] = std::make_unique<Chunk>();
        auto& shares = mResChunks[c]->mShares;
        if (std::none_of(shares.begin(), shares.end(), [&](const ResShare& s) { return s.mRes == record; }))
            shares.push_back({record, 0});
    }
}

DownloadRes* ResourceDownloader::GetResourceRecord(const String& key, const String& givenName,
                                                   DownloadTask* task)
{
    std::lock_guard<std::recursive_mutex> lock(mLock);
    String name = givenName;
    const bool url = name.rfind(u"http://", 0) == 0;
    if (!url)
    {
        ToLower(name);
        NormalizePath(name);
    }
    CallStartHandler(name, task);
    if (task != mBackground && IsVerbose())
        LogTrace(u"[DL] Start to download : %ls (%ls) (%ls)", key, name,
                 PriorityWord(task != nullptr ? task->GetPriority() : 0));

    if (auto at = mResources.find(name); at != mResources.end())
    {
        ++at->second->mRefCount;
        return at->second;
    }

    bool present = false;
    _dword length = _NONE;
    _dword offset = _NONE;
    MD5 digest;
    if (!url)
    {
        present = mManager->HasResource(key);
        if (!present)
        {
            std::lock_guard<StorageLock> storage(*mManager->GetLock());
            _dword size = 0;
            int at = -1;
            if (mIndex != nullptr && mIndex->GetEntry(key, &size, &at, &digest, nullptr))
            {
                if (at != -1)
                {
                    length = size;
                    offset = static_cast<_dword>(at);
                }
            }
        }
    }

    auto* record = new DownloadRes(*this, key, name, url, url ? _NONE : length, offset, digest);
    mResources[name] = record;
    if (present)
    {
        record->mLength = 0;
        record->mOffset = 0;
        record->mFinished = 0;
        record->mDigest = MD5();
    }
    else
    {
        record->Reset();
        AttachChunks(record);
    }
    return record;
}

void ResourceDownloader::ReleaseRecord(DownloadRes* record)
{
    std::lock_guard<std::recursive_mutex> lock(mLock);
    if (record == nullptr || --record->mRefCount > 0)
        return;
    auto at = mResources.find(record->mName);
    if (at != mResources.end() && at->second == record)
        mResources.erase(at);
    // A record leaving while unfinished leaves its chunks too.
    if (!mResChunks.empty() && record->mOffset != _NONE && record->mLength != _NONE && record->mLength > 0)
    {
        const _dword c1 = record->mOffset / _CHUNK_SIZE;
        const _dword c2 =
            static_cast<_dword>((static_cast<_qword>(record->mOffset) + record->mLength - 1) / _CHUNK_SIZE);
        for (_dword c = c1; c <= c2 && c < mResChunks.size(); ++c)
        {
            if (!mResChunks[c])
                continue;
            auto& shares = mResChunks[c]->mShares;
            shares.erase(std::remove_if(shares.begin(), shares.end(),
                                        [&](const ResShare& s) { return s.mRes == record; }),
                         shares.end());
            if (shares.empty())
                mResChunks[c].reset();
        }
    }
    delete record;
}

// --- Scheduling ------------------------------------------------------------------------------------

bool ResourceDownloader::ScanList(const std::vector<DownloadTask*>& list, bool urlMode,
                                  IDownloader& downloader, Slot& fresh, Slot& requested)
{
    for (DownloadTask* task : list)
    {
        if (task->IsPaused())
            continue;
        for (DownloadRes* record : task->Resources())
        {
            if (record->IsComplete() || record->mURL != urlMode || record->mRefused || record->IsWaiting())
                continue;
            if (record->mLength == _NONE || record->mOffset == _NONE)
            {
                // Not placed in the package: fetched whole by name, by one downloader at a time.
                if (record->mPending > 0)
                    continue;
                ++record->mRefCount;
                ++record->mPending;
                downloader.DownloadFile(record, record->mName, task->CookieLocked());
                return true;
            }
            if (mResChunks.empty())
                continue;
            const _dword c1 = record->mOffset / _CHUNK_SIZE;
            const _dword c2 = static_cast<_dword>(
                (static_cast<_qword>(record->mOffset) + record->mLength - 1) / _CHUNK_SIZE);
            for (_dword c = c1; c <= c2 && c < mResChunkCount; ++c)
            {
                if (!mResChunks[c])
                    AttachChunks(record);
                if (!VEXEL_ASSERT_TEXT(mResChunks[c] != nullptr, u"chunk != _null"))
                    break;
                const int flag = mResChunks[c]->mFlag;
                if (flag == _CHUNK_COMPLETE)
                    continue;
                if (flag == _CHUNK_UNREQUESTED)
                {
                    if (fresh == _EMPTY_SLOT)
                    {
                        fresh = {c, c};
                        // Later fresh chunks of the same resource go along in one request.
                        while (fresh.second + 1 <= c2 && fresh.second + 1 - c < _MAX_RUN_CHUNKS &&
                               fresh.second + 1 < mResChunkCount && mResChunks[fresh.second + 1] &&
                               mResChunks[fresh.second + 1]->mFlag == _CHUNK_UNREQUESTED)
                            ++fresh.second;
                    }
                    return true;
                }
                if (requested == _EMPTY_SLOT)
                    requested = {c, c};
            }
        }
    }
    return false;
}

void ResourceDownloader::Schedule(IDownloader& downloader)
{
    std::lock_guard<std::recursive_mutex> lock(mLock);
    const bool urlMode = downloader.GetAddress().empty();
    Slot a = _EMPTY_SLOT;
    Slot b = _EMPTY_SLOT;
    Slot c = _EMPTY_SLOT;
    // The first list with a hit ends the scan; the slots say what to request.
    if (!ScanList(mTasks[_PRIORITY_HIGH], urlMode, downloader, a, b) &&
        !ScanList(mTasks[_PRIORITY_NORMAL], urlMode, downloader, a, b) &&
        !ScanList(mTasks[_PRIORITY_LOW], urlMode, downloader, b, c))
        ScanList(mTasks[0], urlMode, downloader, b, c);
    for (const Slot& slot : {a, b, c})
        if (slot != _EMPTY_SLOT)
        {
            RequestChunks(slot.first, slot.second, downloader);
            break;
        }
    CompleteLoadingTasks();
}

void ResourceDownloader::CompleteLoadingTasks()
{
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < mLoading.size();)
    {
        DownloadTask* task = mLoading[i];
        if (task->IsPaused())
        {
            ++i;
            continue;
        }
        if (task->AllFinished())
        {
            mLoading.erase(mLoading.begin() + static_cast<std::ptrdiff_t>(i));
            task->CompleteLoading();
        }
        else
            ++i;
        if (std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start)
                .count() >= _LOADING_BUDGET_US)
            break;
    }
}

void ResourceDownloader::RequestChunks(_dword c1, _dword c2, IDownloader& downloader)
{
    std::lock_guard<std::recursive_mutex> lock(mLock);
    for (_dword c = c1; c <= c2; ++c)
    {
        if (c >= mResChunks.size() || !mResChunks[c])
            return;
        Chunk& chunk = *mResChunks[c];
        if (!VEXEL_ASSERT_TEXT(chunk.mFlag != _CHUNK_COMPLETE, u"chunk->mFlag != -1"))
            return;
        const _dword begin = c * _CHUNK_SIZE;
        const _dword end =
            static_cast<_dword>(std::min<_qword>(static_cast<_qword>(begin) + _CHUNK_SIZE, mResSize));
        if (!VEXEL_ASSERT_TEXT(end > begin, u"end > begin"))
            return;
        ++chunk.mFlag;
        if (chunk.mFragments.empty())
            chunk.mFragments = {{begin, _SPAN_OPEN}, {end, _SPAN_CLOSE}};
    }
    const _dword cbegin = c1 * _CHUNK_SIZE;
    const _dword cend =
        static_cast<_dword>(std::min<_qword>((static_cast<_qword>(c2) + 1) * _CHUNK_SIZE, mResSize));
    if (VEXEL_ASSERT_TEXT(cend > cbegin, u"cend > cbegin"))
        downloader.DownloadRange(nullptr, cbegin, cend);
}

// --- Data --------------------------------------------------------------------------------------

void ResourceDownloader::SpeedStep()
{
    const _dword now = GetTime();
    if (now - mSpeedClock < _SPEED_STEP_MS)
        return;
    mSpeedClock += _SPEED_STEP_MS;
    for (std::size_t i = _SPEED_BUCKETS - 1; i > 0; --i)
        mBuckets[i] = mBuckets[i - 1];
    mBuckets[0] = 0;
}

void ResourceDownloader::OnData(IDownloader& downloader, void* task, const _byte* data, _dword size,
                                _dword offset)
{
    {
        std::lock_guard<std::recursive_mutex> lock(mLock);
        mTotalBytes += size;
        mBuckets[0] += size;
        SpeedStep();
        if (task == nullptr)
        {
            if (size > 0)
                mRangeRefusal.count = 0;
            while (size > 0)
            {
                const _dword boundary = (offset / _CHUNK_SIZE + 1) * _CHUNK_SIZE;
                const _dword piece = boundary - offset < size && boundary > offset ? boundary - offset : size;
                ChunkData(data, piece, offset);
                data += piece;
                offset += piece;
                size -= piece;
            }
        }
        else
        {
            auto* record = static_cast<DownloadRes*>(task);
            if (record->mPending > 0)
                --record->mPending;
            if (!record->IsComplete() || record->mLength == _NONE)
                record->Write(data, size, offset);
            ReleaseRecord(record);
        }
    }
    RunChecks();
}

void ResourceDownloader::QueueCheck(DownloadRes* record)
{
    std::lock_guard<std::recursive_mutex> lock(mLock);
    ++record->mRefCount;
    mChecks.push_back(record);
}

void ResourceDownloader::RunChecks()
{
    for (;;)
    {
        std::vector<DownloadRes*> checks;
        {
            std::lock_guard<std::recursive_mutex> lock(mLock);
            checks.swap(mChecks);
        }
        if (checks.empty())
            return;
        std::vector<DownloadCheck> outcomes;
        for (DownloadRes* record : checks)
            outcomes.push_back(record->Check());
        std::lock_guard<std::recursive_mutex> lock(mLock);
        for (std::size_t i = 0; i < checks.size(); ++i)
        {
            DownloadRes* record = checks[i];
            record->Conclude(outcomes[i]);
            if (outcomes[i] == DownloadCheck::BadDigest)
                ResetChunksOf(record);
            ReleaseRecord(record);
        }
    }
}

void ResourceDownloader::OnFailed(IDownloader& downloader, const DownloadItem& item)
{
    std::lock_guard<std::recursive_mutex> lock(mLock);
    if (item.task == nullptr)
    {
        // A refused range: the downloader asks it again; the refusal is kept for whoever watches.
        if (item.name.empty())
            mRangeRefusal = {item.status, item.url, mRangeRefusal.count + 1};
        return;
    }
    auto* record = static_cast<DownloadRes*>(item.task);
    if (record->mPending > 0)
        --record->mPending;
    record->NoteFailure(DownloadFailure::Fetch);
    record->mFailureStatus = item.status;
    record->mFailureUrl = item.url;
    ReleaseRecord(record);
}

void ResourceDownloader::DeleteChunk(_dword index)
{
    if (index < mResChunks.size())
        mResChunks[index].reset();
}

void ResourceDownloader::ResetChunksOf(DownloadRes* record)
{
    if (mResChunks.empty() || record->mURL || record->mOffset == _NONE || record->mLength == _NONE ||
        record->mLength == 0)
        return;
    const _dword c1 = record->mOffset / _CHUNK_SIZE;
    const _dword c2 =
        static_cast<_dword>((static_cast<_qword>(record->mOffset) + record->mLength - 1) / _CHUNK_SIZE);
    for (_dword c = c1; c <= c2 && c < mResChunks.size(); ++c)
    {
        // A chunk nobody else needed went when the record completed; it is needed again.
        if (!mResChunks[c])
            mResChunks[c] = std::make_unique<Chunk>();
        Chunk& chunk = *mResChunks[c];
        chunk.mFlag = _CHUNK_UNREQUESTED;
        chunk.mFragments.clear();
        for (ResShare& share : chunk.mShares)
        {
            if (share.mRes != record)
            {
                VEXEL_ASSERT_TEXT(share.mRes->mFinished >= share.mFinished,
                                  u"res->mFinished >= reses[i].mFinished");
                share.mRes->mFinished -= std::min(share.mRes->mFinished, share.mFinished);
            }
            share.mFinished = 0;
        }
    }
    AttachChunks(record);
}

void ResourceDownloader::OnChunkData(const _byte* data, _dword length, _dword offset)
{
    {
        std::lock_guard<std::recursive_mutex> lock(mLock);
        ChunkData(data, length, offset);
    }
    RunChecks();
}

void ResourceDownloader::ChunkData(const _byte* data, _dword length, _dword offset)
{
    const _dword chunkId = offset / _CHUNK_SIZE;
    if (mResChunks.empty() || chunkId >= mResChunkCount || chunkId >= mResChunks.size() ||
        !mResChunks[chunkId])
        return;
    Chunk& chunk = *mResChunks[chunkId];
    auto& fragments = chunk.mFragments;
    if (fragments.empty())
        return;
    if (!VEXEL_ASSERT_TEXT(fragments.size() >= 2, u"frags.Length( ) >= 2") ||
        !VEXEL_ASSERT_TEXT(fragments.front().mFlag == _SPAN_OPEN, u"hfrag.mFlag == 0") ||
        !VEXEL_ASSERT_TEXT(fragments.back().mFlag == _SPAN_CLOSE, u"tfrag.mFlag == -1"))
        return;

    // Clip to the span the list still covers.
    const _dword head = fragments.front().mOffset;
    const _dword tail = fragments.back().mOffset;
    const _qword dataEnd = static_cast<_qword>(offset) + length;
    if (dataEnd <= head || offset >= tail || length == 0)
        return;
    if (offset < head)
    {
        const _dword cut = head - offset;
        VEXEL_ASSERT_TEXT(length > cut, u"length > l");
        data += cut;
        length -= cut;
        offset = head;
    }
    if (static_cast<_qword>(offset) + length > tail)
    {
        const _dword keep = tail - offset;
        VEXEL_ASSERT_TEXT(length > keep, u"length > l");
        length = keep;
    }

    // Skip what already arrived: the arrived spans lie between a closing pair and the next opening one.
    for (std::size_t i = 0; i < fragments.size() && length > 0; ++i)
    {
        if (fragments[i].mOffset >= static_cast<_qword>(offset) + length)
            break;
        if (fragments[i].mFlag != _SPAN_CLOSE)
            continue;
        if (!VEXEL_ASSERT_TEXT(i + 1 < fragments.size(), u"i + 1 < frags.Length( )"))
            break;
        const _dword arrivedBegin = fragments[i].mOffset;
        const _dword arrivedEnd = fragments[i + 1].mOffset;
        if (offset < arrivedEnd)
        {
            if (offset < arrivedBegin)
            {
                length = std::min(length, arrivedBegin - offset);
                break;
            }
            const _dword drop = std::min(length, arrivedEnd - offset);
            data += drop;
            offset += drop;
            length -= drop;
        }
    }
    if (length == 0)
        return;
    VEXEL_ASSERT_TEXT(offset / _CHUNK_SIZE == chunkId, u"offset / _CHUNK_SIZE == chunkid");

    // Record the arrival in the one missing span that holds the data.
    bool recorded = false;
    const _dword end = offset + length;
    for (std::size_t i = 0; i + 1 < fragments.size(); ++i)
    {
        if (fragments[i].mFlag != _SPAN_OPEN || offset < fragments[i].mOffset ||
            end > fragments[i + 1].mOffset)
            continue;
        const _dword spanBegin = fragments[i].mOffset;
        const _dword spanEnd = fragments[i + 1].mOffset;
        VEXEL_ASSERT_TEXT(fragments[i + 1].mFlag == _SPAN_CLOSE, u"frags[i + 1].mFlag == -1");
        if (offset == spanBegin && end == spanEnd)
        {
            fragments.erase(fragments.begin() + static_cast<std::ptrdiff_t>(i),
                            fragments.begin() + static_cast<std::ptrdiff_t>(i) + 2);
            if (fragments.empty())
                chunk.mFlag = _CHUNK_COMPLETE;
        }
        else if (offset == spanBegin)
            fragments[i].mOffset += length;
        else if (end == spanEnd)
            fragments[i + 1].mOffset = offset;
        else
            fragments.insert(fragments.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                             {{offset, _SPAN_CLOSE}, {end, _SPAN_OPEN}});
        recorded = true;
        break;
    }
    if (!VEXEL_ASSERT(recorded))
        return;

    // Hand the bytes to every resource that overlaps them.
    auto& shares = chunk.mShares;
    for (std::size_t i = 0; i < shares.size(); ++i)
    {
        DownloadRes* record = shares[i].mRes;
        if (record->IsComplete() || record->mOffset == _NONE || record->mLength == _NONE)
            continue;
        const _qword resBegin = record->mOffset;
        const _qword resEnd = resBegin + record->mLength;
        if (resEnd <= offset || resBegin >= end)
            continue;
        const _dword o = static_cast<_dword>(std::max<_qword>(resBegin, offset));
        const _dword l = static_cast<_dword>(std::min<_qword>(length - (o - offset), resEnd - o));
        if (!VEXEL_ASSERT_TEXT(l > 0, u"l > 0"))
            continue;
        shares[i].mFinished += l;
        record->Write(data + (o - offset), l, o - record->mOffset);

        if (record->IsComplete())
        {
            // Its check follows once the lock is let go; a failure brings it back into its chunks.
            const _dword c1 = record->mOffset / _CHUNK_SIZE;
            const _dword c2 = static_cast<_dword>((resEnd - 1) / _CHUNK_SIZE);
            for (_dword c = c1; c <= c2 && c < mResChunks.size(); ++c)
            {
                if (c == chunkId || !mResChunks[c])
                    continue;
                auto& other = mResChunks[c]->mShares;
                other.erase(std::remove_if(other.begin(), other.end(),
                                           [&](const ResShare& s) { return s.mRes == record; }),
                            other.end());
                if (other.empty())
                    DeleteChunk(c);
            }
            shares.erase(shares.begin() + static_cast<std::ptrdiff_t>(i));
            --i;
            if (shares.empty())
            {
                DeleteChunk(chunkId);
                return;
            }
        }
    }
}

// --- Statistics and enumeration ------------------------------------------------------------------

float ResourceDownloader::GetSpeed(_dword seconds)
{
    std::lock_guard<std::recursive_mutex> lock(mLock);
    SpeedStep();
    const _dword k = std::min<_dword>(std::max<_dword>(seconds, 1), _SPEED_BUCKETS);
    _qword sum = 0;
    for (_dword i = 0; i < k; ++i)
        sum += mBuckets[i];
    return static_cast<float>(static_cast<double>(sum) / 1024.0 / k);
}

_qword ResourceDownloader::GetTotalBytes()
{
    std::lock_guard<std::recursive_mutex> lock(mLock);
    return mTotalBytes;
}

void ResourceDownloader::ResetTotalBytes()
{
    std::lock_guard<std::recursive_mutex> lock(mLock);
    mTotalBytes = 0;
}

void ResourceDownloader::EnumerateDownloads(DownloadEnumCallback callback, void* value)
{
    if (!callback)
        return;
    std::lock_guard<std::recursive_mutex> lock(mLock);
    for (int priority : {_PRIORITY_HIGH, _PRIORITY_NORMAL, _PRIORITY_LOW})
        for (DownloadTask* task : mTasks[priority])
        {
            if (task->GetKind() == 0)
                continue;
            for (const DownloadRes* record : task->Resources())
                callback(record->mName, record->mLength, record->mFinished, task->GetKind(),
                         task->GetPriority(), value);
        }
}

// --- Queries for callers outside the engine -------------------------------------------------------

std::vector<ResourceDownloader::ResourceState> ResourceDownloader::GetTaskState(IDownloadTask* task)
{
    std::vector<ResourceState> states;
    if (task == nullptr)
        return states;
    std::lock_guard<std::recursive_mutex> lock(mLock);
    const auto& records = static_cast<DownloadTask*>(task)->Resources();
    states.reserve(records.size());
    for (const DownloadRes* record : records)
        states.push_back({record->mName, record->mLength, record->mFinished, record->IsFinished(),
                          record->mRefused, record->mFailures, record->mLastFailure, record->mFailureStatus,
                          record->mFailureUrl});
    return states;
}

ResourceDownloader::RangeRefusal ResourceDownloader::GetRangeRefusal()
{
    std::lock_guard<std::recursive_mutex> lock(mLock);
    return mRangeRefusal;
}

} // namespace Vexel
