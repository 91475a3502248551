#pragma once

#include <functional>
#include <string>
#include <vector>

#include "records/DownloadRecord.h"
#include "records/RecordStore.h"

struct pg_conn;
struct pg_result;

namespace zembra {

// The schema version of the line server's tables that this program writes and reads.
constexpr int kServerSchemaVersion = 3;

// The line's shared records database: a PostgreSQL server that every station's sender
// pushes its local records to, and that line-wide queries read. The connection string is the
// client library's own ("host=... dbname=... user=...", or a postgresql:// URI); the password
// may come from it, from ~/.pgpass (PGPASSFILE) or from PGPASSWORD, and TLS is asked for with
// its sslmode/sslrootcert parameters. Messages never carry the password.
//
// Threads: one object per thread. Every call that reaches the server returns early with an
// error once stopped() (when given) is true; the connection is then closed, so an open
// transaction rolls back on the server.
class ServerStore {
  public:
    explicit ServerStore(std::string conninfo, std::function<bool()> stopped = nullptr);
    ~ServerStore();
    ServerStore(const ServerStore&) = delete;
    ServerStore& operator=(const ServerStore&) = delete;

    // Connects (when not connected) and creates or upgrades the tables to
    // kServerSchemaVersion. A server whose schema is newer is refused and left as it is.
    // Returns an error text, empty on success; after an error the next call connects anew.
    std::string Open();

    // Stores records of the local store storeUid in one transaction. A record is known by
    // its run's identity (runUid): one the server already holds with the same content is
    // stored once (a batch sent twice), one it holds with other content is an error. A record
    // whose times are not well formed is refused before anything is sent. On an error
    // nothing of the batch is stored.
    std::string Push(const std::string& storeUid, const std::vector<DownloadRecord>& records);

    // The records of the line that pass the filter (station included), oldest first (by
    // start time). Record ids are the server's.
    std::string Query(const RecordFilter& filter, std::vector<DownloadRecord>& out);

  private:
    std::string Connect();
    std::string EnsureSchema();
    // Closes the connection; the message: what, and the result's or the connection's error.
    std::string Fail(const std::string& what, const pg_result* result = nullptr);
    void Close();

    std::string conninfo_;
    std::string description_;
    std::function<bool()> stopped_;
    pg_conn* conn_ = nullptr;
};

// A connection string as messages show it: "user@host:port/dbname" (what is set), never the
// password; "(invalid connection string)" when it cannot be read.
std::string ServerDescription(const std::string& conninfo);

// True when the connection string carries a password ("password=...", or a URI's
// "user:password@" or "?password=").
bool ConninfoHasPassword(const std::string& conninfo);

}  // namespace zembra
