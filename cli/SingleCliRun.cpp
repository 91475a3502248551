#include "cli/SingleCliRun.h"

#include <chrono>
#include <thread>

#include "cli/JobFromOptions.h"
#include "cli/Station.h"
#include "job/JobCheck.h"
#include "job/StartSnapshot.h"
#include "platform/Helpers.h"

namespace zembra {

int ExitStatusOf(RunOutcome outcome) {
    switch (outcome) {
        case RunOutcome::Completed:
            return EXIT_OK;
        case RunOutcome::NoStartAnswer:
            return EXIT_NO_ANSWER;
        case RunOutcome::VersionRefused:
            return EXIT_VERSION;
        case RunOutcome::CompressionFailed:
            return EXIT_COMPRESSION;
        case RunOutcome::UartSetupFailed:
            return EXIT_UART_SETUP;
        case RunOutcome::JumpFailed:
            return EXIT_JUMP;
        case RunOutcome::ImageFileProblem:
        case RunOutcome::ImageSkipped:
            return EXIT_IMAGE_FILE;
        case RunOutcome::EraseFailed:
            return EXIT_ERASE;
        case RunOutcome::TransferFailed:
            return EXIT_TRANSFER;
        case RunOutcome::FileReadError:
            return EXIT_FILE_CHANGED;
        case RunOutcome::Stopped:
            return EXIT_STOPPED;
        case RunOutcome::ResetRefused:
            return EXIT_RESET_REFUSED;
        case RunOutcome::None:
            break;
    }
    return EXIT_INTERNAL;
}

namespace {

constexpr auto kMapPollInterval = std::chrono::milliseconds(100);

// "--port auto": the detected port, waiting up to waitSeconds for a phone to appear (the map
// is read every 100 ms). note() gets one line saying that it waits and for how long.
// Empty when no phone came in time or interrupted() turned true.
std::string WaitForPhonePort(int waitSeconds, const std::function<bool()>& interrupted,
                             const std::function<void(const std::string&)>& note) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds);
    bool noted = false;
    for (;;) {
        if (!SerialDeviceMapProblem().empty()) return {};  // refused: no phone will show up
        if (const auto map = ReadSerialDeviceMap()) {
            const std::string port = LowestDevicePort(*map);
            if (!port.empty()) return port;
        }
        if (interrupted() || std::chrono::steady_clock::now() >= deadline) return {};
        if (!noted) {
            note(
                FormatText("no phone in the serial-device map yet: waiting up to %d s for one "
                           "(Ctrl-C ends)",
                           waitSeconds));
            noted = true;
        }
        std::this_thread::sleep_for(kMapPollInterval);
    }
}

// Builds the job from the options: the configuration file (if any), the image files (with the
// file selection checks of the window), the font addresses, the settings, the snapshot and
// the Start checks, with their log lines, error boxes and the override question on host.
CliJob BuildCliJob(const CliOptions& options, ConsoleHost& host) {
    CliJob out;
    DownloadJob& job = out.job;
    DownloadSettings& settings = out.settings;

    out.link = options.link.value_or(Link::Usb);
    if (!BuildJobFromOptions(options, out.link, job, settings, host)) {
        out.exitStatus = EXIT_JOB_REFUSED;
        return out;
    }

    // The Start snapshot and checks.
    const StartSnapshotResult snapshot =
        TakeStartSnapshot(job, settings, out.link, StartKind::Single);
    if (!snapshot.ok()) {
        host.Error(FormatText("%s (%s): %s", snapshot.error->label.c_str(),
                              snapshot.error->field.c_str(), snapshot.error->message.c_str()));
        out.exitStatus = EXIT_JOB_REFUSED;
        return out;
    }
    host.AppendLine(LogPane::Front, "생성된 날짜를 갱신합니다", COLOUR_BLACK);
    const JobCheckResult check = CheckJob(job, snapshot.snapshot, settings, StartKind::Single);
    if (!check.codes.empty() && !host.AcceptJob(job, check, StartKind::Single)) {
        out.exitStatus = EXIT_JOB_REFUSED;
        return out;
    }

    out.run = RunOfJob(job, snapshot.snapshot);
    return out;
}

}  // namespace

