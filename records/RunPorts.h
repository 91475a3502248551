#pragma once

#include <array>

#include "multi/MultiDownload.h"
#include "ports/VaCommMultiPorts.h"
#include "ports/VaCommPorts.h"
#include "records/LinkTally.h"

namespace zembra {

// The counts of the phones' runs of one host: the single port's and each multi channel's.
struct RunTallies {
    LinkTally single;
    std::array<LinkTally, MULTI_SLOT_COUNT> multi;
};

// The host's serial ports with the single port's writes and received bytes counted in
// tallies.single (for the run's record). The writes are counted on the thread that writes,
// the received bytes on the port's receive thread before the tap (the engine's answer
// assembly) sees them.
class TalliedPorts : public VaCommPorts {
  public:
    TalliedPorts(DebugTrace& trace, MainThread* mainThread, RunTallies& tallies)
        : VaCommPorts(trace, mainThread), tallies_(tallies) {}
    void WriteSingle(const std::uint8_t* bytes, std::size_t count) override;
    bool SetSingleReceiveTap(
        std::function<void(const std::uint8_t* data, std::size_t count)> tap) override;

  private:
    RunTallies& tallies_;
};

// The multi ports with each channel's writes and received bytes counted in
// tallies.multi[channel].
class TalliedMultiPorts : public VaCommMultiPorts {
  public:
    TalliedMultiPorts(VaCommPorts& ports, RunTallies& tallies)
        : VaCommMultiPorts(ports), tallies_(tallies) {}
    void WriteMulti(int channel, const std::uint8_t* bytes, std::size_t count) override;
    // As Bind: port n's OnRxBuf to the multi download's handler of slot n, the bytes counted
    // first; nullptr unbinds them.
    void BindCounted(MultiDownload* multi);

  private:
    RunTallies& tallies_;
};

}  // namespace zembra
