#include "multi/LzoShared.h"

namespace zembra {

void LzoLock::Enter(int slot) {
    mutex_.lock();
    if (probe_) probe_(slot, true);
}

void LzoLock::Leave(int slot) {
    if (probe_) probe_(slot, false);
    mutex_.unlock();
}

bool SlotLzoCompressor::Init() {
    shared_.lzoLock_.Enter(slot_);
    const bool ok = shared_.compressor_.Init();
    shared_.lzoLock_.Leave(slot_);
    return ok;
}

LzoResult SlotLzoCompressor::Compress(const std::uint8_t* in, std::size_t length,
                                      std::uint8_t* out) {
    shared_.lzoLock_.Enter(slot_);
    const LzoResult result = shared_.compressor_.Compress(in, length, out);
    shared_.lzoLock_.Leave(slot_);
    return result;
}

}  // namespace zembra
