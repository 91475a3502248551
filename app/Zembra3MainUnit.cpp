#include "app/Zembra3MainUnit.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QFileInfo>
#include <QFocusEvent>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>
#include <algorithm>
#include <exception>

#include "app/AppFont.h"
#include "app/DialogHost.h"
#include "app/FormWidgets.h"
#include "app/PopUpUnit.h"
#include "app/RichEditLog.h"
#include "app/SModeUnit.h"
#include "job/FlashRanges.h"
#include "job/ImageChecks.h"
#include "job/JobCheck.h"
#include "platform/Helpers.h"
#include "platform/Version.h"
#include "protocol/RunDisplay.h"
#include "protocol/SequenceHost.h"

namespace zembra {

namespace {

const char* const kAddressHint = "16진수 값을 가질때 0x로 시작해야 합니다";
const char* const kSFileHint = "선택할 파일명과 선택파일명은 일치해야 합니다";
const char* const kFileTimeHint = "파일의 최종 수정시간으로 시작 버튼을 누르면 갱신됩니다";
const char* const kProcessHint = "다운로드 상태 '=' 다운로드 종료 'o'";

// The Korean message of a settings text that is not a number, naming the field.
std::string ConversionErrorText(const ConversionError& error) {
    std::string label = error.label;
    if (!label.empty() && label.back() == ':') label.pop_back();
    return FormatText("세부환경설정의 %s 값 '%s'은(는) 올바른 정수가 아닙니다. 숫자만 입력하세요.",
                      label.c_str(), error.text.c_str());
}

}  // namespace

// --- construction ------------------------------------------------------------------------

TMainForm::TMainForm(MainFormOptions options, QWidget* parent)
    : QWidget(parent), dialogs_(options.dialogs), configuration_(*this, options.programPath) {
    setObjectName("MainForm");
    setWindowTitle(Q(kApplicationTitle));
    // Fixed size, system menu and minimise button only.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(MAIN_FORM_WIDTH, MAIN_FORM_HEIGHT);
    setFont(WindowFont());

    BuildLogoStrip();
    BuildFilePanel();
    BuildMultiPanel();
    BuildSinglePanel();  // on top of PanelMulti
    // The panel underneath is hidden as well: the same picture, and its controls are then
    // neither Tab stops nor focus targets while single mode is shown.
    PanelMulti->hide();
    BuildAdvancedPanel();

    TimerComPortDetect = new QTimer(this);
    TimerComPortDetect->setObjectName("TimerComPortDetect");
    TimerComPortDetect->setInterval(1000);
    connect(TimerComPortDetect, &QTimer::timeout, this, [this] { TimerComPortDetectTimer(); });

    FormCreate();
}

TMainForm::~TMainForm() = default;

void TMainForm::AttachDialogs(TOKBottomDlgPopUp* popUp, TOKBottomDlgSMode* sMode) {
    popUp_ = popUp;
    sMode_ = sMode;
    configuration_.AttachPopUp(popUp);
}

template <class Sender, class Signal>
void TMainForm::Wire(Sender* sender, Signal signal, std::function<void()> handler) {
    connect(sender, signal, this, [this, handler] { RunGuarded(handler); });
}

void TMainForm::BuildLogoStrip() {
    auto* Panel6 = new QFrame(this);
    Panel6->setObjectName("Panel6");
    Panel6->setGeometry(0, 0, 47, MAIN_FORM_HEIGHT);
    ImageZembra = new QLabel(Panel6);
    ImageZembra->setObjectName("ImageZembra");
    ImageZembra->setGeometry(0, 0, 47, 462);
    ImageZembra->setPixmap(LogoPixmap());
    ImageZembra->installEventFilter(this);
}

void TMainForm::BuildFilePanel() {
    PanelFileSelect = MakePanel(this, "PanelFileSelect", QRect(47, 0, 720, 212));
    QWidget* p = PanelFileSelect;
    ModelControls& f = fields_;

    f.SpeedButtonCfg = MakeButton(p, "SpeedButtonCfg", QRect(4, 4, 64, 24), "환경파일", true);
    f.EditCfgFilePath = MakeEdit(p, "EditCfgFilePath", QRect(70, 5, 196, 22));
    auto* Edit40 = new QLabel(Q("모델명"), p);
    Edit40->setObjectName("Edit40");
    Edit40->setGeometry(272, 5, 40, 22);
    Edit40->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    f.EditModelName = MakeEdit(p, "EditModelName", QRect(316, 5, 126, 22), {}, false);
    QPushButton* BitBtnCfgSave =
        MakeButton(p, "BitBtnCfgSave", QRect(448, 4, 96, 24), "현재환경저장");
    RadioButtonUSB = MakeRadio(p, "RadioButtonUSB", QRect(556, 6, 52, 20), "USB", true);
    f.RadioButtonSerial = MakeRadio(p, "RadioButtonSerial", QRect(610, 6, 66, 20), "Serial", false);
    QPushButton* BitBtnAM = MakeButton(p, "BitBtnAM", QRect(690, 5, 24, 22), "+");
    BitBtnAM->setToolTip(Q("세부환경설정을 할 수 있는 기능으로 일반적인경우 사용하지 마세요"));
    BuildImageTable(p);

    Wire(f.SpeedButtonCfg, &QPushButton::clicked, [this] { configuration_.SpeedButtonCfgClick(); });
    Wire(BitBtnCfgSave, &QPushButton::clicked, [this] { configuration_.SaveConfiguration(false); });
    Wire(BitBtnAM, &QPushButton::clicked, [this] { BitBtnAMClick(); });
    Wire(RadioButtonUSB, &QRadioButton::toggled, [this] { RadioButtonUSBClick(); });
    Wire(f.RadioButtonSerial, &QRadioButton::toggled, [this] { RadioButtonSerialClick(); });
}

void TMainForm::BuildImageTable(QWidget* p) {
    // Column headings and columns of the image table.
    struct Column {
        int x, w;
    };
    const Column cButton{4, 64}, cSFile{70, 104}, cAddress{176, 84}, cPath{262, 276},
        cTime{540, 122}, cProcess{664, 52};
    const int headY = 32, headH = 20;
    MakeEdit(p, "Edit31", QRect(cButton.x, headY, cButton.w, headH), Q(" 파일선택"));
    MakeEdit(p, "Edit6", QRect(cSFile.x, headY, cSFile.w, headH), Q("  선택할파일명"));
    MakeEdit(p, "Edit7", QRect(cAddress.x, headY, cAddress.w, headH), Q("    시작주소"));
    MakeEdit(p, "Edit8", QRect(cPath.x, headY, cPath.w, headH),
             QString(30, QChar(' ')) + Q("파일전체경로"));
    MakeEdit(p, "Edit9", QRect(cTime.x, headY, cTime.w, headH), Q("    생성날짜시간"));
    MakeEdit(p, "Edit32", QRect(cProcess.x, headY, cProcess.w, headH), Q("진행여부"));
    for (QLineEdit* heading : p->findChildren<QLineEdit*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (heading->objectName().startsWith("Edit") && heading->objectName().size() <= 6) {
            heading->setFocusPolicy(Qt::NoFocus);
            QPalette palette = heading->palette();
            palette.setColor(QPalette::Base, palette.color(QPalette::Button));
            heading->setPalette(palette);
        }
    }

    for (int slot = 0; slot < ImageSlot::Count; ++slot) {
        const int y = 54 + slot * 22, h = 21;
        SlotRow& row = fields_.rows[static_cast<std::size_t>(slot)];
        row.button = new QPushButton(Q(SlotCaption(slot)), p);
        row.button->setObjectName(SlotControlName("SpeedButton", slot, ""));
        row.button->setGeometry(cButton.x, y, cButton.w, h);
        row.button->setCheckable(true);
        row.button->setFocusPolicy(Qt::TabFocus);
        row.sFile = MakeEdit(p, SlotControlName("Edit", slot, "SFile"),
                             QRect(cSFile.x, y, cSFile.w, h), Q(ANY_FILE), true, kSFileHint);
        if (slot == ImageSlot::Code) {
            fields_.CheckBoxChange = MakeCheck(
                p, "CheckBoxChange", QRect(cAddress.x + 4, y, cAddress.w - 4, h), "Change", false);
        } else {
            row.address = MakeEdit(p, SlotControlName("Edit", slot, "Address"),
                                   QRect(cAddress.x, y, cAddress.w, h), {}, false, kAddressHint);
            row.address->installEventFilter(this);
        }
        row.path =
            MakeEdit(p, SlotControlName("Edit", slot, "FilePath"), QRect(cPath.x, y, cPath.w, h));
        row.time = MakeEdit(p, SlotControlName("Edit", slot, "FileTime"),
                            QRect(cTime.x, y, cTime.w, h), {}, true, kFileTimeHint);
        row.process =
            MakeEdit(p, SlotControlName("Edit", slot, "FileProcess"),
                     QRect(cProcess.x, y, cProcess.w, h), Q(NOT_SENT), true, kProcessHint);
        Wire(row.button, &QPushButton::clicked, [this, slot] { SpeedButtonSlotClick(slot); });
    }
}

void TMainForm::BuildSinglePanel() {
    PanelOne = MakePanel(this, "PanelOne", QRect(47, 212, 720, 244));
    PanelOne->setAutoFillBackground(true);  // covers PanelMulti, which lies underneath
    QWidget* p = PanelOne;

    logs_.MakePane(p, true, QRect(4, 4, 476, 236));

    CGaugeProgress = MakeGauge(p, "CGaugeProgress", QRect(486, 4, 230, 22));
    EditAddress = MakeEdit(p, "EditAddress", QRect(486, 30, 112, 22));
    EditTimeDisp = MakeEdit(p, "EditTimeDisp", QRect(604, 30, 112, 22));
    ComboBoxComPort = new QComboBox(p);
    ComboBoxComPort->setObjectName("ComboBoxComPort");
    ComboBoxComPort->setGeometry(486, 56, 112, 22);
    ComboBoxComPort->setEditable(true);
    for (int n = 1; n <= 30; ++n) ComboBoxComPort->addItem(QStringLiteral("COM%1").arg(n));
    ComboBoxComPort->setCurrentIndex(0);
    ComboBoxComPort->setToolTip(Q("통신포트가 자동으로 설정되지 않으면 직접 선택하세요"));
    CheckBoxAuto = MakeCheck(p, "CheckBoxAuto", QRect(606, 57, 110, 20), "자동탐지", true);
    CheckBoxStartCheck =
        MakeCheck(p, "CheckBoxStartCheck", QRect(606, 81, 110, 20), "시작예약", false);
    BitBtnDOStart = MakeButton(p, "BitBtnDOStart", QRect(486, 106, 230, 72), "시작");
    BitBtnDOStart->setFont(WindowFont(22, true));
    QPushButton* BitBtnInfo = MakeButton(p, "BitBtnInfo", QRect(486, 184, 110, 30), "정보");
    QPushButton* BitBtnStopRequest =
        MakeButton(p, "BitBtnStopRequest", QRect(606, 184, 110, 30), "중지");

    Wire(CheckBoxAuto, &QCheckBox::toggled, [this] { CheckBoxAutoClick(); });
    Wire(BitBtnInfo, &QPushButton::clicked, [this] { BitBtnInfoClick(); });
    Wire(BitBtnDOStart, &QPushButton::clicked, [this] { buttons_.singleStart(); });
    Wire(BitBtnStopRequest, &QPushButton::clicked, [this] { buttons_.singleStop(); });
}

void TMainForm::BuildMultiPanel() {
    PanelMulti = MakePanel(this, "PanelMulti", QRect(47, 212, 720, 244));
    PanelMulti->setAutoFillBackground(true);
    QWidget* p = PanelMulti;

    for (int i = 0; i < 8; ++i) {
        const int x0 = i < 4 ? 4 : 362, y = 4 + (i % 4) * 22, n = i + 1;
        MultiSlot& slot = multi_[static_cast<std::size_t>(i)];
        slot.present =
            MakeCheck(p, QStringLiteral("CheckBoxMulti%1").arg(n), QRect(x0, y, 18, 20), "", false);
        slot.present->setEnabled(false);
        slot.gauge = MakeGauge(p, QStringLiteral("CGaugeP%1").arg(n), QRect(x0 + 20, y, 110, 20));
        slot.port = MakeEdit(p, QStringLiteral("EditMulti%1").arg(n), QRect(x0 + 134, y, 62, 20));
        slot.port->setFrame(false);
        slot.status = new QLabel(p);
        slot.status->setObjectName(QStringLiteral("LabelL%1").arg(n));
        slot.status->setGeometry(x0 + 200, y, 154, 20);
    }

    logs_.MakePane(p, false, QRect(4, 96, 476, 144));

    CheckBoxVerCheck = MakeCheck(p, "CheckBoxVerCheck", QRect(486, 97, 112, 20), "버전검사", true);
    EditMTimeDisp = MakeEdit(p, "EditMTimeDisp", QRect(604, 96, 112, 22));
    BitBtnMultiStart = MakeButton(p, "BitBtnMultiStart", QRect(486, 122, 230, 44), "시작");
    BitBtnMultiStart->setFont(WindowFont(22, true));
    BitBtnSlotMap = MakeButton(p, "BitBtnSlotMap", QRect(486, 170, 230, 26), "슬롯 지정");
    QPushButton* BitBtn4 = MakeButton(p, "BitBtn4", QRect(486, 200, 110, 30), "정보");
    QPushButton* BitBtn8 = MakeButton(p, "BitBtn8", QRect(606, 200, 110, 30), "중지");

    Wire(BitBtn4, &QPushButton::clicked, [this] { BitBtnInfoClick(); });
    Wire(BitBtnMultiStart, &QPushButton::clicked, [this] { buttons_.multiStart(); });
    Wire(BitBtn8, &QPushButton::clicked, [this] { buttons_.multiStop(); });
    Wire(BitBtnSlotMap, &QPushButton::clicked, [this] { buttons_.slotMap(); });
}

void TMainForm::BuildAdvancedPanel() {
    PanelAM = new QFrame(this);
    PanelAM->setObjectName("PanelAM");
    PanelAM->setFrameStyle(QFrame::Panel | QFrame::Raised);
    PanelAM->setLineWidth(2);
    PanelAM->setAutoFillBackground(true);
    PanelAM->setGeometry(0, 0, 509, 313);
    QWidget* p = PanelAM;

    QLineEdit* Edit44 = MakeEdit(p, "Edit44", QRect(6, 6, 497, 22), Q("      세부기능설정"));
    Edit44->setEnabled(false);
    Edit44->setFont(WindowFont(13, true));
    BuildProtocolGroups(p);
    BuildSettingFields(p);

    QPushButton* BitBtnAMClose =
        MakeButton(p, "BitBtnAMClose", QRect(6, 283, 120, 24), "적용후닫기");
    QPushButton* BitBtnDefaultValue =
        MakeButton(p, "BitBtnDefaultValue", QRect(132, 283, 120, 24), "초기값으로");
    QPushButton* BitBtnCfgSave2 =
        MakeButton(p, "BitBtnCfgSave2", QRect(256, 283, 120, 24), "파일로환경저장");
    MakeButton(p, "BitBtnAbout", QRect(479, 283, 24, 24), "?")->setVisible(false);

    PanelAM->hide();
    PanelAM->raise();

    Wire(BitBtnAMClose, &QPushButton::clicked, [this] { BitBtnAMCloseClick(); });
    Wire(BitBtnDefaultValue, &QPushButton::clicked, [this] { BitBtnDefaultValueClick(); });
    Wire(BitBtnCfgSave2, &QPushButton::clicked, [this] { configuration_.SaveConfiguration(true); });
    Wire(RadioButtonOne, &QRadioButton::toggled, [this] { RadioButtonOneClick(); });
    Wire(RadioButtonMulti, &QRadioButton::toggled, [this] { RadioButtonMultiClick(); });
}

void TMainForm::BuildProtocolGroups(QWidget* p) {
    ModelControls& f = fields_;
    QGroupBox* GroupBoxUSBControl =
        MakeGroup(p, "GroupBoxUSBControl", QRect(6, 32, 246, 150), "[USB]");
    QGroupBox* ProtocolGroupBox =
        MakeGroup(GroupBoxUSBControl, "ProtocolGroupBox", QRect(6, 18, 234, 78), "[다운로드규약]");
    const char* const kPpvHint = "Press & Progress & Verify USB";
    f.RadioButtonAutoUSB = MakeRadio(ProtocolGroupBox, "RadioButtonAutoUSB", QRect(10, 18, 210, 18),
                                     "자동탐지USB", true, kPpvHint);
    f.PressProgressUSBRadioButton = MakeRadio(ProtocolGroupBox, "PressProgressUSBRadioButton",
                                              QRect(10, 37, 210, 18), "PPV USB", false, kPpvHint);
    f.NormalUSBRadioButton =
        MakeRadio(ProtocolGroupBox, "NormalUSBRadioButton", QRect(10, 56, 210, 18), "일반적인USB",
                  false, "모든 USB 다운로더의 기본Protocol");
    QGroupBox* GroupBox1 =
        MakeGroup(GroupBoxUSBControl, "GroupBox1", QRect(6, 100, 234, 44), "[다운로드방법]");
    RadioButtonMulti =
        MakeRadio(GroupBox1, "RadioButtonMulti", QRect(10, 18, 110, 20), "멀티다운로드", false);
    RadioButtonOne =
        MakeRadio(GroupBox1, "RadioButtonOne", QRect(124, 18, 100, 20), "하나만", true);

    QGroupBox* GroupBoxSerialControl =
        MakeGroup(p, "GroupBoxSerialControl", QRect(6, 186, 246, 92), "[Serial]");
    QGroupBox* GroupBox4 =
        MakeGroup(GroupBoxSerialControl, "GroupBox4", QRect(6, 20, 234, 66), "[다운로드규약]");
    f.RadioButtonUARTAuto =
        MakeRadio(GroupBox4, "RadioButtonUARTAuto", QRect(10, 15, 210, 17), "자동탐지UART", true);
    f.RadioButtonPUART =
        MakeRadio(GroupBox4, "RadioButtonPUART", QRect(10, 31, 210, 17), "Press UART", false);
    f.RadioButtonUART =
        MakeRadio(GroupBox4, "RadioButtonUART", QRect(10, 47, 210, 17), "일반적인UART", false);
}

void TMainForm::BuildSettingFields(QWidget* p) {
    ModelControls& f = fields_;
    QGroupBox* GroupBox2 = MakeGroup(p, "GroupBox2", QRect(256, 32, 247, 246), "[환경설정값]");
    QWidget* g = GroupBox2;
    auto timeField = [g](const char* name, const char* labelName, const char* label, int y,
                         const char* value) {
        auto* caption = new QLabel(Q(label), g);
        caption->setObjectName(labelName);
        caption->setGeometry(8, y, 160, 21);
        QLineEdit* edit = MakeEdit(g, name, QRect(170, y, 68, 21), Q(value), false);
        edit->setAlignment(Qt::AlignRight);
        return edit;
    };
    f.EditResponseWaitTime = timeField("EditResponseWaitTime", "LabelResponseWaitTime",
                                       "패킷CMD응답대기시간(ms):", 18, "20000");
    f.EditNormalCMDWaitTime = timeField("EditNormalCMDWaitTime", "LabelNormalCMDWaitTime",
                                        "일반CMD응답대기시간(ms):", 42, "500");
    f.EditCmd2CmdWaitTime = timeField("EditCmd2CmdWaitTime", "LabelCmd2CmdWaitTime",
                                      "CMD사이의대기시간(ms):", 66, "200");
    f.EditEraseWaitTime =
        timeField("EditEraseWaitTime", "LabelEraseWaitTime", "삭제요청대기시간(sec):", 90, "600");
    f.CheckBoxViewInvalidFCS = MakeCheck(g, "CheckBoxViewInvalidFCS", QRect(8, 114, 232, 20),
                                         "NAK INVALID FCS 표시하기", false);
    f.EditMultiEraseMeanTime = timeField("EditMultiEraseMeanTime", "LabelMultiEraseMeanTime",
                                         "멀티시삭제시간의초과(sec):", 138, "300");
    f.EditMultiEraseMeanTime->setToolTip(
        Q("멀티다운로드시삭제중Phone마다 삭제시간이 틀린경우 평균 삭제시간과의 차이가 TimeOut을 "
          "결정한다"));
    f.CheckBoxBinSizeCheck = MakeCheck(g, "CheckBoxBinSizeCheck", QRect(8, 164, 232, 20),
                                       "Bin Size 64K 검사 하기", true);
    f.CheckBoxFont0Check = MakeCheck(g, "CheckBoxFont0Check", QRect(8, 188, 232, 20),
                                     "Font 0 주소 다운로드 허용", false);
    f.CheckBoxAuto16 =
        MakeCheck(g, "CheckBoxAuto16", QRect(8, 212, 232, 20), "주소에 0x 자동으로 붙이기", true);
}

void TMainForm::RunGuarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ShowException(e.what());
    } catch (...) {
        ShowException("Unknown error");
    }
}

