#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "multi/MultiHost.h"
#include "protocol/PortOperations.h"

namespace zembra {

class DebugTrace;
class MainThread;
class TVaComm;
class TVaBuffer;

// The window's nine serial port components and their port operations: VaCommSingle with the
// single-port operations (PortOperations) and VaComm1 ... VaComm8 with the multi ones
// (MultiPortOps); the received bytes reach the engines through each port's tap. Each port has
// a TVaBuffer attached, as in the window.
//
// Published values: VaCommSingle 57,600 bit/s, no flow control, DTR disabled, receive thread
// priority highest; VaComm1-8 no flow control, priority highest (other values as the
// component's defaults).
//
// Every write goes through the debug trace first ("[W:...]" lines; multi lines carry the
// channel). The elapsed field of the trace counts from *traceOrigin (downloadStartMs).
//
// Threads: opening, closing and the settings on the main thread (the ports' MainThread: the
// process main thread unless SetMainThread is called); each port's writes and reads also on
// the worker that runs it. Life: owned by the host; closes its ports on destruction.
class VaCommPorts : public PortOperations, public MultiPortOps {
  public:
    explicit VaCommPorts(DebugTrace& trace, MainThread* mainThread = nullptr);
    ~VaCommPorts() override;
    VaCommPorts(const VaCommPorts&) = delete;
    VaCommPorts& operator=(const VaCommPorts&) = delete;

    void SetTraceOrigin(const std::atomic<double>* downloadStartMs) {
        traceOrigin_ = downloadStartMs;
    }

    // Single port.
    void OpenSinglePort() override;
    void CloseSinglePort() override;
    void SetSinglePortName(int n) override;
    void SetSinglePortDevice(const std::string& deviceName) override;
    void SetSingleBaud(int rate) override;
    void WriteSingle(const std::uint8_t* bytes, std::size_t count) override;
    bool singlePortOpen() const override { return singlePortOpen_; }
    int singleLineGone() const override;
    void SetSingleReceiveTap(
        std::function<void(const std::uint8_t* data, std::size_t count)> tap) override;
    bool SetSingleTapReads(bool on) override;
    int ReadSingle(int timeoutMs, int cancelHandle) override;

    // Multi ports (channel 0-7). OpenMultiPort throws the component's error; CloseMultiPort
    // never throws; WriteMulti throws when the write fails.
    void OpenMultiPort(int channel) override;
    void CloseMultiPort(int channel) override;
    void SetMultiPortName(int channel, const std::string& portName) override;
    void SetMultiBaud(int channel, int rate) override;
    void WriteMulti(int channel, const std::uint8_t* bytes, std::size_t count) override;
    void ClearMultiPortOpen(int channel) override;
    bool multiPortOpen(int channel) const;
    // Any thread: TVaComm::LineGone of the channel's port (0 while it is closed).
    int multiLineGone(int channel) const override;
    void SetMultiReceiveTap(
        int channel, std::function<void(const std::uint8_t* data, std::size_t count)> tap) override;
    bool SetMultiTapReads(int channel, bool on) override;
    int ReadMulti(int channel, int timeoutMs, int cancelHandle) override;

    TVaComm& VaCommSingle() { return *single_; }
    TVaComm& VaCommMulti(int channel) const { return *multi_[static_cast<std::size_t>(channel)]; }

  private:
    double TraceOrigin() const { return traceOrigin_ ? traceOrigin_->load() : 0.0; }
    // Open and close with the port's open flag of this class (set only once Open succeeded;
    // a close never throws).
    static void OpenPort(TVaComm& port, bool& open);
    static void ClosePort(TVaComm& port, bool& open);
    static void Write(TVaComm& port, const std::uint8_t* bytes, std::size_t count);
    static void SetBaud(TVaComm& port, int rate);
    static void SetTap(TVaComm& port,
                       std::function<void(const std::uint8_t* data, std::size_t count)> tap);

    DebugTrace& trace_;
    const std::atomic<double>* traceOrigin_ = nullptr;
    std::unique_ptr<TVaComm> single_;
    std::unique_ptr<TVaBuffer> singleBuffer_;
    std::array<std::unique_ptr<TVaComm>, MULTI_SLOT_COUNT> multi_;
    std::array<std::unique_ptr<TVaBuffer>, MULTI_SLOT_COUNT> multiBuffers_;
    bool singlePortOpen_ = false;
    std::array<bool, MULTI_SLOT_COUNT> multiPortOpen_{};
};

}  // namespace zembra
