#pragma once

#include <functional>
#include <string>

#include "cli/MultiMode.h"

namespace zembra {

class LoopMainThread;
struct SingleSession;

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
