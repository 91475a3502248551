#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "cli/MultiMode.h"
#include "cli/PortAuto.h"

namespace zembra {

class LoopMainThread;
class StationLineSender;
struct SingleSession;

// Which phones of the serial-device map a station has flashed: a phone counts as taken from
// the start of its run until it is seen missing from the map (unplugged, also during its own
// run); plugged in again, it is new.
class StationPhones {
  public:
    // The phones of the map now that have not been taken since they were plugged in, by
    // device number; forgets the phones that are gone.
    std::vector<MapPhone> NewPhones(const std::vector<MapPhone>& present);
    // Reads the map and forgets the phones that are gone (while runs go on).
    void Refresh(int deviceLimit);
    // A phone's run begins.
    void Taken(const MapPhone& phone);

  private:
    std::map<std::string, std::string> done_;  // value name -> identity at its run
};

// The station's counts and its end line.
struct StationTally {
    int done = 0;
    int failed = 0;
    double startMs = 0;
    void Count(bool ok) { ok ? ++done : ++failed; }
    // "station: 12 phones, 11 done, 1 failed, 240 per hour (3 min)".
    std::string Summary(double nowMs) const;
};

// One line per phone: "COM65  OK      00:41.2" or "COM65  FAILED  00:03.0  EraseFailed".
std::string StationLine(const std::string& port, bool ok, long long durationMs,
                        const std::string& reason);

// zembra-cli --station: waits for phones in the serial-device map and flashes each new one
// with the session's job, one line per phone, until Ctrl-C; then the summary. Returns 0 when
// no phone failed (a run stopped by Ctrl-C counts as failed), 15 otherwise.
int RunSingleStation(SingleSession& session);

// One multi download on the named slots; tick() is called on every status tick, ended() as
// each slot's worker ends, portFailed() for each slot whose port did not open (none ran
// then). Returns the multi mode's exit status.
using MultiBatch = std::function<int(const std::array<std::string, MULTI_SLOT_COUNT>& slots,
                                     const std::function<void()>& tick,
                                     const std::function<void(const MultiSlotSummary&)>& ended,
                                     const std::function<void(int slot)>& portFailed)>;

// zembra-cli --multi --station: waits for phones (device numbers 0-7) in the serial-device
// map; when new ones appear, waits settleMs for others to arrive, then flashes the new ones
// together (slot d + 1), one line per phone as it ends; a phone whose port does not open
// fails alone and the others of its batch run without it; again until Ctrl-C, then the
// summary. Returns 0 when no phone failed, 15 otherwise, 3 when the job was refused. line,
// when given, forwards the records to the line server.
int RunMultiStation(const MultiBatch& runBatch, const std::function<bool()>& interrupted,
                    const std::function<void(const std::string&)>& print, int settleMs,
                    LoopMainThread& loop, StationLineSender* line = nullptr);

}  // namespace zembra
