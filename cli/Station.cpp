#include "cli/Station.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "cli/SingleCliRun.h"
#include "platform/Helpers.h"
#include "platform/LoopMainThread.h"
#include "platform/PortNames.h"
#include "ports/SlotMap.h"
#include "records/LineSender.h"
#include "records/RecordStore.h"
#include "records/ServerStore.h"

namespace zembra {

StationBackOff::StationBackOff(std::function<double()> now, double firstMs, double lastMs)
    : now_(std::move(now)), firstMs_(firstMs), lastMs_(lastMs) {}

bool StationBackOff::Ended(int device, const std::string& port, bool ok) {
    Device& d = devices_[device];
    if (ok || d.port != port) d = Device{port};
    if (ok) return false;
    ++d.failures;
    d.until = now_() + WaitMs(device);
    return d.failures == 1;
}

bool StationBackOff::Waiting(int device, const std::string& port) {
    const auto it = devices_.find(device);
    if (it == devices_.end()) return false;
    if (it->second.port != port) {
        devices_.erase(it);
        return false;
    }
    return now_() < it->second.until;
}

double StationBackOff::WaitMs(int device) const {
    const auto it = devices_.find(device);
    if (it == devices_.end() || it->second.failures == 0) return 0;
    double wait = firstMs_;
    for (int n = 1; n < it->second.failures && wait < lastMs_; ++n) wait *= 2;
    return std::min(wait, lastMs_);
}

namespace {

constexpr auto kMapPollInterval = std::chrono::milliseconds(100);

std::string Minutes(long long ms) {
    return FormatText("%02lld:%02lld.%lld", ms / 60000, (ms / 1000) % 60, (ms % 1000) / 100);
}

// A phone in the serial-device map: value "\Device\trelvic<d>" (d = 0-19) whose data is a
// port name beginning with "COM", as the phone's USB driver registers it.
struct MapPhone {
    int device = 0;
    std::string valueName;
    std::string portName;
    std::string stamp = {};  // the map entry's own (SerialMapEntry::stamp)
};

// The phones of the map, by device number.
std::vector<MapPhone> PhonesInMap(const std::vector<SerialMapEntry>& entries) {
    std::vector<MapPhone> phones;
    for (int d = 0; d < MAP_PHONE_DEVICES; ++d) {
        const SerialMapEntry* entry = EntryOfDevice(entries, d);
        if (entry && entry->portName.rfind("COM", 0) == 0)
            phones.push_back({d, entry->valueName, entry->portName, entry->stamp});
    }
    return phones;
}

// What tells a phone that was plugged in again from one that stayed: the map entry (its name,
// port and stamp, which a new registration changes however quickly it follows the old) and
// the device its port name stands for now (its alias target, or the fixed default).
std::string PhoneIdentity(const MapPhone& phone) {
    return phone.valueName + "|" + phone.portName + "|" + phone.stamp + "|" +
           ResolvePortDevice(phone.portName);
}

// Which phones of the serial-device map a station has flashed: a phone counts as taken from
// the start of its run until it is seen missing from the map (unplugged, also during its own
// run); plugged in again, it is new.
class StationPhones {
  public:
    // keepUnbound: with a slot map, phones at other ports are flashed too (at the device
    // numbers no slot uses); note() gets the line of each such phone as it arrives.
    StationPhones(bool keepUnbound, std::function<void(const std::string&)> note)
        : keepUnbound_(keepUnbound), note_(std::move(note)) {}

