// line_bench: the line server on this machine. Starts a PostgreSQL server of its own (as the
// tests do), fills a station's records database and prints: records per second pushed by the
// sender and its processor time per record; then, on the server's records, the time of
// "zembra-cli records --summary --server" and of "zembra-cli report --html" (kept with
// --keep-report FILE: scripts/line-report-screenshot.sh takes its picture).
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Helpers.h"
#include "records/LineSender.h"
#include "tests/support/PgServer.h"
#include "tests/support/RecordFill.h"

namespace {

using namespace zembra;

double CpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs zembra-cli with args; prints its wall and processor time.
void TimeCli(const char* what, const std::vector<std::string>& args) {
    std::string command = ZEMBRA_CLI_PATH;
    for (const std::string& arg : args) command += " '" + arg + "'";
    command += " > /dev/null";
    const double cpu = CpuSeconds(RUSAGE_CHILDREN);
    const double start = NowMs() / 1000;
    const int status = std::system(command.c_str());
    const double wall = NowMs() / 1000 - start;
    std::printf("%-44s %7.3f s wall, %7.3f s processor (zembra-cli)%s\n", what, wall,
                CpuSeconds(RUSAGE_CHILDREN) - cpu, status == 0 ? "" : "  FAILED");
}

}  // namespace

int main(int argc, char** argv) {
    int count = 10000;
    std::string keepReport;
    for (int i = 1; i + 1 < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--count") count = std::atoi(argv[++i]);
        if (a == "--keep-report") keepReport = argv[++i];
    }
    if (count < 3) {
        std::fprintf(stderr, "usage: line_bench [--count N] [--keep-report FILE]\n");
        return 2;
    }
    try {
        test::PgServer server;
        test::ScratchDir dir("line-bench");
        const std::string db = dir.File("records.sqlite");
        // Three stations of a line, a third of the records each, starting an hour apart.
        for (int station = 0; station < 3; ++station) {
            const std::string error =
                test::FillRecords(db, "line1-pc0" + std::to_string(station + 1),
                                  count / 3 + (station < count % 3 ? 1 : 0), 6 + station);
            if (!error.empty()) throw std::runtime_error(error);
        }

        LineSenderConfig config;
        config.localPath = db;
        config.server = server.Conninfo();
        const double cpu = CpuSeconds(RUSAGE_SELF);
        const double start = NowMs() / 1000;
        const LineSenderStatus status = SendWaitingRecords(config);
        const double wall = NowMs() / 1000 - start;
        const double used = CpuSeconds(RUSAGE_SELF) - cpu;
        if (!status.error.empty() || status.sent != count)
            throw std::runtime_error("sending failed: " + status.error);
        std::printf(
            "pushed %d records in batches of %d: %.3f s, %.0f records/s; sender "
            "processor time %.3f s, %.1f us per record (the server's not counted)\n",
            count, config.batchSize, wall, count / wall, used, used * 1e6 / count);

        TimeCli("records --summary --server", {"records", "--summary", "--server", config.server});
        TimeCli("records --summary --db (local)", {"records", "--summary", "--db", db});
        const std::string report = keepReport.empty() ? dir.File("report.html") : keepReport;
        TimeCli("report --html --server", {"report", "--html", report, "--server", config.server});
    } catch (const std::exception& e) {
        std::fprintf(stderr, "line_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
