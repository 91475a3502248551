// Downloads from the window: the real buttons pressed (QTest clicks on the controls found by
// their names) with simulated phones on pseudo-terminals, registered in the port-alias folder
// and the serial-device map as the phones' driver does; every flash compared with the images.
#include <fcntl.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "AppTestSupport.h"
#include "job/FlashRanges.h"
#include "job/ImageChecks.h"
#include "job/JobCheck.h"
#include "multi/MSBDLU.h"
#include "platform/Helpers.h"
#include "protocol/AskOperator.h"
#include "records/RecordStore.h"
#include "records/Sha256.h"
#include "sim/SimulatedPhone.h"

namespace zembra::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

constexpr std::uint16_t kVersion = 0x1234;
constexpr std::uint32_t kBoot = 0x8000;
constexpr std::uint32_t kFont1Address = 0x400000;

Bytes ToBytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

class WindowDownload : public WindowTest {
  protected:
    WindowDownload() {
        code = CodeImage(0x20000, kVersion, kBoot);
        for (std::size_t i = 0; i < code.size() - 20; ++i)
            code[i] = static_cast<char>((i * 131 + i / 977) & 0xFF);
        font1.resize(0x10000);
        for (std::size_t i = 0; i < font1.size(); ++i) font1[i] = static_cast<char>(i * 7 + 3);
        codePath = dir / "code.bin";
        font1Path = dir / "font1_0x400000.bin";
        WriteFile(codePath, code);
        WriteFile(font1Path, font1);
        form().show();
        // Short waits in the advanced panel.
        Find<QLineEdit>("EditResponseWaitTime")->setText("1500");
        Find<QLineEdit>("EditNormalCMDWaitTime")->setText("400");
        Find<QLineEdit>("EditCmd2CmdWaitTime")->setText("1");
        Find<QLineEdit>("EditEraseWaitTime")->setText("5");
    }
    ~WindowDownload() override {
        windows.reset();  // the window first: it stops and joins its workers
        phones.clear();
    }

    SimulatedPhone& AddPhone(const std::string& port, SimLink link = SimLink::Usb,
                             const std::function<void(SimPhoneConfig&)>& adjust = {}) {
        SimPhoneConfig config;
        config.link = link;
        config.portName = port;
        config.version = kVersion;
        if (adjust) adjust(config);
        phones.push_back(std::make_unique<SimulatedPhone>(config));
        std::string error;
        EXPECT_TRUE(phones.back()->Start(&error)) << error;
        return *phones.back();
    }

    void Select(const char* button, const std::string& path) {
        dialogs.openAnswers.push_back(path);
        Click(button);
    }
    void SelectJob() {
        Select("SpeedButtonCode", codePath);
        Select("SpeedButtonFont1", font1Path);
    }
    void Click(const char* name) {
        auto* button = Find<QPushButton>(name);
        ASSERT_TRUE(button->isEnabled()) << name;
        QTest::mouseClick(button, Qt::LeftButton);
    }

    // Serves the event loop (the workers' hand-offs, the receive events, the timer) until
    // pred holds.
    bool PumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout = 30s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!pred()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }
    DownloadController& downloads() { return *windows->downloads; }
    bool SingleEnded() {
        return downloads().Idle() && Find<QPushButton>("BitBtnDOStart")->isEnabled();
    }
    bool MultiEnded() {
        return downloads().Idle() && Find<QPushButton>("BitBtnMultiStart")->isEnabled();
    }
    RunOutcome LastOutcome() { return downloads().single().shared().lastOutcome.load(); }
    int CountLogged(const char* pane, const std::string& text) {
        int n = 0;
        for (const auto& line : LoggedTexts(pane)) n += line == text;
        return n;
    }

    void ExpectFlashHoldsJob(const SimulatedPhone& phone) {
        EXPECT_EQ(phone.FlashRange(kBoot, code.size() - kBoot),
                  Bytes(code.begin() + kBoot, code.end()))
            << phone.PortName() << " code";
        EXPECT_EQ(phone.FlashRange(kFont1Address, font1.size()), ToBytes(font1))
            << phone.PortName() << " font 1";
        EXPECT_TRUE(phone.Errors().empty()) << phone.PortName() << ": " << phone.Errors().front();
    }
    void ExpectPortsClosed() {
        EXPECT_FALSE(downloads().ports().singlePortOpen());
        for (int channel = 0; channel < 8; ++channel)
            EXPECT_FALSE(downloads().ports().multiPortOpen(channel)) << channel;
    }

    std::string code, font1, codePath, font1Path;
    std::vector<std::unique_ptr<SimulatedPhone>> phones;
};

