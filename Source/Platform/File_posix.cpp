#include "Platform/File.h"

#include "Common/Assert.h"
#include "Common/Log.h"
#include "Common/StringEncoding.h"
#include "Platform/FolderNames.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace Vexel
{

namespace
{

// Proper UTF-8 (surrogate pairs become one four-byte sequence, unlike the engine's unit-by-unit
// encoder) so names outside the basic plane match what is on disk. U+DC80..U+DCFF stand for bytes
// that were not valid UTF-8 in a name read from the system.
std::string Encode(std::u16string_view text, bool path)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF)
        {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        else if (c >= 0xDC80 && c <= 0xDCFF)
        {
            out += static_cast<char>(c - 0xDC00);
            continue;
        }
        if (path && c == u'\\')
            c = u'/';
        AppendUtf8(out, c);
    }
    return out;
}

bool Exists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::string ResolveCase(const std::string& path)
{
    // Mostly only the last name is missing or spelt in another case: when the folder holding it exists as
    // written, that name is the one to look up.
    const std::size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && slash + 1 < path.size())
    {
        const std::string folder = path.substr(0, slash);
        const std::string last = path.substr(slash + 1);
        std::string match;
        if (last != "." && last != ".." && Detail::FindNameIgnoringCase(folder, last, match))
            return folder + "/" + (match.empty() ? last : match);
    }

    std::string resolved = path[0] == '/' ? "/" : "";
    std::size_t at = 0;
    while (at < path.size())
    {
        std::size_t end = path.find('/', at);
        bool last = end == std::string::npos;
        std::string part = path.substr(at, last ? std::string::npos : end - at);
        at = last ? path.size() : end + 1;
        if (part.empty())
            continue;
        if (!resolved.empty() && resolved.back() != '/')
            resolved += '/';
        if (part == "." || part == ".." || Exists(resolved + part))
        {
            resolved += part;
            continue;
        }
        std::string match;
        Detail::FindNameIgnoringCase(resolved, part, match);
        if (match.empty())
        {
            // Missing: keep this component and the rest as given (a file or folder about to be made).
            resolved += path.substr(at - (last ? part.size() : part.size() + 1));
            return resolved;
        }
        resolved += match;
    }
    if (path.back() == '/' && resolved.back() != '/')
        resolved += '/';
    return resolved;
}

int OpenNative(const std::string& path, int flags)
{
    int fd;
    do
        fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// Gives the owner write permission, the POSIX counterpart of clearing the read-only attribute.
void MakeWritable(const std::string& path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR))
        ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR);
}

bool WriteAllFd(int fd, const void* data, std::size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0)
    {
        ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// A new file beside target with a name no other writer uses, made as a plain create makes files (the
// process's file mask applies); the name goes to tempPath.
int CreateSibling(const std::string& target, std::string& tempPath)
{
    static std::atomic<unsigned> serial{0};
    const std::string prefix = target + "." + std::to_string(::getpid()) + ".";
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        tempPath = prefix + std::to_string(serial++) + ".tmp";
        int fd = OpenNative(tempPath, O_WRONLY | O_CREAT | O_EXCL);
        if (fd >= 0 || errno != EEXIST)
            return fd; // EEXIST: left by an earlier process of the same number
    }
    return -1;
}

// Moves a completely written temporary file over the target; removes it on failure. Durable: the bytes
// are on the disk before the name changes.
bool CommitSibling(int fd, const std::string& tempPath, const std::string& target, bool ok,
                   bool durable = true)
{
    ok = ok && (!durable || ::fsync(fd) == 0);
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(tempPath.c_str(), target.c_str()) == 0;
    if (!ok)
        ::unlink(tempPath.c_str());
    return ok;
}

bool IsRegularFile(const std::string& path, struct stat* out = nullptr)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (out)
        *out = st;
    return true;
}

} // namespace

NativeText ToNativeText(std::u16string_view text)
{
    return Encode(text, false);
}

