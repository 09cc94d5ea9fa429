#include "Storage/Archive/DiskArchive.h"

#include "Common/Log.h"
#include "Common/StringEncoding.h"
#include "Platform/File.h"
#include "Platform/Folders.h"
#include "Storage/NameKey.h"

#include <algorithm>
#include <mutex>

namespace Vexel
{

namespace
{

// A normalised name that stays inside any folder it is joined to.
bool IsContained(const String& name)
{
    if (name.empty() || name[0] == u'\\' || (name.size() >= 2 && name[1] == u':') ||
        name.find(u"://") != String::npos)
        return false;
    std::size_t start = 0;
    while (start <= name.size())
    {
        std::size_t end = name.find(u'\\', start);
        if (end == String::npos)
            end = name.size();
        if (name.compare(start, end - start, u"..") == 0)
            return false;
        start = end + 1;
    }
    return true;
}

bool FileSize32(const String& path, _dword& size)
{
    File file;
    if (!file.OpenRead(path))
        return false;
    _qword length = file.GetSize();
    if (length > 0xFFFFFFFF)
        return false;
    size = static_cast<_dword>(length);
    return true;
}

// Names of the files under folder, relative to it and normalised.
void ListFolder(const String& folder, std::vector<String>& names)
{
    if (folder.empty() || !FolderExists(folder))
        return;
    const std::size_t prefix = JoinFolder(folder, String()).size();
    EnumerateFiles(folder, true,
                   [&](const String& path)
                   {
                       if (path.size() > prefix)
                           names.push_back(NormalizeResourceName(String(path.substr(prefix))));
                   });
}

} // namespace

DiskArchive::DiskArchive(StorageLock* lock, const String& name) : DataArchive(lock, name) {}

DiskArchive::~DiskArchive() = default;

bool DiskArchive::Open(const String& writableFolder, const String& readOnlyFolder, const void* manifest,
                       std::size_t manifestSize)
{
    std::lock_guard guard(*mLock);
    if (!writableFolder.empty() && !FolderExists(writableFolder))
        return false;
    mWritableFolder = writableFolder;
    mReadOnlyFolder.clear();
    mReadOnlyList.reset();
    mHasReadOnlyLayer = false;
    mDeleted.clear();

    if (!readOnlyFolder.empty() && readOnlyFolder[0] == u'>')
    {
        String listPath(readOnlyFolder.substr(1));
        ByteBuffer bytes;
        bool changed = false;
        mReadOnlyList = std::make_unique<ResourceManifest>();
        if (ReadFile(listPath, bytes) && DecompressBuffer(bytes, changed))
            mReadOnlyList->LoadText(bytes.data(), bytes.size());
        LogTrace(u"[RM] Load R/O resource list : %ls, %d", listPath, mReadOnlyList->GetEntryCount());
        // The listed files lie beside the list.
        mReadOnlyFolder = FolderOf(listPath);
        mHasReadOnlyLayer = true;
    }
    else if (!readOnlyFolder.empty())
    {
        mReadOnlyFolder = readOnlyFolder;
        mHasReadOnlyLayer = true;
    }
    if (mHasReadOnlyLayer)
        LoadDeletedList();

    if (manifest && manifestSize)
    {
        const auto* start = static_cast<const _byte*>(manifest);
        ByteBuffer bytes(start, start + manifestSize);
        bool changed = false;
        mManifest = std::make_unique<ResourceManifest>();
        if (DecompressBuffer(bytes, changed))
            mManifest->LoadText(bytes.data(), bytes.size());
        mVersion = mManifest->GetVersion();
    }
    mReadOnly = false;
    return true;
}

String DiskArchive::Resolve(const String& name) const
{
    String lookup = NormalizeResourceName(name);
    if (IsLiteralKey(lookup) && mManifest)
        if (const ResourceManifest::Entry* entry = mManifest->FindEntry(lookup))
            return entry->name;
    return lookup;
}

String DiskArchive::PathIn(const String& folder, const String& name) const
{
    // Without a folder the names are plain paths; inside one they may not climb out of it.
    if (folder.empty())
        return name;
    if (!IsContained(name))
        return String();
    return JoinFolder(folder, name);
}

bool DiskArchive::InReadOnlyLayer(const String& name) const
{
    if (!mHasReadOnlyLayer)
        return false;
    if (mReadOnlyList)
        return mReadOnlyList->HasEntry(name);
    String path = PathIn(mReadOnlyFolder, name);
    return !path.empty() && FileExists(path);
}

MD5 DiskArchive::KnownDigest(const String& name) const
{
    if (mManifest)
        if (const ResourceManifest::Entry* entry = mManifest->FindEntry(name))
            return entry->md5;
    return MD5();
}

DataStream* DiskArchive::OpenStream(const String& name)
{
    std::lock_guard guard(*mLock);
    String lookup = Resolve(name);
    if (lookup.empty())
        return nullptr;
    String path = PathIn(mWritableFolder, lookup);
    File file;
    // Files of the writable folder open for writing too; plain paths (no folder) are only read, so a read
    // never changes a file's permissions.
    bool found = !path.empty() && FileExists(path) &&
                 ((!mWritableFolder.empty() && file.OpenReadWrite(path)) || file.OpenRead(path));
    MD5 md5 = KnownDigest(lookup);
    if (!found && mHasReadOnlyLayer && !IsDeleted(lookup))
    {
        path = PathIn(mReadOnlyFolder, lookup);
        found = !path.empty() && FileExists(path) && file.OpenRead(path);
        if (found && mReadOnlyList)
            if (const ResourceManifest::Entry* entry = mReadOnlyList->FindEntry(lookup))
                md5 = entry->md5;
    }
    if (!found)
        return nullptr;
    _qword size = file.GetSize();
    if (size > 0xFFFFFFFF)
        return nullptr;
    NoteLoad(lookup);
    return new DiskStream(mLock, lookup, std::move(file), static_cast<_dword>(size), md5);
}

bool DiskArchive::WriteResource(const String& name, const void* buffer, _dword size, const MD5& md5)
{
    std::lock_guard guard(*mLock);
    String lookup = Resolve(name);
    String path = lookup.empty() ? String() : PathIn(mWritableFolder, lookup);
    if (path.empty())
    {
        LogTrace(u"[RM] Resource name leaves the archive folder : %ls", name);
        return false;
    }
    // Not synced, as the hash archive's chunks are not: the wait costs many times the write, and a
    // resource store can fetch what a power cut took.
    if (WriteFile(path, buffer, size, false))
        return true;
    // The first write into a folder makes it.
    String folder = FolderOf(path);
    if (folder.empty() || FolderExists(folder) || !CreateFolder(folder))
        return false;
    return WriteFile(path, buffer, size, false);
}

bool DiskArchive::DeleteResource(const String& name)
{
    std::lock_guard guard(*mLock);
    String lookup = Resolve(name);
    if (lookup.empty())
        return false;
    String path = PathIn(mWritableFolder, lookup);
    bool inReadOnly = !IsDeleted(lookup) && InReadOnlyLayer(lookup);
    bool deleted = false;
    if (!path.empty() && FileExists(path))
    {
        deleted = DeleteFile(path);
        if (!deleted)
            return false;
    }
    // A copy in the read-only layer would show through again, so it is hidden as well.
    if (inReadOnly)
    {
        mDeleted.insert(lookup);
        return SaveDeletedList();
    }
    return deleted;
}

bool DiskArchive::GetResourceInfo(const String& name, _dword& size, MD5& md5)
{
    std::lock_guard guard(*mLock);
    String lookup = Resolve(name);
    if (lookup.empty())
        return false;
    String path = PathIn(mWritableFolder, lookup);
    if (!path.empty() && FileSize32(path, size))
    {
        md5 = KnownDigest(lookup);
        return true;
    }
    if (!mHasReadOnlyLayer || IsDeleted(lookup))
        return false;
    if (mReadOnlyList)
    {
        const ResourceManifest::Entry* entry = mReadOnlyList->FindEntry(lookup);
        if (!entry)
            return false;
        size = entry->size;
        md5 = entry->md5;
        return true;
    }
    path = PathIn(mReadOnlyFolder, lookup);
    if (path.empty() || !FileSize32(path, size))
        return false;
    md5 = KnownDigest(lookup);
    return true;
}

bool DiskArchive::HasResource(const String& name)
{
    std::lock_guard guard(*mLock);
    String lookup = Resolve(name);
    if (lookup.empty())
        return false;
    String path = PathIn(mWritableFolder, lookup);
    if (!path.empty() && FileExists(path))
        return true;
    return !IsDeleted(lookup) && InReadOnlyLayer(lookup);
}

int DiskArchive::Enumerate(ArchiveCallback callback, void* a, void* b)
{
    std::lock_guard guard(*mLock);
    std::vector<String> names;
    ListFolder(mWritableFolder, names);
    std::unordered_set<String> seen;
    for (auto it = names.begin(); it != names.end();)
    {
        if (*it == _DELETED_LIST_NAME)
            it = names.erase(it);
        else
            seen.insert(*it++);
    }
    if (mHasReadOnlyLayer)
    {
        std::vector<String> lower;
        if (mReadOnlyList)
            for (const ResourceManifest::Entry& entry : mReadOnlyList->Entries())
                lower.push_back(entry.name);
        else
            ListFolder(mReadOnlyFolder, lower);
        // Names hidden by the deleted list or by a writable copy are not listed twice.
        for (String& name : lower)
            if (!IsDeleted(name) && seen.insert(name).second)
                names.push_back(std::move(name));
    }
    return WalkNames(names, callback, a, b);
}

String DiskArchive::DeletedListPath() const
{
    return FormatString(u"%ls/%ls", mWritableFolder, _DELETED_LIST_NAME);
}

void DiskArchive::LoadDeletedList()
{
    if (mWritableFolder.empty())
        return;
    ByteBuffer bytes;
    if (!ReadFile(DeletedListPath(), bytes))
        return;
    String name;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    {
        char16_t c = static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
        if (c == u'\n')
        {
            if (!name.empty() && name.back() == u'\r')
                name.pop_back();
            if (!name.empty())
                mDeleted.insert(NormalizeResourceName(name));
            name.clear();
        }
        else if (c != 0xFEFF || !name.empty())
            name += c;
    }
    if (!name.empty())
        mDeleted.insert(NormalizeResourceName(name));
}

bool DiskArchive::SaveDeletedList() const
{
    if (mWritableFolder.empty())
        return true;
    String text;
    for (const String& name : mDeleted)
    {
        text += name;
        text += u'\n';
    }
    ByteBuffer bytes;
    bytes.reserve(text.size() * 2);
    for (char16_t c : text)
    {
        bytes.push_back(static_cast<_byte>(c & 0xFF));
        bytes.push_back(static_cast<_byte>(c >> 8));
    }
    // The list is replaced whole, so a failed write leaves the previous list.
    if (!WriteFile(DeletedListPath(), bytes))
    {
        LogTrace(u"[RM] Write deleted list failed : %ls", DeletedListPath());
        return false;
    }
    return true;
}

} // namespace Vexel
