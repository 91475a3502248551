#include "platform/PortNames.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

namespace zembra {

namespace {

const char kDevicePrefix[] = "\\\\.\\";  // \\.\ as in "\\.\COM7"

std::string EnvOrEmpty(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string AliasPath(int portNumber) {
    return PortAliasFolder() + "/COM" + std::to_string(portNumber);
}

std::string DefaultDevice(int portNumber) {
    if (portNumber >= 1 && portNumber <= 32) return "/dev/ttyS" + std::to_string(portNumber - 1);
    if (portNumber >= 33 && portNumber <= 64)
        return "/dev/ttyUSB" + std::to_string(portNumber - 33);
    if (portNumber >= 65 && portNumber <= 96)
        return "/dev/ttyACM" + std::to_string(portNumber - 65);
    return AliasPath(portNumber);
}

// Target of the alias link, relative targets taken against the folder; empty when absent.
std::string AliasTarget(int portNumber) {
    const std::string alias = AliasPath(portNumber);
    struct stat st {};
    if (lstat(alias.c_str(), &st) != 0) return std::string();
    if (!S_ISLNK(st.st_mode)) return alias;
    std::vector<char> target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
    for (;;) {
        ssize_t n = readlink(alias.c_str(), target.data(), target.size());
        if (n < 0) return alias;  // replaced meanwhile: let open() follow whatever is there
        if (static_cast<size_t>(n) < target.size()) {
            std::string text(target.data(), static_cast<size_t>(n));
            if (!text.empty() && text[0] != '/') text = PortAliasFolder() + "/" + text;
            return text;
        }
        target.resize(target.size() * 2);
    }
}

}  // namespace

std::string ZembraRuntimeFolder() {
    std::string runtime = EnvOrEmpty("XDG_RUNTIME_DIR");
    if (!runtime.empty()) return runtime + "/zembra";
    return "/tmp/zembra-" + std::to_string(static_cast<unsigned long>(getuid()));
}

std::string PortAliasFolder() {
    std::string folder = EnvOrEmpty("ZEMBRA_PORT_DIR");
    if (!folder.empty()) return folder;
    return ZembraRuntimeFolder() + "/ports";
}

std::string ResolvePortDevice(const std::string& portName) {
    const int number = PortNumberOf(portName);
    if (number == 0) {
        if (portName.rfind(kDevicePrefix, 0) == 0)
            return portName.substr(sizeof(kDevicePrefix) - 1);
        return portName;
    }
    std::string target = AliasTarget(number);
    if (!target.empty()) return target;
    return DefaultDevice(number);
}

std::string ParentFolder(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

bool MakeFolders(const std::string& path) {
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }
    std::string partial;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (partial.empty()) continue;
        if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return false;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

std::string TempEntryPath(const std::string& folder, const std::string& stem) {
    static std::atomic<unsigned> counter{0};
    return folder + "/." + stem + ".tmp." + std::to_string(getpid()) + "." +
           std::to_string(counter++);
}

bool ReplaceWithEntry(const std::string& temp, const std::string& path) {
    if (rename(temp.c_str(), path.c_str()) != 0) {
        const int saved = errno;
        unlink(temp.c_str());
        errno = saved;
        return false;
    }
    return true;
}

bool RegisterPortAlias(const std::string& portName, const std::string& devicePath) {
    const int number = PortNumberOf(portName);
    if (number == 0 || devicePath.empty()) {
        errno = EINVAL;
        return false;
    }
    const std::string folder = PortAliasFolder();
    if (!MakeFolders(folder)) return false;
    const std::string temp = TempEntryPath(folder, "COM" + std::to_string(number));
    if (symlink(devicePath.c_str(), temp.c_str()) != 0) return false;
    return ReplaceWithEntry(temp, AliasPath(number));
}

bool UnregisterPortAlias(const std::string& portName) {
    const int number = PortNumberOf(portName);
    if (number == 0) {
        errno = EINVAL;
        return false;
    }
    if (unlink(AliasPath(number).c_str()) != 0 && errno != ENOENT) return false;
    return true;
}

}  // namespace zembra
