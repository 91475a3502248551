#include "records/LineOutbox.h"

#include <sqlite3.h>

#include "platform/Helpers.h"
#include "records/RecordStore.h"

namespace zembra {

LineOutbox::LineOutbox(std::string path) : path_(std::move(path)) {}

LineOutbox::~LineOutbox() {
    Close();
}

void LineOutbox::Close() {
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
    storeUid_.clear();
}

std::string LineOutbox::Open() {
    FileVersion now;
    // A database replaced under the station (moved away, restored) is read afresh.
    if (db_ && (!FileVersionAt(path_, now) || now.fileNumber != inode_ || now.device != device_))
        Close();
    if (db_) return {};
    // Never creates the database: the downloads do that with their first record.
    if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        std::string error = "cannot open " + path_ + ": " + sqlite3_errmsg(db_);
        Close();
        return error;
    }
    sqlite3_busy_timeout(db_, RecordStore::kDefaultBusyTimeoutMs);
    if (FileVersionAt(path_, now)) {
        inode_ = now.fileNumber;
        device_ = now.device;
    }
    const std::string newUid = NewRandomUid();
    if (newUid.empty()) {
        Close();
        return path_ + ": the system gave no random bits for the store's identity";
    }
    const std::string setup =
        "BEGIN IMMEDIATE;"
        "CREATE TABLE IF NOT EXISTS line_outbox (store_uid TEXT NOT NULL, "
        "sent_through INTEGER NOT NULL);"
        "INSERT INTO line_outbox SELECT '" +
        newUid +
        "', 0 WHERE NOT EXISTS (SELECT 1 FROM line_outbox);"
        "COMMIT;";
    sqlite3_stmt* select = nullptr;
    std::string error;
    if (sqlite3_exec(db_, setup.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(db_, "SELECT store_uid FROM line_outbox", -1, &select, nullptr) !=
            SQLITE_OK ||
        sqlite3_step(select) != SQLITE_ROW) {
        error = path_ + ": " + sqlite3_errmsg(db_);
    } else {
        storeUid_ = reinterpret_cast<const char*>(sqlite3_column_text(select, 0));
    }
    sqlite3_finalize(select);
    if (!error.empty()) {
        sqlite3_exec(db_, "ROLLBACK;", nullptr, nullptr, nullptr);
        Close();
    }
    return error;
}

std::string LineOutbox::Waiting(std::int64_t& count) {
    count = 0;
    if (!FileExists(path_)) {  // no record written yet (or the database was taken away)
        Close();
        return {};
    }
    std::string error = Open();
    if (!error.empty()) return error;
    sqlite3_stmt* select = nullptr;
    // The downloads table is there once the first record has been written.
    const int rc = sqlite3_prepare_v2(
        db_,
        "SELECT (SELECT sent_through FROM line_outbox), (SELECT count(*) FROM downloads WHERE "
        "id > (SELECT sent_through FROM line_outbox))",
        -1, &select, nullptr);
    if (rc == SQLITE_OK && sqlite3_step(select) == SQLITE_ROW) {
        sentThrough_ = sqlite3_column_int64(select, 0);
        count = sqlite3_column_int64(select, 1);
    } else if (rc != SQLITE_OK && std::string(sqlite3_errmsg(db_)).find("no such table") == 0) {
        count = 0;
    } else {
        error = path_ + ": " + sqlite3_errmsg(db_);
    }
    sqlite3_finalize(select);
    if (!error.empty()) Close();
    return error;
}

std::string LineOutbox::Next(int limit, std::vector<DownloadRecord>& out, std::string& storeUid) {
    out.clear();
    std::int64_t count = 0;
    std::string error = Waiting(count);  // also reads the mark
    if (!error.empty() || count == 0) return error;
    RecordFilter filter;
    filter.afterId = sentThrough_;
    filter.first = limit;
    storeUid = storeUid_;
    // The server knows records by their identity: one written without it (by an earlier
    // program) gets it before it leaves.
    RecordStore store(path_);
    error = store.IdentifyRuns();
    return error.empty() ? store.Query(filter, out) : error;
}

std::string LineOutbox::MarkSent(std::int64_t throughId) {
    std::string error = Open();
    if (!error.empty()) return error;
    sqlite3_stmt* update = nullptr;
    if (sqlite3_prepare_v2(db_, "UPDATE line_outbox SET sent_through = max(sent_through, ?)", -1,
                           &update, nullptr) == SQLITE_OK) {
        sqlite3_bind_int64(update, 1, throughId);
        if (sqlite3_step(update) != SQLITE_DONE) error = path_ + ": " + sqlite3_errmsg(db_);
    } else {
        error = path_ + ": " + sqlite3_errmsg(db_);
    }
    sqlite3_finalize(update);
    if (!error.empty()) Close();
    return error;
}

}  // namespace zembra
