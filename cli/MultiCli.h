#pragma once

#include <string>

#include "cli/CliOptions.h"
#include "cli/ConsoleHost.h"

namespace zembra {

// zembra-cli's multi mode (--multi, --all-phones): the same job, settings and operator options
// as the single mode, up to eight --port options (slot 1, 2, ... in the order given) or
// --all-phones (every phone in the serial-device map, slots by device number), and the multi
// options (--no-version-check, --stagger). The program's own lines go to console. Returns the
// exit status (cli/CliOptions.h).
int RunMultiCli(const CliOptions& options, ConsoleHost& console);

// The multi part of --help.
std::string MultiHelpText();

}  // namespace zembra
