#include "records/RecordStore.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <thread>
#include <type_traits>
#include <utility>
#include <variant>

#include "platform/Helpers.h"
#include "platform/PortNames.h"
#include "platform/UserFolders.h"
#include "records/ServerStore.h"

namespace zembra {

namespace {

constexpr char kSchema[] = R"(
CREATE TABLE IF NOT EXISTS downloads (
    id INTEGER PRIMARY KEY,
    start_utc TEXT NOT NULL,
    end_utc TEXT NOT NULL,
    station TEXT NOT NULL,
    front_end TEXT NOT NULL,
    port TEXT NOT NULL,
    slot INTEGER NOT NULL,
    link TEXT NOT NULL,
    protocol TEXT NOT NULL,
    mode_code INTEGER NOT NULL,
    version_word INTEGER NOT NULL,
    outcome TEXT NOT NULL,
    outcome_code INTEGER NOT NULL,
    outcome_text TEXT NOT NULL,
    succeeded INTEGER NOT NULL,
    bytes_sent INTEGER NOT NULL,
    naks INTEGER NOT NULL,
    retransmissions INTEGER NOT NULL,
    duration_ms INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS images (
    download_id INTEGER NOT NULL REFERENCES downloads(id),
    slot INTEGER NOT NULL,
    file_name TEXT NOT NULL,
    size INTEGER NOT NULL,
    sha256 TEXT NOT NULL,
    flash_start INTEGER NOT NULL,
    flash_end INTEGER NOT NULL,
    written INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS downloads_start ON downloads(start_utc);
CREATE INDEX IF NOT EXISTS images_download ON images(download_id);
)";

// The upgrades of the layout above, in order: kUpgrades[n] brings a database of version n
// (PRAGMA user_version) to version n + 1. A database of an earlier program is upgraded in
// place the first time this program writes it; its rows stay as they were, with the new
// columns filled in (FillRunUids).
constexpr const char* kUpgrades[] = {
    // 1: every run an identity of its own (given to earlier rows by FillRunUids).
    "ALTER TABLE downloads ADD COLUMN run_uid TEXT;"
    "CREATE UNIQUE INDEX downloads_run_uid ON downloads(run_uid);",
    // 2: the USB port each phone was plugged into (empty for the runs before).
    "ALTER TABLE downloads ADD COLUMN location TEXT NOT NULL DEFAULT '';",
};
constexpr int kLayoutVersion = static_cast<int>(std::size(kUpgrades));

// The columns of a download row that ForEachRecordField visits, in its order.
constexpr const char* kRecordColumns[] = {"start_utc",
                                          "end_utc",
                                          "station",
                                          "front_end",
                                          "port",
                                          "slot",
                                          "link",
                                          "protocol",
                                          "mode_code",
                                          "version_word",
                                          "outcome",
                                          "outcome_code",
                                          "outcome_text",
                                          "succeeded",
                                          "bytes_sent",
                                          "naks",
                                          "retransmissions",
                                          "duration_ms",
                                          "run_uid",
                                          "location"};

std::string ErrorOf(sqlite3* db, const std::string& what) {
    return what + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
}

// A prepared statement that finalizes itself.
class Statement {
  public:
    Statement(sqlite3* db, const char* sql) {
        rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    bool ok() const { return rc_ == SQLITE_OK; }
    sqlite3_stmt* get() const { return stmt_; }
    void Text(int index, const std::string& value) {
        sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()),
                          SQLITE_TRANSIENT);
    }
    void Int(int index, std::int64_t value) { sqlite3_bind_int64(stmt_, index, value); }
    std::string ColumnText(int index) const {
        const unsigned char* text = sqlite3_column_text(stmt_, index);
        return text ? reinterpret_cast<const char*>(text) : "";
    }
    std::int64_t ColumnInt(int index) const { return sqlite3_column_int64(stmt_, index); }

  private:
    sqlite3_stmt* stmt_ = nullptr;
    int rc_ = SQLITE_ERROR;
};

// Device and inode of the file at path; empty when there is none.
std::string FileIdentityAt(const std::string& path) {
    FileVersion version;
    if (!FileVersionAt(path, version)) return {};
    return std::to_string(version.device) + ":" + std::to_string(version.fileNumber);
}

std::string Trim(const std::string& text) {
    std::size_t a = 0, b = text.size();
    while (a < b && std::isspace(static_cast<unsigned char>(text[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(text[b - 1]))) --b;
    return text.substr(a, b - a);
}

// The record columns as a list for a statement. With a database given: the ones it lacks
// (an earlier program's file, which a reader does not upgrade) are read as NULL.
std::string ColumnList(sqlite3* db = nullptr) {
    std::string list;
    for (const char* column : kRecordColumns) {
        if (!list.empty()) list += ", ";
        bool present = true;
        if (db) {
            const std::string probe = std::string("SELECT ") + column + " FROM downloads LIMIT 0";
            sqlite3_stmt* statement = nullptr;
            present = sqlite3_prepare_v2(db, probe.c_str(), -1, &statement, nullptr) == SQLITE_OK;
            sqlite3_finalize(statement);
        }
        list += present ? std::string(column) : std::string("NULL");
    }
    return list;
}

std::string Placeholders() {
    std::string list;
    for (std::size_t i = 0; i < std::size(kRecordColumns); ++i) list += i ? ",?" : "?";
    return list;
}

// One statement run to its end, its columns into row (called per row); an error text.
std::string RunStatement(sqlite3* db, const std::string& sql,
                         const std::function<void(const Statement&)>& row = nullptr,
                         const std::function<void(Statement&)>& bind = nullptr) {
    Statement statement(db, sql.c_str());
    if (!statement.ok()) return sqlite3_errmsg(db);
    if (bind) bind(statement);
    int rc;
    while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW)
        if (row) row(statement);
    return rc == SQLITE_DONE ? std::string() : sqlite3_errmsg(db);
}

// Gives every row without an identity one of its own (rows of an earlier program, or
// written by one since); an error text.
std::string FillRunUids(sqlite3* db) {
    std::vector<std::int64_t> ids;
    std::string error = RunStatement(db, "SELECT id FROM downloads WHERE run_uid IS NULL",
                                     [&](const Statement& s) { ids.push_back(s.ColumnInt(0)); });
    for (const std::int64_t id : ids) {
        if (!error.empty()) break;
        const std::string uid = NewRandomUid();
        if (uid.empty()) return "the system gave no random bits for a record's identity";
        error = RunStatement(db, "UPDATE downloads SET run_uid = ?1 WHERE id = ?2", nullptr,
                             [&](Statement& s) {
                                 s.Text(1, uid);
                                 s.Int(2, id);
                             });
    }
    return error;
}

// Brings the layout of a database (in a write transaction) to this program's version and
// fills what the upgrades added; an error text.
std::string UpgradeLayout(sqlite3* db) {
    std::int64_t version = 0;
    std::string error = RunStatement(db, "PRAGMA user_version",
                                     [&](const Statement& s) { version = s.ColumnInt(0); });
    for (std::int64_t step = version; error.empty() && step < kLayoutVersion; ++step) {
        char* message = nullptr;
        if (sqlite3_exec(db, kUpgrades[step], nullptr, nullptr, &message) != SQLITE_OK)
            error = message ? message : sqlite3_errmsg(db);
        sqlite3_free(message);
        if (error.empty())
            error = RunStatement(
                db, FormatText("PRAGMA user_version = %lld", static_cast<long long>(step + 1)));
    }
    return error.empty() ? FillRunUids(db) : error;
}

}  // namespace

std::string DefaultRecordsPath() {
    return UserDataFolder() + "/zembra/records.sqlite";
}

std::string StationConfigPath() {
    return UserConfigFolder() + "/zembra/zembra.conf";
}

namespace {

// A value of the station's configuration file ("key = value" lines, "#" comments; keys in any
// case; the last one wins), empty when not set.
std::string StationConfigValue(const std::string& key) {
    std::string value;
    std::FILE* config = OpenRegularFile(StationConfigPath());
    if (config == nullptr) return value;
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, config)) > 0;)
        text.append(buffer, n);
    std::fclose(config);
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = Trim(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == '#') continue;
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos && AsciiLower(Trim(line.substr(0, eq))) == key)
            value = Trim(line.substr(eq + 1));
    }
    return value;
}

}  // namespace

