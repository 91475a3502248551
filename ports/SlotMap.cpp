#include "ports/SlotMap.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <set>

#include "platform/Helpers.h"
#include "platform/PortLocation.h"
#include "platform/PortNames.h"
#include "platform/UserFolders.h"

namespace zembra {

namespace {

std::string Trim(const std::string& text) {
    const std::size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return {};
    return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

// "3" -> 3; 0 for anything that is not a slot number.
int SlotNumber(const std::string& text) {
    if (text.empty() || text.size() > 2 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    const int slot = std::stoi(text);
    return slot >= 1 && slot <= SLOT_MAP_SLOTS ? slot : 0;
}

std::string DeviceValueName(int device) {
    return "\\Device\\trelvic" + std::to_string(device);
}

}  // namespace

int SlotMap::SlotOf(const std::string& location) const {
    for (const auto& [slot, place] : locations)
        if (place == location) return slot;
    return 0;
}

std::string SlotMapPath() {
    return UserConfigFolder() + "/zembra/slots.conf";
}

SlotMapFile ReadSlotMap(const std::string& path) {
    SlotMapFile file;
    if (PathKindOf(path) == PathKind::Missing) return file;
    file.present = true;
    std::ifstream in(path, std::ios::binary);
    if (!IsReadableRegularFile(path) || !in) {
        file.error = path + ": the slot map cannot be read";
        return file;
    }
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        line = Trim(line);
        if (line.empty() || line[0] == '#') continue;
        const std::size_t eq = line.find('=');
        const int slot = eq == std::string::npos ? 0 : SlotNumber(Trim(line.substr(0, eq)));
        const std::string location = eq == std::string::npos ? "" : Trim(line.substr(eq + 1));
        std::string problem;
        if (slot == 0 || location.empty())
            problem = "not \"slot = location\" with a slot of 1-20";
        else if (file.map.SlotOf(location) != 0)
            problem = "location " + location + " is bound to slot " +
                      std::to_string(file.map.SlotOf(location)) + " already";
        if (!problem.empty()) {
            file.error = FormatText("%s line %d: %s", path.c_str(), number, problem.c_str());
            return file;
        }
        file.map.locations[slot] = location;
    }
    return file;
}

std::string WriteSlotMap(const std::string& path, const SlotMap& map) {
    if (map.locations.empty()) {
        if (std::remove(path.c_str()) == 0 || PathKindOf(path) == PathKind::Missing) return {};
        return path + ": " + ErrorNumberText(errno);
    }
    if (!MakeFolders(ParentFolder(path))) return ParentFolder(path) + ": " + ErrorNumberText(errno);
    std::string text =
        "# Zembra slot map: slot = the USB port it is (zembra-cli slots learn | list | forget)\n";
    for (const auto& [slot, location] : map.locations)
        text += std::to_string(slot) + " = " + location + "\n";
    return ReplaceFileDurably(path, text);
}

std::vector<LocatedPhone> PhonesWithLocations(const std::vector<SerialMapEntry>& deviceMap) {
    std::vector<LocatedPhone> phones;
    for (int device = 0; device < MAP_PHONE_DEVICES; ++device) {
        const SerialMapEntry* entry = EntryOfDevice(deviceMap, device);
        if (entry && !entry->portName.empty())
            phones.push_back({entry->portName, PortLocation(entry->portName), entry->stamp});
    }
    return phones;
}

SlotView SlotViewOf(const SlotMap& slots, const std::vector<SerialMapEntry>& deviceMap,
                    const std::function<std::string(const std::string& port)>& locationOf,
                    bool keepUnbound) {
    SlotView view;
    std::set<int> taken;  // slots given to a phone now
    std::vector<const SerialMapEntry*> others;
    for (int device = 0; device < MAP_PHONE_DEVICES; ++device) {
        const SerialMapEntry* entry = EntryOfDevice(deviceMap, device);
        if (!entry || entry->portName.empty()) continue;
        const std::string location = locationOf(entry->portName);
        const int slot = location.empty() ? 0 : slots.SlotOf(location);
        if (slot != 0 && taken.insert(slot).second) {
            view.map.push_back({DeviceValueName(slot - 1), entry->portName, entry->stamp});
            continue;
        }
        view.unbound.push_back({entry->portName, location});
        others.push_back(entry);
    }
    if (keepUnbound) {
        int device = 0;
        for (const SerialMapEntry* entry : others) {
            while (device < MAP_PHONE_DEVICES && slots.locations.count(device + 1)) ++device;
            if (device == MAP_PHONE_DEVICES) break;
            view.map.push_back({DeviceValueName(device++), entry->portName, entry->stamp});
        }
    }
    return view;
}

PhoneMap ReadPhoneMap(bool keepUnbound) {
    PhoneMap result;
    result.map = ReadSerialDeviceMap();
    const SlotMapFile file = ReadSlotMap(SlotMapPath());
    if (!file.present || !result.map) return result;
    result.slotMapped = true;
    if (!file.error.empty()) {
        result.slotMapError = file.error;
        result.map->clear();
        return result;
    }
    result.slots = file.map;
    SlotView view = SlotViewOf(file.map, *result.map, PortLocation, keepUnbound);
    result.map = std::move(view.map);
    result.unbound = std::move(view.unbound);
    return result;
}

std::string UnboundPhoneText(const LocatedPhone& phone) {
    return phone.portName + ": 등록되지 않은 포트 " +
           (phone.location.empty() ? std::string("?") : phone.location);
}

SlotLearner::SlotLearner(SlotMap map, int slotCount)
    : map_(std::move(map)), slotCount_(slotCount < 1 ? 1 : std::min(slotCount, SLOT_MAP_SLOTS)) {}

std::string SlotLearner::Prompt() const {
    return FormatText("슬롯 %d 포트에 폰을 연결하세요", slot_);
}

void SlotLearner::Skip() {
    if (!Done()) ++slot_;
}

bool SlotLearner::Look(const std::vector<LocatedPhone>& present, std::vector<std::string>& lines) {
    std::map<std::string, std::string> now;
    for (const LocatedPhone& phone : present)
        now[phone.portName] = phone.location + "|" + phone.stamp;
    const bool first = !looked_;
    looked_ = true;
    bool bound = false;
    for (const LocatedPhone& phone : present) {
        const auto before = seen_.find(phone.portName);
        if (first || Done() || bound ||
            (before != seen_.end() && before->second == phone.location + "|" + phone.stamp))
            continue;
        if (phone.location.empty()) {
            // A new tty may show in the map a moment before its place does: said only when
            // the next look still finds none.
            if (unplaced_.insert(phone.portName).second)
                now.erase(phone.portName);
            else
                lines.push_back(phone.portName +
                                ": 포트의 위치를 알 수 없습니다 (USB 포트가 아님)");
            continue;
        }
        const int other = map_.SlotOf(phone.location);
        if (other != 0 && other != slot_) {
            lines.push_back(FormatText("%s: 이미 슬롯 %d에 지정된 포트입니다 (%s)",
                                       phone.portName.c_str(), other, phone.location.c_str()));
            continue;
        }
        map_.locations[slot_] = phone.location;
        lines.push_back(
            FormatText("슬롯 %d = %s (%s)", slot_, phone.location.c_str(), phone.portName.c_str()));
        ++slot_;
        bound = true;
    }
    std::set<std::string> unplaced;  // forgotten once gone or placed
    for (const LocatedPhone& phone : present)
        if (phone.location.empty() && unplaced_.count(phone.portName))
            unplaced.insert(phone.portName);
    unplaced_ = std::move(unplaced);
    seen_ = std::move(now);
    return bound;
}

}  // namespace zembra
