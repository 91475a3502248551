#include "app/Zembra3MainUnit.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFocusEvent>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QScreen>
#include <QShowEvent>
#include <QStandardPaths>
#include <QTimer>
#include <algorithm>
#include <exception>

#include "app/AppFont.h"
#include "app/DialogHost.h"
#include "app/FormWidgets.h"
#include "app/PopUpUnit.h"
#include "app/RichEditLog.h"
#include "app/SModeUnit.h"
#include "job/ConfigFile.h"
#include "job/FlashRanges.h"
#include "job/ImageChecks.h"
#include "job/JobCheck.h"
#include "platform/Helpers.h"
#include "platform/Version.h"

namespace zembra {

namespace {

const char* const kAddressHint = "16진수 값을 가질때 0x로 시작해야 합니다";
const char* const kSFileHint = "선택할 파일명과 선택파일명은 일치해야 합니다";
const char* const kFileTimeHint = "파일의 최종 수정시간으로 시작 버튼을 누르면 갱신됩니다";
const char* const kProcessHint = "다운로드 상태 '=' 다운로드 종료 'o'";

// The dialog component of each slot's button.
const char* const kOpenDialogNames[ImageSlot::Count] = {
    "OpenDialogCode",  "OpenDialogFont1", "OpenDialogFont2", "OpenDialogFont3",
    "OpenDialogFont4", "OpenDialogFont5", "OpenDialogFont6"};

}  // namespace

std::string SettingsFilePathFor(const std::string& programPath) {
    const std::string nextToProgram = AutoConfigPathFor(programPath);
    const QString folder = QFileInfo(QString::fromStdString(nextToProgram)).absolutePath();
    if (FolderWritable(folder.toLocal8Bit().constData())) return nextToProgram;
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return (config + "/zembra/").toStdString() + FileNameOnly(nextToProgram);
}

std::string ConversionErrorText(const ConversionError& error) {
    std::string label = error.label;
    if (!label.empty() && label.back() == ':') label.pop_back();
    return FormatText("세부환경설정의 %s 값 '%s'은(는) 올바른 정수가 아닙니다. 숫자만 입력하세요.",
                      label.c_str(), error.text.c_str());
}

// --- construction ------------------------------------------------------------------------

TMainForm::TMainForm(MainFormOptions options, QWidget* parent)
    : QWidget(parent), options_(std::move(options)), dialogs_(options_.dialogs) {
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
}

void TMainForm::BuildLogoStrip() {
    Panel6 = new QFrame(this);
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

    SpeedButtonCfg = MakeButton(p, "SpeedButtonCfg", QRect(4, 4, 64, 24), "환경파일", true);
    EditCfgFilePath = MakeEdit(p, "EditCfgFilePath", QRect(70, 5, 196, 22));
    Edit40 = new QLabel(Q("모델명"), p);
    Edit40->setObjectName("Edit40");
    Edit40->setGeometry(272, 5, 40, 22);
    Edit40->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    EditModelName = MakeEdit(p, "EditModelName", QRect(316, 5, 126, 22), {}, false);
    BitBtnCfgSave = MakeButton(p, "BitBtnCfgSave", QRect(448, 4, 96, 24), "현재환경저장");
    RadioButtonUSB = MakeRadio(p, "RadioButtonUSB", QRect(556, 6, 52, 20), "USB", true);
    RadioButtonSerial = MakeRadio(p, "RadioButtonSerial", QRect(610, 6, 66, 20), "Serial", false);
    BitBtnAM = MakeButton(p, "BitBtnAM", QRect(690, 5, 24, 22), "+");
    BitBtnAM->setToolTip(Q("세부환경설정을 할 수 있는 기능으로 일반적인경우 사용하지 마세요"));

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
        SlotRow& row = rows_[static_cast<std::size_t>(slot)];
        row.button = new QPushButton(Q(SlotCaption(slot)), p);
        row.button->setObjectName(SlotControlName("SpeedButton", slot, ""));
        row.button->setGeometry(cButton.x, y, cButton.w, h);
        row.button->setCheckable(true);
        row.button->setFocusPolicy(Qt::TabFocus);
        row.sFile = MakeEdit(p, SlotControlName("Edit", slot, "SFile"),
                             QRect(cSFile.x, y, cSFile.w, h), Q(ANY_FILE), true, kSFileHint);
        if (slot == ImageSlot::Code) {
            CheckBoxChange = MakeCheck(
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
        connect(row.button, &QPushButton::clicked, this,
                [this, slot] { Guarded([&] { SpeedButtonSlotClick(slot); }); });
    }

    connect(SpeedButtonCfg, &QPushButton::clicked, this,
            [this] { Guarded([&] { SpeedButtonCfgClick(); }); });
    connect(BitBtnCfgSave, &QPushButton::clicked, this,
            [this] { Guarded([&] { BitBtnCfgSaveClick(); }); });
    connect(BitBtnAM, &QPushButton::clicked, this, [this] { Guarded([&] { BitBtnAMClick(); }); });
    connect(RadioButtonUSB, &QRadioButton::toggled, this,
            [this] { Guarded([&] { RadioButtonUSBClick(); }); });
    connect(RadioButtonSerial, &QRadioButton::toggled, this,
            [this] { Guarded([&] { RadioButtonSerialClick(); }); });
}

void TMainForm::BuildSinglePanel() {
    PanelOne = MakePanel(this, "PanelOne", QRect(47, 212, 720, 244));
    PanelOne->setAutoFillBackground(true);  // covers PanelMulti, which lies underneath
    QWidget* p = PanelOne;

    RichEditOutput = new RichEditLog(p);
    RichEditOutput->setObjectName("RichEditOutput");
    RichEditOutput->setGeometry(4, 4, 476, 236);

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
    BitBtnInfo = MakeButton(p, "BitBtnInfo", QRect(486, 184, 110, 30), "정보");
    BitBtnStopRequest = MakeButton(p, "BitBtnStopRequest", QRect(606, 184, 110, 30), "중지");

    WriteBanner(RichEditOutput);

    connect(CheckBoxAuto, &QCheckBox::toggled, this,
            [this] { Guarded([&] { CheckBoxAutoClick(); }); });
    connect(BitBtnInfo, &QPushButton::clicked, this,
            [this] { Guarded([&] { BitBtnInfoClick(); }); });
    connect(RichEditOutput, &QTextEdit::textChanged, this, [this] { RichEditOutputChange(); });
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

    RichEdit21 = new RichEditLog(p);
    RichEdit21->setObjectName("RichEdit21");
    RichEdit21->setGeometry(4, 96, 476, 144);

    CheckBoxVerCheck = MakeCheck(p, "CheckBoxVerCheck", QRect(486, 97, 112, 20), "버전검사", true);
    EditMTimeDisp = MakeEdit(p, "EditMTimeDisp", QRect(604, 96, 112, 22));
    BitBtnMultiStart = MakeButton(p, "BitBtnMultiStart", QRect(486, 122, 230, 72), "시작");
    BitBtnMultiStart->setFont(WindowFont(22, true));
    BitBtn4 = MakeButton(p, "BitBtn4", QRect(486, 200, 110, 30), "정보");
    BitBtn8 = MakeButton(p, "BitBtn8", QRect(606, 200, 110, 30), "중지");

    WriteBanner(RichEdit21);

    connect(BitBtn4, &QPushButton::clicked, this, [this] { Guarded([&] { BitBtnInfoClick(); }); });
    connect(RichEdit21, &QTextEdit::textChanged, this, [this] { RichEdit21Change(); });
}

void TMainForm::BuildAdvancedPanel() {
    PanelAM = new QFrame(this);
    PanelAM->setObjectName("PanelAM");
    PanelAM->setFrameStyle(QFrame::Panel | QFrame::Raised);
    PanelAM->setLineWidth(2);
    PanelAM->setAutoFillBackground(true);
    PanelAM->setGeometry(0, 0, 509, 313);
    QWidget* p = PanelAM;

    Edit44 = MakeEdit(p, "Edit44", QRect(6, 6, 497, 22), Q("      세부기능설정"));
    Edit44->setEnabled(false);
    Edit44->setFont(WindowFont(13, true));
    BuildProtocolGroups(p);
    BuildSettingFields(p);

    BitBtnAMClose = MakeButton(p, "BitBtnAMClose", QRect(6, 283, 120, 24), "적용후닫기");
    BitBtnDefaultValue =
        MakeButton(p, "BitBtnDefaultValue", QRect(132, 283, 120, 24), "초기값으로");
    BitBtnCfgSave2 = MakeButton(p, "BitBtnCfgSave2", QRect(256, 283, 120, 24), "파일로환경저장");
    BitBtnAbout = MakeButton(p, "BitBtnAbout", QRect(479, 283, 24, 24), "?");
    BitBtnAbout->setVisible(false);

    PanelAM->hide();
    PanelAM->raise();

    connect(BitBtnAMClose, &QPushButton::clicked, this,
            [this] { Guarded([&] { BitBtnAMCloseClick(); }); });
    connect(BitBtnDefaultValue, &QPushButton::clicked, this,
            [this] { Guarded([&] { BitBtnDefaultValueClick(); }); });
    connect(BitBtnCfgSave2, &QPushButton::clicked, this,
            [this] { Guarded([&] { BitBtnCfgSave2Click(); }); });
    connect(RadioButtonOne, &QRadioButton::toggled, this,
            [this] { Guarded([&] { RadioButtonOneClick(); }); });
    connect(RadioButtonMulti, &QRadioButton::toggled, this,
            [this] { Guarded([&] { RadioButtonMultiClick(); }); });
}

void TMainForm::BuildProtocolGroups(QWidget* p) {
    GroupBoxUSBControl = MakeGroup(p, "GroupBoxUSBControl", QRect(6, 32, 246, 150), "[USB]");
    ProtocolGroupBox =
        MakeGroup(GroupBoxUSBControl, "ProtocolGroupBox", QRect(6, 18, 234, 78), "[다운로드규약]");
    const char* const kPpvHint = "Press & Progress & Verify USB";
    RadioButtonAutoUSB = MakeRadio(ProtocolGroupBox, "RadioButtonAutoUSB", QRect(10, 18, 210, 18),
                                   "자동탐지USB", true, kPpvHint);
    PressProgressUSBRadioButton = MakeRadio(ProtocolGroupBox, "PressProgressUSBRadioButton",
                                            QRect(10, 37, 210, 18), "PPV USB", false, kPpvHint);
    NormalUSBRadioButton =
        MakeRadio(ProtocolGroupBox, "NormalUSBRadioButton", QRect(10, 56, 210, 18), "일반적인USB",
                  false, "모든 USB 다운로더의 기본Protocol");
    GroupBox1 =
        MakeGroup(GroupBoxUSBControl, "GroupBox1", QRect(6, 100, 234, 44), "[다운로드방법]");
    RadioButtonMulti =
        MakeRadio(GroupBox1, "RadioButtonMulti", QRect(10, 18, 110, 20), "멀티다운로드", false);
    RadioButtonOne =
        MakeRadio(GroupBox1, "RadioButtonOne", QRect(124, 18, 100, 20), "하나만", true);

    GroupBoxSerialControl =
        MakeGroup(p, "GroupBoxSerialControl", QRect(6, 186, 246, 92), "[Serial]");
    GroupBox4 =
        MakeGroup(GroupBoxSerialControl, "GroupBox4", QRect(6, 20, 234, 66), "[다운로드규약]");
    RadioButtonUARTAuto =
        MakeRadio(GroupBox4, "RadioButtonUARTAuto", QRect(10, 15, 210, 17), "자동탐지UART", true);
    RadioButtonPUART =
        MakeRadio(GroupBox4, "RadioButtonPUART", QRect(10, 31, 210, 17), "Press UART", false);
    RadioButtonUART =
        MakeRadio(GroupBox4, "RadioButtonUART", QRect(10, 47, 210, 17), "일반적인UART", false);
}

void TMainForm::BuildSettingFields(QWidget* p) {
    GroupBox2 = MakeGroup(p, "GroupBox2", QRect(256, 32, 247, 246), "[환경설정값]");
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
    EditResponseWaitTime = timeField("EditResponseWaitTime", "LabelResponseWaitTime",
                                     "패킷CMD응답대기시간(ms):", 18, "20000");
    EditNormalCMDWaitTime = timeField("EditNormalCMDWaitTime", "LabelNormalCMDWaitTime",
                                      "일반CMD응답대기시간(ms):", 42, "500");
    EditCmd2CmdWaitTime = timeField("EditCmd2CmdWaitTime", "LabelCmd2CmdWaitTime",
                                    "CMD사이의대기시간(ms):", 66, "200");
    EditEraseWaitTime =
        timeField("EditEraseWaitTime", "LabelEraseWaitTime", "삭제요청대기시간(sec):", 90, "600");
    CheckBoxViewInvalidFCS = MakeCheck(g, "CheckBoxViewInvalidFCS", QRect(8, 114, 232, 20),
                                       "NAK INVALID FCS 표시하기", false);
    EditMultiEraseMeanTime = timeField("EditMultiEraseMeanTime", "LabelMultiEraseMeanTime",
                                       "멀티시삭제시간의초과(sec):", 138, "300");
    EditMultiEraseMeanTime->setToolTip(
        Q("멀티다운로드시삭제중Phone마다 삭제시간이 틀린경우 평균 삭제시간과의 차이가 TimeOut을 "
          "결정한다"));
    CheckBoxBinSizeCheck = MakeCheck(g, "CheckBoxBinSizeCheck", QRect(8, 164, 232, 20),
                                     "Bin Size 64K 검사 하기", true);
    CheckBoxFont0Check = MakeCheck(g, "CheckBoxFont0Check", QRect(8, 188, 232, 20),
                                   "Font 0 주소 다운로드 허용", false);
    CheckBoxAuto16 =
        MakeCheck(g, "CheckBoxAuto16", QRect(8, 212, 232, 20), "주소에 0x 자동으로 붙이기", true);
}

void TMainForm::WriteBanner(RichEditLog* pane) {
    pane->setFont(WindowFont());
    pane->AppendLine("Zembra 4", LOG_BLACK);
    pane->AppendLine(" 휴대폰 펌웨어 다운로드 도구 (코드 1개, 폰트 6개, 최대 8대 동시)", LOG_BLACK);
    pane->AppendLine(" 문의: Zembra 개발팀 - 사용법과 연락처는 README.md를 보세요", LOG_BLACK);
    pane->AppendLine("", LOG_BLACK);
}

template <class F>
void TMainForm::Guarded(F&& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ShowException(e.what());
    } catch (...) {
        ShowException("Unknown error");
    }
}

void TMainForm::RunGuarded(const std::function<void()>& handler) {
    Guarded(handler);
}

void TMainForm::ShowException(const std::string& message) {
    dialogs_->ShowMessage(message, kApplicationTitle, mb::kOk | mb::kIconStop);
}

// --- model adapter -----------------------------------------------------------------------

ImageSlot TMainForm::ReadSlot(int slot) const {
    const SlotRow& row = rows_.at(static_cast<std::size_t>(slot));
    ImageSlot value;
    value.selected = row.button->isChecked();
    value.path = row.path->text().toStdString();
    value.fileTime = row.time->text().toStdString();
    value.progressMarker = row.process->text().toStdString();
    value.expectedName = row.sFile->text().toStdString();
    if (row.address) value.addressText = row.address->text().toStdString();
    return value;
}

void TMainForm::ApplySlot(int slot, const ImageSlot& value) {
    SlotRow& row = rows_.at(static_cast<std::size_t>(slot));
    auto set = [](QLineEdit* edit, const std::string& text) {
        const QString q = Q(text);
        if (edit->text() != q) {
            edit->setText(q);
            edit->setCursorPosition(0);
        }
    };
    row.button->setChecked(value.selected);
    set(row.path, value.path);
    row.path->setToolTip(Q(value.path));  // the whole path, which the field may cut off
    set(row.time, value.fileTime);
    set(row.process, value.progressMarker);
    set(row.sFile, value.expectedName);
    if (row.address) set(row.address, value.addressText);
}

DownloadJob TMainForm::ReadJob() const {
    DownloadJob job;
    for (int slot = 0; slot < ImageSlot::Count; ++slot) job[slot] = ReadSlot(slot);
    job.modelName = EditModelName->text().toStdString();
    job.change = CheckBoxChange->isChecked();
    job.configLoaded = SpeedButtonCfg->isChecked();
    job.configPath = EditCfgFilePath->text().toStdString();
    return job;
}

void TMainForm::ApplyJob(const DownloadJob& job) {
    for (int slot = 0; slot < ImageSlot::Count; ++slot) ApplySlot(slot, job[slot]);
    EditModelName->setText(Q(job.modelName));
    CheckBoxChange->setChecked(job.change);
    SpeedButtonCfg->setChecked(job.configLoaded);
    EditCfgFilePath->setText(Q(job.configPath));
    // While a configuration is in force it fixes Change and the font addresses.
    CheckBoxChange->setEnabled(!job.configLoaded);
    for (int slot = ImageSlot::Font1; slot < ImageSlot::Count; ++slot)
        rows_[static_cast<std::size_t>(slot)].address->setEnabled(!job.configLoaded);
}

bool TMainForm::configLoaded() const {
    return SpeedButtonCfg->isChecked();
}

DownloadSettings TMainForm::ReadSettings() const {
    DownloadSettings s;
    s.usbProtocol =
        ProtocolOf(RadioButtonAutoUSB, PressProgressUSBRadioButton, NormalUSBRadioButton);
    s.serialProtocol = ProtocolOf(RadioButtonUARTAuto, RadioButtonPUART, RadioButtonUART);
    s.packetResponseWaitMs = EditResponseWaitTime->text().toStdString();
    s.normalResponseWaitMs = EditNormalCMDWaitTime->text().toStdString();
    s.cmdGapMs = EditCmd2CmdWaitTime->text().toStdString();
    s.eraseWaitSec = EditEraseWaitTime->text().toStdString();
    s.multiEraseExcessSec = EditMultiEraseMeanTime->text().toStdString();
    s.showInvalidFcsNak = CheckBoxViewInvalidFCS->isChecked();
    s.checkBinSize64K = CheckBoxBinSizeCheck->isChecked();
    s.allowFont0Address = CheckBoxFont0Check->isChecked();
    s.autoHexPrefix = CheckBoxAuto16->isChecked();
    return s;
}

void TMainForm::ApplySettings(const DownloadSettings& s) {
    // In the order of the initial-value button.
    SetProtocol(s.usbProtocol, RadioButtonAutoUSB, PressProgressUSBRadioButton,
                NormalUSBRadioButton);
    SetProtocol(s.serialProtocol, RadioButtonUARTAuto, RadioButtonPUART, RadioButtonUART);
    EditResponseWaitTime->setText(Q(s.packetResponseWaitMs));
    EditNormalCMDWaitTime->setText(Q(s.normalResponseWaitMs));
    EditCmd2CmdWaitTime->setText(Q(s.cmdGapMs));
    EditEraseWaitTime->setText(Q(s.eraseWaitSec));
    EditMultiEraseMeanTime->setText(Q(s.multiEraseExcessSec));
    CheckBoxViewInvalidFCS->setChecked(s.showInvalidFcsNak);
    CheckBoxBinSizeCheck->setChecked(s.checkBinSize64K);
    CheckBoxFont0Check->setChecked(s.allowFont0Address);
    CheckBoxAuto16->setChecked(s.autoHexPrefix);
}

Link TMainForm::ReadLink() const {
    return RadioButtonSerial->isChecked() ? Link::Serial : Link::Usb;
}

// --- form events -------------------------------------------------------------------------

void TMainForm::FormCreate() {
    autoConfigPath_ =
        SettingsFilePathFor(options_.programPath.empty() ? ProgramPath() : options_.programPath);
    SetApplicationTitle(kApplicationTitle);
    TimerComPortDetect->start();
}

void TMainForm::FormResize() {
    // The window has a fixed size, so the resize that matters is the one of the first
    // showing; later notifications (a window manager re-sending the geometry) must not load
    // the file again over settings the operator has changed since.
    if (autoConfigDone_) return;
    autoConfigDone_ = true;
    autoConfigPath_ =
        SettingsFilePathFor(options_.programPath.empty() ? ProgramPath() : options_.programPath);
    if (!CanOpenForReading(autoConfigPath_)) return;  // no file: nothing, no message
    LoadConfiguration(autoConfigPath_, true);
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
    if (isVisible()) Guarded([&] { FormResize(); });
}

void TMainForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!autoConfigDone_ && !event->spontaneous()) {
        if (const QScreen* screen = this->screen()) {
            const QRect area = screen->availableGeometry();
            const QRect frame = frameGeometry();
            move(area.center() - QPoint(frame.width() / 2, frame.height() / 2));
        }
        QTimer::singleShot(0, this, [this] { Guarded([&] { FormResize(); }); });
    }
}

