#include "platform/SerialDeviceMap.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>

#include "platform/PortNames.h"

namespace zembra {

namespace {

const char kMapVariable[] = "ZEMBRA_SERIAL_MAP_DIR";

bool IsPlainByte(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

std::string EncodeValueName(const std::string& valueName) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : valueName) {
        if (IsPlainByte(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    // A leading "." would hide the entry from readers.
    if (!out.empty() && out[0] == '.') out.replace(0, 1, "%2E");
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string DecodeFileName(const std::string& fileName) {
    std::string out;
    for (size_t i = 0; i < fileName.size(); ++i) {
        if (fileName[i] == '%' && i + 2 < fileName.size() && HexValue(fileName[i + 1]) >= 0 &&
            HexValue(fileName[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(fileName[i + 1]) * 16 + HexValue(fileName[i + 2]));
            i += 2;
        } else {
            out += fileName[i];
        }
    }
    return out;
}

std::string StampOf(const struct stat& st) {
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" +
           std::to_string(st.st_ctim.tv_sec) + "." + std::to_string(st.st_ctim.tv_nsec);
}

// First line of a regular file, without the line end, and the file's stamp; nullopt when it
// cannot be read or is not a regular file (opened without waiting, so a FIFO never blocks).
std::optional<std::string> ReadFirstLine(const std::string& path, std::string& stamp) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return std::nullopt;
    }
    stamp = StampOf(st);
    std::string text;
    char chunk[256];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(chunk, static_cast<size_t>(n));
        if (text.find('\n') != std::string::npos || text.size() > 4096) break;
    }
    close(fd);
    const size_t end = text.find_first_of("\r\n");
    if (end != std::string::npos) text.resize(end);
    return text;
}

using Entries = std::map<std::string, std::pair<std::string, std::string>>;

void AddSysfsModems(Entries& entries) {
    const std::string folder = SysfsTtyFolder();
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.rfind("ttyACM", 0) != 0 || name.size() == 6 || name.size() > 10) continue;
        if (!std::all_of(name.begin() + 6, name.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const int number = std::atoi(name.c_str() + 6);
        struct stat st {};
        const std::string stamp = lstat((folder + "/" + name).c_str(), &st) == 0 ? StampOf(st) : "";
        entries["\\Device\\trelvic" + std::to_string(number)] = {
            "COM" + std::to_string(65 + number), stamp};
    }
    closedir(dir);
}

}  // namespace

std::string SysfsTtyFolder() {
    const char* folder = std::getenv("ZEMBRA_SYSFS_TTY_DIR");
    return folder && *folder ? std::string(folder) : std::string("/sys/class/tty");
}

std::string SerialDeviceMapFolder() {
    return RuntimeSubfolder(kMapVariable, "serialcomm");
}

std::string SerialDeviceMapProblem() {
    return RuntimeSubfolderProblem(kMapVariable);
}

std::optional<std::vector<SerialMapEntry>> ReadSerialDeviceMap() {
    if (!SerialDeviceMapProblem().empty()) return std::nullopt;
    const std::string folder = SerialDeviceMapFolder();
    DIR* dir = opendir(folder.c_str());
    if (!dir) return std::nullopt;
    Entries entries;
    AddSysfsModems(entries);
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.') continue;
        std::string stamp;
        std::optional<std::string> data = ReadFirstLine(folder + "/" + name, stamp);
        if (!data) continue;  // removed meanwhile, or not a file
        entries[DecodeFileName(name)] = {*data, stamp};
    }
    closedir(dir);
    std::vector<SerialMapEntry> result;
    result.reserve(entries.size());
    for (auto& [valueName, data] : entries) result.push_back({valueName, data.first, data.second});
    return result;
}

bool RegisterSerialDevice(const std::string& valueName, const std::string& portName) {
    if (valueName.empty() || portName.find_first_of("\r\n") != std::string::npos) {
        errno = EINVAL;
        return false;
    }
    if (!MakeRuntimeSubfolder(kMapVariable, "serialcomm")) return false;
    const std::string folder = SerialDeviceMapFolder();
    const std::string temp = TempEntryPath(folder, "entry");
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const std::string text = portName + "\n";
    int error = 0;
    size_t done = 0;
    while (done < text.size() && error == 0) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
        } else {
            done += static_cast<size_t>(n);
        }
    }
    if (close(fd) != 0 && error == 0) error = errno;
    if (error != 0) {
        unlink(temp.c_str());
        errno = error;
        return false;
    }
    return ReplaceWithEntry(temp, folder + "/" + EncodeValueName(valueName));
}

bool UnregisterSerialDevice(const std::string& valueName) {
    if (valueName.empty()) {
        errno = EINVAL;
        return false;
    }
    if (!SerialDeviceMapProblem().empty()) {
        errno = EACCES;
        return false;
    }
    const std::string path = SerialDeviceMapFolder() + "/" + EncodeValueName(valueName);
    return unlink(path.c_str()) == 0 || errno == ENOENT;
}

}  // namespace zembra
