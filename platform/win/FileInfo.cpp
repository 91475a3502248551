#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/Helpers.h"
#include "platform/win/WideText.h"

// File facts on Windows: existence, size, kind, last-write time, the program's own path.
// Paths are UTF-8 inside the program and the system's UTF-16 names at every call here, so a
// Korean folder works whatever the ANSI code page is.

namespace zembra {

namespace {

bool AttributesOf(const std::string& path, WIN32_FILE_ATTRIBUTE_DATA& data) {
    return !path.empty() &&
           GetFileAttributesExW(Utf8ToWide(path).c_str(), GetFileExInfoStandard, &data);
}

bool IsRegular(const WIN32_FILE_ATTRIBUTE_DATA& data) {
    return (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

std::int64_t Wide64(DWORD high, DWORD low) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
}

bool VersionOfHandle(HANDLE handle, FileVersion& version) {
    BY_HANDLE_FILE_INFORMATION info;
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info)) return false;
    version.device = info.dwVolumeSerialNumber;
    version.fileNumber =
        static_cast<std::uint64_t>(Wide64(info.nFileIndexHigh, info.nFileIndexLow));
    version.size = Wide64(info.nFileSizeHigh, info.nFileSizeLow);
    // FILETIME counts 100 ns steps; Windows keeps no separate change time for files.
    version.writeTimeNs =
        Wide64(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime) * 100;
    version.changeTimeNs = version.writeTimeNs;
    return true;
}

void SetErrnoFromLastError() {
    errno = ErrnoOfWin32(GetLastError());
}

}  // namespace

bool FileExists(const std::string& path) {
    return !path.empty() && GetFileAttributesW(Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
    return _wfopen(Utf8ToWide(path).c_str(), Utf8ToWide(mode).c_str());
}

bool RemoveFile(const std::string& path) {
    if (DeleteFileW(Utf8ToWide(path).c_str())) return true;
    SetErrnoFromLastError();
    return false;
}

bool RenameFile(const std::string& from, const std::string& to) {
    if (MoveFileExW(Utf8ToWide(from).c_str(), Utf8ToWide(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    SetErrnoFromLastError();
    return false;
}

bool IsAbsolutePath(const std::string& path) {
    const auto separator = [&path](std::size_t i) {
        return i < path.size() && (path[i] == '\\' || path[i] == '/');
    };
    const bool drive = path.size() >= 2 && path[1] == ':' &&
                       ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    return separator(0) || (drive && separator(2));
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
    return OpenFile(path, "rb");
}

bool FileVersionOf(std::FILE* file, FileVersion& version) {
    if (file == nullptr) return false;
    return VersionOfHandle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))), version);
}

bool FileVersionAt(const std::string& path, FileVersion& version) {
    if (path.empty()) return false;
    // Opened for its facts only (no read right needed), beside any writer, folders too.
    HANDLE handle = CreateFileW(Utf8ToWide(path).c_str(), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool known = VersionOfHandle(handle, version);
    CloseHandle(handle);
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
    // The folder's read-only attribute and _access say nothing about its permissions (a user
    // cannot write C:\Program Files whatever they say): a file made there tells.
    std::wstring name = Utf8ToWide(folder);
    if (name.empty()) return false;
    if (name.back() != L'\\' && name.back() != L'/') name += L'\\';
    name += L".zembra-write-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(GetCurrentThreadId());
    HANDLE handle = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    CloseHandle(handle);
    return true;
}

bool IsTerminal(std::FILE* stream) {
    // A console (the NUL device is a character device too, but no console).
    DWORD mode;
    return stream != nullptr &&
           GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), &mode);
}

std::int64_t FileSizeOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!AttributesOf(path, data) || !IsRegular(data)) return 0;
    return Wide64(data.nFileSizeHigh, data.nFileSizeLow);
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
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) return WideToUtf8(std::wstring(buffer.data(), n));
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace zembra
