#include "cli/SlotsCommand.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "cli/CliOptions.h"
#include "multi/MultiHost.h"
#include "platform/Console.h"
#include "platform/Helpers.h"
#include "platform/InterruptCatcher.h"
#include "platform/OperatorInput.h"
#include "ports/SlotMap.h"

namespace zembra {

namespace {

constexpr int kLookIntervalMs = 100;

std::string SlotsHelpText() {
    return FormatText(R"(Usage: zembra-cli slots learn [--slots N] | list | forget N|all

Binds slots to the USB ports phones are plugged into, so that a phone is known by its port
whatever number the system gives it (the slot map, %s).
  learn [--slots N]  asks for slot 1, 2, ... N (default 8, at most 20) in turn: plug a phone
                     into that slot's port; the first phone that appears is bound to it
                     (one at a port bound to another slot is refused). Enter or Esc skips
                     a slot, Ctrl-C ends; every binding is saved at once
  list               the slot map and the phone at each slot's port now
  forget N|all       removes slot N's binding, or the whole slot map
With a slot map, zembra-cli --all-phones, --station and the window's multi mode give the
phone at slot k's port slot k; a phone at another port is named in the log ("등록되지 않은
포트") and not flashed in multi mode (the station flashes it unless --bound-only).
)",
                      SlotMapPath().c_str());
}

int Fail(int status, const std::string& text) {
    PrintText(stderr, "zembra-cli: %s\n", text.c_str());
    return status;
}

void PrintTable(const SlotMap& map) {
    PrintText(stdout, "slot map %s\n", SlotMapPath().c_str());
    const auto devices = ReadSerialDeviceMap();
    const std::vector<LocatedPhone> present =
        devices ? PhonesWithLocations(*devices) : std::vector<LocatedPhone>{};
    PrintText(stdout, "%-4s  %-28s  %s\n", "slot", "port location", "phone now");
    for (const auto& [slot, location] : map.locations) {
        std::string phone = "-";
        for (const LocatedPhone& p : present)
            if (p.location == location) phone = p.portName;
        PrintText(stdout, "%-4d  %-28s  %s\n", slot, location.c_str(), phone.c_str());
    }
    if (map.locations.empty())
        PrintText(stdout, "(no slot is bound: phones keep the system's numbers)\n");
    std::fflush(stdout);
}

int Learn(SlotMap map, int slotCount) {
    if (!SerialDeviceMapProblem().empty())  // a map not there yet has no phones yet
        return Fail(EXIT_PORT_OPEN,
                    "the serial-device map cannot be read (" + SerialDeviceMapDescription() + ")");
    SlotLearner learner(std::move(map), slotCount);
    InterruptCatcher interrupts;
    bool inputOpen = true;
    int asked = 0;
    std::vector<std::string> lines;
    if (const auto devices = ReadSerialDeviceMap())
        learner.Look(PhonesWithLocations(*devices), lines);  // the phones there before
    while (!learner.Done()) {
        if (interrupts.count() > 0) {
            PrintText(stdout, "stopped: the slots bound so far are kept\n");
            PrintTable(learner.map());
            return EXIT_STOPPED;
        }
        if (asked != learner.slot()) {
            asked = learner.slot();
            PrintText(stdout, "%s (Enter or Esc: skip)\n", learner.Prompt().c_str());
            std::fflush(stdout);
        }
        const auto devices = ReadSerialDeviceMap();
        lines.clear();
        const bool bound = learner.Look(
            devices ? PhonesWithLocations(*devices) : std::vector<LocatedPhone>{}, lines);
        for (const std::string& line : lines) PrintText(stdout, "%s\n", line.c_str());
        std::fflush(stdout);
        if (bound) {
            if (const std::string error = WriteSlotMap(SlotMapPath(), learner.map());
                !error.empty())
                return Fail(EXIT_JOB_REFUSED, "the slot map cannot be saved: " + error);
            continue;
        }
        const OperatorKey key = inputOpen ? WaitForOperatorKey(kLookIntervalMs) : OperatorKey::None;
        if (!inputOpen) std::this_thread::sleep_for(std::chrono::milliseconds(kLookIntervalMs));
        if (key == OperatorKey::Closed) inputOpen = false;
        if (key == OperatorKey::Skip) {
            PrintText(stdout, "슬롯 %d: 건너뜀\n", learner.slot());
            learner.Skip();
        }
    }
    PrintTable(learner.map());
    return EXIT_OK;
}

}  // namespace

int RunSlotsCommand(const std::vector<std::string>& args) {
    const std::string verb = args.empty() ? "" : args.front();
    if (verb == "--help" || verb == "-h") {
        WriteText(stdout, SlotsHelpText());
        return EXIT_OK;
    }
    const SlotMapFile file = ReadSlotMap(SlotMapPath());
    if (verb == "list" && args.size() == 1) {
        if (!file.error.empty()) return Fail(EXIT_JOB_REFUSED, file.error);
        PrintTable(file.map);
        return EXIT_OK;
    }
    if (verb == "learn") {
        int slots = MULTI_SLOT_COUNT;
        if (args.size() == 3 && args[1] == "--slots") {
            const std::uint32_t n = ParseNumber(args[2]);
            if (n < 1 || n > SLOT_MAP_SLOTS ||
                args[2].find_first_not_of("0123456789") != std::string::npos)
                return Fail(EXIT_USAGE, "--slots takes a number of slots, 1-20");
            slots = static_cast<int>(n);
        } else if (args.size() != 1) {
            return Fail(EXIT_USAGE, "slots learn takes --slots N only");
        }
        if (!file.error.empty())
            return Fail(EXIT_JOB_REFUSED,
                        file.error + " (zembra-cli slots forget all starts anew)");
        return Learn(file.map, slots);
    }
    if (verb == "forget" && args.size() == 2) {
        SlotMap map = file.error.empty() ? file.map : SlotMap{};
        if (args[1] == "all") {
            map.locations.clear();
        } else {
            const std::uint32_t slot = ParseNumber(args[1]);
            if (slot < 1 || slot > SLOT_MAP_SLOTS ||
                args[1].find_first_not_of("0123456789") != std::string::npos)
                return Fail(EXIT_USAGE, "slots forget takes a slot number (1-20) or all");
            if (!file.error.empty()) return Fail(EXIT_JOB_REFUSED, file.error);
            map.locations.erase(static_cast<int>(slot));
        }
        if (const std::string error = WriteSlotMap(SlotMapPath(), map); !error.empty())
            return Fail(EXIT_JOB_REFUSED, "the slot map cannot be saved: " + error);
        PrintTable(map);
        return EXIT_OK;
    }
    std::fputs(SlotsHelpText().c_str(), stderr);
    return EXIT_USAGE;
}

}  // namespace zembra
