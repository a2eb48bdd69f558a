#pragma once

// Buffers for drawing tests: sources whose pixels name their own position,
// and blank destinations, so a test can tell which source pixel went where.

#include "imaging/PixelBuffer.h"

#include <cstdint>
#include <memory>

namespace qv::test {

inline constexpr std::uint16_t kBlank = 0x0001;

inline std::uint16_t mark(int x, int y) { return static_cast<std::uint16_t>(0x1000 + y * 256 + x); }

inline std::unique_ptr<PixelBuffer> filled(int w, int h, std::uint16_t (*value)(int, int))
{
    auto buffer = PixelBuffer::create(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            buffer->at(x, y) = value(x, y);
    return buffer;
}

inline std::unique_ptr<PixelBuffer> marked_source(int w, int h) { return filled(w, h, mark); }
inline std::unique_ptr<PixelBuffer> blank(int w, int h)
{
    return filled(w, h, [](int, int) { return kBlank; });
}

}
