// Start-up state, mode switches, the advanced panel, initial values, the address prefix and
// the error display of the main window.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <stdexcept>

#include "AppTestSupport.h"
#include "app/FormWidgets.h"
#include "app/PopUpUnit.h"
#include "app/SModeUnit.h"
#include "job/ConfigFile.h"

namespace zembra::test {
namespace {

using MainWindow = WindowTest;

QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

TEST_F(MainWindow, StartUpStateMatchesTheControlTables) {
    TMainForm& f = form();
    EXPECT_EQ(f.objectName(), "MainForm");
    EXPECT_EQ(f.windowTitle(), Q("Zembra 4.2"));
    EXPECT_EQ(f.ApplicationTitle(), "Zembra 4.2");
    EXPECT_EQ(f.size(), QSize(767, 456));
    EXPECT_EQ(f.minimumSize(), f.maximumSize());
    EXPECT_FALSE(f.windowFlags() & Qt::WindowMaximizeButtonHint);

    // Captions and initial texts.
    struct Text {
        const char* name;
        const char* text;
    };
    for (const Text& t :
         std::initializer_list<Text>{{"SpeedButtonCfg", "환경파일"},
                                     {"BitBtnCfgSave", "현재환경저장"},
                                     {"RadioButtonUSB", "USB"},
                                     {"RadioButtonSerial", "Serial"},
                                     {"BitBtnAM", "+"},
                                     {"SpeedButtonCode", "코드"},
                                     {"SpeedButtonFont1", "폰트1"},
                                     {"SpeedButtonFont6", "폰트6"},
                                     {"CheckBoxChange", "Change"},
                                     {"CheckBoxAuto", "자동탐지"},
                                     {"CheckBoxStartCheck", "시작예약"},
                                     {"BitBtnDOStart", "시작"},
                                     {"BitBtnInfo", "정보"},
                                     {"BitBtnStopRequest", "중지"},
                                     {"CheckBoxVerCheck", "버전검사"},
                                     {"BitBtnMultiStart", "시작"},
                                     {"BitBtn4", "정보"},
                                     {"BitBtn8", "중지"},
                                     {"RadioButtonAutoUSB", "자동탐지USB"},
                                     {"PressProgressUSBRadioButton", "PPV USB"},
                                     {"NormalUSBRadioButton", "일반적인USB"},
                                     {"RadioButtonMulti", "멀티다운로드"},
                                     {"RadioButtonOne", "하나만"},
                                     {"RadioButtonUARTAuto", "자동탐지UART"},
                                     {"RadioButtonPUART", "Press UART"},
                                     {"RadioButtonUART", "일반적인UART"},
                                     {"CheckBoxViewInvalidFCS", "NAK INVALID FCS 표시하기"},
                                     {"CheckBoxBinSizeCheck", "Bin Size 64K 검사 하기"},
                                     {"CheckBoxFont0Check", "Font 0 주소 다운로드 허용"},
                                     {"CheckBoxAuto16", "주소에 0x 자동으로 붙이기"},
                                     {"BitBtnAMClose", "적용후닫기"},
                                     {"BitBtnDefaultValue", "초기값으로"},
                                     {"BitBtnCfgSave2", "파일로환경저장"},
                                     {"BitBtnAbout", "?"}}) {
        auto* button = Find<QAbstractButton>(t.name);
        if (button) {
            EXPECT_EQ(button->text(), Q(t.text)) << t.name;
        }
    }
    for (const Text& t : std::initializer_list<Text>{{"EditCfgFilePath", ""},
                                                     {"EditModelName", ""},
                                                     {"Edit31", " 파일선택"},
                                                     {"Edit6", "  선택할파일명"},
                                                     {"Edit7", "    시작주소"},
                                                     {"Edit9", "    생성날짜시간"},
                                                     {"Edit32", "진행여부"},
                                                     {"EditCodeSFile", "     임의파일"},
                                                     {"EditFont6SFile", "     임의파일"},
                                                     {"EditCodeFileProcess", "     x"},
                                                     {"EditFont3FileProcess", "     x"},
                                                     {"EditFont1Address", ""},
                                                     {"EditCodeFilePath", ""},
                                                     {"EditFont2FileTime", ""},
                                                     {"EditAddress", ""},
                                                     {"EditTimeDisp", ""},
                                                     {"EditMTimeDisp", ""},
                                                     {"EditMulti8", ""},
                                                     {"Edit44", "      세부기능설정"},
                                                     {"EditResponseWaitTime", "20000"},
                                                     {"EditNormalCMDWaitTime", "500"},
                                                     {"EditCmd2CmdWaitTime", "200"},
                                                     {"EditEraseWaitTime", "600"},
                                                     {"EditMultiEraseMeanTime", "300"}}) {
        auto* edit = Find<QLineEdit>(t.name);
        if (edit) {
            EXPECT_EQ(edit->text(), Q(t.text)) << t.name;
        }
    }
    EXPECT_EQ(Find<QLineEdit>("Edit8")->text(), QString(30, ' ') + Q("파일전체경로"));
    EXPECT_EQ(Find<QLabel>("Edit40")->text(), Q("모델명"));
    for (const char* group : {"GroupBoxUSBControl", "ProtocolGroupBox", "GroupBox1",
                              "GroupBoxSerialControl", "GroupBox4", "GroupBox2"})
        Find<QGroupBox>(group);
    EXPECT_EQ(Find<QGroupBox>("GroupBox2")->title(), Q("[환경설정값]"));

    // Hints.
    EXPECT_EQ(Find<QWidget>("EditFont4Address")->toolTip(),
              Q("16진수 값을 가질때 0x로 시작해야 합니다"));
    EXPECT_EQ(Find<QWidget>("EditCodeSFile")->toolTip(),
              Q("선택할 파일명과 선택파일명은 일치해야 합니다"));
    EXPECT_EQ(Find<QWidget>("EditFont5FileTime")->toolTip(),
              Q("파일의 최종 수정시간으로 시작 버튼을 누르면 갱신됩니다"));
    EXPECT_EQ(Find<QWidget>("EditCodeFileProcess")->toolTip(),
              Q("다운로드 상태 '=' 다운로드 종료 'o'"));
    EXPECT_EQ(Find<QWidget>("ComboBoxComPort")->toolTip(),
              Q("통신포트가 자동으로 설정되지 않으면 직접 선택하세요"));
    EXPECT_EQ(Find<QWidget>("NormalUSBRadioButton")->toolTip(),
              Q("모든 USB 다운로더의 기본Protocol"));
    EXPECT_EQ(Find<QWidget>("PressProgressUSBRadioButton")->toolTip(),
              Q("Press & Progress & Verify USB"));
    EXPECT_FALSE(Find<QWidget>("BitBtnAM")->toolTip().isEmpty());
    EXPECT_FALSE(Find<QWidget>("EditMultiEraseMeanTime")->toolTip().isEmpty());

    // Modes, states, groups.
    EXPECT_TRUE(f.IsSingleMode());
    EXPECT_FALSE(Find<QWidget>("PanelOne")->isHidden());
    EXPECT_TRUE(Find<QWidget>("PanelAM")->isHidden());
    EXPECT_EQ(Find<QWidget>("PanelAM")->size(), QSize(509, 313));
    EXPECT_TRUE(Find<QRadioButton>("RadioButtonOne")->isChecked());
    EXPECT_TRUE(Find<QRadioButton>("RadioButtonUSB")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("CheckBoxAuto")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("CheckBoxAuto")->isEnabled());
    EXPECT_FALSE(Find<QCheckBox>("CheckBoxStartCheck")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("CheckBoxVerCheck")->isChecked());
    EXPECT_FALSE(Find<QLineEdit>("Edit44")->isEnabled());
    EXPECT_TRUE(Find<QWidget>("BitBtnAbout")->isHidden());
    EXPECT_TRUE(Find<QLineEdit>("EditCodeFilePath")->isReadOnly());
    EXPECT_FALSE(Find<QLineEdit>("EditFont1Address")->isReadOnly());
    EXPECT_TRUE(Find<QPushButton>("SpeedButtonCfg")->isCheckable());
    EXPECT_TRUE(Find<QPushButton>("SpeedButtonFont2")->isCheckable());
    auto* combo = Find<QComboBox>("ComboBoxComPort");
    EXPECT_TRUE(combo->isEditable());
    EXPECT_EQ(combo->count(), 30);
    EXPECT_EQ(combo->currentText(), "COM1");
    EXPECT_EQ(combo->itemText(29), "COM30");
    for (int n = 1; n <= 8; ++n) {
        const QByteArray name = QStringLiteral("CheckBoxMulti%1").arg(n).toLatin1();
        EXPECT_FALSE(Find<QCheckBox>(name.constData())->isEnabled());
        auto* gauge = Find<QProgressBar>(QStringLiteral("CGaugeP%1").arg(n).toLatin1().constData());
        EXPECT_EQ(gauge->minimum(), 0);
        EXPECT_EQ(gauge->maximum(), 100);
        EXPECT_EQ(gauge->value(), 0);
        Find<QLabel>(QStringLiteral("LabelL%1").arg(n).toLatin1().constData());
    }
    EXPECT_EQ(Find<QProgressBar>("CGaugeProgress")->maximum(), 100);

    // The model seen through the controls is the initial one.
    EXPECT_EQ(f.model().ReadSettings(), DownloadSettings{});
    const DownloadJob job = f.model().ReadJob();
    for (const ImageSlot& slot : job.slots) {
        EXPECT_FALSE(slot.selected);
        EXPECT_EQ(slot.progressMarker, NOT_SENT);
        EXPECT_EQ(slot.expectedName, ANY_FILE);
    }
    EXPECT_FALSE(job.change);
    EXPECT_FALSE(job.configLoaded);
    EXPECT_EQ(f.model().ReadLink(), Link::Usb);

    // Both panes start with the banner and an empty line.
    for (const char* pane : {"RichEditOutput", "RichEdit21"}) {
        const auto lines = PaneLines(pane);
        ASSERT_EQ(lines.size(), 4u) << pane;
        EXPECT_EQ(lines[0].text, "Zembra 4");
        EXPECT_EQ(lines[3].text, "");
    }

    // The other two windows, created after the main window and attached to it.
    EXPECT_EQ(f.popUp(), windows->popUp.get());
    EXPECT_EQ(f.sMode(), windows->sMode.get());
    EXPECT_EQ(windows->popUp->windowTitle(), Q("정보"));
    EXPECT_EQ(windows->popUp->size(), QSize(313, 214));
    EXPECT_EQ(windows->sMode->windowTitle(), Q("숨은메뉴"));
    EXPECT_FALSE(windows->popUp->isVisible());
    EXPECT_FALSE(windows->sMode->isVisible());
    EXPECT_FALSE(windows->debugTrace.enabled());
}

TEST_F(MainWindow, ModeSwitchesFollowTheirRules) {
    auto* one = Find<QRadioButton>("RadioButtonOne");
    auto* multi = Find<QRadioButton>("RadioButtonMulti");
    auto* usb = Find<QRadioButton>("RadioButtonUSB");
    auto* serial = Find<QRadioButton>("RadioButtonSerial");
    auto* autoDetect = Find<QCheckBox>("CheckBoxAuto");
    auto* combo = Find<QComboBox>("ComboBoxComPort");
    auto* panelOne = Find<QWidget>("PanelOne");
    auto* panelMulti = Find<QWidget>("PanelMulti");

    // Serial in single mode: the combo box is free, auto detection disabled but still ticked.
    combo->setEnabled(false);  // as locked by a detected phone
    serial->click();
    EXPECT_TRUE(serial->isChecked());
    EXPECT_TRUE(combo->isEnabled());
    EXPECT_FALSE(autoDetect->isEnabled());
    EXPECT_TRUE(autoDetect->isChecked());
    EXPECT_EQ(form().model().ReadLink(), Link::Serial);

    // Multi mode while Serial is chosen: the link goes back to USB.
    multi->click();
    EXPECT_TRUE(panelOne->isHidden());
    EXPECT_FALSE(panelMulti->isHidden());
    EXPECT_FALSE(form().IsSingleMode());
    EXPECT_TRUE(usb->isChecked());
    EXPECT_FALSE(serial->isChecked());
    EXPECT_TRUE(autoDetect->isEnabled());

    // Serial cannot be chosen in multi mode.
    serial->click();
    EXPECT_TRUE(usb->isChecked());
    EXPECT_FALSE(serial->isChecked());
    EXPECT_TRUE(autoDetect->isEnabled());

    // Back to one phone.
    one->click();
    EXPECT_FALSE(panelOne->isHidden());
    EXPECT_TRUE(panelMulti->isHidden());
    EXPECT_TRUE(form().IsSingleMode());

    // Unticking auto detection frees a locked combo box at once; ticking changes nothing.
    combo->setEnabled(false);
    autoDetect->click();
    EXPECT_FALSE(autoDetect->isChecked());
    EXPECT_TRUE(combo->isEnabled());
    combo->setEnabled(false);
    autoDetect->click();
    EXPECT_FALSE(combo->isEnabled());

    // Setting a check state from code runs the handler as a click would.
    multi->setChecked(true);
    EXPECT_FALSE(form().IsSingleMode());
}

TEST_F(MainWindow, FrontLinesFollowTheVisiblePanel) {
    form().AppendLine(LogPane::Front, "single line", COLOUR_RED);
    Find<QRadioButton>("RadioButtonMulti")->click();
    form().AppendLine(LogPane::Front, std::string("to the multi pane"), COLOUR_BLUE);
    form().AppendLine(LogPane::Multi, "multi line", COLOUR_BLACK);
    Find<QRadioButton>("RadioButtonOne")->click();
    form().AppendLine(LogPane::Multi, "multi again", COLOUR_RED);

    const auto single = PaneLines("RichEditOutput");
    ASSERT_EQ(single.size(), 5u);
    EXPECT_EQ(single[4].text, "single line");
    EXPECT_EQ(single[4].colour, COLOUR_RED);
    const auto multi = PaneLines("RichEdit21");
    ASSERT_EQ(multi.size(), 7u);
    EXPECT_EQ(multi[4].text, "to the multi pane");
    EXPECT_EQ(multi[4].colour, COLOUR_BLUE);
    EXPECT_EQ(multi[5].text, "multi line");
    EXPECT_EQ(multi[5].colour, COLOUR_BLACK);
    EXPECT_EQ(multi[6].colour, COLOUR_RED);
}

TEST_F(MainWindow, AdvancedPanelOpensCentredAndGatesBothStartButtons) {
    auto* panel = Find<QWidget>("PanelAM");
    auto* single = Find<QPushButton>("BitBtnDOStart");
    auto* multi = Find<QPushButton>("BitBtnMultiStart");
    multi->setEnabled(false);  // e.g. a multi download had it disabled

    Find<QPushButton>("BitBtnAM")->click();
    EXPECT_FALSE(panel->isHidden());
    EXPECT_FALSE(single->isEnabled());
    EXPECT_FALSE(multi->isEnabled());
    const QRect outer = form().frameGeometry();
    EXPECT_EQ(panel->pos(), QPoint(outer.width() / 2 - 509 / 2, outer.height() / 2 - 313 / 2));
    EXPECT_EQ(panel->parentWidget(), &form());

    Find<QPushButton>("BitBtnAMClose")->click();
    EXPECT_TRUE(panel->isHidden());
    EXPECT_TRUE(single->isEnabled());
    EXPECT_TRUE(multi->isEnabled());
}

TEST_F(MainWindow, InitialValueButtonResetsTheElevenSettingsOnly) {
    Find<QRadioButton>("NormalUSBRadioButton")->click();
    Find<QRadioButton>("RadioButtonPUART")->click();
    Find<QLineEdit>("EditResponseWaitTime")->setText("1");
    Find<QLineEdit>("EditNormalCMDWaitTime")->setText("2");
    Find<QLineEdit>("EditCmd2CmdWaitTime")->setText("abc");
    Find<QLineEdit>("EditEraseWaitTime")->setText("4");
    Find<QLineEdit>("EditMultiEraseMeanTime")->setText("5");
    Find<QCheckBox>("CheckBoxViewInvalidFCS")->click();
    Find<QCheckBox>("CheckBoxBinSizeCheck")->click();
    Find<QCheckBox>("CheckBoxFont0Check")->click();
    Find<QCheckBox>("CheckBoxAuto16")->click();
    Find<QRadioButton>("RadioButtonMulti")->click();
    Find<QCheckBox>("CheckBoxChange")->click();
    Find<QLineEdit>("EditModelName")->setText("X1");
    Find<QLineEdit>("EditFont2Address")->setText("0x20");
    ASSERT_NE(form().model().ReadSettings(), DownloadSettings{});

    Find<QPushButton>("BitBtnDefaultValue")->click();
    EXPECT_EQ(form().model().ReadSettings(), DownloadSettings{});
    EXPECT_TRUE(Find<QRadioButton>("RadioButtonMulti")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("CheckBoxChange")->isChecked());
    EXPECT_EQ(Find<QLineEdit>("EditModelName")->text(), "X1");
    EXPECT_EQ(Find<QLineEdit>("EditFont2Address")->text(), "0x20");
}

TEST_F(MainWindow, SettingsModelRoundTripsThroughTheControls) {
    DownloadSettings s;
    s.usbProtocol = ProtocolChoice::Press;
    s.serialProtocol = ProtocolChoice::None;
    s.packetResponseWaitMs = "7";
    s.cmdGapMs = "0";
    s.showInvalidFcsNak = true;
    s.checkBinSize64K = false;
    form().model().ApplySettings(s);
    EXPECT_EQ(form().model().ReadSettings(), s);
    EXPECT_TRUE(Find<QRadioButton>("PressProgressUSBRadioButton")->isChecked());
    EXPECT_FALSE(Find<QRadioButton>("RadioButtonUARTAuto")->isChecked());
}

void LeaveField(QWidget* field) {
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(field, &out);
}

TEST_F(MainWindow, LeavingAFontAddressAddsTheHexPrefix) {
    auto* address = Find<QLineEdit>("EditFont3Address");
    QTest::keyClicks(address, "10000");
    LeaveField(address);
    EXPECT_EQ(address->text(), "0x10000");
    LeaveField(address);
    EXPECT_EQ(address->text(), "0x10000");

    address->setText("0X10000");
    LeaveField(address);
    EXPECT_EQ(address->text(), "0X10000");

    address->clear();
    LeaveField(address);
    EXPECT_EQ(address->text(), "");

    Find<QCheckBox>("CheckBoxAuto16")->click();  // off
    address->setText("10");
    LeaveField(address);
    EXPECT_EQ(address->text(), "10");
}

TEST_F(MainWindow, TabbingOutOfAnAddressFieldAddsThePrefix) {
    form().show();
    QApplication::setActiveWindow(&form());
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form()));
    auto* address = Find<QLineEdit>("EditFont6Address");
    address->setFocus();
    QTest::keyClicks(address, "1f0000");
    Find<QLineEdit>("EditModelName")->setFocus();
    EXPECT_EQ(address->text(), "0x1f0000");
}

