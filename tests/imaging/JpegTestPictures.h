#pragma once

// Test pictures made with the JPEG library's own encoder, and the library's
// own decodes of them as the independent reference for the adapter.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace qv::test {

struct PictureShape {
    int width { 64 };
    int height { 48 };
    int h_sampling { 2 };      // of the luma component; chroma stays 1 × 1
    int v_sampling { 2 };
    bool grayscale { false };
    int restart_mcus { 0 };
    int restart_rows { 0 };
    bool progressive { false };
    int quality { 90 };
};

// A busy pattern: gradients, edges and noise, so that every kind of Huffman
// code turns up.
std::vector<std::uint8_t> test_pattern(int width, int height);
std::vector<std::uint8_t> make_jpeg(PictureShape const& shape);

struct Decoded {
    int width { 0 };
    int height { 0 };
    std::vector<std::uint8_t> rgb;
};

// The library's decode with the adapter's output settings (RGB, replicated
// chroma) and the given DCT scale; nullopt when the library gives up.
std::optional<Decoded> library_decode(std::span<std::uint8_t const> bytes, int denominator = 1);

// The quantized coefficients as the library's own Huffman decoder reads
// them, per component, in block rows padded to whole MCUs.
struct ComponentCoefficients {
    int h_sampling { 1 };
    int v_sampling { 1 };
    int blocks_across { 0 };
    int blocks_down { 0 };
    std::vector<std::int16_t> blocks;   // 64 per block, row-major
    std::int16_t const* block(int row, int column) const
    {
        return blocks.data() + (static_cast<std::size_t>(row) * static_cast<std::size_t>(blocks_across) + static_cast<std::size_t>(column)) * 64;
    }
};
std::vector<ComponentCoefficients> library_coefficients(std::span<std::uint8_t const> bytes);

// Offset of the first byte after the first scan header.
std::size_t scan_data_offset(std::span<std::uint8_t const> bytes);

}