TEST_F(WindowDownload, SingleUsbFindsTheLowestPhoneInTheMapAndRunsAgain) {
    SimulatedPhone& higher = AddPhone("COM70");  // \Device\trelvic5
    SimulatedPhone& phone = AddPhone("COM67");   // \Device\trelvic2
    SelectJob();
    Click("BitBtnDOStart");
    QTest::mouseClick(Find<QPushButton>("BitBtnDOStart"), Qt::LeftButton);  // pressed twice
    EXPECT_FALSE(Find<QComboBox>("ComboBoxComPort")->isEnabled());
    EXPECT_EQ(Find<QComboBox>("ComboBoxComPort")->currentText(), "COM67");
    EXPECT_FALSE(Find<QFrame>("PanelFileSelect")->isEnabled());
    ASSERT_TRUE(PumpUntil([&] { return SingleEnded(); }));
    EXPECT_EQ(LastOutcome(), RunOutcome::Completed);
    ExpectFlashHoldsJob(phone);
    EXPECT_EQ(higher.Counters().units, 0u);
    EXPECT_EQ(LoggedTexts("RichEditOutput").back(), "다운 로드 종료");
    EXPECT_EQ(CountLogged("RichEditOutput", "다운로드"), 1);
    EXPECT_EQ(Find<QProgressBar>("CGaugeProgress")->value(), 100);
    EXPECT_TRUE(Find<QFrame>("PanelFileSelect")->isEnabled());
    EXPECT_TRUE(Find<QCheckBox>("CheckBoxAuto")->isEnabled());
    ExpectPortsClosed();

    // The next Start works without restarting the program, on the same phone.
    phone.ClearFlash();
    Click("BitBtnDOStart");
    ASSERT_TRUE(PumpUntil([&] { return SingleEnded(); }));
    EXPECT_EQ(LastOutcome(), RunOutcome::Completed);
    ExpectFlashHoldsJob(phone);
    EXPECT_EQ(CountLogged("RichEditOutput", "다운 로드 종료"), 2);
}

TEST_F(WindowDownload, SingleUartOnTheChosenPort) {
    SimulatedPhone& phone = AddPhone("COM3", SimLink::Uart);
    SelectJob();
    QTest::mouseClick(Find<QRadioButton>("RadioButtonSerial"), Qt::LeftButton);
    ASSERT_TRUE(Find<QComboBox>("ComboBoxComPort")->isEnabled());
    Find<QComboBox>("ComboBoxComPort")->setCurrentText("COM3");
    Click("BitBtnDOStart");
    ASSERT_TRUE(PumpUntil([&] { return SingleEnded(); }, 60s));
    EXPECT_EQ(LastOutcome(), RunOutcome::Completed);
    ExpectFlashHoldsJob(phone);
    EXPECT_FALSE(Find<QCheckBox>("CheckBoxAuto")->isEnabled());  // serial: stays off
    ExpectPortsClosed();
}

