#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace zembra {

// The phone's flash memory: an address space that reads 0xFF where nothing was written (its
// owner keeps to the flash's size). Pages of 64 KiB are allocated on the first write, so a
// 64 MiB space costs only what is written. Not thread-safe: the owner locks.
class SparseFlash {
  public:
    static constexpr std::uint32_t kPageSize = 0x10000;

    // Copies [address, address + length) out.
    std::vector<std::uint8_t> Read(std::uint64_t address, std::size_t length) const;

    // Stores bytes at address (the caller has checked the range).
    void Write(std::uint64_t address, const std::uint8_t* data, std::size_t length);

    // Sets [address, address + length) back to 0xFF.
    void Erase(std::uint64_t address, std::uint64_t length);

    // One past the highest byte ever written (0 when nothing was written). Erasing does not
    // lower it: the dump keeps its length.
    std::uint64_t WrittenEnd() const { return writtenEnd_; }

    // Replaces a file with [0, WrittenEnd()) as a raw image; the reason when that failed,
    // else empty.
    std::string Dump(const std::string& path) const;

    // Forgets everything (all bytes 0xFF again, nothing written).
    void Clear();

  private:
    using Page = std::array<std::uint8_t, kPageSize>;
    Page& PageAt(std::uint64_t index);

    std::uint64_t writtenEnd_ = 0;
    std::unordered_map<std::uint64_t, std::unique_ptr<Page>> pages_;
};

}  // namespace zembra
