#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>

#include "platform/Helpers.h"
#include "tests/e2e/E2eFixture.h"

namespace zembra::e2e {
namespace {

class SingleFaults : public EngineFixture {
  protected:
    ImageFiles files;

    // A run of one font image of `size` bytes at 0x200000.
    SingleRunConfig FontJob(LinkProtocolCode mode, const Bytes& font) {
        SingleRunConfig run;
        run.paths[ImageSlot::Font1] = files.Write("font1.bin", font);
        run.snapshot = FastSnapshot(mode);
        run.snapshot.address[ImageSlot::Font1] = 0x200000;
        return run;
    }

    int Count(const std::string& text) const {
        return static_cast<int>(std::count_if(host.lines.begin(), host.lines.end(),
                                              [&](const Line& l) { return l.text == text; }));
    }
    const Line& Last(std::size_t back = 0) const {
        return host.lines[host.lines.size() - 1 - back];
    }
};

const Line kEnd{"다운 로드 종료", COLOUR_BLUE};
const Line kNoAnswer{"응답이없습니다", COLOUR_RED};

TEST_F(SingleFaults, SilenceAtStart) {
    SimPhoneConfig config;
    config.faults.silentFromUnit = 1;
    auto phone = StartPhone(config);
    EXPECT_EQ(Run(FontJob(USB_PPV, RandomBytes(0x10000, 1)), phone->DevicePath()),
              RunOutcome::NoStartAnswer);
    EXPECT_EQ(LinesFrom("다운로드 시작 요청"),
              (std::vector<Line>{{"다운로드 시작 요청", COLOUR_BLACK}, kNoAnswer, kEnd}));
    EXPECT_EQ(host.controlsGivenBack, 1);
}

TEST_F(SingleFaults, SilenceAtEraseAndMidBlock) {
    {
        SimPhoneConfig config;
        config.faults.silentFromUnit = 4;  // A0, C0, A0, then the erase
        auto phone = StartPhone(config);
        SingleRunConfig run = FontJob(USB_NORMAL, RandomBytes(0x10000, 2));
        run.snapshot.eraseWaitSec = 1;
        EXPECT_EQ(Run(run, phone->DevicePath()), RunOutcome::EraseFailed);
        EXPECT_EQ(
            LinesFrom("삭제 요청 잠시만 기다려 주세요"),
            (std::vector<Line>{{"삭제 요청 잠시만 기다려 주세요", COLOUR_BLACK}, kNoAnswer, kEnd}));
        // The markers go back to "not sent".
        EXPECT_EQ(host.markers.back(), (std::pair<int, std::string>{6, NOT_SENT}));
    }
    host.lines.clear();
    {
        SimPhoneConfig config;
        config.faults.silentFromUnit = 3;
        config.faults.silentDataOnly = true;
        auto phone = StartPhone(config);
        EXPECT_EQ(Run(FontJob(USB_PPV, RandomBytes(0x30000, 3)), phone->DevicePath()),
                  RunOutcome::TransferFailed);
        EXPECT_EQ(LinesFrom("프로그램 시작"),
                  (std::vector<Line>{{"프로그램 시작", COLOUR_BLACK}, kNoAnswer, kEnd}));
    }
}

TEST_F(SingleFaults, TwelveNaksEndTheRunElevenAreRetried) {
    const Bytes font = RandomBytes(0x10000, 4);
    for (std::uint32_t naks : {11u, 12u}) {
        host.lines.clear();
        SimPhoneConfig config;
        config.link = SimLink::Uart;
        config.faults.nakCode = 0xA4;
        config.faults.nakCount = naks;
        config.faults.nakSkip = 2;
        config.faults.nakDataOnly = true;
        auto phone = StartPhone(config);
        SingleRunConfig run = FontJob(UART_NORMAL, font);
        run.snapshot.showInvalidFcsNak = true;
        const RunOutcome outcome = Run(run, phone->DevicePath());
        EXPECT_EQ(Count("NAK FAILED"), static_cast<int>(naks));
        EXPECT_EQ(Count("재전송 합니다"), 11);
        if (naks == 11) {
            EXPECT_EQ(outcome, RunOutcome::Completed);
            ASSERT_TRUE(phone->WaitForReset(std::chrono::seconds(5)));
            EXPECT_EQ(phone->FlashRange(0x200000, font.size()), font);
        } else {
            EXPECT_EQ(outcome, RunOutcome::TransferFailed);
            EXPECT_EQ(Last(), kEnd);
            // The reason comes last, whether the negative answers are shown or not.
            EXPECT_EQ(Last(1).text.rfind("부정 응답(0xA4)이 너무 많아", 0), 0u) << Last(1).text;
            EXPECT_EQ(Last(1).colour, COLOUR_RED);
            EXPECT_EQ(Last(2), (Line{"NAK FAILED", COLOUR_BLUE}));
        }
    }
    // NAK INVALID FCS is retried silently.
    host.lines.clear();
    SimPhoneConfig config;
    config.faults.nakCode = 0xA1;
    config.faults.nakCount = 5;
    config.faults.nakDataOnly = true;
    auto phone = StartPhone(config);
    SingleRunConfig run = FontJob(USB_PPV, font);
    run.snapshot.showInvalidFcsNak = true;
    EXPECT_EQ(Run(run, phone->DevicePath()), RunOutcome::Completed);
    EXPECT_EQ(Count("NAK INVALID FCS"), 0);
    EXPECT_EQ(Count("재전송 합니다"), 0);
}

TEST_F(SingleFaults, EchoCorruptionElevenAndTwelveTimes) {
    const Bytes font = RandomBytes(0x10000, 5);
    for (std::uint32_t bad : {11u, 12u}) {
        host.lines.clear();
        SimPhoneConfig config;
        config.faults.corruptEchoCount = bad;
        config.faults.corruptEchoSkip = 3;
        auto phone = StartPhone(config);
        const RunOutcome outcome = Run(FontJob(USB_NORMAL, font), phone->DevicePath());
        EXPECT_EQ(Count("CRC오류 재전송 요청"), static_cast<int>(bad));
        if (bad == 11) {
            EXPECT_EQ(outcome, RunOutcome::Completed);
            ASSERT_TRUE(phone->WaitForReset(std::chrono::seconds(5)));
            EXPECT_EQ(phone->FlashRange(0x200000, font.size()), font);
        } else {
            EXPECT_EQ(outcome, RunOutcome::TransferFailed);
            EXPECT_EQ(Last(2), (Line{"CRC오류 재전송 요청", COLOUR_RED}));
            EXPECT_EQ(Last(1).text.rfind("CRC 확인 응답이 계속 틀려", 0), 0u) << Last(1).text;
            EXPECT_EQ(Last(), kEnd);
        }
    }
}

TEST_F(SingleFaults, VersionMismatchWithOkAndWithCancel) {
    const Bytes code = CodeImage(0x10000, 0x0102, 0x1000, 6);
    for (int answer : {mb::kIdOk, mb::kIdCancel}) {
        host.lines.clear();
        questionsAsked = 0;
        operatorAnswer = answer;
        SimPhoneConfig config;
        config.faults.refuseVersion = true;
        auto phone = StartPhone(config);
        SingleRunConfig run;
        run.paths[ImageSlot::Code] = files.Write("code.bin", code);
        run.snapshot = FastSnapshot(USB_PPV);
        const RunOutcome outcome = Run(run, phone->DevicePath());
        EXPECT_EQ(questionsAsked, 1);
        const std::vector<Line> from = LinesFrom("버전 확인 요청");
        ASSERT_GE(from.size(), 3u);
        EXPECT_EQ(from[1], (Line{"요청한 버전이 틀립니다. ", COLOUR_BLUE}));
        if (answer == mb::kIdOk) {
            EXPECT_EQ(outcome, RunOutcome::Completed);
            ASSERT_TRUE(phone->WaitForReset(std::chrono::seconds(5)));
            EXPECT_EQ(phone->FlashRange(0x1000, code.size() - 0x1000),
                      Bytes(code.begin() + 0x1000, code.end()));
        } else {
            EXPECT_EQ(outcome, RunOutcome::VersionRefused);
            EXPECT_EQ(from[2], kEnd);
        }
    }
}

TEST_F(SingleFaults, StopDuringEraseAndDuringABlock) {
    {
        SimPhoneConfig config;
        config.eraseMs = 5000;
        auto phone = StartPhone(config);
        bool stopped = false;
        EXPECT_EQ(Run(FontJob(USB_PPV, RandomBytes(0x10000, 7)), phone->DevicePath(),
                      [&] {
                          if (!stopped && Logged("삭제 요청 잠시만 기다려 주세요")) {
                              stopped = true;
                              engine->RequestStop();
                          }
                      }),
                  RunOutcome::Stopped);
        EXPECT_EQ(LinesFrom("삭제 요청 잠시만 기다려 주세요"),
                  (std::vector<Line>{{"삭제 요청 잠시만 기다려 주세요", COLOUR_BLACK},
                                     {"다운로드 중단 요청", COLOUR_RED},
                                     {"다운로드가 중단 됩니다", COLOUR_BLUE},
                                     kEnd}));
    }
    host.lines.clear();
    {
        SimPhoneConfig config;
        config.faults.lateMs = 5;  // slow enough to stop mid-block
        auto phone = StartPhone(config);
        bool stopped = false;
        EXPECT_EQ(Run(FontJob(USB_PPV, RandomBytes(0x30000, 8)), phone->DevicePath(),
                      [&] {
                          if (!stopped && !host.addresses.empty() &&
                              host.addresses.back() == "0x00010000") {
                              stopped = true;
                              engine->RequestStop();
                          }
                      }),
                  RunOutcome::Stopped);
        EXPECT_EQ(Last(), kEnd);
        EXPECT_EQ(Last(1), (Line{"파일 위치 0x10000에서 다운로드가 중단 됩니다", COLOUR_RED}));
    }
}

TEST_F(SingleFaults, UnplugMidBlockEndsTheRunAndTheNextRunWorks) {
    SimPhoneConfig config;
    config.faults.hangupAfterBytes = 30000;
    auto phone = StartPhone(config);
    const Bytes font = RandomBytes(0x20000, 9);
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(Run(FontJob(USB_PPV, font), phone->DevicePath()), RunOutcome::TransferFailed);
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(20)) << "no hang";
    EXPECT_EQ(Last(), kEnd);
    EXPECT_TRUE(Logged("응답이없습니다"));
    EXPECT_FALSE(ports->singlePortOpen());