std::string RecordsPathFor(const std::string& given) {
    std::string path = given;
    if (path.empty()) {
        path = StationConfigValue("records-database");
        // A path in the file is the user's: "~" is the home folder, and a relative path starts
        // at the file's folder (not at wherever the program happens to run).
        if (const std::string expanded = ExpandHome(path); expanded != path) {
            path = expanded;
        } else if (!path.empty() && !IsAbsolutePath(path) && AsciiLower(path) != "off") {
            const std::string folder = ParentFolder(StationConfigPath());
            path = (folder.empty() ? std::string(".") : folder) + "/" + path;
        }
    }
    if (path.empty()) path = DefaultRecordsPath();
    return AsciiLower(path) == "off" ? std::string() : path;
}

std::string RecordsServerFor(const std::string& given) {
    const std::string server = given.empty() ? StationConfigValue("records-server") : given;
    return server == "off" ? std::string() : server;
}

std::string PasswordFileRefusal(const std::string& path, const std::string& conninfo) {
    if (!ConninfoHasPassword(conninfo)) return {};
    const std::string mode = ModeReadableByOthers(path);
    if (mode.empty()) return {};
    return "Permissions " + mode + " for '" + path +
           "' are too open: it holds the line server's password, which only its owner may "
           "read (chmod 600 it, or keep the password in ~/.pgpass)";
}

