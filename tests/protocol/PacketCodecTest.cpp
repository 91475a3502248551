#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/Crc16.h"
#include "protocol/PacketCodec.h"

namespace zembra {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Encode(const Bytes& payload) {
    std::uint8_t out[kFrameBufferSize];
    const std::size_t n =
        PacketCodec().Encode(out, payload.data(), static_cast<std::uint16_t>(payload.size()));
    return Bytes(out, out + n);
}

Bytes EncodeUsb(const Bytes& payload) {
    std::uint8_t out[kFrameBufferSize];
    std::size_t n =
        PacketCodec().Encode(out, payload.data(), static_cast<std::uint16_t>(payload.size()));
    n = PadForUsb(out, n);
    return Bytes(out, out + n);
}

// Eight bytes at a step give the byte-by-byte result for every length and alignment.
TEST(Crc16, StepsOfEightAgreeWithByteSteps) {
    Bytes data(1031);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 7 + i / 13);
    for (std::size_t start = 0; start < 8; ++start)
        for (std::size_t length = 0; start + length <= data.size(); length += 1 + length / 64) {
            std::uint16_t bytewise = 0x1D0F;
            for (std::size_t i = 0; i < length; ++i)
                bytewise = Crc16Update(bytewise, data[start + i]);
            ASSERT_EQ(Crc16(data.data() + start, length, 0x1D0F), bytewise)
                << start << " " << length;
        }
}

TEST(Crc16, TableAndCheckValue) {
    EXPECT_EQ(kCrc16Table[0], 0x0000);
    EXPECT_EQ(kCrc16Table[1], 0x1189);
    EXPECT_EQ(kCrc16Table[255], 0x0F78);
    const std::string digits = "123456789";
    const std::uint16_t fcs =
        Crc16(reinterpret_cast<const std::uint8_t*>(digits.data()), digits.size()) ^ 0xFFFF;
    EXPECT_EQ(fcs, 0x906E);
    // The same check value appears low byte first in a frame.
    const Bytes frame = Encode(Bytes(digits.begin(), digits.end()));
    ASSERT_EQ(frame.size(), 13u);
    EXPECT_EQ(frame[10], 0x6E);
    EXPECT_EQ(frame[11], 0x90);
}

