#pragma once

#include <string>

namespace zembra {

// The user's folder for program data (download records): $XDG_DATA_HOME when it is an
// absolute path, else ~/.local/share; on Windows the roaming application data folder
// (%APPDATA%, the known folder RoamingAppData).
std::string UserDataFolder();

// The user's folder for settings: $XDG_CONFIG_HOME when it is an absolute path, else
// ~/.config; on Windows the roaming application data folder as well.
std::string UserConfigFolder();

// The user's home folder: $HOME (/tmp without one); on Windows %USERPROFILE%, else the known
// folder Profile.
std::string HomeFolder();

// A path written by the user with "~" for the home folder: "~" and "~/..." (on Windows
// "~\..." too) start at HomeFolder(); any other path is returned as it is.
std::string ExpandHome(const std::string& path);

// The value of an environment variable in UTF-8 (on Windows read as UTF-16, whatever the code
// page), empty when it is not set.
std::string EnvironmentValue(const char* name);

// The machine's name (the host name; on Windows the computer name), "unknown" when it cannot
// be read.
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
