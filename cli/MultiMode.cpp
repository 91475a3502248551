#include "cli/MultiMode.h"

#include <algorithm>
#include <chrono>
#include <set>

#include "cli/ConsoleHost.h"
#include "job/JobCheck.h"
#include "platform/Console.h"
#include "platform/Helpers.h"
#include "platform/LoopMainThread.h"
#include "protocol/RunDisplay.h"

namespace zembra {

namespace {

constexpr int kGaugeWidth = 20;

// Display width of a UTF-8 text: Hangul and other wide characters count two columns.
int DisplayWidth(const std::string& text) {
    int width = 0;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        int length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : 4;
        width += length >= 3 ? 2 : 1;
        i += static_cast<std::size_t>(length);
    }
    return width;
}

std::string PadRight(const std::string& text, int width) {
    const int pad = width - DisplayWidth(text);
    return pad > 0 ? text + std::string(static_cast<std::size_t>(pad), ' ') : text;
}

// A slot's end as its worker left it (the slot has a worker).
MultiSlotSummary SlotSummaryOf(const MultiDownload& multi, int slot) {
    const MultiSingleBoxDLU* w = multi.worker(slot);
    MultiSlotSummary end;
    end.slot = slot;
    end.portName = multi.slotPortNames()[static_cast<std::size_t>(slot)];
    end.endCode = w->endCode();
    if (w->startMs() > 0 && w->endMs() >= w->startMs()) end.elapsedMs = w->endMs() - w->startMs();
    return end;
}

std::string ElapsedText(long long ms) {
    if (ms < 0) return "-";
    return FormatText("%02lld:%02lld.%03lld", ms / 60000, (ms / 1000) % 60, ms % 1000);
}

// One status line of a slot: "슬롯1 COM65    [#########-----------]  45% 폰트1 다운로드".
std::string SlotStatusLine(int slot, const std::string& portName, const MultiSlotView& view) {
    const int filled = std::clamp(view.percent, 0, 100) * kGaugeWidth / 100;
    std::string gauge(static_cast<std::size_t>(filled), '#');
    gauge.append(static_cast<std::size_t>(kGaugeWidth - filled), '-');
    std::string text = view.statusText;
    if (view.active && view.endCode == 0 && view.percent == 0 && view.currentImage == 0 &&
        view.erasing == 0)
        text = "준비 중";  // before the first image: start request, version, mode
    return FormatText("슬롯%d %s [%s] %3d%% %s", slot + 1, PadRight(portName, 12).c_str(),
                      gauge.c_str(), view.percent, text.c_str());
}

std::string SummaryTable(const std::vector<MultiSlotSummary>& rows) {
    std::string table = PadRight("슬롯", 6) + PadRight("포트", 16) + PadRight("endCode", 9) +
                        PadRight("결과", 26) + "소요 시간\n";
    for (const auto& row : rows) {
        table += PadRight(FormatText("%d", row.slot + 1), 6) + PadRight(row.portName, 16) +
                 PadRight(FormatText("%d", row.endCode), 9) +
                 PadRight(EndCodeMeaning(row.endCode), 26) + ElapsedText(row.elapsedMs) + "\n";
    }
    return table;
}

// One multi download on the console, from its Start to its summary table. The slots' lines
// carry their port names; the caller's observer (the records) sees each event first. Both
// outlive the multi download, whose end waits for the workers.
class ConsoleMultiRun {
  public:
    ConsoleMultiRun(LoopMainThread& loop, MultiPortOps& ports, const MultiModeOptions& options,
                    ConsoleHost& console, const MultiRunHooks& hooks)
        : loop_(loop),
          console_(console),
          hooks_(hooks),
          display_(loop, console,
                   [this](int slot) {
                       return multi_.slotPortNames()[static_cast<std::size_t>(slot - 1)];
                   }),
          events_{hooks.events ? hooks.events : &NoRunEvents(), &display_},
          multi_(loop, ports, console, options.timing) {
        multi_.SetRunEvents(&events_);
        console_.SetSlotEnded([this](int slot) { ReportSlotEnd(slot); });
    }
    ~ConsoleMultiRun() { console_.SetSlotEnded(nullptr); }

    MultiDownload& multi() { return multi_; }

    // The Start: EXIT_OK when the workers run, else the exit status.
    int Start(DownloadJob& job, const MultiStartRequest& request) {
        const MultiStartOutcome outcome = multi_.Start(job, request);
        if (outcome == MultiStartOutcome::SettingsError) {
            const ConversionError& error = *multi_.conversionError();
            console_.AppendLine(LogPane::Multi,
                                FormatText("%s %s: %s", error.label.c_str(), error.text.c_str(),
                                           error.message.c_str()),
                                COLOUR_RED);
        }
        switch (outcome) {
            case MultiStartOutcome::Started:
                if (hooks_.started) hooks_.started();
                return EXIT_OK;
            case MultiStartOutcome::PortFailed:
                if (hooks_.portFailed)
                    for (int slot = 0; slot < MULTI_SLOT_COUNT; ++slot)
                        if (multi_.portFailedSlots()[static_cast<std::size_t>(slot)])
                            hooks_.portFailed(slot);
                return EXIT_PORT_OPEN;
            case MultiStartOutcome::NoDevice:
                return EXIT_PORT_OPEN;
            default:
                return EXIT_JOB_REFUSED;
        }
    }