    // The phones of the map now (device numbers below limit) that have not been taken since
    // they were plugged in, by device number; forgets the phones that are gone. Also called
    // while runs go on, only to forget.
    std::vector<MapPhone> Fresh(int limit) {
        const PhoneMap phoneMap = ReadPhoneMap(keepUnbound_);
        NoteSlotMap(phoneMap);
        slots_ = phoneMap.slots;
        const auto& map = phoneMap.map;
        std::map<std::string, std::string> still;
        std::vector<MapPhone> fresh;
        for (const MapPhone& phone : map ? PhonesInMap(*map) : std::vector<MapPhone>{}) {
            if (phone.device >= limit) continue;
            const auto it = done_.find(phone.valueName);
            if (it != done_.end() && it->second == PhoneIdentity(phone))
                still.insert(*it);
            else
                fresh.push_back(phone);
        }
        done_ = std::move(still);
        return fresh;
    }
    // A phone's run begins.
    void Taken(const MapPhone& phone) { done_[phone.valueName] = PhoneIdentity(phone); }
    // The USB port of the slot map's slot of device number device (slot device + 1); empty
    // when the slot is not bound (no slot map, or a phone at an unbound port).
    std::string BoundLocation(int device) const {
        const auto it = slots_.locations.find(device + 1);
        return it == slots_.locations.end() ? std::string() : it->second;
    }

  private:
    // Says once why the slot map cannot be used, and each phone at a port no slot is bound
    // to once while it stays there.
    void NoteSlotMap(const PhoneMap& phoneMap) {
        if (phoneMap.slotMapError != slotMapError_ && !phoneMap.slotMapError.empty())
            note_("station: " + phoneMap.slotMapError +
                  " (no phone is flashed until it is mended)");
        slotMapError_ = phoneMap.slotMapError;
        std::set<std::string> unbound;
        for (const LocatedPhone& phone : phoneMap.unbound) {
            const std::string line = "station: " + UnboundPhoneText(phone);
            if (!unbound_.count(line)) note_(line);
            unbound.insert(line);
        }
        unbound_ = std::move(unbound);
    }

    bool keepUnbound_;
    SlotMap slots_;  // as the last look found it
    std::function<void(const std::string&)> note_;
    std::map<std::string, std::string> done_;  // value name -> identity at its run
    std::string slotMapError_;
    std::set<std::string> unbound_;  // the lines of the phones at unbound ports now
};

// The station's counts and its end line, and the runs of each bound slot.
class StationTally {
  public:
    int done = 0;
    int failed = 0;
    double startMs = NowMs();

    void Count(bool ok) { ok ? ++done : ++failed; }
    // "station: 12 phones, 11 done, 1 failed, 240 per hour (3 min)".
    std::string Summary(double nowMs) const {
        const double hours = (nowMs - startMs) / 3600000.0;
        const int phones = done + failed;
        return FormatText("station: %d phone%s, %d done, %d failed, %.0f per hour (%s)", phones,
                          phones == 1 ? "" : "s", done, failed, hours > 0 ? phones / hours : 0.0,
                          Minutes(static_cast<long long>(nowMs - startMs)).c_str());
    }

    // A run on a bound slot (1-20) at its USB port: the warning when the slot's phones have now
    // failed three or more times in a row ("" otherwise). Phones that stay plugged in are not
    // run again, so each failure in a row is another phone's: the port or its cable is the
    // likely fault.
    std::string CountSlot(int slot, const std::string& location, bool ok) {
        SlotRuns& runs = slots_[slot];
        runs.location = location;
        ++runs.runs;
        runs.failed += ok ? 0 : 1;
        runs.inARow = ok ? 0 : runs.inARow + 1;
        return runs.inARow >= kFailuresInARow ? SlotWarning(slot, runs) : std::string();
    }
    // For the summary: "failures by slot: 3 (1-1.3) 4 of 10, ..." ("" when no slot failed) and
    // the warnings of the slots failing now.
    std::string SlotFailures(std::vector<std::string>& warnings) const {
        std::string failures;
        for (const auto& [slot, runs] : slots_) {
            if (runs.failed == 0) continue;
            failures += FormatText("%s %d (%s) %d of %d", failures.empty() ? "" : ",", slot,
                                   runs.location.c_str(), runs.failed, runs.runs);
            if (runs.inARow >= kFailuresInARow) warnings.push_back(SlotWarning(slot, runs));
        }
        return failures.empty() ? failures : "station: failures by slot:" + failures;
    }

