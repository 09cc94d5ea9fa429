// The resource manager: making archives, the resolution order, search folders, stream references and
// leak reports, the load-failure report, copy/move/compare, and the resource cache.
#include "Storage/ResourceManager.h"

#include "Platform/System.h"
#include "Storage/Archive/HashArchive.h"
#include "Storage/ResourceCache.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <thread>

using namespace Vexel;
using Vexel::Test::LogCapture;
using Vexel::Test::ReadBytes;
using Vexel::Test::TempDir;
using Vexel::Test::WriteBytes;

namespace
{

bool Put(IDataArchive* archive, const String& name, const std::string& bytes)
{
    return archive->WriteResource(name, bytes.data(), static_cast<_dword>(bytes.size()), MD5());
}

std::string Read(IResourceManager& manager, const String& name, bool decode = false)
{
    ByteBuffer bytes;
    if (!manager.ReadResource(name, bytes, decode))
        return "<missing>";
    return std::string(bytes.begin(), bytes.end());
}

class ResourceManagerTest : public ::testing::Test
{
protected:
    ResourceManager mManager;
    TempDir mDir;
};

TEST_F(ResourceManagerTest, ReportsStreamLeaksWhenDestroyed)
{
    DataStream* leaked = nullptr;
    {
        LogCapture log;
        auto other = std::make_unique<ResourceManager>();
        leaked = other->CreateMemStream(u"leak", ByteBuffer{1, 2, 3}, MD5());
        other.reset();
        EXPECT_TRUE(log.Contains(String(76, u'-')));
        EXPECT_TRUE(log.Contains(u"[RD] Caution! DataStream leaks : 1"));
    }
    delete leaked;
    LogCapture log;
    std::make_unique<ResourceManager>().reset();
    EXPECT_TRUE(log.Contains(u"[RD] Congratulations! No data stream leaks!"));
}

TEST_F(ResourceManagerTest, StreamsAreCountedAndReleasedAtZero)
{
    const int live = GetLiveStreamCount();
    DataStream* stream = mManager.CreateMemStream(u"s", 16, MD5());
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->GetSize(), 16u);
    EXPECT_EQ(GetLiveStreamCount(), live + 1);
    DataStream* second = mManager.AddRefStream(stream);
    EXPECT_FALSE(mManager.ReleaseStream(second));
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(GetLiveStreamCount(), live + 1);
    EXPECT_TRUE(mManager.ReleaseStream(stream));
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(GetLiveStreamCount(), live);
    EXPECT_FALSE(mManager.ReleaseStream(stream));
}

TEST_F(ResourceManagerTest, MakingSlotsLogAndKeepOnlyOpenedArchives)
{
    LogCapture log;
    IDataArchive* disk = mManager.CreateDiskArchive(u"disk", mDir.Wide("made/here"));
    ASSERT_NE(disk, nullptr);
    EXPECT_TRUE(std::filesystem::is_directory(mDir / "made" / "here"));
    EXPECT_TRUE(log.Contains(u"[RM] Create disk archive successful : disk => "));
    EXPECT_EQ(mManager.OpenHashArchive(u"h", mDir.Wide("missing.fod"), true), nullptr);
    EXPECT_TRUE(log.Contains(u"[RM] Open hash archive failed : h => "));
    EXPECT_EQ(mManager.OpenDiskArchive(u"d2", mDir.Wide("no such folder"), String()), nullptr);
    EXPECT_TRUE(log.Contains(u"[RM] Open disk archive failed : d2, "));
    IDataArchive* hash = mManager.CreateHashArchive(u"h", mDir.Wide("w.fod"), String(), 8);
    ASSERT_NE(hash, nullptr);
    EXPECT_TRUE(log.Contains(u"[RM] Create hash archive successful : h, "));
    EXPECT_EQ(mManager.CreateReserved(), nullptr);
    IDataArchive* memory = mManager.CreateMemoryArchive(u"m", u"png");
    EXPECT_TRUE(log.Contains(u"[RM] Create memory archive successful : m"));
    EXPECT_EQ(mManager.GetArchiveCount(), 3u);
    EXPECT_EQ(mManager.GetArchive(2), memory);
    EXPECT_EQ(mManager.GetArchive(3), nullptr);
    EXPECT_EQ(mManager.FindArchiveByExtension(u"PNG"), memory);
    EXPECT_EQ(mManager.FindArchiveByExtension(u""), nullptr);
    EXPECT_TRUE(mManager.RemoveArchive(hash));
    EXPECT_EQ(hash, nullptr);
    EXPECT_EQ(mManager.GetArchiveCount(), 2u);
    EXPECT_EQ(mManager.OpenMemoryArchive(u"bad", u"", "\5\0\0\0", 4), nullptr);
    EXPECT_TRUE(log.Contains(u"[RM] Open memory archive failed : bad, "));
}

