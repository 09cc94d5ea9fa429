// The resource manager: the process-wide entry to stored resources. It owns an ordered list of archives,
// resolves names to the archive that holds them, hands out reference-counted streams and reads, writes,
// copies, moves, compares and deletes resources. Its recursive storage lock is shared by every archive
// and stream it makes.
#pragma once

#include "Common/Array.h"
#include "Common/Compression.h"
#include "Common/Kernel.h"
#include "Common/Md5.h"
#include "Common/Stack.h"
#include "Common/String.h"
#include "Storage/Archive/DataArchive.h"
#include "Storage/DataStream.h"

#include <atomic>
#include <memory>
#include <vector>

namespace Vexel
{

using OpenHook = void (*)(const String& name, DataStream* stream);

class IResourceManager
{
public:
    virtual ~IResourceManager() = default;
    virtual void SetOpenHook(OpenHook hook) = 0;
    virtual IDataArchive* CreateDiskArchive(const String& name, const String& folder) = 0;
    virtual IDataArchive* CreateHashArchive(const String& name, const String& writablePath,
                                            const String& readOnlyPath, _dword slots) = 0;
    virtual IDataArchive* CreateHashArchive(const String& name, const String& path, _dword slots) = 0;
    virtual IDataArchive* CreateMemoryArchive(const String& name, const String& extension) = 0;
    virtual IDataArchive* CreateReserved() = 0;
    virtual IDataArchive* OpenDiskArchive(const String& name, const String& writableFolder,
                                          const String& readOnlyFolder, const void* manifest = nullptr,
                                          _dword manifestSize = 0) = 0;
    virtual IDataArchive* OpenHashArchive(const String& name, const String& writablePath,
                                          const String& readOnlyPath, _dword needSlots) = 0;
    virtual IDataArchive* OpenHashArchive(const String& name, const String& path, bool writable,
                                          _dword needSlots = 0) = 0;
    // A package file whose resources are regions listed by a manifest (entries with an offset).
    virtual IDataArchive* OpenChunkArchive(const String& name, const String& path, bool writable,
                                           const void* manifest = nullptr, _dword manifestSize = 0) = 0;
    virtual IDataArchive* OpenMemoryArchive(const String& name, const String& extension, const void* bundle,
                                            _dword size) = 0;
    virtual IDataArchive* OpenZipArchive(const String& name, const String& extension, const String& path) = 0;
    virtual IDataArchive* OpenZipArchive(const String& name, const String& extension, const void* buffer,
                                         _dword size) = 0;
    virtual _dword GetArchiveCount() = 0;
    virtual IDataArchive* GetArchive(_dword index) = 0;
    virtual IDataArchive* FindArchiveByExtension(const String& extension) = 0;
    // Copies every resource, replacing those the target has; returns how many were copied.
    virtual _dword CopyArchiveResources(IDataArchive* from, IDataArchive* to) = 0;
    // Copies only resources the target lacks or holds with another digest.
    virtual _dword CopyArchiveResources(IDataArchive* from, IDataArchive* to, bool onlyMissing) = 0;
    virtual bool RemoveArchive(IDataArchive*& archive) = 0;
    virtual void RemoveAllArchives() = 0;
    virtual DataStream* CreateMemStream(const String& name, const ByteBuffer& text, const MD5& md5) = 0;
    virtual DataStream* CreateMemStream(const String& name, _dword size, const MD5& md5) = 0;
    virtual DataStream* OpenStream(const String& name) = 0;
    virtual DataStream* AddRefStream(DataStream* stream) = 0;
    virtual bool ReleaseStream(DataStream*& stream) = 0;
    virtual bool WriteText(const String& name, const ByteBuffer& text) = 0;
    virtual bool WriteResource(const String& name, const void* buffer, _dword size, const MD5& md5) = 0;
    virtual bool WriteTextLocal(const String& name, const ByteBuffer& text) = 0;
    virtual bool WriteResourceLocal(const String& name, const void* buffer, _dword size, const MD5& md5) = 0;
    virtual bool DeleteResource(const String& name) = 0;
    virtual bool GetResourceInfo(const String& name, _dword& size, MD5& md5) = 0;
    virtual bool HasResource(const String& name) = 0;
    virtual void ResetFailedLoads() = 0;
    virtual _dword GetFailedLoads() = 0;
    virtual void SetPackKey(const String& key) = 0;
    virtual String GetPackKey() = 0;
    virtual void SetOption(bool value) = 0;
    virtual bool GetOption() = 0;
    // As ReadResource; a missing resource reads "<name>.info" instead (then *readInfo is set).
    virtual bool ReadResourceOrInfo(const String& name, bool* readInfo, ByteBuffer& buffer, bool decode) = 0;
    virtual bool ReadResource(const String& name, ByteBuffer& buffer, bool decode) = 0;
    virtual bool CopyResource(const String& from, const String& to) = 0;
    virtual bool MoveResource(const String& from, const String& to) = 0;
    virtual bool CompareResources(const String& a, const String& b) = 0;
    virtual _dword GetSearchFolderCount() = 0;
    virtual String GetSearchFolder(_dword index) = 0;
    virtual void AddSearchFolder(const String& folder) = 0;
    virtual void RemoveSearchFolder(const String& folder) = 0;
    virtual void ClearSearchFolders() = 0;
    virtual int EnumerateAll(ArchiveCallback callback, void* a, void* b) = 0;

