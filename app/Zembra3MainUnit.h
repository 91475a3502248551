#pragma once

#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/LauncherEntry.h"
#include "job/DownloadJob.h"
#include "job/DownloadSettings.h"
#include "multi/MultiHost.h"
#include "protocol/DownloadHost.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QGroupBox;
class QTimer;

namespace zembra {

class DialogHost;
class RichEditLog;
class TOKBottomDlgPopUp;
class TOKBottomDlgSMode;

// The Korean message of a settings text that is not a number, naming the field.
std::string ConversionErrorText(const ConversionError& error);

// Colours of log lines (Windows colour values).
inline constexpr std::uint32_t LOG_BLACK = 0x000000;
inline constexpr std::uint32_t LOG_RED = 0x0000FF;
inline constexpr std::uint32_t LOG_BLUE = 0xFF0000;

// Client size of the main window.
inline constexpr int MAIN_FORM_WIDTH = 767;
inline constexpr int MAIN_FORM_HEIGHT = 456;

// The settings-only file that the window loads at its first showing and that
// "파일로환경저장" writes: next to the program (AutoConfigPathFor) when the program's folder
// can be written, as for a program run from its build or install folder; otherwise (a
// packaged program in /usr/bin) the same file name in $XDG_CONFIG_HOME/zembra/ (default
// ~/.config/zembra/).
std::string SettingsFilePathFor(const std::string& programPath);

struct MainFormOptions {
    // The program file's full path; the automatic configuration file is derived from it
    // (autoConfigPath, SettingsFilePathFor). Empty: the running program's own path.
    std::string programPath;
    // Message boxes, file dialogs and modal dialogs. Must outlive the window.
    DialogHost* dialogs = nullptr;
};

// The main window. Its controls are the live state of the job and the settings: there is no
// second copy. ReadJob / ReadSettings build the model of job/ from the controls on demand
// (for the configuration writer, the Start snapshot, the selection checks) and ApplyJob /
// ApplySettings put a model back into them (configuration reader, initial values). Control
// objectNames are the names the rest of the program and the tests use.
//
// It is also the engines' host (DownloadHost for the single engine's bridge, MultiDownloadHost
// for the multi start): those calls arrive on the main thread and touch the controls only.
class TMainForm : public QWidget, public DownloadHost, public MultiDownloadHost {
    Q_OBJECT
    // The downloads drive the Start/Stop buttons, the tick's controls and the slot rows.
    friend class DownloadController;

  public:
    explicit TMainForm(MainFormOptions options, QWidget* parent = nullptr);
    ~TMainForm() override;

    // The pop-up and the hidden menu are created after the main window (start-up order);
    // they are attached here and must outlive it.
    void AttachDialogs(TOKBottomDlgPopUp* popUp, TOKBottomDlgSMode* sMode);

    // --- model adapter -------------------------------------------------------------------
    ImageSlot ReadSlot(int slot) const;
    void ApplySlot(int slot, const ImageSlot& value);
    DownloadJob ReadJob() const;
    void ApplyJob(const DownloadJob& job);
    DownloadSettings ReadSettings() const;
    void ApplySettings(const DownloadSettings& settings);
    Link ReadLink() const;  // RadioButtonUSB / RadioButtonSerial
    bool configLoaded() const;

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
    void SpeedButtonCfgClick();
    void BitBtnCfgSaveClick();
    void BitBtnCfgSave2Click();
    void BitBtnInfoClick();
    void ImageZembraDblClick();
    void RichEditOutputChange();
    void RichEdit21Change();

    // --- log panes ---------------------------------------------------------------------------
    // To RichEditOutput while PanelOne is visible, otherwise to RichEdit21.
    void LogSingle(const std::string& text, std::uint32_t colour) override;
    void LogSingle(const char* text, std::uint32_t colour);
    // To RichEdit21 whichever panel is visible.
    void LogMulti(const std::string& text, std::uint32_t colour) override;
    void LogMulti(const char* text, std::uint32_t colour);

