#include "multi/LzoShared.h"

#include <lzo/lzo1x.h>

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

LzoShared::LzoShared() : lzoWorkMemory_(new std::uint8_t[LZO1X_1_MEM_COMPRESS]) {}

LzoShared::~LzoShared() = default;

bool LzoShared::Init(int slot) {
    LzoLockHold hold(lzoLock_, slot);
    return lzo_init() == LZO_E_OK;
}

LzoResult LzoShared::Compress(int slot, const std::uint8_t* in, std::size_t length,
                              std::uint8_t* out) {
    LzoResult result;
    lzo_uint outLength = 0;
    LzoLockHold hold(lzoLock_, slot);
    const int rc = lzo1x_1_compress(in, length, out, &outLength, lzoWorkMemory_.get());
    result.ok = rc == LZO_E_OK;
    result.length = outLength;
    return result;
}

}  // namespace zembra
