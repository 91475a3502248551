// The line server over libpq. Every exchange runs through the library's asynchronous calls
// and a poll() of its socket, so that a stop is seen within a tenth of a second even while
// the server or the network does not answer.
#include "records/ServerStore.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <type_traits>

#include "platform/Helpers.h"
#include "platform/WaitEvent.h"
#include "records/RecordExport.h"
#include "records/RecordTime.h"

namespace zembra {

namespace {

constexpr int kPollSliceMs = 100;
// Every zembra program takes this lock around its look at the schema, so two stations that
// meet an empty server create the tables once.
constexpr const char* kSchemaLockKey = "726586";

// Schema steps: kSchemaSteps[n] brings version n to version n + 1.
constexpr const char* kSchemaSteps[] = {
    R"(
CREATE TABLE stations (
    id serial PRIMARY KEY,
    name text NOT NULL UNIQUE
);
CREATE TABLE images (
    id bigserial PRIMARY KEY,
    sha256 text NOT NULL,
    file_name text NOT NULL,
    size bigint NOT NULL,
    UNIQUE (sha256, file_name, size)
);
CREATE TABLE records (
    id bigserial PRIMARY KEY,
    record_uid text NOT NULL UNIQUE,
    station_id integer NOT NULL REFERENCES stations (id),
    local_id bigint NOT NULL,
    start_utc text NOT NULL,
    end_utc text NOT NULL,
    front_end text NOT NULL,
    port text NOT NULL,
    slot integer NOT NULL,
    link text NOT NULL,
    protocol text NOT NULL,
    mode_code integer NOT NULL,
    version_word bigint NOT NULL,
    outcome text NOT NULL,
    outcome_code integer NOT NULL,
    outcome_text text NOT NULL,
    succeeded boolean NOT NULL,
    bytes_sent bigint NOT NULL,
    naks bigint NOT NULL,
    retransmissions bigint NOT NULL,
    duration_ms bigint NOT NULL,
    received_at timestamptz NOT NULL DEFAULT now()
);
CREATE TABLE record_images (
    record_id bigint NOT NULL REFERENCES records (id),
    position integer NOT NULL,
    slot integer NOT NULL,
    image_id bigint NOT NULL REFERENCES images (id),
    flash_start bigint NOT NULL,
    flash_end bigint NOT NULL,
    written boolean NOT NULL,
    PRIMARY KEY (record_id, position)
);
CREATE INDEX records_start ON records (start_utc);
CREATE INDEX records_station_start ON records (station_id, start_utc);
CREATE INDEX records_port ON records (port);
CREATE INDEX records_outcome ON records (lower(outcome));
CREATE INDEX images_sha256 ON images (sha256 text_pattern_ops);
CREATE INDEX record_images_image ON record_images (image_id);
)",
    // 2: a record is known by its run's own identity, no longer by its store and local id
    // (which a restored or copied records file gives again); the rows stored before keep
    // theirs ("store:local") as identity. Times must be well formed (rows stored before are
    // not checked again).
    R"(
ALTER TABLE records ADD COLUMN run_uid text;
UPDATE records SET run_uid = record_uid;
ALTER TABLE records ALTER COLUMN run_uid SET NOT NULL;
CREATE UNIQUE INDEX records_run_uid ON records (run_uid);
ALTER TABLE records DROP CONSTRAINT IF EXISTS records_record_uid_key;
CREATE INDEX records_record_uid ON records (record_uid);
ALTER TABLE records ADD CONSTRAINT records_times_well_formed CHECK (
    start_utc ~ '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}(\.[0-9]{1,9})?Z$' AND
    end_utc ~ '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}(\.[0-9]{1,9})?Z$') NOT VALID;
)",
    // 3: the USB port each phone was plugged into (empty for the runs before).
    "ALTER TABLE records ADD COLUMN location text NOT NULL DEFAULT '';"};
static_assert(std::size(kSchemaSteps) == kServerSchemaVersion);

