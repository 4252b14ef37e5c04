#include "targets/targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    keldrin::fuzz::rowPayloadOne(data, size);
    return 0;
}
