// Camera RAWs through LibRaw. A RAW is shown by the JPEG preview the camera
// embedded in it when that preview is large enough for the screen: it is
// what the camera itself showed, with the photographer's picture style, and
// it takes a fraction of the time of developing the sensor data. Otherwise
// the sensor data is developed with LibRaw's defaults (camera white
// balance, sRGB, 8 bits).
//
// Threads: one LibRaw object per call (libraw_r), nothing shared. LibRaw's
// object is a few hundred kilobytes: it lives on the heap, not a worker's
// stack.

#include "imaging/FormatAdapter.h"
#include "imaging/JpegCodec.h"

#include <libraw/libraw.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string_view>

namespace qv::formats {

namespace {

// A preview at least this large on its longer side is shown instead of
// developing the sensor data.
constexpr int kMinPreviewSide = 1024;

bool starts_with(std::span<std::uint8_t const> head, std::size_t at, std::string_view text)
{
    return head.size() >= at + text.size() && std::memcmp(head.data() + at, text.data(), text.size()) == 0;
}

// Only signatures no other format shares: the RAWs that begin as plain
// TIFFs are recognised by is_camera_raw, which needs more than a head.
bool sniff(std::span<std::uint8_t const> head)
{
    using namespace std::string_view_literals;
    return (starts_with(head, 0, "II*\0"sv) && starts_with(head, 8, "CR")) // Canon CR2
        || starts_with(head, 0, "IIRO") || starts_with(head, 0, "IIRS")   // Olympus ORF
        || starts_with(head, 0, "MMOR")
        || starts_with(head, 0, "IIU\0"sv)                                // Panasonic RW2
        || starts_with(head, 0, "FUJIFILMCCD-RAW")                        // Fujifilm RAF
        || starts_with(head, 4, "ftypcrx ");                              // Canon CR3
}

// ---- The TIFF directories, for is_camera_raw ----

struct TiffReader {
    std::span<std::uint8_t const> file;
    bool little_endian { true };

