#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "platform/LoopMainThread.h"
#include "protocol/DebugTrace.h"
#include "protocol/RunDisplay.h"
#include "protocol/SingleBridge.h"
#include "protocol/SlotEnd.h"
#include "tests/protocol/TestHosts.h"

namespace zembra {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::FakePorts;
using test::RecordingHost;

// The bridge with the test thread as its main thread.
struct BridgeFixture : ::testing::Test {
    SingleShared shared;
    RecordingHost host;
    FakePorts ports;
    DebugTrace trace;
    LoopMainThread loop;
    AskOperatorRequest ask;
    RunDisplay display{loop, host};
    SingleBridge bridge{shared, ports, trace, loop, ask};

    void SetUp() override {
        shared.downloadEnabled = true;
        shared.events = &display;
    }

    void Receive(const Bytes& chunk) { bridge.ReceiveOnPortThread(chunk.data(), chunk.size()); }
};

TEST_F(BridgeFixture, DropsDataWhileDisabledAndReportsOverrun) {
    shared.downloadEnabled = false;
    Receive({0x7E, 0x02, 0x7E});
    EXPECT_FALSE(shared.answers.arrived());

    shared.downloadEnabled = true;
    Receive({0x7E, 0x02, 0x7E});
    Receive({0x7E, 0xA4, 0x7E});  // the worker has not taken the first one
    EXPECT_EQ(bridge.WaitResponse(1), WaitResult::Arrived);
    EXPECT_EQ(bridge.ResponseCode(), 0xA4);  // the new frame replaced the old one
    // The worker's wait tells of the overrun, once.
    ASSERT_EQ(host.lines.size(), 1u);
    EXPECT_EQ(host.lines[0], (RecordingHost::Line{"패킷 수신 Over Run 입니다.", COLOUR_RED}));
    EXPECT_EQ(bridge.WaitResponse(0), WaitResult::NoResponse);
    EXPECT_EQ(host.lines.size(), 1u);
}

TEST_F(BridgeFixture, WaitResponseOutcomes) {
    // 0 ticks: 0 at once, even with a response waiting.
    Receive({0x7E, 0x02, 0x7E});
    EXPECT_EQ(bridge.WaitResponse(0), WaitResult::NoResponse);
    EXPECT_TRUE(shared.answers.arrived());
    // A response is taken even when a stop is pending.
    shared.RequestStop();
    EXPECT_EQ(bridge.WaitResponse(5), WaitResult::Arrived);
    EXPECT_EQ(bridge.WaitResponse(5), WaitResult::Stopped);
    shared.ClearStop();
    EXPECT_EQ(bridge.WaitResponse(5), WaitResult::NoResponse);
}

TEST_F(BridgeFixture, WaitResponseWakesOnAnswerAndOnStopFromAnotherThread) {
    std::thread answer([&] {
        while (!shared.answers.waiting()) std::this_thread::yield();
        loop.Post([&] { Receive({0x7E, 0x02, 0x7E}); });
    });
    std::optional<WaitResult> result;
    std::thread worker([&] {
        const WaitResult r = bridge.WaitResponse(60000);
        loop.Post([&result, r] { result = r; });
    });
    loop.RunUntil([&] { return result.has_value(); }, std::chrono::seconds(10));
    worker.join();
    answer.join();
    EXPECT_EQ(result, WaitResult::Arrived);

    result.reset();
    std::thread stopper([&] {
        while (!shared.answers.waiting()) std::this_thread::yield();
        shared.RequestStop();
    });
    std::thread worker2([&] { result = bridge.WaitResponse(60000); });
    worker2.join();
    stopper.join();
    EXPECT_EQ(result, WaitResult::Stopped);
}

TEST_F(BridgeFixture, SendCommandFramesPerLinkAndMode) {
    const std::uint8_t start[] = {0xA0};
    bridge.BeginRun(UART_AUTO);
    bridge.SendCommand(start, 1);  // main thread: runs at once
    bridge.BeginRun(USB_AUTO);
    bridge.SendCommand(start, 1);
    bridge.LinkSettled(USB_PPV, false);
    bridge.SendCommand(start, 1);  // raw frames only once the compressed mode was granted
    bridge.LinkSettled(USB_PPV, true);
    bridge.SendCommand(start, 1);
    bridge.LinkSettled(UART_PRESS, false);
    bridge.SendCommand(start, 1);

    ASSERT_EQ(ports.writes.size(), 5u);
    EXPECT_EQ(ports.writes[0], (Bytes{0x7E, 0xA0, 0x72, 0x55, 0x7E}));
    EXPECT_EQ(ports.writes[1], (Bytes{0x7E, 0xA0, 0x72, 0x55, 0x7E, 0, 0, 0}));
    EXPECT_EQ(ports.writes[2], ports.writes[1]);
    ASSERT_EQ(ports.writes[3].size(), 1024u);
    EXPECT_EQ(ports.writes[3][0], 0xA0);
    EXPECT_EQ(ports.writes[4], ports.writes[0]);
}

TEST_F(BridgeFixture, WritesClearAPendingResponse) {
    bridge.BeginRun(UART_NORMAL);
    Receive({0x7E, 0x02, 0x7E});
    ASSERT_TRUE(shared.answers.arrived());
    const std::uint8_t start[] = {0xA0};
    bridge.SendCommand(start, 1);
    EXPECT_FALSE(shared.answers.arrived());
    Receive({0x7E, 0x02, 0x7E});
    bridge.WriteFrame(4);
    EXPECT_FALSE(shared.answers.arrived());
}

TEST_F(BridgeFixture, TheDisplayShowsTheSingleRunAndItsEnd) {
    display.ImageMark(0, SequenceMark::ImageStarted, 2);
    display.Progress(0, 0x1234, 4096, 37);
    display.Progress(0, 0x1234, 4096, 37);          // unchanged: nothing to show again
    display.Progress(3, 0x1234, 4096, 50);          // a slot that never started: no row
    EXPECT_EQ(host.gauges, (std::vector<int>{0}));  // posted to the main thread
    EXPECT_EQ(loop.ProcessPending(), 1);
    display.ImageMark(0, SequenceMark::ImageDone, 2);
    display.Line(3, "삭제 요청", COLOUR_BLACK);  // a multi slot's line: the multi pane
    EXPECT_EQ(host.controlsGivenBack, 0);
    display.RunFinished(0, RunEnd{});
    EXPECT_EQ(host.controlsGivenBack, 1);
    EXPECT_EQ(host.gauges, (std::vector<int>{0, 37, 100}));
    EXPECT_EQ(host.titles,
              (std::vector<std::string>{"Erase Zembra 4", "37% Zembra 4", "Zembra 4", "Zembra 4"}));
    EXPECT_EQ(host.addresses, (std::vector<std::string>{"", "0x00001234", "", ""}));
    ASSERT_EQ(host.markers.size(), 2u + 7u);
    EXPECT_EQ(host.markers[0], (std::pair<int, std::string>{2, "     ="}));
    EXPECT_EQ(host.markers[1], (std::pair<int, std::string>{2, "     o"}));
    for (int slot = 0; slot < 7; ++slot)
        EXPECT_EQ(host.markers[2 + slot], (std::pair<int, std::string>{slot, "     x"}));
    EXPECT_EQ(host.multiLines, (std::vector<RecordingHost::Line>{{":삭제 요청", COLOUR_BLACK}}));

    bridge.SetBaud(9600);
    bridge.SetBaud(115200);
    EXPECT_EQ(ports.bauds, (std::vector<int>{9600, 115200}));  // the ports ignore 9,600

    ports.open = true;
    bridge.ClosePort();
    EXPECT_FALSE(ports.open);
}

// A multi slot's progress comes with every packet: its row is drawn by one posted draw at a
// time, with the latest state, and its end at once; a slot whose port did not open has none.
TEST_F(BridgeFixture, TheDisplayDrawsAMultiSlotOncePerPostWithItsLatestState) {
    const DownloadRun run;
    display.RunStarted(2, "COM66", run);
    display.ImageMark(2, SequenceMark::ImageStarted, 1);
    display.ImageMark(2, SequenceMark::EraseEnded, 1);
    for (int percent = 1; percent <= 50; ++percent)
        display.Progress(2, percent * 100, 5000, percent);
    display.RunStarted(3, "COM99", run);
    display.RunFinished(3, RunEnd{});  // its port did not open
    EXPECT_EQ(loop.ProcessPending(), 2);
    using Row = RecordingHost::Row;
    EXPECT_EQ(host.rows, (std::vector<Row>{{1, 50, "폰트1 다운로드"}}));
    EXPECT_EQ(host.leaders, (std::vector<std::pair<int, int>>{{1, 50}}));

    display.ImageMark(2, SequenceMark::ImageDone, 1);
    display.RunFinished(2, RunEnd{RunOutcome::Completed, END_FINISHED, 10});
    EXPECT_EQ(host.rows.back(), (Row{1, 100, "다운로드 종료"}));
    loop.ProcessPending();  // the draw posted by the mark shows the same end
    EXPECT_EQ(host.rows.back(), (Row{1, 100, "다운로드 종료"}));
    EXPECT_FALSE(display.SlotView(3 - 1).hasWorker);  // COM99's slot shows no row
    EXPECT_EQ(host.controlsGivenBack, 0);             // a slot's end gives no single controls back
}

TEST_F(BridgeFixture, AFailedWriteIsReportedAndTheWaitRunsOut) {
    ports.failWrites = true;
    bridge.BeginRun(UART_NORMAL);
    const std::uint8_t start[] = {0xA0};
    bridge.SendCommand(start, 1);
    ASSERT_EQ(host.lines.size(), 1u);
    EXPECT_EQ(host.lines[0].colour, COLOUR_RED);
    EXPECT_NE(host.lines[0].text.find("Input/output error"), std::string::npos);
    EXPECT_EQ(bridge.WaitResponse(5), WaitResult::NoResponse);
}

TEST(AskOperator, RequesterSleepsUntilTheTickAnswers) {
    AskOperatorRequest ask;
    EXPECT_FALSE(ask.Serve([](const std::string&, const std::string&, int) { return 1; }));
    int answer = 0;
    std::thread worker([&] { answer = ask.Ask("질문", "확인", mb::kOkCancel, 1); });
    while (!ask.pending()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::string seenText, seenCaption;
    int seenStyle = 0;
    EXPECT_TRUE(ask.Serve([&](const std::string& text, const std::string& caption, int style) {
        EXPECT_FALSE(ask.pending());  // cleared before the box is shown
        seenText = text;
        seenCaption = caption;
        seenStyle = style;
        return mb::kIdCancel;
    }));
    worker.join();
    EXPECT_EQ(answer, mb::kIdCancel);
    EXPECT_EQ(seenText, "질문");
    EXPECT_EQ(seenCaption, "확인");
    EXPECT_EQ(seenStyle, mb::kOkCancel);

    // Shut down: a requester is released with Cancel instead of sleeping for ever.
    std::thread late([&] { answer = ask.Ask("x", "y", mb::kOkCancel, 1); });
    while (!ask.pending()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ask.Shutdown();
    late.join();
    EXPECT_EQ(answer, mb::kIdCancel);
}

}  // namespace
}  // namespace zembra
