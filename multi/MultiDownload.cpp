#include "multi/MultiDownload.h"

#include <algorithm>
#include <chrono>
#include <exception>

#include "job/JobCheck.h"
#include "job/StartSnapshot.h"
#include "platform/Helpers.h"
#include "platform/MainThread.h"

namespace zembra {

MultiDownload::MultiDownload(MainThread& mainThread, MultiPortOps& ports,
                             OperatorQuestions& questions, MultiStartTiming timing)
    : mainThread_(mainThread), ports_(ports), questions_(questions), timing_(timing) {
    AttachReceiveTaps();
}

MultiDownload::~MultiDownload() {
    // Running workers are asked to stop; while they wind down they still need the main
    // thread for their last lines, so it keeps serving here.
    for (auto& worker : multiWorkers)
        if (worker) worker->RequestStop();
    const auto idle = [](const auto& worker) { return !worker || worker->runState() == RUN_IDLE; };
    mainThread_.ServeUntil(
        [&] { return std::all_of(multiWorkers.begin(), multiWorkers.end(), idle); },
        std::chrono::seconds(30));
    for (int slot = 0; slot < MULTI_SLOT_COUNT; ++slot) {
        ports_.CloseMultiPort(slot);
        ports_.SetMultiTapReads(slot, false);
        ports_.SetMultiReceiveTap(slot, nullptr);
        tapTargets_[static_cast<std::size_t>(slot)].store(nullptr);
    }
    for (auto& worker : multiWorkers) worker.reset();  // ends the threads
}

void MultiDownload::AttachReceiveTaps() {
    // The ports are closed: their taps can be set now, for the workers to come.
    for (int slot = 0; slot < MULTI_SLOT_COUNT; ++slot) {
        const auto s = static_cast<std::size_t>(slot);
        ports_.SetMultiReceiveTap(slot, [this, s](const std::uint8_t* data, std::size_t count) {
            if (MultiSingleBoxDLU* w = tapTargets_[s].load(std::memory_order_acquire))
                w->ReceiveBytes(data, count);
        });
        workerReads_[s] = ports_.SetMultiTapReads(slot, true);
    }
}

MultiSingleBoxDLU* MultiDownload::worker(int slot) const {
    if (slot < 0 || slot >= MULTI_SLOT_COUNT) return nullptr;
    return multiWorkers[static_cast<std::size_t>(slot)].get();
}

void MultiDownload::SlotRunEnded(int slot) {
    endNoticePending_[static_cast<std::size_t>(slot)] = false;
}

bool MultiDownload::AnyWorkerActive() const {
    for (int slot = 0; slot < MULTI_SLOT_COUNT; ++slot) {
        const MultiSingleBoxDLU* w = worker(slot);
        if (w && (w->runState() != RUN_IDLE || endNoticePending_[static_cast<std::size_t>(slot)]))
            return true;
    }
    return false;
}

MultiStartOutcome MultiDownload::OpenSlotPorts(const DownloadRun& run) {
    int openedPorts = 0;
    bool failed = false;
    portFailed_ = {};
    for (int slot = 0; slot < MULTI_SLOT_COUNT; ++slot) {
        const std::string& name = slotPortNames_[static_cast<std::size_t>(slot)];
        if (name.empty()) continue;
        Log(FormatText("통신포트열기:%s 열기", name.c_str()), COLOUR_BLACK);
        try {
            ports_.SetMultiBaud(slot, 57600);
            ports_.SetMultiPortName(slot, name);
            ports_.OpenMultiPort(slot);
            ++openedPorts;
        } catch (const std::exception& e) {
            ports_.ClearMultiPortOpen(slot);
            portFailed_[static_cast<std::size_t>(slot)] = true;
            Log(e.what(), COLOUR_RED);
            Log("통신포트열기를 실패했습니다. 확인 바랍니다.", COLOUR_BLUE);
            // The slot's run ends before it began.
            events_->RunStarted(slot + 1, name, run);
            events_->RunFinished(slot + 1, RunEnd{});
            failed = true;
        }
    }
    if (failed) {
        for (int slot = 0; slot < MULTI_SLOT_COUNT; ++slot) {
            if (slotPortNames_[static_cast<std::size_t>(slot)].empty()) continue;
            ports_.CloseMultiPort(slot);
        }
        Log("전체 다운로드를 중단합니다.", COLOUR_RED);
        return MultiStartOutcome::PortFailed;
    }
    if (openedPorts == 0) {
        Log("연결된 장치가 없습니다.", COLOUR_RED);
        return MultiStartOutcome::NoDevice;
    }
    return MultiStartOutcome::Started;
}

void MultiDownload::ConfigureWorkers(const DownloadRun& run, bool versionCheck) {
    for (int slot = 0; slot < MULTI_SLOT_COUNT; ++slot) {
        const std::string& name = slotPortNames_[static_cast<std::size_t>(slot)];
        if (name.empty()) continue;
        auto& worker = multiWorkers[static_cast<std::size_t>(slot)];
        if (!worker) {
            const auto s = static_cast<std::size_t>(slot);
            worker = std::make_unique<MultiSingleBoxDLU>(
                mainThread_, ports_, [this](int ended) { SlotRunEnded(ended); }, lzo_, timing_);
            worker->SetWorkerReads(workerReads_[s]);
            tapTargets_[s].store(worker.get(), std::memory_order_release);
        }
        MultiWorkerConfig config;
        config.run = run;
        config.versionCheck = versionCheck;
        config.slot = slot;
        config.events = events_;
        worker->Configure(config);
    }
}

MultiStartOutcome MultiDownload::Start(DownloadJob& job, const MultiStartRequest& request) {
    // A Start while workers still run would reconfigure them mid-run.
    if (downloadRunning_ || AnyWorkerActive()) return MultiStartOutcome::Busy;

    downloadStartMs_ = NowMs();
    conversionError_.reset();

    const StartSnapshotResult taken =
        TakeStartSnapshot(job, request.settings, Link::Usb, StartKind::Multi);
    if (!taken.ok()) {
        conversionError_ = taken.error;
        return MultiStartOutcome::SettingsError;
    }
    const StartSnapshot& snapshot = taken.snapshot;

    for (auto& slot : job.slots) slot.fileTime = FileTimeText(slot.path);
    Log("생성된 날짜를 갱신합니다", COLOUR_BLACK);

    const JobCheckResult check = CheckJob(job, snapshot, request.settings, StartKind::Multi);
    if (!check.codes.empty() && !questions_.AcceptJob(job, check, StartKind::Multi))
        return MultiStartOutcome::JobRefused;

    std::array<std::string, MULTI_SLOT_COUNT> portNames = request.slotPortNames;
    if (!questions_.ConfirmStart(job, &portNames)) return MultiStartOutcome::JobRefused;
    slotPortNames_ = portNames;
    // The versions of the request (taken here when the caller took none).
    const ImageVersions versions = request.versions.taken ? request.versions : ImageVersionsOf(job);
    DownloadRun run = RunOfJob(job, snapshot, &versions);
    run.snapshot.address[ImageSlot::Code] = 0;
    const MultiStartOutcome opened = OpenSlotPorts(run);
    if (opened != MultiStartOutcome::Started) return opened;
    ConfigureWorkers(run, request.versionCheck);

    Log("========== 멀티다운로드시작 ==========", COLOUR_BLACK);

    // runState is set before the worker wakes, so the worker never depends on its wake-up
    // delay to see it.
    for (int slot = 0; slot < MULTI_SLOT_COUNT; ++slot) {
        auto* w = worker(slot);
        const std::string& name = slotPortNames_[static_cast<std::size_t>(slot)];
        if (!w || name.empty()) continue;
        events_->RunStarted(slot + 1, name, run);
        w->SetRunning();
        endNoticePending_[static_cast<std::size_t>(slot)] = true;
        w->Resume();
    }
    downloadRunning_ = true;
    return MultiStartOutcome::Started;
}

void MultiDownload::Stop() {
    Log("다운로드 중단 요청", COLOUR_RED);
    // Only a running worker is asked: an idle one would otherwise stay "active" for ever and
    // the multi download would never end.
    for (int slot = 0; slot < MULTI_SLOT_COUNT; ++slot) {
        auto* w = worker(slot);
        if (!w || slotPortNames_[static_cast<std::size_t>(slot)].empty()) continue;
        w->RequestStop();
    }
    Log("프로그램이 중단되면 케이블을 제거 하세요", COLOUR_RED);
}

MultiTickResult MultiDownload::Tick() {
    MultiTickResult result;
    if (downloadRunning_ && !AnyWorkerActive()) {
        downloadRunning_ = false;
        result.ended = true;
    }
    result.running = downloadRunning_;
    return result;
}

}  // namespace zembra
