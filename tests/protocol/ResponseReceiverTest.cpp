// The receive cutter both engines use: frames cut out of the byte stream, stray bytes and
// doubled flags, the hand-over to the waiting worker.
#include <gtest/gtest.h>

#include <vector>

#include "protocol/ProtocolCodes.h"
#include "protocol/ResponseReceiver.h"

namespace zembra {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Receiver : ::testing::Test {
    ResponseReceiver receiver;
    bool stop = false;

    bool Feed(const Bytes& chunk) { return receiver.Feed(chunk.data(), chunk.size()).completed; }
    // The answer taken now, or an empty one when none arrived.
    Bytes Take() {
        if (receiver.Wait(1, [this] { return stop; }) != WaitResult::Arrived) return {};
        return receiver.Response();
    }
};

TEST_F(Receiver, CutsFramesSplitOrFollowedByMore) {
    EXPECT_TRUE(Feed({0x7E, 0x02, 0x7E}));
    EXPECT_EQ(Take(), (Bytes{0x02, 0x7E}));
    // The first frame of a chunk completes; the rest of the chunk is dropped.
    EXPECT_TRUE(Feed({0x7E, 0xA1, 0x7E, 0x7E, 0x02, 0x7E}));
    EXPECT_EQ(Take(), (Bytes{0xA1, 0x7E}));
    EXPECT_EQ(Take(), Bytes{});
    // A frame split over two chunks completes on the second.
    EXPECT_FALSE(Feed({0x7E, 0x03}));
    EXPECT_TRUE(Feed({0x7E}));
    EXPECT_EQ(Take(), (Bytes{0x03, 0x7E}));
}

TEST_F(Receiver, ADoubledFlagResynchronisesOnTheSecond) {
    EXPECT_TRUE(Feed({0x7E, 0x7E, 0x02, 0x7E}));
    EXPECT_EQ(Take(), (Bytes{0x02, 0x7E})) << "no empty answer from a doubled flag";
    // The same with the flags in separate chunks.
    EXPECT_FALSE(Feed({0x7E}));
    EXPECT_FALSE(Feed({0x7E}));
    EXPECT_TRUE(Feed({0x02, 0x7E}));
    EXPECT_EQ(Take(), (Bytes{0x02, 0x7E}));
}

TEST_F(Receiver, BytesBeforeAnOpeningFlagNeverBecomeAnAnswer) {
    EXPECT_FALSE(Feed({0x55, 0xAA}));
    EXPECT_TRUE(Feed({0x7E, 0x02, 0x7E}));
    EXPECT_EQ(Take(), (Bytes{0x02, 0x7E}));
    EXPECT_TRUE(Feed({0x13, 0x7E, 0xA3, 0x7E, 0x99}));
    EXPECT_EQ(receiver.Response().size(), 2u);
    EXPECT_EQ(Take(), (Bytes{0xA3, 0x7E}));
    EXPECT_EQ(receiver.discardedBytes(), 4u);
}

TEST_F(Receiver, AFloodIsDroppedAndTheNextAnswerGetsThrough) {
    Bytes flood(RX_ACCUMULATOR_CAPACITY * 3, 0x41);
    flood[0] = 0x7E;  // an opening flag that is never closed
    EXPECT_FALSE(Feed(flood));
    EXPECT_GT(receiver.discardedBytes(), 2 * RX_ACCUMULATOR_CAPACITY);
    EXPECT_TRUE(Feed({0x7E, 0x02, 0x7E}));
    EXPECT_EQ(Take(), (Bytes{0x02, 0x7E}));
}

TEST_F(Receiver, ResetAndClearForgetWhatCameBefore) {
    Feed({0x7E, 0x02});
    receiver.Reset();
    EXPECT_FALSE(Feed({0xA1, 0x7E})) << "the flag after a reset opens a frame";
    Feed({0x7E, 0x02, 0x7E});
    receiver.ClearArrived();
    EXPECT_EQ(Take(), Bytes{});
    stop = true;
    EXPECT_EQ(receiver.Wait(1000, [this] { return stop; }), WaitResult::Stopped);
    EXPECT_EQ(receiver.Wait(0, [this] { return stop; }), WaitResult::NoResponse);
}

}  // namespace
}  // namespace zembra
