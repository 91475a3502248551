// Eight simulated phones on pseudo-terminals, driven by the real multi download: workers,
// serial port components, LZO and the main-thread loop.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>

#include "multi/MultiDownload.h"
#include "platform/Helpers.h"
#include "tests/multi/MultiE2eSupport.h"

namespace zembra::test {
namespace {

// USB_PPV with the production start delays: every flash equals the images, the first
// start requests leave in slot order about 0.7 s, 0.9 s ... 2.1 s after Start, and the
// block compressions of the eight workers never overlap.
TEST_F(MultiEndToEnd, EightCompressedPhonesStaggeredStartAndSerialisedCompression) {
    AddPhones(8);
    MultiTestPorts ports(loop);
    DisplayedMultiDownload multi(loop, ports, host);

    std::atomic<int> inside{0};
    std::atomic<int> maxInside{0};
    std::atomic<int> compressions{0};
    std::set<int> slotsSeen;  // written inside the lock only
    multi.lzo().SetProbe([&](int slot, bool entering) {
        if (entering) {
            const int now = ++inside;
            maxInside.store(std::max(maxInside.load(), now));
            slotsSeen.insert(slot);
            ++compressions;
            // Widen the window in which a second holder would be seen.
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        } else {
            --inside;
        }
    });

    DownloadJob job = Job();
    ASSERT_EQ(multi.Start(job, Request(ProtocolChoice::Press, 8)), MultiStartOutcome::Started);
    EXPECT_TRUE(multi.downloadRunning());
    RunToEnd(multi);

    const double startMs = multi.downloadStartMs();
    double previous = 0;
    for (int slot = 0; slot < 8; ++slot) {
        ExpectFinished(multi, slot);
        ExpectFlashHoldsImages(*phones[static_cast<std::size_t>(slot)]);
        const auto record = phones[static_cast<std::size_t>(slot)]->Record();
        ASSERT_FALSE(record.empty());
        EXPECT_EQ(record.front().command, 0xA0);
        const double offset = record.front().timeMs - startMs;
        EXPECT_GE(offset, 700.0 + 200.0 * slot - 5.0) << SlotPort(slot);
        EXPECT_GT(offset, previous) << "first requests leave in slot order";
        previous = offset;
    }
    // Each phone: lzo_init once, then 2 + 1 + 2 blocks.
    EXPECT_EQ(compressions.load(), 8 * (1 + 5));
    EXPECT_EQ(maxInside.load(), 1);
    EXPECT_EQ(slotsSeen.size(), 8u);
    EXPECT_EQ(host.endedSlots.size(), 8u);
}

// USB_NORMAL twice: the second Start reuses the worker objects and writes again.
TEST_F(MultiEndToEnd, EightNormalPhonesAndStartAgainReusesWorkers) {
    AddPhones(8);
    MultiTestPorts ports(loop);
    DisplayedMultiDownload multi(loop, ports, host, kQuickStart);

    DownloadJob job = Job();
    ASSERT_EQ(multi.Start(job, Request(ProtocolChoice::Normal, 8)), MultiStartOutcome::Started);
    RunToEnd(multi);
    std::vector<const MultiSingleBoxDLU*> first;
    for (int slot = 0; slot < 8; ++slot) {
        ExpectFinished(multi, slot);
        ExpectFlashHoldsImages(*phones[static_cast<std::size_t>(slot)]);
        first.push_back(multi.worker(slot));
    }

    for (auto& phone : phones) phone->ClearFlash();
    host.lines.clear();
    // A Stop while no multi download runs: both lines, and the next Start runs normally.
    multi.Stop();
    ASSERT_EQ(host.lines.size(), 2u);
    EXPECT_EQ(host.lines[0].text, "다운로드 중단 요청");
    EXPECT_EQ(host.lines[1].text, "프로그램이 중단되면 케이블을 제거 하세요");
    EXPECT_EQ(host.lines[1].colour, COLOUR_RED);
    for (int slot = 0; slot < 8; ++slot) EXPECT_EQ(multi.worker(slot)->runState(), RUN_IDLE);
    ASSERT_EQ(multi.Start(job, Request(ProtocolChoice::Normal, 8)), MultiStartOutcome::Started);
    RunToEnd(multi);
    for (int slot = 0; slot < 8; ++slot) {
        EXPECT_EQ(multi.worker(slot), first[static_cast<std::size_t>(slot)]);
        ExpectFinished(multi, slot);
        ExpectFlashHoldsImages(*phones[static_cast<std::size_t>(slot)]);
        EXPECT_TRUE(
            phones[static_cast<std::size_t>(slot)]->WaitForReset(std::chrono::seconds(5), 2));
    }
}

// USB_AUTO with phones that do and do not support compression.
TEST_F(MultiEndToEnd, EightAutoPhonesWithAndWithoutCompression) {
    for (int slot = 0; slot < 8; ++slot) {
        SimPhoneConfig config = PhoneConfig(slot);
        if (slot % 3 == 1) config.compression = SimCompression::Refused;
        if (slot == 5) config.compression = SimCompression::Silent;
        AddPhone(config);
    }
    MultiTestPorts ports(loop);
    DisplayedMultiDownload multi(loop, ports, host, kQuickStart);
    DownloadJob job = Job();
    ASSERT_EQ(multi.Start(job, Request(ProtocolChoice::Auto, 8)), MultiStartOutcome::Started);
    RunToEnd(multi);
    for (int slot = 0; slot < 8; ++slot) {
        ExpectFinished(multi, slot);
        ExpectFlashHoldsImages(*phones[static_cast<std::size_t>(slot)]);
        const bool compressed = slot % 3 != 1 && slot != 5;
        const auto lines = host.SlotLines(SlotPort(slot));
        const auto has = [&](const std::string& text) {
            return std::any_of(lines.begin(), lines.end(),
                               [&](const LogEntry& e) { return e.text == text; });
        };
        EXPECT_TRUE(has("USB 자동 탐지 모드"));
        EXPECT_EQ(has("압축 USB 모드"), compressed) << SlotPort(slot);
        EXPECT_EQ(has("일반 USB 모드"), !compressed) << SlotPort(slot);
        // A block that begins with the control marker is announced in the normal mode.
        bool controlBlock = false;
        for (const auto& entry : phones[static_cast<std::size_t>(slot)]->Record())
            controlBlock = controlBlock || entry.kind == SimUnitKind::ControlBlock;
        EXPECT_EQ(controlBlock, !compressed) << SlotPort(slot);
    }
}

}  // namespace
}  // namespace zembra::test
