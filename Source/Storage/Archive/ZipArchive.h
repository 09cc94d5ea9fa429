// Entries of a zip file (on disk or in memory), read through minizip and inflated into memory streams.
// The archive is read-only.
#pragma once

#include "Storage/Archive/DataArchive.h"

#include <memory>
#include <unordered_map>
#include <vector>

namespace Vexel
{

class ZipArchive : public DataArchive
{
public:
    ZipArchive(StorageLock* lock, const String& name, const String& extension = String());
    ~ZipArchive() override;

    bool Open(const String& path);
    // Keeps a copy of the image.
    bool Open(const void* buffer, std::size_t size);

    _dword GetType() const override { return _ARCHIVE_ZIP; }
    DataStream* OpenStream(const String& name) override;
    bool WriteResource(const String& name, const void* buffer, _dword size, const MD5& md5) override;
    bool DeleteResource(const String& name) override;
    bool GetResourceInfo(const String& name, _dword& size, MD5& md5) override;
    bool HasResource(const String& name) override;
    int Enumerate(ArchiveCallback callback, void* a, void* b) override;

    struct Source;

private:
    struct Entry
    {
        String name;
        _qword directoryPosition = 0;
        _qword fileNumber = 0;
        _dword size = 0;
    };
    bool Index();
    void Close();

    std::unique_ptr<Source> mSource;
    void* mZip = nullptr; // unzFile
    std::vector<Entry> mEntries;
    std::unordered_map<String, std::size_t> mMap;
};

} // namespace Vexel
