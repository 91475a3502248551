#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include "job/StartSnapshot.h"
#include "platform/Helpers.h"
#include "platform/LoopMainThread.h"
#include "protocol/BlockTransfer.h"
#include "protocol/Crc16.h"
#include "protocol/DebugTrace.h"
#include "protocol/RunDisplay.h"
#include "protocol/RunEvents.h"
#include "protocol/SingleBridge.h"
#include "tests/protocol/TestHosts.h"
#include "tests/support/NativePath.h"
#include "tests/support/TestSupport.h"

namespace zembra {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::FakePorts;
using test::RecordingHost;

using test::RandomBytes;

// A file with the given content; removed with the fixture.
struct TempFile {
    std::string path;
    std::FILE* file = nullptr;
    explicit TempFile(const Bytes& content) {
        path = test::ScratchRoot() + "block" + std::to_string(getpid()) + "_" +
               std::to_string(reinterpret_cast<std::uintptr_t>(this));
        std::FILE* out = OpenFile(path, "wb");
        std::fwrite(content.data(), 1, content.size(), out);
        std::fclose(out);
        file = OpenFile(path, "rb");
    }
    ~TempFile() {
        std::fclose(file);
        RemoveFile(path);
    }
};

// What the block routines told the run's observer.
struct CountedEvents : RunEvents {
    int naks = 0;
    std::vector<std::uint8_t> resends;  // the code of each
    void Nak(int, std::uint8_t) override { ++naks; }
    void Resent(int, std::uint8_t code) override { resends.push_back(code); }
};

struct BlockFixture : ::testing::Test {
    CountedEvents events;
    SingleShared shared;
    RecordingHost host;
    FakePorts ports;
    DebugTrace trace;
    LoopMainThread loop;
    AskOperatorRequest ask;
    RunDisplay display{loop, host};
    RunEventsFan fan{&events, &display};
    RunReport report{fan, 0};
    SingleBridge bridge{shared, ports, trace, loop, ask};
    StartSnapshot snapshot;
    // Answers per written unit; the default answers ACK.
    std::function<Bytes(const Bytes&)> phone = [](const Bytes&) { return Bytes{0x7E, 0x02, 0x7E}; };

    void SetUp() override {
        shared.downloadEnabled = true;
        snapshot.packetResponseWaitMs = 2000;
        ports.onWrite = [this](const Bytes& unit) {
            const Bytes answer = phone(unit);
            if (!answer.empty()) bridge.ReceiveOnPortThread(answer.data(), answer.size());
        };
    }

