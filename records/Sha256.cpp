#include "records/Sha256.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "platform/Helpers.h"
#include "platform/Sha256.h"

namespace zembra {

namespace {

// The digest as lower-case hexadecimal digits; empty when there is none.
std::string Hex(const std::optional<Sha256Digest::Digest>& digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    if (!digest) return text;
    for (const std::uint8_t byte : *digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

}  // namespace

std::string Sha256OfFile(const std::string& path, const FileVersion* expected) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(OpenRegularFile(path), &std::fclose);
    if (!file) return {};
    const auto isExpected = [&] {
        FileVersion now;
        return expected == nullptr || (FileVersionOf(file.get(), now) && now == *expected);
    };
    if (!isExpected()) return {};
    Sha256Digest digest;
    std::vector<std::uint8_t> buffer(1 << 16);
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0)
        digest.Add(buffer.data(), n);
    if (std::ferror(file.get()) || !isExpected()) return {};
    return Hex(digest.Finish());
}

std::string Sha256OfBytes(const std::uint8_t* bytes, std::size_t count) {
    Sha256Digest digest;
    digest.Add(bytes, count);
    return Hex(digest.Finish());
}

}  // namespace zembra
