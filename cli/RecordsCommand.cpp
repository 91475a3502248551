#include "cli/RecordsCommand.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <iterator>

#include "cli/CliOptions.h"
#include "platform/Helpers.h"
#include "records/LineReport.h"
#include "records/LineSender.h"
#include "records/RecordExport.h"
#include "records/RecordStore.h"
#include "records/RecordTime.h"
#include "records/ServerStore.h"

namespace zembra {

namespace {

enum class Format { Table, Csv, Json, Summary, Html };

bool IsHex(const std::string& text) {
    if (text.empty() || text.size() > 64) return false;
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

std::string RecordsHelpText() {
    return R"(Usage: zembra-cli records [filters] [--csv | --json] [--db FILE]

Lists the download records, oldest first: one per phone run of zembra-cli (all modes) and of
the window.

  --db FILE        the records database (default as for downloads: --records of the
                   configuration file $XDG_CONFIG_HOME/zembra/zembra.conf, else
                   $XDG_DATA_HOME/zembra/records.sqlite)
  --since DATE     runs started at or after DATE: "2026-12-7", "2026-12-07T13:30",
                   "2026-12-07 13:30:05", a month "2026-12"; UTC unless a time zone
                   follows ("Z", "+09:00", "-0500")
  --until DATE     runs started up to the end of DATE (the whole day, hour ... written)
  --port PORT      runs on this port (as recorded: "COM65", "/dev/ttyACM0")
  --outcome X      ok, failed, or an outcome as recorded ("Completed", "EraseFailed",
                   "endCode 7")
  --sha256 HEX     runs that sent an image whose SHA-256 begins with HEX
  --last N         only the newest N runs
  --csv            CSV with a header row (images in one field:
                   "slot:file:size:sha256:0xstart-0xend:written" joined by ";"; in a
                   file name "%", ":" and ";" are written %25, %3A and %3B; a text
                   beginning with =, +, - or @ is written '= ... so that a spreadsheet
                   shows it as text)
  --json           JSON lines: one object per run, images as an array
The database is only read (an absent one holds no records). The table has a header row.

A line of stations (records shared in a PostgreSQL server):
  --server URL     read the line server instead of the local database (a libpq connection
                   string: "host=srv dbname=zembra user=line" or postgresql://...; the
                   password from ~/.pgpass or PGPASSWORD; TLS with sslmode=verify-full)
  --station NAME   runs of this station (host name as recorded)
  --summary        per station and hour: phones, done, failed, phones per hour of run
                   time, kB/s on the link, the failures by outcome; then each station's total
  --send           push the records waiting in the local database to --server (or to
                   "records-server" of the configuration file) and end
  zembra-cli report --html FILE [...] writes the line report (see zembra-cli report --help)
Exit status: 0 listed (also when nothing matched or there is no database yet), 2 bad
command line, 17 the database cannot be read, 19 the list could not be written to the
standard output, 20 --send: the server could not take the records (they stay waiting).
)";
}

// One filter option's value into the filter; an error text, empty when it was taken.
std::string SetFilter(RecordFilter& filter, const std::string& name, const std::string& value) {
    if (name == "--since" || name == "--until") {
        const bool since = name == "--since";
        const auto bound = RecordTimeBound(value, since ? TimeBound::Since : TimeBound::Until);
        if (!bound)
            return name + " takes a date or date-time such as 2026-12-7, 2026-12-07T13:30 or " +
                   "2026-12-07T13:30+09:00; \"" + value + "\" is not one";
        (since ? filter.since : filter.until) = *bound;
    } else if (name == "--port") {
        filter.port = value;
    } else if (name == "--outcome") {
        filter.outcome = value;
    } else if (name == "--sha256") {
        filter.sha256 = value;
        if (!IsHex(value)) return "--sha256 takes hexadecimal digits";
    } else {
        char* end = nullptr;
        const long n = std::strtol(value.c_str(), &end, 10);
        filter.last = static_cast<int>(n);
        if (value.empty() || *end != '\0' || n < 1 || n > 1000000000)
            return "--last takes a number of records";
    }
    return {};
}

// The records command's options.
struct RecordsCommandLine {
    RecordFilter filter;  // --station included
    Format format = Format::Table;
    std::string db;
    std::string server;  // --server: read the line server instead of the local database
    std::string html;    // --html FILE: write the line report there
    bool send = false;   // --send: push the records waiting to the line server, then end
    bool help = false;
};

// The value of an option that takes one into the command line; an error text, empty when it
// was taken.
std::string SetOption(RecordsCommandLine& c, const std::string& name, const std::string& value) {
    if (name == "--server" || name == "--station" || name == "--html") {
        if (value.empty()) return name + " needs a value";
        (name == "--server" ? c.server : name == "--station" ? c.filter.station : c.html) = value;
        if (name == "--html") c.format = Format::Html;
    } else if (name == "--db") {
        c.db = value;
    } else {
        return SetFilter(c.filter, name, value);
    }
    return {};
}

// Parses the options; EXIT_OK, or EXIT_USAGE with the reason on err.
int ParseRecordsCommandLine(const std::vector<std::string>& args, RecordsCommandLine& c,
                            std::FILE* err) {
    const auto usage = [err](const std::string& text) {
        std::fprintf(err, "zembra-cli records: %s\n", text.c_str());
        return EXIT_USAGE;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        auto [name, value] = SplitOptionWord(args[i]);
        if (name == "--help" || name == "-h") {
            c.help = true;
            return EXIT_OK;
        }
        if (name == "--csv" || name == "--json" || name == "--summary") {
            c.format = name == "--csv"    ? Format::Csv
                       : name == "--json" ? Format::Json
                                          : Format::Summary;
            continue;
        }
        if (name == "--send") {
            c.send = true;
            continue;
        }
        static const char* const kWithValue[] = {"--db",      "--since",  "--until", "--port",
                                                 "--outcome", "--sha256", "--last",  "--server",
                                                 "--station", "--html"};
        if (std::find(std::begin(kWithValue), std::end(kWithValue), name) == std::end(kWithValue))
            return usage("unknown option " + args[i] + " (see --help)");
        if (!value) {
            if (i + 1 >= args.size()) return usage(name + " needs a value");
            value = args[++i];
        }
        if (const std::string error = SetOption(c, name, *value); !error.empty())
            return usage(error);
    }
    return EXIT_OK;
}

// records --send: every waiting record of the database at path to the line server (--server,
// else "records-server" of the configuration). Exit status: 0 nothing left waiting, 2 no
// server given, 20 the server could not take them.
int SendRecords(const std::string& path, const std::string& server, std::FILE* out,
                std::FILE* err) {
    LineSenderConfig config;
    config.localPath = path;
    config.server = RecordsServerFor(server);
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

// report --html FILE: writes the line report of the records. Exit status 0, or 17 when the
// file cannot be written.
int WriteReport(const std::vector<DownloadRecord>& records, const RecordsCommandLine& c,
                const std::string& path, std::FILE* err) {
    const RecordFilter& filter = c.filter;
    std::string period = "all runs";
    if (!filter.since.empty() || !filter.until.empty())
        period = "runs started " + (filter.since.empty() ? "" : "from " + filter.since) +
                 (filter.since.empty() || filter.until.empty() ? "" : " ") +
                 (filter.until.empty() ? "" : "up to " + filter.until) + " (UTC)";
    if (!filter.station.empty()) period += ", station " + filter.station;
    const std::string source =
        c.server.empty() ? path : "line server " + ServerDescription(c.server);
    // Replaced only once the new report is complete: a reader never sees half a report.
    if (!ReplaceFileDurably(c.html, LineReportHtml(records, source, period)).empty()) {
        std::fprintf(err, "zembra-cli report: cannot write %s\n", c.html.c_str());
        return EXIT_UNREADABLE;
    }
    return EXIT_OK;
}

// The records in the chosen form on out (the report: into its file).
int WriteRecords(const std::vector<DownloadRecord>& records, const RecordsCommandLine& c,
                 const std::string& path, std::FILE* out, std::FILE* err) {
    switch (c.format) {
        case Format::Csv:
            std::fputs(RecordsCsv(records).c_str(), out);
            break;
        case Format::Json:
            for (const DownloadRecord& record : records)
                std::fputs(RecordJsonLine(record).c_str(), out);
            break;
        case Format::Table:
            std::fputs(RecordsTable(records).c_str(), out);
            break;
        case Format::Summary:
            std::fputs(SummaryText(records).c_str(), out);
            break;
        case Format::Html:
            return WriteReport(records, c, path, err);
    }
    std::fflush(out);
    return 0;
}

}  // namespace

int RunRecordsCommand(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    RecordsCommandLine c;
    if (const int status = ParseRecordsCommandLine(args, c, err); status != EXIT_OK) return status;
    if (c.help) {
        std::fputs(RecordsHelpText().c_str(), out);
        return 0;
    }
    const bool local = c.server.empty() || c.send;
    const std::string path = local ? RecordsPathFor(c.db) : "";
    if (path.empty() && local) {
        std::fprintf(err, "zembra-cli records: records are switched off (\"off\")\n");
        return EXIT_USAGE;
    }
    if (c.send) return SendRecords(path, c.server, out, err);
    std::vector<DownloadRecord> records;
    const std::string error = c.server.empty() ? RecordStore(path).Query(c.filter, records)
                                               : ServerStore(c.server).Query(c.filter, records);
    if (!error.empty()) {
        std::fprintf(err, "zembra-cli records: %s\n", error.c_str());
        return EXIT_UNREADABLE;
    }
    return WriteRecords(records, c, path, out, err);
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
                "drawn in the page): phones per hour, day or week per station (at most 60\n"
                "bars), failures by reason and by port, the slowest runs and the runs of the\n"
                "period (up to 1,000: the failed and the slowest first). The records come from "
                "the\n"
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
