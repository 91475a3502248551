// The program zembra itself (a copy in a folder of the test's own, so that its settings file
// next to it is the test's): a configured pop-up does not keep its options from ending the
// program, and a download's progress reaches the task bar entry over the session bus.
#include <QProcess>
#include <QProcessEnvironment>
#include <filesystem>
#include <functional>

#include "AppTestSupport.h"
#include "platform/Helpers.h"
#include "sim/SimulatedPhone.h"

namespace zembra::test {
namespace {

class Program : public ::testing::Test {
  protected:
    Program() {
        std::filesystem::copy_file(ZEMBRA_APP_PATH, program);
        // The settings file next to the program, with a pop-up text (CP949, CR LF).
        WriteFile(dir / "zembracfg.txt", Utf8ToCp949("[로드시띄우는창] 작업 전에 읽으세요\r\n"));
    }
    // Runs the program off screen; false when it had not ended after the wait (then killed).
    bool Run(const QStringList& arguments, QProcessEnvironment environment, int& status,
             std::string* output = nullptr) {
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        QProcess zembra;
        zembra.setProcessEnvironment(environment);
        zembra.start(QString::fromStdString(program), arguments);
        const bool ended = zembra.waitForFinished(30000);
        if (!ended) {
            zembra.kill();
            zembra.waitForFinished();
        }
        status = zembra.exitCode();
        if (output) *output = zembra.readAllStandardOutput().toStdString();
        return ended;
    }

    TempDir dir;
    std::string program = dir / "zembra";
};

TEST_F(Program, APopUpAtStartUpLetsTheProgramEndAndTheProgressReachesTheTaskBar) {
    int status = -1;
    ASSERT_TRUE(Run({"--quit-after", "500"}, QProcessEnvironment::systemEnvironment(), status));
    EXPECT_EQ(status, 0);

    // A session bus of the test's own, watched for the launcher-entry signals.
    const std::string bus = "unix:path=" + (dir / "bus");
    QProcess daemon, monitor;
    daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address",
                                 "--address=" + QString::fromStdString(bus)});
    ASSERT_TRUE(daemon.waitForReadyRead(10000));  // the address: it listens
    monitor.start("dbus-monitor", {"--address", QString::fromStdString(bus),
                                   "interface='com.canonical.Unity.LauncherEntry'"});
    std::string signals;
    // Reads the monitor's output until it holds what is awaited (or 10 s went by).
    auto readUntil = [&](const std::function<bool()>& seen) {
        for (int i = 0; i < 100 && !seen(); ++i)
            if (monitor.waitForReadyRead(100))
                signals += monitor.readAllStandardOutput().toStdString();
    };
    // It has become a monitor (and lost its own name) once its match rule is in place.
    readUntil([&] { return signals.find("member=NameLost") != std::string::npos; });
    ASSERT_NE(signals.find("member=NameLost"), std::string::npos);

    SimPhoneConfig config;
    config.portName = "COM65";
    config.version = 0x1234;
    SimulatedPhone phone(config);
    std::string error;
    ASSERT_TRUE(phone.Start(&error)) << error;
    const std::string code = dir / "code.bin", font = dir / "font1_0x400000.bin";
    WriteFile(code, CodeImage(0x20000, 0x1234, 0x8000));
    WriteFile(font, std::string(0x20000, '\x3C'));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromStdString(bus));
    std::string output;
    ASSERT_TRUE(Run({"--code", QString::fromStdString(code), "--font1",
                     QString::fromStdString(font), "--press-start", "--exit-when-done"},
                    environment, status, &output));
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("Result: Completed"), std::string::npos) << output;

    // The last signal takes the progress away.
    auto lastUpdateHidesIt = [&] {
        const std::size_t last = signals.rfind("member=Update");
        return last != std::string::npos &&
               signals.find("boolean false", last) != std::string::npos;
    };
    readUntil(lastUpdateHidesIt);
    monitor.terminate();
    monitor.waitForFinished();
    daemon.terminate();
    daemon.waitForFinished();
    EXPECT_NE(signals.find("string \"application://zembra.desktop\""), std::string::npos)
        << signals;
    EXPECT_NE(signals.find("double 1\n"), std::string::npos) << signals;
    EXPECT_TRUE(lastUpdateHidesIt()) << signals;
}

}  // namespace
}  // namespace zembra::test
