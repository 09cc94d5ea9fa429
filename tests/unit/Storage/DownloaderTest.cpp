#include "Storage/Download/CopyDownloader.h"
#include "Storage/Download/WebDownloader.h"

#include "TestServer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <mutex>

using namespace Vexel;
using Vexel::Test::LogCapture;
using Vexel::Test::TempDir;
using Vexel::Test::TestServer;
using Vexel::Test::WaitUntil;

namespace
{

// What a downloader's handlers saw: the bytes by offset per task, and the failed names.
struct Sink
{
    std::mutex lock;
    std::map<void*, std::string> bytes;
    std::map<void*, _dword> firstOffset;
    std::vector<String> failed;
    std::vector<int> statuses;
    std::vector<String> urls;
    _dword blocks = 0;
    _dword total = 0;

    void Attach(Downloader& downloader)
    {
        downloader.SetDataHandler(
            [this](IDownloader&, void* task, const _byte* data, _dword size, _dword offset)
            {
                std::lock_guard<std::mutex> guard(lock);
                std::string& into = bytes[task];
                if (!firstOffset.count(task))
                    firstOffset[task] = offset;
                _dword at = offset - firstOffset[task];
                if (into.size() < at + size)
                    into.resize(at + size);
                into.replace(at, size, reinterpret_cast<const char*>(data), size);
                ++blocks;
                total += size;
            });
        downloader.SetFailHandler(
            [this](IDownloader&, const DownloadItem& item)
            {
                std::lock_guard<std::mutex> guard(lock);
                failed.push_back(item.name);
                statuses.push_back(item.status);
                urls.push_back(item.url);
            });
    }
    _dword Total()
    {
        std::lock_guard<std::mutex> guard(lock);
        return total;
    }
    std::string Bytes(void* task)
    {
        std::lock_guard<std::mutex> guard(lock);
        return bytes[task];
    }
    _dword Offset(void* task)
    {
        std::lock_guard<std::mutex> guard(lock);
        return firstOffset[task];
    }
    std::size_t Failed()
    {
        std::lock_guard<std::mutex> guard(lock);
        return failed.size();
    }
};

void* Task(int n)
{
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(n));
}

class DownloaderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        mPackage = TestServer::GeneratedBytes(3, 0, 200000);
        mServer.AddFile("/pack.bin", mPackage);
        mServer.AddFile("/files/a.txt", "alpha");
        mServer.AddFile("/files/sub/b.txt", "beta");
    }

    TestServer mServer;
    std::string mPackage;
    std::recursive_mutex mLock;
    Sink mSink;
};

} // namespace

TEST_F(DownloaderTest, PackageAddressCutsItsBaseOffsetAndShiftsRanges)
{
    WebDownloader downloader(&mLock, mServer.WideUrl("/pack.bin?1024"), 3);
    EXPECT_EQ(downloader.GetAddress(), mServer.WideUrl("/pack.bin"));
    EXPECT_EQ(downloader.GetBaseOffset(), 1024u);
    EXPECT_EQ(downloader.GetId(), 3u);
    mSink.Attach(downloader);
    downloader.DownloadRange(nullptr, 0, 100);
    downloader.DownloadRange(Task(1), 70000, 140000);
    ASSERT_TRUE(WaitUntil([&] { return mSink.Total() == 70100; }));
    EXPECT_EQ(mServer.Ranges("/pack.bin"),
              (std::vector<std::string>{"bytes=1024-1123", "bytes=71024-141023"}));
    EXPECT_EQ(mSink.Bytes(nullptr), mPackage.substr(1024, 100));
    EXPECT_EQ(mSink.Offset(Task(1)), 70000u); // offsets are in the resource space
    EXPECT_EQ(mSink.Bytes(Task(1)), mPackage.substr(71024, 70000));
}

TEST_F(DownloaderTest, ByNameInPackageModeFailsWithItsMessage)
{
    LogCapture log;
    WebDownloader downloader(&mLock, mServer.WideUrl("/pack.bin?0"), 0);
    mSink.Attach(downloader);
    downloader.DownloadFile(Task(1), u"ui\\a.png", String());
    ASSERT_TRUE(WaitUntil([&] { return mSink.Failed() == 1; }));
    EXPECT_TRUE(log.Contains(u"[DL] Can not download unknown file : ui\\a.png"));
    EXPECT_EQ(mServer.Requests("/pack.bin"), 0);
    EXPECT_TRUE(downloader.GetQueue().empty());
}

TEST_F(DownloaderTest, AShortRangeIsAskedAgainWhole)
{
    mServer.SetMode("/pack.bin", TestServer::Mode::ShortRanges, 1);
    WebDownloader downloader(&mLock, mServer.WideUrl("/pack.bin?0"), 0);
    mSink.Attach(downloader);
    downloader.DownloadRange(nullptr, 1000, 3000);
    ASSERT_TRUE(WaitUntil([&] { return mSink.Total() == 3000; }));
    EXPECT_EQ(mServer.Ranges("/pack.bin"), (std::vector<std::string>{"bytes=1000-2999", "bytes=1000-2999"}));
    EXPECT_EQ(mSink.Bytes(nullptr), mPackage.substr(1000, 2000));
}

