#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "multi/LzoShared.h"
#include "protocol/DownloadSequence.h"
#include "protocol/PortSequenceHost.h"
#include "protocol/ResponseReceiver.h"
#include "protocol/RunEvents.h"
#include "protocol/SequenceHost.h"
#include "protocol/SlotEnd.h"

namespace zembra {

class MainThread;
class MultiPortOps;

// runState values.
inline constexpr int RUN_IDLE = 0;
inline constexpr int RUN_STOP_REQUESTED = 1;
inline constexpr int RUN_RUNNING = 2;

// What the multi Start writes into a worker before each run: the job and settings copy
// (the code entry of the addresses is always 0; the mode always a USB one).
struct MultiWorkerConfig {
    DownloadRun run;
    bool versionCheck = true;
    int slot = 0;
    RunEvents* events = nullptr;  // the run's observer (its slot number is slot + 1)
};

// Delays before a worker's first packet: wakeDelayMs after it is resumed, then
// slot x staggerMs. Tests may shorten them.
struct MultiStartTiming {
    int wakeDelayMs = 700;
    int staggerMs = 200;
};

// The worker's answer assembly, made before the host part that waits on it.
struct SlotReceiver {
    // Receive side: the port's tap cuts frames, WaitResponse takes them.
    ResponseReceiver receiver_;
};

// The worker thread of one multi slot. It drives one phone on its slot's port through the
// download sequence (protocol/DownloadSequence.h, with the multi rules): it writes its
// packets itself (the port component has its own lock) and tells its run to the run's observer
// (slot + 1); the closing of its port runs on the main thread, which it waits for.
//
// Life: created suspended (its thread waits for Resume) by the multi download, resumed for
// every run, suspends itself at the end of each run; the destructor ends the thread (it
// must not be called while the main thread is needed by a running worker, see
// MultiDownload's destructor).
class MultiSingleBoxDLU : private SlotReceiver, private PortSequenceHost {
  public:
    // runEnded(slot) is posted to the main thread after each run's end (runState 0 again);
    // it is dropped once the worker is gone.
    MultiSingleBoxDLU(MainThread& mainThread, MultiPortOps& ports,
                      std::function<void(int slot)> runEnded, LzoShared& lzo,
                      const MultiStartTiming& timing);
    ~MultiSingleBoxDLU() override;
    MultiSingleBoxDLU(const MultiSingleBoxDLU&) = delete;
    MultiSingleBoxDLU& operator=(const MultiSingleBoxDLU&) = delete;

    // Main thread, while the worker is idle: the job and settings copy of the next run;
    // runState := 0, rawUsbFrames := 0, the receive accumulator emptied.
    void Configure(const MultiWorkerConfig& config);

    // Wakes the suspended thread for one run (a no-op while a run is going on).
    void Resume();

    // Main thread: runState := 1 when the worker runs (2). Returns true when it did.
    bool RequestStop();
    // Main thread: runState := 2 (the multi Start releases the worker).
    void SetRunning();

    // The receive handler of the slot's port: cuts a response frame out of the bytes
    // (ResponseReceiver). Bytes arriving while the worker is idle are dropped. On the main
    // thread, or on the thread of the port's tap (its receive thread, or this worker's
    // reads).
    void ReceiveBytes(const std::uint8_t* data, std::size_t count);
    // Main thread, before the first run: the worker reads its port itself (MultiPortOps::
    // ReadMulti, the port's tap set to ReceiveBytes) while it waits and before each write.
    using PortSequenceHost::SetWorkerReads;

    // Status read by the status tick (any thread).
    int runState() const { return runState_.load(); }
    // True while the worker sleeps in WaitResponse for its phone's answer.
    bool waitingForResponse() const { return receiver_.waiting(); }
    int endCode() const { return endCode_.load(); }
    // NowMs (whole ms) when the current/last sequence began and ended (0 before).
    long long startMs() const { return startMs_.load(); }
    long long endMs() const { return endMs_.load(); }

    // The worker's wait (public for the receive-path tests): a response taken even when a
    // stop is pending; Stopped on runState 1 or when the worker is being ended.
    using PortSequenceHost::WaitResponse;
    // The last frame WaitResponse took (code first).
    using PortSequenceHost::Response;
    using PortSequenceHost::responsesTaken;

  private:
    void ThreadMain();
    void Execute();

    // SequenceHost, on the worker thread.
    void ImagesBegin() override {}
    bool StopRequested() const override { return runState_.load() == RUN_STOP_REQUESTED; }
    void SetBaud(int) override {}  // the Start opened the port at 57,600 bit/s
    void Pause(int ms) override { SleepMs(ms); }
    int AskOperator(const std::string&, const std::string&, int) override { return 0; }
    LzoCompressor& Compressor() override { return compressor_; }
    double DurationOriginMs() const override { return static_cast<double>(startMs_.load()); }

    // PortSequenceHost: the slot's port.
    void WritePort(const std::uint8_t* bytes, std::size_t count) override;
    int ReadPort(int timeoutMs, int cancelHandle) override;
    int PortLineGone() const override;
    bool WaitStopped() const override {
        return runState_.load() == RUN_STOP_REQUESTED || terminating_.load();
    }
    // The run's observer and slot number.
    RunReport Report() const override {
        return RunReport{config_.events ? *config_.events : NoRunEvents(), config_.slot + 1};
    }
    // Closes the slot's port on the main thread and returns once it is closed (nothing once
    // the worker is being ended).
    void CloseSlotPort();
    // Sleeps; returns early only when the thread is being ended.
    void SleepMs(int ms);

    MainThread& mainThread_;
    MultiPortOps& ports_;
    std::function<void(int)> runEnded_;
    SlotLzoCompressor compressor_;
    const MultiStartTiming timing_;

    // Expires with the worker; guards the end-of-run notice posted to the main thread.
    std::shared_ptr<char> lifeToken_ = std::make_shared<char>(0);

    // Thread control.
    std::thread thread_;
    std::mutex threadMutex_;
    std::condition_variable threadCv_;
    unsigned long resumeCount_ = 0;  // guarded by threadMutex_
    bool terminate_ = false;         // guarded by threadMutex_
    std::atomic<bool> terminating_{false};

    // Job and settings copy (written by Configure while the worker is idle).
    MultiWorkerConfig config_;

    // Status published for the status tick.
    std::atomic<int> runState_{RUN_IDLE};
    std::atomic<long long> startMs_{0};
    std::atomic<long long> endMs_{0};
    std::atomic<int> endCode_{0};
};

}  // namespace zembra
