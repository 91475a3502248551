#include "cli/CliTrace.h"

#include <cstdio>

namespace zembra {

void StartCliTrace(DebugTrace& trace, const std::string& fileName,
                   const std::function<void(const std::string&)>& error) {
    if (fileName.empty()) return;
    if (!trace.Start(fileName)) {
        error("the trace file " + fileName + " is no longer a regular file: no trace is written");
        return;
    }
    if (std::FILE* probe = std::fopen(fileName.c_str(), "ab")) {
        std::fclose(probe);
    } else {
        error("cannot write the trace file " + fileName +
              ": its lines are lost (the download goes on)");
    }
}

}  // namespace zembra