// The columns of a batch, as the JSON lines of the records export name them.
constexpr const char* kBatchColumns =
    "id bigint, start_utc text, end_utc text, station text, front_end text, port text, "
    "slot integer, link text, protocol text, mode_code integer, version_word bigint, "
    "outcome text, outcome_code integer, outcome_text text, succeeded boolean, "
    "bytes_sent bigint, naks bigint, retransmissions bigint, duration_ms bigint, run_uid text, "
    "location text, images jsonb";

// A stored record r (with its station s) holds the same run as the incoming n.
constexpr const char* kSameRun =
    "(r.start_utc, r.end_utc, s.name, r.front_end, r.port, r.slot, r.link, r.protocol, "
    "r.mode_code, r.version_word, r.outcome, r.outcome_code, r.outcome_text, r.succeeded, "
    "r.bytes_sent, r.naks, r.retransmissions, r.duration_ms) IS NOT DISTINCT FROM "
    "(n.start_utc, n.end_utc, n.station, n.front_end, n.port, n.slot, n.link, n.protocol, "
    "n.mode_code, n.version_word, n.outcome, n.outcome_code, n.outcome_text, n.succeeded, "
    "n.bytes_sent, n.naks, n.retransmissions, n.duration_ms)";

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

// A text with every occurrence of secret replaced by "***".
std::string Scrubbed(std::string text, const std::string& secret) {
    if (secret.empty()) return text;
    for (std::size_t at; (at = text.find(secret)) != std::string::npos;)
        text.replace(at, secret.size(), "***");
    return text;
}

// The options of a connection string, or null when it cannot be read.
std::unique_ptr<PQconninfoOption, decltype(&PQconninfoFree)> ConninfoOptions(
    const std::string& conninfo) {
    return {PQconninfoParse(conninfo.c_str(), nullptr), &PQconninfoFree};
}

std::string PasswordOf(const std::string& conninfo) {
    const auto options = ConninfoOptions(conninfo);
    if (!options) return {};
    for (const PQconninfoOption* o = options.get(); o->keyword; ++o)
        if (std::string(o->keyword) == "password" && o->val) return o->val;
    return {};
}

}  // namespace

std::string ServerDescription(const std::string& conninfo) {
    const auto options = ConninfoOptions(conninfo);
    if (!options) return "(invalid connection string)";
    std::string user, host, port, dbname;
    for (const PQconninfoOption* o = options.get(); o->keyword; ++o) {
        if (!o->val) continue;
        const std::string key = o->keyword;
        if (key == "user") user = o->val;
        if (key == "host" || (key == "hostaddr" && host.empty())) host = o->val;
        if (key == "port") port = o->val;
        if (key == "dbname") dbname = o->val;
    }
    std::string text = user.empty() ? "" : user + "@";
    text += host.empty() ? "localhost" : host;
    if (!port.empty()) text += ":" + port;
    if (!dbname.empty()) text += "/" + dbname;
    return text;
}

bool ConninfoHasPassword(const std::string& conninfo) {
    return !PasswordOf(conninfo).empty();
}

ServerStore::ServerStore(std::string conninfo, std::function<bool()> stopped)
    : conninfo_(std::move(conninfo)),
      description_(ServerDescription(conninfo_)),
      stopped_(std::move(stopped)) {}

ServerStore::~ServerStore() {
    Close();
}

void ServerStore::Close() {
    if (conn_) PQfinish(conn_);
    conn_ = nullptr;
}

std::string ServerStore::Fail(const std::string& what, const pg_result* result) {
    std::string message = what;
    if (result && PQresultErrorMessage(result)[0])
        message += ": " + Trimmed(PQresultErrorMessage(result));
    else if (conn_)
        message += ": " + Trimmed(PQerrorMessage(conn_));
    Close();
    return "line server " + description_ + ": " + Scrubbed(message, PasswordOf(conninfo_));
}

