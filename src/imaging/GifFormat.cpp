// GIF through giflib, read from the file's bytes in memory. Only the first
// frame is shown: placed on its logical screen, where what the frame does
// not cover and its transparent colour are transparent. Records are read
// one by one up to that frame, so an animation's later frames cost nothing.

#include "imaging/FormatAdapter.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace qv::formats {

namespace {

struct Source {
    std::span<std::uint8_t const> file;
    std::size_t offset { 0 };
};

// giflib takes a short read as the end of the file and fails the record.
int read_bytes(GifFileType* gif, GifByteType* data, int length)
{
    auto& source = *static_cast<Source*>(gif->UserData);
    std::size_t const count = std::min(std::size_t(std::max(length, 0)), source.file.size() - source.offset);
    std::memcpy(data, source.file.data() + source.offset, count);
    source.offset += count;
    return static_cast<int>(count);
}

struct Closer {
    void operator()(GifFileType* gif) const
    {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
using GifHandle = std::unique_ptr<GifFileType, Closer>;

// What precedes the first frame's pixels.
struct FirstFrame {
    int canvas_width { 0 };
    int canvas_height { 0 };
    int transparent { NO_TRANSPARENT_COLOR };
    bool covers_canvas { false };
};

// Reads up to and including the first frame's descriptor, skipping the
// extensions on the way but for the graphic control block, which names
// the transparent colour.
PictureProblem read_to_first_frame(GifFileType* gif, FirstFrame& frame)
{
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR)
            return PictureProblem::Damaged;
        if (type == TERMINATE_RECORD_TYPE)
            return PictureProblem::Damaged; // no frame at all
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif, &code, &block) == GIF_ERROR)
                return PictureProblem::Damaged;
            if (code == GRAPHICS_EXT_FUNC_CODE && block) {
                GraphicsControlBlock control {};
                if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK)
                    frame.transparent = control.TransparentColor;
            }
            while (block)
                if (DGifGetExtensionNext(gif, &block) == GIF_ERROR)
                    return PictureProblem::Damaged;
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE)
            return PictureProblem::Damaged;
        if (DGifGetImageDesc(gif) == GIF_ERROR)
            return PictureProblem::Damaged;
        auto const& desc = gif->Image;
        if (desc.Width <= 0 || desc.Height <= 0)
            return PictureProblem::Damaged;
        // A first frame larger than its screen (some writers leave the
        // screen 0 × 0) widens the canvas rather than being cut off.
        frame.canvas_width = std::max(gif->SWidth, desc.Left + desc.Width);
        frame.canvas_height = std::max(gif->SHeight, desc.Top + desc.Height);
        frame.covers_canvas = desc.Left == 0 && desc.Top == 0 && desc.Width == frame.canvas_width
            && desc.Height == frame.canvas_height;
        return PictureProblem::None;
    }
}

GifHandle open(Source& source)
{
    int error = 0;
    return GifHandle(DGifOpen(&source, read_bytes, &error));
}

bool sniff(std::span<std::uint8_t const> head)
{
    return head.size() >= 6
        && (std::memcmp(head.data(), "GIF87a", 6) == 0 || std::memcmp(head.data(), "GIF89a", 6) == 0);
}

PictureProblem probe(std::span<std::uint8_t const> file, Header& header)
{
    if (!sniff(file))
        return PictureProblem::NotPicture;
    Source source { file };
    auto gif = open(source);
    if (!gif)
        return PictureProblem::Damaged;
    FirstFrame frame;
    if (auto const problem = read_to_first_frame(gif.get(), frame); problem != PictureProblem::None)
        return problem;
    header.width = frame.canvas_width;
    header.height = frame.canvas_height;
    header.alpha = frame.transparent != NO_TRANSPARENT_COLOR || !frame.covers_canvas;
    return PictureProblem::None;
}

// Interlaced frames store every eighth row from 0, then from 4, every
// fourth from 2, and every second from 1.
int stored_row_to_frame_row(int stored, int height, bool interlaced)
{
    if (!interlaced)
        return stored;
    static constexpr int starts[] { 0, 4, 2, 1 };
    static constexpr int steps[] { 8, 8, 4, 2 };
    for (int pass = 0; pass < 4; ++pass) {
        int const rows = starts[pass] < height ? (height - starts[pass] + steps[pass] - 1) / steps[pass] : 0;
        if (stored < rows)
            return starts[pass] + stored * steps[pass];
        stored -= rows;
    }
    return -1;
}

PictureProblem decode(std::span<std::uint8_t const> file, Rgba& out)
{
    if (!sniff(file))
        return PictureProblem::NotPicture;
    Source source { file };
    auto gif = open(source);
    if (!gif)
        return PictureProblem::Damaged;
    FirstFrame frame;
    if (auto const problem = read_to_first_frame(gif.get(), frame); problem != PictureProblem::None)
        return problem;
    auto const& desc = gif->Image;
    ColorMapObject const* colours = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
    if (!colours || !colours->Colors)
        return PictureProblem::Damaged;
    if (!allocate_rgba(out, frame.canvas_width, frame.canvas_height))
        return PictureProblem::TooLarge;
    out.width = frame.canvas_width;
    out.height = frame.canvas_height;
    std::fill(out.pixels.begin(), out.pixels.end(), std::uint8_t(0));

    std::vector<GifPixelType> line(static_cast<std::size_t>(desc.Width));
    std::size_t const stride = std::size_t(out.width) * 4;
    for (int stored = 0; stored < desc.Height; ++stored) {
        if (DGifGetLine(gif.get(), line.data(), desc.Width) == GIF_ERROR)
            return PictureProblem::Damaged;
        int const y = desc.Top + stored_row_to_frame_row(stored, desc.Height, desc.Interlace);
        std::uint8_t* pixel = out.pixels.data() + std::size_t(y) * stride + std::size_t(desc.Left) * 4;
        for (GifPixelType const index : line) {
            // Indices past the colour table are left transparent, like the
            // frame's transparent colour.
            if (index != frame.transparent && index < colours->ColorCount) {
                GifColorType const colour = colours->Colors[index];
                pixel[0] = colour.Red;
                pixel[1] = colour.Green;
                pixel[2] = colour.Blue;
                pixel[3] = 0xFF;
            }
            pixel += 4;
        }
    }
    return PictureProblem::None;
}

}

Adapter const kGif { PictureFormat::Gif, sniff, probe, decode };

}
