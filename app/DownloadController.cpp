#include "app/DownloadController.h"

#include <QCoreApplication>
#include <QEvent>
#include <QShortcut>
#include <chrono>
#include <thread>

#include "app/DialogHost.h"
#include "app/FormModel.h"
#include "app/MainFormView.h"
#include "app/RecordsDialog.h"
#include "app/SlotMapDialog.h"
#include "job/FlashRanges.h"
#include "job/ImageChecks.h"
#include "job/JobCheck.h"
#include "job/StartSnapshot.h"
#include "platform/Helpers.h"
#include "platform/MainThread.h"
#include "records/ServerStore.h"

namespace zembra {

namespace {

// The longest the window waits, when it closes, for the workers to wind down after the stop.
constexpr auto kShutdownWait = std::chrono::seconds(15);

}  // namespace

DownloadController::DownloadController(MainFormView& form, MainThread& mainThread,
                                       DebugTrace& trace, DownloadTimings timings)
    : form_(form),
      mainThread_(mainThread),
      ports_(trace, &mainThread),
      recorder_("",
                // On the recorder's writer thread: the line goes to the window on its own thread.
                [this, alive = std::weak_ptr<char>(alive_)](const std::string& error) {
                    mainThread_.Post([this, alive, error] {
                        if (!alive.lock()) return;
                        display_.Line(
                            0,
                            "다운로드 기록을 저장하지 못했습니다 (다운로드에는 영향이 없습니다): " +
                                error,
                            COLOUR_RED);
                    });
                }),
      display_(mainThread, form_, [this](int slot) {
          return multi_->slotPortNames()[static_cast<std::size_t>(slot - 1)];
      }) {
    single_ = std::make_unique<SingleEngine>(ports_, trace, mainThread, ask_, timings.engine);
    single_->SetRunEvents(&events_);
    multi_ = std::make_unique<MultiDownload>(mainThread, ports_, *this, timings.multi);
    multi_->SetRunEvents(&events_);
    const std::string lineServer = RecordsServerFor("");
    const std::string refused = StationConfigRefusal();
    if (!refused.empty()) {
        display_.Line(0, "라인 서버를 쓰지 않습니다: " + refused, COLOUR_RED);
    } else if (!lineServer.empty() && recorder_.enabled()) {
        LineSenderConfig config;
        config.localPath = recorder_.path();
        config.server = lineServer;
        lineSender_ = std::make_unique<LineSender>(config);
        lineSender_->Start();
        recorder_.SetWritten([this, alive = std::weak_ptr<char>(alive_)] {
            mainThread_.Post([this, alive] {
                if (alive.lock()) lineSender_->Wake();
            });
        });
    }
    auto* records = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_R), &form_.widget());
    QObject::connect(records, &QShortcut::activated, this, [this] { ShowRecords(); });

    form_.SetButtonHandlers({[this] { BitBtnDOStartClick(); }, [this] { BitBtnStopRequestClick(); },
                             [this] { BitBtnMultiStartClick(); }, [this] { BitBtn8Click(); },
                             [this] { ShowSlotMap(); }});
    form_.SetTickHandler([this] { Tick(); });
    form_.widget().installEventFilter(this);
}

DownloadController::~DownloadController() {
    form_.widget().removeEventFilter(this);
    form_.SetButtonHandlers({});
    form_.SetTickHandler(nullptr);
    Shutdown();
    multi_.reset();
    single_.reset();
}

bool DownloadController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &form_.widget() && event->type() == QEvent::Close) Shutdown();
    return QObject::eventFilter(watched, event);
}

bool DownloadController::Idle() const {
    return single_->Idle() && !multi_->AnyWorkerActive() && !multi_->downloadRunning();
}

