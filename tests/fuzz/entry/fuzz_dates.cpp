#include "tests/fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zembra::fuzz::RecordTimeBounds(data, size);
    return 0;
}