TEST_F(WindowDownload, EightPhonesReachOneHundredAndTheWindowReturnsToIdle) {
    for (int slot = 0; slot < 8; ++slot) AddPhone(FormatText("COM%d", 65 + slot));
    SelectJob();
    QTest::mouseClick(Find<QRadioButton>("RadioButtonMulti"), Qt::LeftButton);
    Click("BitBtnMultiStart");
    EXPECT_FALSE(Find<QPushButton>("BitBtnMultiStart")->isEnabled());
    // While it runs the title follows the leading phone.
    bool titleShowedPercent = false;
    ASSERT_TRUE(PumpUntil([&] {
        titleShowedPercent |= form().ApplicationTitle().find("% Zembra 4") != std::string::npos;
        return MultiEnded();
    }));
    for (int slot = 0; slot < 8; ++slot) {
        const QString n = QString::number(slot + 1);
        EXPECT_TRUE(Find<QCheckBox>(("CheckBoxMulti" + n).toLatin1())->isChecked()) << slot;
        EXPECT_EQ(Find<QLineEdit>(("EditMulti" + n).toLatin1())->text(),
                  QString::fromStdString(FormatText("COM%d", 65 + slot)));
        EXPECT_EQ(Find<QProgressBar>(("CGaugeP" + n).toLatin1())->value(), 100) << slot;
        EXPECT_EQ(Find<QLabel>(("LabelL" + n).toLatin1())->text(),
                  QString::fromUtf8("다운로드 종료"));
        EXPECT_EQ(downloads().multi().worker(slot)->endCode(), END_FINISHED);
        ExpectFlashHoldsJob(*phones[static_cast<std::size_t>(slot)]);
    }
    EXPECT_EQ(form().ApplicationTitle(), "Zembra 4");
    EXPECT_EQ(Find<QLineEdit>("EditCodeFileProcess")->text(), NOT_SENT);
    EXPECT_TRUE(Find<QFrame>("PanelFileSelect")->isEnabled());
    ExpectPortsClosed();
    // The title is only drawn by the one-second tick; a run this short may end before it.
    (void)titleShowedPercent;
}

TEST_F(WindowDownload, VersionQuestionAnsweredOkThenCancel) {
    SimulatedPhone& phone = AddPhone("COM66", SimLink::Usb, [](SimPhoneConfig& c) {
        c.version = 0x1111;  // the phone refuses the code image's version
    });
    SelectJob();
    dialogs.messageAnswers.push_back(mb::kIdOk);
    Click("BitBtnDOStart");
    ASSERT_TRUE(PumpUntil([&] { return SingleEnded(); }));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].style, MB_OK_CANCEL);
    EXPECT_EQ(LastOutcome(), RunOutcome::Completed);
    ExpectFlashHoldsJob(phone);

    phone.ClearFlash();
    dialogs.messageAnswers.push_back(mb::kIdCancel);
    Click("BitBtnDOStart");
    ASSERT_TRUE(PumpUntil([&] { return SingleEnded(); }));
    EXPECT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(LastOutcome(), RunOutcome::VersionRefused);
    EXPECT_EQ(phone.FlashWrittenEnd(), 0u);
    ExpectPortsClosed();
}

