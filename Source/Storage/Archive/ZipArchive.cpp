#include "Storage/Archive/ZipArchive.h"

#include "Common/Log.h"
#include "Common/Memory.h"
#include "Common/StringEncoding.h"
#include "Platform/File.h"
#include "Storage/NameKey.h"

#include <minizip/unzip.h>
#include <mutex>

namespace Vexel
{

// What minizip reads: the archive's own file, or a copy of an image in memory.
struct ZipArchive::Source
{
    File file;
    ByteBuffer image;
    bool memory = false;
    _qword position = 0;
    bool failed = false;
};

namespace
{

using Source = ZipArchive::Source;

voidpf ZCALLBACK OpenSource(voidpf opaque, const void*, int)
{
    return opaque;
}

uLong ZCALLBACK ReadSource(voidpf, voidpf stream, void* buffer, uLong size)
{
    auto* source = static_cast<Source*>(stream);
    if (!source->memory)
    {
        _dword got = 0;
        if (!source->file.Read(buffer, static_cast<_dword>(size), &got))
            source->failed = true;
        return got;
    }
    if (source->position >= source->image.size())
        return 0;
    _qword left = source->image.size() - source->position;
    uLong n = static_cast<uLong>(left < size ? left : size);
    Copy(buffer, source->image.data() + source->position, n);
    source->position += n;
    return n;
}

uLong ZCALLBACK WriteSource(voidpf, voidpf, const void*, uLong)
{
    return 0;
}

ZPOS64_T ZCALLBACK TellSource(voidpf, voidpf stream)
{
    auto* source = static_cast<Source*>(stream);
    return source->memory ? source->position : source->file.Tell();
}

long ZCALLBACK SeekSource(voidpf, voidpf stream, ZPOS64_T offset, int origin)
{
    auto* source = static_cast<Source*>(stream);
    _qword size = source->memory ? source->image.size() : source->file.GetSize();
    _qword base = origin == ZLIB_FILEFUNC_SEEK_SET ? 0
                  : origin == ZLIB_FILEFUNC_SEEK_END
                      ? size
                      : (source->memory ? source->position : source->file.Tell());
    _qword target = base + offset;
    if (target > size)
        return -1;
    if (source->memory)
    {
        source->position = target;
        return 0;
    }
    return source->file.Seek(target) ? 0 : -1;
}

int ZCALLBACK CloseSource(voidpf, voidpf)
{
    return 0;
}

int ZCALLBACK ErrorSource(voidpf, voidpf stream)
{
    return static_cast<Source*>(stream)->failed ? 1 : 0;
}

} // namespace

ZipArchive::ZipArchive(StorageLock* lock, const String& name, const String& extension)
    : DataArchive(lock, name, extension)
{
    mReadOnly = true;
}

ZipArchive::~ZipArchive()
{
    Close();
}

void ZipArchive::Close()
{
    if (mZip)
        unzClose(static_cast<unzFile>(mZip));
    mZip = nullptr;
    mSource.reset();
    mEntries.clear();
    mMap.clear();
}

bool ZipArchive::Open(const String& path)
{
    std::lock_guard guard(*mLock);
    Close();
    mSource = std::make_unique<Source>();
    if (!mSource->file.OpenRead(path))
    {
        mSource.reset();
        return false;
    }
    return Index();
}

bool ZipArchive::Open(const void* buffer, std::size_t size)
{
    std::lock_guard guard(*mLock);
    Close();
    if (!buffer || size == 0)
        return false;
    mSource = std::make_unique<Source>();
    mSource->memory = true;
    const auto* bytes = static_cast<const _byte*>(buffer);
    mSource->image.assign(bytes, bytes + size);
    return Index();
}

bool ZipArchive::Index()
{
    zlib_filefunc64_def functions{OpenSource, ReadSource,  WriteSource, TellSource,
                                  SeekSource, CloseSource, ErrorSource, mSource.get()};
    unzFile zip = unzOpen2_64("", &functions);
    if (!zip)
    {
        mSource.reset();
        return false;
    }
    mZip = zip;
    for (int status = unzGoToFirstFile(zip); status == UNZ_OK; status = unzGoToNextFile(zip))
    {
        unz_file_info64 info;
        char name[1024];
        if (unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK)
            break;
        std::size_t length = info.size_filename < sizeof name ? info.size_filename : sizeof name - 1;
        name[length] = 0;
        if (length == 0 || name[length - 1] == '/' || name[length - 1] == '\\')
            continue; // a folder
        if (info.uncompressed_size > _MAX_ALLOCATION)
        {
            LogTrace(u"[RM] Zip entry too large, skipped : %ls", FromUtf8(name));
            continue;
        }
        unz64_file_pos position;
        if (unzGetFilePos64(zip, &position) != UNZ_OK)
            break;
        Entry entry;
        entry.name = NormalizeResourceName(FromUtf8(std::string_view(name, length)));
        entry.directoryPosition = position.pos_in_zip_directory;
        entry.fileNumber = position.num_of_file;
        entry.size = static_cast<_dword>(info.uncompressed_size);
        if (mMap.emplace(entry.name, mEntries.size()).second)
            mEntries.push_back(std::move(entry));
    }
    return true;
}

DataStream* ZipArchive::OpenStream(const String& name)
{
    std::lock_guard guard(*mLock);
    auto found = mMap.find(LookupName(name));
    if (found == mMap.end() || !mZip)
        return nullptr;
    const Entry& entry = mEntries[found->second];
    unzFile zip = static_cast<unzFile>(mZip);
    unz64_file_pos position{entry.directoryPosition, entry.fileNumber};
    if (unzGoToFilePos64(zip, &position) != UNZ_OK || unzOpenCurrentFile(zip) != UNZ_OK)
        return nullptr;
    void* block = entry.size ? AllocateShared(entry.size) : nullptr;
    bool ok = entry.size == 0 || block;
    _dword done = 0;
    while (ok && done < entry.size)
    {
        int got = unzReadCurrentFile(zip, static_cast<_byte*>(block) + done, entry.size - done);
        if (got <= 0)
            ok = false;
        else
            done += static_cast<_dword>(got);
    }
    // The stored size and checksum must hold: more data than announced, or a bad CRC, is damage.
    _byte extra;
    if (ok && unzReadCurrentFile(zip, &extra, 1) != 0)
        ok = false;
    if (unzCloseCurrentFile(zip) != UNZ_OK)
        ok = false;
    if (!ok)
    {
        LogTrace(u"[RM] Zip entry damaged : %ls", entry.name);
        Release(block);
        return nullptr;
    }
    NoteLoad(entry.name);
    return new MemStream(mLock, entry.name, block, entry.size, MD5());
}

bool ZipArchive::WriteResource(const String&, const void*, _dword, const MD5&)
{
    return false;
}

bool ZipArchive::DeleteResource(const String&)
{
    return false;
}

bool ZipArchive::GetResourceInfo(const String& name, _dword& size, MD5& md5)
{
    std::lock_guard guard(*mLock);
    auto found = mMap.find(LookupName(name));
    if (found == mMap.end())
        return false;
    size = mEntries[found->second].size;
    md5 = MD5();
    return true;
}

bool ZipArchive::HasResource(const String& name)
{
    std::lock_guard guard(*mLock);
    return mMap.count(LookupName(name)) != 0;
}

int ZipArchive::Enumerate(ArchiveCallback callback, void* a, void* b)
{
    std::lock_guard guard(*mLock);
    std::vector<String> names;
    for (const Entry& entry : mEntries)
        names.push_back(entry.name);
    return WalkNames(names, callback, a, b);
}

} // namespace Vexel
