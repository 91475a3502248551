#pragma once

// What several suites share: generated image bytes and a scratch folder.

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace zembra::test {

using Bytes = std::vector<std::uint8_t>;

// Incompressible bytes.
inline Bytes RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes bytes(size);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
    return bytes;
}

// The code image trailer: version word at size - 20, boot location at size - 16.
inline Bytes WithTrailer(Bytes image, std::uint16_t version, std::uint32_t bootLocation) {
    const std::size_t size = image.size();
    image[size - 20] = static_cast<std::uint8_t>(version);
    image[size - 19] = static_cast<std::uint8_t>(version >> 8);
    for (std::size_t i = 0; i < 4; ++i)
        image[size - 16 + i] = static_cast<std::uint8_t>(bootLocation >> (8 * i));
    return image;
}

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it.
class ScratchDir {
  public:
    explicit ScratchDir(const std::string& tag = "test") {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base && *base ? base : "/tmp") + "/zembra-" + tag + "-XXXXXX";
        path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

    std::string Write(const std::string& name, const std::string& bytes) const {
        const std::string p = File(name);
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }
    std::string Write(const std::string& name, const Bytes& bytes) const {
        return Write(name, std::string(bytes.begin(), bytes.end()));
    }

  private:
    std::string path_;
};

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace zembra::test
