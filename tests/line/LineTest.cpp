// A line of stations against a real PostgreSQL server that the suite starts itself: stations
// flashing simulated phones into one server, the server away at the start, killed mid-batch,
// the station killed mid-batch, a wrong password and a newer schema; the line-wide queries
// and the report on what arrived. zembra-cli runs as a program throughout.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "records/RecordStore.h"
#include "tests/e2e/E2eFixture.h"
#include "tests/support/CliProcess.h"
#include "tests/support/PgServer.h"
#include "tests/support/RecordFill.h"

extern char** environ;

namespace zembra::test {
namespace {

using namespace std::chrono_literals;
using e2e::CodeImage;
using e2e::ImageFiles;

// zembra-cli as a process with extra environment, its stdout and stderr in one file.
class Cli : public CliProcess {
  public:
    Cli(const std::vector<std::string>& args, const std::string& output,
        const std::map<std::string, std::string>& env = {})
        : CliProcess(args, output, {}, env) {}
};

// Runs zembra-cli to its end; its status, its output in out.
int RunCli(const std::vector<std::string>& args, std::string& out, const std::string& file) {
    Cli cli(args, file);
    const int status = cli.Wait();
    out = cli.Output();
    return status;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::seconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

// JSON lines without their "id" (the local and the server's ids differ), sorted.
std::vector<std::string> WithoutIds(const std::string& lines) {
    std::vector<std::string> out;
    std::istringstream in(lines);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            out.push_back(std::regex_replace(line, std::regex("^\\{\"id\":[0-9]+,"), "{"));
    std::sort(out.begin(), out.end());
    return out;
}

// Puts a records database (with its journal) in place of another, as a backup put back.
void CopyDatabase(const std::string& from, const std::string& to) {
    for (const char* suffix : {"", "-wal"}) {
        std::filesystem::remove(to + suffix);
        if (std::filesystem::exists(from + suffix))
            std::filesystem::copy_file(from + suffix, to + suffix);
    }
}

// The line server's tables as the first program to make them left them (schema 1).
constexpr const char* kFirstServerLayout = R"(
CREATE TABLE zembra_schema (version integer NOT NULL);
INSERT INTO zembra_schema VALUES (1);
CREATE TABLE stations (id serial PRIMARY KEY, name text NOT NULL UNIQUE);
CREATE TABLE images (id bigserial PRIMARY KEY, sha256 text NOT NULL, file_name text NOT NULL,
    size bigint NOT NULL, UNIQUE (sha256, file_name, size));
CREATE TABLE records (id bigserial PRIMARY KEY, record_uid text NOT NULL UNIQUE,
    station_id integer NOT NULL REFERENCES stations (id), local_id bigint NOT NULL,
    start_utc text NOT NULL, end_utc text NOT NULL, front_end text NOT NULL, port text NOT NULL,
    slot integer NOT NULL, link text NOT NULL, protocol text NOT NULL,
    mode_code integer NOT NULL, version_word bigint NOT NULL, outcome text NOT NULL,
    outcome_code integer NOT NULL, outcome_text text NOT NULL, succeeded boolean NOT NULL,
    bytes_sent bigint NOT NULL, naks bigint NOT NULL, retransmissions bigint NOT NULL,
    duration_ms bigint NOT NULL, received_at timestamptz NOT NULL DEFAULT now());
CREATE TABLE record_images (record_id bigint NOT NULL REFERENCES records (id),
    position integer NOT NULL, slot integer NOT NULL,
    image_id bigint NOT NULL REFERENCES images (id), flash_start bigint NOT NULL,
    flash_end bigint NOT NULL, written boolean NOT NULL, PRIMARY KEY (record_id, position));
)";

class LineTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { server = new PgServer(); }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    void SetUp() override {
        static int number = 0;
        dbname = "line" + std::to_string(++number);
        ASSERT_EQ(server->Sql("CREATE DATABASE " + dbname), "");
        conninfo = server->Conninfo(PgServer::kPassword, dbname);
        // A station with no phones: it only forwards what its database holds.
        std::filesystem::create_directories(files.File("no-sysfs"));
        ::setenv("ZEMBRA_SERIAL_MAP_DIR", files.File("no-map").c_str(), 1);
        ::setenv("ZEMBRA_SYSFS_TTY_DIR", files.File("no-sysfs").c_str(), 1);
        ::setenv("ZEMBRA_PORT_DIR", files.File("no-ports").c_str(), 1);
        code = files.Write("code.bin", CodeImage(0x20000, 0x4215, 0x8000, 31));
        font = files.Write("font1_0x400000.bin", RandomBytes(0x10000, 32));
    }
    void TearDown() override {
        for (const char* name :
             {"ZEMBRA_SERIAL_MAP_DIR", "ZEMBRA_SYSFS_TTY_DIR", "ZEMBRA_PORT_DIR"})
            ::unsetenv(name);
    }

