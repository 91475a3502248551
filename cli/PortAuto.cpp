#include "cli/PortAuto.h"

#include <chrono>
#include <thread>

#include "platform/Helpers.h"
#include "platform/PortNames.h"

namespace zembra {

namespace {

constexpr auto kMapPollInterval = std::chrono::milliseconds(100);

}  // namespace

std::vector<MapPhone> PhonesInMap(const std::vector<SerialMapEntry>& entries) {
    std::vector<MapPhone> phones;
    for (int d = 0; d < MAP_PHONE_DEVICES; ++d) {
        const SerialMapEntry* entry = EntryOfDevice(entries, d);
        if (entry && entry->portName.rfind("COM", 0) == 0)
            phones.push_back({d, entry->valueName, entry->portName, entry->stamp});
    }
    return phones;
}

std::string WaitForPhonePort(int waitSeconds, const std::function<bool()>& interrupted,
                             const std::function<void(const std::string&)>& note) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds);
    bool noted = false;
    for (;;) {
        if (!SerialDeviceMapProblem().empty()) return {};  // refused: no phone will show up
        if (const auto map = ReadSerialDeviceMap()) {
            const std::string port = LowestDevicePort(*map);
            if (!port.empty()) return port;
        }
        if (interrupted() || std::chrono::steady_clock::now() >= deadline) return {};
        if (!noted) {
            note(
                FormatText("no phone in the serial-device map yet: waiting up to %d s for one "
                           "(Ctrl-C ends)",
                           waitSeconds));
            noted = true;
        }
        std::this_thread::sleep_for(kMapPollInterval);
    }
}

std::string PhoneIdentity(const MapPhone& phone) {
    return phone.valueName + "|" + phone.portName + "|" + phone.stamp + "|" +
           ResolvePortDevice(phone.portName);
}

}  // namespace zembra
