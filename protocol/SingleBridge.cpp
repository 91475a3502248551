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

SingleBridge::SingleBridge(SingleShared& shared, DownloadHost& host, PortOperations& ports,
                           DebugTrace& trace, MainThread& mainThread,
                           AskOperatorRequest& askOperator)
    : shared_(shared),
      host_(host),
      ports_(ports),
      trace_(trace),
      mainThread_(mainThread),
      askOperator_(askOperator) {}

// ---------------------------------------------------------------- worker side

void SingleBridge::LogLine(const std::string& text, std::uint32_t colour) {
    OnMainThread([&] { host_.LogSingle(text, colour); });
}

std::size_t SingleBridge::SendCommand(const std::uint8_t* command, std::size_t length) {
    const LinkProtocolCode mode = shared_.mode.load();
    return DoWrite(outputBuffer(),
                   BuildCommandFrame(outputBuffer(), command, std::min(length, COMMAND_BUFFER_SIZE),
                                     (mode >> 8) == (USB_AUTO >> 8),
                                     mode == USB_PPV && shared_.rawUsbFrames.load(), codec_));
}

void SingleBridge::FinishRun() {
    OnMainThread([&] {
        ports_.CloseSinglePort();
        host_.GiveControlsBack();
    });
}

void SingleBridge::ShowProgress(std::uint8_t percent, std::int64_t fileOffset) {
    // Posted, not waited for: the worker needs nothing back from the display. Only changes
    // are shown, and a new offset alone at most every kProgressIntervalMs (a fast link
    // changes it every packet): at most about a hundred percentages and twenty offsets a
    // second reach the main thread.
    const bool percentChanged = !progressShown_ || percent != lastPercent_;
    if (!percentChanged && fileOffset == lastOffset_) return;
    const double now = NowMs();
    if (!percentChanged && now - lastProgressPostMs_ < kProgressIntervalMs) return;
    progressShown_ = true;
    lastPercent_ = percent;
    lastOffset_ = fileOffset;
    lastProgressPostMs_ = now;
    mainThread_.Post([this, alive = std::weak_ptr<char>(lifeToken_), percent, fileOffset] {
        if (!alive.expired()) DoShowProgress(percent, fileOffset);
    });
}

void SingleBridge::ImageStarted(int slot) {
    progressShown_ = false;
    OnMainThread([&] {
        host_.SetGauge(0);
        host_.SetMarker(slot, SENDING);
        host_.SetTitle(TITLE_ERASE);
        host_.SetAddressText("");
    });
}

void SingleBridge::ImageDone(int slot) {
    OnMainThread([&] {
        host_.SetGauge(100);
        host_.SetMarker(slot, SENT);
        host_.SetTitle(TITLE_IDLE);
        host_.SetAddressText("");
    });
}

void SingleBridge::ResetMarkers() {
    OnMainThread([&] {
        for (int slot = 0; slot < ImageSlot::Count; ++slot) host_.SetMarker(slot, NOT_SENT);
        host_.SetTitle(TITLE_IDLE);
        host_.SetAddressText("");
    });
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
    if (result == WaitResult::NoResponse) ReportLineGone(ports_.singleLineGone());
    return result;
}

void SingleBridge::Mark(SequenceMark mark, int slot) {
    switch (mark) {
        case SequenceMark::ImagesBegin:
            shared_.downloadStartMs.store(NowMs());
            shared_.downloadRunning.store(true);
            break;
        case SequenceMark::ImageStarted:
            ImageStarted(slot);
            break;
        case SequenceMark::EraseEnded:
            break;
        case SequenceMark::ImageDone:
            ImageDone(slot);
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
    Log(LineGoneText(error), COLOUR_RED);
}

int SingleBridge::AskOperator(const std::string& text, const std::string& caption, int style,
                              int pollMs) {
    return askOperator_.Ask(text, caption, style, pollMs);
}

// ---------------------------------------------------------------- packet writes
// On the worker thread: the port has its own lock, and the main thread is not needed for a
// write. A failed write is still reported on the main thread (LogLine).

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

// ---------------------------------------------------------------- main-thread side

void SingleBridge::DoShowProgress(std::uint8_t percent, std::int64_t fileOffset) {
    host_.SetGauge(percent);
    host_.SetTitle(FormatText("%d%% Zembra 4", percent));
    host_.SetAddressText(FormatText("0x%08X", static_cast<std::uint32_t>(fileOffset)));
}

void SingleBridge::ResetReceiver() {
    shared_.answers.Reset();
    lineGoneReported_ = false;
}

void SingleBridge::VaCommSingleRxBuf(void* /*sender*/, const std::uint8_t* data,
                                     std::size_t count) {
    if (!shared_.downloadEnabled.load()) return;
    if (receivePath_ == ReceivePath::MainThread && TraceAndFeed(data, count))
        host_.LogSingle(kOverrun, COLOUR_RED);
}

bool SingleBridge::TraceAndFeed(const std::uint8_t* data, std::size_t count) {
    // The answer's trace line is written before the worker can see the answer, and so before
    // the line of the packet it writes next.
    trace_.TraceLine(TraceEvent::Receive, -1, data, count, shared_.downloadStartMs.load());
    return shared_.answers.Feed(data, count).overrun;
}

void SingleBridge::ReceiveOnPortThread(const std::uint8_t* data, std::size_t count) {
    if (!shared_.downloadEnabled.load()) return;
    if (TraceAndFeed(data, count))
        mainThread_.Post([this, alive = std::weak_ptr<char>(lifeToken_)] {
            if (!alive.expired()) host_.LogSingle(kOverrun, COLOUR_RED);
        });
}

}  // namespace zembra