    std::string Sql(const std::string& sql) const { return server->Sql(sql, dbname); }
    long long ServerCount() const {
        const std::string n = Sql("SELECT count(*) FROM records");
        return n.rfind("ERROR", 0) == 0 ? -1 : std::stoll(n);
    }
    std::vector<std::string> Station(const std::string& db,
                                     const std::string& server_ = std::string()) const {
        return {"--station",
                "--code",
                code,
                "--font1",
                font,
                "--records",
                db,
                "--records-server",
                server_.empty() ? conninfo : server_};
    }
    // The records of a local database and of the server, as JSON lines without ids.
    std::vector<std::string> Local(const std::vector<std::string>& dbs) {
        std::string all;
        for (const std::string& db : dbs) {
            std::string out;
            EXPECT_EQ(RunCli({"records", "--db", db, "--json"}, out, files.File("local.txt")), 0)
                << out;
            all += out;
        }
        return WithoutIds(all);
    }
    std::vector<std::string> OnServer(std::vector<std::string> more = {}) {
        std::vector<std::string> args = {"records", "--server", conninfo, "--json"};
        args.insert(args.end(), more.begin(), more.end());
        std::string out;
        EXPECT_EQ(RunCli(args, out, files.File("server.txt")), 0) << out;
        return WithoutIds(out);
    }

