#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "protocol/PacketCodec.h"
#include "protocol/ResponseReceiver.h"
#include "protocol/RunEvents.h"
#include "protocol/SequenceHost.h"

namespace zembra {

// The longest command payload that is framed.
inline constexpr std::size_t COMMAND_BUFFER_SIZE = 1023;

// What the single engine's bridge and a multi worker do alike as hosts of the download
// sequence on their phone's port: commands framed for the link in force, frames written with
// what came in meanwhile taken in first, the wait for the answer (in the worker's own read of
// the port where the port can do that, else on the answer assembly's condition variable) and
// the red line of a port whose device is gone, once per run. The engine gives the port.
//
// Threads: everything here runs on the worker that runs the sequence, except the answer
// assembly's feeding (the engine's receive side) and responsesTaken().
class PortSequenceHost : public SequenceHost {
  public:
    std::size_t SendCommand(const std::uint8_t* command, std::size_t length) override;
    std::uint8_t* FrameBuffer() override { return frame_.get(); }
    std::size_t WriteFrame(std::size_t length) override;
    WaitResult WaitResponse(long long ticks) override;
    const std::vector<std::uint8_t>& Response() const override { return answers_.Response(); }
    void LinkSettled(LinkProtocolCode mode, bool rawUsbFrames) override;

    // Responses taken by WaitResponse over the host's life (for diagnostics and tests).
    std::uint64_t responsesTaken() const { return responsesTaken_.load(); }
    // Bytes written to the port since the run began (the worker's, read once its run is over).
    std::uint64_t bytesWritten() const { return bytesWritten_; }

  protected:
    explicit PortSequenceHost(ResponseReceiver& answers);

    // A new run on mode (before its worker starts): the answer assembly emptied, the port's
    // line-gone notice armed again, the bytes written counted from nothing.
    void BeginRun(LinkProtocolCode mode);
    // The worker reads its port itself (ReadPort); set before any run.
    void SetWorkerReads(bool on) { workerReads_ = on; }

    // The phone's port. WritePort throws the port component's error when the write fails.
    virtual void WritePort(const std::uint8_t* bytes, std::size_t count) = 0;
    // With SetWorkerReads: waits up to timeoutMs for bytes (or until cancelHandle is
    // signalled) and hands them to the answer assembly; the byte count, 0 for none, -1 once
    // the device is gone.
    virtual int ReadPort(int timeoutMs, int cancelHandle) = 0;
    // The system's error number once the port's device is gone, else 0.
    virtual int PortLineGone() const = 0;
    // The wait ends as Stopped.
    virtual bool WaitStopped() const = 0;
    // The run's observer and slot.
    virtual RunReport Report() const = 0;

  private:
    // Writes count bytes of the frame buffer; the bytes written (0 when the write failed:
    // its red line is logged and the worker's wait ends without an answer).
    std::size_t Write(std::size_t count);

    ResponseReceiver& answers_;
    PacketCodec codec_;
    std::unique_ptr<std::uint8_t[]> frame_;
    LinkProtocolCode mode_ = INITIAL_LINK_PROTOCOL;
    bool rawUsbFrames_ = false;
    bool workerReads_ = false;
    bool lineGoneReported_ = false;
    std::uint64_t bytesWritten_ = 0;
    // NowMs when the last wait read its answer (0: not since the last write); a write this
    // soon after does not look for bytes that came meanwhile first.
    double answerReadMs_ = 0;
    static constexpr double kFreshAnswerMs = 10;
    std::atomic<std::uint64_t> responsesTaken_{0};
};

}  // namespace zembra