// Sets a file's last-write time `seconds` after its current one.
void Touch(const std::string& path, int seconds) {
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    const timespec times[2] = {{st.st_mtime + seconds, 0}, {st.st_mtime + seconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST_F(WindowDownload, ReservationFiresOnceAfterTheFilesAreRebuilt) {
    SimulatedPhone& phone = AddPhone("COM65");
    SelectJob();
    // The times shown are those of the selection; nothing is due yet.
    Find<QCheckBox>("CheckBoxStartCheck")->setChecked(true);
    for (int i = 0; i < 8; ++i) form().TimerComPortDetectTimer();
    EXPECT_EQ(CountLogged("RichEditOutput", "다운로드"), 0);

    Touch(codePath, 5);
    Touch(font1Path, 5);
    for (int i = 0; i < 4; ++i) form().TimerComPortDetectTimer();
    EXPECT_EQ(CountLogged("RichEditOutput", "다운로드"), 1);
    EXPECT_FALSE(Find<QCheckBox>("CheckBoxStartCheck")->isChecked());
    ASSERT_TRUE(PumpUntil([&] { return SingleEnded(); }));
    EXPECT_EQ(LastOutcome(), RunOutcome::Completed);
    ExpectFlashHoldsJob(phone);
    for (int i = 0; i < 8; ++i) form().TimerComPortDetectTimer();
    EXPECT_EQ(CountLogged("RichEditOutput", "다운로드"), 1);
}

TEST_F(WindowDownload, ReservationWaitsWhileAFileIsMissing) {
    SimulatedPhone& phone = AddPhone("COM65");
    SelectJob();
    Find<QCheckBox>("CheckBoxStartCheck")->setChecked(true);
    Touch(codePath, 5);
    std::remove(font1Path.c_str());
    for (int i = 0; i < 12; ++i) form().TimerComPortDetectTimer();
    EXPECT_EQ(CountLogged("RichEditOutput", "생성된 날짜를 갱신합니다"), 0);
    EXPECT_TRUE(Find<QCheckBox>("CheckBoxStartCheck")->isChecked());
    EXPECT_EQ(phone.Counters().units, 0u);
}

TEST_F(WindowDownload, StopDuringTheEraseInBothModes) {
    auto slowErase = [](SimPhoneConfig& c) { c.eraseMs = 3000; };
    SimulatedPhone& phone = AddPhone("COM65", SimLink::Usb, slowErase);
    AddPhone("COM66", SimLink::Usb, slowErase);
    SelectJob();
    Click("BitBtnDOStart");
    ASSERT_TRUE(PumpUntil(
        [&] { return CountLogged("RichEditOutput", "삭제 요청 잠시만 기다려 주세요") > 0; }));
    Click("BitBtnStopRequest");
    ASSERT_TRUE(PumpUntil([&] { return SingleEnded(); }, 5s));
    EXPECT_EQ(LastOutcome(), RunOutcome::Stopped);
    EXPECT_EQ(phone.FlashWrittenEnd(), 0u);
    ExpectPortsClosed();

    QTest::mouseClick(Find<QRadioButton>("RadioButtonMulti"), Qt::LeftButton);
    Click("BitBtnMultiStart");
    ASSERT_TRUE(PumpUntil([&] {
        return Find<QLabel>("LabelL2")->text() == QString::fromUtf8("코드 삭제중") ||
               CountLogged("RichEdit21", "COM66:삭제 요청 잠시만 기다려 주세요") > 0;
    }));
    Click("BitBtn8");
    ASSERT_TRUE(PumpUntil([&] { return MultiEnded(); }, 5s));
    for (int slot = 0; slot < 2; ++slot) {
        EXPECT_EQ(downloads().multi().worker(slot)->endCode(), END_STOPPED) << slot;
        EXPECT_EQ(Find<QLabel>(slot ? "LabelL2" : "LabelL1")->text(),
                  QString::fromUtf8("사용자 종료"));
    }
    ExpectPortsClosed();
}

TEST_F(WindowDownload, ClosingTheWindowDuringADownloadStopsAndJoinsTheWorkers) {
    for (int slot = 0; slot < 3; ++slot)
        AddPhone(FormatText("COM%d", 65 + slot), SimLink::Usb,
                 [](SimPhoneConfig& c) { c.eraseMs = 3000; });
    SelectJob();
    QTest::mouseClick(Find<QRadioButton>("RadioButtonMulti"), Qt::LeftButton);
    Click("BitBtnMultiStart");
    ASSERT_TRUE(PumpUntil([&] { return downloads().ports().multiPortOpen(2); }));
    const auto before = std::chrono::steady_clock::now();
    form().close();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 3s);
    EXPECT_TRUE(downloads().Idle() || !downloads().multi().AnyWorkerActive());
    ExpectPortsClosed();
    windows.reset();  // joins the threads
}

TEST_F(WindowDownload, UnpluggedPhoneEndsTheRunAndTheNextStartWorks) {
    SimulatedPhone& phone = AddPhone("COM65", SimLink::Usb, [](SimPhoneConfig& c) {
        c.faults.hangupAfterBytes = 1500;  // during the first image
        c.faults.replugAfterMs = 100;
    });
    SelectJob();
    Click("BitBtnDOStart");
    ASSERT_TRUE(PumpUntil([&] { return SingleEnded(); }));
    EXPECT_NE(LastOutcome(), RunOutcome::Completed);
    ExpectPortsClosed();
    ASSERT_TRUE(phone.WaitUntil([&] { return phone.IsPlugged(); }, 5s));
    phone.SetFaults({});
    // The tick finds the phone again; the next Start flashes it.
    Click("BitBtnDOStart");
    ASSERT_TRUE(PumpUntil([&] { return SingleEnded(); }));
    EXPECT_EQ(LastOutcome(), RunOutcome::Completed);
    ExpectFlashHoldsJob(phone);
}

TEST_F(WindowDownload, ARefusingPhoneFailsOnlyItsOwnSlot) {
    AddPhone("COM65");
    AddPhone("COM66", SimLink::Usb, [](SimPhoneConfig& c) {
        c.faults.nakCount = 1000;  // refuses every data packet
        c.faults.nakDataOnly = true;
    });
    AddPhone("COM67");
    SelectJob();
    QTest::mouseClick(Find<QRadioButton>("RadioButtonMulti"), Qt::LeftButton);
    Click("BitBtnMultiStart");
    ASSERT_TRUE(PumpUntil([&] { return MultiEnded(); }));
    EXPECT_EQ(downloads().multi().worker(0)->endCode(), END_FINISHED);
    EXPECT_NE(downloads().multi().worker(1)->endCode(), END_FINISHED);
    EXPECT_NE(downloads().multi().worker(1)->endCode(), 0);
    EXPECT_TRUE(Find<QLabel>("LabelL2")->text().endsWith(QString::fromUtf8(" 오류 종료")))
        << Find<QLabel>("LabelL2")->text().toStdString();
    EXPECT_EQ(downloads().multi().worker(2)->endCode(), END_FINISHED);
    ExpectFlashHoldsJob(*phones[0]);
    ExpectFlashHoldsJob(*phones[2]);
    ExpectPortsClosed();
}

TEST_F(WindowDownload, TickColoursMismatchedPathsButNotWhileTheAdvancedPanelIsOpen) {
    AddPhone("COM66");
    SelectJob();
    DownloadJob job = form().ReadJob();
    job[ImageSlot::Code].expectedName = "MAIN_CODE";
    job[ImageSlot::Font1].expectedName = "FONT1_0X4";  // matches whatever the letter case
    form().ApplyJob(job);
    auto* codePathField = Find<QLineEdit>("EditCodeFilePath");
    auto* fontPathField = Find<QLineEdit>("EditFont1FilePath");
    auto* combo = Find<QComboBox>("ComboBoxComPort");

    Click("BitBtnAM");  // both Start buttons disabled: the tick stops after the displays
    form().TimerComPortDetectTimer();
    EXPECT_NE(TMainForm::FontColour(codePathField), MISMATCH_COLOUR);
    EXPECT_TRUE(combo->isEnabled());

    Click("BitBtnAMClose");
    form().TimerComPortDetectTimer();
    EXPECT_EQ(TMainForm::FontColour(codePathField), MISMATCH_COLOUR);
    EXPECT_EQ(TMainForm::FontColour(fontPathField), TMainForm::WindowTextColour());
    EXPECT_FALSE(combo->isEnabled());
    EXPECT_EQ(combo->currentText(), "COM66");

    // The phone unplugged: the operator may choose the port again.
    phones.clear();
    form().TimerComPortDetectTimer();
    EXPECT_TRUE(combo->isEnabled());
}

// A font address beyond 32 bits (here from the file name) would wrap on the phone: the job
// check refuses it with its box, before any question or port.
TEST_F(WindowDownload, AddressBeyond32BitsIsRefusedBeforeThePortOpens) {
    AddPhone("COM65");
    const std::string beyond = dir / "font2_0x100000000.bin";
    WriteFile(beyond, std::string(0x10000, '\x22'));
    SelectJob();
    Select("SpeedButtonFont2", beyond);
    Click("BitBtnDOStart");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, JobErrorText(42));
    EXPECT_EQ(dialogs.messages[0].caption, JOB_ERROR_CAPTION);
    EXPECT_TRUE(Find<QPushButton>("BitBtnDOStart")->isEnabled());
    EXPECT_EQ(CountLogged("RichEditOutput", "다운로드"), 0);
    ExpectPortsClosed();
}

TEST_F(WindowDownload, RefusedStartsOpenNothing) {
    AddPhone("COM65");
    // A font whose range overlaps the code image's: the question, No gives the controls back.
    const std::string overlapping = dir / "font2_0x10000.bin";
    WriteFile(overlapping, std::string(0x10000, '\x11'));
    SelectJob();
    Select("SpeedButtonFont2", overlapping);
    dialogs.messageAnswers.push_back(mb::kIdNo);
    Click("BitBtnDOStart");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, FLASH_RANGE_QUESTION);
    EXPECT_EQ(dialogs.messages[0].caption, QUESTION_CAPTION);
    EXPECT_EQ(dialogs.messages[0].style, mb::kYesNo);
    EXPECT_TRUE(Find<QPushButton>("BitBtnDOStart")->isEnabled());
    EXPECT_EQ(CountLogged("RichEditOutput", "다운로드"), 0);

    // A time field that is not a number: a Korean message naming the field, no run.
    Click("SpeedButtonFont2");  // released: the slot is cleared
    Find<QLineEdit>("EditCmd2CmdWaitTime")->setText("abc");
    Click("BitBtnDOStart");
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_NE(dialogs.messages[1].text.find("CMD사이의대기시간(ms)"), std::string::npos)
        << dialogs.messages[1].text;
    EXPECT_NE(dialogs.messages[1].text.find("'abc'"), std::string::npos);
    EXPECT_TRUE(Find<QPushButton>("BitBtnDOStart")->isEnabled());

    // A port that cannot be opened: the blue line, the controls back.
    Find<QLineEdit>("EditCmd2CmdWaitTime")->setText("1");
    QTest::mouseClick(Find<QRadioButton>("RadioButtonSerial"), Qt::LeftButton);
    Find<QComboBox>("ComboBoxComPort")->setCurrentText("/dev/zembra-no-such-port");
    Click("BitBtnDOStart");
    EXPECT_EQ(LoggedTexts("RichEditOutput").back(), "통신포트열기를 실패했습니다. 확인 바랍니다.");
    EXPECT_TRUE(Find<QPushButton>("BitBtnDOStart")->isEnabled());
    EXPECT_TRUE(downloads().Idle());
    ExpectPortsClosed();
}

