#pragma once

#include <cstdint>
#include <string>

#include "protocol/RunEvents.h"
#include "protocol/SlotEnd.h"

namespace zembra {

// The download display of a host ("the window", without the window): the operator window
// implements it with its controls, the command line with the console. Only RunDisplay calls
// it, from the runs' events (RunEvents.h): it is the one road of a run's lines, progress and
// end to the operator. Every call is made on the host's main thread and must return promptly.
// A host without a single-run display keeps the defaults.
class DownloadHost {
  public:
    virtual ~DownloadHost() = default;

    // LogSingle: appends one line in a colour (0 black, 0x0000FF red, 0xFF0000 blue) to the
    // log pane of the visible panel (the multi pane when the multi panel is shown).
    virtual void LogSingle(const std::string& text, std::uint32_t colour) = 0;

    // LogMulti: appends one line in a colour to the multi log pane, whatever panel is shown
    // (the multi slots' lines with their port names, the multi download's own lines).
    virtual void LogMulti(const std::string& text, std::uint32_t colour) = 0;

    // The run's progress in percent (0..100).
    virtual void SetGauge(int /*percent*/) {}

    // The application title (taskbar entry), e.g. "37% Zembra 4", "Erase Zembra 4".
    virtual void SetTitle(const std::string& /*title*/) {}

    // EditAddress := text ("0x%08X" of the current file offset, or empty).
    virtual void SetAddressText(const std::string& /*text*/) {}

    // The progress marker of an image row (slot 0 code, 1..6 fonts): NOT_SENT, SENDING, SENT.
    virtual void SetMarker(int /*slot*/, const std::string& /*marker*/) {}

    // A multi slot's row (slot 0-7): its gauge and stage as its run's events left them.
    virtual void ShowSlot(int /*slot*/, const MultiSlotView& /*view*/) {}
    // The leading phone of a multi download (LeaderSlot) has moved on: its image's marker,
    // its percentage in the application title.
    virtual void ShowLeader(const MultiSlotView& /*lead*/) {}

    // The end of a run, its port closed. The single run's (slot 0): the file selection and the
    // single Start come back, and the automatic port detection unless the serial link is
    // chosen. A multi slot's (1-8): its worker has ended the run.
    virtual void RunEnded(int /*slot*/, const RunEnd& /*end*/) {}
};

}  // namespace zembra
