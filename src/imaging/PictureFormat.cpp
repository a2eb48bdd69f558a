#include "imaging/PictureFormat.h"
#include "base/FileStream.h"
#include "imaging/ColourProfile.h"
#include "imaging/Exif.h"
#include "imaging/FormatAdapter.h"
#include "imaging/JpegCodec.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <new>

namespace qv {

namespace {

// Asked in this order: the RAW signatures before TIFF's, which several
// RAW formats share.
constexpr std::array<formats::Adapter const*, 7> kAdapters { &formats::kRaw, &formats::kPng, &formats::kGif,
    &formats::kWebP, &formats::kHeif, &formats::kJxl, &formats::kTiff };

formats::Adapter const* adapter_of(PictureFormat format)
{
    for (auto const* adapter : kAdapters)
        if (adapter->format == format)
            return adapter;
    return nullptr;
}

bool is_jpeg(std::span<std::uint8_t const> head)
{
    return head.size() >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
}

// Kept as one packed value: decodes on every thread read it.
std::atomic<std::uint32_t> g_background { 0 };

constexpr std::array<std::u16string_view, 11> kStillExtensions { u"jpg", u"jpeg", u"png", u"webp", u"gif", u"tif",
    u"tiff", u"heic", u"heif", u"avif", u"jxl" };
constexpr std::array<std::u16string_view, 11> kRawExtensions { u"cr2", u"cr3", u"nef", u"nrw", u"arw", u"dng",
    u"orf", u"raf", u"rw2", u"pef", u"srw" };

bool extension_in(WStringView name, std::span<std::u16string_view const> list)
{
    auto const dot = name.rfind(u'.');
    if (dot == WStringView::npos)
        return false;
    auto const extension = name.substr(dot + 1);
    return std::any_of(list.begin(), list.end(), [&](std::u16string_view known) {
        return known.size() == extension.size()
            && std::equal(known.begin(), known.end(), extension.begin(),
                [](char16_t a, char16_t b) { return a == (b >= u'A' && b <= u'Z' ? b - u'A' + u'a' : b); });
    });
}

// Reads the first bytes, or the whole file when `whole`.
PictureProblem read_bytes(WStringView path, bool whole, std::vector<std::uint8_t>& bytes)
{
    FileStream file(path, OpenMode::Read);
    if (!file.is_open())
        return PictureProblem::Missing;
    std::uint64_t const size = file.size();
    if (size == 0)
        return PictureProblem::Empty;
    if (whole && size > kMaxPictureFileBytes)
        return PictureProblem::TooLarge;
    std::size_t const wanted = whole ? static_cast<std::size_t>(size) : std::min<std::size_t>(size, kSniffBytes);
    try {
        bytes.resize(wanted);
    } catch (std::bad_alloc const&) {
        return PictureProblem::TooLarge;
    }
    if (file.read(bytes.data(), wanted) != wanted)
        return PictureProblem::Damaged;
    return PictureProblem::None;
}

bool within_limits(int width, int height)
{
    auto const pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    return width > 0 && height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide
        && pixels <= kMaxPicturePixels && pixels * 4 <= kMaxDecodeBytes;
}

std::optional<PictureFormat> sniff_file(std::span<std::uint8_t const> bytes)
{
    auto format = sniff_picture(bytes.first(std::min(bytes.size(), kSniffBytes)));
    if (format == PictureFormat::Tiff && formats::is_camera_raw(bytes))
        format = PictureFormat::Raw;
    return format;
}

PictureProbe probe_other(std::span<std::uint8_t const> bytes, PictureFormat format, formats::Header& header)
{
    PictureProbe probe;
    probe.info.format = format;
    probe.problem = adapter_of(format)->probe(bytes, header);
    if (probe.problem != PictureProblem::None)
        return probe;
    // Decoded upright: its size is the upright one.
    bool const swaps = orientation_swaps_sides(header.orientation);
    probe.info.width = swaps ? header.height : header.width;
    probe.info.height = swaps ? header.width : header.height;
    probe.info.decode_bytes = static_cast<std::uint64_t>(header.width) * static_cast<std::uint64_t>(header.height) * 4;
    probe.info.foreign_profile = is_foreign_profile(header.icc);
    if (!within_limits(header.width, header.height))
        probe.problem = PictureProblem::TooLarge;
    return probe;
}

PictureProbe from_jpeg(JpegProbe const& jpeg)
{
    PictureProbe probe;
    probe.problem = jpeg.problem;
    probe.info.width = jpeg.info.width;
    probe.info.height = jpeg.info.height;
    probe.info.orientation = jpeg.info.orientation;
    probe.info.foreign_profile = jpeg.info.components == 3 && is_foreign_profile(jpeg.info.icc);
    probe.info.decode_bytes = jpeg.info.direct ? 0 : jpeg.info.coefficient_bytes;
    return probe;
}

void compose_over_background(std::uint8_t* p, std::size_t count)
{
    auto const background = picture_background();
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t const* s = p + i * 4;
        unsigned const a = s[3];
        std::uint8_t* d = p + i * 3; // never ahead of the pixel read
        std::uint8_t r = s[0], g = s[1], b = s[2];
        // Most pictures are opaque throughout: their pixels only move, which
        // saves the blend's arithmetic on every one of them.
        if (a != 255) {
            auto blend = [a](unsigned c, unsigned under) {
                return static_cast<std::uint8_t>((c * a + under * (255 - a) + 127) / 255);
            };
            r = blend(r, background.r);
            g = blend(g, background.g);
            b = blend(b, background.b);
        }
        d[0] = r;
        d[1] = g;
        d[2] = b;
    }
}

// RGBA over the background, as RGB in the same bytes; then, whatever the
// decoder gave, turned upright.
void finish_pixels(formats::Rgba& rgba, RgbPixels& out)
{
    std::size_t const count = rgba.pixels.size() / static_cast<std::size_t>(rgba.channels);
    if (rgba.channels == 4)
        compose_over_background(rgba.pixels.data(), count);
    rgba.pixels.resize(count * 3);
    int const orientation = rgba.orientation >= 2 && rgba.orientation <= 8 ? rgba.orientation : 1;
    bool const swaps = orientation_swaps_sides(orientation);
    out.width = swaps ? rgba.height : rgba.width;
    out.height = swaps ? rgba.width : rgba.height;
    if (orientation == 1) {
        out.rgb = std::move(rgba.pixels);
        return;
    }
    out.rgb.resize(rgba.pixels.size());
    orient_rgb(orientation, rgba.pixels.data(), rgba.width, rgba.height, out.rgb.data());
    rgba.pixels = {};
}

PictureProblem decode_jpeg(std::span<std::uint8_t const> bytes, formats::Rgba& out)
{
    auto const probe = probe_jpeg(bytes);
    if (probe.problem != PictureProblem::None)
        return probe.problem;
    auto reader = JpegReader::open_memory(bytes);
    if (!reader)
        return PictureProblem::Damaged;
    if (!formats::allocate_rgba(out, reader->width(), reader->height(), 3))
        return PictureProblem::TooLarge;
    std::size_t const stride = static_cast<std::size_t>(out.width) * 3;
    for (int y = 0; y < reader->height(); ++y)
        if (!reader->read_row({ out.pixels.data() + static_cast<std::size_t>(y) * stride, stride }))
            return PictureProblem::Damaged;
    out.orientation = probe.info.orientation;
    if (probe.info.components == 3)
        out.icc = probe.info.icc;
    return PictureProblem::None;
}

}

