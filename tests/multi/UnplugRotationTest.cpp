// Eight phones, one of them unplugged at a random point of its run, rotated through every
// slot: the other seven finish byte-exact, the unplugged slot ends with a reason.
#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "tests/multi/MultiE2eSupport.h"

namespace zembra::test {
namespace {

TEST_F(MultiEndToEnd, OneUnpluggedPhoneRotatedThroughEverySlot) {
    std::mt19937 rng(20261207);
    std::uniform_int_distribution<std::uint64_t> point(16, 120000);
    for (int unplugged = 0; unplugged < 8; ++unplugged) {
        phones.clear();
        host = RecordingHost{};
        const std::uint64_t after = point(rng);
        SCOPED_TRACE(FormatText("%s unplugged after %llu bytes", SlotPort(unplugged).c_str(),
                                static_cast<unsigned long long>(after)));
        for (int slot = 0; slot < 8; ++slot) {
            SimPhoneConfig config = PhoneConfig(slot);
            if (slot == unplugged) config.faults.hangupAfterBytes = after;
            AddPhone(config);
        }
        MultiTestPorts ports(loop);
        DisplayedMultiDownload multi(loop, ports, host, kQuickStart);
        DownloadJob job = Job();
        // Long answer waits: the unplugged phone must be noticed at once all the same.
        MultiStartRequest request = Request(ProtocolChoice::Auto, 8);
        request.settings.packetResponseWaitMs = "20000";
        request.settings.normalResponseWaitMs = "20000";
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(multi.Start(job, request), MultiStartOutcome::Started);
        RunToEnd(multi);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
        for (int slot = 0; slot < 8; ++slot) {
            EXPECT_FALSE(ports.multiPortOpen(slot)) << SlotPort(slot);
            if (slot == unplugged) continue;
            ExpectFinished(multi, slot);
            ExpectFlashHoldsImages(*phones[static_cast<std::size_t>(slot)]);
        }
        EXPECT_NE(multi.worker(unplugged)->endCode(), END_FINISHED);
        const auto lines = host.SlotLines(SlotPort(unplugged));
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines.back().text, "다운 로드 종료");
        // The line before the end says why the slot stopped.
        EXPECT_NE(lines[lines.size() - 2].colour, COLOUR_BLACK) << lines[lines.size() - 2].text;
        int goneLines = 0;
        for (const auto& line : lines)
            goneLines += line.text.rfind("통신포트 연결이 끊어졌습니다", 0) == 0;
        EXPECT_EQ(goneLines, 1);
    }
}

// A stop during the pause between two commands ends every slot at once, however long the
// pause.
TEST_F(MultiEndToEnd, StopDuringALongPauseIsSeenAtOnce) {
    AddPhones(2);
    MultiTestPorts ports(loop);
    DisplayedMultiDownload multi(loop, ports, host, kQuickStart);
    DownloadJob job = Job();
    MultiStartRequest request = Request(ProtocolChoice::Auto, 2);
    request.settings.cmdGapMs = "100000";
    ASSERT_EQ(multi.Start(job, request), MultiStartOutcome::Started);
    ASSERT_TRUE(loop.RunUntil(
        [&] { return phones[0]->Counters().units >= 1 && phones[1]->Counters().units >= 1; },
        std::chrono::seconds(10)));
    const auto stopAt = std::chrono::steady_clock::now();
    multi.Stop();
    RunToEnd(multi, std::chrono::seconds(10));
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, std::chrono::seconds(3));
    for (int slot = 0; slot < 2; ++slot) EXPECT_EQ(multi.worker(slot)->endCode(), END_STOPPED);
}

}  // namespace
}  // namespace zembra::test
