#include "records/LineReport.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>

#include "job/ImageSlot.h"
#include "platform/Helpers.h"
#include "records/RecordTime.h"

namespace zembra {

namespace {

// One station's runs that started in one hour (UTC), or all its runs.
struct StationHour {
    std::string station;
    std::string hour;  // "2026-12-07T11"
    int done = 0;
    int failed = 0;
    std::map<std::string, int> reasons;  // failed runs by outcome
    std::uint64_t bytesSent = 0;
    std::int64_t runMs = 0;  // the runs' durations added up
};

std::string HourOf(const DownloadRecord& r) {
    return r.startUtc.substr(0, 13);
}

// Phones per hour of run time and kB/s on the link of a group of runs.
std::string Throughput(int runs, std::uint64_t bytes, std::int64_t ms) {
    if (ms <= 0) return FormatText("%8s %9s", "-", "-");
    return FormatText("%8.0f %9.1f", runs * 3600000.0 / static_cast<double>(ms),
                      static_cast<double>(bytes) / static_cast<double>(ms));
}

std::string ReasonsText(const std::map<std::string, int>& reasons) {
    std::string text;
    for (const auto& [reason, count] : reasons)
        text += (text.empty() ? "" : ", ") + reason + FormatText(" %d", count);
    return text;
}

// A table line without the blanks an empty last column leaves.
std::string Line(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text + "\n";
}

void Add(StationHour& row, const DownloadRecord& r) {
    r.succeeded ? ++row.done : ++row.failed;
    if (!r.succeeded) ++row.reasons[r.outcome];
    row.bytesSent += r.bytesSent;
    row.runMs += r.durationMs;
}

// The records by station and hour, in that order.
std::vector<StationHour> SummaryByStationHour(const std::vector<DownloadRecord>& records) {
    std::map<std::pair<std::string, std::string>, StationHour> rows;
    for (const DownloadRecord& r : records) {
        StationHour& row = rows[{r.station, HourOf(r)}];
        row.station = r.station;
        row.hour = HourOf(r);
        Add(row, r);
    }
    std::vector<StationHour> out;
    for (auto& [key, row] : rows) out.push_back(std::move(row));
    return out;
}

// A line of the summary: a station's hour, or its total.
std::string SummaryLine(const StationHour& row, const std::string& hour) {
    return Line(FormatText("%-20s %-14s %6d %6d %6d %s  %s", row.station.c_str(), hour.c_str(),
                           row.done + row.failed, row.done, row.failed,
                           Throughput(row.done + row.failed, row.bytesSent, row.runMs).c_str(),
                           ReasonsText(row.reasons).c_str()));
}

// Where a run's phone sat: "slot 3 (1-1.3)", "slot 3", "1-1.3"; empty when the record says
// neither (a single run on a port without a location).
std::string PlaceOf(const DownloadRecord& r) {
    if (r.slot <= 0) return r.location;
    return FormatText("slot %d", r.slot) + (r.location.empty() ? "" : " (" + r.location + ")");
}

// The summary's lines of runs and failures per station, slot and USB port, the places with
// failures first: a bad cable or hub port stands out.
std::string PlacesText(const std::vector<DownloadRecord>& records) {
    std::map<std::pair<std::string, std::string>, std::pair<int, int>> places;  // runs, failed
    for (const DownloadRecord& r : records) {
        const std::string place = PlaceOf(r);
        if (place.empty()) continue;
        auto& [runs, failed] = places[{r.station, place}];
        ++runs;
        failed += r.succeeded ? 0 : 1;
    }
    if (places.empty()) return {};
    std::vector<std::pair<std::pair<std::string, std::string>, std::pair<int, int>>> rows(
        places.begin(), places.end());
    std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
        return a.second.second > b.second.second;
    });
    std::string out =
        FormatText("\n%-20s %-28s %6s %6s\n", "station", "slot (USB port)", "phones", "failed");
    for (const auto& [key, counts] : rows)
        out += FormatText("%-20s %-28s %6d %6d\n", key.first.c_str(), key.second.c_str(),
                          counts.first, counts.second);
    return out;
}

