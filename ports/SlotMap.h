#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/SerialDeviceMap.h"

namespace zembra {

// The slot map: which physical port (platform/PortLocation.h) each slot is, so that a phone is
// known by the port it is plugged into rather than by the number the system gave it. Slots
// 1-8 are the multi download's, up to 20 the station's.
inline constexpr int SLOT_MAP_SLOTS = MAP_PHONE_DEVICES;

struct SlotMap {
    std::map<int, std::string> locations;  // slot (1-20) -> location

    // The slot bound to location, 0 when none.
    int SlotOf(const std::string& location) const;
};

// The slot map file: UserConfigFolder() + "/zembra/slots.conf", beside zembra.conf. UTF-8
// lines "slot = location"; "#" begins a comment line.
std::string SlotMapPath();

// What reading the file gave: present false when there is no file (no slot map: phones keep
// the system's numbers); error says why an existing file cannot be used (unreadable, a line
// that is no binding, a slot out of range, one location bound twice).
struct SlotMapFile {
    bool present = false;
    SlotMap map;
    std::string error;
};
SlotMapFile ReadSlotMap(const std::string& path);

// Writes the map (durably, replacing the old file); an empty map removes the file. The reason
// when it could not be done, else empty.
std::string WriteSlotMap(const std::string& path, const SlotMap& map);

// A phone of the serial-device map (device numbers 0-19, a port name) and the place it is
// plugged into; location empty when its port has none.
struct LocatedPhone {
    std::string portName;
    std::string location;
    std::string stamp = {};  // the map entry's (SerialMapEntry::stamp): new when plugged in again
};

// The serial-device map as the slot map sees it: the phone at the location of slot k is
// "\Device\trelvic<k-1>" whatever its own device number (its port name and stamp kept).
// Phones elsewhere are listed in unbound; with keepUnbound they also stay in the map, at the
// device numbers that no slot of the map uses, in their own order.
struct SlotView {
    std::vector<SerialMapEntry> map;
    std::vector<LocatedPhone> unbound;
};
SlotView SlotViewOf(const SlotMap& slots, const std::vector<SerialMapEntry>& deviceMap,
                    const std::function<std::string(const std::string& port)>& locationOf,
                    bool keepUnbound);

// The serial-device map that the multi download and the station use: SlotViewOf() of the slot
// map file (locations read with PortLocation()) when there is one, else ReadSerialDeviceMap()
// as it is. map is std::nullopt when the device map cannot be read; slotMapError says why
// a slot map file exists but cannot be used (the device map is then empty: no phone is
// put in a slot it may not belong to).
struct PhoneMap {
    std::optional<std::vector<SerialMapEntry>> map;
    std::vector<LocatedPhone> unbound;
    bool slotMapped = false;
    SlotMap slots;  // the slot map file's bindings (none without a usable file)
    std::string slotMapError;
};
PhoneMap ReadPhoneMap(bool keepUnbound);

// The log line of a phone at a location no slot is bound to: "COM7: 등록되지 않은 포트 1-1.4".
std::string UnboundPhoneText(const LocatedPhone& phone);

// Teaching the slot map slot by slot: the host shows Prompt() and feeds every look at the
// serial-device map to Look(); the first phone that appears after the slot was asked for is
// bound to it, unless its location is bound to another slot (refused, with that slot's
// number). Skip() leaves a slot as it was. Shared by the window's dialog and zembra-cli.
class SlotLearner {
  public:
    SlotLearner(SlotMap map, int slotCount);

    int slot() const { return slot_; }  // the slot asked for, 1-based
    bool Done() const { return slot_ > slotCount_; }
    const SlotMap& map() const { return map_; }
    // "슬롯 3 포트에 폰을 연결하세요"
    std::string Prompt() const;

    // One look at the phones present (port name -> location); the lines to show (a binding,
    // a refusal). True when the slot asked for was bound (the next one is asked for then).
    bool Look(const std::vector<LocatedPhone>& present, std::vector<std::string>& lines);
    void Skip();

  private:
    SlotMap map_;
    int slotCount_;
    int slot_ = 1;
    std::map<std::string, std::string> seen_;  // port -> location and stamp, at the last look
    std::set<std::string> unplaced_;           // new ports seen once without a location
    bool looked_ = false;
};

// The phones of the serial-device map now (device numbers 0-19) with their locations.
std::vector<LocatedPhone> PhonesWithLocations(const std::vector<SerialMapEntry>& deviceMap);

}  // namespace zembra
