#include "protocol/LzoCompressor.h"

#include <lzo/lzo1x.h>

namespace zembra {

bool LzoInit() {
    return lzo_init() == LZO_E_OK;
}

LzoResult LzoCompress(const std::uint8_t* in, std::size_t length, std::uint8_t* out,
                      std::uint8_t* workMemory) {
    lzo_uint outLength = 0;
    const int rc = lzo1x_1_compress(in, length, out, &outLength, workMemory);
    return {rc == LZO_E_OK, outLength};
}

std::unique_ptr<std::uint8_t[]> NewLzoWorkMemory() {
    return std::unique_ptr<std::uint8_t[]>(new std::uint8_t[LZO1X_1_MEM_COMPRESS]);
}

OwnLzoCompressor::OwnLzoCompressor() : workMemory_(NewLzoWorkMemory()) {}

bool OwnLzoCompressor::Init() {
    return LzoInit();
}

LzoResult OwnLzoCompressor::Compress(const std::uint8_t* in, std::size_t length,
                                     std::uint8_t* out) {
    return LzoCompress(in, length, out, workMemory_.get());
}

}  // namespace zembra
