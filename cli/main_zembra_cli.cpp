// zembra-cli: the command-line front end of the single-phone download.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/ConsoleHost.h"
#include "cli/LineCommands.h"
#include "cli/RecordsCommand.h"
#include "cli/SingleCliRun.h"
#include "cli/multi_cli.h"
#include "platform/Version.h"

int main(int argc, char** argv) {
    using namespace zembra;
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args.front() == "records")
        return RunRecordsCommand(std::vector<std::string>(args.begin() + 1, args.end()));
    if (!args.empty() && args.front() == "report")
        return RunReportCommand(std::vector<std::string>(args.begin() + 1, args.end()));
    if (IsMultiCommandLine(args)) return RunMultiCli(args);  // --multi / --all-phones
    const CliParseResult parsed = ParseCliOptions(args);
    if (!parsed.ok()) {
        std::fprintf(stderr, "zembra-cli: %s\n", parsed.error.c_str());
        return EXIT_USAGE;
    }
    if (parsed.options.help) {
        std::fputs(CliHelpText().c_str(), stdout);
        return EXIT_OK;
    }
    if (parsed.options.version) {
        std::printf("zembra-cli %s (%s)\n", kVersionNumber, kApplicationTitle);
        return EXIT_OK;
    }
    try {
        ConsoleHost host(parsed.options);
        return RunSingleCli(parsed.options, host);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zembra-cli: internal error: %s\n", e.what());
        return EXIT_INTERNAL;
    }
}