void TMainForm::ShowException(const std::string& message) {
    dialogs_->ShowMessage(message, kApplicationTitle, mb::kOk | mb::kIconStop);
}

// --- form events -------------------------------------------------------------------------

void TMainForm::FormCreate() {
    SetTitle(kApplicationTitle);
    TimerComPortDetect->start();
}

void TMainForm::FormResize() {
    // The window has a fixed size, so the resize that matters is the one of the first
    // showing; later notifications (a window manager re-sending the geometry) must not load
    // the file again over settings the operator has changed since.
    if (autoConfigDone_) return;
    autoConfigDone_ = true;
    configuration_.LoadAutomatic();
}

void TMainForm::FormClose() {
    TimerComPortDetect->stop();
}

void TMainForm::CloseOpenDialogs() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(window);
        if (dialog && dialog->isVisible()) dialog->reject();
    }
}

void TMainForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // Before the first showing the pop-up of the automatic load would appear without its
    // main window; showEvent runs the load once the window is on screen.
    if (isVisible()) RunGuarded([&] { FormResize(); });
}

void TMainForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!autoConfigDone_ && !event->spontaneous()) {
        if (const QScreen* screen = this->screen()) {
            const QRect area = screen->availableGeometry();
            const QRect frame = frameGeometry();
            move(area.center() - QPoint(frame.width() / 2, frame.height() / 2));
        }
        QTimer::singleShot(0, this, [this] { RunGuarded([&] { FormResize(); }); });
    }
}

