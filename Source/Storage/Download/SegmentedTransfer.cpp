#include "Storage/Download/SegmentedTransfer.h"

#include "Common/Log.h"

#include <algorithm>
#include <limits>

namespace Vexel
{

namespace
{
constexpr std::size_t _HASH_BLOCK = std::size_t(1) << 20;
// Speeds are measured over polls at least this far apart.
constexpr _qword _SAMPLE_MS = 200;
} // namespace

struct SegmentedTransfer::Attempt
{
    std::atomic<bool> abort{false};
    std::atomic<bool> finished{false};
    std::atomic<std::int64_t> taken{0};
    bool ok = false; // written by the request's thread before finished
    WebCounts counts;
    std::size_t segment = 0;
    std::int64_t askedEnd = 0; // the end of the range asked for
    _qword startedAt = 0;
    bool stalled = false; // given up by the stall rule
    bool cut = false;     // its rest went to another address
    std::thread thread;
};

struct SegmentedTransfer::Source
{
    SegmentedSource where;
    WebHandle handle = nullptr;
    std::unique_ptr<Attempt> attempt;
    bool out = false; // answered a range with another file or the whole file
    _qword restUntil = 0;
    _qword rest = 0;
    _qword movedAt = 0;
    std::int64_t seen = 0;
    _qword sampleAt = 0;
    std::int64_t sampleBytes = 0;
    double rate = -1.0; // bytes per millisecond; below 0: not measured yet

