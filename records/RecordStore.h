#pragma once

#include <string>
#include <vector>

#include "records/DownloadRecord.h"

struct sqlite3;

namespace zembra {

// Which records a query returns. Empty fields do not filter.
struct RecordFilter {
    std::string since;    // start time at or after: "2026-12-07", "2026-12-07T11:00" ...
    std::string until;    // start time up to the end of this date/time prefix
    std::string port;     // port name as recorded
    std::string outcome;  // "ok", "failed", or an outcome ("Completed", "endCode 7"), any case
    std::string sha256;   // an image whose SHA-256 begins with these hexadecimal digits
    int last = 0;         // only the newest N (0: all), still listed oldest first
};

// The records database: one SQLite file that several processes may write at once (WAL
// journal, a busy timeout, one transaction per record). It never truncates, replaces or
// deletes the file: a file that is not a database, is read-only or stays locked makes
// Append fail with a message and leaves the file as it was.
//
// Threads: one object per thread. Life: the connection opens on first use and closes with
// the object; after a failure the next call opens it again.
class RecordStore {
  public:
    static constexpr int kDefaultBusyTimeoutMs = 5000;

    explicit RecordStore(std::string path, int busyTimeoutMs = kDefaultBusyTimeoutMs);
    ~RecordStore();
    RecordStore(const RecordStore&) = delete;
    RecordStore& operator=(const RecordStore&) = delete;

    const std::string& path() const { return path_; }

    // Appends one record in a transaction of its own and sets record.id. Returns an error
    // text, empty on success.
    std::string Append(DownloadRecord& record);

    // Reads the records that pass the filter, oldest first. Opens the file read-only and
    // never creates it. Returns an error text, empty on success.
    std::string Query(const RecordFilter& filter, std::vector<DownloadRecord>& out);

  private:
    std::string OpenForWriting();
    void Close();

    std::string path_;
    int busyTimeoutMs_;
    sqlite3* db_ = nullptr;
};

// Where records go unless told otherwise: UserDataFolder() + "/zembra/records.sqlite"
// ($XDG_DATA_HOME/zembra/records.sqlite, or ~/.local/share/zembra/records.sqlite).
std::string DefaultRecordsPath();

// The station's configuration file: UserConfigFolder() + "/zembra/zembra.conf"
// ($XDG_CONFIG_HOME/zembra/zembra.conf, or ~/.config/zembra/zembra.conf) ("key = value" lines, "#"
// comments).
std::string StationConfigPath();

// The records database to use: the given path when not empty, else "records-database" of the
// station's configuration file, else DefaultRecordsPath(). A value "off" switches records off
// (empty result).
std::string RecordsPathFor(const std::string& given);

}  // namespace zembra