TEST_F(DownloaderTest, BrokenReplyIsRetriedUntilComplete)
{
    // Two broken replies in a row: the second retry waits a moment, then the range completes.
    mServer.SetMode("/pack.bin", TestServer::Mode::LieLength, 2);
    WebDownloader downloader(&mLock, mServer.WideUrl("/pack.bin?0"), 0);
    mSink.Attach(downloader);
    downloader.DownloadRange(nullptr, 0, 65536);
    // Two halves, then the whole range.
    ASSERT_TRUE(WaitUntil([&] { return mSink.Total() == 32768 * 2 + 65536; }));
    EXPECT_EQ(mSink.Bytes(nullptr), mPackage.substr(0, 65536));
    EXPECT_EQ(mServer.Requests("/pack.bin"), 3);
}

TEST_F(DownloaderTest, PlainModeFetchesByNameWithTheCookie)
{
    WebDownloader downloader(&mLock, mServer.WideUrl("/files"), 0);
    EXPECT_EQ(downloader.GetBaseOffset(), _DOWNLOAD_UNKNOWN);
    mSink.Attach(downloader);
    downloader.DownloadFile(Task(1), u"a.txt", u"k=v");
    downloader.DownloadFile(Task(2), u"sub/b.txt", String());
    ASSERT_TRUE(WaitUntil([&] { return mSink.Total() == 9; }));
    EXPECT_EQ(mSink.Bytes(Task(1)), "alpha");
    EXPECT_EQ(mSink.Bytes(Task(2)), "beta");
    EXPECT_EQ(mServer.Cookies("/files/a.txt"), std::vector<std::string>{"k=v"});

    // An empty address takes the name as the URL.
    Sink urls;
    WebDownloader byUrl(&mLock, String(), 1);
    urls.Attach(byUrl);
    byUrl.DownloadFile(Task(3), mServer.WideUrl("/files/a.txt"), String());
    ASSERT_TRUE(WaitUntil([&] { return urls.Total() == 5; }));
}

TEST(DownloaderUrlTest, NamesBecomeUrlPathsWithSlashesAndPercentEncoding)
{
    EXPECT_EQ(MakeResourceUrl(u"http://h/files", u"maps\\zone0\\tile000.dat"),
              u"http://h/files/maps/zone0/tile000.dat");
    EXPECT_EQ(MakeResourceUrl(u"http://h/files/", u"a b.txt"), u"http://h/files/a%20b.txt");
    // UTF-8 bytes, upper-case hex; characters with a meaning in URLs are encoded too.
    EXPECT_EQ(MakeResourceUrl(u"http://h", u"\u00e4\u6f22/x?#%+.txt"),
              u"http://h/%C3%A4%E6%BC%A2/x%3F%23%25%2B.txt");
    EXPECT_EQ(MakeResourceUrl(u"http://h", u"a-b_c.d~e"), u"http://h/a-b_c.d~e");
    // An empty address: the name is a URL already.
    EXPECT_EQ(MakeResourceUrl(String(), u"http://h/a b"), u"http://h/a b");
}

TEST_F(DownloaderTest, NamesWithBackslashesSpacesAndNonAsciiAreFound)
{
    mServer.AddFile("/files/maps/zone 0/\xc3\xa4rger.dat", "umlaut");
    WebDownloader downloader(&mLock, mServer.WideUrl("/files"), 0);
    mSink.Attach(downloader);
    downloader.DownloadFile(Task(1), u"maps\\zone 0\\\u00e4rger.dat", String());
    ASSERT_TRUE(WaitUntil([&] { return mSink.Total() == 6 || mSink.Failed() > 0; }));
    EXPECT_EQ(mSink.Bytes(Task(1)), "umlaut");
    EXPECT_EQ(mServer.Requests("/files/maps/zone 0/\xc3\xa4rger.dat"), 1);
}

TEST_F(DownloaderTest, AFailedFetchByNameReportsNoData)
{
    LogCapture log;
    WebDownloader downloader(&mLock, mServer.WideUrl("/files"), 0);
    mSink.Attach(downloader);
    downloader.DownloadFile(Task(1), u"missing.txt", String());
    ASSERT_TRUE(WaitUntil([&] { return mSink.Failed() == 1; }));
    EXPECT_EQ(mSink.Total(), 0u);
    EXPECT_TRUE(log.Contains(u"[DL] Can not download file : " + mServer.WideUrl("/files/missing.txt") +
                             u" (HTTP 404)"));
    std::lock_guard<std::mutex> guard(mSink.lock);
    EXPECT_EQ(mSink.statuses, std::vector<int>{404});
    EXPECT_EQ(mSink.urls, std::vector<String>{mServer.WideUrl("/files/missing.txt")});
}