void TMainForm::closeEvent(QCloseEvent* event) {
    Guarded([&] { FormClose(); });
    CloseOpenDialogs();
    event->accept();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ImageZembra && event->type() == QEvent::MouseButtonDblClick) {
        Guarded([&] { ImageZembraDblClick(); });
        return true;
    }
    // Leaving a field means moving the focus to another control of the window; the window
    // itself losing the focus (another program, a message box) is not leaving the field.
    if (event->type() == QEvent::FocusOut &&
        static_cast<QFocusEvent*>(event)->reason() != Qt::ActiveWindowFocusReason &&
        static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) {
        for (int font = 1; font <= 6; ++font) {
            if (watched == rows_[static_cast<std::size_t>(font)].address) {
                Guarded([&] { EditFontAddressExit(font); });
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
        if (RadioButtonSerial->isChecked()) RadioButtonUSB->setChecked(true);
        return;
    }
    if (!RadioButtonSerial->isChecked()) return;
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
    DownloadSettings settings = ReadSettings();
    ApplyInitialValues(settings);
    ApplySettings(settings);
}

// --- image slots -------------------------------------------------------------------------

void TMainForm::SpeedButtonSlotClick(int slot) {
    if (rows_.at(static_cast<std::size_t>(slot)).button->isChecked())
        SelectImage(slot);
    else
        ClearSlot(slot);
}

void TMainForm::SelectImage(int slot) {
    SlotRow& row = rows_.at(static_cast<std::size_t>(slot));
    row.button->setChecked(true);
    FileDialogRequest request;
    request.name = kOpenDialogNames[slot];
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
    SlotRow& row = rows_.at(static_cast<std::size_t>(slot));
    row.button->setChecked(true);
    // The path field shows the whole path, as the dialog gives it, also for a name relative
    // to the working folder (--code FILE).
    const std::string path =
        chosen.empty() ? chosen
                       : QFileInfo(QString::fromStdString(chosen)).absoluteFilePath().toStdString();
    SelectionResult result = zembra::SelectImageFile(slot, path, CheckBoxBinSizeCheck->isChecked());
    for (const LogLine& line : result.log) LogSingle(line.text, line.colour);
    ImageSlot value = ReadSlot(slot);
    ApplySelection(value, result);
    ApplySlot(slot, value);
    LogFlashRangeProblems();
    // The address taken from the file name is filled in even while a configuration holds the
    // field disabled; the focus only moves into a field that can take it.
    if (result.selected && result.addressText && row.address && row.address->isEnabled())
        row.address->setFocus(Qt::OtherFocusReason);
}

void TMainForm::ClearSlot(int slot) {
    ImageSlot value = ReadSlot(slot);
    zembra::ClearSlot(value);
    ApplySlot(slot, value);
}

void TMainForm::EditFontAddressExit(int font) {
    QLineEdit* edit = rows_.at(static_cast<std::size_t>(font)).address;
    const std::string text = edit->text().toStdString();
    const std::string fixed = AddressOnExit(text, CheckBoxAuto16->isChecked());
    if (fixed != text) edit->setText(Q(fixed));
    LogFlashRangeProblems();
}

void TMainForm::LogFlashRangeProblems() {
    // Each problem is said when it appears, not again each time a field is left.
    std::vector<std::string> problems = FlashRangeProblems(ReadJob());
    for (const std::string& line : problems)
        if (std::find(loggedRangeProblems_.begin(), loggedRangeProblems_.end(), line) ==
            loggedRangeProblems_.end())
            LogSingle(line, LOG_RED);
    loggedRangeProblems_ = std::move(problems);
}

// --- configuration file ------------------------------------------------------------------

void TMainForm::ResetConfigState() {
    DownloadJob job = ReadJob();
    ReleaseConfig(job);
    ApplyJob(job);
}

bool TMainForm::LoadConfiguration(const std::string& path, bool autoConfig) {
    DownloadJob job = ReadJob();
    DownloadSettings settings = ReadSettings();
    const ConfigReadResult result =
        ReadConfigFile(path, autoConfig ? ConfigSource::Auto : ConfigSource::Dialog, job, settings);
    LogSingle(result.log.text, result.log.colour);
    if (!result.opened) return false;
    ApplyJob(job);
    ApplySettings(settings);
    if (result.popUpKeySeen && popUp_) popUp_->SetText(result.popUpText);
    if (result.showPopUp && popUp_) dialogs_->ShowModal(*popUp_);
    return true;
}

void TMainForm::SpeedButtonCfgClick() {
    if (!SpeedButtonCfg->isChecked()) {  // released: the configuration no longer holds
        ResetConfigState();
        return;
    }
    FileDialogRequest request;
    request.name = "OpenDialogCfg";
    request.filter = CONFIG_OPEN_FILTER;
    request.mustExist = true;
    request.folder = LastDialogFolder();
    const std::optional<std::string> chosen = dialogs_->GetOpenFileName(request);
    if (!chosen) {
        ResetConfigState();
        return;
    }
    RememberDialogFolder(*chosen);
    EditCfgFilePath->setText(Q(*chosen));
    // A file that vanished or became unreadable after the dialog: nothing is read, the red
    // line says why, and the window stays as if the dialog had been cancelled.
    if (!LoadConfiguration(*chosen, false)) ResetConfigState();
}

void TMainForm::SaveConfiguration(bool autoConfig) {
    std::string path;
    if (autoConfig) {
        path = autoConfigPath_;
        // The folder of the user's settings may not exist yet.
        QDir().mkpath(QFileInfo(Q(path)).absolutePath());
    } else {
        FileDialogRequest request;
        request.name = "SaveDialogCfgSave";
        request.filter = CONFIG_SAVE_FILTER;
        request.defaultName = DEFAULT_CONFIG_NAME;
        request.defaultExt = CONFIG_SAVE_DEFAULT_EXT;
        request.confirmOverwrite = true;
        request.folder = LastDialogFolder();
        const std::optional<std::string> chosen = dialogs_->GetSaveFileName(request);
        if (!chosen) return;
        RememberDialogFolder(*chosen);
        path = *chosen;
    }
    const ConfigWriteResult result =
        WriteConfigFile(path, ReadJob(), ReadSettings(),
                        autoConfig ? ConfigFileKind::SettingsOnly : ConfigFileKind::Full);
    if (result.conversionError) {
        ShowException(result.conversionError->message);
        return;
    }
    if (!result.refusal.empty())
        dialogs_->ShowMessage(result.refusal, CONFIG_SAVE_ERROR_CAPTION, mb::kOk);
    else if (!result.ok)
        dialogs_->ShowMessage(CONFIG_SAVE_ERROR, CONFIG_SAVE_ERROR_CAPTION, mb::kOk);
}

void TMainForm::BitBtnCfgSaveClick() {
    SaveConfiguration(false);
}

void TMainForm::BitBtnCfgSave2Click() {
    SaveConfiguration(true);
}

// --- pop-up, hidden menu -----------------------------------------------------------------

void TMainForm::BitBtnInfoClick() {
    if (popUp_) dialogs_->ShowModal(*popUp_);
}

void TMainForm::ImageZembraDblClick() {
    if (sMode_) dialogs_->ShowModal(*sMode_);
}

// --- log panes ---------------------------------------------------------------------------

void TMainForm::LogSingle(const std::string& text, std::uint32_t colour) {
    if (IsSingleMode())
        RichEditOutput->AppendLine(text, colour);
    else
        LogMulti(text, colour);
}

void TMainForm::LogSingle(const char* text, std::uint32_t colour) {
    LogSingle(std::string(text ? text : ""), colour);
}

void TMainForm::LogMulti(const std::string& text, std::uint32_t colour) {
    RichEdit21->AppendLine(text, colour);
}

void TMainForm::LogMulti(const char* text, std::uint32_t colour) {
    LogMulti(std::string(text ? text : ""), colour);
}

void TMainForm::RichEditOutputChange() {
    // The pane takes the focus so that its caret, at the end of the newest line, keeps that
    // line in view. Only the pane of the panel in front does: PanelMulti stays visible
    // underneath PanelOne, and the focus must not go to a pane the operator cannot see.
    if (IsSingleMode() && RichEditOutput->isVisible()) RichEditOutput->setFocus();
    RichEditOutput->ensureCursorVisible();
}

void TMainForm::RichEdit21Change() {
    if (!IsSingleMode() && RichEdit21->isVisible()) RichEdit21->setFocus();
    RichEdit21->ensureCursorVisible();
}

// --- engine hosts ------------------------------------------------------------------------

void TMainForm::SetGauge(int percent) {
    CGaugeProgress->setValue(std::clamp(percent, 0, 100));
    SetTaskProgress(percent);
}

void TMainForm::SetTitle(const std::string& title) {
    SetApplicationTitle(title);
}

void TMainForm::SetAddressText(const std::string& text) {
    EditAddress->setText(Q(text));
}

void TMainForm::SetMarker(int slot, const std::string& marker) {
    if (slot < 0 || slot >= ImageSlot::Count) return;
    rows_[static_cast<std::size_t>(slot)].process->setText(Q(marker));
}

void TMainForm::GiveControlsBack() {
    PanelFileSelect->setEnabled(true);
    BitBtnDOStart->setEnabled(true);
    if (!RadioButtonSerial->isChecked()) CheckBoxAuto->setEnabled(true);
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
}

// --- title, colours, timer -----------------------------------------------------------------

void TMainForm::SetApplicationTitle(const std::string& title) {
    applicationTitle_ = title;
    setWindowIconText(Q(title));
    if (downloadTitleShown_) setWindowTitle(Q(title));
}

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
        LabelMainLineStatus = new QLabel(this);
        LabelMainLineStatus->setObjectName("LabelMainLineStatus");
        LabelMainLineStatus->setGeometry(47, MAIN_FORM_HEIGHT, MAIN_FORM_WIDTH - 47, kHeight);
        LabelMainLineStatus->setIndent(4);
    }
    if (LabelMainLineStatus->text() != Q(text)) LabelMainLineStatus->setText(Q(text));
    LabelMainLineStatus->setVisible(!text.empty());
    setFixedSize(MAIN_FORM_WIDTH, MAIN_FORM_HEIGHT + (text.empty() ? 0 : kHeight));
}

std::string TMainForm::ApplicationTitle() const {
    return applicationTitle_;
}

void TMainForm::SetFontColour(QLineEdit* edit, std::uint32_t colour) {
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Text, ColourOf(colour));
    edit->setPalette(palette);
}

std::uint32_t TMainForm::WindowTextColour() {
    return WindowsColourOf(QApplication::palette().color(QPalette::Text));
}

std::uint32_t TMainForm::FontColour(const QLineEdit* edit) {
    return WindowsColourOf(edit->palette().color(QPalette::Text));
}

void TMainForm::SetTickHandler(std::function<void()> tick) {
    tick_ = std::move(tick);
}

void TMainForm::TimerComPortDetectTimer() {
    if (tick_) Guarded([&] { tick_(); });
}

}  // namespace zembra