// One phone's run on the engine of a single session, with its record.
SinglePhoneResult SingleSession::RunPhone(const std::string& port, const std::string& frontEnd,
                                          const std::function<void()>& tick) {
    SinglePhoneResult result;
    host.ResetForRun();
    recorder.SetJob(cliJob.job, frontEnd, &cliJob.run.versions);
    using Clock = std::chrono::steady_clock;
    const auto began = Clock::now();
    const SingleEngine::StartResult started = engine->Start(cliJob.run, port);
    if (started != SingleEngine::StartResult::Started) {
        if (!engine->lastPortError().empty()) host.Error(engine->lastPortError());
        result.status = EXIT_PORT_OPEN;
    } else {
        if (!traceStarted) {
            // The port is open and nothing has been written yet: the trace begins here (once
            // per session, so that a station's trace keeps every phone).
            traceStarted = true;
            StartCliTrace(trace, options.traceFile, host);
        }
        auto nextTick = Clock::now() + std::chrono::milliseconds(1000);
        while (!host.controlsGivenBack()) {
            loop.RunUntil([&] { return host.controlsGivenBack(); }, std::chrono::milliseconds(50));
            if (tick) tick();
            if (interrupts.count() != interruptsSeen) {
                interruptsSeen = interrupts.count();
                engine->RequestStop();
                display.Line(MULTI_DOWNLOAD_LINES, STOP_CABLE_NOTICE, COLOUR_RED);
            }
            if (Clock::now() >= nextTick) {
                // The status tick: the operator question, then the elapsed time.
                nextTick += std::chrono::milliseconds(1000);
                ask.Serve([this](const std::string& text, const std::string& caption, int style) {
                    return host.AskOperator(text, caption, style);
                });
                host.SetElapsed(engine->shared().downloadRunning.load()
                                    ? ElapsedText(NowMs(), engine->shared().downloadStartMs)
                                    : std::string());
            }
        }
        result.outcome = engine->shared().lastOutcome.load();
        result.status = ExitStatusOf(result.outcome);
        // Let the worker clear downloadEnabled and suspend before it goes away.
        const auto idleDeadline = Clock::now() + std::chrono::seconds(2);
        while (!engine->Idle() && Clock::now() < idleDeadline)
            loop.RunUntil([&] { return engine->Idle(); }, std::chrono::milliseconds(1));
    }
    // One last look at the phone before its end is counted: a phone that went away during
    // the run must count as unplugged even if it comes back at once.
    if (tick) tick();
    result.durationMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - began).count();
    // The run is over (its end has handed its record to the writer): the record is written
    // before the next phone (or the end), and its error lines printed here.
    recorder.Flush();
    loop.ProcessPending();
    return result;
}

SingleSession::SingleSession(const CliOptions& options, ConsoleHost& host, const CliJob& cliJob,
                             const InterruptCatcher& interrupts)
    : options(options),
      host(host),
      cliJob(cliJob),
      interrupts(interrupts),
      // The recorder's writer thread hands its lines to the loop, which prints them.
      recorder(
          options.recordsPath,
          [this](const std::string& error) {
              loop.Post([this, error] { this->host.Error(error); });
          },
          options.stationName),
      display(loop, host),
      vaComm(trace, &loop) {
    SetProcessMainThread(&loop);
    EngineTimings timings;
    if (options.startupSleepMs) timings.startupSleepMs = *options.startupSleepMs;
    engine = std::make_unique<SingleEngine>(vaComm, trace, loop, ask, timings);
    engine->SetRunEvents(&events);
    vaComm.SetTraceOrigin(&engine->shared().downloadStartMs);
}

SingleSession::~SingleSession() {
    recorder.Flush();  // nothing more posted to the loop
    ask.Shutdown();
    loop.Shutdown();
    engine.reset();
    SetProcessMainThread(nullptr);
}

int RunSingleCli(const CliOptions& options, ConsoleHost& host) {
    CliJob cliJob = BuildCliJob(options, host);
    if (cliJob.exitStatus != EXIT_OK) return cliJob.exitStatus;
    if (!PreFlightAccepted(cliJob.job, host)) return EXIT_JOB_REFUSED;

    const InterruptCatcher interrupts;
    SingleSession session(options, host, cliJob, interrupts);
    session.trace.SetWriteData(options.traceData);
    if (options.station && !SerialDeviceMapProblem().empty()) {
        host.Error("station: the serial-device map cannot be read (" +
                   SerialDeviceMapDescription() + ")");
        return EXIT_PORT_OPEN;
    }
    std::string port = options.station ? std::string() : options.ports.front();
    if (port == "auto") {
        port = WaitForPhonePort(
            options.waitForPhoneSec, [&] { return interrupts.count() > 0; },
            [&](const std::string& text) { host.Note(text); });
        if (port.empty()) {
            host.Error(interrupts.count() > 0 ? "stopped while waiting for a phone"
                                              : "--port auto: no phone in the serial-device map (" +
                                                    SerialDeviceMapDescription() + ")");
            return interrupts.count() > 0 ? EXIT_STOPPED : EXIT_PORT_OPEN;
        }
        host.Note("--port auto: " + port);
    }
    int status = EXIT_OK;
    if (options.station) {
        status = RunSingleStation(session);
    } else {
        status = session.RunPhone(port, "zembra-cli").status;
        PushRecordsAfterRun(session.recorder.path(), options.recordsServer,
                            [&host](const std::string& text) { host.Note(text); });
    }
    return WithRecordStatus(status, session.recorder.failed());
}

}  // namespace zembra
