#include "imaging/FormatAdapter.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

using namespace qv;
using formats::Adapter;
using formats::Header;
using formats::Rgba;

namespace {

// Writes the pictures the tests read. PIL makes some; the interlaced PNG
// and GIF (which PIL does not write) and the 16-bit big-endian TIFF are put
// together by hand, so that the readers meet bytes no library wrote.
constexpr char kScript[] = R"PY(
import os, struct, sys, zlib
from PIL import Image, ImageCms
out = sys.argv[1]
def path(name): return os.path.join(out, name)

icc = ImageCms.ImageCmsProfile(ImageCms.createProfile('sRGB')).tobytes()
open(path('profile.icc'), 'wb').write(icc)
exif6 = Image.Exif()
exif6[0x0112] = 6

p = Image.frombytes('P', (3, 2), bytes([0, 1, 2, 2, 1, 0]))
p.putpalette([255, 0, 0, 0, 255, 0, 0, 0, 255])
p.save(path('palette.png'), transparency=bytes([255, 128, 0]))
Image.frombytes('I;16', (2, 1), struct.pack('<2H', 0x12FF, 0xFFFF)).save(path('grey16.png'))

def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
def rgb9(x, y): return bytes((x * 20, y * 20, (x + y) * 10))
raw = b''
for x0, y0, dx, dy in [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]:
    columns = range(x0, 9, dx)
    for y in range(y0, 9, dy):
        raw += b'\0' + b''.join(rgb9(x, y) for x in columns)
bare_exif = struct.pack('<2sHIH', b'II', 42, 8, 1) + struct.pack('<HHIHH', 0x0112, 3, 1, 6, 0) + b'\0' * 4
open(path('interlaced.png'), 'wb').write(b'\x89PNG\r\n\x1a\n'
    + chunk(b'IHDR', struct.pack('>IIBBBBB', 9, 9, 8, 2, 0, 0, 1))
    + chunk(b'iCCP', b'icc\0\0' + zlib.compress(icc)) + chunk(b'IDAT', zlib.compress(raw))
    + chunk(b'eXIf', bare_exif) + chunk(b'IEND', b''))

def lzw(indices):
    # 8-bit codes, cleared every 100 so that every code stays 9 bits wide.
    codes = [c for i in range(0, len(indices), 100) for c in [256] + indices[i:i + 100]] + [257]
    data = sum(c << 9 * i for i, c in enumerate(codes)).to_bytes((9 * len(codes) + 7) // 8, 'little')
    return b'\x08' + b''.join(bytes([len(data[i:i + 255])]) + data[i:i + 255] for i in range(0, len(data), 255)) + b'\0'
interlaced_rows = list(range(0, 20, 8)) + list(range(4, 20, 8)) + list(range(2, 20, 4)) + list(range(1, 20, 2))
open(path('anim.gif'), 'wb').write(b'GIF89a' + struct.pack('<HHBBB', 24, 22, 0x91, 0, 0)
    + bytes([255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255])
    + bytes([0x21, 0xF9, 4, 1, 10, 0, 1, 0]) + b',' + struct.pack('<HHHHB', 2, 1, 20, 20, 0x40)
    + lzw([y % 4 for y in interlaced_rows for x in range(20)])
    + bytes([0x21, 0xF9, 4, 0, 10, 0, 0, 0]) + b',' + struct.pack('<HHHHB', 2, 3, 10, 10, 0)
    + lzw([3] * 100) + b';')

a = Image.new('RGBA', (4, 3))
a.putdata([(x * 60, y * 100, 7, 40 + x * 50 + y * 10) for y in range(3) for x in range(4)])
a.save(path('alpha.webp'), lossless=True, exif=exif6.tobytes(), icc_profile=icc)
f1 = Image.new('RGBA', (5, 4), (10, 20, 30, 255))
f1.putpixel((0, 0), (200, 0, 0, 128))
f2 = Image.new('RGBA', (5, 4), (250, 250, 250, 255))
f1.save(path('anim.webp'), save_all=True, append_images=[f2], lossless=True, duration=100)

def rgb16(x, y): return (0x40C0 + x * 0x2000, 0x10F0 + y * 0x5000, 0xF00F - (x + y) * 0x2000)
data = b''.join(struct.pack('>3H', *rgb16(x, y)) for y in range(2) for x in range(3))
# One row per strip, so that a cut into the last row leaves a whole first strip.
tags = [(256, 3, 3), (257, 3, 2), (258, 3, 0), (259, 3, 1), (262, 3, 2), (273, 4, 0), (274, 3, 6),
        (277, 3, 3), (278, 3, 1), (279, 4, 0), (284, 3, 1)]
ifd_end = 8 + 2 + 12 * len(tags) + 4
row = len(data) // 2
arrays = struct.pack('>3H2I2I', 16, 16, 16, ifd_end + 22, ifd_end + 22 + row, row, row)
def entry(tag, kind, value):
    if tag in (258, 273, 279):
        return struct.pack('>HHII', tag, kind, 3 if tag == 258 else 2, ifd_end + {258: 0, 273: 6, 279: 14}[tag])
    return struct.pack('>HHIHH', tag, 3, 1, value, 0)
open(path('rgb16.tif'), 'wb').write(struct.pack('>2sHI', b'MM', 42, 8) + struct.pack('>H', len(tags))
    + b''.join(entry(*t) for t in tags) + b'\0' * 4 + arrays + data)
t = Image.new('RGBA', (20, 18))
t.putdata([(x * 12, y * 14, 255 - x * 5, 128 if (x + y) % 3 == 0 else 255) for y in range(18) for x in range(20)])
t.save(path('strips.tif'))
)PY";

using Pixel = std::array<int, 4>;

Pixel at(Rgba const& picture, int x, int y)
{
    auto const* p = picture.pixels.data() + (std::size_t(y) * picture.width + x) * picture.channels;
    return { p[0], p[1], p[2], picture.channels == 4 ? p[3] : 255 };
}

class StillFormats : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = std::make_unique<test::TempDir>();
        std::string python;
        for (char const* candidate : { "/usr/bin/python3", "python3" }) {
            if (std::system((std::string(candidate) + " -c 'import PIL' >/dev/null 2>&1").c_str()) == 0) {
                python = candidate;
                break;
            }
        }
        if (python.empty())
            return;
        auto const script = *s_dir / "make.py";
        std::ofstream(script) << kScript;
        auto const run = "timeout 120 " + python + " '" + script.string() + "' '" + s_dir->path().string() + "'";
        s_ready = std::system(run.c_str()) == 0;
        // tiffcp makes the tiled, compressed copy; without it those checks skip.
        auto const tile = "timeout 60 tiffcp -t -w 16 -l 16 -c lzw '" + (*s_dir / "strips.tif").string() + "' '"
            + (*s_dir / "tiled.tif").string() + "' >/dev/null 2>&1";
        std::system(tile.c_str());
    }
    static void TearDownTestSuite() { s_dir.reset(); }

    void SetUp() override
    {
        if (!s_ready)
            GTEST_SKIP() << "python3 with PIL is needed to make the pictures";
    }

    static std::vector<std::uint8_t> bytes(std::string const& name) { return test::read_bytes(*s_dir / name); }
    static bool exists(std::string const& name) { return std::filesystem::exists(*s_dir / name); }

    // The probe, then the decode, of one file, as the seam calls them; the
    // header the probe gives must be the decode's size.
    static PictureProblem read(Adapter const& adapter, std::vector<std::uint8_t> const& file, Rgba& out,
        Header* header_out = nullptr)
    {
        Header header;
        if (auto const problem = adapter.probe(file, header); problem != PictureProblem::None)
            return problem;
        auto const problem = adapter.decode(file, out);
        if (problem == PictureProblem::None) {
            EXPECT_EQ(out.width, header.width);
            EXPECT_EQ(out.height, header.height);
            // RGB only where nothing could be transparent.
            EXPECT_TRUE(out.channels == 4 || (out.channels == 3 && !header.alpha));
            EXPECT_EQ(out.pixels.size(), std::size_t(out.width) * out.height * out.channels);
            EXPECT_EQ(out.orientation, header.orientation);
            EXPECT_EQ(out.icc, header.icc);
        }
        if (header_out)
            *header_out = header;
        return problem;
    }

    static inline std::unique_ptr<test::TempDir> s_dir;
    static inline bool s_ready { false };
};

