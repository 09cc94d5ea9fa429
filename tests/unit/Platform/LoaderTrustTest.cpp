// The block-list response: records read while 16 bytes remain, optional lengths and messages, and the
// text the loader shows for a banned module.
#include "Platform/LoaderTrust.h"

#include "Common/Md5.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>

using namespace Vexel;
using Vexel::Test::Narrow;

namespace
{

std::string DigestBytes(const MD5& digest)
{
    std::string out;
    for (_dword word : digest.w)
        for (int shift = 0; shift < 32; shift += 8)
            out += static_cast<char>(word >> shift);
    return out;
}

std::string Word(std::uint32_t value)
{
    std::string out;
    for (int shift = 0; shift < 32; shift += 8)
        out += static_cast<char>(value >> shift);
    return out;
}

std::string Utf16(std::u16string_view text)
{
    std::string out;
    for (char16_t c : text)
    {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

std::string Record(const MD5& digest, std::u16string_view message)
{
    return DigestBytes(digest) + Word(static_cast<std::uint32_t>(message.size())) + Utf16(message);
}

std::optional<String> Find(const std::string& response, const MD5& digest)
{
    return FindBlockedLoader(reinterpret_cast<const _byte*>(response.data()), response.size(), digest,
                             u"support@vexel.example");
}

const MD5 gBanned = Md5Of("banned module", 13);
const MD5 gOther = Md5Of("other module", 12);

} // namespace

TEST(BlockList, DigestBytesAreTheUsualMd5Bytes)
{
    // "abc": the usual digest 900150983cd24fb0d6963f7d28e17f72 is what goes on the wire.
    const MD5 abc = Md5Of("abc", 3);
    std::string wire = "\x90\x01\x50\x98\x3c\xd2\x4f\xb0\xd6\x96\x3f\x7d\x28\xe1\x7f\x72";
    EXPECT_EQ(Find(wire, abc), std::optional<String>(u"Illegle loader, contact support@vexel.example"));
    std::vector<BlockListRecord> records = ReadBlockList(reinterpret_cast<const _byte*>(wire.data()), 16);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].digest, abc);
}

TEST(BlockList, MatchingRecordGivesItsMessage)
{
    const std::string response = Record(gOther, u"not this one") + Record(gBanned, u"Banned: cheat 7\u00e9") +
                                 Record(gBanned, u"second");
    EXPECT_EQ(Find(response, gBanned), std::optional<String>(u"Banned: cheat 7\u00e9"));
    EXPECT_EQ(Find(response, gOther), std::optional<String>(u"not this one"));
    EXPECT_FALSE(Find(response, Md5Of("fine", 4)).has_value());
    EXPECT_EQ(ReadBlockList(reinterpret_cast<const _byte*>(response.data()), response.size()).size(), 3u);
}

TEST(BlockList, RecordWithoutMessageGivesTheDefaultText)
{
    // A zero length, and a final record with no length field at all.
    const std::string response = Record(gOther, u"") + DigestBytes(gBanned);
    EXPECT_EQ(Find(response, gOther),
              std::optional<String>(u"Illegle loader, contact support@vexel.example"));
    EXPECT_EQ(Find(response, gBanned),
              std::optional<String>(u"Illegle loader, contact support@vexel.example"));
    EXPECT_EQ(FindBlockedLoader(reinterpret_cast<const _byte*>(response.data()), response.size(), gBanned,
                                String()),
              std::optional<String>(u"Illegle loader, contact"));
}

TEST(BlockList, ShortResponsesAreIgnored)
{
    const std::string record = DigestBytes(gBanned);
    for (std::size_t size = 0; size <= 15; ++size)
        EXPECT_FALSE(Find(record.substr(0, size), gBanned).has_value()) << size;
    EXPECT_TRUE(Find(record, gBanned).has_value());
    // Fewer than 4 bytes after a digest: no length, and no further record.
    EXPECT_TRUE(Find(record + "abc", gBanned).has_value());
    EXPECT_EQ(ReadBlockList(reinterpret_cast<const _byte*>((record + "abc").data()), 19).size(), 1u);
}

TEST(BlockList, MessageLongerThanTheRestIsNotRead)
{
    // The length claims more than remains: no message; what follows the length is read as records.
    const std::string response = DigestBytes(gOther) + Word(0xFFFFFFFF) + DigestBytes(gBanned);
    std::vector<BlockListRecord> records =
        ReadBlockList(reinterpret_cast<const _byte*>(response.data()), response.size());
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(records[0].message.empty());
    EXPECT_EQ(records[1].digest, gBanned);
    EXPECT_EQ(Find(response, gOther),
              std::optional<String>(u"Illegle loader, contact support@vexel.example"));
}
