#include "Storage/DataStream.h"

#include "Common/Assert.h"
#include "Common/Memory.h"
#include "Platform/File.h"

#include <cstring>

namespace Vexel
{

namespace
{
std::atomic<int> gLiveStreams{0};

// Byte table for deriving pack keys from their text; any fixed values do, as long as they never change.
constexpr _byte _PACK_KEY_TABLE[128] = {
    0x3a, 0x91, 0x5c, 0xe7, 0x12, 0x8b, 0xd4, 0x6f, 0xa3, 0x28, 0xf1, 0x4e, 0x97, 0x0d, 0xc6, 0x73,
    0x1f, 0xb8, 0x65, 0xda, 0x2c, 0x81, 0x4a, 0xef, 0x36, 0x9d, 0xc0, 0x57, 0xe2, 0x0b, 0x7c, 0xa9,
    0x44, 0xfb, 0x18, 0x8d, 0xd2, 0x61, 0xb6, 0x0f, 0x9a, 0x25, 0xec, 0x53, 0x7e, 0xc1, 0x38, 0x86,
    0xdf, 0x02, 0x6b, 0xb4, 0x49, 0xf6, 0x1d, 0xa0, 0x75, 0xce, 0x33, 0x88, 0xe9, 0x5e, 0x17, 0xbc,
    0x60, 0xad, 0x0a, 0xf3, 0x9f, 0x24, 0xc9, 0x72, 0x1b, 0xe4, 0x4d, 0x96, 0x3f, 0xd8, 0x81, 0x5a,
    0xb3, 0x06, 0xcf, 0x78, 0x21, 0x9c, 0xe5, 0x42, 0x8f, 0x34, 0xfd, 0x6a, 0xc3, 0x10, 0x59, 0xae,
    0x07, 0xd0, 0x7b, 0x26, 0xbd, 0x64, 0xf9, 0x4c, 0x93, 0x3e, 0xe1, 0x8a, 0x55, 0xcc, 0x19, 0xa6,
    0xfe, 0x43, 0x9e, 0x2b, 0x70, 0xc7, 0x1a, 0xb1, 0x6c, 0xd5, 0x0e, 0x87, 0x52, 0xeb, 0x30, 0x99,
};

} // namespace

int GetLiveStreamCount()
{
    return gLiveStreams.load();
}

void UnscramblePack(const String& key, _byte* bytes, _dword size, _dword offset)
{
    if (key.empty() || size == 0)
        return;
    _byte seed[16] = {};
    for (std::size_t i = 0; i < key.size(); ++i)
    {
        _byte t = _PACK_KEY_TABLE[key[i] & 0x7F];
        seed[i % 16] = static_cast<_byte>((seed[i % 16] ^ t) + static_cast<_byte>(i * 31 + (key[i] >> 7)));
    }
    // Each 16-byte block of the resource takes its key stream from MD5(seed, block number).
    _qword position = offset;
    _dword done = 0;
    while (done < size)
    {
        _dword block = static_cast<_dword>(position / 16);
        _byte input[20];
        std::memcpy(input, seed, 16);
        for (int b = 0; b < 4; ++b)
            input[16 + b] = static_cast<_byte>(block >> (8 * b));
        MD5 digest = Md5Of(input, sizeof input);
        _byte stream[16];
        for (int w = 0; w < 4; ++w)
            for (int b = 0; b < 4; ++b)
                stream[w * 4 + b] = static_cast<_byte>(digest.w[w] >> (8 * b));
        for (_dword at = static_cast<_dword>(position % 16); at < 16 && done < size; ++at, ++done, ++position)
            bytes[done] ^= stream[at];
    }
}

// --- DataStream ------------------------------------------------------------------------------------

DataStream::DataStream(StorageLock* lock, const String& name, _dword size, const MD5& md5)
    : mLock(lock), mName(name), mSize(size), mMD5(md5)
{
    for (char16_t& c : mName)
        c = AsciiLower(c);
    ++gLiveStreams;
}

DataStream::~DataStream()
{
    --gLiveStreams;
}

bool DataStream::IsCompressed()
{
    if (mSize < _PACK_HEADER_SIZE)
        return false;
    _byte head[8];
    return Read(head, sizeof head, 0) && std::memcmp(head, _PACK_SIGNATURE, sizeof head) == 0;
}

bool DataStream::ReadText(ByteBuffer& text, bool decode)
{
    text.clear();
    // An empty resource is an empty text, whether or not the kind holds a buffer for it.
    if (mSize > 0)
    {
        text.resize(mSize);
        if (!Read(text.data(), mSize, 0))
        {
            text.clear();
            return false;
        }
    }
    if (decode)
    {
        bool changed = false;
        return DecompressBuffer(text, changed);
    }
    return true;
}

bool DataStream::WriteText(const ByteBuffer& text, bool encode)
{
    if (!encode)
        return text.empty() || Write(text.data(), static_cast<_dword>(text.size()), 0);
    ByteBuffer packed = text;
    bool changed = false;
    if (!CompressBuffer(packed, changed, false))
        return false;
    return packed.empty() || Write(packed.data(), static_cast<_dword>(packed.size()), 0);
}

// --- MemStream -------------------------------------------------------------------------------------

MemStream::MemStream(StorageLock* lock, const String& name, _dword size, const MD5& md5)
    : DataStream(lock, name, size, md5)
{
    if (size > 0)
    {
        mBuffer = static_cast<_byte*>(AllocateShared(size));
        if (mBuffer)
            Fill(mBuffer, 0, size);
        else
            mSize = 0;
    }
}

MemStream::MemStream(StorageLock* lock, const String& name, void* sharedBlock, _dword size, const MD5& md5)
    : DataStream(lock, name, sharedBlock ? size : 0, md5), mBuffer(static_cast<_byte*>(sharedBlock))
{
}

MemStream::~MemStream()
{
    Release(mBuffer);
}

bool MemStream::Read(void* buffer, _dword size, _dword offset)
{
    std::lock_guard guard(*mLock);
    if (!mBuffer || static_cast<_qword>(offset) + size > mSize)
        return false;
    if (size)
        Copy(buffer, mBuffer + offset, size);
    return true;
}

bool MemStream::Write(const void* buffer, _dword size, _dword offset)
{
    std::lock_guard guard(*mLock);
    if (!mBuffer)
    {
        mBuffer = static_cast<_byte*>(AllocateShared(size));
        if (!mBuffer)
            return false;
        mSize = size;
    }
    if (static_cast<_qword>(offset) + size > mSize)
        return false;
    if (size)
        Copy(mBuffer + offset, buffer, size);
    return true;
}

bool MemStream::WriteText(const ByteBuffer& text, bool encode)
{
    ByteBuffer packed;
    const ByteBuffer* bytes = &text;
    if (encode)
    {
        packed = text;
        bool changed = false;
        if (!CompressBuffer(packed, changed, false))
            return false;
        bytes = &packed;
    }
    std::lock_guard guard(*mLock);
    void* block = bytes->empty() ? nullptr : AllocateShared(bytes->data(), bytes->size());
    if (!bytes->empty() && !block)
        return false;
    Release(mBuffer);
    mBuffer = static_cast<_byte*>(block);
    mSize = static_cast<_dword>(bytes->size());
    return true;
}

// --- DiskStream ------------------------------------------------------------------------------------

DiskStream::DiskStream(StorageLock* lock, const String& name, File&& file, _dword size, const MD5& md5)
    : DataStream(lock, name, size, md5), mFile(std::make_unique<File>(std::move(file)))
{
}

DiskStream::~DiskStream() = default;

bool DiskStream::Read(void* buffer, _dword size, _dword offset)
{
    std::lock_guard guard(*mLock);
    return mFile->Seek(offset) && mFile->Read(buffer, size);
}

bool DiskStream::Write(const void* buffer, _dword size, _dword offset)
{
    std::lock_guard guard(*mLock);
    return mFile->Seek(offset) && mFile->Write(buffer, size);
}

// --- PackStream ------------------------------------------------------------------------------------

PackStream::PackStream(StorageLock* lock, const String& name, std::shared_ptr<File> file, _dword baseOffset,
                       _dword size, const MD5& md5, String scrambleKey)
    : DataStream(lock, name, size, md5), mFile(std::move(file)), mBaseOffset(baseOffset),
      mScrambleKey(std::move(scrambleKey))
{
}

bool PackStream::Read(void* buffer, _dword size, _dword offset)
{
    std::lock_guard guard(*mLock);
    if (!mFile || static_cast<_qword>(offset) + size > mSize)
        return false;
    if (!mFile->ReadAt(static_cast<_qword>(mBaseOffset) + offset, buffer, size))
        return false;
    UnscramblePack(mScrambleKey, static_cast<_byte*>(buffer), size, offset);
    return true;
}

bool PackStream::Write(const void* buffer, _dword size, _dword offset)
{
    std::lock_guard guard(*mLock);
    if (!mFile || static_cast<_qword>(offset) + size > mSize)
        return false;
    return mFile->Seek(static_cast<_qword>(mBaseOffset) + offset) && mFile->Write(buffer, size);
}

} // namespace Vexel
