#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <random>
#include <thread>

#include "platform/LoopMainThread.h"
#include "platform/WaitEvent.h"
#include "serial/Vabuffer.h"
#include "serial/Vacomm.h"
#include "tests/serial/PtyHelpers.h"

namespace zembra {
namespace {

using namespace std::chrono_literals;
using test::PtyPair;

class ReceiveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty_.Ok());
        port_ = std::make_unique<TVaComm>();
        port_->SetMainThread(&loop_);
        port_->SetFlowControl(fcNone);
        port_->SetBaudrate(br115200);
        port_->SetDeviceName(pty_.SlavePath());
    }

    // Runs the loop until count bytes were delivered (or a few seconds passed).
    bool RunUntilReceived(size_t count) {
        return loop_.RunUntil([&] { return received_.size() >= count; }, 5s);
    }

    // OnRxBuf runs only for a port with an attached component (otherwise OnRxChar reports the
    // count and nothing is read), as in the main window: attach a buffer.
    void RecordRxBuf() {
        sink_.SetComm(port_.get());
        port_->OnRxBuf = [this](TVaComponent* sender, PVaData data, int count) {
            EXPECT_TRUE(loop_.IsMainThread());
            EXPECT_EQ(sender, port_.get());
            EXPECT_GT(count, 0);
            EXPECT_LE(count, VaMaxDataBlock);
            received_.insert(received_.end(), data, data + count);
            ++calls_;
        };
    }

    PtyPair pty_;
    LoopMainThread loop_;
    std::unique_ptr<TVaComm> port_;
    std::vector<uint8_t> received_;
    int calls_ = 0;
    std::atomic<int> goneReported_{0};
    TVaBuffer sink_;
};

TEST_F(ReceiveTest, EveryByteArrivesOnceInOrderOnTheMainThreadBufferFirst) {
    TVaBuffer buffer;
    buffer.SetSize(1 << 16);
    buffer.SetComm(port_.get());
    int bufferWrites = 0;
    buffer.OnChange = [&](TVaComponent* sender) {
        EXPECT_EQ(sender, &buffer);
        EXPECT_TRUE(loop_.IsMainThread());
        ++bufferWrites;
    };
    port_->OnRxBuf = [&](TVaComponent*, PVaData data, int count) {
        EXPECT_TRUE(loop_.IsMainThread());
        // The attached buffer has this chunk already.
        ASSERT_EQ(buffer.BufUsed(), count);
        std::vector<uint8_t> stored(static_cast<size_t>(count));
        ASSERT_TRUE(buffer.Read(stored.data(), count));
        EXPECT_TRUE(std::equal(stored.begin(), stored.end(), data));
        received_.insert(received_.end(), data, data + count);
        ++calls_;
    };
    port_->Open();

    std::vector<uint8_t> sent(300000);
    std::mt19937 rng(7);
    for (auto& b : sent) b = static_cast<uint8_t>(rng());
    std::thread writer([&] {
        std::mt19937 sizes(11);
        size_t pos = 0;
        while (pos < sent.size()) {
            size_t n = std::min<size_t>(1 + sizes() % 3000, sent.size() - pos);
            ASSERT_TRUE(pty_.WriteAll(sent.data() + pos, n));
            pos += n;
            if (sizes() % 4 == 0) std::this_thread::sleep_for(100us);
        }
    });
    EXPECT_TRUE(RunUntilReceived(sent.size()));
    writer.join();
    loop_.RunFor(50ms);  // nothing more may come
    ASSERT_EQ(received_.size(), sent.size());
    EXPECT_TRUE(received_ == sent);
    EXPECT_GT(calls_, 0);
    EXPECT_EQ(bufferWrites, 2 * calls_);  // one write and one read per chunk
}

