#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/MainThread.h"

class QObject;

namespace zembra {

// MainThread on the Qt event loop of the thread that creates the object (the GUI thread).
// Other threads hand functions to that loop as queued events; RunAndWait then blocks on a
// condition variable until the function has run (or has been dropped, see below). On the main
// thread itself RunAndWait calls the function at once.
//
// Life: created on the main thread after QApplication, destroyed there before it. Shutdown
// (called by the destructor and when the application is about to quit) releases every thread
// blocked in RunAndWait; functions that have not run by then are dropped, and later calls
// return at once without running. An exception thrown by a function run for RunAndWait is
// rethrown to the waiting caller.
class QtMainThread : public MainThread {
  public:
    QtMainThread();
    ~QtMainThread() override;

    QtMainThread(const QtMainThread&) = delete;
    QtMainThread& operator=(const QtMainThread&) = delete;

    void RunAndWait(const std::function<void()>& fn) override;
    void Post(std::function<void()> fn) override;
    bool IsMainThread() const override;
    // On the main thread: processes the window's events (queued functions included).
    bool ServeUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) override;

    // Like RunAndWait, but says whether fn ran (false: the loop shut down first).
    bool TryRunAndWait(const std::function<void()>& fn);

    void Shutdown();

    // Where an error thrown by a posted function goes (nobody waits for it): the window shows
    // it like any error escaping a handler. Without a reporter it is written to stderr.
    // Set on the main thread before functions are posted.
    void SetErrorReporter(std::function<void(const std::string&)> reporter);

  private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        bool shutdown = false;
    };
    std::shared_ptr<State> state_;
    std::shared_ptr<std::function<void(const std::string&)>> reporter_;
    QObject* context_;  // lives on the main thread; queued functions are delivered to it
};

}  // namespace zembra
