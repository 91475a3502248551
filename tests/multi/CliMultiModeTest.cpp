// zembra-cli's multi mode: slot assignment, the end table and exit status, and a run of two
// simulated phones through the console front end.
#include <gtest/gtest.h>

#include <cstdio>

#include "cli/ConsoleHost.h"
#include "cli/MultiMode.h"
#include "tests/multi/MultiE2eSupport.h"

namespace zembra::test {
namespace {

TEST(CliMultiSlots, DeviceMapFillsSlotsByDeviceNumber) {
    const std::vector<SerialMapEntry> map = {{"\\Device\\trelvic0", "COM65"},
                                             {"\\Device\\trelvic5", "COM70"},
                                             {"\\Device\\trelvic9", "COM74"},
                                             {"\\Device\\Serial0", "COM1"}};
    const auto slots = SlotsFromDeviceMap(map);
    EXPECT_EQ(slots[0], "COM65");
    EXPECT_EQ(slots[5], "COM70");
    for (int slot : {1, 2, 3, 4, 6, 7}) EXPECT_EQ(slots[static_cast<std::size_t>(slot)], "");
}

TEST(CliMultiSlots, PortListInOrderAtMostEightNoDuplicates) {
    std::string error;
    const auto slots = SlotsFromPortList({"COM7", "/dev/ttyACM0"}, &error);
    ASSERT_TRUE(slots);
    EXPECT_EQ((*slots)[0], "COM7");
    EXPECT_EQ((*slots)[1], "/dev/ttyACM0");
    EXPECT_FALSE(SlotsFromPortList({"A", "B", "C", "D", "E", "F", "G", "H", "I"}, &error));
    EXPECT_FALSE(SlotsFromPortList({"COM7", "COM7"}, &error));
    EXPECT_NE(error.find("COM7"), std::string::npos);
}

TEST(CliMultiSlots, ExitStatusNeedsEverySlotFinished) {
    std::vector<MultiSlotSummary> rows(3);
    for (auto& row : rows) row.endCode = END_FINISHED;
    EXPECT_EQ(MultiExitStatus(rows), EXIT_OK);
    rows[1].endCode = END_STOPPED;
    EXPECT_EQ(MultiExitStatus(rows), EXIT_STOPPED);
    rows[2].endCode = END_ERASE_FAILED;
    EXPECT_EQ(MultiExitStatus(rows), EXIT_PHONE_FAILED);
    EXPECT_NE(MultiExitStatus({}), EXIT_OK);
}

TEST(CliMultiOptions, StaggerMustBeAWholeNumberOfMilliseconds) {
    for (const char* bad : {"abc", "12x", "-5", "60001", ""}) {
        EXPECT_FALSE(
            ParseCliOptions({"--multi", "--port", "COM7", "--code", "c.bin", "--stagger", bad})
                .ok())
            << bad;
    }
}

// Two phones, one of which refuses the version: the lines as they come, one status line per
// change, the table with each slot's endCode and meaning, and a failing exit status.
TEST_F(MultiEndToEnd, ConsoleRunPrintsLinesStatusAndTable) {
    AddPhone(PhoneConfig(0));
    SimPhoneConfig refusing = PhoneConfig(1);
    refusing.faults.refuseVersion = true;
    AddPhone(refusing);
    MultiTestPorts ports(loop);

    MultiModeOptions options;
    options.timing = kQuickStart;
    DownloadJob job = Job();
    const MultiStartRequest request = Request(ProtocolChoice::Auto, 2);
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    const CliOptions cli;
    ConsoleHost console(cli, ConsoleHost::Streams{out, out, stdin});
    const int status = RunMultiDownload(
        job, request.settings, request.versions, options, request.slotPortNames, loop, ports,
        [](MultiDownload*) {}, [] { return false; }, console);
    std::rewind(out);
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;)
        text.append(buffer, n);
    std::fclose(out);

    EXPECT_EQ(status, EXIT_PHONE_FAILED);
    EXPECT_NE(text.find("COM65:다운로드 시작 요청\n"), std::string::npos);
    EXPECT_NE(text.find("COM66:요청한 버전이 틀립니다.\n"), std::string::npos);
    EXPECT_NE(text.find("슬롯1 COM65"), std::string::npos);
    EXPECT_NE(text.find("다운로드 종료"), std::string::npos);
    EXPECT_NE(text.find("코드 다운로드 오류 종료"), std::string::npos) << text;
    // The table: one row per slot with port, endCode and meaning.
    const std::size_t table = text.find("endCode");
    ASSERT_NE(table, std::string::npos);
    const std::string rows = text.substr(table);
    EXPECT_NE(rows.find("COM65           1        완료"), std::string::npos) << rows;
    EXPECT_NE(rows.find("COM66           3        버전 확인 실패"), std::string::npos) << rows;
    ExpectFlashHoldsImages(*phones[0]);
}

}  // namespace
}  // namespace zembra::test
