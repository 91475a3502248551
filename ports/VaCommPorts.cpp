#include "ports/VaCommPorts.h"

#include "platform/Helpers.h"
#include "protocol/DebugTrace.h"
#include "serial/Vabuffer.h"
#include "serial/Vacomm.h"

namespace zembra {

namespace {

bool ValidChannel(int channel) {
    return channel >= 0 && channel < MULTI_SLOT_COUNT;
}

// No port here has a handler for "output queue empty": watching for it would wake the
// receive thread after every packet written and have it wait for a round trip through the
// main thread that does nothing.
const TVaCommEvents kWatchedEvents{ceError, ceRxChar};

}  // namespace

VaCommPorts::VaCommPorts(DebugTrace& trace, MainThread* mainThread)
    : trace_(trace), single_(new TVaComm), singleBuffer_(new TVaBuffer) {
    // The values that every port here has; the single port's own ones follow.
    auto setUp = [mainThread](TVaComm& port, TVaBuffer& buffer, std::string name) {
        port.Name = std::move(name);
        port.SetFlowControl(fcNone);
        port.SetPriority(tpHighest);
        port.SetMonitorEvents(kWatchedEvents);
        if (mainThread != nullptr) port.SetMainThread(mainThread);
        buffer.SetComm(&port);
    };
    setUp(*single_, *singleBuffer_, "VaCommSingle");
    single_->SetBaudrate(br57600);
    single_->SetPortNum(1);
    single_->SetDTRControl(dtrDisable);
    for (int channel = 0; channel < MULTI_SLOT_COUNT; ++channel) {
        const auto index = static_cast<std::size_t>(channel);
        multi_[index].reset(new TVaComm);
        multiBuffers_[index].reset(new TVaBuffer);
        setUp(*multi_[index], *multiBuffers_[index], FormatText("VaComm%d", channel + 1));
    }
}

VaCommPorts::~VaCommPorts() {
    CloseSinglePort();
    for (int channel = 0; channel < MULTI_SLOT_COUNT; ++channel) CloseMultiPort(channel);
    // The buffers detach themselves from their ports when destroyed (before the ports).
    singleBuffer_.reset();
    for (auto& buffer : multiBuffers_) buffer.reset();
}

void VaCommPorts::SetBaud(TVaComm& port, int rate) {
    // Only the download's three rates; any other leaves the port as it is.
    TVaBaudrate value;
    if ((rate == 57600 || rate == 115200 || rate == 256000) && BaudrateFromValue(rate, value))
        port.SetBaudrate(value);
}

void VaCommPorts::OpenPort(TVaComm& port, bool& open) {
    if (open) return;
    port.Open();
    open = true;
}

void VaCommPorts::ClosePort(TVaComm& port, bool& open) {
    if (!open) return;
    open = false;
    try {
        port.Close();
    } catch (...) {
        HandleApplicationException();
    }
}

void VaCommPorts::Write(TVaComm& port, const std::uint8_t* bytes, std::size_t count) {
    if (count == 0) return;
    const int written = port.WriteBuf(bytes, static_cast<int>(count));
    if (written != static_cast<int>(count))
        throw EVaCommError(
            FormatText("Write incomplete (%d of %d bytes)", written, static_cast<int>(count)));
}

// ---------------------------------------------------------------- single port

void VaCommPorts::OpenSinglePort() {
    OpenPort(*single_, singlePortOpen_);
}

void VaCommPorts::CloseSinglePort() {
    ClosePort(*single_, singlePortOpen_);
}

void VaCommPorts::SetSinglePortName(int n) {
    single_->SetDeviceName(FormatText("\\\\.\\COM%d", n));
}

void VaCommPorts::SetSinglePortDevice(const std::string& deviceName) {
    single_->SetDeviceName(deviceName);
}

void VaCommPorts::SetSingleBaud(int rate) {
    SetBaud(*single_, rate);
}

void VaCommPorts::WriteSingle(const std::uint8_t* bytes, std::size_t count) {
    trace_.TraceLine(TraceEvent::Write, -1, bytes, count, TraceOrigin());
    Write(*single_, bytes, count);
}

void VaCommPorts::SetSingleReceiveTap(
    std::function<void(const std::uint8_t* data, std::size_t count)> tap) {
    SetTap(*single_, std::move(tap));
}

void VaCommPorts::SetTap(TVaComm& port,
                         std::function<void(const std::uint8_t* data, std::size_t count)> tap) {
    if (!tap) {
        port.OnRxTap = nullptr;
        return;
    }
    port.OnRxTap = [tap = std::move(tap)](PVaData data, int count) {
        if (count > 0) tap(data, static_cast<std::size_t>(count));
    };
}

bool VaCommPorts::SetSingleTapReads(bool on) {
    return single_->SetTapReads(on);
}

int VaCommPorts::ReadSingle(int timeoutMs, int cancelHandle) {
    return single_->ReadTapped(timeoutMs, cancelHandle);
}

// ---------------------------------------------------------------- multi ports

void VaCommPorts::OpenMultiPort(int channel) {
    if (ValidChannel(channel))
        OpenPort(VaCommMulti(channel), multiPortOpen_[static_cast<std::size_t>(channel)]);
}

void VaCommPorts::CloseMultiPort(int channel) {
    if (ValidChannel(channel))
        ClosePort(VaCommMulti(channel), multiPortOpen_[static_cast<std::size_t>(channel)]);
}

void VaCommPorts::SetMultiPortName(int channel, const std::string& portName) {
    if (!ValidChannel(channel)) return;
    VaCommMulti(channel).SetDeviceName("\\\\.\\" + portName);
}

void VaCommPorts::SetMultiBaud(int channel, int rate) {
    if (!ValidChannel(channel)) return;
    SetBaud(VaCommMulti(channel), rate);
}

void VaCommPorts::WriteMulti(int channel, const std::uint8_t* bytes, std::size_t count) {
    if (!ValidChannel(channel)) return;
    trace_.TraceLine(TraceEvent::Write, channel, bytes, count, TraceOrigin());
    Write(VaCommMulti(channel), bytes, count);
}

void VaCommPorts::ClearMultiPortOpen(int channel) {
    if (ValidChannel(channel)) multiPortOpen_[static_cast<std::size_t>(channel)] = false;
}

int VaCommPorts::singleLineGone() const {
    return single_->LineGone();
}

int VaCommPorts::multiLineGone(int channel) const {
    return VaCommMulti(channel).LineGone();
}

bool VaCommPorts::multiPortOpen(int channel) const {
    return ValidChannel(channel) && multiPortOpen_[static_cast<std::size_t>(channel)];
}

void VaCommPorts::SetMultiReceiveTap(
    int channel, std::function<void(const std::uint8_t* data, std::size_t count)> tap) {
    if (ValidChannel(channel)) SetTap(VaCommMulti(channel), std::move(tap));
}

bool VaCommPorts::SetMultiTapReads(int channel, bool on) {
    return ValidChannel(channel) && VaCommMulti(channel).SetTapReads(on);
}

int VaCommPorts::ReadMulti(int channel, int timeoutMs, int cancelHandle) {
    if (!ValidChannel(channel)) return -1;
    return VaCommMulti(channel).ReadTapped(timeoutMs, cancelHandle);
}

}  // namespace zembra
