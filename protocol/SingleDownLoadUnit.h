#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "protocol/SingleShared.h"

namespace zembra {

class SingleBridge;

// Fixed pauses of the engine that are not settings; tests and benchmarks shorten them.
struct EngineTimings {
    int startupSleepMs = 700;  // after waking, before downloadEnabled is looked at
    int askPollMs = 100;       // AskOperator's sleep while waiting for the answer
};

// The worker thread that drives one phone on the single port from first contact to the reset
// jump. One instance for the life of the program: its thread is created on the first Resume
// (in the suspended state, then resumed), resumed for every later run and suspends itself at
// the end of each run (Execute's loop); it is never re-created.
//
// Threads: Resume/Suspended/destructor are called by the host's main thread; Execute runs on
// the worker. The destructor ends the thread: it requests a stop, releases an operator
// question, wakes a suspended thread and joins it. The host must keep serving (or have shut
// down) its MainThread while the destructor joins a running worker, because the worker's
// bridge calls wait for the main thread.
class SingleDownLoad {
  public:
    explicit SingleDownLoad(SingleBridge& bridge, EngineTimings timings = {});
    ~SingleDownLoad();
    SingleDownLoad(const SingleDownLoad&) = delete;
    SingleDownLoad& operator=(const SingleDownLoad&) = delete;

    // Creates the thread on first use (suspended), then resumes it.
    void Resume();

    // True while the thread is suspended between runs (or not created yet).
    bool Suspended() const;

    // True once the thread has been created.
    bool Created() const;

  private:
    void Execute();
    // Suspends the calling worker until Resume or termination; false when terminating.
    bool SuspendSelf();

    SingleBridge& bridge_;
    SingleShared& shared_;
    EngineTimings timings_;

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::thread thread_;
    bool suspended_ = true;
    unsigned long resumes_ = 0;
    bool terminating_ = false;
};

}  // namespace zembra