    ~Source()
    {
        if (handle != nullptr)
            DestroyWebHandle(handle);
    }
    // A request that still counts: not being given up.
    bool Working() const { return attempt && !attempt->stalled && !attempt->cut; }
};

SegmentedTransfer::SegmentedTransfer(std::vector<SegmentedSource> sources, const std::vector<String>& headers,
                                     std::int64_t total, SegmentedTransferRules rules,
                                     std::function<_qword()> clock, std::map<String, _qword>* asked)
    : mTotal(total), mRules(rules), mClock(std::move(clock)), mAskedAt(asked)
{
    for (SegmentedSource& where : sources)
    {
        auto source = std::make_unique<Source>();
        source->where = std::move(where);
        source->handle = CreateWebHandle();
        for (const String& header : headers)
            AppendWebHandleHeader(source->handle, header);
        mSources.push_back(std::move(source));
    }
}

SegmentedTransfer::~SegmentedTransfer()
{
    for (auto& source : mSources)
        if (source->attempt)
            source->attempt->abort.store(true);
    for (auto& source : mSources)
        if (source->attempt && source->attempt->thread.joinable())
            source->attempt->thread.join();
    {
        std::lock_guard<std::mutex> lock(mLock);
        mStopping = true;
    }
    mFilled.notify_all();
    if (mHasher.joinable())
        mHasher.join();
    mFile.Close();
}

bool SegmentedTransfer::Start(const String& path, const _byte* head, std::size_t headSize)
{
    mPath = path;
    if (mSources.empty() || mTotal <= 0 || static_cast<std::int64_t>(headSize) > mTotal ||
        !mFile.Create(path) || (headSize > 0 && !mFile.Write(head, static_cast<_dword>(headSize))))
    {
        LogTrace(u"[WS] Cannot start a download in segments into %ls", path);
        return false;
    }
    const auto front = static_cast<std::int64_t>(headSize);
    {
        std::lock_guard<std::mutex> lock(mLock);
        if (front > 0)
            mSegments.push_back({0, front, front, front, -2});
        mFetched = front;
        // One part per address that will be asked at once; speeds even it out later.
        const std::int64_t parts =
            std::max<std::int64_t>(1, std::min<std::int64_t>(mRules.parallel, std::ssize(mSources)));
        const std::int64_t rest = mTotal - front;
        for (std::int64_t i = 0; i < parts && rest > 0; ++i)
        {
            const std::int64_t begin = front + rest * i / parts;
            const std::int64_t end = front + rest * (i + 1) / parts;
            if (end > begin)
                mSegments.push_back({begin, end, 0, 0, -1});
        }
    }
    LogTrace(u"[WS] Download of %I64d bytes in segments from %d addresses, %I64d bytes at hand : %ls", mTotal,
             static_cast<int>(mSources.size()), front, path);
    mStarted = true;
    mHasher = std::thread([this] { HashLoop(); });
    return true;
}

void SegmentedTransfer::CloseFile()
{
    {
        // Nothing more is taken, so no request writes again.
        std::lock_guard<std::mutex> lock(mLock);
        for (Segment& segment : mSegments)
            segment.end = std::min(segment.end, segment.begin + segment.reserved);
    }
    std::lock_guard<std::mutex> lock(mFileLock);
    mFile.Close();
}

std::int64_t SegmentedTransfer::Received() const
{
    std::lock_guard<std::mutex> lock(mLock);
    std::int64_t received = 0;
    for (const Segment& segment : mSegments)
        received += segment.written;
    return received;
}

int SegmentedTransfer::Requesting() const
{
    int running = 0;
    for (const auto& source : mSources)
        if (source->attempt)
            ++running;
    return running;
}

std::int64_t SegmentedTransfer::Fetched() const
{
    std::lock_guard<std::mutex> lock(mLock);
    return mFetched;
}

std::size_t SegmentedTransfer::Take(Attempt& attempt, const _byte* data, std::size_t size)
{
    const std::size_t index = attempt.segment;
    std::int64_t at = 0;
    std::size_t allowed = 0;
    {
        std::lock_guard<std::mutex> lock(mLock);
        mFetched += static_cast<std::int64_t>(size);
        if (mWriteFailed)
            return 0;
        at = mSegments[index].begin + mSegments[index].reserved;
        const std::int64_t blockEnd = at + static_cast<std::int64_t>(size);
        for (bool grown = true; grown && mSegments[index].end < std::min(blockEnd, attempt.askedEnd);)
        {
            // Nobody took the free segment after this one: no new request is needed for it.
            grown = false;
            const std::int64_t end = mSegments[index].end;
            for (Segment& next : mSegments)
                if (next.owner == -1 && next.begin == end && next.end > next.begin)
                {
                    mSegments[index].end = next.begin = std::min(next.end, attempt.askedEnd);
                    grown = true;
                    break;
                }
        }
        Segment& segment = mSegments[index];
        const std::int64_t left = segment.end - at;
        if (left <= 0)
            return 0;
        allowed = static_cast<std::size_t>(std::min<std::int64_t>(left, static_cast<std::int64_t>(size)));
        segment.reserved += static_cast<std::int64_t>(allowed);
    }
    bool written;
    {
        std::lock_guard<std::mutex> lock(mFileLock);
        written = mFile.Seek(static_cast<_qword>(at)) && mFile.Write(data, static_cast<_dword>(allowed));
    }
    {
        std::lock_guard<std::mutex> lock(mLock);
        if (!written)
        {
            if (!mWriteFailed)
                LogTrace(u"[WS] Cannot write %I64d bytes at %I64d of %ls", static_cast<std::int64_t>(allowed),
                         at, mPath);
            mWriteFailed = true;
            return 0;
        }
        mSegments[index].written += static_cast<std::int64_t>(allowed);
    }
    mFilled.notify_all();
    return allowed;
}

std::int64_t SegmentedTransfer::FilledFront() const
{
    // Segments cover the resource without overlap, each filled from its start.
    std::int64_t front = 0;
    for (bool moved = true; moved && front < mTotal;)
    {
        moved = false;
        for (const Segment& segment : mSegments)
            if (segment.begin <= front && front < segment.end)
            {
                if (segment.begin + segment.written > front)
                {
                    front = segment.begin + segment.written;
                    moved = true;
                }
                break;
            }
    }
    return front;
}

void SegmentedTransfer::CutSegment(std::size_t index)
{
    Segment& segment = mSegments[index];
    const std::int64_t taken = segment.begin + segment.reserved;
    if (taken >= segment.end)
        return;
    const Segment rest{taken, segment.end, 0, 0, -1};
    segment.end = taken;
    mSegments.push_back(rest);
}

void SegmentedTransfer::Rest(Source& source, _qword now)
{
    source.rest = source.rest == 0 ? mRules.restFirstMs : std::min(source.rest * 2, mRules.restMaxMs);
    source.restUntil = now + source.rest;
}

void SegmentedTransfer::StartAttempt(std::size_t index, std::size_t segmentIndex, _qword now)
{
    Source& source = *mSources[index];
    auto attempt = std::make_unique<Attempt>();
    attempt->segment = segmentIndex;
    attempt->startedAt = now;
    std::int64_t begin, end;
    {
        std::lock_guard<std::mutex> lock(mLock);
        Segment& segment = mSegments[segmentIndex];
        segment.owner = static_cast<int>(index);
        begin = segment.begin;
        end = segment.end;
        // The free segments right after it are asked for too, so that this request runs on into them
        // when nobody else has taken them by then (a host that finishes early needs no second request).
        for (bool found = true; found;)
        {
            found = false;
            for (const Segment& next : mSegments)
                if (next.owner == -1 && next.begin == end && next.end > next.begin)
                {
                    end = next.end;
                    found = true;
                    break;
                }
        }
    }
    attempt->askedEnd = end;
    source.seen = 0;
    source.movedAt = now;
    source.sampleAt = now;
    source.sampleBytes = 0;
    (*mAskedAt)[source.where.host] = now;
    ++mRequests;
    mAskedUrls.push_back(source.where.url);
    LogTrace(u"[WS] Segment %I64d-%I64d of %I64d from %ls", begin, end - 1, mTotal, source.where.url);
    Attempt* raw = attempt.get();
    const String url = source.where.url;
    WebHandle handle = source.handle;
    attempt->thread = std::thread(
        [this, raw, url, handle, begin, end]
        {
            WebRequest request;
            request.url = url;
            request.handle = handle;
            request.begin = begin;
            request.end = end;
            request.wholeLength = mTotal;
            request.counts = &raw->counts;
            request.abort = &raw->abort;
            request.sink = [this, raw](const _byte* data, std::size_t size)
            {
                const std::size_t taken = Take(*raw, data, size);
                raw->taken.fetch_add(static_cast<std::int64_t>(taken));
                return taken;
            };
            raw->ok = PerformWebRequest(request);
            raw->finished.store(true, std::memory_order_release);
        });
    source.attempt = std::move(attempt);
}

void SegmentedTransfer::ReapAttempts(_qword now)
{
    for (auto& owned : mSources)
    {
        Source& source = *owned;
        Attempt* attempt = source.attempt.get();
        if (attempt == nullptr || !attempt->finished.load(std::memory_order_acquire))
            continue;
        attempt->thread.join();
        bool whole;
        {
            std::lock_guard<std::mutex> lock(mLock);
            const Segment& segment = mSegments[attempt->segment];
            whole = segment.begin + segment.reserved >= segment.end;
            CutSegment(attempt->segment);
        }
        if (attempt->counts.refused.load())
        {
            // Its bytes may be of another file: none of them are joined to the others'.
            LogTrace(u"[WS] %ls does not serve ranges of this resource, left out", source.where.url);
            source.out = true;
        }
        else if (!attempt->stalled && !attempt->cut && (!attempt->ok || !whole))
        {
            Rest(source, now);
            LogTrace(u"[WS] %ls ended its segment early, asked again in %d ms at the soonest",
                     source.where.url, static_cast<int>(source.rest));
        }
        else if (attempt->ok && whole)
            source.rest = 0;
        source.attempt.reset();
    }
}

void SegmentedTransfer::ApplyStallRule(_qword now)
{
    for (auto& owned : mSources)
    {
        Source& source = *owned;
        if (!source.Working())
            continue;
        Attempt& attempt = *source.attempt;
        const std::int64_t taken = attempt.taken.load();
        if (taken > source.seen)
        {
            source.seen = taken;
            source.movedAt = now;
        }
        if (now >= source.sampleAt + _SAMPLE_MS)
        {
            const double speed =
                static_cast<double>(taken - source.sampleBytes) / static_cast<double>(now - source.sampleAt);
            source.rate = source.rate < 0.0 ? speed : (source.rate + speed) / 2.0;
            source.sampleAt = now;
            source.sampleBytes = taken;
        }
        std::int64_t left;
        {
            std::lock_guard<std::mutex> lock(mLock);
            const Segment& segment = mSegments[attempt.segment];
            left = segment.end - (segment.begin + segment.reserved);
        }
        if (left <= 0 && now - source.movedAt >= mRules.stallMs)
        {
            // Its segment is whole; only its run-on into the next free part went silent.
            attempt.cut = true;
            attempt.abort.store(true);
        }
        else if (left > 0 && now - source.movedAt >= mRules.stallMs)
        {
            LogTrace(u"[WS] No progress from %ls for %d ms, its segment goes to the other addresses",
                     source.where.url, static_cast<int>(now - source.movedAt));
            attempt.stalled = true;
            attempt.abort.store(true);
            {
                std::lock_guard<std::mutex> lock(mLock);
                CutSegment(attempt.segment);
            }
            source.rate = 0.0;
            Rest(source, now);
        }
    }
}

bool SegmentedTransfer::Steal(std::size_t thiefIndex, _qword now)
{
    Source& thief = *mSources[thiefIndex];
    // The request expected to finish last, by its speed (unmeasured: by its bytes left).
    Source* victim = nullptr;
    double victimTime = -1.0;
    std::int64_t victimLeft = 0;
    for (auto& owned : mSources)
    {
        Source& source = *owned;
        if (&source == &thief || !source.Working())
            continue;
        std::int64_t left;
        {
            std::lock_guard<std::mutex> lock(mLock);
            const Segment& segment = mSegments[source.attempt->segment];
            left = segment.end - (segment.begin + segment.reserved);
        }
        // A request that has just begun is not judged before its speed is known.
        if (left <= 0 || (source.rate < 0.0 && now - source.attempt->startedAt < mRules.silentMs))
            continue;
        const bool silent = now - source.movedAt >= mRules.silentMs;
        double time;
        if (silent || source.rate == 0.0)
            time = std::numeric_limits<double>::infinity();
        else
            time = static_cast<double>(left) / (source.rate > 0.0  ? source.rate
                                                : thief.rate > 0.0 ? thief.rate
                                                                   : 1.0);
        if (time > victimTime || (time == victimTime && left > victimLeft))
        {
            victim = &source;
            victimTime = time;
            victimLeft = left;
        }
    }
    // A host of unknown speed might stall as well: it is given no share of work that will be done within
    // a second anyway (its share could then wait for the others' next turn).
    if (victim == nullptr || (thief.rate < 0.0 && victimTime < static_cast<double>(mRules.silentMs)))
        return false;
    const bool silent = now - victim->movedAt >= mRules.silentMs;
    const double victimRate = silent ? 0.0 : victim->rate;
    // Shares that let both finish together.
    double share;
    if (victimRate == 0.0)
        share = static_cast<double>(victimLeft);
    else if (victimRate > 0.0 && thief.rate > 0.0)
        share = static_cast<double>(victimLeft) * thief.rate / (thief.rate + victimRate);
    else
        share = static_cast<double>(victimLeft) / 2.0;
    const auto piece = static_cast<std::int64_t>(share);
    bool whole = piece >= victimLeft;
    if (!whole && (piece < mRules.minPiece || victimLeft - piece < mRules.minPiece))
    {
        // Too little to split: only a much slower request near its end is worth taking over.
        if (!(victimRate > 0.0 && thief.rate > 0.0 && victimRate * 2.0 < thief.rate))
            return false;
        whole = true;
    }
    Attempt& attempt = *victim->attempt;
    std::size_t taken;
    std::int64_t from;
    {
        std::lock_guard<std::mutex> lock(mLock);
        Segment& segment = mSegments[attempt.segment];
        const std::int64_t reserved = segment.begin + segment.reserved;
        from = whole ? reserved : segment.end - piece;
        if (from < reserved)
            from = reserved;
        if (from >= segment.end)
            return false;
        const Segment rest{from, segment.end, 0, 0, -1};
        segment.end = from;
        taken = mSegments.size();
        mSegments.push_back(rest);
    }
    if (whole)
    {
        // Its request has nothing left to fetch: it ends at its next block.
        attempt.cut = true;
        attempt.abort.store(true);
    }
    LogTrace(u"[WS] %ls takes over %ls's segment from byte %I64d", thief.where.url, victim->where.url, from);
    StartAttempt(thiefIndex, taken, now);
    return true;
}

void SegmentedTransfer::AssignWork(_qword now)
{
    int working = 0;
    for (auto& source : mSources)
        if (source->Working())
            ++working;
    // Free segments are handed out first and their requests started after, so that a request runs on
    // only into free segments that no host can be given now.
    std::vector<std::pair<std::size_t, std::size_t>> starts;
    for (std::size_t i = 0; i < mSources.size() && working < mRules.parallel; ++i)
    {
        Source& source = *mSources[i];
        if (source.out || source.attempt || now < source.restUntil)
            continue;
        auto asked = mAskedAt->find(source.where.host);
        if (asked != mAskedAt->end() && now - asked->second < mRules.askIntervalMs)
            continue;
        std::size_t free = mSegments.size();
        {
            std::lock_guard<std::mutex> lock(mLock);
            for (std::size_t k = 0; k < mSegments.size(); ++k)
            {
                const Segment& segment = mSegments[k];
                if (segment.owner == -1 && segment.end > segment.begin &&
                    (free == mSegments.size() || segment.begin < mSegments[free].begin))
                    free = k;
            }
            if (free != mSegments.size())
                mSegments[free].owner = static_cast<int>(i);
        }
        if (free != mSegments.size())
        {
            starts.emplace_back(i, free);
            ++working;
        }
        else if (Steal(i, now))
            ++working;
    }
    for (const auto& [source, segment] : starts)
        StartAttempt(source, segment, now);
}

SegmentedTransfer::State SegmentedTransfer::Poll()
{
    if (!mStarted)
        return State::Failed;
    const _qword now = mClock();
    ReapAttempts(now);
    {
        std::lock_guard<std::mutex> lock(mLock);
        if (mWriteFailed)
            return State::Failed;
    }
    if (mHashFailed.load())
    {
        LogTrace(u"[WS] Cannot read back %ls for its digest", mPath);
        return State::Failed;
    }
    if (mHashed.load(std::memory_order_acquire))
        return State::Done;
    ApplyStallRule(now);
    AssignWork(now);
    for (auto& source : mSources)
        if (!source->out || source->attempt)
            return State::Running;
    LogTrace(u"[WS] No address serves ranges of %ls", mPath);
    return State::Failed;
}

void SegmentedTransfer::HashLoop()
{
    File in;
    if (!in.OpenRead(mPath))
    {
        mHashFailed.store(true);
        return;
    }
    Md5Hasher hasher;
    std::vector<_byte> block(_HASH_BLOCK);
    std::int64_t hashed = 0;
    while (hashed < mTotal)
    {
        std::int64_t front;
        {
            std::unique_lock<std::mutex> lock(mLock);
            mFilled.wait(lock, [&] { return mStopping || FilledFront() > hashed; });
            if (mStopping)
                return;
            front = FilledFront();
        }
        while (hashed < front)
        {
            const auto size = static_cast<_dword>(std::min<std::int64_t>(std::ssize(block), front - hashed));
            if (!in.ReadAt(static_cast<_qword>(hashed), block.data(), size))
            {
                mHashFailed.store(true);
                return;
            }
            hasher.Update(block.data(), size);
            hashed += size;
        }
    }
    mDigest = hasher.Final();
    mHashed.store(true, std::memory_order_release);
}

} // namespace Vexel
