#pragma once

#include <string>
#include <vector>

#include "records/DownloadRecord.h"

namespace zembra {

// records --summary: one line per station and hour (phones done, failed, the failure
// reasons, the runs' throughput: phones per hour of run time and bytes per second on the
// link), then one total line per station, then the phones and failures per station, slot and
// USB port (the places with failures first). A record whose start time cannot be read is left
// out and counted on a last line ("1 record could not be read ...").
std::string SummaryText(const std::vector<DownloadRecord>& records);

// The line report: one self-contained HTML page (inline style and SVG charts, no script, no
// link to anything outside it): phones per hour, day or week per station (at most 60 bars
// whatever the period), failures by reason, by port and by slot and USB port, the slowest runs and
// the runs of the period (every one up to 1,000; beyond, the failed and the slowest first, and how
// many are left out), so that a browser shows a year of a line at once. Records whose start time
// cannot be read are left out and counted. source names where the records came from, period
// what was asked for.
std::string LineReportHtml(const std::vector<DownloadRecord>& records, const std::string& source,
                           const std::string& period);

}  // namespace zembra
