#pragma once

#include <cstdint>
#include <functional>
#include <string>

class QWidget;

namespace zembra {

class DialogHost;
class FormModel;
struct ConversionError;

// The handlers of the Start and Stop buttons of both panels.
struct DownloadButtonHandlers {
    std::function<void()> singleStart, singleStop, multiStart, multiStop;
};

// What the downloads (DownloadController) and the configuration file reach of the operator
// window. The window implements it with its controls; every call is made on the main thread.
class MainFormView {
  public:
    virtual ~MainFormView() = default;

    virtual QWidget& widget() = 0;  // the window itself
    virtual FormModel& model() = 0;
    virtual DialogHost& dialogs() = 0;
    virtual bool IsSingleMode() const = 0;  // PanelOne visible (shown on top of PanelMulti)

    // --- what the engines draw ----------------------------------------------------------------
    // To RichEditOutput while PanelOne is visible, otherwise to RichEdit21.
    virtual void LogSingle(const std::string& text, std::uint32_t colour) = 0;
    // To RichEdit21 whichever panel is visible.
    virtual void LogMulti(const std::string& text, std::uint32_t colour) = 0;
    virtual void SetGauge(int percent) = 0;                    // CGaugeProgress
    virtual void SetTitle(const std::string& title) = 0;       // application title
    virtual void SetAddressText(const std::string& text) = 0;  // EditAddress
    virtual void SetMarker(int slot, const std::string& marker) = 0;
    // PanelFileSelect and BitBtnDOStart enabled; CheckBoxAuto enabled unless Serial is chosen.
    virtual void GiveControlsBack() = 0;
    virtual void ShowJobError(int code) = 0;  // caption "오류", OK; codes without a text: nothing
    virtual bool AskOverride() = 0;           // the multi question, Yes/No
    virtual void ShowConversionError(const ConversionError& error) = 0;
    virtual void SetStartControlsEnabled(bool enabled) = 0;  // PanelFileSelect, BitBtnMultiStart
    // Shows an error the way the toolkit's standard error display does: a message box with
    // the text, the application title as caption and a stop icon; the program goes on.
    virtual void ShowException(const std::string& message) = 0;

    // --- the downloads' controls --------------------------------------------------------------
    virtual void SetButtonHandlers(DownloadButtonHandlers handlers) = 0;
    // The one-second housekeeping tick (TimerComPortDetect) runs `tick`.
    virtual void SetTickHandler(std::function<void()> tick) = 0;
    virtual void TimerComPortDetectTimer() = 0;
    // A download has started (true) or the last one has ended (false): the window title,
    // and the progress of the task bar entry goes away at the end.
    virtual void SetDownloadTitleShown(bool shown) = 0;
    // The percentage on the task bar entry while a download runs.
    virtual void SetTaskProgress(int percent) = 0;
    // The line server's status line under the panels ("" hides it).
    virtual void ShowLineStatus(const std::string& text) = 0;
    // The elapsed-time field of the visible panel (EditTimeDisp, EditMTimeDisp).
    virtual void ShowElapsed(const std::string& text) = 0;
    // Neither BitBtnDOStart nor BitBtnMultiStart is enabled.
    virtual bool StartButtonsBothDisabled() const = 0;

    // The single Start takes PanelFileSelect, BitBtnDOStart and CheckBoxAuto (GiveControlsBack
    // returns them).
    virtual void TakeControls() = 0;
    virtual bool StartReserved() const = 0;  // CheckBoxStartCheck
    virtual void ClearStartReservation() = 0;
    virtual bool AutoDetectOn() const = 0;           // CheckBoxAuto enabled and ticked
    virtual bool VersionCheckOn() const = 0;         // CheckBoxVerCheck
    virtual std::string SinglePortName() const = 0;  // ComboBoxComPort
    // The phone's port found in the device map, locking ComboBoxComPort; "" when none was
    // found: the box is free again and CGaugeProgress at 0.
    virtual void ShowDetectedPort(const std::string& port) = 0;

    // The multi panel's slot rows (slot 0..7).
    virtual std::string MultiSlotPort(int slot) const = 0;  // EditMultiN
    // The scan's port of a slot (CheckBoxMultiN ticked); "" clears the row.
    virtual void ShowMultiSlotPort(int slot, const std::string& port) = 0;
    virtual void ShowMultiSlot(int slot, int percent, const std::string& status) = 0;

    // Path fields whose file name differs from the expected name turn red.
    virtual void ColourPaths() = 0;
};

}  // namespace zembra
