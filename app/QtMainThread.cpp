#include "app/QtMainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <exception>

namespace zembra {

QtMainThread::QtMainThread() : context_(new QObject) {
    // One drain event at a time is enough: a drain takes every function queued before it.
    SetQueuedHook([this] {
        if (!drainQueued_.exchange(true))
            QMetaObject::invokeMethod(
                context_, [this] { Drain(); }, Qt::QueuedConnection);
    });
    if (QCoreApplication* app = QCoreApplication::instance()) {
        QObject::connect(app, &QCoreApplication::aboutToQuit, context_, [this] { Shutdown(); });
    }
}

QtMainThread::~QtMainThread() {
    Shutdown();
    delete context_;  // drops a drain event that has not run
}

void QtMainThread::Drain() {
    // Cleared first: a function queued from now on asks for the next drain.
    drainQueued_ = false;
    for (;;) {
        std::string error;
        try {
            ProcessPending();
            return;
        } catch (const std::exception& e) {
            error = e.what();
        } catch (...) {
            error = "Unknown error";
        }
        // The functions after the failed one are still queued: the loop goes on with them.
        if (reporter_) {
            reporter_(error);
        } else {
            std::fprintf(stderr, "zembra: %s\n", error.c_str());
        }
    }
}

bool QtMainThread::ServeUntil(const std::function<bool()>& done,
                              std::chrono::milliseconds timeout) {
    if (!IsMainThread()) return PollUntil(done, timeout);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        // processEvents returns at once when nothing is queued: do not spin.
        QThread::msleep(1);
    }
    return true;
}

}  // namespace zembra
