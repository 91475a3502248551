#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cli/CliOptions.h"
#include "cli/ConsoleHost.h"
#include "job/DownloadJob.h"
#include "job/DownloadSettings.h"
#include "platform/InterruptCatcher.h"
#include "platform/LoopMainThread.h"
#include "ports/VaCommPorts.h"
#include "protocol/AskOperator.h"
#include "protocol/DebugTrace.h"
#include "protocol/RunDisplay.h"
#include "protocol/SingleEngine.h"
#include "protocol/SingleShared.h"
#include "records/RunRecorder.h"

namespace zembra {

// The job, settings and link that the command line's options (and configuration file) make,
// checked like the window's single Start. `exitStatus` is EXIT_OK when the job may run.
struct CliJob {
    DownloadJob job;
    DownloadSettings settings;
    Link link = Link::Usb;
    SingleRunConfig run;  // paths and the Start snapshot
    int exitStatus = EXIT_OK;
};

// The exit status of a finished run.
int ExitStatusOf(RunOutcome outcome);

// How one phone's run ended.
struct SinglePhoneResult {
    int status = EXIT_INTERNAL;             // exit status of the run
    RunOutcome outcome = RunOutcome::None;  // None: the port could not be opened
    long long durationMs = 0;
};

// The single download's parts for one or more phones with the same job: the main-thread
// loop, the trace, the ports, the engine, and the observers of its runs (the records, the
// console).
// Made and used on the command line's main thread; becomes the process main thread while it
// lives.
struct SingleSession {
    SingleSession(const CliOptions& options, ConsoleHost& host, const CliJob& cliJob,
                  const InterruptCatcher& interrupts);
    ~SingleSession();
    SingleSession(const SingleSession&) = delete;
    SingleSession& operator=(const SingleSession&) = delete;

    // Opens the port, runs the engine to the end of the run (Ctrl-C asks for the stop) and
    // appends the run's record.
    // tick, when given, runs about every 50 ms while the run goes on.
    SinglePhoneResult RunPhone(const std::string& port, const std::string& frontEnd,
                               const std::function<void()>& tick = nullptr);

    const CliOptions& options;
    ConsoleHost& host;
    const CliJob& cliJob;
    const InterruptCatcher& interrupts;
    int interruptsSeen = 0;
    bool traceStarted = false;  // --trace emptied and switched on at the first open port
    RunRecorder recorder;       // the engine's run events make the record
    LoopMainThread loop;
    RunDisplay display;  // the runs' lines and progress on the console
    RunEventsFan events{&recorder, &display};
    DebugTrace trace;
    AskOperatorRequest ask;
    VaCommPorts vaComm;
    std::unique_ptr<SingleEngine> engine;
};

// zembra-cli's single download: builds the job, opens the port, runs the engine with a
// LoopMainThread as the bridge's main thread until the run ends, and returns the exit status.
// Ctrl-C (SIGINT) requests the stop; a third Ctrl-C ends the program at once.
int RunSingleCli(const CliOptions& options, ConsoleHost& host);

}  // namespace zembra
