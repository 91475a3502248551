#pragma once

#include "multi/MultiHost.h"
#include "ports/VaCommPorts.h"

namespace zembra {

class MultiDownload;

// The multi port operations on the window's serial port components (VaComm1 ... VaComm8 of
// VaCommPorts), and the binding of their receive events to the multi download's handlers
// VaComm1RxBuf ... VaComm8RxBuf. Main thread only.
class VaCommMultiPorts : public MultiPortOps {
  public:
    explicit VaCommMultiPorts(VaCommPorts& ports) : ports_(ports) {}

    void OpenMultiPort(int channel) override { ports_.OpenMultiPort(channel); }
    void CloseMultiPort(int channel) override { ports_.CloseMultiPort(channel); }
    void SetMultiPortName(int channel, const std::string& portName) override {
        ports_.SetMultiPortName(channel, portName);
    }
    void SetMultiBaud(int channel, int rate) override { ports_.SetMultiBaud(channel, rate); }
    void WriteMulti(int channel, const std::uint8_t* bytes, std::size_t count) override {
        ports_.WriteMulti(channel, bytes, count);
    }
    void ClearMultiPortOpen(int channel) override { ports_.ClearMultiPortOpen(channel); }

    // Binds port n's OnRxBuf to VaComm(n)RxBuf of multi; nullptr unbinds them. Unbind before
    // the multi download goes away.
    void Bind(MultiDownload* multi);

    VaCommPorts& ports() { return ports_; }

  private:
    VaCommPorts& ports_;
};

}  // namespace zembra
