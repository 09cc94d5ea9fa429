// The hall download against HTTP servers on 127.0.0.1 with the fetch clock injected: a failed attempt
// waits 1, 2, 4 ... up to 30 seconds before the next, the download gives up after a few, and a download
// that comes through after failures is written as usual.
#include "LauncherTestSupport.h"
#include "Services/RemoteFetch.h"
#include "TestServer.h"

namespace Vexel::Test
{
namespace
{

class HallDownloadTest : public LauncherTest
{
protected:
    void SetUp() override
    {
        LauncherTest::SetUp();
        mState->mFetchClock = [this] { return mNow; };
    }
    void TearDown() override
    {
        mState->mHallFetch.mTask.reset();
        LauncherTest::TearDown();
    }
    // Polls until the running attempt has ended; true when it brought the file.
    bool PollAttempt()
    {
        bool done = false;
        EXPECT_TRUE(WaitUntil(
            [&]
            {
                done = PollHallDownload(*mState);
                return done || !mState->mHallFetch.mTask;
            }));
        return done;
    }

    _qword mNow = 5000000;
    TempDir mDir;
    TestServer mServer;
};

TEST_F(HallDownloadTest, FailuresBackOffAndStopAfterAFewRounds)
{
    const std::string path = "/status/500";
    StartHallDownload(*mState, mServer.WideUrl(path), mDir.Wide("hall.exe"));
    const _qword pauses[] = {1000, 2000, 4000, 8000, 16000, 30000};
    static_assert(sizeof pauses / sizeof pauses[0] == _HALL_ATTEMPTS - 1);
    for (int attempt = 1; attempt <= _HALL_ATTEMPTS; ++attempt)
    {
        EXPECT_FALSE(PollAttempt());
        EXPECT_EQ(mServer.Requests(path), attempt);
        if (attempt == _HALL_ATTEMPTS)
            break;
        EXPECT_EQ(HallRetryPause(attempt), pauses[attempt - 1]);
        // Not a moment before the pause is over.
        mNow += pauses[attempt - 1] - 1;
        EXPECT_FALSE(PollHallDownload(*mState));
        EXPECT_FALSE(mState->mHallFetch.mTask);
        mNow += 1;
        EXPECT_FALSE(PollHallDownload(*mState));
        EXPECT_TRUE(mState->mHallFetch.mTask);
    }
    EXPECT_TRUE(Logged(u"failed 7 times; no more tries until the next start"));
    // An hour later nothing more was asked.
    mNow += 3600000;
    EXPECT_FALSE(PollHallDownload(*mState));
    EXPECT_FALSE(mState->mHallFetch.mTask);
    EXPECT_EQ(mServer.Requests(path), _HALL_ATTEMPTS);
    EXPECT_FALSE(std::filesystem::exists(mDir / "hall.exe"));
}

TEST_F(HallDownloadTest, ADownloadThatComesThroughAfterFailuresIsWritten)
{
    const std::string body = "hall program " + std::string(20000, 'h');
    mServer.AddFile("/hall.exe", body);
    mServer.SetMode("/hall.exe", TestServer::Mode::LieLength, 2); // the first two attempts break off
    StartHallDownload(*mState, mServer.WideUrl("/hall.exe"), mDir.Wide("hall.exe"));
    EXPECT_FALSE(PollAttempt());
    mNow += HallRetryPause(1);
    EXPECT_FALSE(PollHallDownload(*mState));
    EXPECT_FALSE(PollAttempt());
    mNow += HallRetryPause(2);
    EXPECT_FALSE(PollHallDownload(*mState));
    EXPECT_TRUE(PollAttempt());
    EXPECT_EQ(ReadBytes(mDir / "hall.exe"), body);
    EXPECT_EQ(mServer.Requests("/hall.exe"), 3);
    EXPECT_FALSE(PollHallDownload(*mState)); // reported once
}

} // namespace
} // namespace Vexel::Test
