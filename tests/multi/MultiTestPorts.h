#pragma once

#include "multi/MultiDownload.h"
#include "ports/VaCommMultiPorts.h"
#include "ports/VaCommPorts.h"
#include "protocol/DebugTrace.h"

namespace zembra::test {

// The real serial port components of the eight multi ports, with their trace, as the
// multi download's port operations.
class MultiTestPorts : public VaCommMultiPorts {
  public:
    explicit MultiTestPorts(MainThread& mainThread)
        : VaCommMultiPorts(vaComm_), vaComm_(trace, &mainThread) {}
    ~MultiTestPorts() override { Bind(nullptr); }

    DebugTrace trace;

  private:
    VaCommPorts vaComm_;
};

}  // namespace zembra::test
