#include "DownloadFixture.h"

#include "Storage/Download/CopyDownloader.h"

#include <gtest/gtest.h>

using namespace Vexel;
using Vexel::Test::LogCapture;
using Vexel::Test::TestServer;
using Vexel::Test::WaitUntil;
using Frags = std::vector<ResourceDownloader::Fragment>;

namespace
{

class ResourceDownloaderTest : public Vexel::Test::DownloadFixture
{
protected:
    std::vector<std::pair<_dword, _dword>> Queued(IDownloader* downloader)
    {
        std::vector<std::pair<_dword, _dword>> ranges;
        for (const DownloadItem& item : static_cast<Downloader*>(downloader)->GetQueue())
            ranges.emplace_back(item.begin, item.end);
        return ranges;
    }

    Frags FragsOf(ResourceDownloader& rd, _dword chunk, int* flag = nullptr)
    {
        int f = 0;
        Frags frags;
        EXPECT_TRUE(rd.GetChunk(chunk, f, frags)) << "chunk " << chunk;
        if (flag != nullptr)
            *flag = f;
        return frags;
    }

    void Feed(ResourceDownloader& rd, _dword begin, _dword end, const std::string* source = nullptr)
    {
        const std::string& bytes = source ? *source : mPackage;
        rd.OnData(*rd.GetDownloader(0), nullptr, reinterpret_cast<const _byte*>(bytes.data()) + begin,
                  end - begin, begin);
    }
};

} // namespace

TEST_F(ResourceDownloaderTest, ChunkTableCoversTheResourceSpace)
{
    // 131072 bytes: three slots, the last never used.
    MakePackage({{u"a.bin", 65530}, {u"b.bin", 10}, {u"c.bin", 65532}});
    ResourceDownloader rd(&mManager, &mManifest);
    rd.StartBackground();
    EXPECT_EQ(rd.GetResourceSpaceSize(), 131072u);
    EXPECT_EQ(rd.GetChunkCount(), 3u);
    int flag = 1;
    Frags frags;
    std::size_t reses = 0;
    ASSERT_TRUE(rd.GetChunk(0, flag, frags, &reses));
    EXPECT_EQ(flag, 0);
    EXPECT_TRUE(frags.empty());
    EXPECT_EQ(reses, 2u); // a.bin and b.bin
    ASSERT_TRUE(rd.GetChunk(1, flag, frags, &reses));
    EXPECT_EQ(reses, 2u); // b.bin and c.bin
    EXPECT_FALSE(rd.GetChunk(2, flag, frags));
    // The background task is internal: no leak once it is stopped with the downloader.
}

TEST_F(ResourceDownloaderTest, FragmentsFollowArrivalsAndDropWhatAlreadyCame)
{
    MakePackage({{u"whole.bin", 65536}, {u"next.bin", 1000}});
    ResourceDownloader rd(&mManager, &mManifest);
    rd.StartBackground();
    IDownloader* downloader = AddIdleDownloader(rd);
    rd.RequestChunks(0, 0, *downloader);
    int flag = 0;
    EXPECT_EQ(FragsOf(rd, 0, &flag), (Frags{{0, 0}, {65536, -1}}));
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(Queued(downloader), (std::vector<std::pair<_dword, _dword>>{{0, 65536}}));

    Feed(rd, 100, 200);
    EXPECT_EQ(FragsOf(rd, 0), (Frags{{0, 0}, {100, -1}, {200, 0}, {65536, -1}}));
    // The whole chunk arriving next is cut at 100; the rest of that block is dropped.
    Feed(rd, 0, 65536);
    EXPECT_EQ(FragsOf(rd, 0), (Frags{{200, 0}, {65536, -1}}));
    // Overlapping an arrived span at its front: trimmed to the missing part; wholly arrived: dropped.
    Feed(rd, 150, 300);
    EXPECT_EQ(FragsOf(rd, 0), (Frags{{300, 0}, {65536, -1}}));
    Feed(rd, 120, 180);
    EXPECT_EQ(FragsOf(rd, 0), (Frags{{300, 0}, {65536, -1}}));
    DownloadRes* whole = rd.FindRecord(u"whole.bin");
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(whole->mFinished, 300u); // no byte counted twice

    Feed(rd, 300, 65536);
    // Complete: the resource is stored and the chunk, with nobody left wanting it, goes.
    EXPECT_EQ(Stored(u"whole.bin"), mEntries[0].bytes);
    Frags gone;
    EXPECT_FALSE(rd.GetChunk(0, flag, gone));
    rd.StopBackground();
}

