#include "multi/MSBDLU.h"

#include <chrono>

#include "multi/MultiHost.h"
#include "platform/Helpers.h"
#include "platform/MainThread.h"

namespace zembra {

namespace {

long long NowWholeMs() {
    return static_cast<long long>(NowMs());
}

}  // namespace

MultiSingleBoxDLU::MultiSingleBoxDLU(MainThread& mainThread, MultiPortOps& ports,
                                     std::function<void(int slot)> runEnded, LzoShared& lzo,
                                     const MultiStartTiming& timing)
    : PortSequenceHost(receiver_),
      mainThread_(mainThread),
      ports_(ports),
      runEnded_(std::move(runEnded)),
      compressor_(lzo, 0),
      timing_(timing) {
    thread_ = std::thread([this] { ThreadMain(); });
}

MultiSingleBoxDLU::~MultiSingleBoxDLU() {
    {
        std::lock_guard<std::mutex> lock(threadMutex_);
        terminate_ = true;
    }
    terminating_.store(true);
    threadCv_.notify_all();
    receiver_.WakeWaiter();
    if (thread_.joinable()) thread_.join();
}

void MultiSingleBoxDLU::Configure(const MultiWorkerConfig& config) {
    config_ = config;
    compressor_.SetSlot(config.slot);
    runState_.store(RUN_IDLE);
    BeginRun(config.run.snapshot.linkProtocol);
}

void MultiSingleBoxDLU::Resume() {
    {
        std::lock_guard<std::mutex> lock(threadMutex_);
        ++resumeCount_;
    }
    threadCv_.notify_all();
}

bool MultiSingleBoxDLU::RequestStop() {
    int expected = RUN_RUNNING;
    const bool stopped = runState_.compare_exchange_strong(expected, RUN_STOP_REQUESTED);
    if (stopped) {
        receiver_.WakeWaiter();
        { std::lock_guard<std::mutex> lock(threadMutex_); }
        threadCv_.notify_all();
    }
    return stopped;
}

void MultiSingleBoxDLU::SetRunning() {
    runState_.store(RUN_RUNNING);
}

// ---- thread --------------------------------------------------------------------------

void MultiSingleBoxDLU::ThreadMain() {
    unsigned long seen = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(threadMutex_);
            threadCv_.wait(lock, [&] { return terminate_ || resumeCount_ != seen; });
            if (terminate_) return;
            seen = resumeCount_;
        }
        Execute();
    }
}

void MultiSingleBoxDLU::SleepMs(int ms) {
    if (ms <= 0) return;
    std::unique_lock<std::mutex> lock(threadMutex_);
    // A stop ends the sleep at once (RequestStop notifies under the same mutex).
    threadCv_.wait_for(lock, std::chrono::milliseconds(ms),
                       [&] { return terminate_ || runState_.load() == RUN_STOP_REQUESTED; });
}

// One pass of the worker's loop, from its wake-up to the point where it suspends itself.
void MultiSingleBoxDLU::Execute() {
    SleepMs(timing_.wakeDelayMs);
    const int slot = config_.slot;
    const int state = runState_.load();
    const RunReport report = Report();
    SequenceEnd outcome;
    if (state == RUN_RUNNING) {
        endCode_.store(END_IN_PROGRESS);
        startMs_.store(NowWholeMs());
        endMs_.store(0);
        SleepMs(slot * timing_.staggerMs);
        startMs_.store(NowWholeMs());
        outcome =
            DownloadSequence(*this, config_.run, MultiWorkerRules(config_.versionCheck), report)
                .Run();
        endCode_.store(SlotEndCode(outcome));
    }
    // A slot stopped before its run began still ends as stopped, with its line, and its port
    // (opened by the Start) is closed.
    if (state != RUN_IDLE) {
        endMs_.store(NowWholeMs());
        if (!StopRequested()) {
            report.Line("다운 로드 종료", COLOUR_BLUE);
        } else {
            endCode_.store(END_STOPPED);
            report.Line("케이블을 제거 하세요", COLOUR_RED);
        }
        CloseSlotPort();
        // A slot stopped before its run began has no duration.
        if (state == RUN_STOP_REQUESTED) outcome.outcome = RunOutcome::Stopped;
        const long long duration = state == RUN_RUNNING ? endMs_.load() - startMs_.load() : 0;
        report.events.RunFinished(
            report.slot, RunEnd{outcome.outcome, endCode_.load(), duration, bytesWritten()});
    }
    // Nothing of the configuration is touched after this store: the next Start may
    // configure the worker as soon as it sees runState 0.
    runState_.store(RUN_IDLE);
    // Posted after runState 0, so that a host waiting for the end looks again once it has
    // run. The notice may run after this worker (and its multi download) went away: it only
    // runs while the worker lives.
    mainThread_.Post([this, alive = std::weak_ptr<char>(lifeToken_), slot] {
        if (alive.lock() && runEnded_) runEnded_(slot);
    });
}

// ---- bridge --------------------------------------------------------------------------

void MultiSingleBoxDLU::WritePort(const std::uint8_t* bytes, std::size_t count) {
    ports_.WriteMulti(config_.slot, bytes, count);
}

int MultiSingleBoxDLU::ReadPort(int timeoutMs, int cancelHandle) {
    return ports_.ReadMulti(config_.slot, timeoutMs, cancelHandle);
}

int MultiSingleBoxDLU::PortLineGone() const {
    return ports_.multiLineGone(config_.slot);
}

void MultiSingleBoxDLU::CloseSlotPort() {
    if (!terminating_.load()) mainThread_.RunAndWait([&] { ports_.CloseMultiPort(config_.slot); });
}

// ---- receive path --------------------------------------------------------------------

void MultiSingleBoxDLU::ReceiveBytes(const std::uint8_t* data, std::size_t count) {
    if (runState_.load() == RUN_IDLE) return;
    receiver_.Feed(data, count);
}

}  // namespace zembra
