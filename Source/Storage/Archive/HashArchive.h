// The hash archive (".fod"): many resources in one file, or in a read-only base file plus a writable file
// of the same layout, found by the 128-bit key of their names with no directory of names. Space freed
// by deletions is reused and the item table grows in blocks when more slots are needed.
//
// Layout (little-endian): a 40-byte header {token "PSH\0", token version 1, archive version, 16 reserved
// bytes, 8-byte position of the first extension block, item count of the first block}, the first block
// of 72-byte item records at 40, extension blocks {8-byte next position, count, records} anywhere after,
// and chunks {16-byte header "USE\0", length, 8 zero bytes; resource bytes} that the records point to.
// Records are stored XOR-ed with a key byte that depends on their place in their block.
#pragma once

#include "Storage/Archive/PackArchive.h"
#include "Storage/NameKey.h"

#include <unordered_map>
#include <vector>

namespace Vexel
{

constexpr _dword _HASH_TOKEN_MAGIC = 0x00485350; // "PSH"
constexpr _dword _HASH_TOKEN_VERSION = 1;
constexpr _dword _HASH_HEADER_SIZE = 40;
constexpr _dword _HASH_BLOCK_HEADER_SIZE = 12;
constexpr _dword _HASH_ITEM_SIZE = 72;
constexpr _dword _HASH_CHUNK_HEADER_SIZE = 16;
constexpr _dword _CHUNK_USE_CODE = 0x00455355; // "USE": live resource
constexpr _dword _CHUNK_DEL_CODE = 0x004C4544; // "DEL": deletion of a base resource
constexpr _dword _CHUNK_NOT_CODE = 0x00544F4E; // "NOT": slot never used
constexpr _byte _HASH_KEY_OFFSET = 0x6E;

// One item record in its plain form.
struct HashItem
{
    _dword mMagicCode = 0;
    _dword mChunkOffset = 0;
    _dword mChunkLength = 0;
    _dword mDataOffset = 0;
    _dword mDataSize = 0;
    _dword mCompressed = 0;
    _dword mDataOffset2 = 0;
    _dword mReserved1 = 0;
    _dword mScrambled = 0;
    _dword mNameHash[3] = {0, 0, 0};
    _dword mReadOnly = 0;
    _dword mReserved2 = 0;
    MD5 mMD5;
};

// The key byte of the record at index within its block.
_byte HashItemKeyByte(_dword indexInBlock);
// Plain record to its 72 stored bytes at index within its block, and back.
void EncodeHashItem(const HashItem& item, _dword indexInBlock, _byte* out);
HashItem DecodeHashItem(const _byte* in, _dword indexInBlock);

class HashArchive : public PackArchive
{
public:
    HashArchive(StorageLock* lock, const String& name);
    ~HashArchive() override;

    // One file, made fresh with slots item slots.
    bool Create(const String& path, _dword slots);
    // A read-only base (none when the path is empty) and a fresh writable file.
    bool Create(const String& writablePath, const String& readOnlyPath, _dword slots);
    // One existing file; writable grows the item table by needSlots slots when it has fewer.
    bool Open(const String& path, bool writable, _dword needSlots = 0);
    // A read-only base (none when the path is empty) and an existing writable file.
    bool Open(const String& writablePath, const String& readOnlyPath, _dword needSlots);

    _dword GetType() const override { return _ARCHIVE_HASH; }
    void SetVersion(_dword version) override;
    DataStream* OpenStream(const String& name) override;
    bool WriteResource(const String& name, const void* buffer, _dword size, const MD5& md5) override;
    bool DeleteResource(const String& name) override;
    bool GetResourceInfo(const String& name, _dword& size, MD5& md5) override;
    bool HasResource(const String& name) override;
    // Names are the literal keys "<%.8x%.8x%.8x%.8x" (base resources first, then writable ones).
    int Enumerate(ArchiveCallback callback, void* a, void* b) override;

    // The state of the writable file, for tools and checks.
    _dword GetSlotCount() const { return static_cast<_dword>(mItems.size()); }
    _dword GetUsedSlotCount() const;
    _dword GetHoleCount() const { return static_cast<_dword>(mFreeItems.size()); }
    _qword GetHoleBytes() const;
    _dword GetBlockCount() const { return static_cast<_dword>(mItemOffsets.size()); }
    _dword GetResourceCount() const { return static_cast<_dword>(mNames.size()); }
    _qword GetFileLength() const;
    // Damaged records that loading skipped (both files).
    _dword GetSkippedCount() const { return mSkipped; }

    // One block of item records in the file.
    struct Block
    {
        _dword count = 0;
        _qword position = 0; // of the block's first record
        _dword first = 0;    // table index of that record
    };

private:
    struct ItemRef
    {
        bool base = false;
        _dword index = 0;
    };

    void Reset();
    // Loading one file: its header, the chain of item blocks, the records (checked against the file and
    // each other) into the name map and the holes, and the item table grown by needSlots when short.
    struct FileHeader;
    struct LoadState;
    static bool ReadFileHeader(File& file, const String& path, FileHeader& header);
    bool Load(const String& path, bool base, _dword needSlots);
    std::vector<Block> ReadBlockChain(File& file, LoadState& load, const FileHeader& header);
    void IndexItems(LoadState& load, bool base, const std::vector<Block>& blocks,
                    const std::vector<bool>& usable);
    bool AppendItemBlock(File& file, const LoadState& load, _dword slots);
    bool CreateWritable(const String& path, _dword slots);
    NameKey KeyOf(const String& name) const;
    HashItem* Find(const NameKey& key, ItemRef* ref = nullptr);
    bool CanWrite() const;

    bool WriteItem(const NameKey& key, const String& name, const void* buffer, _dword size, const MD5& md5,
                   _dword magic);
    bool Allocate(_dword length, _dword& index);
    bool FindFreeSlot(_dword& index);
    // Frees a writable record into the holes, merging neighbours; with changes, also truncates the file
    // when the last hole reaches its end. Changed record indices are appended to changes.
    void FreeItem(_dword index, std::vector<_dword>* changes);
    void AddChange(std::vector<_dword>* changes, _dword index);
    bool WriteRecord(_dword index);
    bool WriteChanges(const std::vector<_dword>& changes);

    String mWritablePath;
    String mReadOnlyPath;
    String mFolder; // names are hashed as joined to it (empty: the names alone)
    std::vector<HashItem> mItems;
    std::vector<HashItem> mBaseItems;
    std::vector<Block> mItemOffsets;
    std::vector<_dword> mFreeItems; // indices into mItems, by ascending mChunkOffset
    std::unordered_map<NameKey, ItemRef, NameKeyHash> mNames;
    _dword mCursor = 0;
    _dword mSkipped = 0;
};

} // namespace Vexel
