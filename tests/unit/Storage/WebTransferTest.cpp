#include "Storage/Download/WebTransfer.h"

#include "Platform/File.h"
#include "TestServer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>

using namespace Vexel;
using Vexel::Test::LogCapture;
using Vexel::Test::TestServer;
using Vexel::Test::WaitUntil;

namespace
{

std::string Text(const ByteBuffer& buffer)
{
    return std::string(buffer.begin(), buffer.end());
}

class WebTransferTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        mBody = TestServer::GeneratedBytes(7, 0, 300000);
        mServer.AddFile("/file.bin", mBody);
    }

    // A synchronous download into a buffer; returns the outcome.
    bool Download(const std::string& path, ByteBuffer& buffer, std::int64_t begin = 0,
                  std::int64_t end = _WEB_OPEN, WebHandle handle = nullptr, const String& cookie = String())
    {
        bool ok = false;
        auto thread = WebDownload(mServer.WideUrl(path), &buffer, _WEB_NO_TIMEOUT, begin, end, handle, cookie,
                                  &mProgress, &ok);
        EXPECT_EQ(thread, nullptr);
        return ok;
    }

    TestServer mServer;
    std::string mBody;
    std::atomic<float> mProgress{0.5f};
};

} // namespace

TEST_F(WebTransferTest, WholeFileIntoMemoryWithProgressAndFinishLine)
{
    LogCapture log;
    ByteBuffer buffer{1, 2, 3}; // cleared first
    ASSERT_TRUE(Download("/file.bin", buffer));
    EXPECT_EQ(Text(buffer), mBody);
    EXPECT_EQ(mProgress.load(), 1.0f);
    std::string text = Vexel::Test::Narrow(log.Text());
    EXPECT_NE(text.find("[WS] Web download finish : 127.0.0.1:"), std::string::npos) << text;
    EXPECT_NE(text.find(" <-> 127.0.0.1:" + std::to_string(mServer.Port()) + " (200)"), std::string::npos)
        << text;
}

TEST_F(WebTransferTest, HttpErrorsFailWithProgressZeroAndNoErrorPageInTheBuffer)
{
    for (const char* path : {"/status/404", "/status/500", "/missing"})
    {
        ByteBuffer buffer;
        mProgress = 0.5f;
        EXPECT_FALSE(Download(path, buffer)) << path;
        EXPECT_EQ(mProgress.load(), 0.0f) << path;
        EXPECT_TRUE(buffer.empty()) << path;
    }
}

TEST_F(WebTransferTest, RangesAreAskedAndChecked)
{
    ByteBuffer buffer;
    ASSERT_TRUE(Download("/file.bin", buffer, 1000, 1100));
    EXPECT_EQ(Text(buffer), mBody.substr(1000, 100));

    // An open end resumes from begin.
    ASSERT_TRUE(Download("/file.bin", buffer, 299000));
    EXPECT_EQ(Text(buffer), mBody.substr(299000));

    // From 0 with an open end no range is asked at all.
    ASSERT_TRUE(Download("/file.bin", buffer, 0));
    auto ranges = mServer.Ranges("/file.bin");
    ASSERT_EQ(ranges.size(), 3u);
    EXPECT_EQ(ranges[0], "bytes=1000-1099");
    EXPECT_EQ(ranges[1], "bytes=299000-");
    EXPECT_EQ(ranges[2], "");
}

TEST_F(WebTransferTest, ARangeTheServerIgnoresIsCutOutOfTheWholeReply)
{
    mServer.SetMode("/file.bin", TestServer::Mode::IgnoreRange);
    ByteBuffer buffer;
    ASSERT_TRUE(Download("/file.bin", buffer, 5000, 5300));
    EXPECT_EQ(Text(buffer), mBody.substr(5000, 300));
}

TEST_F(WebTransferTest, AReplyForAnotherRangeIsRejected)
{
    LogCapture log;
    mServer.SetMode("/file.bin", TestServer::Mode::WrongRange);
    ByteBuffer buffer;
    EXPECT_FALSE(Download("/file.bin", buffer, 5000, 5300));
    EXPECT_TRUE(buffer.empty());
    EXPECT_TRUE(log.Contains(u"[WS] Range reply starts at 5001, asked 5000"));
}

