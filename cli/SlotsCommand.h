#pragma once

#include <string>
#include <vector>

namespace zembra {

// "zembra-cli slots learn [--slots N] | list | forget N|all": teaches, shows and clears the
// slot map (ports/SlotMap.h). Returns 0, 2 on a bad command line, 3 when the slot map cannot
// be read or written, 4 when the serial-device map cannot be read, 14 when learning was
// stopped with Ctrl-C (what was learned until then is kept).
int RunSlotsCommand(const std::vector<std::string>& args);

}  // namespace zembra