TEST_F(ResourceDownloaderTest, AResourceSpanningTwoChunksFinishesWhenBothArrive)
{
    MakePackage({{u"a.bin", 65530}, {u"b.bin", 10}, {u"c.bin", 5000}});
    ResourceDownloader rd(&mManager, &mManifest);
    rd.StartBackground();
    IDownloader* downloader = AddIdleDownloader(rd);
    rd.RequestChunks(0, 0, *downloader);
    rd.RequestChunks(1, 1, *downloader);
    Feed(rd, 0, 65536);
    DownloadRes* b = rd.FindRecord(u"b.bin");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->mFinished, 6u);
    EXPECT_EQ(Stored(u"b.bin"), "<missing>");
    EXPECT_EQ(Stored(u"a.bin"), mEntries[0].bytes);
    Feed(rd, 65536, 70540);
    EXPECT_EQ(Stored(u"b.bin"), mEntries[1].bytes);
    EXPECT_EQ(Stored(u"c.bin"), mEntries[2].bytes);
    rd.StopBackground();
}

TEST_F(ResourceDownloaderTest, ADigestFailureResetsEveryChunkTheResourceSpans)
{
    MakePackage({{u"a.bin", 65530}, {u"b.bin", 10}, {u"c.bin", 5000}});
    ResourceDownloader rd(&mManager, &mManifest);
    rd.StartBackground();
    IDownloader* downloader = AddIdleDownloader(rd);
    rd.RequestChunks(0, 0, *downloader);
    rd.RequestChunks(1, 1, *downloader);

    std::string bad = mPackage;
    bad[65533] ^= 0x55; // inside b.bin, in chunk 0
    LogCapture log;
    Feed(rd, 0, 65536, &bad);
    DownloadRes* c = rd.FindRecord(u"c.bin");
    ASSERT_NE(c, nullptr);
    Feed(rd, 66000, 70000);
    EXPECT_EQ(c->mFinished, 4000u);
    Feed(rd, 65536, 65540);
    // b.bin failed: both its chunks start over, and c.bin gives back what chunk 1 had given it.
    EXPECT_TRUE(log.Contains(u"[DL] Bad checksum : b.bin - "));
    int flag = 5;
    EXPECT_TRUE(FragsOf(rd, 0, &flag).empty());
    EXPECT_EQ(flag, 0);
    EXPECT_TRUE(FragsOf(rd, 1, &flag).empty());
    EXPECT_EQ(flag, 0);
    DownloadRes* b = rd.FindRecord(u"b.bin");
    EXPECT_EQ(b->mFinished, 0u);
    EXPECT_EQ(c->mFinished, 0u);
    EXPECT_EQ(Stored(u"a.bin"), bad.substr(0, 65530)); // a.bin's digest matched what it got

    // Asked again, the good bytes complete both.
    rd.RequestChunks(0, 0, *downloader);
    rd.RequestChunks(1, 1, *downloader);
    Feed(rd, 0, 65536);
    Feed(rd, 65536, 70540);
    EXPECT_EQ(Stored(u"b.bin"), mEntries[1].bytes);
    EXPECT_EQ(Stored(u"c.bin"), mEntries[2].bytes);
    rd.StopBackground();
}

