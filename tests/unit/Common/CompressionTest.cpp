#include "Common/Compression.h"
#include "TestSupport.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <lzma.h>
#include <random>
#include <string>

using namespace Vexel;

namespace
{

// Text, noise and runs of zeros: a little of what resources look like.
ByteBuffer MixedData(std::size_t size, unsigned seed = 7)
{
    std::mt19937 random(seed);
    const std::string text = "local frame = _Launcher.createFrame(0, 'main', 800, 600) -- skin and buttons\n";
    ByteBuffer data;
    data.reserve(size);
    while (data.size() < size)
    {
        switch (random() % 3)
        {
        case 0:
            data.insert(data.end(), text.begin(), text.end());
            break;
        case 1:
            for (int i = 0; i < 300; ++i)
                data.push_back(static_cast<_byte>(random()));
            break;
        default:
            data.insert(data.end(), 500, 0);
            break;
        }
    }
    data.resize(size);
    return data;
}

_dword SizeField(const ByteBuffer& packed)
{
    return packed[16] | (packed[17] << 8) | (packed[18] << 16) | (static_cast<_dword>(packed[19]) << 24);
}

void SetSizeField(ByteBuffer& packed, _dword size)
{
    for (int i = 0; i < 4; ++i)
        packed[16 + i] = static_cast<_byte>(size >> (8 * i));
}

ByteBuffer Packed(const ByteBuffer& plain, bool use7z)
{
    ByteBuffer buffer = plain;
    bool changed = false;
    EXPECT_TRUE(CompressBuffer(buffer, changed, use7z));
    EXPECT_TRUE(changed);
    return buffer;
}

// Stream callbacks over memory, handing out at most `piece` bytes per read.
struct MemoryReader
{
    const ByteBuffer* data;
    std::size_t offset = 0;
    _dword piece;
    bool failAfterHeader = false;
};

bool ReadMemory(void* readdata, void* destination, _dword* length)
{
    auto* reader = static_cast<MemoryReader*>(readdata);
    if (reader->failAfterHeader && reader->offset >= _PACK_HEADER_SIZE)
        return false;
    std::size_t left = reader->data->size() - reader->offset;
    _dword n = static_cast<_dword>(std::min<std::size_t>({left, *length, reader->piece}));
    std::memcpy(destination, reader->data->data() + reader->offset, n);
    reader->offset += n;
    *length = n;
    return true;
}

struct MemoryWriter
{
    ByteBuffer data;
    std::size_t failAt = SIZE_MAX;
};

bool WriteMemory(void* writedata, const void* source, _dword* length)
{
    auto* writer = static_cast<MemoryWriter*>(writedata);
    if (writer->data.size() + *length > writer->failAt)
        return false;
    const _byte* bytes = static_cast<const _byte*>(source);
    writer->data.insert(writer->data.end(), bytes, bytes + *length);
    return true;
}

bool UnpackStream(const ByteBuffer& packed, _dword piece, ByteBuffer& out)
{
    MemoryReader reader{&packed, 0, piece};
    MemoryWriter writer;
    bool ok = DecompressStream(ReadMemory, &reader, WriteMemory, &writer);
    out = writer.data;
    return ok;
}

class CompressionMethod : public ::testing::TestWithParam<bool>
{
};

} // namespace

TEST_P(CompressionMethod, RoundTripsThroughBufferAndStream)
{
    const bool use7z = GetParam();
    const ByteBuffer plain = MixedData(300000);
    ByteBuffer packed = Packed(plain, use7z);
    ASSERT_GT(packed.size(), 20u);
    EXPECT_LT(packed.size(), plain.size() / 2);
    EXPECT_TRUE(IsCompressed(packed.data(), packed.size()));
    EXPECT_EQ(SizeField(packed), plain.size());
    EXPECT_EQ(std::memcmp(packed.data(), _PACK_SIGNATURE, 8), 0);
    if (use7z)
    {
        // lc 3, lp 0, pb 2 and a 16 MiB dictionary, then three zero bytes.
        const _byte properties[8] = {0x5D, 0x00, 0x00, 0x00, 0x01, 0, 0, 0};
        EXPECT_EQ(std::memcmp(packed.data() + 8, properties, 8), 0);
    }
    else
        EXPECT_EQ(std::memcmp(packed.data() + 8, _PACK_SIGNATURE + 8, 8), 0);

    // Stream decoding in small and odd read pieces gives what buffer decoding gives.
    for (_dword piece : {1u, 7u, 4096u, 65536u})
    {
        ByteBuffer streamed;
        EXPECT_TRUE(UnpackStream(packed, piece, streamed)) << piece;
        EXPECT_TRUE(streamed == plain) << piece;
    }

    bool changed = false;
    ASSERT_TRUE(DecompressBuffer(packed, changed));
    EXPECT_TRUE(changed);
    EXPECT_TRUE(packed == plain);
}

