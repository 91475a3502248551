#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/MainThread.h"
#include "protocol/AskOperator.h"
#include "protocol/LzoCompressor.h"
#include "protocol/PacketCodec.h"
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
// (MainThread::RunAndWait). Packet writes are done on the worker itself (the port has its own
// lock). WaitResponse sleeps until the answer has come: in the port's read (SetWorkerReads),
// else on the answer assembly's condition variable.
// ReceiveOnPortThread (the port's tap: the receive thread, or the worker reading): the trace
// line first, then the answer assembly, so an answer's line always precedes the next packet's.
// An overrun of the answer assembly is logged by the worker at its next wait.
//
// Life: owned by the program's host for the program's life, with the shared state, the port
// operations and the main thread it refers to.
class SingleBridge : public SequenceHost {
  public:
    SingleBridge(SingleShared& shared, PortOperations& ports, DebugTrace& trace,
                 MainThread& mainThread, AskOperatorRequest& askOperator);

    SingleBridge(const SingleBridge&) = delete;
    SingleBridge& operator=(const SingleBridge&) = delete;

    // ---- worker side ----
    // The run's observer and slot 0 (lines outside a run go to the same observer).
    RunReport Report() const {
        return RunReport{shared_.events ? *shared_.events : NoRunEvents(), 0};
    }
    void LogLine(const std::string& text, std::uint32_t colour) { Report().Line(text, colour); }
    // Frames at most COMMAND_BUFFER_SIZE command bytes for the link and writes them.
    std::size_t SendCommand(const std::uint8_t* command, std::size_t length) override;
    // Closes the port on the main thread (the end of a run).
    void ClosePort();
    // The observer has the progress; the bridge itself shows nothing.
    void ShowProgress(std::uint8_t, std::int64_t) override {}
    void SetBaud(int rate) override;

    // Waits up to ticks milliseconds: Arrived when a response arrived (taken even when a stop
    // is pending; it is then in Response()), Stopped on a stop request, NoResponse when the
    // ticks ran out. ticks <= 0 gives NoResponse at once.
    WaitResult WaitResponse(long long ticks) override;

    // The response taken by the last WaitResponse that gave Arrived, without the opening
    // flag: its first byte is the response code.
    const std::vector<std::uint8_t>& Response() const override {
        return shared_.answers.Response();
    }

    // The rest of the download sequence's host (SequenceHost).
    std::uint8_t* FrameBuffer() override { return outputBuffer(); }
    std::size_t WriteFrame(std::size_t length) override {
        return DoWrite(outputBuffer(), std::min(length, kFrameBufferSize));
    }
    void Mark(SequenceMark mark, int slot) override;
    bool StopRequested() const override { return shared_.stopRequested.load(); }
    void LinkSettled(LinkProtocolCode mode, bool rawUsbFrames) override;
    void Pause(int ms) override;
    int AskOperator(const std::string& text, const std::string& caption, int style) override {
        return AskOperator(text, caption, style, askPollMs_);
    }
    LzoCompressor& Compressor() override { return compressor_; }
    double DurationOriginMs() const override { return shared_.downloadStartMs.load(); }

    // The operator question (worker side): sleeps until the main thread's tick has answered.
    int AskOperator(const std::string& text, const std::string& caption, int style, int pollMs);
    void SetAskPollMs(int ms) { askPollMs_ = ms; }

    // The output buffer the block routines fill before WriteFrame.
    std::uint8_t* outputBuffer() { return shared_.outputBuffer.data(); }

    // ---- the single port's tap ----
    // The worker reads the port itself while it waits and before each write (else the port's
    // receive thread hands the bytes over); set once, before any run.
    void SetWorkerReads(bool on) { workerReads_ = on; }
    void ReceiveOnPortThread(const std::uint8_t* data, std::size_t count);

    // Empties the receive accumulator (a new run, a new port).
    void ResetReceiver();

    SingleShared& shared() { return shared_; }

    // Bytes the receiver has discarded (outside a frame, after a closing flag, outgrown).
    std::uint64_t discardedBytes() const { return shared_.answers.discardedBytes(); }

  private:
    // Runs work on the main thread and waits for it.
    void OnMainThread(const std::function<void()>& work) { mainThread_.RunAndWait(work); }
    // The received bytes' trace line, then the answer assembly; true on an overrun.
    bool TraceAndFeed(const std::uint8_t* data, std::size_t count);
    // On the worker: takes in what has come meanwhile (not this packet's answer), then writes;
    // the bytes written (0 when the write failed).
    std::size_t DoWrite(const std::uint8_t* bytes, std::size_t count);

    SingleShared& shared_;
    PortOperations& ports_;
    DebugTrace& trace_;
    MainThread& mainThread_;
    AskOperatorRequest& askOperator_;
    PacketCodec codec_;
    OwnLzoCompressor compressor_;

    bool workerReads_ = false;
    bool workerReads() const { return workerReads_; }

    // Worker only.
    int askPollMs_ = 100;
    // The line "the port is gone" of this run was logged (worker; reset by ResetReceiver).
    bool lineGoneReported_ = false;
    static constexpr int kPauseSliceMs = 10;
    void ReportLineGone(int error);
    // The answer assembly overran (set by the receive side, logged by the worker).
    std::atomic<bool> overrun_{false};
};

}  // namespace zembra
