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

// The mode of a file that the group or others may read, as four octal digits ("0644"); empty
// when only its owner may read it, when it cannot be looked at, and always on Windows (where
// file modes do not apply).
std::string ModeReadableByOthers(const std::string& path);

// Overwrites the text of one command-line argument in the process's own argument memory, so
// that other accounts no longer read it (ps, /proc/PID/cmdline); nothing on Windows, whose
// command line is kept elsewhere.
void OverwriteArgument(char* argument);

}  // namespace zembra
