#include "imaging/Resample.h"

#include "imaging/PixelRules.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace qv {

namespace {

// The source pixels one target pixel covers along an axis, with the share
// of the target pixel each one covers (the shares add up to one).
struct Footprint {
    std::int32_t first { 0 };
    std::vector<double> weights;
};

std::vector<Footprint> footprints(std::int32_t from, std::int32_t to)
{
    std::vector<Footprint> result(static_cast<std::size_t>(to));
    double const step = double(from) / to;
    for (std::int32_t j = 0; j < to; ++j) {
        double const begin = j * step;
        double const end = (j + 1) * step;
        auto first = static_cast<std::int32_t>(std::floor(begin));
        auto last = std::min(from, static_cast<std::int32_t>(std::ceil(end)));
        Footprint& f = result[static_cast<std::size_t>(j)];
        f.first = first;
        for (std::int32_t i = first; i < last; ++i) {
            double const overlap = std::min<double>(end, i + 1) - std::max<double>(begin, i);
            f.weights.push_back(std::max(0.0, overlap) / step);
        }
    }
    return result;
}

// One source pixel as the averages see it: opacity, then colour and flag
// already multiplied by it, so that the key adds nothing but its area.
struct Sample {
    float opaque;
    float red;
    float green;
    float blue;
    float solid;
};

Sample sample_of(std::uint16_t p)
{
    if (p == kKeyColour)
        return { 0, 0, 0, 0, 0 };
    return { 1, float(p >> 11), float((p >> 5) & 0x3F), float(p & 0x1F), (p & kSolidFlag) ? 1.0f : 0.0f };
}

std::uint16_t pixel_of(Sample const& s)
{
    // Shares add to one up to rounding: a pixel exactly half covered is opaque.
    if (s.opaque < 0.5f - 1e-4f)
        return kKeyColour;
    float const scale = 1.0f / s.opaque;
    auto channel = [&](float value, int top) {
        return std::clamp(static_cast<int>(std::lround(value * scale)), 0, top);
    };
    int const red = channel(s.red, 31);
    int green = channel(s.green, 63);
    int blue = channel(s.blue, 31);
    int const solid = s.solid * scale >= 0.5f ? 1 : 0;
    if ((green & 1) != solid) {
        // The flag lives in the colour: the neighbour on the side of the
        // exact average, unless that leaves the range.
        bool const up = (s.green * scale > float(green) && green < 63) || green == 0;
        green += up ? 1 : -1;
    }
    auto word = static_cast<std::uint16_t>(red << 11 | green << 5 | blue);
    if (word == kKeyColour)
        word = static_cast<std::uint16_t>(word - 1); // blue 30: opaque, a shade off magenta
    return word;
}

}

std::unique_ptr<PixelBuffer> resample_keyed(PixelBuffer const& source, Size size)
{
    std::int32_t const sw = source.width();
    std::int32_t const sh = source.height();
    if (sw <= 0 || sh <= 0 || size.width <= 0 || size.height <= 0)
        return nullptr;
    auto target = PixelBuffer::create(size.width, size.height);
    if (!target)
        return nullptr;
    if (sw == size.width && sh == size.height) {
        for (std::int32_t y = 0; y < sh; ++y)
            std::memcpy(target->row(y), source.row(y), static_cast<std::size_t>(sw) * 2);
        return target;
    }

    // Rows first: each source row is averaged across into target columns,
    // then the columns down into target rows.
    std::vector<Footprint> const across = footprints(sw, size.width);
    std::vector<Footprint> const down = footprints(sh, size.height);
    std::vector<Sample> rows(static_cast<std::size_t>(sh) * size.width);
    for (std::int32_t y = 0; y < sh; ++y) {
        std::uint16_t const* in = source.row(y);
        Sample* out = rows.data() + static_cast<std::size_t>(y) * size.width;
        for (std::int32_t x = 0; x < size.width; ++x) {
            Footprint const& f = across[static_cast<std::size_t>(x)];
            Sample sum { 0, 0, 0, 0, 0 };
            for (std::size_t k = 0; k < f.weights.size(); ++k) {
                Sample const s = sample_of(in[f.first + static_cast<std::int32_t>(k)]);
                auto const w = static_cast<float>(f.weights[k]);
                sum = { sum.opaque + w * s.opaque, sum.red + w * s.red, sum.green + w * s.green,
                    sum.blue + w * s.blue, sum.solid + w * s.solid };
            }
            out[x] = sum;
        }
    }
    for (std::int32_t y = 0; y < size.height; ++y) {
        Footprint const& f = down[static_cast<std::size_t>(y)];
        std::uint16_t* out = target->row(y);
        for (std::int32_t x = 0; x < size.width; ++x) {
            Sample sum { 0, 0, 0, 0, 0 };
            for (std::size_t k = 0; k < f.weights.size(); ++k) {
                Sample const& s = rows[static_cast<std::size_t>(f.first + static_cast<std::int32_t>(k)) * size.width + x];
                auto const w = static_cast<float>(f.weights[k]);
                sum = { sum.opaque + w * s.opaque, sum.red + w * s.red, sum.green + w * s.green,
                    sum.blue + w * s.blue, sum.solid + w * s.solid };
            }
            out[x] = pixel_of(sum);
        }
    }
    return target;
}

}
