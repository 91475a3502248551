#include "platform/UserFolders.h"

#include <windows.h>

// After windows.h, which it needs.
#include <shlobj.h>

#include <cstdlib>

#include "platform/win/WideText.h"

// Records and settings live in the roaming application data folder, which an uninstaller
// leaves alone. Folders and names are read as the system keeps them (UTF-16) and handed on in
// UTF-8, so an account named in Korean works whatever the ANSI code page is.

namespace zembra {

namespace {

std::string KnownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::string folder;
    if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path)))
        folder = WideToUtf8(path);
    CoTaskMemFree(path);
    return folder;
}

std::string AppData() {
    std::string folder = KnownFolder(FOLDERID_RoamingAppData);
    if (folder.empty()) folder = EnvironmentValue("APPDATA");
    if (folder.empty()) folder = HomeFolder();
    return folder.empty() ? "C:" : folder;
}

}  // namespace

std::string EnvironmentValue(const char* name) {
    // The C runtime's copy of the environment, which _wputenv changes as well.
    const wchar_t* value = _wgetenv(Utf8ToWide(name).c_str());
    return WideToUtf8(value);
}

std::string HomeFolder() {
    const std::string profile = EnvironmentValue("USERPROFILE");
    return profile.empty() ? KnownFolder(FOLDERID_Profile) : profile;
}

std::string ExpandHome(const std::string& path) {
    if (path == "~" || path.starts_with("~/") || path.starts_with("~\\"))
        return HomeFolder() + path.substr(1);
    return path;
}

std::string UserDataFolder() {
    return AppData();
}

std::string UserConfigFolder() {
    return AppData();
}

std::string MachineName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &size) || size == 0) return "unknown";
    return WideToUtf8(std::wstring(name, size));
}

std::string ModeReadableByOthers(const std::string&) {
    return {};
}

void OverwriteArgument(char*) {}

}  // namespace zembra
