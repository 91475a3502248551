#pragma once

#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/FormConfiguration.h"
#include "app/FormModel.h"
#include "app/LauncherEntry.h"
#include "app/LogPanes.h"
#include "app/MainFormView.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;

namespace zembra {

class ElidedLabel;
class TOKBottomDlgPopUp;
class TOKBottomDlgSMode;

// Client size of the main window.
inline constexpr int MAIN_FORM_WIDTH = 767;
inline constexpr int MAIN_FORM_HEIGHT = 456;

struct MainFormOptions {
    // The program file's full path; the automatic configuration file is derived from it
    // (FormConfiguration::autoConfigPath). Empty: the running program's own path.
    std::string programPath;
    // Message boxes, file dialogs and modal dialogs. Must outlive the window.
    DialogHost* dialogs = nullptr;
};

// The main window: its controls, their layout and the handlers that are plainly its own. Its
// controls are the live state of the job and the settings (model() is the adapter to job/);
// configuration() reads and writes the configuration file; the log panes are LogPanes. Control
// objectNames are the names the rest of the program and the tests use. The downloads reach it
// through MainFormView.
class TMainForm : public QWidget, public MainFormView {
    Q_OBJECT

  public:
    explicit TMainForm(MainFormOptions options, QWidget* parent = nullptr);
    ~TMainForm() override;

    // The pop-up and the hidden menu are created after the main window (start-up order);
    // they are attached here and must outlive it.
    void AttachDialogs(TOKBottomDlgPopUp* popUp, TOKBottomDlgSMode* sMode);

    FormConfiguration& configuration() { return configuration_; }

    // --- handlers --------------------------------------------------------------------------
    void FormCreate();
    void FormResize();
    void FormClose();
    void BitBtnAMClick();
    void BitBtnAMCloseClick();
    void RadioButtonOneClick();
    void RadioButtonMultiClick();
    void RadioButtonUSBClick();
    void RadioButtonSerialClick();
    void CheckBoxAutoClick();
    void BitBtnDefaultValueClick();
    // Slot button clicks (SpeedButtonCodeClick, SpeedButtonFont1Click ...): select when the
    // click put the button down, ClearSlot when it released it.
    void SpeedButtonSlotClick(int slot);
    void SelectImage(int slot);
    // The selection of a chosen file (after the slot's dialog, or from the command line).
    void SelectImageFile(int slot, const std::string& path);
    void ClearSlot(int slot);
    // EditFont1AddressExit ... EditFont6AddressExit (font = 1..6).
    void EditFontAddressExit(int font);
    void BitBtnInfoClick();
    void ImageZembraDblClick();

    // --- MainFormView ------------------------------------------------------------------------
    QWidget& widget() override { return *this; }
    FormModel& model() override { return model_; }
    DialogHost& dialogs() override { return *dialogs_; }
    bool IsSingleMode() const override;
    void AppendLine(LogPane pane, const std::string& text, std::uint32_t colour) override;
    void SetGauge(int percent) override;
    void SetTitle(const std::string& title) override;
    void SetAddressText(const std::string& text) override;
    void SetMarker(int slot, const std::string& marker) override;
    // The single run's end: the controls back and the window title to the program's.
    void RunEnded(int slot, const RunEnd& end) override;
    void ShowSlot(int slot, const MultiSlotView& view) override;
    // The leader's image marked sent, its percentage in the title and the task bar entry.
    void ShowLeader(const MultiSlotView& lead) override;
    void GiveControlsBack() override;
    void ShowJobError(int code) override;
    bool AskOverride() override;
    void ShowConversionError(const ConversionError& error) override;
    void SetStartControlsEnabled(bool enabled) override;
    void ShowException(const std::string& message) override;
    void SetButtonHandlers(DownloadButtonHandlers handlers) override { buttons_ = handlers; }
    void SetTickHandler(std::function<void()> tick) override { tick_ = std::move(tick); }
    void TimerComPortDetectTimer() override;
    // While a download runs the window title shows the application title too, since that is
    // what Linux task bars and window lists show; otherwise the window title is "Zembra 4.2".
    void SetDownloadTitleShown(bool shown) override;
    void SetTaskProgress(int percent) override;  // LauncherEntry
    // The window grows by the status line's height only while a line server is configured.
    void ShowLineStatus(const std::string& text) override;
    void ShowElapsed(const std::string& text) override;
    bool StartButtonsBothDisabled() const override;
    void TakeControls() override;
    bool StartReserved() const override;
    void ClearStartReservation() override;
    bool AutoDetectOn() const override;
    bool VersionCheckOn() const override;
    std::string SinglePortName() const override;
    void ShowDetectedPort(const std::string& port) override;
    std::string MultiSlotPort(int slot) const override;
    void ShowMultiSlotPort(int slot, const std::string& port) override;
    void ColourPaths() override;

