// Faults, stops, ports that cannot be opened and refused starts of the multi download.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "job/JobCheck.h"
#include "tests/multi/MultiE2eSupport.h"

namespace zembra::test {
namespace {

int Count(const std::vector<LogEntry>& lines, const std::string& text, std::uint32_t colour) {
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const LogEntry& e) {
        return e.text == text && e.colour == colour;
    }));
}

bool HasPrefix(const std::vector<LogEntry>& lines, const std::string& prefix) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const LogEntry& e) { return e.text.rfind(prefix, 0) == 0; });
}

// One phone failing in each way ends only its own slot; the others finish byte-exact.
TEST_F(MultiEndToEnd, OneFailingPhoneEndsOnlyItsOwnSlot) {
    std::vector<SimPhoneConfig> configs;
    for (int slot = 0; slot < 8; ++slot) configs.push_back(PhoneConfig(slot));
    configs[0].faults.silentFromUnit = 1;    // silent from the first command
    configs[1].faults.nakCode = NAK_FAILED;  // twelve NAKs to one packet
    configs[1].faults.nakCount = 12;
    configs[1].faults.nakDataOnly = true;
    configs[2].compression = SimCompression::Refused;  // normal mode, twelve bad echoes
    configs[2].faults.corruptEchoCount = 12;
    configs[3].faults.refuseVersion = true;       // versionCheck is on
    configs[4].faults.hangupAfterBytes = 30000;   // unplugged during the code image
    configs[5].faults.nakCode = NAK_INVALID_FCS;  // eleven NAKs: retried silently
    configs[5].faults.nakCount = 11;
    configs[5].faults.nakDataOnly = true;
    configs[6].compression = SimCompression::Refused;
    for (const auto& config : configs) AddPhone(config);

    MultiTestPorts ports(loop);
    DisplayedMultiDownload multi(loop, ports, host, kQuickStart);
    DownloadJob job = Job();
    ASSERT_EQ(multi.Start(job, Request(ProtocolChoice::Auto, 8)), MultiStartOutcome::Started);
    RunToEnd(multi);

    const int expected[8] = {END_START_FAILED,   END_TRANSFER_FAILED, END_TRANSFER_FAILED,
                             END_VERSION_FAILED, END_TRANSFER_FAILED, END_FINISHED,
                             END_FINISHED,       END_FINISHED};
    for (int slot = 0; slot < 8; ++slot) {
        EXPECT_EQ(multi.worker(slot)->endCode(), expected[slot]) << SlotPort(slot);
        const auto lines = host.SlotLines(SlotPort(slot));
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back().text, "다운 로드 종료") << SlotPort(slot);
        EXPECT_EQ(ports.multiPortOpen(slot), false) << "each slot closes its own port";
    }
    const auto silent = host.SlotLines(SlotPort(0));
    ASSERT_EQ(silent.size(), 3u);
    EXPECT_EQ(silent[1].text, "응답이없습니다");
    EXPECT_EQ(silent[1].colour, COLOUR_RED);

    const auto naks = host.SlotLines(SlotPort(1));
    EXPECT_EQ(Count(naks, "NAK FAILED", COLOUR_BLUE), 12);
    EXPECT_EQ(Count(naks, "재전송 합니다", COLOUR_RED), 11);

    const auto echoes = host.SlotLines(SlotPort(2));
    EXPECT_EQ(Count(echoes, "CRC오류 재전송 요청", COLOUR_RED), 12);

    const auto version = host.SlotLines(SlotPort(3));
    EXPECT_EQ(Count(version, "요청한 버전이 틀립니다.", COLOUR_BLUE), 1);
    EXPECT_EQ(Count(version,
                    "다운로드를 중단 합니다. 버전 검사 사용을 중지하려면 버전 검사를 사용 "
                    "안함으로 설정 하세요",
                    COLOUR_RED),
              1);
    EXPECT_FALSE(HasPrefix(version, "코드 다운로드"));

    const auto unplugged = host.SlotLines(SlotPort(4));
    EXPECT_EQ(Count(unplugged, "응답이없습니다", COLOUR_RED), 1);
    EXPECT_TRUE(HasPrefix(unplugged, "프로그램 시작"));

    EXPECT_EQ(Count(host.SlotLines(SlotPort(5)), "NAK INVALID FCS", COLOUR_BLUE), 0);
    for (int slot = 5; slot < 8; ++slot) {
        ExpectFlashHoldsImages(*phones[static_cast<std::size_t>(slot)]);
    }
}

