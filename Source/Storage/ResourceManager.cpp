#include "Storage/ResourceManager.h"

#include "Common/Log.h"
#include "Common/Memory.h"
#include "Common/StringEncoding.h"
#include "Platform/File.h"
#include "Platform/Folders.h"
#include "Storage/Archive/ChunkArchive.h"
#include "Storage/Archive/DiskArchive.h"
#include "Storage/Archive/HashArchive.h"
#include "Storage/Archive/MemArchive.h"
#include "Storage/Archive/ZipArchive.h"
#include "Storage/NameKey.h"

#include <mutex>

namespace Vexel
{

namespace
{

bool IsAbsoluteName(const String& name)
{
    return (!name.empty() && name[0] == u'\\') || (name.size() >= 2 && name[1] == u':');
}

// A failure line shown on both channels.
template <typename... Args> void LogShown(const char16_t* format, const Args&... args)
{
    LogBoth(FormatString(format, args...).c_str());
}

bool CollectName(const String& name, void* a, void*)
{
    static_cast<std::vector<String>*>(a)->push_back(name);
    return true;
}

bool IsHashOrChunk(const IDataArchive* archive)
{
    return archive->GetType() == _ARCHIVE_HASH || archive->GetType() == _ARCHIVE_CHUNK;
}

} // namespace

ResourceManager::ResourceManager() = default;

ResourceManager::~ResourceManager()
{
    int leaks = GetLiveStreamCount();
    if (leaks != 0)
    {
        const String line(76, u'-');
        LogBoth(line.c_str());
        LogShown(u"[RD] Caution! DataStream leaks : %d", leaks);
        LogBoth(line.c_str());
    }
    else
        LogTrace(u"[RD] Congratulations! No data stream leaks!");
    RemoveAllArchives();
}

void ResourceManager::SetOpenHook(OpenHook hook)
{
    std::lock_guard guard(mLock);
    mOpenHook = hook;
}

IDataArchive* ResourceManager::Adopt(std::unique_ptr<DataArchive> archive, bool opened)
{
    if (!opened)
        return nullptr;
    archive->SetOwner(this);
    mArchives.push_back(std::move(archive));
    return mArchives.back().get();
}

template <typename Kind, typename Step, typename... Args>
IDataArchive* ResourceManager::AddArchive(std::unique_ptr<Kind> archive, Step step, const char16_t* action,
                                          const char16_t* details, const Args&... args)
{
    bool ok = step(*archive);
    String format = String(u"[RM] ") + action + (ok ? u" successful : " : u" failed : ") + details;
    if (ok)
        LogTrace(format.c_str(), args...);
    else
        LogShown(format.c_str(), args...);
    return Adopt(std::move(archive), ok);
}

// --- Making archives -------------------------------------------------------------------------------

IDataArchive* ResourceManager::CreateDiskArchive(const String& name, const String& folder)
{
    std::lock_guard guard(mLock);
    return AddArchive(
        std::make_unique<DiskArchive>(&mLock, name),
        [&](DiskArchive& archive)
        { return (folder.empty() || CreateFolder(folder)) && archive.Open(folder, String()); },
        u"Create disk archive", u"%ls => %ls", name, folder);
}

IDataArchive* ResourceManager::CreateHashArchive(const String& name, const String& writablePath,
                                                 const String& readOnlyPath, _dword slots)
{
    std::lock_guard guard(mLock);
    return AddArchive(
        std::make_unique<HashArchive>(&mLock, name),
        [&](HashArchive& archive) { return archive.Create(writablePath, readOnlyPath, slots); },
        u"Create hash archive", u"%ls, %ls, %ls", name, writablePath, readOnlyPath);
}

IDataArchive* ResourceManager::CreateHashArchive(const String& name, const String& path, _dword slots)
{
    std::lock_guard guard(mLock);
    return AddArchive(
        std::make_unique<HashArchive>(&mLock, name),
        [&](HashArchive& archive) { return archive.Create(path, slots); }, u"Create hash archive",
        u"%ls => %ls", name, path);
}

IDataArchive* ResourceManager::CreateMemoryArchive(const String& name, const String& extension)
{
    std::lock_guard guard(mLock);
    return AddArchive(
        std::make_unique<MemArchive>(&mLock, name, extension), [](MemArchive&) { return true; },
        u"Create memory archive", u"%ls", name);
}

IDataArchive* ResourceManager::OpenDiskArchive(const String& name, const String& writableFolder,
                                               const String& readOnlyFolder, const void* manifest,
                                               _dword manifestSize)
{
    std::lock_guard guard(mLock);
    return AddArchive(
        std::make_unique<DiskArchive>(&mLock, name),
        [&](DiskArchive& archive)
        { return archive.Open(writableFolder, readOnlyFolder, manifest, manifestSize); },
        u"Open disk archive", u"%ls, %ls, %ls", name, writableFolder, readOnlyFolder);
}

IDataArchive* ResourceManager::OpenHashArchive(const String& name, const String& writablePath,
                                               const String& readOnlyPath, _dword needSlots)
{
    std::lock_guard guard(mLock);
    return AddArchive(
        std::make_unique<HashArchive>(&mLock, name),
        [&](HashArchive& archive) { return archive.Open(writablePath, readOnlyPath, needSlots); },
        u"Open hash archive", u"%ls, %ls, %ls", name, writablePath, readOnlyPath);
}

IDataArchive* ResourceManager::OpenHashArchive(const String& name, const String& path, bool writable,
                                               _dword needSlots)
{
    std::lock_guard guard(mLock);
    return AddArchive(
        std::make_unique<HashArchive>(&mLock, name),
        [&](HashArchive& archive) { return archive.Open(path, writable, needSlots); }, u"Open hash archive",
        u"%ls => %ls", name, path);
}

IDataArchive* ResourceManager::OpenChunkArchive(const String& name, const String& path, bool writable,
                                                const void* manifest, _dword manifestSize)
{
    std::lock_guard guard(mLock);
    return AddArchive(
        std::make_unique<ChunkArchive>(&mLock, name),
        [&](ChunkArchive& archive) { return archive.Open(path, writable, manifest, manifestSize); },
        u"Open chunk archive", u"%ls => %ls", name, path);
}

IDataArchive* ResourceManager::OpenMemoryArchive(const String& name, const String& extension,
                                                 const void* bundle, _dword size)
{
    std::lock_guard guard(mLock);
    return AddArchive(
        std::make_unique<MemArchive>(&mLock, name, extension),
        [&](MemArchive& archive) { return archive.Open(bundle, size); }, u"Open memory archive", u"%ls, %ls",
        name, extension);
}

// Zip archives report their own failures.
IDataArchive* ResourceManager::OpenZipArchive(const String& name, const String& extension, const String& path)
{
    std::lock_guard guard(mLock);
    auto archive = std::make_unique<ZipArchive>(&mLock, name, extension);
    bool ok = archive->Open(path);
    return Adopt(std::move(archive), ok);
}

IDataArchive* ResourceManager::OpenZipArchive(const String& name, const String& extension, const void* buffer,
                                              _dword size)
{
    std::lock_guard guard(mLock);
    auto archive = std::make_unique<ZipArchive>(&mLock, name, extension);
    bool ok = archive->Open(buffer, size);
    return Adopt(std::move(archive), ok);
}

// --- The archive list ------------------------------------------------------------------------------

_dword ResourceManager::GetArchiveCount()
{
    std::lock_guard guard(mLock);
    return static_cast<_dword>(mArchives.size());
}

IDataArchive* ResourceManager::GetArchive(_dword index)
{
    std::lock_guard guard(mLock);
    return index < mArchives.size() ? mArchives[index].get() : nullptr;
}

IDataArchive* ResourceManager::FindArchiveByExtension(const String& extension)
{
    std::lock_guard guard(mLock);
    if (extension.empty())
        return nullptr;
    for (const auto& archive : mArchives)
        if (archive->GetExtension().Equals(extension, false))
            return archive.get();
    return nullptr;
}

_dword ResourceManager::CopyArchive(IDataArchive* from, IDataArchive* to, bool onlyMissing)
{
    std::lock_guard guard(mLock);
    if (!from || !to || from == to)
        return 0;
    std::vector<String> names;
    from->Enumerate(CollectName, &names, nullptr);
    _dword copied = 0;
    for (const String& name : names)
    {
        DataStream* stream = from->OpenStream(name);
        if (!stream)
            continue;
        MD5 md5 = stream->GetMD5();
        _dword size = 0;
        MD5 present;
        bool skip = onlyMissing && to->GetResourceInfo(name, size, present) && size == stream->GetSize() &&
                    present == md5;
        ByteBuffer bytes;
        if (!skip && stream->ReadText(bytes, false) &&
            to->WriteResource(name, bytes.data(), static_cast<_dword>(bytes.size()), md5))
            ++copied;
        ReleaseStream(stream);
    }
    return copied;
}

_dword ResourceManager::CopyArchiveResources(IDataArchive* from, IDataArchive* to)
{
    return CopyArchive(from, to, false);
}

_dword ResourceManager::CopyArchiveResources(IDataArchive* from, IDataArchive* to, bool onlyMissing)
{
    return CopyArchive(from, to, onlyMissing);
}

bool ResourceManager::RemoveArchive(IDataArchive*& archive)
{
    std::lock_guard guard(mLock);
    for (auto at = mArchives.begin(); at != mArchives.end(); ++at)
        if (at->get() == archive)
        {
            mArchives.erase(at);
            archive = nullptr;
            return true;
        }
    return false;
}

void ResourceManager::RemoveAllArchives()
{
    std::lock_guard guard(mLock);
    mArchives.clear();
}

// --- Streams ---------------------------------------------------------------------------------------

DataStream* ResourceManager::CreateMemStream(const String& name, const ByteBuffer& text, const MD5& md5)
{
    void* block = text.empty() ? nullptr : AllocateShared(text.data(), text.size());
    return new MemStream(&mLock, NormalizeResourceName(name), block, static_cast<_dword>(text.size()), md5);
}

DataStream* ResourceManager::CreateMemStream(const String& name, _dword size, const MD5& md5)
{
    return new MemStream(&mLock, NormalizeResourceName(name), size, md5);
}

DataStream* ResourceManager::OpenStream(const String& name)
{
    std::lock_guard guard(mLock);
    Request request(Operation::Open);
    Resolve(name, request);
    if (request.stream && mOpenHook)
        mOpenHook(name, request.stream);
    return request.stream;
}

DataStream* ResourceManager::AddRefStream(DataStream* stream)
{
    std::lock_guard guard(mLock);
    if (stream)
        stream->AddRefCount();
    return stream;
}

bool ResourceManager::ReleaseStream(DataStream*& stream)
{
    std::lock_guard guard(mLock);
    DataStream* held = stream;
    stream = nullptr;
    if (!held || held->ReleaseRefCount() != 0)
        return false;
    delete held;
    return true;
}

// --- Resolution ------------------------------------------------------------------------------------

bool ResourceManager::TryArchive(IDataArchive* archive, const String& name, Request& request)
{
    switch (request.operation)
    {
    case Operation::Open:
        request.stream = archive->OpenStream(name);
        return request.stream != nullptr;
    case Operation::Write:
    case Operation::WriteLocal:
        // The first archive asked takes the write, whatever its result.
        request.result = archive->WriteResource(name, request.buffer, request.size, request.md5);
        return true;
    case Operation::Delete:
        return request.result = archive->DeleteResource(name);
    case Operation::Exists:
        return request.result = archive->HasResource(name);
    case Operation::Info:
        return request.result = archive->GetResourceInfo(name, request.size, request.md5);
    }
    return false;
}

bool ResourceManager::TryWithFolders(IDataArchive* archive, const String& name, Request& request)
{
    if (TryArchive(archive, name, request))
        return true;
    bool searches = request.operation == Operation::Open || request.operation == Operation::Exists ||
                    request.operation == Operation::Info;
    if (!searches || name.find(u'\\') != String::npos)
        return false;
    String prefix = NormalizeResourceName(archive->GetName());
    for (std::size_t i = mSearchFolders.Number(); i-- > 0;)
    {
        String joined = JoinPath(mSearchFolders[i].folder, name);
        if (prefix.empty())
        {
            if (TryArchive(archive, joined, request))
                return true;
        }
        else if (joined.size() > prefix.size() + 1 && joined[prefix.size()] == u'\\' &&
                 CompareText(std::u16string_view(joined).substr(0, prefix.size()), prefix, false) == 0)
        {
            if (TryArchive(archive, String(joined.substr(prefix.size() + 1)), request))
                return true;
        }
    }
    return false;
}

bool ResourceManager::Resolve(const String& rawName, Request& request)
{
    String name = NormalizeResourceName(rawName);
    const bool absolute = IsAbsoluteName(name);
    const bool local = request.operation == Operation::WriteLocal;
    if (!mArchives.empty() && !absolute)
    {
        String extension = FileExtension(FileNameOf(name));
        if (!extension.empty() && !local)
            for (const auto& archive : mArchives)
                if (!archive->GetExtension().empty() && archive->GetExtension().Equals(extension, false) &&
                    TryWithFolders(archive.get(), name, request))
                    return true;
        for (int pass = 0; pass < 2; ++pass)
            for (std::size_t i = mArchives.size(); i-- > 0;)
            {
                DataArchive* archive = mArchives[i].get();
                if (!archive->GetExtension().empty() || archive->GetName().empty() != (pass == 1))
                    continue;
                if (local && IsHashOrChunk(archive))
                    continue;
                if (TryWithFolders(archive, name, request))
                    return true;
            }
    }
    bool anyDisk = false;
    for (const auto& archive : mArchives)
        anyDisk = anyDisk || archive->GetType() == _ARCHIVE_DISK;
    if (!anyDisk || absolute)
    {
        // Names resolve as plain files.
        DiskArchive plain(&mLock, String());
        if (plain.Open(String(), String()) && TryWithFolders(&plain, name, request))
            return true;
    }
    return false;
}

// --- Resource operations ---------------------------------------------------------------------------

bool ResourceManager::WriteText(const String& name, const ByteBuffer& text)
{
    return WriteResource(name, text.data(), static_cast<_dword>(text.size()),
                         Md5Of(text.data(), text.size()));
}

bool ResourceManager::WriteResource(const String& name, const void* buffer, _dword size, const MD5& md5)
{
    std::lock_guard guard(mLock);
    Request request(Operation::Write, buffer, size, md5);
    Resolve(name, request);
    return request.result;
}

bool ResourceManager::WriteTextLocal(const String& name, const ByteBuffer& text)
{
    return WriteResourceLocal(name, text.data(), static_cast<_dword>(text.size()),
                              Md5Of(text.data(), text.size()));
}

bool ResourceManager::WriteResourceLocal(const String& name, const void* buffer, _dword size, const MD5& md5)
{
    std::lock_guard guard(mLock);
    Request request(Operation::WriteLocal, buffer, size, md5);
    Resolve(name, request);
    return request.result;
}

bool ResourceManager::DeleteResource(const String& name)
{
    std::lock_guard guard(mLock);
    Request request(Operation::Delete);
    Resolve(name, request);
    return request.result;
}

bool ResourceManager::GetResourceInfo(const String& name, _dword& size, MD5& md5)
{
    std::lock_guard guard(mLock);
    Request request(Operation::Info);
    if (!Resolve(name, request))
        return false;
    size = request.size;
    md5 = request.md5;
    return true;
}

bool ResourceManager::HasResource(const String& name)
{
    std::lock_guard guard(mLock);
    Request request(Operation::Exists);
    return Resolve(name, request);
}

void ResourceManager::ResetFailedLoads()
{
    std::lock_guard guard(mLock);
    if (mLoadStack.IsEmpty())
        mFailedLoads = 0;
}

_dword ResourceManager::GetFailedLoads()
{
    std::lock_guard guard(mLock);
    return mFailedLoads;
}

void ResourceManager::SetPackKey(const String& key)
{
    std::lock_guard guard(mLock);
    mPackKey = key;
}

String ResourceManager::GetPackKey()
{
    std::lock_guard guard(mLock);
    return mPackKey;
}

void ResourceManager::SetOption(bool value)
{
    mOption = value;
}

bool ResourceManager::GetOption()
{
    return mOption;
}

bool ResourceManager::ReadWhole(const String& name, ByteBuffer& buffer, bool decode, bool countFailure)
{
    std::lock_guard guard(mLock);
    buffer.clear();
    DataStream* stream = OpenStream(name);
    if (!stream)
    {
        LogShown(u"[RM] Load resource failed : %ls", name);
        int index = 0;
        for (const String& load : mLoadStack)
        {
            if (index == 0)
                LogShown(u"[RM] Load Stack : [0] %ls", load);
            else
                LogShown(u"[RM] +----------- [%d] %ls", index, load);
            ++index;
        }
        if (countFailure)
            mFailedLoads += static_cast<_dword>(mLoadStack.Number());
        return false;
    }
    bool ok = stream->ReadText(buffer, decode);
    if (!ok)
        LogTrace(u"[RM] Mapping resource failed : %ls", name);
    ReleaseStream(stream);
    return ok;
}

bool ResourceManager::ReadResource(const String& name, ByteBuffer& buffer, bool decode)
{
    return ReadWhole(name, buffer, decode, true);
}

bool ResourceManager::ReadResourceOrInfo(const String& name, bool* readInfo, ByteBuffer& buffer, bool decode)
{
    std::lock_guard guard(mLock);
    if (readInfo)
        *readInfo = false;
    if (HasResource(name))
        return ReadWhole(name, buffer, decode, true);
    if (readInfo)
        *readInfo = true;
    return ReadWhole(name + u".info", buffer, decode, false);
}

bool ResourceManager::CopyResource(const String& from, const String& to)
{
    std::lock_guard guard(mLock);
    if (mArchives.empty())
        return CopyFile(from, to);
    DataStream* stream = OpenStream(from);
    if (!stream)
        return false;
    ByteBuffer bytes;
    MD5 md5 = stream->GetMD5();
    bool ok = stream->ReadText(bytes, false);
    ReleaseStream(stream);
    return ok && WriteResource(to, bytes.data(), static_cast<_dword>(bytes.size()), md5);
}

bool ResourceManager::MoveResource(const String& from, const String& to)
{
    std::lock_guard guard(mLock);
    if (mArchives.empty())
        return MoveFile(from, to);
    if (NormalizeResourceName(from) == NormalizeResourceName(to))
        return HasResource(from);
    // The source goes only once the target holds the bytes, so a failed write loses nothing.
    return CopyResource(from, to) && DeleteResource(from);
}

bool ResourceManager::CompareResources(const String& a, const String& b)
{
    std::lock_guard guard(mLock);
    if (mArchives.empty())
        return FilesEqual(a, b);
    ByteBuffer first, second;
    for (int i = 0; i < 2; ++i)
    {
        DataStream* stream = OpenStream(i == 0 ? a : b);
        if (!stream)
            return false;
        bool ok = stream->ReadText(i == 0 ? first : second, true);
        ReleaseStream(stream);
        if (!ok)
            return false;
    }
    return first == second;
}

// --- Search folders --------------------------------------------------------------------------------

_dword ResourceManager::GetSearchFolderCount()
{
    std::lock_guard guard(mLock);
    return static_cast<_dword>(mSearchFolders.Number());
}

String ResourceManager::GetSearchFolder(_dword index)
{
    std::lock_guard guard(mLock);
    return mSearchFolders.IsIndexValid(index) ? mSearchFolders[index].folder : String();
}

void ResourceManager::AddSearchFolder(const String& folder)
{
    std::lock_guard guard(mLock);
    for (SearchFolder& known : mSearchFolders)
        if (known.folder.Equals(folder, false))
        {
            ++known.count;
            return;
        }
    mSearchFolders.Append(SearchFolder{folder, 1});
}

void ResourceManager::RemoveSearchFolder(const String& folder)
{
    std::lock_guard guard(mLock);
    for (std::size_t i = 0; i < mSearchFolders.Number(); ++i)
        if (mSearchFolders[i].folder.Equals(folder, false))
        {
            if (--mSearchFolders[i].count == 0)
                mSearchFolders.RemoveAt(i);
            return;
        }
}

void ResourceManager::ClearSearchFolders()
{
    std::lock_guard guard(mLock);
    mSearchFolders.Clear();
}

Array<String> ResourceManager::SearchFolders()
{
    std::lock_guard guard(mLock);
    Array<String> folders;
    for (const SearchFolder& folder : mSearchFolders)
        folders.Append(folder.folder);
    return folders;
}

int ResourceManager::EnumerateAll(ArchiveCallback callback, void* a, void* b)
{
    std::lock_guard guard(mLock);
    int total = 0;
    for (const auto& archive : mArchives)
    {
        int count = archive->Enumerate(callback, a, b);
        if (count < 0)
            return -1;
        total += count;
    }
    return total;
}

// --- Beyond the slots ------------------------------------------------------------------------------

void ResourceManager::SetMainThreadWarning(bool on)
{
    mMainThreadWarning = on;
}

bool ResourceManager::GetMainThreadWarning()
{
    return mMainThreadWarning;
}

void ResourceManager::PushLoad(const String& name)
{
    std::lock_guard guard(mLock);
    mLoadStack.Push(name);
}

void ResourceManager::PopLoad()
{
    std::lock_guard guard(mLock);
    mLoadStack.Pop();
}

} // namespace Vexel
