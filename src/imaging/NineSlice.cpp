#include "imaging/NineSlice.h"

#include <algorithm>

namespace qv {

AxisRuns split_axis(std::int32_t outer_start, std::int32_t inner_start, std::int32_t inner_end,
    std::int32_t outer_end, std::int32_t length, std::int32_t visible_begin, std::int32_t visible_end)
{
    AxisRuns runs;
    if (length <= 0)
        return runs;
    std::int32_t b1 = inner_start - outer_start;
    std::int32_t b2 = outer_end - inner_end;
    runs.start_source = outer_start;
    if (std::int64_t { b1 } + b2 < length) {
        runs.start_length = b1;
        runs.end_length = b2;
        runs.end_source = inner_end;
    } else {
        // The borders do not fit: each keeps about half the length, the end
        // run taken from the far end of its border, and one centre pixel
        // is left between them.
        std::int32_t half = length / 2;
        std::int32_t m = (length - 1) / 2 + (b1 < half ? half - b1 : 0);
        runs.end_length = std::min(b2, m);
        runs.end_source = outer_end - runs.end_length;
        runs.start_length = std::min(b1, half) + (b2 < m ? m - b2 : 0);
    }
    runs.centre_length = length - runs.start_length - runs.end_length;

    std::int32_t range = inner_end - inner_start;
    std::int32_t cut = std::clamp(visible_begin, 0, length);
    std::int32_t taken = std::min(cut, runs.start_length);
    runs.start_length -= taken;
    runs.start_source += taken;
    cut -= taken;
    taken = std::min(cut, runs.centre_length);
    runs.centre_length -= taken;
    runs.centre_phase = range > 0 ? taken % range : 0;
    cut -= taken;
    taken = std::min(cut, runs.end_length);
    runs.end_length -= taken;
    runs.end_source += taken;

    cut = length - std::clamp(visible_end, 0, length);
    taken = std::min(cut, runs.end_length);
    runs.end_length -= taken;
    cut -= taken;
    taken = std::min(cut, runs.centre_length);
    runs.centre_length -= taken;
    cut -= taken;
    runs.start_length -= std::min(cut, runs.start_length);
    return runs;
}

}
