#pragma once

// A station's records database filled with many runs at once (tests and benchmarks of the
// line server): one record written by RecordStore, then copied by SQL with varied times,
// ports, results and durations.

#include <sqlite3.h>

#include <string>

#include "records/RecordStore.h"

namespace zembra::test {

// The tables of a records file as the first program to write them made it (before runs had
// identities of their own).
inline constexpr const char* kFirstRecordsLayout =
    "CREATE TABLE downloads (id INTEGER PRIMARY KEY, start_utc TEXT NOT NULL, end_utc TEXT "
    "NOT NULL, station TEXT NOT NULL, front_end TEXT NOT NULL, port TEXT NOT NULL, slot "
    "INTEGER NOT NULL, link TEXT NOT NULL, protocol TEXT NOT NULL, mode_code INTEGER NOT "
    "NULL, version_word INTEGER NOT NULL, outcome TEXT NOT NULL, outcome_code INTEGER NOT "
    "NULL, outcome_text TEXT NOT NULL, succeeded INTEGER NOT NULL, bytes_sent INTEGER NOT "
    "NULL, naks INTEGER NOT NULL, retransmissions INTEGER NOT NULL, duration_ms INTEGER "
    "NOT NULL);"
    "CREATE TABLE images (download_id INTEGER NOT NULL REFERENCES downloads(id), slot "
    "INTEGER NOT NULL, file_name TEXT NOT NULL, size INTEGER NOT NULL, sha256 TEXT NOT "
    "NULL, flash_start INTEGER NOT NULL, flash_end INTEGER NOT NULL, written INTEGER NOT "
    "NULL);";

// The record the copies come from: two images, written.
inline DownloadRecord SampleRecord(const std::string& station) {
    DownloadRecord r;
    r.startUtc = "2026-12-07T08:00:00.000Z";
    r.endUtc = "2026-12-07T08:00:41.200Z";
    r.station = station;
    r.frontEnd = "zembra-cli --station";
    r.port = "COM65";
    r.link = "USB";
    r.protocol = "compressed";
    r.modeCode = 0x102;
    r.versionWord = 0x4215;
    r.outcome = "Completed";
    r.outcomeText = "every image written";
    r.succeeded = true;
    r.bytesSent = 4300000;
    r.durationMs = 41200;
    r.images = {
        {0, "code.bin", 131072, std::string(64, 'a'), 0x8000, 0x27fff, true},
        {1, "font1_0x400000.bin", 4194304, std::string(63, 'b') + "c", 0x400000, 0x7fffff, true}};
    return r;
}

// Appends count records of station (count >= 1): about every 9th failed (three reasons),
// ports COM65-COM72 (at USB ports 1-1.1 to 1-1.8), starts 29 s apart from firstHour on. Returns an
// error text.
inline std::string FillRecords(const std::string& path, const std::string& station, int count,
                               int firstHour = 6) {
    DownloadRecord first = SampleRecord(station);
    first.startUtc.replace(11, 2, (firstHour < 10 ? "0" : "") + std::to_string(firstHour));
    std::string error = RecordStore(path).Append(first);
    if (!error.empty() || count <= 1) return error;
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_busy_timeout(db, 5000);
    // Run i starts 29 s after run i - 1; it fails when i % 9 == 0 (three reasons in turn),
    // and COM70 also fails every sixth of its runs.
    const std::string sql =
        "BEGIN IMMEDIATE;"
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
        std::to_string(count - 1) +
        "), m(i, f, s) AS (SELECT i, i % 9 = 0 OR (i % 8 = 5 AND i % 5 = 0), " +
        std::to_string(firstHour * 3600) +
        " + i * 29 FROM n) "
        "INSERT INTO downloads (start_utc, end_utc, station, front_end, port, slot, link, "
        "protocol, mode_code, version_word, outcome, outcome_code, outcome_text, succeeded, "
        "bytes_sent, naks, retransmissions, duration_ms, run_uid, location) "
        "SELECT printf('2026-12-07T%02d:%02d:%02d.%03dZ', s / 3600 % 24, s / 60 % 60, s % 60, "
        "i % 1000), end_utc, station, front_end, 'COM' || (65 + i % 8), 0, link, protocol, "
        "mode_code, version_word, CASE WHEN f THEN CASE i / 9 % 3 WHEN 0 THEN 'TransferFailed' "
        "WHEN 1 THEN 'EraseFailed' ELSE 'NoAnswer' END ELSE outcome END, CASE WHEN f THEN 12 "
        "ELSE outcome_code END, CASE WHEN f THEN 'the phone stopped answering' ELSE "
        "outcome_text END, NOT f, bytes_sent, i % 5, i % 3, duration_ms + (i * 37) % 20000, "
        "lower(hex(randomblob(16))), '1-1.' || (1 + i % 8) "
        "FROM m, downloads WHERE downloads.id = " +
        std::to_string(first.id) +
        ";"
        "INSERT INTO images SELECT d.id, i.slot, i.file_name, i.size, i.sha256, i.flash_start, "
        "i.flash_end, d.succeeded FROM downloads d, images i WHERE i.download_id = " +
        std::to_string(first.id) + " AND d.id > " + std::to_string(first.id) + ";COMMIT;";
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK)
        error = message ? message : "fill failed";
    sqlite3_free(message);
    sqlite3_close(db);
    return error;
}

}  // namespace zembra::test
