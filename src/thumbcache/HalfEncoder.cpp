#include "thumbcache/HalfEncoder.h"

#include <algorithm>

namespace qv {

std::unique_ptr<HalfEncoder> HalfEncoder::open(WStringView path, int width, int height)
{
    if (width / 2 < 1 || height / 2 < 1)
        return nullptr;
    auto encoder = JpegEncoder::open(path, width / 2, height / 2);
    if (!encoder)
        return nullptr;
    return std::unique_ptr<HalfEncoder>(new HalfEncoder(std::move(encoder), width, height));
}

std::unique_ptr<HalfEncoder> HalfEncoder::open_memory(std::vector<std::uint8_t>& out, int width, int height)
{
    if (width / 2 < 1 || height / 2 < 1)
        return nullptr;
    auto encoder = JpegEncoder::open_memory(out, width / 2, height / 2);
    if (!encoder)
        return nullptr;
    return std::unique_ptr<HalfEncoder>(new HalfEncoder(std::move(encoder), width, height));
}

HalfEncoder::HalfEncoder(std::unique_ptr<JpegEncoder> encoder, int width, int height)
    : m_encoder(std::move(encoder))
    , m_width(width)
    , m_height(height)
    , m_kept(static_cast<size_t>(width) * 3)
    , m_half(static_cast<size_t>(width / 2) * 3)
{
}

void HalfEncoder::average_rows(std::span<std::uint8_t const> upper, std::span<std::uint8_t const> lower,
    std::span<std::uint8_t> half)
{
    size_t pixels = half.size() / 3;
    for (size_t i = 0; i < pixels; ++i) {
        for (size_t c = 0; c < 3; ++c) {
            unsigned sum = upper[6 * i + c] + upper[6 * i + 3 + c] + lower[6 * i + c] + lower[6 * i + 3 + c];
            half[3 * i + c] = static_cast<std::uint8_t>((sum + 2) / 4);
        }
    }
}

bool HalfEncoder::write_row(std::span<std::uint8_t const> rgb)
{
    int row = m_row++;
    if (row >= (m_height / 2) * 2)
        return true; // the odd last row is dropped
    if (row % 2 == 0) {
        std::copy(rgb.begin(), rgb.begin() + static_cast<std::ptrdiff_t>(m_kept.size()), m_kept.begin());
        return true;
    }
    average_rows(m_kept, rgb, m_half);
    return m_encoder->write_row(m_half);
}

bool HalfEncoder::finish() { return m_encoder->finish(); }

}
