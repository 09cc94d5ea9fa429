#include "Storage/Archive/ChunkArchive.h"

#include "Common/Log.h"
#include "Platform/File.h"

#include <mutex>

namespace Vexel
{

ChunkArchive::ChunkArchive(StorageLock* lock, const String& name) : PackArchive(lock, name) {}

ChunkArchive::~ChunkArchive() = default;

bool ChunkArchive::Open(const String& path, bool writable, const void* manifest, std::size_t manifestSize)
{
    std::lock_guard guard(*mLock);
    auto file = std::make_shared<File>();
    bool opened = writable ? (file->OpenReadWrite(path) || (!FileExists(path) && file->Create(path)))
                           : file->OpenRead(path);
    if (!opened)
        return false;
    mWritableRequested = writable;
    mReadOnly = !writable;
    (writable ? mWritableFile : mReadOnlyFile) = std::move(file);
    if (manifest && manifestSize)
    {
        const auto* start = static_cast<const _byte*>(manifest);
        ByteBuffer bytes(start, start + manifestSize);
        bool changed = false;
        ResourceManifest index;
        if (DecompressBuffer(bytes, changed) && index.LoadText(bytes.data(), bytes.size()))
            for (const ResourceManifest::Entry& entry : index.Entries())
                if (entry.offset != -1)
                    SetEntry(entry.name, entry.size, static_cast<_dword>(entry.offset), entry.md5);
        mVersion = index.GetVersion();
    }
    return true;
}

void ChunkArchive::SetEntry(const String& name, _dword size, _dword offset, const MD5& md5)
{
    std::lock_guard guard(*mLock);
    NameKey key = MakeNameKey(String(), name);
    auto found = mMap.find(key);
    if (found == mMap.end())
        found = mMap.emplace(key, mEntries.emplace(mEntries.end())).first;
    Entry& entry = *found->second;
    entry.name = IsLiteralKey(name) && !entry.name.empty() ? entry.name : NormalizeResourceName(name);
    entry.size = size;
    entry.offset = offset;
    entry.md5 = md5;
}

const ChunkArchive::Entry* ChunkArchive::Find(const String& name) const
{
    auto found = mMap.find(MakeNameKey(String(), LookupName(name)));
    return found == mMap.end() ? nullptr : &*found->second;
}

DataStream* ChunkArchive::OpenStream(const String& name)
{
    std::lock_guard guard(*mLock);
    const Entry* entry = Find(name);
    if (!entry || !Package())
        return nullptr;
    NoteLoad(entry->name);
    return new PackStream(mLock, entry->name, Package(), entry->offset, entry->size, entry->md5);
}

bool ChunkArchive::WriteResource(const String& name, const void* buffer, _dword size, const MD5& md5)
{
    std::lock_guard guard(*mLock);
    const Entry* entry = Find(name);
    if (!entry || !mWritableFile || entry->size != size || (size && !buffer))
        return false;
    return mWritableFile->Seek(entry->offset) && mWritableFile->Write(buffer, size);
}

bool ChunkArchive::DeleteResource(const String& name)
{
    std::lock_guard guard(*mLock);
    auto found = mMap.find(MakeNameKey(String(), LookupName(name)));
    if (found == mMap.end())
        return false;
    mEntries.erase(found->second);
    mMap.erase(found);
    return true;
}

bool ChunkArchive::GetResourceInfo(const String& name, _dword& size, MD5& md5)
{
    std::lock_guard guard(*mLock);
    const Entry* entry = Find(name);
    if (!entry)
        return false;
    size = entry->size;
    md5 = entry->md5;
    return true;
}

bool ChunkArchive::HasResource(const String& name)
{
    std::lock_guard guard(*mLock);
    return Find(name) != nullptr;
}

int ChunkArchive::Enumerate(ArchiveCallback callback, void* a, void* b)
{
    std::lock_guard guard(*mLock);
    std::vector<String> names;
    for (const Entry& entry : mEntries)
        names.push_back(entry.name);
    return WalkNames(names, callback, a, b);
}

} // namespace Vexel
