// PNG through libpng, read from the file's bytes in memory. Every kind of
// PNG (palette, grey, 16-bit, tRNS, interlaced) leaves here as 8-bit RGBA,
// or RGB when it has no transparency.
// libpng reports a fatal error by jumping back to the setjmp of the call
// that armed it, so each such call keeps no destructible locals of its own.

#include "imaging/Exif.h"
#include "imaging/FormatAdapter.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstring>

namespace qv::formats {

namespace {

constexpr std::array<std::uint8_t, 8> kSignature { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };

std::uint32_t big_endian(std::uint8_t const* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// libpng sees an eXIf chunk only before the pixel data unless the whole
// file is read; writers put it on either side. Walking the chunk headers
// finds it wherever it is without touching the pixels.
int file_orientation(std::span<std::uint8_t const> file)
{
    std::size_t at = kSignature.size();
    while (file.size() - at >= 12) {
        std::uint32_t const length = big_endian(&file[at]);
        std::uint8_t const* type = &file[at + 4];
        if (length > file.size() - at - 12)
            return 1;
        if (std::memcmp(type, "eXIf", 4) == 0)
            return exif_orientation_of_block(file.subspan(at + 8, length));
        if (std::memcmp(type, "IEND", 4) == 0)
            return 1;
        at += 12 + std::size_t(length);
    }
    return 1;
}

struct Reader {
    png_structp png { nullptr };
    png_infop info { nullptr };
    std::span<std::uint8_t const> file;
    std::size_t offset { 0 };

    ~Reader()
    {
        if (png)
            png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }

    // The library's messages would go to stderr; a bad file is ordinary
    // input and is told through the problem instead.
    static void on_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }
    static void on_warning(png_structp, png_const_charp) { }

    static void read(png_structp png, png_bytep data, png_size_t length)
    {
        auto& self = *static_cast<Reader*>(png_get_io_ptr(png));
        if (length > self.file.size() - self.offset)
            png_error(png, "cut short");
        std::memcpy(data, self.file.data() + self.offset, length);
        self.offset += length;
    }

    bool create(std::span<std::uint8_t const> bytes)
    {
        file = bytes;
        png = png_create_read_struct(PNG_LIBPNG_VER_STRING, this, on_error, on_warning);
        if (!png)
            return false;
        info = png_create_info_struct(png);
        if (!info)
            return false;
        png_set_read_fn(png, this, read);
        // The seam refuses sizes beyond its own limits after the probe; the
        // library's default limit would turn them into damage instead.
        png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
        // Large ancillary chunks (text, profiles) stay bounded.
        png_set_chunk_malloc_max(png, 16u << 20);
        // Yet libpng allocates the length a text, palette-suggestion or Exif
        // chunk claims, up to 2 GB from a file of a few bytes. None of them
        // is used here (the Exif turn is read from the bytes): skipped.
        static constexpr png_byte unused[] { 't', 'E', 'X', 't', 0, 'z', 'T', 'X', 't', 0, 'i', 'T', 'X', 't', 0,
            's', 'P', 'L', 'T', 0, 'e', 'X', 'I', 'f', 0 };
        png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, unused, 5);
        return true;
    }

    bool read_info()
    {
        if (setjmp(png_jmpbuf(png)))
            return false;
        png_read_info(png, info);
        return true;
    }

    void fill_header(Header& header) const
    {
        header.width = static_cast<int>(png_get_image_width(png, info));
        header.height = static_cast<int>(png_get_image_height(png, info));
        header.alpha = (png_get_color_type(png, info) & PNG_COLOR_MASK_ALPHA) != 0
            || png_get_valid(png, info, PNG_INFO_tRNS) != 0;
        png_charp name = nullptr;
        int compression = 0;
        png_bytep profile = nullptr;
        png_uint_32 length = 0;
        if (png_get_iCCP(png, info, &name, &compression, &profile, &length) && profile && length > 0)
            header.icc.assign(profile, profile + length);
        header.orientation = file_orientation(file);
    }

    // Colour and gamma stay as stored: the seam converts with the profile.
    // A picture without transparency comes as RGB.
    bool set_output(int channels)
    {
        if (setjmp(png_jmpbuf(png)))
            return false;
        png_set_expand(png);
#ifdef PNG_READ_SCALE_16_TO_8_SUPPORTED
        png_set_scale_16(png);
#else
        png_set_strip_16(png);
#endif
        png_set_gray_to_rgb(png);
        if (channels == 4)
            png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
        png_set_interlace_handling(png);
        png_read_update_info(png, info);
        return png_get_rowbytes(png, info) == std::size_t(png_get_image_width(png, info)) * std::size_t(channels);
    }

    bool read_image(png_bytepp rows)
    {
        if (setjmp(png_jmpbuf(png)))
            return false;
        png_read_image(png, rows);
        return true;
    }
};

bool sniff(std::span<std::uint8_t const> head)
{
    return head.size() >= kSignature.size() && std::equal(kSignature.begin(), kSignature.end(), head.begin());
}

PictureProblem probe(std::span<std::uint8_t const> file, Header& header)
{
    if (!sniff(file))
        return PictureProblem::NotPicture;
    Reader reader;
    if (!reader.create(file) || !reader.read_info())
        return PictureProblem::Damaged;
    reader.fill_header(header);
    return PictureProblem::None;
}

PictureProblem decode(std::span<std::uint8_t const> file, Rgba& out)
{
    if (!sniff(file))
        return PictureProblem::NotPicture;
    Reader reader;
    if (!reader.create(file) || !reader.read_info())
        return PictureProblem::Damaged;
    Header header;
    reader.fill_header(header);
    int const channels = header.alpha ? 4 : 3;
    if (!reader.set_output(channels))
        return PictureProblem::Damaged;
    if (!allocate_rgba(out, header.width, header.height, channels))
        return PictureProblem::TooLarge;
    std::vector<png_bytep> rows(static_cast<std::size_t>(header.height));
    std::size_t const stride = std::size_t(header.width) * std::size_t(channels);
    for (std::size_t y = 0; y < rows.size(); ++y)
        rows[y] = out.pixels.data() + y * stride;
    if (!reader.read_image(rows.data()))
        return PictureProblem::Damaged;
    out.orientation = header.orientation;
    out.icc = std::move(header.icc);
    return PictureProblem::None;
}

}

Adapter const kPng { PictureFormat::Png, sniff, probe, decode };

}
