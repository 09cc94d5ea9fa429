// Data streams: the reference-counted handle through which one resource is read or written. Archives
// make them; the resource manager hands them out and releases them. Every Read and Write holds the
// storage lock, so seeks and transfers never interleave with other streams or archive operations.
#pragma once

#include "Common/Compression.h"
#include "Common/Md5.h"
#include "Common/String.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace Vexel
{

class File;

// The one recursive lock shared by a resource manager's archives and streams.
using StorageLock = std::recursive_mutex;

// Count of streams in existence, reported when the resource manager goes.
int GetLiveStreamCount();

class ReferencedObject
{
public:
    virtual ~ReferencedObject() = default;
    _dword GetRefCount() const noexcept { return mRefCount; }
    _dword AddRefCount() noexcept { return ++mRefCount; }
    // Subtracts one unless the count is already 0; returns the new count.
    _dword ReleaseRefCount() noexcept { return mRefCount == 0 ? 0 : --mRefCount; }

private:
    _dword mRefCount = 1;
};

class IDataStream
{
public:
    virtual String GetName() const = 0;
    virtual const char16_t* GetNamePtr() const = 0;
    virtual const _byte* GetBuffer() const = 0;
    virtual _dword GetSize() const = 0;
    virtual MD5 GetMD5() const = 0;
    virtual bool Read(void* buffer, _dword size, _dword offset) = 0;
    virtual bool Write(const void* buffer, _dword size, _dword offset) = 0;
    virtual bool IsCompressed() = 0;
    virtual bool ReadText(ByteBuffer& text, bool decode) = 0;
    virtual bool WriteText(const ByteBuffer& text, bool encode) = 0;

protected:
    ~IDataStream() = default;
};

class DataStream : public IDataStream, public ReferencedObject
{
public:
    DataStream(StorageLock* lock, const String& name, _dword size, const MD5& md5);
    ~DataStream() override;
    DataStream(const DataStream&) = delete;
    DataStream& operator=(const DataStream&) = delete;

    String GetName() const override { return mName; }
    const char16_t* GetNamePtr() const override { return mName.c_str(); }
    const _byte* GetBuffer() const override { return nullptr; }
    _dword GetSize() const override { return mSize; }
    MD5 GetMD5() const override { return mMD5; }
    bool IsCompressed() override;
    bool ReadText(ByteBuffer& text, bool decode) override;
    bool WriteText(const ByteBuffer& text, bool encode) override;

protected:
    StorageLock* mLock;
    String mName;
    _dword mSize;
    MD5 mMD5;
};

// A resource held in a shared memory block.
class MemStream : public DataStream
{
public:
    MemStream(StorageLock* lock, const String& name, _dword size, const MD5& md5);
    // Takes over one reference of a shared block (Memory.h) of at least size bytes.
    MemStream(StorageLock* lock, const String& name, void* sharedBlock, _dword size, const MD5& md5);
    ~MemStream() override;

    const _byte* GetBuffer() const override { return mBuffer; }
    bool Read(void* buffer, _dword size, _dword offset) override;
    bool Write(const void* buffer, _dword size, _dword offset) override;
    bool WriteText(const ByteBuffer& text, bool encode) override;

private:
    _byte* mBuffer = nullptr;
};

// A resource that is a file of its own.
class DiskStream : public DataStream
{
public:
    DiskStream(StorageLock* lock, const String& name, File&& file, _dword size, const MD5& md5);
    ~DiskStream() override;

    bool Read(void* buffer, _dword size, _dword offset) override;
    bool Write(const void* buffer, _dword size, _dword offset) override;

private:
    std::unique_ptr<File> mFile;
};

// A region of a package file shared with the archive (and kept alive by every stream over it). A
// scrambled region is read through the pack key it was opened with.
class PackStream : public DataStream
{
public:
    PackStream(StorageLock* lock, const String& name, std::shared_ptr<File> file, _dword baseOffset,
               _dword size, const MD5& md5, String scrambleKey = String());

    bool Read(void* buffer, _dword size, _dword offset) override;
    bool Write(const void* buffer, _dword size, _dword offset) override;

private:
    std::shared_ptr<File> mFile;
    _dword mBaseOffset;
    String mScrambleKey; // empty: stored plain
};

// The transform of scrambled packs: the bytes of a resource at offset within it, XOR-ed with a key
// stream derived from key and the position, so any sub-range unscrambles on its own. The same call
// scrambles and unscrambles. An empty key leaves the bytes alone.
void UnscramblePack(const String& key, _byte* bytes, _dword size, _dword offset);

} // namespace Vexel