TEST_F(ResourceDownloaderTest, SchedulePrefersFreshWorkOfTheHighestPriority)
{
    // One resource per chunk.
    MakePackage({{u"high.bin", 65536}, {u"normal.bin", 65536}, {u"low.bin", 65536}, {u"lowest.bin", 65536}});
    ResourceDownloader rd(&mManager, &mManifest);
    rd.StartBackground();
    IDownloader* downloader = AddIdleDownloader(rd);
    IDownloadTask* high = rd.CreateTask(_PRIORITY_HIGH, 1);
    IDownloadTask* normal = rd.CreateTask(_PRIORITY_NORMAL, 1);
    IDownloadTask* low = rd.CreateTask(_PRIORITY_LOW, 1);
    IDownloadTask* lowest = rd.CreateTask(0, 1);
    lowest->AddResource(u"lowest.bin", String());
    low->AddResource(u"low.bin", String());
    normal->AddResource(u"normal.bin", String());
    high->AddResource(u"high.bin", String());

    using Ranges = std::vector<std::pair<_dword, _dword>>;
    rd.Schedule(*downloader);
    rd.Schedule(*downloader);
    // Both High and Normal chunks requested; next a High or Normal chunk again before fresh Low work.
    rd.Schedule(*downloader);
    EXPECT_EQ(Queued(downloader), (Ranges{{0, 65536}, {65536, 131072}, {0, 65536}}));
    int flag = 0;
    FragsOf(rd, 0, &flag);
    EXPECT_EQ(flag, 2);

    // With High finished and Normal paused, fresh Low work comes before the lowest list.
    Feed(rd, 0, 65536);
    normal->Pause();
    rd.Schedule(*downloader);
    rd.Schedule(*downloader);
    rd.Schedule(*downloader);
    EXPECT_EQ(
        Queued(downloader),
        (Ranges{
            {0, 65536}, {65536, 131072}, {0, 65536}, {131072, 196608}, {196608, 262144}, {131072, 196608}}));

    for (IDownloadTask* task : {high, normal, low, lowest})
        rd.DestroyTask(task);
    rd.StopBackground();
}

TEST_F(ResourceDownloaderTest, FreshChunksOfOneResourceGoInRunsOfEight)
{
    MakePackage({{u"big.bin", 20 * 65536 - 100}, {u"small.bin", 100}});
    ResourceDownloader rd(&mManager, &mManifest);
    rd.StartBackground();
    IDownloader* downloader = AddIdleDownloader(rd);
    IDownloadTask* task = rd.CreateTask(_PRIORITY_NORMAL, 1);
    task->AddAllResources();
    for (int i = 0; i < 4; ++i)
        rd.Schedule(*downloader);
    // Nothing fresh is left for the fourth: the first chunk already asked for is asked again, alone.
    EXPECT_EQ(Queued(downloader),
              (std::vector<std::pair<_dword, _dword>>{
                  {0, 8 * 65536}, {8 * 65536, 16 * 65536}, {16 * 65536, 20 * 65536}, {0, 65536}}));
    int flag = 0;
    FragsOf(rd, 19, &flag);
    EXPECT_EQ(flag, 1);
    FragsOf(rd, 0, &flag);
    EXPECT_EQ(flag, 2);
    rd.DestroyTask(task);
    rd.StopBackground();
}

TEST_F(ResourceDownloaderTest, ARequestedHighChunkGoesBeforeAFreshLowOne)
{
    MakePackage({{u"high.bin", 65536}, {u"low.bin", 65536}});
    ResourceDownloader rd(&mManager, &mManifest);
    rd.StartBackground();
    IDownloader* downloader = AddIdleDownloader(rd);
    IDownloadTask* high = rd.CreateTask(_PRIORITY_HIGH, 1);
    high->AddResource(u"high.bin", String());
    rd.RequestChunks(0, 0, *downloader);
    IDownloadTask* low = rd.CreateTask(_PRIORITY_LOW, 1);
    low->AddResource(u"low.bin", String());
    rd.Schedule(*downloader);
    EXPECT_EQ(Queued(downloader), (std::vector<std::pair<_dword, _dword>>{{0, 65536}, {0, 65536}}));
    rd.DestroyTask(high);
    rd.DestroyTask(low);
    rd.StopBackground();
}