// The receive tap gets every byte on the receive thread, once and in order; OnRxBuf still
// gets them all, in order, on the main thread.
TEST_F(ReceiveTest, TapGetsTheBytesOnTheReceiveThreadWithoutWaitingForTheMainThread) {
    RecordRxBuf();
    std::vector<uint8_t> tapped;  // receive thread only until the loop below has ended
    std::atomic<size_t> tappedCount{0};
    std::atomic<int> offReceiveThread{0};
    port_->OnRxTap = [&](PVaData data, int count) {
        if (static_cast<int>(syscall(SYS_gettid)) != port_->ReceiveThreadId()) ++offReceiveThread;
        tapped.insert(tapped.end(), data, data + count);
        tappedCount += static_cast<size_t>(count);
    };
    port_->Open();
    std::vector<uint8_t> sent(100000);
    std::mt19937 rng(5);
    for (auto& b : sent) b = static_cast<uint8_t>(rng());
    std::thread writer([&] { pty_.WriteAll(sent.data(), sent.size()); });
    // The receive thread does not wait for the main thread: everything reaches the tap
    // while the main loop is not running, and the main thread gets it all afterwards.
    EXPECT_TRUE(PollUntil([&] { return tappedCount.load() >= sent.size(); }, 5s));
    writer.join();
    EXPECT_TRUE(RunUntilReceived(sent.size()));
    EXPECT_GT(calls_, 3);  // in chunks of at most one read's worth
    port_->Close();
    EXPECT_EQ(offReceiveThread.load(), 0);
    EXPECT_TRUE(tapped == sent);
    EXPECT_TRUE(received_ == sent);
}

// Answer after answer through the tap, the main loop running: the main thread is woken at
// most once every delivery interval, with every byte in order, the last ones included although
// nothing comes after them.
TEST_F(ReceiveTest, AStreamOfAnswersWakesTheMainThreadOncePerInterval) {
    RecordRxBuf();
    std::atomic<size_t> tappedCount{0};
    port_->OnRxTap = [&](PVaData, int count) { tappedCount += static_cast<size_t>(count); };
    port_->Open();
    std::vector<uint8_t> sent;
    for (int i = 0; i < 300; ++i) sent.insert(sent.end(), {0x7E, static_cast<uint8_t>(i), 0x7E});
    const auto start = std::chrono::steady_clock::now();
    std::atomic<long long> streamMs{-1};
    std::thread writer([&] {
        // The next answer once the tap has the one before, as a phone answers packet by packet.
        for (size_t at = 0; at < sent.size(); at += 3) {
            ASSERT_TRUE(pty_.WriteAll(sent.data() + at, 3));
            ASSERT_TRUE(PollUntil([&] { return tappedCount.load() >= at + 3; }, 5s));
        }
        streamMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - start)
                       .count();
    });
    EXPECT_TRUE(RunUntilReceived(sent.size()));
    writer.join();
    port_->Close();
    EXPECT_TRUE(received_ == sent);
    EXPECT_LE(calls_, streamMs.load() / TVaCommThread::kDeliveryIntervalMs + 2) << streamMs.load();
}

TEST_F(ReceiveTest, ByMessageDeliveryKeepsOrderToo) {
    port_->SetSyncEvents(seByMessage);
    RecordRxBuf();
    port_->Open();
    std::string sent;
    for (int i = 0; i < 2000; ++i) sent += "line " + std::to_string(i) + "\n";
    std::thread writer([&] { pty_.WriteAll(sent); });
    EXPECT_TRUE(RunUntilReceived(sent.size()));
    writer.join();
    EXPECT_EQ(std::string(received_.begin(), received_.end()), sent);
}

TEST_F(ReceiveTest, AChunkTooBigForTheBufferIsRefusedWholeAndStillDelivered) {
    TVaBuffer buffer;
    buffer.SetSize(16);
    buffer.SetComm(port_.get());
    int overflows = 0;
    buffer.OnOverflow = [&](TVaComponent* sender) {
        EXPECT_EQ(sender, &buffer);
        ++overflows;
    };
    RecordRxBuf();
    port_->Open();
    const std::string big(100, 'Z');
    pty_.WriteAll(big);
    EXPECT_TRUE(RunUntilReceived(big.size()));
    EXPECT_EQ(std::string(received_.begin(), received_.end()), big);
    EXPECT_GE(overflows, 1);
    EXPECT_EQ(buffer.BufUsed(), 0);

    // A chunk that fits is stored; once full, later chunks are refused without harm.
    received_.clear();
    pty_.WriteAll("0123456789ABCDEF");
    EXPECT_TRUE(RunUntilReceived(16));
    EXPECT_EQ(buffer.BufUsed(), 16);
    EXPECT_TRUE(buffer.Full());
    pty_.WriteAll("more");
    EXPECT_TRUE(RunUntilReceived(20));
    EXPECT_EQ(buffer.BufUsed(), 16);
}