void DownloadController::Shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    if (!single_->Idle()) single_->shared().RequestStop();
    if (multi_->AnyWorkerActive()) multi_->Stop();
    ask_.Shutdown();  // a worker waiting for the operator's answer gets Cancel
    // The workers still need the main thread for their last lines and their port closing.
    const auto deadline = std::chrono::steady_clock::now() + kShutdownWait;
    while ((!single_->Idle() || multi_->AnyWorkerActive()) &&
           std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ports_.CloseSinglePort();
    for (int slot = 0; slot < MULTI_SLOT_COUNT; ++slot) ports_.CloseMultiPort(slot);
    // The last records and their red lines, while the window still shows them (the recorder
    // writes whatever is left when it goes).
    mainThread_.ServeUntil([this] { return recorder_.Flushed(); }, kShutdownWait);
    QCoreApplication::processEvents();
}

// --- single Start and Stop --------------------------------------------------------------------

void DownloadController::RunStartPress(const std::function<void()>& start) {
    // One press, manual or reserved, never starts two downloads: the tick run first may fire
    // the reservation, whose nested press does nothing.
    if (starting_ || shutDown_) return;
    starting_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{starting_};
    form_.TimerComPortDetectTimer();
    start();
}

void DownloadController::BitBtnDOStartClick() {
    RunStartPress([this] { StartSingle(); });
}

bool DownloadController::StartSingle() {
    MainFormView& f = form_;
    f.ClearStartReservation();
    f.TakeControls();
    if (!single_->Idle()) return false;  // a run in progress gives the controls back itself

    DownloadJob job = f.model().ReadJob();
    const DownloadSettings settings = f.model().ReadSettings();
    const Link link = f.model().ReadLink();
    const StartSnapshotResult taken = TakeStartSnapshot(job, settings, link, StartKind::Single);
    if (!taken.ok()) {
        f.ShowConversionError(*taken.error);
        f.GiveControlsBack();
        return false;
    }
    for (ImageSlot& image : job.slots) image.fileTime = FileTimeText(image.path);
    ShowFileTimes(job);
    display_.Line(0, "생성된 날짜를 갱신합니다", COLOUR_BLACK);

    const JobCheckResult check = CheckJob(job, taken.snapshot, settings, StartKind::Single);
    if ((!check.codes.empty() && !AcceptJob(job, check, StartKind::Single)) ||
        !ConfirmStart(job, nullptr)) {
        f.GiveControlsBack();
        return false;
    }

    const SingleRunConfig run = RunOfJob(job, taken.snapshot);
    const std::string port = f.SinglePortName();
    recorder_.SetJob(job, "zembra", &run.versions);
    ports_.SetTraceOrigin(&single_->shared().downloadStartMs);
    const SingleEngine::StartResult started = single_->Start(run, port);
    if (started == SingleEngine::StartResult::PortOpenFailed) {
        // The system's reason, as the multi Start gives it for each port (the run's end has
        // given the controls back).
        if (!single_->lastPortError().empty())
            display_.Line(0, single_->lastPortError(), COLOUR_RED);
        return false;
    }
    // Busy cannot happen: the engine was idle when this Start began, and no other Start runs
    // meanwhile (RunStartPress); the record begun is replaced by the next Start's.
    if (started != SingleEngine::StartResult::Started) return false;
    f.SetDownloadTitleShown(true);
    return true;
}

int DownloadController::AskOperator(const std::string& text, const std::string& caption,
                                    int style) {
    return form_.dialogs().ShowMessage(text, caption, style);
}

bool DownloadController::AcceptJob(const DownloadJob& job, const JobCheckResult& check,
                                   StartKind kind) {
    ShowFileTimes(job);
    for (int code : check.codes) form_.ShowJobError(code);
    if (!IsOverridableJobError(check.code())) return false;
    if (kind == StartKind::Multi) return form_.AskOverride();
    return AskOperator(SINGLE_OVERRIDE_QUESTION, QUESTION_CAPTION, mb::kYesNo) == mb::kIdYes;
}

