#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zembra::test {

// A code image of `size` bytes whose trailer holds the given version and boot location,
// stored low byte first.
inline std::string CodeImage(std::size_t size, std::uint16_t version, std::uint32_t boot) {
    std::string image(size, '\xAA');
    image[size - 20] = static_cast<char>(version & 0xFF);
    image[size - 19] = static_cast<char>(version >> 8);
    for (int i = 0; i < 4; ++i) image[size - 16 + i] = static_cast<char>(boot >> (8 * i));
    return image;
}

inline constexpr char kVersionMessage[] =
    "파일 버전 정보는 0 또는 0xFFFF 값을 가질수 없습니다. 코드 파일을 잘못 선택 하였습니다.";

}  // namespace zembra::test