// Every run from the window is recorded (single, and each slot of a multi download) in the
// data folder's records database; Ctrl+R shows the last ones.
TEST_F(WindowDownload, RunsAreRecordedAndShown) {
    const std::string path = downloads().recordsPath();
    EXPECT_EQ(path, std::string(std::getenv("XDG_DATA_HOME")) + "/zembra/records.sqlite");
    std::vector<DownloadRecord> before;
    RecordStore(path).Query({}, before);  // other tests of this program record too

    SimulatedPhone& phone = AddPhone("COM65");
    SelectJob();
    Click("BitBtnDOStart");
    ASSERT_TRUE(PumpUntil([&] { return SingleEnded(); }));
    SimulatedPhone& second = AddPhone("COM66");
    QTest::mouseClick(Find<QRadioButton>("RadioButtonMulti"), Qt::LeftButton);
    Click("BitBtnMultiStart");
    std::vector<DownloadRecord> records;
    ASSERT_TRUE(PumpUntil([&] {
        RecordStore(path).Query({}, records);
        return MultiEnded() && records.size() >= before.size() + 3;
    }));
    ASSERT_EQ(records.size(), before.size() + 3);
    const DownloadRecord& single = records[before.size()];
    EXPECT_EQ(single.frontEnd, "zembra");
    EXPECT_EQ(single.port, "COM65");
    EXPECT_EQ(single.outcome, "Completed");
    EXPECT_EQ(single.protocol, "compressed");
    EXPECT_EQ(single.versionWord, kVersion);
    ASSERT_EQ(single.images.size(), 2u);
    EXPECT_EQ(single.images[0].sha256,
              Sha256OfBytes(reinterpret_cast<const std::uint8_t*>(code.data()), code.size()));
    EXPECT_EQ(single.images[1].flashStart, kFont1Address);
    EXPECT_TRUE(single.images[0].written && single.images[1].written);
    EXPECT_GT(single.bytesSent, 1000u);  // compressed: fewer than the images hold
    for (std::size_t i = before.size() + 1; i < records.size(); ++i) {
        EXPECT_EQ(records[i].frontEnd, "zembra --multi");
        EXPECT_EQ(records[i].outcome, "endCode 1");
        EXPECT_EQ(records[i].slot, records[i].port == "COM65" ? 1 : 2);
        EXPECT_TRUE(records[i].succeeded);
    }
    ExpectFlashHoldsJob(phone);
    ExpectFlashHoldsJob(second);

    QTest::keyClick(&form(), Qt::Key_R, Qt::ControlModifier);
    ASSERT_EQ(dialogs.modalShown.back(), "RecordsDialog");
    auto* table = form().findChild<QTableWidget*>("TableRecords");
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->rowCount(), static_cast<int>(std::min<std::size_t>(records.size(), 50)));
}

}  // namespace
}  // namespace zembra::test