    // Runs a routine on a worker thread while this thread serves the bridge.
    BlockResult Run(const std::function<BlockResult(BlockTransfer&)>& routine) {
        std::optional<BlockResult> result;
        events = CountedEvents();
        BlockTransfer transfer(bridge, snapshot, report);
        std::thread worker([&] {
            const BlockResult r = routine(transfer);
            loop.Post([&result, r] { result = r; });
        });
        loop.RunUntil([&] { return result.has_value(); }, std::chrono::seconds(30));
        worker.join();
        return result.value_or(BlockResult::NoResponse);
    }
};

TEST_F(BlockFixture, PpvShortIncompressibleLastBlockGoesWholeIn65Packets) {
    const Bytes image = RandomBytes(100, 1);
    TempFile file(image);
    EXPECT_EQ(
        Run([&](BlockTransfer& t) { return t.SendBlock(USB_PPV, file.file, 0, 100, 0x123400, 0); }),
        BlockResult::Done);
    ASSERT_EQ(ports.writes.size(), 65u);
    Bytes stream;
    for (std::size_t i = 0; i < ports.writes.size(); ++i) {
        const Bytes& frame = ports.writes[i];
        ASSERT_EQ(frame.size(), 1024u);
        EXPECT_EQ(frame[0], CMD_COMPRESSED);
        EXPECT_EQ(frame[1], i + 1 < ports.writes.size() ? UNCOMPRESSED_CONTINUES : COMPRESSED_LAST);
        const std::size_t n = i + 1 < ports.writes.size() ? 1020 : 264;
        stream.insert(stream.end(), frame.begin() + 2, frame.begin() + 2 + static_cast<long>(n));
        const std::uint16_t crc = Crc16(frame.data(), n + 2);
        EXPECT_EQ(frame[n + 2], crc & 0xFF);
    }
    ASSERT_EQ(stream.size(), 65544u);
    EXPECT_EQ(Bytes(stream.begin(), stream.begin() + 8),
              (Bytes{0x00, 0x34, 0x12, 0x00, 100, 0, 0, 0}));
    EXPECT_EQ(Bytes(stream.begin() + 8, stream.begin() + 108), image);
}

TEST_F(BlockFixture, CompressibleBlockGoesInOnePacketFlaggedLast) {
    const Bytes image(0x10000, 0xFF);
    TempFile file(image);
    EXPECT_EQ(
        Run([&](BlockTransfer& t) { return t.SendBlock(USB_PPV, file.file, 0, 0x10000, 0, 0); }),
        BlockResult::Done);
    ASSERT_EQ(ports.writes.size(), 1u);
    EXPECT_EQ(ports.writes[0][1], COMPRESSED_LAST);

    // The same over UART: one escaped command frame.
    ports.writes.clear();
    EXPECT_EQ(
        Run([&](BlockTransfer& t) { return t.SendBlock(UART_PRESS, file.file, 0, 0x10000, 0, 0); }),
        BlockResult::Done);
    ASSERT_EQ(ports.writes.size(), 1u);
    EXPECT_EQ(ports.writes[0][0], 0x7E);
    EXPECT_EQ(ports.writes[0][1], CMD_COMPRESSED);
    EXPECT_EQ(ports.writes[0][2], COMPRESSED_LAST);
}

TEST_F(BlockFixture, TwelveNaksEndTheBlockElevenAreRetried) {
    const Bytes image = RandomBytes(4096, 2);
    TempFile file(image);
    int naks = 11;
    phone = [&](const Bytes&) {
        return naks-- > 0 ? Bytes{0x7E, 0xA4, 0x7E} : Bytes{0x7E, 0x02, 0x7E};
    };
    snapshot.showInvalidFcsNak = true;
    EXPECT_EQ(Run([&](BlockTransfer& t) {
                  return t.SendBlock(UART_NORMAL, file.file, 0, 4096, 0x1000, 0);
              }),
              BlockResult::Done);
    EXPECT_EQ(ports.writes.size(), 12u);
    for (const Bytes& w : ports.writes) EXPECT_EQ(w, ports.writes[0]);  // the same packet again
    // The host counts each write; the observer hears each negative answer and each resend
    // with its code.
    EXPECT_EQ(bridge.bytesWritten(), 12 * ports.writes[0].size());
    EXPECT_EQ(events.naks, 11);
    EXPECT_EQ(events.resends, std::vector<std::uint8_t>(11, NAK_FAILED));
    // Each shown NAK: its text (blue) and "재전송 합니다" (red).
    ASSERT_EQ(host.lines.size(), 22u);
    EXPECT_EQ(host.lines[0], (RecordingHost::Line{"NAK FAILED", COLOUR_BLUE}));
    EXPECT_EQ(host.lines[1], (RecordingHost::Line{"재전송 합니다", COLOUR_RED}));

    naks = 12;
    ports.writes.clear();
    host.lines.clear();
    snapshot.showInvalidFcsNak = false;
    EXPECT_EQ(Run([&](BlockTransfer& t) {
                  return t.SendBlock(UART_NORMAL, file.file, 0, 4096, 0x1000, 0);
              }),
              BlockResult::TooManyNaks);
    EXPECT_EQ(ports.writes.size(), 12u);
    EXPECT_TRUE(host.lines.empty());  // negative answers are not shown with the option off
    EXPECT_EQ(events.naks, 12);       // but counted, and the last one is not resent
    EXPECT_EQ(events.resends.size(), 11u);
}

TEST_F(BlockFixture, UartNormalFrameLayoutAndProgress) {
    const Bytes image = RandomBytes(6000, 3);
    TempFile file(image);
    EXPECT_EQ(Run([&](BlockTransfer& t) {
                  return t.SendBlock(UART_NORMAL, file.file, 0, 6000, 0x2000, 4096);
              }),
              BlockResult::Done);
    ASSERT_EQ(ports.writes.size(), 1u);
    // Decode the frame.
    Bytes payload;
    const Bytes& f = ports.writes[0];
    for (std::size_t i = 1; i + 1 < f.size(); ++i) {
        if (f[i] == 0x7D) {
            payload.push_back(static_cast<std::uint8_t>(f[++i] ^ 0x20));
        } else {
            payload.push_back(f[i]);
        }
    }
    ASSERT_EQ(payload.size(), 1u + 6u + 1904u + 2u);
    EXPECT_EQ(payload[0], CMD_WRITE_DATA);
    EXPECT_EQ(Bytes(payload.begin() + 1, payload.begin() + 7),
              (Bytes{0x00, 0x20, 0, 0, 0x70, 0x07}));
    EXPECT_EQ(Bytes(payload.begin() + 7, payload.end() - 2),
              Bytes(image.begin() + 4096, image.end()));
    EXPECT_EQ(host.gauges, (std::vector<int>{68}));  // 4096 * 100 / 6000
    EXPECT_EQ(host.addresses, (std::vector<std::string>{"0x00001000"}));
}

TEST_F(BlockFixture, UsbNormalControlBlockAndEchoRetries) {
    // A block that begins with the marker is announced by a control block.
    Bytes image = RandomBytes(1500, 4);
    std::copy(kControlMarker.begin(), kControlMarker.end(), image.begin());
    TempFile file(image);
    phone = [](const Bytes& unit) {
        if (StartsWithControlMarker(unit.data(), unit.size()) && unit[8] == 0 &&
            std::all_of(unit.begin() + 9, unit.end(), [](std::uint8_t b) { return b == 0; }))
            return Bytes{0x7E, 0x03, 0x7E};
        std::uint8_t echo[kMaxAckEchoSize];
        const std::size_t n = BuildAckEcho(echo, unit.data());
        return Bytes(echo, echo + n);
    };
    EXPECT_EQ(
        Run([&](BlockTransfer& t) { return t.SendBlock(USB_NORMAL, file.file, 0, 1500, 0, 0); }),
        BlockResult::Done);
    ASSERT_EQ(ports.writes.size(), 2u);
    EXPECT_EQ(ports.writes[0][7], 0x00);
    EXPECT_EQ(ports.writes[1], Bytes(image.begin(), image.begin() + 1024));

    // The last block is short: the bytes past the end are filler, never the file's beyond it.
    ports.writes.clear();
    EXPECT_EQ(Run([&](BlockTransfer& t) {
                  return t.SendBlock(USB_NORMAL, file.file, 0, 1500, 1024, 1024);
              }),
              BlockResult::Done);
    ASSERT_EQ(ports.writes.size(), 1u);
    EXPECT_EQ(Bytes(ports.writes[0].begin(), ports.writes[0].begin() + 476),
              Bytes(image.begin() + 1024, image.end()));
    EXPECT_EQ(ports.writes[0][476], kBlockFiller);

    // Echo mismatches: control block 0x01 after each, eleven retried, the twelfth ends it.
    for (int bad : {11, 12}) {
        ports.writes.clear();
        host.lines.clear();
        int corrupt = bad;
        phone = [&](const Bytes& unit) {
            if (StartsWithControlMarker(unit.data(), unit.size())) return Bytes{0x7E, 0x03, 0x7E};
            if (corrupt-- > 0) return Bytes{0x7E, 0x02, 0x11, 0x22, 0x7E};
            std::uint8_t echo[kMaxAckEchoSize];
            const std::size_t n = BuildAckEcho(echo, unit.data());
            return Bytes(echo, echo + n);
        };
        const BlockResult result = Run([&](BlockTransfer& t) {
            return t.SendBlock(USB_NORMAL, file.file, 0, 1500, 1024, 1024);
        });
        if (bad == 11) {
            EXPECT_EQ(result, BlockResult::Done);
            EXPECT_EQ(ports.writes.size(), 1u + 2u * 11u);
            EXPECT_EQ(ports.writes[1][7], 0x01);
        } else {
            EXPECT_EQ(result, BlockResult::EchoFailed);
        }
        EXPECT_EQ(host.lines.size(), static_cast<std::size_t>(bad));
        EXPECT_EQ(host.lines[0], (RecordingHost::Line{"CRC오류 재전송 요청", COLOUR_RED}));
        // Each wrong echo is a resend (code 0); none of them is a negative answer.
        EXPECT_EQ(events.resends, std::vector<std::uint8_t>(static_cast<std::size_t>(bad), 0));
        EXPECT_EQ(events.naks, 0);
    }

    // A negative answer to a data block ends the block at once.
    ports.writes.clear();
    phone = [](const Bytes&) { return Bytes{0x7E, 0xA1, 0x7E}; };
    EXPECT_EQ(Run([&](BlockTransfer& t) {
                  return t.SendBlock(USB_NORMAL, file.file, 0, 1500, 1024, 1024);
              }),
              BlockResult::TooManyNaks);
    EXPECT_EQ(ports.writes.size(), 1u);
}

TEST_F(BlockFixture, SilenceStopAndAShrunkFile) {
    const Bytes image = RandomBytes(0x20000, 5);
    TempFile file(image);
    snapshot.packetResponseWaitMs = 50;
    phone = [](const Bytes&) { return Bytes{}; };
    EXPECT_EQ(
        Run([&](BlockTransfer& t) { return t.SendBlock(USB_PPV, file.file, 0, 0x20000, 0, 0); }),
        BlockResult::NoResponse);
    EXPECT_EQ(host.lines.back(), (RecordingHost::Line{"응답이없습니다", COLOUR_RED}));

    // A stop seen before a packet of a compressed block: no message from the routine.
    host.lines.clear();
    shared.RequestStop();
    EXPECT_EQ(
        Run([&](BlockTransfer& t) { return t.SendBlock(USB_PPV, file.file, 0, 0x20000, 0, 0); }),
        BlockResult::Stopped);
    EXPECT_TRUE(host.lines.empty());
    // A stop seen while waiting: "다운로드가 중단 됩니다".
    EXPECT_EQ(Run([&](BlockTransfer& t) {
                  return t.SendBlock(UART_NORMAL, file.file, 0, 0x20000, 0, 0);
              }),
              BlockResult::Stopped);
    EXPECT_EQ(host.lines.back(), (RecordingHost::Line{"다운로드가 중단 됩니다", COLOUR_BLUE}));
    shared.ClearStop();

    // The file is shorter than its size said: nothing past its end is read or sent.
    ports.writes.clear();
    std::error_code shrunk;
    std::filesystem::resize_file(test::Native(file.path), 0x18000, shrunk);
    EXPECT_FALSE(shrunk) << shrunk.message();
    EXPECT_EQ(Run([&](BlockTransfer& t) {
                  return t.SendBlock(USB_PPV, file.file, 0, 0x20000, 0x10000, 0x10000);
              }),
              BlockResult::FileReadError);
    EXPECT_TRUE(ports.writes.empty());
}

TEST(BlockPercent, Arithmetic) {
    EXPECT_EQ(BlockTransfer::Percent(0x8000, 0x20000, 0x8000, 0), 0);  // from the boot location
    EXPECT_EQ(BlockTransfer::Percent(0, 0x20000, 0x10000, 0), 50);
    EXPECT_EQ(BlockTransfer::Percent(0, 100, 0, 65000), 100);             // never above 100
    EXPECT_EQ(BlockTransfer::Percent(0, 0x7FFFFFFF, 0x7FFFFFF0, 0), 99);  // no overflow
}

}  // namespace
}  // namespace zembra
