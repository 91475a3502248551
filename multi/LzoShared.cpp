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

namespace {

// Holds the lock for one call.
class LzoLockHold {
  public:
    LzoLockHold(LzoLock& lock, int slot) : lock_(lock), slot_(slot) { lock_.Enter(slot_); }
    ~LzoLockHold() { lock_.Leave(slot_); }
    LzoLockHold(const LzoLockHold&) = delete;
    LzoLockHold& operator=(const LzoLockHold&) = delete;

  private:
    LzoLock& lock_;
    int slot_;
};

}  // namespace

LzoShared::LzoShared() : lzoWorkMemory_(NewLzoWorkMemory()) {}

LzoShared::~LzoShared() = default;

bool LzoShared::Init(int slot) {
    LzoLockHold hold(lzoLock_, slot);
    return LzoInit();
}

LzoResult LzoShared::Compress(int slot, const std::uint8_t* in, std::size_t length,
                              std::uint8_t* out) {
    LzoLockHold hold(lzoLock_, slot);
    return LzoCompress(in, length, out, lzoWorkMemory_.get());
}

}  // namespace zembra
