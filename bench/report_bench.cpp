// report_bench [--count N] [--keep FILE]: the line report of N runs (default 100,000: three
// stations, a run every 30 s for weeks, about one in nine failed) made in memory and drawn by
// Debian's headless Chromium. Prints the page's size, the time to make it and the time
// Chromium takes to load, lay out and take a picture of it.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Helpers.h"
#include "records/LineReport.h"
#include "records/RecordTime.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace zembra;

std::vector<DownloadRecord> Runs(int count) {
    const long long firstSecond = 1796623200;  // 2026-12-07T06:00Z
    const char* reasons[] = {"TransferFailed", "EraseFailed", "NoAnswer"};
    std::vector<DownloadRecord> runs(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        DownloadRecord& r = runs[static_cast<std::size_t>(i)];
        const long long second = firstSecond + 30LL * i;
        r.id = i + 1;
        r.startUtc = FormatText("%s:%02lld:%02lld.%03dZ", HourText(second / 3600).c_str(),
                                second / 60 % 60, second % 60, i % 1000);
        r.endUtc = r.startUtc;
        r.station = FormatText("line1-pc%02d", 1 + i % 3);
        r.frontEnd = "zembra-cli --station";
        r.port = FormatText("COM%d", 65 + i % 8);
        r.link = "USB";
        r.protocol = "compressed";
        r.succeeded = i % 9 != 0;
        r.outcome = r.succeeded ? "Completed" : reasons[i / 9 % 3];
        r.bytesSent = 4300000;
        r.durationMs = 41200 + (i * 37) % 20000;
        r.images = {{0, "code.bin", 131072, std::string(64, 'a'), 0x8000, 0x27fff, true},
                    {1, "font1_0x400000.bin", 4194304, std::string(64, 'b'), 0x400000, 0x7fffff,
                     r.succeeded}};
    }
    return runs;
}

}  // namespace

int main(int argc, char** argv) {
    int count = 100000;
    std::string keep;
    for (int i = 1; i + 1 < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--count") count = std::atoi(argv[++i]);
        if (a == "--keep") keep = argv[++i];
    }
    const std::vector<DownloadRecord> runs = Runs(count);
    double start = NowMs();
    const std::string html = LineReportHtml(runs, "report_bench", "all runs");
    std::printf("%d runs: report %.1f MB, made in %.3f s\n", count, html.size() / 1e6,
                (NowMs() - start) / 1000);
    test::ScratchDir dir("report-bench");
    const std::string page = keep.empty() ? dir.File("report.html") : keep;
    if (!ReplaceFileDurably(page, html).empty()) {
        std::fprintf(stderr, "report_bench: cannot write %s\n", page.c_str());
        return 1;
    }
    // A profile of its own and nothing fetched, as scripts/line-report-screenshot.sh does.
    const std::string command =
        "chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
        "--disable-background-networking --disable-component-update --disable-sync "
        "--user-data-dir='" +
        dir.File("profile") + "' --window-size=1200,1500 --screenshot='" + dir.File("shot.png") +
        "' 'file://" + page + "' > '" + dir.File("chromium.log") + "' 2>&1";
    start = NowMs();
    const int status = std::system(command.c_str());
    std::printf("Chromium (headless, --screenshot): %.1f s%s\n", (NowMs() - start) / 1000,
                status == 0 ? "" : "  FAILED (is Debian's chromium installed?)");
    return status == 0 ? 0 : 1;
}