namespace {

// Waits until the socket is ready for what libpq asked (or a slice has passed).
void WaitSocket(PGconn* conn, bool forWrite) {
    WaitSocketReady(PQsocket(conn), forWrite, kPollSliceMs);
}

}  // namespace

std::string ServerStore::Connect() {
    if (conn_) return {};
    // The library's own message about a string it cannot read may quote any part of it,
    // the password too.
    if (!ConninfoOptions(conninfo_))
        return "line server: the connection string cannot be read (libpq's \"key=value ...\" "
               "or postgresql:// form)";
    // The program's defaults come first: what the connection string says wins.
    const char* keywords[] = {"connect_timeout", "application_name", "keepalives_idle", "dbname",
                              nullptr};
    const char* values[] = {"10", "zembra", "30", conninfo_.c_str(), nullptr};
    conn_ = PQconnectStartParams(keywords, values, 1);
    if (!conn_ || PQstatus(conn_) == CONNECTION_BAD) return Fail("cannot connect");
    for (PostgresPollingStatusType state = PGRES_POLLING_WRITING;;) {
        if (stopped_ && stopped_()) return Fail("stopped");
        if (state == PGRES_POLLING_OK) break;
        if (state == PGRES_POLLING_FAILED) return Fail("cannot connect");
        WaitSocket(conn_, state == PGRES_POLLING_WRITING);
        state = PQconnectPoll(conn_);
    }
    if (PQsetnonblocking(conn_, 1) != 0) return Fail("cannot connect");
    return {};
}

