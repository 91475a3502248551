#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/MainThread.h"

namespace zembra {

// MainThread for the command line and the tests: a queue of functions run by a loop on the
// thread that created the object (or the last thread that called RunUntil / RunFor /
// ProcessPending).
//
// Life: the owner creates it, runs the loop when it wants queued work done, and destroys it
// (or calls Shutdown) on the same thread. Shutdown drops the queued functions and releases
// every thread blocked in RunAndWait; later RunAndWait calls return at once without running.
class LoopMainThread : public MainThread {
  public:
    using Clock = std::chrono::steady_clock;

    LoopMainThread();
    ~LoopMainThread() override;

    LoopMainThread(const LoopMainThread&) = delete;
    LoopMainThread& operator=(const LoopMainThread&) = delete;

    void RunAndWait(const std::function<void()>& fn) override;
    void Post(std::function<void()> fn) override;
    bool IsMainThread() const override;
    bool ServeUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) override;

    // Like RunAndWait, but says whether fn ran (false: the loop shut down first).
    // An exception thrown by fn is rethrown to the caller.
    bool TryRunAndWait(const std::function<void()>& fn);

    // Runs queued functions until done() is true or the deadline passes. done() is checked
    // on this thread before waiting, after each function and after each Wake. Returns done().
    bool RunUntil(const std::function<bool()>& done, Clock::time_point deadline);
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

    // Runs queued functions for the given time.
    void RunFor(std::chrono::milliseconds duration);

    // Runs the functions queued now (not those they queue) and returns how many ran.
    int ProcessPending();

    // Makes a waiting RunUntil re-check its condition.
    void Wake();

    // Drops queued functions, releases RunAndWait callers, refuses further work.
    void Shutdown();
    bool IsShutDown() const;

    // Number of queued functions (Post and RunAndWait) not yet taken by the loop.
    size_t PendingCount() const;

    // Called on the queuing thread after each function queued (Post, RunAndWait from another
    // thread): for a loop that another event loop drives. Set before other threads queue.
    void SetQueuedHook(std::function<void()> hook) { queuedHook_ = std::move(hook); }

  private:
    struct Waiter;
    struct Task {
        std::function<void()> fn;
        std::shared_ptr<Waiter> waiter;  // set for RunAndWait
    };

    void BindToCallingThread();
    // Takes the next task, waiting until one is queued, a wake arrives or the deadline passes.
    // Returns false when nothing was taken.
    bool TakeTask(Task& task, Clock::time_point deadline);
    static void RunTask(Task& task);
    static void ReleaseWaiters(std::deque<Task>& tasks);

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Task> queue_;
    std::atomic<std::thread::id> owner_;
    bool shutDown_ = false;
    unsigned long wakes_ = 0;  // counts Wake calls
    std::function<void()> queuedHook_;
};

}  // namespace zembra
