// libFuzzer entry: the SAC decoder followed by the whole processing chain.
#include "SacChainDriver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    runSacChain(std::as_bytes(std::span(data, size)));
    return 0;
}
