#include "protocol/PacketCodec.h"

#include <cstring>

#include "protocol/Crc16.h"

namespace zembra {

namespace {

std::size_t PutEscaped(std::uint8_t* out, std::size_t pos, std::uint8_t b) {
    if (NeedsEscape(b)) {
        out[pos++] = kFrameEscape;
        out[pos++] = static_cast<std::uint8_t>(b ^ kEscapeXor);
    } else {
        out[pos++] = b;
    }
    return pos;
}

}  // namespace

std::size_t PacketCodec::Encode(std::uint8_t* out, const std::uint8_t* payload,
                                std::uint16_t length) const {
    std::size_t pos = 0;
    out[pos++] = kFrameFlag;
    std::uint16_t crc = kCrc16Init;
    for (std::uint16_t i = 0; i < length; ++i) {
        pos = PutEscaped(out, pos, payload[i]);
        crc = Crc16Update(crc, payload[i]);
    }
    const std::uint16_t fcs = crc ^ 0xFFFF;
    pos = PutEscaped(out, pos, static_cast<std::uint8_t>(fcs & 0xFF));
    pos = PutEscaped(out, pos, static_cast<std::uint8_t>(fcs >> 8));
    out[pos++] = kFrameFlag;
    return pos;
}

std::size_t PadForUsb(std::uint8_t* out, std::size_t length) {
    while (length % 4 != 0) out[length++] = 0x00;
    return length;
}

std::size_t BuildCommandFrame(std::uint8_t* out, const std::uint8_t* command, std::size_t length,
                              bool usbLink, bool rawUsbFrames, const PacketCodec& codec) {
    std::memset(out, 0, kFrameBufferSize);
    if (usbLink && rawUsbFrames) return BuildRawFrame(out, command, length);
    const std::size_t framed = codec.Encode(out, command, static_cast<std::uint16_t>(length));
    return usbLink ? PadForUsb(out, framed) : framed;
}

std::size_t BuildRawFrame(std::uint8_t* out, const std::uint8_t* payload, std::size_t length) {
    if (length > kRawFrameMaxPayload) return 0;
    std::memset(out, 0, kRawFrameSize);
    if (length > 0) std::memcpy(out, payload, length);
    const std::uint16_t crc = Crc16(payload, length);
    out[length] = static_cast<std::uint8_t>(crc & 0xFF);
    const std::uint8_t high = static_cast<std::uint8_t>(crc >> 8);
    out[length + 1] = high == 0x00 ? kFrameFlag : high;
    return kRawFrameSize;
}

std::size_t BuildAckEcho(std::uint8_t* out, const std::uint8_t* block) {
    const std::uint16_t crc = Crc16(block, kDataBlockSize);
    std::size_t pos = 0;
    out[pos++] = kFrameFlag;
    out[pos++] = RSP_ACK;
    pos = PutEscaped(out, pos, static_cast<std::uint8_t>(crc >> 8));
    pos = PutEscaped(out, pos, static_cast<std::uint8_t>(crc & 0xFF));
    out[pos++] = kFrameFlag;
    return pos;
}

void BuildControlBlock(std::uint8_t* out, bool retransmit) {
    std::memset(out, 0, kDataBlockSize);
    std::memcpy(out, kControlMarker.data(), kControlMarker.size());
    out[kControlMarker.size()] = retransmit ? 0x01 : 0x00;
}

bool StartsWithControlMarker(const std::uint8_t* block, std::size_t length) {
    return length >= kControlMarker.size() &&
           std::memcmp(block, kControlMarker.data(), kControlMarker.size()) == 0;
}

}  // namespace zembra
