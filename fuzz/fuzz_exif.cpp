// Arbitrary bytes as the payload of an APP1 segment: the orientation must
// come out as 1..8 whatever the offsets and counts inside say.

#include "imaging/Exif.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    int const orientation = qv::exif_orientation({ data, size });
    if (orientation < 1 || orientation > 8)
        std::abort();
    return 0;
}