std::string Html(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '"')
            out += "&quot;";
        else
            out += c;
    }
    return out;
}

std::string Seconds(std::int64_t ms) {
    return FormatText("%.1f s", static_cast<double>(ms) / 1000.0);
}

const char* const kColours[] = {"#2f6db5", "#e08a1e", "#3a9a4a", "#b53a3a", "#7b52ab",
                                "#2aa3a3", "#a8793a", "#d45fa6", "#6b6b6b", "#95a821"};

// The periods the runs chart groups runs by: an hour, a day or a number of weeks, the
// shortest that keeps the chart within kMostBars bars.
constexpr long long kMostBars = 60;

struct ChartPeriod {
    long long hours = 1;        // its length
    long long origin = 0;       // where the periods start (hours since 1970): weeks on Mondays
    std::string name = "hour";  // "hour", "day", "week", "4 weeks"

    long long Of(long long hour) const {
        const long long at = hour - origin;
        return at >= 0 ? at / hours : -((-at + hours - 1) / hours);
    }
    long long Start(long long period) const { return origin + period * hours; }
};

ChartPeriod PeriodFor(long long firstHour, long long lastHour) {
    for (ChartPeriod period : {ChartPeriod{1, 0, "hour"}, ChartPeriod{24, 0, "day"}}) {
        if (period.Of(lastHour) - period.Of(firstHour) < kMostBars) return period;
    }
    // 1970-01-01 was a Thursday: Monday 1969-12-29 is 72 hours before it.
    for (long long weeks = 1;; ++weeks) {
        const ChartPeriod period{168 * weeks, -72,
                                 weeks == 1 ? "week" : FormatText("%lld weeks", weeks)};
        if (period.Of(lastHour) - period.Of(firstHour) < kMostBars) return period;
    }
}

// A readable run and the hour it started in.
struct TimedRun {
    const DownloadRecord* run;
    long long hour;
};

// A stacked bar chart of the runs: one bar per period with runs, one coloured part per
// station. period names what a bar stands for.
std::string RunsChart(const std::vector<TimedRun>& runs, ChartPeriod& period) {
    std::set<std::string> stationSet;
    long long first = runs.front().hour, last = first;
    for (const TimedRun& t : runs) {
        stationSet.insert(t.run->station);
        first = std::min(first, t.hour);
        last = std::max(last, t.hour);
    }
    period = PeriodFor(first, last);
    const std::vector<std::string> stations(stationSet.begin(), stationSet.end());
    struct Part {
        int count = 0;
        int failed = 0;
    };
    // period -> station index -> its runs
    std::map<long long, std::map<std::size_t, Part>> bars;
    for (const TimedRun& t : runs) {
        const auto station = static_cast<std::size_t>(
            std::lower_bound(stations.begin(), stations.end(), t.run->station) - stations.begin());
        Part& part = bars[period.Of(t.hour)][station];
        ++part.count;
        if (!t.run->succeeded) ++part.failed;
    }
    int highest = 1;
    for (const auto& [bar, parts] : bars) {
        int total = 0;
        for (const auto& [station, part] : parts) total += part.count;
        highest = std::max(highest, total);
    }
    const int count = static_cast<int>(bars.size());
    const int left = 50, top = 20, plotHeight = 220;
    const int bar = std::max(8, std::min(48, 900 / std::max(1, count)));
    const int width = left + count * (bar + 6) + 20;
    const int legendTop = top + plotHeight + 70;
    const int height = legendTop + 18 * static_cast<int>(stations.size()) + 10;
    std::string svg = FormatText(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" role=\"img\" "
        "aria-label=\"phones per %s per station\">",
        std::max(width, 320), height, period.name.c_str());
    for (int tick = 0; tick <= 4; ++tick) {  // the scale
        const int y = top + plotHeight - plotHeight * tick / 4;
        svg += FormatText(
            "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"#ddd\"/>"
            "<text x=\"%d\" y=\"%d\" text-anchor=\"end\" class=\"axis\">%d</text>",
            left, y, width - 10, y, left - 6, y + 4, (highest * tick + 3) / 4);
    }
    int x = left + 4;
    for (const auto& [number, parts] : bars) {
        const std::string start = HourText(period.Start(number));  // "2026-12-07T11"
        const std::string label = period.hours == 1
                                      ? start.substr(5, 5) + " " + start.substr(11, 2) + "h"
                                  : period.hours == 24 ? start.substr(5, 5)
                                                       : start.substr(0, 10);
        const std::string when =
            period.hours == 1
                ? start.substr(0, 10) + " " + start.substr(11) + ":00 UTC"
                : (period.hours == 24 ? "" : period.name + " from ") + start.substr(0, 10);
        int y = top + plotHeight;
        for (const auto& [station, part] : parts) {
            const int h = plotHeight * part.count / highest;
            y -= h;
            svg += FormatText(
                "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"%s\">"
                "<title>%s %s: %d phones (%d failed)</title></rect>",
                x, y, bar, h, kColours[station % std::size(kColours)],
                Html(stations[station]).c_str(), Html(when).c_str(), part.count, part.failed);
        }
        svg += FormatText(
            "<text x=\"%d\" y=\"%d\" transform=\"rotate(-45 %d %d)\" text-anchor=\"end\" "
            "class=\"axis\">%s</text>",
            x + bar / 2, top + plotHeight + 14, x + bar / 2, top + plotHeight + 14,
            Html(label).c_str());
        x += bar + 6;
    }
    for (std::size_t s = 0; s < stations.size(); ++s) {
        const int y = legendTop + 18 * static_cast<int>(s);
        svg += FormatText(
            "<rect x=\"%d\" y=\"%d\" width=\"12\" height=\"12\" fill=\"%s\"/>"
            "<text x=\"%d\" y=\"%d\">%s</text>",
            left, y, kColours[s % std::size(kColours)], left + 18, y + 11,
            Html(stations[s]).c_str());
    }
    return svg + "</svg>";
}

