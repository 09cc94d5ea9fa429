// Files: the file object, whole-file helpers, digests and the file operation counters.
//
// Paths are the program's wide text with "\" separators ("/" is accepted too). On POSIX systems each "\"
// becomes "/", and when the exact path does not exist each component is looked up without regard to case,
// so paths written for a case-blind file system keep working (see NativePath).
#pragma once

#include "Common/Md5.h"
#include "Common/String.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace Vexel
{

#if defined(_WIN32)
using FileHandle = void*;
inline constexpr FileHandle _NULL_FILE_HANDLE = nullptr;
using NativeText = std::wstring;
#else
using FileHandle = int;
inline constexpr FileHandle _NULL_FILE_HANDLE = -1;
using NativeText = std::string;
#endif

// The path as the system's calls take it. POSIX: UTF-8 with "/" separators; when the exact path is
// missing, every component that exists under another case (ASCII letters fold, as everywhere in the
// program) is replaced by the name on disk (the first one in byte order when several match) and the
// rest is kept as given, so a file can also be created in
// a folder whose name differs in case. The empty text stays empty.
NativeText NativePath(const String& path);
// Text for and from the system's calls (file names, environment, arguments). POSIX: UTF-8; bytes that
// are not valid UTF-8 become U+DC80..U+DCFF and turn back into the same bytes, so names round-trip.
NativeText ToNativeText(std::u16string_view text);
#if defined(_WIN32)
String FromNativeText(std::wstring_view text);
#else
String FromNativeText(std::string_view text);
#endif

// Counts of file operations since start, for statistics. "Main" counts are the subset made on the thread
// that called InitializePlatform.
struct FileCounters
{
    _dword reads = 0;
    _dword writes = 0;
    _dword others = 0; // open, close, seek, size, flush, truncate
    _dword mainReads = 0;
    _dword mainWrites = 0;
    _dword mainOthers = 0;
};
FileCounters GetFileCounters();

namespace Detail
{
// Called by the file object's implementations.
void CountFileRead();
void CountFileWrite();
void CountFileOther();

// The system's side of the file object, one per system; File.cpp checks the arguments and counts the
// calls. Each takes an open handle. Reads go on after interruptions until size bytes, the end of the file
// or an error, and return the bytes read or -1 on an error; a positional read leaves the file position
// where it was.
long long NativeRead(FileHandle handle, void* buffer, _dword size);
long long NativeReadAt(FileHandle handle, _qword position, void* buffer, _dword size);
bool NativeWrite(FileHandle handle, const void* buffer, std::size_t size);
bool NativeSeek(FileHandle handle, _qword position, bool fromEnd);
_qword NativeTell(FileHandle handle); // -1 on an error
_qword NativeSize(FileHandle handle); // 0 on an error
// Sets the size and puts the position at the new end.
bool NativeTruncate(FileHandle handle, _qword size);
bool NativeFlush(FileHandle handle);
void NativeClose(FileHandle handle);
} // namespace Detail

// One open file. Opening closes any handle already held; the destructor closes it.
class File
{
public:
    File() = default;
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;

    // Read access to an existing file.
    bool OpenRead(const String& path);
    // Read and write access to an existing file; a read-only file is made writable first.
    bool OpenReadWrite(const String& path);
    // Read and write access to a new empty file, replacing (and making writable) one that exists.
    bool Create(const String& path);

    // A closed file reads nothing and fails; a size of 0 succeeds at once. With readOut the number of
    // bytes read is reported and a short read (end of file) succeeds; without it a short read fails.
    bool Read(void* buffer, _dword size, _dword* readOut = nullptr);
    // Reads size bytes at position without using or moving the file position (one system call where the
    // system has a positional read), so readers of regions need no seek. A short read fails.
    bool ReadAt(_qword position, void* buffer, _dword size);
    // Same rules; success only when every byte was written.
    bool Write(const void* buffer, _dword size);
    // The whole file into buffer (resized to the file's size); success only when everything was read.
    bool ReadAll(std::vector<_byte>& buffer);

    bool Seek(_qword position);
    bool SeekToEnd();
    // Current position, or -1 without a file.
    _qword Tell();
    // Size in bytes, or 0 without a file (check IsOpen).
    _qword GetSize();
    // Sets the size and leaves the position at the new end.
    bool Truncate(_qword size);
    bool Flush();
    void Close();

    bool IsOpen() const noexcept { return mHandle != _NULL_FILE_HANDLE; }
    FileHandle Handle() const noexcept { return mHandle; }

    // Writes text as UTF-16LE without terminator, then "\r\n" when newline is set; nothing for a null or
    // invalid handle.
    static void WriteText(const String& text, FileHandle handle, bool newline);

private:
    enum class OpenMode
    {
        Read,
        ReadWrite,
        Create,
    };
    bool OpenWith(const String& path, OpenMode mode);

    FileHandle mHandle = _NULL_FILE_HANDLE;
};

// Whole files (all true on success). The Windows implementation #undefs the system's macros of the same
// names (DeleteFile, CopyFile, MoveFile) after including its headers.
bool FileExists(const String& path);
bool FolderExists(const String& path);
bool ReadFile(const String& path, std::vector<_byte>& buffer);
// Writes a temporary file beside the target and renames it over the target, so a failed write leaves
// the old file (or none) and never a partial one. Durable: the bytes reach the disk before the rename, so
// after a power cut the file is the old one or the new one; stores that can fetch their contents again
// (resource caches) may skip that wait, which costs far more than the write itself.
bool WriteFile(const String& path, const void* data, std::size_t size, bool durable = true);
bool WriteFile(const String& path, const std::vector<_byte>& data);
// Deletes a file, read-only or not.
bool DeleteFile(const String& path);
// Copies, replacing the target; fails when the source is not an existing file. The target is complete
// or untouched.
bool CopyFile(const String& source, const String& target);
// Moves, replacing the target; fails when the source is not an existing file.
bool MoveFile(const String& source, const String& target);
// True when both open for reading, have the same size and the same bytes.
bool FilesEqual(const String& a, const String& b);
// MD5 of the file's bytes; the all-zero digest when it cannot be read.
MD5 FileDigest(const String& path);
// Lets the file be run as a program (where the system keeps such a permission); true when it can be.
bool SetExecutable(const String& path);

} // namespace Vexel