    // Beyond the fixed slots: the main-thread load warning and the stack of nested loads.
    virtual void SetMainThreadWarning(bool on) = 0;
    virtual bool GetMainThreadWarning() = 0;
    virtual void PushLoad(const String& name) = 0;
    virtual void PopLoad() = 0;
    virtual StorageLock* GetLock() = 0;
};

class ResourceManager : public IResourceManager
{
public:
    // Registers itself in the kernel context unless another manager is registered.
    ResourceManager();
    ~ResourceManager() override;
    ResourceManager(const ResourceManager&) = delete;
    ResourceManager& operator=(const ResourceManager&) = delete;

    void SetOpenHook(OpenHook hook) override;
    IDataArchive* CreateDiskArchive(const String& name, const String& folder) override;
    IDataArchive* CreateHashArchive(const String& name, const String& writablePath,
                                    const String& readOnlyPath, _dword slots) override;
    IDataArchive* CreateHashArchive(const String& name, const String& path, _dword slots) override;
    IDataArchive* CreateMemoryArchive(const String& name, const String& extension) override;
    IDataArchive* CreateReserved() override { return nullptr; }
    IDataArchive* OpenDiskArchive(const String& name, const String& writableFolder,
                                  const String& readOnlyFolder, const void* manifest = nullptr,
                                  _dword manifestSize = 0) override;
    IDataArchive* OpenHashArchive(const String& name, const String& writablePath, const String& readOnlyPath,
                                  _dword needSlots) override;
    IDataArchive* OpenHashArchive(const String& name, const String& path, bool writable,
                                  _dword needSlots = 0) override;
    IDataArchive* OpenChunkArchive(const String& name, const String& path, bool writable,
                                   const void* manifest = nullptr, _dword manifestSize = 0) override;
    IDataArchive* OpenMemoryArchive(const String& name, const String& extension, const void* bundle,
                                    _dword size) override;
    IDataArchive* OpenZipArchive(const String& name, const String& extension, const String& path) override;
    IDataArchive* OpenZipArchive(const String& name, const String& extension, const void* buffer,
                                 _dword size) override;
    _dword GetArchiveCount() override;
    IDataArchive* GetArchive(_dword index) override;
    IDataArchive* FindArchiveByExtension(const String& extension) override;
    _dword CopyArchiveResources(IDataArchive* from, IDataArchive* to) override;
    _dword CopyArchiveResources(IDataArchive* from, IDataArchive* to, bool onlyMissing) override;
    bool RemoveArchive(IDataArchive*& archive) override;
    void RemoveAllArchives() override;
    DataStream* CreateMemStream(const String& name, const ByteBuffer& text, const MD5& md5) override;
    DataStream* CreateMemStream(const String& name, _dword size, const MD5& md5) override;
    DataStream* OpenStream(const String& name) override;
    DataStream* AddRefStream(DataStream* stream) override;
    bool ReleaseStream(DataStream*& stream) override;
    bool WriteText(const String& name, const ByteBuffer& text) override;
    bool WriteResource(const String& name, const void* buffer, _dword size, const MD5& md5) override;
    bool WriteTextLocal(const String& name, const ByteBuffer& text) override;
    bool WriteResourceLocal(const String& name, const void* buffer, _dword size, const MD5& md5) override;
    bool DeleteResource(const String& name) override;
    bool GetResourceInfo(const String& name, _dword& size, MD5& md5) override;
    bool HasResource(const String& name) override;
    void ResetFailedLoads() override;
    _dword GetFailedLoads() override;
    void SetPackKey(const String& key) override;
    String GetPackKey() override;
    void SetOption(bool value) override;
    bool GetOption() override;
    bool ReadResourceOrInfo(const String& name, bool* readInfo, ByteBuffer& buffer, bool decode) override;
    bool ReadResource(const String& name, ByteBuffer& buffer, bool decode) override;
    bool CopyResource(const String& from, const String& to) override;
    bool MoveResource(const String& from, const String& to) override;
    bool CompareResources(const String& a, const String& b) override;
    _dword GetSearchFolderCount() override;
    String GetSearchFolder(_dword index) override;
    void AddSearchFolder(const String& folder) override;
    void RemoveSearchFolder(const String& folder) override;
    void ClearSearchFolders() override;
    int EnumerateAll(ArchiveCallback callback, void* a, void* b) override;