TEST_F(ResourceDownloaderTest, UrlAndPackageResourcesGoToTheirOwnDownloaders)
{
    MakePackage({{u"ui\\a.png", 70000}, {u"ui\\b.png", 3000}});
    mServer.AddFile("/extra/notes.txt", "fetched by url");
    ResourceDownloader rd(&mManager, &mManifest);
    rd.StartBackground();
    IDownloader* byUrl = rd.AddWebDownloader(String(), nullptr);
    static_cast<Downloader*>(byUrl)->SetPaused(true);
    IDownloader* package = AddIdleDownloader(rd);
    IDownloadTask* task = rd.CreateTask(_PRIORITY_NORMAL, 1);
    const String url = mServer.WideUrl("/extra/notes.txt");
    task->AddResource(url, String());
    task->AddResource(u"UI/A.png", String());

    rd.Schedule(*byUrl);
    rd.Schedule(*package);
    auto urlQueue = static_cast<Downloader*>(byUrl)->GetQueue();
    auto packageQueue = static_cast<Downloader*>(package)->GetQueue();
    ASSERT_EQ(urlQueue.size(), 1u);
    EXPECT_EQ(urlQueue[0].name, url);
    ASSERT_EQ(packageQueue.size(), 1u);
    EXPECT_TRUE(packageQueue[0].name.empty());
    EXPECT_EQ(packageQueue[0].begin, 0u);

    // Let them run: both resources arrive and the task completes.
    static_cast<Downloader*>(byUrl)->SetPaused(false);
    static_cast<Downloader*>(package)->SetPaused(false);
    ASSERT_TRUE(WaitUntil([&] { return task->GetProgress() == 1.0f; }));
    EXPECT_EQ(Stored(u"ui\\a.png"), mEntries[0].bytes);
    String urlKey = url.substr(7);
    for (char16_t& ch : urlKey)
        if (ch == u'/' || ch == u':')
            ch = u'#';
    EXPECT_EQ(Stored(urlKey), "fetched by url");
    EXPECT_EQ(mServer.Requests("/extra/notes.txt"), 1);
    rd.DestroyTask(task);
    rd.StopBackground();
}

TEST_F(ResourceDownloaderTest, PackageArrivesOverSeveralConnectionsDespiteABadServer)
{
    std::vector<std::pair<String, _dword>> resources;
    for (int i = 0; i < 40; ++i)
        resources.push_back({FormatString(u"data\\r%d.bin", i), static_cast<_dword>(1000 + i * 9973)});
    MakePackage(resources, 17);
    // The first range replies come back short and are asked again.
    mServer.SetMode("/pack.bin", TestServer::Mode::ShortRanges, 2);
    LogCapture log;
    ResourceDownloader rd(&mManager, &mManifest);
    rd.SetVerbose(true);
    rd.StartBackground();
    std::atomic<int> loaded{0};
    std::vector<_dword> sizes;
    IDownloadTask* task = rd.CreateLoadTask(
        _PRIORITY_NORMAL, 7,
        [&](IDownloadTask& done, void* argument)
        {
            EXPECT_EQ(argument, &loaded);
            for (_dword i = 0; i < done.GetResourceCount(); ++i)
                if (DataStream* stream = done.GetStream(i))
                    sizes.push_back(stream->GetSize());
            ++loaded;
        },
        &loaded);
    task->AddAllResources();
    task->Resume();
    for (int i = 0; i < 3; ++i)
        rd.AddWebDownloader(mServer.WideUrl("/pack.bin?0"), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return loaded == 1; }));
    for (const auto& entry : mEntries)
        EXPECT_EQ(Stored(entry.name), entry.bytes) << Vexel::Test::Narrow(entry.name);
    ASSERT_EQ(sizes.size(), mEntries.size());
    for (std::size_t i = 0; i < sizes.size(); ++i)
        EXPECT_EQ(sizes[i], mEntries[i].size);
    EXPECT_EQ(task->GetProgress(), 1.0f);
    EXPECT_EQ(rd.GetTotalBytes() >= mPackage.size(), true);
    EXPECT_TRUE(log.Contains(u"[DL] Start to download : data\\r0.bin (data\\r0.bin) (Normal)"));
    EXPECT_TRUE(log.Contains(u"[DL] Finish resource : data\\r0.bin - " + Md5ToText(mEntries[0].digest)));

    int enumerated = 0;
    rd.EnumerateDownloads([&](const String&, _dword length, _dword finished, _dword kind, int priority, void*)
                          { enumerated += length == finished && kind == 7 && priority == _PRIORITY_NORMAL; },
                          nullptr);
    EXPECT_EQ(enumerated, 40);
    rd.DestroyTask(task);
}

