#pragma once

#include <string>
#include <vector>

namespace zembra {

// True when the command line asks for the multi download (--multi or --all-phones).
bool IsMultiCommandLine(const std::vector<std::string>& args);

// zembra-cli's multi mode: the same job, settings and operator options as the single mode
// (parsed by ParseCliOptions), up to eight --port options (slot 1, 2, ... in the order given)
// or --all-phones (every phone in the serial-device map, slots by device number), and the
// multi options below. Returns the exit status (cli/MultiMode.h).
//   --multi              multi mode
//   --all-phones         the ports of "\Device\trelvic0" ... "\Device\trelvic7"
//   --no-version-check   a refused version does not end a phone's run ("버전검사" off)
//   --stagger MS         delay between two slots' first packets (200)
int RunMultiCli(const std::vector<std::string>& args);

// The multi part of --help.
std::string MultiHelpText();

}  // namespace zembra