bool DownloadController::ConfirmStart(const DownloadJob& job,
                                      std::array<std::string, MULTI_SLOT_COUNT>* slotPortNames) {
    ShowFileTimes(job);
    if (!FlashRangeProblems(job).empty() &&
        AskOperator(FLASH_RANGE_QUESTION, QUESTION_CAPTION, mb::kYesNo) != mb::kIdYes)
        return false;
    // The slots as the tick shows them now: a question's box lets the ticks go on.
    if (slotPortNames)
        for (int slot = 0; slot < MULTI_SLOT_COUNT; ++slot)
            (*slotPortNames)[static_cast<std::size_t>(slot)] = form_.MultiSlotPort(slot);
    return true;
}

void DownloadController::BitBtnStopRequestClick() {
    form_.ClearStartReservation();
    single_->RequestStop();
    display_.Line(MULTI_DOWNLOAD_LINES, STOP_CABLE_NOTICE, COLOUR_RED);
}

// --- multi Start and Stop -----------------------------------------------------------------------

void DownloadController::BitBtnMultiStartClick() {
    RunStartPress([this] { StartMulti(); });
}

void DownloadController::StartMulti() {
    DownloadJob job = form_.model().ReadJob();
    MultiStartRequest request;
    request.settings = form_.model().ReadSettings();
    request.versionCheck = form_.VersionCheckOn();
    // The slot port names are read after the checks and questions (ConfirmStart).
    // The files the records hash are the files the workers must send.
    request.versions = ImageVersionsOf(job);
    ports_.SetTraceOrigin(multi_->downloadStartMsSource());
    recorder_.SetJob(job, "zembra --multi", &request.versions);
    // The file selection and the Start are the multi download's until it ends (a Start
    // refused while one runs changes nothing).
    form_.SetStartControlsEnabled(false);
    const MultiStartOutcome outcome = multi_->Start(job, request);
    if (outcome == MultiStartOutcome::Busy) return;
    if (outcome == MultiStartOutcome::SettingsError)
        form_.ShowConversionError(*multi_->conversionError());
    else
        ShowFileTimes(job);
    if (outcome != MultiStartOutcome::Started) {
        form_.SetStartControlsEnabled(true);
        return;
    }
    form_.SetDownloadTitleShown(true);
}

void DownloadController::ShowFileTimes(const DownloadJob& job) {
    for (int slot = 0; slot < ImageSlot::Count; ++slot) {
        ImageSlot value = form_.model().ReadSlot(slot);
        value.fileTime = job[slot].fileTime;
        form_.model().ApplySlot(slot, value);
    }
}

void DownloadController::BitBtn8Click() {
    multi_->Stop();
}

// --- download records ---------------------------------------------------------------------------

std::string DownloadController::LineStatusLine() const {
    if (!lineSender_) return {};
    const LineSenderStatus status = lineSender_->Status();
    std::string line = "라인 서버 " + lineSender_->server() + ": ";
    line += status.waiting < 0 ? std::string("확인 중")
                               : "전송 대기 " + std::to_string(status.waiting) + "건";
    if (!status.error.empty()) line += " (재시도: " + status.error + ")";
    return line;
}

void DownloadController::ShowSlotMap() {
    if (!Idle()) return;
    if (!slotMapDialog_) slotMapDialog_ = std::make_unique<TSlotMapDialog>(&form_.widget());
    slotMapDialog_->Restart();
    form_.dialogs().ShowModal(*slotMapDialog_);
    unboundShown_.clear();  // the next scan says again which phones are at unbound ports
}

void DownloadController::ShowRecords() {
    if (!recordsDialog_) recordsDialog_ = std::make_unique<TRecordsDialog>(&form_.widget());
    recordsDialog_->Reload(recorder_.path());
    recordsDialog_->ShowLineStatus(LineStatusLine());
    form_.dialogs().ShowModal(*recordsDialog_);
}

// --- the tick ---------------------------------------------------------------------------------

