#include "cli/MultiCli.h"

#include <cstdio>

#include "cli/JobFromOptions.h"
#include "cli/MultiMode.h"
#include "cli/Station.h"
#include "platform/Console.h"
#include "platform/Helpers.h"
#include "platform/InterruptCatcher.h"
#include "platform/LoopMainThread.h"
#include "ports/SlotMap.h"
#include "ports/VaCommPorts.h"
#include "protocol/DebugTrace.h"
#include "records/RecordStore.h"
#include "records/RunRecorder.h"

namespace zembra {

std::string MultiHelpText() {
    return R"(
Multi mode (up to eight phones on USB at once):
  zembra-cli --multi --port PORT [--port PORT ...] [job] [settings] [operator options]
  zembra-cli --all-phones [job] [settings] [operator options]
  --multi                the multi download; each --port is one slot (slot 1, 2, ... in
                         the order given; at most eight), a COMn name or a device path
  --all-phones           every phone in the serial-device map: "\Device\trelvic<d>" with
                         d = 0-7 goes to slot d + 1 (implies --multi); with a slot map
                         (zembra-cli slots) the phone at slot k's USB port goes to slot k,
                         and a phone at another port is named and left out
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

namespace {

// The multi download's side of the command line.
MultiModeOptions MultiOptionsOf(const CliOptions& options) {
    MultiModeOptions multi;
    multi.versionCheck = options.versionCheck;
    if (options.staggerMs) multi.timing.staggerMs = *options.staggerMs;
    if (options.startupSleepMs) multi.timing.wakeDelayMs = *options.startupSleepMs;
    return multi;
}

// One multi run of zembra-cli: the job, its records, the ports and the main-thread loop,
// for one download (the slots given) or a station's batches. Made and used on the program's
// main thread, which the loop serves.
class MultiCliSession {
  public:
    MultiCliSession(const CliOptions& options, ConsoleHost& console, DownloadJob& job,
                    const DownloadSettings& settings)
        : options_(options),
          multi_(MultiOptionsOf(options)),
          console_(console),
          job_(job),
          settings_(settings),
          // The recorder's writer thread hands its lines to the loop, which prints them.
          recorder_(
              options.recordsPath,
              [this](const std::string& error) {
                  loop_.Post([this, error] { console_.Error(error); });
              },
              options.stationName),
          vaComm_(trace_, &loop_) {
        SetProcessMainThread(&loop_);
        trace_.SetWriteData(options.traceData);
    }
    ~MultiCliSession() {
        recorder_.Flush();  // nothing more posted to the loop
        loop_.Shutdown();
        SetProcessMainThread(nullptr);
    }

    int Run(const std::array<std::string, MULTI_SLOT_COUNT>& slots) {
        int status = EXIT_OK;
        if (options_.station) {
            const auto print = [this](const std::string& text) { console_.Note(text); };
            const auto warn = [this](const std::string& text) { console_.Error(text); };
            status = RunMultiStation(
                [this](const auto& batch, const auto& tick, const auto& ended,
                       const auto& portFailed) { return RunBatch(batch, tick, ended, portFailed); },
                Interrupted(), print, warn, options_.stationSettleMs, loop_, recorder_.path(),
                options_.recordsServer, BoundOnlyFor(options_.boundOnly));
        } else {
            status = RunBatch(slots, nullptr, nullptr, nullptr);
            FlushRecords();
            PushRecordsAfterRun(recorder_.path(), options_.recordsServer,
                                [this](const std::string& text) { console_.Note(text); });
        }
        FlushRecords();
        return WithRecordStatus(status, recorder_.failed());
    }

  private:
    // Waits for the records still being written and prints their errors.
    void FlushRecords() {
        recorder_.Flush();
        loop_.ProcessPending();
    }

    std::function<bool()> Interrupted() const {
        return [this] { return interrupts_.count() > 0; };
    }

    // One multi download on the given slots, a record per slot as its worker ends.
    int RunBatch(const std::array<std::string, MULTI_SLOT_COUNT>& batch,
                 const std::function<void()>& tick,
                 const std::function<void(const MultiSlotSummary&)>& ended,
                 const std::function<void(int)>& portFailed) {
        // The files as the records hash them are the files the workers must send.
        const ImageVersions versions = ImageVersionsOf(job_);
        recorder_.SetJob(job_,
                         options_.station ? "zembra-cli --multi --station" : "zembra-cli --multi",
                         &versions);
        MultiRunHooks hooks;
        hooks.events = &recorder_;
        hooks.tick = tick;
        // The trace begins once the first batch's ports are open, before its first packet.
        hooks.started = [this] {
            if (traceStarted_) return;
            traceStarted_ = true;
            StartCliTrace(trace_, options_.traceFile, console_);
        };
        // The records begin and end with the slots' runs (a port that did not open ends its
        // slot's run at once).
        hooks.slotEnded = ended;
        hooks.portFailed = portFailed;
        return RunMultiDownload(
            job_, settings_, versions, multi_, batch, loop_, vaComm_,
            [this](MultiDownload* download) {
                vaComm_.SetTraceOrigin(download ? download->downloadStartMsSource() : nullptr);
            },
            Interrupted(), console_, hooks);
    }

    const CliOptions& options_;
    const MultiModeOptions multi_;
    ConsoleHost& console_;
    DownloadJob& job_;  // the Start refreshes its file times
    const DownloadSettings& settings_;
    RunRecorder recorder_;
    LoopMainThread loop_;
    DebugTrace trace_;
    VaCommPorts vaComm_;
    InterruptCatcher interrupts_;
    bool traceStarted_ = false;
};

// The slots of a run that is not a station's: the --port list or the map's phones. EXIT_OK,
// or the status to end with (the reason printed).
int SlotsToRun(const CliOptions& options, ConsoleHost& console,
               std::array<std::string, MULTI_SLOT_COUNT>& slots) {
    if (options.station) {
        // The station takes the slots from the map as phones arrive.
        if (!SerialDeviceMapProblem().empty()) {
            console.AppendLine(LogPane::Front,
                               "station: the serial-device map cannot be read (" +
                                   SerialDeviceMapDescription() + ")",
                               COLOUR_RED);
            return EXIT_PORT_OPEN;
        }
    } else if (options.allPhones) {
        const PhoneMap phones = ReadPhoneMap(false);
        if (!phones.map) {
            console.Error("the serial-device map cannot be read (" + SerialDeviceMapDescription() +
                          ")");
            return EXIT_PORT_OPEN;
        }
        if (!phones.slotMapError.empty()) {
            console.Error(phones.slotMapError);
            return EXIT_PORT_OPEN;
        }
        for (const LocatedPhone& phone : phones.unbound)
            console.AppendLine(LogPane::Front, UnboundPhoneText(phone), COLOUR_RED);
        slots = SlotsFromDeviceMap(*phones.map);
    } else {
        std::string error;
        const auto listed = SlotsFromPortList(options.ports, &error);
        if (!listed) {
            PrintText(stderr, "zembra-cli: %s\n", error.c_str());
            return EXIT_USAGE;
        }
        slots = *listed;
    }
    return EXIT_OK;
}

}  // namespace

int RunMultiCli(const CliOptions& options, ConsoleHost& console) {
    std::array<std::string, MULTI_SLOT_COUNT> slots;
    if (const int status = SlotsToRun(options, console, slots); status != EXIT_OK) return status;
    DownloadJob job;
    DownloadSettings settings;
    // The Start itself runs the multi job checks.
    if (!BuildJobFromOptions(options, Link::Usb, job, settings, console) ||
        !PreFlightAccepted(job, console))
        return EXIT_JOB_REFUSED;
    return MultiCliSession(options, console, job, settings).Run(slots);
}

}  // namespace zembra
