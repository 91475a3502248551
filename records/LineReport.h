#pragma once

#include <string>
#include <vector>

#include "records/DownloadRecord.h"

namespace zembra {

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
