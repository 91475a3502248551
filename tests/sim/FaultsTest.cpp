// Misbehaviour on request: silence, late answers, NAKs, corrupted echoes, stray bytes, the
// unplugged line, and pacing at a link rate.

#include "platform/PortNames.h"
#include "tests/sim/SimTestSupport.h"

namespace zembra::simtest {
namespace {

std::unique_ptr<SimulatedPhone> StartPhone(SimPhoneConfig config) {
    auto phone = std::make_unique<SimulatedPhone>(config);
    std::string error;
    EXPECT_TRUE(phone->Start(&error)) << error;
    return phone;
}

TEST(SimFaults, SilentFromTheNthUnit) {
    SimPhoneConfig config;
    config.faults.silentFromUnit = 2;
    auto phone = StartPhone(config);
    Client c(phone->DevicePath());
    EXPECT_EQ(c.Command({CMD_DOWNLOAD_START}, true), kAck);
    ASSERT_TRUE(c.Write(Client::Frame({CMD_COMPRESSED, 0x00}, true)));
    ASSERT_TRUE(c.Write(Client::Frame({CMD_JUMP}, true)));
    ASSERT_TRUE(phone->WaitForUnits(3, kPatience));
    EXPECT_TRUE(c.Quiet(std::chrono::milliseconds(50)));
    EXPECT_EQ(phone->Counters().silentUnits, 2u);
    EXPECT_EQ(phone->Stage(), SimStage::BootLoader);  // silent units are not processed

    // Data only: the commands are answered, the first data packet is not.
    SimPhoneConfig data;
    data.link = SimLink::Uart;
    data.faults.silentFromUnit = 1;
    data.faults.silentDataOnly = true;
    auto quiet = StartPhone(data);
    Client d(quiet->DevicePath());
    EnterModule(d, SimLink::Uart, false);
    ASSERT_EQ(d.Command(EraseCommand(0, 16), false), kAck);
    const Bytes bytes(16, 0x42);
    ASSERT_TRUE(d.Write(Client::Frame(WriteDataCommand(0, bytes.data(), bytes.size()), false)));
    ASSERT_TRUE(quiet->WaitUntil([&] { return quiet->Counters().silentUnits == 1; }, kPatience));
    EXPECT_TRUE(d.Quiet(std::chrono::milliseconds(50)));
}

TEST(SimFaults, LateAnswers) {
    SimPhoneConfig config;
    config.faults.lateMs = 200;
    config.faults.lateFromUnit = 2;
    auto phone = StartPhone(config);
    Client c(phone->DevicePath());
    EXPECT_EQ(c.Command({CMD_DOWNLOAD_START}, true), kAck);
    ASSERT_TRUE(c.Write(Client::Frame({CMD_COMPRESSED, 0x00}, true)));
    EXPECT_TRUE(c.Quiet(std::chrono::milliseconds(100)));  // not before its time
    EXPECT_EQ(c.ReadFrame(), kAck);
}

TEST(SimFaults, NakForTheNextPacketsWhichAreNotTaken) {
    SimPhoneConfig config;
    config.link = SimLink::Uart;
    auto phone = StartPhone(config);
    Client c(phone->DevicePath());
    EnterModule(c, SimLink::Uart, false);
    const Bytes data = PatternBytes(8192, 1);
    ASSERT_EQ(c.Command(EraseCommand(0x1000, 8192), false), kAck);
    // From now on: skip one data packet, NAK the next two with 0xA3.
    SimFaultPlan plan;
    plan.nakCode = NAK_INVALID_CMD;
    plan.nakCount = 2;
    plan.nakSkip = 1;
    plan.nakDataOnly = true;
    phone->SetFaults(plan);
    const Bytes first = WriteDataCommand(0x1000, data.data(), 4096);
    const Bytes second = WriteDataCommand(0x2000, data.data() + 4096, 4096);
    EXPECT_EQ(c.Command(first, false), kAck);
    EXPECT_EQ(c.Command(second, false), Nak(NAK_INVALID_CMD));
    EXPECT_EQ(c.Command(second, false), Nak(NAK_INVALID_CMD));
    EXPECT_EQ(c.Command(second, false), kAck);  // the retransmission is taken
    EXPECT_EQ(c.Command({CMD_JUMP}, false), kAck);
    EXPECT_EQ(phone->FlashRange(0x1000, data.size()), data);
    EXPECT_TRUE(phone->Errors().empty());
    EXPECT_EQ(phone->Counters().naks, 2u);

    // Counting every unit: the third unit after the plan is refused.
    SimFaultPlan any;
    any.nakCode = 0x05;
    any.nakCount = 1;
    any.nakSkip = 2;
    phone->SetFaults(any);
    c.SetRate(B57600);
    EXPECT_EQ(c.Command({CMD_DOWNLOAD_START}, false), kAck);
    EXPECT_EQ(c.Command({CMD_MODULE_COPY}, false), kAck);
    EXPECT_EQ(c.Command({CMD_BAUD_SWITCH, 0x01}, false), Nak(0x05));
    EXPECT_EQ(c.Command({CMD_BAUD_SWITCH, 0x01}, false), kAck);
}

TEST(SimFaults, CorruptedEchoesUntilTheToolGivesUp) {
    SimPhoneConfig config;
    config.faults.corruptEchoCount = 12;
    auto phone = StartPhone(config);
    Client c(phone->DevicePath());
    EnterModule(c, SimLink::Usb, false);
    ASSERT_EQ(c.Command(EraseCommand(0, 1024), true), kAck);
    const Bytes block = PatternBytes(1024, 2);
    Bytes control(1024);
    BuildControlBlock(control.data(), true);
    int mismatches = 0;
    Bytes answer = c.Block(block);
    while (answer != Echo(block) && mismatches < 20) {
        ++mismatches;
        ASSERT_GE(answer.size(), 5u);
        EXPECT_EQ(answer[1], RSP_ACK);
        ASSERT_EQ(c.Block(control), kSendData);
        answer = c.Block(block);
    }
    EXPECT_EQ(mismatches, 12);
    EXPECT_EQ(phone->FlashRange(0, 1024), block);
    EXPECT_TRUE(phone->Errors().empty());
}

TEST(SimFaults, StrayBytesBeforeAnAnswer) {
    SimPhoneConfig config;
    config.faults.strayBytes = {0x55, 0xAA};
    config.faults.strayCount = 1;
    config.faults.straySkip = 1;
    auto phone = StartPhone(config);
    Client c(phone->DevicePath());
    EXPECT_EQ(c.Command({CMD_DOWNLOAD_START}, true), kAck);
    EXPECT_EQ(c.Command({CMD_DOWNLOAD_START}, true), (Bytes{0x55, 0xAA, 0x7E, 0x02, 0x7E}));
    EXPECT_EQ(c.Command({CMD_DOWNLOAD_START}, true), kAck);
}

TEST(SimFaults, HangUpAfterNBytesUnplugsAndReplugWorks) {
    test::PhoneRegistry registry;
    SimPhoneConfig config;
    config.portName = "COM71";
    config.faults.hangupAfterBytes = 12;  // the start request (8) and half the next
    auto phone = StartPhone(config);
    const std::string before = phone->DevicePath();
    EXPECT_EQ(ResolvePortDevice("COM71"), before);
    Client c(before);
    EXPECT_EQ(c.Command({CMD_DOWNLOAD_START}, true), kAck);
    ASSERT_TRUE(c.Write(Client::Frame({CMD_COMPRESSED, 0x00}, true)));
    ASSERT_TRUE(phone->WaitUntil([&] { return !phone->IsPlugged(); }, kPatience));
    // The tool's writes fail now, and the port is gone from the alias folder and the map.
    EXPECT_FALSE(c.Write(Client::Frame({CMD_JUMP}, true)));
    std::error_code ec;
    EXPECT_FALSE(std::filesystem::is_symlink(registry.Ports() + "/COM71", ec));
    EXPECT_TRUE(std::filesystem::is_empty(registry.Map()));
    EXPECT_EQ(phone->Counters().hangups, 1u);
    EXPECT_EQ(phone->Counters().bytesReceived, 12u);
    c.Close();
    // Connected again: a new line, registered again, in the boot loader.
    phone->SetFaults({});
    std::string error;
    ASSERT_TRUE(phone->Replug(&error)) << error;
    EXPECT_EQ(ResolvePortDevice("COM71"), phone->DevicePath());
    Client d(phone->DevicePath());
    EXPECT_EQ(d.Command({CMD_DOWNLOAD_START}, true), kAck);
    d.Close();

    // Unplugged and plugged in again by itself.
    SimFaultPlan plan;
    plan.hangupAfterBytes = 1;
    plan.replugAfterMs = 50;
    phone->SetFaults(plan);
    const std::string second = phone->DevicePath();
    Client e(second);
    ASSERT_TRUE(e.Write({0x7E}));
    ASSERT_TRUE(phone->WaitUntil([&] { return phone->Counters().hangups == 2; }, kPatience));
    ASSERT_TRUE(phone->WaitUntil([&] { return phone->IsPlugged(); }, kPatience));
    EXPECT_EQ(ResolvePortDevice("COM71"), phone->DevicePath());
    phone->SetFaults({});
    Client f(phone->DevicePath());
    EXPECT_EQ(f.Command({CMD_DOWNLOAD_START}, true), kAck);
}

TEST(SimPacing, AnswersComeNoEarlierThanTheLinkAllows) {
    SimPhoneConfig config;
    config.link = SimLink::Uart;
    config.linkRateBps = kSimLineRate;  // 57,600 then 115,200
    config.turnaroundUs = 1000;
    auto phone = StartPhone(config);
    Client c(phone->DevicePath());
    EnterModule(c, SimLink::Uart, false);
    ASSERT_EQ(c.Command(EraseCommand(0, 8192), false), kAck);
    // Two 4,096-byte writes in one go (about 13,100 bytes with the escapes of this pattern) at
    // 11,520 bytes/s: over 1.1 s.
    const Bytes data = PatternBytes(8192, 3);
    Bytes both = Client::Frame(WriteDataCommand(0, data.data(), 4096), false);
    const Bytes second = Client::Frame(WriteDataCommand(4096, data.data() + 4096, 4096), false);
    both.insert(both.end(), second.begin(), second.end());
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(c.Write(both));
    EXPECT_EQ(c.ReadFrame(), kAck);
    EXPECT_EQ(c.ReadFrame(), kAck);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(1000));  // a lower bound only
    EXPECT_EQ(phone->FlashRange(0, data.size()), data);
    EXPECT_TRUE(phone->Errors().empty());
}

}  // namespace
}  // namespace zembra::simtest
