#include "Storage/Archive/DataArchive.h"

#include "Common/Log.h"
#include "Common/StringEncoding.h"
#include "Platform/System.h"
#include "Storage/NameKey.h"
#include "Storage/ResourceManager.h"

#include <algorithm>
#include <mutex>

namespace Vexel
{

DataArchive::DataArchive(StorageLock* lock, const String& name, const String& extension)
    : mLock(lock), mName(name), mExtension(extension)
{
    std::replace(mName.begin(), mName.end(), u'/', u'\\');
    if (!mName.empty() && mName.back() == u'\\')
        mName.pop_back();
}

String DataArchive::LookupName(const String& name) const
{
    String lookup = NormalizeResourceName(name);
    if (!mExtension.empty() && !IsLiteralKey(lookup) && FileExtension(FileNameOf(lookup)).empty())
    {
        lookup += u'.';
        lookup += mExtension;
        ToLower(lookup);
    }
    return lookup;
}

int DataArchive::WalkNames(const std::vector<String>& names, ArchiveCallback callback, void* a, void* b)
{
    int count = 0;
    for (const String& name : names)
    {
        ++count;
        if (callback && !callback(name, a, b))
            return -1;
    }
    return count;
}

void DataArchive::NoteLoad(const String& name) const
{
    if (mOwner && mOwner->GetMainThreadWarning() && IsMainThread())
        LogTrace(u"[RM] Load resource in main thread : %ls", name);
}

String DataArchive::PackKey() const
{
    return mOwner ? mOwner->GetPackKey() : String();
}

namespace
{
struct ExportState
{
    DataArchive* archive;
    ByteBuffer* bundle;
};

bool ExportOne(const String& name, void* a, void*)
{
    auto* state = static_cast<ExportState*>(a);
    DataStream* stream = state->archive->OpenStream(name);
    if (!stream)
        return true;
    ByteBuffer bytes;
    if (stream->ReadText(bytes, false))
        AppendBundleRecord(*state->bundle, name, bytes.data(), static_cast<_dword>(bytes.size()));
    delete stream;
    return true;
}
} // namespace

bool DataArchive::ExportBundle(ByteBuffer& bundle)
{
    std::lock_guard guard(*mLock);
    bundle.clear();
    ExportState state{this, &bundle};
    Enumerate(ExportOne, &state, nullptr);
    bool changed = false;
    return CompressBuffer(bundle, changed, true);
}

void AppendBundleRecord(ByteBuffer& bundle, const String& name, const void* data, _dword size)
{
    _byte word[4];
    WriteLE32(word, static_cast<_dword>(name.size()));
    bundle.insert(bundle.end(), word, word + 4);
    for (char16_t c : name)
    {
        bundle.push_back(static_cast<_byte>(c & 0xFF));
        bundle.push_back(static_cast<_byte>(c >> 8));
    }
    bundle.push_back(0);
    bundle.push_back(0);
    WriteLE32(word, size);
    bundle.insert(bundle.end(), word, word + 4);
    const auto* bytes = static_cast<const _byte*>(data);
    if (size)
        bundle.insert(bundle.end(), bytes, bytes + size);
}

bool ReadBundle(const void* data, std::size_t size, BundleCallback callback, void* context)
{
    const auto* start = static_cast<const _byte*>(data);
    ByteBuffer decoded;
    if (start && IsCompressed(start, size))
    {
        decoded.assign(start, start + size);
        bool changed = false;
        if (!DecompressBuffer(decoded, changed))
        {
            LogTrace(u"[RM] Bundle envelope damaged");
            return false;
        }
        start = decoded.data();
        size = decoded.size();
    }
    std::size_t at = 0;
    bool damaged = false;
    while (at < size && !damaged)
    {
        // Every length comes from outside: check each against what is left before using it.
        damaged = true;
        if (size - at < 4)
            break;
        _qword nameLength = ReadLE32(start + at);
        if ((nameLength + 1) * 2 > size - at - 4)
            break;
        at += 4;
        String name(static_cast<std::size_t>(nameLength), u'\0');
        for (std::size_t i = 0; i < nameLength; ++i)
            name[i] = static_cast<char16_t>(start[at + 2 * i] | start[at + 2 * i + 1] << 8);
        at += static_cast<std::size_t>((nameLength + 1) * 2);
        if (size - at < 4)
            break;
        _dword dataSize = ReadLE32(start + at);
        if (dataSize > size - at - 4)
            break;
        at += 4;
        damaged = false;
        if (callback && !callback(name, start + at, dataSize, context))
            return false;
        at += dataSize;
    }
    if (damaged)
    {
        LogTrace(u"[RM] Bundle record runs past the end at %d of %d bytes", static_cast<_dword>(at),
                 static_cast<_dword>(size));
        return false;
    }
    return true;
}

} // namespace Vexel
