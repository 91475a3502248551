#include "protocol/PortSequenceHost.h"

#include <algorithm>
#include <exception>

#include "platform/Helpers.h"

namespace zembra {

PortSequenceHost::PortSequenceHost(ResponseReceiver& answers)
    : answers_(answers), frame_(new std::uint8_t[kFrameBufferSize]()) {}

void PortSequenceHost::BeginRun(LinkProtocolCode mode) {
    mode_ = mode;
    rawUsbFrames_ = false;
    lineGoneReported_ = false;
    bytesWritten_ = 0;
    answerReadMs_ = 0;
    answers_.Reset();
}

void PortSequenceHost::LinkSettled(LinkProtocolCode mode, bool rawUsbFrames) {
    mode_ = mode;
    rawUsbFrames_ = rawUsbFrames;
}

std::size_t PortSequenceHost::SendCommand(const std::uint8_t* command, std::size_t length) {
    return Write(BuildCommandFrame(frame_.get(), command, std::min(length, COMMAND_BUFFER_SIZE),
                                   (mode_ >> 8) == (USB_AUTO >> 8),
                                   mode_ == USB_PPV && rawUsbFrames_, codec_));
}

std::size_t PortSequenceHost::WriteFrame(std::size_t length) {
    return Write(std::min(length, kFrameBufferSize));
}

std::size_t PortSequenceHost::Write(std::size_t count) {
    // What has come in meanwhile is taken in first, so that it is not taken for this
    // packet's answer. Right after a wait that read its answer there is no meanwhile (the
    // packets of a block follow one another so), and the read would only cost a system call.
    const bool justAnswered = answerReadMs_ > 0 && NowMs() - answerReadMs_ < kFreshAnswerMs;
    answerReadMs_ = 0;
    while (workerReads_ && !justAnswered && ReadPort(0, -1) > 0) {
    }
    answers_.ClearArrived();
    try {
        WritePort(frame_.get(), count);
        bytesWritten_ += count;
        return count;
    } catch (const std::exception& error) {
        Report().Line(FormatText("포트 쓰기 오류: %s", error.what()), COLOUR_RED);
        return 0;
    }
}

WaitResult PortSequenceHost::WaitResponse(long long ticks) {
    const auto stopped = [this] { return WaitStopped(); };
    const WaitResult result =
        workerReads_
            ? answers_.WaitReading(ticks, stopped,
                                   [this](int ms) { return ReadPort(ms, answers_.CancelHandle()); })
            : answers_.Wait(ticks, stopped, [this] { return PortLineGone() != 0; });
    if (result == WaitResult::NoResponse) {
        const int gone = PortLineGone();
        if (gone != 0 && !lineGoneReported_) {
            lineGoneReported_ = true;
            Report().Line(
                FormatText("통신포트 연결이 끊어졌습니다 (%s)", ErrorNumberText(gone).c_str()),
                COLOUR_RED);
        }
    }
    if (result == WaitResult::Arrived) {
        ++responsesTaken_;
        if (workerReads_) answerReadMs_ = NowMs();
    }
    return result;
}

}  // namespace zembra
