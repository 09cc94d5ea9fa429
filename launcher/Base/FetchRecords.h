// The asynchronous transfers the main thread polls (the remote fetches own them): the main record (plug-in,
// server information, program download), the hall download's record and its attempts, and the clock of
// their stall and pause rules. The loader host keeps a record of the same kind for the module.
#pragma once

#include "Common/Compression.h"
#include "Common/String.h"
#include "Storage/WorkerThread.h"

#include <atomic>
#include <functional>
#include <memory>

namespace Vexel
{

// Kinds of fetch on the main record.
constexpr int _FETCH_NONE = 0;
constexpr int _FETCH_PLUGIN = 2;
constexpr int _FETCH_SERVER_INFO = 3;
constexpr int _FETCH_PROGRAM = 5;

// One asynchronous transfer polled by the main thread. The worker writes only the buffer and the
// progress; the buffer is read after the progress reached 1.0 and the task was deleted.
struct FetchRecord
{
    FetchRecord() = default;
    // The task goes first: its worker writes into the buffer and the progress.
    ~FetchRecord() { mTask.reset(); }
    FetchRecord(const FetchRecord&) = delete;
    FetchRecord& operator=(const FetchRecord&) = delete;

    std::atomic<float> mProgress{0.0f};
    ByteBuffer mBuffer;
    String mTargetPath; // written when done; empty keeps the bytes in memory
    int mKind = _FETCH_NONE;
    _qword mStallStart = 0; // milliseconds; 0 while progress is being made
    std::unique_ptr<WorkerThread> mTask;
};

// The hall download's attempts: one transfer at a time, failures spaced out by a growing pause.
struct HallRetry
{
    String mUrl;
    int mFailures = 0;
    _qword mNextAttempt = 0;                    // milliseconds; 0 while none is waiting
    std::shared_ptr<std::atomic<int>> mOutcome; // 0 running, 1 done, -1 failed
    bool mGivenUp = false;
};

struct FetchRecords
{
    FetchRecord mMainFetch;
    FetchRecord mHallFetch;
    HallRetry mHallRetry;
    std::function<_qword()> mFetchClock; // milliseconds; null: the steady clock
};

} // namespace Vexel
