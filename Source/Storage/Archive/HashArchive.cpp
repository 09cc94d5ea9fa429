#include "Storage/Archive/HashArchive.h"

#include "Common/Assert.h"
#include "Common/Log.h"
#include "Platform/File.h"

#include <algorithm>
#include <mutex>

namespace Vexel
{

namespace
{

// Lines about damaged records stop after this many per load, so a hostile file cannot flood the log.
constexpr _dword _MAX_DAMAGE_LINES = 16;
// Chunk positions are 32-bit: the file may not grow past this.
constexpr _qword _MAX_FILE_LENGTH = 0xFFFFFFFF;

struct Region
{
    _qword begin;
    _qword end;
};

bool ReadField(File& file, void* buffer, _dword size, const char16_t* message, const String& path)
{
    if (file.Read(buffer, size))
        return true;
    LogTrace(message, path);
    return false;
}

} // namespace

_byte HashItemKeyByte(_dword indexInBlock)
{
    _dword p = indexInBlock * _HASH_ITEM_SIZE;
    return static_cast<_byte>((p & 0xFF) + (p >> 8 & 0xFF) + (p >> 16 & 0xFF) + (p >> 24 & 0xFF) +
                              _HASH_KEY_OFFSET);
}

void EncodeHashItem(const HashItem& item, _dword indexInBlock, _byte* out)
{
    const _dword words[18] = {item.mMagicCode, item.mChunkOffset, item.mChunkLength, item.mDataOffset,
                              item.mDataSize,  item.mCompressed,  item.mDataOffset2, item.mReserved1,
                              item.mScrambled, item.mNameHash[0], item.mNameHash[1], item.mNameHash[2],
                              item.mReadOnly,  item.mReserved2,   item.mMD5.w[0],    item.mMD5.w[1],
                              item.mMD5.w[2],  item.mMD5.w[3]};
    _byte key = HashItemKeyByte(indexInBlock);
    for (int i = 0; i < 18; ++i)
        WriteLE32(out + 4 * i, words[i]);
    for (_dword i = 0; i < _HASH_ITEM_SIZE; ++i)
        out[i] ^= key;
}

HashItem DecodeHashItem(const _byte* in, _dword indexInBlock)
{
    _byte plain[_HASH_ITEM_SIZE];
    _byte key = HashItemKeyByte(indexInBlock);
    for (_dword i = 0; i < _HASH_ITEM_SIZE; ++i)
        plain[i] = in[i] ^ key;
    _dword w[18];
    for (int i = 0; i < 18; ++i)
        w[i] = ReadLE32(plain + 4 * i);
    HashItem item;
    item.mMagicCode = w[0];
    item.mChunkOffset = w[1];
    item.mChunkLength = w[2];
    item.mDataOffset = w[3];
    item.mDataSize = w[4];
    item.mCompressed = w[5];
    item.mDataOffset2 = w[6];
    item.mReserved1 = w[7];
    item.mScrambled = w[8];
    item.mNameHash[0] = w[9];
    item.mNameHash[1] = w[10];
    item.mNameHash[2] = w[11];
    item.mReadOnly = w[12];
    item.mReserved2 = w[13];
    for (int i = 0; i < 4; ++i)
        item.mMD5.w[i] = w[14 + i];
    return item;
}

HashArchive::HashArchive(StorageLock* lock, const String& name) : PackArchive(lock, name) {}

HashArchive::~HashArchive() = default;

void HashArchive::Reset()
{
    mWritableFile.reset();
    mReadOnlyFile.reset();
    mItems.clear();
    mBaseItems.clear();
    mItemOffsets.clear();
    mFreeItems.clear();
    mNames.clear();
    mCursor = 0;
    mSkipped = 0;
    mReadOnly = false;
}

NameKey HashArchive::KeyOf(const String& name) const
{
    return MakeNameKey(mFolder, name);
}

HashItem* HashArchive::Find(const NameKey& key, ItemRef* ref)
{
    auto found = mNames.find(key);
    if (found == mNames.end())
        return nullptr;
    if (ref)
        *ref = found->second;
    return found->second.base ? &mBaseItems[found->second.index] : &mItems[found->second.index];
}

bool HashArchive::CanWrite() const
{
    return mWritableFile && !mReadOnly;
}

_dword HashArchive::GetUsedSlotCount() const
{
    _dword used = 0;
    for (const HashItem& item : mItems)
        used += item.mChunkOffset != 0;
    return used;
}

_qword HashArchive::GetHoleBytes() const
{
    _qword bytes = 0;
    for (_dword index : mFreeItems)
        bytes += mItems[index].mChunkLength;
    return bytes;
}

_qword HashArchive::GetFileLength() const
{
    return mWritableFile ? mWritableFile->GetSize() : 0;
}

// --- Opening -------------------------------------------------------------------------------------------

bool HashArchive::Create(const String& path, _dword slots)
{
    std::lock_guard guard(*mLock);
    Reset();
    mWritableRequested = true;
    return CreateWritable(path, slots);
}

bool HashArchive::Create(const String& writablePath, const String& readOnlyPath, _dword slots)
{
    std::lock_guard guard(*mLock);
    Reset();
    mWritableRequested = true;
    if (!readOnlyPath.empty() && !Load(readOnlyPath, true, 0))
        return false;
    return CreateWritable(writablePath, slots);
}

bool HashArchive::Open(const String& path, bool writable, _dword needSlots)
{
    std::lock_guard guard(*mLock);
    Reset();
    mWritableRequested = writable;
    if (!writable)
    {
        if (!Load(path, true, 0))
            return false;
        mReadOnly = true;
        return true;
    }
    return Load(path, false, needSlots);
}

bool HashArchive::Open(const String& writablePath, const String& readOnlyPath, _dword needSlots)
{
    std::lock_guard guard(*mLock);
    Reset();
    mWritableRequested = true;
    if (!readOnlyPath.empty() && !Load(readOnlyPath, true, 0))
        return false;
    return Load(writablePath, false, needSlots);
}

bool HashArchive::CreateWritable(const String& path, _dword slots)
{
    if (static_cast<_qword>(slots) * _HASH_ITEM_SIZE + _HASH_HEADER_SIZE > _MAX_FILE_LENGTH)
        return false;
    auto file = std::make_shared<File>();
    if (!file->Create(path))
    {
        LogTrace(u"[RM] Open hash archive file failed: %ls", path);
        return false;
    }
    std::vector<_byte> bytes(_HASH_HEADER_SIZE + static_cast<std::size_t>(slots) * _HASH_ITEM_SIZE, 0);
    WriteLE32(bytes.data(), _HASH_TOKEN_MAGIC);
    WriteLE32(bytes.data() + 4, _HASH_TOKEN_VERSION);
    WriteLE32(bytes.data() + 8, mVersion);
    WriteLE32(bytes.data() + 36, slots);
    mItems.assign(slots, HashItem());
    for (_dword i = 0; i < slots; ++i)
    {
        mItems[i].mMagicCode = _CHUNK_NOT_CODE;
        EncodeHashItem(mItems[i], i,
                       bytes.data() + _HASH_HEADER_SIZE + static_cast<std::size_t>(i) * _HASH_ITEM_SIZE);
    }
    if (!file->Write(bytes.data(), static_cast<_dword>(bytes.size())))
    {
        LogTrace(u"[RM] Write file item fail in hash archive: %ls", path);
        mItems.clear();
        return false;
    }
    mItemOffsets.push_back({slots, _HASH_HEADER_SIZE, 0});
    mWritableFile = std::move(file);
    mWritablePath = path;
    mReadOnly = false;
    return true;
}

// --- Loading -------------------------------------------------------------------------------------------

struct HashArchive::FileHeader
{
    _dword version = 0;
    _qword next = 0;  // position of the first extension block
    _dword count = 0; // item slots of the first block
};

// Token, version, reserved bytes, first extension block and first block's count, each with its message.
bool HashArchive::ReadFileHeader(File& file, const String& path, FileHeader& header)
{
    _byte token[8];
    if (!file.Read(token, sizeof token))
    {
        LogTrace(u"[RM] Can't read file token: %ls", path);
        return false;
    }
    if (ReadLE32(token) != _HASH_TOKEN_MAGIC || ReadLE32(token + 4) != _HASH_TOKEN_VERSION)
    {
        LogTrace(u"[RM] Magic error: %ls 0x%x 0x%x", path, ReadLE32(token), ReadLE32(token + 4));
        return false;
    }
    _byte version[4], reserved[16], next[8], count[4];
    if (!ReadField(file, version, 4, u"[RM] Read version failed: %ls", path) ||
        !ReadField(file, reserved, 16, u"[RM] Read reserved failed: %ls", path) ||
        !ReadField(file, next, 8, u"[RM] Read next item offset failed: %ls", path) ||
        !ReadField(file, count, 4, u"[RM] Read max file item count failed: %ls", path))
        return false;
    header.version = ReadLE32(version);
    header.next = ReadLE64(next);
    header.count = ReadLE32(count);
    return true;
}

// What one load knows of its file, and its damage lines, limited so a hostile file cannot flood the log.
struct HashArchive::LoadState
{
    String path;
    _qword fileLength = 0;
    _dword damageLines = 0;