TEST_F(WebTransferTest, AShortRangeReplySucceedsWithWhatCame)
{
    mServer.SetMode("/file.bin", TestServer::Mode::ShortRanges);
    ByteBuffer buffer;
    ASSERT_TRUE(Download("/file.bin", buffer, 0, 1000));
    EXPECT_EQ(Text(buffer), mBody.substr(0, 500)); // the caller judges completeness
}

TEST_F(WebTransferTest, ALyingLengthFails)
{
    mServer.SetMode("/file.bin", TestServer::Mode::LieLength);
    ByteBuffer buffer;
    EXPECT_FALSE(Download("/file.bin", buffer));
    EXPECT_LT(buffer.size(), mBody.size());
}

TEST_F(WebTransferTest, AMemoryBodyIsCappedByTheCallersLimit)
{
    // The limit itself fits, with a length announced or without one.
    for (auto mode : {TestServer::Mode::Normal, TestServer::Mode::Chunked})
    {
        mServer.SetMode("/file.bin", mode);
        ByteBuffer buffer;
        bool ok = false;
        WebDownload(mServer.WideUrl("/file.bin"), &buffer, _WEB_NO_TIMEOUT, 0, _WEB_OPEN, nullptr, String(),
                    &mProgress, &ok, mBody.size());
        EXPECT_TRUE(ok);
        EXPECT_EQ(Text(buffer), mBody);
    }

    // One byte less fails, judged up front from the length or as the chunks arrive; nothing is kept and
    // the line names the limit and the URL.
    for (auto mode : {TestServer::Mode::Normal, TestServer::Mode::Chunked})
    {
        mServer.SetMode("/file.bin", mode);
        LogCapture log;
        ByteBuffer buffer;
        bool ok = true;
        mProgress = 0.5f;
        WebDownload(mServer.WideUrl("/file.bin"), &buffer, _WEB_NO_TIMEOUT, 0, _WEB_OPEN, nullptr, String(),
                    &mProgress, &ok, mBody.size() - 1);
        EXPECT_FALSE(ok);
        EXPECT_TRUE(buffer.empty());
        EXPECT_EQ(buffer.capacity(), 0u);
        EXPECT_EQ(mProgress.load(), 0.0f);
        EXPECT_TRUE(log.Contains(u"[WS] Web download exceeds the limit of 299999 bytes : " +
                                 mServer.WideUrl("/file.bin")))
            << Vexel::Test::Narrow(log.Text());
    }

    // A range is measured by what it keeps, not by the file.
    mServer.SetMode("/file.bin", TestServer::Mode::IgnoreRange);
    ByteBuffer buffer;
    bool ok = false;
    WebDownload(mServer.WideUrl("/file.bin"), &buffer, _WEB_NO_TIMEOUT, 1000, 1100, nullptr, String(),
                nullptr, &ok, 100);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Text(buffer), mBody.substr(1000, 100));
}

TEST_F(WebTransferTest, ALyingHugeLengthFailsAtOnceWithTheDefaultLimit)
{
    mServer.SetMode("/file.bin", TestServer::Mode::HugeLength);
    LogCapture log;
    ByteBuffer buffer;
    EXPECT_FALSE(Download("/file.bin", buffer));
    EXPECT_EQ(buffer.capacity(), 0u);
    EXPECT_TRUE(log.Contains(u"[WS] Web download exceeds the limit of 268435456 bytes"))
        << Vexel::Test::Narrow(log.Text());
}

TEST_F(WebTransferTest, AnAsynchronousDownloadOverTheLimitStopsRetrying)
{
    ByteBuffer buffer;
    auto thread = WebDownload(mServer.WideUrl("/file.bin"), &buffer, _WEB_ASYNC, 0, _WEB_OPEN, nullptr,
                              String(), &mProgress, nullptr, 1000);
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return thread->IsIdle(); }));
    thread->Stop();
    EXPECT_EQ(mServer.Requests("/file.bin"), 1);
    EXPECT_EQ(mProgress.load(), 0.0f);
    EXPECT_TRUE(buffer.empty());
}

