#pragma once

#include <atomic>

#include "job/DownloadSettings.h"
#include "protocol/DownloadSequence.h"
#include "protocol/ResponseReceiver.h"
#include "protocol/RunEvents.h"

namespace zembra {

// What a Start hands the single engine for one run: the job's paths and the values taken at
// Start. Written by the start handler (main thread) before the worker is resumed; read by the
// worker during the run.
using SingleRunConfig = DownloadRun;

// The shared state of the single engine: the bridge's fields, the response buffer and the
// flags that the worker and the main thread hand each other. One object for the life of the
// program.
//
// Threads: answers has its own lock and also wakes a
// waiting WaitResponse on a stop request. The flags are atomics.
struct SingleShared {
    // --- response (the receive handler cuts it, the worker takes it) ---
    ResponseReceiver answers;

    // --- flags ---
    std::atomic<bool> downloadEnabled{false};
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> downloadRunning{false};
    std::atomic<double> downloadStartMs{0.0};

    // The mode in force: set by Start, overwritten by the worker when an auto mode settles
    // (read by the host after the run).
    std::atomic<LinkProtocolCode> mode{INITIAL_LINK_PROTOCOL};

    // The run's job and values (see SingleRunConfig).
    SingleRunConfig run;
    // The observer of the runs (slot 0); set by the host while no run is in progress.
    RunEvents* events = nullptr;

    // How the last run ended; set by the worker before the run's end reaches its observer.
    std::atomic<RunOutcome> lastOutcome{RunOutcome::None};

    // Sets stopRequested and wakes a waiting WaitResponse. Any thread.
    void RequestStop() {
        stopRequested.store(true);
        answers.WakeWaiter();
    }
    // Clears stopRequested (Start). Any thread.
    void ClearStop() { stopRequested.store(false); }
};

}  // namespace zembra