    // --- DownloadHost: the single engine's bridge ----------------------------------------------
    void SetGauge(int percent) override;                    // CGaugeProgress
    void SetTitle(const std::string& title) override;       // application title
    void SetAddressText(const std::string& text) override;  // EditAddress
    void SetMarker(int slot, const std::string& marker) override;
    // PanelFileSelect and BitBtnDOStart enabled; CheckBoxAuto enabled unless Serial is chosen.
    void GiveControlsBack() override;

    // --- MultiDownloadHost: the multi start ------------------------------------------------------
    void ShowJobError(int code) override;  // caption "오류", OK; codes without a text: nothing
    bool AskOverride() override;           // the multi question, Yes/No
    void ShowConversionError(const ConversionError& error) override;
    void SetStartControlsEnabled(bool enabled) override;  // PanelFileSelect, BitBtnMultiStart

    // --- state and seams for the timer, the slot display and the start handlers --------------
    bool IsSingleMode() const;  // PanelOne visible (shown on top of PanelMulti)
    const std::string& autoConfigPath() const { return autoConfigPath_; }
    // The application title: the text of the program's taskbar entry (the X11 icon name).
    // While a download runs the window title shows it too, since that is what Linux task
    // bars and window lists show; otherwise the window title is "Zembra 4.2".
    void SetApplicationTitle(const std::string& title);
    std::string ApplicationTitle() const;
    // A download has started (true) or the last one has ended (false): the window title,
    // and the progress of the task bar entry (LauncherEntry) goes away at the end.
    void SetDownloadTitleShown(bool shown);
    // The percentage on the task bar entry while a download runs (the single gauge, the
    // leading phone in multi mode).
    void SetTaskProgress(int percent);
    // The line server's status line under the panels ("" hides it): the window grows by its
    // height only while a line server is configured.
    void ShowLineStatus(const std::string& text);
    // Font colour of a text field as a Windows colour value (path fields turn red).
    static void SetFontColour(QLineEdit* edit, std::uint32_t colour);
    static std::uint32_t FontColour(const QLineEdit* edit);
    // The normal text colour of a field, as a Windows colour value.
    static std::uint32_t WindowTextColour();
    // The one-second housekeeping tick. The timer runs from FormCreate on; its work is
    // installed by the owner of the port detection and slot display.
    void SetTickHandler(std::function<void()> tick);
    void TimerComPortDetectTimer();
    DialogHost& dialogs() { return *dialogs_; }
    TOKBottomDlgSMode* sMode() const { return sMode_; }
    TOKBottomDlgPopUp* popUp() const { return popUp_; }

    // Shows an error that escaped a handler the way the toolkit's standard error display
    // does: a message box with the text, the application title as caption and a stop icon;
    // the program goes on.
    void ShowException(const std::string& message);
    // Runs a handler the way the controls' handlers run: an error that escapes it is shown
    // with ShowException.
    void RunGuarded(const std::function<void()>& handler);

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct SlotRow {
        QPushButton* button = nullptr;  // SpeedButtonCode / SpeedButtonFontN
        QLineEdit* sFile = nullptr;     // expected name
        QLineEdit* address = nullptr;   // fonts only
        QLineEdit* path = nullptr;
        QLineEdit* time = nullptr;
        QLineEdit* process = nullptr;
    };
    struct MultiSlot {
        QCheckBox* present = nullptr;
        QProgressBar* gauge = nullptr;
        QLineEdit* port = nullptr;
        QLabel* status = nullptr;
    };

    void BuildLogoStrip();
    void BuildFilePanel();
    void BuildSinglePanel();
    void BuildMultiPanel();
    void BuildAdvancedPanel();
    // The advanced panel's USB and Serial protocol groups, and its setting fields.
    void BuildProtocolGroups(QWidget* p);
    void BuildSettingFields(QWidget* p);
    void WriteBanner(RichEditLog* pane);
    template <class F>
    void Guarded(F&& handler);

