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

}  // namespace zembra
