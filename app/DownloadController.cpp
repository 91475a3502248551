#include "app/DownloadController.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <chrono>
#include <thread>

#include "app/DialogHost.h"
#include "app/FormWidgets.h"
#include "app/RecordsDialog.h"
#include "app/Zembra3MainUnit.h"
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

DownloadController::DownloadController(TMainForm& form, MainThread& mainThread, DebugTrace& trace,
                                       DownloadTimings timings)
    : form_(form),
      mainThread_(mainThread),
      ports_(trace, &mainThread),
      recorder_(
          "",
          [this](const std::string& error) {
              form_.LogSingle(
                  "다운로드 기록을 저장하지 못했습니다 (다운로드에는 영향이 없습니다): " + error,
                  COLOUR_RED);
          }),
      display_(mainThread, form_, [this](int slot) {
          return multi_->slotPortNames()[static_cast<std::size_t>(slot - 1)];
      }) {
    single_ = std::make_unique<SingleEngine>(ports_, trace, mainThread, ask_, timings.engine);
    single_->SetRunEvents(&events_);
    multi_ = std::make_unique<MultiDownload>(mainThread, ports_, *this, timings.multi);
    multi_->SetRunEvents(&events_);
    const std::string lineServer = RecordsServerFor("");
    if (!lineServer.empty() && recorder_.enabled()) {
        LineSenderConfig config;
        config.localPath = recorder_.path();
        config.server = lineServer;
        lineSender_ = std::make_unique<LineSender>(config);
        lineSender_->Start();
    }
    auto* records = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_R), &form_);
    QObject::connect(records, &QShortcut::activated, this, [this] { ShowRecords(); });

    QObject::connect(form_.BitBtnDOStart, &QPushButton::clicked, this,
                     [this] { form_.RunGuarded([&] { BitBtnDOStartClick(); }); });
    QObject::connect(form_.BitBtnStopRequest, &QPushButton::clicked, this,
                     [this] { form_.RunGuarded([&] { BitBtnStopRequestClick(); }); });
    QObject::connect(form_.BitBtnMultiStart, &QPushButton::clicked, this,
                     [this] { form_.RunGuarded([&] { BitBtnMultiStartClick(); }); });
    QObject::connect(form_.BitBtn8, &QPushButton::clicked, this,
                     [this] { form_.RunGuarded([&] { BitBtn8Click(); }); });
    form_.SetTickHandler([this] { Tick(); });
    form_.installEventFilter(this);
}

DownloadController::~DownloadController() {
    form_.removeEventFilter(this);
    form_.SetTickHandler(nullptr);
    Shutdown();
    multi_.reset();
    single_.reset();
}

bool DownloadController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &form_ && event->type() == QEvent::Close) Shutdown();
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
    TMainForm& f = form_;
    f.CheckBoxStartCheck->setChecked(false);
    f.PanelFileSelect->setEnabled(false);
    f.BitBtnDOStart->setEnabled(false);
    f.CheckBoxAuto->setEnabled(false);
    if (!single_->Idle()) return false;  // a run in progress gives the controls back itself

    DownloadJob job = f.ReadJob();
    const DownloadSettings settings = f.ReadSettings();
    const StartSnapshotResult taken =
        TakeStartSnapshot(job, settings, f.ReadLink(), StartKind::Single);
    if (!taken.ok()) {
        ShowConversionError(*taken.error);
        f.GiveControlsBack();
        return false;
    }
    for (int slot = 0; slot < ImageSlot::Count; ++slot) {
        ImageSlot value = f.ReadSlot(slot);
        value.fileTime = FileTimeText(value.path);
        job[slot].fileTime = value.fileTime;
        f.ApplySlot(slot, value);
    }
    form_.LogSingle("생성된 날짜를 갱신합니다", COLOUR_BLACK);

    const JobCheckResult check = CheckJob(job, taken.snapshot, settings, StartKind::Single);
    for (int code : check.codes) ShowJobError(code);
    int code = check.code();
    if (IsOverridableJobError(code) &&
        f.dialogs().ShowMessage(SINGLE_OVERRIDE_QUESTION, QUESTION_CAPTION, mb::kYesNo) ==
            mb::kIdYes)
        code = 0;
    if (code != 0 || !AcceptFlashRanges(job)) {
        f.GiveControlsBack();
        return false;
    }

    const SingleRunConfig run = RunOfJob(job, taken.snapshot);
    const std::string port = f.ComboBoxComPort->currentText().trimmed().toStdString();
    BeginSingleRecord(job, run.versions, port, f.ReadLink());
    ports_.SetTraceOrigin(&single_->shared().downloadStartMs);
    const SingleEngine::StartResult started = single_->Start(run, port);
    if (started == SingleEngine::StartResult::PortOpenFailed) {
        // The system's reason, as the multi Start gives it for each port.
        if (!single_->lastPortError().empty())
            form_.LogSingle(single_->lastPortError(), COLOUR_RED);
        FinishSingleRecord();
        f.GiveControlsBack();
        return false;
    }
    if (started != SingleEngine::StartResult::Started) {
        singleRecord_.reset();
        return false;
    }
    f.SetDownloadTitleShown(true);
    return true;
}

