#include "platform/PortNames.h"

#include <windows.h>

#include <cerrno>

#include "platform/win/WideText.h"

// Port names on Windows: a COM name opens the system's device "\\.\COMn" (the form that
// reaches COM10 and above too); any other text is taken as the device path it is.

namespace zembra {

std::string ResolvePortDevice(const std::string& portName) {
    const int number = PortNumberOf(portName);
    if (number == 0) return portName;
    return "\\\\.\\COM" + std::to_string(number);
}

std::string PortAliasFolderProblem() {
    return {};
}

// Both separators count; a part that cannot be made (a drive "C:", a share) is passed over,
// the folder itself must be there in the end.
bool MakeFolders(const std::string& path) {
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }
    const std::wstring wide = Utf8ToWide(path);
    std::size_t pos = 0;
    while ((pos = wide.find_first_of(L"/\\", pos + 1)) != std::wstring::npos)
        CreateDirectoryW(wide.substr(0, pos).c_str(), nullptr);
    CreateDirectoryW(wide.c_str(), nullptr);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        errno = ENOENT;
        return false;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

}  // namespace zembra
