#include "Storage/ResourceManifest.h"

#include "Common/Log.h"
#include "Common/StringEncoding.h"
#include "Platform/File.h"
#include "Storage/ResourceManager.h"

#include <chrono>
#include <cstring>
#include <string>

namespace Vexel
{

namespace
{

// Decimal text with an optional sign; reading stops at the first other character. Wraps like the
// 32-bit fields it fills.
_dword ParseNumber(std::u16string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
        negative = text[i++] == u'-';
    _dword value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
        value = value * 10 + static_cast<_dword>(text[i] - u'0');
    return negative ? 0u - value : value;
}

String DropLeadingV(const String& text)
{
    return (!text.empty() && (text[0] == u'v' || text[0] == u'V')) ? String(text.substr(1)) : text;
}

double MillisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void AppendText(ByteBuffer& out, std::u16string_view text)
{
    for (char16_t c : text)
    {
        out.push_back(static_cast<_byte>(c & 0xFF));
        out.push_back(static_cast<_byte>(c >> 8));
    }
}

void AppendText(ByteBuffer& out, const std::string& ascii)
{
    for (char c : ascii)
    {
        out.push_back(static_cast<_byte>(c));
        out.push_back(0);
    }
}

// Reads UTF-16 code units from a byte buffer, k of them, keeping at most _MANIFEST_MAX_NAME.
bool ReadUnits(const _byte* data, std::size_t size, std::size_t& at, _dword count, String& out)
{
    out.clear();
    if (static_cast<_qword>(count) * 2 > size - at)
        return false;
    _dword keep = count < _MANIFEST_MAX_NAME ? count : _MANIFEST_MAX_NAME;
    out.resize(keep);
    for (_dword i = 0; i < keep; ++i)
        out[i] = static_cast<char16_t>(data[at + 2 * i] | data[at + 2 * i + 1] << 8);
    at += static_cast<std::size_t>(count) * 2;
    return true;
}

} // namespace

void ResourceManifest::SetVersion(_dword version)
{
    mVersion = version;
    mVersionText = String(FromUtf8(std::to_string(static_cast<long>(static_cast<int>(version)))));
}

void ResourceManifest::SetVersionText(const String& text)
{
    mVersionText = DropLeadingV(text);
    mVersion = ParseNumber(mVersionText);
}

void ResourceManifest::Clear()
{
    mEntries.clear();
    mMap.clear();
    mGroups.Clear();
    mGroupSet.clear();
    mVersion = 0;
    mVersionText = u"0";
    mExtent = 0;
    mBaseText.clear();
}

void ResourceManifest::AddGroup(const String& group)
{
    if (!group.empty() && mGroupSet.insert(group).second)
        mGroups.Append(group);
}

ResourceManifest::Entry& ResourceManifest::Put(const String& name, const NameKey& key, _dword size,
                                               int offset, const MD5& md5, const String& group)
{
    auto found = mMap.find(key);
    std::list<Entry>::iterator it;
    if (found != mMap.end())
        it = found->second;
    else
    {
        it = mEntries.emplace(mEntries.end());
        mMap.emplace(key, it);
    }
    it->name = name;
    it->key = key;
    it->size = size;
    it->offset = offset;
    it->md5 = md5;
    it->group = group;
    if (offset != -1 && size != 0xFFFFFFFF)
    {
        _qword end = static_cast<_qword>(static_cast<_dword>(offset)) + size;
        _dword clamped = end > 0xFFFFFFFF ? 0xFFFFFFFF : static_cast<_dword>(end);
        if (clamped > mExtent)
            mExtent = clamped;
    }
    AddGroup(group);
    return *it;
}

void ResourceManifest::ParseText(const char16_t* text, std::size_t length)
{
    std::u16string_view all(text, length);
    if (!all.empty() && all[0] == 0xFEFF)
        all.remove_prefix(1);
    String folder;
    Array<String> fields;
    while (!all.empty())
    {
        std::size_t end = all.find(u'\n');
        std::u16string_view line = all.substr(0, end);
        all.remove_prefix(end == std::u16string_view::npos ? all.size() : end + 1);
        if (!line.empty() && line.back() == u'\r')
            line.remove_suffix(1);
        fields.Clear();
        Split(line, u"|", false, fields);
        if (fields.Number() < 2)
            continue;
        String first = fields[0];
        ToLower(first);
        const String& second = fields[1];
        if (second == u"$")
            mBaseText = first;
        else if (second == u"#")
            SetVersionText(first);
        else if (second == u"[]")
            folder = first == u"*" ? String() : first;
        else
        {
            std::size_t next = 2;
            int offset = -1;
            if (next < fields.Number() && !fields[next].empty() && fields[next][0] == u'#')
                offset = static_cast<int>(ParseNumber(std::u16string_view(fields[next++]).substr(1)));
            _dword size = next < fields.Number() ? ParseNumber(fields[next]) : 0;
            ++next;
            String group = next < fields.Number() ? fields[next] : String();
            Put(JoinPath(folder, first), MakeNameKey(folder, first), size, offset, Md5FromText(second),
                group);
        }
    }
}

bool ResourceManifest::LoadText(const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const _byte*>(data);
    if (bytes && size >= 4 && ReadLE32(bytes) == _MANIFEST_BINARY_MAGIC)
        return LoadBinary(data, size);
    auto start = std::chrono::steady_clock::now();
    Clear();
    if (bytes && size >= 2)
    {
        std::u16string text(size / 2, u'\0');
        for (std::size_t i = 0; i < text.size(); ++i)
            text[i] = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
        ParseText(text.data(), text.size());
    }
    SetVersion(mVersion);
    LogTrace(u"[RM] Load manifest(txt) costs %3.2f ms", MillisecondsSince(start));
    return !mEntries.empty();
}

bool ResourceManifest::LoadBinary(const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const _byte*>(data);
    if (!bytes || size < 12 || ReadLE32(bytes) != _MANIFEST_BINARY_MAGIC)
        return false;
    auto start = std::chrono::steady_clock::now();
    Clear();
    _dword count = ReadLE32(bytes + 4);
    mVersion = ReadLE32(bytes + 8);
    std::size_t at = 12;
    for (_dword i = 0; i < count; ++i)
    {
        // The counts come from outside: an entry that does not fit ends the list.
        if (size - at < 4)
        {
            LogTrace(u"[RM] Manifest(bin) ends after %d of %d entries", i, count);
            break;
        }
        _dword nameLength = ReadLE32(bytes + at);
        at += 4;
        if (nameLength == 0)
            break;
        String name;
        if (!ReadUnits(bytes, size, at, nameLength, name) || size - at < 28)
        {
            LogTrace(u"[RM] Manifest(bin) ends after %d of %d entries", i, count);
            break;
        }
        MD5 md5;
        for (int w = 0; w < 4; ++w)
            md5.w[w] = ReadLE32(bytes + at + 4 * w);
        _dword entrySize = ReadLE32(bytes + at + 16);
        int offset = static_cast<int>(ReadLE32(bytes + at + 20));
        _dword groupLength = ReadLE32(bytes + at + 24);
        at += 28;
        String group;
        bool groupFits = groupLength == 0 || ReadUnits(bytes, size, at, groupLength, group);
        Put(NormalizeResourceName(name), MakeNameKey(String(), name), entrySize, offset, md5, group);
        if (!groupFits)
        {
            LogTrace(u"[RM] Manifest(bin) ends after %d of %d entries", i + 1, count);
            break;
        }
    }
    SetVersion(mVersion);
    LogTrace(u"[RM] Load manifest(bin) costs %3.2f ms", MillisecondsSince(start));
    return !mEntries.empty();
}

bool ResourceManifest::LoadResource(const String& name)
{
    ByteBuffer buffer;
    if (!mManager || !mManager->ReadResource(name, buffer, true))
        return false;
    return LoadText(buffer.data(), buffer.size());
}

ByteBuffer ResourceManifest::SaveTextBytes() const
{
    ByteBuffer out;
    if (!mBaseText.empty())
    {
        AppendText(out, mBaseText);
        AppendText(out, u"|$\r\n");
    }
    if (mVersion != 0)
        AppendText(out, "v" + std::to_string(static_cast<int>(mVersion)) + "|#\r\n");
    bool first = true;
    String previous;
    for (const Entry& entry : mEntries)
    {
        std::size_t slash = entry.name.rfind(u'\\');
        String folder = slash == String::npos ? String() : String(entry.name.substr(0, slash));
        std::u16string_view file = slash == String::npos ? std::u16string_view(entry.name)
                                                         : std::u16string_view(entry.name).substr(slash + 1);
        if (first || folder != previous)
        {
            AppendText(out, folder.empty() ? std::u16string_view(u"*") : std::u16string_view(folder));
            AppendText(out, u"|[]\r\n");
            previous = folder;
            first = false;
        }
        AppendText(out, file);
        AppendText(out, u"|");
        AppendText(out, Md5ToText(entry.md5));
        AppendText(out, u"|");
        if (entry.offset != -1)
            AppendText(out, "#" + std::to_string(entry.offset) + "|");
        AppendText(out, std::to_string(static_cast<int>(entry.size)));
        // The group keeps its own separator so entries without one end at the size.
        if (!entry.group.empty())
        {
            AppendText(out, u"|");
            AppendText(out, entry.group);
        }
        AppendText(out, u"\r\n");
    }
    return out;
}

bool ResourceManifest::SaveText(const String& path) const
{
    ByteBuffer bytes = SaveTextBytes();
    if (!WriteFile(path, bytes))
    {
        LogTrace(u"[RM] Write manifest failed : %ls", path);
        return false;
    }
    return true;
}

const ResourceManifest::Entry* ResourceManifest::FindEntry(const String& name) const
{
    auto found = mMap.find(MakeNameKey(String(), name));
    return found == mMap.end() ? nullptr : &*found->second;
}

bool ResourceManifest::GetEntry(const String& name, _dword* size, int* offset, MD5* md5, String* group) const
{
    const Entry* entry = FindEntry(name);
    if (!entry)
        return false;
    if (size)
        *size = entry->size;
    if (offset)
        *offset = entry->offset;
    if (md5)
        *md5 = entry->md5;
    if (group)
        *group = entry->group;
    return true;
}

bool ResourceManifest::GetEntrySize(const String& name, _dword& size) const
{
    return GetEntry(name, &size, nullptr, nullptr, nullptr);
}

bool ResourceManifest::HasEntry(const String& name) const
{
    return FindEntry(name) != nullptr;
}

void ResourceManifest::SetEntry(const String& name, _dword size, int offset, const MD5& md5,
                                const String& group)
{
    NameKey key = MakeNameKey(String(), name);
    auto found = mMap.find(key);
    // A literal key updates the entry it names and keeps that entry's full name.
    String full =
        found != mMap.end() && IsLiteralKey(name) ? found->second->name : NormalizeResourceName(name);
    Put(full, key, size, offset, md5, group);
}

bool ResourceManifest::RemoveEntry(const String& name)
{
    auto found = mMap.find(MakeNameKey(String(), name));
    if (found == mMap.end())
        return false;
    mEntries.erase(found->second);
    mMap.erase(found);
    return true;
}

String ResourceManifest::GetGroup(_dword index) const
{
    return mGroups.IsIndexValid(index) ? mGroups[index] : String();
}

bool ResourceManifest::HasGroup(const String& group) const
{
    return mGroupSet.count(group) != 0;
}

_dword ResourceManifest::Enumerate(ManifestCallback callback, void* a, void* b) const
{
    if (callback)
        for (const Entry& entry : mEntries)
            callback(entry.name, entry.size, entry.offset, entry.md5, entry.group, a, b);
    return static_cast<_dword>(mEntries.size());
}

} // namespace Vexel