TEST_F(ResourceManagerTest, LaterArchivesWinAndExtensionsGoFirst)
{
    IDataArchive* a = mManager.CreateMemoryArchive(u"a", String());
    IDataArchive* b = mManager.CreateMemoryArchive(u"b", String());
    IDataArchive* unnamed = mManager.CreateMemoryArchive(String(), String());
    IDataArchive* png = mManager.CreateMemoryArchive(u"pictures", u"png");
    ASSERT_TRUE(Put(a, u"x", "from a"));
    ASSERT_TRUE(Put(b, u"x", "from b"));
    ASSERT_TRUE(Put(unnamed, u"x", "from unnamed"));
    ASSERT_TRUE(Put(unnamed, u"only.txt", "unnamed only"));
    ASSERT_TRUE(Put(png, u"x.png", "from png"));
    ASSERT_TRUE(Put(b, u"x.png", "b png"));
    ASSERT_TRUE(Put(b, u"x.lua", "b lua"));
    ASSERT_TRUE(Put(png, u"x.lua", "png lua"));

    EXPECT_EQ(Read(mManager, u"X"), "from b");
    EXPECT_EQ(Read(mManager, u"only.txt"), "unnamed only");
    EXPECT_EQ(Read(mManager, u"x.png"), "from png");
    EXPECT_EQ(Read(mManager, u"x.lua"), "b lua");
    // Writes go to the first archive asked; a name with the extension goes to its archive.
    ByteBuffer text{'n', 'e', 'w'};
    ASSERT_TRUE(mManager.WriteText(u"fresh", text));
    EXPECT_TRUE(b->HasResource(u"fresh"));
    ASSERT_TRUE(mManager.WriteText(u"fresh.png", text));
    EXPECT_TRUE(png->HasResource(u"fresh.png"));
    ASSERT_TRUE(mManager.DeleteResource(u"x"));
    EXPECT_EQ(Read(mManager, u"x"), "from a");
    _dword size = 0;
    MD5 md5;
    ASSERT_TRUE(mManager.GetResourceInfo(u"fresh", size, md5));
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(md5, Md5Of("new", 3));
    EXPECT_EQ(mManager.EnumerateAll(nullptr, nullptr, nullptr), 9);
}

TEST_F(ResourceManagerTest, LocalWritesSkipHashArchives)
{
    IDataArchive* memory = mManager.CreateMemoryArchive(u"mem", String());
    IDataArchive* hash = mManager.CreateHashArchive(u"fod", mDir.Wide("w.fod"), 8);
    ASSERT_NE(hash, nullptr);
    ByteBuffer text{'l'};
    ASSERT_TRUE(mManager.WriteTextLocal(u"local", text));
    EXPECT_TRUE(memory->HasResource(u"local"));
    EXPECT_FALSE(hash->HasResource(u"local"));
    ASSERT_TRUE(mManager.WriteText(u"remote", text));
    EXPECT_TRUE(hash->HasResource(u"remote"));
    EXPECT_EQ(Read(mManager, u"remote"), "l");
}

TEST_F(ResourceManagerTest, WithoutDiskArchivesNamesArePlainFiles)
{
    WriteBytes(mDir / "plain.txt", "plain file");
    EXPECT_EQ(Read(mManager, mDir.Wide("plain.txt")), "plain file");
    mManager.CreateMemoryArchive(u"mem", String());
    EXPECT_EQ(Read(mManager, mDir.Wide("plain.txt")), "plain file");
    EXPECT_TRUE(mManager.HasResource(mDir.Wide("plain.txt")));
    // With no archives at all, copy, move and compare work on files.
    mManager.RemoveAllArchives();
    ASSERT_TRUE(mManager.CopyResource(mDir.Wide("plain.txt"), mDir.Wide("copy.txt")));
    EXPECT_TRUE(mManager.CompareResources(mDir.Wide("plain.txt"), mDir.Wide("copy.txt")));
    ASSERT_TRUE(mManager.MoveResource(mDir.Wide("copy.txt"), mDir.Wide("moved.txt")));
    EXPECT_FALSE(std::filesystem::exists(mDir / "copy.txt"));
    EXPECT_EQ(ReadBytes(mDir / "moved.txt"), "plain file");
}

