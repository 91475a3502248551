// The boot loader's answers: start, version, compressed mode, module copy, baud switch, jump,
// and the framing checks of command frames.

#include "protocol/Crc16.h"
#include "tests/sim/SimTestSupport.h"

namespace zembra::simtest {
namespace {

struct Phone {
    explicit Phone(SimPhoneConfig config) : phone(config) {
        std::string error;
        EXPECT_TRUE(phone.Start(&error)) << error;
    }
    SimulatedPhone phone;
};

SimPhoneConfig Usb() {
    SimPhoneConfig c;
    c.link = SimLink::Usb;
    return c;
}

SimPhoneConfig Uart() {
    SimPhoneConfig c;
    c.link = SimLink::Uart;
    return c;
}

const SimRecordEntry& Last(const std::vector<SimRecordEntry>& record) {
    return record.back();
}

TEST(SimBootLoader, AnswersTheUsbSequenceAndCountsIt) {
    SimPhoneConfig config = Usb();
    config.version = 0x1234;
    Phone p(config);
    Client c(p.phone.DevicePath());
    // 0xA0 is 7E A0 72 55 7E plus three zeros; 0x12 0x00 is six bytes plus two zeros.
    EXPECT_EQ(Client::Frame({CMD_DOWNLOAD_START}, true),
              (Bytes{0x7E, 0xA0, 0x72, 0x55, 0x7E, 0, 0, 0}));
    EnterModule(c, SimLink::Usb, false, 0x1234);
    EXPECT_EQ(p.phone.Stage(), SimStage::DownloadModule);
    const auto record = p.phone.Record();
    ASSERT_EQ(record.size(), 4u);
    EXPECT_EQ(record[0].command, CMD_DOWNLOAD_START);
    EXPECT_EQ(record[1].command, CMD_VERSION_CHECK);
    EXPECT_EQ(record[1].payload, VersionCommand(0x1234));
    EXPECT_EQ(record[2].command, CMD_JUMP);
    for (const auto& e : record) {
        EXPECT_TRUE(e.answered);
        EXPECT_EQ(e.answer, RSP_ACK);
        EXPECT_EQ(e.kind, SimUnitKind::CommandFrame);
    }
    // The last frame's padding and the last answer's count follow the answer itself.
    ASSERT_TRUE(p.phone.WaitUntil(
        [&] {
            const SimCounters c = p.phone.Counters();
            return c.bytesReceived == 4u * 8u + 4u && c.bytesSent == 12u;
        },
        kPatience));
    const SimCounters counters = p.phone.Counters();
    EXPECT_EQ(counters.units, 4u);
    EXPECT_EQ(counters.acks, 4u);
    EXPECT_EQ(counters.errors, 0u);
    EXPECT_EQ(counters.bytesReceived, 4u * 8u + 4u);  // D0 frame: 10 bytes + 2 padding
    EXPECT_EQ(counters.bytesSent, 12u);
}

TEST(SimBootLoader, CompressedModeAckSwitchesUsbToRawFrames) {
    Phone p(Usb());
    Client c(p.phone.DevicePath());
    EnterModule(c, SimLink::Usb, true, -1, /*autoMode=*/true);
    const auto record = p.phone.Record();
    ASSERT_EQ(record.size(), 5u);
    EXPECT_EQ(record[1].kind, SimUnitKind::CommandFrame);  // first request: command frame
    EXPECT_EQ(record[2].kind, SimUnitKind::RawFrame);      // second: already raw
    EXPECT_EQ(record[3].kind, SimUnitKind::RawFrame);      // jump
    EXPECT_EQ(record[4].kind, SimUnitKind::RawFrame);      // start request
    EXPECT_TRUE(p.phone.Errors().empty());
}

TEST(SimBootLoader, VersionMismatchAndRefusalAreNakButTheDialogueGoesOn) {
    SimPhoneConfig config = Usb();
    config.version = 0x0101;
    Phone p(config);
    Client c(p.phone.DevicePath());
    ASSERT_EQ(c.Command({CMD_DOWNLOAD_START}, true), kAck);
    EXPECT_EQ(c.Command(VersionCommand(0x0102), true), Nak(NAK_FAILED));
    // The operator may go on: the mode request and the jump still work.
    EXPECT_EQ(c.Command({CMD_COMPRESSED, 0x00}, true), kAck);
    EXPECT_EQ(c.Raw({CMD_JUMP}), kAck);
    EXPECT_TRUE(p.phone.Errors().empty());  // a mismatch is an answer, not a tool error

    SimPhoneConfig refusing = Usb();
    refusing.faults.refuseVersion = true;
    Phone q(refusing);
    Client d(q.phone.DevicePath());
    ASSERT_EQ(d.Command({CMD_DOWNLOAD_START}, true), kAck);
    EXPECT_EQ(d.Command(VersionCommand(0x0101), true), Nak(NAK_FAILED));
}

TEST(SimBootLoader, CompressedModeRefusedOrSilent) {
    SimPhoneConfig refused = Usb();
    refused.compression = SimCompression::Refused;
    Phone p(refused);
    Client c(p.phone.DevicePath());
    ASSERT_EQ(c.Command({CMD_DOWNLOAD_START}, true), kAck);
    EXPECT_EQ(c.Command({CMD_COMPRESSED, 0x00}, true), Nak(NAK_INVALID_CMD));
    // Still command frames: the normal USB mode goes on.
    EXPECT_EQ(c.Command({CMD_JUMP}, true), kAck);
    EXPECT_EQ(c.Command({CMD_DOWNLOAD_START}, true), kAck);

    SimPhoneConfig silent = Usb();
    silent.compression = SimCompression::Silent;
    Phone q(silent);
    Client d(q.phone.DevicePath());
    ASSERT_EQ(d.Command({CMD_DOWNLOAD_START}, true), kAck);
    ASSERT_TRUE(d.Write(Client::Frame({CMD_COMPRESSED, 0x00}, true)));
    ASSERT_TRUE(q.phone.WaitForUnits(2, kPatience));
    EXPECT_TRUE(d.Quiet(std::chrono::milliseconds(50)));
    EXPECT_FALSE(Last(q.phone.Record()).answered);
    EXPECT_EQ(d.Command({CMD_JUMP}, true), kAck);
}

TEST(SimBootLoader, UartNeedsModuleCopyAndBaudSwitchAndThenRuns115200) {
    Phone p(Uart());
    Client c(p.phone.DevicePath());
    ASSERT_EQ(c.Command({CMD_DOWNLOAD_START}, false), kAck);
    EXPECT_EQ(c.Command({CMD_JUMP}, false), Nak(NAK_INVALID_CMD));               // no copy yet
    EXPECT_EQ(c.Command({CMD_BAUD_SWITCH, 0x01}, false), Nak(NAK_INVALID_CMD));  // copy first
    EXPECT_EQ(c.Command({CMD_MODULE_COPY}, false), kAck);
    EXPECT_EQ(c.Command({CMD_BAUD_SWITCH, 0x02}, false), Nak(NAK_INVALID_CMD));  // unknown rate
    EXPECT_EQ(c.Command({CMD_BAUD_SWITCH, 0x01}, false), kAck);
    EXPECT_EQ(p.phone.Counters().baudSwitchRate, 115200u);
    EXPECT_EQ(p.phone.Counters().phoneRate, 57600u);  // the jump still goes at 57,600
    EXPECT_EQ(c.Command({CMD_JUMP}, false), kAck);
    EXPECT_EQ(p.phone.Counters().phoneRate, 115200u);
    // A tool that forgot to switch its port is heard as noise.
    EXPECT_EQ(c.Command({CMD_DOWNLOAD_START}, false), Nak(NAK_INVALID_FCS));
    c.SetRate(B115200);
    EXPECT_EQ(c.Command({CMD_DOWNLOAD_START}, false), kAck);
    EXPECT_EQ(Last(p.phone.Record()).lineRate, 115200u);
    EXPECT_EQ(p.phone.Errors().size(), 4u);
}

TEST(SimBootLoader, UsbRefusesTheUartCommands) {
    Phone p(Usb());
    Client c(p.phone.DevicePath());
    ASSERT_EQ(c.Command({CMD_DOWNLOAD_START}, true), kAck);
    EXPECT_EQ(c.Command({CMD_MODULE_COPY}, true), Nak(NAK_INVALID_CMD));
    EXPECT_EQ(c.Command({CMD_BAUD_SWITCH, 0x01}, true), Nak(NAK_INVALID_CMD));
    EXPECT_EQ(p.phone.Errors().size(), 2u);
}

TEST(SimBootLoader, CommandsOutOfSequenceAreRefused) {
    Phone p(Usb());
    Client c(p.phone.DevicePath());
    // Nothing before the start request.
    EXPECT_EQ(c.Command({CMD_JUMP}, true), Nak(NAK_INVALID_CMD));
    EXPECT_EQ(c.Command(VersionCommand(1), true), Nak(NAK_INVALID_CMD));
    ASSERT_EQ(c.Command({CMD_DOWNLOAD_START}, true), kAck);
    // Erase and data belong to the download module.
    EXPECT_EQ(c.Command(EraseCommand(0, 0x10000), true), Nak(NAK_INVALID_CMD));
    EXPECT_EQ(c.Command({CMD_COMPRESSED, 0x01, 1, 2, 3}, true), Nak(NAK_INVALID_CMD));
    // The version check comes before the mode request, once.
    ASSERT_EQ(c.Command({CMD_COMPRESSED, 0x00}, true), kAck);
    EXPECT_EQ(c.Raw(VersionCommand(1)), Nak(NAK_INVALID_CMD));
    // Unknown command and wrong payload length.
    EXPECT_EQ(c.Raw({0x55}), Nak(NAK_INVALID_CMD));
    EXPECT_EQ(c.Raw({CMD_JUMP, 0x00}), Nak(NAK_INVALID_CMD));
    // After the jump only the start request.
    ASSERT_EQ(c.Raw({CMD_JUMP}), kAck);
    EXPECT_EQ(c.Raw(EraseCommand(0, 0x10000)), Nak(NAK_INVALID_CMD));
    ASSERT_EQ(c.Raw({CMD_DOWNLOAD_START}), kAck);
    EXPECT_EQ(c.Raw({CMD_DOWNLOAD_START}), Nak(NAK_INVALID_CMD));
    EXPECT_EQ(c.Raw({CMD_COMPRESSED, 0x00}), Nak(NAK_INVALID_CMD));
    EXPECT_EQ(p.phone.Errors().size(), 10u);
    EXPECT_EQ(p.phone.Counters().errors, 10u);
}

TEST(SimBootLoader, FramingErrorsAreNakInvalidFcs) {
    Phone p(Uart());
    Client c(p.phone.DevicePath());
    // Bad FCS.
    Bytes frame = Client::Frame({CMD_DOWNLOAD_START}, false);
    frame[2] ^= 0x01;
    ASSERT_TRUE(c.Write(frame));
    EXPECT_EQ(c.ReadFrame(), Nak(NAK_INVALID_FCS));
    // An unescaped 0x7F inside the frame (FCS computed over it as a payload byte).
    Bytes good = Client::Frame({0x7F}, false);  // 7E 7D 5F fcs fcs 7E
    ASSERT_EQ(good[1], 0x7D);
    Bytes unescaped = {0x7E, 0x7F};
    unescaped.insert(unescaped.end(), good.begin() + 3, good.end());
    ASSERT_TRUE(c.Write(unescaped));
    EXPECT_EQ(c.ReadFrame(), Nak(NAK_INVALID_FCS));
    // A needless escape of an ordinary byte.
    Bytes plain = Client::Frame({CMD_DOWNLOAD_START}, false);
    Bytes needless = {0x7E, 0x7D, static_cast<std::uint8_t>(CMD_DOWNLOAD_START ^ 0x20)};
    needless.insert(needless.end(), plain.begin() + 2, plain.end());
    ASSERT_TRUE(c.Write(needless));
    EXPECT_EQ(c.ReadFrame(), Nak(NAK_INVALID_FCS));
    // Stray bytes before a frame: the frame is refused.
    Bytes stray = {0x55, 0xAA};
    const Bytes a0 = Client::Frame({CMD_DOWNLOAD_START}, false);
    stray.insert(stray.end(), a0.begin(), a0.end());
    ASSERT_TRUE(c.Write(stray));
    EXPECT_EQ(c.ReadFrame(), Nak(NAK_INVALID_FCS));
    // And then a clean one works.
    EXPECT_EQ(c.Command({CMD_DOWNLOAD_START}, false), kAck);
    EXPECT_EQ(p.phone.Errors().size(), 4u);
    EXPECT_NE(p.phone.Errors()[3].find("2 stray byte(s)"), std::string::npos);
}

TEST(SimBootLoader, UsbPaddingMustBeExactZeros) {
    Phone p(Usb());
    Client c(p.phone.DevicePath());
    // A frame whose length is already a multiple of four carries no padding:
    // 7E 00 00 7E (empty payload) is too short to be a command and refused as such.
    ASSERT_TRUE(c.Write({0x7E, 0x00, 0x00, 0x7E}));
    EXPECT_EQ(c.ReadFrame(), Nak(NAK_INVALID_FCS));
    EXPECT_EQ(c.Command({CMD_DOWNLOAD_START}, true), kAck);  // no padding was expected
    // Non-zero padding: the next frame is refused.
    Bytes bad = Client::Frame({CMD_COMPRESSED, 0x00}, true);
    bad.back() = 0x11;
    ASSERT_TRUE(c.Write(bad));
    EXPECT_EQ(c.ReadFrame(), kAck);
    EXPECT_EQ(c.Raw({CMD_JUMP}), Nak(NAK_INVALID_FCS));
    const auto errors = p.phone.Errors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_NE(errors.back().find("non-zero padding"), std::string::npos);
    // A frame without its padding: the phone records the fault and still reads the next
    // frame, so the tool sees the phone's error instead of a time-out.
    Phone q(Usb());
    Client d(q.phone.DevicePath());
    ASSERT_TRUE(d.Write(Client::Frame({CMD_DOWNLOAD_START}, false)));
    EXPECT_EQ(d.ReadFrame(), kAck);
    ASSERT_TRUE(d.Write(Client::Frame({CMD_VERSION_CHECK, 1, 0, 0, 0}, false)));
    EXPECT_EQ(d.ReadFrame(), kAck);
    const auto unpadded = q.phone.Errors();
    ASSERT_EQ(unpadded.size(), 1u);
    EXPECT_NE(unpadded[0].find("not padded"), std::string::npos) << unpadded[0];
}

TEST(SimBootLoader, RawFrameCrcIsChecked) {
    Phone p(Usb());
    Client c(p.phone.DevicePath());
    ASSERT_EQ(c.Command({CMD_DOWNLOAD_START}, true), kAck);
    ASSERT_EQ(c.Command({CMD_COMPRESSED, 0x00}, true), kAck);
    Bytes raw = Client::RawFrame({CMD_JUMP});
    raw[1] ^= 0x40;  // CRC low byte
    ASSERT_TRUE(c.Write(raw));
    EXPECT_EQ(c.ReadFrame(), Nak(NAK_INVALID_FCS));
    // A payload whose CRC high byte is 0x00 arrives with 0x7E there and is accepted: find one.
    Bytes payload;
    for (unsigned v = 0; v < 0x10000 && payload.empty(); ++v) {
        const Bytes probe = {CMD_COMPRESSED, 0x00, static_cast<std::uint8_t>(v),
                             static_cast<std::uint8_t>(v >> 8)};
        if ((Crc16(probe.data(), probe.size()) >> 8) == 0) {
            EXPECT_EQ(Client::RawFrame(probe)[probe.size() + 1], 0x7E);
            payload = probe;
        }
    }
    ASSERT_FALSE(payload.empty());
    // 0x12 0x00 with two extra bytes has the wrong length for the request: refused, but
    // recognised with its full payload (the CRC high byte 0x7E was understood).
    EXPECT_EQ(c.Raw(payload), Nak(NAK_INVALID_CMD));
    const auto record = p.phone.Record();
    EXPECT_EQ(record.back().length, payload.size());
    EXPECT_NE(record.back().note.find("payload of 4 bytes"), std::string::npos);
}

}  // namespace
}  // namespace zembra::simtest