TEST_F(WebTransferTest, AThrowingCallbackEndsTheTransferWithoutCrossingLibcurl)
{
    LogCapture log;
    bool ok = true;
    int calls = 0;
    WebDownloadStream(
        mServer.WideUrl("/file.bin"),
        [&](const _byte*, std::size_t, _qword)
        {
            ++calls;
            throw std::runtime_error("handler failed");
        },
        _WEB_NO_TIMEOUT, 0, _WEB_OPEN, nullptr, String(), &mProgress, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(log.Contains(u"[WS] Web download data handler failed : " + mServer.WideUrl("/file.bin")));

    // Running out of memory is named as such.
    log.Clear();
    WebDownloadStream(
        mServer.WideUrl("/file.bin"), [&](const _byte*, std::size_t, _qword) { throw std::bad_alloc(); },
        _WEB_NO_TIMEOUT, 0, _WEB_OPEN, nullptr, String(), &mProgress, &ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(log.Contains(u"[WS] Web download out of memory : ")) << Vexel::Test::Narrow(log.Text());
}

TEST_F(WebTransferTest, RedirectsAreFollowedAtMostEightTimesPerUrl)
{
    ByteBuffer buffer;
    ASSERT_TRUE(Download("/redirect/8", buffer));
    EXPECT_EQ(Text(buffer), "arrived");

    LogCapture log;
    EXPECT_FALSE(Download("/redirect/9", buffer));
    EXPECT_EQ(mProgress.load(), 0.0f);
    EXPECT_TRUE(buffer.empty()); // the redirect notice is not the resource
    EXPECT_EQ(mServer.Requests("/redirect/0"), 1);
    EXPECT_EQ(mServer.Requests("/redirect/1"), 2); // reached by both, followed by neither the second time
    EXPECT_TRUE(log.Contains(u"[WS] Redirect not followed (302)"));

    int before = mServer.TotalRequests();
    EXPECT_FALSE(Download("/loop", buffer));
    EXPECT_EQ(mServer.TotalRequests() - before, 9);
}

TEST_F(WebTransferTest, AHandleRemembersWhereAUrlMoved)
{
    WebHandle handle = CreateWebHandle();
    ASSERT_NE(handle, nullptr);
    mServer.AddRedirect("/old", mServer.Url("/file.bin"));
    ByteBuffer buffer;
    ASSERT_TRUE(Download("/old", buffer, 0, _WEB_OPEN, handle));
    ASSERT_TRUE(Download("/old", buffer, 10, 20, handle));
    EXPECT_EQ(Text(buffer), mBody.substr(10, 10));
    EXPECT_EQ(mServer.Requests("/old"), 1);
    EXPECT_EQ(mServer.Requests("/file.bin"), 2);

    // A handle keeps its options: the next request on it asks no stale range and no stale cookie.
    ASSERT_TRUE(Download("/cookie", buffer, 0, _WEB_OPEN, handle, u"a=1"));
    EXPECT_EQ(Text(buffer), "a=1");
    ASSERT_TRUE(Download("/cookie", buffer, 0, _WEB_OPEN, handle));
    EXPECT_EQ(Text(buffer), "");
    EXPECT_EQ(mServer.Ranges("/cookie"), (std::vector<std::string>{"", ""}));
    DestroyWebHandle(handle);
}

TEST_F(WebTransferTest, RedirectsToOtherSchemesAreRefused)
{
    Vexel::Test::TempDir dir;
    Vexel::Test::WriteBytes(dir / "secret.txt", "secret");
    mServer.AddRedirect("/sneaky", "file://" + (dir / "secret.txt").string());
    ByteBuffer buffer;
    EXPECT_FALSE(Download("/sneaky", buffer));
    EXPECT_TRUE(buffer.empty());
}

TEST_F(WebTransferTest, RequestHeadersCookieAndAgent)
{
    WebHandle handle = CreateWebHandle();
    AppendWebHandleHeader(handle, u"X-Vexel: yes");
    AppendWebHandleHeader(handle, u"");
    ByteBuffer buffer;
    ASSERT_TRUE(Download("/headers", buffer, 0, _WEB_OPEN, handle, u"session=42; lang=en"));
    std::string headers = Text(buffer);
    EXPECT_NE(headers.find("Accept: */*"), std::string::npos) << headers;
    EXPECT_NE(headers.find("Connection: Keep-Alive"), std::string::npos) << headers;
    EXPECT_NE(headers.find("User-Agent: libcurl-agent/1.0"), std::string::npos) << headers;
    EXPECT_NE(headers.find("X-Vexel: yes"), std::string::npos) << headers;
    EXPECT_NE(headers.find("Cookie: session=42; lang=en"), std::string::npos) << headers;
    DestroyWebHandle(handle);
}

TEST_F(WebTransferTest, StreamDeliversBlocksInOrderWithTheirOffsets)
{
    std::string got;
    bool offsetsOk = true;
    bool ok = false;
    WebDownloadStream(
        mServer.WideUrl("/file.bin"),
        [&](const _byte* data, std::size_t size, _qword received)
        {
            offsetsOk = offsetsOk && received == got.size();
            got.append(reinterpret_cast<const char*>(data), size);
        },
        _WEB_NO_TIMEOUT, 100, 250100, nullptr, String(), nullptr, &ok);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(offsetsOk);
    EXPECT_EQ(got, mBody.substr(100, 250000));

    // An error page never reaches the callback.
    got.clear();
    WebDownloadStream(
        mServer.WideUrl("/status/404"),
        [&](const _byte* data, std::size_t size, _qword)
        { got.append(reinterpret_cast<const char*>(data), size); },
        _WEB_NO_TIMEOUT, 0, 10, nullptr, String(), nullptr, &ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(got.empty());
}

TEST_F(WebTransferTest, FileOutput)
{
    Vexel::Test::TempDir dir;
    File file;
    ASSERT_TRUE(file.Create(dir.Wide("out.bin")));
    bool ok = false;
    WebDownloadFile(mServer.WideUrl("/file.bin"), &file, 5000, 0, _WEB_OPEN, nullptr, String(), &mProgress,
                    &ok);
    file.Close();
    ASSERT_TRUE(ok);
    EXPECT_EQ(Vexel::Test::ReadBytes(dir / "out.bin"), mBody);
}

TEST_F(WebTransferTest, AsynchronousDownloadRetriesAndResumesUntilComplete)
{
    // The first reply breaks off halfway; the retry a second later asks only for the rest.
    mServer.SetMode("/file.bin", TestServer::Mode::LieLength, 1);
    ByteBuffer buffer;
    auto thread = WebDownload(mServer.WideUrl("/file.bin"), &buffer, _WEB_ASYNC, 0, _WEB_OPEN, nullptr,
                              String(), &mProgress);
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return thread->IsIdle(); }));
    EXPECT_EQ(mProgress.load(), 1.0f);
    thread->Stop();
    EXPECT_EQ(Text(buffer), mBody);
    auto ranges = mServer.Ranges("/file.bin");
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ(ranges[1], "bytes=" + std::to_string(mBody.size() / 2) + "-");
}