bool DownloadController::AcceptFlashRanges(const DownloadJob& job) {
    const std::vector<std::string> problems = FlashRangeProblems(job);
    if (problems.empty()) return true;
    return form_.dialogs().ShowMessage(FLASH_RANGE_QUESTION, QUESTION_CAPTION, mb::kYesNo) ==
           mb::kIdYes;
}

void DownloadController::BitBtnStopRequestClick() {
    form_.CheckBoxStartCheck->setChecked(false);
    single_->RequestStop();
    form_.LogMulti(STOP_CABLE_NOTICE, COLOUR_RED);
}

void DownloadController::RunFinished(int slot, const RunEnd&) {
    if (slot != 0) return;  // a multi slot's record ends with its worker's notice
    mainThread_.RunAndWait([this] {
        FinishSingleRecord();
        form_.SetDownloadTitleShown(false);
    });
}

// --- multi Start and Stop -----------------------------------------------------------------------

void DownloadController::BitBtnMultiStartClick() {
    RunStartPress([this] { StartMulti(); });
}

void DownloadController::StartMulti() {
    DownloadJob job = form_.ReadJob();
    MultiStartRequest request;
    request.settings = form_.ReadSettings();
    request.versionCheck = form_.CheckBoxVerCheck->isChecked();
    // The slot port names are read after the checks and questions (ConfirmStart).
    // The files the records hash are the files the workers must send.
    request.versions = ImageVersionsOf(job);
    ports_.SetTraceOrigin(multi_->downloadStartMsSource());
    if (multi_->Start(job, request) != MultiStartOutcome::Started) return;
    BeginMultiRecords(job, request);
    form_.SetDownloadTitleShown(true);
}

void DownloadController::FileTimesRefreshed(const DownloadJob& job) {
    for (int slot = 0; slot < ImageSlot::Count; ++slot) {
        ImageSlot value = form_.ReadSlot(slot);
        value.fileTime = job[slot].fileTime;
        form_.ApplySlot(slot, value);
    }
}

bool DownloadController::ConfirmStart(const DownloadJob& job,
                                      std::array<std::string, MULTI_SLOT_COUNT>& slotPortNames) {
    if (!AcceptFlashRanges(job)) return false;
    // The slots as the tick shows them now: a question's box lets the ticks go on.
    for (int slot = 0; slot < MULTI_SLOT_COUNT; ++slot)
        slotPortNames[static_cast<std::size_t>(slot)] =
            form_.multi_[static_cast<std::size_t>(slot)].port->text().trimmed().toStdString();
    return true;
}

void DownloadController::BitBtn8Click() {
    multi_->Stop();
}

void DownloadController::SlotRunEnded(int slot) {
    MultiSlotEnded(slot);
}

void DownloadController::MultiSlotEnded(int slot) {
    // One slot's run has ended (its endCode is final). When it was the last one the window
    // returns to idle now rather than on the next tick.
    FinishMultiRecord(slot);
    if (!multi_->AnyWorkerActive() && multi_->downloadRunning() && !form_.IsSingleMode())
        ShowMultiSlots();
}

