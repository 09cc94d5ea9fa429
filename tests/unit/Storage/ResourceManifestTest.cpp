// Manifests: the text lines and their fields, the binary form and its hostile counts, the written form,
// literal-key lookups and the digest text.
#include "Storage/ResourceManifest.h"

#include "Storage/NameKey.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace Vexel;
using Vexel::Test::LogCapture;
using Vexel::Test::ReadBytes;
using Vexel::Test::TempDir;

namespace
{

ByteBuffer Utf16(std::u16string_view text)
{
    ByteBuffer bytes;
    for (char16_t c : text)
    {
        bytes.push_back(static_cast<_byte>(c & 0xFF));
        bytes.push_back(static_cast<_byte>(c >> 8));
    }
    return bytes;
}

void Append32(ByteBuffer& bytes, _dword value)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<_byte>(value >> (8 * i)));
}

void AppendUnits(ByteBuffer& bytes, std::u16string_view text)
{
    ByteBuffer units = Utf16(text);
    bytes.insert(bytes.end(), units.begin(), units.end());
}

const char16_t* const _MD5_TEXT = u"0f0e0d0c0b0a09080706050403020100";

TEST(ResourceManifestTest, DigestTextIsTheWordsFromLastToFirst)
{
    _byte bytes[16];
    for (int i = 0; i < 16; ++i)
        bytes[i] = static_cast<_byte>(i);
    MD5 md5;
    for (int w = 0; w < 4; ++w)
        md5.w[w] = ReadLE32(bytes + 4 * w);
    EXPECT_EQ(Md5ToText(md5), _MD5_TEXT);
    EXPECT_EQ(Md5FromText(_MD5_TEXT), md5);
}

TEST(ResourceManifestTest, TextLinesGiveEntriesFoldersAndControls)
{
    String text = String(u"Base\\Root|$\r\n") + u"v12|#\r\n" + u"UI|[]\r\n" + u"A.png|" + _MD5_TEXT +
                  u"|12\r\n" + u"b.png|" + _MD5_TEXT + u"|#100|20|pack1\r\n" + u"no second field\r\n" +
                  u"*|[]\r\n" + u"top.lua|" + _MD5_TEXT + u"|5|pack2";
    ByteBuffer bytes = Utf16(text);
    LogCapture log;
    ResourceManifest manifest;
    ASSERT_TRUE(manifest.LoadText(bytes.data(), bytes.size()));
    EXPECT_TRUE(log.Contains(u"[RM] Load manifest(txt) costs "));
    EXPECT_EQ(manifest.GetBaseText(), u"base\\root");
    EXPECT_EQ(manifest.GetVersion(), 12u);
    EXPECT_EQ(manifest.GetVersionText(), u"12");
    EXPECT_EQ(manifest.GetEntryCount(), 3u);

    _dword size = 0;
    int offset = 0;
    MD5 md5;
    String group = u"x";
    ASSERT_TRUE(manifest.GetEntry(u"ui\\a.png", &size, &offset, &md5, &group));
    EXPECT_EQ(size, 12u);
    EXPECT_EQ(offset, -1);
    EXPECT_EQ(md5, Md5FromText(_MD5_TEXT));
    EXPECT_EQ(group, u"");
    ASSERT_TRUE(manifest.GetEntry(u"UI/B.PNG", &size, &offset, nullptr, &group));
    EXPECT_EQ(size, 20u);
    EXPECT_EQ(offset, 100);
    EXPECT_EQ(group, u"pack1");
    EXPECT_GE(manifest.GetPackageExtent(), 120u);
    EXPECT_TRUE(manifest.HasEntry(u"top.lua"));
    EXPECT_EQ(manifest.GetGroupCount(), 2u);
    EXPECT_EQ(manifest.GetGroup(1), u"pack2");
    EXPECT_EQ(manifest.GetGroup(2), u"");
    EXPECT_TRUE(manifest.HasGroup(u"pack1"));
    // Literal keys find the entry and its full name.
    const ResourceManifest::Entry* entry =
        manifest.FindEntry(NameKeyToText(MakeNameKey(String(), u"ui\\b.png")));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->name, u"ui\\b.png");
}

