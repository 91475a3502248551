// The download module: erase, the four data transfers into flash, the reset jump and the
// flash dump; and every way a transfer can be wrong.

#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>

#include "tests/sim/SimTestSupport.h"

namespace zembra::simtest {
namespace {

constexpr std::size_t kBlock = 0x10000;

// Sends an image as the compressed modes do: 64 KiB blocks with their header, LZO1X-1 when
// that is smaller, else the 65,544 header + data bytes as they are; packets of `chunk` bytes.
void SendCompressed(Client& c, bool usb, std::uint32_t address, const Bytes& image,
                    bool forceUncompressed = false) {
    const std::size_t chunk = usb ? kUsbCompressedChunk : kUartCompressedChunk;
    for (std::size_t offset = 0; offset < image.size(); offset += kBlock) {
        const std::size_t n = std::min(kBlock, image.size() - offset);
        const Bytes data(image.begin() + static_cast<std::ptrdiff_t>(offset),
                         image.begin() + static_cast<std::ptrdiff_t>(offset + n));
        Bytes stream = BlockWithHeader(address + static_cast<std::uint32_t>(offset), data);
        Bytes packed = Lzo(stream);
        std::uint8_t flag = COMPRESSED_CONTINUES;
        if (forceUncompressed || packed.size() >= stream.size()) {
            stream.resize(kBlock + 8, 0xEE);  // filler past a short last block
            packed = stream;
            flag = UNCOMPRESSED_CONTINUES;
        }
        for (std::size_t sent = 0; sent < packed.size(); sent += chunk) {
            const std::size_t k = std::min(chunk, packed.size() - sent);
            Bytes payload = {CMD_COMPRESSED,
                             sent + chunk >= packed.size() ? COMPRESSED_LAST : flag};
            payload.insert(payload.end(), packed.begin() + static_cast<std::ptrdiff_t>(sent),
                           packed.begin() + static_cast<std::ptrdiff_t>(sent + k));
            ASSERT_EQ(usb ? c.Raw(payload) : c.Command(payload, false), kAck)
                << "offset " << offset << " packet at " << sent;
        }
    }
}

void SendUartNormal(Client& c, std::uint32_t address, const Bytes& image) {
    for (std::size_t offset = 0; offset < image.size(); offset += kMaxWriteData) {
        const std::size_t n = std::min(kMaxWriteData, image.size() - offset);
        ASSERT_EQ(c.Command(WriteDataCommand(address + static_cast<std::uint32_t>(offset),
                                             image.data() + offset, n),
                            false),
                  kAck);
    }
}

Bytes UsbBlockAt(const Bytes& image, std::size_t offset) {
    Bytes block(kDataBlockSize, 0xA5);  // filler past the end of the file
    const std::size_t n = std::min(kDataBlockSize, image.size() - offset);
    std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(offset), n, block.begin());
    return block;
}

void SendUsbNormal(Client& c, const Bytes& image) {
    for (std::size_t offset = 0; offset < image.size(); offset += kDataBlockSize) {
        const Bytes block = UsbBlockAt(image, offset);
        if (StartsWithControlMarker(block.data(), block.size())) {
            Bytes control(kDataBlockSize);
            BuildControlBlock(control.data(), false);
            ASSERT_EQ(c.Block(control), kSendData);
        }
        ASSERT_EQ(c.Block(block), Echo(block)) << "offset " << offset;
    }
}

struct Session {
    explicit Session(SimLink link, bool compressed, SimPhoneConfig config = {})
        : usb(link == SimLink::Usb), compressed(compressed), phone(Configure(config, link)) {
        std::string error;
        EXPECT_TRUE(phone.Start(&error)) << error;
        client = std::make_unique<Client>(phone.DevicePath());
        EnterModule(*client, link, compressed);
    }
    static SimPhoneConfig Configure(SimPhoneConfig config, SimLink link) {
        config.link = link;
        return config;
    }
    bool raw() const { return usb && compressed; }
    Bytes Cmd(const Bytes& payload) {
        return raw() ? client->Raw(payload) : client->Command(payload, usb);
    }
    void Image(std::uint32_t address, const Bytes& image) {
        ASSERT_EQ(Cmd(EraseCommand(address, static_cast<std::uint32_t>(image.size()))), kAck);
        if (compressed)
            SendCompressed(*client, usb, address, image);
        else if (usb)
            SendUsbNormal(*client, image);
        else
            SendUartNormal(*client, address, image);
    }
    void Reset() {
        ASSERT_EQ(Cmd({CMD_JUMP}), kAck);
        ASSERT_TRUE(phone.WaitForReset(kPatience));
    }

