#pragma once

#include <string>
#include <vector>

#include "records/DownloadRecord.h"

namespace zembra {

// CSV (RFC 4180, CR LF line ends): a header row, then one row per record. The images of a
// record are one field: "slot:file:size:sha256:0xstart-0xend:written" joined by ";", with
// "%", ":" and ";" in a file name written "%25", "%3A" and "%3B". A text cell that a
// spreadsheet would take for a formula (=, +, -, @, a tab or CR first) is written with a
// leading "'" in quotes; numbers are written as they are.
std::string RecordsCsv(const std::vector<DownloadRecord>& records);

// One JSON object per record on one line (JSON lines), images as an array of objects.
// Texts that are not valid UTF-8 have their bad bytes replaced by U+FFFD.
std::string RecordJsonLine(const DownloadRecord& record);

// A short table for the terminal: a header row, then one line per record (time, port,
// result, duration, images).
std::string RecordsTable(const std::vector<DownloadRecord>& records);

}  // namespace zembra
