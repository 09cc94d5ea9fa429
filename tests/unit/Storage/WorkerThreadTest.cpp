#include "Storage/WorkerThread.h"

#include "TestServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

using namespace Vexel;
using Vexel::Test::WaitUntil;

TEST(WorkerThreadTest, JobsRunInOrderAndRepeatUntilDone)
{
    WorkerThread thread;
    std::mutex lock;
    std::vector<int> calls;
    std::atomic<int> doneJobs{0};
    auto job = [&](int id, int runs)
    {
        auto left = std::make_shared<int>(runs);
        return [&, id, left](WorkerThread&)
        {
            {
                std::lock_guard<std::mutex> guard(lock);
                calls.push_back(id);
            }
            if (--*left > 0)
                return true;
            ++doneJobs;
            return false;
        };
    };
    // Both jobs wait in the queue before the thread starts, so the first pass sees both.
    ASSERT_TRUE(thread.AddJob(job(1, 3)));
    ASSERT_TRUE(thread.AddJob(job(2, 1)));
    ASSERT_TRUE(thread.Start(1, false));
    ASSERT_TRUE(WaitUntil([&] { return doneJobs == 2; }));
    ASSERT_TRUE(WaitUntil([&] { return thread.IsIdle(); }));
    std::lock_guard<std::mutex> guard(lock);
    // A repeated job goes to the back of the queue: 1 and 2 in the first pass, then 1 alone.
    EXPECT_EQ(calls, (std::vector<int>{1, 2, 1, 1}));
}

TEST(WorkerThreadTest, StopEndsAWaitingJob)
{
    WorkerThread thread;
    ASSERT_TRUE(thread.Start(WorkerThread::_DEFAULT_INTERVAL, false));
    std::atomic<bool> waiting{false};
    std::atomic<bool> sawStop{false};
    ASSERT_TRUE(thread.AddJob(
        [&](WorkerThread& self)
        {
            waiting = true;
            // Long waits that only Stop ends.
            while (self.Wait(600000))
            {
            }
            sawStop = true;
            return true;
        }));
    ASSERT_TRUE(WaitUntil([&] { return waiting.load(); }));
    thread.Stop();
    EXPECT_TRUE(sawStop);
    EXPECT_TRUE(thread.IsStopping());
    EXPECT_FALSE(thread.IsRunning());
}

TEST(WorkerThreadTest, JobsAreRefusedWhileStoppedAndTakenBeforeTheFirstStart)
{
    WorkerThread thread;
    std::atomic<int> early{0};
    // Before any start a job waits in the queue for the thread.
    EXPECT_TRUE(thread.AddJob([&](WorkerThread&) { return ++early, false; }));
    EXPECT_FALSE(thread.AddJob(WorkerThread::Job()));
    ASSERT_TRUE(thread.Start(1, false));
    ASSERT_TRUE(WaitUntil([&] { return early == 1; }));
    thread.Stop();

    std::atomic<bool> refusedRan{false};
    EXPECT_FALSE(thread.AddJob([&](WorkerThread&) { return refusedRan = true, false; }));

    // Started again, the thread runs new jobs; the refused one was never queued, so it does not run
    // before them.
    ASSERT_TRUE(thread.Start(1, false));
    std::atomic<bool> laterRan{false};
    ASSERT_TRUE(thread.AddJob([&](WorkerThread&) { return laterRan = true, false; }));
    ASSERT_TRUE(WaitUntil([&] { return laterRan.load(); }));
    EXPECT_FALSE(refusedRan);
    EXPECT_EQ(early, 1);
}

TEST(WorkerThreadTest, SingleJobThreadBecomesIdleWhenItsJobEnds)
{
    std::atomic<bool> release{false};
    auto thread = WorkerThread::StartSingleJob(
        [&](WorkerThread& self)
        {
            while (!release && self.Wait(5))
            {
            }
            return false;
        });
    ASSERT_NE(thread, nullptr);
    EXPECT_FALSE(thread->IsIdle());
    release = true;
    EXPECT_TRUE(WaitUntil([&] { return thread->IsIdle(); }));
    thread->Stop();
}

TEST(WorkerThreadTest, WakeEndsTheSleepBetweenPasses)
{
    WorkerThread thread;
    // An interval long enough that only Wake can bring the second run within the test's limit.
    ASSERT_TRUE(thread.Start(60000, false));
    std::atomic<int> runs{0};
    ASSERT_TRUE(thread.AddJob(
        [&](WorkerThread&)
        {
            ++runs;
            return true;
        }));
    ASSERT_TRUE(WaitUntil([&] { return runs >= 1; }));
    int before = runs;
    thread.Wake();
    EXPECT_TRUE(WaitUntil([&] { return runs > before; }));
}