namespace {

bool Succeeded(const Result& result) {
    if (!result) return false;
    const ExecStatusType status = PQresultStatus(result.get());
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

// A statement with text parameters, or statements without any, run asynchronously; the last
// result, or null when the connection failed or stopped() became true.
Result Exec(PGconn* conn, const std::string& sql, const std::vector<std::string>& params,
            const std::function<bool()>& stopped) {
    std::vector<const char*> values;
    for (const std::string& p : params) values.push_back(p.c_str());
    Result none(nullptr, &PQclear);
    const int sent = params.empty()
                         ? PQsendQuery(conn, sql.c_str())
                         : PQsendQueryParams(conn, sql.c_str(), static_cast<int>(values.size()),
                                             nullptr, values.data(), nullptr, nullptr, 0);
    if (!sent) return none;
    for (;;) {  // the request out
        const int flushed = PQflush(conn);
        if (flushed < 0) return none;
        if (flushed == 0) break;
        if (stopped && stopped()) return none;
        WaitSocket(conn, true);
    }
    // The last result, unless an earlier one failed (statements after a failure are not run).
    Result last(nullptr, &PQclear);
    for (;;) {
        while (PQisBusy(conn)) {
            if (stopped && stopped()) return none;
            WaitSocket(conn, false);
            if (!PQconsumeInput(conn)) return none;
        }
        PGresult* result = PQgetResult(conn);
        if (!result) return last;
        if (!last || Succeeded(last))
            last.reset(result);
        else
            PQclear(result);
    }
}

}  // namespace

std::string ServerStore::EnsureSchema() {
    const auto run = [&](const std::string& sql, const std::vector<std::string>& params = {}) {
        return Exec(conn_, sql, params, stopped_);
    };
    const auto failed = [&](const Result& result, const std::string& what) {
        return Fail(what, result.get());
    };
    Result result = run("SET client_min_messages = warning");
    if (!Succeeded(result)) return failed(result, "cannot set up the session");
    result = run("BEGIN");
    if (Succeeded(result))
        result = run(std::string("SELECT pg_advisory_xact_lock(") + kSchemaLockKey + ")");
    if (Succeeded(result)) result = run("SELECT to_regclass('zembra_schema') IS NULL");
    if (Succeeded(result) && PQgetvalue(result.get(), 0, 0)[0] == 't') {
        result = run("CREATE TABLE zembra_schema (version integer NOT NULL)");
        if (Succeeded(result)) result = run("INSERT INTO zembra_schema VALUES (0)");
    }
    if (Succeeded(result)) result = run("SELECT max(version) FROM zembra_schema");
    if (!Succeeded(result)) return failed(result, "cannot read the schema version");
    const int version = std::atoi(PQgetvalue(result.get(), 0, 0));
    if (version > kServerSchemaVersion) {
        Close();  // rolls back: the server is left as it is
        return "line server " + description_ +
               FormatText(
                   ": its records schema is version %d, newer "
                   "than this program knows (%d); it is left as "
                   "it is: update zembra",
                   version, kServerSchemaVersion);
    }
    for (int step = version; step < kServerSchemaVersion; ++step) {
        result = run(kSchemaSteps[step]);
        if (Succeeded(result))
            result = run(FormatText("UPDATE zembra_schema SET version = %d", step + 1));
        if (!Succeeded(result))
            return failed(result, FormatText("cannot bring the schema to version %d", step + 1));
    }
    result = run("COMMIT");
    if (!Succeeded(result)) return failed(result, "cannot commit the schema");
    return {};
}

std::string ServerStore::Open() {
    if (conn_) return {};
    std::string error = Connect();
    if (error.empty()) error = EnsureSchema();
    return error;
}

std::string ServerStore::Push(const std::string& storeUid,
                              const std::vector<DownloadRecord>& records) {
    for (const DownloadRecord& record : records) {
        for (const std::string* time : {&record.startUtc, &record.endUtc}) {
            if (IsRecordTime(*time)) continue;
            return "line server " + description_ +
                   FormatText(
                       ": local record %lld cannot be stored: its %s time \"%s\" is not "
                       "a well-formed time (2026-12-07T11:20:33.123Z); it stays waiting",
                       static_cast<long long>(record.id),
                       time == &record.startUtc ? "start" : "end", time->c_str());
        }
        if (record.runUid.empty())
            return "line server " + description_ +
                   FormatText(": local record %lld has no identity; it stays waiting",
                              static_cast<long long>(record.id));
    }
    std::string error = Open();
    if (!error.empty() || records.empty()) return error;
    std::string batch = "[";
    for (const DownloadRecord& record : records) {
        if (batch.size() > 1) batch += ',';
        batch += RecordJsonLine(record);
    }
    batch += "]";
    const auto run = [&](const std::string& sql) {
        const bool withParams = sql.find("$2") != std::string::npos;
        return Exec(
            conn_, sql,
            withParams ? std::vector<std::string>{storeUid, batch} : std::vector<std::string>{},
            stopped_);
    };
    const std::string load[] = {
        "BEGIN",
        // Each batch goes through this table; it empties itself at the end of each
        // transaction.
        std::string("CREATE TEMP TABLE IF NOT EXISTS incoming (record_uid text, ") + kBatchColumns +
            ") ON COMMIT DELETE ROWS",
        std::string("INSERT INTO incoming SELECT $1 || ':' || r.id, r.* FROM "
                    "jsonb_to_recordset($2::jsonb) AS r(") +
            kBatchColumns + ")",
        // A run the server holds with other content is not this one: never dropped as a
        // copy of it.
        std::string("SELECT n.id, n.run_uid FROM incoming n JOIN records r USING (run_uid) "
                    "JOIN stations s ON s.id = r.station_id WHERE NOT ") +
            kSameRun + " ORDER BY n.id LIMIT 1"};
    for (const std::string& sql : load) {
        const Result result = run(sql);
        // Closing the connection rolls the transaction back.
        if (!Succeeded(result)) return Fail("cannot store a batch", result.get());
        if (PQresultStatus(result.get()) == PGRES_TUPLES_OK && PQntuples(result.get()) > 0) {
            const std::string id = PQgetvalue(result.get(), 0, 0);
            const std::string uid = PQgetvalue(result.get(), 0, 1);
            Close();
            return "line server " + description_ + ": local record " + id +
                   " cannot be stored: the server holds a run with its identity " + uid +
                   " and other content; it stays waiting";
        }
    }
    const std::string store[] = {
        // A run stored before runs had identities, under its store and local id: the same
        // run sent again is not stored twice.
        std::string("DELETE FROM incoming n USING records r JOIN stations s ON s.id = "
                    "r.station_id WHERE r.run_uid = n.record_uid AND ") +
            kSameRun,
        "INSERT INTO stations (name) SELECT DISTINCT station FROM incoming ORDER BY station "
        "ON CONFLICT (name) DO NOTHING",
        "INSERT INTO images (sha256, file_name, size) SELECT DISTINCT e->>'sha256', "
        "e->>'file_name', (e->>'size')::bigint FROM incoming, jsonb_array_elements(images) e "
        "ORDER BY 1, 2, 3 ON CONFLICT (sha256, file_name, size) DO NOTHING",
        // A run the server holds already (a batch sent again) is stored once.
        "WITH new AS (INSERT INTO records (run_uid, record_uid, station_id, local_id, "
        "start_utc, end_utc, front_end, port, slot, link, protocol, mode_code, version_word, "
        "outcome, outcome_code, outcome_text, succeeded, bytes_sent, naks, retransmissions, "
        "duration_ms, location) "
        "SELECT n.run_uid, n.record_uid, s.id, n.id, n.start_utc, n.end_utc, n.front_end, "
        "n.port, n.slot, n.link, n.protocol, n.mode_code, n.version_word, n.outcome, "
        "n.outcome_code, n.outcome_text, n.succeeded, n.bytes_sent, n.naks, n.retransmissions, "
        "n.duration_ms, coalesce(n.location, '') FROM incoming n JOIN stations s ON s.name = "
        "n.station ORDER BY n.id "
        "ON CONFLICT (run_uid) DO NOTHING RETURNING id, run_uid) "
        "INSERT INTO record_images (record_id, position, slot, image_id, flash_start, "
        "flash_end, written) "
        "SELECT new.id, e.position, (e.v->>'slot')::integer, im.id, "
        "(e.v->>'flash_start')::bigint, (e.v->>'flash_end')::bigint, "
        "(e.v->>'written')::boolean "
        "FROM new JOIN incoming n USING (run_uid) "
        "CROSS JOIN LATERAL jsonb_array_elements(n.images) WITH ORDINALITY AS e(v, position) "
        "JOIN images im ON im.sha256 = e.v->>'sha256' AND im.file_name = e.v->>'file_name' "
        "AND im.size = (e.v->>'size')::bigint",
        "COMMIT"};
    for (const std::string& sql : store) {
        const Result result = run(sql);
        if (!Succeeded(result)) return Fail("cannot store a batch", result.get());
    }
    return {};
}

namespace {

// The records query for a filter, newest first; params gets the values of its $n.
std::string RecordsQuerySql(const RecordFilter& filter, std::vector<std::string>& params) {
    const auto param = [&](const std::string& value) {
        params.push_back(value);
        return "$" + std::to_string(params.size());
    };
    std::string sql =
        "SELECT r.id, r.start_utc, r.end_utc, s.name, r.front_end, r.port, r.slot, r.link, "
        "r.protocol, r.mode_code, r.version_word, r.outcome, r.outcome_code, r.outcome_text, "
        "r.succeeded, r.bytes_sent, r.naks, r.retransmissions, r.duration_ms, r.run_uid, "
        "r.location FROM records r JOIN stations s ON s.id = r.station_id WHERE true";
    if (!filter.since.empty()) sql += " AND r.start_utc >= " + param(filter.since);
    if (!filter.until.empty()) {
        const std::string p = param(filter.until);
        sql += " AND left(r.start_utc, length(" + p + ")) <= " + p;
    }
    if (!filter.port.empty()) sql += " AND r.port = " + param(filter.port);
    if (!filter.station.empty()) sql += " AND s.name = " + param(filter.station);
    const std::string outcome = AsciiLower(filter.outcome);
    if (outcome == "ok")
        sql += " AND r.succeeded";
    else if (outcome == "failed")
        sql += " AND NOT r.succeeded";
    else if (!outcome.empty())
        sql += " AND lower(r.outcome) = " + param(outcome);
    if (!filter.sha256.empty())
        sql +=
            " AND EXISTS (SELECT 1 FROM record_images ri JOIN images i ON i.id = ri.image_id "
            "WHERE ri.record_id = r.id AND i.sha256 LIKE " +
            param(AsciiLower(filter.sha256)) + " || '%')";
    sql += " ORDER BY r.start_utc DESC, r.id DESC";
    if (filter.last > 0) sql += " LIMIT " + param(std::to_string(filter.last));
    return sql;
}

// One row of the records query.
DownloadRecord RecordOfRow(const PGresult* result, int row) {
    DownloadRecord r;
    r.id = std::strtoll(PQgetvalue(result, row, 0), nullptr, 10);
    int i = 1;
    ForEachRecordField(r, [&](auto& field) {
        using Field = std::decay_t<decltype(field)>;
        const char* value = PQgetvalue(result, row, i++);
        if constexpr (std::is_same_v<Field, std::string>)
            field = value;
        else if constexpr (std::is_same_v<Field, bool>)
            field = value[0] == 't';
        else
            field = static_cast<Field>(std::strtoll(value, nullptr, 10));
    });
    return r;
}

// The rows of the images query (in record id order) added to their records.
void AddImageRows(const PGresult* result, std::vector<DownloadRecord>& out) {
    // The records are in start order: each record's images are found by id.
    std::vector<std::size_t> order(out.size());
    for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return out[a].id < out[b].id; });
    std::size_t k = 0;
    for (int row = 0; row < PQntuples(result); ++row) {
        const std::int64_t id = std::strtoll(PQgetvalue(result, row, 0), nullptr, 10);
        while (k < order.size() && out[order[k]].id < id) ++k;
        if (k == order.size()) break;
        RecordImage image;
        image.slot = std::atoi(PQgetvalue(result, row, 1));
        image.fileName = PQgetvalue(result, row, 2);
        image.size = std::strtoll(PQgetvalue(result, row, 3), nullptr, 10);
        image.sha256 = PQgetvalue(result, row, 4);
        image.flashStart = std::strtoull(PQgetvalue(result, row, 5), nullptr, 10);
        image.flashEnd = std::strtoull(PQgetvalue(result, row, 6), nullptr, 10);
        image.written = PQgetvalue(result, row, 7)[0] == 't';
        out[order[k]].images.push_back(std::move(image));
    }
}

}  // namespace

