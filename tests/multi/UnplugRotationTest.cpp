// Eight phones, one of them unplugged at a random point of its run, rotated through every
// slot: the other seven finish byte-exact, the unplugged slot ends with a reason.
#include <gtest/gtest.h>

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
        MultiDownload multi(loop, ports, host, kQuickStart);
        ports.Bind(&multi);
        DownloadJob job = Job();
        ASSERT_EQ(multi.Start(job, Request(ProtocolChoice::Auto, 8)), MultiStartOutcome::Started);
        RunToEnd(multi);
        for (int slot = 0; slot < 8; ++slot) {
            EXPECT_FALSE(ports.ports().multiPortOpen(slot)) << SlotPort(slot);
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
        ports.Bind(nullptr);
    }
}

}  // namespace
}  // namespace zembra::test