    // Plugged in again: a new run on the new line writes the whole image.
    std::string error;
    ASSERT_TRUE(phone->Replug(&error)) << error;
    phone->SetFaults(SimFaultPlan{});
    host.lines.clear();
    EXPECT_EQ(Run(FontJob(USB_PPV, font), phone->DevicePath()), RunOutcome::Completed);
    ASSERT_TRUE(phone->WaitForReset(std::chrono::seconds(5)));
    EXPECT_EQ(phone->FlashRange(0x200000, font.size()), font);
}

TEST_F(SingleFaults, StrayBytesBeforeAnswersDoNotDerailTheRun) {
    SimPhoneConfig config;
    config.faults.strayBytes = {0x55, 0x13, 0x00};
    config.faults.strayCount = 6;
    config.faults.straySkip = 2;
    auto phone = StartPhone(config);
    const Bytes font = RandomBytes(0x10000, 10);
    EXPECT_EQ(Run(FontJob(USB_PPV, font), phone->DevicePath()), RunOutcome::Completed);
    ASSERT_TRUE(phone->WaitForReset(std::chrono::seconds(5)));
    EXPECT_EQ(phone->FlashRange(0x200000, font.size()), font);

    // A stray flag before an answer (7E 7E 02 7E) is no empty answer: nothing is resent.
    SimFaultPlan doubled;
    doubled.strayBytes = {0x7E};
    doubled.strayCount = 6;
    doubled.straySkip = 2;
    phone->SetFaults(doubled);
    const Bytes normal = RandomBytes(0x2000, 11);
    EXPECT_EQ(Run(FontJob(USB_NORMAL, normal), phone->DevicePath()), RunOutcome::Completed);
    ASSERT_TRUE(phone->WaitForReset(std::chrono::seconds(5)));
    EXPECT_EQ(phone->FlashRange(0x200000, normal.size()), normal);
    EXPECT_TRUE(phone->Errors().empty()) << phone->Errors().front();
}

TEST_F(SingleFaults, ImageFileProblems) {
    auto phone = StartPhone(SimPhoneConfig{});
    // A version word of 0xFFFF is refused when the image starts, even though the phone
    // acknowledged the version check.
    SingleRunConfig run;
    run.paths[ImageSlot::Code] = files.Write("bad.bin", CodeImage(0x10000, 0xFFFF, 0x100, 11));
    run.snapshot = FastSnapshot(USB_PPV);
    EXPECT_EQ(Run(run, phone->DevicePath()), RunOutcome::ImageFileProblem);
    EXPECT_EQ(
        LinesFrom("코드 다운로드"),
        (std::vector<Line>{{"코드 다운로드", COLOUR_BLUE}, {"버전 정보 오류", COLOUR_RED}, kEnd}));

    // A boot location past the end of the file leaves nothing to send.
    host.lines.clear();
    // The run before ended inside the download module: the phone must have seen the line
    // close (the cable taken off) before the next run begins.
    ASSERT_TRUE(WaitForStage(*phone, SimStage::BootIdle));
    run.paths[ImageSlot::Code] = files.Write("boot.bin", CodeImage(0x10000, 0x10, 0x20000, 12));
    EXPECT_EQ(Run(run, phone->DevicePath()), RunOutcome::ImageFileProblem);
    EXPECT_EQ(Last(1), (Line{"부트 정보 오류", COLOUR_RED}));

    // A code file that has gone before the version check.
    host.lines.clear();
    // The run before ended inside the download module: the phone must have seen the line
    // close (the cable taken off) before the next run begins.
    ASSERT_TRUE(WaitForStage(*phone, SimStage::BootIdle));
    run.paths[ImageSlot::Code] = files.File("missing.bin");
    EXPECT_EQ(Run(run, phone->DevicePath()), RunOutcome::ImageFileProblem);
    EXPECT_EQ(Last(1), (Line{"다운로드가 중단 됩니다. 코드파일 없음", COLOUR_BLUE}));
    // A FIFO or a folder in its place is not read (opening a FIFO would wait for a writer):
    // the run says the file cannot be read.
    const std::string fifo = files.File("code-fifo.bin");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, files.path()}) {
        host.lines.clear();
        ASSERT_TRUE(WaitForStage(*phone, SimStage::BootIdle));
        run.paths[ImageSlot::Code] = path;
        EXPECT_EQ(Run(run, phone->DevicePath()), RunOutcome::ImageFileProblem);
        EXPECT_EQ(Last(1), (Line{"다운로드가 중단 됩니다. 코드 파일을 읽을 수 없습니다:" + path,
                                 COLOUR_BLUE}));
    }

    // The 64 KiB rule with the check on.
    host.lines.clear();
    // The run before ended inside the download module: the phone must have seen the line
    // close (the cable taken off) before the next run begins.
    ASSERT_TRUE(WaitForStage(*phone, SimStage::BootIdle));
    SingleRunConfig fonts = FontJob(USB_PPV, RandomBytes(0x10001, 13));
    fonts.snapshot.checkBinSize64K = true;
    EXPECT_EQ(Run(fonts, phone->DevicePath()), RunOutcome::ImageFileProblem);
    EXPECT_EQ(Last(1), (Line{"파일 크기 오류", COLOUR_RED}));

    // A selected font that cannot be opened when its turn comes is passed over, and said so;
    // the run goes to its reset jump but does not count as complete.
    host.lines.clear();
    // The run before ended inside the download module: the phone must have seen the line
    // close (the cable taken off) before the next run begins.
    ASSERT_TRUE(WaitForStage(*phone, SimStage::BootIdle));
    fonts = FontJob(USB_PPV, RandomBytes(0x10000, 13));
    fonts.paths[ImageSlot::Font2] = files.File("gone.bin");
    EXPECT_EQ(Run(fonts, phone->DevicePath()), RunOutcome::ImageSkipped);
    EXPECT_TRUE(Logged("폰트2 파일을 열 수 없어 건너뜁니다: " + fonts.paths[ImageSlot::Font2]));
    EXPECT_TRUE(Logged("리셋 코드 점프 요청"));
}

