// Helper of the whole-program tests: turns an X window dump into a PNG and
// answers questions about a PNG's size and pixels, so that the test scripts
// need no image tools beyond the X server's own.
//
//   png_probe xwd IN.xwd OUT.png
//   png_probe size FILE.png WIDTH HEIGHT
//   png_probe pixel FILE.png X Y R G B     (each channel within 8)
//   png_probe compare GOT.png REFERENCE.png PERCENT [X Y W H]...
//       the two pictures are equally large and at most PERCENT % of their
//       pixels differ by more than 24 in any channel (fonts and timing may
//       move a few pixels; a missing or misplaced element moves many); the
//       rectangles, when given, are left out (the frame-time overlay that a
//       logging run draws, a list whose resting place depends on timing)
//   png_probe identical A.png B.png [X Y W H]...
//       every pixel the same, the rectangles left out: what one script gives
//       on a quiet and on a busy machine
//   png_probe share FILE.png X Y W H R G B MIN MAX
//       of the rectangle's pixels, between MIN and MAX percent are the
//       colour (within 24 in every channel, as compare counts them): where
//       a picture shows a field of one colour, or where a text is drawn
//   png_probe jpeg OUT.jpg WIDTH HEIGHT SEED   a test picture

#include "imaging/JpegCodec.h"
#include "imaging/PixelBuffer.h"
#include "imaging/PngImage.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace qv;

namespace {

std::uint32_t be32(std::vector<std::uint8_t> const& d, std::size_t at)
{
    return (std::uint32_t { d[at] } << 24) | (std::uint32_t { d[at + 1] } << 16) | (std::uint32_t { d[at + 2] } << 8)
        | d[at + 3];
}

int channel_shift(std::uint32_t mask)
{
    int shift = 0;
    while (mask && !(mask & 1)) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

int xwd_to_png(char const* in, char const* out)
{
    std::ifstream file(in, std::ios::binary);
    std::vector<std::uint8_t> d((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (d.size() < 100) {
        std::fprintf(stderr, "png_probe: %s is not a window dump\n", in);
        return 2;
    }
    auto field = [&](int i) { return be32(d, static_cast<std::size_t>(i) * 4); };
    std::uint32_t const header = field(0), version = field(1), format = field(2);
    std::uint32_t const width = field(4), height = field(5), byte_order = field(7);
    std::uint32_t const bpp = field(11), line = field(12);
    std::uint32_t const red = field(14), green = field(15), blue = field(16), ncolors = field(19);
    // Only the true-colour dumps of a 24-bit server are expected; the sizes
    // are checked against the file before any pixel is read.
    if (version != 7 || format != 2 || (bpp != 32 && bpp != 24) || width == 0 || height == 0 || width > 16384
        || height > 16384 || line < width * (bpp / 8)) {
        std::fprintf(stderr, "png_probe: unsupported window dump\n");
        return 2;
    }
    std::uint64_t const pixels_at = std::uint64_t { header } + std::uint64_t { ncolors } * 12;
    if (pixels_at + std::uint64_t { line } * height > d.size()) {
        std::fprintf(stderr, "png_probe: window dump cut short\n");
        return 2;
    }
    auto buffer = PixelBuffer::create(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height));
    int const rs = channel_shift(red), gs = channel_shift(green), bs = channel_shift(blue);
    for (std::uint32_t y = 0; y < height; ++y) {
        std::uint8_t const* row = d.data() + pixels_at + std::uint64_t { line } * y;
        for (std::uint32_t x = 0; x < width; ++x) {
            std::uint8_t const* p = row + x * (bpp / 8);
            std::uint32_t value = 0;
            for (std::uint32_t b = 0; b < bpp / 8; ++b)
                value |= byte_order == 0 ? std::uint32_t { p[b] } << (8 * b) : std::uint32_t { p[b] } << (8 * (bpp / 8 - 1 - b));
            std::uint32_t const r = (value & red) >> rs, g = (value & green) >> gs, bl = (value & blue) >> bs;
            buffer->at(static_cast<std::int32_t>(x), static_cast<std::int32_t>(y))
                = static_cast<std::uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (bl >> 3));
        }
    }
    return save_png(*buffer, from_utf8(out)) ? 0 : 2;
}

void channels(std::uint16_t p, int out[3])
{
    out[0] = ((p >> 11) & 31) * 255 / 31;
    out[1] = ((p >> 5) & 63) * 255 / 63;
    out[2] = (p & 31) * 255 / 31;
}

int compare_png(char const* got_path, char const* reference_path, double percent, std::vector<int> const& skip,
    int tolerance = 24)
{
    auto got = load_png(from_utf8(got_path));
    auto reference = load_png(from_utf8(reference_path));
    if (!got || !reference) {
        std::fprintf(stderr, "png_probe: cannot read %s\n", got ? reference_path : got_path);
        return 2;
    }
    if (got->width() != reference->width() || got->height() != reference->height()) {
        std::fprintf(stderr, "png_probe: %s is %d x %d, the reference %d x %d\n", got_path, got->width(),
            got->height(), reference->width(), reference->height());
        return 1;
    }
    std::int64_t differing = 0;
    for (int y = 0; y < got->height(); ++y)
        for (int x = 0; x < got->width(); ++x) {
            bool skipped = false;
            for (std::size_t r = 0; r + 3 < skip.size(); r += 4)
                skipped = skipped
                    || (x >= skip[r] && y >= skip[r + 1] && x < skip[r] + skip[r + 2] && y < skip[r + 1] + skip[r + 3]);
            if (skipped)
                continue;
            int a[3], b[3];
            channels(got->at(x, y), a);
            channels(reference->at(x, y), b);
            if (std::abs(a[0] - b[0]) > tolerance || std::abs(a[1] - b[1]) > tolerance
                || std::abs(a[2] - b[2]) > tolerance)
                ++differing;
        }
    double const share = 100.0 * static_cast<double>(differing) / (double(got->width()) * got->height());
    if (share > percent || (percent == 0 && differing > 0)) {
        std::fprintf(stderr, "png_probe: %s differs from %s in %.2f %% of its pixels\n", got_path, reference_path,
            share);
        return 1;
    }
    return 0;
}

int colour_share(char const* path, int const rect[4], int const want[3], double min_percent, double max_percent)
{
    auto png = load_png(from_utf8(path));
    if (!png) {
        std::fprintf(stderr, "png_probe: cannot read %s\n", path);
        return 2;
    }
    int const x0 = rect[0], y0 = rect[1], w = rect[2], h = rect[3];
    if (w <= 0 || h <= 0 || x0 < 0 || y0 < 0 || x0 + w > png->width() || y0 + h > png->height()) {
        std::fprintf(stderr, "png_probe: the rectangle is not inside %s\n", path);
        return 2;
    }
    std::int64_t matching = 0, sum[3] = { 0, 0, 0 };
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x) {
            int c[3];
            channels(png->at(x, y), c);
            for (int k = 0; k < 3; ++k)
                sum[k] += c[k];
            if (std::abs(c[0] - want[0]) <= 24 && std::abs(c[1] - want[1]) <= 24 && std::abs(c[2] - want[2]) <= 24)
                ++matching;
        }
    std::int64_t const n = std::int64_t { w } * h;
    double const share = 100.0 * static_cast<double>(matching) / static_cast<double>(n);
    if (share < min_percent || share > max_percent) {
        std::fprintf(stderr, "png_probe: %s at %d,%d %dx%d: %.1f %% of the pixels are %d %d %d (mean %d %d %d),"
                             " expected %g to %g %%\n",
            path, x0, y0, w, h, share, want[0], want[1], want[2], static_cast<int>(sum[0] / n),
            static_cast<int>(sum[1] / n), static_cast<int>(sum[2] / n), min_percent, max_percent);
        return 1;
    }
    return 0;
}

// Smooth colour fields that differ by seed, so that thumbnails of one album
// can be told apart.
int write_jpeg(char const* path, int width, int height, int seed)
{
    auto encoder = JpegEncoder::open(from_utf8(path), width, height);
    if (!encoder)
        return 2;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            row[3 * x] = static_cast<std::uint8_t>((x * 255 / width + seed * 53) & 255);
            row[3 * x + 1] = static_cast<std::uint8_t>((y * 255 / height + seed * 97) & 255);
            row[3 * x + 2] = static_cast<std::uint8_t>((seed * 71 + (x + y) / 4) & 255);
        }
        if (!encoder->write_row(row))
            return 2;
    }
    return encoder->finish() ? 0 : 2;
}

}

