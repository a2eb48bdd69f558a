#include "imaging/CubicResample.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace qv {

namespace {

// Catmull-Rom: the cubic through the neighbours' values with their central
// slopes (Keys' a = -0.5); sharp, and a constant stays exactly constant.
double catmull_rom(double x)
{
    x = std::fabs(x);
    if (x < 1)
        return (1.5 * x - 2.5) * x * x + 1;
    if (x < 2)
        return ((-0.5 * x + 2.5) * x - 4) * x + 2;
    return 0;
}

// Every output pixel's taps along one axis: `count` source indices (edges
// repeated) and their weights, which add up to one.
struct AxisTaps {
    int count { 0 };
    std::vector<int> index;
    std::vector<float> weight;
};

AxisTaps axis_taps(int source_size, double start, double length, int out)
{
    double const step = length / out;
    double const stretch = std::max(step, 1.0);
    double const radius = 2 * stretch;
    AxisTaps taps;
    taps.count = static_cast<int>(std::ceil(2 * radius)) + 1;
    taps.index.resize(static_cast<std::size_t>(out) * static_cast<std::size_t>(taps.count));
    taps.weight.resize(taps.index.size());
    for (int i = 0; i < out; ++i) {
        // Pixel centres sit at half-integers of the window.
        double const centre = start + (i + 0.5) * step - 0.5;
        auto const first = static_cast<int>(std::floor(centre - radius)) + 1;
        double sum = 0;
        std::size_t const at = static_cast<std::size_t>(i) * static_cast<std::size_t>(taps.count);
        for (int k = 0; k < taps.count; ++k) {
            double const w = catmull_rom((first + k - centre) / stretch);
            taps.index[at + static_cast<std::size_t>(k)] = std::clamp(first + k, 0, source_size - 1);
            taps.weight[at + static_cast<std::size_t>(k)] = static_cast<float>(w);
            sum += w;
        }
        for (int k = 0; k < taps.count; ++k)
            taps.weight[at + static_cast<std::size_t>(k)] = static_cast<float>(taps.weight[at + static_cast<std::size_t>(k)] / sum);
    }
    return taps;
}

}

RgbImage resample_cubic(RgbImage const& source, SourceWindow window, int out_width, int out_height)
{
    RgbImage out;
    if (source.width < 1 || source.height < 1 || out_width < 1 || out_height < 1 || !(window.width > 0)
        || !(window.height > 0))
        return out;
    AxisTaps const across = axis_taps(source.width, window.x, window.width, out_width);
    AxisTaps const down = axis_taps(source.height, window.y, window.height, out_height);

    // Only the source rows some output row reads are filtered across.
    std::vector<char> needed(static_cast<std::size_t>(source.height), 0);
    for (int index : down.index)
        needed[static_cast<std::size_t>(index)] = 1;
    std::size_t const row_floats = static_cast<std::size_t>(out_width) * 3;
    std::vector<float> rows(static_cast<std::size_t>(source.height) * row_floats);
    for (int y = 0; y < source.height; ++y) {
        if (!needed[static_cast<std::size_t>(y)])
            continue;
        std::uint8_t const* in = source.rgb.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(source.width) * 3;
        float* row = rows.data() + static_cast<std::size_t>(y) * row_floats;
        for (int x = 0; x < out_width; ++x) {
            float r = 0, g = 0, b = 0;
            std::size_t const at = static_cast<std::size_t>(x) * static_cast<std::size_t>(across.count);
            for (int k = 0; k < across.count; ++k) {
                float const w = across.weight[at + static_cast<std::size_t>(k)];
                std::uint8_t const* p = in + 3 * across.index[at + static_cast<std::size_t>(k)];
                r += w * p[0];
                g += w * p[1];
                b += w * p[2];
            }
            row[3 * x] = r;
            row[3 * x + 1] = g;
            row[3 * x + 2] = b;
        }
    }

    out.width = out_width;
    out.height = out_height;
    out.rgb.resize(static_cast<std::size_t>(out_width) * static_cast<std::size_t>(out_height) * 3);
    std::vector<float> sum(row_floats);
    for (int y = 0; y < out_height; ++y) {
        std::fill(sum.begin(), sum.end(), 0.0f);
        std::size_t const at = static_cast<std::size_t>(y) * static_cast<std::size_t>(down.count);
        for (int k = 0; k < down.count; ++k) {
            float const w = down.weight[at + static_cast<std::size_t>(k)];
            float const* row = rows.data() + static_cast<std::size_t>(down.index[at + static_cast<std::size_t>(k)]) * row_floats;
            for (std::size_t i = 0; i < row_floats; ++i)
                sum[i] += w * row[i];
        }
        std::uint8_t* target = out.rgb.data() + static_cast<std::size_t>(y) * row_floats;
        for (std::size_t i = 0; i < row_floats; ++i)
            target[i] = static_cast<std::uint8_t>(std::clamp(sum[i] + 0.5f, 0.0f, 255.0f));
    }
    return out;
}

}