TEST_F(SingleFaults, ImageFileThatShrinksVanishesOrGrowsDuringTheRun) {
    SimPhoneConfig config;
    config.faults.lateMs = 2;
    auto phone = StartPhone(config);
    const Bytes font = RandomBytes(0x40000, 14);

    // Shrinks after the first block: the run ends; nothing that is not the file's is sent.
    SingleRunConfig run = FontJob(USB_PPV, font);
    const std::string path = run.paths[ImageSlot::Font1];
    bool changed = false;
    EXPECT_EQ(Run(run, phone->DevicePath(),
                  [&] {
                      if (!changed && host.gauges.size() >= 5) {
                          changed = true;
                          ASSERT_EQ(truncate(path.c_str(), 0x18000), 0);
                      }
                  }),
              RunOutcome::FileReadError);
    EXPECT_EQ(Last(), kEnd);
    EXPECT_NE(Last(1).text.find("파일 읽기 오류"), std::string::npos);
    EXPECT_LE(phone->FlashWrittenEnd(), 0x200000u + 0x18000u);

    // Vanishes (unlinked while open): the open file is still read whole.
    host.lines.clear();
    ASSERT_TRUE(WaitForStage(*phone, SimStage::BootIdle)) << "the phone saw the line close";
    phone->ClearFlash();
    run = FontJob(USB_PPV, font);
    changed = false;
    EXPECT_EQ(Run(run, phone->DevicePath(),
                  [&] {
                      if (!changed && host.gauges.size() >= 5) {
                          changed = true;
                          std::remove(run.paths[ImageSlot::Font1].c_str());
                      }
                  }),
              RunOutcome::Completed);
    ASSERT_TRUE(phone->WaitForReset(std::chrono::seconds(5), 1));
    EXPECT_EQ(phone->FlashRange(0x200000, font.size()), font);

    // Grows: only the size taken when the image started is sent.
    host.lines.clear();
    ASSERT_TRUE(WaitForStage(*phone, SimStage::BootIdle)) << "the phone saw the line close";
    phone->ClearFlash();
    run = FontJob(USB_PPV, font);
    changed = false;
    EXPECT_EQ(
        Run(run, phone->DevicePath(),
            [&] {
                if (!changed && host.gauges.size() >= 5) {
                    changed = true;
                    std::ofstream(run.paths[ImageSlot::Font1], std::ios::binary | std::ios::app)
                        << std::string(0x10000, 'G');
                }
            }),
        RunOutcome::Completed);
    ASSERT_TRUE(phone->WaitForReset(std::chrono::seconds(5), 2));
    EXPECT_EQ(phone->FlashRange(0x200000, font.size()), font);
    EXPECT_EQ(phone->FlashWrittenEnd(), 0x200000u + font.size());
}

