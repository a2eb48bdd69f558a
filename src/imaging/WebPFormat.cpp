// WebP through libwebp, read from the file's bytes in memory: stills
// decoded straight into the RGB or RGBA buffer, animations through the animation
// decoder for their first frame as composed on the canvas. Profiles and
// Exif sit in chunks of the extended container, read through the demuxer.

#include "imaging/Exif.h"
#include "imaging/FormatAdapter.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace qv::formats {

namespace {

PictureProblem problem_of(VP8StatusCode status)
{
    switch (status) {
    case VP8_STATUS_OK:
        return PictureProblem::None;
    case VP8_STATUS_UNSUPPORTED_FEATURE:
        return PictureProblem::Unsupported;
    case VP8_STATUS_OUT_OF_MEMORY:
        return PictureProblem::TooLarge;
    default:
        return PictureProblem::Damaged;
    }
}

struct DemuxDeleter {
    void operator()(WebPDemuxer* demux) const { WebPDemuxDelete(demux); }
};
struct AnimDeleter {
    void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};

WebPData data_of(std::span<std::uint8_t const> file) { return { file.data(), file.size() }; }

// The header and what the container says about the picture. The demuxer
// walks chunk headers only; it refuses a file whose chunks run past its
// end, which is how a cut-short file shows before any decode.
PictureProblem read_header(std::span<std::uint8_t const> file, Header& header, bool& animated)
{
    WebPBitstreamFeatures features {};
    if (auto const problem = problem_of(WebPGetFeatures(file.data(), file.size(), &features));
        problem != PictureProblem::None)
        return problem;
    WebPData const data = data_of(file);
    std::unique_ptr<WebPDemuxer, DemuxDeleter> const demux(WebPDemux(&data));
    if (!demux)
        return PictureProblem::Damaged;
    header.width = static_cast<int>(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH));
    header.height = static_cast<int>(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT));
    if (header.width <= 0 || header.height <= 0)
        return PictureProblem::Damaged;
    header.alpha = features.has_alpha != 0;
    animated = features.has_animation != 0;
    std::uint32_t const flags = WebPDemuxGetI(demux.get(), WEBP_FF_FORMAT_FLAGS);
    WebPChunkIterator chunk {};
    if ((flags & ICCP_FLAG) && WebPDemuxGetChunk(demux.get(), "ICCP", 1, &chunk)) {
        header.icc.assign(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size);
        WebPDemuxReleaseChunkIterator(&chunk);
    }
    if ((flags & EXIF_FLAG) && WebPDemuxGetChunk(demux.get(), "EXIF", 1, &chunk)) {
        header.orientation = exif_orientation_of_block({ chunk.chunk.bytes, chunk.chunk.size });
        WebPDemuxReleaseChunkIterator(&chunk);
    }
    return PictureProblem::None;
}

PictureProblem decode_still(std::span<std::uint8_t const> file, Rgba& out)
{
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        return PictureProblem::Unsupported; // a library built for another ABI
    config.output.colorspace = out.channels == 4 ? MODE_RGBA : MODE_RGB;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = out.pixels.data();
    config.output.u.RGBA.stride = out.width * out.channels;
    config.output.u.RGBA.size = out.pixels.size();
    // The picture's own size must match the canvas the buffer was sized for,
    // or the library refuses the buffer.
    auto const problem = problem_of(WebPDecode(file.data(), file.size(), &config));
    WebPFreeDecBuffer(&config.output);
    return problem;
}

PictureProblem decode_first_frame(std::span<std::uint8_t const> file, Rgba& out)
{
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options))
        return PictureProblem::Unsupported;
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    WebPData const data = data_of(file);
    std::unique_ptr<WebPAnimDecoder, AnimDeleter> const decoder(WebPAnimDecoderNew(&data, &options));
    if (!decoder)
        return PictureProblem::Damaged;
    WebPAnimInfo info {};
    if (!WebPAnimDecoderGetInfo(decoder.get(), &info) || int(info.canvas_width) != out.width
        || int(info.canvas_height) != out.height)
        return PictureProblem::Damaged;
    std::uint8_t* frame = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(decoder.get(), &frame, &timestamp) || !frame)
        return PictureProblem::Damaged;
    std::memcpy(out.pixels.data(), frame, out.pixels.size());
    return PictureProblem::None;
}

bool sniff(std::span<std::uint8_t const> head)
{
    return head.size() >= 12 && std::memcmp(head.data(), "RIFF", 4) == 0
        && std::memcmp(head.data() + 8, "WEBP", 4) == 0;
}

PictureProblem probe(std::span<std::uint8_t const> file, Header& header)
{
    if (!sniff(file))
        return PictureProblem::NotPicture;
    bool animated = false;
    return read_header(file, header, animated);
}

PictureProblem decode(std::span<std::uint8_t const> file, Rgba& out)
{
    if (!sniff(file))
        return PictureProblem::NotPicture;
    Header header;
    bool animated = false;
    if (auto const problem = read_header(file, header, animated); problem != PictureProblem::None)
        return problem;
    // A still picture without alpha comes as RGB; the animation decoder
    // gives RGBA only.
    if (!allocate_rgba(out, header.width, header.height, animated || header.alpha ? 4 : 3))
        return PictureProblem::TooLarge;
    auto const problem = animated ? decode_first_frame(file, out) : decode_still(file, out);
    if (problem != PictureProblem::None)
        return problem;
    out.orientation = header.orientation;
    out.icc = std::move(header.icc);
    return PictureProblem::None;
}

}

Adapter const kWebP { PictureFormat::WebP, sniff, probe, decode };

}