TEST_F(ResourceDownloaderTest, CorruptDataIsFetchedAgain)
{
    MakePackage({{u"one.bin", 5000}, {u"two.bin", 90000}});
    mServer.SetMode("/pack.bin", TestServer::Mode::Corrupt, 1);
    LogCapture log;
    ResourceDownloader rd(&mManager, &mManifest);
    rd.StartBackground();
    IDownloadTask* task = rd.CreateTask(_PRIORITY_HIGH, 1);
    task->AddAllResources();
    rd.AddCopyDownloader(mDir.Wide("nothing-here")); // neither mode: gets work it cannot do
    rd.AddWebDownloader(mServer.WideUrl("/pack.bin?0"), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return task->GetProgress() == 1.0f; }));
    EXPECT_TRUE(log.Contains(u"[DL] Bad checksum : "));
    EXPECT_EQ(Stored(u"one.bin"), mEntries[0].bytes);
    EXPECT_EQ(Stored(u"two.bin"), mEntries[1].bytes);
    rd.DestroyTask(task);
}

TEST_F(ResourceDownloaderTest, RefusalsAreKeptWithTheirStatusAndUrlUntilDataFlowsAgain)
{
    MakePackage({{u"one.bin", 5000}});
    ResourceDownloader rd(&mManager, &mManifest);
    rd.StartBackground();
    IDownloadTask* task = rd.CreateTask(_PRIORITY_HIGH, 1);
    task->AddAllResources();
    task->AddResource(mServer.WideUrl("/status/404"), String());
    EXPECT_EQ(rd.GetRangeRefusal().count, 0u);

    // A by-name fetch the server refuses: the resource keeps the answer.
    rd.AddWebDownloader(String(), nullptr);
    const auto byName = [&]
    {
        for (const auto& state : rd.GetTaskState(task))
            if (state.name == mServer.WideUrl("/status/404"))
                return state;
        return ResourceDownloader::ResourceState{};
    };
    ASSERT_TRUE(WaitUntil([&] { return byName().failures >= 1; }));
    EXPECT_EQ(byName().lastFailure, DownloadFailure::Fetch);
    EXPECT_EQ(byName().failureStatus, 404);
    EXPECT_EQ(byName().failureUrl, mServer.WideUrl("/status/404"));
    EXPECT_FALSE(byName().stored);

    // A package the server refuses: counted until range data arrives from a source that serves it.
    IDownloader* refused = rd.AddWebDownloader(mServer.WideUrl("/status/403?0"), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return rd.GetRangeRefusal().count >= 2; }));
    EXPECT_EQ(rd.GetRangeRefusal().status, 403);
    EXPECT_EQ(rd.GetRangeRefusal().url, mServer.WideUrl("/status/403"));
    rd.RemoveDownloader(refused);
    rd.AddWebDownloader(mServer.WideUrl("/pack.bin?0"), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return rd.GetTaskState(task).front().stored; }));
    EXPECT_EQ(rd.GetRangeRefusal().count, 0u);
    EXPECT_EQ(Stored(u"one.bin"), mEntries[0].bytes);
    rd.DestroyTask(task);
}

