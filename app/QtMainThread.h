#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "platform/LoopMainThread.h"
#include "platform/MainThread.h"

class QObject;

namespace zembra {

// MainThread on the Qt event loop of the thread that creates the object (the GUI thread): a
// LoopMainThread whose queue a queued Qt event drains on the main thread. RunAndWait blocks until
// its function has run (or has been dropped, see below); on the main thread itself it calls the
// function at once.
//
// Life: created on the main thread after QApplication, destroyed there before it. Shutdown
// (called by the destructor and when the application is about to quit) releases every thread
// blocked in RunAndWait; functions that have not run by then are dropped, and later calls
// return at once without running. An exception thrown by a function run for RunAndWait is
// rethrown to the waiting caller.
class QtMainThread : public LoopMainThread {
  public:
    QtMainThread();
    ~QtMainThread() override;

    QtMainThread(const QtMainThread&) = delete;
    QtMainThread& operator=(const QtMainThread&) = delete;

    // On the main thread: processes the window's events (queued functions included).
    bool ServeUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) override;

    // Where an error thrown by a posted function goes (nobody waits for it): the window shows
    // it like any error escaping a handler. Without a reporter it is written to stderr.
    // Set on the main thread before functions are posted.
    void SetErrorReporter(std::function<void(const std::string&)> reporter) {
        reporter_ = std::move(reporter);
    }

  private:
    // Runs the queued functions (main thread); a posted function's error is reported.
    void Drain();

    std::function<void(const std::string&)> reporter_;
    std::atomic<bool> drainQueued_{false};
    QObject* context_;  // lives on the main thread; the drain events are delivered to it
};

}  // namespace zembra