    // Configuration reader (SpeedButtonCfgClick) for the file at path; autoConfig: the
    // settings-only automatic load. Returns false when the file could not be read.
    bool LoadConfiguration(const std::string& path, bool autoConfig);
    // The window's dialogs still open when it closes (a pop-up, a message box) are closed
    // with it: left open, they would keep the program running without its window.
    void CloseOpenDialogs();
    void ResetConfigState();  // expected names to "     임의파일", model empty, fields enabled
    void SaveConfiguration(bool autoConfig);
    // Logs the problems of the selected images' flash ranges (overlaps, ranges beyond the
    // address space) that were not there at the last check.
    void LogFlashRangeProblems();

    MainFormOptions options_;
    DialogHost* dialogs_;
    TOKBottomDlgPopUp* popUp_ = nullptr;
    TOKBottomDlgSMode* sMode_ = nullptr;
    std::string autoConfigPath_;
    bool autoConfigDone_ = false;
    std::string applicationTitle_;
    bool downloadTitleShown_ = false;
    LauncherEntry launcherEntry_;
    std::function<void()> tick_;
    std::vector<std::string> loggedRangeProblems_;

    // The line server's status line, below everything else.
    QLabel* LabelMainLineStatus = nullptr;
    // Logo strip.
    QFrame* Panel6;
    QLabel* ImageZembra;
    // File panel.
    QFrame* PanelFileSelect;
    QPushButton* SpeedButtonCfg;
    QLineEdit* EditCfgFilePath;
    QLabel* Edit40;
    QLineEdit* EditModelName;
    QPushButton* BitBtnCfgSave;
    QRadioButton* RadioButtonUSB;
    QRadioButton* RadioButtonSerial;
    QPushButton* BitBtnAM;
    QCheckBox* CheckBoxChange;
    std::array<SlotRow, ImageSlot::Count> rows_;
    // Single panel.
    QFrame* PanelOne;
    QProgressBar* CGaugeProgress;
    QLineEdit* EditAddress;
    QLineEdit* EditTimeDisp;
    QComboBox* ComboBoxComPort;
    QCheckBox* CheckBoxAuto;
    QCheckBox* CheckBoxStartCheck;
    QPushButton* BitBtnDOStart;
    QPushButton* BitBtnInfo;
    QPushButton* BitBtnStopRequest;
    RichEditLog* RichEditOutput;
    // Multi panel.
    QFrame* PanelMulti;
    std::array<MultiSlot, 8> multi_;
    QCheckBox* CheckBoxVerCheck;
    QLineEdit* EditMTimeDisp;
    QPushButton* BitBtnMultiStart;
    QPushButton* BitBtn4;
    QPushButton* BitBtn8;
    RichEditLog* RichEdit21;
    // Advanced settings panel.
    QFrame* PanelAM;
    QLineEdit* Edit44;
    QGroupBox* GroupBoxUSBControl;
    QGroupBox* ProtocolGroupBox;
    QRadioButton* RadioButtonAutoUSB;
    QRadioButton* PressProgressUSBRadioButton;
    QRadioButton* NormalUSBRadioButton;
    QGroupBox* GroupBox1;
    QRadioButton* RadioButtonMulti;
    QRadioButton* RadioButtonOne;
    QGroupBox* GroupBoxSerialControl;
    QGroupBox* GroupBox4;
    QRadioButton* RadioButtonUARTAuto;
    QRadioButton* RadioButtonPUART;
    QRadioButton* RadioButtonUART;
    QGroupBox* GroupBox2;
    QLineEdit* EditResponseWaitTime;
    QLineEdit* EditNormalCMDWaitTime;
    QLineEdit* EditCmd2CmdWaitTime;
    QLineEdit* EditEraseWaitTime;
    QCheckBox* CheckBoxViewInvalidFCS;
    QLineEdit* EditMultiEraseMeanTime;
    QCheckBox* CheckBoxBinSizeCheck;
    QCheckBox* CheckBoxFont0Check;
    QCheckBox* CheckBoxAuto16;
    QPushButton* BitBtnAMClose;
    QPushButton* BitBtnDefaultValue;
    QPushButton* BitBtnCfgSave2;
    QPushButton* BitBtnAbout;
    // Non-visual.
    QTimer* TimerComPortDetect;
};

}  // namespace zembra
