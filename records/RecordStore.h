#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "records/DownloadRecord.h"

struct sqlite3;

namespace zembra {

// Which records a query returns. Empty fields do not filter.
struct RecordFilter {
    std::string since;    // start time at or after this one (RecordTimeBound: Since)
    std::string until;    // start time before this one (RecordTimeBound: Until)
    std::string port;     // port name as recorded
    std::string outcome;  // "ok", "failed", or an outcome ("Completed", "endCode 7"), any case
    std::string sha256;   // an image whose SHA-256 begins with these hexadecimal digits
    int last = 0;         // only the newest N (0: all), still listed oldest first

    // Station name as recorded.
    std::string station;
    // Only records with a larger id, and only the oldest N of them (0: all): the line
    // sender's next batch.
    std::int64_t afterId = 0;
    int first = 0;
};

// The records database: one SQLite file that several processes may write at once (WAL
// journal, a busy timeout, one transaction per record). It never truncates, replaces or
// deletes the file: a file that is not a database, is read-only or stays locked makes
// Append fail with a message and leaves the file as it was.
//
// Threads: one object per thread. Life: the connection opens on first use and closes with
// the object; after a failure the next call opens it again, and so does an Append that finds
// the file removed or replaced since it opened (it creates a new one as the first use does,
// and leaves a notice saying so).
class RecordStore {
  public:
    static constexpr int kDefaultBusyTimeoutMs = 5000;

    explicit RecordStore(std::string path, int busyTimeoutMs = kDefaultBusyTimeoutMs);
    ~RecordStore();
    RecordStore(const RecordStore&) = delete;
    RecordStore& operator=(const RecordStore&) = delete;

    const std::string& path() const { return path_; }

    // Appends one record in a transaction of its own under a new identity, and sets
    // record.id and record.runUid. A file of an earlier program is upgraded first (its
    // records keep their ids and get identities of their own). Returns an error
    // text, empty on success.
    std::string Append(DownloadRecord& record);

    // Gives every record without an identity one of its own (records written by an earlier
    // program into this file since it was upgraded); the file is created or upgraded as by
    // Append. Returns an error text, empty on success.
    std::string IdentifyRuns();

    // The notice of the last Append that found the file removed or replaced and opened it
    // again; empty when there is none. Cleared by the call.
    std::string TakeNotice();

    // Reads the records that pass the filter, oldest first. Opens the file read-only and
    // never creates it: a file that is not there holds no records, and one that is not a
    // regular file (a FIFO, a folder) is refused without waiting. A reader that may not
    // write beside the file reads it as it is on disk. Returns an error text, empty on
    // success.
    std::string Query(const RecordFilter& filter, std::vector<DownloadRecord>& out);

  private:
    std::string OpenForWriting();
    void Close();

    std::string path_;
    int busyTimeoutMs_;
    sqlite3* db_ = nullptr;
    std::string openedFile_;  // the identity of the file the connection opened
    std::string notice_;
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

// The line server to use: the given connection string when not empty, else "records-server"
// of the station's configuration file; empty (or "off") for none.
std::string RecordsServerFor(const std::string& given);

// A file that holds the line server's password (the connection string conninfo read from
// it) must be readable by its owner alone, as ssh asks of a private key: the refusal
// ("Permissions 0644 for 'FILE' are too open: ..."), or empty.
std::string PasswordFileRefusal(const std::string& path, const std::string& conninfo);

// PasswordFileRefusal of the station's configuration file for its "records-server".
std::string StationConfigRefusal();

// The station's name in its records: the given name when not empty, else "station-name" of
// the station's configuration file, else the host name (MachineName()).
std::string StationNameFor(const std::string& given);

// Whether a station flashes only the phones at the ports of the slot map: given (the option),
// else "bound-only" of the station's configuration file ("yes", "on", "true" or "1", in any
// case).
bool BoundOnlyFor(bool given);

}  // namespace zembra