TEST_F(MainWindow, TabGoesOnlyThroughFieldsTheOperatorUses) {
    form().show();
    QApplication::setActiveWindow(&form());
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form()));
    Find<QLineEdit>("EditModelName")->setFocus();
    auto* start = Find<QPushButton>("BitBtnDOStart");
    int presses = 0;
    while (QApplication::focusWidget() != start && presses < 100) {
        QWidget* from = QApplication::focusWidget();
        QTest::keyClick(from, Qt::Key_Tab);
        ++presses;
        auto* edit = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        EXPECT_FALSE(edit && edit->isReadOnly()) << edit->objectName().toStdString();
    }
    EXPECT_EQ(QApplication::focusWidget(), start);
    // Save, USB, +, seven slot buttons, Change, six addresses, port, two boxes, 시작.
    EXPECT_LE(presses, 21);
}

TEST_F(MainWindow, AnErrorEscapingAHandlerIsShownAndTheWindowGoesOn) {
    form().SetTickHandler([] { throw std::runtime_error("tick failed"); });
    form().TimerComPortDetectTimer();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "tick failed");
    EXPECT_EQ(dialogs.messages[0].caption, "Zembra 4.2");

    int ticks = 0;
    form().SetTickHandler([&] { ++ticks; });
    form().TimerComPortDetectTimer();
    EXPECT_EQ(ticks, 1);
}