// Stray bytes before answers (a doubled flag, bytes before the opening flag) and endless
// negative answers to a control block end no slot wrongly and hang none.
TEST_F(MultiEndToEnd, StrayBytesAndControlBlockNaks) {
    std::vector<SimPhoneConfig> configs;
    for (int slot = 0; slot < 3; ++slot) configs.push_back(PhoneConfig(slot));
    configs[0].faults.strayBytes = {0x7E};
    configs[1].faults.strayBytes = {0x55, 0xAA};
    for (int slot : {0, 1}) {
        configs[static_cast<std::size_t>(slot)].faults.strayCount = 8;
        configs[static_cast<std::size_t>(slot)].faults.straySkip = 3;
    }
    // The data units before font 1's control block: the code image's 96 blocks and one.
    configs[2].faults.nakCode = NAK_FAILED;
    configs[2].faults.nakCount = 40;
    configs[2].faults.nakSkip = 97;
    configs[2].faults.nakDataOnly = true;
    for (const auto& config : configs) AddPhone(config);

    MultiTestPorts ports(loop);
    DisplayedMultiDownload multi(loop, ports, host, kQuickStart);
    DownloadJob job = Job();
    ASSERT_EQ(multi.Start(job, Request(ProtocolChoice::Normal, 3)), MultiStartOutcome::Started);
    RunToEnd(multi);
    for (int slot : {0, 1}) {
        ExpectFinished(multi, slot);
        ExpectFlashHoldsImages(*phones[static_cast<std::size_t>(slot)]);
    }
    EXPECT_EQ(multi.worker(2)->endCode(), END_TRANSFER_FAILED);
    EXPECT_EQ(phones[2]->Counters().dataUnits, 97u + 12u) << "eleven resends of the control block";
}

// An image that cannot be read when its turn comes ends the slot as failed, with a reason:
// a font gone after the Start is passed over, a code file without a trailer sends nothing.
TEST_F(MultiEndToEnd, ImageFilesThatChangeAfterTheStart) {
    AddPhones(1);
    MultiTestPorts ports(loop);
    DisplayedMultiDownload multi(loop, ports, host, MultiStartTiming{300, 5});
    DownloadJob job = Job();
    ASSERT_EQ(multi.Start(job, Request(ProtocolChoice::Press, 1)), MultiStartOutcome::Started);
    std::filesystem::remove(font2Path);
    RunToEnd(multi);
    EXPECT_EQ(multi.worker(0)->endCode(), END_IMAGE_CHECK_FAILED);
    EXPECT_TRUE(HasPrefix(host.SlotLines(SlotPort(0)), "폰트2 파일을 열 수 없어 건너뜁니다"));
    EXPECT_EQ(phones[0]->FlashRange(kFont1Address, font1.size()), font1);

    WriteFile(font2Path, font2);
    host.lines.clear();
    job = Job();
    const std::size_t before = phones[0]->Record().size();
    ASSERT_EQ(multi.Start(job, Request(ProtocolChoice::Press, 1)), MultiStartOutcome::Started);
    WriteFile(codePath, Bytes(10, 0x11));
    RunToEnd(multi);
    EXPECT_EQ(multi.worker(0)->endCode(), END_VERSION_FAILED);
    EXPECT_EQ(Count(host.SlotLines(SlotPort(0)), "버전 정보 오류", COLOUR_RED), 1);
    const auto record = phones[0]->Record();
    ASSERT_GT(record.size(), before) << "the start request went out";
    for (std::size_t i = before; i < record.size(); ++i)
        EXPECT_NE(record[i].command, CMD_VERSION_CHECK) << "no version 0 is sent";
}