int main(int argc, char** argv)
{
    std::string const mode = argc > 1 ? argv[1] : "";
    if (mode == "xwd" && argc == 4)
        return xwd_to_png(argv[2], argv[3]);
    if (mode == "compare" && argc >= 5 && (argc - 5) % 4 == 0) {
        std::vector<int> skip;
        for (int i = 5; i < argc; ++i)
            skip.push_back(std::atoi(argv[i]));
        return compare_png(argv[2], argv[3], std::atof(argv[4]), skip);
    }
    if (mode == "identical" && argc >= 4 && (argc - 4) % 4 == 0) {
        std::vector<int> skip;
        for (int i = 4; i < argc; ++i)
            skip.push_back(std::atoi(argv[i]));
        return compare_png(argv[2], argv[3], 0, skip, 0);
    }
    if (mode == "share" && argc == 12) {
        int const rect[4] = { std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]), std::atoi(argv[6]) };
        int const want[3] = { std::atoi(argv[7]), std::atoi(argv[8]), std::atoi(argv[9]) };
        return colour_share(argv[2], rect, want, std::atof(argv[10]), std::atof(argv[11]));
    }
    if (mode == "jpeg" && argc == 6)
        return write_jpeg(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
    if ((mode == "size" && argc == 5) || (mode == "pixel" && argc == 8)) {
        auto png = load_png(from_utf8(argv[2]));
        if (!png) {
            std::fprintf(stderr, "png_probe: cannot read %s\n", argv[2]);
            return 2;
        }
        if (mode == "size") {
            bool const ok = png->width() == std::atoi(argv[3]) && png->height() == std::atoi(argv[4]);
            if (!ok)
                std::fprintf(stderr, "png_probe: %s is %d x %d\n", argv[2], png->width(), png->height());
            return ok ? 0 : 1;
        }
        int const x = std::atoi(argv[3]), y = std::atoi(argv[4]);
        if (x < 0 || y < 0 || x >= png->width() || y >= png->height())
            return 1;
        int got[3];
        channels(png->at(x, y), got);
        int const r = got[0], g = got[1], b = got[2];
        int const want[3] = { std::atoi(argv[5]), std::atoi(argv[6]), std::atoi(argv[7]) };
        bool const ok = std::abs(r - want[0]) <= 8 && std::abs(g - want[1]) <= 8 && std::abs(b - want[2]) <= 8;
        if (!ok)
            std::fprintf(stderr, "png_probe: %s at %d,%d is %d %d %d, expected %d %d %d\n", argv[2], x, y, r, g, b,
                want[0], want[1], want[2]);
        return ok ? 0 : 1;
    }
    std::fprintf(stderr, "usage: png_probe xwd IN OUT | size FILE W H | pixel FILE X Y R G B | compare GOT REF PERCENT"
                         " | share FILE X Y W H R G B MIN MAX | jpeg OUT W H SEED\n");
    return 2;
}
