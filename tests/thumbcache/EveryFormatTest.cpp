// Pictures of every format through their caches, against decodes by other
// tools: the formats' own (heif-convert, djxl), PIL, and lcms2's tificc for
// colour profiles.

#include "CachePictures.h"
#include "imaging/ColourProfile.h"
#include "imaging/PictureFormat.h"
#include "imaging/PngImage.h"
#include "support/TestSupport.h"
#include "thumbcache/CacheBuilder.h"
#include "thumbcache/PieceCreator.h"
#include "thumbcache/ThumbnailReader.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <cmath>
#include <fstream>

using namespace qv;

namespace {

// Writes the pictures and, beside each, its reference decode as PPM.
constexpr char const* kMakePictures = R"PY(
import os, subprocess, sys
import numpy as np
from PIL import Image, ImageOps
os.chdir(sys.argv[1])
w, h = 600, 400
y, x = np.mgrid[0:h, 0:w]
a = np.zeros((h, w, 3), np.uint8)
a[..., 0] = 40 + x * 160 // w
a[..., 1] = 60 + y * 120 // h
a[..., 2] = 90
a[100:300, 200:400] = (200, 80, 40)
a[0:60, 0:60] = (30, 60, 220)
ref = Image.fromarray(a)
ref.save('ref.ppm')
ref.save('p.png')
ref.save('p.webp', lossless=True)
ref.save('p.tif')
ref.save('p.gif')
Image.open('p.gif').convert('RGB').save('p.gif.ppm')
def run(*args):
    return subprocess.run(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0
if run('heif-enc', '-q', '95', 'p.png', '-o', 'p.heic') and run('heif-convert', 'p.heic', 'heic.png'):
    Image.open('heic.png').convert('RGB').save('p.heic.ppm')
if run('heif-enc', '-A', '-q', '95', 'p.png', '-o', 'p.avif') and run('heif-convert', 'p.avif', 'avif.png'):
    Image.open('avif.png').convert('RGB').save('p.avif.ppm')
if run('cjxl', '-d', '0', 'p.png', 'p.jxl') and run('djxl', 'p.jxl', 'jxl.png'):
    Image.open('jxl.png').convert('RGB').save('p.jxl.ppm')
# Display P3 said as AVIF says it: primaries 12, the sRGB curve (written
# into the colour box: heif-enc 1.15 leaves them unspecified).
if run('heif-enc', '-A', '-q', '95', 'p.png', '-o', 'p3nclx.avif'):
    avif = bytearray(open('p3nclx.avif', 'rb').read())
    at = avif.find(b'colrnclx') + 8
    avif[at:at + 6] = bytes([0, 12, 0, 13, 0, 6])
    open('p3nclx.avif', 'wb').write(avif)
    ref.save('p3nclx-in.tif', icc_profile=open('p3nclx.icc', 'rb').read())
    if run('tificc', 'p3nclx-in.tif', 'p3nclx-out.tif'):
        Image.open('p3nclx-out.tif').convert('RGB').save('p3nclx.avif.ppm')
small = ref.resize((60, 40))
for o in range(1, 9):
    exif = Image.Exif()
    exif[0x0112] = o
    small.save('o%d.png' % o, exif=exif.tobytes())
    ImageOps.exif_transpose(Image.open('o%d.png' % o)).convert('RGB').save('o%d.png.ppm' % o)
rgba = np.dstack([a, (x * 255 // w).astype(np.uint8)])
Image.fromarray(rgba, 'RGBA').save('alpha.png')
for name, kind in (('p3', 'png'), ('adobe', 'tif'), ('adobe', 'jpg')):
    icc = open(name + '.icc', 'rb').read()
    ref.save('%s.%s' % (name, kind), icc_profile=icc, quality=95, subsampling=0)
    Image.open('%s.%s' % (name, kind)).convert('RGB').save('%s-%s-in.tif' % (name, kind), icc_profile=icc)
    if run('tificc', '%s-%s-in.tif' % (name, kind), '%s-%s-out.tif' % (name, kind)):
        Image.open('%s-%s-out.tif' % (name, kind)).convert('RGB').save('%s.%s.ppm' % (name, kind))
)PY";

// The primaries of Display P3 and Adobe RGB (1998), with their curves.
void write_profile(std::filesystem::path const& path, cmsCIExyYTRIPLE primaries, double gamma)
{
    cmsCIExyY white;
    cmsWhitePointFromTemp(&white, 6504);
    cmsToneCurve* curve = cmsBuildGamma(nullptr, gamma);
    cmsToneCurve* curves[3] = { curve, curve, curve };
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::vector<unsigned char> bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    cmsFreeToneCurve(curve);
    test::write_bytes(path, bytes);
}

std::optional<RgbPixels> read_ppm(std::filesystem::path const& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int max = 0;
    RgbPixels pixels;
    if (!(in >> magic >> pixels.width >> pixels.height >> max) || magic != "P6" || max != 255)
        return std::nullopt;
    in.get();
    pixels.rgb.resize(static_cast<std::size_t>(pixels.width) * pixels.height * 3);
    in.read(reinterpret_cast<char*>(pixels.rgb.data()), static_cast<std::streamsize>(pixels.rgb.size()));
    return in ? std::optional(std::move(pixels)) : std::nullopt;
}

double mean_difference(RgbPixels const& a, RgbPixels const& b)
{
    if (a.width != b.width || a.height != b.height || a.rgb.empty())
        return 255;
    double sum = 0;
    for (std::size_t i = 0; i < a.rgb.size(); ++i)
        sum += std::abs(int { a.rgb[i] } - int { b.rgb[i] });
    return sum / static_cast<double>(a.rgb.size());
}

int largest_difference(RgbPixels const& a, RgbPixels const& b)
{
    int largest = a.width == b.width && a.height == b.height ? 0 : 255;
    for (std::size_t i = 0; largest < 255 && i < a.rgb.size(); ++i)
        largest = std::max(largest, std::abs(int { a.rgb[i] } - int { b.rgb[i] }));
    return largest;
}

// RGB565 widened back to 8 bits, as the screen shows it.
RgbPixels widen(PixelBuffer const& buffer, int width, int height)
{
    RgbPixels out { width, height, {} };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            auto const p = buffer.at(x, y);
            out.rgb.push_back(static_cast<std::uint8_t>(((p >> 11) & 31) * 255 / 31));
            out.rgb.push_back(static_cast<std::uint8_t>(((p >> 5) & 63) * 255 / 63));
            out.rgb.push_back(static_cast<std::uint8_t>((p & 31) * 255 / 31));
        }
    return out;
}

RgbPixels part(RgbPixels const& whole, int left, int top, int width, int height)
{
    RgbPixels out { width, height, {} };
    for (int y = top; y < top + height; ++y) {
        auto const* row = whole.rgb.data() + (static_cast<std::size_t>(y) * whole.width + left) * 3;
        out.rgb.insert(out.rgb.end(), row, row + static_cast<std::size_t>(width) * 3);
    }
    return out;
}

RgbPixels halved(RgbPixels const& whole)
{
    RgbPixels half { whole.width / 2, whole.height / 2, {} };
    for (int y = 0; y < half.height; ++y)
        for (int x = 0; x < half.width; ++x)
            for (int c = 0; c < 3; ++c) {
                int sum = 0;
                for (int dy = 0; dy < 2; ++dy)
                    for (int dx = 0; dx < 2; ++dx)
                        sum += whole.rgb[((static_cast<std::size_t>(2 * y + dy)) * whole.width + 2 * x + dx) * 3 + c];
                half.rgb.push_back(static_cast<std::uint8_t>((sum + 2) / 4));
            }
    return half;
}

class EveryFormatTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new test::TempDir;
        write_profile(*s_dir / "p3.icc", { { 0.680, 0.320, 1 }, { 0.265, 0.690, 1 }, { 0.150, 0.060, 1 } }, 2.2);
        write_profile(*s_dir / "adobe.icc", { { 0.640, 0.330, 1 }, { 0.210, 0.710, 1 }, { 0.150, 0.060, 1 } }, 2.2);
        auto const nclx = rgb_profile({ 0.680, 0.320, 0.265, 0.690, 0.150, 0.060, 0.3127, 0.3290 }, ToneCurve::Srgb);
        test::write_bytes(*s_dir / "p3nclx.icc", std::vector<unsigned char>(nclx.begin(), nclx.end()));
        test::write_bytes(*s_dir / "make.py", std::string(kMakePictures));
        s_made = test::run_tool("/usr/bin/python3 '" + (*s_dir / "make.py").string() + "' '" + s_dir->path().string() + "'");
    }
    static void TearDownTestSuite() { delete s_dir; }

    void SetUp() override
    {
        if (!s_made)
            GTEST_SKIP() << "/usr/bin/python3 with PIL and numpy makes the pictures";
    }

    static WString picture(std::string const& name) { return s_dir->program_path(name); }
    static std::optional<RgbPixels> reference(std::string const& name) { return read_ppm(*s_dir / (name + ".ppm")); }

    static test::TempDir* s_dir;
    static bool s_made;
};

test::TempDir* EveryFormatTest::s_dir = nullptr;
bool EveryFormatTest::s_made = false;

TEST_F(EveryFormatTest, each_format_caches_tiles_and_a_thumbnail_that_match_another_decode)
{
    auto const root = s_dir->program_path();
    test::make_cache_directory(root);
    for (std::string name : { "p.png", "p.webp", "p.tif", "p.gif", "p.heic", "p.avif", "p.jxl" }) {
        SCOPED_TRACE(name);
        auto expected = reference(name);
        if (!expected && name != "p.png" && name != "p.webp" && name != "p.tif")
            continue; // the format's encoder or decoder tool is not installed
        if (!expected)
            expected = reference("ref");
        ASSERT_TRUE(expected);
        WString const cache = cache_file_name(picture(name), root);
        PictureProblem problem = PictureProblem::None;
        ASSERT_TRUE(create_picture_cache(picture(name), cache, nullptr, &problem)) << problem_text(problem);

        CachePieceCreator creator(picture(name), CachePieceCreator::File { cache });
        int const top = creator.top_level();
        int width = 0, height = 0;
        ASSERT_TRUE(creator.level_size(top, width, height));
        ASSERT_EQ(width, 600);
        ASSERT_EQ(height, 400);
        for (int row = 0; row < 2; ++row)
            for (int column = 0; column < 3; ++column) {
                std::unique_ptr<PixelBuffer> tile;
                ASSERT_TRUE(creator.create_piece(top, column, row, tile));
                int const w = std::min(256, width - 256 * column), h = std::min(256, height - 256 * row);
                // The JPEG copy and the screen's 16 bits allow a few levels.
                EXPECT_LT(mean_difference(widen(*tile, w, h), part(*expected, 256 * column, 256 * row, w, h)), 4.0)
                    << "tile " << column << "," << row;
            }

        // The next level, made from the same decode, is the picture at half size.
        ASSERT_TRUE(creator.level_size(top - 1, width, height));
        ASSERT_EQ(width, 300);
        ASSERT_EQ(height, 200);
        std::unique_ptr<PixelBuffer> half_tile;
        ASSERT_TRUE(creator.create_piece(top - 1, 0, 0, half_tile));
        EXPECT_LT(mean_difference(widen(*half_tile, 256, 200), part(halved(*expected), 0, 0, 256, 200)), 4.0);

        // The thumbnail's middle is the picture's middle block.
        auto thumbnail = load_thumbnail(cache);
        ASSERT_TRUE(thumbnail);
        int const side = thumbnail->width();
        RgbPixels const middle = part(widen(*thumbnail, side, side), side / 2 - 4, side / 2 - 4, 8, 8);
        RgbPixels flat { 8, 8, std::vector<std::uint8_t>(8 * 8 * 3) };
        for (std::size_t i = 0; i < flat.rgb.size(); i += 3)
            flat.rgb[i] = 200, flat.rgb[i + 1] = 80, flat.rgb[i + 2] = 40;
        EXPECT_LT(mean_difference(middle, flat), 6.0);
    }
}

TEST_F(EveryFormatTest, pictures_come_out_upright_for_every_orientation_and_transparency_over_the_background)
{
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        std::string const name = "o" + std::to_string(orientation) + ".png";
        RgbPixels decoded;
        ASSERT_EQ(decode_picture(picture(name), decoded), PictureProblem::None);
        EXPECT_EQ(largest_difference(decoded, *reference(name)), 0);
        EXPECT_EQ(probe_picture(picture(name)).info.width, decoded.width);
    }

