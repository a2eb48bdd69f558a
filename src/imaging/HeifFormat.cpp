// HEIF and AVIF pictures (phones' HEIC, AV1 stills) through libheif, which
// decodes HEVC through libde265 and AV1 through dav1d or aom. Only the
// primary image is read, with its rotation, mirror and crop applied by the
// library: what the decode hands over is upright.
//
// Threads: one heif_context per call, nothing shared but the library's
// own registry of decoders, which heif_init fills once.

#include "imaging/ColourProfile.h"
#include "imaging/FormatAdapter.h"

#include <libheif/heif.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

namespace qv::formats {

namespace {

std::uint32_t read_be32(std::uint8_t const* p)
{
    return std::uint32_t { p[0] } << 24 | std::uint32_t { p[1] } << 16 | std::uint32_t { p[2] } << 8 | p[3];
}

bool is_brand(std::uint8_t const* p, char const* brand) { return std::memcmp(p, brand, 4) == 0; }

constexpr std::array kStillBrands { "heic", "heix", "hevc", "hevx", "heim", "heis", "mif1", "msf1", "avif", "avis" };

// Calls `match` on the major brand and on every compatible brand of the
// leading 'ftyp' box, as far as `head` reaches; true as soon as it does.
template<typename Match>
bool any_brand(std::span<std::uint8_t const> head, Match match)
{
    if (head.size() < 12 || !is_brand(head.data() + 4, "ftyp"))
        return false;
    std::size_t const box_size = read_be32(head.data());
    if (box_size < 16)
        return false;
    if (match(head.data() + 8))
        return true;
    std::size_t const end = std::min(box_size, head.size());
    for (std::size_t at = 16; at + 4 <= end; at += 4) {
        if (match(head.data() + at))
            return true;
    }
    return false;
}

bool sniff(std::span<std::uint8_t const> head)
{
    return any_brand(head, [](std::uint8_t const* brand) {
        return std::ranges::any_of(kStillBrands, [brand](char const* still) { return is_brand(brand, still); });
    });
}

bool is_av1(std::span<std::uint8_t const> file)
{
    return any_brand(file.first(std::min<std::size_t>(file.size(), 256)), [](std::uint8_t const* brand) {
        return is_brand(brand, "avif") || is_brand(brand, "avis");
    });
}

void unpremultiply(std::uint8_t* rgba)
{
    unsigned const a = rgba[3];
    if (a == 0 || a == 255)
        return;
    for (int c = 0; c < 3; ++c)
        rgba[c] = std::uint8_t(std::min(255u, (rgba[c] * 255u + a / 2) / a));
}

// Plugins are registered once for the whole process and never released:
// decodes run on several workers until the process ends.
void initialise_library()
{
    static bool const initialised = [] {
        heif_init(nullptr);
        return true;
    }();
    (void)initialised;
}

struct ContextDeleter {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleDeleter {
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct ImageDeleter {
    void operator()(heif_image* image) const { heif_image_release(image); }
};
struct OptionsDeleter {
    void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};

PictureProblem problem_of(heif_error const& error)
{
    switch (error.code) {
    case heif_error_Ok:
        return PictureProblem::None;
    case heif_error_Unsupported_filetype:
    case heif_error_Unsupported_feature:
        // A missing decoder plugin lands here too: the picture may well be
        // sound, this build cannot read it.
        return PictureProblem::Unsupported;
    case heif_error_Memory_allocation_error:
        return PictureProblem::TooLarge;
    default:
        return PictureProblem::Damaged;
    }
}

// The primary image of the file, which must outlive it; the context keeps
// pointers into `file` rather than a copy.
struct Primary {
    std::unique_ptr<heif_context, ContextDeleter> context;
    std::unique_ptr<heif_image_handle, HandleDeleter> handle;
};

PictureProblem open_primary(std::span<std::uint8_t const> file, Primary& primary)
{
    initialise_library();
    primary.context.reset(heif_context_alloc());
    if (!primary.context)
        return PictureProblem::TooLarge;
    // The library's own guard against sizes claimed in a few bytes, beyond
    // which the seam would refuse the picture anyway.
    heif_context_set_maximum_image_size_limit(primary.context.get(), kMaxPictureSide);
    auto error = heif_context_read_from_memory_without_copy(primary.context.get(), file.data(), file.size(), nullptr);
    if (error.code != heif_error_Ok)
        return problem_of(error);
    heif_image_handle* handle = nullptr;
    error = heif_context_get_primary_image_handle(primary.context.get(), &handle);
    primary.handle.reset(handle);
    if (error.code != heif_error_Ok)
        return problem_of(error);
    return primary.handle ? PictureProblem::None : PictureProblem::Damaged;
}

// AVIF and some HEIF say their colours as video does ("nclx"): primaries
// and a transfer curve. Those of sRGB's primaries need nothing; wide ones
// (Display P3, BT.2020) become a profile the seam converts from. HDR
// curves (PQ, HLG) are left: they are no 8-bit picture's.
std::vector<std::uint8_t> nclx_profile(heif_image_handle const* handle)
{
    heif_color_profile_nclx* nclx = nullptr;
    auto const error = heif_image_handle_get_nclx_color_profile(handle, &nclx);
    // Freed whatever the answer: the library may fail after allocating it.
    std::unique_ptr<heif_color_profile_nclx, void (*)(heif_color_profile_nclx*)> owned(nclx,
        heif_nclx_color_profile_free);
    if (error.code != heif_error_Ok || !nclx)
        return {};
    auto const primaries = static_cast<int>(nclx->color_primaries);
    if (primaries == 1 || primaries == 2) // BT.709 (sRGB's), or unspecified
        return {};
    ToneCurve curve;
    switch (static_cast<int>(nclx->transfer_characteristics)) {
    case 1: case 2: case 6: case 13: case 14: case 15:
        curve = ToneCurve::Srgb;
        break;
    case 4:
        curve = ToneCurve::Gamma22;
        break;
    case 5:
        curve = ToneCurve::Gamma28;
        break;
    default:
        return {};
    }
    return rgb_profile({ nclx->color_primary_red_x, nclx->color_primary_red_y, nclx->color_primary_green_x,
                           nclx->color_primary_green_y, nclx->color_primary_blue_x, nclx->color_primary_blue_y,
                           nclx->color_primary_white_x, nclx->color_primary_white_y },
        curve);
}

std::vector<std::uint8_t> icc_profile(heif_image_handle const* handle)
{
    auto const type = heif_image_handle_get_color_profile_type(handle);
    if (type == heif_color_profile_type_nclx)
        return nclx_profile(handle);
    if (type != heif_color_profile_type_prof && type != heif_color_profile_type_rICC)
        return {};
    std::size_t const size = heif_image_handle_get_raw_color_profile_size(handle);
    // A profile is a few kilobytes; a size beyond any real one is not read.
    if (size == 0 || size > (16u << 20))
        return {};
    std::vector<std::uint8_t> icc(size);
    if (heif_image_handle_get_raw_color_profile(handle, icc.data()).code != heif_error_Ok)
        return {};
    // Monochrome pictures come out as RGB, which a grey profile (its data
    // colour space at bytes 16 to 19) cannot describe: shown as they are.
    if (size >= 20 && std::memcmp(icc.data() + 16, "GRAY", 4) == 0)
        return {};
    return icc;
}

PictureProblem probe(std::span<std::uint8_t const> file, Header& header)
{
    Primary primary;
    if (auto const problem = open_primary(file, primary); problem != PictureProblem::None)
        return problem;
    // Sizes after the image's rotation and crop, as the decode will deliver.
    header.width = heif_image_handle_get_width(primary.handle.get());
    header.height = heif_image_handle_get_height(primary.handle.get());
    if (header.width <= 0 || header.height <= 0)
        return PictureProblem::Damaged;
    header.orientation = 1;
    header.alpha = heif_image_handle_has_alpha_channel(primary.handle.get()) != 0;
    header.icc = icc_profile(primary.handle.get());
    // Said now rather than after a decode that cannot even start.
    auto const codec = is_av1(file) ? heif_compression_AV1 : heif_compression_HEVC;
    if (!heif_have_decoder_for_format(codec))
        return PictureProblem::Unsupported;
    return PictureProblem::None;
}

PictureProblem decode(std::span<std::uint8_t const> file, Rgba& out)
{
    Primary primary;
    if (auto const problem = open_primary(file, primary); problem != PictureProblem::None)
        return problem;
    bool const alpha = heif_image_handle_has_alpha_channel(primary.handle.get()) != 0;
    std::unique_ptr<heif_decoding_options, OptionsDeleter> options { heif_decoding_options_alloc() };
    if (!options)
        return PictureProblem::TooLarge;
    options->ignore_transformations = 0;
    heif_image* decoded = nullptr;
    auto const error = heif_decode_image(primary.handle.get(), &decoded, heif_colorspace_RGB,
        heif_chroma_interleaved_RGBA, options.get());
    std::unique_ptr<heif_image, ImageDeleter> image { decoded };
    if (error.code != heif_error_Ok)
        return problem_of(error);
    if (!image)
        return PictureProblem::Damaged;

    int const width = heif_image_get_width(image.get(), heif_channel_interleaved);
    int const height = heif_image_get_height(image.get(), heif_channel_interleaved);
    int stride = 0;
    std::uint8_t const* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (!plane || width <= 0 || height <= 0 || stride < width * 4)
        return PictureProblem::Damaged;
    if (!allocate_rgba(out, width, height))
        return PictureProblem::TooLarge;

    // The seam composites straight alpha; files may store it premultiplied.
    bool const premultiplied = alpha && heif_image_is_premultiplied_alpha(image.get());
    std::size_t const row_bytes = std::size_t(width) * 4;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = out.pixels.data() + std::size_t(y) * row_bytes;
        std::memcpy(row, plane + std::size_t(y) * std::size_t(stride), row_bytes);
        for (std::size_t x = 0; x < row_bytes; x += 4) {
            // The library leaves the fourth byte to its converter when there
            // is no alpha plane; the seam needs it opaque.
            if (!alpha)
                row[x + 3] = 255;
            else if (premultiplied)
                unpremultiply(row + x);
        }
    }
    out.orientation = 1;
    out.icc = icc_profile(primary.handle.get());
    return PictureProblem::None;
}

}

Adapter const kHeif { PictureFormat::Heif, sniff, probe, decode };

}
