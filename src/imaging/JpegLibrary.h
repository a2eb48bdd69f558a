#pragma once

// Internal to the JPEG adapter: the only header that brings in the JPEG
// library. Holds the error manager, the data sources and the decompressor
// set-up that every decode shares.

#include "base/FileStream.h"
#include "core/WString.h"

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

extern "C" {
#include <jpeglib.h>
#include <jerror.h>
#include <jpegint.h>
}

namespace qv::jpeg {

// A fatal library error prints the library's message and jumps back to the
// adapter function that armed `jump`. Code between the arming setjmp and a
// library call keeps no objects with destructors, so nothing is skipped.
struct ErrorManager {
    jpeg_error_mgr pub {};
    std::jmp_buf jump {};
};

void install_error_manager(j_common_ptr cinfo, ErrorManager& errors);

// Every source this adapter hands the library starts with this record; the
// decoder extensions read `bytes_after_buffer` to turn the library's
// buffer position into a distance from the end of the stream.
struct SourceBase {
    jpeg_source_mgr pub {};
    std::uint64_t bytes_after_buffer { 0 };
};

// Reads a file through a 4096-byte buffer. Running out of bytes suspends
// the library, which the adapter treats as a failed decode.
struct FileSource {
    SourceBase base;
    FileStream file;
    std::uint8_t buffer[4096];
};

bool open_file_source(FileSource& source, WStringView path);
void attach_source(j_decompress_ptr cinfo, SourceBase& source);

// Hands the whole block over at once; a second request suspends.
struct MemorySource {
    SourceBase base;
    std::span<std::uint8_t const> bytes;
    bool handed_over { false };
};

void init_memory_source(MemorySource& source, std::span<std::uint8_t const> bytes);

// A chunk of the compressed stream around an entry point. Its end reads as
// an end-of-image marker, so the bit reader pads with zeros there and never
// runs past the chunk.
struct ChunkSource {
    SourceBase base;
};

void init_chunk_source(ChunkSource& source);
void point_chunk_source(ChunkSource& source, std::uint8_t const* bytes, std::size_t count);

// The output every decode of this program asks for: R, G, B bytes per pixel
// (also for one-component pictures), and box chroma upsampling. Smooth
// upsampling would blend chroma across tile borders, so that a tile decoded
// on its own differed from the same region of a whole decode.
void set_output_format(j_decompress_ptr cinfo);

}
