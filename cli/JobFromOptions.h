#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "cli/CliOptions.h"
#include "job/DownloadJob.h"
#include "job/DownloadSettings.h"

namespace zembra {

// Where the job building's lines go: the log lines of the configuration file and of the file
// selection (with their colours), and the program's own errors.
struct JobBuildOutput {
    std::function<void(const std::string& text, std::uint32_t colour)> log;
    std::function<void(const std::string& text)> error;
};

// The job and settings of the command line, as the window holds them before its Start: the
// configuration file (if any), the settings given (they win over the file's; --protocol sets
// the protocol of link), the image files with the window's file selection checks (given ones,
// else the configuration's prescribed names in the image folder) and the font addresses.
// False, after its error line, when the configuration file or an image file is refused, a
// prescribed name is not a plain file name, or the trace file is one of the input files. Each
// mode runs its own Start checks afterwards.
bool BuildJobFromOptions(const CliOptions& options, Link link, DownloadJob& job,
                         DownloadSettings& settings, const JobBuildOutput& output);

}  // namespace zembra