// --- download records ---------------------------------------------------------------------------

void DownloadController::BeginSingleRecord(const DownloadJob& job, const ImageVersions& versions,
                                           const std::string& port, Link link) {
    singleRecord_ = recorder_.Begin(job, "zembra", port, 0, link, nullptr, &versions);
}

void DownloadController::FinishSingleRecord() {
    if (!singleRecord_) return;
    recorder_.Finish(*singleRecord_, single_->shared().mode.load());
    singleRecord_.reset();
    RecordWritten();
}

void DownloadController::BeginMultiRecords(const DownloadJob& job,
                                           const MultiStartRequest& request) {
    multiMode_ = MakeLinkProtocolCode(Link::Usb, request.settings);
    const std::vector<RecordImage> images = RecordImagesOf(job, &request.versions);
    for (int slot = 0; slot < MULTI_SLOT_COUNT; ++slot) {
        const auto s = static_cast<std::size_t>(slot);
        const std::string& port = multi_->slotPortNames()[s];
        if (port.empty()) continue;
        multiRecords_[s] =
            recorder_.Begin(job, "zembra --multi", port, slot + 1, Link::Usb, &images);
    }
}

void DownloadController::FinishMultiRecord(int slot) {
    const auto s = static_cast<std::size_t>(slot);
    const MultiSingleBoxDLU* worker = multi_->worker(slot);
    if (!multiRecords_[s] || !worker) return;
    recorder_.Finish(*multiRecords_[s], multiMode_);
    multiRecords_[s].reset();
    RecordWritten();
}

void DownloadController::RecordWritten() {
    if (lineSender_) lineSender_->Wake();
}

std::string DownloadController::LineStatusLine() const {
    if (!lineSender_) return {};
    const LineSenderStatus status = lineSender_->Status();
    std::string line = "라인 서버 " + lineSender_->server() + ": ";
    line += status.waiting < 0 ? std::string("확인 중")
                               : "전송 대기 " + std::to_string(status.waiting) + "건";
    if (!status.error.empty()) line += " (재시도: " + status.error + ")";
    return line;
}

void DownloadController::ShowRecords() {
    if (!recordsDialog_) recordsDialog_ = std::make_unique<TRecordsDialog>(&form_);
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
    if (StartButtonsBothDisabled()) return;
    const bool usb = !form_.RadioButtonSerial->isChecked();
    const bool one = form_.RadioButtonOne->isChecked();
    if (usb) NoteMapRefusal();
    if (one && usb && form_.CheckBoxAuto->isEnabled() && form_.CheckBoxAuto->isChecked()) {
        DetectSinglePort(ReadSerialDeviceMap());
        if (form_.CheckBoxStartCheck->isChecked()) CheckReservation();
    }
    if (!one && usb) ScanMultiSlots(ReadSerialDeviceMap());
    ColourPaths();
}

void DownloadController::ServeOperatorQuestion() {
    ask_.Serve([this](const std::string& text, const std::string& caption, int style) {
        return form_.dialogs().ShowMessage(text, caption, style);
    });
}

void DownloadController::ShowRunningDisplays() {
    const bool singleRunning = single_->shared().downloadRunning.load();
    if (form_.IsSingleMode()) {
        form_.EditTimeDisp->setText(
            singleRunning ? Q(ElapsedText(NowMs(), single_->shared().downloadStartMs.load()))
                          : QString());
        return;
    }
    if (multi_->downloadRunning()) {
        ShowMultiSlots();
    } else {
        form_.EditMTimeDisp->clear();
    }
}

