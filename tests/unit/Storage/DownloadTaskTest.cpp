#include "DownloadFixture.h"

#include <gtest/gtest.h>

using namespace Vexel;
using Vexel::Test::LogCapture;
using Vexel::Test::WaitUntil;

namespace
{

class DownloadTaskTest : public Vexel::Test::DownloadFixture
{
protected:
    // Delivers the whole package as if every chunk had been asked for.
    void FeedAll(ResourceDownloader& rd, IDownloader& downloader, _dword from = 0, _dword to = 0xFFFFFFFF)
    {
        to = std::min<_dword>(to, static_cast<_dword>(mPackage.size()));
        for (_dword c = from / _CHUNK_SIZE; c * _CHUNK_SIZE < to; ++c)
        {
            int flag = 0;
            std::vector<ResourceDownloader::Fragment> frags;
            if (rd.GetChunk(c, flag, frags) && flag == 0)
                rd.RequestChunks(c, c, downloader);
        }
        rd.OnData(downloader, nullptr, reinterpret_cast<const _byte*>(mPackage.data()) + from, to - from,
                  from);
    }

    static int Count(const std::u16string& text, std::u16string_view needle)
    {
        int n = 0;
        for (auto at = text.find(needle); at != std::u16string::npos; at = text.find(needle, at + 1))
            ++n;
        return n;
    }
};

} // namespace

TEST_F(DownloadTaskTest, OneRecordPerKeyUnlessBulkFilled)
{
    MakePackage({{u"a.bin", 10}, {u"b.bin", 20}, {u"c.bin", 30}});
    ResourceDownloader rd(&mManager, &mManifest);
    IDownloadTask* task = rd.CreateTask(_PRIORITY_NORMAL, 1);
    task->AddResource(u"a.bin", String());
    task->AddResource(u"A.BIN", String());
    task->AddResource(u"other", u"x/../A.BIN"); // the alias gives the key
    EXPECT_EQ(task->GetResourceCount(), 1u);
    EXPECT_EQ(task->GetTotalBytes(), 10u);
    EXPECT_EQ(task->GetResourceName(0), u"a.bin");
    EXPECT_EQ(task->GetResourceLength(0), 10u);
    EXPECT_EQ(task->GetResourceName(5), u"");
    EXPECT_EQ(task->GetResourceLength(5), 0u);

    task->AddAllResources();
    EXPECT_EQ(task->GetResourceCount(), 4u); // no duplicate test once bulk filled

    // Tasks share records.
    IDownloadTask* second = rd.CreateTask(_PRIORITY_LOW, 1);
    second->AddResource(u"b.bin", String());
    EXPECT_EQ(rd.FindRecord(u"b.bin")->mRefCount, 2u);
    rd.DestroyTask(task);
    EXPECT_EQ(rd.FindRecord(u"b.bin")->mRefCount, 1u);
    EXPECT_EQ(rd.FindRecord(u"a.bin"), nullptr);
    rd.DestroyTask(second);
    EXPECT_EQ(rd.FindRecord(u"b.bin"), nullptr);
}

TEST_F(DownloadTaskTest, ProgressCountsUnknownLengthsAndStopsShortOfOne)
{
    MakePackage({{u"big.bin", 999999}, {u"last.bin", 1}});
    ResourceDownloader rd(&mManager, &mManifest);
    rd.StartBackground();
    IDownloader* downloader = AddIdleDownloader(rd);

    IDownloadTask* urls = rd.CreateTask(_PRIORITY_NORMAL, 1);
    urls->AddResource(u"http://127.0.0.1:1/a", String());
    urls->AddResource(u"http://127.0.0.1:1/b", String());
    EXPECT_EQ(urls->GetProgress(), 0.0f);
    EXPECT_EQ(urls->GetTotalBytes(), 524288u);

    IDownloadTask* task = rd.CreateTask(_PRIORITY_NORMAL, 1);
    static _dword now = 5000;
    dynamic_cast<DownloadTask&>(*task).SetClock([] { return now; });
    task->AddAllResources();
    FeedAll(rd, *downloader, 0, 999999);
    float almost = task->GetProgress();
    EXPECT_FLOAT_EQ(almost, 0.9999f);
    EXPECT_EQ(task->GetFinishedResourceCount(), 1u);
    Array<String> unfinished;
    task->GetUnfinishedResourceNames(unfinished);
    ASSERT_EQ(unfinished.Number(), 1u);
    EXPECT_EQ(unfinished[0], u"last.bin");

    FeedAll(rd, *downloader, 999999);
    // Progress is worked out at most every 100 ms: until then the last figure stands.
    now += 100;
    EXPECT_FLOAT_EQ(task->GetProgress(), 0.9999f);
    now += 1;
    EXPECT_EQ(task->GetProgress(), 1.0f);
    EXPECT_EQ(task->GetFinishedBytes(), 1000000u);
    rd.DestroyTask(urls);
    rd.DestroyTask(task);
    rd.StopBackground();
}

