// The archive family: named containers of resources behind one interface, searched in order by the
// resource manager. Every operation of every kind holds the storage lock for its whole duration.
#pragma once

#include "Common/Compression.h"
#include "Common/Md5.h"
#include "Common/String.h"
#include "Storage/DataStream.h"

#include <unordered_set>
#include <vector>

namespace Vexel
{

class IResourceManager;

// Kind codes of GetType.
constexpr _dword _ARCHIVE_DISK = 0;
constexpr _dword _ARCHIVE_MEMORY = 1;
constexpr _dword _ARCHIVE_HASH = 2;
constexpr _dword _ARCHIVE_CHUNK = 3;
constexpr _dword _ARCHIVE_ZIP = 5;

// Called for each resource; returning false stops the walk.
using ArchiveCallback = bool (*)(const String& name, void* a, void* b);

class IDataArchive
{
public:
    virtual _dword GetType() const = 0;
    virtual const String& GetName() const = 0;
    virtual const String& GetExtension() const = 0;
    virtual _dword GetVersion() const = 0;
    virtual void SetVersion(_dword version) = 0;
    virtual bool IsReadOnly() const = 0;
    // A new stream (count 1, released through the resource manager), or null.
    virtual DataStream* OpenStream(const String& name) = 0;
    virtual bool WriteResource(const String& name, const void* buffer, _dword size, const MD5& md5) = 0;
    virtual bool DeleteResource(const String& name) = 0;
    virtual bool GetResourceInfo(const String& name, _dword& size, MD5& md5) = 0;
    virtual bool HasResource(const String& name) = 0;
    // The number of resources, or -1 when the callback stopped the walk; no callback only counts.
    virtual int Enumerate(ArchiveCallback callback, void* a, void* b) = 0;
    virtual bool ExportBundle(ByteBuffer& bundle) = 0;
    virtual ~IDataArchive() = default;
};

class DataArchive : public IDataArchive
{
public:
    DataArchive(StorageLock* lock, const String& name, const String& extension = String());
    ~DataArchive() override = default;
    DataArchive(const DataArchive&) = delete;
    DataArchive& operator=(const DataArchive&) = delete;

    const String& GetName() const override { return mName; }
    const String& GetExtension() const override { return mExtension; }
    _dword GetVersion() const override { return mVersion; }
    void SetVersion(_dword version) override { mVersion = version; }
    bool IsReadOnly() const override { return mReadOnly; }
    // Every resource read raw through this archive's own streams, in enumeration order, wrapped in an
    // LZMA envelope. Resources that cannot be read are left out.
    bool ExportBundle(ByteBuffer& bundle) override;

    StorageLock* GetLock() const { return mLock; }
    // The manager that keeps this archive (its main-thread warning and pack key apply); none by default.
    void SetOwner(IResourceManager* owner) { mOwner = owner; }

protected:
    // The walk every Enumerate ends with, over a copy of the names so that a callback may change the
    // archive: the count, or -1 when the callback stopped it.
    static int WalkNames(const std::vector<String>& names, ArchiveCallback callback, void* a, void* b);
    // The lookup form of a name: normalised, with the default extension added when it has none.
    String LookupName(const String& name) const;
    // The trace line for loads made on the main thread while the manager asks for it.
    void NoteLoad(const String& name) const;
    // The owner's key for scrambled packs (empty without an owner).
    String PackKey() const;

    StorageLock* mLock;
    IResourceManager* mOwner = nullptr;
    String mName;
    String mExtension;
    _dword mVersion = 0;
    bool mReadOnly = false;
    std::unordered_set<String> mDeleted;
};

// Bundles: for each resource, name length n (characters), n + 1 UTF-16 units (the last is 0), data
// size m and m bytes; integers little-endian. ReadBundle decodes an envelope first and calls back for
// each record; false when a record runs past the end (records before it were already given).
using BundleCallback = bool (*)(const String& name, const _byte* data, _dword size, void* context);
bool ReadBundle(const void* data, std::size_t size, BundleCallback callback, void* context);
void AppendBundleRecord(ByteBuffer& bundle, const String& name, const void* data, _dword size);

} // namespace Vexel
