#pragma once

#include <string>
#include <vector>

#include "cli/CliOptions.h"

namespace zembra {

// The options whose value is a line server's connection string: --records-server (downloads)
// and --server (records, report). Overwrites, in the process's own argument memory, the value
// of each one that holds a password, so that other accounts no longer read it (ps,
// /proc/PID/cmdline); the caller has copied the arguments before. Returns the names of those
// options, each once, for PasswordArgumentWarning.
std::vector<std::string> HidePasswordArguments(int argc, char** argv);

// The warning for an option whose value held a password.
std::string PasswordArgumentWarning(const std::string& option);

// The line server's setting of a download run: --records-server-file FILE sets
// options.recordsServer from the file's first line that is neither empty nor a "#" comment;
// a file that holds a password and that others may read is refused, as is the station's
// configuration file in that state. The error, or empty.
std::string ResolveRecordsServer(CliOptions& options);

}  // namespace zembra
