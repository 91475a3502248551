// Downloads from the window: the real buttons pressed (QTest clicks on the controls found by
// their names) with simulated phones on pseudo-terminals, registered in the port-alias folder
// and the serial-device map as the phones' driver does; every flash compared with the images.
// On Windows the phones are the Linux side's behind Wine's COM ports (LinuxSidePhone.h), and
// the tests that change a phone while it runs, count its units or use Linux folders are left
// out.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <thread>

#include "AppTestSupport.h"
#include "app/FormWidgets.h"
#include "app/SModeUnit.h"
#include "app/SlotMapDialog.h"
#include "job/FlashRanges.h"
#include "job/ImageChecks.h"
#include "job/JobCheck.h"
#include "multi/MSBDLU.h"
#include "platform/Helpers.h"
#include "ports/SlotMap.h"
#include "protocol/AskOperator.h"
#include "records/RecordStore.h"
#include "records/Sha256.h"
#include "sim/SimulatedPhone.h"
#include "tests/support/Environment.h"
#ifdef _WIN32
#include "LinuxSidePhone.h"
#else
#include "tests/support/UsbPorts.h"
#endif

namespace zembra::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

constexpr std::uint16_t kVersion = 0x1234;
constexpr std::uint32_t kBoot = 0x8000;
constexpr std::uint32_t kFont1Address = 0x400000;

// Phones of a kind some tests need. On Linux a test makes one in its process with `adjust`; on
// Windows it takes a Linux side's phone that scripts/test-windows.sh started with the same
// behaviour, at the ports it names for the kind.
struct PhoneKind {
    const char* name;
    std::function<void(SimPhoneConfig&)> adjust;
};
const PhoneKind kSlowErase{"slow-erase", [](SimPhoneConfig& c) { c.eraseMs = 3000; }};
const PhoneKind kOtherVersion{"other-version", [](SimPhoneConfig& c) {
                                  c.version = 0x1111;  // refuses the code image's version
                              }};
const PhoneKind kRefusingData{"refusing-data", [](SimPhoneConfig& c) {
                                  c.faults.nakCount = 1000;  // refuses every data packet
                                  c.faults.nakDataOnly = true;
                              }};

#ifdef _WIN32
using TestPhone = LinuxSidePhone;

// The Linux side's phones run as they were started: a test adjusts none of them.
std::unique_ptr<TestPhone> MakePhone(const std::string& port, SimLink link) {
    return std::make_unique<TestPhone>(port, link);
}
// The nth phone of the kind, in the map as the phone at port would be.
std::unique_ptr<TestPhone> MakePhone(const std::string& port, SimLink link, const PhoneKind& kind,
                                     std::size_t nth) {
    return std::make_unique<TestPhone>(KindPort(kind.name, nth), link, DeviceOfPort(port));
}
#else
using TestPhone = SimulatedPhone;

// A simulated phone in this process, started.
std::unique_ptr<TestPhone> MakePhone(const std::string& port, SimLink link,
                                     const std::function<void(SimPhoneConfig&)>& adjust = {}) {
    SimPhoneConfig config;
    config.link = link;
    config.portName = port;
    config.version = kVersion;
    if (adjust) adjust(config);
    auto phone = std::make_unique<SimulatedPhone>(config);
    std::string error;
    EXPECT_TRUE(phone->Start(&error)) << error;
    return phone;
}
std::unique_ptr<TestPhone> MakePhone(const std::string& port, SimLink link, const PhoneKind& kind,
                                     std::size_t) {
    return MakePhone(port, link, kind.adjust);
}
#endif

Bytes ToBytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

