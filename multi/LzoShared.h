#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

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

// Result of one block compression.
struct LzoResult {
    bool ok = false;         // the compressor reported success
    std::size_t length = 0;  // compressed length when ok
};

// lzoLock and lzoWorkMemory: the state that the multi workers share, created with the
// multi download and freed with it.
class LzoShared {
  public:
    LzoShared();
    ~LzoShared();
    LzoShared(const LzoShared&) = delete;
    LzoShared& operator=(const LzoShared&) = delete;

    // lzo_init under the lock; true on success.
    bool Init(int slot);

    // lzo1x_1_compress of length bytes of in into out (room for the worst case of
    // LzoOutputBound(length)), under the lock, with the shared work memory.
    LzoResult Compress(int slot, const std::uint8_t* in, std::size_t length, std::uint8_t* out);

    LzoLock& lzoLock() { return lzoLock_; }

  private:
    LzoLock lzoLock_;
    std::unique_ptr<std::uint8_t[]> lzoWorkMemory_;
};

// The largest output of lzo1x_1_compress for length input bytes.
constexpr std::size_t LzoOutputBound(std::size_t length) {
    return length + length / 16 + 64 + 3;
}

}  // namespace zembra
