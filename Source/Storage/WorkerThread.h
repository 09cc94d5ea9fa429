// The job-queue thread of the transports: a queue of jobs run in passes, with a sleep between passes.
// A job returns true to run again in the next pass (it goes to the back of the queue) or false when it
// is done. Sleeps wait on a condition variable, so Stop and Wake end them at once.
#pragma once

#include "Common/String.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace Vexel
{

class WorkerThread
{
public:
    using Job = std::function<bool(WorkerThread& thread)>;

    static constexpr int _DEFAULT_INTERVAL = 100;
    static constexpr int _STOPPING = -1;

    WorkerThread() = default;
    // Stops the thread.
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Appends a job. False when refused: an empty job, or the thread is stopping (from Stop until the
    // next Start), so the job would never run.
    [[nodiscard]] bool AddJob(Job job);
    // Starts the thread when none runs. Not suspended: returns once the thread runs. Suspended: the
    // thread waits for Resume before its first pass.
    bool Start(int interval, bool suspended);
    void Resume();
    // Asks the thread to end, waits for it, and drops the jobs still queued.
    void Stop();

    bool IsStopping() const noexcept { return mInterval.load(std::memory_order_acquire) == _STOPPING; }
    // Set at the start of each pass: no job was queued.
    bool IsIdle() const noexcept { return mIdle.load(std::memory_order_acquire); }
    bool IsRunning() const noexcept { return mThread.joinable(); }
    int GetInterval() const noexcept { return mInterval.load(std::memory_order_relaxed); }
    // Identifies the thread in log lines.
    const void* GetHandle() const noexcept { return this; }

    // Ends the current or next sleep of the thread early (more work arrived).
    void Wake();
    // For jobs: waits until ms pass, Wake is called or the thread is stopping. False when stopping.
    bool Wait(int ms);

    // A thread made for one job: started suspended with the default interval, given the job, resumed.
    static std::unique_ptr<WorkerThread> StartSingleJob(Job job);

private:
    void Run();
    bool WaitLocked(std::unique_lock<std::mutex>& lock, int ms);

    std::thread mThread;
    std::atomic<int> mInterval{_DEFAULT_INTERVAL};
    std::atomic<bool> mIdle{false};

    std::mutex mLock;
    std::condition_variable mSignal;
    std::deque<Job> mJobs;
    bool mStarted = false;
    bool mResumed = false;
    bool mWake = false;
};

} // namespace Vexel
