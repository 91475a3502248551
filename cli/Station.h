#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>

#include "cli/MultiMode.h"

namespace zembra {

class LoopMainThread;
struct SingleSession;

// How long a station leaves a device alone after failed runs on it: a phone that fails and
// comes back at once (it re-enumerates) would otherwise be flashed again and again without a
// pause. After a failure the next run on the device waits firstMs; each further failure there
// doubles the wait, up to lastMs. A run that succeeds, or a phone of another port name on the
// device, starts over. Times are now()'s, in milliseconds.
class StationBackOff {
  public:
    explicit StationBackOff(std::function<double()> now, double firstMs = 1000,
                            double lastMs = 60000);
    // A run on the device (its phone's port name) ended. True when this failure begins the
    // device's back-off: the one time to say so.
    bool Ended(int device, const std::string& port, bool ok);
    // True while a phone of this port name on the device must wait.
    bool Waiting(int device, const std::string& port);
    // The wait after the device's failures so far (0 without one).
    double WaitMs(int device) const;
    double lastMs() const { return lastMs_; }

  private:
    struct Device {
        std::string port;
        int failures = 0;
        double until = 0;
    };
    std::function<double()> now_;
    double firstMs_, lastMs_;
    std::map<int, Device> devices_;
};

// zembra-cli --station: waits for phones in the serial-device map and flashes each new one
// with the session's job, one line per phone, until Ctrl-C; then the summary. Returns 0 when
// no phone failed (a run stopped by Ctrl-C counts as failed), 15 otherwise.
int RunSingleStation(SingleSession& session);

// The end of a run that is not a station: with a line server set (recordsServer, else the
// configuration file) the records waiting in recordsPath (this run's among them) are pushed
// for up to `bound`; print gets one line: sent, or how many still wait.
void PushRecordsAfterRun(const std::string& recordsPath, const std::string& recordsServer,
                         const std::function<void(const std::string&)>& print,
                         std::chrono::milliseconds bound = std::chrono::seconds(3));

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
// summary. Returns 0 when no phone failed, 15 otherwise, 3 when the job was refused. The
// records of recordsPath go to the line server of recordsServer (the option) when one is set.
// With a slot map (ports/SlotMap.h) the slots are its ports; boundOnly leaves phones at other
// ports alone. A bound slot whose phones failed three times in a row is said in red (warn),
// then and in the summary.
int RunMultiStation(const MultiBatch& runBatch, const std::function<bool()>& interrupted,
                    const std::function<void(const std::string&)>& print,
                    const std::function<void(const std::string&)>& warn, int settleMs,
                    LoopMainThread& loop, const std::string& recordsPath,
                    const std::string& recordsServer, bool boundOnly);

}  // namespace zembra