// Horizontal bars, largest first.
std::string BarChart(const std::map<std::string, int>& counts, const std::string& label,
                     const char* colour) {
    if (counts.empty()) return "<p class=\"none\">none</p>";
    std::vector<std::pair<std::string, int>> items(counts.begin(), counts.end());
    std::stable_sort(items.begin(), items.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    if (items.size() > 20) items.resize(20);
    const int highest = items.front().second;
    for (auto& item : items)  // the label column's width
        if (item.first.size() > 34) {
            std::size_t cut = 32;  // not inside a UTF-8 sequence
            while (cut > 0 && (static_cast<unsigned char>(item.first[cut]) & 0xC0) == 0x80) --cut;
            item.first = item.first.substr(0, cut) + "..";
        }
    const int labelWidth = 230, barWidth = 360, row = 22;
    std::string svg = FormatText(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" role=\"img\" "
        "aria-label=\"%s\">",
        labelWidth + barWidth + 60, row * static_cast<int>(items.size()) + 6, Html(label).c_str());
    for (std::size_t i = 0; i < items.size(); ++i) {
        const int y = 3 + static_cast<int>(i) * row;
        const int w = std::max(2, barWidth * items[i].second / highest);
        svg += FormatText(
            "<text x=\"%d\" y=\"%d\" text-anchor=\"end\">%s</text>"
            "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"%s\"/>"
            "<text x=\"%d\" y=\"%d\">%d</text>",
            labelWidth - 8, y + 14, Html(items[i].first).c_str(), labelWidth, y + 2, w, row - 6,
            colour, labelWidth + w + 6, y + 14, items[i].second);
    }
    return svg + "</svg>";
}

std::string ImagesCell(const DownloadRecord& r) {
    std::string text;
    for (const RecordImage& image : r.images)
        text += (text.empty() ? "" : " ") + std::string(SlotCaption(image.slot)) +
                (image.written ? "" : "(x)");
    return text;
}

std::string RunRow(const DownloadRecord& r) {
    return FormatText(
        "<tr class=\"%s\"><td>%s</td><td>%s</td><td>%s</td><td>%s</td><td>%s %s</td>"
        "<td>%s</td><td>%s</td><td class=\"n\">%s</td><td class=\"n\">%llu</td><td>%s</td>"
        "</tr>\n",
        r.succeeded ? "ok" : "bad", Html(r.startUtc).c_str(), Html(r.station).c_str(),
        Html(r.port).c_str(), Html(PlaceOf(r)).c_str(), Html(r.link).c_str(),
        Html(r.protocol).c_str(), r.succeeded ? "OK" : "FAILED", Html(r.outcome).c_str(),
        Seconds(r.durationMs).c_str(), static_cast<unsigned long long>(r.bytesSent),
        Html(ImagesCell(r)).c_str());
}

constexpr const char* kRunHeader =
    "<tr><th>start (UTC)</th><th>station</th><th>port</th><th>slot (USB port)</th><th>link</th>"
    "<th>result</th><th>outcome</th><th>duration</th><th>bytes</th><th>images</th></tr>\n";

constexpr const char* kStyle = R"(
body { font-family: sans-serif; margin: 24px; color: #222; }
h1 { font-size: 22px; margin-bottom: 4px; }
h2 { font-size: 17px; margin-top: 28px; border-bottom: 1px solid #ccc; }
.meta { color: #555; }
.totals span { display: inline-block; margin-right: 24px; font-size: 18px; }
.charts { display: flex; flex-wrap: wrap; gap: 32px; }
svg { font-size: 12px; }
svg .axis { fill: #555; font-size: 11px; }
table { border-collapse: collapse; font-size: 12px; }
th, td { border: 1px solid #ccc; padding: 2px 6px; text-align: left; }
th { background: #eee; }
td.n { text-align: right; }
tr.bad td { color: #b00; }
.none { color: #777; }
)";

// The runs whose start time can be read, with their hours; unreadable counts the others
// (a row written or changed by hand, a field cut short).
std::vector<TimedRun> ReadableRuns(const std::vector<DownloadRecord>& records,
                                   std::size_t& unreadable) {
    std::vector<TimedRun> runs;
    runs.reserve(records.size());
    for (const DownloadRecord& r : records)
        if (const auto hour = RecordTimeHour(r.startUtc)) runs.push_back({&r, *hour});
    unreadable = records.size() - runs.size();
    return runs;
}

std::string UnreadableText(std::size_t unreadable) {
    return FormatText("%zu record%s could not be read (a start time that is not a time)",
                      unreadable, unreadable == 1 ? "" : "s");
}

// The rows of the table of runs: every run while they are few, else the failed and then
// the slowest, at most kMostRunRows.
constexpr std::size_t kMostRunRows = 1000;

std::vector<const DownloadRecord*> ListedRuns(const std::vector<TimedRun>& runs) {
    std::vector<const DownloadRecord*> listed;
    listed.reserve(runs.size());
    for (const TimedRun& t : runs) listed.push_back(t.run);
    if (listed.size() <= kMostRunRows) return listed;
    const auto first = [](const DownloadRecord* a, const DownloadRecord* b) {
        if (a->succeeded != b->succeeded) return !a->succeeded;
        return a->durationMs > b->durationMs;
    };
    std::partial_sort(listed.begin(), listed.begin() + kMostRunRows, listed.end(), first);
    listed.resize(kMostRunRows);
    return listed;
}

}  // namespace

std::string SummaryText(const std::vector<DownloadRecord>& records) {
    std::size_t unreadable = 0;
    std::vector<DownloadRecord> readable;
    for (const TimedRun& t : ReadableRuns(records, unreadable)) readable.push_back(*t.run);
    std::string out = FormatText("%-20s %-14s %6s %6s %6s %8s %9s  %s\n", "station", "hour (UTC)",
                                 "phones", "done", "failed", "per hour", "kB/s", "failures");
    for (const StationHour& row : SummaryByStationHour(readable))
        out += SummaryLine(row, row.hour.substr(0, 10) + " " + row.hour.substr(11) + "h");
    std::map<std::string, StationHour> totals;
    for (const DownloadRecord& r : readable) {
        totals[r.station].station = r.station;
        Add(totals[r.station], r);
    }
    for (const auto& [station, total] : totals) out += SummaryLine(total, "total");
    out += PlacesText(readable);
    if (unreadable > 0) out += UnreadableText(unreadable) + "\n";
    return out;
}

std::string LineReportHtml(const std::vector<DownloadRecord>& records, const std::string& source,
                           const std::string& period) {
    std::size_t unreadable = 0;
    const std::vector<TimedRun> runs = ReadableRuns(records, unreadable);
    int done = 0, failed = 0;
    std::set<std::string> stations;
    std::map<std::string, int> byReason, byPort, byPlace;
    for (const TimedRun& t : runs) {
        const DownloadRecord& r = *t.run;
        r.succeeded ? ++done : ++failed;
        stations.insert(r.station);
        if (r.succeeded) continue;
        ++byReason[r.outcome];
        ++byPort[r.station + " " + r.port];
        if (const std::string place = PlaceOf(r); !place.empty())
            ++byPlace[r.station + " " + place];
    }
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<title>Zembra line report</title><style>";
    html += kStyle;
    html += "</style></head><body>\n<h1>Zembra line report</h1>\n";
    html += "<p class=\"meta\">" + Html(period) + " &middot; records from " + Html(source) +
            " &middot; made " + Html(UtcNowIso()) + "</p>\n";
    if (unreadable > 0) html += "<p class=\"meta\">" + Html(UnreadableText(unreadable)) + "</p>\n";
    html += FormatText(
        "<p class=\"totals\"><span><b>%zu</b> runs</span><span><b>%d</b> done</span>"
        "<span><b>%d</b> failed</span><span><b>%zu</b> station%s</span></p>\n",
        runs.size(), done, failed, stations.size(), stations.size() == 1 ? "" : "s");
    ChartPeriod chartPeriod;
    const std::string chart = runs.empty() ? "<p class=\"none\">no runs in this period</p>"
                                           : RunsChart(runs, chartPeriod);
    html += "<h2>Phones per " + Html(chartPeriod.name) + " per station</h2>\n" + chart;
    html += "\n<div class=\"charts\"><div><h2>Failures by reason</h2>\n" +
            BarChart(byReason, "failures by reason", "#b53a3a") +
            "</div><div><h2>Failures by port</h2>\n" +
            BarChart(byPort, "failures by port", "#e08a1e") +
            "</div><div><h2>Failures by slot and USB port</h2>\n" +
            BarChart(byPlace, "failures by slot and USB port", "#7a4bb5") + "</div></div>\n";
    std::vector<const DownloadRecord*> slowest;
    for (const TimedRun& t : runs) slowest.push_back(t.run);
    const std::size_t shown = std::min<std::size_t>(10, slowest.size());
    std::partial_sort(slowest.begin(), slowest.begin() + static_cast<std::ptrdiff_t>(shown),
                      slowest.end(), [](auto a, auto b) { return a->durationMs > b->durationMs; });
    slowest.resize(shown);
    html += "<h2>The slowest runs</h2>\n<table>\n";
    html += kRunHeader;
    for (const DownloadRecord* r : slowest) html += RunRow(*r);
    const std::vector<const DownloadRecord*> listed = ListedRuns(runs);
    if (listed.size() == runs.size()) {
        html += "</table>\n<h2>Every run of the period</h2>\n<table>\n";
    } else {
        html += "</table>\n<h2>Runs of the period: the failed and the slowest first</h2>\n";
        html += FormatText(
            "<p class=\"meta\">%zu of the %zu runs are listed; %zu are left out "
            "(zembra-cli records lists every run).</p>\n<table>\n",
            listed.size(), runs.size(), runs.size() - listed.size());
    }
    html += kRunHeader;
    for (const DownloadRecord* r : listed) html += RunRow(*r);
    html += "</table>\n</body></html>\n";
    return html;
}

}  // namespace zembra