TEST_F(ReceiveTest, NoDeliveryAfterCloseEvenWhenTheDeliveryWasAlreadyQueued) {
    RecordRxBuf();
    port_->Open();
    pty_.WriteAll("queued");
    // The receive thread has queued its delivery and waits for the main thread.
    for (int i = 0; i < 5000 && loop_.PendingCount() == 0; ++i) std::this_thread::sleep_for(1ms);
    ASSERT_GT(loop_.PendingCount(), 0u);
    port_->Close();  // on the main thread, while the receive thread waits for it
    loop_.RunFor(50ms);
    EXPECT_EQ(calls_, 0);
    EXPECT_TRUE(received_.empty());

    // Reopened, the port gets a new thread and delivers again.
    port_->Open();
    pty_.WriteAll("again");
    EXPECT_TRUE(RunUntilReceived(5));
}

TEST_F(ReceiveTest, CloseFromInsideTheHandlerStopsDelivery) {
    port_->OnRxBuf = [&](TVaComponent* sender, PVaData data, int count) {
        received_.insert(received_.end(), data, data + count);
        ++calls_;
        static_cast<TVaCustomComm*>(sender)->Close();
    };
    TVaBuffer buffer;
    buffer.SetComm(port_.get());
    port_->Open();
    pty_.WriteAll("first");
    EXPECT_TRUE(RunUntilReceived(1));
    EXPECT_FALSE(port_->Active());
    pty_.WriteAll("second");
    loop_.RunFor(50ms);
    EXPECT_EQ(calls_, 1);
}

TEST_F(ReceiveTest, DestroyingThePortInsideTheHandlerIsSafe) {
    TVaBuffer buffer;
    buffer.SetComm(port_.get());
    port_->OnRxBuf = [&](TVaComponent*, PVaData, int count) {
        calls_ += count > 0;
        port_.reset();
    };
    port_->Open();
    pty_.WriteAll("bye");
    EXPECT_TRUE(loop_.RunUntil([&] { return calls_ > 0; }, 5s));
    loop_.RunFor(20ms);
    EXPECT_EQ(port_, nullptr);
    EXPECT_EQ(buffer.Comm(), nullptr);  // the port let go of its client
}

TEST_F(ReceiveTest, ClosingFromABufferHandlerSkipsTheRxBufHandler) {
    TVaBuffer buffer;
    buffer.SetComm(port_.get());
    buffer.OnChange = [&](TVaComponent*) { port_->Close(); };
    RecordRxBuf();
    port_->Open();
    pty_.WriteAll("x");
    loop_.RunUntil([&] { return !port_->Active(); }, 5s);
    loop_.RunFor(20ms);
    EXPECT_FALSE(port_->Active());
    EXPECT_EQ(calls_, 0);
}

TEST_F(ReceiveTest, HandlerExceptionsGoToTheApplicationAndDeliveryGoesOn) {
    std::vector<std::string> reported;
    SetApplicationExceptionHandler([&](std::exception_ptr e) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& ex) {
            reported.push_back(ex.what());
        }
    });
    sink_.SetComm(port_.get());
    port_->OnRxBuf = [&](TVaComponent*, PVaData data, int count) {
        received_.insert(received_.end(), data, data + count);
        throw std::runtime_error("handler failed");
    };
    port_->Open();
    pty_.WriteAll("a");
    EXPECT_TRUE(RunUntilReceived(1));
    pty_.WriteAll("b");
    EXPECT_TRUE(RunUntilReceived(2));
    EXPECT_GE(reported.size(), 2u);
    EXPECT_EQ(reported[0], "handler failed");
    SetApplicationExceptionHandler(nullptr);
}

TEST_F(ReceiveTest, WithoutClientsRxCharReportsCountsAndReadsNothing) {
    std::vector<int> counts;
    port_->OnRxChar = [&](TVaComponent*, int count) { counts.push_back(count); };
    port_->Open();
    pty_.WriteAll("abc");
    ASSERT_TRUE(loop_.RunUntil([&] { return !counts.empty(); }, 5s));
    EXPECT_EQ(counts[0], 3);
    // Unread bytes are not news: no further events until more arrive.
    loop_.RunFor(100ms);
    EXPECT_EQ(counts.size(), 1u);
    pty_.WriteAll("de");
    ASSERT_TRUE(loop_.RunUntil([&] { return counts.size() >= 2; }, 5s));
    EXPECT_EQ(counts[1], 5);
    EXPECT_EQ(port_->ReadText(), "abcde");
}

