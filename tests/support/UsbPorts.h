#pragma once
// A tty on a USB port as the kernel lays it out in sysfs, for the slot tests.

#include <filesystem>
#include <string>

namespace zembra::test {

// The folder of the USB device at location ("1-1.4": bus 1, port 1, port 4 of the hub there)
// under devicesRoot: pci0000:00/0000:00:14.0/usb1/1-1/1-1.4.
inline std::filesystem::path UsbDeviceFolder(const std::filesystem::path& devicesRoot,
                                             const std::string& location) {
    const std::string bus = location.substr(0, location.find('-'));
    std::filesystem::path folder = devicesRoot / "pci0000:00" / "0000:00:14.0" / ("usb" + bus);
    for (std::size_t end = location.find('.');; end = location.find('.', end + 1)) {
        folder /= location.substr(0, end);
        if (end == std::string::npos) return folder;
    }
}

// ttyFolder/ttyName/device -> (relative, as the kernel links it) the interface
// <location>:1.0 of the USB device at location, made when missing. A tty of the same name is
// replaced (a phone plugged in elsewhere).
inline void PlugTtyInto(const std::filesystem::path& ttyFolder,
                        const std::filesystem::path& devicesRoot, const std::string& ttyName,
                        const std::string& location) {
    const std::filesystem::path interface =
        UsbDeviceFolder(devicesRoot, location) / (location + ":1.0");
    std::filesystem::create_directories(interface);
    const std::filesystem::path tty = ttyFolder / ttyName;
    std::filesystem::remove_all(tty);
    std::filesystem::create_directories(tty);
    std::filesystem::create_directory_symlink(
        std::filesystem::relative(interface, std::filesystem::canonical(tty)), tty / "device");
}

// The sysfs name of a device node: "/dev/pts/3" -> "pts!3".
inline std::string SysfsTtyName(const std::string& devicePath) {
    std::string name = devicePath.substr(std::string("/dev/").size());
    for (char& c : name)
        if (c == '/') c = '!';
    return name;
}

}  // namespace zembra::test
