#include "imaging/JpegLibrary.h"

#include <algorithm>

namespace qv::jpeg {

namespace {

[[noreturn]] void exit_to_adapter(j_common_ptr cinfo)
{
    (*cinfo->err->output_message)(cinfo);
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

SourceBase& base_of(j_decompress_ptr cinfo) { return *reinterpret_cast<SourceBase*>(cinfo->src); }

void init_nothing(j_decompress_ptr) { }
void term_nothing(j_decompress_ptr) { }

boolean fill_from_file(j_decompress_ptr cinfo)
{
    auto& source = *reinterpret_cast<FileSource*>(cinfo->src);
    std::size_t const got = source.file.read(source.buffer, sizeof source.buffer);
    if (got == 0)
        return FALSE;
    source.base.pub.next_input_byte = source.buffer;
    source.base.pub.bytes_in_buffer = got;
    source.base.bytes_after_buffer -= std::min<std::uint64_t>(got, source.base.bytes_after_buffer);
    return TRUE;
}

void skip_in_file(j_decompress_ptr cinfo, long count)
{
    auto& source = *reinterpret_cast<FileSource*>(cinfo->src);
    if (count <= 0)
        return;
    auto const wanted = static_cast<std::uint64_t>(count);
    if (wanted <= source.base.pub.bytes_in_buffer) {
        source.base.pub.next_input_byte += wanted;
        source.base.pub.bytes_in_buffer -= wanted;
        return;
    }
    std::uint64_t const excess = std::min(wanted - source.base.pub.bytes_in_buffer, source.base.bytes_after_buffer);
    source.file.skip(static_cast<std::int64_t>(excess));
    source.base.bytes_after_buffer -= excess;
    source.base.pub.bytes_in_buffer = 0;
}

boolean fill_from_memory(j_decompress_ptr cinfo)
{
    auto& source = *reinterpret_cast<MemorySource*>(cinfo->src);
    // The library reads a byte after every successful fill, so an empty
    // block must suspend rather than hand over nothing.
    if (source.handed_over || source.bytes.empty())
        return FALSE;
    source.handed_over = true;
    source.base.pub.next_input_byte = source.bytes.data();
    source.base.pub.bytes_in_buffer = source.bytes.size();
    source.base.bytes_after_buffer = 0;
    return TRUE;
}

void skip_in_buffer(j_decompress_ptr cinfo, long count)
{
    if (count <= 0)
        return;
    auto& pub = *cinfo->src;
    auto const step = std::min<std::size_t>(static_cast<std::size_t>(count), pub.bytes_in_buffer);
    pub.next_input_byte += step;
    pub.bytes_in_buffer -= step;
}

std::uint8_t const kFakeEndOfImage[2] = { 0xFF, JPEG_EOI };

boolean fill_end_of_chunk(j_decompress_ptr cinfo)
{
    cinfo->src->next_input_byte = kFakeEndOfImage;
    cinfo->src->bytes_in_buffer = 2;
    base_of(cinfo).bytes_after_buffer = 0;
    return TRUE;
}

void set_methods(SourceBase& base, boolean (*fill)(j_decompress_ptr), void (*skip)(j_decompress_ptr, long))
{
    base.pub.init_source = init_nothing;
    base.pub.fill_input_buffer = fill;
    base.pub.skip_input_data = skip;
    base.pub.resync_to_restart = jpeg_resync_to_restart;
    base.pub.term_source = term_nothing;
    base.pub.next_input_byte = nullptr;
    base.pub.bytes_in_buffer = 0;
}

}

void install_error_manager(j_common_ptr cinfo, ErrorManager& errors)
{
    cinfo->err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = exit_to_adapter;
}

bool open_file_source(FileSource& source, WStringView path)
{
    if (!source.file.open(path, OpenMode::Read))
        return false;
    set_methods(source.base, fill_from_file, skip_in_file);
    source.base.bytes_after_buffer = source.file.size();
    return true;
}

void attach_source(j_decompress_ptr cinfo, SourceBase& source) { cinfo->src = &source.pub; }

void init_memory_source(MemorySource& source, std::span<std::uint8_t const> bytes)
{
    set_methods(source.base, fill_from_memory, skip_in_buffer);
    source.bytes = bytes;
    source.handed_over = false;
    source.base.bytes_after_buffer = bytes.size();
}

void init_chunk_source(ChunkSource& source)
{
    set_methods(source.base, fill_end_of_chunk, skip_in_buffer);
}

void point_chunk_source(ChunkSource& source, std::uint8_t const* bytes, std::size_t count)
{
    source.base.pub.next_input_byte = bytes;
    source.base.pub.bytes_in_buffer = count;
    source.base.bytes_after_buffer = 0;
}

void set_output_format(j_decompress_ptr cinfo)
{
    cinfo->out_color_space = JCS_RGB;
    cinfo->do_fancy_upsampling = FALSE;
    cinfo->scale_num = 1;
    cinfo->scale_denom = 1;
}

}
