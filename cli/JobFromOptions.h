#pragma once

#include "cli/CliOptions.h"
#include "cli/ConsoleHost.h"
#include "job/DownloadJob.h"
#include "job/DownloadSettings.h"
#include "protocol/DebugTrace.h"

namespace zembra {

// The job and settings of the command line, as the window holds them before its Start: the
// configuration file (if any), the settings given (they win over the file's; --protocol sets
// the protocol of link), the image files with the window's file selection checks (given ones,
// else the configuration's prescribed names in the image folder) and the font addresses.
// The log lines of the configuration file and of the file selection, and the program's own
// errors, go to console. False, after its error line, when the configuration file or an
// image file is refused, a prescribed name is not a plain file name, or the trace file is one
// of the input files. Each mode runs its own Start checks afterwards.
bool BuildJobFromOptions(const CliOptions& options, Link link, DownloadJob& job,
                         DownloadSettings& settings, ConsoleHost& console);

// The check before anything is sent: the problems of the job's flash ranges (overlapping
// images, a range beyond the 4 GiB address space, an image larger than its 32-bit erase
// length) as red lines, then the operator's answer to FLASH_RANGE_QUESTION (--yes, --no or
// the terminal). True when the job has no such problem or the operator confirmed it.
bool PreFlightAccepted(const DownloadJob& job, ConsoleHost& host);

// --trace FILE of both modes, once the ports are open and before the first packet: empties
// the file and switches the trace on. A file that cannot be written is said on console (its
// lines are lost; the download goes on). Nothing when fileName is empty.
void StartCliTrace(DebugTrace& trace, const std::string& fileName, ConsoleHost& console);

}  // namespace zembra
