// The cache of a 24-megapixel picture of another format than JPEG (PNG,
// HEIC, WebP, TIFF), against what it cannot do without: the format
// library's own whole decode of the file plus one libjpeg-turbo encode of
// those pixels at the copy's settings (quality 95, full chroma), measured
// in the same run; the goal is at most 1.3 x. Beside it the stages of the
// build (the seam's decode, the JPEG copy) and the peak memory of a build
// against that of the library's whole decode, each in a process of its own.
//
//   bench_formats               all figures (the pictures are made once, in
//                               format-pictures/ beside this program)
//   bench_formats --build P C   builds one cache (a child, for its peak memory)
//   bench_formats --decode P    the library's whole decode (the same)

#include "imaging/PictureFormat.h"
#include "platform/Files.h"
#include "thumbcache/CacheBuilder.h"
#include "thumbcache/CacheFile.h"
#include "thumbcache/CacheLocation.h"

#include <jpeglib.h>
#include <libheif/heif.h>
#include <png.h>
#include <tiffio.h>
#include <webp/decode.h>
#include <webp/encode.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace qv;
namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;
constexpr double kGoal = 1.3;
constexpr int kRounds = 5;

WString program(fs::path const& path) { return from_utf8(path.string()); }

struct Image {
    int width { 0 };
    int height { 0 };
    std::vector<std::uint8_t> rgb; // width × 3 bytes per row
};

// Photo-like pixels: smooth shading with a fine grain, so that every codec
// does the work a photograph gives it rather than compressing flat areas
// away.
Image make_pixels()
{
    Image image { kWidth, kHeight, std::vector<std::uint8_t>(std::size_t(kWidth) * kHeight * 3) };
    unsigned noise = 12345;
    std::uint8_t* p = image.rgb.data();
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x, p += 3) {
            noise = noise * 1103515245u + 12345u;
            int const grain = static_cast<int>((noise >> 16) & 15) - 8;
            p[0] = std::uint8_t(std::clamp(128 + int(90 * std::sin(x * 0.003 + y * 0.001)) + grain, 0, 255));
            p[1] = std::uint8_t(std::clamp(128 + int(90 * std::cos(y * 0.004 - x * 0.0007)) + grain, 0, 255));
            p[2] = std::uint8_t(std::clamp(100 + x * 50 / kWidth + y * 50 / kHeight + grain, 0, 255));
        }
    }
    return image;
}

// ---- the pictures, each written by its format's library ----

// libpng reports a failure by jumping back to the setjmp of the call that
// armed it: each such call is a function of its own, with nothing to undo.
bool write_png_rows(png_structp png, png_infop info, FILE* file, Image const& image)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, image.width, image.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
        PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < image.height; ++y)
        png_write_row(png, image.rgb.data() + std::size_t(y) * image.width * 3);
    png_write_end(png, info);
    return true;
}

bool write_png(Image const& image, fs::path const& path)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool const written = png && info && write_png_rows(png, info, file, image);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0 && written;
}

bool write_webp(Image const& image, fs::path const& path)
{
    std::uint8_t* out = nullptr;
    std::size_t const size = WebPEncodeRGB(image.rgb.data(), image.width, image.height, image.width * 3, 90, &out);
    bool ok = size > 0;
    if (ok) {
        std::ofstream file(path, std::ios::binary);
        file.write(reinterpret_cast<char const*>(out), std::streamsize(size));
        ok = bool(file);
    }
    WebPFree(out);
    return ok;
}

// LZW with the horizontal predictor: what image editors write by default.
bool write_tiff(Image const& image, fs::path const& path)
{
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    if (!tiff)
        return false;
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, image.width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, image.height);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0));
    bool ok = true;
    for (int y = 0; y < image.height && ok; ++y)
        ok = TIFFWriteScanline(tiff, const_cast<std::uint8_t*>(image.rgb.data()) + std::size_t(y) * image.width * 3,
                 std::uint32_t(y), 0)
            == 1;
    TIFFClose(tiff);
    return ok;
}

// HEVC as a phone writes it, at a fast preset: the decode's work hardly
// depends on how long the encoder searched.
bool write_heic(Image const& image, fs::path const& path)
{
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_image* picture = nullptr;
    bool ok = heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder).code == heif_error_Ok
        && heif_image_create(image.width, image.height, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &picture)
            .code
            == heif_error_Ok
        && heif_image_add_plane(picture, heif_channel_interleaved, image.width, image.height, 8).code
            == heif_error_Ok;
    if (ok) {
        int stride = 0;
        std::uint8_t* plane = heif_image_get_plane(picture, heif_channel_interleaved, &stride);
        for (int y = 0; y < image.height; ++y)
            std::memcpy(plane + std::size_t(y) * stride, image.rgb.data() + std::size_t(y) * image.width * 3,
                std::size_t(image.width) * 3);
        heif_encoder_set_lossy_quality(encoder, 85);
        heif_encoder_set_parameter_string(encoder, "preset", "fast");
        ok = heif_context_encode_image(context, picture, encoder, nullptr, nullptr).code == heif_error_Ok
            && heif_context_write_to_file(context, path.c_str()).code == heif_error_Ok;
    }
    if (picture)
        heif_image_release(picture);
    if (encoder)
        heif_encoder_release(encoder);
    heif_context_free(context);
    return ok;
}

