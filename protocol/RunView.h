#pragma once

#include <cstdint>
#include <string>

#include "protocol/RunEvents.h"
#include "protocol/SlotEnd.h"

namespace zembra {

// The log pane a line goes to: Front, the pane of the panel in front (the multi pane while the
// multi panel is shown); Multi, the multi pane whatever panel is shown (the multi slots' lines
// with their port names, the multi download's own lines). A console shows both as one.
enum class LogPane { Front, Multi };

// What a front end draws of the runs: the operator window implements it with its controls,
// the command line with the console. Only RunDisplay drives it, from the runs' events
// (RunEvents.h); nothing in the engines calls it. Every call is made on the front end's main
// thread and must return promptly. A front end without a single-run display keeps the
// defaults.
class RunView {
  public:
    virtual ~RunView() = default;

    // Appends one line in a colour (0 black, 0x0000FF red, 0xFF0000 blue) to a log pane.
    virtual void AppendLine(LogPane pane, const std::string& text, std::uint32_t colour) = 0;

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