std::string StationConfigRefusal() {
    return PasswordFileRefusal(StationConfigPath(), StationConfigValue("records-server"));
}

std::string StationNameFor(const std::string& given) {
    std::string name = given.empty() ? StationConfigValue("station-name") : given;
    return name.empty() ? MachineName() : name;
}

bool BoundOnlyFor(bool given) {
    const std::string value = AsciiLower(StationConfigValue("bound-only"));
    return given || value == "yes" || value == "on" || value == "true" || value == "1";
}

RecordStore::RecordStore(std::string path, int busyTimeoutMs)
    : path_(std::move(path)), busyTimeoutMs_(busyTimeoutMs) {}

RecordStore::~RecordStore() {
    Close();
}

void RecordStore::Close() {
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
}

std::string RecordStore::OpenForWriting() {
    if (db_) return {};
    const std::string folder = ParentFolder(path_);
    if (!folder.empty()) MakeFolders(folder);
    // READWRITE|CREATE: an existing file is used as it is; nothing ever truncates it.
    const int rc = sqlite3_open_v2(
        path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
        nullptr);
    if (rc != SQLITE_OK) {
        std::string error = ErrorOf(db_, "cannot open " + path_);
        Close();
        return error;
    }
    sqlite3_busy_timeout(db_, busyTimeoutMs_);
    // WAL lets readers and one writer work at once; FULL makes each record durable at its
    // commit. Two processes setting up a new file at once can be refused at once ("database
    // is locked": SQLite does not wait where waiting could deadlock), so that is tried again
    // until the busy time-out.
    const double deadline = NowMs() + busyTimeoutMs_;
    std::string error;
    for (;;) {
        char* message = nullptr;
        std::string upgrade;
        if (sqlite3_exec(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;", nullptr, nullptr,
                         &message) == SQLITE_OK &&
            sqlite3_exec(db_, (std::string("BEGIN IMMEDIATE;") + kSchema).c_str(), nullptr, nullptr,
                         &message) == SQLITE_OK &&
            (upgrade = UpgradeLayout(db_)).empty() &&
            sqlite3_exec(db_, "COMMIT;", nullptr, nullptr, &message) == SQLITE_OK)
            break;
        const bool busy = (sqlite3_errcode(db_) & 0xFF) == SQLITE_BUSY;
        error = path_ + ": " +
                (message            ? message
                 : !upgrade.empty() ? upgrade
                                    : sqlite3_errmsg(db_));
        sqlite3_free(message);
        sqlite3_exec(db_, "ROLLBACK;", nullptr, nullptr, nullptr);
        if (!busy || NowMs() >= deadline) break;
        error.clear();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!error.empty()) Close();
    if (db_) openedFile_ = FileIdentityAt(path_);
    return error;
}

std::string RecordStore::TakeNotice() {
    return std::exchange(notice_, std::string());
}

std::string RecordStore::IdentifyRuns() {
    std::string error = OpenForWriting();
    if (!error.empty()) return error;
    if (sqlite3_exec(db_, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr) == SQLITE_OK &&
        (error = FillRunUids(db_)).empty() &&
        sqlite3_exec(db_, "COMMIT;", nullptr, nullptr, nullptr) == SQLITE_OK)
        return {};
    error = path_ + ": " + (error.empty() ? sqlite3_errmsg(db_) : error);
    sqlite3_exec(db_, "ROLLBACK;", nullptr, nullptr, nullptr);
    Close();
    return error;
}

