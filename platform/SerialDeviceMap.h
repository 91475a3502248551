#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zembra {

// The operating system's map of serial devices (value name -> port name), the stand-in of
// the registry key that the window scans every second. It is made of
//  (1) every USB modem tty present (/dev/ttyACMn, through sysfs): "\Device\trelvic<n>" -> "COM<65+n>"
//  (2) the entries placed in the map folder (SerialDeviceMapFolder()).
struct SerialMapEntry {
    std::string valueName;  // e.g. "\Device\trelvic3"
    std::string portName;   // e.g. "COM7"
};

// Folder of map entries: $ZEMBRA_SERIAL_MAP_DIR, else a default (see README).
std::string SerialDeviceMapFolder();

// Reads the map afresh. std::nullopt means "the key cannot be opened" (no map folder).
std::optional<std::vector<SerialMapEntry>> ReadSerialDeviceMap();

// Adds or replaces one entry atomically (readers see the old or the new entry, never half).
// Creates the folder when needed. Returns false with errno set on failure.
bool RegisterSerialDevice(const std::string& valueName, const std::string& portName);

// Removes one entry atomically; removing an absent entry succeeds.
bool UnregisterSerialDevice(const std::string& valueName);

}  // namespace zembra
