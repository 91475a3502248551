#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace zembra {

// SHA-256 digest of bytes given in pieces: Nettle on Linux, the system's CNG (BCrypt) on
// Windows. One object per digest; not for use from two threads at once.
class Sha256Digest {
  public:
    using Digest = std::array<std::uint8_t, 32>;

    Sha256Digest();
    ~Sha256Digest();
    Sha256Digest(const Sha256Digest&) = delete;
    Sha256Digest& operator=(const Sha256Digest&) = delete;

    void Add(const std::uint8_t* bytes, std::size_t count);
    // The digest of everything added, or nothing when the system could not make it (Windows:
    // the CNG provider refused); the object starts again empty.
    std::optional<Digest> Finish();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace zembra