TEST_F(MainWindow, ANonNumberInATimeFieldIsReportedOnSaveAndTheOldFileKept) {
    const std::string path = dir / "keep.TXT";
    WriteFile(path, "old content");
    Find<QLineEdit>("EditEraseWaitTime")->setText("abc");
    dialogs.saveAnswers.push_back(path);
    Find<QPushButton>("BitBtnCfgSave")->click();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "'abc' is not a valid integer value");
    EXPECT_EQ(ReadFile(path), "old content");

    // The window goes on: fixing the field lets the save through.
    Find<QLineEdit>("EditEraseWaitTime")->setText("600");
    dialogs.saveAnswers.push_back(path);
    Find<QPushButton>("BitBtnCfgSave")->click();
    EXPECT_EQ(dialogs.messages.size(), 1u);
    EXPECT_NE(ReadFile(path), "old content");
}

TEST_F(MainWindow, PathFieldColourIsAWindowsColourValue) {
    auto* path = Find<QLineEdit>("EditFont1FilePath");
    SetFontColour(path, MISMATCH_COLOUR);
    EXPECT_EQ(FontColour(path), 0x0000FFu);
    SetFontColour(path, 0xFF0000);
    EXPECT_EQ(path->palette().color(QPalette::Text), QColor(0, 0, 255));
}