class WindowDownload : public WindowTest {
  protected:
    WindowDownload() {
        // Images of each test's own: a phone that keeps its flash from test to test (the
        // Linux side's) cannot pass with an earlier test's bytes.
        const std::size_t salt = std::hash<std::string>{}(
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        code = CodeImage(0x20000, kVersion, kBoot);
        for (std::size_t i = 0; i < code.size() - 20; ++i)
            code[i] = static_cast<char>((i * 131 + i / 977 + salt) & 0xFF);
        font1.resize(0x10000);
        for (std::size_t i = 0; i < font1.size(); ++i)
            font1[i] = static_cast<char>(i * 7 + 3 + salt);
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

    // (Linux: adjust, a function that changes the phone's configuration.)
    template <class... Adjust>
    TestPhone& AddPhone(const std::string& port, SimLink link = SimLink::Usb,
                        const Adjust&... adjust) {
        phones.push_back(MakePhone(port, link, adjust...));
        return *phones.back();
    }
    // A phone of the kind at port (the multi slot of its device number); on Windows the
    // kind's next phone.
    TestPhone& AddPhone(const std::string& port, const PhoneKind& kind) {
        phones.push_back(MakePhone(port, SimLink::Usb, kind, kindsTaken[kind.name]++));
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
    // The run is over and its records are written.
    bool SingleEnded() {
        return downloads().Idle() && downloads().RecordsWritten() &&
               Find<QPushButton>("BitBtnDOStart")->isEnabled();
    }
    bool MultiEnded() {
        return downloads().Idle() && downloads().RecordsWritten() &&
               Find<QPushButton>("BitBtnMultiStart")->isEnabled();
    }
    RunOutcome LastOutcome() { return downloads().single().shared().lastOutcome.load(); }
    int CountLogged(const char* pane, const std::string& text) {
        int n = 0;
        for (const auto& line : LoggedTexts(pane)) n += line == text;
        return n;
    }

    void ExpectFlashHoldsJob(const TestPhone& phone) {
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
    std::vector<std::unique_ptr<TestPhone>> phones;
    std::map<std::string, std::size_t> kindsTaken;
};

#ifndef _WIN32  // counts a phone's units and clears its flash
TEST_F(WindowDownload, SingleUsbFindsTheLowestPhoneInTheMapAndRunsAgain) {
    SimulatedPhone& higher = AddPhone("COM70");  // \Device\trelvic5
    SimulatedPhone& phone = AddPhone("COM67");   // \Device\trelvic2
    SelectJob();
    Click("BitBtnDOStart");
    QTest::mouseClick(Find<QPushButton>("BitBtnDOStart"), Qt::LeftButton);  // pressed twice
    EXPECT_FALSE(Find<QComboBox>("ComboBoxComPort")->isEnabled());
    EXPECT_EQ(Find<QComboBox>("ComboBoxComPort")->currentText(), "COM67");
    EXPECT_FALSE(Find<QFrame>("PanelFileSelect")->isEnabled());
    // The window title (what task bars show) follows the run and is "Zembra 4.2" again after.
    // Every title set is seen (a progress title may live for one event batch only).
    std::set<QString> titles;
    const QMetaObject::Connection seen = QObject::connect(
        &form(), &QWidget::windowTitleChanged, [&](const QString& t) { titles.insert(t); });
    ASSERT_TRUE(PumpUntil([&] { return SingleEnded(); }));
    QObject::disconnect(seen);
    EXPECT_TRUE(titles.count("Erase Zembra 4")) << titles.size();
    EXPECT_TRUE(std::any_of(titles.begin(), titles.end(),
                            [](const QString& t) { return t.endsWith("% Zembra 4"); }));
    EXPECT_EQ(form().windowTitle(), "Zembra 4.2");
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
#endif

TEST_F(WindowDownload, SingleUartOnTheChosenPort) {
    TestPhone& phone = AddPhone("COM3", SimLink::Uart);
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

#ifndef _WIN32  // USB locations from a sysfs folder of the test's own
// "슬롯 지정" teaches the slot map in its dialog (a phone present before is not taken, Esc
// skips, a phone at a bound port is refused), and the multi slots then follow the ports:
// the phones land in their ports' slots and a phone at another port is named and left out.
TEST_F(WindowDownload, SlotMapDialogBindsPortsAndTheSlotsFollowThem) {
    const std::string sysfs = std::getenv("ZEMBRA_SYSFS_TTY_DIR");
    const std::string devices = dir / "devices";
    const auto plug = [&](SimulatedPhone& phone, const std::string& location) {
        PlugTtyInto(sysfs, devices, SysfsTtyName(phone.DevicePath()), location);
    };
    std::filesystem::remove(SlotMapPath());
    SimulatedPhone& stranger = AddPhone("COM65");
    plug(stranger, "1-1.1");
    QTest::mouseClick(Find<QRadioButton>("RadioButtonMulti"), Qt::LeftButton);

    dialogs.whileModal = [&](QDialog& shown) {
        auto& dialog = static_cast<TSlotMapDialog&>(shown);
        shown.show();
        const auto prompted = [&](const char* text) {
            return PumpUntil([&] { return dialog.prompt()->text() == QString::fromUtf8(text); },
                             5s);
        };
        const auto logged = [&](const char* text) {
            return PumpUntil(
                [&] {
                    const int n = dialog.log()->count();
                    return n > 0 && dialog.log()->item(n - 1)->text() == QString::fromUtf8(text);
                },
                5s);
        };
        ASSERT_TRUE(prompted("슬롯 1 포트에 폰을 연결하세요"));
        SimulatedPhone& first = AddPhone("COM66");
        plug(first, "1-1.2");
        ASSERT_TRUE(prompted("슬롯 2 포트에 폰을 연결하세요"));
        QTest::keyClick(&dialog, Qt::Key_Escape);
        ASSERT_TRUE(prompted("슬롯 3 포트에 폰을 연결하세요"));
        first.Stop();  // unplugged, and plugged into the same port again
        plug(AddPhone("COM66"), "1-1.2");
        ASSERT_TRUE(logged("COM66: 이미 슬롯 1에 지정된 포트입니다 (1-1.2)"));
        SimulatedPhone& second = AddPhone("COM68");
        plug(second, "1-1.3");
        ASSERT_TRUE(prompted("슬롯 4 포트에 폰을 연결하세요"));
        for (int slot = 4; slot <= 8; ++slot) QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_EQ(dialog.prompt()->text(), QString::fromUtf8("슬롯 지정 완료"));
        ASSERT_EQ(dialog.table()->rowCount(), 2);
        EXPECT_EQ(dialog.table()->item(1, 1)->text(), "1-1.3");
        EXPECT_EQ(dialog.table()->item(1, 2)->text(), "COM68");
        QTest::keyClick(&dialog, Qt::Key_Escape);  // closes once every slot was asked
        EXPECT_FALSE(dialog.isVisible());
    };
    Click("BitBtnSlotMap");
    ASSERT_EQ(dialogs.modalShown, std::vector<std::string>{"SlotMapDialog"});
    const SlotMapFile file = ReadSlotMap(SlotMapPath());
    EXPECT_EQ(file.map.locations, (std::map<int, std::string>{{1, "1-1.2"}, {3, "1-1.3"}}));

    SelectJob();
    ASSERT_TRUE(PumpUntil([&] {
        return Find<QLineEdit>("EditMulti1")->text() == "COM66" &&
               Find<QLineEdit>("EditMulti3")->text() == "COM68";
    }));
    EXPECT_EQ(Find<QLineEdit>("EditMulti2")->text(), "");
    EXPECT_EQ(CountLogged("RichEdit21", "COM65: 등록되지 않은 포트 1-1.1"), 1);
    Click("BitBtnMultiStart");
    ASSERT_TRUE(PumpUntil([&] { return MultiEnded(); }));
    ExpectFlashHoldsJob(*phones[2]);
    ExpectFlashHoldsJob(*phones[3]);
    EXPECT_EQ(stranger.FlashRange(kBoot, 16), Bytes(16, 0xFF));
    EXPECT_EQ(CountLogged("RichEdit21", "COM65: 등록되지 않은 포트 1-1.1"), 1);
    RecordFilter last;
    last.last = 2;
    std::vector<DownloadRecord> records;
    ASSERT_EQ(RecordStore(downloads().recordsPath()).Query(last, records), "");
    ASSERT_EQ(records.size(), 2u);
    for (const DownloadRecord& r : records)
        EXPECT_EQ(r.location, r.slot == 1 ? "1-1.2" : "1-1.3") << r.slot;
    std::filesystem::remove(SlotMapPath());
}
#endif

TEST_F(WindowDownload, VersionQuestionAnsweredOkThenCancel) {
    TestPhone& phone = AddPhone("COM66", kOtherVersion);
    SelectJob();
    dialogs.messageAnswers.push_back(mb::kIdOk);
    Click("BitBtnDOStart");
    ASSERT_TRUE(PumpUntil([&] { return SingleEnded(); }));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].style, mb::kOkCancel);
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

#ifndef _WIN32  // file times set with utimensat; a phone's unit count
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
#endif

TEST_F(WindowDownload, StopDuringTheEraseInBothModes) {
    TestPhone& phone = AddPhone("COM65", kSlowErase);
    const TestPhone& second = AddPhone("COM66", kSlowErase);
    SelectJob();
    Click("BitBtnDOStart");
    ASSERT_TRUE(PumpUntil(
        [&] { return CountLogged("RichEditOutput", "삭제 요청 잠시만 기다려 주세요") > 0; }));
    Click("BitBtnStopRequest");
    ASSERT_TRUE(PumpUntil([&] { return SingleEnded(); }, 5s));
    EXPECT_EQ(LastOutcome(), RunOutcome::Stopped);
    // The stop's lines: the request in the visible pane, the cable notice in the multi pane.
    EXPECT_EQ(CountLogged("RichEditOutput", "다운로드 중단 요청"), 1);
    EXPECT_EQ(CountLogged("RichEdit21", "프로그램이 중단되면 케이블을 제거 하세요"), 1);
    EXPECT_EQ(phone.FlashWrittenEnd(), 0u);
    ExpectPortsClosed();

    QTest::mouseClick(Find<QRadioButton>("RadioButtonMulti"), Qt::LeftButton);
    Click("BitBtnMultiStart");
    ASSERT_TRUE(PumpUntil([&] {
        return Find<QLabel>("LabelL2")->text() == QString::fromUtf8("코드 삭제중") ||
               CountLogged("RichEdit21", second.PortName() + ":삭제 요청 잠시만 기다려 주세요") > 0;
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
    for (int slot = 0; slot < 3; ++slot) AddPhone(FormatText("COM%d", 65 + slot), kSlowErase);
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

#ifndef _WIN32  // a phone unplugged and plugged in again
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
#endif

TEST_F(WindowDownload, ARefusingPhoneFailsOnlyItsOwnSlot) {
    AddPhone("COM65");
    AddPhone("COM66", kRefusingData);
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
    DownloadJob job = form().model().ReadJob();
    job[ImageSlot::Code].expectedName = "MAIN_CODE";
    job[ImageSlot::Font1].expectedName = "FONT1_0X4";  // matches whatever the letter case
    form().model().ApplyJob(job);
    auto* codePathField = Find<QLineEdit>("EditCodeFilePath");
    auto* fontPathField = Find<QLineEdit>("EditFont1FilePath");
    auto* combo = Find<QComboBox>("ComboBoxComPort");

    Click("BitBtnAM");  // both Start buttons disabled: the tick stops after the displays
    form().TimerComPortDetectTimer();
    EXPECT_NE(FontColour(codePathField), MISMATCH_COLOUR);
    EXPECT_TRUE(combo->isEnabled());

    Click("BitBtnAMClose");
    form().TimerComPortDetectTimer();
    EXPECT_EQ(FontColour(codePathField), MISMATCH_COLOUR);
    EXPECT_EQ(FontColour(fontPathField), WindowTextColour());
    EXPECT_FALSE(combo->isEnabled());
    EXPECT_EQ(combo->currentText(), "COM66");

    // The phone unplugged: the operator may choose the port again.
    phones.clear();
    form().TimerComPortDetectTimer();
    EXPECT_TRUE(combo->isEnabled());
}

#ifndef _WIN32  // the map folder under XDG_RUNTIME_DIR and its modes
// The default map folder, made by another account or writable by others, gives no phone and
// is said once in red (here under a runtime folder of the test's own, made writable by all).
TEST_F(WindowDownload, RefusedMapFolderGivesNoPhoneAndIsLoggedOnce) {
    const std::string runtime = dir / "runtime";
    std::filesystem::create_directories(runtime + "/zembra/serialcomm");
    ASSERT_EQ(::chmod((runtime + "/zembra").c_str(), 0777), 0);
    WriteFile(runtime + "/zembra/serialcomm/%5CDevice%5Ctrelvic0", "COM66\n");
    const std::string map = std::getenv("ZEMBRA_SERIAL_MAP_DIR");
    const char* oldRuntime = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedRuntime = oldRuntime ? oldRuntime : "";
    UnsetEnvironment("ZEMBRA_SERIAL_MAP_DIR");
    SetEnvironment("XDG_RUNTIME_DIR", runtime);
    for (int tick = 0; tick < 3; ++tick) form().TimerComPortDetectTimer();
    SetEnvironment("ZEMBRA_SERIAL_MAP_DIR", map);
    if (oldRuntime)
        SetEnvironment("XDG_RUNTIME_DIR", savedRuntime);
    else
        UnsetEnvironment("XDG_RUNTIME_DIR");

    EXPECT_TRUE(Find<QComboBox>("ComboBoxComPort")->isEnabled());  // no phone taken
    int refusals = 0;
    for (const RichEditLog::Line& line : PaneLines("RichEditOutput")) {
        if (line.text.find("refusing the folder " + runtime + "/zembra") == std::string::npos)
            continue;
        ++refusals;
        EXPECT_EQ(line.colour, COLOUR_RED) << line.text;
    }
    EXPECT_EQ(refusals, 1);
}
#endif

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
    // The blue line, then the system's reason in red.
    const auto lines = PaneLines("RichEditOutput");
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2].text, "통신포트열기를 실패했습니다. 확인 바랍니다.");
    EXPECT_NE(lines.back().text.find("/dev/zembra-no-such-port"), std::string::npos)
        << lines.back().text;
    EXPECT_NE(lines.back().text.find(std::strerror(ENOENT)), std::string::npos);
    EXPECT_EQ(lines.back().colour, COLOUR_RED);
    EXPECT_TRUE(Find<QPushButton>("BitBtnDOStart")->isEnabled());
    EXPECT_TRUE(downloads().Idle());
    ExpectPortsClosed();
}

// Every run from the window is recorded (single, and each slot of a multi download) in the
// data folder's records database; Ctrl+R shows the last ones.
TEST_F(WindowDownload, RunsAreRecordedAndShown) {
    const std::string path = downloads().recordsPath();
#ifndef _WIN32  // (Windows: the roaming folder, whatever XDG_DATA_HOME says)
    EXPECT_EQ(path, std::string(std::getenv("XDG_DATA_HOME")) + "/zembra/records.sqlite");
#endif
    std::vector<DownloadRecord> before;
    RecordStore(path).Query({}, before);  // other tests of this program record too

    TestPhone& phone = AddPhone("COM65");
    SelectJob();
    Click("BitBtnDOStart");
    ASSERT_TRUE(PumpUntil([&] { return SingleEnded(); }));
    TestPhone& second = AddPhone("COM66");
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

// Another program holds the records database locked for longer than a write may take: the
// eight runs end and the window ticks on meanwhile, and every record lands once it is free.
TEST_F(WindowDownload, ALockedRecordsDatabaseHoldsUpNothing) {
    const std::string path = downloads().recordsPath();
    ASSERT_EQ(RecordStore(path).IdentifyRuns(), "");  // the database is there to be locked
    std::vector<DownloadRecord> before;
    RecordStore(path).Query({}, before);  // other tests of this program record too
    for (int slot = 0; slot < 8; ++slot) AddPhone(FormatText("COM%d", 65 + slot));
    SelectJob();
    QTest::mouseClick(Find<QRadioButton>("RadioButtonMulti"), Qt::LeftButton);

    using Clock = std::chrono::steady_clock;
    Clock::time_point lastTick = Clock::now();
    Clock::duration longestGap{};
    int ticks = 0;
    QObject counter;
    QObject::connect(Find<QTimer>("TimerComPortDetect"), &QTimer::timeout, &counter, [&] {
        ++ticks;
        longestGap = std::max(longestGap, Clock::now() - lastTick);
        lastTick = Clock::now();
    });
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE;", nullptr, nullptr, nullptr), SQLITE_OK);
    const Clock::time_point locked = lastTick = Clock::now();
    constexpr auto kHeld = 5s;
    Click("BitBtnMultiStart");
    // Every slot ends and the window ticks twice more, all with the lock held (at least kHeld).
    int ticksAtEnd = -1;
    ASSERT_TRUE(PumpUntil(
        [&] {
            if (ticksAtEnd < 0 && !downloads().multi().AnyWorkerActive() &&
                Find<QPushButton>("BitBtnMultiStart")->isEnabled())
                ticksAtEnd = ticks;
            return ticksAtEnd >= 0 && ticks >= ticksAtEnd + 2 && Clock::now() - locked >= kHeld;
        },
        120s));
    EXPECT_LT(longestGap, kHeld);
    for (int slot = 0; slot < 8; ++slot)
        EXPECT_EQ(Find<QProgressBar>(("CGaugeP" + QString::number(slot + 1)).toLatin1())->value(),
                  100)
            << slot;
    EXPECT_TRUE(downloads().Idle());
    EXPECT_FALSE(downloads().RecordsWritten());  // they wait for the database
    ASSERT_EQ(sqlite3_exec(holder, "COMMIT;", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(holder);

    ASSERT_TRUE(PumpUntil([&] { return MultiEnded(); }));
    std::vector<DownloadRecord> records;
    ASSERT_EQ(RecordStore(path).Query({}, records), "");
    ASSERT_EQ(records.size(), before.size() + 8);
    std::set<int> slots;
    for (std::size_t i = before.size(); i < records.size(); ++i) {
        EXPECT_TRUE(records[i].succeeded) << records[i].port;
        slots.insert(records[i].slot);
    }
    EXPECT_EQ(slots.size(), 8u);
    for (const std::string& line : LoggedTexts("RichEditOutput"))
        EXPECT_EQ(line.find("다운로드 기록을 저장하지 못했습니다"), std::string::npos) << line;
}

#ifndef _WIN32  // test_app.exe crashed under Wine (a page fault) while it ran zembra-cli.exe
// --- the debug trace of a window download ---------------------------------------------------

// A trace line's fields. channel is -1 on single lines; data is the hex dump ("" without).
struct TraceFields {
    char kind = 0;
    int count = 0;
    int channel = -1;
    long long clock = 0, elapsed = 0;
    std::string data;
};

std::vector<TraceFields> ReadTrace(const std::string& path) {
    static const std::regex line(
        R"(\[([WR]):(\d{3,})(?: C:(\d{2}))? (\d{8,}) (\d{8,})\](?: ((?:[0-9A-F]{2} )+))?)");
    std::vector<TraceFields> fields;
    const std::string text = ReadFile(path);
    std::size_t at = 0;
    for (std::size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
        std::smatch m;
        const std::string one = text.substr(at, end - at);
        if (!std::regex_match(one, m, line)) {
            ADD_FAILURE() << "not a trace line: " << one;
            continue;
        }
        fields.push_back({m[1].str()[0], std::stoi(m[2]), m[3].matched ? std::stoi(m[3]) : -1,
                          std::stoll(m[4]), std::stoll(m[5]), m[6]});
    }
    EXPECT_EQ(at, text.size()) << "the trace ends within a line";
    return fields;
}

// The write lines without their times: what went to the phone, packet by packet.
std::vector<std::string> WrittenPackets(const std::vector<TraceFields>& trace) {
    std::vector<std::string> packets;
    for (const TraceFields& f : trace)
        if (f.kind == 'W') packets.push_back(std::to_string(f.count) + " " + f.data);
    return packets;
}

class WindowTrace : public WindowDownload {
  protected:
    // The hidden menu's two boxes: the trace into path, with the written bytes.
    void SwitchTraceOn(const std::string& path) {
        dialogs.saveAnswers.push_back(path);
        windows->sMode->findChild<QCheckBox*>("CheckBoxFileDebug")->click();
        windows->sMode->findChild<QCheckBox*>("CheckBoxDebugWriteInfo")->click();
        ASSERT_TRUE(windows->debugTrace.enabled());
    }
    // zembra-cli with the same job, its own trace, on the same phone.
    void RunConsole(const QStringList& mode, const std::string& trace) {
        QProcess cli;
        cli.start(
            ZEMBRA_CLI_PATH,
            mode + QStringList{"--code", QString::fromStdString(codePath), "--font1",
                               QString::fromStdString(font1Path), "--gap", "1", "--no-records",
                               "--trace", QString::fromStdString(trace), "--trace-data"});
        ASSERT_TRUE(cli.waitForFinished(60000));
        EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    }
    // Every line's elapsed field counts from the run's start: well below the clock, and within
    // the run; a write line's count is the number of bytes dumped.
    static void ExpectTimesFromTheStart(const std::vector<TraceFields>& trace, int channel) {
        ASSERT_FALSE(trace.empty());
        for (const TraceFields& f : trace) {
            ASSERT_TRUE(f.elapsed < 60000 && f.elapsed < f.clock &&
                        f.channel == (f.kind == 'W' ? channel : -1) &&
                        f.data.size() == 3 * static_cast<std::size_t>(f.count))
                << f.kind << ":" << f.count << " C:" << f.channel << " " << f.clock << " "
                << f.elapsed << " " << f.data;
        }
    }
};

TEST_F(WindowTrace, SingleAndMultiTracesCountFromTheStartAndMatchTheConsole) {
    AddPhone("COM65");
    SelectJob();
    const std::string single = dir / "single.TXT", multi = dir / "multi.TXT";
    SwitchTraceOn(single);
    Click("BitBtnDOStart");
    ASSERT_TRUE(PumpUntil([&] { return SingleEnded(); }));
    ASSERT_EQ(LastOutcome(), RunOutcome::Completed);
    const std::vector<TraceFields> singleTrace = ReadTrace(single);
    ExpectTimesFromTheStart(singleTrace, -1);
    EXPECT_TRUE(std::any_of(singleTrace.begin(), singleTrace.end(),
                            [](const TraceFields& f) { return f.kind == 'R'; }));

    QTest::mouseClick(Find<QRadioButton>("RadioButtonMulti"), Qt::LeftButton);
    windows->sMode->findChild<QCheckBox*>("CheckBoxFileDebug")->click();  // off
    windows->sMode->findChild<QCheckBox*>("CheckBoxDebugWriteInfo")->click();
    SwitchTraceOn(multi);
    Click("BitBtnMultiStart");
    ASSERT_TRUE(PumpUntil([&] { return MultiEnded(); }));
    ASSERT_EQ(downloads().multi().worker(0)->endCode(), END_FINISHED);
    const std::vector<TraceFields> multiTrace = ReadTrace(multi);
    ExpectTimesFromTheStart(multiTrace, 0);

    // The console writes the same packets for the same job.
    RunConsole({"--port", "COM65"}, dir / "cli-single.TXT");
    EXPECT_EQ(WrittenPackets(singleTrace), WrittenPackets(ReadTrace(dir / "cli-single.TXT")));
    RunConsole({"--multi", "--port", "COM65"}, dir / "cli-multi.TXT");
    EXPECT_EQ(WrittenPackets(multiTrace), WrittenPackets(ReadTrace(dir / "cli-multi.TXT")));
}

#endif

#ifndef _WIN32  // file times (utimensat); a phone that erases for 400 ms
// --- the multi Start's order ------------------------------------------------------------------

TEST_F(WindowDownload, MultiStartAsksTheRangeQuestionAfterItsChecksAndReadsTheSlotsAfterIt) {
    SelectJob();
    QTest::mouseClick(Find<QRadioButton>("RadioButtonMulti"), Qt::LeftButton);
    // Change (the code image whole at 0) and font 1 at 0: the font's box ends the Start, with
    // no question at all.
    Find<QCheckBox>("CheckBoxChange")->setChecked(true);
    Find<QLineEdit>("EditFont1Address")->setText("0x0");
    dialogs.messageAnswers.push_back(mb::kIdNo);
    Click("BitBtnMultiStart");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, JobErrorText(21));
    EXPECT_EQ(CountLogged("RichEdit21", "생성된 날짜를 갱신합니다"), 1);
    EXPECT_TRUE(Find<QPushButton>("BitBtnMultiStart")->isEnabled());

    // Ranges that overlap: the question comes after the refreshed file times; a phone plugged
    // in while it is open takes part (the modal box lets the tick scan the slots).
    Find<QCheckBox>("CheckBoxChange")->setChecked(false);
    Find<QLineEdit>("EditFont1Address")->setText("0x10000");
    Touch(codePath, 7);
    dialogs.messages.clear();
    dialogs.messageAnswers = {mb::kIdYes};
    ASSERT_EQ(Find<QLineEdit>("EditMulti1")->text(), "");
    QString timeShown;
    dialogs.whileMessage = [&](const TestDialogHost::Message& m) {
        if (m.text != FLASH_RANGE_QUESTION) return;
        timeShown = Find<QLineEdit>("EditCodeFileTime")->text();
        AddPhone("COM65");
        form().TimerComPortDetectTimer();
    };
    Click("BitBtnMultiStart");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, FLASH_RANGE_QUESTION);
    EXPECT_EQ(timeShown.toStdString(), FileTimeText(codePath));
    EXPECT_EQ(CountLogged("RichEdit21", "통신포트열기:COM65 열기"), 1);
    EXPECT_EQ(CountLogged("RichEdit21", "연결된 장치가 없습니다."), 0);
    ASSERT_TRUE(PumpUntil([&] { return MultiEnded(); }));
    EXPECT_NE(downloads().multi().worker(0)->endCode(), 0);
}

// A worker's line is cut at 500 characters, not at 500 bytes (a Korean character takes three).
TEST_F(WindowDownload, MultiLogLinesKeepUpTo500Characters) {
    AddPhone("COM65", SimLink::Usb, [](SimPhoneConfig& c) { c.eraseMs = 400; });
    std::string hangul;
    for (int i = 0; i < 80; ++i) hangul += "폰";
    std::filesystem::path deep = dir.path();
    for (int i = 0; i < 4; ++i) deep /= hangul;  // 320 characters, 960 bytes
    std::filesystem::create_directories(deep);
    const std::string font = (deep / "font1_0x400000.bin").string();
    WriteFile(font, font1);
    Select("SpeedButtonCode", codePath);
    Select("SpeedButtonFont1", font);
    QTest::mouseClick(Find<QRadioButton>("RadioButtonMulti"), Qt::LeftButton);
    Click("BitBtnMultiStart");
    std::filesystem::remove(font);  // gone before its turn: the worker names it in red
    ASSERT_TRUE(PumpUntil([&] { return MultiEnded(); }));
    const std::string expected = FormatText("COM65:%s 파일을 열 수 없어 건너뜁니다: %s",
                                            SlotCaption(ImageSlot::Font1), font.c_str());
    EXPECT_EQ(CountLogged("RichEdit21", expected), 1);
}
#endif

// --- the tick: what is no phone, and where the reservation must not fire ------------------------

#ifndef _WIN32  // writes the map folder's entries
TEST_F(WindowDownload, TickIgnoresWhatIsNoPhoneAndTheReservationWhatIsNoJob) {
    const std::string map = std::getenv("ZEMBRA_SERIAL_MAP_DIR");
    auto* combo = Find<QComboBox>("ComboBoxComPort");
    auto* gauge = Find<QProgressBar>("CGaugeProgress");
    auto tickShowsNoPhone = [&](const char* what) {
        for (int i = 0; i < 2; ++i) {
            gauge->setValue(40);
            form().TimerComPortDetectTimer();
            EXPECT_TRUE(combo->isEnabled()) << what;
            EXPECT_EQ(gauge->value(), 0) << what;
            EXPECT_EQ(combo->currentText(), "COM1") << what;
        }
    };
    WriteFile(map + "/\\Device\\trelvic20", "COM90\n");  // device numbers stop at 19
    tickShowsNoPhone("device 20");
    WriteFile(map + "/\\Device\\trelvic3", "/dev/ttyACM3\n");  // not a COM name
    tickShowsNoPhone("not COM");
    std::filesystem::remove(map + "/\\Device\\trelvic20");
    std::filesystem::remove(map + "/\\Device\\trelvic3");
    SetEnvironment("ZEMBRA_SERIAL_MAP_DIR", (dir / "no-such-map"));
    tickShowsNoPhone("no map folder");
    SetEnvironment("ZEMBRA_SERIAL_MAP_DIR", map);

    // The reservation: never without an image, with detection off or on Serial.
    AddPhone("COM65");
    auto* reserve = Find<QCheckBox>("CheckBoxStartCheck");
    reserve->setChecked(true);
    auto ticksStartNothing = [&](const char* what) {
        for (int i = 0; i < 8; ++i) form().TimerComPortDetectTimer();
        EXPECT_EQ(CountLogged("RichEditOutput", "생성된 날짜를 갱신합니다"), 0) << what;
    };
    ticksStartNothing("no image");
    SelectJob();
    Touch(codePath, 5);
    Touch(font1Path, 5);
    Find<QCheckBox>("CheckBoxAuto")->setChecked(false);
    ticksStartNothing("detection off");
    Find<QCheckBox>("CheckBoxAuto")->setChecked(true);
    QTest::mouseClick(Find<QRadioButton>("RadioButtonSerial"), Qt::LeftButton);
    ticksStartNothing("Serial");
    QTest::mouseClick(Find<QRadioButton>("RadioButtonUSB"), Qt::LeftButton);
    for (int i = 0; i < 4; ++i) form().TimerComPortDetectTimer();
    EXPECT_EQ(CountLogged("RichEditOutput", "다운로드"), 1);
    ASSERT_TRUE(PumpUntil([&] { return SingleEnded(); }));
    EXPECT_EQ(LastOutcome(), RunOutcome::Completed);
}
#endif

// --- the multi slots follow the map -------------------------------------------------------------

#ifndef _WIN32  // phones with faults
TEST_F(WindowDownload, SlotsFollowTheMapAndAPhoneThatDropsOutIsCleared) {
    AddPhone("COM65", SimLink::Usb, [](SimPhoneConfig& c) { c.eraseMs = 1500; });  // device 0
    AddPhone("COM70", SimLink::Usb, [](SimPhoneConfig& c) {  // device 5, gone mid-run
        c.faults.hangupAfterBytes = 1500;
    });
    SimulatedPhone& ninth = AddPhone("COM74");  // device 9: no slot
    SelectJob();
    QTest::mouseClick(Find<QRadioButton>("RadioButtonMulti"), Qt::LeftButton);
    form().TimerComPortDetectTimer();
    for (int slot = 1; slot <= 8; ++slot) {
        const QString n = QString::number(slot);
        const QString port = slot == 1 ? "COM65" : slot == 6 ? "COM70" : "";
        EXPECT_EQ(Find<QCheckBox>(("CheckBoxMulti" + n).toLatin1())->isChecked(), !port.isEmpty())
            << slot;
        EXPECT_EQ(Find<QLineEdit>(("EditMulti" + n).toLatin1())->text(), port) << slot;
    }
    Click("BitBtnMultiStart");
    ASSERT_TRUE(PumpUntil([&] { return Find<QLineEdit>("EditMulti6")->text().isEmpty(); }));
    EXPECT_TRUE(downloads().multi().downloadRunning());  // slot 1 is still erasing
    EXPECT_FALSE(Find<QCheckBox>("CheckBoxMulti6")->isChecked());
    EXPECT_EQ(Find<QProgressBar>("CGaugeP6")->value(), 0);
    EXPECT_EQ(Find<QLabel>("LabelL6")->text(), "");
    ASSERT_TRUE(PumpUntil([&] { return MultiEnded(); }));
    EXPECT_EQ(downloads().multi().worker(0)->endCode(), END_FINISHED);
    EXPECT_EQ(ninth.Counters().units, 0u);
}
#endif

}  // namespace
}  // namespace zembra::test

namespace zembra::test {
namespace {

#ifndef _WIN32  // file modes, and libpq's Unix-socket host
// zembra.conf names a line server, for the window made after it.
struct LineServerConfigured {
    LineServerConfigured() {
        std::filesystem::create_directories(
            std::filesystem::path(StationConfigPath()).parent_path());
        std::ofstream(StationConfigPath()) << "records-server = host=/nonexistent port=5999 "
                                              "dbname=line user=station password=hidden-pw\n";
        std::filesystem::permissions(StationConfigPath(), std::filesystem::perms::owner_read |
                                                              std::filesystem::perms::owner_write);
    }
    ~LineServerConfigured() { std::filesystem::remove(StationConfigPath()); }
};

class WindowLineServer : public LineServerConfigured, public WindowDownload {};

// The same zembra.conf, but others may read it: the window refuses the server at start.
struct LineServerOpenToOthers : LineServerConfigured {
    LineServerOpenToOthers() { ::chmod(StationConfigPath().c_str(), 0644); }
};
class WindowLineServerOpen : public LineServerOpenToOthers, public WindowDownload {};

TEST_F(WindowLineServerOpen, PasswordReadableByOthersIsRefused) {
    int refusals = 0;
    for (const RichEditLog::Line& line : PaneLines("RichEditOutput"))
        if (line.text.find("Permissions 0644 for '" + StationConfigPath() + "' are too open") !=
            std::string::npos) {
            ++refusals;
            EXPECT_EQ(line.colour, COLOUR_RED);
        }
    EXPECT_EQ(refusals, 1);
    downloads().Tick();
    EXPECT_EQ(form().findChild<QLabel*>("LabelMainLineStatus"), nullptr);
}

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
    // The main window shows it below its panels in one line that fits (the reason's first
    // line, elided in the middle), the whole of it in the tool tip.
    auto* main = form().findChild<QLabel*>("LabelMainLineStatus");
    ASSERT_NE(main, nullptr);
    EXPECT_TRUE(main->isVisibleTo(&form()));
    EXPECT_EQ(main->toolTip(), line->text());
    EXPECT_TRUE(line->text().contains('\n')) << line->text().toStdString();  // libpq's two lines
    EXPECT_FALSE(main->text().contains('\n'));
    EXPECT_TRUE(main->text().contains(QChar(0x2026))) << main->text().toStdString();
    EXPECT_LE(main->fontMetrics().horizontalAdvance(main->text()),
              main->contentsRect().width() - main->indent());
    EXPECT_TRUE(main->text().startsWith("라인 서버 station@"));
}

#endif
}  // namespace
}  // namespace zembra::test
