// The archive kinds besides the hash archive: disk folders with a read-only layer and the deleted list,
// names that try to leave a folder, memory archives and bundles, zip files and chunk packages.
#include "Storage/Archive/ChunkArchive.h"
#include "Storage/Archive/DiskArchive.h"
#include "Storage/Archive/MemArchive.h"
#include "Storage/Archive/ZipArchive.h"

#include "Platform/Folders.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <minizip/zip.h>

using namespace Vexel;
using Vexel::Test::LogCapture;
using Vexel::Test::ReadBytes;
using Vexel::Test::TempDir;
using Vexel::Test::WriteBytes;

namespace
{

std::string Get(IDataArchive& archive, const String& name)
{
    DataStream* stream = archive.OpenStream(name);
    if (!stream)
        return "<missing>";
    ByteBuffer bytes;
    bool ok = stream->ReadText(bytes, false);
    delete stream;
    return ok ? std::string(bytes.begin(), bytes.end()) : "<unreadable>";
}

bool Put(IDataArchive& archive, const String& name, const std::string& bytes)
{
    return archive.WriteResource(name, bytes.data(), static_cast<_dword>(bytes.size()),
                                 Md5Of(bytes.data(), bytes.size()));
}

std::vector<String> Names(IDataArchive& archive)
{
    std::vector<String> names;
    archive.Enumerate(
        [](const String& name, void* a, void*)
        {
            static_cast<std::vector<String>*>(a)->push_back(name);
            return true;
        },
        &names, nullptr);
    std::sort(names.begin(), names.end());
    return names;
}

class ArchiveTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(mDir / "rw");
        std::filesystem::create_directories(mDir / "ro" / "ui");
        WriteBytes(mDir / "ro" / "ui" / "base.png", "base png");
        WriteBytes(mDir / "ro" / "shared.txt", "old shared");
    }

    StorageLock mLock;
    TempDir mDir;
};

TEST_F(ArchiveTest, DiskWritesGoToTheWritableFolderOverTheReadOnlyOne)
{
    DiskArchive archive(&mLock, u"disk");
    ASSERT_TRUE(archive.Open(mDir.Wide("rw"), mDir.Wide("ro")));
    EXPECT_EQ(Get(archive, u"UI/Base.PNG"), "base png");
    ASSERT_TRUE(Put(archive, u"shared.txt", "new shared"));
    ASSERT_TRUE(Put(archive, u"deep/er/file.bin", "deep"));
    EXPECT_EQ(Get(archive, u"shared.txt"), "new shared");
    EXPECT_EQ(ReadBytes(mDir / "ro" / "shared.txt"), "old shared");
    EXPECT_EQ(ReadBytes(mDir / "rw" / "deep" / "er" / "file.bin"), "deep");
    _dword size = 0;
    MD5 md5;
    ASSERT_TRUE(archive.GetResourceInfo(u"ui\\base.png", size, md5));
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(Names(archive), (std::vector<String>{u"deep\\er\\file.bin", u"shared.txt", u"ui\\base.png"}));
}

TEST_F(ArchiveTest, DiskDeletionsHideReadOnlyFilesAcrossReopening)
{
    {
        DiskArchive archive(&mLock, u"disk");
        ASSERT_TRUE(archive.Open(mDir.Wide("rw"), mDir.Wide("ro")));
        ASSERT_TRUE(archive.DeleteResource(u"ui/base.png"));
        EXPECT_FALSE(archive.HasResource(u"ui/base.png"));
        EXPECT_EQ(archive.OpenStream(u"ui/base.png"), nullptr);
        // A writable copy over a read-only one: deleting it must not bring the old one back.
        ASSERT_TRUE(Put(archive, u"shared.txt", "new"));
        ASSERT_TRUE(archive.DeleteResource(u"shared.txt"));
        EXPECT_FALSE(archive.HasResource(u"shared.txt"));
        EXPECT_FALSE(archive.DeleteResource(u"shared.txt"));
    }
    EXPECT_EQ(ReadBytes(mDir / "ro" / "ui" / "base.png"), "base png");
    std::string list = ReadBytes(mDir / "rw" / "vexel3d.deleted");
    EXPECT_NE(list.find(std::string("u\0i\0\\\0b\0", 8)), std::string::npos);
    EXPECT_EQ(list.substr(list.size() - 2), std::string("\n\0", 2));

    DiskArchive archive(&mLock, u"disk");
    ASSERT_TRUE(archive.Open(mDir.Wide("rw"), mDir.Wide("ro")));
    EXPECT_FALSE(archive.HasResource(u"ui/base.png"));
    EXPECT_FALSE(archive.HasResource(u"shared.txt"));
    EXPECT_TRUE(Names(archive).empty());
    ASSERT_TRUE(Put(archive, u"ui/base.png", "back"));
    EXPECT_EQ(Get(archive, u"ui/base.png"), "back");
}

