// libFuzzer entry: SeedLink framing and the miniSEED records inside, and a source that a server
// on loopback feeds the input to (its resets and reconnects).
#include "SeedLinkDriver.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)runSeedLink(
        QByteArrayView(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    return 0;
}
