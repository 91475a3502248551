#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/MainThread.h"
#include "protocol/AskOperator.h"
#include "protocol/LzoCompressor.h"
#include "protocol/PortSequenceHost.h"
#include "protocol/RunEvents.h"
#include "protocol/SequenceHost.h"
#include "protocol/SingleShared.h"

namespace zembra {

class PortOperations;
class DebugTrace;

// The seam between the single engine's worker thread and the main thread.
//
// Worker: the run's lines and marks go to the run's observer (SingleShared::events) on the
// worker; SetBaud and ClosePort run their port work on the main thread and wait for it
// (MainThread::RunAndWait). Packets are written and answers waited for on the worker itself
// (PortSequenceHost; the port has its own lock).
// ReceiveOnPortThread (the port's tap: the receive thread, or the worker reading): the trace
// line first, then the answer assembly, so an answer's line always precedes the next packet's.
// An overrun of the answer assembly is logged by the worker at its next wait.
//
// Life: owned by the program's host for the program's life, with the shared state, the port
// operations and the main thread it refers to.
class SingleBridge : public PortSequenceHost {
  public:
    SingleBridge(SingleShared& shared, PortOperations& ports, DebugTrace& trace,
                 MainThread& mainThread, AskOperatorRequest& askOperator);

    SingleBridge(const SingleBridge&) = delete;
    SingleBridge& operator=(const SingleBridge&) = delete;

    // ---- main-thread side ----
    // A new run on mode (the worker suspended): the receive side emptied.
    void BeginRun(LinkProtocolCode mode);
    using PortSequenceHost::SetWorkerReads;

    // ---- worker side ----
    // The run's observer and slot 0 (lines outside a run go to the same observer).
    RunReport Report() const override {
        return RunReport{shared_.events ? *shared_.events : NoRunEvents(), 0};
    }
    void LogLine(const std::string& text, std::uint32_t colour) { Report().Line(text, colour); }
    // Closes the port on the main thread (the end of a run).
    void ClosePort();
    void SetBaud(int rate) override;
    // As PortSequenceHost's, then the line of an overrun of the answer assembly.
    WaitResult WaitResponse(long long ticks) override;
    // downloadStartMs restarts and downloadRunning is set.
    void ImagesBegin() override;
    bool StopRequested() const override { return shared_.stopRequested.load(); }
    void LinkSettled(LinkProtocolCode mode, bool rawUsbFrames) override;
    void Pause(int ms) override;
    int AskOperator(const std::string& text, const std::string& caption, int style) override {
        return askOperator_.Ask(text, caption, style, askPollMs_);
    }
    LzoCompressor& Compressor() override { return compressor_; }
    double DurationOriginMs() const override { return shared_.downloadStartMs.load(); }
    void SetAskPollMs(int ms) { askPollMs_ = ms; }

    // ---- the single port's tap ----
    void ReceiveOnPortThread(const std::uint8_t* data, std::size_t count);

    SingleShared& shared() { return shared_; }

  private:
    void WritePort(const std::uint8_t* bytes, std::size_t count) override;
    int ReadPort(int timeoutMs, int cancelHandle) override;
    int PortLineGone() const override;
    bool WaitStopped() const override { return shared_.stopRequested.load(); }

    SingleShared& shared_;
    PortOperations& ports_;
    DebugTrace& trace_;
    MainThread& mainThread_;
    AskOperatorRequest& askOperator_;
    OwnLzoCompressor compressor_;

    // Worker only.
    int askPollMs_ = 100;
    static constexpr int kPauseSliceMs = 10;
    // The answer assembly overran (set by the receive side, logged by the worker).
    std::atomic<bool> overrun_{false};
};

}  // namespace zembra
