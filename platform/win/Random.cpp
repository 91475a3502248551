#include "platform/Random.h"

#include <windows.h>
// After windows.h, whose types it uses.
#include <bcrypt.h>

namespace zembra {

bool SystemRandomBytes(std::uint8_t* bytes, std::size_t count) {
    while (count > 0) {  // BCryptGenRandom takes a 32-bit length
        const ULONG piece = count > 0x10000000 ? 0x10000000 : static_cast<ULONG>(count);
        if (BCryptGenRandom(nullptr, bytes, piece, BCRYPT_USE_SYSTEM_PREFERRED_RNG) < 0)
            return false;
        bytes += piece;
        count -= piece;
    }
    return true;
}

}  // namespace zembra