TEST_F(WebTransferTest, StopAbortsARunningTransfer)
{
    for (const char* path : {"/trickle.bin", "/silent"})
    {
        mServer.AddFile("/trickle.bin", mBody);
        mServer.SetMode("/trickle.bin", TestServer::Mode::Trickle);
        LogCapture log;
        ByteBuffer buffer;
        auto thread = WebDownload(mServer.WideUrl(path), &buffer, _WEB_ASYNC, 0, _WEB_OPEN, nullptr, String(),
                                  &mProgress);
        ASSERT_NE(thread, nullptr);
        ASSERT_TRUE(WaitUntil([&] { return mServer.Requests(path) > 0; })) << path;
        if (std::string(path) == "/silent")
            ASSERT_TRUE(WaitUntil([&] { return mServer.HeldConnections() > 0; }));
        else
            ASSERT_TRUE(WaitUntil([&] { return mProgress.load() > 0.0f; }));
        thread->Stop();
        EXPECT_LT(mProgress.load(), 1.0f) << path;
        EXPECT_TRUE(log.Contains(u"[WS] Web download aborted at thread 0x")) << path;
    }
}

TEST_F(WebTransferTest, AStalledTransferFailsWhenItsWindowHasPassed)
{
    // The rule's clock is the test's: the transfer ends exactly when that clock says the window is over.
    std::atomic<std::int64_t> time{1000};
    std::atomic<int> reads{0};
    WebHandle handle = CreateWebHandle();
    ASSERT_NE(handle, nullptr);
    SetWebHandleStallRule(handle, {_WEB_STALL_WINDOW_MS, [&]
                                   {
                                       ++reads; // before the time, so a read counted later sees a later time
                                       return time.load();
                                   }});
    mServer.SetMode("/file.bin", TestServer::Mode::Stall);
    LogCapture log;
    ByteBuffer buffer;
    std::atomic<bool> done{false};
    bool ok = true;
    std::thread transfer(
        [&]
        {
            ok = Download("/file.bin", buffer, 0, _WEB_OPEN, handle);
            done = true;
        });
    EXPECT_TRUE(WaitUntil([&] { return mServer.HeldConnections() > 0; })); // no ASSERT: join below
    // The server has sent its bytes; wait until the transfer has counted them (the progress moves off 0),
    // so the window starts at 1000 and not at a time the test sets below.
    EXPECT_TRUE(WaitUntil(
        [&]
        {
            const float progress = mProgress.load();
            return (progress > 0.0f && progress < 0.5f) || done.load();
        }));

    // The first bytes came at 1000 (the rule wants one byte per second): one millisecond short of the
    // window, two more looks at the clock and the transfer still runs.
    time = 1000 + _WEB_STALL_WINDOW_MS - 1;
    const int seen = reads.load();
    EXPECT_TRUE(WaitUntil([&] { return reads.load() > seen + 1 || done.load(); }));
    EXPECT_FALSE(done.load());

    time = 1000 + _WEB_STALL_WINDOW_MS;
    transfer.join();
    EXPECT_FALSE(ok);
    EXPECT_EQ(Text(buffer), mBody.substr(0, 100));
    EXPECT_TRUE(log.Contains(u"[WS] Web download stalled, under 1 byte per second for 10000 ms : "))
        << Vexel::Test::Narrow(log.Text());
    DestroyWebHandle(handle);
}

