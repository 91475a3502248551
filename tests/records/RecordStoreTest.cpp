// The records database: round trip and filters, CSV and JSON lines, two writing processes,
// and the faults that must never cost a record already written or the file itself.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <set>

#include "platform/Helpers.h"
#include "records/LineReport.h"
#include "records/RecordExport.h"
#include "records/RecordStore.h"
#include "records/RecordTime.h"
#include "records/Sha256.h"
#include "tests/support/RecordFill.h"
#include "tests/support/TestSupport.h"

namespace zembra::test {
namespace {

std::string FormatTime(int n) {
    char text[40];
    std::snprintf(text, sizeof text, "2026-12-%02dT10:00:%02d.000Z", 1 + n / 60, n % 60);
    return text;
}

DownloadRecord Sample(int n, const std::string& port = "COM65") {
    DownloadRecord r;
    r.startUtc = FormatTime(n);
    r.endUtc = r.startUtc;
    r.station = "bench-1";
    r.frontEnd = "zembra-cli";
    r.port = port;
    r.link = "USB";
    r.protocol = "compressed";
    r.modeCode = 0x102;
    r.versionWord = 0x4215;
    r.outcome = n % 3 == 0 ? "EraseFailed" : "Completed";
    r.outcomeText = "text, with a comma and \"quotes\"";
    r.succeeded = n % 3 != 0;
    r.bytesSent = 1000u + static_cast<unsigned>(n);
    r.durationMs = n;
    r.location = FormatText("1-1.%d", n % 4 + 1);
    RecordImage image;
    image.fileName = "code.bin";
    image.size = 0x20000;
    image.sha256 = Sha256OfBytes(reinterpret_cast<const std::uint8_t*>(&n), sizeof n);
    image.flashStart = 0x8000;
    image.flashEnd = 0x1FFFF;
    image.written = r.succeeded;
    r.images.push_back(image);
    return r;
}

std::vector<DownloadRecord> All(const std::string& path, RecordFilter filter = {}) {
    std::vector<DownloadRecord> out;
    RecordStore store(path);
    EXPECT_EQ(store.Query(filter, out), "");
    return out;
}

// Fields of one CSV line (RFC 4180 quoting).
std::vector<std::string> CsvFields(const std::string& line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
            fields.back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

// Runs fn in a child process; its exit status (0 = fn returned true).
int InChild(const std::function<bool()>& fn) {
    const pid_t pid = fork();
    if (pid == 0) _exit(fn() ? 0 : 1);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Drops the file-permission override of root, so that modes hold for this process.
bool DropFileCapabilities() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
        data[cap / 32].effective &= ~(1u << (cap % 32));
        data[cap / 32].permitted &= ~(1u << (cap % 32));
    }
    return syscall(SYS_capset, &header, data) == 0;
}

TEST(RecordStore, RoundTripAndFilters) {
    ScratchDir dir;
    const std::string path = dir.File("sub/records.sqlite");  // the folder is made
    RecordStore store(path);
    for (int n = 1; n <= 9; ++n) {
        DownloadRecord r = Sample(n, n % 2 ? "COM65" : "COM66");
        ASSERT_EQ(store.Append(r), "");
        EXPECT_EQ(r.id, n);
    }
    const auto all = All(path);
    ASSERT_EQ(all.size(), 9u);
    EXPECT_EQ(all[4].port, "COM65");
    EXPECT_EQ(all[4].images.at(0).sha256, Sample(5).images[0].sha256);
    EXPECT_EQ(all[4].images[0].flashEnd, 0x1FFFFu);
    EXPECT_EQ(all[4].outcomeText, Sample(5).outcomeText);
    EXPECT_EQ(all[4].location, "1-1.2");

    RecordFilter f;
    f.port = "COM66";
    EXPECT_EQ(All(path, f).size(), 4u);
    f = {};
    f.outcome = "failed";
    EXPECT_EQ(All(path, f).size(), 3u);  // 3, 6, 9
    f.outcome = "completed";
    EXPECT_EQ(All(path, f).size(), 6u);
    f = {};
    f.since = *RecordTimeBound("2026-12-01T10:00:05", TimeBound::Since);
    f.until = *RecordTimeBound("2026-12-01T10:00:07", TimeBound::Until);
    EXPECT_EQ(All(path, f).size(), 3u);
    f = {};
    f.sha256 = Sample(7).images[0].sha256.substr(0, 12);
    ASSERT_EQ(All(path, f).size(), 1u);
    EXPECT_EQ(All(path, f)[0].id, 7);
    f = {};
    f.last = 2;
    const auto last = All(path, f);
    ASSERT_EQ(last.size(), 2u);
    EXPECT_EQ(last[0].id, 8);  // oldest first
    EXPECT_EQ(last[1].id, 9);

    std::vector<DownloadRecord> none;
    EXPECT_EQ(RecordStore(dir.File("absent.sqlite")).Query({}, none), "");  // nothing recorded yet
    EXPECT_FALSE(std::filesystem::exists(dir.File("absent.sqlite")));       // reading never creates
}

TEST(RecordStore, CsvHasAHeaderRowAndJsonLinesParse) {
    std::vector<DownloadRecord> records = {Sample(1), Sample(3)};
    records[1].images[0].fileName = "font\x01\xff.bin";  // a control byte and bad UTF-8
    // Texts a spreadsheet would run as formulas stay texts; numbers stay numbers.
    records[0].port = "=HYPERLINK(\"http://x\",\"y\")";
    records[0].station = "-pc";
    records[1].station = "@SUM(1)";
    records[1].versionWord = -1;
    const std::string csv = RecordsCsv(records);
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = csv.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(csv.substr(at, end - at));
    ASSERT_EQ(lines.size(), 3u);
    const auto header = CsvFields(lines[0]);
    EXPECT_EQ(header.front(), "id");
    EXPECT_EQ(header.back(), "images");
    for (int i = 1; i <= 2; ++i) {
        const auto row = CsvFields(lines[static_cast<std::size_t>(i)]);
        ASSERT_EQ(row.size(), header.size()) << lines[static_cast<std::size_t>(i)];
        EXPECT_EQ(row[13], records[0].outcomeText);  // quoted comma and quotes
        EXPECT_EQ(row[3], "'" + records[static_cast<std::size_t>(i - 1)].station);
    }
    EXPECT_EQ(CsvFields(lines[1])[5], "'" + records[0].port);
    EXPECT_EQ(CsvFields(lines[2])[10], "-1");
    EXPECT_NE(lines[2].find(",-1,"), std::string::npos) << lines[2];
    for (const DownloadRecord& r : records) {
        const std::string line = RecordJsonLine(r);
        ASSERT_EQ(line.back(), '\n');
        EXPECT_EQ(line.find('\n'), line.size() - 1);
        const auto json = nlohmann::json::parse(line);
        EXPECT_EQ(json["outcome"], r.outcome);
        EXPECT_EQ(json["images"][0]["sha256"], r.images[0].sha256);
        EXPECT_EQ(json["images"][0]["flash_start"], 0x8000);
    }
}

// A file of the first layout, written by an earlier program: read as it is, upgraded in
// place by the first record written, every run with an identity of its own; a copy of the
// file (a backup put back, a second computer) gives the same record numbers again but never
// the same identities.
TEST(RecordStore, AnEarlierFileIsUpgradedAndEveryRunHasItsOwnIdentity) {
    ScratchDir dir;
    const std::string path = dir.File("old.sqlite");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    const std::string layout =
        std::string(kFirstRecordsLayout) +
        "INSERT INTO downloads VALUES (1, '2026-12-01T10:00:01.000Z', '2026-12-01T10:00:02.000Z',"
        " 'pc', 'zembra', 'COM65', 0, 'USB', 'normal', 257, -1, 'Completed', 0, 'done', 1, 10, 0,"
        " 0, 1000), (2, '2026-12-01T10:00:03.000Z', '2026-12-01T10:00:04.000Z', 'pc', 'zembra',"
        " 'COM65', 0, 'USB', 'normal', 257, -1, 'Completed', 0, 'done', 1, 10, 0, 0, 1000);"
        "INSERT INTO images VALUES (2, 0, 'code.bin', 4, 'ab', 32768, 32771, 1);";
    ASSERT_EQ(sqlite3_exec(db, layout.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);

    const auto asItWas = All(path);
    ASSERT_EQ(asItWas.size(), 2u);
    EXPECT_EQ(asItWas[1].images.at(0).fileName, "code.bin");

    DownloadRecord third = Sample(3);
    ASSERT_EQ(RecordStore(path).Append(third), "");
    std::filesystem::copy_file(path, dir.File("copy.sqlite"));
    const auto upgraded = All(path);
    ASSERT_EQ(upgraded.size(), 3u);
    std::set<std::string> uids;
    for (std::size_t i = 0; i < upgraded.size(); ++i) {
        EXPECT_EQ(upgraded[i].id, static_cast<std::int64_t>(i + 1));
        EXPECT_EQ(upgraded[i].runUid.size(), 32u);
        EXPECT_EQ(upgraded[i].runUid.find_first_not_of("0123456789abcdef"), std::string::npos);
        uids.insert(upgraded[i].runUid);
    }
    EXPECT_EQ(uids.size(), 3u);
    EXPECT_EQ(upgraded[2].runUid, third.runUid);
    EXPECT_EQ(upgraded[0].location, "");  // runs from before the column
    EXPECT_EQ(upgraded[2].location, third.location);
    EXPECT_EQ(upgraded[1].images.at(0).fileName, "code.bin");

    DownloadRecord here = Sample(4), there = Sample(4);
    ASSERT_EQ(RecordStore(path).Append(here), "");
    ASSERT_EQ(RecordStore(dir.File("copy.sqlite")).Append(there), "");
    EXPECT_EQ(here.id, there.id);
    EXPECT_NE(here.runUid, there.runUid);
    EXPECT_EQ(All(dir.File("copy.sqlite")).back().runUid, there.runUid);
}

// Two processes append 200 records each at the same time: all 400 are there, each once.
TEST(RecordStore, TwoProcessesAppendAtOnce) {
    ScratchDir dir;
    const std::string path = dir.File("records.sqlite");
    pid_t pids[2];
    for (int p = 0; p < 2; ++p) {
        pids[p] = fork();
        if (pids[p] == 0) {
            RecordStore store(path);
            for (int n = 0; n < 200; ++n) {
                DownloadRecord r = Sample(n, p == 0 ? "COM65" : "COM66");
                if (const std::string error = store.Append(r); !error.empty()) {
                    std::fprintf(stderr, "process %d, record %d: %s\n", p, n, error.c_str());
                    _exit(1);
                }
            }
            _exit(0);
        }
    }
    for (pid_t pid : pids) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const auto all = All(path);
    EXPECT_EQ(all.size(), 400u);
    for (const char* port : {"COM65", "COM66"}) {
        std::set<std::int64_t> bytes;
        for (const auto& r : all)
            if (r.port == port) bytes.insert(static_cast<std::int64_t>(r.bytesSent));
        EXPECT_EQ(bytes.size(), 200u) << port;
    }
}

// A writer killed (SIGKILL) at any moment leaves a database the next run reads and extends.
TEST(RecordStore, SurvivesAWriterKilledMidWay) {
    ScratchDir dir;
    const std::string path = dir.File("records.sqlite");
    const pid_t pid = fork();
    if (pid == 0) {
        RecordStore store(path);
        for (int n = 0;; ++n) {
            DownloadRecord r = Sample(n);
            store.Append(r);
        }
    }
    RecordStore reader(path);
    std::vector<DownloadRecord> seen;
    for (int i = 0; i < 500 && seen.size() < 20; ++i) {
        usleep(10000);
        reader.Query({}, seen);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    const auto before = All(path);
    EXPECT_GE(before.size(), 20u);
    for (const auto& r : before) EXPECT_EQ(r.images.size(), 1u);  // never half a record
    DownloadRecord next = Sample(1);
    EXPECT_EQ(RecordStore(path).Append(next), "");
    EXPECT_EQ(All(path).size(), before.size() + 1);
}

std::string Bytes(const std::string& path) {
    return ReadAll(path);
}

// Corrupt, read-only, full and locked databases: Append reports it, the file stays as it was
// (and a locked one takes the record once it is free again).
TEST(RecordStore, FaultsAreReportedAndTheFileIsKept) {
    ScratchDir dir;
    // Not a database.
    const std::string corrupt = dir.Write("corrupt.sqlite", std::string(5000, 'x') + "garbage");
    DownloadRecord r = Sample(1);
    EXPECT_NE(RecordStore(corrupt).Append(r), "");
    EXPECT_EQ(Bytes(corrupt), std::string(5000, 'x') + "garbage");

    // Read-only (for a process without root's override).
    const std::string readOnly = dir.File("ro.sqlite");
    ASSERT_EQ(RecordStore(readOnly).Append(r), "");
    ::chmod(readOnly.c_str(), 0444);
    ::chmod(dir.path().c_str(), 0555);
    const std::string roBefore = Bytes(readOnly);
    EXPECT_EQ(InChild([&] {
                  if (getuid() == 0 && !DropFileCapabilities()) return false;
                  DownloadRecord x = Sample(2);
                  return !RecordStore(readOnly).Append(x).empty();
              }),
              0);
    ::chmod(dir.path().c_str(), 0755);
    EXPECT_EQ(Bytes(readOnly), roBefore);
    EXPECT_EQ(All(readOnly).size(), 1u);

    // Full disk: the file may not grow.
    const std::string full = dir.File("full.sqlite");
    ASSERT_EQ(RecordStore(full).Append(r), "");
    EXPECT_EQ(InChild([&] {
                  signal(SIGXFSZ, SIG_IGN);
                  RecordStore store(full);
                  DownloadRecord x = Sample(2);
                  x.outcomeText = std::string(1 << 20, 'z');  // does not fit
                  const rlimit limit{1 << 18, 1 << 18};
                  setrlimit(RLIMIT_FSIZE, &limit);
                  return !store.Append(x).empty();
              }),
              0);
    EXPECT_EQ(All(full).size(), 1u);

    // Locked by another writer for longer than the busy timeout.
    const std::string locked = dir.File("locked.sqlite");
    ASSERT_EQ(RecordStore(locked).Append(r), "");
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(locked.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr), SQLITE_OK);
    RecordStore waiting(locked, 200);
    DownloadRecord second = Sample(2);
    const std::string error = waiting.Append(second);
    EXPECT_NE(error.find("locked"), std::string::npos) << error;
    sqlite3_exec(other, "COMMIT;", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(waiting.Append(second), "");
    EXPECT_EQ(All(locked).size(), 2u);
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// A run whose start time cannot be read is left out and counted, never fatal; the report of
// weeks or years of runs stays within 60 bars and 1,000 rows and says what it leaves out.
TEST(LineReport, UnreadableRunsAreCountedAndLongPeriodsStaySmall) {
    std::vector<DownloadRecord> runs = {Sample(1), Sample(2), Sample(3)};
    runs[1].startUtc = "2026";
    const std::string summary = SummaryText(runs);
    EXPECT_NE(summary.find("1 record could not be read"), std::string::npos) << summary;
    EXPECT_NE(summary.find(FormatText("%-20s %-14s %6d", "bench-1", "total", 2)), std::string::npos)
        << summary;
    std::string page = LineReportHtml(runs, "test", "all runs");
    EXPECT_NE(page.find("1 record could not be read"), std::string::npos);
    EXPECT_NE(page.find("<b>2</b> runs"), std::string::npos);
    EXPECT_NE(page.find("Phones per hour per station"), std::string::npos);

    // 100,000 runs 30 s apart (35 days) of three stations; every ninth fails.
    std::vector<DownloadRecord> many(100000, Sample(1));
    for (std::size_t i = 0; i < many.size(); ++i) {
        const long long second = 1796623200 + 30 * static_cast<long long>(i);
        many[i].startUtc = HourText(second / 3600) +
                           FormatText(":%02lld:%02lld.000Z", second / 60 % 60, second % 60);
        many[i].station = FormatText("pc%zu", i % 3);
        many[i].succeeded = i % 9 != 0;
        many[i].durationMs = static_cast<std::int64_t>(1000 + i % 5000);
    }
    page = LineReportHtml(many, "test", "all runs");
    EXPECT_NE(page.find("Phones per day per station"), std::string::npos);
    EXPECT_EQ(Occurrences(page, "rotate(-45"), 35u);  // a bar per day
    EXPECT_EQ(Occurrences(page, "<tr class="), 10u + 1000u);
    EXPECT_GE(Occurrences(page, "<tr class=\"bad\">"), 1000u);  // the failed first
    EXPECT_NE(page.find("1000 of the 100000 runs are listed; 99000 are left out"),
              std::string::npos);

    // Three years: bars of several weeks.
    many.resize(2);
    many[1].startUtc = "2029-12-31T23:59:59.999Z";
    page = LineReportHtml(many, "test", "all runs");
    EXPECT_NE(page.find("Phones per 3 weeks per station"), std::string::npos);
    EXPECT_EQ(Occurrences(page, "rotate(-45"), 2u);
}

// The summary and the report count runs and failures per slot and USB port, the places
// with failures first, so that one bad cable or hub port stands out.
TEST(LineReport, FailuresBySlotAndUsbPort) {
    std::vector<DownloadRecord> runs;
    for (int n = 1; n <= 8; ++n) {
        DownloadRecord r = Sample(n);
        r.slot = n % 2 + 1;
        r.location = r.slot == 1 ? "1-1.1" : "1-1.3";
        r.succeeded = !(r.slot == 2 && n > 2);  // three failures in a row in slot 2
        runs.push_back(r);
    }
    runs.push_back(Sample(9));  // a single run: its USB port alone
    runs.back().location = "2-4";
    const std::string summary = SummaryText(runs);
    const std::string slot2 = FormatText("%-20s %-28s %6d %6d", "bench-1", "slot 2 (1-1.3)", 4, 3);
    ASSERT_NE(summary.find(slot2), std::string::npos) << summary;
    EXPECT_LT(summary.find(slot2), summary.find("slot 1 (1-1.1)"));
    EXPECT_NE(summary.find(FormatText("%-20s %-28s %6d", "bench-1", "2-4", 1)), std::string::npos);
    const std::string page = LineReportHtml(runs, "test", "all runs");
    EXPECT_NE(page.find("Failures by slot and USB port"), std::string::npos);
    EXPECT_NE(page.find(">bench-1 slot 2 (1-1.3)</text>"), std::string::npos);
    EXPECT_NE(page.find("<td>slot 1 (1-1.1)</td>"), std::string::npos);
}

TEST(Sha256, KnownDigests) {
    EXPECT_EQ(Sha256OfBytes(nullptr, 0),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    ScratchDir dir;
    EXPECT_EQ(Sha256OfFile(dir.Write("abc", "abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256OfFile(dir.File("absent")), "");
}

}  // namespace
}  // namespace zembra::test
