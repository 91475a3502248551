#pragma once

#include <array>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/CliOptions.h"  // the exit statuses
#include "job/DownloadJob.h"
#include "multi/MultiDownload.h"
#include "platform/SerialDeviceMap.h"

namespace zembra {

class ConsoleHost;
class LoopMainThread;

struct MultiModeOptions {
    bool versionCheck = true;
    // Delays of the staggered start (the defaults are the production values).
    MultiStartTiming timing;
};

// Slots from an explicit port list: the i-th port goes to slot i. Error text when there
// are more than eight ports or a port is named twice.
std::optional<std::array<std::string, MULTI_SLOT_COUNT>> SlotsFromPortList(
    const std::vector<std::string>& ports, std::string* error);

// Slots from the serial-device map: "\Device\trelvic<d>", d = 0..7 -> slot d (slot n = d + 1
// as operators count); other values are ignored.
std::array<std::string, MULTI_SLOT_COUNT> SlotsFromDeviceMap(
    const std::vector<SerialMapEntry>& entries);

// One named slot's end: a row of the end table, and what a caller hears as each slot's
// worker ends.
struct MultiSlotSummary {
    int slot = 0;
    std::string portName;
    int endCode = 0;
    long long elapsedMs = -1;  // -1: the run never began
};

// The exit status for the slots' end codes (every named slot must have ended with 1).
int MultiExitStatus(const std::vector<MultiSlotSummary>& rows);

// What a caller sees of a multi download besides the console: each slot's end as its worker
// finishes (main thread).
struct MultiRunHooks {
    RunEvents* events = nullptr;  // an observer of the slots' runs besides the console
    std::function<void()> tick;   // every status tick
    std::function<void(const MultiSlotSummary& end)> slotEnded;
    std::function<void()> started;  // once the ports are open, before the first packet
    // A slot whose port did not open (the Start then opened none: PortFailed).
    std::function<void(int slot)> portFailed;
};

// Runs one multi download to its end on the given main-thread loop and console: Start (its
// questions on the console), the workers' lines as they come, the live status, Stop on
// interrupt (interrupted() turning true), the summary. ports are the eight multi ports' operations;
// attach is called with the multi download once it is made and with nullptr before it goes away;
// hooks.started, when given, runs once the ports are open, before the first packet (the trace file
// begins there). versions: the image versions the caller noted (see MultiStartRequest). Returns the
// exit status.
int RunMultiDownload(DownloadJob& job, const DownloadSettings& settings,
                     const ImageVersions& versions, const MultiModeOptions& options,
                     const std::array<std::string, MULTI_SLOT_COUNT>& slots, LoopMainThread& loop,
                     MultiPortOps& ports, const std::function<void(MultiDownload*)>& attach,
                     const std::function<bool()>& interrupted, ConsoleHost& console,
                     const MultiRunHooks& hooks = {});

}  // namespace zembra
