#include "cli/LineCommands.h"

#include "cli/CliOptions.h"
#include "cli/RecordsCommand.h"
#include "platform/Helpers.h"
#include "records/LineReport.h"
#include "records/LineSender.h"
#include "records/ServerStore.h"

namespace zembra {

bool IsLineOption(const std::string& name) {
    return name == "--server" || name == "--station" || name == "--html";
}

std::string LineQuery::Set(const std::string& name, const std::string& value) {
    if (value.empty()) return name + " needs a value";
    (name == "--server" ? server : name == "--station" ? station : html) = value;
    return {};
}

std::string QueryRecords(const std::string& path, const LineQuery& line, RecordFilter filter,
                         std::vector<DownloadRecord>& out) {
    filter.station = line.station;
    if (line.server.empty()) return RecordStore(path).Query(filter, out);
    return ServerStore(line.server).Query(filter, out);
}

int SendRecordsCommand(const std::string& path, const LineQuery& line, std::FILE* out,
                       std::FILE* err) {
    LineSenderConfig config;
    config.localPath = path;
    config.server = RecordsServerFor(line.server);
    if (config.server.empty()) {
        std::fprintf(err, "zembra-cli records: --send needs --server or \"records-server\" in %s\n",
                     StationConfigPath().c_str());
        return EXIT_USAGE;
    }
    const LineSenderStatus status = SendWaitingRecords(config);
    std::fprintf(status.error.empty() ? out : err, "zembra-cli records: %lld sent; %s\n",
                 static_cast<long long>(status.sent),
                 LineStatusText(ServerDescription(config.server), status).c_str());
    return status.error.empty() ? EXIT_OK : EXIT_NOT_SENT;
}

int WriteReport(const std::vector<DownloadRecord>& records, const std::string& path,
                const LineQuery& line, const RecordFilter& filter, std::FILE* err) {
    std::string period = "all runs";
    if (!filter.since.empty() || !filter.until.empty())
        period = "runs started " + (filter.since.empty() ? "" : "from " + filter.since) +
                 (filter.since.empty() || filter.until.empty() ? "" : " ") +
                 (filter.until.empty() ? "" : "up to " + filter.until) + " (UTC)";
    if (!line.station.empty()) period += ", station " + line.station;
    const std::string source =
        line.server.empty() ? path : "line server " + ServerDescription(line.server);
    // Replaced only once the new report is complete: a reader never sees half a report.
    if (!ReplaceFileDurably(line.html, LineReportHtml(records, source, period)).empty()) {
        std::fprintf(err, "zembra-cli report: cannot write %s\n", line.html.c_str());
        return EXIT_UNREADABLE;
    }
    return EXIT_OK;
}

int RunReportCommand(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    bool html = false;
    for (const std::string& arg : args) {
        const std::string name = SplitOptionWord(arg).name;
        if (name == "--help" || name == "-h") {
            std::fputs(
                "Usage: zembra-cli report --html FILE [--server URL | --db FILE] [--since DATE]\n"
                "                         [--until DATE] [--station NAME] [--port PORT] ...\n\n"
                "Writes the line report: one HTML file that needs nothing else to be read (charts\n"
                "drawn in the page): phones per hour per station, failures by reason and by\n"
                "port, the slowest runs and every run of the period. The records come from the\n"
                "line server (--server) or a station's database (--db, default as for\n"
                "downloads); the filters are those of \"zembra-cli records\".\n"
                "Exit status: 0 written, 2 bad command line, 17 the records cannot be read or\n"
                "the file cannot be written.\n",
                out);
            return EXIT_OK;
        }
        if (name == "--csv" || name == "--json" || name == "--summary" || name == "--send") {
            std::fprintf(err, "zembra-cli report: %s belongs to zembra-cli records\n",
                         name.c_str());
            return EXIT_USAGE;
        }
        html = html || name == "--html";
    }
    if (!html) {
        std::fprintf(err, "zembra-cli report: --html FILE is needed (see --help)\n");
        return EXIT_USAGE;
    }
    return RunRecordsCommand(args, out, err);
}

}  // namespace zembra