TEST_F(StillFormats, each_format_is_told_by_its_content_alone)
{
    struct Case {
        char const* file;
        Adapter const* adapter;
    };
    Adapter const* const adapters[] { &formats::kPng, &formats::kGif, &formats::kWebP, &formats::kTiff };
    for (auto const& [file, own] : { Case { "palette.png", &formats::kPng }, Case { "anim.gif", &formats::kGif },
             Case { "anim.webp", &formats::kWebP }, Case { "rgb16.tif", &formats::kTiff } }) {
        auto const head = bytes(file);
        for (auto const* adapter : adapters) {
            EXPECT_EQ(adapter->sniff(std::span(head).first(std::min<std::size_t>(head.size(), kSniffBytes))),
                adapter == own)
                << file;
            EXPECT_FALSE(adapter->sniff(std::span(head).first(3))) << file;
        }
    }
}

TEST_F(StillFormats, png_palette_grey_16_bit_and_interlaced_pictures_decode_exactly)
{
    Rgba palette;
    Header header;
    ASSERT_EQ(read(formats::kPng, bytes("palette.png"), palette, &header), PictureProblem::None);
    EXPECT_TRUE(header.alpha);
    EXPECT_EQ(at(palette, 0, 0), (Pixel { 255, 0, 0, 255 }));
    EXPECT_EQ(at(palette, 1, 0), (Pixel { 0, 255, 0, 128 }));
    EXPECT_EQ(at(palette, 2, 0), (Pixel { 0, 0, 255, 0 }));
    EXPECT_EQ(at(palette, 0, 1), (Pixel { 0, 0, 255, 0 }));

    // 0x12FF: its high byte alone would give 18, its low byte 255.
    Rgba grey;
    ASSERT_EQ(read(formats::kPng, bytes("grey16.png"), grey, &header), PictureProblem::None);
    EXPECT_FALSE(header.alpha);
    EXPECT_EQ(at(grey, 0, 0), (Pixel { 19, 19, 19, 255 }));
    EXPECT_EQ(at(grey, 1, 0), (Pixel { 255, 255, 255, 255 }));

    // Its eXIf chunk comes after the pixel data.
    Rgba interlaced;
    ASSERT_EQ(read(formats::kPng, bytes("interlaced.png"), interlaced), PictureProblem::None);
    EXPECT_EQ(interlaced.orientation, 6);
    EXPECT_EQ(interlaced.icc, bytes("profile.icc"));
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 9; ++x)
            ASSERT_EQ(at(interlaced, x, y), (Pixel { x * 20, y * 20, (x + y) * 10, 255 })) << x << "," << y;
}

