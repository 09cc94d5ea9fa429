// One resource being downloaded, shared by every task that wants it: it collects the bytes, checks them
// against the expected digest, unpacks packed data and hands the result to the resource manager.
// Everything here runs with the resource downloader's lock held.
#pragma once

#include "Common/Md5.h"
#include "Common/String.h"
#include "Storage/Download/Downloader.h"

namespace Vexel
{

class DataStream;
class ResourceDownloader;

enum class DownloadCheck
{
    Stored,
    BadDigest,
    Refused, // an empty resource whose digest is not that of nothing
    StoreFailed,
};

enum class DownloadFailure
{
    None,
    Fetch,  // the source gave no data
    Digest, // the bytes did not match the expected digest
    Store,  // the resource manager could not store it
};

class DownloadRes
{
public:
    DownloadRes(ResourceDownloader& owner, const String& key, const String& name, bool url, _dword length,
                _dword offset, const MD5& digest);
    // Releases the output stream.
    ~DownloadRes();
    DownloadRes(const DownloadRes&) = delete;
    DownloadRes& operator=(const DownloadRes&) = delete;

    // Takes size bytes (data may be null to count only) at position within the resource. A resource of
    // unknown length takes its length from its first (whole-file) write. When complete, the resource is
    // handed to the owner's check queue (see Check).
    void Write(const _byte* data, _dword size, _dword position);
    // Checks and concludes at once.
    void Finish();
    // The digest check, unpacking and store of a complete resource. It reads only the record's stream
    // and fixed fields, so the owner runs it without its lock (several at a time on several workers)
    // while the record is marked as checking.
    DownloadCheck Check();
    // Applies a check's outcome (lock held): failures are counted, a bad digest starts over.
    void Conclude(DownloadCheck outcome);
    // Drops what arrived; a resource of length 0 is finished at once.
    void Reset();

    // Every byte arrived (it may still be being checked).
    bool IsComplete() const noexcept { return mFinished == mLength; }
    // Complete, checked and stored (or refused).
    bool IsFinished() const noexcept { return mFinished == mLength && !mChecking; }
    // Counts a failure and holds the resource back for a while (longer after each), so a source that
    // keeps failing is not asked again at once.
    void NoteFailure(DownloadFailure kind);
    // Held back after a failure.
    bool IsWaiting() const;

    _dword mRefCount = 1;
    String mKey;
    String mName;
    bool mURL = false;
    _dword mLength = _DOWNLOAD_UNKNOWN;
    _dword mOffset = _DOWNLOAD_UNKNOWN;
    _dword mFinished = 0;
    MD5 mDigest;
    DataStream* mStream = nullptr;
    // By-name requests in flight (so a resource is asked of one downloader at a time).
    _dword mPending = 0;
    // Digest mismatches, failed fetches and failed stores so far, and the last kind.
    _dword mFailures = 0;
    DownloadFailure mLastFailure = DownloadFailure::None;
    // What the source answered the last failed fetch: its HTTP status (0 when none) and the URL.
    int mFailureStatus = 0;
    String mFailureUrl;
    // Not asked for again before this time (milliseconds of GetTime).
    _dword mRetryAt = 0;
    // Complete and waiting for (or in) its check.
    bool mChecking = false;
    // Set when the resource can never be right (an empty resource whose digest is not that of nothing).
    bool mRefused = false;

private:
    ResourceDownloader& mOwner;
};

} // namespace Vexel
