#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <thread>

#include "platform/SerialDevice.h"

namespace zembra {
namespace {

struct Pty {
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0) path = ptsname(master);
    }
    ~Pty() {
        if (master >= 0) close(master);
    }
    int master = -1;
    std::string path;
};

SerialDcb Dcb(uint32_t rate) {
    SerialDcb dcb;
    dcb.BaudRate = rate;
    dcb.ByteSize = 8;
    dcb.Flags = DCB_BINARY;
    return dcb;
}

TEST(SerialDeviceTest, OpenFailuresCarryTheirErrorNumbers) {
    SerialDevice device;
    errno = 0;
    EXPECT_FALSE(device.Open("/dev/zembra-missing"));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(device.Open("/dev/null"));  // a device, not a terminal
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_FALSE(device.IsOpen());

    Pty pty;
    ASSERT_FALSE(pty.path.empty());
    ASSERT_TRUE(device.Open(pty.path));
    SerialDevice second;
    EXPECT_FALSE(second.Open(pty.path));  // no sharing, not even for root
    EXPECT_EQ(errno, EBUSY);
    device.Close();
    EXPECT_TRUE(second.Open(pty.path));
}

TEST(SerialDeviceTest, ArbitraryRatesReachTheKernel) {
    Pty pty;
    SerialDevice device;
    ASSERT_TRUE(device.Open(pty.path));
    for (uint32_t rate : {57600u, 115200u, 256000u, 1200u}) {
        ASSERT_TRUE(device.SetCommState(Dcb(rate)));
        uint32_t out = 0, in = 0, cflag = 0, iflag = 0;
        ASSERT_TRUE(ReadTerminalLine(device.Fd(), out, in, cflag, iflag));
        EXPECT_EQ(out, rate);
        EXPECT_EQ(in, rate);
        ASSERT_TRUE(ReadTerminalLine(pty.master, out, in, cflag, iflag));
        EXPECT_EQ(out, rate);  // seen from the far side as well
    }
    SerialDcb bad = Dcb(0);
    errno = 0;
    EXPECT_FALSE(device.SetCommState(bad));
    EXPECT_EQ(errno, EINVAL);
}

TEST(SerialDeviceTest, WaitReportsDataCancelAndHangUp) {
    Pty pty;
    SerialDevice device;
    ASSERT_TRUE(device.Open(pty.path));
    ASSERT_TRUE(device.SetCommState(Dcb(115200)));
    ASSERT_TRUE(device.SetCommMask(EV_RXCHAR | EV_TXEMPTY));
    const int cancel = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);

    ASSERT_EQ(write(pty.master, "hi", 2), 2);
    uint32_t events = 0;
    ASSERT_EQ(device.WaitCommEvent(events, cancel), SerialWaitResult::Events);
    EXPECT_EQ(events, EV_RXCHAR);
    char buf[8];
    EXPECT_EQ(device.Read(buf, sizeof buf), 2);
    EXPECT_EQ(device.Read(buf, sizeof buf), 0);

    EXPECT_EQ(device.Write("out", 3, 1000), 3);
    ASSERT_EQ(device.WaitCommEvent(events, cancel), SerialWaitResult::Events);
    EXPECT_EQ(events, EV_TXEMPTY);
    // Nothing happens: a limited wait ends; a limit of 0 still reports what is pending.
    EXPECT_EQ(device.WaitCommEvent(events, cancel, 20), SerialWaitResult::Elapsed);
    ASSERT_EQ(write(pty.master, "!", 1), 1);
    ASSERT_EQ(device.WaitCommEvent(events, cancel, 1000), SerialWaitResult::Events);
    EXPECT_EQ(events, EV_RXCHAR);
    EXPECT_EQ(device.Read(buf, sizeof buf), 1);

    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const uint64_t one = 1;
        EXPECT_EQ(write(cancel, &one, sizeof one), 8);
    });
    EXPECT_EQ(device.WaitCommEvent(events, cancel), SerialWaitResult::Cancelled);
    canceller.join();
    uint64_t value;
    ASSERT_EQ(read(cancel, &value, sizeof value), 8);

    close(pty.master);
    pty.master = -1;
    EXPECT_EQ(device.WaitCommEvent(events, cancel), SerialWaitResult::Gone);
    EXPECT_EQ(device.WaitCommEvent(events, cancel), SerialWaitResult::Gone);
    EXPECT_LT(device.Write("x", 1, 100), 0);
    EXPECT_EQ(errno, EIO);
    device.Close();
    close(cancel);
}

TEST(SerialDeviceTest, KeptControlsAndPseudoTerminalWithoutModemLines) {
    Pty pty;
    SerialDevice device;
    ASSERT_TRUE(device.Open(pty.path));
    SerialDcb dcb = Dcb(57600);
    dcb.Flags |= DCB_OUTX_DSR_FLOW | DCB_DTR_HANDSHAKE | DCB_RTS_TOGGLE | DCB_NULL;
    ASSERT_TRUE(device.SetCommState(dcb));
    SerialDcb back;
    ASSERT_TRUE(device.GetCommState(back));
    EXPECT_EQ(back.Flags, dcb.Flags);
    EXPECT_TRUE(device.EscapeCommFunction(SETDTR));
    EXPECT_TRUE(device.EscapeCommFunction(CLRRTS));
    uint32_t status = 0xFF;
    EXPECT_TRUE(device.GetCommModemStatus(status));
    EXPECT_EQ(status, 0u);
    EXPECT_FALSE(device.EscapeCommFunction(7));
    uint32_t errors = 1;
    SerialComStat stat;
    ASSERT_TRUE(device.ClearCommError(errors, stat));
    EXPECT_EQ(errors, 0u);
    SerialCommProp prop;
    ASSERT_TRUE(device.GetCommProperties(prop));
    EXPECT_EQ(prop.PacketLength, 64);
}

}  // namespace
}  // namespace zembra
