#include "imaging/PngImage.h"

#include <algorithm>

namespace qv {

bool save_png(PixelBuffer const& buffer, WStringView path)
{
    return platform::save_png({ buffer.width(), buffer.height(), buffer.pitch(), buffer.pixels() }, path);
}

std::unique_ptr<PixelBuffer> load_png(WStringView path, platform::PngAlpha alpha)
{
    auto picture = platform::load_png(path, alpha);
    if (!picture)
        return nullptr;
    auto buffer = PixelBuffer::create(picture->width, picture->height);
    if (!buffer)
        return nullptr;
    for (std::int32_t y = 0; y < picture->height; ++y)
        std::copy_n(picture->pixels.data() + static_cast<std::size_t>(y) * picture->width, picture->width, buffer->row(y));
    return buffer;
}

}
