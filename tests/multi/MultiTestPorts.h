#pragma once

#include "multi/MultiDownload.h"
#include "ports/VaCommPorts.h"
#include "protocol/DebugTrace.h"

namespace zembra::test {

// The real serial port components of the eight multi ports, with their trace, as the
// multi download's port operations.
struct TraceFirst {
    DebugTrace trace;  // made before the ports and gone after them
};

class MultiTestPorts : private TraceFirst, public VaCommPorts {
  public:
    explicit MultiTestPorts(MainThread& mainThread) : VaCommPorts(trace, &mainThread) {}
    using TraceFirst::trace;
};

}  // namespace zembra::test