    static PgServer* server;
    ImageFiles files;
    std::string dbname, conninfo, code, font;
};

PgServer* LineTest::server = nullptr;

// Two stations, each with two simulated phones of its own, flash at once into one server:
// every record arrives once, with every field the local databases hold; the stations say
// nothing waits; the line-wide queries see both.
TEST_F(LineTest, TwoStationsFlashIntoOneServer) {
    struct StationSide {
        std::unique_ptr<ScratchDir> dir;
        std::map<std::string, std::string> env;
        std::vector<std::unique_ptr<SimulatedPhone>> phones;
        std::string db;
    };
    StationSide sides[2];
    const auto use = [](const StationSide& side) {
        for (const auto& [name, value] : side.env) ::setenv(name.c_str(), value.c_str(), 1);
    };
    for (int s = 0; s < 2; ++s) {
        StationSide& side = sides[s];
        side.dir = std::make_unique<ScratchDir>("station");
        side.env = {{"ZEMBRA_PORT_DIR", side.dir->File("ports")},
                    {"ZEMBRA_SERIAL_MAP_DIR", side.dir->File("map")},
                    {"ZEMBRA_SYSFS_TTY_DIR", side.dir->File("sysfs")}};
        std::filesystem::create_directories(side.dir->File("sysfs"));
        side.db = side.dir->File("records.sqlite");
        use(side);
        for (int device = 0; device < 2; ++device) {
            SimPhoneConfig config;
            config.portName = "COM" + std::to_string(65 + device);
            side.phones.push_back(StartPhone(config));
        }
    }
    const std::vector<std::string> fast = {"--gap",         "1",    "--command-wait",  "300",
                                           "--packet-wait", "2000", "--startup-delay", "10"};
    std::vector<std::unique_ptr<Cli>> stations;
    for (int s = 0; s < 2; ++s) {
        std::vector<std::string> args = Station(sides[s].db);
        args.insert(args.end(), fast.begin(), fast.end());
        stations.push_back(std::make_unique<Cli>(
            args, files.File("station" + std::to_string(s) + ".txt"), sides[s].env));
    }
    EXPECT_TRUE(WaitFor([&] { return ServerCount() >= 4; }, 60s))
        << stations[0]->Output() << stations[1]->Output();
    for (int s = 0; s < 2; ++s) {
        // The station has shown that nothing waits before it is asked to end.
        EXPECT_TRUE(WaitFor(
            [&] { return stations[s]->Output().find("0 records waiting") != std::string::npos; },
            20s));
        stations[s]->Signal(SIGINT);
        EXPECT_EQ(stations[s]->Wait(), 0) << stations[s]->Output();
        const std::string out = stations[s]->Output();
        EXPECT_NE(out.find("station: 2 phones, 2 done, 0 failed"), std::string::npos) << out;
        EXPECT_NE(out.find(", 0 records waiting for the line server"), std::string::npos) << out;
        EXPECT_EQ(out.find(PgServer::kPassword), std::string::npos) << out;
    }
    EXPECT_EQ(ServerCount(), 4);
    const std::vector<std::string> local = Local({sides[0].db, sides[1].db});
    ASSERT_EQ(local.size(), 4u);
    EXPECT_EQ(OnServer(), local);
    EXPECT_EQ(OnServer({"--port", "COM66", "--outcome", "ok"}).size(), 2u);

    for (int s = 1; s >= 0; --s) {  // each phone leaves the folders it registered in
        use(sides[s]);
        sides[s].phones.clear();
    }
}

// The server is down when the station starts: the station retries and says so; once the
// server is up every record arrives, none twice. Then the line-wide queries: --station, the
// summary and the report.
TEST_F(LineTest, ServerDownAtTheStartThenUp) {
    const std::string db = files.File("records.sqlite");
    ASSERT_EQ(FillRecords(db, "line1-pc01", 1200), "");
    ASSERT_EQ(FillRecords(db, "line1-pc02", 300, 9), "");
    server->Stop();
    Cli station(Station(db), files.File("station.txt"));
    const bool retried =
        WaitFor([&] { return station.Output().find("(retrying: ") != std::string::npos; }, 20s);
    server->Start();
    EXPECT_TRUE(retried) << station.Output();
    EXPECT_TRUE(WaitFor([&] { return ServerCount() >= 1500; }, 40s)) << station.Output();
    EXPECT_TRUE(WaitFor(
        [&] { return station.Output().find("0 records waiting") != std::string::npos; }, 20s));
    station.Signal(SIGINT);
    EXPECT_EQ(station.Wait(), 0) << station.Output();
    EXPECT_EQ(station.Output().find(PgServer::kPassword), std::string::npos);
    EXPECT_EQ(ServerCount(), 1500);
    EXPECT_EQ(OnServer(), Local({db}));

    EXPECT_EQ(OnServer({"--station", "line1-pc02"}).size(), 300u);
    EXPECT_EQ(OnServer({"--station", "line1-pc01", "--last", "5"}).size(), 5u);
    std::string summary;
    ASSERT_EQ(
        RunCli({"records", "--summary", "--server", conninfo}, summary, files.File("summary.txt")),
        0);
    std::string localSummary;
    ASSERT_EQ(
        RunCli({"records", "--summary", "--db", db}, localSummary, files.File("summary-local.txt")),
        0);
    EXPECT_EQ(summary, localSummary);
    // line1-pc02: 300 runs from 09:00; 33 copies fail as every 9th, 7 more on COM70.
    EXPECT_NE(summary.find("line1-pc02           total             300    260     40"),
              std::string::npos)
        << summary;

    const std::string html = files.File("report.html");
    std::string out;
    ASSERT_EQ(RunCli({"report", "--html", html, "--server", conninfo, "--since", "2026-12-07T09"},
                     out, files.File("report.txt")),
              0)
        << out;
    const std::string page = ReadAll(html);
    EXPECT_NE(page.find("<svg"), std::string::npos);
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_EQ(page.find("src="), std::string::npos);
    EXPECT_EQ(page.find(PgServer::kPassword), std::string::npos);
    EXPECT_NE(page.find("TransferFailed"), std::string::npos);
}

// The server killed (every process at once) while batches go in, then started again; and the
// station killed (SIGKILL) at random points of its batches, several times, restarted each
// time, and once more between the commit and the mark: the server ends up with exactly the
// records of the local database, none twice.
TEST_F(LineTest, ServerAndStationKilledMidBatch) {
    const std::string db = files.File("records.sqlite");
    ASSERT_EQ(FillRecords(db, "line2-pc01", 6000), "");
    {
        Cli station(Station(db), files.File("station1.txt"));
        ASSERT_TRUE(WaitFor([&] { return ServerCount() > 0; }, 30s)) << station.Output();
        server->Kill();
        server->Start();
        EXPECT_TRUE(WaitFor([&] { return ServerCount() >= 6000; }, 60s)) << station.Output();
        EXPECT_NE(station.Output().find("(retrying: "), std::string::npos) << station.Output();
    }
    ASSERT_EQ(FillRecords(db, "line2-pc01", 6000, 12), "");
    std::mt19937 random(7);
    for (int round = 0; round < 5; ++round) {
        Cli station(Station(db), files.File("station2.txt"));
        const long long before = ServerCount();
        WaitFor([&] { return ServerCount() > before; }, 20s);
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 150));
        station.Signal(SIGKILL);
        station.Wait();
    }
    // The database as a station leaves it that dies after the server's commit and before its
    // mark: sent again, every record is still stored once.
    ASSERT_EQ(FillRecords(db, "line2-pc01", 50, 20), "");
    CopyDatabase(db, db + ".before");
    for (int time = 0; time < 2; ++time) {
        std::string out;
        EXPECT_EQ(RunCli({"records", "--send", "--db", db, "--server", conninfo}, out,
                         files.File("send.txt")),
                  0)
            << out;
        EXPECT_NE(out.find("0 records waiting"), std::string::npos) << out;
        EXPECT_GE(std::atoi(out.c_str() + out.find(": ") + 2), 50) << out;  // "N sent"
        EXPECT_EQ(ServerCount(), 12050);
        CopyDatabase(db + ".before", db);
    }
    EXPECT_EQ(Sql("SELECT count(DISTINCT local_id) FROM records"), "12050");
    EXPECT_EQ(Sql("SELECT count(*) FROM record_images"), "24100");
}