// With the version check off a refused version is only noted and the run goes on.
TEST_F(MultiEndToEnd, RefusedVersionWithVersionCheckOffGoesOn) {
    SimPhoneConfig config = PhoneConfig(0);
    config.faults.refuseVersion = true;
    AddPhone(config);
    MultiTestPorts ports(loop);
    DisplayedMultiDownload multi(loop, ports, host, kQuickStart);
    DownloadJob job = Job();
    MultiStartRequest request = Request(ProtocolChoice::Press, 1);
    request.versionCheck = false;
    ASSERT_EQ(multi.Start(job, request), MultiStartOutcome::Started);
    RunToEnd(multi);
    ExpectFinished(multi, 0);
    const auto lines = host.SlotLines(SlotPort(0));
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[1].text, "버전 확인 요청");
    EXPECT_EQ(lines[2].text, "요청한 버전이 틀립니다.");
    EXPECT_EQ(lines[2].colour, COLOUR_BLUE);
    EXPECT_EQ(lines[3].text, "다운로드를 계속 합니다. 버전 검사 안함으로 설정되었음");
    EXPECT_EQ(lines[3].colour, COLOUR_BLUE);
    ExpectFlashHoldsImages(*phones[0]);
}

// Stop while slots erase, transfer and sit between two images: every slot ends with
// endCode 10 and its lines.
TEST_F(MultiEndToEnd, StopDuringEraseTransferAndBetweenImages) {
    std::vector<SimPhoneConfig> configs;
    for (int slot = 0; slot < 8; ++slot) configs.push_back(PhoneConfig(slot));
    for (int slot : {0, 1}) configs[static_cast<std::size_t>(slot)].eraseMs = 20000;
    // Slow links: the paced slots spend seconds in each image's transfer.
    for (int slot : {2, 3, 5, 6, 7}) configs[static_cast<std::size_t>(slot)].linkRateBps = 50000;
    for (int slot : {3, 6})
        configs[static_cast<std::size_t>(slot)].compression = SimCompression::Refused;
    // The quick slot erases longer, so that the paced slots are well into a transfer when it
    // reaches the pause after its first image.
    configs[4].eraseMs = 4000;
    for (const auto& config : configs) AddPhone(config);
    const std::set<int> erasing = {0, 1};
    const std::set<int> transferring = {2, 3, 5, 6, 7};
    const int between = 4;  // unpaced: done with the code image first

    MultiTestPorts ports(loop);
    // The write trace with data shows what each channel sent last.
    const std::string tracePath = scratch.File("trace.txt");
    ports.trace.Start(tracePath);
    ports.trace.SetWriteData(true);
    DisplayedMultiDownload multi(loop, ports, host, kQuickStart);
    DownloadJob job = Job();
    MultiStartRequest request = Request(ProtocolChoice::Auto, 8);
    request.settings.cmdGapMs = "200";  // the pause after an image: the stop lands there
    request.settings.eraseWaitSec = "60";
    request.settings.packetResponseWaitMs = "20000";
    ASSERT_EQ(multi.Start(job, request), MultiStartOutcome::Started);

    SimulatedPhone& quick = *phones[between];
    const std::uint64_t codeRange = code.size() - kBootLocation;
    // The quick slot has written its code image and taken the last answer: it is in the
    // pause after the image.
    const MultiSingleBoxDLU& quickWorker = *multi.worker(between);
    ASSERT_TRUE(loop.RunUntil(
        [&] {
            const SimCounters counters = quick.Counters();
            return counters.bytesWritten >= codeRange &&
                   quickWorker.responsesTaken() == counters.acks + counters.naks;
        },
        std::chrono::seconds(30)));
    for (int slot : erasing) EXPECT_EQ(multi.View(slot).erasing, 1) << SlotPort(slot);
    for (int slot : transferring) {
        EXPECT_EQ(host.SlotLines(SlotPort(slot)).back().text, "프로그램 시작") << SlotPort(slot);
        EXPECT_EQ(multi.View(slot).erasing, 0) << SlotPort(slot);
    }
    multi.Stop();
    RunToEnd(multi);

    for (int slot = 0; slot < 8; ++slot) {
        EXPECT_EQ(multi.worker(slot)->endCode(), END_STOPPED) << SlotPort(slot);
        EXPECT_EQ(multi.View(slot).statusText, "사용자 종료");
        const auto lines = host.SlotLines(SlotPort(slot));
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back().text, "케이블을 제거 하세요") << SlotPort(slot);
        EXPECT_EQ(lines.back().colour, COLOUR_RED);
        EXPECT_EQ(Count(lines, "다운 로드 종료", COLOUR_BLUE), 0);
    }
    for (int slot : erasing) {
        const auto lines = host.SlotLines(SlotPort(slot));
        EXPECT_EQ(lines[lines.size() - 2].text, "다운로드가 중단 됩니다") << SlotPort(slot);
        EXPECT_EQ(lines[lines.size() - 2].colour, COLOUR_BLUE);
    }
    for (int slot : transferring) {
        const auto lines = host.SlotLines(SlotPort(slot));
        const std::string position = lines[lines.size() - 2].text;
        const bool normal = slot == 3 || slot == 6;
        EXPECT_EQ(position.rfind("파일 위치 0x", 0), 0u) << position;
        const std::string tail = normal ? "에서 다운로드가 중단 됩니다. 케이블을 제거 하세요"
                                        : "에서 다운로드가 중단 됩니다. 케이블을 제거하세요";
        EXPECT_NE(position.find(tail), std::string::npos) << position;
    }
    // Between images: no further image, but the reset jump and the elapsed time.
    const auto lines = host.SlotLines(SlotPort(between));
    EXPECT_EQ(lines[lines.size() - 3].text, "리셋 코드 점프 요청");
    EXPECT_EQ(lines[lines.size() - 2].text.rfind("다운로드 소요 시간:", 0), 0u);
    EXPECT_FALSE(HasPrefix(lines, "폰트1 다운로드"));
    // The reset jump went out last on the quick slot's channel (its wait ends at once on the
    // pending stop and the port closes, so the phone may or may not have read it by then).
    std::ifstream trace(tracePath);
    std::string line, lastWrite;
    while (std::getline(trace, line))
        if (line.rfind("[W:1024 C:04 ", 0) == 0) lastWrite = line;
    const std::size_t dump = lastWrite.find("] ");
    ASSERT_NE(dump, std::string::npos);
    EXPECT_EQ(lastWrite.substr(dump + 2, 3), "C0 ") << "the last packet is the reset jump";
    EXPECT_EQ(quick.FlashRange(kBootLocation, codeRange),
              Bytes(code.begin() + kBootLocation, code.end()));
    EXPECT_TRUE(host.Has("다운로드 중단 요청", COLOUR_RED));
}

