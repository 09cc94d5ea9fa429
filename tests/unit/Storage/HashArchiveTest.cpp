// The hash archive file: exact bytes, reopening, hole reuse and merging, truncation, deletion markers over
// a base file, expansion, and damaged or hostile files.
#include "Storage/Archive/HashArchive.h"

#include "Storage/NameKey.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace Vexel;
using Vexel::Test::LogCapture;
using Vexel::Test::ReadBytes;
using Vexel::Test::TempDir;
using Vexel::Test::WriteBytes;

namespace
{

class HashArchiveTest : public ::testing::Test
{
protected:
    std::unique_ptr<HashArchive> Make() { return std::make_unique<HashArchive>(&mLock, u"fod"); }

    static bool Put(HashArchive& archive, const String& name, const std::string& bytes)
    {
        return archive.WriteResource(name, bytes.data(), static_cast<_dword>(bytes.size()),
                                     Md5Of(bytes.data(), bytes.size()));
    }

    static std::string Get(HashArchive& archive, const String& name)
    {
        DataStream* stream = archive.OpenStream(name);
        if (!stream)
            return "<missing>";
        ByteBuffer bytes;
        bool ok = stream->ReadText(bytes, false);
        delete stream;
        return ok ? std::string(bytes.begin(), bytes.end()) : "<unreadable>";
    }

    // Re-encodes the plain record at a table position of a one-block file.
    static void PatchRecord(std::string& file, _dword index, const HashItem& item)
    {
        _byte bytes[_HASH_ITEM_SIZE];
        EncodeHashItem(item, index, bytes);
        file.replace(_HASH_HEADER_SIZE + index * _HASH_ITEM_SIZE, _HASH_ITEM_SIZE,
                     reinterpret_cast<const char*>(bytes), _HASH_ITEM_SIZE);
    }
    static HashItem RecordAt(const std::string& file, _dword index)
    {
        return DecodeHashItem(
            reinterpret_cast<const _byte*>(file.data()) + _HASH_HEADER_SIZE + index * _HASH_ITEM_SIZE, index);
    }

