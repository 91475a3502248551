#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "records/DownloadRecord.h"

namespace zembra {

// One station's runs that started in one hour (UTC).
struct StationHour {
    std::string station;
    std::string hour;  // "2026-12-07T11"
    int done = 0;
    int failed = 0;
    std::map<std::string, int> reasons;  // failed runs by outcome
    std::uint64_t bytesSent = 0;
    std::int64_t runMs = 0;  // the runs' durations added up
};

// The records by station and hour, in that order.
std::vector<StationHour> SummaryByStationHour(const std::vector<DownloadRecord>& records);

// records --summary: one line per station and hour (phones done, failed, the failure
// reasons, the runs' throughput: phones per hour of run time and bytes per second on the
// link), then one total line per station.
std::string SummaryText(const std::vector<DownloadRecord>& records);

// The line report: one self-contained HTML page (inline style and SVG charts, no script, no
// link to anything outside it): phones per hour per station, failures by reason and by port,
// the slowest runs and every run of the period. source names where the records came from,
// period what was asked for.
std::string LineReportHtml(const std::vector<DownloadRecord>& records, const std::string& source,
                           const std::string& period);

}  // namespace zembra