TEST_P(CompressionMethod, StreamPackingWritesWhatBufferPackingWrites)
{
    const bool use7z = GetParam();
    const ByteBuffer plain = MixedData(200000, 11);
    MemoryReader reader{&plain, 0, 5000};
    MemoryWriter writer;
    ASSERT_TRUE(
        CompressStream(ReadMemory, &reader, static_cast<_dword>(plain.size()), WriteMemory, &writer, use7z));
    EXPECT_TRUE(writer.data == Packed(plain, use7z));

    // Input shorter than announced is a failure, not a short packed file.
    MemoryReader shortReader{&plain, 0, 5000};
    MemoryWriter shortWriter;
    Vexel::Test::LogCapture capture;
    EXPECT_FALSE(CompressStream(ReadMemory, &shortReader, static_cast<_dword>(plain.size() + 1), WriteMemory,
                                &shortWriter, use7z));
}

TEST_P(CompressionMethod, EmptyPayloadIsAValidPackedBuffer)
{
    const bool use7z = GetParam();
    ByteBuffer packed = Packed({}, use7z);
    EXPECT_TRUE(IsCompressed(packed.data(), packed.size()));
    EXPECT_EQ(SizeField(packed), 0u);
    ByteBuffer streamed{1, 2, 3};
    EXPECT_TRUE(UnpackStream(packed, 3, streamed));
    EXPECT_TRUE(streamed.empty());
    bool changed = false;
    EXPECT_TRUE(DecompressBuffer(packed, changed));
    EXPECT_TRUE(changed);
    EXPECT_TRUE(packed.empty());
}

TEST_P(CompressionMethod, PackingTwiceChangesNothing)
{
    ByteBuffer packed = Packed(MixedData(5000), GetParam());
    const ByteBuffer before = packed;
    bool changed = false;
    EXPECT_TRUE(CompressBuffer(packed, changed, !GetParam()));
    EXPECT_FALSE(changed);
    EXPECT_TRUE(packed == before);
}

TEST_P(CompressionMethod, DamagedDataFailsAndKeepsTheBuffer)
{
    const bool use7z = GetParam();
    const char16_t* message =
        use7z ? u"[FG] Decompress(7z) Error Code : " : u"[FG] Decompress(Zip) Error Code : ";
    const ByteBuffer plain = MixedData(100000);
    const ByteBuffer packed = Packed(plain, use7z);

    ByteBuffer truncated(packed.begin(), packed.end() - 40);
    ByteBuffer headerOnly(packed.begin(), packed.begin() + 20);
    ByteBuffer sizeTooSmall = packed;
    SetSizeField(sizeTooSmall, static_cast<_dword>(plain.size() - 1000));
    ByteBuffer hugeSize = truncated;
    SetSizeField(hugeSize, 0xFFFFFFFF);
    ByteBuffer corrupt = packed;
    for (std::size_t i = 200; i < 260; ++i)
        corrupt[i] ^= 0x5A;

    for (const ByteBuffer* damaged : {&truncated, &headerOnly, &sizeTooSmall, &hugeSize, &corrupt})
    {
        SCOPED_TRACE(damaged - &truncated);
        Vexel::Test::LogCapture capture;
        ByteBuffer buffer = *damaged;
        bool changed = false;
        EXPECT_FALSE(DecompressBuffer(buffer, changed));
        EXPECT_FALSE(changed);
        EXPECT_TRUE(buffer == *damaged);
        EXPECT_TRUE(capture.Contains(message)) << Vexel::Test::Narrow(capture.Text());

        // The stream path must not report a cut or damaged stream as a success either.
        ByteBuffer streamed;
        EXPECT_FALSE(UnpackStream(*damaged, 4096, streamed));
    }
}