TEST_F(ArchiveTest, DiskNamesCannotLeaveTheFolders)
{
    WriteBytes(mDir / "secret.txt", "secret");
    LogCapture log;
    DiskArchive archive(&mLock, u"disk");
    ASSERT_TRUE(archive.Open(mDir.Wide("rw"), mDir.Wide("ro")));
    for (const char16_t* name : {u"../secret.txt", u"..\\secret.txt", u"..", u"x/..", u"/etc/passwd",
                                 u"\\tmp\\x", u"c:\\secret.txt"})
    {
        EXPECT_FALSE(archive.HasResource(name)) << Vexel::Test::Narrow(name);
        EXPECT_EQ(archive.OpenStream(name), nullptr) << Vexel::Test::Narrow(name);
        EXPECT_FALSE(Put(archive, name, "overwrite")) << Vexel::Test::Narrow(name);
        EXPECT_FALSE(archive.DeleteResource(name)) << Vexel::Test::Narrow(name);
    }
    EXPECT_TRUE(log.Contains(u"[RM] Resource name leaves the archive folder"));
    // Climbing above the top folds away: these stay inside the writable folder.
    for (const char16_t* name : {u"ui/../../secret.txt", u"a\\..\\..\\..\\secret.txt"})
    {
        ASSERT_TRUE(Put(archive, name, "inside")) << Vexel::Test::Narrow(name);
        EXPECT_EQ(ReadBytes(mDir / "rw" / "secret.txt"), "inside");
        ASSERT_TRUE(archive.DeleteResource(name));
    }
    EXPECT_EQ(ReadBytes(mDir / "secret.txt"), "secret");
    // Inner ".." that stays inside is fine.
    EXPECT_EQ(Get(archive, u"ui/x/../base.png"), "base png");
}

TEST_F(ArchiveTest, DiskReadOnlyListsAndManifests)
{
    ResourceManifest list;
    list.SetEntry(u"ui/base.png", 8, -1, Md5Of("base png", 8), String());
    ASSERT_TRUE(list.SaveText(mDir.Wide("ro/game.asset")));
    LogCapture log;
    DiskArchive archive(&mLock, u"disk");
    ResourceManifest manifest;
    manifest.SetEntry(u"shared.txt", 10, -1, Md5Of("old shared", 10), String());
    manifest.SetVersion(12);
    ByteBuffer manifestBytes = manifest.SaveTextBytes();
    ASSERT_TRUE(archive.Open(mDir.Wide("rw"), u">" + mDir.Wide("ro/game.asset"), manifestBytes.data(),
                             manifestBytes.size()));
    EXPECT_TRUE(log.Contains(u"[RM] Load R/O resource list : "));
    EXPECT_TRUE(log.Contains(u"game.asset, 1"));
    EXPECT_EQ(archive.GetVersion(), 12u);
    EXPECT_TRUE(archive.HasResource(u"ui/base.png"));
    EXPECT_FALSE(archive.HasResource(u"shared.txt")); // not in the list
    EXPECT_EQ(Get(archive, u"ui/base.png"), "base png");
    // Literal keys resolve through the manifest.
    ASSERT_TRUE(Put(archive, u"shared.txt", "old shared"));
    String key = NameKeyToText(MakeNameKey(String(), u"shared.txt"));
    EXPECT_EQ(Get(archive, key), "old shared");
    DataStream* stream = archive.OpenStream(u"shared.txt");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->GetMD5(), Md5Of("old shared", 10));
    delete stream;
}