    bool has(std::uint64_t at, std::uint64_t size) const { return at <= file.size() && size <= file.size() - at; }
    std::uint32_t u16(std::size_t at) const
    {
        auto const* p = file.data() + at;
        return little_endian ? p[0] | p[1] << 8 : p[0] << 8 | p[1];
    }
    std::uint32_t u32(std::size_t at) const
    {
        auto const* p = file.data() + at;
        return little_endian ? std::uint32_t(p[0] | p[1] << 8 | p[2] << 16) | std::uint32_t(p[3]) << 24
                             : std::uint32_t(p[0]) << 24 | std::uint32_t(p[1] << 16 | p[2] << 8 | p[3]);
    }
};

constexpr std::uint32_t kTagPhotometric = 262;
constexpr std::uint32_t kTagSubIfds = 330;
constexpr std::uint32_t kTagDngVersion = 50706;
constexpr std::uint32_t kPhotometricCfa = 32803;
constexpr std::uint32_t kTypeShort = 3;
constexpr std::uint32_t kTypeLong = 4;
constexpr std::uint32_t kTypeIfd = 13;
// Cameras write a few dozen entries and a handful of sub-directories; a
// file claiming more is not one of theirs.
constexpr std::uint32_t kMaxEntries = 1024;
constexpr std::uint32_t kMaxSubIfds = 8;

struct Directory {
    bool dng { false };
    bool cfa { false };
    std::vector<std::uint32_t> sub_ifds;
};

// One directory's entries; false when it does not fit in the file.
bool read_directory(TiffReader const& tiff, std::uint32_t offset, Directory& directory)
{
    if (!tiff.has(offset, 2))
        return false;
    std::uint32_t const count = tiff.u16(offset);
    if (count > kMaxEntries || !tiff.has(offset + 2, std::uint64_t(count) * 12))
        return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::size_t const entry = offset + 2 + std::size_t(i) * 12;
        std::uint32_t const tag = tiff.u16(entry);
        std::uint32_t const type = tiff.u16(entry + 2);
        std::uint32_t const values = tiff.u32(entry + 4);
        if (tag == kTagDngVersion)
            directory.dng = true;
        else if (tag == kTagPhotometric && type == kTypeShort)
            directory.cfa = tiff.u16(entry + 8) == kPhotometricCfa;
        else if (tag == kTagSubIfds && (type == kTypeLong || type == kTypeIfd) && values > 0) {
            std::uint32_t const listed = std::min(values, kMaxSubIfds);
            std::size_t at = entry + 8;
            if (values > 1) {
                at = tiff.u32(entry + 8);
                if (!tiff.has(at, std::uint64_t(listed) * 4))
                    continue;
            }
            for (std::uint32_t k = 0; k < listed; ++k)
                directory.sub_ifds.push_back(tiff.u32(at + std::size_t(k) * 4));
        }
    }
    return true;
}

// ---- LibRaw ----

// LibRaw's default callbacks print to stderr: without them it only returns
// its error codes.
std::unique_ptr<LibRaw> open_raw(std::span<std::uint8_t const> file, PictureProblem& problem)
{
    auto raw = std::make_unique<LibRaw>(LIBRAW_OPIONS_NO_MEMERR_CALLBACK | LIBRAW_OPIONS_NO_DATAERR_CALLBACK);
    // The buffer is only read, whatever the signature says.
    int const status = raw->open_buffer(const_cast<std::uint8_t*>(file.data()), file.size());
    if (status == LIBRAW_SUCCESS) {
        problem = PictureProblem::None;
        return raw;
    }
    switch (status) {
    case LIBRAW_FILE_UNSUPPORTED:
    case LIBRAW_NOT_IMPLEMENTED:
        problem = PictureProblem::Unsupported;
        break;
    case LIBRAW_UNSUFFICIENT_MEMORY:
    case LIBRAW_TOO_BIG:
        problem = PictureProblem::TooLarge;
        break;
    default:
        problem = PictureProblem::Damaged;
        break;
    }
    return nullptr;
}

// LibRaw's flip (bit 0 mirrors columns, bit 1 rows, bit 2 swaps the axes
// first) as the Exif orientation that turns the stored pixels upright.
int exif_orientation(int flip)
{
    constexpr std::array<int, 8> kExif { 1, 2, 4, 3, 5, 8, 6, 7 };
    return kExif[std::size_t(flip) & 7];
}

// The embedded preview's JPEG bytes (inside `raw`) when it is worth showing
// rather than developing the sensor data, with its size; empty otherwise.
struct Preview {
    std::span<std::uint8_t const> jpeg;
    int width { 0 };
    int height { 0 };
};

Preview usable_preview(LibRaw& raw)
{
    if (raw.unpack_thumb() != LIBRAW_SUCCESS)
        return {};
    auto const& thumbnail = raw.imgdata.thumbnail;
    if (thumbnail.tformat != LIBRAW_THUMBNAIL_JPEG || !thumbnail.thumb || thumbnail.tlength == 0)
        return {};
    std::span<std::uint8_t const> const jpeg { reinterpret_cast<std::uint8_t const*>(thumbnail.thumb),
        thumbnail.tlength };
    // The size the maker notes claim is not always the JPEG's: ask the JPEG.
    auto const probe = probe_jpeg(jpeg);
    if (probe.problem != PictureProblem::None
        || std::max(probe.info.width, probe.info.height) < kMinPreviewSide)
        return {};
    return { jpeg, probe.info.width, probe.info.height };
}

PictureProblem probe(std::span<std::uint8_t const> file, Header& header)
{
    PictureProblem problem;
    auto raw = open_raw(file, problem);
    if (!raw)
        return problem;
    header.alpha = false;
    if (auto const preview = usable_preview(*raw); !preview.jpeg.empty()) {
        header.width = preview.width;
        header.height = preview.height;
        header.orientation = exif_orientation(raw->imgdata.sizes.flip);
        return PictureProblem::None;
    }
    // The size of the developed picture, turned as LibRaw will turn it.
    if (raw->adjust_sizes_info_only() != LIBRAW_SUCCESS)
        return PictureProblem::Damaged;
    header.width = raw->imgdata.sizes.iwidth;
    header.height = raw->imgdata.sizes.iheight;
    header.orientation = 1;
    return header.width > 0 && header.height > 0 ? PictureProblem::None : PictureProblem::Damaged;
}

PictureProblem decode_preview(Preview const& preview, Rgba& out)
{
    auto reader = JpegReader::open_memory(preview.jpeg);
    if (!reader)
        return PictureProblem::Damaged;
    int const width = reader->width();
    int const height = reader->height();
    if (!allocate_rgba(out, width, height))
        return PictureProblem::TooLarge;
    std::vector<std::uint8_t> rgb(std::size_t(width) * 3);
    for (int y = 0; y < height; ++y) {
        if (!reader->read_row(rgb))
            return PictureProblem::Damaged;
        std::uint8_t* row = out.pixels.data() + std::size_t(y) * std::size_t(width) * 4;
        for (int x = 0; x < width; ++x) {
            std::memcpy(row + std::size_t(x) * 4, rgb.data() + std::size_t(x) * 3, 3);
            row[std::size_t(x) * 4 + 3] = 255;
        }
    }
    return PictureProblem::None;
}

struct ImageDeleter {
    void operator()(libraw_processed_image_t* image) const { LibRaw::dcraw_clear_mem(image); }
};

PictureProblem develop(LibRaw& raw, Rgba& out)
{
    // LibRaw works on 16-bit RGBG samples, twice what the seam's RGBA takes:
    // a sensor beyond the seam's limits is refused before any of it is
    // read.
    auto const& sizes = raw.imgdata.sizes;
    std::uint64_t const pixels = std::uint64_t(sizes.width) * sizes.height;
    if (pixels == 0)
        return PictureProblem::Damaged;
    if (pixels > kMaxPicturePixels || pixels * 8 > 2 * kMaxDecodeBytes)
        return PictureProblem::TooLarge;
    raw.imgdata.params.output_bps = 8;
    // The white balance the camera measured, as its own JPEG would have.
    raw.imgdata.params.use_camera_wb = 1;
    if (int const status = raw.unpack(); status != LIBRAW_SUCCESS)
        return status == LIBRAW_UNSUFFICIENT_MEMORY || status == LIBRAW_TOO_BIG ? PictureProblem::TooLarge
                                                                                 : PictureProblem::Damaged;
    if (raw.dcraw_process() != LIBRAW_SUCCESS)
        return PictureProblem::Damaged;
    int status = LIBRAW_SUCCESS;
    std::unique_ptr<libraw_processed_image_t, ImageDeleter> image { raw.dcraw_make_mem_image(&status) };
    if (!image || status != LIBRAW_SUCCESS)
        return PictureProblem::Damaged;
    // The working buffers go before the RGBA copy is allocated.
    raw.recycle();
    if (image->type != LIBRAW_IMAGE_BITMAP || image->bits != 8 || (image->colors != 3 && image->colors != 1))
        return PictureProblem::Unsupported;
    int const width = image->width;
    int const height = image->height;
    std::size_t const colors = image->colors;
    if (image->data_size < std::size_t(width) * std::size_t(height) * colors)
        return PictureProblem::Damaged;
    if (!allocate_rgba(out, width, height))
        return PictureProblem::TooLarge;
    std::uint8_t const* in = image->data;
    std::uint8_t* rgba = out.pixels.data();
    std::size_t const count = std::size_t(width) * std::size_t(height);
    for (std::size_t i = 0; i < count; ++i, in += colors, rgba += 4) {
        rgba[0] = in[0];
        rgba[1] = in[colors == 3 ? 1 : 0];
        rgba[2] = in[colors == 3 ? 2 : 0];
        rgba[3] = 255;
    }
    return PictureProblem::None;
}

PictureProblem decode(std::span<std::uint8_t const> file, Rgba& out)
{
    PictureProblem problem;
    auto raw = open_raw(file, problem);
    if (!raw)
        return problem;
    out.icc.clear();
    if (auto const preview = usable_preview(*raw); !preview.jpeg.empty()) {
        out.orientation = exif_orientation(raw->imgdata.sizes.flip);
        return decode_preview(preview, out);
    }
    // dcraw_make_mem_image turns the developed picture itself.
    out.orientation = 1;
    return develop(*raw, out);
}

}

bool is_camera_raw(std::span<std::uint8_t const> file)
{
    if (file.size() < 8)
        return false;
    TiffReader tiff { file };
    if (file[0] == 'I' && file[1] == 'I')
        tiff.little_endian = true;
    else if (file[0] == 'M' && file[1] == 'M')
        tiff.little_endian = false;
    else
        return false;
    if (tiff.u16(2) != 42)
        return false;
    Directory first;
    if (!read_directory(tiff, tiff.u32(4), first))
        return false;
    if (first.dng || first.cfa)
        return true;
    return std::ranges::any_of(first.sub_ifds, [&](std::uint32_t offset) {
        Directory sub;
        return read_directory(tiff, offset, sub) && sub.cfa;
    });
}

Adapter const kRaw { PictureFormat::Raw, sniff, probe, decode };

}
