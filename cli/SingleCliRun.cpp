#include "cli/SingleCliRun.h"

#include <atomic>
#include <chrono>
#include <cstdio>

#include "cli/CliTrace.h"
#include "cli/InterruptCatcher.h"
#include "cli/JobFromOptions.h"
#include "job/JobCheck.h"
#include "job/StartSnapshot.h"
#include "platform/Helpers.h"
#include "platform/LoopMainThread.h"
#include "ports/VaCommPorts.h"
#include "protocol/AskOperator.h"
#include "protocol/DebugTrace.h"
#include "protocol/SingleEngine.h"

namespace zembra {

namespace {

constexpr int kStyleYesNo = 4;
constexpr int kIdYes = 6;

}  // namespace

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
        case RunOutcome::None:
            break;
    }
    return EXIT_INTERNAL;
}

CliJob BuildCliJob(const CliOptions& options, ConsoleHost& host) {
    CliJob out;
    DownloadJob& job = out.job;
    DownloadSettings& settings = out.settings;

    out.link = options.link.value_or(Link::Usb);
    const JobBuildOutput output{
        [&host](const std::string& text, std::uint32_t colour) { host.LogSingle(text, colour); },
        [&host](const std::string& text) { host.Error(text); }};
    if (!BuildJobFromOptions(options, out.link, job, settings, output)) {
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
    host.LogSingle("생성된 날짜를 갱신합니다", COLOUR_BLACK);
    const JobCheckResult check = CheckJob(job, snapshot.snapshot, settings, StartKind::Single);
    for (int code : check.codes) {
        const std::string text = JobErrorText(code);
        if (!text.empty())
            host.LogSingle(FormatText("[%s] %s", JOB_ERROR_CAPTION, text.c_str()), COLOUR_RED);
    }
    int code = check.code();
    if (IsOverridableJobError(code) &&
        host.ShowMessage(SINGLE_OVERRIDE_QUESTION, QUESTION_CAPTION, kStyleYesNo) == kIdYes)
        code = 0;
    if (code != 0) {
        out.exitStatus = EXIT_JOB_REFUSED;
        return out;
    }

    for (int slot = 0; slot < ImageSlot::Count; ++slot)
        out.run.paths[static_cast<std::size_t>(slot)] = job[slot].path;
    out.run.snapshot = snapshot.snapshot;
    return out;
}

int RunSingleCli(const CliOptions& options, ConsoleHost& host) {
    CliJob cliJob = BuildCliJob(options, host);
    if (cliJob.exitStatus != EXIT_OK) return cliJob.exitStatus;

    LoopMainThread loop;
    SetProcessMainThread(&loop);
    DebugTrace trace;
    trace.SetWriteData(options.traceData);
    AskOperatorRequest ask;
    VaCommPorts ports(trace);
    EngineTimings timings;
    if (options.startupSleepMs) timings.startupSleepMs = *options.startupSleepMs;

    int status = EXIT_INTERNAL;
    {
        SingleEngine engine(host, ports, trace, loop, ask, timings);
        ports.SetTraceOrigin(&engine.shared().downloadStartMs);
        ports.SetSingleRxHandler(
            [&engine](void* sender, const std::uint8_t* data, std::size_t count) {
                engine.bridge().VaCommSingleRxBuf(sender, data, count);
            });

        host.ResetForRun();
        const SingleEngine::StartResult started = engine.Start(cliJob.run, options.ports.front());
        if (started != SingleEngine::StartResult::Started) {
            if (!engine.lastPortError().empty()) host.Error(engine.lastPortError());
            status = EXIT_PORT_OPEN;
        } else {
            // The port is open and nothing has been written yet: the trace begins here.
            StartCliTrace(trace, options.traceFile,
                          [&host](const std::string& text) { host.Error(text); });
            using Clock = std::chrono::steady_clock;
            {
                const InterruptCatcher interrupts;
                int interruptsSeen = 0;
                auto nextTick = Clock::now() + std::chrono::milliseconds(1000);
                while (!host.controlsGivenBack()) {
                    loop.RunUntil([&] { return host.controlsGivenBack(); },
                                  std::chrono::milliseconds(50));
                    if (interrupts.count() != interruptsSeen) {
                        interruptsSeen = interrupts.count();
                        engine.RequestStop();
                    }
                    if (Clock::now() >= nextTick) {
                        // The status tick: the operator question, then the elapsed time.
                        nextTick += std::chrono::milliseconds(1000);
                        ask.Serve(
                            [&host](const std::string& text, const std::string& caption,
                                    int style) { return host.ShowMessage(text, caption, style); });
                        host.SetElapsed(engine.shared().downloadRunning.load()
                                            ? ElapsedText(NowMs(), engine.shared().downloadStartMs)
                                            : std::string());
                    }
                }
            }
            status = ExitStatusOf(engine.shared().lastOutcome.load());
            // Let the worker clear downloadEnabled and suspend before it goes away.
            const auto idleDeadline = Clock::now() + std::chrono::seconds(2);
            while (!engine.Idle() && Clock::now() < idleDeadline)
                loop.RunUntil([&] { return engine.Idle(); }, std::chrono::milliseconds(1));
        }
        ask.Shutdown();
        loop.Shutdown();
    }
    SetProcessMainThread(nullptr);
    return status;
}

}  // namespace zembra
