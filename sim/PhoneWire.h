#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zembra {

// The wire rules as the phone reads them, written apart from the tool's codec on purpose: the
// phone checks what the tool sends with these, so a fault in the tool's CRC table, escape
// set or control-marker test shows up as a refusal instead of passing on both sides.

inline constexpr std::uint8_t kPhoneFlag = 0x7E;
inline constexpr std::uint8_t kPhoneEscape = 0x7D;

// CRC-16, reflected polynomial 0x8408, computed bit by bit from crc (no table, no final
// complement).
std::uint16_t PhoneCrc16(const std::uint8_t* data, std::size_t length, std::uint16_t crc = 0xFFFF);

// The bytes the tool must send escaped (0x7D, then the byte XOR 0x20): the flag, the escape
// byte and 0x7F.
constexpr bool PhoneMustEscape(std::uint8_t b) {
    return b == 0x7D || b == 0x7E || b == 0x7F;
}

// Removes the escapes of a command frame's wire bytes (between the flags). The first fault
// found goes to *fault (empty when none): an escape as the last byte, an escape of a byte
// that needs none, an unescaped 0x7F.
std::vector<std::uint8_t> PhoneUnescape(const std::vector<std::uint8_t>& wire, std::string* fault);

// The USB normal mode's control block marker (bytes 0-6 of a control block).
inline constexpr std::array<std::uint8_t, 7> kPhoneControlMarker = {0x01, 0x12, 0x73, 0x80,
                                                                    0x40, 0x67, 0x24};
bool PhoneHasControlMarker(const std::uint8_t* block, std::size_t length);

// The answer to a data block of the USB normal mode: flag, 0x02, CRC high, CRC low, flag,
// the CRC bytes escaped.
std::vector<std::uint8_t> PhoneAckEcho(const std::uint8_t* block, std::size_t length);

}  // namespace zembra
