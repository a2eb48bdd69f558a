#include "imaging/JpegRegion.h"

#include "imaging/JpegLibrary.h"
#include "imaging/JpegScaledIdct.h"

#include <memory>

namespace qv {

using namespace jpeg;

namespace {

// Library calls follow the arming of the error jump, with no destructible
// locals in between: a fatal library error returns as a failure.
struct RegionDecompressor {
    jpeg_decompress_struct cinfo {};
    ErrorManager errors;
    MemorySource source;
    bool created { false };

    RegionDecompressor() { install_error_manager(reinterpret_cast<j_common_ptr>(&cinfo), errors); }
    ~RegionDecompressor()
    {
        if (created)
            jpeg_destroy_decompress(&cinfo);
    }

    bool start(std::span<std::uint8_t const> bytes, int eighths)
    {
        if (setjmp(errors.jump))
            return false;
        jpeg_create_decompress(&cinfo);
        created = true;
        init_memory_source(source, bytes);
        attach_source(&cinfo, source.base);
        if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK)
            return false;
        set_output_format(&cinfo);
        cinfo.scale_num = static_cast<unsigned>(eighths);
        cinfo.scale_denom = 8;
        if (!jpeg_start_decompress(&cinfo) || cinfo.output_components != 3)
            return false;
        use_box_chroma(&cinfo);
        return true;
    }

    // Narrows the output to at least [left, left + width), which the library
    // widens to its block boundaries, and skips the rows above `top`.
    bool crop(JDIMENSION& left, JDIMENSION& width, JDIMENSION top)
    {
        if (setjmp(errors.jump))
            return false;
        if (left != 0 || width != cinfo.output_width)
            jpeg_crop_scanline(&cinfo, &left, &width);
        return top == 0 || jpeg_skip_scanlines(&cinfo, top) == top;
    }

    bool read_row(std::uint8_t* row)
    {
        if (setjmp(errors.jump))
            return false;
        JSAMPROW rows[1] = { row };
        return jpeg_read_scanlines(&cinfo, rows, 1) == 1;
    }
};

}

JpegScaledSize jpeg_scaled_size(int width, int height, int eighths)
{
    auto scale = [eighths](int side) { return static_cast<int>((std::int64_t { side } * eighths + 7) / 8); };
    return { scale(width), scale(height) };
}

std::optional<JpegRegion> decode_jpeg_region(std::span<std::uint8_t const> bytes, int eighths, Rect rect)
{
    if (eighths < 1 || eighths > 8 || rect.is_empty() || rect.left < 0 || rect.top < 0)
        return std::nullopt;
    // On the heap: the decompressor's tables are large for a worker's stack.
    auto decompressor = std::make_unique<RegionDecompressor>();
    if (!decompressor->start(bytes, eighths))
        return std::nullopt;
    auto const& cinfo = decompressor->cinfo;
    if (static_cast<JDIMENSION>(rect.right) > cinfo.output_width || static_cast<JDIMENSION>(rect.bottom) > cinfo.output_height)
        return std::nullopt;
    auto left = static_cast<JDIMENSION>(rect.left);
    auto width = static_cast<JDIMENSION>(rect.width());
    if (!decompressor->crop(left, width, static_cast<JDIMENSION>(rect.top)) || cinfo.output_width != width)
        return std::nullopt;
    JpegRegion region;
    region.left = static_cast<int>(left);
    region.top = rect.top;
    region.image.width = static_cast<int>(width);
    region.image.height = rect.height();
    std::size_t const stride = static_cast<std::size_t>(width) * 3;
    region.image.rgb.resize(stride * static_cast<std::size_t>(region.image.height));
    for (int y = 0; y < region.image.height; ++y)
        if (!decompressor->read_row(region.image.rgb.data() + stride * static_cast<std::size_t>(y)))
            return std::nullopt;
    return region;
}

}