TEST_F(WebTransferTest, TheRestOfAFileIsTakenOnlyAsARangeOfAFileOfTheSameLength)
{
    mServer.AddFile("/longer.bin", mBody + "more");
    mServer.AddFile("/ignoring.bin", mBody);
    mServer.SetMode("/ignoring.bin", TestServer::Mode::IgnoreRange);
    const std::int64_t whole = static_cast<std::int64_t>(mBody.size());
    struct Case
    {
        const char* path;
        bool taken;
    } cases[] = {{"/file.bin", true}, {"/ignoring.bin", false}, {"/longer.bin", false}};
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.path);
        ByteBuffer buffer;
        WebCounts counts;
        auto thread =
            WebDownloadRest(mServer.WideUrl(c.path), &buffer, 1000, whole, nullptr, &mProgress, &counts);
        ASSERT_TRUE(WaitUntil([&] { return mProgress.load() >= 1.0f || counts.refused.load(); }));
        thread.reset();
        EXPECT_EQ(counts.refused.load(), !c.taken);
        // Nothing of a reply that cannot continue the bytes before is kept.
        EXPECT_EQ(Text(buffer), c.taken ? mBody.substr(1000) : std::string());
        EXPECT_EQ(mServer.Ranges(c.path)[0], "bytes=1000-" + std::to_string(whole - 1));
    }
}
