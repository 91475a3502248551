#include "platform/Sha256.h"

#include <windows.h>
// After windows.h, whose types it uses.
#include <bcrypt.h>

// SHA-256 through Windows' CNG: one reusable hash object per digest (Finish starts it again).
// A call the provider refuses marks the digest failed; Finish then gives nothing.

namespace zembra {

struct Sha256Digest::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool failed = false;

    void Check(NTSTATUS status) {
        if (status < 0) failed = true;
    }
};

Sha256Digest::Sha256Digest() : state_(std::make_unique<State>()) {
    state_->Check(
        BCryptOpenAlgorithmProvider(&state_->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0));
    if (!state_->failed)
        state_->Check(BCryptCreateHash(state_->algorithm, &state_->hash, nullptr, 0, nullptr, 0,
                                       BCRYPT_HASH_REUSABLE_FLAG));
}

Sha256Digest::~Sha256Digest() {
    if (state_->hash) BCryptDestroyHash(state_->hash);
    if (state_->algorithm) BCryptCloseAlgorithmProvider(state_->algorithm, 0);
}

void Sha256Digest::Add(const std::uint8_t* bytes, std::size_t count) {
    // BCryptHashData takes a 32-bit length.
    constexpr std::size_t kMost = std::size_t{1} << 30;
    while (count > 0 && !state_->failed) {
        const std::size_t piece = count < kMost ? count : kMost;
        state_->Check(
            BCryptHashData(state_->hash, const_cast<PUCHAR>(bytes), static_cast<ULONG>(piece), 0));
        bytes += piece;
        count -= piece;
    }
}

std::optional<Sha256Digest::Digest> Sha256Digest::Finish() {
    if (state_->failed) return std::nullopt;
    Digest digest;
    state_->Check(
        BCryptFinishHash(state_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0));
    if (state_->failed) return std::nullopt;
    return digest;
}

}  // namespace zembra
