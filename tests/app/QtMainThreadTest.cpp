// The Qt implementation of the main-thread hand-off: direct calls on the main thread,
// blocking calls from a worker served by the event loop, posting, errors, and shutdown.
#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "AppTestSupport.h"
#include "app/QtMainThread.h"

namespace zembra::test {
namespace {

// Runs the Qt event loop of this (the main) thread until done() or a generous deadline.
template <class Done>
bool PumpUntil(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

TEST(QtMainThread, RunsOnTheMainThreadAndWaitsForTheResult) {
    QtMainThread mainThread;
    EXPECT_TRUE(mainThread.IsMainThread());
    int direct = 0;
    mainThread.RunAndWait([&] { ++direct; });
    EXPECT_EQ(direct, 1);  // at once, no event loop needed

    std::atomic<bool> workerDone{false};
    bool ranOnMain = false, workerSawMain = true;
    int value = 0;
    std::thread worker([&] {
        workerSawMain = mainThread.IsMainThread();
        mainThread.RunAndWait([&] {
            ranOnMain = QThread::currentThread() == QCoreApplication::instance()->thread();
            value = 42;
        });
        EXPECT_EQ(value, 42);  // visible once RunAndWait has returned
        workerDone = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return workerDone.load(); }));
    worker.join();
    EXPECT_TRUE(ranOnMain);
    EXPECT_FALSE(workerSawMain);
}

TEST(QtMainThread, PostKeepsOrderAndErrorsReachTheCaller) {
    QtMainThread mainThread;
    std::vector<int> order;
    std::atomic<bool> caught{false};
    std::thread worker([&] {
        for (int i = 0; i < 5; ++i) mainThread.Post([&order, i] { order.push_back(i); });
        try {
            mainThread.RunAndWait([] { throw std::runtime_error("on main"); });
        } catch (const std::runtime_error& e) {
            caught = std::string(e.what()) == "on main";
        }
    });
    EXPECT_TRUE(PumpUntil([&] { return caught.load(); }));
    worker.join();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(QtMainThread, AnErrorOfAPostedFunctionIsReportedAndTheLoopGoesOn) {
    QtMainThread mainThread;
    std::vector<std::string> reported;
    mainThread.SetErrorReporter([&](const std::string& m) { reported.push_back(m); });
    bool after = false;
    std::thread worker([&] {
        mainThread.Post([] { throw std::runtime_error("posted failure"); });
        mainThread.Post([&] { after = true; });
    });
    worker.join();
    EXPECT_TRUE(PumpUntil([&] { return after; }));
    EXPECT_EQ(reported, (std::vector<std::string>{"posted failure"}));
}

// The seam the engines use to keep the window pumping while they wait (SysDelay, the end of
// the multi download): a worker's blocking call is served inside ServeUntil.
TEST(QtMainThread, ServeUntilServesBlockedCallersOnlyOnTheMainThread) {
    QtMainThread mainThread;
    std::atomic<bool> served{false};
    std::thread worker([&] { mainThread.RunAndWait([&] { served = true; }); });
    EXPECT_TRUE(mainThread.ServeUntil([&] { return served.load(); }, std::chrono::seconds(10)));
    worker.join();

    // Off the main thread it only waits: a posted function stays queued.
    bool ran = false, waited = true;
    mainThread.Post([&] { ran = true; });
    std::thread other([&] {
        waited = mainThread.ServeUntil([] { return false; }, std::chrono::milliseconds(20));
    });
    other.join();
    EXPECT_FALSE(waited);
    EXPECT_FALSE(ran);
    EXPECT_TRUE(mainThread.ServeUntil([&] { return ran; }, std::chrono::seconds(10)));
}

TEST(QtMainThread, ShutdownReleasesABlockedCallerWithoutRunningItsFunction) {
    auto mainThread = std::make_unique<QtMainThread>();
    std::atomic<bool> returned{false}, ran{false};
    std::atomic<int> result{-1};
    std::thread worker([&] {
        result = mainThread->TryRunAndWait([&] { ran = true; }) ? 1 : 0;
        returned = true;
    });
    while (mainThread->PendingCount() == 0) std::this_thread::yield();  // its call is queued
    EXPECT_FALSE(returned.load());
    mainThread->Shutdown();  // no event was processed in between
    worker.join();
    EXPECT_EQ(result.load(), 0);
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran.load());

    // After shutdown nothing runs and nobody blocks.
    std::thread late([&] { EXPECT_FALSE(mainThread->TryRunAndWait([&] { ran = true; })); });
    late.join();
    mainThread->Post([&] { ran = true; });
    mainThread.reset();
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran.load());
}

}  // namespace
}  // namespace zembra::test
