#pragma once

#include <string>

namespace zembra {

// The user's folder for program data (download records): $XDG_DATA_HOME when it is an
// absolute path, else ~/.local/share; on Windows %APPDATA% (the roaming application data).
std::string UserDataFolder();

// The user's folder for settings: $XDG_CONFIG_HOME when it is an absolute path, else
// ~/.config; on Windows %APPDATA% as well.
std::string UserConfigFolder();

// The machine's name (the host name; on Windows %COMPUTERNAME%), "unknown" when it cannot be
// read.
std::string MachineName();

}  // namespace zembra