TEST_F(ArchiveTest, MemoryArchivesAddTheirExtensionAndEnumerate)
{
    MemArchive archive(&mLock, u"mem", u"png");
    ASSERT_TRUE(Put(archive, u"a", "picture"));
    EXPECT_TRUE(archive.HasResource(u"a"));
    EXPECT_TRUE(archive.HasResource(u"A.PNG"));
    EXPECT_FALSE(archive.HasResource(u"a.lua"));
    ASSERT_TRUE(Put(archive, u"b.png", "two"));
    ASSERT_TRUE(Put(archive, u"c.png", "three"));
    ASSERT_TRUE(Put(archive, u"b", "TWO"));
    EXPECT_EQ(Get(archive, u"b"), "TWO");
    int calls = 0;
    EXPECT_EQ(archive.Enumerate([](const String&, void* a, void*) { return ++*static_cast<int*>(a) != 2; },
                                &calls, nullptr),
              -1);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(archive.Enumerate(nullptr, nullptr, nullptr), 3);
    ASSERT_TRUE(archive.DeleteResource(u"a"));
    EXPECT_EQ(archive.Enumerate(nullptr, nullptr, nullptr), 2);
}

TEST_F(ArchiveTest, BundlesCarryNamesAndBytesFromAnyArchive)
{
    DiskArchive disk(&mLock, u"disk");
    ASSERT_TRUE(disk.Open(mDir.Wide("rw"), mDir.Wide("ro")));
    ASSERT_TRUE(Put(disk, u"empty.dat", ""));
    ByteBuffer bundle;
    ASSERT_TRUE(disk.ExportBundle(bundle));
    EXPECT_TRUE(IsCompressed(bundle.data(), bundle.size()));
    EXPECT_EQ(bundle[15], 0); // the LZMA kind

    MemArchive copy(&mLock, u"copy");
    ASSERT_TRUE(copy.Open(bundle.data(), bundle.size()));
    EXPECT_EQ(Names(copy), Names(disk));
    for (const String& name : Names(disk))
        EXPECT_EQ(Get(copy, name), Get(disk, name)) << Vexel::Test::Narrow(name);

    // The plain record layout.
    ByteBuffer plain;
    AppendBundleRecord(plain, u"ab", "xyz", 3);
    EXPECT_EQ(std::string(plain.begin(), plain.end()), std::string("\2\0\0\0a\0b\0\0\0\3\0\0\0xyz", 17));
}

TEST_F(ArchiveTest, DamagedBundlesFail)
{
    ByteBuffer plain;
    AppendBundleRecord(plain, u"one", "1111", 4);
    AppendBundleRecord(plain, u"two", "22", 2);
    LogCapture log;
    for (std::size_t cut = 1; cut < plain.size(); ++cut)
    {
        MemArchive archive(&mLock, u"m");
        bool ok = archive.Open(plain.data(), cut);
        EXPECT_EQ(ok, cut == 20) << cut; // only a cut right after the first record is whole
    }
    EXPECT_TRUE(log.Contains(u"[RM] Bundle record runs past the end"));
    ByteBuffer huge = plain;
    WriteLE32(huge.data(), 0xFFFFFFFF);
    MemArchive archive(&mLock, u"m");
    EXPECT_FALSE(archive.Open(huge.data(), huge.size()));
    ByteBuffer sized = plain;
    WriteLE32(sized.data() + 12, 0x7FFFFFFF);
    EXPECT_FALSE(archive.Open(sized.data(), sized.size()));
    MemArchive empty(&mLock, u"m");
    EXPECT_TRUE(empty.Open(nullptr, 0));
    EXPECT_EQ(empty.Enumerate(nullptr, nullptr, nullptr), 0);
}

