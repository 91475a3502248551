#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace zembra {

// FCS-16 of the reflected CRC-CCITT polynomial 0x8408 (RFC 1662). Every checksum of the
// download protocol starts at kCrc16Init.
inline constexpr std::uint16_t kCrc16Init = 0xFFFF;

constexpr std::array<std::uint16_t, 256> MakeCrc16Table() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned v = i;
        for (int bit = 0; bit < 8; ++bit) v = (v & 1) ? (v >> 1) ^ 0x8408 : v >> 1;
        table[i] = static_cast<std::uint16_t>(v);
    }
    return table;
}

inline constexpr std::array<std::uint16_t, 256> kCrc16Table = MakeCrc16Table();

// One table step: (crc >> 8) ^ table[(crc ^ byte) & 0xFF].
constexpr std::uint16_t Crc16Update(std::uint16_t crc, std::uint8_t byte) {
    return static_cast<std::uint16_t>((crc >> 8) ^ kCrc16Table[(crc ^ byte) & 0xFF]);
}

// CRC over a byte range, starting from crc (no final complement).
constexpr std::uint16_t Crc16(const std::uint8_t* data, std::size_t length,
                              std::uint16_t crc = kCrc16Init) {
    for (std::size_t i = 0; i < length; ++i) crc = Crc16Update(crc, data[i]);
    return crc;
}

}  // namespace zembra
