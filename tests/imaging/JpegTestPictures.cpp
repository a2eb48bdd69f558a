#include "imaging/JpegTestPictures.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

extern "C" {
#include <jpeglib.h>
}

namespace qv::test {

namespace {

struct QuietErrors {
    jpeg_error_mgr pub {};
    std::jmp_buf jump {};
};

void quiet_exit(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<QuietErrors*>(cinfo->err)->jump, 1); }
void quiet_message(j_common_ptr) { }

void quiet(j_common_ptr cinfo, QuietErrors& errors)
{
    cinfo->err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = quiet_exit;
    errors.pub.output_message = quiet_message;
}

}

std::vector<std::uint8_t> test_pattern(int width, int height)
{
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
    std::uint32_t seed = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            seed = seed * 1103515245u + 12345u;
            int const noise = static_cast<int>((seed >> 16) & 31) - 16;
            bool const stripe = ((x / 7 + y / 11) & 3) == 0;
            auto* p = &rgb[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 3];
            auto clamp = [](int v) { return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
            p[0] = clamp(x * 255 / (width > 1 ? width - 1 : 1) + noise);
            p[1] = clamp(stripe ? 240 : y * 200 / (height > 1 ? height - 1 : 1) + noise);
            p[2] = clamp(((x * y) & 0xFF) / 2 + (stripe ? 100 : 0) + noise);
        }
    }
    return rgb;
}

std::vector<std::uint8_t> make_jpeg(PictureShape const& shape)
{
    jpeg_compress_struct cinfo {};
    QuietErrors errors;
    quiet(reinterpret_cast<j_common_ptr>(&cinfo), errors);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::abort();
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = static_cast<JDIMENSION>(shape.width);
    cinfo.image_height = static_cast<JDIMENSION>(shape.height);
    cinfo.input_components = shape.grayscale ? 1 : 3;
    cinfo.in_color_space = shape.grayscale ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, shape.quality, TRUE);
    if (!shape.grayscale) {
        cinfo.comp_info[0].h_samp_factor = shape.h_sampling;
        cinfo.comp_info[0].v_samp_factor = shape.v_sampling;
    }
    cinfo.restart_interval = static_cast<unsigned>(shape.restart_mcus);
    cinfo.restart_in_rows = shape.restart_rows;
    if (shape.progressive)
        jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    auto const rgb = test_pattern(shape.width, shape.height);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(shape.width) * 3);
    while (cinfo.next_scanline < cinfo.image_height) {
        auto const* src = &rgb[static_cast<std::size_t>(cinfo.next_scanline) * row.size()];
        if (shape.grayscale) {
            for (int x = 0; x < shape.width; ++x)
                row[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>((src[3 * x] + 2 * src[3 * x + 1] + src[3 * x + 2]) / 4);
        } else {
            std::copy(src, src + row.size(), row.begin());
        }
        JSAMPROW rows[1] = { row.data() };
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<std::uint8_t> bytes(out, out + size);
    std::free(out);
    return bytes;
}

std::optional<Decoded> library_decode(std::span<std::uint8_t const> bytes, int denominator)
{
    jpeg_decompress_struct cinfo {};
    QuietErrors errors;
    quiet(reinterpret_cast<j_common_ptr>(&cinfo), errors);
    auto* result = new Decoded;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&cinfo);
        delete result;
        return std::nullopt;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    cinfo.do_fancy_upsampling = FALSE;
    cinfo.scale_num = 1;
    cinfo.scale_denom = static_cast<unsigned>(denominator);
    jpeg_start_decompress(&cinfo);
    result->width = static_cast<int>(cinfo.output_width);
    result->height = static_cast<int>(cinfo.output_height);
    result->rgb.resize(static_cast<std::size_t>(result->width) * static_cast<std::size_t>(result->height) * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW rows[1] = { result->rgb.data() + static_cast<std::size_t>(cinfo.output_scanline) * static_cast<std::size_t>(result->width) * 3 };
        jpeg_read_scanlines(&cinfo, rows, 1);
    }
    jpeg_destroy_decompress(&cinfo);
    Decoded decoded = std::move(*result);
    delete result;
    return decoded;
}

std::vector<ComponentCoefficients> library_coefficients(std::span<std::uint8_t const> bytes)
{
    jpeg_decompress_struct cinfo {};
    QuietErrors errors;
    quiet(reinterpret_cast<j_common_ptr>(&cinfo), errors);
    auto* result = new std::vector<ComponentCoefficients>;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&cinfo);
        delete result;
        return {};
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    jvirt_barray_ptr* arrays = jpeg_read_coefficients(&cinfo);
    for (int ci = 0; ci < cinfo.num_components; ++ci) {
        jpeg_component_info const& comp = cinfo.comp_info[ci];
        ComponentCoefficients c;
        c.h_sampling = comp.h_samp_factor;
        c.v_sampling = comp.v_samp_factor;
        bool const single = cinfo.num_components == 1;
        int const h = single ? 1 : comp.h_samp_factor;
        int const v = single ? 1 : comp.v_samp_factor;
        c.blocks_across = static_cast<int>((comp.width_in_blocks + static_cast<unsigned>(h) - 1) / static_cast<unsigned>(h)) * h;
        c.blocks_down = static_cast<int>((comp.height_in_blocks + static_cast<unsigned>(v) - 1) / static_cast<unsigned>(v)) * v;
        c.blocks.resize(static_cast<std::size_t>(c.blocks_across) * static_cast<std::size_t>(c.blocks_down) * 64);
        for (int row = 0; row < c.blocks_down; ++row) {
            JBLOCKARRAY line = (*cinfo.mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(&cinfo), arrays[ci],
                static_cast<JDIMENSION>(row), 1, FALSE);
            for (int col = 0; col < c.blocks_across; ++col)
                std::copy(line[0][col], line[0][col] + 64, c.blocks.begin() + (static_cast<std::ptrdiff_t>(row) * c.blocks_across + col) * 64);
        }
        result->push_back(std::move(c));
    }
    jpeg_destroy_decompress(&cinfo);
    auto out = std::move(*result);
    delete result;
    return out;
}

std::size_t scan_data_offset(std::span<std::uint8_t const> bytes)
{
    std::size_t at = 2;
    while (at + 4 <= bytes.size()) {
        int const marker = bytes[at + 1];
        std::size_t const length = static_cast<std::size_t>(bytes[at + 2] << 8 | bytes[at + 3]);
        at += 2 + length;
        if (marker == 0xDA)
            return at;
    }
    return 0;
}

}
