#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "job/DownloadJob.h"
#include "job/DownloadSettings.h"
#include "job/StartSnapshot.h"
#include "multi/LzoShared.h"
#include "multi/MSBDLU.h"
#include "multi/MultiHost.h"

namespace zembra {

class MainThread;

// What the multi Start takes from the window (or the command line).
struct MultiStartRequest {
    DownloadSettings settings;
    bool versionCheck = true;  // the version check setting ("버전검사")
    // The port names of slots 0-7 (EditMulti1 ... EditMulti8); empty = the slot takes no part.
    std::array<std::string, MULTI_SLOT_COUNT> slotPortNames;
    // The image versions the caller noted (and hashed for the records) before the Start;
    // when none were taken, the Start notes them after its job checks.
    ImageVersions versions;
};

enum class MultiStartOutcome {
    Started,        // workers released
    Busy,           // a multi download is still running; nothing done
    SettingsError,  // a settings text is not a number
    JobRefused,     // a job check failed (or the operator answered No)
    PortFailed,     // a port could not be opened; every port closed again
    NoDevice,       // no slot has a port name
};

struct MultiTickResult {
    bool running = false;  // downloadRunning after the tick
    bool ended = false;    // this tick found no active worker and ended the multi download
};

// The multi download without the window: its Start and Stop, the end of a download, and the state
// they share (the workers, lzoLock and its work memory, the slot port names). Everything but the
// workers runs on the main thread.
//
// Life: created by the host (window or command line) with its main thread, port
// operations and operator side; workers are created on the first Start that uses their
// slot and live until this object dies. Destroy it on the main thread.
class MultiDownload {
  public:
    MultiDownload(MainThread& mainThread, MultiPortOps& ports, OperatorQuestions& questions,
                  MultiStartTiming timing = {});
    ~MultiDownload();
    MultiDownload(const MultiDownload&) = delete;
    MultiDownload& operator=(const MultiDownload&) = delete;

    // The multi Start (after the host has run its slot scan): settings snapshot, file times
    // refreshed in the job (unless the settings were refused), job checks and the operator's
    // questions, ports opened in slot order, workers configured and released. The host takes
    // the file selection and the Start from the operator while it runs, and gives them back
    // unless it gives Started; a refused setting is conversionError().
    MultiStartOutcome Start(DownloadJob& job, const MultiStartRequest& request);
    // The settings text that refused the last Start (SettingsError).
    const std::optional<ConversionError>& conversionError() const { return conversionError_; }

    // The observer of the slots' runs (slots 1-8; nullptr: none): their events and lines
    // (without the port name), and the multi download's own lines (MULTI_DOWNLOAD_LINES).
    // Main thread, while no worker is active; it applies from the next Start.
    void SetRunEvents(RunEvents* events) { events_ = events ? events : &NoRunEvents(); }

    // The multi Stop: every running worker of a named slot is asked to stop.
    void Stop();

    // The multi part of the status tick: while downloadRunning, whether no worker is active
    // any more, which ends the multi download (the host gives the file selection and the
    // Start back). The slots' progress is their events'.
    MultiTickResult Tick();

    // True while some worker is active (runState not 0) or the notice of its end has not
    // reached the main thread yet.
    bool AnyWorkerActive() const;
    bool downloadRunning() const { return downloadRunning_; }
    double downloadStartMs() const { return downloadStartMs_.load(); }
    // The origin of the trace's elapsed field (VaCommPorts::SetTraceOrigin).
    const std::atomic<double>* downloadStartMsSource() const { return &downloadStartMs_; }
    const std::array<std::string, MULTI_SLOT_COUNT>& slotPortNames() const {
        return slotPortNames_;
    }
    // The slots whose port did not open at the last Start (PortFailed).
    const std::array<bool, MULTI_SLOT_COUNT>& portFailedSlots() const { return portFailed_; }

    // The worker of a slot, or nullptr before the first Start that used the slot.
    MultiSingleBoxDLU* worker(int slot) const;

    LzoShared& lzo() { return lzo_; }

  private:
    // A worker's end notice, on the main thread.
    void SlotRunEnded(int slot);
    // One of the multi download's own lines.
    void Log(const std::string& text, std::uint32_t colour) {
        events_->Line(MULTI_DOWNLOAD_LINES, text, colour);
    }
    // The Start's port opening in slot order; every port closed again when one fails (the
    // slot whose port failed told as a run that started and ended at once).
    MultiStartOutcome OpenSlotPorts(const DownloadRun& run);
    // At construction, the ports closed: each port's bytes go to its slot's worker through
    // the port's tap (the worker reading the port itself where the port can do that).
    void AttachReceiveTaps();
    // The job and settings copy of every named slot's worker (created on first use).
    void ConfigureWorkers(const DownloadRun& run, bool versionCheck);

    MainThread& mainThread_;
    MultiPortOps& ports_;
    OperatorQuestions& questions_;
    std::optional<ConversionError> conversionError_;
    const MultiStartTiming timing_;
    LzoShared lzo_;
    RunEvents* events_ = &NoRunEvents();
    // The worker reads its port itself (else the port's receive thread hands its bytes over).
    std::array<bool, MULTI_SLOT_COUNT> workerReads_{};
    // The worker each tap hands its bytes to (set once the worker exists; the tap runs on
    // the port's receive thread or on the worker's reads).
    std::array<std::atomic<MultiSingleBoxDLU*>, MULTI_SLOT_COUNT> tapTargets_{};
    std::array<std::unique_ptr<MultiSingleBoxDLU>, MULTI_SLOT_COUNT> multiWorkers;
    std::array<std::string, MULTI_SLOT_COUNT> slotPortNames_;
    std::array<bool, MULTI_SLOT_COUNT> portFailed_{};
    // A released worker's end notice (SlotRunEnded) has not run yet (main thread).
    std::array<bool, MULTI_SLOT_COUNT> endNoticePending_{};
    bool downloadRunning_ = false;
    std::atomic<double> downloadStartMs_{0.0};
};

}  // namespace zembra