std::vector<std::string> TraceLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    const std::string content = s.str();
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < content.size()) {
        std::size_t end = content.find("\r\n", pos);
        if (end == std::string::npos) end = content.size();
        lines.push_back(content.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

TEST_F(SingleFaults, TraceOfARun) {
    auto phone = StartPhone(SimPhoneConfig{});
    const std::string tracePath = files.File("Debug.TXT");
    trace.Start(tracePath);
    trace.SetWriteData(true);
    EXPECT_EQ(Run(FontJob(USB_PPV, RandomBytes(0x10000, 15)), phone->DevicePath()),
              RunOutcome::Completed);
    std::vector<std::string> lines = TraceLines(tracePath);
    ASSERT_GT(lines.size(), 10u);
    // The first download start request on the USB link: 8 bytes (padded), and its answer.
    EXPECT_TRUE(
        std::regex_match(lines[0], std::regex(R"(\[W:008 \d{8} \d{8}\] 7E A0 72 55 7E 00 00 00 )")))
        << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(\[R:003 \d{8} \d{8}\] 7E 02 7E )")))
        << lines[1];
    const std::regex write(R"(\[W:(\d{3,4}) \d{8} -?\d{8}\] ((?:[0-9A-F]{2} )+))");
    const std::regex receive(R"(\[R:\d{3} \d{8} -?\d{8}\] ((?:[0-9A-F]{2} )+))");
    // Every packet's line, then its answer's line: the answer reaches the engine from the
    // port's receive thread, yet its line comes before the next packet's.
    std::size_t writes = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        std::smatch m;
        if (std::regex_match(line, m, write)) {
            ++writes;
            EXPECT_EQ(m[2].length(), 3 * std::stol(m[1])) << line;
            EXPECT_EQ(i % 2, 0u) << line;
        } else {
            EXPECT_TRUE(std::regex_match(line, receive)) << line;
            EXPECT_EQ(i % 2, 1u) << line;
        }
    }
    EXPECT_EQ(writes, phone->Counters().units);

    // Without the data option the write lines end after the second time stamp.
    trace.Start(tracePath);
    trace.SetWriteData(false);
    host.lines.clear();
    EXPECT_EQ(Run(FontJob(USB_PPV, RandomBytes(0x10000, 16)), phone->DevicePath()),
              RunOutcome::Completed);
    lines = TraceLines(tracePath);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\[W:008 \d{8} \d{8}\])"))) << lines[0];

    // A trace file that cannot be written: the packets still go out.
    trace.Start(files.path() + "/no-such-folder/Debug.TXT");
    host.lines.clear();
    EXPECT_EQ(Run(FontJob(USB_PPV, RandomBytes(0x10000, 17)), phone->DevicePath()),
              RunOutcome::Completed);
    trace.Stop();
}

