#include "protocol/SingleBridge.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>

#include "job/ImageSlot.h"
#include "platform/Helpers.h"
#include "protocol/DebugTrace.h"
#include "protocol/PortOperations.h"
#include "protocol/ProtocolCodes.h"

namespace zembra {

namespace {
constexpr char kOverrun[] = "패킷 수신 Over Run 입니다.";
}  // namespace

SingleBridge::SingleBridge(SingleShared& shared, PortOperations& ports, DebugTrace& trace,
                           MainThread& mainThread, AskOperatorRequest& askOperator)
    : shared_(shared),
      ports_(ports),
      trace_(trace),
      mainThread_(mainThread),
      askOperator_(askOperator) {}

// ---------------------------------------------------------------- worker side

std::size_t SingleBridge::SendCommand(const std::uint8_t* command, std::size_t length) {
    const LinkProtocolCode mode = shared_.mode.load();
    return DoWrite(outputBuffer(),
                   BuildCommandFrame(outputBuffer(), command, std::min(length, COMMAND_BUFFER_SIZE),
                                     (mode >> 8) == (USB_AUTO >> 8),
                                     mode == USB_PPV && shared_.rawUsbFrames.load(), codec_));
}

void SingleBridge::ClosePort() {
    OnMainThread([&] { ports_.CloseSinglePort(); });
}

void SingleBridge::SetBaud(int rate) {
    OnMainThread([&] { ports_.SetSingleBaud(rate); });
}

WaitResult SingleBridge::WaitResponse(long long ticks) {
    const auto stopped = [this] { return shared_.stopRequested.load(); };
    const WaitResult result =
        workerReads()
            ? shared_.answers.WaitReading(
                  ticks, stopped,
                  [this](int ms) { return ports_.ReadSingle(ms, shared_.answers.CancelHandle()); })
            : shared_.answers.Wait(ticks, stopped, [this] { return ports_.singleLineGone() != 0; });
    if (overrun_.exchange(false)) LogLine(kOverrun, COLOUR_RED);
    if (result == WaitResult::NoResponse) ReportLineGone(ports_.singleLineGone());
    return result;
}

void SingleBridge::Mark(SequenceMark mark, int) {
    switch (mark) {
        case SequenceMark::ImagesBegin:
            shared_.downloadStartMs.store(NowMs());
            shared_.downloadRunning.store(true);
            break;
        case SequenceMark::ImageStarted:
        case SequenceMark::EraseEnded:
        case SequenceMark::ImageDone:
            break;
    }
}

void SingleBridge::LinkSettled(LinkProtocolCode mode, bool rawUsbFrames) {
    shared_.mode.store(mode);
    shared_.rawUsbFrames.store(rawUsbFrames);
}

void SingleBridge::Pause(int ms) {
    // In short slices, so that a stop is seen at once whatever the pause.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!shared_.stopRequested.load()) {
        const auto left = end - std::chrono::steady_clock::now();
        if (left <= std::chrono::nanoseconds::zero()) return;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            left, std::chrono::milliseconds(kPauseSliceMs)));
    }
}

void SingleBridge::ReportLineGone(int error) {
    if (error == 0 || lineGoneReported_) return;
    lineGoneReported_ = true;
    LogLine(LineGoneText(error), COLOUR_RED);
}

int SingleBridge::AskOperator(const std::string& text, const std::string& caption, int style,
                              int pollMs) {
    return askOperator_.Ask(text, caption, style, pollMs);
}

// ---------------------------------------------------------------- packet writes
// On the worker thread: the port has its own lock, and the main thread is not needed for a
// write.

std::size_t SingleBridge::DoWrite(const std::uint8_t* bytes, std::size_t count) {
    // What has come in meanwhile is taken in first, so that it is not taken for this
    // packet's answer.
    while (workerReads() && ports_.ReadSingle(0, -1) > 0) {
    }
    shared_.answers.ClearArrived();
    try {
        ports_.WriteSingle(bytes, count);
        return count;
    } catch (const std::exception& e) {
        // The packet did not go out; the worker's wait ends without an answer.
        LogLine(FormatText("포트 쓰기 오류: %s", e.what()), COLOUR_RED);
        return 0;
    }
}

// ---------------------------------------------------------------- receive side

void SingleBridge::ResetReceiver() {
    shared_.answers.Reset();
    lineGoneReported_ = false;
    overrun_ = false;
}

bool SingleBridge::TraceAndFeed(const std::uint8_t* data, std::size_t count) {
    // The answer's trace line is written before the worker can see the answer, and so before
    // the line of the packet it writes next.
    trace_.TraceLine(TraceEvent::Receive, -1, data, count, shared_.downloadStartMs.load());
    return shared_.answers.Feed(data, count).overrun;
}

void SingleBridge::ReceiveOnPortThread(const std::uint8_t* data, std::size_t count) {
    if (!shared_.downloadEnabled.load()) return;
    if (TraceAndFeed(data, count)) overrun_ = true;
}

}  // namespace zembra
