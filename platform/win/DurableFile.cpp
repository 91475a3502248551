#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/Helpers.h"
#include "platform/win/WideText.h"

// The durable replace on Windows: a temporary file beside the target is written, flushed to
// the disk and moved over the target in one step (MoveFileExW, written through). Names are the
// system's UTF-16 names of the UTF-8 paths.

namespace zembra {

namespace {

std::string LastErrorText() {
    return std::strerror(ErrnoOfWin32(GetLastError()));
}

bool WriteAll(HANDLE file, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 30));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

// A temporary file of fixed-length name in the folder of target, created new; its name in
// temp.
HANDLE CreateTemporaryBeside(const std::wstring& target, std::wstring& temp) {
    const std::size_t slash = target.find_last_of(L"\\/");
    const std::wstring folder =
        slash == std::wstring::npos ? std::wstring() : target.substr(0, slash + 1);
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        wchar_t suffix[16];
        swprintf(suffix, 16, L"%06x",
                 static_cast<unsigned>((GetTickCount() ^ (GetCurrentProcessId() << 8)) + attempt) &
                     0xFFFFFF);
        temp = folder + L".zembracfg-" + suffix;
        HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
    }
    return INVALID_HANDLE_VALUE;
}

}  // namespace

std::string ReplaceFileDurably(const std::string& path, const std::string& bytes) {
    const std::wstring target = Utf8ToWide(path);
    const DWORD attributes = GetFileAttributesW(target.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return std::strerror(EISDIR);
    if (exists && (attributes & FILE_ATTRIBUTE_DEVICE)) return "not a regular file";
    // A file that may not be written stays as it is, as with writing it in place.
    if (exists && (attributes & FILE_ATTRIBUTE_READONLY)) return std::strerror(EACCES);
    if (exists) {
        HANDLE probe = CreateFileW(target.c_str(), GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (probe == INVALID_HANDLE_VALUE) return LastErrorText();
        CloseHandle(probe);
    }

    std::wstring temp;
    HANDLE file = CreateTemporaryBeside(target, temp);
    if (file == INVALID_HANDLE_VALUE) return LastErrorText();
    bool ok = WriteAll(file, bytes) && FlushFileBuffers(file);
    DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    CloseHandle(file);
    if (ok && !MoveFileExW(temp.c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ok = false;
        error = GetLastError();
    }
    if (!ok) {
        DeleteFileW(temp.c_str());
        return std::strerror(ErrnoOfWin32(error));
    }
    return {};
}

}  // namespace zembra
