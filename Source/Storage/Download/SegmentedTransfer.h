// One resource of known length fetched from several addresses at once into a file. The bytes not yet at
// hand are cut into segments; each address works on one segment at a time with a ranged request, and an
// address that is slow or silent loses the rest of its segment to one that has nothing left to do (split
// by the two addresses' speeds, or taken whole from a silent or much slower one). Only 206 replies of a
// resource of the same length are written, so bytes of two different files are never joined; an address
// that answers otherwise is left out. The digest of the file is taken in order as its front fills, on a
// thread of its own, so nobody needs to read the whole file again, and nothing larger than a transfer's
// blocks is held in memory.
//
// Poll applies the rules on the owner's thread with the owner's clock (no progress for a while: the
// address is given up on and rests, longer each time; no host asked more than once per interval). The
// requests run on threads of their own and only write bytes.
#pragma once

#include "Common/Md5.h"
#include "Common/String.h"
#include "Platform/File.h"
#include "Storage/Download/WebTransfer.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace Vexel
{

struct SegmentedTransferRules
{
    int parallel = 3;                    // addresses asked at the same time
    _qword stallMs = 5000;               // a request without progress this long is given up on
    _qword askIntervalMs = 1000;         // no host is asked again sooner
    _qword restFirstMs = 1000;           // an address given up on waits this long, doubling each time
    _qword restMaxMs = 30000;            //   up to this
    _qword silentMs = 1000;              // a request this long without progress may lose all it has left
    std::int64_t minPiece = 1024 * 1024; // shares smaller than this are not split off a running request
};

struct SegmentedSource
{
    String url;  // the full address asked
    String host; // the key of the ask times (host and port)
};

class SegmentedTransfer
{
public:
    enum class State
    {
        Running,
        Done,   // every byte is in the file and its digest is known
        Failed, // no address can serve a range of the resource, or the file cannot be written
    };

    // headers: request header lines for every address. clock: milliseconds. asked: when each host was last
    // asked (shared with the owner's other requests; read and written by Poll only).
    SegmentedTransfer(std::vector<SegmentedSource> sources, const std::vector<String>& headers,
                      std::int64_t total, SegmentedTransferRules rules, std::function<_qword()> clock,
                      std::map<String, _qword>* asked);
    // Ends every request and waits for them; the file stays for the owner to keep or delete.
    ~SegmentedTransfer();
    SegmentedTransfer(const SegmentedTransfer&) = delete;
    SegmentedTransfer& operator=(const SegmentedTransfer&) = delete;

    // Creates the file (replacing one that exists) with head as its first bytes (what an earlier request
    // brought from byte 0) and starts the requests. False when the file cannot be written.
    bool Start(const String& path, const _byte* head, std::size_t headSize);
    State Poll();
    // Closes the file once Done, so that it can be moved while requests given up on may still be ending
    // (a silent server's request notices its end within about a second).
    void CloseFile();

    std::int64_t Total() const { return mTotal; }
    // Bytes of the resource in the file.
    std::int64_t Received() const;
    // Bytes the servers sent, those given up when a segment was cut included.
    std::int64_t Fetched() const;
    // The digest of the file's bytes; valid once Done.
    const MD5& Digest() const { return mDigest; }
    // Requests made.
    int Requests() const { return mRequests; }
    // Requests running now (those being given up included, until they have ended).
    int Requesting() const;
    // The address of each request, in order (for the trace and tests).
    const std::vector<String>& Asked() const { return mAskedUrls; }

private:
    struct Segment
    {
        std::int64_t begin = 0;
        std::int64_t end = 0;      // exclusive; lowered when the rest goes to another request
        std::int64_t reserved = 0; // bytes from begin handed to the writer
        std::int64_t written = 0;  // bytes from begin in the file
        int owner = -1;            // the source working on it; -1: free, -2: done from the start
    };
    struct Attempt;
    struct Source;

    // On a request's thread: the bytes of a block go to the file; returns how many were taken.
    // A request that reaches its segment's end runs on into a free segment right after it, up to the end
    // it asked for.
    std::size_t Take(Attempt& attempt, const _byte* data, std::size_t size);
    // The end of the bytes from byte 0 that are in the file (under mLock).
    std::int64_t FilledFront() const;
    // Cuts a segment at what its request has taken; the rest becomes a free segment (under mLock).
    void CutSegment(std::size_t segment);
    void StartAttempt(std::size_t source, std::size_t segment, _qword now);
    void ReapAttempts(_qword now);
    void ApplyStallRule(_qword now);
    void AssignWork(_qword now);
    // A share of another request's segment for an idle source; false when no split is worth making.
    bool Steal(std::size_t thief, _qword now);
    void Rest(Source& source, _qword now);
    void HashLoop();

    std::vector<std::unique_ptr<Source>> mSources;
    const std::int64_t mTotal;
    const SegmentedTransferRules mRules;
    std::function<_qword()> mClock;
    std::map<String, _qword>* mAskedAt;
    String mPath;
    int mRequests = 0;
    std::vector<String> mAskedUrls;

    mutable std::mutex mLock; // segments, counts, the hasher's signal
    std::vector<Segment> mSegments;
    std::int64_t mFetched = 0;
    bool mWriteFailed = false;
    std::condition_variable mFilled;
    bool mStopping = false;

    std::mutex mFileLock;
    File mFile;

    std::thread mHasher;
    std::atomic<bool> mHashed{false};
    std::atomic<bool> mHashFailed{false};
    MD5 mDigest;
    bool mStarted = false;
};

} // namespace Vexel