// Stop before the workers' wake-up delay is over: every slot still ends as stopped, with its
// line, and its port is closed; the phones receive nothing.
TEST_F(MultiEndToEnd, StopBeforeTheFirstPacket) {
    AddPhones(3);
    MultiTestPorts ports(loop);
    DisplayedMultiDownload multi(loop, ports, host, MultiStartTiming{400, 5});
    DownloadJob job = Job();
    ASSERT_EQ(multi.Start(job, Request(ProtocolChoice::Auto, 3)), MultiStartOutcome::Started);
    multi.Stop();
    RunToEnd(multi);
    for (int slot = 0; slot < 3; ++slot) {
        EXPECT_EQ(multi.worker(slot)->endCode(), END_STOPPED);
        const auto lines = host.SlotLines(SlotPort(slot));
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].text, "케이블을 제거 하세요");
        EXPECT_EQ(lines[0].colour, COLOUR_RED);
        EXPECT_FALSE(ports.multiPortOpen(slot));
        EXPECT_EQ(phones[static_cast<std::size_t>(slot)]->Counters().bytesReceived, 0u);
    }
}

// A port that cannot be opened: every attempt logged, every opened port closed again, no
// worker started.
TEST_F(MultiEndToEnd, PortThatCannotBeOpenedAbortsBeforeAnyWorker) {
    AddPhone(PhoneConfig(0));
    AddPhone(PhoneConfig(2));
    MultiTestPorts ports(loop);
    DisplayedMultiDownload multi(loop, ports, host, kQuickStart);
    DownloadJob job = Job();
    MultiStartRequest request = Request(ProtocolChoice::Auto, 0);
    request.slotPortNames[0] = SlotPort(0);
    request.slotPortNames[1] = "COM99";  // no such port
    request.slotPortNames[2] = SlotPort(2);
    EXPECT_EQ(multi.Start(job, request), MultiStartOutcome::PortFailed);

    std::vector<std::string> texts;
    for (const auto& line : host.lines) texts.push_back(line.text);
    // The port's own error names the port and the system's reason.
    ASSERT_EQ(texts.size(), 7u);
    EXPECT_EQ(texts[3].rfind("Invalid port number (COM99 (", 0), 0u) << texts[3];
    EXPECT_NE(texts[3].find("), No such file or directory"), std::string::npos) << texts[3];
    EXPECT_EQ(host.lines[3].colour, COLOUR_RED);
    texts.erase(texts.begin() + 3);
    const std::vector<std::string> expected = {
        "생성된 날짜를 갱신합니다", "통신포트열기:COM65 열기",
        "통신포트열기:COM99 열기",  "통신포트열기를 실패했습니다. 확인 바랍니다.",
        "통신포트열기:COM67 열기",  "전체 다운로드를 중단합니다."};
    EXPECT_EQ(texts, expected);
    EXPECT_EQ(host.lines[4].colour, COLOUR_BLUE);
    EXPECT_EQ(host.lines[6].colour, COLOUR_RED);
    EXPECT_FALSE(multi.downloadRunning());
    for (int slot = 0; slot < 8; ++slot) {
        EXPECT_EQ(multi.worker(slot), nullptr);
        EXPECT_FALSE(ports.multiPortOpen(slot));
    }
    // The phones see their line closed and never receive a byte.
    for (auto& phone : phones) {
        EXPECT_TRUE(phone->WaitUntil([&] { return phone->Counters().lineCloses >= 1; },
                                     std::chrono::seconds(5)));
        EXPECT_EQ(phone->Counters().bytesReceived, 0u);
    }
}