TEST(ResourceManifestTest, WrittenTextHasOneFolderLinePerChangeAndReadsBack)
{
    ResourceManifest manifest;
    manifest.SetBaseText(u"root");
    manifest.SetVersion(3);
    manifest.SetEntry(u"a/one.png", 1, -1, Md5FromText(_MD5_TEXT), String());
    manifest.SetEntry(u"a/two.png", 2, 40, MD5(), u"g");
    manifest.SetEntry(u"b/three.png", 3, -1, MD5(), String());
    manifest.SetEntry(u"four.png", 4, -1, MD5(), String());
    TempDir dir;
    ASSERT_TRUE(manifest.SaveText(dir.Wide("m.txt")));
    std::string bytes = ReadBytes(dir / "m.txt");
    String expected = String(u"root|$\r\nv3|#\r\na|[]\r\none.png|") + _MD5_TEXT +
                      u"|1\r\ntwo.png|00000000000000000000000000000000|#40|2|g\r\nb|[]\r\n"
                      u"three.png|00000000000000000000000000000000|3\r\n*|[]\r\n"
                      u"four.png|00000000000000000000000000000000|4\r\n";
    ByteBuffer want = Utf16(expected);
    EXPECT_EQ(bytes, std::string(want.begin(), want.end()));

    ResourceManifest back;
    ASSERT_TRUE(back.LoadText(bytes.data(), bytes.size()));
    EXPECT_EQ(back.SaveTextBytes(), want);
    EXPECT_EQ(back.GetEntryCount(), 4u);
    EXPECT_TRUE(back.HasEntry(u"four.png"));
}