TEST(Compression, SevenZipSizeMustMatchExactly)
{
    // The raw stream has no end marker: a header that claims more than the stream holds cannot succeed.
    const ByteBuffer plain = MixedData(20000);
    ByteBuffer packed = Packed(plain, true);
    SetSizeField(packed, static_cast<_dword>(plain.size() + 1));
    Vexel::Test::LogCapture capture;
    bool changed = false;
    EXPECT_FALSE(DecompressBuffer(packed, changed));
    ByteBuffer streamed;
    EXPECT_FALSE(UnpackStream(packed, 65536, streamed));
}

TEST(Compression, ZipSizeLargerThanTheDataGivesTheData)
{
    // A complete zlib stream is self-checking; the header's size only bounds the room.
    const ByteBuffer plain = MixedData(20000);
    ByteBuffer packed = Packed(plain, false);
    SetSizeField(packed, static_cast<_dword>(plain.size() + 1000));
    bool changed = false;
    ASSERT_TRUE(DecompressBuffer(packed, changed));
    EXPECT_TRUE(packed == plain);
}

TEST(Compression, NineteenBytesAreNeverPacked)
{
    ByteBuffer buffer(_PACK_SIGNATURE, _PACK_SIGNATURE + 16);
    buffer.insert(buffer.end(), {5, 0, 0});
    ASSERT_EQ(buffer.size(), 19u);
    EXPECT_FALSE(IsCompressed(buffer.data(), buffer.size()));
    const ByteBuffer before = buffer;
    bool changed = false;
    EXPECT_TRUE(DecompressBuffer(buffer, changed));
    EXPECT_FALSE(changed);
    EXPECT_TRUE(buffer == before);
    EXPECT_FALSE(IsCompressed(nullptr, 40));

    ByteBuffer plain = {'h', 'e', 'l', 'l', 'o'};
    EXPECT_TRUE(DecompressBuffer(plain, changed));
    EXPECT_FALSE(changed);
    EXPECT_EQ(plain.size(), 5u);
}

TEST(Compression, OnlyTheFirstEightBytesMarkAndByteFifteenPicksTheMethod)
{
    const ByteBuffer plain = MixedData(10000);

    // Zip with bytes 8..14 overwritten still unpacks as Zip, because byte 15 is not zero.
    ByteBuffer zip = Packed(plain, false);
    for (int i = 8; i < 15; ++i)
        zip[i] = static_cast<_byte>(i * 31);
    EXPECT_TRUE(IsCompressed(zip.data(), zip.size()));
    bool changed = false;
    ASSERT_TRUE(DecompressBuffer(zip, changed));
    EXPECT_TRUE(zip == plain);

    // 7z bytes 13..14 are not read; byte 15 zero keeps it 7z.
    ByteBuffer lzma = Packed(plain, true);
    lzma[13] = 0x77;
    lzma[14] = 0x88;
    ASSERT_TRUE(DecompressBuffer(lzma, changed));
    EXPECT_TRUE(lzma == plain);

    // A Zip payload under a header whose byte 15 is zero is read as 7z and fails.
    ByteBuffer swapped = Packed(plain, false);
    swapped[15] = 0;
    Vexel::Test::LogCapture capture;
    EXPECT_FALSE(DecompressBuffer(swapped, changed));
    EXPECT_TRUE(capture.Contains(u"[FG] Decompress(7z) Error Code : "));
}

TEST(Compression, HighlyCompressibleDataGrowsPastTheFirstGuess)
{
    ByteBuffer plain(6 << 20, 0x41);
    plain[12345] = 1;
    for (bool use7z : {false, true})
    {
        ByteBuffer buffer = Packed(plain, use7z);
        EXPECT_LT(buffer.size(), 64u * 1024);
        bool changed = false;
        ASSERT_TRUE(DecompressBuffer(buffer, changed));
        EXPECT_TRUE(buffer == plain);
    }
}