// Refused starts: job checks, the operator's answer, no named slot, a settings text.
TEST_F(MultiEndToEnd, JobChecksAndNoDevice) {
    MultiTestPorts ports(loop);
    DisplayedMultiDownload multi(loop, ports, host, kQuickStart);

    // A font at address 0: its box, no question, whatever allowFont0Address says.
    DownloadJob job = Job();
    job[ImageSlot::Font1].addressText = "0x0";
    MultiStartRequest request = Request(ProtocolChoice::Auto, 1);
    request.settings.allowFont0Address = true;
    EXPECT_EQ(multi.Start(job, request), MultiStartOutcome::JobRefused);
    EXPECT_EQ(host.jobErrors, std::vector<int>{21});
    EXPECT_EQ(host.questions, 0);

    // A configured code file that was not chosen: its box, then the question.
    job = Job();
    job.configLoaded = true;
    job[ImageSlot::Code].expectedName = "OTHER.BIN";
    for (int font = ImageSlot::Font3; font <= ImageSlot::Font6; ++font) job[font].expectedName = "";
    host.jobErrors.clear();
    host.overrideAnswer = false;
    EXPECT_EQ(multi.Start(job, request), MultiStartOutcome::JobRefused);
    EXPECT_EQ(host.jobErrors, std::vector<int>{10});
    EXPECT_EQ(host.questions, 1);

    // Yes goes on to the ports; with no named slot: "연결된 장치가 없습니다.".
    host.overrideAnswer = true;
    host.lines.clear();
    EXPECT_EQ(multi.Start(job, Request(ProtocolChoice::Auto, 0)), MultiStartOutcome::NoDevice);
    ASSERT_FALSE(host.lines.empty());
    EXPECT_EQ(host.lines.back().text, "연결된 장치가 없습니다.");
    EXPECT_EQ(host.lines.back().colour, COLOUR_RED);

    // A settings text that is not a number: refused before anything is opened.
    request.settings.cmdGapMs = "abc";
    EXPECT_EQ(multi.Start(job, request), MultiStartOutcome::SettingsError);
    EXPECT_EQ(host.conversionErrors, std::vector<std::string>{"cmdGapMs"});
}

}  // namespace
}  // namespace zembra::test
