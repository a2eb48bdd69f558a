// quilvane-samples: makes a small sample library for a first look at the
// program when the pictures folder holds no JPEG yet.
//
//   quilvane-samples FOLDER
//
// Writes two albums under FOLDER: "Fractals" (a 17-megapixel Mandelbrot
// picture, large enough that only tiles can show it at full size, and a
// smaller detail of it) and "Colours" (a colour chart with its values as
// text, and a portrait-format evening sky). Pictures already there are kept.

#include "StandardOptions.h"
#include "base/Paths.h"
#include "imaging/JpegCodec.h"
#include "imaging/PixelOp.h"
#include "imaging/RenderSurface.h"
#include "platform/Files.h"
#include "platform/System.h"
#include "skin/FontRep.h"
#include "skin/TextDrawing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

using namespace qv;

namespace {

struct Rgb {
    double r, g, b;
};

// Calls `pixel(x, y)` for every pixel, one row at a time, into a JPEG file.
bool write_picture(std::filesystem::path const& path, int width, int height,
    std::function<Rgb(int, int)> const& pixel)
{
    if (std::filesystem::exists(path)) {
        std::printf("  %s: already there\n", path.filename().c_str());
        return true;
    }
    auto encoder = JpegEncoder::open(platform::from_system_path(path.string()), width, height);
    if (!encoder) {
        std::fprintf(stderr, "quilvane-samples: cannot create %s\n", path.c_str());
        return false;
    }
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3);
    bool const terminal = platform::stdout_is_terminal();
    if (!terminal)
        std::printf("  %s: %d x %d", path.filename().c_str(), width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            Rgb const c = pixel(x, y);
            row[3 * x] = static_cast<std::uint8_t>(std::clamp(c.r, 0.0, 255.0));
            row[3 * x + 1] = static_cast<std::uint8_t>(std::clamp(c.g, 0.0, 255.0));
            row[3 * x + 2] = static_cast<std::uint8_t>(std::clamp(c.b, 0.0, 255.0));
        }
        if (!encoder->write_row(row))
            break;
        if (terminal && (y % 64 == 0 || y + 1 == height)) {
            std::printf("\r  %s: %3d%%", path.filename().c_str(), (y + 1) * 100 / height);
            std::fflush(stdout);
        }
    }
    bool const ok = encoder->finish();
    std::printf(ok ? "\n" : " failed\n");
    return ok;
}

// Smooth escape-time colouring: a slow walk round a palette of deep blue,
// white and amber, black inside the set.
Rgb mandelbrot(double cx, double cy)
{
    constexpr int kLimit = 400;
    double x = 0, y = 0;
    int i = 0;
    for (; i < kLimit && x * x + y * y <= 256.0; ++i) {
        double const t = x * x - y * y + cx;
        y = 2 * x * y + cy;
        x = t;
    }
    if (i == kLimit)
        return { 0, 0, 0 };
    double const smooth = i + 1 - std::log2(std::log2(x * x + y * y) / 2);
    double const t = smooth * 0.035;
    return { 128 + 127 * std::sin(t * 6.2831 + 4.0), 128 + 127 * std::sin(t * 6.2831 + 2.2),
        128 + 127 * std::sin(t * 6.2831 + 0.5) };
}

std::function<Rgb(int, int)> fractal(int width, int height, double centre_x, double centre_y, double span)
{
    double const scale = span / width;
    return [=](int px, int py) {
        return mandelbrot(centre_x + (px - width / 2.0) * scale, centre_y + (py - height / 2.0) * scale);
    };
}

