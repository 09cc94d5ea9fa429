// The resource manifest: for each resource of a game version its name, size, digest, optional offset
// inside a package file and group. Loads from a text form ("|"-separated UTF-16 lines) or a binary form
// ("FOC1"); only the text form is written. Lookups go by the name's 128-bit key, so literal-key names
// ("<" and 32 digits) find their entries too.
#pragma once

#include "Common/Array.h"
#include "Common/Compression.h"
#include "Common/Md5.h"
#include "Common/String.h"
#include "Storage/NameKey.h"

#include <list>
#include <unordered_map>
#include <unordered_set>

namespace Vexel
{

class IResourceManager;

constexpr _dword _MANIFEST_BINARY_MAGIC = 0x31434F46; // "FOC1"
constexpr _dword _MANIFEST_MAX_NAME = 1023;           // characters kept of a binary name or group

using ManifestCallback = void (*)(const String& name, _dword size, int offset, const MD5& md5,
                                  const String& group, void* a, void* b);

class IResourceManifest
{
public:
    virtual ~IResourceManifest() = default;
    virtual const String& GetVersionText() const = 0;
    virtual void SetVersionText(const String& text) = 0;
    virtual const String& GetBaseText() const = 0;
    virtual void SetBaseText(const String& text) = 0;
    virtual _dword GetPackageExtent() const = 0;
    virtual bool LoadText(const void* data, std::size_t size) = 0;
    virtual bool LoadBinary(const void* data, std::size_t size) = 0;
    virtual bool LoadResource(const String& name) = 0;
    virtual bool SaveText(const String& path) const = 0;
    virtual bool GetEntry(const String& name, _dword* size, int* offset, MD5* md5, String* group) const = 0;
    virtual bool GetEntrySize(const String& name, _dword& size) const = 0;
    virtual bool HasEntry(const String& name) const = 0;
    virtual void SetEntry(const String& name, _dword size, int offset, const MD5& md5,
                          const String& group) = 0;
    virtual bool RemoveEntry(const String& name) = 0;
    virtual void Clear() = 0;
    virtual _dword GetEntryCount() const = 0;
    virtual _dword GetGroupCount() const = 0;
    virtual String GetGroup(_dword index) const = 0;
    virtual bool HasGroup(const String& group) const = 0;
    virtual _dword Enumerate(ManifestCallback callback, void* a, void* b) const = 0;
};

class ResourceManifest : public IResourceManifest
{
public:
    struct Entry
    {
        String name; // folder, "\", file name; lower case
        NameKey key;
        _dword size = 0;
        int offset = -1;
        MD5 md5;
        String group;
    };

    // LoadResource reads through manager (without one it finds nothing).
    explicit ResourceManifest(IResourceManager* manager = nullptr) : mManager(manager) {}
    ~ResourceManifest() override = default;
    ResourceManifest(const ResourceManifest&) = delete;
    ResourceManifest& operator=(const ResourceManifest&) = delete;

    const String& GetVersionText() const override { return mVersionText; }
    void SetVersionText(const String& text) override;
    const String& GetBaseText() const override { return mBaseText; }
    void SetBaseText(const String& text) override { mBaseText = text; }
    _dword GetPackageExtent() const override { return mExtent; }
    bool LoadText(const void* data, std::size_t size) override;
    bool LoadBinary(const void* data, std::size_t size) override;
    bool LoadResource(const String& name) override;
    bool SaveText(const String& path) const override;
    bool GetEntry(const String& name, _dword* size, int* offset, MD5* md5, String* group) const override;
    bool GetEntrySize(const String& name, _dword& size) const override;
    bool HasEntry(const String& name) const override;
    void SetEntry(const String& name, _dword size, int offset, const MD5& md5, const String& group) override;
    bool RemoveEntry(const String& name) override;
    void Clear() override;
    _dword GetEntryCount() const override { return static_cast<_dword>(mEntries.size()); }
    _dword GetGroupCount() const override { return static_cast<_dword>(mGroups.Number()); }
    String GetGroup(_dword index) const override;
    bool HasGroup(const String& group) const override;
    _dword Enumerate(ManifestCallback callback, void* a, void* b) const override;

    _dword GetVersion() const { return mVersion; }
    void SetVersion(_dword version);
    // The entry of a name (plain or literal key), or null.
    const Entry* FindEntry(const String& name) const;
    const std::list<Entry>& Entries() const { return mEntries; }
    // The text form exactly as SaveText writes it (UTF-16LE bytes).
    ByteBuffer SaveTextBytes() const;

private:
    Entry& Put(const String& name, const NameKey& key, _dword size, int offset, const MD5& md5,
               const String& group);
    void AddGroup(const String& group);
    void ParseText(const char16_t* text, std::size_t length);

    IResourceManager* mManager;
    _dword mVersion = 0;
    String mVersionText = u"0";
    _dword mExtent = 0;
    String mBaseText;
    std::list<Entry> mEntries;
    std::unordered_map<NameKey, std::list<Entry>::iterator, NameKeyHash> mMap;
    Array<String> mGroups;
    std::unordered_set<String> mGroupSet;
};

} // namespace Vexel