TEST_F(ReceiveTest, TransmitEmptyIsReportedAfterAWrite) {
    int txEmpty = 0;
    port_->OnTxEmpty = [&](TVaComponent*) {
        EXPECT_TRUE(loop_.IsMainThread());
        ++txEmpty;
    };
    port_->Open();
    EXPECT_EQ(port_->WriteBuf("hello", 5), 5);
    EXPECT_TRUE(loop_.RunUntil([&] { return txEmpty > 0; }, 5s));
    EXPECT_EQ(pty_.ReadSome(5).size(), 5u);
}

TEST_F(ReceiveTest, EmptyEventMaskMeansNoThreadAndDirectReads) {
    port_->SetMonitorEvents({});
    RecordRxBuf();
    port_->Open();
    EXPECT_EQ(port_->ReceiveThreadId(), 0);
    pty_.WriteAll("direct");
    for (int i = 0; i < 2000 && port_->ReadBufUsed() < 6; ++i) std::this_thread::sleep_for(1ms);
    EXPECT_EQ(port_->ReadBufUsed(), 6);
    char c = 0;
    EXPECT_TRUE(port_->ReadChar(c));
    EXPECT_EQ(c, 'd');
    uint8_t rest[16];
    EXPECT_EQ(port_->ReadBuf(rest, sizeof rest), 5);
    EXPECT_EQ(port_->ReadBuf(rest, sizeof rest), 0);  // nothing queued: at once, no error
    loop_.RunFor(20ms);
    EXPECT_EQ(calls_, 0);

    pty_.WriteAll("purge me");
    for (int i = 0; i < 2000 && port_->ReadBufUsed() < 8; ++i) std::this_thread::sleep_for(1ms);
    port_->PurgeRead();
    EXPECT_EQ(port_->ReadBufUsed(), 0);
}

TEST_F(ReceiveTest, WritesReachTheFarSideAndTimeOutWithoutAnError) {
    port_->Open();
    EXPECT_TRUE(port_->WriteText("text"));
    EXPECT_TRUE(port_->WriteChar('!'));
    auto got = pty_.ReadSome(5);
    EXPECT_EQ(std::string(got.begin(), got.end()), "text!");

    // Output held (as if XOFF was received): the write cannot finish and returns 0.
    port_->Buffers().SetWriteTimeout(50);
    port_->SetXon(false);
    std::vector<uint8_t> block(1 << 16, 0x55);
    EXPECT_EQ(port_->WriteBuf(block.data(), static_cast<int>(block.size())), 0);
    port_->SetXon(true);
    port_->PurgeWrite();
}

TEST_F(ReceiveTest, FarSideHangUpNeitherSpinsNorHangsAndCloseWorks) {
    RecordRxBuf();
    port_->OnLineGone = [this](int error) { goneReported_.store(error); };
    port_->Open();
    pty_.WriteAll("last words");
    EXPECT_TRUE(RunUntilReceived(10));
    const int tid = port_->ReceiveThreadId();
    ASSERT_NE(tid, 0);

    EXPECT_EQ(port_->LineGone(), 0);
    pty_.CloseMaster();
    // The receive thread marks the line gone, and then says so, as soon as it wakes up to the
    // hang-up (the mark comes first: wait for both).
    for (int i = 0; i < 200 && (port_->LineGone() == 0 || goneReported_.load() == 0); ++i)
        loop_.RunFor(5ms);
    EXPECT_EQ(port_->LineGone(), EIO);
    EXPECT_EQ(goneReported_.load(), EIO);
    loop_.RunFor(30ms);
    const long before = test::ThreadCpuTicks(tid);
    loop_.RunFor(300ms);
    const long after = test::ThreadCpuTicks(tid);
    ASSERT_GE(before, 0);
    // A spinning thread would use the whole 300 ms (30 ticks); a sleeping one none.
    EXPECT_LE(after - before, 5);

    // Writes fail with the port's error: the write fails, and so does clearing the line
    // errors of a device that is gone (as on an unplugged USB modem).
    try {
        port_->WriteBuf("x", 1);
        ADD_FAILURE() << "no exception";
    } catch (const EVaCommError& e) {
        EXPECT_STREQ(e.what(), "Error retrieving statistics (5), Input/output error");
    }
    port_->Close();
    EXPECT_FALSE(port_->Active());
    EXPECT_EQ(received_.size(), 10u);
}