    set_picture_background({ 255, 255, 255 });
    RgbPixels over_white;
    ASSERT_EQ(decode_picture(picture("alpha.png"), over_white), PictureProblem::None);
    set_picture_background({ 0, 0, 0 });
    RgbPixels over_black;
    ASSERT_EQ(decode_picture(picture("alpha.png"), over_black), PictureProblem::None);
    auto const ref = reference("ref");
    // At the left edge alpha is 0, at the right 254: the background, then the picture.
    auto const at = [](RgbPixels const& p, int x, int y, int c) { return int { p.rgb[(static_cast<std::size_t>(y) * p.width + x) * 3 + c] }; };
    EXPECT_EQ(at(over_white, 0, 200, 0), 255);
    EXPECT_EQ(at(over_black, 0, 200, 0), 0);
    EXPECT_NEAR(at(over_black, 599, 390, 1), at(*ref, 599, 390, 1), 1);
    EXPECT_NEAR(at(over_black, 300, 390, 1), at(*ref, 300, 390, 1) * (300 * 255 / 600) / 255.0, 1);
}

TEST_F(EveryFormatTest, colour_profiles_are_converted_as_lcms2_converts_them)
{
    for (std::string name : { "p3.png", "adobe.tif" }) {
        SCOPED_TRACE(name);
        auto const expected = reference(name);
        if (!expected)
            GTEST_SKIP() << "tificc is needed for the reference";
        EXPECT_TRUE(probe_picture(picture(name)).info.foreign_profile);
        RgbPixels decoded;
        ASSERT_EQ(decode_picture(picture(name), decoded), PictureProblem::None);
        EXPECT_LE(largest_difference(decoded, *expected), 2);
        EXPECT_GT(mean_difference(decoded, *reference("ref")), 2.0) << "the profile changed nothing";
    }

    // Colours said the video way, as AVIF does: a lossy copy, so within a mean.
    if (auto const expected = reference("p3nclx.avif")) {
        RgbPixels decoded;
        ASSERT_EQ(decode_picture(picture("p3nclx.avif"), decoded), PictureProblem::None);
        EXPECT_LT(mean_difference(decoded, *expected), 2.0);
        EXPECT_GT(mean_difference(decoded, *reference("ref")), 2.0) << "the primaries changed nothing";
    }

    // A JPEG in Adobe RGB gets an sRGB copy in its cache.
    auto const root = s_dir->program_path();
    test::make_cache_directory(root);
    WString const cache = cache_file_name(picture("adobe.jpg"), root);
    ASSERT_TRUE(create_picture_cache(picture("adobe.jpg"), cache, nullptr));
    CachePieceCreator creator(picture("adobe.jpg"), CachePieceCreator::File { cache });
    std::unique_ptr<PixelBuffer> tile;
    ASSERT_TRUE(creator.create_piece(creator.top_level(), 1, 0, tile));
    EXPECT_LT(mean_difference(widen(*tile, 256, 256), part(*reference("adobe.jpg"), 256, 0, 256, 256)), 3.0);
}

