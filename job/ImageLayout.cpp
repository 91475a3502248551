#include "job/ImageLayout.h"

#include <cstring>

#include "job/ImageSlot.h"
#include "platform/Helpers.h"

namespace zembra {

bool ReadImageTrailer(std::FILE* file, std::int64_t size, std::uint16_t& version,
                      std::uint32_t& boot) {
    if (size < 20) return false;
    std::uint8_t trailer[8];
    if (!SeekFile(file, size - 20)) return false;
    if (std::fread(trailer, 1, sizeof trailer, file) != sizeof trailer) return false;
    version = static_cast<std::uint16_t>(trailer[0] | (trailer[1] << 8));
    boot = static_cast<std::uint32_t>(trailer[4]) | (static_cast<std::uint32_t>(trailer[5]) << 8) |
           (static_cast<std::uint32_t>(trailer[6]) << 16) |
           (static_cast<std::uint32_t>(trailer[7]) << 24);
    std::rewind(file);
    return true;
}

bool ReadImageBlock(std::FILE* file, std::int64_t offset, std::uint8_t* out, std::size_t length,
                    std::size_t room) {
    // Blocks are read in order: a seek only when the file is elsewhere (a seek costs a
    // system call even within the stream's buffer).
    if (FilePosition(file) != offset && !SeekFile(file, offset)) return false;
    if (std::fread(out, 1, length, file) != length) return false;
    std::memset(out + length, kBlockFiller, room - length);
    return true;
}

TransferRange ImageTransferRange(int slot, std::int64_t size, std::uint32_t boot,
                                 std::uint32_t fontAddress, bool change) {
    TransferRange range;
    range.length = static_cast<std::uint32_t>(size);
    if (slot != ImageSlot::Code) {
        range.address = fontAddress;
    } else if (!change) {
        range.startOffset = boot;
        range.address = boot;
        range.length = static_cast<std::uint32_t>(size - boot);
    }
    return range;
}

}  // namespace zembra