TEST(Compression, OneCallCodersReportTheirErrors)
{
    const ByteBuffer plain = MixedData(10000);
    _byte properties[5];
    ByteBuffer room(16);
    std::size_t length = room.size();
    Vexel::Test::LogCapture capture;
    EXPECT_FALSE(Compress(room.data(), &length, plain.data(), plain.size(), properties, false));
    EXPECT_TRUE(capture.Contains(u"[FG] Compress(Zip) Error Code : -5"));
    length = room.size();
    EXPECT_FALSE(Compress(room.data(), &length, plain.data(), plain.size(), properties, true));
    EXPECT_TRUE(capture.Contains(u"[FG] Compress(7z) Error Code : "));

    ByteBuffer packed(plain.size() * 2);
    length = packed.size();
    ASSERT_TRUE(Compress(packed.data(), &length, plain.data(), plain.size(), properties, true));
    ByteBuffer out(plain.size());
    std::size_t outLength = out.size();
    ASSERT_TRUE(Decompress(out.data(), &outLength, packed.data(), length, properties, true));
    EXPECT_EQ(outLength, plain.size());
    EXPECT_TRUE(out == plain);

    capture.Clear();
    outLength = out.size();
    EXPECT_FALSE(Decompress(out.data(), &outLength, packed.data(), length / 2, properties, true));
    EXPECT_TRUE(capture.Contains(u"[FG] Decompress(7z) Error Code : "));
    EXPECT_FALSE(Decompress(out.data(), &outLength, packed.data(), length, properties, false));
    EXPECT_TRUE(capture.Contains(u"[FG] Decompress(Zip) Error Code : -3"));
}

TEST(Compression, StreamCallbackFailuresAndMissingArguments)
{
    const ByteBuffer packed = Packed(MixedData(200000), false);
    MemoryReader reader{&packed, 0, 65536};
    MemoryWriter writer;
    writer.failAt = 100000;
    EXPECT_FALSE(DecompressStream(ReadMemory, &reader, WriteMemory, &writer));

    MemoryReader failing{&packed, 0, 65536, true};
    MemoryWriter sink;
    EXPECT_FALSE(DecompressStream(ReadMemory, &failing, WriteMemory, &sink));

    // Fewer than 20 bytes cannot be a header.
    ByteBuffer shortInput(packed.begin(), packed.begin() + 12);
    ByteBuffer out;
    EXPECT_FALSE(UnpackStream(shortInput, 65536, out));

    Vexel::Test::LogCapture capture;
    EXPECT_FALSE(DecompressStream(nullptr, &reader, WriteMemory, nullptr));
    EXPECT_TRUE(capture.Contains(u"readfunc != _null"));
    EXPECT_TRUE(capture.Contains(u"writedata != _null"));
    EXPECT_FALSE(capture.Contains(u"readdata != _null"));
}

INSTANTIATE_TEST_SUITE_P(Methods, CompressionMethod, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "SevenZip" : "Zip"; });

TEST(Compression, SevenZipAcceptsAnEndMarkerAfterTheLastByte)
{
    // Other LZMA writers may close the stream with an end marker; the known size still decides.
    const ByteBuffer plain = MixedData(50000);
    lzma_options_lzma options;
    lzma_lzma_preset(&options, 6);
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    ByteBuffer packed(20 + plain.size() * 2);
    std::size_t written = 20;
    ASSERT_EQ(lzma_raw_buffer_encode(filters, nullptr, plain.data(), plain.size(), packed.data(), &written,
                                     packed.size()),
              LZMA_OK);
    packed.resize(written);
    std::memcpy(packed.data(), _PACK_SIGNATURE, 8);
    uint32_t properties;
    ASSERT_EQ(lzma_properties_size(&properties, &filters[0]), LZMA_OK);
    ASSERT_EQ(lzma_properties_encode(&filters[0], packed.data() + 8), LZMA_OK);
    std::memset(packed.data() + 13, 0, 3);
    SetSizeField(packed, static_cast<_dword>(plain.size()));

    ByteBuffer streamed;
    EXPECT_TRUE(UnpackStream(packed, 999, streamed));
    EXPECT_TRUE(streamed == plain);
    bool changed = false;
    ASSERT_TRUE(DecompressBuffer(packed, changed));
    EXPECT_TRUE(packed == plain);
}
