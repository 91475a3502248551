#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zembra {

// The operating system's map of serial devices (value name -> port name), the stand-in of
// the registry key that the window scans every second. It is made of
//  (1) every USB modem tty present (/dev/ttyACMn, through sysfs): "\Device\trelvic<n>" ->
//  "COM<65+n>" (2) the entries placed in the map folder (SerialDeviceMapFolder()).
struct SerialMapEntry {
    std::string valueName;  // e.g. "\Device\trelvic3"
    std::string portName;   // e.g. "COM7"
    // What tells two registrations of the same value apart (a phone unplugged and another
    // plugged in between two reads): the entry file's or the sysfs node's inode and change
    // time. Empty where the system gives nothing of the kind.
    std::string stamp = {};
};

// Folder of map entries: $ZEMBRA_SERIAL_MAP_DIR when set and not empty, else
// ZembraRuntimeFolder() + "/serialcomm" (platform/PortNames.h).
// One file per value: the file name is the value name with every byte other than
// A-Z a-z 0-9 . _ - written as %XX (so "\Device\trelvic3" is "%5CDevice%5Ctrelvic3");
// the first line of the file is the data (the port name). File names that are not valid
// escapes are taken literally; names beginning with "." and anything that is not a regular
// file (a folder, a FIFO, a device) are ignored, never waited on.
std::string SerialDeviceMapFolder();

// Why the map folder is not used, as a sentence for a message; empty when it is used. The
// default folder follows RuntimeFolderProblem() (platform/PortNames.h); a folder that
// $ZEMBRA_SERIAL_MAP_DIR names is the user's own choice and taken as it is. While it is
// refused the map cannot be opened and the register functions fail (errno EACCES).
std::string SerialDeviceMapProblem();

// The map as messages name it: its folder, followed by SerialDeviceMapProblem() when it is
// refused.
inline std::string SerialDeviceMapDescription() {
    const std::string problem = SerialDeviceMapProblem();
    return SerialDeviceMapFolder() + (problem.empty() ? "" : ": " + problem);
}

// On Windows the map is the registry key HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM, read
// only (SerialDeviceMapFolder() names it); values that are not text are left out. The
// register functions are Linux-only.

// Linux: the folder of the tty class in sysfs ($ZEMBRA_SYSFS_TTY_DIR when set and not empty,
// else /sys/class/tty), where every USB modem tty shows up as ttyACM<n>.
std::string SysfsTtyFolder();

// Reads the map afresh, sorted by value name; a folder entry replaces a sysfs entry of the
// same value name. std::nullopt means "the key cannot be opened" (no map folder).
std::optional<std::vector<SerialMapEntry>> ReadSerialDeviceMap();

// Adds or replaces one entry atomically (readers see the old or the new entry, never half).
// Creates the folder when needed. Returns false with errno set on failure.
bool RegisterSerialDevice(const std::string& valueName, const std::string& portName);

// Removes one entry atomically; removing an absent entry succeeds.
bool UnregisterSerialDevice(const std::string& valueName);

// The phone's USB driver registers each phone as "\Device\trelvic<d>"; device numbers 0-19
// are looked at (the first eight are the multi slots).
inline constexpr int MAP_PHONE_DEVICES = 20;

// The entry of value "\Device\trelvic<device>" in the map; nullptr when there is none.
inline const SerialMapEntry* EntryOfDevice(const std::vector<SerialMapEntry>& map, int device) {
    const std::string name = "\\Device\\trelvic" + std::to_string(device);
    for (const SerialMapEntry& entry : map)
        if (entry.valueName == name) return &entry;
    return nullptr;
}

// The data of value "\Device\trelvic<device>" in the map; empty when there is none.
inline std::string PortOfDevice(const std::vector<SerialMapEntry>& map, int device) {
    const SerialMapEntry* entry = EntryOfDevice(map, device);
    return entry ? entry->portName : std::string();
}

// The single-mode rule: the data of the lowest device number (0-19) that has a non-empty
// value, when that is a port name beginning with "COM"; empty when it is not or no device
// has one.
inline std::string LowestDevicePort(const std::vector<SerialMapEntry>& map) {
    for (int device = 0; device < MAP_PHONE_DEVICES; ++device) {
        std::string port = PortOfDevice(map, device);
        if (!port.empty()) return port.rfind("COM", 0) == 0 ? port : std::string();
    }
    return {};
}

}  // namespace zembra
