// The multi receive path: frame cutting into a slot's accumulator, the worker's wait, idle
// slots, accumulator overflow; and the slot label texts.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "multi/MSBDLU.h"
#include "multi/MultiDownload.h"
#include "multi/MultiHost.h"
#include "platform/LoopMainThread.h"

namespace zembra {
namespace {

// Port operations that only count: the receive path never writes.
class NoPorts : public MultiPortOps {
  public:
    void OpenMultiPort(int) override {}
    void CloseMultiPort(int) override {}
    void SetMultiPortName(int, const std::string&) override {}
    void SetMultiBaud(int, int) override {}
    void WriteMulti(int, const std::uint8_t*, std::size_t) override { ++writes; }
    void ClearMultiPortOpen(int) override {}
    void SetMultiReceiveTap(int, std::function<void(const std::uint8_t*, std::size_t)>) override {}
    int writes = 0;
};

class ReceivePath : public ::testing::Test {
  protected:
    ReceivePath() : worker(loop, ports, nullptr, lzo, MultiStartTiming{}) {
        MultiWorkerConfig config;
        config.slot = 2;
        worker.Configure(config);
    }
    void Feed(std::vector<std::uint8_t> bytes) { worker.ReceiveBytes(bytes.data(), bytes.size()); }

    LoopMainThread loop;
    NoPorts ports;
    LzoShared lzo;
    // Configured but never resumed: its thread stays suspended and the test plays the
    // worker's side of the wait.
    MultiSingleBoxDLU worker;
};

TEST_F(ReceivePath, IdleSlotDropsBytesAndRunningSlotCutsFirstFrame) {
    Feed({0x7E, 0x02, 0x7E});
    EXPECT_EQ(worker.WaitResponse(20), WaitResult::NoResponse)
        << "bytes on an idle slot must be dropped";

    worker.SetRunning();
    // 7E 02 7E 7E 02: the first three bytes form the frame, the rest of the chunk is dropped.
    Feed({0x7E, 0x02, 0x7E, 0x7E, 0x02});
    ASSERT_EQ(worker.WaitResponse(20), WaitResult::Arrived);
    EXPECT_EQ(worker.Response()[0], 0x02);
    EXPECT_EQ(worker.Response()[1], 0x7E);
    EXPECT_EQ(worker.Response().size(), 2u);
    EXPECT_EQ(worker.WaitResponse(20), WaitResult::NoResponse)
        << "the dropped tail must not form a second frame";
}

TEST_F(ReceivePath, FrameSplitOverChunksAndLeadingFlagDoesNotEndIt) {
    worker.SetRunning();
    Feed({0x7E});
    Feed({0xA3, 0x11});
    EXPECT_EQ(worker.WaitResponse(5), WaitResult::NoResponse);
    Feed({0x7E, 0x55});
    ASSERT_EQ(worker.WaitResponse(20), WaitResult::Arrived);
    EXPECT_EQ(worker.Response()[0], 0xA3);
    EXPECT_EQ(worker.Response()[1], 0x11);
}

TEST_F(ReceivePath, WaitOutcomes) {
    worker.SetRunning();
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(worker.WaitResponse(0), WaitResult::NoResponse);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(500));

    // A response that arrived is taken even though a stop is pending.
    Feed({0x7E, 0x02, 0x7E});
    ASSERT_TRUE(worker.RequestStop());
    EXPECT_EQ(worker.runState(), RUN_STOP_REQUESTED);
    EXPECT_EQ(worker.WaitResponse(1000), WaitResult::Arrived);
    EXPECT_EQ(worker.WaitResponse(10000), WaitResult::Stopped)
        << "a pending stop ends the wait at once";
}

TEST_F(ReceivePath, StopWakesABlockedWait) {
    worker.SetRunning();
    std::thread stopper([&] {
        while (!worker.waitingForResponse()) std::this_thread::yield();
        worker.RequestStop();
    });
    EXPECT_EQ(worker.WaitResponse(60000), WaitResult::Stopped);
    stopper.join();
}

TEST_F(ReceivePath, ResponseArrivingDuringWaitWakesIt) {
    worker.SetRunning();
    std::thread phone([&] {
        while (!worker.waitingForResponse()) std::this_thread::yield();
        // The handler runs on the main thread in the program; the accumulator is guarded, so
        // any single thread may play it here.
        const std::uint8_t frame[] = {0x7E, 0x03, 0x7E};
        worker.ReceiveBytes(frame, sizeof frame);
    });
    EXPECT_EQ(worker.WaitResponse(60000), WaitResult::Arrived);
    EXPECT_EQ(worker.Response()[0], 0x03);
    phone.join();
}

TEST_F(ReceivePath, FloodIsDroppedAndTheNextRunStartsEmpty) {
    worker.SetRunning();
    // A flood without a closing flag: more than the accumulator holds.
    std::vector<std::uint8_t> flood(RX_ACCUMULATOR_CAPACITY + 5000, 0x55);
    flood[0] = 0x7E;
    Feed(flood);
    EXPECT_EQ(worker.WaitResponse(5), WaitResult::NoResponse);
    Feed({0x7E, 0x11});
    // The next run starts with an empty accumulator.
    MultiWorkerConfig config;
    config.slot = 2;
    worker.Configure(config);
    worker.SetRunning();
    Feed({0x7E, 0x02, 0x7E});
    ASSERT_EQ(worker.WaitResponse(20), WaitResult::Arrived);
    EXPECT_EQ(worker.Response()[0], 0x02);
}

TEST(SlotStatusText, StageAndEndTexts) {
    EXPECT_EQ(SlotStatusText(0), "코드 다운로드");
    EXPECT_EQ(SlotStatusText(3), "폰트3 다운로드");
    EXPECT_EQ(SlotStatusText(16), "폰트6 삭제중");
    EXPECT_EQ(SlotStatusText(10), "코드 삭제중");
    EXPECT_EQ(SlotStatusText(1003), "다운로드 종료");
    EXPECT_EQ(SlotStatusText(10000), "사용자 종료");
    EXPECT_EQ(SlotStatusText(10016), "사용자 종료");
    EXPECT_EQ(SlotStatusText(8011), "폰트1 삭제중 오류 종료");
    EXPECT_EQ(SlotStatusText(2000), "코드 다운로드 오류 종료");
    EXPECT_EQ(SlotStatusText(7), "");
    EXPECT_EQ(SlotStatusText(9006), "리셋 점프 오류 종료");
    EXPECT_EQ(SlotStatusText(SlotStatusCode(2, 1, 0)), "폰트2 삭제중");
}

TEST(LeaderSlot, GreatestImageAndPercentTiesToLowerSlot) {
    std::array<MultiSlotView, MULTI_SLOT_COUNT> slots{};
    EXPECT_EQ(LeaderSlot(slots), -1);
    auto set = [&](int slot, int image, int percent, bool active = true) {
        auto& view = slots[static_cast<std::size_t>(slot)];
        view.hasWorker = true;
        view.active = active;
        view.currentImage = image;
        view.percent = percent;
    };
    set(1, 1, 10);  // slot 2 at font 1, 10 %: key 1010
    set(4, 0, 99);  // slot 5 at the code image, 99 %: key 99
    EXPECT_EQ(LeaderSlot(slots), 1);
    set(6, 1, 10);  // equal key: the lower slot keeps the lead
    EXPECT_EQ(LeaderSlot(slots), 1);
    set(7, 6, 100, false);  // an idle worker does not count
    EXPECT_EQ(LeaderSlot(slots), 1);
}

}  // namespace
}  // namespace zembra