TEST_F(ResourceManagerTest, SearchFoldersCountAndResolveShortNames)
{
    mManager.AddSearchFolder(u"data");
    mManager.AddSearchFolder(u"DATA");
    mManager.AddSearchFolder(u"game\\sub");
    mManager.RemoveSearchFolder(u"data");
    EXPECT_EQ(mManager.GetSearchFolderCount(), 2u);
    EXPECT_EQ(mManager.GetSearchFolder(0), u"data");
    EXPECT_EQ(mManager.GetSearchFolder(5), u"");
    IDataArchive* unnamed = mManager.CreateMemoryArchive(String(), String());
    IDataArchive* game = mManager.CreateMemoryArchive(u"Game", String());
    ASSERT_TRUE(Put(unnamed, u"data\\x.txt", "in data"));
    ASSERT_TRUE(Put(game, u"sub\\y.txt", "in game"));
    EXPECT_EQ(Read(mManager, u"x.txt"), "in data");
    EXPECT_EQ(Read(mManager, u"y.txt"), "in game");
    EXPECT_FALSE(mManager.HasResource(u"other\\x.txt"));
    mManager.RemoveSearchFolder(u"data");
    EXPECT_EQ(mManager.GetSearchFolderCount(), 1u);
    mManager.ClearSearchFolders();
    EXPECT_FALSE(mManager.HasResource(u"y.txt"));
}

TEST_F(ResourceManagerTest, MissingLoadsReportTheLoadStack)
{
    mManager.CreateMemoryArchive(u"mem", String());
    mManager.PushLoad(u"world.map");
    mManager.PushLoad(u"house.mdl");
    mManager.PushLoad(u"roof.tex");
    LogCapture log;
    EXPECT_EQ(Read(mManager, u"missing.dds"), "<missing>");
    EXPECT_TRUE(log.Contains(u"[RM] Load resource failed : missing.dds"));
    EXPECT_TRUE(log.Contains(u"[RM] Load Stack : [0] world.map"));
    EXPECT_TRUE(log.Contains(u"[RM] +----------- [1] house.mdl"));
    EXPECT_TRUE(log.Contains(u"[RM] +----------- [2] roof.tex"));
    EXPECT_EQ(mManager.GetFailedLoads(), 3u);
    mManager.ResetFailedLoads();
    EXPECT_EQ(mManager.GetFailedLoads(), 3u); // not while loads are in progress

    // The ".info" fallback is not counted.
    IDataArchive* memory = mManager.GetArchive(0);
    ASSERT_TRUE(Put(memory, u"pack.info", "info text"));
    ByteBuffer bytes;
    bool readInfo = false;
    ASSERT_TRUE(mManager.ReadResourceOrInfo(u"pack", &readInfo, bytes, false));
    EXPECT_TRUE(readInfo);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "info text");
    EXPECT_FALSE(mManager.ReadResourceOrInfo(u"nothing", &readInfo, bytes, false));
    EXPECT_EQ(mManager.GetFailedLoads(), 3u);
    mManager.PopLoad();
    mManager.PopLoad();
    mManager.PopLoad();
    mManager.ResetFailedLoads();
    EXPECT_EQ(mManager.GetFailedLoads(), 0u);
}

TEST_F(ResourceManagerTest, CopyMoveAndCompareThroughArchives)
{
    IDataArchive* memory = mManager.CreateMemoryArchive(u"mem", String());
    std::string body(500, 'p');
    ByteBuffer packed(body.begin(), body.end());
    bool changed = false;
    ASSERT_TRUE(CompressBuffer(packed, changed, false));
    ASSERT_TRUE(mManager.WriteText(u"packed", packed));
    ASSERT_TRUE(mManager.WriteText(u"plain", ByteBuffer(body.begin(), body.end())));
    EXPECT_TRUE(mManager.CompareResources(u"packed", u"plain"));
    EXPECT_FALSE(mManager.CompareResources(u"packed", u"absent"));

    ASSERT_TRUE(mManager.CopyResource(u"packed", u"copy"));
    EXPECT_EQ(Read(mManager, u"copy"), std::string(packed.begin(), packed.end())); // copied as stored
    ASSERT_TRUE(mManager.MoveResource(u"copy", u"moved"));
    EXPECT_FALSE(memory->HasResource(u"copy"));
    EXPECT_TRUE(mManager.MoveResource(u"moved", u"MOVED"));
    EXPECT_TRUE(memory->HasResource(u"moved"));
    // A move whose write fails keeps its source: writes now go to a read-only archive.
    {
        HashArchive file(mManager.GetLock(), u"ro");
        ASSERT_TRUE(file.Create(mDir.Wide("ro.fod"), 4));
    }
    ASSERT_NE(mManager.OpenHashArchive(u"ro", mDir.Wide("ro.fod"), false), nullptr);
    EXPECT_FALSE(mManager.MoveResource(u"moved", u"target"));
    EXPECT_TRUE(memory->HasResource(u"moved"));
}

