// JPEG XL pictures through libjxl: a bare codestream or the boxed
// container. Only the first displayed frame is read (an animation shows its
// first), turned upright by the library.
//
// Threads: one decoder per call, nothing shared. The decode runs on the
// calling thread only: workers already decode several pictures at once.

#include "imaging/FormatAdapter.h"

#include <jxl/decode.h>
#include <jxl/decode_cxx.h>

#include <cstring>
#include <utility>

namespace qv::formats {

namespace {

bool sniff(std::span<std::uint8_t const> head)
{
    auto const signature = JxlSignatureCheck(head.data(), head.size());
    return signature == JXL_SIG_CODESTREAM || signature == JXL_SIG_CONTAINER;
}

constexpr JxlPixelFormat kRgba8 { 4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0 };

// The decoder turns the picture itself and then describes the turned one:
// these are its sides, and its orientation is the identity.
std::pair<int, int> upright_size(JxlBasicInfo const& info) { return { int(info.xsize), int(info.ysize) }; }

// An ICC profile's data colour space sits at bytes 16 to 19.
bool is_grey_profile(std::span<std::uint8_t const> icc)
{
    return icc.size() >= 20 && std::memcmp(icc.data() + 16, "GRAY", 4) == 0;
}

bool is_plain_srgb(JxlColorEncoding const& encoding)
{
    return encoding.color_space == JXL_COLOR_SPACE_RGB && encoding.white_point == JXL_WHITE_POINT_D65
        && encoding.primaries == JXL_PRIMARIES_SRGB && encoding.transfer_function == JXL_TRANSFER_FUNCTION_SRGB;
}

// The profile of the pixels the decoder delivers. Pictures tagged plain
// sRGB (most of them) carry none, so that the seam has nothing to convert.
// Nor do grey ones: their samples come out as RGB, which a grey profile
// cannot describe, and are shown as they are.
std::vector<std::uint8_t> icc_profile(JxlDecoder* decoder)
{
    JxlColorEncoding encoding {};
    if (JxlDecoderGetColorAsEncodedProfile(decoder, &kRgba8, JXL_COLOR_PROFILE_TARGET_DATA, &encoding)
            == JXL_DEC_SUCCESS
        && is_plain_srgb(encoding))
        return {};
    std::size_t size = 0;
    if (JxlDecoderGetICCProfileSize(decoder, &kRgba8, JXL_COLOR_PROFILE_TARGET_DATA, &size) != JXL_DEC_SUCCESS
        || size == 0 || size > (16u << 20))
        return {};
    std::vector<std::uint8_t> icc(size);
    if (JxlDecoderGetColorAsICCProfile(decoder, &kRgba8, JXL_COLOR_PROFILE_TARGET_DATA, icc.data(), size)
            != JXL_DEC_SUCCESS
        || is_grey_profile(icc))
        return {};
    return icc;
}

// Runs the decoder over the whole file until the events a caller needs have
// come, calling `on_event` for each; it returns a problem to stop early.
template<typename OnEvent>
PictureProblem run(std::span<std::uint8_t const> file, int events, OnEvent on_event)
{
    auto decoder = JxlDecoderMake(nullptr);
    if (!decoder)
        return PictureProblem::TooLarge;
    if (JxlDecoderSubscribeEvents(decoder.get(), events) != JXL_DEC_SUCCESS
        || JxlDecoderSetKeepOrientation(decoder.get(), JXL_FALSE) != JXL_DEC_SUCCESS
        // The seam composites straight alpha.
        || JxlDecoderSetUnpremultiplyAlpha(decoder.get(), JXL_TRUE) != JXL_DEC_SUCCESS
        || JxlDecoderSetInput(decoder.get(), file.data(), file.size()) != JXL_DEC_SUCCESS)
        return PictureProblem::Damaged;
    // The whole file is there, so asking for more means it was cut short.
    // The input is left open all the same: closed, the library reports the
    // cut on stderr before it fails.
    for (;;) {
        auto const status = JxlDecoderProcessInput(decoder.get());
        switch (status) {
        case JXL_DEC_ERROR:
        case JXL_DEC_NEED_MORE_INPUT:
            return PictureProblem::Damaged;
        case JXL_DEC_SUCCESS:
            // Every subscribed event came and the caller wanted more.
            return PictureProblem::Damaged;
        default:
            break;
        }
        bool done = false;
        if (auto const problem = on_event(decoder.get(), status, done); problem != PictureProblem::None)
            return problem;
        if (done)
            return PictureProblem::None;
    }
}

PictureProblem probe(std::span<std::uint8_t const> file, Header& header)
{
    return run(file, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING,
        [&](JxlDecoder* decoder, JxlDecoderStatus status, bool& done) {
            if (status == JXL_DEC_BASIC_INFO) {
                JxlBasicInfo info {};
                if (JxlDecoderGetBasicInfo(decoder, &info) != JXL_DEC_SUCCESS)
                    return PictureProblem::Damaged;
                std::tie(header.width, header.height) = upright_size(info);
                header.alpha = info.alpha_bits > 0;
                header.orientation = 1;
            } else if (status == JXL_DEC_COLOR_ENCODING) {
                header.icc = icc_profile(decoder);
                done = true;
            }
            return PictureProblem::None;
        });
}

PictureProblem decode(std::span<std::uint8_t const> file, Rgba& out)
{
    bool alpha = false;
    bool have_size = false;
    auto const problem = run(file, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE,
        [&](JxlDecoder* decoder, JxlDecoderStatus status, bool& done) {
            switch (status) {
            case JXL_DEC_BASIC_INFO: {
                JxlBasicInfo info {};
                if (JxlDecoderGetBasicInfo(decoder, &info) != JXL_DEC_SUCCESS)
                    return PictureProblem::Damaged;
                alpha = info.alpha_bits > 0;
                // Held before the library allocates its own frames.
                auto const [width, height] = upright_size(info);
                if (!allocate_rgba(out, width, height))
                    return PictureProblem::TooLarge;
                have_size = true;
                return PictureProblem::None;
            }
            case JXL_DEC_COLOR_ENCODING:
                out.icc = icc_profile(decoder);
                return PictureProblem::None;
            case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
                std::size_t size = 0;
                if (!have_size || JxlDecoderImageOutBufferSize(decoder, &kRgba8, &size) != JXL_DEC_SUCCESS
                    || size != out.pixels.size())
                    return PictureProblem::Damaged;
                if (JxlDecoderSetImageOutBuffer(decoder, &kRgba8, out.pixels.data(), size) != JXL_DEC_SUCCESS)
                    return PictureProblem::Damaged;
                return PictureProblem::None;
            }
            case JXL_DEC_FULL_IMAGE:
                done = true;
                return PictureProblem::None;
            default:
                return PictureProblem::None;
            }
        });
    if (problem != PictureProblem::None)
        return problem;
    if (!alpha) {
        for (std::size_t at = 3; at < out.pixels.size(); at += 4)
            out.pixels[at] = 255;
    }
    out.orientation = 1;
    return PictureProblem::None;
}

}

Adapter const kJxl { PictureFormat::Jxl, sniff, probe, decode };

}
