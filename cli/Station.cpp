#include "cli/Station.h"

#include <algorithm>
#include <chrono>

#include "cli/LineStation.h"
#include "cli/MultiMode.h"
#include "cli/SingleCliRun.h"
#include "platform/Helpers.h"
#include "platform/LoopMainThread.h"

namespace zembra {

namespace {

constexpr auto kMapPollInterval = std::chrono::milliseconds(100);

std::string Minutes(long long ms) {
    return FormatText("%02lld:%02lld.%lld", ms / 60000, (ms / 1000) % 60, (ms % 1000) / 100);
}

// The new phones of the map now (device numbers below limit).
std::vector<MapPhone> FreshPhones(StationPhones& phones, int limit) {
    const auto map = ReadSerialDeviceMap();
    std::vector<MapPhone> present;
    if (map)
        for (const MapPhone& phone : PhonesInMap(*map))
            if (phone.device < limit) present.push_back(phone);
    return phones.NewPhones(present);
}

}  // namespace

std::vector<MapPhone> StationPhones::NewPhones(const std::vector<MapPhone>& present) {
    std::map<std::string, std::string> still;
    std::vector<MapPhone> fresh;
    for (const MapPhone& phone : present) {
        const std::string identity = PhoneIdentity(phone);
        const auto it = done_.find(phone.valueName);
        if (it != done_.end() && it->second == identity)
            still.insert(*it);
        else
            fresh.push_back(phone);
    }
    done_ = std::move(still);
    return fresh;
}

void StationPhones::Refresh(int deviceLimit) {
    FreshPhones(*this, deviceLimit);
}

void StationPhones::Taken(const MapPhone& phone) {
    done_[phone.valueName] = PhoneIdentity(phone);
}

std::string StationTally::Summary(double nowMs) const {
    const double hours = (nowMs - startMs) / 3600000.0;
    const int phones = done + failed;
    return FormatText("station: %d phone%s, %d done, %d failed, %.0f per hour (%s)", phones,
                      phones == 1 ? "" : "s", done, failed, hours > 0 ? phones / hours : 0.0,
                      Minutes(static_cast<long long>(nowMs - startMs)).c_str());
}

std::string StationLine(const std::string& port, bool ok, long long durationMs,
                        const std::string& reason) {
    std::string line = FormatText("station: %-12s %-6s %s", port.c_str(), ok ? "OK" : "FAILED",
                                  Minutes(durationMs).c_str());
    if (!ok && !reason.empty()) line += "  " + reason;
    return line;
}

int RunSingleStation(SingleSession& session) {
    ConsoleHost& host = session.host;
    StationPhones phones;
    StationTally tally;
    tally.startMs = NowMs();
    bool waitingShown = false;
    StationLineSender line(session.recorder.path(), session.options.recordsServer,
                           [&host](const std::string& text) { host.Note(text); });
    host.Note("station: waiting for phones in the serial-device map (Ctrl-C ends)");
    while (session.interrupts.count() == 0) {
        line.Poll();
        const auto map = ReadSerialDeviceMap();
        const std::vector<MapPhone> fresh =
            phones.NewPhones(map ? PhonesInMap(*map) : std::vector<MapPhone>{});
        if (fresh.empty()) {
            if (!waitingShown) host.Note("station: waiting for the next phone");
            waitingShown = true;
            session.loop.RunUntil([&] { return session.interrupts.count() > 0; }, kMapPollInterval);
            continue;
        }
        waitingShown = false;
        const MapPhone& phone = fresh.front();
        phones.Taken(phone);
        const SinglePhoneResult result = session.RunPhone(
            phone.portName, "zembra-cli --station", [&] { phones.Refresh(MAP_PHONE_DEVICES); });
        const bool ok = result.outcome == RunOutcome::Completed;
        tally.Count(ok);
        host.Note(StationLine(phone.portName, ok, result.durationMs,
                              result.outcome == RunOutcome::None ? "PortOpenFailed"
                                                                 : RunOutcomeName(result.outcome)));
        line.RecordWritten();
    }
    line.Poll();
    host.Note(tally.Summary(NowMs()) + line.SummaryText());
    return tally.failed > 0 ? EXIT_PHONE_FAILED : EXIT_OK;
}

namespace {

// One batch of the multi station on its slots, each phone's end counted and said. A port that
// did not open fails its own phone only: the others go again without it. False when the job
// was refused.
bool FlashBatch(const MultiBatch& runBatch, std::array<std::string, MULTI_SLOT_COUNT> slots,
                StationPhones& phones, StationTally& tally,
                const std::function<bool()>& interrupted,
                const std::function<void(const std::string&)>& print) {
    const auto tick = [&] { phones.Refresh(MULTI_SLOT_COUNT); };
    for (;;) {
        std::array<bool, MULTI_SLOT_COUNT> ended{};
        std::array<bool, MULTI_SLOT_COUNT> portFailed{};
        const int status = runBatch(
            slots, tick,
            [&](const MultiSlotSummary& end) {
                // A phone that went away during its run counts as unplugged, even if it
                // is back before the next tick.
                phones.Refresh(MULTI_SLOT_COUNT);
                const bool ok = end.endCode == END_FINISHED;
                tally.Count(ok);
                ended[static_cast<std::size_t>(end.slot)] = true;
                print(StationLine(
                    end.portName, ok, end.elapsedMs < 0 ? 0 : end.elapsedMs,
                    FormatText("endCode %d %s", end.endCode, EndCodeMeaning(end.endCode))));
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
            tally.Count(false);
            print(StationLine(slots[s], false, 0, "not started (port)"));
            slots[s].clear();
        }
        if (!rest || interrupted()) return true;
    }
}

}  // namespace

int RunMultiStation(const MultiBatch& runBatch, const std::function<bool()>& interrupted,
                    const std::function<void(const std::string&)>& print, int settleMs,
                    LoopMainThread& loop, StationLineSender* line) {
    StationPhones phones;
    StationTally tally;
    tally.startMs = NowMs();
    bool waitingShown = false;
    bool refused = false;
    print("station: waiting for phones in the serial-device map (Ctrl-C ends)");
    while (!interrupted()) {
        if (line) line->Poll();
        std::vector<MapPhone> fresh = FreshPhones(phones, MULTI_SLOT_COUNT);
        if (fresh.empty()) {
            if (!waitingShown) print("station: waiting for the next phones");
            waitingShown = true;
            loop.RunUntil(interrupted, kMapPollInterval);
            continue;
        }
        waitingShown = false;
        // Phones put on the station together start together.
        loop.RunUntil(interrupted, std::chrono::milliseconds(settleMs));
        if (interrupted()) break;
        fresh = FreshPhones(phones, MULTI_SLOT_COUNT);
        std::array<std::string, MULTI_SLOT_COUNT> slots;
        for (const MapPhone& phone : fresh) {
            slots[static_cast<std::size_t>(phone.device)] = phone.portName;
            phones.Taken(phone);
        }
        if (!FlashBatch(runBatch, slots, phones, tally, interrupted, print)) {
            refused = true;
            break;
        }
        if (line) line->RecordWritten();
    }
    if (line) line->Poll();
    print(tally.Summary(NowMs()) + (line ? line->SummaryText() : ""));
    if (refused) return EXIT_JOB_REFUSED;
    return tally.failed > 0 ? EXIT_PHONE_FAILED : EXIT_OK;
}

}  // namespace zembra