  private:
    static constexpr int kFailuresInARow = 3;
    struct SlotRuns {
        std::string location;
        int runs = 0;
        int failed = 0;
        int inARow = 0;
    };
    static std::string SlotWarning(int slot, const SlotRuns& runs) {
        return FormatText("슬롯 %d (%s): 연속 %d회 실패 — 케이블이나 허브 포트를 확인하세요", slot,
                          runs.location.c_str(), runs.inARow);
    }
    std::map<int, SlotRuns> slots_;
};

// One line per phone: "COM65  OK      00:41.2" or "COM65  FAILED  00:03.0  EraseFailed".
std::string StationLine(const std::string& port, bool ok, long long durationMs,
                        const std::string& reason) {
    std::string line = FormatText("station: %-12s %-6s %s", port.c_str(), ok ? "OK" : "FAILED",
                                  Minutes(durationMs).c_str());
    if (!ok && !reason.empty()) line += "  " + reason;
    return line;
}

// A station's line sender with its console lines: started when a line server is set (the
// option, else "records-server" of the configuration file) and the station keeps records;
// stopped with the object. Poll() runs on the station's thread.
class StationLineSender {
  public:
    // localPath: the records database ("" when records are off); serverOption:
    // --records-server (empty: the configuration file). print gets each console line.
    StationLineSender(const std::string& localPath, const std::string& serverOption,
                      std::function<void(const std::string&)> print)
        : print_(std::move(print)) {
        const std::string server = RecordsServerFor(serverOption);
        if (server.empty()) return;
        if (localPath.empty()) {
            print_("station: the line server is not used: records are switched off");
            return;
        }
        LineSenderConfig config;
        config.localPath = localPath;
        config.server = server;
        sender_ = std::make_unique<LineSender>(config);
        print_("station: records go to line server " + sender_->server() +
               " (kept here until it has them)");
        sender_->Start();
    }
    ~StationLineSender() {
        if (sender_) sender_->Stop();
    }

    // Prints one line when the number of records waiting or the sender's error changed.
    void Poll() {
        if (!sender_) return;
        const LineSenderStatus status = sender_->Status();
        if (status.waiting < 0 ||
            (status.waiting == shown_.waiting && status.error == shown_.error))
            return;
        shown_ = status;
        print_("station: " + LineStatusText(sender_->server(), status));
    }
    // A phone's record has been written.
    void RecordWritten() {
        if (sender_) sender_->Wake();
    }
    // For the station's summary: ", 3 records waiting for the line server" ("" without one).
    std::string SummaryText() const {
        if (!sender_) return {};
        const LineSenderStatus status = sender_->Status();
        return status.waiting < 0 ? ", records for the line server not counted yet"
                                  : FormatText(", %lld record%s waiting for the line server",
                                               static_cast<long long>(status.waiting),
                                               status.waiting == 1 ? "" : "s");
    }

  private:
    std::unique_ptr<LineSender> sender_;
    std::function<void(const std::string&)> print_;
    LineSenderStatus shown_;
};

// A station: its console lines, Ctrl-C, the main-thread loop, the line sender, the phones it
// has taken and its counts.
struct Station {
    Station(std::function<void(const std::string&)> print,
            std::function<void(const std::string&)> warn, std::function<bool()> interrupted,
            LoopMainThread& loop, const std::string& recordsPath, const std::string& recordsServer,
            bool boundOnly)
        : print(std::move(print)),
          warn(std::move(warn)),
          interrupted(std::move(interrupted)),
          loop(loop),
          line(recordsPath, recordsServer, this->print),
          phones(!boundOnly, this->print) {}

    std::function<void(const std::string&)> print;
    std::function<void(const std::string&)> warn;  // a line in red
    std::function<bool()> interrupted;
    LoopMainThread& loop;
    StationLineSender line;
    StationPhones phones;
    StationTally tally;
    StationBackOff backOff{NowMs};