TEST_F(ArchiveTest, ZipEntriesInflateIntoMemory)
{
    std::string path = (mDir / "pack.zip").string();
    zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    ASSERT_NE(zip, nullptr);
    std::string big(20000, 'w');
    const std::pair<const char*, std::string> entries[] = {
        {"Scripts/Main.lua", "print(1)"}, {"big.txt", big}, {"folder/", ""}};
    for (const auto& [name, bytes] : entries)
    {
        zip_fileinfo info{};
        ASSERT_EQ(zipOpenNewFileInZip64(zip, name, &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                        Z_DEFAULT_COMPRESSION, 0),
                  ZIP_OK);
        ASSERT_EQ(zipWriteInFileInZip(zip, bytes.data(), static_cast<unsigned>(bytes.size())), ZIP_OK);
        ASSERT_EQ(zipCloseFileInZip(zip), ZIP_OK);
    }
    ASSERT_EQ(zipClose(zip, nullptr), ZIP_OK);

    ZipArchive archive(&mLock, u"zip");
    ASSERT_TRUE(archive.Open(mDir.Wide("pack.zip")));
    EXPECT_TRUE(archive.IsReadOnly());
    EXPECT_EQ(Get(archive, u"scripts\\main.lua"), "print(1)");
    EXPECT_EQ(Get(archive, u"BIG.TXT"), big);
    EXPECT_EQ(archive.Enumerate(nullptr, nullptr, nullptr), 2);
    EXPECT_FALSE(Put(archive, u"new.txt", "x"));

    std::string image = ReadBytes(mDir / "pack.zip");
    ZipArchive memory(&mLock, u"zip", u"lua");
    ASSERT_TRUE(memory.Open(image.data(), image.size()));
    EXPECT_EQ(Get(memory, u"scripts/main"), "print(1)");

    // Damaged packed bytes (after the 30-byte local header and the 16-character name) fail the open of
    // the entry instead of giving wrong bytes.
    std::string damaged = image;
    for (std::size_t i = 46; i < 50; ++i)
        damaged[i] = static_cast<char>(damaged[i] ^ 0x5A);
    ZipArchive broken(&mLock, u"zip");
    ASSERT_TRUE(broken.Open(damaged.data(), damaged.size()));
    EXPECT_EQ(Get(broken, u"scripts/main.lua"), "<missing>");
    EXPECT_EQ(Get(broken, u"big.txt"), big);
    ZipArchive garbage(&mLock, u"zip");
    EXPECT_FALSE(garbage.Open("not a zip file at all", 21));
}

TEST_F(ArchiveTest, ChunkPackagesServeIndexedRegions)
{
    WriteBytes(mDir / "package.bin", "aaaaBBBBBBcc");
    ResourceManifest index;
    index.SetEntry(u"first", 4, 0, MD5(), u"g");
    index.SetEntry(u"second", 6, 4, MD5(), u"g");
    index.SetEntry(u"loose", 6, -1, MD5(), u"g");
    ByteBuffer bytes = index.SaveTextBytes();
    ChunkArchive archive(&mLock, u"chunks");
    ASSERT_TRUE(archive.Open(mDir.Wide("package.bin"), true, bytes.data(), bytes.size()));
    EXPECT_EQ(archive.GetEntryCount(), 2u);
    EXPECT_EQ(Get(archive, u"second"), "BBBBBB");
    ASSERT_TRUE(Put(archive, u"first", "AAAA"));
    EXPECT_FALSE(Put(archive, u"first", "too long"));
    EXPECT_FALSE(Put(archive, u"unknown", "x"));
    EXPECT_EQ(ReadBytes(mDir / "package.bin"), "AAAABBBBBBcc");
    archive.SetEntry(u"beyond", 10, 8, MD5());
    EXPECT_EQ(Get(archive, u"beyond"), "<unreadable>");
}

} // namespace
