#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace zembra {

// The code image's 20-byte trailer, read from an open file of size bytes: the version word at
// size - 20 and the boot location at size - 16 (little-endian). False when the file is shorter
// than 20 bytes or cannot be read there; nothing outside the file is read. Both engines use it.
bool ReadImageTrailer(std::FILE* file, std::int64_t size, std::uint16_t& version,
                      std::uint32_t& boot);

// Filler of the bytes past the end of the file in a block that is sent whole (the USB normal
// mode's last 1,024-byte block; the uncompressed form of a short last LZO block): the value of
// erased flash, so the extra bytes change nothing on the phone.
inline constexpr std::uint8_t kBlockFiller = 0xFF;

// Reads exactly length bytes at offset into out and fills out up to room bytes with
// kBlockFiller. False when the file does not hold those bytes any more (it shrank or a read
// failed): nothing that is not the file's may go out.
bool ReadImageBlock(std::FILE* file, std::int64_t offset, std::uint8_t* out, std::size_t length,
                    std::size_t room);

// The part of an image file that goes to the phone.
struct TransferRange {
    std::int64_t startOffset = 0;  // the first file byte sent
    std::uint32_t address = 0;     // its flash address
    std::uint32_t length = 0;      // bytes from startOffset to the end of the file
};

// A font goes whole to its address; the code image goes from its boot location to the same
// address, or whole to address 0 when change is set. boot must lie inside the file for the
// code image without change (the image check makes sure of it).
TransferRange ImageTransferRange(int slot, std::int64_t size, std::uint32_t boot,
                                 std::uint32_t fontAddress, bool change);

}  // namespace zembra