    void SetMainThreadWarning(bool on) override;
    bool GetMainThreadWarning() override;
    void PushLoad(const String& name) override;
    void PopLoad() override;
    StorageLock* GetLock() override { return &mLock; }

    // The search folders, last added last (the resource cache walks them too).
    Array<String> SearchFolders();

private:
    enum class Operation
    {
        Open,
        Write,
        WriteLocal,
        Delete,
        Exists,
        Info,
    };
    struct Request
    {
        explicit Request(Operation op, const void* data = nullptr, _dword length = 0,
                         const MD5& digest = MD5())
            : operation(op), buffer(data), size(length), md5(digest)
        {
        }
        Operation operation;
        const void* buffer = nullptr;
        _dword size = 0;
        MD5 md5;
        DataStream* stream = nullptr;
        bool result = false;
    };
    // Applies one operation through the resolution order; true when some archive answered.
    bool Resolve(const String& name, Request& request);
    bool TryArchive(IDataArchive* archive, const String& name, Request& request);
    bool TryWithFolders(IDataArchive* archive, const String& name, Request& request);
    IDataArchive* Adopt(std::unique_ptr<DataArchive> archive, bool opened);
    // One body for every create and open: runs the archive's opening step, logs the outcome ("[RM]
    // <action> successful : <details>" on the trace channel, "failed" on both) and keeps it when it opened.
    template <typename Kind, typename Step, typename... Args>
    IDataArchive* AddArchive(std::unique_ptr<Kind> archive, Step step, const char16_t* action,
                             const char16_t* details, const Args&... args);
    bool ReadWhole(const String& name, ByteBuffer& buffer, bool decode, bool countFailure);
    _dword CopyArchive(IDataArchive* from, IDataArchive* to, bool onlyMissing);

    struct SearchFolder
    {
        String folder;
        _dword count = 0;
    };

    StorageLock mLock;
    OpenHook mOpenHook = nullptr;
    String mPackKey;
    bool mOption = false;
    std::atomic<bool> mMainThreadWarning{false};
    _dword mFailedLoads = 0;
    std::vector<std::unique_ptr<DataArchive>> mArchives;
    Array<SearchFolder> mSearchFolders;
    Stack<String> mLoadStack;
};

} // namespace Vexel
