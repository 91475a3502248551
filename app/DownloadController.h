#pragma once

#include <QObject>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "multi/MultiDownload.h"
#include "multi/MultiHost.h"
#include "platform/SerialDeviceMap.h"
#include "ports/SlotMap.h"
#include "ports/VaCommPorts.h"
#include "protocol/AskOperator.h"
#include "protocol/RunDisplay.h"
#include "protocol/RunEvents.h"
#include "protocol/SingleEngine.h"
#include "records/LineSender.h"
#include "records/RunRecorder.h"

namespace zembra {

class DebugTrace;
class MainThread;
class MainFormView;
class TRecordsDialog;
class TSlotMapDialog;

// The engines' waits and delays the window runs with (tests shorten them).
struct DownloadTimings {
    EngineTimings engine;
    MultiStartTiming multi;
};

// The downloads of the operator window: it owns the nine serial ports, the one single engine
// and the multi download (with its eight workers), runs the Start and Stop buttons of both
// panels and the one-second housekeeping tick (operator question, elapsed time, port
// detection, start reservation, multi slot scan and display, end of a multi download, path
// colouring). The form stays the controls, reached through MainFormView, and shows the runs
// (RunDisplay); this object hosts the engines, hands their events to the records and the
// display, and answers their questions with the form's dialogs (OperatorQuestions).
//
// Threads: everything here runs on the main (GUI) thread; the workers reach it only through
// the MainThread hand-off. Life: created after the form and destroyed before it (AppWindows).
// Closing the window stops a running download, waits for its workers and closes the ports.
class DownloadController : public QObject, public OperatorQuestions {
  public:
    DownloadController(MainFormView& form, MainThread& mainThread, DebugTrace& trace,
                       DownloadTimings timings = {});
    ~DownloadController() override;
    DownloadController(const DownloadController&) = delete;
    DownloadController& operator=(const DownloadController&) = delete;

    // --- the buttons and the tick -------------------------------------------------------------
    void BitBtnDOStartClick();
    void BitBtnStopRequestClick();
    void BitBtnMultiStartClick();
    void BitBtn8Click();
    // The body of TimerComPortDetectTimer (the form's timer calls it every second).
    void Tick();

    // Stops a running download, waits (serving the main thread) until its workers are
    // idle and closes every port. Called when the window closes; safe to call twice.
    void Shutdown();

    // No single run and no multi download in progress.
    bool Idle() const;
    // Every record of the runs so far written (or refused, with its red line on the way).
    bool RecordsWritten() const { return recorder_.Flushed(); }

    SingleEngine& single() { return *single_; }
    MultiDownload& multi() { return *multi_; }
    VaCommPorts& ports() { return ports_; }

    // --- download records ---------------------------------------------------------------------
    // Every single run and every multi slot's run is recorded when it ends (records/); a
    // record that cannot be written is a red line and never touches the download.
    const std::string& recordsPath() const { return recorder_.path(); }
    // The dialog of the last records (Ctrl+R), through the form's dialog host.
    void ShowRecords();
    // "슬롯 지정": the slot map's dialog (not while a download runs).
    void ShowSlotMap();

    // --- OperatorQuestions: the form's message boxes -------------------------------------
    int AskOperator(const std::string& text, const std::string& caption, int style) override;
    // Each job error's box, then the override question of the single or the multi Start.
    bool AcceptJob(const DownloadJob& job, const JobCheckResult& check, StartKind kind) override;
    // The job's file times shown, the flash-range question, then the slot port names of
    // EditMulti1 ... EditMulti8.
    bool ConfirmStart(const DownloadJob& job,
                      std::array<std::string, MULTI_SLOT_COUNT>* slotPortNames) override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // The file times a Start has refreshed in the job, into the form's fields.
    void ShowFileTimes(const DownloadJob& job);

    // Tick steps.
    void ServeOperatorQuestion();
    void ShowRunningDisplays();
    // The multi download's end (every worker idle): the controls, the title and the markers
    // back to idle; the rows show how each slot ended.
    void EndMulti();
    void DetectSinglePort(const std::optional<std::vector<SerialMapEntry>>& map);
    // A map folder that is refused: one red line in the visible log (again when the reason
    // changes), since no phone can be found until it is mended.
    void NoteMapRefusal();
    void CheckReservation();
    // The multi slots from the serial-device map, through the slot map when there is one.
    void ScanMultiSlots();
    // A phone at a port no slot is bound to (and a slot map that cannot be used): one red line
    // in the multi log as it appears.
    void NoteUnboundPhones(const PhoneMap& phones);

    // A Start button press: the tick once, then start().
    void RunStartPress(const std::function<void()>& start);
    // The single Start after the tick; false when it was refused (controls given back).
    bool StartSingle();
    // The multi Start after the tick.
    void StartMulti();

    MainFormView& form_;
    MainThread& mainThread_;
    AskOperatorRequest ask_;
    VaCommPorts ports_;
    // Expires with this object: what the recorder's writer posts to the main thread after
    // that is dropped.
    std::shared_ptr<char> alive_ = std::make_shared<char>();
    RunRecorder recorder_;  // the engines' run events make the records
    RunDisplay display_;    // and the window shows them (its own lines too)
    RunEventsFan events_{&recorder_, &display_};
    std::unique_ptr<TRecordsDialog> recordsDialog_;
    std::unique_ptr<TSlotMapDialog> slotMapDialog_;
    std::set<std::string> unboundShown_;  // NoteUnboundPhones' lines of the last scan
    // Forwards the records to the line server ("records-server" of zembra.conf), when set.
    std::unique_ptr<LineSender> lineSender_;
    // The line server's state as the records dialog shows it ("" without a line server).
    std::string LineStatusLine() const;
    std::unique_ptr<SingleEngine> single_;
    std::unique_ptr<MultiDownload> multi_;
    int reservationTicks_ = 0;
    std::string mapRefusal_;  // the last refusal of the map folder that was logged
    bool starting_ = false;   // a Start handler is running (a nested press does nothing)
    bool shutDown_ = false;
};

}  // namespace zembra
