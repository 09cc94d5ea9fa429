#include "Storage/WorkerThread.h"

#include "Common/Assert.h"

#include <chrono>

namespace Vexel
{

WorkerThread::~WorkerThread()
{
    Stop();
}

bool WorkerThread::AddJob(Job job)
{
    if (!job)
        return false;
    {
        // Checked under the lock: a job queued after Stop's final clear would never run nor be refused.
        std::lock_guard<std::mutex> lock(mLock);
        if (IsStopping())
            return false;
        mJobs.push_back(std::move(job));
        mWake = true;
    }
    mSignal.notify_all();
    return true;
}

bool WorkerThread::Start(int interval, bool suspended)
{
    if (mThread.joinable())
        return true;
    {
        std::lock_guard<std::mutex> lock(mLock);
        mStarted = false;
        mResumed = !suspended;
        mWake = false;
    }
    mInterval.store(interval < 0 ? _DEFAULT_INTERVAL : interval, std::memory_order_release);
    try
    {
        mThread = std::thread([this] { Run(); });
    }
    catch (const std::system_error&)
    {
        return false;
    }
    if (!suspended)
    {
        std::unique_lock<std::mutex> lock(mLock);
        mSignal.wait(lock, [this] { return mStarted; });
    }
    return true;
}

void WorkerThread::Resume()
{
    {
        std::lock_guard<std::mutex> lock(mLock);
        mResumed = true;
    }
    mSignal.notify_all();
}

void WorkerThread::Stop()
{
    if (!mThread.joinable())
        return;
    mInterval.store(_STOPPING, std::memory_order_release);
    mSignal.notify_all();
    // A job stopping its own thread cannot wait for itself; the owner's later Stop joins.
    if (!VEXEL_ASSERT_TEXT(mThread.get_id() != std::this_thread::get_id(), u"Stop from the worker itself"))
        return;
    {
        // Taking the lock orders the store above before the thread's next wait begins.
        std::lock_guard<std::mutex> lock(mLock);
    }
    mSignal.notify_all();
    mThread.join();
    std::lock_guard<std::mutex> lock(mLock);
    mJobs.clear();
}

void WorkerThread::Wake()
{
    {
        std::lock_guard<std::mutex> lock(mLock);
        mWake = true;
    }
    mSignal.notify_all();
}

bool WorkerThread::Wait(int ms)
{
    std::unique_lock<std::mutex> lock(mLock);
    return WaitLocked(lock, ms);
}

bool WorkerThread::WaitLocked(std::unique_lock<std::mutex>& lock, int ms)
{
    mSignal.wait_for(lock, std::chrono::milliseconds(ms), [this] { return mWake || IsStopping(); });
    mWake = false;
    return !IsStopping();
}

std::unique_ptr<WorkerThread> WorkerThread::StartSingleJob(Job job)
{
    auto thread = std::make_unique<WorkerThread>();
    if (!thread->Start(_DEFAULT_INTERVAL, true))
        return nullptr;
    if (!thread->AddJob(std::move(job)))
        return nullptr;
    thread->Resume();
    return thread;
}

void WorkerThread::Run()
{
    {
        std::unique_lock<std::mutex> lock(mLock);
        mStarted = true;
        mSignal.notify_all();
        mSignal.wait(lock, [this] { return mResumed || IsStopping(); });
    }
    while (!IsStopping())
    {
        std::size_t count;
        {
            std::lock_guard<std::mutex> lock(mLock);
            count = mJobs.size();
        }
        mIdle.store(count == 0, std::memory_order_release);
        for (std::size_t i = 0; i < count && !IsStopping(); ++i)
        {
            Job job;
            {
                std::lock_guard<std::mutex> lock(mLock);
                if (mJobs.empty())
                    break;
                job = std::move(mJobs.front());
                mJobs.pop_front();
            }
            if (job(*this) && !IsStopping())
            {
                std::lock_guard<std::mutex> lock(mLock);
                mJobs.push_back(std::move(job));
            }
        }
        if (IsStopping())
            break;
        int interval = mInterval.load(std::memory_order_relaxed);
        std::unique_lock<std::mutex> lock(mLock);
        // A finished job shows at once, not only at the next pass.
        if (mJobs.empty())
            mIdle.store(true, std::memory_order_release);
        WaitLocked(lock, count == 0 ? interval * 10 : interval);
    }
}

} // namespace Vexel