namespace zembra::test {
namespace {

// zembra.conf names a line server, for the window made after it.
struct LineServerConfigured {
    LineServerConfigured() {
        std::filesystem::create_directories(
            std::filesystem::path(StationConfigPath()).parent_path());
        std::ofstream(StationConfigPath()) << "records-server = host=/nonexistent port=5999 "
                                              "dbname=line user=station password=hidden-pw\n";
    }
    ~LineServerConfigured() { std::filesystem::remove(StationConfigPath()); }
};

class WindowLineServer : public LineServerConfigured, public WindowDownload {};

// The line server is away: the phone is flashed and recorded as ever, and the records dialog
// shows the record waiting and why, without the password.
TEST_F(WindowLineServer, RecordsWaitWhileTheServerIsAway) {
    SimulatedPhone& phone = AddPhone("COM65");
    SelectJob();
    Click("BitBtnDOStart");
    ASSERT_TRUE(PumpUntil([&] { return SingleEnded(); }));
    ExpectFlashHoldsJob(phone);
    QTest::keyClick(&form(), Qt::Key_R, Qt::ControlModifier);
    auto* line = form().findChild<QLabel*>("LabelLineStatus");
    ASSERT_NE(line, nullptr);
    // Every record of this test program's database waits; the count is there once the
    // sender has looked.
    std::vector<DownloadRecord> records;
    RecordStore(downloads().recordsPath()).Query({}, records);
    const QString waiting = QString("전송 대기 %1건").arg(records.size());
    EXPECT_TRUE(PumpUntil([&] {
        downloads().Tick();
        return line->text().contains(waiting) && line->text().contains("재시도");
    })) << line->text().toStdString();
    EXPECT_TRUE(line->text().startsWith("라인 서버 station@/nonexistent:5999/line: "));
    EXPECT_FALSE(line->text().contains("hidden-pw"));
}

}  // namespace
}  // namespace zembra::test
