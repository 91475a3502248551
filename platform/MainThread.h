#pragma once

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
    // thread itself, fn runs at once.
    virtual void RunAndWait(const std::function<void()>& fn) = 0;

    // Queues fn to run on the main thread and returns at once.
    virtual void Post(std::function<void()> fn) = 0;

    // True when the calling thread is the main thread.
    virtual bool IsMainThread() const = 0;
};

}  // namespace zembra