char const* format_name(PictureFormat format)
{
    switch (format) {
    case PictureFormat::Jpeg:
        return "JPEG";
    case PictureFormat::Png:
        return "PNG";
    case PictureFormat::Gif:
        return "GIF";
    case PictureFormat::WebP:
        return "WebP";
    case PictureFormat::Tiff:
        return "TIFF";
    case PictureFormat::Heif:
        return "HEIF";
    case PictureFormat::Jxl:
        return "JPEG XL";
    case PictureFormat::Raw:
        return "RAW";
    }
    return "?";
}

std::optional<PictureFormat> sniff_picture(std::span<std::uint8_t const> head)
{
    if (is_jpeg(head))
        return PictureFormat::Jpeg;
    for (auto const* adapter : kAdapters)
        if (adapter->sniff(head))
            return adapter->format;
    return std::nullopt;
}

std::optional<PictureFormat> sniff_picture_file(WStringView path)
{
    std::vector<std::uint8_t> head;
    if (read_bytes(path, false, head) != PictureProblem::None)
        return std::nullopt;
    return sniff_picture(head);
}

bool has_picture_extension(WStringView name)
{
    return extension_in(name, kStillExtensions) || extension_in(name, kRawExtensions);
}

bool has_raw_extension(WStringView name)
{
    return extension_in(name, kRawExtensions);
}

