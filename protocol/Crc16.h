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

// Tables for eight bytes at a step: table k is the CRC of a byte followed by k zero bytes.
constexpr std::array<std::array<std::uint16_t, 256>, 8> MakeCrc16Slices() {
    std::array<std::array<std::uint16_t, 256>, 8> slices{};
    slices[0] = kCrc16Table;
    for (std::size_t k = 1; k < slices.size(); ++k)
        for (unsigned i = 0; i < 256; ++i) slices[k][i] = Crc16Update(slices[k - 1][i], 0);
    return slices;
}

inline constexpr std::array<std::array<std::uint16_t, 256>, 8> kCrc16Slices = MakeCrc16Slices();

// CRC over a byte range, starting from crc (no final complement). Eight bytes at a step (a
// 1,024-byte data block is checked for every packet of the normal USB mode), the rest one by
// one.
constexpr std::uint16_t Crc16(const std::uint8_t* data, std::size_t length,
                              std::uint16_t crc = kCrc16Init) {
    const auto& t = kCrc16Slices;
    std::size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        const unsigned low = (crc ^ data[i]) & 0xFF;
        const unsigned high = ((crc >> 8) ^ data[i + 1]) & 0xFF;
        crc = static_cast<std::uint16_t>(t[7][low] ^ t[6][high] ^ t[5][data[i + 2]] ^
                                         t[4][data[i + 3]] ^ t[3][data[i + 4]] ^ t[2][data[i + 5]] ^
                                         t[1][data[i + 6]] ^ t[0][data[i + 7]]);
    }
    for (; i < length; ++i) crc = Crc16Update(crc, data[i]);
    return crc;
}

}  // namespace zembra
