// TIFF through libtiff, read from the file's bytes in memory: the first
// page only, through the library's RGBA reader, so that every layout and
// photometric interpretation it knows (strips or tiles, 1 to 16 bits,
// palette, grey, YCbCr, CMYK, Lab) comes out as 8-bit RGBA. The layout
// image editors and scanners write most, 8-bit RGB in strips, is read
// straight into an RGB buffer instead, a strip at a time.

#include "imaging/FormatAdapter.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <memory>

namespace qv::formats {

namespace {

struct Source {
    std::span<std::uint8_t const> file;
    std::uint64_t offset { 0 };
};

Source& source_of(thandle_t handle) { return *static_cast<Source*>(handle); }

tmsize_t read_proc(thandle_t handle, void* data, tmsize_t size)
{
    auto& source = source_of(handle);
    if (size < 0)
        return -1;
    std::uint64_t const left = source.offset < source.file.size() ? source.file.size() - source.offset : 0;
    auto const count = static_cast<std::size_t>(std::min<std::uint64_t>(left, std::uint64_t(size)));
    if (count > 0)
        std::memcpy(data, source.file.data() + source.offset, count);
    source.offset += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t write_proc(thandle_t, void*, tmsize_t) { return -1; }

toff_t seek_proc(thandle_t handle, toff_t offset, int whence)
{
    auto& source = source_of(handle);
    std::uint64_t base = 0;
    if (whence == SEEK_CUR)
        base = source.offset;
    else if (whence == SEEK_END)
        base = source.file.size();
    // Offsets come from the file: one past any real size fails the seek
    // rather than wrapping around.
    if (offset > std::uint64_t(INT64_MAX) - base)
        return static_cast<toff_t>(-1);
    source.offset = base + offset;
    return source.offset;
}

int close_proc(thandle_t) { return 0; }
toff_t size_proc(thandle_t handle) { return source_of(handle).file.size(); }
// The bytes are in memory already: lent as a mapping, libtiff reads
// strips and tiles straight from them (its unmapped read of uncompressed
// tiles fails in 4.5).
int map_proc(thandle_t handle, void** base, toff_t* size)
{
    auto& source = source_of(handle);
    *base = const_cast<std::uint8_t*>(source.file.data());
    *size = source.file.size();
    return 1;
}
void unmap_proc(thandle_t, void*, toff_t) { }

// The library's messages would go to stderr; a bad file is ordinary input
// and is told through the problem instead. Handled here, the process-wide
// handlers are never reached.
int silence(TIFF*, void*, char const*, char const*, va_list) { return 1; }

struct Closer {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
using TiffHandle = std::unique_ptr<TIFF, Closer>;

TiffHandle open(Source& source)
{
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options)
        return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options, silence, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, silence, nullptr);
    // A strip or tile whose header claims gigabytes is refused before it is
    // allocated; the picture's own buffer is counted by the seam.
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(kMaxDecodeBytes));
    TIFF* tiff = TIFFClientOpenExt("picture", "r", &source, read_proc, write_proc, seek_proc, close_proc,
        size_proc, map_proc, unmap_proc, options);
    TIFFOpenOptionsFree(options);
    return TiffHandle(tiff);
}

int stored_orientation(TIFF* tiff)
{
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ORIENTATION, &orientation);
    return orientation >= 1 && orientation <= 8 ? orientation : 1;
}

// The RGBA reader takes the first extra sample as alpha whatever it is said
// to be, and gives it premultiplied.
bool has_alpha(TIFF* tiff)
{
    std::uint16_t count = 0;
    std::uint16_t* kinds = nullptr;
    return TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &count, &kinds) && count > 0;
}

PictureProblem read_header(TIFF* tiff, Header& header)
{
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height)
        || width == 0 || height == 0)
        return PictureProblem::Damaged;
    // Beyond the seam's limits anyway; kept so that they fit in an int.
    header.width = static_cast<int>(std::min<std::uint32_t>(width, INT32_MAX));
    header.height = static_cast<int>(std::min<std::uint32_t>(height, INT32_MAX));
    std::uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
    char message[1024] = {};
    if (!TIFFIsCODECConfigured(compression) || !TIFFRGBAImageOK(tiff, message))
        return PictureProblem::Unsupported;
    header.alpha = has_alpha(tiff);
    header.orientation = stored_orientation(tiff);
    std::uint32_t length = 0;
    void* profile = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &length, &profile) && profile && length > 0) {
        auto const* bytes = static_cast<std::uint8_t const*>(profile);
        header.icc.assign(bytes, bytes + length);
    }
    return PictureProblem::None;
}

// Back to straight alpha, as every other format gives it.
void unpremultiply(std::uint8_t* pixel)
{
    unsigned const alpha = pixel[3];
    if (alpha == 0xFF || alpha == 0)
        return;
    for (int c = 0; c < 3; ++c)
        pixel[c] = static_cast<std::uint8_t>(std::min(255u, (pixel[c] * 255u + alpha / 2) / alpha));
}

