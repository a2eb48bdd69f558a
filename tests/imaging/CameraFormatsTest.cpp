// HEIF, AVIF, JPEG XL and camera RAW pictures made at test time by the
// formats' own encoders (and, since no camera file can be fetched, DNGs
// written by a script), read through their adapters directly.

#include "imaging/FormatAdapter.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

namespace qv {

namespace {

using Bytes = std::vector<std::uint8_t>;
using Colour = std::array<int, 3>;

// Every picture is four flat quadrants, so that a turn shows as another
// colour in each corner.
constexpr Colour kRed { 200, 40, 40 }, kBlue { 40, 40, 200 }, kGreen { 40, 180, 60 }, kGrey { 160, 160, 160 };

// With a time limit: a wedged encoder fails the test instead of the run.
bool run(std::string const& command)
{
    return std::system(("timeout 120 " + command + " >/dev/null 2>&1").c_str()) == 0;
}

// The encoders' sources: the quadrants (TL red, TR blue, BL green, BR grey)
// as a PNG, a plain TIFF and a JPEG turned by Exif orientation 6; a green
// whose left half is opaque and right half a quarter so; and TIFFs holding
// 16-bit RGGB sensor data of quadrants TL red, TR blue, BL green, BR blue
// under a JPEG preview of the quadrants: DNGs and a NEF-like one.
char const* const kMakeSources = R"(
import io, struct, sys
from PIL import Image
out = sys.argv[1] + '/'
def quadrants(w, h):
    q = Image.new('RGB', (w, h), (160, 160, 160))
    for box, c in ((0, 0, 1, 1), (200, 40, 40)), ((1, 0, 2, 1), (40, 40, 200)), ((0, 1, 1, 2), (40, 180, 60)):
        q.paste(c, tuple(v * s // 2 for v, s in zip(box, (w, h, w, h))))
    return q
quadrants(96, 64).save(out + 'quadrants.png'); quadrants(96, 64).save(out + 'plain.tif')
exif = Image.Exif(); exif[0x0112] = 6
quadrants(96, 64).save(out + 'turned.jpg', quality=95, exif=exif.tobytes())
a = Image.new('RGBA', (64, 64), (30, 160, 60, 64))
a.paste((30, 160, 60, 255), (0, 0, 32, 64)); a.save(out + 'alpha.png')
KIND = {1: 'B', 2: 'B', 3: 'H', 4: 'I', 5: 'I', 10: 'i'}
def raw(name, pw, ph, orientation, dng=True):
    f = bytearray(b'II*\0\0\0\0\0')
    def put(data):
        f.extend(b'\0' * (len(f) % 2)); at = len(f); f.extend(data); return at
    def ifd(fields):
        out = struct.pack('<H', len(fields))
        for tag, (kind, values) in sorted(fields.items()):
            data = struct.pack('<%d%s' % (len(values), KIND[kind]), *values)
            count = len(values) // (2 if kind in (5, 10) else 1)
            data = struct.pack('<I', put(data)) if len(data) > 4 else data.ljust(4, b'\0')
            out += struct.pack('<HHI', tag, kind, count) + data
        return put(out + b'\0\0\0\0')
    w, h, s = 64, 48, []
    for y in range(h):
        for x in range(w):
            lit = {0: (0,), 2: (1, 2)}.get((y >= h // 2) * 2 + (x >= w // 2), (3,))
            s.append(50000 if y % 2 * 2 + x % 2 in lit else 3000)
    s = struct.pack('<%dH' % len(s), *s)
    sensor = ifd({254: (4, [0]), 256: (4, [w]), 257: (4, [h]), 258: (3, [16]), 259: (3, [1]), 262: (3, [32803]),
        273: (4, [put(s)]), 277: (3, [1]), 278: (4, [h]), 279: (4, [len(s)]), 33421: (3, [2, 2]),
        33422: (1, [0, 1, 1, 2]), 50717: (4, [65535])})
    j = io.BytesIO(); quadrants(pw, ph).save(j, 'JPEG', quality=95); j = j.getvalue()
    first = {254: (4, [1]), 256: (4, [pw]), 257: (4, [ph]), 258: (3, [8, 8, 8]), 259: (3, [7]), 262: (3, [6]),
        273: (4, [put(j)]), 277: (3, [3]), 278: (4, [ph]), 279: (4, [len(j)]), 330: (4, [sensor]),
        271: (2, list(b'Quilvane\0')), 274: (3, [orientation])}
    if dng:  # a camera seeing linear sRGB under a white light
        m = [32406, -15372, -4986, -9689, 18758, 415, 557, -2040, 10570]
        first.update({50706: (1, [1, 4, 0, 0]), 50708: (2, list(b'Quilvane Test\0')), 50728: (5, [1] * 6),
            50721: (10, [v for e in m for v in (e, 10000)]), 50778: (3, [21])})
    f[4:8] = struct.pack('<I', ifd(first))
    open(out + name, 'wb').write(f)
raw('small.dng', 240, 160, 6); raw('large.dng', 1200, 800, 8); raw('nef.tif', 240, 160, 1, dng=False)
)";

class CameraFormats : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new test::TempDir;
        test::write_bytes(*s_dir / "sources.py", std::string(kMakeSources));
        auto const arguments = " " + (*s_dir / "sources.py").string() + " " + s_dir->path().string();
        s_have_sources = run("/usr/bin/python3" + arguments) || run("python3" + arguments);
    }
    static void TearDownTestSuite() { delete s_dir; }

    void SetUp() override
    {
        if (!s_have_sources)
            GTEST_SKIP() << "python3 with PIL missing";
    }

    // What `tool` makes of a source (heif-enc takes its output after -o,
    // cjxl as a second operand); made once, empty when the tool is missing.
    static Bytes make(std::string const& tool, std::string const& options, char const* source, std::string const& name)
    {
        auto const out = *s_dir / name;
        if (!tool.empty() && !std::filesystem::exists(out)) {
            if (std::system(("command -v " + tool + " >/dev/null").c_str()) != 0)
                return {};
            auto const command = tool + " " + options + " " + (*s_dir / source).string()
                + (tool == "heif-enc" ? " -o " : " ") + out.string();
            EXPECT_TRUE(run(command)) << command;
        }
        auto const bytes = test::read_bytes(out);
        return { bytes.begin(), bytes.end() };
    }
    static Bytes source(char const* name) { return make({}, {}, nullptr, name); }

    static inline test::TempDir* s_dir = nullptr;
    static inline bool s_have_sources = false;
};

std::array<int, 4> mean_of(formats::Rgba const& picture, int x0, int y0, int width, int height)
{
    std::array<int, 4> sum {};
    for (int y = y0; y < y0 + height; ++y) {
        for (int x = x0; x < x0 + width; ++x) {
            for (std::size_t c = 0; c < 4; ++c)
                sum[c] += picture.pixels[(std::size_t(y) * std::size_t(picture.width) + std::size_t(x)) * 4 + c];
        }
    }
    for (auto& channel : sum)
        channel /= width * height;
    return sum;
}

// The middle of each quadrant, away from the edges codecs blur: top left,
// top right, bottom left, bottom right.
std::array<std::array<int, 4>, 4> quadrant_means(formats::Rgba const& picture)
{
    int const w = picture.width / 2, h = picture.height / 2;
    std::array<std::array<int, 4>, 4> means;
    for (int q = 0; q < 4; ++q)
        means[std::size_t(q)] = mean_of(picture, (q % 2) * w + w / 4, (q / 2) * h + h / 4, w / 2, h / 2);
    return means;
}

void expect_quadrants(formats::Rgba const& picture, std::array<Colour, 4> const& expected, int tolerance)
{
    auto const means = quadrant_means(picture);
    for (std::size_t q = 0; q < 4; ++q) {
        for (std::size_t c = 0; c < 3; ++c)
            EXPECT_NEAR(means[q][c], expected[q][c], tolerance) << "quadrant " << q << " channel " << c;
        EXPECT_EQ(means[q][3], 255) << "quadrant " << q;
    }
}

// The probe's header, and the decode, which must agree with it on the size.
formats::Rgba decoded(formats::Adapter const& adapter, Bytes const& file, formats::Header& header)
{
    formats::Rgba out;
    EXPECT_EQ(adapter.probe(file, header), PictureProblem::None);
    EXPECT_EQ(adapter.decode(file, out), PictureProblem::None);
    EXPECT_EQ(out.width, header.width);
    EXPECT_EQ(out.height, header.height);
    EXPECT_EQ(out.pixels.size(), std::size_t(out.width) * std::size_t(out.height) * 4);
    return out;
}

TEST_F(CameraFormats, heic_avif_and_jpeg_xl_decode_their_colours)
{
    auto const check = [](formats::Adapter const& adapter, Bytes const& file, int tolerance) {
        EXPECT_TRUE(adapter.sniff(std::span(file).first(std::min<std::size_t>(file.size(), 24))));
        for (auto const* other : { &formats::kHeif, &formats::kJxl, &formats::kRaw })
            EXPECT_TRUE(other == &adapter || !other->sniff(file));
        formats::Header header;
        auto const picture = decoded(adapter, file, header);
        EXPECT_FALSE(header.alpha);
        ASSERT_EQ(header.width, 96);
        ASSERT_EQ(header.height, 64);
        EXPECT_EQ(picture.orientation, 1);
        expect_quadrants(picture, { kRed, kBlue, kGreen, kGrey }, tolerance);
    };
    for (auto const& [options, name] : { std::pair { "-q 90", "quadrants.heic" }, { "-A -q 90", "quadrants.avif" } }) {
        SCOPED_TRACE(name);
        if (auto const file = make("heif-enc", options, "quadrants.png", name); !file.empty())
            check(formats::kHeif, file, 12);
    }
    for (auto const& [options, name] : { std::pair { "", "bare.jxl" }, { "--container=1", "boxed.jxl" } }) {
        SCOPED_TRACE(name);
        if (auto const file = make("cjxl", options, "quadrants.png", name); !file.empty())
            check(formats::kJxl, file, 8);
    }
}

TEST_F(CameraFormats, avif_and_jpeg_xl_keep_alpha)
{
    auto const avif = make("heif-enc", "-A -q 90", "alpha.png", "alpha.avif");
    auto const jxl = make("cjxl", "", "alpha.png", "alpha.jxl");
    for (auto const& [adapter, file] : { std::pair { &formats::kHeif, avif }, { &formats::kJxl, jxl } }) {
        if (file.empty())
            continue;
        formats::Header header;
        auto const picture = decoded(*adapter, file, header);
        EXPECT_TRUE(header.alpha);
        ASSERT_EQ(picture.width, 64);
        EXPECT_NEAR(mean_of(picture, 4, 4, 24, 56)[3], 255, 3);
        auto const translucent = mean_of(picture, 36, 4, 24, 56);
        EXPECT_NEAR(translucent[3], 64, 6);
        EXPECT_NEAR(translucent[1], 160, 12); // straight, not premultiplied
    }
}

// heif-enc writes no rotation: its pixel-information property, which the
// decode does without, becomes one of the same length.
TEST_F(CameraFormats, heif_rotation_and_jpeg_xl_orientation_are_applied)
{
    if (auto heic = make("heif-enc", "-q 90", "quadrants.png", "quadrants.heic"); !heic.empty()) {
        auto const pixi = std::ranges::search(heic, std::string_view("pixi"));
        ASSERT_FALSE(pixi.empty());
        auto const at = std::size_t(pixi.begin() - heic.begin());
        ASSERT_EQ(heic[at - 1], 16); // size: header, version and 4 bytes of channels
        std::memcpy(heic.data() + at, "irot\x01\0\0\0\0\0\0", 12); // a quarter turn anticlockwise
        formats::Header header;
        auto const picture = decoded(formats::kHeif, heic, header);
        ASSERT_EQ(header.width, 64);
        EXPECT_EQ(header.orientation, 1);
        expect_quadrants(picture, { kBlue, kGrey, kRed, kGreen }, 12);
    }
    // cjxl takes a recompressed JPEG's Exif turn as the picture's own.
    if (auto const jxl = make("cjxl", "", "turned.jpg", "turned.jxl"); !jxl.empty()) {
        formats::Header header;
        auto const picture = decoded(formats::kJxl, jxl, header);
        ASSERT_EQ(header.width, 64);
        EXPECT_EQ(header.orientation, 1);
        expect_quadrants(picture, { kGreen, kRed, kGrey, kBlue }, 12);
    }
}

TEST_F(CameraFormats, raw_shows_a_large_preview_else_develops_its_sensor_data)
{
    // The preview is turned by the seam, with the RAW's orientation.
    formats::Header header;
    auto picture = decoded(formats::kRaw, source("large.dng"), header);
    ASSERT_EQ(header.width, 1200);
    EXPECT_EQ(header.orientation, 8);
    EXPECT_EQ(picture.orientation, 8);
    expect_quadrants(picture, { kRed, kBlue, kGreen, kGrey }, 6);

    // LibRaw turns what it develops: the sensor's quadrants (red, blue /
    // green, blue) a quarter clockwise.
    picture = decoded(formats::kRaw, source("small.dng"), header);
    ASSERT_EQ(header.width, 48);
    ASSERT_EQ(header.height, 64);
    EXPECT_EQ(header.orientation, 1);
    EXPECT_EQ(picture.orientation, 1);
    auto const means = quadrant_means(picture);
    std::array<int, 4> dominant;
    for (std::size_t q = 0; q < 4; ++q)
        dominant[q] = int(std::ranges::max_element(means[q].begin(), means[q].begin() + 3) - means[q].begin());
    EXPECT_EQ(dominant, (std::array { 1, 0, 2, 2 }));
    EXPECT_EQ(means[0][3], 255);
}

TEST_F(CameraFormats, raw_signatures_and_raws_that_begin_as_tiffs)
{
    using namespace std::string_view_literals;
    auto const sniff = [](std::string_view head) {
        return formats::kRaw.sniff({ reinterpret_cast<std::uint8_t const*>(head.data()), head.size() });
    };
    for (auto const head : { "II*\0\x10\0\0\0CR\x02\0"sv, "IIRO\x08\0\0\0"sv, "MMOR\0\0\0\x08"sv, "IIU\0\x08\0"sv,
             "FUJIFILMCCD-RAW 0201"sv, "\0\0\0\x18" "ftypcrx \0\0\0\x01"sv })
        EXPECT_TRUE(sniff(head)) << head;
    for (auto const head : { "II*\0\x08\0\0\0\0\0"sv, "IIR"sv, "\0\0\0\x18" "ftypheic"sv, ""sv })
        EXPECT_FALSE(sniff(head)) << head;

    // DNGVersion, or CFA data in a sub-directory; but not ordinary pixels,
    // nor a DNG cut inside its directory (written last).
    auto const dng = source("small.dng");
    EXPECT_TRUE(formats::is_camera_raw(dng));
    EXPECT_TRUE(formats::is_camera_raw(source("nef.tif")));
    EXPECT_FALSE(formats::is_camera_raw(source("plain.tif")));
    EXPECT_FALSE(formats::is_camera_raw(std::span(dng).first(dng.size() - 20)));
}

TEST_F(CameraFormats, cut_files_are_problems_not_crashes)
{
    std::pair<formats::Adapter const*, Bytes> const files[] {
        { &formats::kRaw, source("large.dng") },
        { &formats::kRaw, source("small.dng") },
        { &formats::kHeif, make("heif-enc", "-q 90", "quadrants.png", "quadrants.heic") },
        { &formats::kHeif, make("heif-enc", "-A -q 90", "quadrants.png", "quadrants.avif") },
        { &formats::kJxl, make("cjxl", "", "quadrants.png", "bare.jxl") },
    };
    for (auto const& [adapter, file] : files) {
        for (std::size_t keep : { std::size_t(8), file.size() / 3, file.size() * 9 / 10 }) {
            if (keep >= file.size())
                continue;
            SCOPED_TRACE(testing::Message() << format_name(adapter->format) << " cut to " << keep);
            formats::Header header;
            formats::Rgba picture;
            auto problem = adapter->probe(std::span(file).first(keep), header);
            if (problem == PictureProblem::None)
                problem = adapter->decode(std::span(file).first(keep), picture);
            EXPECT_NE(problem, PictureProblem::None);
        }
    }
}

}

}
