#include "platform/PortNames.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace zembra {

namespace {

const char kAliasVariable[] = "ZEMBRA_PORT_DIR";

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

std::string RuntimeFolderProblem() {
    const std::string folder = ZembraRuntimeFolder();
    struct stat st {};
    // Absent (or out of reach): nothing there is read, and a writer creates it first.
    if (lstat(folder.c_str(), &st) != 0) return {};
    const std::string refusal = "refusing the folder " + folder + ": ";
    const std::string remedy = "; remove it, or set XDG_RUNTIME_DIR to a folder of your own";
    if (!S_ISDIR(st.st_mode)) return refusal + "it is not a folder (a link or a file)" + remedy;
    const uid_t self = geteuid();
    if (st.st_uid != self)
        return refusal + "it belongs to another account (uid " + std::to_string(st.st_uid) +
               ", this is uid " + std::to_string(self) + ")" + remedy;
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        return refusal + "other accounts may write to it (mode " + mode +
               "); chmod 700 it, or remove it";
    }
    return {};
}

std::string RuntimeSubfolder(const char* variable, const char* leaf) {
    std::string folder = EnvOrEmpty(variable);
    if (!folder.empty()) return folder;
    return ZembraRuntimeFolder() + "/" + leaf;
}

std::string RuntimeSubfolderProblem(const char* variable) {
    if (!EnvOrEmpty(variable).empty()) return {};
    return RuntimeFolderProblem();
}

bool MakeRuntimeSubfolder(const char* variable, const char* leaf) {
    if (EnvOrEmpty(variable).empty()) {
        // The runtime folder is made (or found) and checked before anything goes into it.
        if (!MakeFolders(ZembraRuntimeFolder())) return false;
        if (!RuntimeFolderProblem().empty()) {
            errno = EACCES;
            return false;
        }
    }
    return MakeFolders(RuntimeSubfolder(variable, leaf));
}

std::string PortAliasFolder() {
    return RuntimeSubfolder(kAliasVariable, "ports");
}

std::string PortAliasFolderProblem() {
    return RuntimeSubfolderProblem(kAliasVariable);
}

std::string ResolvePortDevice(const std::string& portName) {
    const int number = PortNumberOf(portName);
    if (number == 0) return PortDisplayName(portName);
    if (!PortAliasFolderProblem().empty()) return {};
    std::string target = AliasTarget(number);
    if (!target.empty()) return target;
    return DefaultDevice(number);
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
    if (!MakeRuntimeSubfolder(kAliasVariable, "ports")) return false;
    const std::string folder = PortAliasFolder();
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
    if (!PortAliasFolderProblem().empty()) {
        errno = EACCES;
        return false;
    }
    return unlink(AliasPath(number).c_str()) == 0 || errno == ENOENT;
}

}  // namespace zembra
