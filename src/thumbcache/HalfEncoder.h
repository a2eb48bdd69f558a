#pragma once

// The halving step of the thumbnail: rows in, a JPEG of half the size out,
// without ever holding a whole picture. One thread per encoder; a failed
// write fails the encoder for good.

#include "core/WString.h"
#include "imaging/JpegCodec.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace qv {

// Writes a picture at half the width and height of the rows it is fed:
// every output pixel is the rounded mean of a 2 × 2 block; a last odd row
// and column are dropped.
class HalfEncoder {
public:
    // Null when the half picture would be empty or the file cannot be made.
    static std::unique_ptr<HalfEncoder> open(WStringView path, int width, int height);
    // The same appended to `out`, which must outlive the encoder.
    static std::unique_ptr<HalfEncoder> open_memory(std::vector<std::uint8_t>& out, int width, int height);

    bool write_row(std::span<std::uint8_t const> rgb);
    bool finish();

    static void average_rows(std::span<std::uint8_t const> upper, std::span<std::uint8_t const> lower,
        std::span<std::uint8_t> half);

private:
    HalfEncoder(std::unique_ptr<JpegEncoder> encoder, int width, int height);

    std::unique_ptr<JpegEncoder> m_encoder;
    int m_width;
    int m_height;
    int m_row { 0 };
    std::vector<std::uint8_t> m_kept;
    std::vector<std::uint8_t> m_half;
};

}
