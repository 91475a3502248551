#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "protocol/RunView.h"

class QWidget;

namespace zembra {

class DialogHost;
class FormModel;
struct ConversionError;

// The handlers of the Start and Stop buttons of both panels (none set: the buttons do nothing).
struct DownloadButtonHandlers {
    std::function<void()> singleStart = [] {}, singleStop = [] {}, multiStart = [] {},
                          multiStop = [] {}, slotMap = [] {};
};

// What the downloads (DownloadController) and the configuration file reach of the operator
// window, the display of the runs (RunView, driven by RunDisplay) included; the window
// implements it with its controls. Every call is made on the main thread.
class MainFormView : public RunView {
  public:
    virtual ~MainFormView() = default;

    virtual QWidget& widget() = 0;  // the window itself
    virtual FormModel& model() = 0;
    virtual DialogHost& dialogs() = 0;
    virtual bool IsSingleMode() const = 0;  // PanelOne visible (shown on top of PanelMulti)

    virtual void ShowJobError(int code) = 0;  // caption "오류", OK; codes without a text: nothing
    virtual bool AskOverride() = 0;           // the multi question, Yes/No
    virtual void ShowConversionError(const ConversionError& error) = 0;
    virtual void SetStartControlsEnabled(bool enabled) = 0;  // PanelFileSelect, BitBtnMultiStart
    // An error shown as the toolkit shows one escaping a handler: a message box with the
    // application title as caption and a stop icon; the program goes on.
    virtual void ShowException(const std::string& message) = 0;

    virtual void SetButtonHandlers(DownloadButtonHandlers handlers) = 0;
    // The one-second housekeeping tick (TimerComPortDetect) runs `tick`.
    virtual void SetTickHandler(std::function<void()> tick) = 0;
    virtual void TimerComPortDetectTimer() = 0;
    // A download has started (true) or the last one has ended (false): the window title, and
    // the task bar entry's progress (SetTaskProgress) goes away at the end.
    virtual void SetDownloadTitleShown(bool shown) = 0;
    virtual void SetTaskProgress(int percent) = 0;
    virtual void ShowLineStatus(const std::string& text) = 0;  // the line server's; "" hides it
    virtual void ShowElapsed(const std::string& text) = 0;     // EditTimeDisp / EditMTimeDisp shown
    virtual bool StartButtonsBothDisabled() const = 0;

    // The single Start takes PanelFileSelect, BitBtnDOStart and CheckBoxAuto, GiveControlsBack
    // gives them back (CheckBoxAuto unless the serial link is chosen).
    virtual void TakeControls() = 0;
    virtual void GiveControlsBack() = 0;
    virtual bool StartReserved() const = 0;  // CheckBoxStartCheck
    virtual void ClearStartReservation() = 0;
    virtual bool AutoDetectOn() const = 0;           // CheckBoxAuto enabled and ticked
    virtual bool VersionCheckOn() const = 0;         // CheckBoxVerCheck
    virtual std::string SinglePortName() const = 0;  // ComboBoxComPort
    // The phone's port found in the device map locks ComboBoxComPort on it; "" (none found)
    // frees the box and sets CGaugeProgress to 0.
    virtual void ShowDetectedPort(const std::string& port) = 0;

    // The multi panel's slot rows (slot 0..7): EditMultiN; the scan's port ("" clears the row);
    // the gauge and the status text (ShowSlot, from the runs' events).
    virtual std::string MultiSlotPort(int slot) const = 0;
    virtual void ShowMultiSlotPort(int slot, const std::string& port) = 0;

    // Path fields whose file name is not the expected name turn red.
    virtual void ColourPaths() = 0;
};

}  // namespace zembra
