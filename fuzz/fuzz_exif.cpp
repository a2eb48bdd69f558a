// Arbitrary bytes as the payload of an APP1 segment: the orientation must
// come out as 1..8, and a date taken, when one is read, must hold fields in
// range, whatever the offsets and counts inside say.

#include "imaging/Exif.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    int const orientation = qv::exif_orientation({ data, size });
    if (orientation < 1 || orientation > 8)
        std::abort();
    if (auto const date = qv::exif_date_taken({ data, size })) {
        if (date->month < 1 || date->month > 12 || date->day < 1 || date->day > 31 || date->hour > 23
            || date->minute > 59 || date->second > 60)
            std::abort();
    }
    return 0;
}