TEST_F(MainWindow, AppendingALineGivesTheVisiblePaneTheFocus) {
    form().show();
    auto* model = Find<QLineEdit>("EditModelName");
    model->setFocus();
    form().AppendLine(LogPane::Front, "line", COLOUR_BLACK);
    EXPECT_EQ(form().focusWidget(), Find<QWidget>("RichEditOutput"));

    // A line for the pane under the visible one is appended without taking the focus.
    model->setFocus();
    form().AppendLine(LogPane::Multi, "stop note", COLOUR_RED);
    EXPECT_EQ(form().focusWidget(), model);
    EXPECT_EQ(PaneLines("RichEdit21").back().text, "stop note");
}

TEST_F(MainWindow, JobErrorsAreShownWithTheirCaption) {
    form().ShowJobError(20);
    form().ShowJobError(33);
    form().ShowJobError(99);
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[0].text, "선택된 파일이 없습니다. 파일을 선택하세요");
    EXPECT_EQ(dialogs.messages[0].caption, "오류");
    EXPECT_EQ(dialogs.messages[1].text, "폰트3 시작 주소를 입력하세요");
}

TEST_F(MainWindow, SwitchingToAnotherWindowIsNotLeavingTheAddressField) {
    auto* address = Find<QLineEdit>("EditFont1Address");
    address->setText("20");
    QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QCoreApplication::sendEvent(address, &away);
    EXPECT_EQ(address->text(), "20");
    QFocusEvent tab(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(address, &tab);
    EXPECT_EQ(address->text(), "0x20");
}

TEST_F(MainWindow, EngineHostCallsDriveTheControls) {
    MainFormView& host = form();
    host.SetGauge(37);
    host.SetTitle("37% Zembra 4");
    host.SetAddressText("0x00010000");
    host.SetMarker(ImageSlot::Font2, SENDING);
    host.SetMarker(9, SENT);  // no such row: nothing
    host.AppendLine(LogPane::Front, "engine line", 0xFF0000);
    EXPECT_EQ(Find<QProgressBar>("CGaugeProgress")->value(), 37);
    EXPECT_EQ(form().ApplicationTitle(), "37% Zembra 4");
    EXPECT_EQ(form().windowTitle(), Q("Zembra 4.2"));  // the caption stays
    EXPECT_EQ(Find<QLineEdit>("EditAddress")->text(), "0x00010000");
    EXPECT_EQ(form().model().ReadJob()[ImageSlot::Font2].progressMarker, SENDING);
    EXPECT_EQ(PaneLines("RichEditOutput").back().colour, 0xFF0000u);

    // A run ends: the controls come back, auto detection only on the USB link.
    auto* panel = Find<QWidget>("PanelFileSelect");
    auto* start = Find<QPushButton>("BitBtnDOStart");
    auto* autoDetect = Find<QCheckBox>("CheckBoxAuto");
    Find<QRadioButton>("RadioButtonSerial")->click();
    panel->setEnabled(false);
    start->setEnabled(false);
    host.GiveControlsBack();
    EXPECT_TRUE(panel->isEnabled());
    EXPECT_TRUE(start->isEnabled());
    EXPECT_FALSE(autoDetect->isEnabled());
    Find<QRadioButton>("RadioButtonUSB")->click();
    autoDetect->setEnabled(false);
    host.GiveControlsBack();
    EXPECT_TRUE(autoDetect->isEnabled());

    MainFormView& multi = form();
    multi.SetStartControlsEnabled(false);
    EXPECT_FALSE(panel->isEnabled());
    EXPECT_FALSE(Find<QPushButton>("BitBtnMultiStart")->isEnabled());
    multi.SetStartControlsEnabled(true);
    EXPECT_TRUE(Find<QPushButton>("BitBtnMultiStart")->isEnabled());
    dialogs.messageAnswers = {mb::kIdNo, mb::kIdYes};
    EXPECT_FALSE(multi.AskOverride());
    EXPECT_TRUE(multi.AskOverride());
    EXPECT_EQ(dialogs.messages.back().caption, "확인");
    EXPECT_EQ(dialogs.messages.back().style & mb::kButtonsMask, mb::kYesNo);
}

}  // namespace
}  // namespace zembra::test
