// Helper of the whole-program tests and the fuzz seeds: writes JPEG files of
// the kinds that reach the program from cameras, phones and image editors,
// with libjpeg itself (nothing of the program's own codec is used, so the
// files do not share its faults).
//
//   make_pictures progressive WIDTH HEIGHT OUT.jpg
//       a progressive picture: a textured frame around a flat teal middle
//       (40 170 140)
//   make_pictures cmyk WIDTH HEIGHT OUT.jpg
//       a four-component picture with an Adobe marker and the inks stored
//       inverted, as Photoshop writes them; its flat middle has some black
//       ink and is meant to be seen as 180 94 31
//   make_pictures phoneN WIDTH HEIGHT OUT.jpg      (N = 1..8)
//       a phone's picture: WIDTH x HEIGHT is the scene upright (sky 110 180
//       235 above the middle, ground 60 80 40 below, a red 220 30 40 marker
//       over the top-left 30 % x 25 %); it is stored turned as a camera
//       stores it, so that Exif orientation N, which an APP1 block carries,
//       turns it upright again. Odd N write the block big-endian.
//   make_pictures cut WIDTH HEIGHT OUT.jpg
//       a sequential picture cut off halfway through its scan data

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// The library's header needs FILE and size_t declared before it.
#include <jpeglib.h>

