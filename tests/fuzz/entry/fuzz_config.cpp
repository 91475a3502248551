#include "tests/fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zembra::fuzz::ConfigRoundTrip(data, size);
    return 0;
}
