// zembra-cli: the command-line front end of the downloads (single and multi) and the records.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/ConsoleHost.h"
#include "cli/LineServerOptions.h"
#include "cli/MultiCli.h"
#include "cli/RecordsCommand.h"
#include "cli/SingleCliRun.h"
#include "cli/SlotsCommand.h"
#include "platform/Console.h"
#include "platform/Version.h"
#include "records/RecordStore.h"

namespace {

using namespace zembra;

// passwordOptions: the options whose value held a password (HidePasswordArguments).
int Run(const std::vector<std::string>& args, const std::vector<std::string>& passwordOptions) try {
    if (!args.empty() && (args.front() == "records" || args.front() == "report")) {
        // A short query: its --server was overwritten all the same, without a warning.
        if (const std::string refused = StationConfigRefusal(); !refused.empty()) {
            PrintText(stderr, "zembra-cli: %s\n", refused.c_str());
            return EXIT_USAGE;
        }
        const std::vector<std::string> rest(args.begin() + 1, args.end());
        return args.front() == "records" ? RunRecordsCommand(rest) : RunReportCommand(rest);
    }
    if (!args.empty() && args.front() == "slots")
        return RunSlotsCommand(std::vector<std::string>(args.begin() + 1, args.end()));
    CliParseResult parsed = ParseCliOptions(args);
    CliOptions& options = parsed.options;
    if (parsed.ok() && !options.help && !options.version)
        parsed.error = ResolveRecordsServer(options);
    if (!parsed.ok()) {
        PrintText(stderr, "zembra-cli: %s\n", parsed.error.c_str());
        return EXIT_USAGE;
    }
    if (options.help) {
        WriteText(stdout, CliHelpText());
        if (options.multi) WriteText(stdout, MultiHelpText());
        return EXIT_OK;
    }
    if (options.version) {
        PrintText(stdout, "zembra-cli %s (%s)\n", kVersionNumber, kApplicationTitle);
        return EXIT_OK;
    }
    ConsoleHost host(options);
    for (const std::string& option : passwordOptions) host.Error(PasswordArgumentWarning(option));
    return options.multi ? RunMultiCli(options, host) : RunSingleCli(options, host);
} catch (const std::exception& e) {
    // Every command: the downloads, the records and the report.
    PrintText(stderr, "zembra-cli: internal error: %s\n", e.what());
    return EXIT_INTERNAL;
}

// A log or a list that could not be written (disk full, a closed file) is a failure of its
// own, said on the standard error, unless the run already failed for another reason.
int WithOutputStatus(int status) {
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    const int error = errno;
    if (flushed && !std::ferror(stdout)) return status;
    PrintText(stderr, "zembra-cli: the standard output could not be written%s%s\n",
              error != 0 ? ": " : " (lines are missing)", error != 0 ? std::strerror(error) : "");
    return status == EXIT_OK ? EXIT_OUTPUT_FAILED : status;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args = ProgramArguments(argc, argv);
    if (!args.empty()) args.erase(args.begin());
    // A password among the arguments leaves the process's own memory at once (the arguments
    // were copied above).
    const std::vector<std::string> passwordOptions = HidePasswordArguments(argc, argv);
    return WithOutputStatus(Run(args, passwordOptions));
}
