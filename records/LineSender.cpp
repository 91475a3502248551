#include "records/LineSender.h"

#include <algorithm>
#include <functional>
#include <random>

#include "platform/Helpers.h"
#include "records/LineOutbox.h"
#include "records/ServerStore.h"

namespace zembra {

LineSender::LineSender(LineSenderConfig config)
    : config_(std::move(config)), description_(ServerDescription(config_.server)) {}

LineSender::~LineSender() {
    Stop();
}

void LineSender::Start() {
    if (thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = false;
    }
    thread_ = std::thread([this] { Run(); });
}

void LineSender::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void LineSender::Wake() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        woken_ = true;
    }
    wake_.notify_all();
}

LineSenderStatus LineSender::Status() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return status_;
}

bool LineSender::Stopping() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stop_;
}

void LineSender::Publish(std::int64_t waiting, std::int64_t sent, const std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (waiting >= 0) status_.waiting = waiting;
    status_.sent = sent;
    status_.error = error;
}

namespace {

// Sends what waits, batch by batch, until nothing waits or stopping(); publish() gets the
// waiting count, the records sent so far and the error after each step. False on a failure.
bool SendBatches(
    LineOutbox& outbox, ServerStore& server, int batchSize, std::int64_t& sent,
    const std::function<bool()>& stopping,
    const std::function<void(std::int64_t, std::int64_t, const std::string&)>& publish) {
    for (;;) {
        std::int64_t waiting = 0;
        std::string error = outbox.Waiting(waiting);
        if (!error.empty() || waiting == 0) {
            publish(error.empty() ? 0 : -1, sent, error);
            return error.empty();
        }
        std::vector<DownloadRecord> batch;
        std::string storeUid;
        error = outbox.Next(batchSize, batch, storeUid);
        if (error.empty() && !batch.empty()) error = server.Push(storeUid, batch);
        if (error.empty() && !batch.empty()) error = outbox.MarkSent(batch.back().id);
        if (!error.empty()) {
            publish(waiting, sent, error);
            return false;
        }
        sent += static_cast<std::int64_t>(batch.size());
        publish(waiting - static_cast<std::int64_t>(batch.size()), sent, {});
        if (stopping && stopping()) return true;
    }
}

}  // namespace

LineSenderStatus SendWaitingRecords(const LineSenderConfig& config) {
    LineOutbox outbox(config.localPath);
    ServerStore server(config.server);
    LineSenderStatus status;
    SendBatches(outbox, server, config.batchSize, status.sent, nullptr,
                [&](std::int64_t waiting, std::int64_t, const std::string& error) {
                    if (waiting >= 0) status.waiting = waiting;
                    status.error = error;
                });
    return status;
}

void LineSender::Run() {
    LineOutbox outbox(config_.localPath);
    ServerStore server(config_.server, [this] { return Stopping(); });
    std::minstd_rand jitter(std::random_device{}());
    std::chrono::milliseconds retry = config_.firstRetry;
    std::int64_t sent = 0;
    for (;;) {
        const bool ok = SendBatches(
            outbox, server, config_.batchSize, sent, [this] { return Stopping(); },
            [this](std::int64_t waiting, std::int64_t total, const std::string& error) {
                Publish(waiting, total, error);
            });
        std::chrono::milliseconds wait = config_.idlePoll;
        if (ok) {
            retry = config_.firstRetry;
        } else {
            // A line of stations that lost its server does not come back all at once.
            wait = retry + std::chrono::milliseconds(jitter() % (retry.count() / 4 + 1));
            retry = std::min(retry * 2, config_.lastRetry);
        }
        // Until the wait is over: a wake (a new record) sends at once when the last attempt
        // worked; during a retry wait it only updates the count of records waiting.
        const auto until = std::chrono::steady_clock::now() + wait;
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait_until(lock, until, [this] { return stop_ || woken_; });
            if (stop_) return;
            if (!woken_) break;
            woken_ = false;
            if (ok) break;
            lock.unlock();
            std::int64_t waiting = 0;
            if (outbox.Waiting(waiting).empty()) Publish(waiting, sent, Status().error);
            lock.lock();
        }
    }
}

std::string LineStatusText(const std::string& server, const LineSenderStatus& status) {
    std::string text = "line server " + server + ": ";
    text += status.waiting < 0
                ? std::string("records not looked at yet")
                : FormatText("%lld record%s waiting", static_cast<long long>(status.waiting),
                             status.waiting == 1 ? "" : "s");
    if (!status.error.empty()) text += " (retrying: " + status.error + ")";
    return text;
}

}  // namespace zembra
