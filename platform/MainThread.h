#pragma once

#include <chrono>
#include <functional>

namespace zembra {

// The one way worker and receive threads reach "the main thread": the thread that owns
// the window (or the console loop), every port write and every receive handler.
// The window implements it on the Qt event loop; the command line and the tests use
// LoopMainThread (platform/LoopMainThread.h).
class MainThread {
  public:
    virtual ~MainThread() = default;

    // Runs fn on the main thread and returns once it has finished. Called on the main
    // thread itself, fn runs at once. When the main thread shuts down before fn has run,
    // the caller is released without fn having run (it never stays blocked).
    virtual void RunAndWait(const std::function<void()>& fn) = 0;

    // Queues fn to run on the main thread and returns at once. Functions posted after
    // shutdown are dropped.
    virtual void Post(std::function<void()> fn) = 0;

    // True when the calling thread is the main thread.
    virtual bool IsMainThread() const = 0;

    // Keeps the main thread serving while its caller waits for something: called on the
    // main thread, runs the work queued for it (in the window: its events) until done() is
    // true or the timeout has passed; called on another thread, only waits. done() is looked
    // at every few milliseconds. Returns done().
    virtual bool ServeUntil(const std::function<bool()>& done,
                            std::chrono::milliseconds timeout) = 0;
};

// Waits until done() is true or the timeout has passed, looking every millisecond; returns
// done(). (ServeUntil off the main thread.)
bool PollUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// The process-wide main thread used by components that are not handed one explicitly
// (the serial port component, the engines). The host (window, command line, test) sets it
// once at start-up and clears it (nullptr) before the object dies. Thread-safe.
void SetProcessMainThread(MainThread* mainThread);

// The main thread set by SetProcessMainThread, or nullptr when none is set.
MainThread* ProcessMainThread();

}  // namespace zembra