NativeText NativePath(const String& path)
{
    std::string native = Encode(path, true);
    if (native.empty() || Exists(native))
        return native;
    return ResolveCase(native);
}

String FromNativeText(std::string_view path)
{
    String out;
    out.reserve(path.size());
    const auto* p = reinterpret_cast<const unsigned char*>(path.data());
    std::size_t n = path.size();
    for (std::size_t i = 0; i < n;)
    {
        unsigned char b = p[i];
        std::size_t length = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        char32_t c = length == 1 ? b : length == 2 ? (b & 0x1F) : length == 3 ? (b & 0x0F) : (b & 0x07);
        bool valid = length != 0 && i + length <= n;
        for (std::size_t k = 1; valid && k < length; ++k)
        {
            if ((p[i + k] & 0xC0) != 0x80)
                valid = false;
            else
                c = (c << 6) | (p[i + k] & 0x3F);
        }
        static constexpr char32_t _MINIMUM[] = {0, 0, 0x80, 0x800, 0x10000};
        if (valid && (c < _MINIMUM[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)))
            valid = false;
        if (!valid)
        {
            out += static_cast<char16_t>(0xDC00 + b);
            ++i;
            continue;
        }
        if (c >= 0x10000)
        {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        }
        else
            out += static_cast<char16_t>(c);
        i += length;
    }
    return out;
}

bool File::OpenWith(const String& path, OpenMode mode)
{
    Close();
    Detail::CountFileOther();
    std::string native = NativePath(path);
    if (native.empty())
        return false;
    if (mode != OpenMode::Read)
        MakeWritable(native);
    int fd = OpenNative(native, mode == OpenMode::Read        ? O_RDONLY
                                : mode == OpenMode::ReadWrite ? O_RDWR
                                                              : O_RDWR | O_CREAT | O_TRUNC);
    if (fd < 0)
        return false;
    // Folders open for reading on POSIX systems; the file object only ever means files.
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode))
    {
        ::close(fd);
        return false;
    }
    mHandle = fd;
    return true;
}