struct Format {
    char const* name;
    char const* file;
    bool (*write)(Image const&, fs::path const&);
    bool (*decode)(fs::path const&, Image&); // the library's own whole decode
};

// ---- the libraries' own decodes, to 8-bit RGB as the file stores it ----

bool read_png_info(png_structp png, png_infop info, FILE* file)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_init_io(png, file);
    png_read_info(png, info);
    return true;
}

bool read_png_rows(png_structp png, png_bytepp rows)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_image(png, rows);
    return true;
}

bool decode_png(fs::path const& path, Image& out)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool ok = png && info && read_png_info(png, info, file);
    if (ok) {
        out.width = int(png_get_image_width(png, info));
        out.height = int(png_get_image_height(png, info));
        ok = png_get_rowbytes(png, info) == std::size_t(out.width) * 3;
    }
    if (ok) {
        out.rgb.resize(std::size_t(out.width) * out.height * 3);
        std::vector<png_bytep> rows(std::size_t(out.height));
        for (std::size_t y = 0; y < rows.size(); ++y)
            rows[y] = out.rgb.data() + y * std::size_t(out.width) * 3;
        ok = read_png_rows(png, rows.data());
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return ok;
}

bool decode_webp(fs::path const& path, Image& out)
{
    std::ifstream file(path, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)), {});
    if (!WebPGetInfo(bytes.data(), bytes.size(), &out.width, &out.height))
        return false;
    out.rgb.resize(std::size_t(out.width) * out.height * 3);
    return WebPDecodeRGBInto(bytes.data(), bytes.size(), out.rgb.data(), out.rgb.size(), out.width * 3) != nullptr;
}

bool decode_tiff(fs::path const& path, Image& out)
{
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (!tiff)
        return false;
    std::uint32_t width = 0, height = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    out.width = int(width);
    out.height = int(height);
    out.rgb.resize(std::size_t(width) * height * 3);
    bool ok = true;
    std::uint8_t* at = out.rgb.data();
    std::uint8_t* const end = at + out.rgb.size();
    for (tstrip_t strip = 0, count = TIFFNumberOfStrips(tiff); strip < count && ok; ++strip) {
        tmsize_t const got = TIFFReadEncodedStrip(tiff, strip, at, end - at);
        ok = got > 0;
        at += ok ? got : 0;
    }
    TIFFClose(tiff);
    return ok && at == end;
}

bool decode_heic(fs::path const& path, Image& out)
{
    heif_context* context = heif_context_alloc();
    heif_image_handle* handle = nullptr;
    heif_image* image = nullptr;
    bool ok = heif_context_read_from_file(context, path.c_str(), nullptr).code == heif_error_Ok
        && heif_context_get_primary_image_handle(context, &handle).code == heif_error_Ok
        && heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr).code
            == heif_error_Ok;
    if (ok) {
        out.width = heif_image_get_width(image, heif_channel_interleaved);
        out.height = heif_image_get_height(image, heif_channel_interleaved);
        int stride = 0;
        std::uint8_t const* plane = heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
        out.rgb.resize(std::size_t(out.width) * out.height * 3);
        for (int y = 0; y < out.height; ++y)
            std::memcpy(out.rgb.data() + std::size_t(y) * out.width * 3, plane + std::size_t(y) * stride,
                std::size_t(out.width) * 3);
    }
    if (image)
        heif_image_release(image);
    if (handle)
        heif_image_handle_release(handle);
    heif_context_free(context);
    return ok;
}

Format const kFormats[] {
    { "PNG", "24mp.png", write_png, decode_png },
    { "HEIC", "24mp.heic", write_heic, decode_heic },
    { "WebP", "24mp.webp", write_webp, decode_webp },
    { "TIFF", "24mp.tif", write_tiff, decode_tiff },
};

Format const* format_of(fs::path const& path)
{
    for (auto const& format : kFormats)
        if (path.filename() == format.file)
            return &format;
    return nullptr;
}

// The copy's settings: quality 95, every component at full resolution.
bool encode_jpeg(Image const& image, fs::path const& path)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    jpeg_compress_struct cinfo {};
    jpeg_error_mgr errors {};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = JDIMENSION(image.width);
    cinfo.image_height = JDIMENSION(image.height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, FALSE);
    cinfo.comp_info[0].h_samp_factor = cinfo.comp_info[0].v_samp_factor = 1;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(image.rgb.data() + std::size_t(cinfo.next_scanline) * image.width * 3);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return std::fclose(file) == 0;
}

// The processor time of this process (every thread of it) that `work`
// takes: the machine may be busy with others, which wall time would count.
double cpu_seconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

double seconds_of(std::function<bool()> const& work, bool& ok)
{
    double const start = cpu_seconds();
    ok = work() && ok;
    return cpu_seconds() - start;
}