TEST_F(DownloadTaskTest, LoadingTaskHandsOverStreamsOnlyWhenComplete)
{
    MakePackage({{u"a.bin", 10}});
    ASSERT_TRUE(mManager.WriteResource(u"here1.txt", "first", 5, MD5()));
    ASSERT_TRUE(mManager.WriteResource(u"here2.txt", "second!", 7, MD5()));
    ResourceDownloader rd(&mManager, &mManifest);
    IDownloader* downloader = AddIdleDownloader(rd);
    int calls = 0;
    IDownloadTask* task = rd.CreateLoadTask(
        _PRIORITY_HIGH, 2, [&](IDownloadTask&, void* argument) { calls += argument == &calls; }, &calls);
    EXPECT_TRUE(task->IsPaused());
    task->AddResource(u"here2.txt", String());
    task->AddResource(u"here1.txt", String());
    {
        LogCapture log;
        EXPECT_EQ(task->GetStream(0), nullptr);
        EXPECT_TRUE(log.Contains(u"( mFlag & _LOADING ) == 0"));
    }
    rd.Schedule(*downloader); // paused: not completed yet
    EXPECT_EQ(calls, 0);
    task->Resume();
    rd.Schedule(*downloader);
    EXPECT_EQ(calls, 1);
    ASSERT_NE(task->GetStream(0), nullptr);
    EXPECT_EQ(task->GetStream(0)->GetSize(), 7u);
    EXPECT_EQ(task->GetStream(1)->GetSize(), 5u);
    EXPECT_EQ(task->GetStream(2), nullptr);
    rd.Schedule(*downloader);
    EXPECT_EQ(calls, 1); // completed once
    rd.DestroyTask(task);
}

TEST_F(DownloadTaskTest, TagsPickResourcesByTheirGroupPieces)
{
    MakePackage({{u"a", 1}, {u"b", 1}, {u"c", 1}, {u"d", 1}}, 0, {u"ui: needed", u" Sound ", u"UI", u"uix"});
    ResourceDownloader rd(&mManager, &mManifest);
    IDownloadTask* ui = rd.CreateTask(_PRIORITY_NORMAL, 1);
    ui->AddResourcesWithTag(u"ui");
    Array<String> names;
    ui->GetResourceNames(names);
    ASSERT_EQ(names.Number(), 2u);
    EXPECT_EQ(names[0], u"a");
    EXPECT_EQ(names[1], u"c");
    IDownloadTask* needed = rd.CreateTask(_PRIORITY_NORMAL, 1);
    needed->AddNeededResources();
    EXPECT_EQ(needed->GetResourceCount(), 1u);
    IDownloadTask* sound = rd.CreateTask(_PRIORITY_NORMAL, 1);
    sound->AddResourcesWithTag(u"sound");
    EXPECT_EQ(sound->GetResourceName(0), u"b");
    for (IDownloadTask* task : {ui, needed, sound})
        rd.DestroyTask(task);
}

