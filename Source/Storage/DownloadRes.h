// One resource being downloaded, shared by every task that wants it: it collects the bytes, checks them
// against the expected digest, unpacks packed data and hands the result to the resource manager.
// Everything here runs with the resource downloader's lock held.
#pragma once

#include "Common/Md5.h"
#include "Common/String.h"
#include "Storage/Downloader.h"

namespace Vexel
{

class DataStream;
class ResourceDownloader;

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
    // unknown length takes its length from its first (whole-file) write. Finishes when complete.
    void Write(const _byte* data, _dword size, _dword position);
    // Checks the digest and stores the resource, or reports a mismatch and starts over.
    void Finish();
    // Drops what arrived; a resource of length 0 is finished at once.
    void Reset();

    bool IsFinished() const noexcept { return mFinished == mLength; }
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
    // Not asked for again before this time (milliseconds of GetTime).
    _dword mRetryAt = 0;
    // Set when the resource can never be right (an empty resource whose digest is not that of nothing).
    bool mRefused = false;

private:
    ResourceDownloader& mOwner;
};

} // namespace Vexel