    bool MayReport() { return damageLines++ < _MAX_DAMAGE_LINES; }

    // How many of the wanted records of a block at position fit in the file.
    _dword Fit(_qword position, _dword wanted)
    {
        _qword room = fileLength > position ? (fileLength - position) / _HASH_ITEM_SIZE : 0;
        if (room >= wanted)
            return wanted;
        if (MayReport())
            LogTrace(u"[RM] Item block at 0x%x of %ls holds %d items, %d fit in the file",
                     static_cast<_dword>(position), path, wanted, static_cast<_dword>(room));
        return static_cast<_dword>(room);
    }
};

std::vector<HashArchive::Block> HashArchive::ReadBlockChain(File& file, LoadState& load,
                                                            const FileHeader& header)
{
    // Counts and positions come from the file: every block must lie inside it, after the end of the block
    // before (as appending writes them), so a chain can neither overlap nor loop.
    std::vector<Block> blocks;
    blocks.push_back({load.Fit(_HASH_HEADER_SIZE, header.count), _HASH_HEADER_SIZE, 0});
    _qword total = blocks.back().count;
    _qword chainEnd = _HASH_HEADER_SIZE + static_cast<_qword>(blocks.back().count) * _HASH_ITEM_SIZE;
    for (_qword position = header.next; position != 0;)
    {
        if (position < chainEnd || position + _HASH_BLOCK_HEADER_SIZE > load.fileLength)
        {
            LogTrace(u"[RM] Item block chain of %ls broken at 0x%x", load.path,
                     static_cast<_dword>(position));
            break;
        }
        _byte bytes[_HASH_BLOCK_HEADER_SIZE];
        if (!file.ReadAt(position, bytes, sizeof bytes))
            break;
        _qword first = position + _HASH_BLOCK_HEADER_SIZE;
        _dword n = load.Fit(first, ReadLE32(bytes + 8));
        blocks.push_back({n, first, static_cast<_dword>(total)});
        total += n;
        chainEnd = first + static_cast<_qword>(n) * _HASH_ITEM_SIZE;
        position = ReadLE64(bytes);
    }
    return blocks;
}

namespace
{

// Every record of the chain, unscrambled; a block that cannot be read ends reading (its slots stay zero).
std::vector<HashItem> ReadItems(File& file, const std::vector<HashArchive::Block>& blocks, _qword total)
{
    std::vector<HashItem> items(static_cast<std::size_t>(total));
    std::vector<_byte> raw;
    for (const HashArchive::Block& block : blocks)
    {
        raw.resize(static_cast<std::size_t>(block.count) * _HASH_ITEM_SIZE);
        if (!file.ReadAt(block.position, raw.data(), static_cast<_dword>(raw.size())))
            break;
        for (_dword i = 0; i < block.count; ++i)
            items[block.first + i] =
                DecodeHashItem(raw.data() + static_cast<std::size_t>(i) * _HASH_ITEM_SIZE, i);
    }
    return items;
}

// Which records may be used: chunks must lie inside the file, clear of the header, the item blocks and each
// other. A record that breaks this is skipped, so it is neither read nor ever freed into space that others
// use. Records with unknown magic codes are left to the caller's report.
std::vector<bool> FindUsableChunks(const std::vector<HashItem>& items,
                                   const std::vector<HashArchive::Block>& blocks, _qword fileLength)
{
    std::vector<bool> usable(items.size(), true);
    std::vector<Region> fixed;
    fixed.push_back({0, _HASH_HEADER_SIZE + static_cast<_qword>(blocks[0].count) * _HASH_ITEM_SIZE});
    for (std::size_t b = 1; b < blocks.size(); ++b)
        fixed.push_back({blocks[b].position - _HASH_BLOCK_HEADER_SIZE,
                         blocks[b].position + static_cast<_qword>(blocks[b].count) * _HASH_ITEM_SIZE});
    struct Chunk
    {
        _qword begin;
        _qword end;
        _dword index;
    };
    std::vector<Chunk> chunks;
    for (_dword i = 0; i < items.size(); ++i)
    {
        const HashItem& item = items[i];
        if (item.mChunkOffset == 0)
            continue;
        bool live = item.mMagicCode == _CHUNK_USE_CODE;
        bool marker = item.mMagicCode == _CHUNK_DEL_CODE;
        if (!live && !marker && item.mMagicCode != 0)
            continue;
        _qword begin = item.mChunkOffset;
        _qword end = begin + item.mChunkLength;
        bool ok =
            end <= fileLength && item.mChunkLength >= (item.mMagicCode == 0 ? 1u : _HASH_CHUNK_HEADER_SIZE);
        if (ok && live)
            ok = item.mDataOffset >= begin + _HASH_CHUNK_HEADER_SIZE &&
                 static_cast<_qword>(item.mDataOffset) + item.mDataSize <= end;
        if (ok)
            chunks.push_back({begin, end, i});
        else
            usable[i] = false;
    }
    std::sort(chunks.begin(), chunks.end(), [](const Chunk& a, const Chunk& b) { return a.begin < b.begin; });
    std::size_t f = 0;
    _qword reach = 0;
    for (const Chunk& chunk : chunks)
    {
        while (f < fixed.size() && fixed[f].end <= chunk.begin)
            ++f;
        bool overlaps = chunk.begin < reach || (f < fixed.size() && fixed[f].begin < chunk.end);
        if (overlaps)
            usable[chunk.index] = false;
        else
            reach = chunk.end;
    }
    return usable;
}

} // namespace

void HashArchive::IndexItems(LoadState& load, bool base, const std::vector<Block>& blocks,
                             const std::vector<bool>& usable)
{
    std::vector<HashItem>& table = base ? mBaseItems : mItems;
    for (_dword i = 0; i < table.size(); ++i)
    {
        HashItem& item = table[i];
        if (item.mChunkOffset == 0)
            continue;
        bool known =
            item.mMagicCode == _CHUNK_USE_CODE || item.mMagicCode == _CHUNK_DEL_CODE || item.mMagicCode == 0;
        if (!known)
        {
            auto block = std::upper_bound(blocks.begin(), blocks.end(), i,
                                          [](_dword index, const Block& b) { return index < b.first; }) -
                         1;
            LogTrace(u"[RM] Invalid magic code 0x%x, offset 0x%x", item.mMagicCode,
                     (i - block->first) * _HASH_ITEM_SIZE);
            continue;
        }
        if (!usable[i])
        {
            ++mSkipped;
            if (load.MayReport())
                LogTrace(u"[RM] Damaged item %d skipped in %ls: chunk 0x%x, length %d", i, load.path,
                         item.mChunkOffset, item.mChunkLength);
            continue;
        }
        NameKey key{{item.mNameHash[0], item.mNameHash[1], item.mNameHash[2], 0}};
        if (item.mMagicCode == _CHUNK_USE_CODE)
        {
            item.mReadOnly = base ? 1 : 0;
            mNames[key] = ItemRef{base, i};
        }
        else if (item.mMagicCode == _CHUNK_DEL_CODE)
        {
            // A marker hides a base resource; it never hides a resource written after it into this file,
            // whatever slot either record took.
            auto found = mNames.find(key);
            if (found != mNames.end() && found->second.base)
                mNames.erase(found);
        }
        else if (!base)
            FreeItem(i, nullptr);
    }
    if (load.damageLines > _MAX_DAMAGE_LINES)
        LogTrace(u"[RM] %d more lines about damage in %ls left out", load.damageLines - _MAX_DAMAGE_LINES,
                 load.path);
}

bool HashArchive::AppendItemBlock(File& file, const LoadState& load, _dword slots)
{
    std::vector<_byte> bytes(_HASH_BLOCK_HEADER_SIZE + static_cast<std::size_t>(slots) * _HASH_ITEM_SIZE, 0);
    WriteLE32(bytes.data() + 8, slots);
    HashItem fresh;
    fresh.mMagicCode = _CHUNK_NOT_CODE;
    for (_dword i = 0; i < slots; ++i)
        EncodeHashItem(
            fresh, i, bytes.data() + _HASH_BLOCK_HEADER_SIZE + static_cast<std::size_t>(i) * _HASH_ITEM_SIZE);
    // The new block goes at the end of the file, then the last block's link points at it.
    _qword position = load.fileLength;
    _byte link[8];
    WriteLE64(link, position);
    if (!file.Seek(position) || !file.Write(bytes.data(), static_cast<_dword>(bytes.size())) ||
        !file.Seek(mItemOffsets.back().position - _HASH_BLOCK_HEADER_SIZE) || !file.Write(link, sizeof link))
    {
        LogTrace(u"[RM] Write file item fail in hash archive: %ls", load.path);
        mItems.clear();
        mItemOffsets.clear();
        mFreeItems.clear();
        return false;
    }
    mItemOffsets.push_back({slots, position + _HASH_BLOCK_HEADER_SIZE, static_cast<_dword>(mItems.size())});
    mItems.resize(mItems.size() + slots, fresh);
    return true;
}

bool HashArchive::Load(const String& path, bool base, _dword needSlots)
{
    auto file = std::make_shared<File>();
    bool readOnly = false;
    bool opened = base ? file->OpenRead(path) : file->OpenReadWrite(path);
    if (!opened && !base)
        opened = readOnly = file->OpenRead(path);
    if (!opened)
    {
        LogTrace(u"[RM] Open hash archive file failed: %ls", path);
        return false;
    }
    LoadState load{path, file->GetSize()};
    FileHeader header;
    if (!ReadFileHeader(*file, path, header))
        return false;

    std::vector<Block> blocks = ReadBlockChain(*file, load, header);
    _qword total = 0;
    for (const Block& block : blocks)
        total += block.count;
    const bool expand = !base && needSlots > total;
    if (expand)
    {
        LogTrace(u"[RM] Expand fod, need %d, current %d", needSlots, static_cast<_dword>(total));
        if (load.fileLength + _HASH_BLOCK_HEADER_SIZE + static_cast<_qword>(needSlots) * _HASH_ITEM_SIZE >
            _MAX_FILE_LENGTH)
        {
            LogTrace(u"[RM] Write file item fail in hash archive: %ls", path);
            return false;
        }
    }

    std::vector<HashItem> items = ReadItems(*file, blocks, total);
    const std::vector<bool> usable = FindUsableChunks(items, blocks, load.fileLength);
    (base ? mBaseItems : mItems) = std::move(items);
    if (!base)
    {
        mItemOffsets = blocks;
        mFreeItems.clear();
    }
    IndexItems(load, base, blocks, usable);
    // The file grows by the slots asked for, not by the difference.
    if (expand && !AppendItemBlock(*file, load, needSlots))
        return false;

    mVersion = header.version;
    if (base)
    {
        mReadOnlyFile = std::move(file);
        mReadOnlyPath = path;
    }
    else
    {
        mWritableFile = std::move(file);
        mWritablePath = path;
        mReadOnly = readOnly;
    }
    return true;
}

// --- Records ---------------------------------------------------------------------------------------

bool HashArchive::WriteRecord(_dword index)
{
    auto block = std::upper_bound(mItemOffsets.begin(), mItemOffsets.end(), index,
                                  [](_dword i, const Block& b) { return i < b.first; });
    if (!VEXEL_ASSERT(block != mItemOffsets.begin()))
        return false;
    --block;
    _dword inBlock = index - block->first;
    _byte bytes[_HASH_ITEM_SIZE];
    EncodeHashItem(mItems[index], inBlock, bytes);
    return mWritableFile->Seek(block->position + static_cast<_qword>(inBlock) * _HASH_ITEM_SIZE) &&
           mWritableFile->Write(bytes, sizeof bytes);
}

bool HashArchive::WriteChanges(const std::vector<_dword>& changes)
{
    bool ok = true;
    for (_dword index : changes)
        ok = WriteRecord(index) && ok;
    return ok;
}

void HashArchive::AddChange(std::vector<_dword>* changes, _dword index)
{
    if (changes && std::find(changes->begin(), changes->end(), index) == changes->end())
        changes->push_back(index);
}

void HashArchive::FreeItem(_dword index, std::vector<_dword>* changes)
{
    HashItem& r = mItems[index];
    const _dword o = r.mChunkOffset;
    const _dword l = r.mChunkLength;
    auto byOffset = [this](_dword hole, _qword offset) { return mItems[hole].mChunkOffset < offset; };
    auto at = std::lower_bound(mFreeItems.begin(), mFreeItems.end(), static_cast<_qword>(o), byOffset);
    const _qword end = static_cast<_qword>(o) + l;

    if (at != mFreeItems.begin() &&
        static_cast<_qword>(mItems[*(at - 1)].mChunkOffset) + mItems[*(at - 1)].mChunkLength == o)
    {
        // The hole before ends where this chunk starts: it grows, and swallows the hole after when they meet.
        _dword before = *(at - 1);
        mItems[before].mChunkLength += l;
        if (at != mFreeItems.end() && mItems[*at].mChunkOffset == end)
        {
            mItems[before].mChunkLength += mItems[*at].mChunkLength;
            mItems[*at] = HashItem();
            AddChange(changes, *at);
            mFreeItems.erase(at);
        }
        r = HashItem();
        AddChange(changes, before);
    }
    else if (at != mFreeItems.end() && mItems[*at].mChunkOffset == end)
    {
        mItems[*at].mChunkOffset = o;
        mItems[*at].mChunkLength += l;
        r = HashItem();
        AddChange(changes, *at);
    }
    else
    {
        r = HashItem();
        r.mChunkOffset = o;
        r.mChunkLength = l;
        mFreeItems.insert(at, index);
    }
    AddChange(changes, index);

    if (!changes || mFreeItems.empty())
        return;
    // A hole that reaches the end of the file is given back to the file system.
    _dword last = mFreeItems.back();
    _qword fileLength = mWritableFile->GetSize();
    _qword lastEnd = static_cast<_qword>(mItems[last].mChunkOffset) + mItems[last].mChunkLength;
    VEXEL_ASSERT_TEXT(lastEnd <= fileLength,
                      u"lastitem->mChunkOffset + lastitem->mChunkLength <= filelength");
    if (lastEnd == fileLength && mWritableFile->Truncate(mItems[last].mChunkOffset))
    {
        mFreeItems.pop_back();
        mItems[last] = HashItem();
        AddChange(changes, last);
    }
}

bool HashArchive::FindFreeSlot(_dword& index)
{
    const _dword count = static_cast<_dword>(mItems.size());
    if (count == 0)
        return false;
    if (mCursor >= count)
        mCursor = 0;
    for (_dword visited = 0; visited < count; ++visited)
    {
        HashItem& item = mItems[mCursor];
        if (item.mChunkOffset == 0)
        {
            VEXEL_ASSERT_TEXT(item.mMagicCode != _CHUNK_USE_CODE, u"freeitem->mMagicCode != _CHUNK_USE_CODE");
            index = mCursor;
            return true;
        }
        mCursor = mCursor + 1 == count ? 0 : mCursor + 1;
    }
    return false;
}

bool HashArchive::Allocate(_dword length, _dword& index)
{
    // First fit over the holes; remember the smallest hole passed that was too small.
    std::size_t taken = mFreeItems.size();
    std::size_t smallest = mFreeItems.size();
    for (std::size_t k = 0; k < mFreeItems.size(); ++k)
    {
        const HashItem& hole = mItems[mFreeItems[k]];
        if (hole.mChunkLength >= length)
        {
            taken = k;
            break;
        }
        if (smallest == mFreeItems.size() || hole.mChunkLength < mItems[mFreeItems[smallest]].mChunkLength)
            smallest = k;
    }
    if (taken < mFreeItems.size() && mItems[mFreeItems[taken]].mChunkLength == length)
    {
        index = mFreeItems[taken];
        mFreeItems.erase(mFreeItems.begin() + static_cast<std::ptrdiff_t>(taken));
        return true;
    }

    _dword slot = 0;
    bool haveSlot = FindFreeSlot(slot);
    bool haveSmall = smallest < mFreeItems.size();
    if (!haveSlot && !haveSmall)
        return false; // checked before a hole is cut, so a failure loses no space

    _dword position = 0;
    if (taken < mFreeItems.size())
    {
        HashItem& hole = mItems[mFreeItems[taken]];
        _dword start = hole.mChunkOffset;
        hole.mChunkOffset += length;
        hole.mChunkLength -= length;
        position = WriteRecord(mFreeItems[taken]) ? start : 0;
        if (position == 0)
        {
            hole.mChunkOffset -= length;
            hole.mChunkLength += length;
        }
    }
    if (haveSlot)
    {
        index = slot;
        mItems[slot].mChunkOffset = position;
        mItems[slot].mChunkLength = position ? length : 0;
        return true;
    }
    _dword reused = mFreeItems[smallest];
    LogTrace(u"[RM] Fod leaks at %d - %d, new item at %d - %d", mItems[reused].mChunkOffset,
             mItems[reused].mChunkLength, position, length);
    mFreeItems.erase(mFreeItems.begin() + static_cast<std::ptrdiff_t>(smallest));
    index = reused;
    mItems[reused].mChunkOffset = position;
    mItems[reused].mChunkLength = position ? length : 0;
    return true;
}

bool HashArchive::WriteItem(const NameKey& key, const String& name, const void* buffer, _dword size,
                            const MD5& md5, _dword magic)
{
    if (size > _MAX_FILE_LENGTH - _HASH_CHUNK_HEADER_SIZE)
        return false;
    const _dword length = size + _HASH_CHUNK_HEADER_SIZE;
    _dword index = 0;
    if (!Allocate(length, index))
    {
        LogTrace(u"[RM] Free item not found: %ls", name);
        return false;
    }
    HashItem& item = mItems[index];
    const bool append = item.mChunkOffset == 0;
    const _qword fileLength = mWritableFile->GetSize();
    if (append)
    {
        if (fileLength + length > _MAX_FILE_LENGTH)
        {
            LogTrace(u"[RM] Free item not found: %ls", name);
            item = HashItem();
            return false;
        }
        item.mChunkOffset = static_cast<_dword>(fileLength);
        item.mChunkLength = length;
    }
    const _dword chunkOffset = item.mChunkOffset;
    const _dword chunkLength = item.mChunkLength;
    item = HashItem();
    item.mMagicCode = magic;
    item.mChunkOffset = chunkOffset;
    item.mChunkLength = chunkLength;
    item.mDataOffset = item.mDataOffset2 = chunkOffset + _HASH_CHUNK_HEADER_SIZE;
    item.mDataSize = size;
    item.mCompressed = IsCompressed(buffer, size) ? 1 : 0;
    item.mNameHash[0] = key.w[0];
    item.mNameHash[1] = key.w[1];
    item.mNameHash[2] = key.w[2];
    item.mMD5 = md5;

    // A failed write gives the space back: appended bytes are cut off, reused space becomes a hole again.
    auto undo = [&]()
    {
        if (append)
        {
            mItems[index] = HashItem();
            mWritableFile->Truncate(fileLength);
        }
        else
        {
            std::vector<_dword> changes;
            FreeItem(index, &changes);
            WriteChanges(changes);
        }
    };
    _byte header[_HASH_CHUNK_HEADER_SIZE] = {};
    WriteLE32(header, _CHUNK_USE_CODE);
    WriteLE32(header + 4, chunkLength);
    if (!mWritableFile->Seek(chunkOffset) || !mWritableFile->Write(header, sizeof header))
    {
        LogTrace(u"[RM] Writing chunk header failed: %ls", name);
        undo();
        return false;
    }
    if (size && !mWritableFile->Write(buffer, size))
    {
        LogTrace(u"[RM] Writing resource failed: %ls", name);
        undo();
        return false;
    }
    if (!WriteRecord(index))
    {
        LogTrace(u"[RM] Write file item fail in hash archive: %ls", name);
        undo();
        return false;
    }
    if (magic == _CHUNK_USE_CODE)
        mNames[key] = ItemRef{false, index};
    return true;
}

// --- Operations ------------------------------------------------------------------------------------

void HashArchive::SetVersion(_dword version)
{
    std::lock_guard guard(*mLock);
    mVersion = version;
    if (!CanWrite())
        return;
    _byte bytes[4];
    WriteLE32(bytes, version);
    _qword position = mWritableFile->Tell();
    mWritableFile->Seek(8);
    mWritableFile->Write(bytes, sizeof bytes);
    mWritableFile->Seek(position);
}

DataStream* HashArchive::OpenStream(const String& name)
{
    std::lock_guard guard(*mLock);
    // One normalisation serves both the key and the stream's name.
    String lookup = NormalizeResourceName(name);
    ItemRef ref;
    const HashItem* item =
        Find(mFolder.empty() && !IsLiteralKey(lookup) ? HashName(lookup) : KeyOf(name), &ref);
    if (!item)
        return nullptr;
    NoteLoad(lookup);
    return new PackStream(mLock, lookup, ref.base ? mReadOnlyFile : mWritableFile, item->mDataOffset,
                          item->mDataSize, item->mMD5, item->mScrambled != 0 ? PackKey() : String());
}

bool HashArchive::WriteResource(const String& name, const void* buffer, _dword size, const MD5& md5)
{
    std::lock_guard guard(*mLock);
    if (!CanWrite() || (size && !buffer))
        return false;
    NameKey key = KeyOf(name);
    DeleteResource(name);
    return WriteItem(key, name, buffer, size, md5, _CHUNK_USE_CODE);
}

bool HashArchive::DeleteResource(const String& name)
{
    std::lock_guard guard(*mLock);
    NameKey key = KeyOf(name);
    ItemRef ref;
    HashItem* item = Find(key, &ref);
    if (!item || !CanWrite())
        return false;
    if (ref.base)
    {
        // The base file stays untouched: a marker in the writable file hides the resource.
        if (!WriteItem(key, name, nullptr, 0, item->mMD5, _CHUNK_DEL_CODE))
            return false;
        mNames.erase(key);
        return true;
    }
    std::vector<_dword> changes;
    FreeItem(ref.index, &changes);
    mNames.erase(key);
    return WriteChanges(changes);
}

bool HashArchive::GetResourceInfo(const String& name, _dword& size, MD5& md5)
{
    std::lock_guard guard(*mLock);
    const HashItem* item = Find(KeyOf(name));
    if (!item)
        return false;
    size = item->mDataSize;
    md5 = item->mMD5;
    return true;
}

bool HashArchive::HasResource(const String& name)
{
    std::lock_guard guard(*mLock);
    return Find(KeyOf(name)) != nullptr;
}

int HashArchive::Enumerate(ArchiveCallback callback, void* a, void* b)
{
    std::lock_guard guard(*mLock);
    std::vector<String> names;
    names.reserve(mNames.size());
    for (int pass = 0; pass < 2; ++pass)
    {
        const std::vector<HashItem>& table = pass == 0 ? mBaseItems : mItems;
        for (_dword i = 0; i < table.size(); ++i)
        {
            const HashItem& item = table[i];
            if (item.mMagicCode != _CHUNK_USE_CODE || item.mChunkOffset == 0)
                continue;
            NameKey key{{item.mNameHash[0], item.mNameHash[1], item.mNameHash[2], 0}};
            auto found = mNames.find(key);
            if (found != mNames.end() && found->second.base == (pass == 0) && found->second.index == i)
                names.push_back(NameKeyToText(key));
        }
    }
    return WalkNames(names, callback, a, b);
}

} // namespace Vexel