void TMainForm::closeEvent(QCloseEvent* event) {
    RunGuarded([&] { FormClose(); });
    CloseOpenDialogs();
    event->accept();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ImageZembra && event->type() == QEvent::MouseButtonDblClick) {
        RunGuarded([&] { ImageZembraDblClick(); });
        return true;
    }
    // Leaving a field means moving the focus to another control of the window; the window
    // itself losing the focus (another program, a message box) is not leaving the field.
    if (event->type() == QEvent::FocusOut &&
        static_cast<QFocusEvent*>(event)->reason() != Qt::ActiveWindowFocusReason &&
        static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) {
        for (int font = 1; font <= 6; ++font) {
            if (watched == fields_.rows[static_cast<std::size_t>(font)].address) {
                RunGuarded([&] { EditFontAddressExit(font); });
                break;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

// --- mode switches -----------------------------------------------------------------------

bool TMainForm::IsSingleMode() const {
    return !PanelOne->isHidden();
}

void TMainForm::RadioButtonOneClick() {
    if (!RadioButtonOne->isChecked()) return;
    PanelMulti->hide();
    PanelOne->show();
}

void TMainForm::RadioButtonMultiClick() {
    if (!RadioButtonMulti->isChecked()) return;
    PanelMulti->show();
    PanelOne->hide();
    RadioButtonUSB->setChecked(true);  // multi downloads use USB only
}

void TMainForm::RadioButtonUSBClick() {
    if (RadioButtonUSB->isChecked()) CheckBoxAuto->setEnabled(true);
}

void TMainForm::RadioButtonSerialClick() {
    if (RadioButtonMulti->isChecked()) {
        if (fields_.RadioButtonSerial->isChecked()) RadioButtonUSB->setChecked(true);
        return;
    }
    if (!fields_.RadioButtonSerial->isChecked()) return;
    ComboBoxComPort->setEnabled(true);
    CheckBoxAuto->setEnabled(false);  // its tick stays
}

void TMainForm::CheckBoxAutoClick() {
    if (!CheckBoxAuto->isChecked()) ComboBoxComPort->setEnabled(true);
}

// --- advanced settings panel ------------------------------------------------------------

void TMainForm::BitBtnAMClick() {
    BitBtnDOStart->setEnabled(false);
    BitBtnMultiStart->setEnabled(false);
    const QRect outer = frameGeometry();
    PanelAM->move(outer.width() / 2 - PanelAM->width() / 2,
                  outer.height() / 2 - PanelAM->height() / 2);
    PanelAM->show();
    PanelAM->raise();
}

void TMainForm::BitBtnAMCloseClick() {
    PanelAM->hide();
    BitBtnDOStart->setEnabled(true);
    BitBtnMultiStart->setEnabled(true);
}

void TMainForm::BitBtnDefaultValueClick() {
    DownloadSettings settings = model_.ReadSettings();
    ApplyInitialValues(settings);
    model_.ApplySettings(settings);
}

// --- image slots -------------------------------------------------------------------------

void TMainForm::SpeedButtonSlotClick(int slot) {
    if (fields_.rows.at(static_cast<std::size_t>(slot)).button->isChecked())
        SelectImage(slot);
    else
        ClearSlot(slot);
}

void TMainForm::SelectImage(int slot) {
    SlotRow& row = fields_.rows.at(static_cast<std::size_t>(slot));
    row.button->setChecked(true);
    FileDialogRequest request;
    request.name = SlotControlName("OpenDialog", slot, "").toStdString();
    request.filter = IMAGE_DIALOG_FILTER;
    if (slot == ImageSlot::Code) request.defaultExt = CODE_DIALOG_DEFAULT_EXT;
    request.mustExist = true;
    request.folder = LastDialogFolder();
    const std::optional<std::string> chosen = dialogs_->GetOpenFileName(request);
    if (!chosen) {
        ClearSlot(slot);
        return;
    }
    RememberDialogFolder(*chosen);
    SelectImageFile(slot, *chosen);
}

void TMainForm::SelectImageFile(int slot, const std::string& chosen) {
    SlotRow& row = fields_.rows.at(static_cast<std::size_t>(slot));
    row.button->setChecked(true);
    // The path field shows the whole path, as the dialog gives it, also for a name relative
    // to the working folder (--code FILE).
    const std::string path =
        chosen.empty() ? chosen
                       : QFileInfo(QString::fromStdString(chosen)).absoluteFilePath().toStdString();
    SelectionResult result =
        zembra::SelectImageFile(slot, path, fields_.CheckBoxBinSizeCheck->isChecked());
    for (const LogLine& line : result.log) AppendLine(LogPane::Front, line.text, line.colour);
    ImageSlot value = model_.ReadSlot(slot);
    ApplySelection(value, result);
    model_.ApplySlot(slot, value);
    LogFlashRangeProblems();
    // The address taken from the file name is filled in even while a configuration holds the
    // field disabled; the focus only moves into a field that can take it.
    if (result.selected && result.addressText && row.address && row.address->isEnabled())
        row.address->setFocus(Qt::OtherFocusReason);
}

void TMainForm::ClearSlot(int slot) {
    ImageSlot value = model_.ReadSlot(slot);
    zembra::ClearSlot(value);
    model_.ApplySlot(slot, value);
}

void TMainForm::EditFontAddressExit(int font) {
    QLineEdit* edit = fields_.rows.at(static_cast<std::size_t>(font)).address;
    const std::string text = edit->text().toStdString();
    const std::string fixed = AddressOnExit(text, fields_.CheckBoxAuto16->isChecked());
    if (fixed != text) edit->setText(Q(fixed));
    LogFlashRangeProblems();
}

void TMainForm::LogFlashRangeProblems() {
    // Each problem is said when it appears, not again each time a field is left.
    std::vector<std::string> problems = FlashRangeProblems(model_.ReadJob());
    for (const std::string& line : problems)
        if (std::find(loggedRangeProblems_.begin(), loggedRangeProblems_.end(), line) ==
            loggedRangeProblems_.end())
            AppendLine(LogPane::Front, line, COLOUR_RED);
    loggedRangeProblems_ = std::move(problems);
}

// --- pop-up, hidden menu -----------------------------------------------------------------

void TMainForm::BitBtnInfoClick() {
    if (popUp_) dialogs_->ShowModal(*popUp_);
}

void TMainForm::ImageZembraDblClick() {
    if (sMode_) dialogs_->ShowModal(*sMode_);
}

// --- log panes ---------------------------------------------------------------------------

void TMainForm::AppendLine(LogPane pane, const std::string& text, std::uint32_t colour) {
    logs_.AppendLine(pane, text, colour);
}

// --- engine hosts ------------------------------------------------------------------------

void TMainForm::SetGauge(int percent) {
    CGaugeProgress->setValue(std::clamp(percent, 0, 100));
    SetTaskProgress(percent);
}

void TMainForm::SetTitle(const std::string& title) {
    applicationTitle_ = title;
    setWindowIconText(Q(title));
    if (downloadTitleShown_) setWindowTitle(Q(title));
}

void TMainForm::SetAddressText(const std::string& text) {
    EditAddress->setText(Q(text));
}

void TMainForm::SetMarker(int slot, const std::string& marker) {
    if (slot < 0 || slot >= ImageSlot::Count) return;
    fields_.rows[static_cast<std::size_t>(slot)].process->setText(Q(marker));
}

void TMainForm::RunEnded(int slot, const RunEnd&) {
    if (slot != 0) return;  // a multi slot's end shows in the status tick
    GiveControlsBack();
    SetDownloadTitleShown(false);
}

void TMainForm::ShowSlot(int slot, const MultiSlotView& view) {
    const MultiSlot& row = multi_.at(static_cast<std::size_t>(slot));
    row.gauge->setValue(view.percent);
    row.status->setText(Q(view.statusText));
}

void TMainForm::ShowLeader(const MultiSlotView& lead) {
    SetMarker(lead.currentImage, SENT);
    SetTitle(ProgressTitle(lead.percent));
    SetTaskProgress(lead.percent);
}

void TMainForm::GiveControlsBack() {
    PanelFileSelect->setEnabled(true);
    BitBtnDOStart->setEnabled(true);
    if (!fields_.RadioButtonSerial->isChecked()) CheckBoxAuto->setEnabled(true);
}

void TMainForm::ShowJobError(int code) {
    const std::string text = JobErrorText(code);
    if (!text.empty()) dialogs_->ShowMessage(text, JOB_ERROR_CAPTION, mb::kOk);
}

bool TMainForm::AskOverride() {
    return dialogs_->ShowMessage(MULTI_OVERRIDE_QUESTION, QUESTION_CAPTION, mb::kYesNo) ==
           mb::kIdYes;
}

void TMainForm::ShowConversionError(const ConversionError& error) {
    ShowException(ConversionErrorText(error));
}

void TMainForm::SetStartControlsEnabled(bool enabled) {
    PanelFileSelect->setEnabled(enabled);
    BitBtnMultiStart->setEnabled(enabled);
    BitBtnSlotMap->setEnabled(enabled);
}

// --- title, colours, timer -----------------------------------------------------------------

void TMainForm::SetDownloadTitleShown(bool shown) {
    downloadTitleShown_ = shown;
    setWindowTitle(Q(shown ? applicationTitle_ : std::string(kApplicationTitle)));
    if (!shown) launcherEntry_.SetProgress(std::nullopt);
}

void TMainForm::SetTaskProgress(int percent) {
    if (downloadTitleShown_) launcherEntry_.SetProgress(std::clamp(percent, 0, 100));
}

void TMainForm::ShowLineStatus(const std::string& text) {
    constexpr int kHeight = 22;
    if (text.empty() && LabelMainLineStatus == nullptr) return;
    if (LabelMainLineStatus == nullptr) {
        LabelMainLineStatus = new ElidedLabel(this);
        LabelMainLineStatus->setObjectName("LabelMainLineStatus");
        LabelMainLineStatus->setGeometry(47, MAIN_FORM_HEIGHT, MAIN_FORM_WIDTH - 47, kHeight);
        LabelMainLineStatus->setIndent(4);
    }
    LabelMainLineStatus->SetFullText(Q(text));
    LabelMainLineStatus->setVisible(!text.empty());
    setFixedSize(MAIN_FORM_WIDTH, MAIN_FORM_HEIGHT + (text.empty() ? 0 : kHeight));
}

void TMainForm::TimerComPortDetectTimer() {
    if (tick_) RunGuarded(tick_);
}

// --- the downloads' controls -------------------------------------------------------------------

void TMainForm::ShowElapsed(const std::string& text) {
    (IsSingleMode() ? EditTimeDisp : EditMTimeDisp)->setText(Q(text));
}

bool TMainForm::StartButtonsBothDisabled() const {
    return !BitBtnDOStart->isEnabled() && !BitBtnMultiStart->isEnabled();
}

void TMainForm::TakeControls() {
    PanelFileSelect->setEnabled(false);
    BitBtnDOStart->setEnabled(false);
    CheckBoxAuto->setEnabled(false);
}

bool TMainForm::StartReserved() const {
    return CheckBoxStartCheck->isChecked();
}

void TMainForm::ClearStartReservation() {
    CheckBoxStartCheck->setChecked(false);
}

bool TMainForm::AutoDetectOn() const {
    return CheckBoxAuto->isEnabled() && CheckBoxAuto->isChecked();
}

bool TMainForm::VersionCheckOn() const {
    return CheckBoxVerCheck->isChecked();
}

std::string TMainForm::SinglePortName() const {
    return ComboBoxComPort->currentText().trimmed().toStdString();
}

void TMainForm::ShowDetectedPort(const std::string& port) {
    ComboBoxComPort->setEnabled(port.empty());
    if (port.empty())
        CGaugeProgress->setValue(0);
    else if (ComboBoxComPort->currentText() != Q(port))
        ComboBoxComPort->setEditText(Q(port));
}

std::string TMainForm::MultiSlotPort(int slot) const {
    return multi_.at(static_cast<std::size_t>(slot)).port->text().trimmed().toStdString();
}

void TMainForm::ShowMultiSlotPort(int slot, const std::string& port) {
    const MultiSlot& row = multi_.at(static_cast<std::size_t>(slot));
    row.present->setChecked(!port.empty());
    if (port.empty()) {
        row.gauge->setValue(0);
        row.status->clear();
        row.port->clear();
    } else if (row.port->text() != Q(port)) {
        row.port->setText(Q(port));
    }
}

void TMainForm::ColourPaths() {
    for (const SlotRow& row : fields_.rows) {
        const bool matches =
            ExpectedNameRule(row.path->text().toStdString(), row.sFile->text().toStdString());
        const std::uint32_t colour = matches ? WindowTextColour() : MISMATCH_COLOUR;
        if (FontColour(row.path) != colour) SetFontColour(row.path, colour);
    }
}

}  // namespace zembra
