#include "app/QtMainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <exception>

namespace zembra {

namespace {

// One RunAndWait call. The queued event owns a Completion; when the event is destroyed,
// whether after running or dropped unrun, the waiting caller is released.
struct Call {
    bool finished = false;
    bool ran = false;
    std::exception_ptr error;
};

void Report(const std::function<void(const std::string&)>& reporter, const std::string& message) {
    if (reporter)
        reporter(message);
    else
        std::fprintf(stderr, "zembra: %s\n", message.c_str());
}

}  // namespace

QtMainThread::QtMainThread()
    : state_(std::make_shared<State>()),
      reporter_(std::make_shared<std::function<void(const std::string&)>>()),
      context_(new QObject) {
    if (QCoreApplication* app = QCoreApplication::instance()) {
        QObject::connect(app, &QCoreApplication::aboutToQuit, context_, [this] { Shutdown(); });
    }
}

QtMainThread::~QtMainThread() {
    Shutdown();
    delete context_;  // drops the queued functions that have not run; their waiters are free
}

void QtMainThread::Shutdown() {
    std::lock_guard lock(state_->mutex);
    state_->shutdown = true;
    state_->changed.notify_all();
}

bool QtMainThread::IsMainThread() const {
    return QThread::currentThread() == context_->thread();
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

void QtMainThread::RunAndWait(const std::function<void()>& fn) {
    TryRunAndWait(fn);
}

bool QtMainThread::TryRunAndWait(const std::function<void()>& fn) {
    if (IsMainThread()) {
        fn();
        return true;
    }
    auto state = state_;
    auto call = std::make_shared<Call>();
    {
        std::lock_guard lock(state->mutex);
        if (state->shutdown) return false;
    }
    // Signals the caller when the queued event goes away, run or not.
    struct Completion {
        std::shared_ptr<State> state;
        std::shared_ptr<Call> call;
        Completion(std::shared_ptr<State> s, std::shared_ptr<Call> c)
            : state(std::move(s)), call(std::move(c)) {}
        Completion(const Completion&) = delete;
        Completion& operator=(const Completion&) = delete;
        ~Completion() {
            std::lock_guard lock(state->mutex);
            call->finished = true;
            state->changed.notify_all();
        }
    };
    auto completion = std::make_shared<Completion>(state, call);
    QMetaObject::invokeMethod(
        context_,
        [completion, fn] {
            {
                std::lock_guard lock(completion->state->mutex);
                if (completion->state->shutdown) return;
            }
            try {
                fn();
            } catch (...) {
                completion->call->error = std::current_exception();
            }
            completion->call->ran = true;
        },
        Qt::QueuedConnection);
    completion.reset();  // from now on only the queued event holds it

    std::unique_lock lock(state->mutex);
    state->changed.wait(lock, [&] { return call->finished || state->shutdown; });
    if (!call->finished) return false;  // shut down first; the event is dropped unrun
    if (call->error) std::rethrow_exception(call->error);
    return call->ran;
}

void QtMainThread::Post(std::function<void()> fn) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->shutdown) return;
    }
    auto reporter = reporter_;
    QMetaObject::invokeMethod(
        context_,
        [fn = std::move(fn), reporter] {
            try {
                fn();
            } catch (const std::exception& e) {
                Report(*reporter, e.what());
            } catch (...) {
                Report(*reporter, "Unknown error");
            }
        },
        Qt::QueuedConnection);
}

void QtMainThread::SetErrorReporter(std::function<void(const std::string&)> reporter) {
    *reporter_ = std::move(reporter);
}

}  // namespace zembra