    StorageLock mLock;
    TempDir mDir;
    String mPath = mDir.Wide("data.fod");
};

_dword Le32(const std::string& bytes, std::size_t at)
{
    return ReadLE32(reinterpret_cast<const _byte*>(bytes.data()) + at);
}

TEST_F(HashArchiveTest, NameHashesAreFixedAndBlindToCase)
{
    NameKey a = HashName(u"a");
    EXPECT_EQ(a.w[0], 0x6edc6e9au);
    EXPECT_EQ(a.w[1], 0x41u);
    EXPECT_EQ(a.w[2], 0x41u);
    EXPECT_EQ(a.w[3], 0u);
    NameKey png = MakeNameKey(String(), u"UI/A.PNG");
    EXPECT_EQ(png.w[0], 0x706e0621u);
    EXPECT_EQ(png.w[1], 0x3412bb94u);
    EXPECT_EQ(png.w[2], 0x88aa9983u);
    EXPECT_EQ(MakeNameKey(String(), u"textures\\stone.dds"), MakeNameKey(u"Textures", u"Stone.DDS"));
    // The literal form reads back to the same key.
    EXPECT_EQ(NameKeyToText(png), u"<0000000088aa99833412bb94706e0621");
    EXPECT_EQ(MakeNameKey(String(), NameKeyToText(png)), png);
}

TEST_F(HashArchiveTest, RecordKeyBytesFollowThePositionInTheBlock)
{
    EXPECT_EQ(HashItemKeyByte(0), 0x6E);
    EXPECT_EQ(HashItemKeyByte(1), static_cast<_byte>(72 + 0x6E));
    EXPECT_EQ(HashItemKeyByte(4), static_cast<_byte>(0x20 + 0x01 + 0x6E)); // p = 288 = 0x120
}

TEST_F(HashArchiveTest, FileBytesAreExact)
{
    auto archive = Make();
    ASSERT_TRUE(archive->Create(mPath, 2));
    ASSERT_TRUE(Put(*archive, u"a", "xyz"));
    archive->SetVersion(7);
    archive.reset();

    std::string file = ReadBytes(mDir / "data.fod");
    ASSERT_EQ(file.size(), 40u + 2 * 72 + 16 + 3);
    EXPECT_EQ(file.substr(0, 4), std::string("PSH\0", 4));
    EXPECT_EQ(Le32(file, 4), 1u);
    EXPECT_EQ(Le32(file, 8), 7u);
    EXPECT_EQ(file.substr(12, 24), std::string(24, '\0')); // reserved and next block
    EXPECT_EQ(Le32(file, 36), 2u);

    const _dword chunk = 40 + 2 * 72;
    std::string plain;
    for (int i = 0; i < 72; ++i)
        plain += static_cast<char>(file[40 + i] ^ 0x6E);
    auto word = [&](int at) { return Le32(plain, at); };
    EXPECT_EQ(word(0), 0x00455355u);
    EXPECT_EQ(word(4), chunk);
    EXPECT_EQ(word(8), 19u);
    EXPECT_EQ(word(12), chunk + 16);
    EXPECT_EQ(word(16), 3u);
    EXPECT_EQ(word(20), 0u);
    EXPECT_EQ(word(24), chunk + 16);
    EXPECT_EQ(word(28) | word(32) | word(48) | word(52), 0u);
    EXPECT_EQ(word(36), 0x6edc6e9au);
    EXPECT_EQ(word(40), 0x41u);
    EXPECT_EQ(word(44), 0x41u);
    MD5 md5 = Md5Of("xyz", 3);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(word(56 + 4 * i), md5.w[i]);
    // The second record is still the never-used marker, under its own key byte.
    EXPECT_EQ(static_cast<_byte>(file[40 + 72]) ^ static_cast<_byte>(72 + 0x6E), 'N');
    EXPECT_EQ(file.substr(chunk, 16), std::string("USE\0\x13\0\0\0\0\0\0\0\0\0\0\0", 16));
    EXPECT_EQ(file.substr(chunk + 16), "xyz");
}

TEST_F(HashArchiveTest, ResourcesSurviveReopening)
{
    auto archive = Make();
    ASSERT_TRUE(archive->Create(mPath, 16));
    std::string big(5000, 'q');
    ASSERT_TRUE(Put(*archive, u"ui/a.png", "hello"));
    ASSERT_TRUE(Put(*archive, u"big.bin", big));
    ASSERT_TRUE(Put(*archive, u"empty", ""));
    archive->SetVersion(42);
    archive.reset();

    archive = Make();
    ASSERT_TRUE(archive->Open(mPath, true));
    EXPECT_EQ(archive->GetVersion(), 42u);
    EXPECT_EQ(Get(*archive, u"UI\\A.PNG"), "hello");
    EXPECT_EQ(Get(*archive, u"big.bin"), big);
    EXPECT_EQ(Get(*archive, u"empty"), "");
    _dword size = 0;
    MD5 md5;
    ASSERT_TRUE(archive->GetResourceInfo(u"ui/a.png", size, md5));
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(md5, Md5Of("hello", 5));
    EXPECT_FALSE(archive->HasResource(u"ui/b.png"));

    // Read-only opening serves the same resources and refuses changes.
    archive = Make();
    ASSERT_TRUE(archive->Open(mPath, false));
    EXPECT_TRUE(archive->IsReadOnly());
    EXPECT_EQ(Get(*archive, u"ui/a.png"), "hello");
    EXPECT_FALSE(Put(*archive, u"new", "x"));
    EXPECT_FALSE(archive->DeleteResource(u"big.bin"));
}

TEST_F(HashArchiveTest, ReplacedChunksBecomeHolesThatLaterWritesReuse)
{
    auto archive = Make();
    ASSERT_TRUE(archive->Create(mPath, 8));
    ASSERT_TRUE(Put(*archive, u"a", std::string(100, 'a')));
    ASSERT_TRUE(Put(*archive, u"b", std::string(50, 'b')));
    const _qword length = archive->GetFileLength();

    // Same size: the freed chunk is taken back whole.
    ASSERT_TRUE(Put(*archive, u"a", std::string(100, 'A')));
    EXPECT_EQ(archive->GetHoleCount(), 0u);
    EXPECT_EQ(archive->GetFileLength(), length);

    // Smaller: the front of the hole is used, the rest stays a hole, also after reopening.
    ASSERT_TRUE(Put(*archive, u"a", std::string(60, '1')));
    EXPECT_EQ(archive->GetHoleCount(), 1u);
    EXPECT_EQ(archive->GetHoleBytes(), 40u);
    archive.reset();
    archive = Make();
    ASSERT_TRUE(archive->Open(mPath, true));
    EXPECT_EQ(archive->GetHoleCount(), 1u);
    EXPECT_EQ(archive->GetHoleBytes(), 40u);

    // A resource that fits the hole exactly fills it; the file never grew.
    ASSERT_TRUE(Put(*archive, u"c", std::string(24, 'c')));
    EXPECT_EQ(archive->GetHoleCount(), 0u);
    EXPECT_EQ(archive->GetFileLength(), length);
    EXPECT_EQ(Get(*archive, u"a"), std::string(60, '1'));
    EXPECT_EQ(Get(*archive, u"b"), std::string(50, 'b'));
    EXPECT_EQ(Get(*archive, u"c"), std::string(24, 'c'));
}

#if !defined(_WIN32)
// The disk fills up while resources are written: a failed write gives its space back and leaves the file
// as it was, the other resources stay whole (in memory and after reopening), and writing works again once
// there is room. A replaced resource is removed before its new bytes go in, so a failed replacement may
// leave it absent, never with wrong bytes.
TEST_F(HashArchiveTest, WritesThatRunOutOfRoomLoseNothingElse)
{
    auto archive = Make();
    ASSERT_TRUE(archive->Create(mPath, 8));
    ASSERT_TRUE(Put(*archive, u"a", std::string(100, 'a')));
    ASSERT_TRUE(Put(*archive, u"b", std::string(50, 'b')));
    const _qword length = archive->GetFileLength();
    const std::string before = ReadBytes(mDir / "data.fod");
    bool added = true, replaced = true;
    {
        Vexel::Test::FileSizeLimit limit(length + 64); // the new bytes go in part-way
        ASSERT_TRUE(limit.On());
        added = Put(*archive, u"big", std::string(5000, 'x'));
        EXPECT_EQ(ReadBytes(mDir / "data.fod"), before);
        replaced = Put(*archive, u"b", std::string(500, 'B'));
    }
    EXPECT_FALSE(added);
    EXPECT_FALSE(replaced);
    EXPECT_FALSE(archive->HasResource(u"big"));
    EXPECT_EQ(Get(*archive, u"a"), std::string(100, 'a'));
    const std::string b = Get(*archive, u"b");
    EXPECT_TRUE(b == "<missing>" || b == std::string(50, 'b')) << b;

    ASSERT_TRUE(Put(*archive, u"big", std::string(5000, 'x')));
    archive.reset();
    archive = Make();
    ASSERT_TRUE(archive->Open(mPath, true));
    EXPECT_EQ(Get(*archive, u"a"), std::string(100, 'a'));
    EXPECT_EQ(Get(*archive, u"big"), std::string(5000, 'x'));
    EXPECT_EQ(Get(*archive, u"b"), b);
    ASSERT_TRUE(Put(*archive, u"b", std::string(500, 'B')));
    EXPECT_EQ(Get(*archive, u"b"), std::string(500, 'B'));
}
#endif

TEST_F(HashArchiveTest, FreeingTheLastChunkShrinksTheFile)
{
    auto archive = Make();
    ASSERT_TRUE(archive->Create(mPath, 8));
    ASSERT_TRUE(Put(*archive, u"a", std::string(30, 'a')));
    const _qword afterA = archive->GetFileLength();
    ASSERT_TRUE(Put(*archive, u"b", std::string(70, 'b')));
    ASSERT_TRUE(archive->DeleteResource(u"b"));
    EXPECT_EQ(archive->GetFileLength(), afterA);
    EXPECT_EQ(archive->GetHoleCount(), 0u);
    EXPECT_EQ(archive->GetUsedSlotCount(), 1u);

    // A hole before the last chunk joins the truncation.
    ASSERT_TRUE(Put(*archive, u"b", std::string(70, 'b')));
    ASSERT_TRUE(Put(*archive, u"c", std::string(10, 'c')));
    ASSERT_TRUE(archive->DeleteResource(u"b"));
    EXPECT_EQ(archive->GetHoleCount(), 1u);
    ASSERT_TRUE(archive->DeleteResource(u"c"));
    EXPECT_EQ(archive->GetHoleCount(), 0u);
    EXPECT_EQ(archive->GetFileLength(), afterA);
    EXPECT_EQ(ReadBytes(mDir / "data.fod").size(), afterA);
    archive.reset();
    archive = Make();
    ASSERT_TRUE(archive->Open(mPath, true));
    EXPECT_EQ(archive->GetUsedSlotCount(), 1u);
    EXPECT_EQ(Get(*archive, u"a"), std::string(30, 'a'));
}

TEST_F(HashArchiveTest, FreeingBetweenTwoHolesMergesAllThree)
{
    auto archive = Make();
    ASSERT_TRUE(archive->Create(mPath, 8));
    for (const char16_t* name : {u"a", u"b", u"c", u"d"})
        ASSERT_TRUE(Put(*archive, name, std::string(20, 'x')));
    ASSERT_TRUE(archive->DeleteResource(u"a"));
    ASSERT_TRUE(archive->DeleteResource(u"c"));
    EXPECT_EQ(archive->GetHoleCount(), 2u);
    EXPECT_EQ(archive->GetUsedSlotCount(), 4u);
    ASSERT_TRUE(archive->DeleteResource(u"b"));
    EXPECT_EQ(archive->GetHoleCount(), 1u);
    EXPECT_EQ(archive->GetHoleBytes(), 3u * 36);
    EXPECT_EQ(archive->GetUsedSlotCount(), 2u); // the hole and d; two records were cleared
    archive.reset();
    archive = Make();
    ASSERT_TRUE(archive->Open(mPath, true));
    EXPECT_EQ(archive->GetHoleCount(), 1u);
    EXPECT_EQ(archive->GetHoleBytes(), 3u * 36);
    EXPECT_EQ(Get(*archive, u"d"), std::string(20, 'x'));
}

TEST_F(HashArchiveTest, FullTablesReuseTooSmallHolesOrFail)
{
    LogCapture log;
    auto archive = Make();
    ASSERT_TRUE(archive->Create(mPath, 2));
    ASSERT_TRUE(Put(*archive, u"a", "abcd"));
    ASSERT_TRUE(Put(*archive, u"b", std::string(100, 'b')));
    ASSERT_TRUE(archive->DeleteResource(u"a")); // a 20-byte hole whose record holds the slot
    ASSERT_TRUE(Put(*archive, u"c", std::string(50, 'c')));
    EXPECT_TRUE(log.Contains(u"[RM] Fod leaks at 184 - 20, new item at 0 - 66"));
    EXPECT_EQ(Get(*archive, u"c"), std::string(50, 'c'));
    EXPECT_EQ(Get(*archive, u"b"), std::string(100, 'b'));

    EXPECT_FALSE(Put(*archive, u"d", "d"));
    EXPECT_TRUE(log.Contains(u"[RM] Free item not found: d"));
    EXPECT_FALSE(archive->HasResource(u"d"));
}

TEST_F(HashArchiveTest, DeletingBaseResourcesLeavesTheBaseUntouched)
{
    String basePath = mDir.Wide("base.fod");
    {
        auto base = Make();
        ASSERT_TRUE(base->Create(basePath, 4));
        ASSERT_TRUE(Put(*base, u"x", "base x"));
        ASSERT_TRUE(Put(*base, u"y", "base y"));
    }
    const std::string baseBytes = ReadBytes(mDir / "base.fod");

    auto archive = Make();
    ASSERT_TRUE(archive->Create(mPath, basePath, 4));
    EXPECT_EQ(Get(*archive, u"x"), "base x");
    ASSERT_TRUE(archive->DeleteResource(u"x"));
    EXPECT_FALSE(archive->HasResource(u"x"));
    EXPECT_EQ(RecordAt(ReadBytes(mDir / "data.fod"), 0).mMagicCode, _CHUNK_DEL_CODE);
    EXPECT_EQ(ReadBytes(mDir / "base.fod"), baseBytes);

    archive = Make();
    ASSERT_TRUE(archive->Open(mPath, basePath, 0));
    EXPECT_FALSE(archive->HasResource(u"x"));
    EXPECT_EQ(Get(*archive, u"y"), "base y");

    // Written again it is back, from the writable file; replacing a base resource hides the base copy.
    ASSERT_TRUE(Put(*archive, u"x", "new x"));
    ASSERT_TRUE(Put(*archive, u"y", "new y"));
    archive = Make();
    ASSERT_TRUE(archive->Open(mPath, basePath, 0));
    EXPECT_EQ(Get(*archive, u"x"), "new x");
    EXPECT_EQ(Get(*archive, u"y"), "new y");
    ASSERT_TRUE(archive->DeleteResource(u"y"));
    archive = Make();
    ASSERT_TRUE(archive->Open(mPath, basePath, 0));
    EXPECT_FALSE(archive->HasResource(u"y"));
    EXPECT_EQ(ReadBytes(mDir / "base.fod"), baseBytes);
}

TEST_F(HashArchiveTest, AMarkerNeverHidesAResourceWrittenAfterIt)
{
    String basePath = mDir.Wide("base.fod");
    {
        auto base = Make();
        ASSERT_TRUE(base->Create(basePath, 2));
        ASSERT_TRUE(Put(*base, u"x", "base x"));
    }
    {
        auto archive = Make();
        ASSERT_TRUE(archive->Create(mPath, basePath, 4));
        ASSERT_TRUE(Put(*archive, u"x", "new x")); // marker in slot 0, the resource in slot 1
    }
    // Once the slot cursor has wrapped the marker can lie after the resource: swap them.
    std::string file = ReadBytes(mDir / "data.fod");
    HashItem marker = RecordAt(file, 0);
    HashItem live = RecordAt(file, 1);
    ASSERT_EQ(marker.mMagicCode, _CHUNK_DEL_CODE);
    ASSERT_EQ(live.mMagicCode, _CHUNK_USE_CODE);
    PatchRecord(file, 0, live);
    PatchRecord(file, 1, marker);
    WriteBytes(mDir / "data.fod", file);

    auto archive = Make();
    ASSERT_TRUE(archive->Open(mPath, basePath, 0));
    EXPECT_EQ(Get(*archive, u"x"), "new x");
}

TEST_F(HashArchiveTest, NeedSlotsAddsABlockOfThatSize)
{
    LogCapture log;
    auto archive = Make();
    ASSERT_TRUE(archive->Create(mPath, 64));
    ASSERT_TRUE(Put(*archive, u"first", "1"));
    const _qword oldLength = archive->GetFileLength();
    archive = Make();
    ASSERT_TRUE(archive->Open(mPath, true, 100));
    EXPECT_TRUE(log.Contains(u"[RM] Expand fod, need 100, current 64"));
    EXPECT_EQ(archive->GetSlotCount(), 164u);
    EXPECT_EQ(archive->GetBlockCount(), 2u);
    std::string file = ReadBytes(mDir / "data.fod");
    EXPECT_EQ(Le32(file, 28), oldLength); // the header now links the new block
    EXPECT_EQ(Le32(file, oldLength + 8), 100u);

    for (int i = 0; i < 150; ++i)
        ASSERT_TRUE(Put(*archive, FormatString(u"r%d", i), std::to_string(i))) << i;
    archive = Make();
    ASSERT_TRUE(archive->Open(mPath, true, 100)); // enough slots already: no growth
    EXPECT_EQ(archive->GetSlotCount(), 164u);
    EXPECT_EQ(Get(*archive, u"first"), "1");
    for (int i = 0; i < 150; ++i)
        EXPECT_EQ(Get(*archive, FormatString(u"r%d", i)), std::to_string(i));
    EXPECT_EQ(archive->Enumerate(nullptr, nullptr, nullptr), 151);
}

TEST_F(HashArchiveTest, EnumerationGivesLiteralKeysThatOpen)
{
    auto archive = Make();
    ASSERT_TRUE(archive->Create(mPath, 8));
    ASSERT_TRUE(Put(*archive, u"one", "1"));
    ASSERT_TRUE(Put(*archive, u"two", "2"));
    ASSERT_TRUE(Put(*archive, u"three", "3"));
    std::vector<String> names;
    int count = archive->Enumerate(
        [](const String& name, void* a, void*)
        {
            static_cast<std::vector<String>*>(a)->push_back(name);
            return true;
        },
        &names, nullptr);
    ASSERT_EQ(count, 3);
    EXPECT_EQ(names[0], NameKeyToText(HashName(u"one")));
    std::string all;
    for (const String& name : names)
        all += Get(*archive, name);
    EXPECT_EQ(all, "123");
    int calls = 0;
    EXPECT_EQ(archive->Enumerate([](const String&, void* a, void*) { return ++*static_cast<int*>(a) < 2; },
                                 &calls, nullptr),
              -1);
    EXPECT_EQ(calls, 2);
}

TEST_F(HashArchiveTest, BadHeadersFailWithTheirMessages)
{
    {
        auto archive = Make();
        ASSERT_TRUE(archive->Create(mPath, 4));
    }
    std::string good = ReadBytes(mDir / "data.fod");
    struct Case
    {
        std::string bytes;
        const char16_t* message;
    };
    std::string version2 = good;
    version2[4] = 2;
    const Case cases[] = {
        {"", u"[RM] Can't read file token: "},
        {version2, u"[RM] Magic error: "},
        {good.substr(0, 10), u"[RM] Read version failed: "},
        {good.substr(0, 20), u"[RM] Read reserved failed: "},
        {good.substr(0, 30), u"[RM] Read next item offset failed: "},
        {good.substr(0, 38), u"[RM] Read max file item count failed: "},
    };
    for (const Case& c : cases)
    {
        LogCapture log;
        WriteBytes(mDir / "bad.fod", c.bytes);
        auto archive = Make();
        EXPECT_FALSE(archive->Open(mDir.Wide("bad.fod"), true)) << Vexel::Test::Narrow(c.message);
        EXPECT_TRUE(log.Contains(c.message)) << Vexel::Test::Narrow(c.message);
    }
    LogCapture log;
    WriteBytes(mDir / "bad.fod", version2);
    EXPECT_FALSE(Make()->Open(mDir.Wide("bad.fod"), true));
    EXPECT_TRUE(log.Contains(u"bad.fod 0x485350 0x2"));
    EXPECT_FALSE(Make()->Open(mDir.Wide("missing.fod"), true));
    EXPECT_TRUE(log.Contains(u"[RM] Open hash archive file failed: "));
}

TEST_F(HashArchiveTest, HostileCountsAndChainsAreCutToTheFile)
{
    {
        auto archive = Make();
        ASSERT_TRUE(archive->Create(mPath, 4));
        ASSERT_TRUE(Put(*archive, u"keep", "kept"));
    }
    std::string file = ReadBytes(mDir / "data.fod");
    std::string huge = file;
    WriteLE32(reinterpret_cast<_byte*>(huge.data()) + 36, 0x7FFFFFFF);
    std::string loop = file;
    WriteLE64(reinterpret_cast<_byte*>(loop.data()) + 28, 40); // the chain points back into the first block
    std::string past = file;
    WriteLE64(reinterpret_cast<_byte*>(past.data()) + 28, 1u << 30);

    for (const std::string& bytes : {huge, loop, past})
    {
        LogCapture log;
        WriteBytes(mDir / "bad.fod", bytes);
        auto archive = Make();
        ASSERT_TRUE(archive->Open(mDir.Wide("bad.fod"), true));
        EXPECT_TRUE(log.Contains(u"[RM] Item block")) << Vexel::Test::Narrow(log.Text());
        EXPECT_EQ(Get(*archive, u"keep"), "kept");
        EXPECT_LE(archive->GetSlotCount(), 5u);
    }

    // A looping chain of extension blocks: each block links to the one before.
    {
        auto archive = Make();
        ASSERT_TRUE(archive->Open(mPath, true, 6));
        archive = Make();
        ASSERT_TRUE(archive->Open(mPath, true, 12));
    }
    std::string chained = ReadBytes(mDir / "data.fod");
    _qword second = ReadLE64(reinterpret_cast<const _byte*>(chained.data()) + 28);
    _qword third = ReadLE64(reinterpret_cast<const _byte*>(chained.data()) + second);
    ASSERT_NE(third, 0u);
    WriteLE64(reinterpret_cast<_byte*>(chained.data()) + third, second);
    WriteBytes(mDir / "bad.fod", chained);
    LogCapture log;
    auto archive = Make();
    ASSERT_TRUE(archive->Open(mDir.Wide("bad.fod"), true));
    EXPECT_TRUE(log.Contains(u"broken at"));
    EXPECT_EQ(archive->GetSlotCount(), 22u);
    EXPECT_EQ(Get(*archive, u"keep"), "kept");
}

TEST_F(HashArchiveTest, DamagedRecordsAreSkippedAndNeverFreed)
{
    {
        auto archive = Make();
        ASSERT_TRUE(archive->Create(mPath, 8));
        ASSERT_TRUE(Put(*archive, u"a", std::string(40, 'a')));
        ASSERT_TRUE(Put(*archive, u"b", std::string(40, 'b')));
        ASSERT_TRUE(Put(*archive, u"c", std::string(40, 'c')));
    }
    std::string file = ReadBytes(mDir / "data.fod");
    const _qword length = file.size();
    HashItem a = RecordAt(file, 0);
    HashItem b = RecordAt(file, 1);
    HashItem c = RecordAt(file, 2);

    HashItem outside = b; // runs past the end of the file
    outside.mDataSize = 1 << 20;
    outside.mChunkLength = outside.mDataSize + 16;
    HashItem overlap = c; // lies on top of a
    overlap.mChunkOffset = a.mChunkOffset + 8;
    overlap.mDataOffset = overlap.mChunkOffset + 16;
    HashItem onTable = a; // a hole over the item records
    onTable.mMagicCode = 0;
    onTable.mChunkOffset = 48;
    PatchRecord(file, 1, outside);
    PatchRecord(file, 2, overlap);
    PatchRecord(file, 3, onTable);
    WriteBytes(mDir / "bad.fod", file);

    LogCapture log;
    auto archive = Make();
    ASSERT_TRUE(archive->Open(mDir.Wide("bad.fod"), true));
    EXPECT_TRUE(log.Contains(u"[RM] Damaged item"));
    EXPECT_EQ(archive->GetSkippedCount(), 3u);
    EXPECT_EQ(archive->GetHoleCount(), 0u);
    EXPECT_EQ(Get(*archive, u"a"), std::string(40, 'a'));
    EXPECT_FALSE(archive->HasResource(u"b"));
    EXPECT_FALSE(archive->HasResource(u"c"));

    // New writes go around the damage: a keeps its bytes through a reopen.
    ASSERT_TRUE(Put(*archive, u"d", std::string(300, 'd')));
    ASSERT_TRUE(archive->DeleteResource(u"a"));
    ASSERT_TRUE(Put(*archive, u"a", std::string(40, 'A')));
    archive = Make();
    ASSERT_TRUE(archive->Open(mDir.Wide("bad.fod"), true));
    EXPECT_EQ(Get(*archive, u"a"), std::string(40, 'A'));
    EXPECT_EQ(Get(*archive, u"d"), std::string(300, 'd'));
    EXPECT_GE(archive->GetFileLength(), length);
}

TEST_F(HashArchiveTest, UnknownMagicIsReportedWithItsPlace)
{
    {
        auto archive = Make();
        ASSERT_TRUE(archive->Create(mPath, 4));
        ASSERT_TRUE(Put(*archive, u"a", "a"));
        ASSERT_TRUE(Put(*archive, u"b", "b"));
    }
    std::string file = ReadBytes(mDir / "data.fod");
    HashItem b = RecordAt(file, 1);
    b.mMagicCode = 0x12345678;
    PatchRecord(file, 1, b);
    WriteBytes(mDir / "data.fod", file);
    LogCapture log;
    auto archive = Make();
    ASSERT_TRUE(archive->Open(mPath, true));
    EXPECT_TRUE(log.Contains(u"[RM] Invalid magic code 0x12345678, offset 0x48"));
    EXPECT_TRUE(archive->HasResource(u"a"));
    EXPECT_FALSE(archive->HasResource(u"b"));
}

} // namespace