TEST_F(ResourceManagerTest, ArchivesCopyIntoEachOtherAndOpenHooksSeeStreams)
{
    IDataArchive* from = mManager.CreateMemoryArchive(u"from", String());
    IDataArchive* to = mManager.CreateHashArchive(u"to", mDir.Wide("to.fod"), 16);
    ASSERT_TRUE(from->WriteResource(u"a", "aa", 2, Md5Of("aa", 2)));
    ASSERT_TRUE(from->WriteResource(u"b", "bb", 2, Md5Of("bb", 2)));
    EXPECT_EQ(mManager.CopyArchiveResources(from, to), 2u);
    EXPECT_EQ(mManager.CopyArchiveResources(from, to, true), 0u);
    ASSERT_TRUE(from->WriteResource(u"b", "BB", 2, Md5Of("BB", 2)));
    EXPECT_EQ(mManager.CopyArchiveResources(from, to, true), 1u);

    static int sHooked = 0;
    sHooked = 0;
    mManager.SetOpenHook([](const String&, DataStream* stream) { sHooked += stream != nullptr; });
    DataStream* stream = mManager.OpenStream(u"a");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(sHooked, 1);
    mManager.ReleaseStream(stream);
    EXPECT_EQ(mManager.OpenStream(u"none"), nullptr);
    EXPECT_EQ(sHooked, 1);
}

TEST_F(ResourceManagerTest, MainThreadLoadsAreMarkedWhenAsked)
{
    InitializePlatform(); // this thread is the main thread
    IDataArchive* memory = mManager.CreateMemoryArchive(u"mem", String());
    ASSERT_TRUE(Put(memory, u"ui/a.png", "a"));
    LogCapture log;
    EXPECT_EQ(Read(mManager, u"ui/a.png"), "a");
    EXPECT_FALSE(log.Contains(u"in main thread"));
    mManager.SetMainThreadWarning(true);
    EXPECT_EQ(Read(mManager, u"UI/A.PNG"), "a");
    EXPECT_TRUE(log.Contains(u"[RM] Load resource in main thread : ui\\a.png"));
    log.Clear();
    std::thread worker([&] { EXPECT_EQ(Read(mManager, u"ui/a.png"), "a"); });
    worker.join();
    EXPECT_FALSE(log.Contains(u"in main thread"));
    mManager.SetMainThreadWarning(false);
}

TEST(ResourceCacheTest, FindsObjectsByTypeAndNameAndCountsHits)
{
    ResourceManager manager;
    ResourceCache cache(&manager);
    int first = 1, second = 2;
    cache.Add(3, u"UI/Button.png", &first);
    cache.Add(4, u"ui/button.png", &second);
    EXPECT_EQ(cache.Find(3, u"ui\\button.png"), &first);
    EXPECT_EQ(cache.Find(4, u"ui/button.png"), &second);
    EXPECT_EQ(cache.Find(5, u"ui/button.png"), nullptr);
    EXPECT_EQ(cache.GetCount(), 2u);
    EXPECT_FLOAT_EQ(cache.GetHitRate(), 2.0f / 3.0f);
    manager.AddSearchFolder(u"ui");
    EXPECT_EQ(cache.Find(3, u"button.png"), &first);
    cache.Remove(3, u"ui/button.png");
    EXPECT_EQ(cache.Find(3, u"ui/button.png"), nullptr);
    cache.SetEnabled(false);
    EXPECT_EQ(cache.Find(4, u"ui/button.png"), nullptr);
    cache.Add(4, u"other", &first);
    cache.SetEnabled(true);
    EXPECT_EQ(cache.Find(4, u"other"), nullptr);
    LogCapture log;
    EXPECT_EQ(cache.Find(16, u"x"), nullptr);
    EXPECT_TRUE(log.Contains(u"restype < _MAX_RESCACHE"));
}

} // namespace