void DownloadController::Tick() {
    ServeOperatorQuestion();
    if (lineSender_) {
        const std::string line = LineStatusLine();
        form_.ShowLineStatus(line);
        if (recordsDialog_) recordsDialog_->ShowLineStatus(line);
    }
    ShowRunningDisplays();
    if (form_.StartButtonsBothDisabled()) return;
    const bool usb = form_.model().ReadLink() == Link::Usb;
    const bool one = form_.IsSingleMode();
    if (usb) NoteMapRefusal();
    if (one && usb && form_.AutoDetectOn()) {
        DetectSinglePort(ReadSerialDeviceMap());
        if (form_.StartReserved()) CheckReservation();
    }
    if (!one && usb) ScanMultiSlots();
    form_.ColourPaths();
}

void DownloadController::ServeOperatorQuestion() {
    ask_.Serve([this](const std::string& text, const std::string& caption, int style) {
        return AskOperator(text, caption, style);
    });
}

void DownloadController::ShowRunningDisplays() {
    const bool singleRunning = single_->shared().downloadRunning.load();
    if (form_.IsSingleMode()) {
        form_.ShowElapsed(singleRunning
                              ? ElapsedText(NowMs(), single_->shared().downloadStartMs.load())
                              : std::string());
        return;
    }
    if (!multi_->downloadRunning())
        form_.ShowElapsed({});
    else if (multi_->Tick().ended)
        EndMulti();
    else
        form_.ShowElapsed(ElapsedText(NowMs(), multi_->downloadStartMs()));
}

void DownloadController::EndMulti() {
    form_.SetStartControlsEnabled(true);
    form_.SetTitle(TITLE_IDLE);
    form_.SetDownloadTitleShown(false);
    for (int slot = 0; slot < ImageSlot::Count; ++slot) form_.SetMarker(slot, NOT_SENT);
}

void DownloadController::DetectSinglePort(const std::optional<std::vector<SerialMapEntry>>& map) {
    form_.ShowDetectedPort(map ? LowestDevicePort(*map) : std::string());
}

void DownloadController::NoteMapRefusal() {
    const std::string refusal = SerialDeviceMapProblem();
    if (refusal == mapRefusal_) return;
    mapRefusal_ = refusal;
    if (refusal.empty()) return;
    display_.Line(form_.IsSingleMode() ? 0 : MULTI_DOWNLOAD_LINES,
                  "시리얼 장치 맵을 읽을 수 없습니다: " + refusal, COLOUR_RED);
}

void DownloadController::CheckReservation() {
    if (++reservationTicks_ <= 3) return;
    reservationTicks_ = 0;
    const DownloadJob job = form_.model().ReadJob();
    bool any = false;
    for (int slot = 0; slot < ImageSlot::Count; ++slot) {
        const ImageSlot& image = job[slot];
        if (image.path.empty()) continue;
        any = true;
        if (!FileExists(image.path)) return;
        if (FileTimeText(image.path) == image.fileTime) return;
    }
    if (any) BitBtnDOStartClick();
}

void DownloadController::ScanMultiSlots() {
    const PhoneMap phones = ReadPhoneMap(false);
    NoteUnboundPhones(phones);
    if (!phones.map) return;
    for (int slot = 0; slot < MULTI_SLOT_COUNT; ++slot)
        form_.ShowMultiSlotPort(slot, PortOfDevice(*phones.map, slot));
}

void DownloadController::NoteUnboundPhones(const PhoneMap& phones) {
    std::set<std::string> lines;
    if (!phones.slotMapError.empty()) lines.insert(phones.slotMapError);
    for (const LocatedPhone& phone : phones.unbound) lines.insert(UnboundPhoneText(phone));
    for (const std::string& line : lines)
        if (!unboundShown_.count(line)) display_.Line(MULTI_DOWNLOAD_LINES, line, COLOUR_RED);
    unboundShown_ = std::move(lines);
}

}  // namespace zembra
