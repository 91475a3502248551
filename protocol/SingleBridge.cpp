#include "protocol/SingleBridge.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/Helpers.h"
#include "protocol/DebugTrace.h"
#include "protocol/PortOperations.h"

namespace zembra {

namespace {
constexpr char kOverrun[] = "패킷 수신 Over Run 입니다.";
}  // namespace

SingleBridge::SingleBridge(SingleShared& shared, PortOperations& ports, DebugTrace& trace,
                           MainThread& mainThread, AskOperatorRequest& askOperator)
    : PortSequenceHost(shared.answers),
      shared_(shared),
      ports_(ports),
      trace_(trace),
      mainThread_(mainThread),
      askOperator_(askOperator) {}

void SingleBridge::BeginRun(LinkProtocolCode mode) {
    PortSequenceHost::BeginRun(mode);
    shared_.mode.store(mode);
    overrun_ = false;
}

// ---------------------------------------------------------------- worker side

void SingleBridge::ClosePort() {
    mainThread_.RunAndWait([&] { ports_.CloseSinglePort(); });
}

void SingleBridge::SetBaud(int rate) {
    mainThread_.RunAndWait([&] { ports_.SetSingleBaud(rate); });
}

WaitResult SingleBridge::WaitResponse(long long ticks) {
    const WaitResult result = PortSequenceHost::WaitResponse(ticks);
    if (overrun_.exchange(false)) LogLine(kOverrun, COLOUR_RED);
    return result;
}

void SingleBridge::ImagesBegin() {
    shared_.downloadStartMs.store(NowMs());
    shared_.downloadRunning.store(true);
}

void SingleBridge::LinkSettled(LinkProtocolCode mode, bool rawUsbFrames) {
    PortSequenceHost::LinkSettled(mode, rawUsbFrames);
    shared_.mode.store(mode);
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

// ---------------------------------------------------------------- the port

void SingleBridge::WritePort(const std::uint8_t* bytes, std::size_t count) {
    ports_.WriteSingle(bytes, count);
}

int SingleBridge::ReadPort(int timeoutMs, int cancelHandle) {
    return ports_.ReadSingle(timeoutMs, cancelHandle);
}

int SingleBridge::PortLineGone() const {
    return ports_.singleLineGone();
}

void SingleBridge::ReceiveOnPortThread(const std::uint8_t* data, std::size_t count) {
    if (!shared_.downloadEnabled.load()) return;
    // The answer's trace line is written before the worker can see the answer, and so before
    // the line of the packet it writes next.
    trace_.TraceLine(TraceEvent::Receive, -1, data, count, shared_.downloadStartMs.load());
    if (shared_.answers.Feed(data, count).overrun) overrun_ = true;
}

}  // namespace zembra
