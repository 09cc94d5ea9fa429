// Streams: memory blocks sized by their first write, range checks, the packed test and text reading,
// pack regions with and without scrambling, and the live-stream count.
#include "Storage/DataStream.h"

#include "Common/Compression.h"
#include "Platform/File.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace Vexel;
using Vexel::Test::TempDir;
using Vexel::Test::WriteBytes;

namespace
{

ByteBuffer Bytes(const std::string& text)
{
    return ByteBuffer(text.begin(), text.end());
}

TEST(DataStreamTest, MemoryStreamsTakeTheSizeOfTheirFirstWrite)
{
    StorageLock lock;
    const int live = GetLiveStreamCount();
    {
        MemStream stream(&lock, u"Dir\\Name.TXT", 0, MD5());
        EXPECT_EQ(GetLiveStreamCount(), live + 1);
        EXPECT_EQ(stream.GetName(), u"dir\\name.txt");
        char buffer[16];
        EXPECT_FALSE(stream.Read(buffer, 1, 0));
        EXPECT_EQ(stream.GetBuffer(), nullptr);
        ASSERT_TRUE(stream.Write("0123456789", 10, 0));
        EXPECT_EQ(stream.GetSize(), 10u);
        EXPECT_FALSE(stream.Write("abcd", 4, 8));
        ASSERT_TRUE(stream.Write("ab", 2, 8));
        ASSERT_TRUE(stream.Read(buffer, 10, 0));
        EXPECT_EQ(std::string(buffer, 10), "01234567ab");
        EXPECT_FALSE(stream.Read(buffer, 1, 10));
        ASSERT_TRUE(stream.WriteText(Bytes("replaced text"), false));
        EXPECT_EQ(stream.GetSize(), 13u);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(stream.GetBuffer()), 13), "replaced text");
    }
    EXPECT_EQ(GetLiveStreamCount(), live);
}

TEST(DataStreamTest, PackedTestNeedsTwentyBytesAndTheMagic)
{
    StorageLock lock;
    std::string magic(reinterpret_cast<const char*>(_PACK_SIGNATURE), 8);
    MemStream shortOne(&lock, u"s", 0, MD5());
    ASSERT_TRUE(shortOne.WriteText(Bytes(magic + std::string(11, 'x')), false));
    EXPECT_EQ(shortOne.GetSize(), 19u);
    EXPECT_FALSE(shortOne.IsCompressed());
    MemStream longOne(&lock, u"l", 0, MD5());
    ASSERT_TRUE(longOne.WriteText(Bytes(magic + std::string(12, 'x')), false));
    EXPECT_TRUE(longOne.IsCompressed());
}

TEST(DataStreamTest, TextReadsDecodeEnvelopesAndLeavePlainText)
{
    StorageLock lock;
    MemStream plain(&lock, u"p", 0, MD5());
    ASSERT_TRUE(plain.WriteText(Bytes("just text"), false));
    ByteBuffer text;
    ASSERT_TRUE(plain.ReadText(text, true));
    EXPECT_EQ(text, Bytes("just text"));

    std::string body(3000, 'z');
    MemStream packed(&lock, u"z", 0, MD5());
    ASSERT_TRUE(packed.WriteText(Bytes(body), true));
    EXPECT_TRUE(packed.IsCompressed());
    EXPECT_LT(packed.GetSize(), body.size());
    ASSERT_TRUE(packed.ReadText(text, false));
    EXPECT_TRUE(IsCompressed(text.data(), text.size()));
    ASSERT_TRUE(packed.ReadText(text, true));
    EXPECT_EQ(text, Bytes(body));

    MemStream empty(&lock, u"e", 0, MD5());
    ASSERT_TRUE(empty.ReadText(text, true));
    EXPECT_TRUE(text.empty());
}

TEST(DataStreamTest, PackStreamsStayInsideTheirRegion)
{
    StorageLock lock;
    TempDir dir;
    WriteBytes(dir / "pack.bin", "HEADERpayload!TRAILER");
    auto file = std::make_shared<File>();
    ASSERT_TRUE(file->OpenReadWrite(dir.Wide("pack.bin")));
    PackStream stream(&lock, u"r", file, 6, 8, MD5());
    char buffer[16] = {};
    ASSERT_TRUE(stream.Read(buffer, 8, 0));
    EXPECT_EQ(std::string(buffer, 8), "payload!");
    ASSERT_TRUE(stream.Read(buffer, 3, 5));
    EXPECT_EQ(std::string(buffer, 3), "ad!");
    EXPECT_FALSE(stream.Read(buffer, 4, 5));
    EXPECT_FALSE(stream.Write("xxxx", 4, 5));
    ASSERT_TRUE(stream.Write("PAY", 3, 0));
    EXPECT_EQ(Vexel::Test::ReadBytes(dir / "pack.bin"), "HEADERPAYload!TRAILER");
}

TEST(DataStreamTest, ScrambledRangesUnscrambleOnTheirOwn)
{
    std::string plain = "The quick brown fox jumps over the lazy dog, twice over.";
    std::string scrambled = plain;
    UnscramblePack(u"key", reinterpret_cast<_byte*>(scrambled.data()), static_cast<_dword>(scrambled.size()),
                   0);
    EXPECT_NE(scrambled, plain);
    // Any piece at its own offset gives the same bytes as the whole.
    std::string piece = scrambled.substr(13, 20);
    UnscramblePack(u"key", reinterpret_cast<_byte*>(piece.data()), 20, 13);
    EXPECT_EQ(piece, plain.substr(13, 20));
    std::string other = scrambled;
    UnscramblePack(u"kez", reinterpret_cast<_byte*>(other.data()), static_cast<_dword>(other.size()), 0);
    EXPECT_NE(other, plain);
    std::string untouched = plain;
    UnscramblePack(u"", reinterpret_cast<_byte*>(untouched.data()), static_cast<_dword>(untouched.size()), 0);
    EXPECT_EQ(untouched, plain);
}

TEST(DataStreamTest, DiskStreamsReadAndWriteTheirFile)
{
    StorageLock lock;
    TempDir dir;
    WriteBytes(dir / "f.txt", "0123456789");
    File file;
    ASSERT_TRUE(file.OpenReadWrite(dir.Wide("f.txt")));
    DiskStream stream(&lock, u"f.txt", std::move(file), 10, MD5());
    ASSERT_TRUE(stream.Write("ab", 2, 4));
    ByteBuffer text;
    ASSERT_TRUE(stream.ReadText(text, false));
    EXPECT_EQ(text, Bytes("0123ab6789"));
    char buffer[4];
    EXPECT_FALSE(stream.Read(buffer, 4, 8)); // past the end of the file
}

} // namespace
