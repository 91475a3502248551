#include "protocol/SingleDownLoadUnit.h"

#include <chrono>

#include "platform/Helpers.h"
#include "protocol/DownloadSequence.h"
#include "protocol/SingleBridge.h"

namespace zembra {

SingleDownLoad::SingleDownLoad(SingleBridge& bridge, EngineTimings timings)
    : bridge_(bridge), shared_(bridge.shared()), timings_(timings) {
    bridge_.SetAskPollMs(timings_.askPollMs);
}

SingleDownLoad::~SingleDownLoad() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        terminating_ = true;
    }
    cv_.notify_all();
    if (!thread_.joinable()) return;
    shared_.RequestStop();
    thread_.join();
}

void SingleDownLoad::Resume() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!thread_.joinable()) {
        suspended_ = true;
        thread_ = std::thread([this] { Execute(); });
    }
    suspended_ = false;
    ++resumes_;
    cv_.notify_all();
}

bool SingleDownLoad::Suspended() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return suspended_;
}

bool SingleDownLoad::Created() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return thread_.joinable();
}

bool SingleDownLoad::SuspendSelf() {
    std::unique_lock<std::mutex> lock(mutex_);
    const unsigned long seen = resumes_;
    suspended_ = true;
    cv_.notify_all();
    cv_.wait(lock, [&] { return terminating_ || resumes_ != seen; });
    return !terminating_;
}

void SingleDownLoad::Execute() {
    // The thread starts suspended: wait for the Resume that created it.
    {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [&] { return terminating_ || !suspended_; });
        if (terminating_) return;
    }
    for (;;) {
        // Step 1: the start-up sleep, cut short only by the end of the program.
        {
            std::unique_lock<std::mutex> lock(mutex_);
            cv_.wait_for(lock, std::chrono::milliseconds(timings_.startupSleepMs),
                         [&] { return terminating_; });
        }
        if (shared_.downloadEnabled.load()) {
            const RunReport report = bridge_.Report();
            const RunOutcome outcome =
                DownloadSequence(bridge_, shared_.run, SequenceRules{}, report).Run().outcome;
            // Step 10: the end of the run, whatever the cause; the observers see it once the
            // port is closed.
            shared_.downloadRunning.store(false);
            report.Line("다운 로드 종료", COLOUR_BLUE);
            shared_.lastOutcome.store(outcome);
            const auto duration =
                static_cast<std::int64_t>(NowMs() - shared_.downloadStartMs.load());
            bridge_.ClosePort();
            report.events.RunFinished(0, RunEnd{outcome, -1, duration, bridge_.bytesWritten()});
        }
        // Step 11.
        shared_.downloadEnabled.store(false);
        if (!SuspendSelf()) return;
    }
}

}  // namespace zembra
