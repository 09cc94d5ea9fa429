// Resources as regions of one package file, described by an in-memory index {size, offset, digest}
// that a manifest or the resource downloader fills. Writing stores bytes into a known region only.
#pragma once

#include "Storage/Archive/PackArchive.h"
#include "Storage/NameKey.h"
#include "Storage/ResourceManifest.h"

#include <list>
#include <unordered_map>

namespace Vexel
{

class ChunkArchive : public PackArchive
{
public:
    ChunkArchive(StorageLock* lock, const String& name);
    ~ChunkArchive() override;

    // Opens the package (a writable one is made when missing) and indexes the entries of the manifest
    // that have an offset.
    bool Open(const String& path, bool writable, const void* manifest = nullptr,
              std::size_t manifestSize = 0);

    void SetEntry(const String& name, _dword size, _dword offset, const MD5& md5);
    _dword GetEntryCount() const { return static_cast<_dword>(mEntries.size()); }

    _dword GetType() const override { return _ARCHIVE_CHUNK; }
    DataStream* OpenStream(const String& name) override;
    bool WriteResource(const String& name, const void* buffer, _dword size, const MD5& md5) override;
    // Drops the index entry; the package keeps its bytes.
    bool DeleteResource(const String& name) override;
    bool GetResourceInfo(const String& name, _dword& size, MD5& md5) override;
    bool HasResource(const String& name) override;
    int Enumerate(ArchiveCallback callback, void* a, void* b) override;

private:
    struct Entry
    {
        String name;
        _dword size = 0;
        _dword offset = 0;
        MD5 md5;
    };
    const Entry* Find(const String& name) const;
    const std::shared_ptr<File>& Package() const
    {
        return mWritableRequested ? mWritableFile : mReadOnlyFile;
    }

    std::list<Entry> mEntries;
    std::unordered_map<NameKey, std::list<Entry>::iterator, NameKeyHash> mMap;
};

} // namespace Vexel