std::string ServerStore::Query(const RecordFilter& filter, std::vector<DownloadRecord>& out) {
    out.clear();
    std::string error = Open();
    if (!error.empty()) return error;
    std::vector<std::string> params;
    const std::string sql = RecordsQuerySql(filter, params);
    Result result = Exec(conn_, sql, params, stopped_);
    if (!Succeeded(result)) return Fail("cannot read the records", result.get());
    const int rows = PQntuples(result.get());
    out.reserve(static_cast<std::size_t>(rows));
    std::string ids = "{";
    for (int row = rows - 1; row >= 0; --row) {
        out.push_back(RecordOfRow(result.get(), row));
        if (ids.size() > 1) ids += ',';
        ids += std::to_string(out.back().id);
    }
    if (out.empty()) return {};
    result = Exec(conn_,
                  "SELECT ri.record_id, ri.slot, i.file_name, i.size, i.sha256, ri.flash_start, "
                  "ri.flash_end, ri.written FROM record_images ri JOIN images i ON i.id = "
                  "ri.image_id WHERE ri.record_id = ANY($1::bigint[]) "
                  "ORDER BY ri.record_id, ri.position",
                  {ids + "}"}, stopped_);
    if (!Succeeded(result)) {
        out.clear();
        return Fail("cannot read the records' images", result.get());
    }
    AddImageRows(result.get(), out);
    return {};
}

}  // namespace zembra