#if !defined(_WIN32)
// A manifest written over an older one is replaced whole or not at all: when writing fails part-way (no
// file of the process may grow beyond a few bytes, as on a full disk), the older one stays and nothing is
// left beside it.
TEST(ResourceManifestTest, AWriteThatFailsPartWayKeepsTheOlderManifest)
{
    ResourceManifest older, newer;
    older.SetEntry(u"one.png", 1, -1, MD5(), String());
    newer.SetEntry(u"two.png", 2, -1, MD5(), String());
    TempDir dir;
    ASSERT_TRUE(older.SaveText(dir.Wide("m.txt")));
    const std::string before = ReadBytes(dir / "m.txt");
    bool written = true;
    {
        Vexel::Test::FileSizeLimit limit;
        ASSERT_TRUE(limit.On());
        written = newer.SaveText(dir.Wide("m.txt"));
    }
    EXPECT_FALSE(written);
    EXPECT_EQ(ReadBytes(dir / "m.txt"), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}
#endif

TEST(ResourceManifestTest, BinaryFormAndItsLimits)
{
    ByteBuffer bytes;
    Append32(bytes, _MANIFEST_BINARY_MAGIC);
    Append32(bytes, 3);
    Append32(bytes, 9);
    auto entry = [&](std::u16string_view name, _dword size, _dword offset, std::u16string_view group)
    {
        Append32(bytes, static_cast<_dword>(name.size()));
        AppendUnits(bytes, name);
        for (int i = 0; i < 4; ++i)
            Append32(bytes, 0x11111111u * (i + 1));
        Append32(bytes, size);
        Append32(bytes, offset);
        Append32(bytes, static_cast<_dword>(group.size()));
        AppendUnits(bytes, group);
    };
    entry(u"Data\\X.bin", 10, 0xFFFFFFFF, u"");
    entry(u"y.bin", 5, 30, u"grp");
    LogCapture log;
    ResourceManifest manifest;
    // Through LoadText too: the magic picks the binary reader.
    ASSERT_TRUE(manifest.LoadText(bytes.data(), bytes.size()));
    EXPECT_TRUE(log.Contains(u"[RM] Load manifest(bin) costs "));
    EXPECT_TRUE(log.Contains(u"ends after 2 of 3 entries"));
    EXPECT_EQ(manifest.GetVersion(), 9u);
    EXPECT_EQ(manifest.GetEntryCount(), 2u);
    int offset = 0;
    String group;
    ASSERT_TRUE(manifest.GetEntry(u"data/x.bin", nullptr, &offset, nullptr, &group));
    EXPECT_EQ(offset, -1);
    ASSERT_TRUE(manifest.GetEntry(u"y.bin", nullptr, &offset, nullptr, &group));
    EXPECT_EQ(offset, 30);
    EXPECT_EQ(group, u"grp");
    EXPECT_EQ(manifest.GetPackageExtent(), 35u);

    // A first name of length 0 ends the list; a missing magic changes nothing.
    ByteBuffer none;
    Append32(none, _MANIFEST_BINARY_MAGIC);
    Append32(none, 5);
    Append32(none, 1);
    Append32(none, 0);
    EXPECT_FALSE(manifest.LoadBinary(none.data(), none.size()));
    EXPECT_EQ(manifest.GetEntryCount(), 0u);
    manifest.SetEntry(u"kept", 1, -1, MD5(), String());
    EXPECT_FALSE(manifest.LoadBinary(bytes.data() + 4, bytes.size() - 4));
    EXPECT_TRUE(manifest.HasEntry(u"kept"));

    // Counts that run past the buffer stop the load.
    ByteBuffer hostile;
    Append32(hostile, _MANIFEST_BINARY_MAGIC);
    Append32(hostile, 0xFFFFFFFF);
    Append32(hostile, 0);
    Append32(hostile, 0x7FFFFFFF);
    AppendUnits(hostile, u"short");
    EXPECT_FALSE(manifest.LoadBinary(hostile.data(), hostile.size()));
    // Long names keep 1023 characters.
    bytes.resize(12);
    WriteLE32(bytes.data() + 4, 1);
    entry(String(1500, u'n'), 1, 0xFFFFFFFF, String(1100, u'g'));
    ASSERT_TRUE(manifest.LoadBinary(bytes.data(), bytes.size()));
    EXPECT_TRUE(manifest.HasEntry(String(1023, u'n')));
    EXPECT_EQ(manifest.GetGroup(0).size(), 1023u);
}

TEST(ResourceManifestTest, EntriesUpdateRemoveAndEnumerateInOrder)
{
    ResourceManifest manifest;
    EXPECT_FALSE(manifest.LoadText(nullptr, 0));
    manifest.SetEntry(u"b", 1, -1, MD5(), String());
    manifest.SetEntry(u"a", 2, -1, MD5(), String());
    manifest.SetEntry(u"B", 3, -1, MD5(), String());
    _dword size = 0;
    ASSERT_TRUE(manifest.GetEntrySize(u"b", size));
    EXPECT_EQ(size, 3u);
    std::u16string order;
    EXPECT_EQ(manifest.Enumerate([](const String& name, _dword, int, const MD5&, const String&, void* a,
                                    void*) { *static_cast<std::u16string*>(a) += name; },
                                 &order, nullptr),
              2u);
    EXPECT_EQ(order, u"ba");
    EXPECT_TRUE(manifest.RemoveEntry(u"B"));
    EXPECT_FALSE(manifest.RemoveEntry(u"b"));
    EXPECT_EQ(manifest.GetEntryCount(), 1u);
    manifest.SetVersionText(u"v77");
    EXPECT_EQ(manifest.GetVersion(), 77u);
    manifest.Clear();
    EXPECT_EQ(manifest.GetEntryCount(), 0u);
    EXPECT_EQ(manifest.GetVersion(), 0u);
}

} // namespace
