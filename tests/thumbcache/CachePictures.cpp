#include "CachePictures.h"
#include "thumbcache/CacheFile.h"
#include "imaging/JpegCodec.h"
#include "support/TestSupport.h"
#include "thumbcache/CacheLocation.h"

#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>

namespace qv::test {

std::filesystem::path make_cache_directory(WStringView root)
{
    auto const directory = system_form(cache_directory_of(root));
    std::filesystem::create_directories(directory);
    return directory;
}

std::vector<std::uint8_t> pattern_row(int width, int y)
{
    std::vector<std::uint8_t> row(static_cast<size_t>(width) * 3);
    for (int x = 0; x < width; ++x) {
        row[3 * x] = static_cast<std::uint8_t>(128 + 100 * std::sin(x * 0.09));
        row[3 * x + 1] = static_cast<std::uint8_t>(128 + 100 * std::sin(y * 0.11));
        row[3 * x + 2] = static_cast<std::uint8_t>(128 + 80 * std::sin((x + y) * 0.05));
    }
    return row;
}

bool write_pattern_jpeg(std::filesystem::path const& path, int width, int height)
{
    auto encoder = JpegEncoder::open(program_form(path), width, height);
    if (!encoder)
        return false;
    for (int y = 0; y < height; ++y) {
        if (!encoder->write_row(pattern_row(width, y)))
            return false;
    }
    return encoder->finish();
}

bool write_progressive_jpeg(std::filesystem::path const& path, int width, int height)
{
    auto ppm = path.string() + ".ppm";
    {
        std::ofstream out(ppm, std::ios::binary);
        out << "P6\n" << width << " " << height << "\n255\n";
        for (int y = 0; y < height; ++y) {
            auto row = pattern_row(width, y);
            out.write(reinterpret_cast<char const*>(row.data()), static_cast<std::streamsize>(row.size()));
        }
    }
    std::string command = "cjpeg -progressive -outfile '" + path.string() + "' '" + ppm + "'";
    bool ok = std::system(command.c_str()) == 0;
    std::filesystem::remove(ppm);
    return ok;
}

bool write_ppm(std::filesystem::path const& path, int width, int height,
    std::vector<std::uint8_t> (*row)(int width, int y))
{
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << width << " " << height << "\n255\n";
    for (int y = 0; y < height; ++y) {
        auto bytes = row(width, y);
        out.write(reinterpret_cast<char const*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    return static_cast<bool>(out);
}

bool run_tool(std::string const& command_line) { return std::system(command_line.c_str()) == 0; }

bool write_cmyk_jpeg(std::filesystem::path const& path, int width, int height, bool ycck)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    jpeg_compress_struct cinfo {};
    jpeg_error_mgr errors {};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_colorspace(&cinfo, ycck ? JCS_YCCK : JCS_CMYK);
    jpeg_set_quality(&cinfo, 95, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<std::uint8_t> cmyk(static_cast<size_t>(width) * 4);
    for (int y = 0; y < height; ++y) {
        auto rgb = pattern_row(width, y);
        // Inverted inks with no black: the stored values are the RGB ones.
        for (int x = 0; x < width; ++x) {
            std::copy_n(rgb.begin() + 3 * x, 3, cmyk.begin() + 4 * x);
            cmyk[4 * x + 3] = 255;
        }
        JSAMPROW rows[1] = { cmyk.data() };
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return std::fclose(file) == 0;
}

std::vector<std::uint8_t> squares_row(int width, int y)
{
    std::vector<std::uint8_t> row(static_cast<size_t>(width) * 3);
    for (int x = 0; x < width; ++x) {
        unsigned const cell = static_cast<unsigned>(x / 64) * 7919u + static_cast<unsigned>(y / 64) * 104729u;
        unsigned const hash = cell * 2654435761u;
        row[3 * x] = static_cast<std::uint8_t>(hash >> 24);
        row[3 * x + 1] = static_cast<std::uint8_t>(hash >> 16);
        row[3 * x + 2] = static_cast<std::uint8_t>(hash >> 8);
    }
    return row;
}

std::unique_ptr<PixelBuffer> decode_whole(WStringView path) { return decode_scaled(path, 1); }

double mean_difference(PixelBuffer const& a, int ax, int ay, PixelBuffer const& b, int bx, int by, int w, int h)
{
    double total = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            auto p = a.at(ax + x, ay + y), q = b.at(bx + x, by + y);
            total += std::abs(((p >> 11) & 31) - ((q >> 11) & 31)) * 255.0 / 31;
            total += std::abs(((p >> 5) & 63) - ((q >> 5) & 63)) * 255.0 / 63;
            total += std::abs((p & 31) - (q & 31)) * 255.0 / 31;
        }
    }
    return total / (3.0 * w * h);
}

void reseal_cache(std::vector<unsigned char>& bytes)
{
    // The checksum sits 12 bytes before the end; the path's length 6.
    std::size_t const end = bytes.size();
    std::size_t const path = bytes[end - 6] | std::size_t { bytes[end - 5] } << 8;
    std::size_t const body = end - kIdentityRecordFixed - path;
    std::uint32_t const checksum = body_checksum({ bytes.data(), body });
    for (int i = 0; i < 4; ++i)
        bytes[end - 12 + static_cast<std::size_t>(i)] = static_cast<unsigned char>(checksum >> (8 * i));
}

}