TEST_F(ReceiveTest, TapReadsLeaveTheBytesToTheReaderAndStillReachTheMainThread) {
    RecordRxBuf();
    std::vector<uint8_t> tapped;  // the reader's (this) thread only
    port_->OnRxTap = [&](PVaData data, int count) {
        tapped.insert(tapped.end(), data, data + count);
    };
    port_->OnLineGone = [this](int error) { goneReported_.store(error); };
    ASSERT_TRUE(port_->SetTapReads(true));
    port_->Open();
    EXPECT_EQ(port_->ReadTapped(0, -1), 0);
    pty_.WriteAll("answer");
    loop_.RunFor(30ms);  // the receive thread leaves them alone
    EXPECT_TRUE(tapped.empty());
    EXPECT_TRUE(received_.empty());
    int got = 0;
    while (got < 6) {
        const int n = port_->ReadTapped(1000, -1);
        ASSERT_GT(n, 0);
        got += n;
    }
    EXPECT_EQ(std::string(tapped.begin(), tapped.end()), "answer");
    EXPECT_TRUE(RunUntilReceived(6));  // the main thread's data event still has them
    EXPECT_EQ(std::string(received_.begin(), received_.end()), "answer");

    // A signalled cancel event ends the wait at once; nothing came: 0.
    const int cancel = CreateWaitEvent(true, true);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port_->ReadTapped(5000, cancel), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    CloseWaitEvent(cancel);

    // The far side gone: -1 at once, the line marked gone and reported once; what was read
    // just before still reaches the main thread.
    pty_.WriteAll("last");
    for (int n = 0; n < 4;) {
        const int got = port_->ReadTapped(1000, -1);
        ASSERT_GT(got, 0);
        n += got;
    }
    pty_.CloseMaster();
    EXPECT_EQ(port_->ReadTapped(5000, -1), -1);
    EXPECT_EQ(port_->LineGone(), EIO);
    EXPECT_EQ(goneReported_.load(), EIO);
    EXPECT_TRUE(RunUntilReceived(10));
    EXPECT_EQ(std::string(received_.begin(), received_.end()), "answerlast");
    EXPECT_THROW(port_->SetTapReads(false), EVaCommError);  // refused while open
    port_->Close();
}

TEST_F(ReceiveTest, OpenCloseCyclesUnderTrafficInBothDeliveryModes) {
    RecordRxBuf();
    std::atomic<bool> stop{false};
    // Non-blocking far side: while the port is closed the queue fills and writes just fail.
    fcntl(pty_.Master(), F_SETFL, fcntl(pty_.Master(), F_GETFL) | O_NONBLOCK);
    std::thread farSide([&] {
        const std::string chunk(64, 'q');
        while (!stop) {
            ssize_t ignored = write(pty_.Master(), chunk.data(), chunk.size());
            (void)ignored;
            std::this_thread::sleep_for(200us);
        }
    });
    for (int cycle = 0; cycle < 40; ++cycle) {
        port_->SetSyncEvents(cycle % 2 ? seByMessage : seByMethod);
        port_->Open();
        loop_.RunFor(2ms);
        port_->Close();
        const int callsAtClose = calls_;
        loop_.ProcessPending();  // deliveries queued before Close do nothing
        EXPECT_EQ(calls_, callsAtClose);
    }
    stop = true;
    farSide.join();
    EXPECT_GT(calls_, 0);
}

TEST_F(ReceiveTest, WriteOnAClosedPortIsAWriteError) {
    try {
        port_->WriteBuf("x", 1);
        FAIL() << "no exception";
    } catch (const EVaCommError& e) {
        EXPECT_STREQ(e.what(), "Write error (9), Bad file descriptor");
    }
    try {
        char c;
        port_->ReadBuf(&c, 1);
        FAIL() << "no exception";
    } catch (const EVaCommError& e) {
        EXPECT_STREQ(e.what(), "Read error (9), Bad file descriptor");
    }
}

}  // namespace
}  // namespace zembra