TEST_F(StillFormats, gif_first_frame_sits_on_its_screen_in_row_order_with_its_transparent_colour)
{
    Rgba gif;
    Header header;
    ASSERT_EQ(read(formats::kGif, bytes("anim.gif"), gif, &header), PictureProblem::None);
    EXPECT_TRUE(header.alpha);
    ASSERT_EQ(gif.width, 24);
    ASSERT_EQ(gif.height, 22);
    // The interlaced 20 × 20 frame at (2, 1) cycles its rows through red,
    // transparent, blue and white; the second frame, white, covers
    // (2, 3) to (11, 12) and must not show.
    Pixel const rows[] { { 255, 0, 0, 255 }, { 0, 0, 0, 0 }, { 0, 0, 255, 255 }, { 255, 255, 255, 255 } };
    for (int y = 0; y < 20; ++y) {
        Pixel pixel = at(gif, 9, y + 1);
        if (pixel[3] == 0)
            pixel = {}; // the colour under a transparent pixel is not shown
        ASSERT_EQ(pixel, rows[y % 4]) << "frame row " << y;
    }
    EXPECT_EQ(at(gif, 1, 5)[3], 0);
    EXPECT_EQ(at(gif, 9, 21)[3], 0);
}

TEST_F(StillFormats, webp_lossless_alpha_its_metadata_and_an_animation_s_first_frame)
{
    Rgba still;
    Header header;
    ASSERT_EQ(read(formats::kWebP, bytes("alpha.webp"), still, &header), PictureProblem::None);
    EXPECT_TRUE(header.alpha);
    EXPECT_EQ(still.orientation, 6);
    EXPECT_EQ(still.icc, bytes("profile.icc"));
    ASSERT_EQ(still.width, 4);
    ASSERT_EQ(still.height, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            ASSERT_EQ(at(still, x, y), (Pixel { x * 60, y * 100, 7, 40 + x * 50 + y * 10 })) << x << "," << y;

    Rgba animated;
    ASSERT_EQ(read(formats::kWebP, bytes("anim.webp"), animated), PictureProblem::None);
    ASSERT_EQ(animated.width, 5);
    ASSERT_EQ(animated.height, 4);
    EXPECT_EQ(at(animated, 0, 0), (Pixel { 200, 0, 0, 128 }));
    EXPECT_EQ(at(animated, 4, 3), (Pixel { 10, 20, 30, 255 }));
}

TEST_F(StillFormats, tiff_keeps_stored_order_reports_its_orientation_and_reads_tiles)
{
    // Stored 3 × 2, big-endian, to be turned a quarter clockwise: only
    // stored order tells (0, 0) from the corners a turn would bring there.
    Rgba rgb16;
    ASSERT_EQ(read(formats::kTiff, bytes("rgb16.tif"), rgb16), PictureProblem::None);
    EXPECT_EQ(rgb16.orientation, 6);
    ASSERT_EQ(rgb16.width, 3);
    ASSERT_EQ(rgb16.height, 2);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            int const expected[] { 0x40C0 + x * 0x2000, 0x10F0 + y * 0x5000, 0xF00F - (x + y) * 0x2000 };
            auto const pixel = at(rgb16, x, y);
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(pixel[c], expected[c] / 257.0, 1.0) << x << "," << y << " channel " << c;
            EXPECT_EQ(pixel[3], 255);
        }
    }

    if (!exists("tiled.tif"))
        GTEST_SKIP() << "tiffcp is needed for the tiled picture";
    // 20 × 18 in 16 × 16 tiles: the edge tiles are partly outside. The
    // library gives alpha premultiplied; straight alpha comes back within
    // rounding.
    Rgba tiled;
    Header header;
    ASSERT_EQ(read(formats::kTiff, bytes("tiled.tif"), tiled, &header), PictureProblem::None);
    EXPECT_TRUE(header.alpha);
    EXPECT_EQ(tiled.orientation, 1);
    ASSERT_EQ(tiled.width, 20);
    ASSERT_EQ(tiled.height, 18);
    for (int y = 0; y < 18; ++y) {
        for (int x = 0; x < 20; ++x) {
            int const alpha = (x + y) % 3 == 0 ? 128 : 255;
            auto const pixel = at(tiled, x, y);
            int const expected[] { x * 12, y * 14, 255 - x * 5 };
            for (int c = 0; c < 3; ++c)
                ASSERT_NEAR(pixel[c], expected[c], alpha == 255 ? 0 : 1) << x << "," << y << " channel " << c;
            ASSERT_EQ(pixel[3], alpha) << x << "," << y;
        }
    }
}

TEST_F(StillFormats, cut_short_and_garbled_files_are_damaged)
{
    struct Case {
        char const* file;
        Adapter const* adapter;
        std::size_t cut_into_pixels; // bytes off the end that reach into the first picture's data
    };
    for (auto const& [file, adapter, tail] : { Case { "interlaced.png", &formats::kPng, 60 },
             Case { "anim.gif", &formats::kGif, 320 }, Case { "alpha.webp", &formats::kWebP, 10 },
             Case { "rgb16.tif", &formats::kTiff, 10 } }) {
        auto const whole = bytes(file);
        for (std::size_t const length : { whole.size() - tail, whole.size() / 2, std::size_t(16) }) {
            std::vector<std::uint8_t> const cut(whole.begin(), whole.begin() + length);
            Rgba out;
            EXPECT_EQ(read(*adapter, cut, out), PictureProblem::Damaged) << file << " cut to " << length;
        }
        // The signature kept, everything after it noise.
        std::vector<std::uint8_t> garbled(whole.size(), 0xA5);
        std::copy_n(whole.begin(), 12, garbled.begin());
        Rgba out;
        EXPECT_EQ(read(*adapter, garbled, out), PictureProblem::Damaged) << file << " garbled";
    }
}

}
