#include "Platform/File.h"

#include "Common/Assert.h"
#include "Common/Log.h"

#include <atomic>
#include <string>
#include <windows.h>

// The system's macros of these names would rename the program's own functions.
#undef DeleteFile
#undef CopyFile
#undef MoveFile

namespace Vexel
{

namespace
{

const wchar_t* Wide(const NativeText& text)
{
    return text.c_str();
}

HANDLE ToHandle(FileHandle handle)
{
    return static_cast<HANDLE>(handle);
}

DWORD Attributes(const NativeText& path)
{
    return path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(Wide(path));
}

// The counterpart of opening up a file's permissions elsewhere: a read-only file can be written after.
void ClearReadOnly(const NativeText& path)
{
    DWORD attributes = Attributes(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(Wide(path), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
}

bool WriteAllHandle(HANDLE handle, const void* data, std::size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0)
    {
        DWORD piece = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!::WriteFile(handle, p, piece, &written, nullptr) || written == 0)
            return false;
        p += written;
        size -= written;
    }
    return true;
}

// A new file beside target with a name no other writer uses; the name goes to tempPath.
HANDLE CreateSibling(const NativeText& target, NativeText& tempPath)
{
    static std::atomic<unsigned> serial{0};
    const NativeText prefix = target + L"." + std::to_wstring(GetCurrentProcessId()) + L".";
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        tempPath = prefix + std::to_wstring(serial++) + L".tmp";
        HANDLE handle = CreateFileW(Wide(tempPath), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
            return handle; // ERROR_FILE_EXISTS: left by an earlier process of the same number
    }
    return INVALID_HANDLE_VALUE;
}

// Moves a completely written temporary file over the target; removes it on failure. Durable: the bytes
// are on the disk before the name changes.
bool CommitSibling(HANDLE handle, const NativeText& tempPath, const NativeText& target, bool ok,
                   bool durable = true)
{
    ok = ok && (!durable || FlushFileBuffers(handle));
    ok = CloseHandle(handle) && ok;
    ClearReadOnly(target);
    ok = ok && MoveFileExW(Wide(tempPath), Wide(target),
                           MOVEFILE_REPLACE_EXISTING | (durable ? MOVEFILE_WRITE_THROUGH : 0));
    if (!ok)
        DeleteFileW(Wide(tempPath));
    return ok;
}

bool IsRegularFile(const NativeText& path)
{
    DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Reads until size bytes have come, the end of the file or an error. With a position, each read says
// where it reads. The bytes read, or -1 on an error.
long long ReadFully(HANDLE handle, char* buffer, _dword size, const _qword* position)
{
    _dword done = 0;
    while (done < size)
    {
        OVERLAPPED at{};
        if (position)
        {
            const _qword where = *position + done;
            at.Offset = static_cast<DWORD>(where);
            at.OffsetHigh = static_cast<DWORD>(where >> 32);
        }
        DWORD got = 0;
        if (!::ReadFile(handle, buffer + done, size - done, &got, position ? &at : nullptr))
            return GetLastError() == ERROR_HANDLE_EOF ? static_cast<long long>(done) : -1;
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

} // namespace

NativeText ToNativeText(std::u16string_view text)
{
    return NativeText(text.begin(), text.end());
}

NativeText NativePath(const String& path)
{
    return ToNativeText(path);
}

String FromNativeText(std::wstring_view text)
{
    return String(text.begin(), text.end());
}

bool File::OpenWith(const String& path, OpenMode mode)
{
    Close();
    Detail::CountFileOther();
    NativeText native = NativePath(path);
    if (native.empty())
        return false;
    if (mode != OpenMode::Read)
        ClearReadOnly(native);
    const DWORD access = mode == OpenMode::Read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    const DWORD share = mode == OpenMode::Read ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ;
    const DWORD disposition = mode == OpenMode::Create ? CREATE_ALWAYS : OPEN_EXISTING;
    HANDLE handle =
        CreateFileW(Wide(native), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    mHandle = handle;
    return true;
}

namespace Detail
{

long long NativeRead(FileHandle handle, void* buffer, _dword size)
{
    return ReadFully(ToHandle(handle), static_cast<char*>(buffer), size, nullptr);
}

long long NativeReadAt(FileHandle handle, _qword position, void* buffer, _dword size)
{
    // A read with an offset on a handle opened for plain (not overlapped) access still moves the file
    // pointer: it is put back, so sequential readers of the same file object are not disturbed.
    LARGE_INTEGER zero{};
    LARGE_INTEGER before{};
    const bool known = SetFilePointerEx(ToHandle(handle), zero, &before, FILE_CURRENT);
    const long long read = ReadFully(ToHandle(handle), static_cast<char*>(buffer), size, &position);
    if (known)
        SetFilePointerEx(ToHandle(handle), before, nullptr, FILE_BEGIN);
    return read;
}

bool NativeWrite(FileHandle handle, const void* buffer, std::size_t size)
{
    return WriteAllHandle(ToHandle(handle), buffer, size);
}

bool NativeSeek(FileHandle handle, _qword position, bool fromEnd)
{
    LARGE_INTEGER to;
    to.QuadPart = fromEnd ? 0 : static_cast<LONGLONG>(position);
    return SetFilePointerEx(ToHandle(handle), to, nullptr, fromEnd ? FILE_END : FILE_BEGIN);
}

_qword NativeTell(FileHandle handle)
{
    LARGE_INTEGER zero{};
    LARGE_INTEGER at{};
    if (!SetFilePointerEx(ToHandle(handle), zero, &at, FILE_CURRENT))
        return static_cast<_qword>(-1);
    return static_cast<_qword>(at.QuadPart);
}

_qword NativeSize(FileHandle handle)
{
    LARGE_INTEGER size{};
    return GetFileSizeEx(ToHandle(handle), &size) ? static_cast<_qword>(size.QuadPart) : 0;
}

bool NativeTruncate(FileHandle handle, _qword size)
{
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(size);
    return SetFilePointerEx(ToHandle(handle), to, nullptr, FILE_BEGIN) && SetEndOfFile(ToHandle(handle));
}

bool NativeFlush(FileHandle handle)
{
    return FlushFileBuffers(ToHandle(handle));
}

void NativeClose(FileHandle handle)
{
    CloseHandle(ToHandle(handle));
}

} // namespace Detail

void File::WriteText(const String& text, FileHandle handle, bool newline)
{
    if (handle == _NULL_FILE_HANDLE || handle == INVALID_HANDLE_VALUE)
        return;
    Detail::CountFileWrite();
    // UTF-16LE, the system's own order.
    std::u16string bytes = text;
    if (newline)
        bytes += u"\r\n";
    WriteAllHandle(ToHandle(handle), bytes.data(), bytes.size() * sizeof(char16_t));
}

bool FileExists(const String& path)
{
    return IsRegularFile(NativePath(path));
}

bool FolderExists(const String& path)
{
    DWORD attributes = Attributes(NativePath(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool WriteFile(const String& path, const void* data, std::size_t size, bool durable)
{
    if (size != 0 && !VEXEL_ASSERT_TEXT(data != nullptr, u"buffer != _null"))
        return false;
    NativeText target = NativePath(path);
    if (target.empty() || FolderExists(path))
        return false;
    NativeText temp;
    HANDLE handle = CreateSibling(target, temp);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    Detail::CountFileWrite();
    bool ok = WriteAllHandle(handle, data, size);
    return CommitSibling(handle, temp, target, ok, durable);
}

bool DeleteFile(const String& path)
{
    NativeText native = NativePath(path);
    if (!IsRegularFile(native))
        return false;
    Detail::CountFileOther();
    SetFileAttributesW(Wide(native), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileW(Wide(native));
}

bool CopyFile(const String& source, const String& target)
{
    NativeText from = NativePath(source);
    NativeText to = NativePath(target);
    if (to.empty() || !IsRegularFile(from))
        return false;
    HANDLE in = CreateFileW(Wide(from), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (in == INVALID_HANDLE_VALUE)
        return false;
    // Through a sibling and a rename, so the target is complete or untouched.
    NativeText temp;
    HANDLE out = CreateSibling(to, temp);
    if (out == INVALID_HANDLE_VALUE)
    {
        CloseHandle(in);
        return false;
    }
    Detail::CountFileOther();
    bool ok = true;
    std::string block(65536, '\0');
    for (;;)
    {
        DWORD got = 0;
        if (!::ReadFile(in, block.data(), static_cast<DWORD>(block.size()), &got, nullptr))
        {
            ok = false;
            break;
        }
        if (got == 0)
            break;
        if (!WriteAllHandle(out, block.data(), got))
        {
            ok = false;
            break;
        }
    }
    CloseHandle(in);
    return CommitSibling(out, temp, to, ok);
}

bool MoveFile(const String& source, const String& target)
{
    NativeText from = NativePath(source);
    NativeText to = NativePath(target);
    if (to.empty() || !IsRegularFile(from))
        return false;
    Detail::CountFileOther();
    ClearReadOnly(to);
    // Across volumes the system copies and removes the source itself.
    return MoveFileExW(Wide(from), Wide(to), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
}

// Windows keeps no run permission: an existing file can be run as it is.
bool SetExecutable(const String& path)
{
    DWORD attributes = Attributes(NativePath(path));
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace Vexel
