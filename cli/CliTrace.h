#pragma once

#include <functional>
#include <string>

#include "protocol/DebugTrace.h"

namespace zembra {

// --trace FILE of both modes, once the ports are open and before the first packet: empties
// the file and switches the trace on. A file that cannot be written is reported through
// error (its lines are lost; the download goes on). Nothing when fileName is empty.
void StartCliTrace(DebugTrace& trace, const std::string& fileName,
                   const std::function<void(const std::string&)>& error);

}  // namespace zembra
