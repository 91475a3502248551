#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>

#include "protocol/LzoCompressor.h"

namespace zembra {

// The compression lock of the multi download: one critical section around every lzo_init
// call and every block compression, because all multi workers share one work memory.
//
// A test build can watch the lock: the probe is called inside the lock, right after it was
// taken (entering = true) and right before it is released (entering = false), with the slot
// of the worker that holds it.
class LzoLock {
  public:
    using Probe = std::function<void(int slot, bool entering)>;

    void Enter(int slot);
    void Leave(int slot);

    // Set before any worker runs (not while a worker may hold the lock).
    void SetProbe(Probe probe) { probe_ = std::move(probe); }

  private:
    std::mutex mutex_;
    Probe probe_;
};

// lzoLock and lzoWorkMemory: the state that the multi workers share, created with the
// multi download and freed with it.
class LzoShared {
  public:
    LzoLock& lzoLock() { return lzoLock_; }

  private:
    friend class SlotLzoCompressor;
    LzoLock lzoLock_;
    OwnLzoCompressor compressor_;  // its work memory is lzoWorkMemory
};

// The shared compressor as one multi worker uses it: every call under lzoLock, with the
// worker's slot.
class SlotLzoCompressor : public LzoCompressor {
  public:
    SlotLzoCompressor(LzoShared& shared, int slot) : shared_(shared), slot_(slot) {}
    void SetSlot(int slot) { slot_ = slot; }
    bool Init() override;
    LzoResult Compress(const std::uint8_t* in, std::size_t length, std::uint8_t* out) override;

  private:
    LzoShared& shared_;
    int slot_;
};

}  // namespace zembra