    // The application title: the text of the program's taskbar entry (the X11 icon name).
    std::string ApplicationTitle() const { return applicationTitle_; }
    TOKBottomDlgSMode* sMode() const { return sMode_; }
    TOKBottomDlgPopUp* popUp() const { return popUp_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct MultiSlot {
        QCheckBox* present = nullptr;
        QProgressBar* gauge = nullptr;
        QLineEdit* port = nullptr;
        QLabel* status = nullptr;
    };

    void BuildLogoStrip();
    void BuildFilePanel();
    void BuildImageTable(QWidget* p);
    void BuildSinglePanel();
    void BuildMultiPanel();
    void BuildAdvancedPanel();
    // The advanced panel's USB and Serial protocol groups, and its setting fields.
    void BuildProtocolGroups(QWidget* p);
    void BuildSettingFields(QWidget* p);
    // Runs a handler the way the controls' handlers run: an error that escapes it is shown
    // with ShowException.
    void RunGuarded(const std::function<void()>& handler);
    // Connects a control's signal to a handler run guarded.
    template <class Sender, class Signal>
    void Wire(Sender* sender, Signal signal, std::function<void()> handler);

    // The window's dialogs still open when it closes (a pop-up, a message box) are closed
    // with it: left open, they would keep the program running without its window.
    void CloseOpenDialogs();
    // Logs the problems of the selected images' flash ranges (overlaps, ranges beyond the
    // address space) that were not there at the last check.
    void LogFlashRangeProblems();

    DialogHost* dialogs_;
    ModelControls fields_;
    FormModel model_{fields_};
    LogPanes logs_{*this};
    FormConfiguration configuration_;
    TOKBottomDlgPopUp* popUp_ = nullptr;
    TOKBottomDlgSMode* sMode_ = nullptr;
    bool autoConfigDone_ = false;
    std::string applicationTitle_;
    bool downloadTitleShown_ = false;
    LauncherEntry launcherEntry_;
    std::function<void()> tick_;
    DownloadButtonHandlers buttons_;
    std::vector<std::string> loggedRangeProblems_;

    // The line server's status line, below everything else.
    ElidedLabel* LabelMainLineStatus = nullptr;
    QLabel* ImageZembra;
    QFrame* PanelFileSelect;
    QRadioButton* RadioButtonUSB;
    // Single panel.
    QFrame* PanelOne;
    QProgressBar* CGaugeProgress;
    QLineEdit* EditAddress;
    QLineEdit* EditTimeDisp;
    QComboBox* ComboBoxComPort;
    QCheckBox* CheckBoxAuto;
    QCheckBox* CheckBoxStartCheck;
    QPushButton* BitBtnDOStart;
    // Multi panel.
    QFrame* PanelMulti;
    std::array<MultiSlot, 8> multi_;
    QCheckBox* CheckBoxVerCheck;
    QLineEdit* EditMTimeDisp;
    QPushButton* BitBtnMultiStart;
    QPushButton* BitBtnSlotMap;  // "슬롯 지정"
    // Advanced settings panel.
    QFrame* PanelAM;
    QRadioButton* RadioButtonMulti;
    QRadioButton* RadioButtonOne;
    // Non-visual.
    QTimer* TimerComPortDetect;
};

}  // namespace zembra