void DownloadController::ShowMultiSlots() {
    const MultiTickResult tick = multi_->Tick();
    for (int slot = 0; slot < MULTI_SLOT_COUNT; ++slot) {
        const MultiSlotView& view = tick.slots[static_cast<std::size_t>(slot)];
        if (!view.hasWorker || (!view.active && !tick.ended)) continue;
        auto& row = form_.multi_[static_cast<std::size_t>(slot)];
        row.gauge->setValue(view.percent);
        row.status->setText(Q(view.statusText));
    }
    if (tick.ended) {
        // SetStartControlsEnabled(true) has given PanelFileSelect and the button back.
        form_.SetTitle(TITLE_IDLE);
        form_.SetDownloadTitleShown(false);
        for (int slot = 0; slot < ImageSlot::Count; ++slot) form_.SetMarker(slot, NOT_SENT);
        for (auto& row : form_.multi_) row.port->setToolTip(QString());
        return;
    }
    const int leader = LeaderSlot(tick.slots);
    if (leader < 0) return;
    const MultiSlotView& lead = tick.slots[static_cast<std::size_t>(leader)];
    if (lead.currentImage >= 0 && lead.currentImage < ImageSlot::Count)
        form_.SetMarker(lead.currentImage, SENT);
    form_.SetTitle(ProgressTitle(lead.percent));
    form_.SetTaskProgress(lead.percent);
    form_.EditMTimeDisp->setText(Q(ElapsedText(NowMs(), multi_->downloadStartMs())));
}

void DownloadController::DetectSinglePort(const std::optional<std::vector<SerialMapEntry>>& map) {
    QComboBox* combo = form_.ComboBoxComPort;
    auto noPhone = [&] {
        combo->setEnabled(true);
        form_.CGaugeProgress->setValue(0);
    };
    if (!map) {
        noPhone();
        return;
    }
    const std::string port = LowestDevicePort(*map);
    if (port.empty()) {
        noPhone();
        return;
    }
    combo->setEnabled(false);
    if (port.rfind("COM", 0) != 0) {
        noPhone();
        return;
    }
    if (combo->currentText() != Q(port)) combo->setEditText(Q(port));
}

void DownloadController::NoteMapRefusal() {
    const std::string refusal = SerialDeviceMapProblem();
    if (refusal == mapRefusal_) return;
    mapRefusal_ = refusal;
    if (refusal.empty()) return;
    const std::string line = "시리얼 장치 맵을 읽을 수 없습니다: " + refusal;
    if (form_.IsSingleMode())
        form_.LogSingle(line, COLOUR_RED);
    else
        form_.LogMulti(line, COLOUR_RED);
}

void DownloadController::CheckReservation() {
    if (++reservationTicks_ <= 3) return;
    reservationTicks_ = 0;
    const DownloadJob job = form_.ReadJob();
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

void DownloadController::ScanMultiSlots(const std::optional<std::vector<SerialMapEntry>>& map) {
    if (!map) return;
    for (int slot = 0; slot < MULTI_SLOT_COUNT; ++slot) {
        auto& row = form_.multi_[static_cast<std::size_t>(slot)];
        const std::string port = PortOfDevice(*map, slot);
        if (!port.empty()) {
            row.present->setChecked(true);
            if (row.port->text() != Q(port)) row.port->setText(Q(port));
        } else {
            row.present->setChecked(false);
            row.gauge->setValue(0);
            row.status->clear();
            row.port->clear();
        }
    }
}

void DownloadController::ColourPaths() {
    for (auto& row : form_.rows_) {
        const bool matches =
            ExpectedNameRule(row.path->text().toStdString(), row.sFile->text().toStdString());
        const std::uint32_t colour = matches ? TMainForm::WindowTextColour() : MISMATCH_COLOUR;
        if (TMainForm::FontColour(row.path) != colour) TMainForm::SetFontColour(row.path, colour);
    }
}

bool DownloadController::StartButtonsBothDisabled() const {
    return !form_.BitBtnDOStart->isEnabled() && !form_.BitBtnMultiStart->isEnabled();
}

// --- hosts: forwarded to the form ---------------------------------------------------------------

void DownloadController::LogMulti(const std::string& text, std::uint32_t colour) {
    form_.LogMulti(text, colour);
}
void DownloadController::ShowJobError(int code) {
    form_.ShowJobError(code);
}
bool DownloadController::AskOverride() {
    return form_.AskOverride();
}
void DownloadController::ShowConversionError(const ConversionError& error) {
    form_.ShowConversionError(error);
}
void DownloadController::SetStartControlsEnabled(bool enabled) {
    form_.SetStartControlsEnabled(enabled);
}

}  // namespace zembra