TEST_F(DownloaderTest, ARefusedRangeIsReportedWithStatusAndAskedAgain)
{
    LogCapture log;
    WebDownloader downloader(&mLock, mServer.WideUrl("/status/403?0"), 0);
    mSink.Attach(downloader);
    downloader.DownloadRange(nullptr, 0, 100);
    ASSERT_TRUE(WaitUntil([&] { return mSink.Failed() >= 2; }));
    EXPECT_EQ(mSink.Total(), 0u); // the error page is not data
    EXPECT_TRUE(log.Contains(u"[DL] Can not download range 0-99 : " + mServer.WideUrl("/status/403") +
                             u" (HTTP 403)"));
    std::lock_guard<std::mutex> guard(mSink.lock);
    EXPECT_EQ(mSink.statuses[0], 403);
    EXPECT_EQ(mSink.urls[0], mServer.WideUrl("/status/403"));
    EXPECT_EQ(mSink.failed[0], String()); // a range, not a name
}

TEST_F(DownloaderTest, CopyDownloaderFolderAndPackageModes)
{
    TempDir dir;
    Vexel::Test::WriteBytes(dir / "res" / "ui" / "a.txt", "local alpha");
    Vexel::Test::WriteBytes(dir / "pack.bin", mPackage);

    CopyDownloader folder(&mLock, dir.Wide("res"), 0);
    EXPECT_FALSE(folder.IsPackageMode());
    mSink.Attach(folder);
    folder.DownloadFile(Task(1), u"ui\\a.txt", String());
    folder.DownloadFile(Task(2), u"ui\\none.txt", String());
    ASSERT_TRUE(WaitUntil([&] { return mSink.Total() == 11 && mSink.Failed() == 1; }));
    EXPECT_EQ(mSink.Bytes(Task(1)), "local alpha");

    Sink ranges;
    CopyDownloader package(&mLock, dir.Wide("pack.bin") + u"?500", 1);
    EXPECT_TRUE(package.IsPackageMode());
    EXPECT_EQ(package.GetBaseOffset(), 500u);
    ranges.Attach(package);
    package.DownloadRange(Task(3), 100, 400);
    ASSERT_TRUE(WaitUntil([&] { return ranges.Total() == 300; }));
    EXPECT_EQ(ranges.Offset(Task(3)), 100u);
    EXPECT_EQ(ranges.Bytes(Task(3)), mPackage.substr(600, 300));

    CopyDownloader nothing(&mLock, dir.Wide("absent"), 2);
    EXPECT_FALSE(nothing.IsPackageMode());
}

TEST_F(DownloaderTest, PausedDownloaderFetchesNothingUntilResumed)
{
    WebDownloader downloader(&mLock, mServer.WideUrl("/pack.bin?0"), 0);
    downloader.SetPaused(true);
    mSink.Attach(downloader);
    downloader.DownloadRange(nullptr, 0, 10);
    // The item stays queued while paused.
    EXPECT_FALSE(
        WaitUntil([&] { return mServer.Requests("/pack.bin") > 0; }, std::chrono::milliseconds(200)));
    EXPECT_EQ(downloader.GetQueue().size(), 1u);
    downloader.SetPaused(false);
    EXPECT_TRUE(WaitUntil([&] { return mSink.Total() == 10; }));
}

TEST_F(DownloaderTest, IdleHandlerIsAskedForWorkWithoutSpinning)
{
    WebDownloader downloader(&mLock, mServer.WideUrl("/pack.bin?0"), 0);
    mSink.Attach(downloader);
    std::atomic<int> asked{0};
    std::atomic<int> given{0};
    downloader.SetIdleHandler(
        [&](IDownloader& self)
        {
            ++asked;
            if (given < 3)
            {
                _dword at = static_cast<_dword>(given++) * 100;
                self.DownloadRange(nullptr, at, at + 100);
            }
        });
    ASSERT_TRUE(WaitUntil([&] { return mSink.Total() == 300; }));
    // With nothing left to give, the worker waits (a second) between asks instead of asking again and
    // again: two further asks cannot come sooner than one wait. A spinning worker asks at once.
    int before = asked;
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitUntil([&] { return asked >= before + 2; }));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    before = asked;
    downloader.Wake();
    EXPECT_TRUE(WaitUntil([&] { return asked > before; }));
}

TEST_F(DownloaderTest, DestroyingADownloaderAbortsItsTransfer)
{
    mServer.AddFile("/slow.bin", mPackage);
    mServer.SetMode("/slow.bin", TestServer::Mode::Trickle);
    LogCapture log;
    {
        WebDownloader downloader(&mLock, mServer.WideUrl("/slow.bin?0"), 0);
        mSink.Attach(downloader);
        downloader.DownloadRange(nullptr, 0, 200000);
        ASSERT_TRUE(WaitUntil([&] { return mSink.Total() > 0; }));
    }
    EXPECT_LT(mSink.Total(), 200000u);
    EXPECT_TRUE(log.Contains(u"[WS] Web download aborted at thread 0x"));
}