    bool usb;
    bool compressed;
    SimulatedPhone phone;
    std::unique_ptr<Client> client;
};

struct ModeCase {
    SimLink link;
    bool compressed;
    const char* name;
};

class SimDataModes : public ::testing::TestWithParam<ModeCase> {};

TEST_P(SimDataModes, ImagesLandByteExactAndTheResetEndsTheSession) {
    Session s(GetParam().link, GetParam().compressed);
    // A code image that is not a multiple of any block size, with compressible and
    // incompressible blocks, and a font elsewhere.
    Bytes code = PatternBytes(0x20000, 1);
    const Bytes noise = RandomBytes(0x10000 + 0x123, 2);
    code.insert(code.end(), noise.begin(), noise.end());
    const Bytes font = PatternBytes(0x8000 + 7, 3);
    s.Image(0x10000, code);
    s.Image(0x400000, font);
    s.Reset();
    EXPECT_EQ(s.phone.FlashRange(0x10000, code.size()), code);
    EXPECT_EQ(s.phone.FlashRange(0x400000, font.size()), font);
    // Nothing kept beyond the ranges (no filler of a last block).
    EXPECT_EQ(s.phone.FlashRange(0x10000 + code.size(), 16), Bytes(16, 0xFF));
    EXPECT_EQ(s.phone.FlashRange(0x400000 + font.size(), 16), Bytes(16, 0xFF));
    EXPECT_EQ(s.phone.FlashRange(0, 0x10000), Bytes(0x10000, 0xFF));
    EXPECT_EQ(s.phone.FlashWrittenEnd(), 0x400000 + font.size());
    EXPECT_TRUE(s.phone.Errors().empty()) << s.phone.Errors().front();
    const SimCounters counters = s.phone.Counters();
    EXPECT_EQ(counters.resets, 1u);
    EXPECT_EQ(s.phone.Record().back().note, "reset jump");
    EXPECT_EQ(counters.erases, 2u);
    EXPECT_EQ(counters.bytesWritten, code.size() + font.size());
    EXPECT_EQ(s.phone.Stage(), SimStage::BootIdle);
    // The phone is back in its boot loader: a new session starts with command frames
    // (at 57,600 bit/s on UART).
    if (!s.usb) s.client->SetRate(B57600);
    EXPECT_EQ(s.client->Command({CMD_DOWNLOAD_START}, s.usb), kAck);
}

INSTANTIATE_TEST_SUITE_P(AllModes, SimDataModes,
                         ::testing::Values(ModeCase{SimLink::Usb, true, "UsbCompressed"},
                                           ModeCase{SimLink::Usb, false, "UsbNormal"},
                                           ModeCase{SimLink::Uart, true, "UartCompressed"},
                                           ModeCase{SimLink::Uart, false, "UartNormal"}),
                         [](const ::testing::TestParamInfo<ModeCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(SimCompressedBlocks, LzoBlockOf64KiBAndIncompressibleShortLastBlock) {
    Session s(SimLink::Usb, true);
    const Bytes full = PatternBytes(kBlock, 9);
    const Bytes last = RandomBytes(100, 10);
    Bytes image = full;
    image.insert(image.end(), last.begin(), last.end());
    ASSERT_EQ(s.Cmd(EraseCommand(0x20000, static_cast<std::uint32_t>(image.size()))), kAck);
    // One 64 KiB block compressed by lzo1x_1_compress with its header ...
    const Bytes packed = Lzo(BlockWithHeader(0x20000, full));
    ASSERT_LT(packed.size(), kBlock + 8);
    SendCompressed(*s.client, true, 0x20000, full);
    // ... and the 100-byte last block, which does not shrink, as 65,544 bytes in 65 packets.
    const Bytes rest = last;
    Bytes stream = BlockWithHeader(0x30000, rest);
    stream.resize(kBlock + 8, 0x5A);
    std::size_t packets = 0;
    for (std::size_t sent = 0; sent < stream.size(); sent += kUsbCompressedChunk, ++packets) {
        const std::size_t k = std::min(kUsbCompressedChunk, stream.size() - sent);
        Bytes payload = {CMD_COMPRESSED, sent + kUsbCompressedChunk >= stream.size()
                                             ? COMPRESSED_LAST
                                             : UNCOMPRESSED_CONTINUES};
        payload.insert(payload.end(), stream.begin() + static_cast<std::ptrdiff_t>(sent),
                       stream.begin() + static_cast<std::ptrdiff_t>(sent + k));
        ASSERT_EQ(s.client->Raw(payload), kAck);
    }
    EXPECT_EQ(packets, 65u);
    EXPECT_EQ(s.phone.FlashRange(0x20000, image.size()), image);
    EXPECT_EQ(s.phone.FlashRange(0x20000 + image.size(), 8), Bytes(8, 0xFF));
    const auto record = s.phone.Record();
    EXPECT_NE(record.back().note.find("uncompressed block of 100 bytes"), std::string::npos);
    s.Reset();
    EXPECT_TRUE(s.phone.Errors().empty());
}

TEST(SimCompressedBlocks, SmallCompressedBlockInOnePacket) {
    Session s(SimLink::Uart, true);
    const Bytes image(kBlock, 0x00);  // compresses to a few hundred bytes
    ASSERT_EQ(s.Cmd(EraseCommand(0, kBlock)), kAck);
    const Bytes packed = Lzo(BlockWithHeader(0, image));
    ASSERT_LT(packed.size(), 1020u);
    Bytes payload = {CMD_COMPRESSED, COMPRESSED_LAST};
    payload.insert(payload.end(), packed.begin(), packed.end());
    EXPECT_EQ(s.Cmd(payload), kAck);
    EXPECT_EQ(s.phone.FlashRange(0, kBlock), image);
    s.Reset();
}

TEST(SimCompressedBlocks, WrongStreamsAreRefused) {
    Session s(SimLink::Usb, true);
    Bytes data(kBlock, 0x42);  // compresses into one packet
    data[100] = 0x01;
    ASSERT_EQ(s.Cmd(EraseCommand(0x10000, 2 * kBlock)), kAck);
    auto lastPacket = [](const Bytes& bytes) {
        Bytes payload = {CMD_COMPRESSED, COMPRESSED_LAST};
        payload.insert(payload.end(), bytes.begin(), bytes.end());
        return payload;
    };
    // A stream that does not decompress.
    EXPECT_EQ(s.Cmd(lastPacket(RandomBytes(600, 5))), Nak(NAK_FAILED));
    // A header that disagrees with the data: says 65,536, carries 65,535.
    Bytes shortBlock = BlockWithHeader(0x10000, Bytes(data.begin(), data.end() - 1));
    shortBlock[4] = 0x00;
    shortBlock[5] = 0x00;
    shortBlock[6] = 0x01;
    const Bytes liar = Lzo(shortBlock);
    ASSERT_LE(liar.size(), kUsbCompressedChunk);
    EXPECT_EQ(s.Cmd(lastPacket(liar)), Nak(NAK_FAILED));
    // The right length but the wrong address (not where the range continues).
    const Bytes elsewhere = Lzo(BlockWithHeader(0x18000, data));
    EXPECT_EQ(s.Cmd(lastPacket(elsewhere)), Nak(NAK_FAILED));
    // A short non-last packet, and a flag that changes within a block.
    EXPECT_EQ(s.Cmd({CMD_COMPRESSED, COMPRESSED_CONTINUES, 1, 2, 3}), Nak(NAK_FAILED));
    Bytes full(2 + kUsbCompressedChunk, 0x33);
    full[0] = CMD_COMPRESSED;
    full[1] = UNCOMPRESSED_CONTINUES;
    EXPECT_EQ(s.Cmd(full), kAck);
    full[1] = COMPRESSED_CONTINUES;
    EXPECT_EQ(s.Cmd(full), Nak(NAK_FAILED));
    // An uncompressed stream that is not 65,544 bytes.
    EXPECT_EQ(s.Cmd(lastPacket(Bytes(100, 0x44))), Nak(NAK_FAILED));
    // Nothing was written by any of them.
    EXPECT_EQ(s.phone.FlashWrittenEnd(), 0u);
    // The range is not complete: neither a new erase nor the reset jump.
    EXPECT_EQ(s.Cmd(EraseCommand(0x400000, 16)), Nak(NAK_INVALID_CMD));
    EXPECT_EQ(s.Cmd({CMD_JUMP}), Nak(NAK_INVALID_CMD));
    EXPECT_EQ(s.phone.Errors().size(), 8u);
    // A 0xDD write is not the mode in force.
    EXPECT_EQ(s.Cmd(WriteDataCommand(0x10000, data.data(), 16)), Nak(NAK_INVALID_CMD));
}

TEST(SimCompressedBlocks, DataOutsideTheErasedRangeIsRefused) {
    Session s(SimLink::Uart, true);
    const Bytes data = PatternBytes(kBlock, 6);
    // Before any erase.
    const Bytes packed = Lzo(BlockWithHeader(0, data));
    Bytes payload = {CMD_COMPRESSED, COMPRESSED_LAST};
    payload.insert(payload.end(), packed.begin(), packed.end());
    EXPECT_EQ(s.Cmd(payload), Nak(NAK_FAILED));
    // Erase 64 KiB, write it, then one block too many.
    ASSERT_EQ(s.Cmd(EraseCommand(0, kBlock)), kAck);
    EXPECT_EQ(s.Cmd(payload), kAck);
    const Bytes beyond = Lzo(BlockWithHeader(kBlock, data));
    Bytes more = {CMD_COMPRESSED, COMPRESSED_LAST};
    more.insert(more.end(), beyond.begin(), beyond.end());
    EXPECT_EQ(s.Cmd(more), Nak(NAK_FAILED));
    EXPECT_EQ(s.phone.FlashWrittenEnd(), kBlock);
    EXPECT_EQ(s.phone.Errors().size(), 2u);
}

TEST(SimErase, RangeChecksAndEraseTime) {
    SimPhoneConfig config;
    config.flashSize = 0x100000;
    Session s(SimLink::Uart, false, config);
    EXPECT_EQ(s.Cmd(EraseCommand(0xFFFFF, 2)), Nak(NAK_TOO_LARGE));
    EXPECT_EQ(s.Cmd(EraseCommand(0xFFFFFFFF, 0x10)), Nak(NAK_TOO_LARGE));  // wraps in 32 bits
    EXPECT_EQ(s.Cmd(EraseCommand(0x1000, 0)), Nak(NAK_FAILED));
    EXPECT_EQ(s.Cmd({CMD_ERASE, 0, 0, 0, 0}), Nak(NAK_INVALID_CMD));
    EXPECT_EQ(s.Cmd(EraseCommand(0xF0000, 0x10000)), kAck);  // up to the last byte
    // Erasing sets the range back to 0xFF.
    const Bytes data = PatternBytes(0x10000, 8);
    SendUartNormal(*s.client, 0xF0000, data);
    EXPECT_EQ(s.phone.FlashRange(0xF0000, data.size()), data);
    EXPECT_EQ(s.Cmd(EraseCommand(0xF8000, 0x8000)), kAck);
    EXPECT_EQ(s.phone.FlashRange(0xF8000, 0x8000), Bytes(0x8000, 0xFF));
    EXPECT_EQ(s.phone.FlashRange(0xF0000, 0x8000), Bytes(data.begin(), data.begin() + 0x8000));
    // Refused ranges are answers, not tool errors; the short erase command is an error.
    EXPECT_EQ(s.phone.Errors().size(), 1u);

    // A configured erase time holds the answer back at least that long.
    SimPhoneConfig slow;
    slow.eraseMs = 150;
    Session t(SimLink::Usb, false, slow);
    ASSERT_TRUE(t.client->Write(Client::Frame(EraseCommand(0, 1024), true)));
    EXPECT_TRUE(t.client->Quiet(std::chrono::milliseconds(75)));
    EXPECT_EQ(t.client->ReadFrame(), kAck);
}

TEST(SimUartNormal, WriteChecks) {
    Session s(SimLink::Uart, false);
    const Bytes data = PatternBytes(0x3000, 7);
    ASSERT_EQ(s.Cmd(EraseCommand(0x8000, static_cast<std::uint32_t>(data.size()))), kAck);
    // Length field that disagrees with the frame.
    Bytes wrong = WriteDataCommand(0x8000, data.data(), 4096);
    wrong[5] = 0xFF;
    EXPECT_EQ(s.Cmd(wrong), Nak(NAK_FAILED));
    // Blocks of other than 4,096 bytes before the last one.
    EXPECT_EQ(s.Cmd(WriteDataCommand(0x8000, data.data(), 2048)), Nak(NAK_FAILED));
    // Skipping ahead.
    EXPECT_EQ(s.Cmd(WriteDataCommand(0x9000, data.data() + 0x1000, 4096)), Nak(NAK_FAILED));
    // Too long.
    Bytes big(4097, 0x11);
    EXPECT_EQ(s.Cmd(WriteDataCommand(0x8000, big.data(), big.size())), Nak(NAK_TOO_LARGE));
    // The right ones, then block data of the compressed mode.
    SendUartNormal(*s.client, 0x8000, data);
    EXPECT_EQ(s.phone.FlashRange(0x8000, data.size()), data);
    EXPECT_EQ(s.Cmd({CMD_COMPRESSED, COMPRESSED_LAST, 1, 2}), Nak(NAK_INVALID_CMD));
    EXPECT_EQ(s.phone.Errors().size(), 5u);
}

TEST(SimUsbNormal, MarkerBlocksControlBlocksAndRetransmission) {
    SimPhoneConfig config;
    config.faults.corruptEchoCount = 1;
    config.faults.corruptEchoSkip = 1;  // the second echo
    Session s(SimLink::Usb, false, config);
    // Three blocks: plain, one beginning with the marker, and a short last one.
    Bytes image = PatternBytes(2 * kDataBlockSize + 100, 11);
    std::copy(kControlMarker.begin(), kControlMarker.end(), image.begin() + kDataBlockSize);
    ASSERT_EQ(s.Cmd(EraseCommand(0x1000, static_cast<std::uint32_t>(image.size()))), kAck);
    const Bytes b0 = UsbBlockAt(image, 0);
    const Bytes b1 = UsbBlockAt(image, kDataBlockSize);
    const Bytes b2 = UsbBlockAt(image, 2 * kDataBlockSize);
    Bytes control0(kDataBlockSize), control1(kDataBlockSize);
    BuildControlBlock(control0.data(), false);
    BuildControlBlock(control1.data(), true);

    EXPECT_EQ(s.client->Block(b0), Echo(b0));
    EXPECT_EQ(s.client->Block(control0), kSendData);
    const Bytes corrupted = s.client->Block(b1);
    EXPECT_NE(corrupted, Echo(b1));  // the fault
    EXPECT_EQ(corrupted[1], RSP_ACK);
    EXPECT_EQ(s.client->Block(control1), kSendData);
    EXPECT_EQ(s.client->Block(b1), Echo(b1));
    EXPECT_EQ(s.client->Block(b2), Echo(b2));
    // The last block may be retransmitted too.
    EXPECT_EQ(s.client->Block(control1), kSendData);
    EXPECT_EQ(s.client->Block(b2), Echo(b2));
    EXPECT_EQ(s.phone.FlashRange(0x1000, image.size()), image);
    EXPECT_EQ(s.phone.FlashRange(0x1000 + image.size(), 4), Bytes(4, 0xFF));
    s.Reset();
    EXPECT_TRUE(s.phone.Errors().empty());
    EXPECT_EQ(s.phone.Counters().echoes, 5u);
}

TEST(SimUsbNormal, MarkerBlockWithoutControlBlockAndStrayControlBlocks) {
    Session s(SimLink::Usb, false);
    Bytes image = PatternBytes(2 * kDataBlockSize, 12);
    std::copy(kControlMarker.begin(), kControlMarker.end(), image.begin());
    ASSERT_EQ(s.Cmd(EraseCommand(0, static_cast<std::uint32_t>(image.size()))), kAck);
    Bytes control1(kDataBlockSize);
    BuildControlBlock(control1.data(), true);
    // Retransmission before any block.
    EXPECT_EQ(s.client->Block(control1), Nak(NAK_INVALID_CMD));
    // The marker block sent bare is taken for a malformed control block.
    EXPECT_EQ(s.client->Block(UsbBlockAt(image, 0)), Nak(NAK_INVALID_CMD));
    // A control block 0x00 must be followed by a block that begins with the marker.
    Bytes control0(kDataBlockSize);
    BuildControlBlock(control0.data(), false);
    EXPECT_EQ(s.client->Block(control0), kSendData);
    EXPECT_EQ(s.client->Block(UsbBlockAt(image, kDataBlockSize)), Nak(NAK_INVALID_CMD));
    EXPECT_EQ(s.phone.Errors().size(), 3u);
    EXPECT_EQ(s.phone.FlashWrittenEnd(), 0u);
}

// The reset jump is answered at once, the dump written after the answer: a tool that waits
// briefly for the answer is not kept waiting by the disk. The phone's own line about the
// jump is held until the tool has its answer, so the dump cannot have been written before.
TEST(SimDump, WrittenAfterTheResetJumpIsAnswered) {
    char pattern[] = "/tmp/zembra-sim-dump-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string path = std::string(pattern) + "/flash.bin";
    std::promise<void> answered;
    std::shared_future<void> answeredFuture = answered.get_future().share();
    std::atomic<int> dumpBeforeAnswer{-1};
    SimPhoneConfig config;
    config.dumpPath = path;
    config.eventPerUnit = true;
    config.onEvent = [&](const std::string& line, bool) {
        if (line.find("reset jump") == std::string::npos) return;
        if (answeredFuture.wait_for(std::chrono::seconds(10)) == std::future_status::ready)
            dumpBeforeAnswer = std::filesystem::exists(path) ? 1 : 0;
    };
    Session s(SimLink::Uart, false, config);
    const Bytes image = PatternBytes(5000, 13);
    s.Image(0x200, image);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(s.Cmd({CMD_JUMP}), kAck);
    answered.set_value();
    ASSERT_TRUE(s.phone.WaitUntil([&] { return std::filesystem::exists(path); }, kPatience));
    EXPECT_EQ(dumpBeforeAnswer, 0);
    std::ifstream in(path, std::ios::binary);
    const Bytes dumped((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Bytes expected(0x200, 0xFF);
    expected.insert(expected.end(), image.begin(), image.end());
    EXPECT_EQ(dumped, expected);
    s.phone.Stop();
    std::filesystem::remove_all(pattern);
}

}  // namespace
}  // namespace zembra::simtest
