#include "cli/multi_cli.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "cli/CliOptions.h"
#include "cli/CliTrace.h"
#include "cli/ConsoleHost.h"
#include "cli/InterruptCatcher.h"
#include "cli/JobFromOptions.h"
#include "cli/LineStation.h"
#include "cli/PreFlight.h"
#include "cli/Station.h"
#include "cli/multi_mode.h"
#include "job/StartSnapshot.h"
#include "platform/Helpers.h"
#include "platform/LoopMainThread.h"
#include "ports/VaCommPorts.h"
#include "protocol/DebugTrace.h"
#include "records/RunRecorder.h"

namespace zembra {

namespace {

// A placeholder for the single mode's one required --port while the multi options are
// parsed with the single mode's parser.
constexpr char kPortPlaceholder[] = "multi";

struct MultiCommandLine {
    CliOptions options;
    MultiModeOptions multi;
    std::string error;
};

bool TakesValue(const std::string& name) {
    return name == "--port" || name == "--stagger";
}

MultiCommandLine ParseMultiCommandLine(const std::vector<std::string>& args) {
    MultiCommandLine out;
    std::vector<std::string> rest;
    std::vector<std::string> ports;
    for (std::size_t i = 0; i < args.size(); ++i) {
        auto [name, value] = SplitOptionWord(args[i]);
        if (name == "--multi") continue;
        if (name == "--all-phones") {
            out.multi.fromDeviceMap = true;
            continue;
        }
        if (name == "--no-version-check") {
            out.multi.versionCheck = false;
            continue;
        }
        if (TakesValue(name)) {
            if (!value) {
                if (i + 1 >= args.size()) {
                    out.error = name + " needs a value";
                    return out;
                }
                value = args[++i];
            }
            if (name == "--port") {
                if (value->empty()) {
                    out.error = "--port needs a port name or a device path";
                    return out;
                }
                ports.push_back(*value);
            } else {
                const std::optional<std::int32_t> ms = StrictDecimal(*value);
                if (!ms || *ms < 0 || *ms > 60000) {
                    out.error = "--stagger takes milliseconds (0-60000)";
                    return out;
                }
                out.multi.timing.staggerMs = *ms;
            }
            continue;
        }
        rest.push_back(args[i]);
    }
    if (std::find(rest.begin(), rest.end(), "--station") == rest.end()) {
        rest.push_back("--port");
        rest.push_back(kPortPlaceholder);
    }
    const CliParseResult parsed = ParseCliOptions(rest);
    if (!parsed.ok()) {
        out.error = parsed.error;
        return out;
    }
    out.options = parsed.options;
    out.options.ports = ports;
    if (out.options.help || out.options.version) return out;
    if (out.options.link == Link::Serial) {
        out.error = "the multi download runs on the USB link only";
    } else if (out.multi.fromDeviceMap && !ports.empty()) {
        out.error = "--all-phones and --port exclude each other";
    } else if (out.options.station && (out.multi.fromDeviceMap || !ports.empty())) {
        out.error =
            "--station takes the phones from the serial-device map, not --port or --all-phones";
    } else if (!out.options.station && !out.multi.fromDeviceMap && ports.empty()) {
        out.error = "multi mode needs --port (up to eight) or --all-phones";
    }
    return out;
}

}  // namespace

bool IsMultiCommandLine(const std::vector<std::string>& args) {
    for (const auto& arg : args)
        if (arg == "--multi" || arg == "--all-phones") return true;
    return false;
}

std::string MultiHelpText() {
    return R"(
Multi mode (up to eight phones on USB at once):
  zembra-cli --multi --port PORT [--port PORT ...] [job] [settings] [operator options]
  zembra-cli --all-phones [job] [settings] [operator options]
  --multi                the multi download; each --port is one slot (slot 1, 2, ... in
                         the order given; at most eight), a COMn name or a device path
  --all-phones           every phone in the serial-device map: "\Device\trelvic<d>" with
                         d = 0-7 goes to slot d + 1 (implies --multi)
  --no-version-check     a phone that refuses the code image's version still gets the
                         images (the window's "버전검사" unticked)
  --stagger MS           delay between two slots' first packets (200)
  --startup-delay MS     the workers' wake-up delay (700)
  The link is always USB; --protocol auto|compressed|normal applies to every phone.
  Each slot logs its lines with its port name in front; a status line per slot shows its
  gauge and stage; at the end a table gives each slot's port, endCode, its meaning and the
  elapsed time. Ctrl-C, SIGTERM, a hang-up or a closed output stop every phone (a third
  Ctrl-C quits at once with status 130).
Exit status (multi mode):
   0  every slot ended with endCode 1 (all images written, reset jump sent)
   2  bad command line
   3  the job was refused (settings, image files, job checks)
   4  a port could not be opened, or no phone / no port was named
  14  stopped by the operator (no slot failed)
  15  at least one slot failed (endCode 2-9; see the table), or with --station at least
      one phone failed
  16  every slot written, but a download record could not be written
  19  all went well, but the log could not be written to the standard output
 130  a third Ctrl-C quit at once, without waiting for the phones
)";
}

int RunMultiCli(const std::vector<std::string>& args) {
    MultiCommandLine line = ParseMultiCommandLine(args);
    if (!line.error.empty()) {
        std::fprintf(stderr, "zembra-cli: %s\n", line.error.c_str());
        return MULTI_EXIT_USAGE;
    }
    if (line.options.help) {
        std::fputs(CliHelpText().c_str(), stdout);
        std::fputs(MultiHelpText().c_str(), stdout);
        return MULTI_EXIT_ALL_WRITTEN;
    }
    std::FILE* out = stdout;
    const bool tty = ::isatty(::fileno(out)) != 0;
    MultiModeOptions& multi = line.multi;
    multi.color = line.options.colour == ColourMode::Always ||
                  (line.options.colour == ColourMode::Auto && tty);
    multi.liveStatus = tty && !line.options.quiet;
    multi.answer = line.options.answer == AnswerMode::Yes  ? MultiAnswer::Yes
                   : line.options.answer == AnswerMode::No ? MultiAnswer::No
                                                           : MultiAnswer::Ask;
    if (line.options.startupSleepMs) multi.timing.wakeDelayMs = *line.options.startupSleepMs;

    // The program's own lines carry its name, as in single mode; the engines' lines do not.
    const auto own = [&](const std::string& text, std::uint32_t colour) {
        PrintLine(out, "zembra-cli: " + text, colour, multi.color);
    };
    std::array<std::string, MULTI_SLOT_COUNT> slots;
    if (line.options.station) {
        // The station takes the slots from the map as phones arrive.
        if (!SerialDeviceMapProblem().empty()) {
            PrintLine(out,
                      "station: the serial-device map cannot be read (" +
                          SerialDeviceMapDescription() + ")",
                      COLOUR_RED, multi.color);
            return MULTI_EXIT_PORT_FAILED;
        }
    } else if (multi.fromDeviceMap) {
        const auto map = ReadSerialDeviceMap();
        if (!map) {
            own("the serial-device map cannot be read (" + SerialDeviceMapDescription() + ")",
                COLOUR_RED);
            return MULTI_EXIT_PORT_FAILED;
        }
        slots = SlotsFromDeviceMap(*map);
    } else {
        std::string error;
        const auto listed = SlotsFromPortList(line.options.ports, &error);
        if (!listed) {
            std::fprintf(stderr, "zembra-cli: %s\n", error.c_str());
            return MULTI_EXIT_USAGE;
        }
        slots = *listed;
    }

    DownloadJob job;
    DownloadSettings settings;
    // The Start itself runs the multi job checks.
    const JobBuildOutput output{[&](const std::string& text, std::uint32_t colour) {
                                    PrintLine(out, text, colour, multi.color);
                                },
                                [&](const std::string& text) { own(text, COLOUR_RED); }};
    if (!BuildJobFromOptions(line.options, Link::Usb, job, settings, output))
        return MULTI_EXIT_REFUSED;

    ConsoleHost console(line.options, ConsoleHost::Streams{out, stderr, stdin});
    if (!PreFlightAccepted(job, console)) return MULTI_EXIT_REFUSED;

    RunRecorder recorder(line.options.recordsPath,
                         [&](const std::string& error) { own(error, COLOUR_RED); });
    const std::string frontEnd =
        line.options.station ? "zembra-cli --multi --station" : "zembra-cli --multi";
    const LinkProtocolCode configuredMode = MakeLinkProtocolCode(Link::Usb, settings);

    LoopMainThread loop;
    SetProcessMainThread(&loop);
    int status = MULTI_EXIT_ALL_WRITTEN;
    {
        DebugTrace trace;
        trace.SetWriteData(line.options.traceData);
        VaCommPorts vaComm(trace, &loop);

        bool traceStarted = false;
        const InterruptCatcher interrupts;
        const auto interrupted = [&interrupts] { return interrupts.count() > 0; };
        // One multi download on the given slots, a record per slot as its worker ends.
        const auto runBatch = [&](const std::array<std::string, MULTI_SLOT_COUNT>& batch,
                                  const std::function<void()>& tick,
                                  const std::function<void(const MultiSlotEnd&)>& ended,
                                  const std::function<void(int)>& portFailed) {
            std::array<RunRecorder::Pending, MULTI_SLOT_COUNT> pending;
            // The files as the records hash them are the files the workers must send.
            const ImageVersions versions = ImageVersionsOf(job);
            const std::vector<RecordImage> images = RecordImagesOf(job, &versions);
            for (int slot = 0; slot < MULTI_SLOT_COUNT; ++slot) {
                const auto s = static_cast<std::size_t>(slot);
                if (batch[s].empty()) continue;
                pending[s] = recorder.Begin(job, frontEnd, batch[s], slot + 1, Link::Usb, &images);
            }
            MultiRunHooks hooks;
            hooks.tick = tick;
            // The trace begins once the first batch's ports are open, before its first packet.
            hooks.started = [&] {
                if (traceStarted) return;
                traceStarted = true;
                StartCliTrace(trace, line.options.traceFile,
                              [&](const std::string& text) { own(text, COLOUR_RED); });
            };
            hooks.slotEnded = [&](const MultiSlotEnd& end) {
                const auto s = static_cast<std::size_t>(end.slot);
                if (ended) ended(end);  // the station's look at the map comes before the record
                recorder.Finish(pending[s], configuredMode);
            };
            hooks.portFailed = [&](int slot) {
                const auto s = static_cast<std::size_t>(slot);
                if (portFailed) portFailed(slot);
                recorder.Finish(pending[s], configuredMode, 0);
            };
            return RunMultiDownload(
                job, settings, versions, multi, batch, loop, vaComm,
                [&](MultiDownload* download) {
                    vaComm.BindMulti(download);
                    if (download) download->SetRunEvents(&recorder);
                    vaComm.SetTraceOrigin(download ? download->downloadStartMsSource() : nullptr);
                },
                interrupted, out, hooks);
        };
        if (line.options.station) {
            const auto print = [&](const std::string& text) { own(text, COLOUR_BLACK); };
            StationLineSender lineSender(recorder.path(), line.options.recordsServer, print);
            status = RunMultiStation(runBatch, interrupted, print, line.options.stationSettleMs,
                                     loop, &lineSender);
        } else {
            status = runBatch(slots, nullptr, nullptr, nullptr);
        }
        loop.Shutdown();
    }
    status = WithRecordStatus(status, recorder.failed());
    SetProcessMainThread(nullptr);
    return status;
}

}  // namespace zembra
