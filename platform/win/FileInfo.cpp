#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/Helpers.h"

// File facts on Windows: existence, size, kind, last-write time, the program's own path.
// Paths are in the process code page, as for the C runtime's fopen.

namespace zembra {

namespace {

bool AttributesOf(const std::string& path, WIN32_FILE_ATTRIBUTE_DATA& data) {
    return !path.empty() && GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
}

bool IsRegular(const WIN32_FILE_ATTRIBUTE_DATA& data) {
    return (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

}  // namespace

bool FileExists(const std::string& path) {
    return !path.empty() && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::FILE* OpenRegularFile(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!AttributesOf(path, data)) {
        errno = ENOENT;
        return nullptr;
    }
    if (!IsRegular(data)) {
        errno = EINVAL;
        return nullptr;
    }
    return std::fopen(path.c_str(), "rb");
}

bool FileVersionOf(std::FILE* file, FileVersion& version) {
    if (file == nullptr) return false;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    BY_HANDLE_FILE_INFORMATION info;
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info)) return false;
    const auto wide = [](DWORD high, DWORD low) {
        return static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
    };
    version.device = info.dwVolumeSerialNumber;
    version.fileNumber = static_cast<std::uint64_t>(wide(info.nFileIndexHigh, info.nFileIndexLow));
    version.size = wide(info.nFileSizeHigh, info.nFileSizeLow);
    // FILETIME counts 100 ns steps; Windows keeps no separate change time for files.
    version.writeTimeNs =
        wide(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime) * 100;
    version.changeTimeNs = version.writeTimeNs;
    return true;
}

bool FileVersionAt(const std::string& path, FileVersion& version) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    const bool known = FileVersionOf(file, version);
    std::fclose(file);
    return known;
}

PathKind PathKindOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!AttributesOf(path, data)) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PathKind::Missing
                                                                              : PathKind::Other;
    }
    return IsRegular(data) ? PathKind::Regular : PathKind::Other;
}

bool FolderWritable(const std::string& folder) {
    return _access(folder.c_str(), 2) == 0;
}

bool IsTerminal(std::FILE* stream) {
    return stream != nullptr && _isatty(_fileno(stream)) != 0;
}

std::int64_t FileSizeOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!AttributesOf(path, data) || !IsRegular(data)) return 0;
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) |
                                     data.nFileSizeLow);
}

std::string FileTimeText(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    FILETIME local;
    SYSTEMTIME t;
    if (!AttributesOf(path, data) || !FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) ||
        !FileTimeToSystemTime(&local, &t))
        return {};
    char text[32];
    std::snprintf(text, sizeof text, "%02d-%02d-%02d %02d:%02d:%02d", t.wYear % 100, t.wMonth,
                  t.wDay, t.wHour, t.wMinute, t.wSecond);
    return text;
}

std::string ProgramPath() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD n =
            GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) return std::string(buffer.data(), n);
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace zembra
