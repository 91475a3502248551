#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/PortNames.h"
#include "serial/Vabuffer.h"
#include "serial/Vacomm.h"
#include "serial/Vautils.h"
#include "tests/serial/PtyHelpers.h"

namespace zembra {
namespace {

std::string Take(TVaBuffer& b, int n) {
    std::string out(static_cast<size_t>(n), '\0');
    EXPECT_TRUE(b.Read(out.data(), n));
    return out;
}

TEST(VaBufferTest, FullAndWrapRules) {
    TVaBuffer b;
    EXPECT_EQ(b.Size(), 2048);
    b.SetSize(8);
    int changes = 0, overflows = 0;
    b.OnChange = [&](TVaComponent*) { ++changes; };
    b.OnOverflow = [&](TVaComponent*) { ++overflows; };

    EXPECT_TRUE(b.Write("abcde", 5));
    EXPECT_EQ(b.BufUsed(), 5);
    EXPECT_EQ(b.BufFree(), 3);
    EXPECT_EQ(Take(b, 3), "abc");
    // Wrapping write: 6 bytes from index 5 run to the end and on from 0.
    EXPECT_FALSE(b.Write("123456789", 9));  // never fits: refused whole
    EXPECT_EQ(overflows, 1);
    EXPECT_TRUE(b.Write("123456", 6));
    EXPECT_EQ(b.WriteIndex(), 3);
    // Exactly the free space: full flag, BufUsed reports Size.
    EXPECT_TRUE(b.Full());
    EXPECT_EQ(b.BufUsed(), 8);
    EXPECT_EQ(b.BufFree(), 0);
    EXPECT_FALSE(b.Write("x", 1));
    EXPECT_EQ(overflows, 2);
    char peek[8];
    EXPECT_TRUE(b.Peek(peek, 8));  // across the end of the storage
    EXPECT_EQ(std::string(peek, 8), "de123456");
    EXPECT_EQ(b.BufUsed(), 8);
    EXPECT_EQ(Take(b, 8), "de123456");
    EXPECT_FALSE(b.Full());
    EXPECT_EQ(b.BufUsed(), 0);
    EXPECT_EQ(b.ReadIndex(), b.WriteIndex());
    EXPECT_EQ(changes, 4);  // two writes, two reads
}

TEST(VaBufferTest, EdgeCountsAndResizing) {
    TVaBuffer b;
    b.SetSize(4);
    int overflows = 0, changes = 0;
    b.OnOverflow = [&](TVaComponent*) { ++overflows; };
    b.OnChange = [&](TVaComponent*) { ++changes; };
    EXPECT_FALSE(b.Write("", 0));  // n < 1 is an overflow
    EXPECT_EQ(overflows, 1);
    char c;
    EXPECT_FALSE(b.Peek(&c, 0));
    EXPECT_FALSE(b.Read(&c, 1));
    EXPECT_TRUE(b.Remove(0));
    EXPECT_FALSE(b.Remove(1));
    EXPECT_FALSE(b.Remove(-1));
    EXPECT_TRUE(b.Write("wxyz", 4));
    EXPECT_TRUE(b.Remove(2));  // no notification
    EXPECT_FALSE(b.Full());
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(Take(b, 2), "yz");

    EXPECT_TRUE(b.Write("ab", 2));
    b.SetSize(4);  // same size: nothing happens
    EXPECT_EQ(b.BufUsed(), 2);
    b.SetSize(16);  // another size: cleared
    EXPECT_EQ(b.BufUsed(), 0);
    EXPECT_EQ(b.BufFree(), 16);
    EXPECT_THROW(b.SetSize(-1), std::invalid_argument);
    EXPECT_EQ(b.Size(), 16);
    b.SetSize(0);
    EXPECT_EQ(b.BufUsed(), 0);
    EXPECT_FALSE(b.Write("a", 1));
}

TEST(VaBufferTest, AttachDetachAndActiveFlag) {
    test::PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    auto port = std::make_unique<TVaComm>();
    TVaBuffer first, second;
    first.SetComm(port.get());
    second.SetComm(port.get());
    EXPECT_EQ(port->ClientCount(), 2);
    EXPECT_EQ(port->Client(0), first.Dispatcher());
    EXPECT_EQ(first.Dispatcher()->Comm(), port.get());

    const uint8_t data[] = {1, 2, 3};
    first.Dispatcher()->DataEvent(data, 3);
    EXPECT_EQ(first.BufUsed(), 3);
    port->DisableControls();
    EXPECT_FALSE(first.Active());
    first.Dispatcher()->DataEvent(data, 3);
    EXPECT_EQ(first.BufUsed(), 3);
    port->EnableControls();
    EXPECT_TRUE(second.Active());

    second.SetComm(nullptr);
    EXPECT_EQ(port->ClientCount(), 1);
    EXPECT_EQ(second.Dispatcher()->WriteBuf("x", 1), 0);  // no link: nothing, no error
    EXPECT_FALSE(second.Dispatcher()->WriteText("x"));
    second.Dispatcher()->PurgeReadWrite();

    {
        TVaBuffer shortLived;
        shortLived.SetComm(port.get());
        EXPECT_EQ(port->ClientCount(), 2);
    }
    EXPECT_EQ(port->ClientCount(), 1);

    port.reset();  // the port's end detaches its clients
    EXPECT_EQ(first.Comm(), nullptr);
    EXPECT_EQ(first.Dispatcher()->Comm(), nullptr);
}

TEST(VaPersistentTest, ChangeNotificationsAndUpdateCounter) {
    TVaBuffers buffers;
    int changes = 0;
    buffers.SetOnChange(nullptr, [&](TVaComponent*) { ++changes; });
    buffers.SetReadSize(4096);  // same value: no change
    buffers.SetReadTimeout(5);  // plain field
    EXPECT_EQ(changes, 0);
    buffers.SetWriteSize(100);
    EXPECT_EQ(changes, 1);
    TVaBuffers other;
    other.SetReadSize(1);
    other.SetWriteSize(2);
    other.SetWriteTimeout(3);
    buffers.Assign(other);
    EXPECT_EQ(changes, 2);  // one notification for the whole copy
    EXPECT_EQ(buffers.ReadSize(), 1);
    EXPECT_EQ(buffers.WriteSize(), 2);
    EXPECT_EQ(buffers.WriteTimeout(), 3u);
    buffers.EndUpdate();  // never below zero
    EXPECT_EQ(buffers.UpdateCount(), 0);
    EXPECT_EQ(changes, 3);

    TVaEventChars chars;
    int charChanges = 0;
    chars.SetOnChange(nullptr, [&](TVaComponent*) { ++charChanges; });
    chars.SetXonChar(17);  // every setter notifies
    chars.SetEventChar('!');
    EXPECT_EQ(charChanges, 2);
    chars.Assign(TVaEventChars());
    EXPECT_EQ(charChanges, 3);
    EXPECT_EQ(chars.EventChar(), 0);
}

TEST(VaTypesTest, MappingTables) {
    EXPECT_EQ(BaudrateValue(br110), 110u);
    EXPECT_EQ(BaudrateValue(br56000), 56000u);
    EXPECT_EQ(BaudrateValue(br57600), 57600u);
    EXPECT_EQ(BaudrateValue(br115200), 115200u);
    EXPECT_EQ(BaudrateValue(br128000), 128000u);
    EXPECT_EQ(BaudrateValue(br256000), 256000u);
    TVaBaudrate rate;
    ASSERT_TRUE(BaudrateFromValue(256000, rate));
    EXPECT_EQ(rate, br256000);
    EXPECT_FALSE(BaudrateFromValue(250000, rate));
    EXPECT_EQ(ParityCode(paSpace), 4);
    EXPECT_EQ(DatabitsValue(db4), 4);
    EXPECT_EQ(DatabitsValue(db8), 8);
    EXPECT_EQ(StopbitsCode(sb15), 1);
    EXPECT_EQ(FlowControlBits(fcXonXoff), 0x0300u);
    EXPECT_EQ(FlowControlBits(fcRtsCts), 0x2004u);
    EXPECT_EQ(FlowControlBits(fcDtrDsr), 0x0028u);
    EXPECT_EQ(DTRControlBits(dtrHandshake), 0x0020u);
    EXPECT_EQ(RTSControlBits(rtsToggle), 0x3000u);
    EXPECT_EQ(CommOptionBits(coContinueOnXOff), 0x0080u);
    EXPECT_EQ(CommOptionBits(coDsrSensitivity), 0x0040u);
    EXPECT_EQ(EventMaskOf({ceError, ceRxChar, ceTxEmpty}), 0x0085u);
    EXPECT_EQ(EventMaskOf({ceBreak, ceCts, ceDsr, ceRing, ceRlsd, ceRxFlag, cePErr, ceRx80Full,
                           ceEvent1, ceEvent2}),
              0x1F7Au);
}

TEST(VaUtilsTest, TextAndBitHelpers) {
    EXPECT_EQ(StrCtrl("^M^j"), "\r\n");
    EXPECT_EQ(StrCtrl("a^1b^"), "a^1b^");
    EXPECT_EQ(StrCtrl("^^A"), "^^A");
    EXPECT_EQ(CN('\0'), ' ');
    EXPECT_EQ(CN('q'), 'q');
    EXPECT_TRUE(BitOn(0x4, 0x6));
    EXPECT_FALSE(BitOn(0x8, 0x6));
    EXPECT_TRUE(BitOff(0x8, 0x6));
    int* p = new int(3);
    FreeObject(p);
    EXPECT_EQ(p, nullptr);
}

TEST(VaUtilsTest, TimersHandleTheTickWrap) {
    TVaTimer t;
    InitTimer(t, 1000);
    EXPECT_FALSE(TimerExpired(t));
    t.Start = GetTickCount() - 1000;
    EXPECT_TRUE(TimerExpired(t));
    // A start just before the 32-bit wrap and a tick just after it.
    t.Start = 0xFFFFFFF0u;
    t.Length = 20;
    EXPECT_TRUE(TimerExpiredAt(t, 5));   // 21 ms
    EXPECT_FALSE(TimerExpiredAt(t, 2));  // 18 ms
    EXPECT_FALSE(TimerExpiredAt(t, 0xFFFFFFFFu));
    const uint32_t start = GetTickCount();
    SysDelay(15, false);
    EXPECT_GE(GetTickCount() - start, 15u);
}

TEST(VaUtilsTest, PortStateThroughAliases) {
    test::PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    char pattern[] = "/tmp/zembra-portstate-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    setenv("ZEMBRA_PORT_DIR", dir.c_str(), 1);
    ASSERT_TRUE(RegisterPortAlias("COM150", pty.SlavePath()));
    ASSERT_TRUE(RegisterPortAlias("COM151", dir + "/missing"));
    std::ofstream(dir + "/plain") << "x";
    ASSERT_TRUE(RegisterPortAlias("COM152", dir + "/plain"));
    EXPECT_EQ(GetPortState(150), 1);
    EXPECT_EQ(GetPortState(151), 2);
    EXPECT_EQ(GetPortState(152), 0);
    EXPECT_EQ(GetPortState(153), 2);  // no alias, beyond the fixed ranges
    unsetenv("ZEMBRA_PORT_DIR");
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace zembra
