#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/LoopMainThread.h"

namespace zembra {
namespace {

using namespace std::chrono_literals;

TEST(LoopMainThreadTest, RunAndWaitRunsOnTheLoopThreadInOrder) {
    LoopMainThread loop;
    EXPECT_TRUE(loop.IsMainThread());
    std::vector<int> order;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        EXPECT_FALSE(loop.IsMainThread());
        for (int i = 0; i < 100; ++i) {
            loop.RunAndWait([&, i] {
                EXPECT_TRUE(loop.IsMainThread());
                order.push_back(i);
            });
        }
        done = true;
        loop.Wake();
    });
    EXPECT_TRUE(loop.RunUntil([&] { return done.load(); }, 10s));
    worker.join();
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
}

TEST(LoopMainThreadTest, OnTheMainThreadRunAndWaitRunsAtOnce) {
    LoopMainThread loop;
    int ran = 0;
    loop.RunAndWait([&] { ++ran; });
    EXPECT_EQ(ran, 1);
    loop.Post([&] { ran += 10; });
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(loop.ProcessPending(), 1);
    EXPECT_EQ(ran, 11);
}

TEST(LoopMainThreadTest, ExceptionsReachTheWaitingCaller) {
    LoopMainThread loop;
    std::atomic<bool> caught{false};
    std::thread worker([&] {
        try {
            loop.RunAndWait([] { throw std::runtime_error("boom"); });
        } catch (const std::runtime_error&) {
            caught = true;
        }
        loop.Wake();
    });
    EXPECT_TRUE(loop.RunUntil([&] { return caught.load(); }, 10s));
    worker.join();
}

TEST(LoopMainThreadTest, ShutdownReleasesBlockedCallersAndRefusesMore) {
    auto loop = std::make_unique<LoopMainThread>();
    std::atomic<int> released{0};
    std::atomic<int> ran{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < 4; ++i) {
        workers.emplace_back([&] {
            bool result = loop->TryRunAndWait([&] { ++ran; });
            EXPECT_FALSE(result);
            ++released;
        });
    }
    // Wait until all four are queued; the loop is never run.
    while (loop->PendingCount() < 4) std::this_thread::yield();
    loop->Shutdown();
    for (auto& t : workers) t.join();
    EXPECT_EQ(released, 4);
    EXPECT_EQ(ran, 0);
    std::thread late([&] { EXPECT_FALSE(loop->TryRunAndWait([&] { ++ran; })); });
    late.join();
    loop->Post([&] { ++ran; });
    EXPECT_EQ(loop->ProcessPending(), 0);
    EXPECT_EQ(ran, 0);
}

TEST(LoopMainThreadTest, RunUntilHonoursTheDeadline) {
    LoopMainThread loop;
    EXPECT_FALSE(loop.RunUntil([] { return false; }, 20ms));
}

TEST(LoopMainThreadTest, ProcessMainThreadRegistration) {
    EXPECT_EQ(ProcessMainThread(), nullptr);
    LoopMainThread loop;
    SetProcessMainThread(&loop);
    EXPECT_EQ(ProcessMainThread(), &loop);
    SetProcessMainThread(nullptr);
    EXPECT_EQ(ProcessMainThread(), nullptr);
}

}  // namespace
}  // namespace zembra