namespace
{
// Reads until size bytes have come, the end of the file or an error, going on after interruptions.
// readSome(at, left, done) is one read or pread call. The bytes read, or -1 on an error.
template <typename ReadSome> long long ReadFully(char* buffer, _dword size, ReadSome readSome)
{
    _dword done = 0;
    while (done < size)
    {
        const ssize_t n = readSome(buffer + done, size - done, done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += static_cast<_dword>(n);
    }
    return done;
}

} // namespace

namespace Detail
{

long long NativeRead(FileHandle handle, void* buffer, _dword size)
{
    return ReadFully(static_cast<char*>(buffer), size,
                     [handle](char* at, _dword left, _dword) { return ::read(handle, at, left); });
}

long long NativeReadAt(FileHandle handle, _qword position, void* buffer, _dword size)
{
    return ReadFully(static_cast<char*>(buffer), size,
                     [handle, position](char* at, _dword left, _dword done)
                     { return ::pread(handle, at, left, static_cast<off_t>(position + done)); });
}

bool NativeWrite(FileHandle handle, const void* buffer, std::size_t size)
{
    return WriteAllFd(handle, buffer, size);
}

bool NativeSeek(FileHandle handle, _qword position, bool fromEnd)
{
    return ::lseek(handle, fromEnd ? 0 : static_cast<off_t>(position), fromEnd ? SEEK_END : SEEK_SET) !=
           static_cast<off_t>(-1);
}

_qword NativeTell(FileHandle handle)
{
    const off_t at = ::lseek(handle, 0, SEEK_CUR);
    return at < 0 ? static_cast<_qword>(-1) : static_cast<_qword>(at);
}

_qword NativeSize(FileHandle handle)
{
    struct stat st;
    return ::fstat(handle, &st) == 0 ? static_cast<_qword>(st.st_size) : 0;
}

bool NativeTruncate(FileHandle handle, _qword size)
{
    return ::ftruncate(handle, static_cast<off_t>(size)) == 0 &&
           ::lseek(handle, static_cast<off_t>(size), SEEK_SET) != static_cast<off_t>(-1);
}

bool NativeFlush(FileHandle handle)
{
    return ::fsync(handle) == 0;
}

void NativeClose(FileHandle handle)
{
    ::close(handle);
}

} // namespace Detail

void File::WriteText(const String& text, FileHandle handle, bool newline)
{
    if (handle < 0)
        return;
    Detail::CountFileWrite();
    // UTF-16LE whatever the host's byte order.
    std::string bytes;
    bytes.reserve(text.size() * 2 + 4);
    for (char16_t c : text)
    {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    if (newline)
        bytes.append("\r\0\n\0", 4);
    WriteAllFd(handle, bytes.data(), bytes.size());
}

bool FileExists(const String& path)
{
    struct stat st;
    std::string native = NativePath(path);
    return !native.empty() && ::stat(native.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool FolderExists(const String& path)
{
    struct stat st;
    std::string native = NativePath(path);
    return !native.empty() && ::stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool WriteFile(const String& path, const void* data, std::size_t size, bool durable)
{
    if (size != 0 && !VEXEL_ASSERT_TEXT(data != nullptr, u"buffer != _null"))
        return false;
    // NativePath's work with one look at the target, which must not be a folder.
    std::string target = Encode(path, true);
    if (target.empty())
        return false;
    struct stat st;
    if (::stat(target.c_str(), &st) != 0)
    {
        std::string resolved = ResolveCase(target);
        if (resolved != target && ::stat(resolved.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return false;
        target = std::move(resolved);
    }
    else if (S_ISDIR(st.st_mode))
        return false;
    std::string temp;
    int fd = CreateSibling(target, temp);
    if (fd < 0)
        return false;
    Detail::CountFileWrite();
    bool ok = WriteAllFd(fd, data, size);
    return CommitSibling(fd, temp, target, ok, durable);
}

bool DeleteFile(const String& path)
{
    std::string native = NativePath(path);
    if (native.empty())
        return false;
    Detail::CountFileOther();
    // A file's own permissions do not guard its removal here, so a read-only file goes like any other.
    struct stat st;
    if (::lstat(native.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return false;
    return ::unlink(native.c_str()) == 0;
}

bool CopyFile(const String& source, const String& target)
{
    std::string from = NativePath(source);
    std::string to = NativePath(target);
    struct stat st;
    if (from.empty() || to.empty() || !IsRegularFile(from, &st))
        return false;
    int in = OpenNative(from, O_RDONLY);
    if (in < 0)
        return false;
    std::string temp;
    int out = CreateSibling(to, temp);
    if (out < 0)
    {
        ::close(in);
        return false;
    }
    Detail::CountFileOther();
    bool ok = true;
    std::vector<char> block(65536);
    for (;;)
    {
        ssize_t n = ::read(in, block.data(), block.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ok = false;
        if (n <= 0)
            break;
        if (!WriteAllFd(out, block.data(), static_cast<std::size_t>(n)))
        {
            ok = false;
            break;
        }
    }
    ::close(in);
    ::fchmod(out, st.st_mode & 07777);
    return CommitSibling(out, temp, to, ok);
}

bool MoveFile(const String& source, const String& target)
{
    std::string from = NativePath(source);
    std::string to = NativePath(target);
    if (from.empty() || to.empty() || !IsRegularFile(from))
        return false;
    Detail::CountFileOther();
    if (::rename(from.c_str(), to.c_str()) == 0)
        return true;
    // Across file systems: copy (complete or nothing), then remove the source.
    if (errno != EXDEV || !CopyFile(source, target))
        return false;
    return DeleteFile(source);
}

bool SetExecutable(const String& path)
{
    std::string native = NativePath(path);
    struct stat st;
    if (native.empty() || ::stat(native.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    // Whoever may read the file may run it.
    mode_t mode = st.st_mode & 07777;
    mode |= (mode & 0444) >> 2;
    return mode == (st.st_mode & 07777) || ::chmod(native.c_str(), mode) == 0;
}

} // namespace Vexel
