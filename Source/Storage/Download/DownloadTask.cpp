#include "Storage/Download/DownloadTask.h"

#include "Common/Assert.h"
#include "Common/StringEncoding.h"
#include "Platform/System.h"
#include "Storage/DataStream.h"
#include "Storage/Download/ResourceDownloader.h"
#include "Storage/ResourceManager.h"
#include "Storage/ResourceManifest.h"

#include <algorithm>

namespace Vexel
{

namespace
{
constexpr _dword _PROGRESS_INTERVAL_MS = 100;
constexpr float _ALMOST_DONE = 0.9999f;

// The key of a resource name: ASCII lower case, path-normalised; for a URL the part after "http://" with
// its separators turned into "#".
String ResourceKey(const String& source)
{
    String text = source;
    ToLower(text);
    _dword start = NormalizePath(text);
    return text.substr(start);
}

bool HasTag(const String& attributes, const String& tag)
{
    Array<String> pieces;
    Split(attributes, u":", true, pieces);
    for (std::size_t i = 0; i < pieces.Number(); ++i)
        if (Compare(pieces[i], tag, false) == 0)
            return true;
    return false;
}
} // namespace

DownloadTask::DownloadTask(ResourceDownloader& owner, int priority, _dword kind)
    : mOwner(owner), mKind(kind), mPriority(priority), mClock(GetTime)
{
    mOwner.TaskCreated();
}

DownloadTask::DownloadTask(ResourceDownloader& owner, int priority, _dword kind, DownloadLoadHandler handler,
                           void* argument)
    : mOwner(owner), mKind(kind), mPriority(priority), mFlag(_LOADING | _TASK_PAUSED), mClock(GetTime),
      mHandler(std::move(handler)), mArgument(argument)
{
    mOwner.TaskCreated();
}

DownloadTask::~DownloadTask()
{
    std::lock_guard<std::recursive_mutex> lock(mOwner.GetLock());
    for (DownloadRes* record : mResources)
        mOwner.ReleaseRecord(record);
    mResources.clear();
    for (DataStream*& stream : mStreams)
        mOwner.GetManager()->ReleaseStream(stream);
    mStreams.clear();
    mOwner.TaskDestroyed();
}

float DownloadTask::GetProgress()
{
    const _dword flag = mFlag.load();
    if (flag & _TASK_COMPLETE)
        return 1.0f;
    if (flag & (_TASK_PAUSED | _LOADING))
        return mProgress.load();
    const _dword now = mClock();
    if (now - mLastTime > _PROGRESS_INTERVAL_MS || mLastTime == 0)
    {
        std::lock_guard<std::recursive_mutex> lock(mOwner.GetLock());
        mLastTime = now == 0 ? 1 : now;
        _qword total = 0;
        _qword finished = 0;
        _dword count = 0;
        for (const DownloadRes* record : mResources)
        {
            total += record->mLength == _DOWNLOAD_UNKNOWN ? _UNKNOWN_LENGTH_WEIGHT : record->mLength;
            finished += record->mFinished;
            if (record->IsFinished())
                ++count;
        }
        mTotalBytes = static_cast<_dword>(total);
        mFinishedBytes = static_cast<_dword>(finished);
        mFinishedCount = count;
        if (count == mResources.size())
        {
            mProgress = 1.0f;
            mFlag.fetch_or(_TASK_COMPLETE);
        }
        else
            mProgress = total == 0 ? 0.0f
                                   : std::min(static_cast<float>(static_cast<double>(finished) / total),
                                              _ALMOST_DONE);
    }
    return mProgress.load();
}

_dword DownloadTask::GetResourceCount()
{
    std::lock_guard<std::recursive_mutex> lock(mOwner.GetLock());
    return static_cast<_dword>(mResources.size());
}

String DownloadTask::GetResourceName(_dword index)
{
    std::lock_guard<std::recursive_mutex> lock(mOwner.GetLock());
    return index < mResources.size() ? mResources[index]->mName : String();
}

_dword DownloadTask::GetResourceLength(_dword index)
{
    std::lock_guard<std::recursive_mutex> lock(mOwner.GetLock());
    return index < mResources.size() ? mResources[index]->mLength : 0;
}

_dword DownloadTask::GetResourceFinished(_dword index)
{
    std::lock_guard<std::recursive_mutex> lock(mOwner.GetLock());
    return index < mResources.size() ? mResources[index]->mFinished : 0;
}

void DownloadTask::GetResourceNames(Array<String>& list)
{
    std::lock_guard<std::recursive_mutex> lock(mOwner.GetLock());
    for (const DownloadRes* record : mResources)
        list.Append(record->mName);
}

void DownloadTask::GetFinishedResourceNames(Array<String>& list)
{
    std::lock_guard<std::recursive_mutex> lock(mOwner.GetLock());
    for (const DownloadRes* record : mResources)
        if (record->IsFinished())
            list.Append(record->mName);
}

void DownloadTask::GetUnfinishedResourceNames(Array<String>& list)
{
    std::lock_guard<std::recursive_mutex> lock(mOwner.GetLock());
    for (const DownloadRes* record : mResources)
        if (!record->IsFinished())
            list.Append(record->mName);
}

void DownloadTask::AddStream(DataStream* stream)
{
    std::lock_guard<std::recursive_mutex> lock(mOwner.GetLock());
    mStreams.push_back(stream);
}

DataStream* DownloadTask::GetStream(_dword index)
{
    if (!VEXEL_ASSERT_TEXT((mFlag.load() & _LOADING) == 0, u"( mFlag & _LOADING ) == 0"))
        return nullptr;
    std::lock_guard<std::recursive_mutex> lock(mOwner.GetLock());
    return index < mStreams.size() ? mStreams[index] : nullptr;
}

void DownloadTask::SetPriority(int priority)
{
    std::lock_guard<std::recursive_mutex> lock(mOwner.GetLock());
    const int old = mPriority.load();
    if (old == priority)
        return;
    mOwner.MoveTask(this, old, priority, false);
    mPriority = priority;
    mOwner.WakeDownloaders();
}

String DownloadTask::GetCookie()
{
    std::lock_guard<std::recursive_mutex> lock(mOwner.GetLock());
    return mCookie;
}

void DownloadTask::SetCookie(const String& cookie)
{
    std::lock_guard<std::recursive_mutex> lock(mOwner.GetLock());
    if (mCookie != cookie)
        mCookie = cookie;
}

void DownloadTask::Pause()
{
    mFlag.fetch_or(_TASK_PAUSED);
}

void DownloadTask::Resume()
{
    mFlag.fetch_and(~_TASK_PAUSED);
    mOwner.WakeDownloaders();
}

void DownloadTask::AddResource(const String& name, const String& alias)
{
    std::lock_guard<std::recursive_mutex> lock(mOwner.GetLock());
    const String key = ResourceKey(alias.empty() ? name : alias);
    if ((mFlag.load() & _TASK_BULK) == 0)
        for (const DownloadRes* record : mResources)
            if (record->mKey == key)
                return;
    DownloadRes* record = mOwner.GetResourceRecord(key, name, this);
    if (record == nullptr)
        return;
    if (record->mLength != _DOWNLOAD_UNKNOWN)
        mTotalBytes = mTotalBytes.load() + record->mLength;
    mResources.push_back(record);
    mFlag.fetch_and(~_TASK_COMPLETE);
    mProgress = 0.0f;
    mOwner.WakeDownloaders();
}

void DownloadTask::AddTagged(const String& tag)
{
    mFlag.fetch_or(_TASK_BULK);
    IResourceManifest* index = mOwner.GetIndex();
    if (index == nullptr)
        return;
    struct Walk
    {
        const String* tag;
        std::vector<String> names;
    } walk{tag.empty() ? nullptr : &tag, {}};
    std::unique_lock<StorageLock> storage(*mOwner.GetManager()->GetLock());
    index->Enumerate(
        [](const String& name, _dword, int, const MD5&, const String& group, void* a, void*)
        {
            auto* w = static_cast<Walk*>(a);
            if (w->tag == nullptr || HasTag(group, *w->tag))
                w->names.push_back(name);
        },
        &walk, nullptr);
    storage.unlock();
    std::lock_guard<std::recursive_mutex> lock(mOwner.GetLock());
    for (const String& name : walk.names)
        AddResource(name, String());
}

void DownloadTask::AddResourcesWithTag(const String& tag)
{
    if (!tag.empty())
        AddTagged(tag);
}

void DownloadTask::AddAllResources()
{
    AddTagged(String());
}

void DownloadTask::AddNeededResources()
{
    AddTagged(u"needed");
}

void DownloadTask::AnnounceResources()
{
    std::lock_guard<std::recursive_mutex> lock(mOwner.GetLock());
    for (const DownloadRes* record : mResources)
        mOwner.CallStartHandler(record->mName, this);
}

bool DownloadTask::AllFinished() const
{
    return std::all_of(mResources.begin(), mResources.end(),
                       [](const DownloadRes* r) { return r->IsFinished(); });
}

void DownloadTask::CompleteLoading()
{
    VEXEL_ASSERT_TEXT((mFlag.load() & _LOADING) != 0, u"mFlag & _LOADING");
    IResourceManager* manager = mOwner.GetManager();
    for (const DownloadRes* record : mResources)
    {
        VEXEL_ASSERT_TEXT(record->IsFinished(), u"res->mFinished == res->mLength");
        ByteBuffer bytes;
        if (manager->ReadResource(record->mKey, bytes, true))
            if (DataStream* stream = manager->CreateMemStream(record->mKey, bytes, MD5()))
                mStreams.push_back(stream);
    }
    mFlag.fetch_and(~_LOADING);
    if (mHandler)
        mHandler(*this, mArgument);
}

} // namespace Vexel
