#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "protocol/ProtocolCodes.h"

namespace zembra {

inline constexpr std::uint8_t kFrameFlag = 0x7E;
inline constexpr std::uint8_t kFrameEscape = 0x7D;
inline constexpr std::uint8_t kEscapeXor = 0x20;

// Room for the largest command frame: 8,194 payload bytes, all escaped, FCS escaped, two flags.
inline constexpr std::size_t kFrameBufferSize = 16400;
inline constexpr std::size_t kRawFrameSize = 1024;
inline constexpr std::size_t kRawFrameMaxPayload = kRawFrameSize - 2;
inline constexpr std::size_t kDataBlockSize = 1024;  // USB normal mode block
inline constexpr std::size_t kMaxAckEchoSize = 7;

// The marker that opens a control block of the USB normal mode.
inline constexpr std::array<std::uint8_t, 7> kControlMarker = {0x01, 0x12, 0x73, 0x80,
                                                               0x40, 0x67, 0x24};

// value as four little-endian bytes at out (addresses and lengths in commands and block headers).
inline void PutLe32(std::uint8_t* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// True for 0x7D, 0x7E and 0x7F, the bytes that are sent escaped.
constexpr bool NeedsEscape(std::uint8_t b) {
    return b >= kFrameEscape && b <= 0x7F;
}

// Encodes command frames: 0x7E, escaped payload, escaped FCS (low, high), 0x7E.
// It keeps no state between frames; each worker owns one.
class PacketCodec {
  public:
    // Writes one frame into out (kFrameBufferSize bytes) and returns its length.
    std::size_t Encode(std::uint8_t* out, const std::uint8_t* payload, std::uint16_t length) const;
};

// Zero bytes appended to a command frame on the USB modem link: up to the next multiple of 4.
// Returns the padded length; out must have room for it (at most 3 more bytes).
std::size_t PadForUsb(std::uint8_t* out, std::size_t length);

// Writes one raw frame of exactly kRawFrameSize bytes: payload, CRC low, CRC high
// (0x7E in place of a high byte 0x00), zeros. length is at most kRawFrameMaxPayload.
// Returns kRawFrameSize, or 0 when the payload does not fit.
std::size_t BuildRawFrame(std::uint8_t* out, const std::uint8_t* payload, std::size_t length);

// A command as the link carries it, in out (kFrameBufferSize bytes, cleared first): a raw frame
// once the compressed USB mode was acknowledged (rawUsbFrames), else a command frame, padded
// with zeros to a multiple of 4 on a USB link. Returns its length.
std::size_t BuildCommandFrame(std::uint8_t* out, const std::uint8_t* command, std::size_t length,
                              bool usbLink, bool rawUsbFrames, const PacketCodec& codec);

// The echo a phone in USB normal mode sends for a 1,024-byte data block:
// 0x7E 0x02 CRC-high CRC-low 0x7E with the CRC bytes escaped. Returns its length (5, 6 or 7).
std::size_t BuildAckEcho(std::uint8_t* out, const std::uint8_t* block);

// Control block of the USB normal mode. retransmit false: precedes a data block that begins
// with the marker; true: precedes the retransmission of a block whose echo did not match.
void BuildControlBlock(std::uint8_t* out, bool retransmit);

// True when the first seven bytes of a data block equal the control marker.
bool StartsWithControlMarker(const std::uint8_t* block, std::size_t length);

}  // namespace zembra