bool sniff(std::span<std::uint8_t const> head)
{
    if (head.size() < 4)
        return false;
    // Classic TIFF (42) and BigTIFF (43), in either byte order.
    bool const little = head[0] == 'I' && head[1] == 'I' && head[3] == 0 && (head[2] == 42 || head[2] == 43);
    bool const big = head[0] == 'M' && head[1] == 'M' && head[2] == 0 && (head[3] == 42 || head[3] == 43);
    return little || big;
}

// The picture opened over `source` (which outlives it) and its header read;
// null, with the reason, when either fails.
TiffHandle open_picture(Source& source, Header& header, PictureProblem& problem)
{
    problem = sniff(source.file) ? PictureProblem::None : PictureProblem::NotPicture;
    TiffHandle tiff = problem == PictureProblem::None ? open(source) : nullptr;
    if (problem == PictureProblem::None && !tiff)
        problem = PictureProblem::Damaged;
    if (tiff)
        problem = read_header(tiff.get(), header);
    return problem == PictureProblem::None ? std::move(tiff) : nullptr;
}

PictureProblem probe(std::span<std::uint8_t const> file, Header& header)
{
    Source source { file };
    PictureProblem problem = PictureProblem::None;
    open_picture(source, header, problem);
    return problem;
}

bool is_plain_rgb(TIFF* tiff)
{
    std::uint16_t photometric = 0, bits = 0, samples = 0, planar = 0;
    return !TIFFIsTiled(tiff) && TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric)
        && photometric == PHOTOMETRIC_RGB && TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits) && bits == 8
        && TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples) && samples == 3
        && TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar) && planar == PLANARCONFIG_CONTIG;
}

bool read_strips(TIFF* tiff, Rgba& out)
{
    std::uint32_t rows_per_strip = 0;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rows_per_strip);
    rows_per_strip = std::clamp<std::uint32_t>(rows_per_strip, 1, std::uint32_t(out.height));
    std::size_t const stride = std::size_t(out.width) * 3;
    std::uint32_t const strips = (std::uint32_t(out.height) + rows_per_strip - 1) / rows_per_strip;
    if (TIFFNumberOfStrips(tiff) < strips)
        return false;
    for (std::uint32_t strip = 0; strip < strips; ++strip) {
        std::uint32_t const first = strip * rows_per_strip;
        std::uint32_t const rows = std::min(rows_per_strip, std::uint32_t(out.height) - first);
        auto const size = static_cast<tmsize_t>(stride * rows);
        if (TIFFReadEncodedStrip(tiff, strip, out.pixels.data() + stride * first, size) != size)
            return false;
    }
    return true;
}

// Each pixel a 32-bit word, red in its lowest byte: the same bytes in
// memory only on little-endian machines.
bool read_rgba(TIFF* tiff, Rgba& out, Header const& header)
{
    // The reader turns the picture only as far as it must to reach the
    // asked orientation; asking for the stored one leaves rows and columns
    // as stored, top row first, for the seam to turn like any other.
    auto* raster = reinterpret_cast<std::uint32_t*>(out.pixels.data());
    if (!TIFFReadRGBAImageOriented(tiff, std::uint32_t(out.width), std::uint32_t(out.height), raster,
            header.orientation, 1))
        return false;
    std::uint8_t* pixel = out.pixels.data();
    for (std::size_t i = 0, count = out.pixels.size() / 4; i < count; ++i, pixel += 4) {
        std::uint32_t word;
        std::memcpy(&word, pixel, 4);
        pixel[0] = static_cast<std::uint8_t>(TIFFGetR(word));
        pixel[1] = static_cast<std::uint8_t>(TIFFGetG(word));
        pixel[2] = static_cast<std::uint8_t>(TIFFGetB(word));
        pixel[3] = static_cast<std::uint8_t>(TIFFGetA(word));
        if (header.alpha)
            unpremultiply(pixel);
    }
    return true;
}

PictureProblem decode(std::span<std::uint8_t const> file, Rgba& out)
{
    Source source { file };
    Header header;
    PictureProblem problem = PictureProblem::None;
    auto const tiff = open_picture(source, header, problem);
    if (!tiff)
        return problem;
    bool const plain = is_plain_rgb(tiff.get());
    if (!allocate_rgba(out, header.width, header.height, plain ? 3 : 4))
        return PictureProblem::TooLarge;
    if (!(plain ? read_strips(tiff.get(), out) : read_rgba(tiff.get(), out, header)))
        return PictureProblem::Damaged;
    out.orientation = header.orientation;
    out.icc = std::move(header.icc);
    return PictureProblem::None;
}

}

Adapter const kTiff { PictureFormat::Tiff, sniff, probe, decode };

}
