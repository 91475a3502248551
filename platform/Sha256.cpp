#include "platform/Sha256.h"

#include <nettle/sha2.h>

namespace zembra {

struct Sha256Digest::State {
    sha256_ctx context;
};

Sha256Digest::Sha256Digest() : state_(std::make_unique<State>()) {
    sha256_init(&state_->context);
}

Sha256Digest::~Sha256Digest() = default;

void Sha256Digest::Add(const std::uint8_t* bytes, std::size_t count) {
    sha256_update(&state_->context, count, bytes);
}

std::optional<Sha256Digest::Digest> Sha256Digest::Finish() {
    Digest digest;
    sha256_digest(&state_->context, SHA256_DIGEST_SIZE, digest.data());  // also starts again
    return digest;
}

}  // namespace zembra
