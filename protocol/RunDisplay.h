#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "protocol/RunEvents.h"
#include "protocol/RunView.h"

namespace zembra {

class MainThread;

// Application titles of the single run.
inline constexpr char TITLE_IDLE[] = "Zembra 4";
inline constexpr char TITLE_ERASE[] = "Erase Zembra 4";
// The title while an image is written: "37% Zembra 4".
std::string ProgressTitle(int percent);

// What a host (the window, the console) shows of the runs, as an observer of their events:
// every slot's log lines (and the multi download's own), of the single run (slot 0) its
// gauge, application title, address field and image markers, of the multi slots their rows
// and the leading phone, and every run's end. The display work runs on the host's main
// thread: lines, image marks and the end are handed over and waited for, so that they keep
// their order with what the main thread does itself; progress is posted, at most about a
// hundred percentages and twenty offsets a second. A multi slot's marks and progress are
// kept in atomics by its worker and drawn on the main thread by one posted draw at a time
// (a draw reads the latest state, so nothing per packet waits or allocates).
//
// Threads: the events come on the thread that runs the phone's sequence (or on the main
// thread itself). Life: created by the host with its main thread and display, destroyed on
// the main thread after the engines whose events it takes.
class RunDisplay : public RunEvents {
  public:
    // slotPort: the port name of a multi slot (1-8), put before its lines as "COM5:...";
    // called on the main thread.
    RunDisplay(MainThread& mainThread, RunView& host,
               std::function<std::string(int slot)> slotPort = {});

    // A multi slot's run begins (main thread): its row shows its start.
    void RunStarted(int slot, const std::string& port, const DownloadRun& run) override;
    void Line(int slot, const std::string& text, std::uint32_t colour) override;
    void Progress(int slot, std::int64_t offset, std::int64_t total, int percent) override;
    // An image's start (its erase follows) and its end.
    void ImageMark(int slot, SequenceMark mark, int image) override;
    // A run's end (its port closed): of the single run every marker back to "not sent" and
    // the idle title first; then the host's RunEnded.
    void RunFinished(int slot, const RunEnd& end) override;

    // A multi slot's view (slot 0-7) as its events left it; any thread.
    MultiSlotView SlotView(int slot) const;

  private:
    void ShowProgress(int percent, std::int64_t offset);
    // A multi slot's state (index 0-7): written by its run's thread, read by the draws.
    struct SlotFields {
        std::atomic<bool> started{false};  // a run began (and its port opened)
        std::atomic<bool> active{false};
        std::atomic<int> image{0};
        std::atomic<int> percent{0};
        std::atomic<int> erasing{0};
        std::atomic<int> endCode{0};
        std::atomic<bool> drawPosted{false};
    };
    // A multi slot (1-8) changed: one draw is posted unless one is on its way.
    void SlotChanged(int slot);
    // Main thread: the slot's row (index 0-7), then the leading phone when it moved on.
    void DrawSlot(int index);
    static bool IsMultiSlot(int slot) { return slot >= 1 && slot <= MULTI_SLOT_COUNT; }
    SlotFields& Fields(int slot) { return slots_[static_cast<std::size_t>(slot - 1)]; }

    MainThread& mainThread_;
    RunView& host_;
    std::function<std::string(int)> slotPort_;
    // The single run's progress as last posted (the worker's).
    bool progressShown_ = false;
    int lastPercent_ = 0;
    std::int64_t lastOffset_ = 0;
    double lastProgressPostMs_ = 0;
    static constexpr double kProgressIntervalMs = 50;
    std::array<SlotFields, MULTI_SLOT_COUNT> slots_;
    int leaderShown_ = -1;  // main thread: the leader's slot x 100000 + image x 1000 + percent
    // Progress posted to the main thread is dropped once the display is gone.
    std::shared_ptr<char> lifeToken_ = std::make_shared<char>();
};

}  // namespace zembra