    // Serves the main thread until every worker has ended: the status lines, the Stop on an
    // interrupt (interrupted() turning true).
    void Follow(const std::array<std::string, MULTI_SLOT_COUNT>& slots,
                const std::function<bool()>& interrupted) {
        std::vector<std::string> lastText(MULTI_SLOT_COUNT);
        bool stopSent = false;
        for (;;) {
            loop_.RunUntil(
                [&] { return (interrupted() && !stopSent) || !multi_.AnyWorkerActive(); },
                std::chrono::milliseconds(200));
            if (interrupted() && !stopSent) {
                multi_.Stop();
                stopSent = true;
            }
            const MultiTickResult tick = multi_.Tick();
            if (hooks_.tick) hooks_.tick();
            // The slots as their events left them, drawn at this loop's pace.
            std::vector<std::string> lines;
            for (int slot = 0; slot < MULTI_SLOT_COUNT; ++slot) {
                const std::string& name = slots[static_cast<std::size_t>(slot)];
                const MultiSlotView view = display_.SlotView(slot);
                if (name.empty() || !view.hasWorker) continue;
                lines.push_back(SlotStatusLine(slot, name, view));
                // Without a terminal a slot's line is printed when its stage changes.
                std::string& last = lastText[static_cast<std::size_t>(slot)];
                if (!console_.liveStatus() && view.statusText != last) {
                    last = view.statusText;
                    console_.AppendLine(LogPane::Multi, lines.back(), COLOUR_BLACK);
                }
            }
            if (tick.ended) break;
            console_.SetStatus(std::move(lines));
        }
        console_.DropStatus();
    }

    // The table of the named slots' ends, and the exit status.
    int Summary(const std::array<std::string, MULTI_SLOT_COUNT>& slots) {
        std::vector<MultiSlotSummary> rows;
        for (int slot = 0; slot < MULTI_SLOT_COUNT; ++slot)
            if (!slots[static_cast<std::size_t>(slot)].empty() && multi_.worker(slot))
                rows.push_back(SlotSummaryOf(multi_, slot));
        PrintText(console_.logStream(), "\n%s", SummaryTable(rows).c_str());
        std::fflush(console_.logStream());
        return MultiExitStatus(rows);
    }

  private:
    // A slot's end, as the display has it from the slot's RunFinished (before its worker
    // is idle again, so every named slot's end comes before the summary).
    void ReportSlotEnd(int slot) {
        if (hooks_.slotEnded && multi_.worker(slot)) hooks_.slotEnded(SlotSummaryOf(multi_, slot));
    }

    LoopMainThread& loop_;
    ConsoleHost& console_;
    const MultiRunHooks& hooks_;
    RunDisplay display_;
    RunEventsFan events_;
    MultiDownload multi_;
};

}  // namespace

std::optional<std::array<std::string, MULTI_SLOT_COUNT>> SlotsFromPortList(
    const std::vector<std::string>& ports, std::string* error) {
    std::array<std::string, MULTI_SLOT_COUNT> slots;
    if (ports.size() > static_cast<std::size_t>(MULTI_SLOT_COUNT)) {
        if (error)
            *error = FormatText("at most %d ports (got %zu)", MULTI_SLOT_COUNT, ports.size());
        return std::nullopt;
    }
    std::set<std::string> seen;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        if (ports[i].empty()) {
            if (error) *error = "empty port name";
            return std::nullopt;
        }
        if (!seen.insert(ports[i]).second) {
            if (error) *error = "port named twice: " + ports[i];
            return std::nullopt;
        }
        slots[i] = ports[i];
    }
    return slots;
}

std::array<std::string, MULTI_SLOT_COUNT> SlotsFromDeviceMap(
    const std::vector<SerialMapEntry>& entries) {
    std::array<std::string, MULTI_SLOT_COUNT> slots;
    for (int d = 0; d < MULTI_SLOT_COUNT; ++d)
        slots[static_cast<std::size_t>(d)] = PortOfDevice(entries, d);
    return slots;
}

int MultiExitStatus(const std::vector<MultiSlotSummary>& rows) {
    if (rows.empty()) return EXIT_PORT_OPEN;
    bool stopped = false;
    bool failed = false;
    for (const auto& row : rows) {
        if (row.endCode == END_STOPPED)
            stopped = true;
        else if (row.endCode != END_FINISHED)
            failed = true;
    }
    if (failed) return EXIT_PHONE_FAILED;
    if (stopped) return EXIT_STOPPED;
    return EXIT_OK;
}

int RunMultiDownload(DownloadJob& job, const DownloadSettings& settings,
                     const ImageVersions& versions, const MultiModeOptions& options,
                     const std::array<std::string, MULTI_SLOT_COUNT>& slots, LoopMainThread& loop,
                     MultiPortOps& ports, const std::function<void(MultiDownload*)>& attach,
                     const std::function<bool()>& interrupted, ConsoleHost& console,
                     const MultiRunHooks& hooks) {
    ConsoleMultiRun run(loop, ports, options, console, hooks);
    attach(&run.multi());
    MultiStartRequest request;
    request.settings = settings;
    request.versionCheck = options.versionCheck;
    request.slotPortNames = slots;
    request.versions = versions;
    int status = run.Start(job, request);
    if (status == EXIT_OK) {
        run.Follow(slots, interrupted);
        status = run.Summary(slots);
    }
    attach(nullptr);
    return status;
}

}  // namespace zembra
