#include "Platform/PackedFile.h"

#include "Common/Compression.h"
#include "Common/Log.h"
#include "Platform/File.h"

namespace Vexel
{

namespace
{

// Files at or above this size are not unpacked in place.
constexpr _qword _MAX_PACKED_FILE = 0x80000000;

bool ReadFromFile(void* readdata, void* destination, _dword* length)
{
    return static_cast<File*>(readdata)->Read(destination, *length, length);
}

bool WriteToFile(void* writedata, const void* source, _dword* length)
{
    return static_cast<File*>(writedata)->Write(source, *length);
}

} // namespace

bool IsFileCompressed(const String& path)
{
    File file;
    if (!file.OpenRead(path))
        return false;
    _byte header[_PACK_HEADER_SIZE];
    _dword got = 0;
    if (!file.Read(header, sizeof header, &got))
        return false;
    return IsCompressed(header, got);
}

bool DecompressFile(const String& path)
{
    if (!IsFileCompressed(path))
        return true;
    File packed;
    if (!packed.OpenRead(path))
        return false;
    if (packed.GetSize() >= _MAX_PACKED_FILE)
    {
        LogTrace(u"[FG] DecompressFile: %ls is too large to unpack", path.c_str());
        return false;
    }
    // "<path>.tmp", joined directly so that no formatting limit can cut the name.
    String temporary = path + u".tmp";
    File unpacked;
    if (!unpacked.Create(temporary))
    {
        LogTrace(u"[FG] DecompressFile: cannot create %ls", temporary.c_str());
        return false;
    }
    bool ok = DecompressStream(ReadFromFile, &packed, WriteToFile, &unpacked);
    ok = unpacked.Flush() && ok;
    packed.Close();
    unpacked.Close();
    // Renaming over the packed file replaces it in one step, so no failure can lose both copies.
    if (!ok || !MoveFile(temporary, path))
    {
        DeleteFile(temporary);
        return false;
    }
    return true;
}

} // namespace Vexel
