#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/SerialDeviceMap.h"

namespace zembra {

// A phone in the serial-device map: value "\Device\trelvic<d>" (d = 0-19) whose data is a
// port name beginning with "COM", as the phone's USB driver registers it.
struct MapPhone {
    int device = 0;
    std::string valueName;
    std::string portName;
    std::string stamp = {};  // the map entry's own (SerialMapEntry::stamp)
};

// The phones of the map, by device number.
std::vector<MapPhone> PhonesInMap(const std::vector<SerialMapEntry>& entries);

// "--port auto": the detected port, waiting up to waitSeconds for a phone to appear (the map
// is read every 100 ms). note() gets one line saying that it waits and for how long.
// Empty when no phone came in time or interrupted() turned true.
std::string WaitForPhonePort(int waitSeconds, const std::function<bool()>& interrupted,
                             const std::function<void(const std::string&)>& note);

// What tells a phone that was plugged in again from one that stayed: the map entry (its name,
// port and stamp, which a new registration changes however quickly it follows the old) and
// the device its port name stands for now (its alias target, or the fixed default).
std::string PhoneIdentity(const MapPhone& phone);

}  // namespace zembra