std::string RecordStore::Append(DownloadRecord& record) {
    // Records written into a file that is no longer at the path would be lost.
    if (db_ && FileIdentityAt(path_) != openedFile_) {
        Close();
        notice_ = path_ +
                  " was removed or replaced since it was opened: the records go on in the file "
                  "now at that path (created anew when there is none)";
    }
    record.runUid = NewRandomUid();
    if (record.runUid.empty())
        return path_ + ": the system gave no random bits for the record's identity";
    std::string error = OpenForWriting();
    if (!error.empty()) return error;
    if (sqlite3_exec(db_, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr) != SQLITE_OK) {
        error = ErrorOf(db_, path_);
        Close();
        return error;
    }
    bool ok = true;
    {
        Statement insert(
            db_, ("INSERT INTO downloads (" + ColumnList() + ") VALUES (" + Placeholders() + ")")
                     .c_str());
        ok = insert.ok();
        if (ok) {
            int i = 0;
            ForEachRecordField(record, [&](const auto& field) {
                if constexpr (std::is_same_v<std::decay_t<decltype(field)>, std::string>)
                    insert.Text(++i, field);
                else
                    insert.Int(++i, static_cast<std::int64_t>(field));
            });
            ok = sqlite3_step(insert.get()) == SQLITE_DONE;
        }
    }
    const std::int64_t id = sqlite3_last_insert_rowid(db_);
    for (const RecordImage& image : record.images) {
        if (!ok) break;
        Statement insert(db_,
                         "INSERT INTO images (download_id, slot, file_name, size, sha256, "
                         "flash_start, flash_end, written) VALUES (?,?,?,?,?,?,?,?)");
        ok = insert.ok();
        if (!ok) break;
        insert.Int(1, id);
        insert.Int(2, image.slot);
        insert.Text(3, image.fileName);
        insert.Int(4, image.size);
        insert.Text(5, image.sha256);
        insert.Int(6, static_cast<std::int64_t>(image.flashStart));
        insert.Int(7, static_cast<std::int64_t>(image.flashEnd));
        insert.Int(8, image.written ? 1 : 0);
        ok = sqlite3_step(insert.get()) == SQLITE_DONE;
    }
    if (ok) ok = sqlite3_exec(db_, "COMMIT;", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!ok) {
        error = ErrorOf(db_, path_);
        sqlite3_exec(db_, "ROLLBACK;", nullptr, nullptr, nullptr);
        Close();
        return error;
    }
    record.id = id;
    return {};
}

