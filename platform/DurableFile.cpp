#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/Helpers.h"

namespace zembra {

namespace {

// The file-creation mask, read without changing it: umask() can only be read by setting it,
// which would hand every file another thread creates meanwhile the wrong mode. The kernel
// reports it in /proc/self/status; without that, the usual 022.
mode_t ProcessUmask() {
    std::FILE* status = std::fopen("/proc/self/status", "re");
    mode_t mask = 022;
    if (status == nullptr) return mask;
    char line[256];
    unsigned value = 0;
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::sscanf(line, "Umask: %o", &value) == 1) {
            mask = static_cast<mode_t>(value & 0777);
            break;
        }
    }
    std::fclose(status);
    return mask;
}

// The path a chain of symbolic links ends in (the file may not exist yet); std::nullopt for a
// loop or a chain too long to follow.
std::optional<std::string> FollowLinks(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        std::vector<char> buffer(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 2);
        const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
        if (n < 0 || static_cast<std::size_t>(n) >= buffer.size()) return std::nullopt;
        const std::string link(buffer.data(), static_cast<std::size_t>(n));
        const std::size_t slash = path.find_last_of('/');
        path = link.starts_with('/') || slash == std::string::npos
                   ? link
                   : path.substr(0, slash + 1) + link;
    }
    return std::nullopt;
}

bool KeepOwner(int fd, const struct stat& old) {
    struct stat now;
    if (::fstat(fd, &now) != 0) return false;
    if (now.st_uid == old.st_uid && now.st_gid == old.st_gid) return true;
    return ::fchown(fd, old.st_uid, old.st_gid) == 0;
}

bool WriteAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::string ReplaceFileDurably(const std::string& path, const std::string& bytes) {
    // Replace the file a symbolic link points to, not the link itself.
    const std::optional<std::string> resolved = FollowLinks(path);
    if (!resolved) return std::strerror(ELOOP);
    const std::string& target = *resolved;
    struct stat st;
    bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode))
        return S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "not a regular file";
    // A file that may not be written stays as it is, as with writing it in place.
    if (exists && ::access(target.c_str(), W_OK) != 0) return std::strerror(errno);

    // A temporary name of fixed length, so that a file name as long as the system allows
    // can be saved too.
    std::size_t slash = target.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    std::string temp = (slash == std::string::npos ? std::string() : folder) + ".zembracfg-XXXXXX";
    std::vector<char> tempName(temp.begin(), temp.end());
    tempName.push_back('\0');
    int fd = ::mkostemp(tempName.data(), O_CLOEXEC);
    if (fd < 0) return std::strerror(errno);
    // The new file gets the old file's permissions, or those of a newly created file.
    const mode_t mode = exists ? st.st_mode & 07777 : 0666 & ~ProcessUmask();
    // The old file's owner and group too (before the mode: a change of owner clears the
    // set-id bits). A file whose owner cannot be kept is not replaced.
    bool ok = (!exists || KeepOwner(fd, st)) && ::fchmod(fd, mode) == 0 && WriteAll(fd, bytes) &&
              ::fsync(fd) == 0;
    int savedErrno = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    if (ok && ::rename(tempName.data(), target.c_str()) != 0) {
        ok = false;
        savedErrno = errno;
    }
    if (!ok) {
        ::unlink(tempName.data());
        return std::strerror(savedErrno);
    }
    // Make the rename itself durable.
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return {};
}

}  // namespace zembra
