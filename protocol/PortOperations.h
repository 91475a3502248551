#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace zembra {

// The window's port operations for the single port (VaCommSingle), as the single engine's
// bridge and the start/stop handlers use them. Opening, closing and the rate run on the main
// thread; during a run the single worker writes and reads the port itself (the port
// component has its own lock).
// VaCommPorts (ports/VaCommPorts.h) implements them, and the eight multi ports' operations,
// on the serial port components; a test may implement them on anything that moves bytes.
class PortOperations {
  public:
    virtual ~PortOperations() = default;

    // Opens the single port unless singlePortOpen is set; then sets it. Throws the port
    // component's error (a std::exception) when the port cannot be opened.
    virtual void OpenSinglePort() = 0;
    // If singlePortOpen is set, closes the port and clears the flag. Never throws.
    virtual void CloseSinglePort() = 0;
    // Device name := "\\.\COM%d" with n.
    virtual void SetSinglePortName(int n) = 0;
    // Device name := the given name: "COMn", "\\.\COMn" or a device path such as /dev/ttyUSB0.
    virtual void SetSinglePortDevice(const std::string& deviceName) = 0;
    // 57,600, 115,200 or 256,000 set the port's rate; any other value changes nothing.
    virtual void SetSingleBaud(int rate) = 0;
    // Trace line, then the bytes to the single port. Throws the port component's error when
    // the write fails (the bridge reports it).
    virtual void WriteSingle(const std::uint8_t* bytes, std::size_t count) = 0;
    virtual bool singlePortOpen() const = 0;
    // Hands the single port's received bytes to tap on the port's receive thread (or on the
    // thread that reads the port with ReadSingle); an empty tap ends it. Set while the port
    // is closed. The engine's answers come this way only.
    virtual void SetSingleReceiveTap(
        std::function<void(const std::uint8_t* data, std::size_t count)> tap) = 0;
    // With a tap set: the engine's worker reads the single port itself (ReadSingle) instead
    // of the port's receive thread. Set while the port is closed. False when the ports
    // cannot do it.
    virtual bool SetSingleTapReads(bool /*on*/) { return false; }
    // Waits up to timeoutMs for bytes on the open single port, or until cancelHandle (a wait
    // event) is signalled, and hands them to the tap. The byte count, 0 when none came, -1
    // once the device is gone or without SetSingleTapReads.
    virtual int ReadSingle(int /*timeoutMs*/, int /*cancelHandle*/) { return -1; }
    // Any thread: the system's error number once the open single port's device is gone
    // (unplugged, far side closed), else 0. A port that cannot tell says 0.
    virtual int singleLineGone() const { return 0; }
};

}  // namespace zembra
