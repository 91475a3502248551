#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "records/DownloadRecord.h"
#include "records/RecordStore.h"

namespace zembra {

// The line-server options of zembra-cli records and zembra-cli report.
struct LineQuery {
    std::string server;   // --server: read the line server instead of the local database
    std::string html;     // --html FILE: write the line report there
    bool send = false;    // --send: push the records waiting to the line server, then end
    std::string station;  // --station NAME
    // Takes one option with its value; returns an error text, empty when accepted.
    std::string Set(const std::string& name, const std::string& value);
};

// --server, --station, --html: the options LineQuery takes with a value.
bool IsLineOption(const std::string& name);

// The records that pass the filter: from the line server when line.server is set, else from
// the local database at path.
std::string QueryRecords(const std::string& path, const LineQuery& line, RecordFilter filter,
                         std::vector<DownloadRecord>& out);

// records --send: every waiting record of the database at path to the line server (--server,
// else "records-server" of the configuration). Exit status: 0 nothing left waiting, 2 no
// server given, 20 the server could not take them.
int SendRecordsCommand(const std::string& path, const LineQuery& line, std::FILE* out,
                       std::FILE* err);

// report --html FILE: writes the line report of the records. Exit status 0, or 17 when the
// file cannot be written.
int WriteReport(const std::vector<DownloadRecord>& records, const std::string& path,
                const LineQuery& line, const RecordFilter& filter, std::FILE* err);

// zembra-cli report --html FILE [--server URL | --db FILE] [filters].
int RunReportCommand(const std::vector<std::string>& args, std::FILE* out = stdout,
                     std::FILE* err = stderr);

}  // namespace zembra
