#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <fstream>
#include <mutex>
#include <sstream>

#include "platform/Helpers.h"
#include "platform/LoopMainThread.h"
#include "ports/VaCommPorts.h"
#include "protocol/DebugTrace.h"
#include "serial/Vacomm.h"
#include "tests/e2e/E2eFixture.h"

namespace zembra::e2e {
namespace {

// A pseudo-terminal pair: the ports open the slave, the test reads the master.
struct Pty {
    int master = -1;
    int slave = -1;
    std::string slavePath;
    Pty() {
        char name[128];
        openpty(&master, &slave, name, nullptr, nullptr);
        slavePath = name;
        termios t{};
        tcgetattr(master, &t);
        cfmakeraw(&t);
        tcsetattr(master, TCSANOW, &t);
    }
    ~Pty() {
        close(master);
        close(slave);
    }
    Bytes Read(std::size_t n) {
        Bytes out;
        while (out.size() < n) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 2000) <= 0) break;
            std::uint8_t buffer[4096];
            const ssize_t got = read(master, buffer, std::min(sizeof buffer, n - out.size()));
            if (got <= 0) break;
            out.insert(out.end(), buffer, buffer + got);
        }
        return out;
    }
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(VaCommPortsTest, SinglePortOperations) {
    LoopMainThread loop;
    DebugTrace trace;
    VaCommPorts ports(trace, &loop);
    Pty pty;
    ImageFiles files;

    // Names and rates as the window sets them.
    ports.SetSinglePortName(7);
    EXPECT_EQ(ports.VaCommSingle().DeviceName(), "\\\\.\\COM7");
    ports.SetSingleBaud(115200);
    EXPECT_EQ(ports.VaCommSingle().Baudrate(), br115200);
    ports.SetSingleBaud(9600);  // not one of the three rates: unchanged
    EXPECT_EQ(ports.VaCommSingle().Baudrate(), br115200);
    ports.SetSingleBaud(256000);
    EXPECT_EQ(ports.VaCommSingle().Baudrate(), br256000);
    ports.SetSingleBaud(57600);

    ports.SetSinglePortDevice(pty.slavePath);
    ports.OpenSinglePort();
    EXPECT_TRUE(ports.singlePortOpen());
    ports.OpenSinglePort();  // already open: nothing happens
    EXPECT_TRUE(ports.singlePortOpen());

    // Every write: a trace line first, then the bytes on the line.
    const std::string tracePath = files.File("Debug.TXT");
    trace.Start(tracePath);
    const Bytes frame = {0x7E, 0xA0, 0x72, 0x55, 0x7E};
    std::atomic<double> origin{NowMs() - 2.0};
    ports.SetTraceOrigin(&origin);
    ports.WriteSingle(frame.data(), frame.size());
    EXPECT_EQ(pty.Read(frame.size()), frame);
    const std::string line = ReadFile(tracePath);
    EXPECT_EQ(line.rfind("[W:005 ", 0), 0u) << line;
    EXPECT_EQ(line.substr(line.size() - 2), "\r\n");

    // A trace file that cannot be written: the bytes still go out.
    trace.Start(files.path() + "/missing/Debug.TXT");
    ports.WriteSingle(frame.data(), frame.size());
    EXPECT_EQ(pty.Read(frame.size()), frame);

    // Received chunks reach the tap (set while the port is closed) off the main thread.
    ports.CloseSinglePort();
    std::mutex mutex;
    Bytes received;
    ports.SetSingleReceiveTap([&](const std::uint8_t* data, std::size_t n) {
        EXPECT_FALSE(loop.IsMainThread());
        std::lock_guard<std::mutex> lock(mutex);
        received.insert(received.end(), data, data + n);
    });
    ports.OpenSinglePort();
    const Bytes answer = {0x7E, 0x02, 0x7E};
    ASSERT_EQ(write(pty.master, answer.data(), answer.size()), 3);
    const auto got = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return received.size() >= 3;
    };
    loop.RunUntil(got, std::chrono::seconds(5));
    {
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(received, answer);
    }

    ports.CloseSinglePort();
    ports.SetSingleReceiveTap(nullptr);
    EXPECT_FALSE(ports.singlePortOpen());
    EXPECT_FALSE(ports.VaCommSingle().Active());
    ports.CloseSinglePort();  // closed: nothing happens

    // A device that does not exist: the component's error, the flag stays clear.
    ports.SetSinglePortDevice("/dev/zembra-no-such-device");
    EXPECT_THROW(ports.OpenSinglePort(), std::exception);
    EXPECT_FALSE(ports.singlePortOpen());
}

TEST(VaCommPortsTest, MultiPortWritesCarryTheChannel) {
    LoopMainThread loop;
    DebugTrace trace;
    VaCommPorts ports(trace, &loop);
    Pty pty;
    ImageFiles files;
    const std::string tracePath = files.File("Debug.TXT");
    trace.Start(tracePath);
    trace.SetWriteData(true);

    ports.SetMultiPortName(3, pty.slavePath);
    EXPECT_EQ(ports.VaCommMulti(3).DeviceName(), "\\\\.\\" + pty.slavePath);
    ports.SetMultiBaud(3, 57600);
    ports.OpenMultiPort(3);
    EXPECT_TRUE(ports.multiPortOpen(3));
    EXPECT_FALSE(ports.multiPortOpen(2));
    const Bytes frame = {0x7E, 0x12, 0x00, 0x66, 0xA9, 0x7E, 0x00, 0x00};
    ports.WriteMulti(3, frame.data(), frame.size());
    EXPECT_EQ(pty.Read(frame.size()), frame);
    const std::string line = ReadFile(tracePath);
    EXPECT_EQ(line.rfind("[W:008 C:03 ", 0), 0u) << line;
    EXPECT_NE(line.find("] 7E 12 00 66 A9 7E 00 00 \r\n"), std::string::npos) << line;
    ports.CloseMultiPort(3);
    EXPECT_FALSE(ports.multiPortOpen(3));
}

}  // namespace
}  // namespace zembra::e2e
