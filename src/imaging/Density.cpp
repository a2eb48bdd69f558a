#include "imaging/Density.h"

#include "base/FileStream.h"
#include "base/Log.h"
#include "imaging/Picture.h"
#include "imaging/Resample.h"

namespace qv {

std::string density_suffix(std::int32_t quarters)
{
    if (quarters == 4)
        return {};
    std::string text = "@" + std::to_string(quarters / 4);
    if (std::int32_t const part = quarters % 4; part != 0)
        text += part == 2 ? ".5" : part == 1 ? ".25" : ".75";
    return text + "x";
}

std::vector<std::int32_t> density_preference(std::int32_t quarters)
{
    std::vector<std::int32_t> order;
    for (auto density : kPictureDensities) {
        if (density >= quarters)
            order.push_back(density);
    }
    for (auto it = kPictureDensities.rbegin(); it != kPictureDensities.rend(); ++it) {
        if (*it < quarters)
            order.push_back(*it);
    }
    return order;
}

ScaledPicture load_bmp_for_scale(WStringView name, std::int32_t quarters)
{
    quarters = std::clamp(quarters, kMinScaleQuarters, kMaxScaleQuarters);
    for (auto density : density_preference(quarters)) {
        std::unique_ptr<PixelBuffer> buffer;
        {
            FileStream file;
            if (file.open(WString(name) + from_utf8(density_suffix(density)) + u".bmp", OpenMode::Read))
                buffer = read_bmp_565(file);
        }
        if (!buffer)
            continue;
        auto scaled = [&](std::int32_t side) { return scale_length(std::max(1, design_side(side, density)), quarters); };
        Size const size { scaled(buffer->width()), scaled(buffer->height()) };
        if (size.width != buffer->width() || size.height != buffer->height()) {
            buffer = resample_keyed(*buffer, size);
            if (!buffer) {
                Log::get() << u"load_bmp_for_scale " << name << u" cannot be resampled\n";
                return {};
            }
        }
        return { std::move(buffer), density };
    }
    return {};
}

}
