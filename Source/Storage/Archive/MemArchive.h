// Resources held in memory, in the order they were first written; filled by writes or from a bundle.
#pragma once

#include "Storage/Archive/DataArchive.h"

#include <list>
#include <unordered_map>

namespace Vexel
{

class MemArchive : public DataArchive
{
public:
    MemArchive(StorageLock* lock, const String& name, const String& extension = String());
    ~MemArchive() override;

    // Loads the records of a bundle (enveloped or not); false when a record runs past the end.
    bool Open(const void* bundle, std::size_t size);

    _dword GetType() const override { return _ARCHIVE_MEMORY; }
    DataStream* OpenStream(const String& name) override;
    bool WriteResource(const String& name, const void* buffer, _dword size, const MD5& md5) override;
    bool DeleteResource(const String& name) override;
    bool GetResourceInfo(const String& name, _dword& size, MD5& md5) override;
    bool HasResource(const String& name) override;
    int Enumerate(ArchiveCallback callback, void* a, void* b) override;

private:
    struct Entry
    {
        String name;
        void* buffer = nullptr; // shared block, null for an empty resource
        _dword size = 0;
        MD5 md5;
    };
    std::list<Entry> mEntries;
    std::unordered_map<String, std::list<Entry>::iterator> mMap;
};

} // namespace Vexel