TEST_F(EveryFormatTest, a_damaged_or_unknown_file_of_any_format_gets_a_reason)
{
    for (std::string name : { "p.png", "p.webp", "p.tif", "p.gif", "p.heic", "p.avif", "p.jxl" }) {
        auto bytes = test::read_bytes(*s_dir / name);
        if (bytes.empty())
            continue;
        SCOPED_TRACE(name);
        bytes.resize(bytes.size() / 2);
        test::write_bytes(*s_dir / ("cut-" + name), bytes);
        RgbPixels pixels;
        auto const problem = decode_picture(picture("cut-" + name), pixels);
        EXPECT_TRUE(problem == PictureProblem::Damaged || problem == PictureProblem::Unsupported) << problem_text(problem);
    }
    test::write_bytes(*s_dir / "notes.png", std::string("shopping list"));
    EXPECT_EQ(probe_picture(picture("notes.png")).problem, PictureProblem::NotPicture);
    PictureProblem problem = PictureProblem::None;
    test::make_cache_directory(s_dir->program_path());
    EXPECT_FALSE(create_picture_cache(picture("notes.png"), cache_file_name(picture("notes.png"), s_dir->program_path()), nullptr, &problem));
    EXPECT_EQ(problem, PictureProblem::NotPicture);
}

}
