#include "protocol/LzoCompressor.h"

#include <lzo/lzo1x.h>

namespace zembra {

OwnLzoCompressor::OwnLzoCompressor() : workMemory_(new std::uint8_t[LZO1X_1_MEM_COMPRESS]) {}

bool OwnLzoCompressor::Init() {
    return lzo_init() == LZO_E_OK;
}

LzoResult OwnLzoCompressor::Compress(const std::uint8_t* in, std::size_t length,
                                     std::uint8_t* out) {
    lzo_uint outLength = 0;
    const int rc = lzo1x_1_compress(in, length, out, &outLength, workMemory_.get());
    return {rc == LZO_E_OK, outLength};
}

}  // namespace zembra
