#include "Platform/File.h"

#include "Common/Assert.h"
#include "Platform/System.h"

#include <atomic>
#include <cstring>

namespace Vexel
{

namespace
{

constexpr _dword _BLOCK_SIZE = 65536;

// Relaxed atomics cost the same as plain increments here and keep worker threads' counts well defined.
struct Counters
{
    std::atomic<_dword> reads{0};
    std::atomic<_dword> writes{0};
    std::atomic<_dword> others{0};
    std::atomic<_dword> mainReads{0};
    std::atomic<_dword> mainWrites{0};
    std::atomic<_dword> mainOthers{0};
};

Counters& TheCounters()
{
    static Counters sCounters;
    return sCounters;
}

} // namespace

namespace Detail
{

void CountFileRead()
{
    Counters& c = TheCounters();
    c.reads.fetch_add(1, std::memory_order_relaxed);
    if (IsMainThread())
        c.mainReads.fetch_add(1, std::memory_order_relaxed);
}

void CountFileWrite()
{
    Counters& c = TheCounters();
    c.writes.fetch_add(1, std::memory_order_relaxed);
    if (IsMainThread())
        c.mainWrites.fetch_add(1, std::memory_order_relaxed);
}

void CountFileOther()
{
    Counters& c = TheCounters();
    c.others.fetch_add(1, std::memory_order_relaxed);
    if (IsMainThread())
        c.mainOthers.fetch_add(1, std::memory_order_relaxed);
}

} // namespace Detail

FileCounters GetFileCounters()
{
    const Counters& c = TheCounters();
    FileCounters out;
    out.reads = c.reads.load(std::memory_order_relaxed);
    out.writes = c.writes.load(std::memory_order_relaxed);
    out.others = c.others.load(std::memory_order_relaxed);
    out.mainReads = c.mainReads.load(std::memory_order_relaxed);
    out.mainWrites = c.mainWrites.load(std::memory_order_relaxed);
    out.mainOthers = c.mainOthers.load(std::memory_order_relaxed);
    return out;
}

File::~File()
{
    Close();
}

File::File(File&& other) noexcept : mHandle(other.mHandle)
{
    other.mHandle = _NULL_FILE_HANDLE;
}

File& File::operator=(File&& other) noexcept
{
    if (this != &other)
    {
        Close();
        mHandle = other.mHandle;
        other.mHandle = _NULL_FILE_HANDLE;
    }
    return *this;
}

bool File::OpenRead(const String& path)
{
    return OpenWith(path, OpenMode::Read);
}

bool File::OpenReadWrite(const String& path)
{
    return OpenWith(path, OpenMode::ReadWrite);
}

bool File::Create(const String& path)
{
    return OpenWith(path, OpenMode::Create);
}

bool File::Read(void* buffer, _dword size, _dword* readOut)
{
    if (readOut)
        *readOut = 0;
    if (!IsOpen())
        return false;
    if (size == 0)
        return true;
    if (!VEXEL_ASSERT_TEXT(buffer != nullptr, u"buffer != _null"))
        return false;
    Detail::CountFileRead();
    const long long read = Detail::NativeRead(mHandle, buffer, size);
    if (read < 0)
        return false;
    const _dword done = static_cast<_dword>(read);
    if (readOut)
    {
        *readOut = done;
        return true;
    }
    return done == size;
}

bool File::ReadAt(_qword position, void* buffer, _dword size)
{
    if (!IsOpen())
        return false;
    if (size == 0)
        return true;
    if (!VEXEL_ASSERT_TEXT(buffer != nullptr, u"buffer != _null"))
        return false;
    Detail::CountFileRead();
    return Detail::NativeReadAt(mHandle, position, buffer, size) == static_cast<long long>(size);
}

bool File::Write(const void* buffer, _dword size)
{
    if (!IsOpen())
        return false;
    if (size == 0)
        return true;
    if (!VEXEL_ASSERT_TEXT(buffer != nullptr, u"buffer != _null"))
        return false;
    Detail::CountFileWrite();
    return Detail::NativeWrite(mHandle, buffer, size);
}

bool File::Seek(_qword position)
{
    if (!IsOpen())
        return false;
    Detail::CountFileOther();
    return Detail::NativeSeek(mHandle, position, false);
}

bool File::SeekToEnd()
{
    if (!IsOpen())
        return false;
    Detail::CountFileOther();
    return Detail::NativeSeek(mHandle, 0, true);
}

_qword File::Tell()
{
    if (!IsOpen())
        return static_cast<_qword>(-1);
    Detail::CountFileOther();
    return Detail::NativeTell(mHandle);
}

_qword File::GetSize()
{
    if (!IsOpen())
        return 0;
    Detail::CountFileOther();
    return Detail::NativeSize(mHandle);
}

bool File::Truncate(_qword size)
{
    if (!IsOpen())
        return false;
    Detail::CountFileOther();
    return Detail::NativeTruncate(mHandle, size);
}

bool File::Flush()
{
    if (!IsOpen())
        return false;
    Detail::CountFileOther();
    return Detail::NativeFlush(mHandle);
}

void File::Close()
{
    if (!IsOpen())
        return;
    Detail::CountFileOther();
    Detail::NativeClose(mHandle);
    mHandle = _NULL_FILE_HANDLE;
}

bool File::ReadAll(std::vector<_byte>& buffer)
{
    buffer.clear();
    if (!IsOpen())
        return false;
    _qword size = GetSize();
    if (size > static_cast<_qword>(buffer.max_size()) || !Seek(0))
        return false;
    buffer.resize(static_cast<std::size_t>(size));
    _qword done = 0;
    while (done < size)
    {
        _qword left = size - done;
        _dword piece = left > 0x40000000u ? 0x40000000u : static_cast<_dword>(left);
        if (!Read(buffer.data() + done, piece))
        {
            buffer.clear();
            return false;
        }
        done += piece;
    }
    return true;
}

bool ReadFile(const String& path, std::vector<_byte>& buffer)
{
    File file;
    if (!file.OpenRead(path))
    {
        buffer.clear();
        return false;
    }
    return file.ReadAll(buffer);
}

bool WriteFile(const String& path, const std::vector<_byte>& data)
{
    return WriteFile(path, data.data(), data.size());
}

bool FilesEqual(const String& a, const String& b)
{
    File first;
    File second;
    if (!first.OpenRead(a) || !second.OpenRead(b))
        return false;
    _qword size = first.GetSize();
    if (size != second.GetSize())
        return false;
    std::vector<_byte> blockA(_BLOCK_SIZE);
    std::vector<_byte> blockB(_BLOCK_SIZE);
    for (_qword done = 0; done < size;)
    {
        _dword piece = size - done < _BLOCK_SIZE ? static_cast<_dword>(size - done) : _BLOCK_SIZE;
        // A failed or uneven read counts as a difference.
        if (!first.Read(blockA.data(), piece) || !second.Read(blockB.data(), piece))
            return false;
        if (std::memcmp(blockA.data(), blockB.data(), piece) != 0)
            return false;
        done += piece;
    }
    return true;
}

MD5 FileDigest(const String& path)
{
    File file;
    if (!file.OpenRead(path))
        return MD5();
    Md5Hasher hasher;
    std::vector<_byte> block(_BLOCK_SIZE);
    for (;;)
    {
        _dword got = 0;
        if (!file.Read(block.data(), _BLOCK_SIZE, &got))
            return MD5();
        if (got == 0)
            break;
        hasher.Update(block.data(), got);
    }
    return hasher.Final();
}

} // namespace Vexel