TEST_F(SingleFaults, PortThatCannotBeOpened) {
    SingleRunConfig run = FontJob(USB_PPV, RandomBytes(0x10000, 18));
    EXPECT_EQ(engine->Start(run, "/dev/zembra-no-such-port"),
              SingleEngine::StartResult::PortOpenFailed);
    EXPECT_EQ(host.lines.back(),
              (Line{"통신포트열기를 실패했습니다. 확인 바랍니다.", COLOUR_BLUE}));
    EXPECT_FALSE(engine->lastPortError().empty());
    EXPECT_TRUE(engine->Idle());
    EXPECT_FALSE(engine->worker().Created()) << "the worker is not woken";
}

// A phone that vanishes in the middle of a transfer (the device hangs up) ends the run at once,
// not after the answer wait, with a red line that the port is gone.
TEST_F(SingleFaults, VanishedPhoneIsNoticedAtOnce) {
    SimPhoneConfig config;
    config.faults.hangupAfterBytes = 3000;
    auto phone = StartPhone(config);
    SingleRunConfig run = FontJob(USB_NORMAL, RandomBytes(0x10000, 51));
    run.snapshot.packetResponseWaitMs = 20000;
    run.snapshot.normalResponseWaitMs = 20000;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run(run, phone->DevicePath()), RunOutcome::TransferFailed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(Count("통신포트 연결이 끊어졌습니다 (Input/output error)"), 1);
    EXPECT_EQ(Last(), kEnd);
}

// A stop during the pause between two commands is seen at once, however long the pause.
TEST_F(SingleFaults, StopDuringALongPauseIsSeenAtOnce) {
    auto phone = StartPhone(SimPhoneConfig{});
    SingleRunConfig run = FontJob(USB_NORMAL, RandomBytes(0x10000, 52));
    run.snapshot.cmdGapMs = 100000;
    bool asked = false;
    std::chrono::steady_clock::time_point stopAt;
    const RunOutcome outcome = Run(run, phone->DevicePath(), [&] {
        if (asked || phone->Counters().units < 1) return;
        asked = true;
        stopAt = std::chrono::steady_clock::now();
        engine->RequestStop();
    });
    EXPECT_EQ(outcome, RunOutcome::Stopped);
    ASSERT_TRUE(asked);
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, std::chrono::seconds(2));
}

}  // namespace
}  // namespace zembra::e2e