// A wrong password and a server whose schema is newer: a clear message, the password never
// shown, the phone flashed and recorded as ever; the newer schema left as it is.
TEST_F(LineTest, WrongPasswordAndNewerSchemaLeaveDownloadsAlone) {
    ScratchDir dir("station");
    const std::map<std::string, std::string> env = {{"ZEMBRA_PORT_DIR", dir.File("ports")},
                                                    {"ZEMBRA_SERIAL_MAP_DIR", dir.File("map")},
                                                    {"ZEMBRA_SYSFS_TTY_DIR", dir.File("sysfs")}};
    std::filesystem::create_directories(dir.File("sysfs"));
    for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
    SimPhoneConfig config;
    config.portName = "COM65";
    auto phone = StartPhone(config);
    const std::string db = files.File("records.sqlite");
    const std::string wrong = server->Conninfo("not-the-password-42", dbname);
    std::vector<std::string> args = Station(db, wrong);
    for (const char* word : {"--gap", "1", "--startup-delay", "10"}) args.push_back(word);
    Cli station(args, files.File("station.txt"), env);
    EXPECT_TRUE(
        WaitFor([&] { return station.Output().find("station: COM65") != std::string::npos; }, 30s))
        << station.Output();
    EXPECT_TRUE(WaitFor(
        [&] {
            return station.Output().find("password authentication failed") != std::string::npos;
        },
        20s))
        << station.Output();
    station.Signal(SIGINT);
    EXPECT_EQ(station.Wait(), 0) << station.Output();
    const std::string out = station.Output();
    EXPECT_NE(out.find("station: 1 phone, 1 done, 0 failed"), std::string::npos) << out;
    EXPECT_NE(out.find("1 record waiting for the line server"), std::string::npos) << out;
    EXPECT_EQ(out.find("not-the-password-42"), std::string::npos) << out;
    EXPECT_EQ(Local({db}).size(), 1u);
    phone.reset();

    ASSERT_EQ(Sql("CREATE TABLE zembra_schema (version integer NOT NULL);"
                  "INSERT INTO zembra_schema VALUES (7)"),
              "");
    std::string sent;
    EXPECT_EQ(RunCli({"records", "--send", "--db", db, "--server", conninfo}, sent,
                     files.File("send.txt")),
              20);
    EXPECT_NE(sent.find("its records schema is version 7, newer than this program knows (3)"),
              std::string::npos)
        << sent;
    EXPECT_EQ(sent.find(PgServer::kPassword), std::string::npos) << sent;
    // A connection string the library cannot read: its own message would quote it.
    std::string bad;
    EXPECT_EQ(RunCli({"records", "--server",
                      "postgresql://zembra:%zz" + std::string(PgServer::kPassword) + "@/x"},
                     bad, files.File("bad.txt")),
              17);
    EXPECT_EQ(bad.find(PgServer::kPassword), std::string::npos) << bad;
    EXPECT_EQ(Sql("SELECT to_regclass('records') IS NULL"), "t");
    EXPECT_EQ(Sql("SELECT version FROM zembra_schema"), "7");
}

