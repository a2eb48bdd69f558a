#pragma once

// Internal to the JPEG adapter: the decompressor and compressor records
// behind JpegReader and JpegEncoder, shared by the codec (JpegCodec.cpp) and
// the inspection and copying of whole pictures (JpegCopy.cpp). Nothing
// outside imaging/ includes this.

#include "base/FileStream.h"
#include "imaging/JpegCodec.h"
#include "imaging/JpegEncodeEntries.h"
#include "imaging/JpegHuffman.h"
#include "imaging/JpegLibrary.h"

#include <cstdint>
#include <vector>

namespace qv {

namespace jpeg {

enum class Mode { Plain, Recording };

constexpr std::size_t kWriteBufferSize = 4096;

// What the library's last message says of the picture. A read that ran out
// of bytes suspends with no error of its own: the file is cut short.
PictureProblem problem_of(int message);

}

using namespace jpeg;

// Every library call below sits in a member function that arms the error
// manager's jump first and keeps no destructible locals, so a fatal library
// error returns here as a failure.
struct JpegReader::Impl final : EntryRecorder {
    jpeg_decompress_struct cinfo {};
    ErrorManager errors;
    bool created { false };
    bool failed { false };
    SourceBase* source { nullptr };
    std::unique_ptr<FileSource> file_source;
    MemorySource memory_source;
    HuffmanDecoder huffman;
    // Four-component pictures come from the library as CMYK and are turned
    // into RGB row by row here.
    bool cmyk { false };
    std::vector<std::uint8_t> cmyk_row;

    // Recording target: a file opened at the first entry, or a vector.
    WString entry_path;
    FileStream entry_file;
    std::vector<std::uint8_t>* entry_vector { nullptr };
    std::vector<std::uint8_t> pending;
    std::uint32_t appended { 0 };

    Impl() { install_error_manager(reinterpret_cast<j_common_ptr>(&cinfo), errors); }

    ~Impl() override
    {
        flush_entries();
        if (created)
            jpeg_destroy_decompress(&cinfo);
    }

    bool open_file(WStringView path)
    {
        file_source = std::make_unique<FileSource>();
        if (!open_file_source(*file_source, path))
            return false;
        source = &file_source->base;
        return true;
    }

    void open_memory(std::span<std::uint8_t const> bytes)
    {
        init_memory_source(memory_source, bytes);
        source = &memory_source.base;
    }

    bool start(Mode mode, int denominator)
    {
        if (setjmp(errors.jump)) {
            failed = true;
            return false;
        }
        jpeg_create_decompress(&cinfo);
        created = true;
        attach_source(&cinfo, *source);
        if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK)
            return fail();
        set_output_format(&cinfo);
        cinfo.scale_denom = static_cast<unsigned>(denominator);
        // A multi-scan picture would be read whole by the start call; the
        // recording read turns it away first.
        if (mode == Mode::Recording && (cinfo.inputctl->has_multiple_scans || cinfo.arith_code))
            return fail();
        cmyk = mode == Mode::Plain && (cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK);
        if (cmyk)
            cinfo.out_color_space = JCS_CMYK;
        if (!jpeg_start_decompress(&cinfo) || cinfo.output_components != (cmyk ? 4 : 3))
            return fail();
        if (cmyk)
            cmyk_row.resize(static_cast<std::size_t>(cinfo.output_width) * 4);
        if (mode == Mode::Recording) {
            auto const geometry = entry_geometry(&cinfo);
            if (!geometry || !huffman.install(&cinfo, *geometry))
                return fail();
            huffman.set_recorder(this, source);
        }
        return true;
    }

    bool fail()
    {
        failed = true;
        return false;
    }

    bool read_row(std::uint8_t* row)
    {
        if (!read_scanline(cmyk ? cmyk_row.data() : row))
            return false;
        if (cmyk)
            cmyk_to_rgb(row);
        return true;
    }

    bool read_scanline(std::uint8_t* row)
    {
        if (failed || cinfo.output_scanline >= cinfo.output_height)
            return false;
        if (setjmp(errors.jump))
            return fail();
        JSAMPROW rows[1] = { row };
        if (jpeg_read_scanlines(&cinfo, rows, 1) != 1 || huffman.recording_failed())
            return fail();
        return true;
    }

    // Adobe's files store the inks inverted (255 is no ink), and every
    // writer of CMYK JPEGs in use follows Adobe; without its marker the
    // values are taken as plain ink amounts.
    void cmyk_to_rgb(std::uint8_t* row) const
    {
        bool const inverted = cinfo.saw_Adobe_marker;
        std::uint8_t const* in = cmyk_row.data();
        for (JDIMENSION x = 0; x < cinfo.output_width; ++x, in += 4, row += 3) {
            unsigned const k = inverted ? in[3] : 255u - in[3];
            for (int c = 0; c < 3; ++c) {
                unsigned const ink = inverted ? in[c] : 255u - in[c];
                row[c] = static_cast<std::uint8_t>((ink * k + 127) / 255);
            }
        }
    }

    PictureProblem problem() const { return problem_of(errors.pub.msg_code); }

    void record(JpegEntry const& entry) override
    {
        auto const bytes = serialize_entry(entry);
        pending.insert(pending.end(), bytes.begin(), bytes.end());
        appended += static_cast<std::uint32_t>(kJpegEntrySize);
        if (pending.size() >= kWriteBufferSize)
            flush_entries();
    }