TEST_F(ResourceDownloaderTest, CopyDownloaderFillsFromALocalPackageOrFolder)
{
    MakePackage({{u"a.bin", 100000}, {u"b.bin", 20}});
    Vexel::Test::WriteBytes(mDir / "mirror.bin", "HEADER" + mPackage);
    {
        ResourceDownloader rd(&mManager, &mManifest);
        rd.StartBackground();
        IDownloadTask* task = rd.CreateTask(_PRIORITY_NORMAL, 1);
        task->AddAllResources();
        rd.AddCopyDownloader(mDir.Wide("mirror.bin") + u"?6");
        ASSERT_TRUE(WaitUntil([&] { return task->GetProgress() == 1.0f; }));
        EXPECT_EQ(Stored(u"b.bin"), mEntries[1].bytes);
        rd.DestroyTask(task);
    }

    // Without offsets the index places nothing: files come by name from a folder.
    ResourceManifest byName;
    byName.SetEntry(u"ui\\c.txt", 5, -1, Md5Of("hello", 5), String());
    byName.SetEntry(u"ui\\d.txt", 5, -1, Md5Of("wrong", 5), String());
    Vexel::Test::WriteBytes(mDir / "folder" / "ui" / "c.txt", "hello");
    Vexel::Test::WriteBytes(mDir / "folder" / "ui" / "d.txt", "world");
    ResourceDownloader rd(&mManager, &byName);
    IDownloadTask* task = rd.CreateTask(_PRIORITY_NORMAL, 1);
    task->AddAllResources();
    rd.AddCopyDownloader(mDir.Wide("folder"));
    ASSERT_TRUE(WaitUntil([&] { return Stored(u"ui\\c.txt") == "hello"; }));
    // The mismatching one keeps failing and is never stored.
    DownloadRes* d = rd.FindRecord(u"ui\\d.txt");
    ASSERT_NE(d, nullptr);
    ASSERT_TRUE(WaitUntil(
        [&]
        {
            std::lock_guard<std::recursive_mutex> lock(rd.GetLock());
            return d->mFailures >= 2;
        }));
    EXPECT_EQ(Stored(u"ui\\d.txt"), "<missing>");
    EXPECT_LT(task->GetProgress(), 1.0f);
    rd.DestroyTask(task);
}

TEST_F(ResourceDownloaderTest, SpeedAndTotals)
{
    MakePackage({{u"a.bin", 100}});
    ResourceDownloader rd(&mManager, &mManifest);
    rd.StartBackground();
    AddIdleDownloader(rd);
    Feed(rd, 0, 100); // data for a chunk nobody requested still counts
    std::string block(10240 - 100, 'x');
    rd.OnData(*rd.GetDownloader(0), nullptr, reinterpret_cast<const _byte*>(block.data()), 10140, 0);
    EXPECT_EQ(rd.GetTotalBytes(), 10240u);
    // All of it fell into the current second (unless this machine stalled for one).
    EXPECT_FLOAT_EQ(rd.GetSpeed(20), 1.0f);
    EXPECT_FLOAT_EQ(rd.GetSpeed(1), 10.0f);
    rd.ResetTotalBytes();
    EXPECT_EQ(rd.GetTotalBytes(), 0u);
    rd.StopBackground();
}

TEST_F(ResourceDownloaderTest, LeakReport)
{
    MakePackage({{u"a.bin", 100}});
    {
        LogCapture log;
        {
            ResourceDownloader rd(&mManager, &mManifest);
            rd.StartBackground();
            IDownloadTask* task = rd.CreateTask(_PRIORITY_LOW, 1);
            rd.DestroyTask(task);
            EXPECT_EQ(task, nullptr);
        }
        EXPECT_TRUE(log.Contains(u"[RD] Congratulations! No resource loader leaks!"));
    }
    LogCapture log;
    {
        ResourceDownloader rd(&mManager, &mManifest);
        rd.CreateTask(_PRIORITY_LOW, 1);
        rd.CreateLoadTask(_PRIORITY_LOW, 1, nullptr, nullptr);
    }
    EXPECT_TRUE(log.Contains(u"[RD] Caution! DownloadTask leaks : 2"));
    EXPECT_TRUE(log.Contains(String(76, u'-')));
}
