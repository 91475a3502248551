#include "platform/UserFolders.h"

#include <cstdlib>

// Records and settings live in the roaming application data folder, which an uninstaller
// leaves alone. Paths are in the process code page, as elsewhere in the Windows build.

namespace zembra {

namespace {

std::string AppData() {
    for (const char* name : {"APPDATA", "USERPROFILE"}) {
        const char* folder = std::getenv(name);
        if (folder && *folder) return folder;
    }
    return "C:";
}

}  // namespace

std::string UserDataFolder() {
    return AppData();
}

std::string UserConfigFolder() {
    return AppData();
}

std::string MachineName() {
    const char* computer = std::getenv("COMPUTERNAME");
    return computer && *computer ? computer : "unknown";
}

std::string ModeReadableByOthers(const std::string&) {
    return {};
}

void OverwriteArgument(char*) {}

}  // namespace zembra
