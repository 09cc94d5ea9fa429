// Objects already built from resources, by resource type and normalised name, so a second load of the
// same resource can reuse them. Lookups fall back to the search folders of the manager it is given.
#pragma once

#include "Common/String.h"

#include <memory>
#include <unordered_map>

namespace Vexel
{

class ResourceManager;

constexpr _dword _MAX_RESCACHE = 16;

class IResourceCache
{
public:
    virtual ~IResourceCache() = default;
    virtual void SetEnabled(bool enabled) = 0;
    virtual bool IsEnabled() const = 0;
    virtual void* Find(_dword type, const String& name) = 0;
    virtual void Add(_dword type, const String& name, void* object) = 0;
    virtual void Remove(_dword type, const String& name) = 0;
    virtual _dword GetCount() const = 0;
    virtual float GetHitRate() const = 0;
};

class ResourceCache : public IResourceCache
{
public:
    explicit ResourceCache(ResourceManager* manager = nullptr) : mManager(manager) {}
    ~ResourceCache() override = default;
    ResourceCache(const ResourceCache&) = delete;
    ResourceCache& operator=(const ResourceCache&) = delete;

    void SetEnabled(bool enabled) override { mEnabled = enabled; }
    bool IsEnabled() const override { return mEnabled; }
    void* Find(_dword type, const String& name) override;
    void Add(_dword type, const String& name, void* object) override;
    void Remove(_dword type, const String& name) override;
    _dword GetCount() const override;
    float GetHitRate() const override;

private:
    using Table = std::unordered_map<String, void*>;
    ResourceManager* mManager;
    bool mEnabled = true;
    _dword mLookups = 0;
    _dword mHits = 0;
    std::unique_ptr<Table> mTables[_MAX_RESCACHE];
};

} // namespace Vexel
