#include "Storage/Archive/MemArchive.h"

#include "Common/Memory.h"

#include <mutex>

namespace Vexel
{

MemArchive::MemArchive(StorageLock* lock, const String& name, const String& extension)
    : DataArchive(lock, name, extension)
{
}

MemArchive::~MemArchive()
{
    for (Entry& entry : mEntries)
        Release(entry.buffer);
}

namespace
{
bool StoreRecord(const String& name, const _byte* data, _dword size, void* context)
{
    return static_cast<MemArchive*>(context)->WriteResource(name, data, size, Md5Of(data, size));
}
} // namespace

bool MemArchive::Open(const void* bundle, std::size_t size)
{
    std::lock_guard guard(*mLock);
    return ReadBundle(bundle, size, StoreRecord, this);
}

DataStream* MemArchive::OpenStream(const String& name)
{
    std::lock_guard guard(*mLock);
    auto found = mMap.find(LookupName(name));
    if (found == mMap.end())
        return nullptr;
    const Entry& entry = *found->second;
    void* copy = entry.size ? AllocateShared(entry.buffer, entry.size) : nullptr;
    if (entry.size && !copy)
        return nullptr;
    NoteLoad(entry.name);
    return new MemStream(mLock, entry.name, copy, entry.size, entry.md5);
}

bool MemArchive::WriteResource(const String& name, const void* buffer, _dword size, const MD5& md5)
{
    std::lock_guard guard(*mLock);
    String lookup = LookupName(name);
    if (lookup.empty())
        return false;
    void* block = nullptr;
    if (size)
    {
        block = AllocateShared(buffer, size);
        if (!block)
            return false;
    }
    auto found = mMap.find(lookup);
    if (found == mMap.end())
    {
        auto it = mEntries.emplace(mEntries.end());
        it->name = lookup;
        found = mMap.emplace(lookup, it).first;
    }
    Entry& entry = *found->second;
    Release(entry.buffer);
    entry.buffer = block;
    entry.size = size;
    entry.md5 = md5;
    return true;
}

bool MemArchive::DeleteResource(const String& name)
{
    std::lock_guard guard(*mLock);
    auto found = mMap.find(LookupName(name));
    if (found == mMap.end())
        return false;
    Release(found->second->buffer);
    mEntries.erase(found->second);
    mMap.erase(found);
    return true;
}

bool MemArchive::GetResourceInfo(const String& name, _dword& size, MD5& md5)
{
    std::lock_guard guard(*mLock);
    auto found = mMap.find(LookupName(name));
    if (found == mMap.end())
        return false;
    size = found->second->size;
    md5 = found->second->md5;
    return true;
}

bool MemArchive::HasResource(const String& name)
{
    std::lock_guard guard(*mLock);
    return mMap.count(LookupName(name)) != 0;
}

int MemArchive::Enumerate(ArchiveCallback callback, void* a, void* b)
{
    std::lock_guard guard(*mLock);
    // A copy of the names, so a callback may change the archive.
    std::vector<String> names;
    names.reserve(mEntries.size());
    for (const Entry& entry : mEntries)
        names.push_back(entry.name);
    return WalkNames(names, callback, a, b);
}

} // namespace Vexel
