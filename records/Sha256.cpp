#include "records/Sha256.h"

#ifndef ZEMBRA_NO_RECORDS
#include <nettle/sha2.h>
#endif

#include <cstdio>
#include <memory>
#include <vector>

#include "platform/Helpers.h"

namespace zembra {

#ifdef ZEMBRA_NO_RECORDS

// Without Nettle (the Windows build keeps no records) there is no digest.
std::string Sha256OfFile(const std::string&, const FileVersion*) {
    return {};
}
std::string Sha256OfBytes(const std::uint8_t*, std::size_t) {
    return {};
}

#else

namespace {

std::string Hex(const std::uint8_t* digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < SHA256_DIGEST_SIZE; ++i) {
        text += kDigits[digest[i] >> 4];
        text += kDigits[digest[i] & 0x0F];
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
    sha256_ctx context;
    sha256_init(&context);
    std::vector<std::uint8_t> buffer(1 << 16);
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0)
        sha256_update(&context, n, buffer.data());
    if (std::ferror(file.get()) || !isExpected()) return {};
    std::uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&context, SHA256_DIGEST_SIZE, digest);
    return Hex(digest);
}

std::string Sha256OfBytes(const std::uint8_t* bytes, std::size_t count) {
    sha256_ctx context;
    sha256_init(&context);
    sha256_update(&context, count, bytes);
    std::uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&context, SHA256_DIGEST_SIZE, digest);
    return Hex(digest);
}

#endif  // ZEMBRA_NO_RECORDS

}  // namespace zembra
