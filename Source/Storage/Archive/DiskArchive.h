// Resources as plain files: a writable folder, optionally over a read-only layer (a folder, or a
// resource list given as ">" and the list's path, whose files lie beside the list). Names deleted from
// the read-only layer are kept in the deleted-name list file of the writable folder. With an empty
// writable folder names are plain file paths; otherwise a name can never reach outside the folders.
#pragma once

#include "Storage/Archive/DataArchive.h"
#include "Storage/ResourceManifest.h"

#include <memory>

namespace Vexel
{

class DiskArchive : public DataArchive
{
public:
    DiskArchive(StorageLock* lock, const String& name);
    ~DiskArchive() override;

    bool Open(const String& writableFolder, const String& readOnlyFolder, const void* manifest = nullptr,
              std::size_t manifestSize = 0);

    _dword GetType() const override { return _ARCHIVE_DISK; }
    DataStream* OpenStream(const String& name) override;
    bool WriteResource(const String& name, const void* buffer, _dword size, const MD5& md5) override;
    bool DeleteResource(const String& name) override;
    bool GetResourceInfo(const String& name, _dword& size, MD5& md5) override;
    bool HasResource(const String& name) override;
    int Enumerate(ArchiveCallback callback, void* a, void* b) override;

    const String& GetWritableFolder() const { return mWritableFolder; }
    const String& GetReadOnlyFolder() const { return mReadOnlyFolder; }
    const ResourceManifest* GetManifest() const { return mManifest.get(); }
    const ResourceManifest* GetReadOnlyList() const { return mReadOnlyList.get(); }

private:
    // The name to look up (literal keys mapped through the manifest), or empty when it may not be used.
    String Resolve(const String& name) const;
    // The file of a resolved name in folder; empty when the name would leave the folder.
    String PathIn(const String& folder, const String& name) const;
    bool InReadOnlyLayer(const String& name) const;
    bool IsDeleted(const String& name) const { return mDeleted.count(name) != 0; }
    String DeletedListPath() const;
    void LoadDeletedList();
    bool SaveDeletedList() const;
    MD5 KnownDigest(const String& name) const;

    String mWritableFolder;
    String mReadOnlyFolder;
    bool mHasReadOnlyLayer = false;
    std::unique_ptr<ResourceManifest> mReadOnlyList;
    std::unique_ptr<ResourceManifest> mManifest;
};

// The name of the deleted-name list in a writable folder.
inline constexpr const char16_t* _DELETED_LIST_NAME = u"vexel3d.deleted";

} // namespace Vexel
