#include "platform/PngFile.h"

#include "platform/Files.h"

#include <png.h>

#include <cstdio>
#include <vector>

namespace qv::platform {

namespace {

constexpr png_uint_32 kMaxSide = 16384;

// Bit replication, so that 565 -> 888 -> 565 gives back the same word and
// full channels become 255.
void to_rgb(std::uint16_t p, std::uint8_t* out)
{
    unsigned r = p >> 11, g = (p >> 5) & 0x3F, b = p & 0x1F;
    out[0] = static_cast<std::uint8_t>(r << 3 | r >> 2);
    out[1] = static_cast<std::uint8_t>(g << 2 | g >> 4);
    out[2] = static_cast<std::uint8_t>(b << 3 | b >> 2);
}

std::uint16_t to_565(std::uint8_t const* in)
{
    return static_cast<std::uint16_t>((in[0] >> 3) << 11 | (in[1] >> 2) << 5 | in[2] >> 3);
}

}

bool save_png(Rgb565Rows rows, WStringView path)
{
    if (rows.width <= 0 || rows.height <= 0 || !rows.pixels)
        return false;
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(rows.width) * rows.height * 3);
    std::uint8_t* out = rgb.data();
    for (std::int32_t y = 0; y < rows.height; ++y) {
        auto const* row = reinterpret_cast<std::uint16_t const*>(
            reinterpret_cast<std::uint8_t const*>(rows.pixels) + static_cast<std::ptrdiff_t>(y) * rows.pitch);
        for (std::int32_t x = 0; x < rows.width; ++x, out += 3)
            to_rgb(row[x], out);
    }

    png_image image {};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(rows.width);
    image.height = static_cast<png_uint_32>(rows.height);
    image.format = PNG_FORMAT_RGB;

    // Written beside the target and renamed, so a reader never sees half a file.
    std::string target = to_system_path(path);
    std::string scratch = target + ".partial";
    std::FILE* file = std::fopen(scratch.c_str(), "wb");
    if (!file)
        return false;
    bool written = png_image_write_to_stdio(&image, file, 0, rgb.data(), 0, nullptr) != 0;
    png_image_free(&image);
    written = std::fclose(file) == 0 && written;
    if (!written || std::rename(scratch.c_str(), target.c_str()) != 0) {
        std::remove(scratch.c_str());
        return false;
    }
    return true;
}

std::optional<Rgb565Picture> load_png(WStringView path, PngAlpha alpha)
{
    std::string name = to_system_path(path);
    png_image image {};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, name.c_str()))
        return std::nullopt;
    if (image.width == 0 || image.height == 0 || image.width > kMaxSide || image.height > kMaxSide) {
        png_image_free(&image);
        return std::nullopt;
    }
    image.format = PNG_FORMAT_RGBA;
    std::vector<std::uint8_t> rgba(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr)) {
        png_image_free(&image);
        return std::nullopt;
    }
    Rgb565Picture picture;
    picture.width = static_cast<std::int32_t>(image.width);
    picture.height = static_cast<std::int32_t>(image.height);
    picture.pixels.resize(static_cast<std::size_t>(picture.width) * picture.height);
    std::uint8_t const* in = rgba.data();
    for (auto& pixel : picture.pixels) {
        pixel = alpha == PngAlpha::KeyTransparent && in[3] < 128 ? std::uint16_t { 0xF81F } : to_565(in);
        in += 4;
    }
    return picture;
}

}