TEST_F(DownloadTaskTest, PriorityMovesTheTaskBetweenLists)
{
    MakePackage({{u"a.bin", 10}});
    ResourceDownloader rd(&mManager, &mManifest);
    IDownloadTask* task = rd.CreateTask(_PRIORITY_LOW, 5);
    task->AddResource(u"a.bin", String());
    auto enumerate = [&]
    {
        std::vector<int> priorities;
        rd.EnumerateDownloads([&](const String&, _dword, _dword, _dword, int priority, void*)
                              { priorities.push_back(priority); },
                              nullptr);
        return priorities;
    };
    EXPECT_EQ(enumerate(), std::vector<int>{_PRIORITY_LOW});
    task->SetPriority(_PRIORITY_HIGH);
    EXPECT_EQ(enumerate(), std::vector<int>{_PRIORITY_HIGH});
    task->SetPriority(0); // the lowest list is left out of the enumeration
    EXPECT_TRUE(enumerate().empty());
    task->SetCookie(u"c=1");
    EXPECT_EQ(task->GetCookie(), u"c=1");
    rd.DestroyTask(task);
}

TEST_F(DownloadTaskTest, DigestRules)
{
    const MD5 wrong = Md5Of("x", 1);
    mManifest.SetEntry(u"empty-ok.bin", 0, 0, Md5Of(nullptr, 0), String());
    mManifest.SetEntry(u"empty-bad.bin", 0, 0, wrong, String());
    mManifest.SetEntry(u"anything.bin", 5, 0, MD5(), String());
    mPackage = "hello";
    mServer.AddFile("/pack.bin", mPackage);
    LogCapture log;
    ResourceDownloader rd(&mManager, &mManifest);
    rd.StartBackground();
    // An empty resource with the digest of nothing is stored at once; one with any other digest is
    // refused once instead of starting over without end.
    EXPECT_EQ(Stored(u"empty-ok.bin"), "");
    EXPECT_EQ(Count(log.Text(), u"[DL] Bad checksum : empty-bad.bin - 7e42f8ec980980e904b2008fd98c1dd4"), 1);
    EXPECT_EQ(Stored(u"empty-bad.bin"), "<missing>");
    // A zero digest accepts whatever comes.
    IDownloader* downloader = AddIdleDownloader(rd);
    FeedAll(rd, *downloader);
    EXPECT_EQ(Stored(u"anything.bin"), "hello");
    rd.StopBackground();
}

TEST_F(DownloadTaskTest, ByNameRequestsCarryTheTaskCookieAndStartHandlerSeesEveryResource)
{
    mServer.AddFile("/u.txt", "by url");
    ResourceDownloader rd(&mManager, &mManifest);
    std::vector<String> started;
    rd.SetStartHandler([&](const String& name, IDownloadTask*) { started.push_back(name); });
    IDownloadTask* task = rd.CreateTask(_PRIORITY_NORMAL, 1);
    task->SetCookie(u"session=9");
    task->AddResource(mServer.WideUrl("/u.txt"), String());
    EXPECT_EQ(started, std::vector<String>{mServer.WideUrl("/u.txt")});
    task->AnnounceResources();
    EXPECT_EQ(started.size(), 2u);
    rd.AddWebDownloader(String(), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return task->GetProgress() == 1.0f; }));
    EXPECT_EQ(mServer.Cookies("/u.txt"), std::vector<std::string>{"session=9"});
    rd.DestroyTask(task);
}

TEST_F(DownloadTaskTest, AFailedUrlFetchIsNotStoredAsAnEmptyResource)
{
    ResourceDownloader rd(&mManager, &mManifest);
    IDownloadTask* task = rd.CreateTask(_PRIORITY_NORMAL, 1);
    task->AddResource(mServer.WideUrl("/status/404"), String());
    rd.AddWebDownloader(String(), nullptr);
    DownloadRes* record = rd.FindRecord(mServer.WideUrl("/status/404"));
    ASSERT_TRUE(WaitUntil(
        [&]
        {
            std::lock_guard<std::recursive_mutex> lock(rd.GetLock());
            return record->mFailures >= 1 && record->mPending == 0;
        }));
    EXPECT_LT(task->GetProgress(), 1.0f);
    EXPECT_EQ(record->mRefCount, 1u); // the request's hold was given back
    rd.DestroyTask(task);
}
