#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>

#include "protocol/LzoCompressor.h"

namespace zembra {

// lzoLock and lzoWorkMemory: the state that the multi workers share, created with the multi
// download and freed with it. lzoLock is one critical section around every lzo_init call and
// every block compression, because all multi workers share one work memory.
//
// A test build can watch the lock: the probe is called inside the lock, right after it was
// taken (entering = true) and right before it is released (entering = false), with the slot
// of the worker that holds it.
class LzoShared {
  public:
    using Probe = std::function<void(int slot, bool entering)>;

    // Set before any worker runs (not while a worker may hold the lock).
    void SetProbe(Probe probe) { probe_ = std::move(probe); }

  private:
    friend class SlotLzoCompressor;
    // Runs work on the work memory under lzoLock for the worker of slot.
    template <class Work>
    auto Locked(int slot, Work work) {
        std::lock_guard<std::mutex> lock(lzoLock_);
        if (probe_) probe_(slot, true);
        const auto result = work(compressor_);
        if (probe_) probe_(slot, false);
        return result;
    }

    std::mutex lzoLock_;
    Probe probe_;
    OwnLzoCompressor compressor_;  // its work memory is lzoWorkMemory
};

// The shared compressor as one multi worker uses it: every call under lzoLock, with the
// worker's slot.
class SlotLzoCompressor : public LzoCompressor {
  public:
    SlotLzoCompressor(LzoShared& shared, int slot) : shared_(shared), slot_(slot) {}
    void SetSlot(int slot) { slot_ = slot; }
    bool Init() override {
        return shared_.Locked(slot_, [](LzoCompressor& lzo) { return lzo.Init(); });
    }
    LzoResult Compress(const std::uint8_t* in, std::size_t length, std::uint8_t* out) override {
        return shared_.Locked(slot_,
                              [&](LzoCompressor& lzo) { return lzo.Compress(in, length, out); });
    }

  private:
    LzoShared& shared_;
    int slot_;
};

}  // namespace zembra