// A child of this program run to its end: its peak memory in megabytes,
// negative when it failed.
double child_peak_megabytes(char const* self, std::vector<std::string> const& args)
{
    std::vector<char*> argv { const_cast<char*>(self) };
    for (auto const& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t const pid = fork();
    if (pid == 0) {
        execv(self, argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage {};
    wait4(pid, &status, 0, &usage);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? usage.ru_maxrss / 1024.0 : -1;
}

fs::path pictures_folder()
{
    return fs::read_symlink("/proc/self/exe").parent_path() / "format-pictures";
}

// Made once: an encoder takes longer than all the measuring. Written under
// another name first, so that an interrupted run leaves no half picture.
bool make_pictures(fs::path const& dir)
{
    fs::create_directories(dir);
    Image pixels;
    for (auto const& format : kFormats) {
        fs::path const path = dir / format.file;
        if (fs::exists(path))
            continue;
        if (pixels.rgb.empty()) {
            std::printf("making the 24-megapixel pictures in %s (once)\n", dir.c_str());
            std::fflush(stdout);
            pixels = make_pixels();
        }
        fs::path const part = dir / (std::string(format.file) + ".part");
        if (!format.write(pixels, part))
            return false;
        fs::rename(part, path);
    }
    return true;
}

}

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "--build")
        return create_picture_cache(program(argv[2]), program(argv[3])) ? 0 : 1;
    if (argc == 3 && std::string(argv[1]) == "--decode") {
        Format const* format = format_of(argv[2]);
        Image image;
        return format && format->decode(argv[2], image) ? 0 : 1;
    }

    fs::path const pictures = pictures_folder();
    if (!make_pictures(pictures)) {
        std::fprintf(stderr, "bench_formats: cannot make the pictures in %s\n", pictures.c_str());
        return 1;
    }
    // The caches and copies in a folder of this run, never in the home of
    // whoever runs it.
    fs::path const dir = fs::temp_directory_path() / ("quilvane-bench-formats-" + std::to_string(getpid()));
    setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
    fs::create_directories(dir);
    fs::create_directories(platform::to_system_path(cache_directory_of(program(pictures))));

    bool missed = false;
    std::printf("%-5s %9s %9s %9s %9s %9s %7s   %9s %9s\n", "", "decode", "+ encode", "seam", "copy", "build",
        "ratio", "peak MB", "decode MB");
    for (auto const& format : kFormats) {
        fs::path const picture = pictures / format.file;
        WString const cache = cache_file_name(program(picture), program(pictures));
        fs::path const peer_copy = dir / "peer.jpg", copy = dir / "copy.jpg";
        double decode = 1e30, peer = 1e30, seam = 1e30, write_copy = 1e30, build = 1e30;
        bool ok = true;
        // The peer and the build take turns, so that a busy spell of the
        // machine weighs on both alike; the best of each.
        for (int round = 0; round < kRounds; ++round) {
            Image image;
            double const d = seconds_of([&] { return format.decode(picture, image); }, ok);
            double const e = seconds_of([&] { return encode_jpeg(image, peer_copy); }, ok);
            image = {};
            decode = std::min(decode, d);
            peer = std::min(peer, d + e);
            RgbPixels pixels;
            seam = std::min(seam,
                seconds_of([&] { return decode_picture(program(picture), pixels) == PictureProblem::None; }, ok));
            pixels = {};
            write_copy = std::min(write_copy, seconds_of([&] {
                PictureCopy made;
                return make_picture_copy(program(picture), made) == PictureProblem::None;
            }, ok));
            build = std::min(build, seconds_of([&] { return create_picture_cache(program(picture), cache); }, ok));
        }
        double const build_peak = child_peak_megabytes(argv[0], { "--build", picture.string(), to_utf8(cache) });
        double const decode_peak = child_peak_megabytes(argv[0], { "--decode", picture.string() });
        if (!ok || build_peak < 0 || decode_peak < 0) {
            std::printf("%-5s failed\n", format.name);
            missed = true;
            continue;
        }
        double const ratio = build / peer;
        bool const above = ratio > kGoal;
        missed = missed || above;
        std::printf("%-5s %8.3fs %8.3fs %8.3fs %8.3fs %8.3fs %7.3f   %9.1f %9.1f  (x %.2f)%s\n", format.name, decode,
            peer, seam, write_copy, build, ratio, build_peak, decode_peak, build_peak / decode_peak,
            above ? "  ABOVE" : "");
        std::fflush(stdout);
    }
    std::printf("decode: the library's own, to RGB; + encode: that and one libjpeg-turbo encode at quality 95, 4:4:4;\n"
                "seam: decode_picture; copy: make_picture_copy; build: create_picture_cache;\n"
                "ratio: build / (decode + encode), goal at most %.2f; best of %d rounds each, processor time;\n"
                "peak MB: a build in a process of its own, beside the library's whole decode in one\n",
        kGoal, kRounds);
    fs::remove_all(dir);
    return missed ? 1 : 0;
}