// A grid of hues by brightness, each cell labelled with its value, drawn
// with the program's own text drawing so that the chart also shows how
// text looks once it went through the JPEG codec.
bool write_chart(std::filesystem::path const& path)
{
    constexpr int kWidth = 1600, kHeight = 1200, kColumns = 8, kRows = 6, kTop = 120;
    RenderSurface surface;
    surface.recreate(Size { kWidth, kHeight });
    if (!surface.buffer())
        return false;
    auto& target = surface.target();
    fill_rect(target, 0, 0, kWidth, kHeight, ColourFillOp(0x18E3));
    FontDescription title_font;
    title_font.size = 40;
    title_font.bold = true;
    title_font.face = u"DejaVu Sans";
    FontDescription label_font = title_font;
    label_font.size = 14;
    label_font.bold = false;
    auto title = make_font(title_font);
    auto label = make_font(label_font);
    draw_text(*title, target, TextColour { 240, 240, 240 }, u"Colour chart", Point { 0, 0 }, Size { kWidth, kTop },
        HAlign::Center, VAlign::VCenter, TextWrap::SingleLine);
    int const cell_w = kWidth / kColumns, cell_h = (kHeight - kTop) / kRows;
    for (int row = 0; row < kRows; ++row)
        for (int column = 0; column < kColumns; ++column) {
            double const hue = column / double(kColumns) * 6.0;
            double const light = 1.0 - row / double(kRows - 1) * 0.8;
            double const f = hue - std::floor(hue);
            double channel[3];
            switch (static_cast<int>(hue)) {
            case 0: channel[0] = 1, channel[1] = f, channel[2] = 0; break;
            case 1: channel[0] = 1 - f, channel[1] = 1, channel[2] = 0; break;
            case 2: channel[0] = 0, channel[1] = 1, channel[2] = f; break;
            case 3: channel[0] = 0, channel[1] = 1 - f, channel[2] = 1; break;
            case 4: channel[0] = f, channel[1] = 0, channel[2] = 1; break;
            default: channel[0] = 1, channel[1] = 0, channel[2] = 1 - f; break;
            }
            int const r = static_cast<int>(channel[0] * light * 255), g = static_cast<int>(channel[1] * light * 255),
                      b = static_cast<int>(channel[2] * light * 255);
            auto const colour = static_cast<std::uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
            int const x = column * cell_w, y = kTop + row * cell_h;
            fill_rect(target, x + 6, y + 6, cell_w - 12, cell_h - 12, ColourFillOp(colour));
            char text[32];
            std::snprintf(text, sizeof text, "%d %d %d", r, g, b);
            TextColour const ink = light > 0.55 ? TextColour { 20, 20, 20 } : TextColour { 235, 235, 235 };
            draw_text(*label, target, ink, from_utf8(text), Point { x, y + cell_h - 40 }, Size { cell_w, 30 },
                HAlign::Center, VAlign::VCenter, TextWrap::SingleLine);
        }
    PixelBuffer const& pixels = *surface.buffer();
    return write_picture(path, kWidth, kHeight, [&](int x, int y) {
        std::uint16_t const p = pixels.at(x, y);
        return Rgb { double((p >> 11) << 3 | (p >> 13)), double(((p >> 5) & 63) << 2 | ((p >> 9) & 3)),
            double((p & 31) << 3 | ((p >> 2) & 7)) };
    });
}

// A tall evening sky over dark hills, with a low sun.
Rgb evening(int x, int y, int width, int height)
{
    double const u = x / double(width), v = y / double(height);
    double const hill = 0.72 + 0.05 * std::sin(u * 9.0) + 0.03 * std::sin(u * 23.0 + 1.0);
    if (v > hill)
        return { 20 + 30 * (1 - v), 25 + 25 * (1 - v), 35 };
    double const sun = std::hypot(u - 0.62, (v - 0.6) * 0.75);
    double const glow = std::exp(-sun * 9.0);
    return { 40 + 200 * v + 200 * glow, 40 + 90 * v * v + 180 * glow, 110 - 60 * v + 120 * glow };
}

}

int main(int argc, char** argv)
{
    constexpr char const* kUsage = "usage: quilvane-samples FOLDER\n"
                                   "  makes four sample pictures in two albums, Fractals and Colours, in FOLDER\n";
    if (auto const status = tools::standard_options(argc, argv, "quilvane-samples", kUsage))
        return *status;
    if (argc != 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::filesystem::path const root(argv[1]);
    std::error_code error;
    std::filesystem::create_directories(root / "Fractals", error);
    std::filesystem::create_directories(root / "Colours", error);
    if (error) {
        std::fprintf(stderr, "quilvane-samples: cannot create %s: %s\n", argv[1], error.message().c_str());
        return 1;
    }
    std::printf("Making sample pictures in %s\n", argv[1]);
    bool ok = write_picture(root / "Fractals" / "mandelbrot.jpg", 4800, 3600, fractal(4800, 3600, -0.75, 0, 3.2));
    ok = write_picture(root / "Fractals" / "seahorse valley.jpg", 2400, 1800,
             fractal(2400, 1800, -0.7453, 0.1127, 0.012))
        && ok;
    ok = write_chart(root / "Colours" / "colour chart.jpg") && ok;
    ok = write_picture(root / "Colours" / "evening.jpg", 1200, 1800,
             [](int x, int y) { return evening(x, y, 1200, 1800); })
        && ok;
    return ok ? 0 : 1;
}
