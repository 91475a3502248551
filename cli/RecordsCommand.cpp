#include "cli/RecordsCommand.h"

#include <cctype>
#include <cstdlib>

#include "cli/CliOptions.h"
#include "cli/LineCommands.h"
#include "records/LineReport.h"
#include "records/RecordExport.h"
#include "records/RecordStore.h"
#include "records/RecordTime.h"

namespace zembra {

namespace {

enum class Format { Table, Csv, Json, Summary, Html };

bool IsHex(const std::string& text) {
    if (text.empty() || text.size() > 64) return false;
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

}  // namespace

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
                   file name "%", ":" and ";" are written %25, %3A and %3B)
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

namespace {

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
    RecordFilter filter;
    LineQuery line;
    Format format = Format::Table;
    std::string db;
    bool help = false;
};

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
            c.line.send = true;
            continue;
        }
        const bool known = name == "--db" || name == "--since" || name == "--until" ||
                           name == "--port" || name == "--outcome" || name == "--sha256" ||
                           name == "--last" || IsLineOption(name);
        if (!known) return usage("unknown option " + args[i] + " (see --help)");
        if (!value) {
            if (i + 1 >= args.size()) return usage(name + " needs a value");
            value = args[++i];
        }
        std::string error;
        if (IsLineOption(name)) {
            error = c.line.Set(name, *value);
            if (name == "--html") c.format = Format::Html;
        } else if (name == "--db") {
            c.db = *value;
        } else {
            error = SetFilter(c.filter, name, *value);
        }
        if (!error.empty()) return usage(error);
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
            return WriteReport(records, path, c.line, c.filter, err);
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
    const LineQuery& line = c.line;
    const std::string path = line.server.empty() || line.send ? RecordsPathFor(c.db) : "";
    if (path.empty() && (line.server.empty() || line.send)) {
        std::fprintf(err, "zembra-cli records: records are switched off (\"off\")\n");
        return EXIT_USAGE;
    }
    if (line.send) return SendRecordsCommand(path, line, out, err);
    std::vector<DownloadRecord> records;
    const std::string error = QueryRecords(path, line, c.filter, records);
    if (!error.empty()) {
        std::fprintf(err, "zembra-cli records: %s\n", error.c_str());
        return EXIT_UNREADABLE;
    }
    return WriteRecords(records, c, path, out, err);
}

}  // namespace zembra
