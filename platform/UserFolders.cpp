#include "platform/UserFolders.h"

#include <cstdlib>

namespace zembra {

namespace {

std::string XdgFolder(const char* xdgVariable, const char* fallback) {
    const char* xdg = std::getenv(xdgVariable);
    if (xdg && *xdg == '/') return xdg;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + fallback;
}

}  // namespace

std::string UserDataFolder() {
    return XdgFolder("XDG_DATA_HOME", "/.local/share");
}

std::string UserConfigFolder() {
    return XdgFolder("XDG_CONFIG_HOME", "/.config");
}

}  // namespace zembra