    // Unlike a silent skip, a target that cannot be written fails the read:
    // a cache file with a hole in its entry table would send tiles to the
    // wrong bytes.
    void flush_entries()
    {
        if (pending.empty())
            return;
        if (entry_vector) {
            entry_vector->insert(entry_vector->end(), pending.begin(), pending.end());
        } else {
            if (!entry_file.is_open() && !entry_file.open(entry_path, OpenMode::Append))
                failed = true;
            else if (entry_file.write(pending.data(), pending.size()) != pending.size())
                failed = true;
        }
        pending.clear();
    }
};

// The encoder writes through the program's file layer rather than stdio,
// so paths take the same road as every other file of the program.
struct JpegEncoder::Impl {
    struct Destination {
        jpeg_destination_mgr pub {};
        Impl* owner { nullptr };
    };

    jpeg_compress_struct cinfo {};
    ErrorManager errors;
    Destination destination;
    FileStream file;
    std::vector<std::uint8_t>* memory { nullptr }; // written here instead of to `file`
    std::unique_ptr<EncodeEntries> counter;        // counts a copy's entry points
    std::uint8_t buffer[kWriteBufferSize];
    bool created { false };
    bool started { false };
    bool failed { false };

    Impl() { install_error_manager(reinterpret_cast<j_common_ptr>(&cinfo), errors); }
    ~Impl()
    {
        if (created)
            jpeg_destroy_compress(&cinfo);
    }

    static Impl& of(j_compress_ptr cinfo) { return *reinterpret_cast<Destination*>(cinfo->dest)->owner; }

    static void init_destination(j_compress_ptr cinfo)
    {
        Impl& self = of(cinfo);
        self.destination.pub.next_output_byte = self.buffer;
        self.destination.pub.free_in_buffer = sizeof self.buffer;
    }

    // Allocation failures of the vector are caught by the caller of the
    // library call, never thrown through the library.
    bool put(std::size_t count) noexcept
    {
        if (!memory)
            return file.write(buffer, count) == count;
        try {
            memory->insert(memory->end(), buffer, buffer + count);
        } catch (...) {
            return false;
        }
        return true;
    }

    static boolean empty_output_buffer(j_compress_ptr cinfo)
    {
        Impl& self = of(cinfo);
        if (!self.put(sizeof self.buffer))
            ERREXIT(cinfo, JERR_FILE_WRITE);
        init_destination(cinfo);
        return TRUE;
    }

    static void term_destination(j_compress_ptr cinfo)
    {
        Impl& self = of(cinfo);
        std::size_t const used = sizeof self.buffer - self.destination.pub.free_in_buffer;
        // FileStream writes reach the file at once; forcing them to the disk
        // here would cost a sync per level for nothing the cache needs.
        if (!self.put(used))
            ERREXIT(cinfo, JERR_FILE_WRITE);
    }

    // Called with the caller's jump armed: the library may fail in it.
    void create_compressor()
    {
        jpeg_create_compress(&cinfo);
        created = true;
        destination.owner = this;
        destination.pub.init_destination = init_destination;
        destination.pub.empty_output_buffer = empty_output_buffer;
        destination.pub.term_destination = term_destination;
        cinfo.dest = &destination.pub;
    }

    bool start(int width, int height, int quality = 75, bool full_chroma = false)
    {
        if (setjmp(errors.jump)) {
            failed = true;
            return false;
        }
        create_compressor();
        cinfo.image_width = static_cast<JDIMENSION>(width);
        cinfo.image_height = static_cast<JDIMENSION>(height);
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_RGB;
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, quality, FALSE);
        if (full_chroma)
            cinfo.comp_info[0].h_samp_factor = cinfo.comp_info[0].v_samp_factor = 1;
        jpeg_start_compress(&cinfo, TRUE);
        started = true;
        if (counter && !counter->install(&cinfo))
            counter.reset();
        return true;
    }

    // The source's coefficients as they are, in the one form the entry
    // points describe. jpeg_copy_critical_parameters starts from the
    // library defaults (Huffman, one interleaved scan); they are set again
    // so that no source setting can leak through.
    bool transcode(j_decompress_ptr source, jvirt_barray_ptr* coefficients)
    {
        if (setjmp(errors.jump)) {
            failed = true;
            return false;
        }
        create_compressor();
        jpeg_copy_critical_parameters(source, &cinfo);
        cinfo.arith_code = FALSE;
        cinfo.optimize_coding = FALSE;
        cinfo.scan_info = nullptr;
        cinfo.num_scans = 0;
        cinfo.restart_interval = 0;
        cinfo.restart_in_rows = 0;
        cinfo.write_JFIF_header = cinfo.jpeg_color_space == JCS_YCbCr || cinfo.jpeg_color_space == JCS_GRAYSCALE;
        jpeg_write_coefficients(&cinfo, coefficients);
        jpeg_finish_compress(&cinfo);
        file.close();
        return true;
    }

    bool write_row(std::uint8_t const* row)
    {
        if (failed || !started || cinfo.next_scanline >= cinfo.image_height)
            return false;
        if (setjmp(errors.jump)) {
            failed = true;
            return false;
        }
        JSAMPROW rows[1] = { const_cast<JSAMPROW>(row) };
        if (jpeg_write_scanlines(&cinfo, rows, 1) != 1) {
            failed = true;
            return false;
        }
        return true;
    }

    bool finish()
    {
        if (failed || !started || cinfo.next_scanline < cinfo.image_height)
            return false;
        if (setjmp(errors.jump)) {
            failed = true;
            return false;
        }
        jpeg_finish_compress(&cinfo);
        started = false;
        file.close();
        return true;
    }
};

}