PictureProbe probe_picture(std::span<std::uint8_t const> bytes)
{
    if (bytes.empty())
        return { PictureProblem::Empty, {} };
    auto const format = sniff_file(bytes);
    if (!format)
        return { PictureProblem::NotPicture, {} };
    if (*format == PictureFormat::Jpeg)
        return from_jpeg(probe_jpeg(bytes));
    formats::Header header;
    return probe_other(bytes, *format, header);
}

PictureProbe probe_picture(WStringView path)
{
    std::vector<std::uint8_t> bytes;
    if (auto problem = read_bytes(path, false, bytes); problem != PictureProblem::None)
        return { problem, {} };
    // A JPEG's headers are read as a stream; other formats whole.
    if (is_jpeg(bytes))
        return from_jpeg(probe_jpeg(path));
    if (auto problem = read_bytes(path, true, bytes); problem != PictureProblem::None)
        return { problem, {} };
    return probe_picture(bytes);
}

std::optional<int> cache_orientation(WStringView path)
{
    auto const format = sniff_picture_file(path);
    if (!format)
        return std::nullopt;
    if (*format != PictureFormat::Jpeg)
        return 1;
    auto const probe = probe_jpeg(path);
    if (probe.problem != PictureProblem::None)
        return std::nullopt;
    return probe.info.orientation;
}

void set_picture_background(Background colour)
{
    g_background.store((std::uint32_t { colour.r } << 16) | (std::uint32_t { colour.g } << 8) | colour.b);
}

Background picture_background()
{
    auto const packed = g_background.load();
    return { static_cast<std::uint8_t>(packed >> 16), static_cast<std::uint8_t>(packed >> 8),
        static_cast<std::uint8_t>(packed) };
}

bool formats::allocate_rgba(Rgba& out, int width, int height, int channels)
{
    if (!within_limits(width, height) || (channels != 3 && channels != 4))
        return false;
    try {
        out.pixels.assign(
            static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * static_cast<std::size_t>(channels), 255);
    } catch (std::bad_alloc const&) {
        return false;
    }
    out.width = width;
    out.height = height;
    out.channels = channels;
    return true;
}

PictureProblem decode_picture(std::span<std::uint8_t const> bytes, RgbPixels& out)
{
    if (bytes.empty())
        return PictureProblem::Empty;
    auto const format = sniff_file(bytes);
    if (!format)
        return PictureProblem::NotPicture;
    formats::Rgba rgba;
    if (*format == PictureFormat::Jpeg) {
        if (auto problem = decode_jpeg(bytes, rgba); problem != PictureProblem::None)
            return problem;
    } else {
        formats::Header header;
        if (auto probe = probe_other(bytes, *format, header); probe.problem != PictureProblem::None)
            return probe.problem;
        if (auto problem = adapter_of(*format)->decode(bytes, rgba); problem != PictureProblem::None)
            return problem;
        // A decode that gave other than the probe said is the file's fault
        // (a HEIF whose size property is not its coded image's, say): the
        // probe's size is what callers lay the picture out by.
        if (rgba.width != header.width || rgba.height != header.height
            || (rgba.channels != 3 && rgba.channels != 4)
            || rgba.pixels.size()
                != static_cast<std::size_t>(rgba.width) * static_cast<std::size_t>(rgba.height)
                    * static_cast<std::size_t>(rgba.channels))
            return PictureProblem::Damaged;
    }
    auto const layout = rgba.channels == 4 ? PixelLayout::Rgba : PixelLayout::Rgb;
    if (auto conversion = SrgbConversion::from_profile(rgba.icc, layout))
        conversion->convert(rgba.pixels.data(), rgba.pixels.size() / static_cast<std::size_t>(rgba.channels));
    finish_pixels(rgba, out);
    return PictureProblem::None;
}