namespace {

// A statement parameter's value.
using SqlValue = std::variant<std::string, std::int64_t>;

// The query of the downloads that pass the filter, newest first, and its parameters' values
// in their order. columns: what the query reads (ColumnList).
std::string FilterQuery(const RecordFilter& filter, const std::string& columns,
                        std::vector<SqlValue>& params) {
    std::string sql = "SELECT id, " + columns + " FROM downloads d WHERE 1";
    const auto param = [&](SqlValue value) {
        params.push_back(std::move(value));
        return "?" + std::to_string(params.size());
    };
    if (!filter.since.empty()) sql += " AND start_utc >= " + param(filter.since);
    if (!filter.until.empty()) sql += " AND start_utc < " + param(filter.until);
    if (!filter.port.empty()) sql += " AND port = " + param(filter.port);
    if (!filter.station.empty()) sql += " AND station = " + param(filter.station);
    if (filter.afterId > 0) sql += " AND id > " + param(filter.afterId);
    const std::string outcome = AsciiLower(filter.outcome);
    if (outcome == "ok")
        sql += " AND succeeded = 1";
    else if (outcome == "failed")
        sql += " AND succeeded = 0";
    else if (!outcome.empty())
        sql += " AND lower(outcome) = " + param(outcome);
    if (!filter.sha256.empty()) {
        const std::string p = param(AsciiLower(filter.sha256));
        sql +=
            " AND EXISTS (SELECT 1 FROM images i WHERE i.download_id = d.id AND "
            "substr(i.sha256, 1, length(" +
            p + ")) = " + p + ")";
    }
    if (filter.first > 0)
        sql = "SELECT * FROM (" + sql + " ORDER BY id LIMIT " + param(std::int64_t{filter.first}) +
              ") WHERE 1";
    sql += " ORDER BY id DESC";
    if (filter.last > 0) sql += " LIMIT " + param(std::int64_t{filter.last});
    return sql;
}

// The downloads of an open database that pass the filter, without their images; an error text.
std::string SelectDownloads(sqlite3* db, const std::string& path, const RecordFilter& filter,
                            std::vector<DownloadRecord>& out) {
    std::vector<SqlValue> params;
    const std::string sql = FilterQuery(filter, ColumnList(db), params);
    Statement select(db, sql.c_str());
    if (!select.ok()) return ErrorOf(db, path);
    for (std::size_t k = 0; k < params.size(); ++k) {
        const int index = static_cast<int>(k) + 1;
        if (const auto* text = std::get_if<std::string>(&params[k]))
            select.Text(index, *text);
        else
            select.Int(index, std::get<std::int64_t>(params[k]));
    }
    int rc;
    while ((rc = sqlite3_step(select.get())) == SQLITE_ROW) {
        DownloadRecord r;
        r.id = select.ColumnInt(0);
        int i = 1;
        ForEachRecordField(r, [&](auto& field) {
            using Field = std::decay_t<decltype(field)>;
            if constexpr (std::is_same_v<Field, std::string>)
                field = select.ColumnText(i++);
            else
                field = static_cast<Field>(select.ColumnInt(i++));
        });
        out.push_back(std::move(r));
    }
    return rc == SQLITE_DONE ? std::string() : ErrorOf(db, path);
}

// The images of each record; an error text.
std::string SelectImages(sqlite3* db, const std::string& path, std::vector<DownloadRecord>& out) {
    Statement images(db,
                     "SELECT slot, file_name, size, sha256, flash_start, flash_end, written "
                     "FROM images WHERE download_id = ? ORDER BY rowid");
    for (DownloadRecord& r : out) {
        if (!images.ok()) return ErrorOf(db, path);
        sqlite3_reset(images.get());
        images.Int(1, r.id);
        while (sqlite3_step(images.get()) == SQLITE_ROW) {
            RecordImage image;
            image.slot = static_cast<int>(images.ColumnInt(0));
            image.fileName = images.ColumnText(1);
            image.size = images.ColumnInt(2);
            image.sha256 = images.ColumnText(3);
            image.flashStart = static_cast<std::uint64_t>(images.ColumnInt(4));
            image.flashEnd = static_cast<std::uint64_t>(images.ColumnInt(5));
            image.written = images.ColumnInt(6) != 0;
            r.images.push_back(std::move(image));
        }
    }
    return {};
}

// The records of an open database that pass the filter, newest first; an error text.
std::string SelectRecords(sqlite3* db, const std::string& path, const RecordFilter& filter,
                          std::vector<DownloadRecord>& out) {
    std::string error = SelectDownloads(db, path, filter, out);
    if (error.empty()) error = SelectImages(db, path, out);
    if (!error.empty()) out.clear();
    return error;
}

// "file:" URI of a path, for the URI parameters.
std::string UriOf(const std::string& path) {
    std::string uri = "file:";
    for (unsigned char c : path) {
        if (c == '?' || c == '#' || c == '%' || c < 0x21 || c >= 0x7F)
            uri += FormatText("%%%02X", c);
        else
            uri += static_cast<char>(c);
    }
    return uri;
}

}  // namespace

std::string RecordStore::Query(const RecordFilter& filter, std::vector<DownloadRecord>& out) {
    out.clear();
    // Looked at first: opening a FIFO or a device would wait, and an absent file is no error
    // (nothing has been recorded yet).
    switch (PathKindOf(path_)) {
        case PathKind::Missing:
            return {};
        case PathKind::Other:
            return "cannot open " + path_ + ": not a regular file that can be looked at";
        case PathKind::Regular:
            break;
    }
    // Read-only; a reader that may not create the journal's shared-memory file beside the
    // database (read-only media, a folder it may not write) reads it as it is on disk.
    std::string error;
    for (const char* parameters : {"?mode=ro", "?mode=ro&immutable=1"}) {
        sqlite3* db = nullptr;
        if (sqlite3_open_v2((UriOf(path_) + parameters).c_str(), &db,
                            SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) != SQLITE_OK) {
            error = ErrorOf(db, "cannot open " + path_);
        } else {
            sqlite3_busy_timeout(db, busyTimeoutMs_);
            error = SelectRecords(db, path_, filter, out);
        }
        const int code = db ? sqlite3_errcode(db) & 0xFF : SQLITE_CANTOPEN;
        sqlite3_close_v2(db);
        if (error.empty() || (code != SQLITE_CANTOPEN && code != SQLITE_READONLY)) break;
    }
    std::reverse(out.begin(), out.end());
    return error;
}

}  // namespace zembra
