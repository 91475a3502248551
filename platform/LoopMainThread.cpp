#include "platform/LoopMainThread.h"

#include <algorithm>
#include <exception>
#include <utility>

namespace zembra {

// Completion of one RunAndWait call, shared by the caller and the queued task.
struct LoopMainThread::Waiter {
    std::mutex mutex;
    std::condition_variable cv;
    bool finished = false;  // fn ran (or threw)
    bool released = false;  // dropped by Shutdown without running
    std::exception_ptr error;
};

LoopMainThread::LoopMainThread() : owner_(std::this_thread::get_id()) {}

LoopMainThread::~LoopMainThread() {
    Shutdown();
}

bool LoopMainThread::IsMainThread() const {
    return owner_.load(std::memory_order_acquire) == std::this_thread::get_id();
}

void LoopMainThread::BindToCallingThread() {
    owner_.store(std::this_thread::get_id(), std::memory_order_release);
}

void LoopMainThread::RunAndWait(const std::function<void()>& fn) {
    TryRunAndWait(fn);
}

bool LoopMainThread::TryRunAndWait(const std::function<void()>& fn) {
    if (IsMainThread()) {
        fn();
        return true;
    }
    auto waiter = std::make_shared<Waiter>();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (shutDown_) return false;
        // The caller stays blocked until fn has finished, so the queued copy may refer to
        // the caller's function object.
        queue_.push_back(Task{[&fn] { fn(); }, waiter});
    }
    cv_.notify_all();
    if (queuedHook_) queuedHook_();
    std::unique_lock<std::mutex> lock(waiter->mutex);
    waiter->cv.wait(lock, [&] { return waiter->finished || waiter->released; });
    if (waiter->error) std::rethrow_exception(waiter->error);
    return waiter->finished;
}

void LoopMainThread::Post(std::function<void()> fn) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (shutDown_) return;
        queue_.push_back(Task{std::move(fn), nullptr});
    }
    cv_.notify_all();
    if (queuedHook_) queuedHook_();
}

void LoopMainThread::RunTask(Task& task) {
    if (!task.waiter) {
        // A posted function that throws ends the loop call with that exception.
        task.fn();
        return;
    }
    std::exception_ptr error;
    try {
        task.fn();
    } catch (...) {
        error = std::current_exception();
    }
    {
        std::lock_guard<std::mutex> lock(task.waiter->mutex);
        task.waiter->error = error;
        task.waiter->finished = true;
    }
    task.waiter->cv.notify_all();
}

bool LoopMainThread::TakeTask(Task& task, Clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    const unsigned long seenWakes = wakes_;
    cv_.wait_until(lock, deadline,
                   [&] { return !queue_.empty() || shutDown_ || wakes_ != seenWakes; });
    if (queue_.empty()) return false;
    task = std::move(queue_.front());
    queue_.pop_front();
    return true;
}

bool LoopMainThread::RunUntil(const std::function<bool()>& done, Clock::time_point deadline) {
    BindToCallingThread();
    for (;;) {
        if (done()) return true;
        if (Clock::now() >= deadline || IsShutDown()) return false;
        Task task;
        if (TakeTask(task, deadline)) RunTask(task);
    }
}

bool LoopMainThread::RunUntil(const std::function<bool()>& done,
                              std::chrono::milliseconds timeout) {
    return RunUntil(done, Clock::now() + timeout);
}

bool LoopMainThread::ServeUntil(const std::function<bool()>& done,
                                std::chrono::milliseconds timeout) {
    if (!IsMainThread()) return PollUntil(done, timeout);
    // done() may turn true without a queued function (another thread's state): it is looked
    // at again at least every 5 ms.
    const Clock::time_point deadline = Clock::now() + timeout;
    while (!done()) {
        const Clock::time_point now = Clock::now();
        if (now >= deadline || IsShutDown()) return false;
        RunUntil(done, std::min(deadline, now + std::chrono::milliseconds(5)));
    }
    return true;
}

void LoopMainThread::RunFor(std::chrono::milliseconds duration) {
    RunUntil([] { return false; }, duration);
}

int LoopMainThread::ProcessPending() {
    BindToCallingThread();
    std::deque<Task> batch;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        batch.swap(queue_);
    }
    int count = 0;
    while (!batch.empty()) {
        Task task = std::move(batch.front());
        batch.pop_front();
        try {
            RunTask(task);
        } catch (...) {
            // Put the rest back so that no RunAndWait caller is lost.
            bool shutDown;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                shutDown = shutDown_;
                while (!shutDown && !batch.empty()) {
                    queue_.push_front(std::move(batch.back()));
                    batch.pop_back();
                }
            }
            ReleaseWaiters(batch);
            throw;
        }
        ++count;
    }
    return count;
}

void LoopMainThread::Wake() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++wakes_;
    }
    cv_.notify_all();
}

void LoopMainThread::Shutdown() {
    std::deque<Task> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        shutDown_ = true;
        dropped.swap(queue_);
    }
    cv_.notify_all();
    ReleaseWaiters(dropped);
    // The dropped functions are destroyed here, outside the lock.
}

void LoopMainThread::ReleaseWaiters(std::deque<Task>& tasks) {
    for (Task& task : tasks) {
        if (!task.waiter) continue;
        {
            std::lock_guard<std::mutex> lock(task.waiter->mutex);
            task.waiter->released = true;
        }
        task.waiter->cv.notify_all();
    }
}

size_t LoopMainThread::PendingCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
}

bool LoopMainThread::IsShutDown() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return shutDown_;
}

}  // namespace zembra