namespace {

struct Colour {
    int r, g, b;
};

constexpr Colour kTeal { 40, 170, 140 };
constexpr Colour kSky { 110, 180, 235 };
constexpr Colour kGround { 60, 80, 40 };
constexpr Colour kMarker { 220, 30, 40 };

// A little deterministic grain, so that the data looks like a photograph's
// and not like flat fields only; a few levels either way keep the fields'
// colours where the tests look for them.
int grain(int x, int y, int amount)
{
    std::uint32_t h = static_cast<std::uint32_t>(x) * 0x9E3779B1u ^ static_cast<std::uint32_t>(y) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return static_cast<int>(h % static_cast<std::uint32_t>(2 * amount + 1)) - amount;
}

std::uint8_t clamp8(int v) { return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

bool in_middle(int x, int y, int width, int height)
{
    return x >= width / 4 && x < width - width / 4 && y >= height / 4 && y < height - height / 4;
}

// RGB pixels, row by row.
using Pixels = std::vector<std::uint8_t>;

Pixels framed_scene(int width, int height, Colour middle)
{
    Pixels p(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            auto* q = &p[(static_cast<std::size_t>(y) * width + x) * 3];
            if (in_middle(x, y, width, height)) {
                q[0] = clamp8(middle.r + grain(x, y, 3));
                q[1] = clamp8(middle.g + grain(x, y, 3));
                q[2] = clamp8(middle.b + grain(x, y, 3));
            } else {
                q[0] = clamp8(x * 255 / width + grain(x, y, 40));
                q[1] = clamp8(y * 255 / height + grain(y, x, 40));
                q[2] = clamp8(((x / 16 + y / 16) % 2) * 160 + grain(x + y, x, 40));
            }
        }
    return p;
}

Pixels upright_scene(int width, int height)
{
    Pixels p(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            Colour c = y < height / 2 ? kSky : kGround;
            if (x < width * 3 / 10 && y < height / 4)
                c = kMarker;
            auto* q = &p[(static_cast<std::size_t>(y) * width + x) * 3];
            q[0] = clamp8(c.r + grain(x, y, 4));
            q[1] = clamp8(c.g + grain(x, y, 4));
            q[2] = clamp8(c.b + grain(x, y, 4));
        }
    return p;
}

// The stored picture whose orientation `o` shows `upright` (w x h): the
// upright pixel each stored pixel (x, y) lands on, from where Exif puts the
// stored row 0 and column 0.
Pixels stored_from_upright(Pixels const& upright, int w, int h, int o, int& stored_width, int& stored_height)
{
    bool const swaps = o >= 5;
    stored_width = swaps ? h : w;
    stored_height = swaps ? w : h;
    Pixels s(upright.size());
    for (int y = 0; y < stored_height; ++y)
        for (int x = 0; x < stored_width; ++x) {
            int u = x, v = y;
            switch (o) {
            case 2: u = w - 1 - x; v = y; break;
            case 3: u = w - 1 - x; v = h - 1 - y; break;
            case 4: u = x; v = h - 1 - y; break;
            case 5: u = y; v = x; break;
            case 6: u = w - 1 - y; v = x; break;
            case 7: u = w - 1 - y; v = h - 1 - x; break;
            case 8: u = y; v = h - 1 - x; break;
            default: break;
            }
            std::memcpy(&s[(static_cast<std::size_t>(y) * stored_width + x) * 3],
                &upright[(static_cast<std::size_t>(v) * w + u) * 3], 3);
        }
    return s;
}

// The APP1 payload a camera writes, cut down to IFD0 with Make,
// Orientation and XResolution (whose value lies past the entry table).
std::vector<std::uint8_t> exif_block(int orientation, bool big_endian)
{
    std::vector<std::uint8_t> b { 'E', 'x', 'i', 'f', 0, 0 };
    auto put16 = [&](unsigned v) {
        if (big_endian) {
            b.push_back(static_cast<std::uint8_t>(v >> 8));
            b.push_back(static_cast<std::uint8_t>(v));
        } else {
            b.push_back(static_cast<std::uint8_t>(v));
            b.push_back(static_cast<std::uint8_t>(v >> 8));
        }
    };
    auto put32 = [&](std::uint32_t v) {
        if (big_endian) {
            put16(v >> 16);
            put16(v & 0xFFFF);
        } else {
            put16(v & 0xFFFF);
            put16(v >> 16);
        }
    };
    if (big_endian)
        b.insert(b.end(), { 'M', 'M' });
    else
        b.insert(b.end(), { 'I', 'I' });
    put16(42);
    put32(8);
    put16(3);
    // Make: ASCII, 4 bytes, held in the entry itself.
    put16(0x010F);
    put16(2);
    put32(4);
    b.insert(b.end(), { 'Q', 'V', 'P', 0 });
    // Orientation: one SHORT, in the first two bytes of the value field.
    put16(0x0112);
    put16(3);
    put32(1);
    put16(static_cast<unsigned>(orientation));
    put16(0);
    // XResolution: one RATIONAL, 72 / 1, after the link to the next IFD.
    put16(0x011A);
    put16(5);
    put32(1);
    put32(8 + 2 + 3 * 12 + 4);
    put32(0); // no next IFD
    put32(72);
    put32(1);
    return b;
}

struct Encoded {
    unsigned char* data { nullptr };
    unsigned long size { 0 };
    ~Encoded() { std::free(data); }
};

enum class Kind { Baseline, Progressive, Cmyk };

// Writes `pixels` (3 or, for CMYK, 4 bytes a pixel) into memory.
bool encode(Pixels const& pixels, int width, int height, Kind kind, int orientation, Encoded& out)
{
    jpeg_compress_struct cinfo {};
    jpeg_error_mgr jerr {};
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &out.data, &out.size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    int const components = kind == Kind::Cmyk ? 4 : 3;
    cinfo.input_components = components;
    cinfo.in_color_space = kind == Kind::Cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 85, TRUE);
    if (kind == Kind::Cmyk)
        jpeg_set_colorspace(&cinfo, JCS_CMYK); // and with it the Adobe marker
    if (kind == Kind::Progressive)
        jpeg_simple_progression(&cinfo);
    if (orientation)
        cinfo.write_JFIF_header = FALSE; // cameras write Exif instead
    jpeg_start_compress(&cinfo, TRUE);
    if (orientation) {
        auto const block = exif_block(orientation, orientation % 2 == 1);
        jpeg_write_marker(&cinfo, JPEG_APP0 + 1, block.data(), static_cast<unsigned>(block.size()));
    }
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(&pixels[static_cast<std::size_t>(cinfo.next_scanline) * width * components]);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return out.size > 0;
}

bool write_file(char const* path, unsigned char const* data, std::size_t size)
{
    FILE* f = std::fopen(path, "wb");
    if (!f)
        return false;
    bool const ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// Where the entropy-coded data of the first scan starts: past the SOS
// segment.
std::size_t scan_data_start(unsigned char const* d, std::size_t size)
{
    std::size_t at = 2;
    while (at + 4 <= size && d[at] == 0xFF) {
        unsigned const marker = d[at + 1];
        std::size_t const length = (std::size_t { d[at + 2] } << 8) | d[at + 3];
        if (marker == 0xDA)
            return at + 2 + length;
        at += 2 + length;
    }
    return 0;
}

int usage()
{
    std::fprintf(stderr, "usage: make_pictures progressive|cmyk|phone1..phone8|cut WIDTH HEIGHT OUT.jpg\n");
    return 2;
}

}

int main(int argc, char** argv)
{
    if (argc != 5)
        return usage();
    std::string const kind = argv[1];
    int const width = std::atoi(argv[2]), height = std::atoi(argv[3]);
    char const* out = argv[4];
    if (width < 1 || height < 1 || width > 8000 || height > 8000)
        return usage();
    Encoded encoded;
    if (kind == "progressive") {
        if (!encode(framed_scene(width, height, kTeal), width, height, Kind::Progressive, 0, encoded))
            return 1;
    } else if (kind == "cmyk") {
        // The inks of 180 94 31 with a little black: stored as 255 - ink.
        Pixels const rgb = framed_scene(width, height, Colour { 230, 120, 40 });
        Pixels cmyk(static_cast<std::size_t>(width) * height * 4);
        for (std::size_t i = 0, n = static_cast<std::size_t>(width) * height; i < n; ++i) {
            int const x = static_cast<int>(i % static_cast<std::size_t>(width));
            int const y = static_cast<int>(i / static_cast<std::size_t>(width));
            int const black_ink = in_middle(x, y, width, height) ? 55 : 0;
            for (int c = 0; c < 3; ++c) {
                int const ink = 255 - rgb[3 * i + c];
                cmyk[4 * i + c] = static_cast<std::uint8_t>(255 - ink);
            }
            cmyk[4 * i + 3] = static_cast<std::uint8_t>(255 - black_ink);
        }
        if (!encode(cmyk, width, height, Kind::Cmyk, 0, encoded))
            return 1;
    } else if (kind.size() == 6 && kind.rfind("phone", 0) == 0 && kind[5] >= '1' && kind[5] <= '8') {
        int const orientation = kind[5] - '0';
        int stored_width = 0, stored_height = 0;
        Pixels const stored = stored_from_upright(upright_scene(width, height), width, height, orientation,
            stored_width, stored_height);
        if (!encode(stored, stored_width, stored_height, Kind::Baseline, orientation, encoded))
            return 1;
    } else if (kind == "cut") {
        if (!encode(framed_scene(width, height, kSky), width, height, Kind::Baseline, 0, encoded))
            return 1;
        std::size_t const start = scan_data_start(encoded.data, encoded.size);
        if (start == 0 || start >= encoded.size)
            return 1;
        return write_file(out, encoded.data, start + (encoded.size - start) / 2) ? 0 : 1;
    } else {
        return usage();
    }
    return write_file(out, encoded.data, encoded.size) ? 0 : 1;
}
