#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace zembra {

// Block header of the compressed modes: address (4) + length (4).
inline constexpr std::size_t kBlockHeaderSize = 8;

// The largest output of lzo1x_1_compress for length input bytes.
constexpr std::size_t LzoOutputBound(std::size_t length) {
    return length + length / 16 + 64 + 3;
}

// Result of one block compression.
struct LzoResult {
    bool ok = false;         // the compressor reported success
    std::size_t length = 0;  // compressed length when ok
};

// LZO1X-1 with a work memory: the single engine owns one, the multi workers share one under
// lzoLock (multi/LzoShared.h). Called by the worker that runs the download sequence.
class LzoCompressor {
  public:
    virtual ~LzoCompressor() = default;
    // lzo_init; true on success.
    virtual bool Init() = 0;
    // lzo1x_1_compress of length bytes of in into out (room for LzoOutputBound(length)).
    virtual LzoResult Compress(const std::uint8_t* in, std::size_t length, std::uint8_t* out) = 0;
};

// A compressor with its own work memory.
class OwnLzoCompressor : public LzoCompressor {
  public:
    OwnLzoCompressor();
    bool Init() override;
    LzoResult Compress(const std::uint8_t* in, std::size_t length, std::uint8_t* out) override;

  private:
    std::unique_ptr<std::uint8_t[]> workMemory_;
};

}  // namespace zembra