PictureProblem decode_picture(WStringView path, RgbPixels& out)
{
    std::vector<std::uint8_t> bytes;
    if (auto problem = read_bytes(path, true, bytes); problem != PictureProblem::None)
        return problem;
    return decode_picture(bytes, out);
}

namespace {

// The next level, made a row at a time while the rows are still in the
// cache from their encode: each row pair summed first, in a loop the
// compiler vectorises, then the sums of neighbouring pixels.
class Halver {
public:
    Halver(RgbPixels const& whole, RgbPixels& half)
        : m_whole(whole)
        , m_half(half)
        , m_stride(static_cast<std::size_t>(whole.width) * 3)
        , m_sums(m_stride)
    {
        half.width = std::max(1, whole.width / 2);
        half.height = std::max(1, whole.height / 2);
        half.rgb.resize(static_cast<std::size_t>(half.width) * static_cast<std::size_t>(half.height) * 3);
    }

    // After whole row `y` is done: the half row it completes, if any.
    void row_done(int y)
    {
        int const row = y / 2;
        bool const last = m_whole.height == 1 || y % 2 == 1;
        if (!last || row >= m_half.height)
            return;
        std::uint8_t const* top = m_whole.rgb.data() + static_cast<std::size_t>(2 * row) * m_stride;
        std::uint8_t const* bottom = m_whole.height > 1 ? top + m_stride : top;
        for (std::size_t i = 0; i < m_stride; ++i)
            m_sums[i] = static_cast<std::uint16_t>(top[i] + bottom[i]);
        std::size_t const right = m_whole.width > 1 ? 3 : 0;
        std::uint8_t* d = m_half.rgb.data() + static_cast<std::size_t>(row) * static_cast<std::size_t>(m_half.width) * 3;
        std::uint16_t const* s = m_sums.data();
        for (int x = 0; x < m_half.width; ++x, s += 6, d += 3)
            for (std::size_t c = 0; c < 3; ++c)
                d[c] = static_cast<std::uint8_t>((s[c] + s[c + right] + 2) >> 2);
    }

private:
    RgbPixels const& m_whole;
    RgbPixels& m_half;
    std::size_t m_stride;
    std::vector<std::uint16_t> m_sums;
};

}

PictureProblem make_picture_copy(WStringView picture, PictureCopy& copy)
{
    RgbPixels pixels;
    if (auto problem = decode_picture(picture, pixels); problem != PictureProblem::None)
        return problem;
    copy.jpeg.clear();
    auto encoder = JpegEncoder::open_copy(copy.jpeg, pixels.width, pixels.height);
    if (!encoder)
        return PictureProblem::TooLarge;
    Halver halver(pixels, copy.half);
    auto const stride = static_cast<std::size_t>(pixels.width) * 3;
    for (int y = 0; y < pixels.height; ++y) {
        if (!encoder->write_row({ pixels.rgb.data() + static_cast<std::size_t>(y) * stride, stride }))
            return PictureProblem::Storage;
        halver.row_done(y);
    }
    if (!encoder->finish())
        return PictureProblem::Storage;
    copy.entries = encoder->entries();
    return PictureProblem::None;
}

PictureProblem write_jpeg_copy(WStringView picture, WStringView out)
{
    auto const probe = probe_jpeg(picture);
    if (probe.problem != PictureProblem::None)
        return probe.problem;
    auto const conversion = probe.info.components == 3
        ? SrgbConversion::from_profile(probe.info.icc, PixelLayout::Rgb)
        : nullptr;
    return reencode_rgb(picture, out, conversion.get());
}

}
