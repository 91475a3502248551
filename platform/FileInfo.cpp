#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <vector>

#include "platform/Helpers.h"

// File facts on POSIX: existence, size, kind, last-write time, the program's own path.

namespace zembra {

bool FileExists(const std::string& path) {
    struct stat st;
    return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

std::FILE* OpenRegularFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return nullptr;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "rb");
    if (file == nullptr) ::close(fd);
    return file;
}

namespace {

void SetVersion(const struct stat& st, FileVersion& version) {
    version.device = static_cast<std::uint64_t>(st.st_dev);
    version.fileNumber = static_cast<std::uint64_t>(st.st_ino);
    version.size = st.st_size;
    version.writeTimeNs = std::int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
    version.changeTimeNs = std::int64_t{st.st_ctim.tv_sec} * 1000000000 + st.st_ctim.tv_nsec;
}

}  // namespace

bool FileVersionOf(std::FILE* file, FileVersion& version) {
    struct stat st;
    if (file == nullptr || ::fstat(::fileno(file), &st) != 0) return false;
    SetVersion(st, version);
    return true;
}

bool FileVersionAt(const std::string& path, FileVersion& version) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    SetVersion(st, version);
    return true;
}

PathKind PathKindOf(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return errno == ENOENT ? PathKind::Missing : PathKind::Other;
    return S_ISREG(st.st_mode) ? PathKind::Regular : PathKind::Other;
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

bool RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool IsAbsolutePath(const std::string& path) {
    return path.starts_with('/');
}

bool FolderWritable(const std::string& folder) {
    return ::access(folder.c_str(), W_OK) == 0;
}

bool IsTerminal(std::FILE* stream) {
    return stream != nullptr && ::isatty(::fileno(stream)) == 1;
}

std::int64_t FileSizeOf(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return 0;
    struct stat st;
    std::int64_t size = 0;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) size = st.st_size;
    ::close(fd);
    return size;
}

std::string FileTimeText(const std::string& path) {
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return {};
    std::tm local{};
    time_t t = st.st_mtime;
    if (!::localtime_r(&t, &local)) return {};
    char text[32];
    std::snprintf(text, sizeof text, "%02d-%02d-%02d %02d:%02d:%02d", local.tm_year % 100,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

std::string ProgramPath() {
    std::vector<char> buffer(4096);
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size()) return {};
    return std::string(buffer.data(), static_cast<std::size_t>(n));
}

}  // namespace zembra