    // The new phones of the map (device numbers below limit) that may be flashed now: those
    // on a device that is backing off wait.
    std::vector<MapPhone> Ready(int limit) {
        std::vector<MapPhone> ready = phones.Fresh(limit);
        std::erase_if(ready,
                      [&](const MapPhone& p) { return backOff.Waiting(p.device, p.portName); });
        return ready;
    }
    // A phone's run on device ended; the first failure of a series says that the device's
    // next runs wait, and on a slot of the slot map the slot's warning when its phones keep
    // failing.
    void Ended(int device, const std::string& port, bool ok) {
        tally.Count(ok);
        if (backOff.Ended(device, port, ok))
            print(
                FormatText("station: %s failed: the next run on it waits %.0f s, twice as long "
                           "after each further failure (up to %.0f s), until one succeeds",
                           port.c_str(), backOff.WaitMs(device) / 1000, backOff.lastMs() / 1000));
        const std::string location = phones.BoundLocation(device);
        if (location.empty()) return;
        if (const std::string warning = tally.CountSlot(device + 1, location, ok); !warning.empty())
            warn("station: " + warning);
    }

    // Waits for phones new in the map (device numbers below limit) and hands them to flash
    // (false: the job was refused, the station ends) until Ctrl-C; then the summary. Returns
    // 0 when no phone failed, 15 otherwise, 3 when the job was refused.
    int Run(int limit, const char* waitingText,
            const std::function<bool(const std::vector<MapPhone>&)>& flash) {
        bool waitingShown = false;
        bool refused = false;
        print("station: waiting for phones in the serial-device map (Ctrl-C ends)");
        while (!interrupted()) {
            line.Poll();
            const std::vector<MapPhone> fresh = Ready(limit);
            if (fresh.empty()) {
                if (!waitingShown) print(waitingText);
                waitingShown = true;
                loop.RunUntil(interrupted, kMapPollInterval);
                continue;
            }
            waitingShown = false;
            if (!flash(fresh)) {
                refused = true;
                break;
            }
            line.RecordWritten();
        }
        line.Poll();
        print(tally.Summary(NowMs()) + line.SummaryText());
        std::vector<std::string> warnings;
        if (const std::string failures = tally.SlotFailures(warnings); !failures.empty())
            print(failures);
        for (const std::string& warning : warnings) warn("station: " + warning);
        if (refused) return EXIT_JOB_REFUSED;
        return tally.failed > 0 ? EXIT_PHONE_FAILED : EXIT_OK;
    }
};

// One batch of the multi station on its slots, each phone's end counted and said. A port that
// did not open fails its own phone only: the others go again without it. False when the job
// was refused.
bool FlashBatch(const MultiBatch& runBatch, std::array<std::string, MULTI_SLOT_COUNT> slots,
                Station& station) {
    const auto tick = [&] { station.phones.Fresh(MULTI_SLOT_COUNT); };
    for (;;) {
        std::array<bool, MULTI_SLOT_COUNT> ended{};
        std::array<bool, MULTI_SLOT_COUNT> portFailed{};
        const int status = runBatch(
            slots, tick,
            [&](const MultiSlotSummary& end) {
                // A phone that went away during its run counts as unplugged, even if it
                // is back before the next tick.
                tick();
                const bool ok = end.endCode == END_FINISHED;
                ended[static_cast<std::size_t>(end.slot)] = true;
                station.print(StationLine(
                    end.portName, ok, end.elapsedMs < 0 ? 0 : end.elapsedMs,
                    FormatText("endCode %d %s", end.endCode, EndCodeMeaning(end.endCode))));
                station.Ended(end.slot, end.portName, ok);  // slot index = device number
            },
            [&](int slot) { portFailed[static_cast<std::size_t>(slot)] = true; });
        if (status == EXIT_JOB_REFUSED || status == EXIT_USAGE) return false;
        const bool retry =
            status == EXIT_PORT_OPEN &&
            std::find(portFailed.begin(), portFailed.end(), true) != portFailed.end();
        bool rest = false;
        for (std::size_t s = 0; s < slots.size(); ++s) {
            if (slots[s].empty() || ended[s]) continue;
            if (retry && !portFailed[s]) {
                rest = true;
                continue;
            }
            station.print(StationLine(slots[s], false, 0, "not started (port)"));
            station.Ended(static_cast<int>(s), slots[s], false);
            slots[s].clear();
        }
        if (!rest || station.interrupted()) return true;
    }
}

}  // namespace

void PushRecordsAfterRun(const std::string& recordsPath, const std::string& recordsServer,
                         const std::function<void(const std::string&)>& print,
                         std::chrono::milliseconds bound) {
    const std::string server = RecordsServerFor(recordsServer);
    if (server.empty()) return;
    if (recordsPath.empty()) {
        print("the line server is not used: records are switched off");
        return;
    }
    LineSenderConfig config;
    config.localPath = recordsPath;
    config.server = server;
    LineSender sender(config);
    sender.Start();
    const auto deadline = std::chrono::steady_clock::now() + bound;
    LineSenderStatus status = sender.Status();
    while (status.waiting != 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        status = sender.Status();
    }
    sender.Stop();
    status = sender.Status();
    if (status.waiting == 0) {
        print("records sent to line server " + sender.server());
        return;
    }
    print(LineStatusText(sender.server(), status) +
          "; they go with the next station run or \"zembra-cli records --send\"");
}

int RunSingleStation(SingleSession& session) {
    const auto print = [&session](const std::string& text) { session.host.Note(text); };
    const auto warn = [&session](const std::string& text) { session.host.Error(text); };
    Station station(
        print, warn, [&] { return session.interrupts.count() > 0; }, session.loop,
        session.recorder.path(), session.options.recordsServer,
        BoundOnlyFor(session.options.boundOnly));
    return station.Run(
        MAP_PHONE_DEVICES, "station: waiting for the next phone",
        [&](const std::vector<MapPhone>& fresh) {
            const MapPhone& phone = fresh.front();
            station.phones.Taken(phone);
            const SinglePhoneResult result =
                session.RunPhone(phone.portName, "zembra-cli --station",
                                 [&] { station.phones.Fresh(MAP_PHONE_DEVICES); });
            const bool ok = result.outcome == RunOutcome::Completed;
            print(StationLine(phone.portName, ok, result.durationMs,
                              result.outcome == RunOutcome::None ? "PortOpenFailed"
                                                                 : RunOutcomeName(result.outcome)));
            station.Ended(phone.device, phone.portName, ok);
            return true;
        });
}

int RunMultiStation(const MultiBatch& runBatch, const std::function<bool()>& interrupted,
                    const std::function<void(const std::string&)>& print,
                    const std::function<void(const std::string&)>& warn, int settleMs,
                    LoopMainThread& loop, const std::string& recordsPath,
                    const std::string& recordsServer, bool boundOnly) {
    Station station(print, warn, interrupted, loop, recordsPath, recordsServer, boundOnly);
    return station.Run(MULTI_SLOT_COUNT, "station: waiting for the next phones",
                       [&](const std::vector<MapPhone>&) {
                           // Phones put on the station together start together.
                           loop.RunUntil(interrupted, std::chrono::milliseconds(settleMs));
                           if (interrupted()) return true;
                           std::array<std::string, MULTI_SLOT_COUNT> slots;
                           for (const MapPhone& phone : station.Ready(MULTI_SLOT_COUNT)) {
                               slots[static_cast<std::size_t>(phone.device)] = phone.portName;
                               station.phones.Taken(phone);
                           }
                           return FlashBatch(runBatch, slots, station);
                       });
}

}  // namespace zembra
