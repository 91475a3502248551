#pragma once

#include <optional>
#include <string>

#include "cli/CliOptions.h"
#include "cli/ConsoleHost.h"
#include "job/DownloadJob.h"
#include "job/DownloadSettings.h"
#include "protocol/SingleShared.h"

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

// Builds the job from the options: the configuration file (if any), the image files (with the
// file selection checks of the window), the font addresses, the settings, the snapshot and
// the Start checks, with their log lines, error boxes and the override question on host.
CliJob BuildCliJob(const CliOptions& options, ConsoleHost& host);

// The exit status of a finished run.
int ExitStatusOf(RunOutcome outcome);

// zembra-cli's single download: builds the job, opens the port, runs the engine with a
// LoopMainThread as the bridge's main thread until the run ends, and returns the exit status.
// Ctrl-C (SIGINT) requests the stop; a third Ctrl-C ends the program at once.
int RunSingleCli(const CliOptions& options, ConsoleHost& host);

}  // namespace zembra