TEST(PacketCodec, KnownFrames) {
    EXPECT_EQ(Encode({}), (Bytes{0x7E, 0x00, 0x00, 0x7E}));
    EXPECT_EQ(EncodeUsb({}), (Bytes{0x7E, 0x00, 0x00, 0x7E}));  // already a multiple of 4
    EXPECT_EQ(Encode({0xA0}), (Bytes{0x7E, 0xA0, 0x72, 0x55, 0x7E}));
    EXPECT_EQ(EncodeUsb({0xA0}), (Bytes{0x7E, 0xA0, 0x72, 0x55, 0x7E, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Encode({0x12, 0x00}), (Bytes{0x7E, 0x12, 0x00, 0x66, 0xA9, 0x7E}));
}

TEST(PacketCodec, EscapesPayloadAndFcs) {
    const Bytes frame = Encode({0x7D, 0x7E, 0x7F});
    const Bytes head(frame.begin(), frame.begin() + 7);
    EXPECT_EQ(head, (Bytes{0x7E, 0x7D, 0x5D, 0x7D, 0x5E, 0x7D, 0x5F}));

    // Search single-byte payloads for FCS bytes that need escaping and check the growth.
    int escapedFcsSeen = 0;
    for (int b = 0; b < 256; ++b) {
        const std::uint8_t byte = static_cast<std::uint8_t>(b);
        const std::uint16_t fcs = Crc16Update(kCrc16Init, byte) ^ 0xFFFF;
        const int extra = NeedsEscape(fcs & 0xFF) + NeedsEscape(fcs >> 8) + NeedsEscape(byte);
        const Bytes f = Encode({byte});
        ASSERT_EQ(f.size(), 5u + extra) << b;
        EXPECT_EQ(f.front(), 0x7E);
        EXPECT_EQ(f.back(), 0x7E);
        for (std::size_t i = 1; i + 1 < f.size(); ++i) EXPECT_NE(f[i], 0x7E) << b;
        escapedFcsSeen += NeedsEscape(fcs & 0xFF) + NeedsEscape(fcs >> 8);
    }
    EXPECT_GT(escapedFcsSeen, 0);
}

TEST(PacketCodec, LargestPayloadFitsTheBuffer) {
    const Bytes payload(8194, 0x7E);
    const Bytes frame = Encode(payload);
    EXPECT_LE(frame.size(), kFrameBufferSize);
    EXPECT_GE(frame.size(), 2u * 8194 + 4);
}

TEST(RawFrame, LayoutAndHighByteRule) {
    std::uint8_t out[kRawFrameSize];
    const Bytes payload = {0x12, 0x01, 0xAA, 0xBB};
    ASSERT_EQ(BuildRawFrame(out, payload.data(), payload.size()), kRawFrameSize);
    const std::uint16_t crc = Crc16(payload.data(), payload.size());
    EXPECT_EQ(out[4], crc & 0xFF);
    EXPECT_EQ(out[5], (crc >> 8) == 0 ? 0x7E : (crc >> 8));
    for (std::size_t i = 6; i < kRawFrameSize; ++i) ASSERT_EQ(out[i], 0) << i;

    // Find a payload whose CRC high byte is 0x00: it must travel as 0x7E.
    bool found = false;
    for (int a = 0; a < 256 && !found; ++a) {
        for (int b = 0; b < 256 && !found; ++b) {
            const std::uint8_t p[2] = {static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b)};
            const std::uint16_t c = Crc16(p, 2);
            if ((c >> 8) != 0) continue;
            found = true;
            BuildRawFrame(out, p, 2);
            EXPECT_EQ(out[2], c & 0xFF);
            EXPECT_EQ(out[3], 0x7E);
        }
    }
    EXPECT_TRUE(found);
    EXPECT_EQ(BuildRawFrame(out, Bytes(1023).data(), 1023), 0u);
    EXPECT_EQ(BuildRawFrame(out, Bytes(1022, 1).data(), 1022), kRawFrameSize);
}

TEST(AckEcho, LengthFollowsEscapedCrcBytes) {
    std::uint8_t block[kDataBlockSize];
    std::uint8_t echo[kMaxAckEchoSize];
    int lengths[8] = {};
    for (int seed = 0; seed < 4000; ++seed) {
        for (std::size_t i = 0; i < kDataBlockSize; ++i)
            block[i] = static_cast<std::uint8_t>((i * 31 + seed * 7 + (i >> 3) * seed) & 0xFF);
        const std::uint16_t crc = Crc16(block, kDataBlockSize);
        const std::size_t n = BuildAckEcho(echo, block);
        const std::size_t expected = 5 + NeedsEscape(crc >> 8) + NeedsEscape(crc & 0xFF);
        ASSERT_EQ(n, expected);
        ++lengths[n];
        EXPECT_EQ(echo[0], 0x7E);
        EXPECT_EQ(echo[1], 0x02);
        EXPECT_EQ(echo[n - 1], 0x7E);
        if (n == 5) {
            EXPECT_EQ(echo[2], crc >> 8);  // high byte first
            EXPECT_EQ(echo[3], crc & 0xFF);
        }
    }
    EXPECT_GT(lengths[5], 0);
    EXPECT_GT(lengths[6], 0);
}

TEST(ControlBlock, MarkerAndReason) {
    std::uint8_t block[kDataBlockSize];
    BuildControlBlock(block, false);
    EXPECT_TRUE(StartsWithControlMarker(block, kDataBlockSize));
    EXPECT_EQ(block[7], 0x00);
    BuildControlBlock(block, true);
    EXPECT_EQ(block[7], 0x01);
    for (std::size_t i = 8; i < kDataBlockSize; ++i) ASSERT_EQ(block[i], 0);
    EXPECT_EQ((Bytes(block, block + 7)), (Bytes{0x01, 0x12, 0x73, 0x80, 0x40, 0x67, 0x24}));
    EXPECT_FALSE(StartsWithControlMarker(block, 6));
    EXPECT_STREQ(NakText(NAK_INVALID_FCS), "NAK INVALID FCS");
    EXPECT_STREQ(NakText(NAK_FAILED), "NAK FAILED");
    EXPECT_EQ(NakText(0x05), nullptr);
}

}  // namespace
}  // namespace zembra
