#include "Storage/Download/DownloadRes.h"

#include "Common/Assert.h"
#include "Common/Compression.h"
#include "Common/Log.h"
#include "Platform/System.h"
#include "Storage/DataStream.h"
#include "Storage/Download/ResourceDownloader.h"
#include "Storage/ResourceManager.h"

#include <algorithm>

namespace Vexel
{

namespace
{
constexpr _dword _RETRY_STEP_MS = 1000;
constexpr _dword _MAX_RETRY_STEPS = 10;
} // namespace

DownloadRes::DownloadRes(ResourceDownloader& owner, const String& key, const String& name, bool url,
                         _dword length, _dword offset, const MD5& digest)
    : mKey(key), mName(name), mURL(url), mLength(length), mOffset(offset), mDigest(digest), mOwner(owner)
{
}

DownloadRes::~DownloadRes()
{
    if (mStream != nullptr)
        mOwner.GetManager()->ReleaseStream(mStream);
}

void DownloadRes::Write(const _byte* data, _dword size, _dword position)
{
    if (mLength == _DOWNLOAD_UNKNOWN || mOffset == _DOWNLOAD_UNKNOWN)
    {
        // A whole-file fetch: its size is the length, also when an earlier attempt failed its digest.
        mLength = size;
        mFinished = size;
    }
    else
    {
        // More than the resource holds would be a fault upstream; never write past its end.
        if (!VEXEL_ASSERT_TEXT(static_cast<_qword>(mFinished) + size <= mLength,
                               u"mFinished + length <= mLength"))
            return;
        mFinished += size;
    }
    if (data != nullptr && size > 0)
    {
        IResourceManager* manager = mOwner.GetManager();
        if (mStream == nullptr)
            mStream = manager->CreateMemStream(mKey, mLength, mDigest);
        if (mStream == nullptr || !mStream->Write(data, size, position))
            LogBoth(FormatString(u"[DL] Can not keep resource data : %ls", mKey).c_str());
    }
    if (mFinished == mLength)
    {
        mChecking = true;
        mOwner.QueueCheck(this);
    }
}

void DownloadRes::Finish()
{
    mChecking = true;
    Conclude(Check());
}

DownloadCheck DownloadRes::Check()
{
    IResourceManager* manager = mOwner.GetManager();
    MD5 digest;
    if (mStream != nullptr)
    {
        ByteBuffer bytes;
        if (const _byte* buffer = mStream->GetBuffer())
            digest = Md5Of(buffer, mStream->GetSize());
        else if (mStream->ReadText(bytes, false))
            digest = Md5Of(bytes.data(), bytes.size());
    }
    else
        digest = Md5Of(nullptr, 0);

    if (!mDigest.IsZero() && !(mDigest == digest))
    {
        String text =
            mURL ? FormatString(u"[DL] Bad checksum : %ls (%ls) - %ls", mKey, mName, Md5ToText(digest))
                 : FormatString(u"[DL] Bad checksum : %ls - %ls", mKey, Md5ToText(digest));
        LogBoth(text.c_str());
        // Nothing can ever match an empty resource with another digest: refuse it instead of starting
        // over without end.
        return mLength == 0 ? DownloadCheck::Refused : DownloadCheck::BadDigest;
    }

    if (mOwner.IsVerbose())
    {
        if (mURL)
            LogTrace(u"[DL] Finish resource : %ls (%ls) - %ls", mKey, mName, Md5ToText(digest));
        else
            LogTrace(u"[DL] Finish resource : %ls - %ls", mKey, Md5ToText(digest));
    }

    bool stored;
    if (mStream == nullptr)
        stored = mURL ? manager->WriteResourceLocal(mKey, nullptr, 0, digest)
                      : manager->WriteResource(mKey, nullptr, 0, digest);
    else
    {
        if (mStream->IsCompressed() && !manager->GetOption())
        {
            ByteBuffer bytes;
            bool changed = false;
            if (mStream->ReadText(bytes, false) && DecompressBuffer(bytes, changed))
                mStream->WriteText(bytes, false);
            else
                LogBoth(FormatString(u"[DL] Decompress resource fail: %ls(%ls)", mKey, mName).c_str());
        }
        ByteBuffer copy;
        const _byte* buffer = mStream->GetBuffer();
        _dword size = mStream->GetSize();
        if (buffer == nullptr && size > 0 && mStream->ReadText(copy, false))
            buffer = copy.data();
        stored = mURL ? manager->WriteResourceLocal(mKey, buffer, size, digest)
                      : manager->WriteResource(mKey, buffer, size, digest);
        manager->ReleaseStream(mStream);
    }
    if (!stored)
    {
        LogBoth(FormatString(u"[DL] Can not store resource : %ls", mKey).c_str());
        return DownloadCheck::StoreFailed;
    }
    return DownloadCheck::Stored;
}

void DownloadRes::Conclude(DownloadCheck outcome)
{
    mChecking = false;
    switch (outcome)
    {
    case DownloadCheck::Stored:
        break;
    case DownloadCheck::BadDigest:
        NoteFailure(DownloadFailure::Digest);
        Reset();
        break;
    case DownloadCheck::Refused:
        NoteFailure(DownloadFailure::Digest);
        mRefused = true;
        break;
    case DownloadCheck::StoreFailed:
        NoteFailure(DownloadFailure::Store);
        break;
    }
}

void DownloadRes::NoteFailure(DownloadFailure kind)
{
    ++mFailures;
    mLastFailure = kind;
    mRetryAt = GetTime() + std::min<_dword>(mFailures, _MAX_RETRY_STEPS) * _RETRY_STEP_MS;
}

bool DownloadRes::IsWaiting() const
{
    return mFailures > 0 && static_cast<int>(GetTime() - mRetryAt) < 0;
}

void DownloadRes::Reset()
{
    if (mStream != nullptr)
        mOwner.GetManager()->ReleaseStream(mStream);
    mFinished = 0;
    if (mLength == 0 && !mRefused)
        Finish();
}

} // namespace Vexel