// A records file put back from a backup gives its next run a record number that a run the
// server holds already had: both runs are kept. A run the server holds with other content
// than the station's is an error that keeps the record waiting.
TEST_F(LineTest, ARecordsFilePutBackNeverLosesARun) {
    const std::string db = files.File("records.sqlite");
    const auto send = [&](std::string& out) {
        return RunCli({"records", "--send", "--db", db, "--server", conninfo}, out,
                      files.File("send.txt"));
    };
    std::string out;
    ASSERT_EQ(FillRecords(db, "line3-pc01", 1), "");
    ASSERT_EQ(send(out), 0) << out;
    CopyDatabase(db, db + ".backup");
    DownloadRecord second = SampleRecord("line3-pc01");
    ASSERT_EQ(RecordStore(db).Append(second), "");
    ASSERT_EQ(send(out), 0) << out;
    CopyDatabase(db + ".backup", db);
    DownloadRecord again = SampleRecord("line3-pc01");
    again.port = "COM66";
    ASSERT_EQ(RecordStore(db).Append(again), "");
    EXPECT_EQ(again.id, second.id);
    ASSERT_EQ(send(out), 0) << out;
    EXPECT_NE(out.find("1 sent; line server"), std::string::npos) << out;
    EXPECT_EQ(ServerCount(), 3);
    EXPECT_EQ(Sql("SELECT count(*) FROM records WHERE port = 'COM66'"), "1");

    // The same run with other content (a file changed by hand), and the mark set back.
    sqlite3* local = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &local), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(local,
                           "UPDATE downloads SET duration_ms = 1 WHERE port = 'COM66';"
                           "UPDATE line_outbox SET sent_through = 1",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(local);
    EXPECT_EQ(send(out), 20) << out;
    EXPECT_NE(out.find("local record 2 cannot be stored: the server holds a run with its "
                       "identity " +
                       again.runUid + " and other content; it stays waiting"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("1 record waiting"), std::string::npos) << out;
    EXPECT_EQ(ServerCount(), 3);
}

// A server and a records file of the first program: the server's tables are upgraded in
// place, its rows kept (also one whose start time cannot be read: the summary and the report
// leave it out and count it); the file's run that the server holds under its store and
// local number is not stored twice. A time that is not a time is refused by the server and
// named by the sender before it sends.
TEST_F(LineTest, AnEarlierServerAndRecordsFileKeepWorking) {
    const std::string row =
        "'zembra-cli --station', 'COM65', 0, 'USB', 'compressed', 258, 16917, 'Completed', 0, "
        "'done', true, 4300000, 0, 0, 41200";
    ASSERT_EQ(Sql(std::string(kFirstServerLayout) +
                  "INSERT INTO stations (name) VALUES ('line4-pc01'), ('line4-pc02');"
                  "INSERT INTO records (record_uid, station_id, local_id, start_utc, end_utc, "
                  "front_end, port, slot, link, protocol, mode_code, version_word, outcome, "
                  "outcome_code, outcome_text, succeeded, bytes_sent, naks, retransmissions, "
                  "duration_ms) VALUES ('s4:1', 1, 1, '2026-12-07T08:00:00.000Z', "
                  "'2026-12-07T08:00:41.200Z', " +
                  row +
                  "), ('other:1', 2, 1, '2026', '2026', 'zembra', 'COM1', 0, 'USB', 'normal', "
                  "257, -1, 'Completed', 0, 'done', true, 1, 0, 0, 1)"),
              "");
    const std::string db = files.File("records.sqlite");
    sqlite3* local = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &local), SQLITE_OK);
    const std::string sql =
        std::string(kFirstRecordsLayout) +
        "CREATE TABLE line_outbox (store_uid TEXT NOT NULL, sent_through INTEGER NOT NULL);"
        "INSERT INTO line_outbox VALUES ('s4', 0);"  // the station died before its mark
        "INSERT INTO downloads VALUES (1, '2026-12-07T08:00:00.000Z', "
        "'2026-12-07T08:00:41.200Z', 'line4-pc01', 'zembra-cli --station', 'COM65', 0, 'USB', "
        "'compressed', 258, 16917, 'Completed', 0, 'done', 1, 4300000, 0, 0, 41200),"
        "(2, '2026-12-07T08:01:00.000Z', '2026-12-07T08:01:41.200Z', 'line4-pc01', "
        "'zembra-cli --station', 'COM66', 0, 'USB', 'compressed', 258, 16917, 'Completed', 0, "
        "'done', 1, 4300000, 0, 0, 41200)";
    ASSERT_EQ(sqlite3_exec(local, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(local);

    std::string out;
    EXPECT_EQ(RunCli({"records", "--send", "--db", db, "--server", conninfo}, out,
                     files.File("send.txt")),
              0)
        << out;
    EXPECT_EQ(Sql("SELECT version FROM zembra_schema"), "3");
    EXPECT_EQ(ServerCount(), 3);
    EXPECT_EQ(Sql("SELECT count(*) FROM records WHERE location = ''"), "3");
    EXPECT_EQ(Sql("SELECT count(*) FROM records WHERE run_uid = record_uid"), "2");
    EXPECT_EQ(Sql("SELECT count(*) FROM records WHERE port = 'COM66' AND length(run_uid) = 32"),
              "1");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"records", "--summary", "--server", conninfo},
          std::vector<std::string>{"report", "--html", files.File("report.html"), "--server",
                                   conninfo}}) {
        EXPECT_EQ(RunCli(args, out, files.File("read.txt")), 0) << out;
        const std::string text = args[0] == "report" ? ReadAll(files.File("report.html")) : out;
        EXPECT_NE(text.find("1 record could not be read"), std::string::npos) << text;
        EXPECT_NE(text.find("line4-pc01"), std::string::npos) << text;
    }
    EXPECT_NE(Sql("INSERT INTO records (run_uid, record_uid, station_id, local_id, start_utc, "
                  "end_utc, front_end, port, slot, link, protocol, mode_code, version_word, "
                  "outcome, outcome_code, outcome_text, succeeded, bytes_sent, naks, "
                  "retransmissions, duration_ms) VALUES ('x', 'x', 1, 9, '2026', "
                  "'2026-12-07T08:00:41.200Z', " +
                  row + ")")
                  .find("records_times_well_formed"),
              std::string::npos);

    // A local row whose start time is cut short: read around, never sent as it is.
    DownloadRecord cut = SampleRecord("line4-pc01");
    ASSERT_EQ(RecordStore(db).Append(cut), "");
    ASSERT_EQ(sqlite3_open(db.c_str(), &local), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(local, "UPDATE downloads SET start_utc = '2026' WHERE id = 3", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(local);
    EXPECT_EQ(RunCli({"records", "--summary", "--db", db}, out, files.File("summary.txt")), 0);
    EXPECT_NE(out.find("1 record could not be read"), std::string::npos) << out;
    EXPECT_EQ(RunCli({"records", "--send", "--db", db, "--server", conninfo}, out,
                     files.File("send.txt")),
              20);
    EXPECT_NE(out.find("local record 3 cannot be stored: its start time \"2026\" is not a "
                       "well-formed time"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("1 record waiting"), std::string::npos) << out;
}

// A password on the command line is warned of and gone from the process's arguments; a file
// that holds one (the connection string's file, zembra.conf) must be its owner's alone. A
// run that is not a station pushes the records when it ends, under the station's name, and
// says how many wait when the server cannot take them.
TEST_F(LineTest, PasswordsStayOffTheCommandLineAndOneOffRunsPush) {
    ScratchDir dir("station");
    const std::map<std::string, std::string> env = {{"ZEMBRA_PORT_DIR", dir.File("ports")},
                                                    {"ZEMBRA_SERIAL_MAP_DIR", dir.File("map")},
                                                    {"ZEMBRA_SYSFS_TTY_DIR", dir.File("sysfs")},
                                                    {"XDG_CONFIG_HOME", dir.File("config")}};
    std::filesystem::create_directories(dir.File("sysfs"));
    std::filesystem::create_directories(dir.File("config/zembra"));
    for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
    const std::string db = files.File("records.sqlite");
    {
        std::vector<std::string> args = Station(
            db, "postgresql://zembra:" + std::string(PgServer::kPassword) + "@/x?host=/nowhere");
        args.insert(args.end(), {"--color", "always"});
        Cli station(args, files.File("station.txt"), env);
        ASSERT_TRUE(WaitFor(
            [&] { return station.Output().find("station: waiting") != std::string::npos; }, 20s))
            << station.Output();
        const std::string cmdline = ReadAll("/proc/" + std::to_string(station.pid()) + "/cmdline");
        EXPECT_NE(cmdline.find("--records-server"), std::string::npos);
        EXPECT_EQ(cmdline.find(PgServer::kPassword), std::string::npos) << cmdline;
        EXPECT_NE(station.Output().find("\033[31mzembra-cli: --records-server holds a password"),
                  std::string::npos)
            << station.Output();
        station.Signal(SIGINT);
        EXPECT_EQ(station.Wait(), 0);
    }

    SimPhoneConfig config;
    config.portName = "COM65";
    auto phone = StartPhone(config);
    const auto run = [&](std::vector<std::string> more, std::string& out) {
        std::vector<std::string> args = {
            "--port",  "COM65",  "--code", code, "--font1",         font, "--records", db,
            "--color", "always", "--gap",  "1",  "--startup-delay", "10"};
        args.insert(args.end(), more.begin(), more.end());
        Cli cli(args, files.File("run.txt"), env);
        const int status = cli.Wait();
        out = cli.Output();
        return status;
    };
    std::string out;
    const std::string serverFile = dir.Write("line-server", "# the line\n" + conninfo + "\n");
    ::chmod(serverFile.c_str(), 0644);
    const std::vector<std::string> fromFile = {"--records-server-file", serverFile,
                                               "--station-name", "line3-east"};
    EXPECT_EQ(run(fromFile, out), 2) << out;
    EXPECT_NE(out.find("Permissions 0644 for '" + serverFile + "' are too open"), std::string::npos)
        << out;
    ::chmod(serverFile.c_str(), 0600);
    EXPECT_EQ(run(fromFile, out), 0) << out;
    EXPECT_NE(out.find("records sent to line server zembra@"), std::string::npos) << out;
    EXPECT_EQ(ServerCount(), 1);
    EXPECT_EQ(OnServer({"--station", "line3-east"}).size(), 1u);

    const std::string conf = dir.File("config/zembra/zembra.conf");
    std::ofstream(conf) << "records-server = " << conninfo << "\nstation-name = line3-west\n";
    ::chmod(conf.c_str(), 0640);
    EXPECT_EQ(run({}, out), 2) << out;
    EXPECT_NE(out.find("Permissions 0640 for '" + conf + "' are too open"), std::string::npos)
        << out;
    ::chmod(conf.c_str(), 0600);
    EXPECT_EQ(run({}, out), 0) << out;
    EXPECT_EQ(OnServer({"--station", "line3-west"}).size(), 1u);

    // A server that cannot be reached: the run ends all the same and says what waits.
    EXPECT_EQ(run({"--records-server", "host=/nonexistent dbname=x"}, out), 0) << out;
    EXPECT_NE(out.find("1 record waiting (retrying: "), std::string::npos) << out;
    EXPECT_EQ(Local({db}).size(), 3u);
    phone.reset();
    for (const auto& [name, value] : env) ::unsetenv(name.c_str());
}

}  // namespace
}  // namespace zembra::test
