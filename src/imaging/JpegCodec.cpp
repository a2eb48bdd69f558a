#include "imaging/JpegCodec.h"

#include "imaging/Exif.h"
#include "imaging/JpegHuffman.h"
#include "imaging/JpegLibrary.h"
#include "imaging/PixelRules.h"

#include <algorithm>
#include <cstring>

namespace qv {

using namespace jpeg;

namespace {

enum class Mode { Plain, Recording };

constexpr std::size_t kWriteBufferSize = 4096;

// What the library's last message says of the picture. A read that ran out
// of bytes suspends with no error of its own: the file is cut short.
PictureProblem problem_of(int message)
{
    switch (message) {
    case JERR_NO_SOI:
        return PictureProblem::NotJpeg;
    case JERR_BAD_PRECISION:
        return PictureProblem::Precision;
    case JERR_SOF_UNSUPPORTED:
    case JERR_NOT_COMPILED:
    case JERR_CONVERSION_NOTIMPL:
    case JERR_BAD_J_COLORSPACE:
    case JERR_BAD_MCU_SIZE:
        return PictureProblem::Unsupported;
    default:
        return PictureProblem::Damaged;
    }
}

}

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

JpegReader::JpegReader(std::unique_ptr<Impl> impl)
    : m_impl(std::move(impl))
{
}

JpegReader::~JpegReader() = default;

std::unique_ptr<JpegReader> JpegReader::open_file(WStringView path)
{
    auto impl = std::make_unique<Impl>();
    if (!impl->open_file(path) || !impl->start(Mode::Plain, 1))
        return nullptr;
    return std::unique_ptr<JpegReader>(new JpegReader(std::move(impl)));
}

std::unique_ptr<JpegReader> JpegReader::open_file(WStringView path, int denominator)
{
    if (denominator != 1 && denominator != 2 && denominator != 4 && denominator != 8)
        return nullptr;
    auto impl = std::make_unique<Impl>();
    if (!impl->open_file(path) || !impl->start(Mode::Plain, denominator))
        return nullptr;
    return std::unique_ptr<JpegReader>(new JpegReader(std::move(impl)));
}

std::unique_ptr<JpegReader> JpegReader::open_memory(std::span<std::uint8_t const> bytes)
{
    auto impl = std::make_unique<Impl>();
    impl->open_memory(bytes);
    if (!impl->start(Mode::Plain, 1))
        return nullptr;
    return std::unique_ptr<JpegReader>(new JpegReader(std::move(impl)));
}

std::unique_ptr<JpegReader> JpegReader::open_recording(WStringView path, WStringView entry_file)
{
    return open_recording(path, entry_file, 1);
}

std::unique_ptr<JpegReader> JpegReader::open_recording(WStringView path, WStringView entry_file, int denominator)
{
    if (denominator != 1 && denominator != 2 && denominator != 4 && denominator != 8)
        return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->entry_path = WString(entry_file);
    if (!impl->open_file(path) || !impl->start(Mode::Recording, denominator))
        return nullptr;
    return std::unique_ptr<JpegReader>(new JpegReader(std::move(impl)));
}

std::unique_ptr<JpegReader> JpegReader::open_recording(std::span<std::uint8_t const> bytes, WStringView entry_file,
    int denominator)
{
    if (denominator != 1 && denominator != 2 && denominator != 4 && denominator != 8)
        return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->entry_path = WString(entry_file);
    impl->open_memory(bytes);
    if (!impl->start(Mode::Recording, denominator))
        return nullptr;
    return std::unique_ptr<JpegReader>(new JpegReader(std::move(impl)));
}

std::unique_ptr<JpegReader> JpegReader::open_recording(std::span<std::uint8_t const> bytes,
    std::vector<std::uint8_t>& entries)
{
    auto impl = std::make_unique<Impl>();
    impl->entry_vector = &entries;
    impl->open_memory(bytes);
    if (!impl->start(Mode::Recording, 1))
        return nullptr;
    return std::unique_ptr<JpegReader>(new JpegReader(std::move(impl)));
}

int JpegReader::width() const { return static_cast<int>(m_impl->cinfo.output_width); }
int JpegReader::source_width() const { return static_cast<int>(m_impl->cinfo.image_width); }
int JpegReader::source_height() const { return static_cast<int>(m_impl->cinfo.image_height); }
int JpegReader::height() const { return static_cast<int>(m_impl->cinfo.output_height); }
int JpegReader::rows_read() const { return static_cast<int>(m_impl->cinfo.output_scanline); }

bool JpegReader::read_row(std::span<std::uint8_t> rgb)
{
    if (rgb.size() < static_cast<std::size_t>(width()) * 3)
        return false;
    bool const ok = m_impl->read_row(rgb.data());
    if (ok && rows_read() == height())
        m_impl->flush_entries();
    return ok && !m_impl->failed;
}

std::uint32_t JpegReader::appended_bytes() const { return m_impl->appended; }

void convert_rgb_to_rgb565(std::span<std::uint8_t const> rgb, std::uint16_t* out)
{
    // Restrict-qualified: the byte source could otherwise alias the output,
    // which keeps the compiler from pipelining the loop.
    std::uint8_t const* __restrict source = rgb.data();
    std::uint16_t* __restrict target = out;
    std::size_t const count = rgb.size() / 3;
    std::size_t i = 0;
    // Four pixels from three little-endian words at a time: a = R0 G0 B0 R1,
    // b = G1 B1 R2 G2, c = B2 R3 G3 B3; each field is masked and shifted
    // into place as pack_rgb565 would.
    for (; i + 4 <= count; i += 4, source += 12) {
        std::uint32_t a, b, c;
        std::memcpy(&a, source, 4);
        std::memcpy(&b, source + 4, 4);
        std::memcpy(&c, source + 8, 4);
        target[i] = static_cast<std::uint16_t>((a & 0xF8) << 8 | (a >> 5 & 0x7E0) | (a >> 19 & 0x1F));
        target[i + 1] = static_cast<std::uint16_t>((a >> 16 & 0xF800) | (b & 0xFC) << 3 | (b >> 11 & 0x1F));
        target[i + 2] = static_cast<std::uint16_t>((b >> 8 & 0xF800) | (b >> 21 & 0x7E0) | (c >> 3 & 0x1F));
        target[i + 3] = static_cast<std::uint16_t>((c & 0xF800) | (c >> 13 & 0x7E0) | c >> 27);
    }
    for (; i < count; ++i, source += 3)
        target[i] = pack_rgb565(source[0], source[1], source[2]);
}

namespace {

std::unique_ptr<PixelBuffer> decode_to_buffer(JpegReader::Impl& impl)
{
    auto const width = static_cast<int>(impl.cinfo.output_width);
    auto const height = static_cast<int>(impl.cinfo.output_height);
    auto buffer = PixelBuffer::create(width, height);
    if (!buffer)
        return nullptr;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3);
    for (int y = 0; y < height; ++y) {
        if (!impl.read_row(row.data()))
            return nullptr;
        convert_rgb_to_rgb565(row, buffer->row(y));
    }
    return buffer;
}

}

std::unique_ptr<PixelBuffer> decode_scaled(WStringView path, int denominator, PictureProblem* problem)
{
    if (denominator != 1 && denominator != 2 && denominator != 4 && denominator != 8)
        return nullptr;
    auto say = [problem](PictureProblem why) {
        if (problem)
            *problem = why;
    };
    // On the heap: the decoder's tables are too large for a worker's stack.
    auto impl = std::make_unique<JpegReader::Impl>();
    if (!impl->open_file(path)) {
        say(PictureProblem::Missing);
        return nullptr;
    }
    if (!impl->start(Mode::Plain, denominator)) {
        say(impl->problem());
        return nullptr;
    }
    auto buffer = decode_to_buffer(*impl);
    say(buffer ? PictureProblem::None : impl->problem());
    return buffer;
}

std::unique_ptr<PixelBuffer> decode_memory(std::span<std::uint8_t const> bytes)
{
    auto impl = std::make_unique<JpegReader::Impl>();
    impl->open_memory(bytes);
    if (!impl->start(Mode::Plain, 1))
        return nullptr;
    return decode_to_buffer(*impl);
}

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

    void attach_destination()
    {
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
        jpeg_create_compress(&cinfo);
        created = true;
        attach_destination();
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
        jpeg_create_compress(&cinfo);
        created = true;
        attach_destination();
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

JpegEncoder::JpegEncoder(std::unique_ptr<Impl> impl)
    : m_impl(std::move(impl))
{
}

JpegEncoder::~JpegEncoder() = default;

std::unique_ptr<JpegEncoder> JpegEncoder::open(WStringView path, int width, int height)
{
    if (width < 1 || height < 1 || width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION)
        return nullptr;
    auto impl = std::make_unique<Impl>();
    if (!impl->file.open(path, OpenMode::Write) || !impl->start(width, height))
        return nullptr;
    return std::unique_ptr<JpegEncoder>(new JpegEncoder(std::move(impl)));
}

std::unique_ptr<JpegEncoder> JpegEncoder::open_memory(std::vector<std::uint8_t>& out, int width, int height)
{
    if (width < 1 || height < 1 || width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION)
        return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->memory = &out;
    if (!impl->start(width, height))
        return nullptr;
    return std::unique_ptr<JpegEncoder>(new JpegEncoder(std::move(impl)));
}

bool JpegEncoder::write_row(std::span<std::uint8_t const> rgb)
{
    if (rgb.size() < static_cast<std::size_t>(m_impl->cinfo.image_width) * 3)
        return false;
    return m_impl->write_row(rgb.data());
}

bool JpegEncoder::finish() { return m_impl->finish(); }

}

namespace qv {

char const* problem_text(PictureProblem problem)
{
    switch (problem) {
    case PictureProblem::None:
        return "readable";
    case PictureProblem::Missing:
        return "the file cannot be opened";
    case PictureProblem::Empty:
        return "the file is empty";
    case PictureProblem::NotJpeg:
        return "not a JPEG picture";
    case PictureProblem::Damaged:
        return "the picture is cut short or damaged";
    case PictureProblem::Precision:
        return "12-bit JPEG pictures are not supported";
    case PictureProblem::Unsupported:
        return "this kind of JPEG is not supported";
    case PictureProblem::Storage:
        return "its copy could not be written";
    }
    return "unknown";
}

namespace {

// Exif blocks are APP1 segments; the library keeps them only when asked.
constexpr int kExifMarker = JPEG_APP0 + 1;

struct Probe {
    jpeg_decompress_struct cinfo {};
    ErrorManager errors;
    bool created { false };

    Probe() { install_error_manager(reinterpret_cast<j_common_ptr>(&cinfo), errors); }
    ~Probe()
    {
        if (created)
            jpeg_destroy_decompress(&cinfo);
    }

    PictureProblem problem() const { return problem_of(errors.pub.msg_code); }

    bool read(SourceBase& source)
    {
        if (setjmp(errors.jump))
            return false;
        jpeg_create_decompress(&cinfo);
        created = true;
        attach_source(&cinfo, source);
        jpeg_save_markers(&cinfo, kExifMarker, 0xFFFF);
        return jpeg_read_header(&cinfo, TRUE) == JPEG_HEADER_OK;
    }

    JpegInfo info() const
    {
        JpegInfo info;
        info.width = static_cast<int>(cinfo.image_width);
        info.height = static_cast<int>(cinfo.image_height);
        info.components = cinfo.num_components;
        bool const plain_colours = info.components == 1 || info.components == 3;
        bool ordinary_sampling = plain_colours && cinfo.max_h_samp_factor <= 2 && cinfo.max_v_samp_factor <= 2;
        int blocks_in_mcu = 0;
        for (int c = 0; c < cinfo.num_components; ++c) {
            auto const& component = cinfo.comp_info[c];
            blocks_in_mcu += component.h_samp_factor * component.v_samp_factor;
            // Padded to whole MCUs, as the library allocates them.
            auto const across = jround_up(component.width_in_blocks, component.h_samp_factor);
            auto const down = jround_up(component.height_in_blocks, component.v_samp_factor);
            info.coefficient_bytes += static_cast<std::uint64_t>(across) * down * sizeof(JBLOCK);
        }
        ordinary_sampling = ordinary_sampling && (info.components == 1 || blocks_in_mcu <= C_MAX_BLOCKS_IN_MCU);
        info.transcodable = ordinary_sampling;
        info.direct = ordinary_sampling && !cinfo.progressive_mode && !cinfo.arith_code
            && !cinfo.inputctl->has_multiple_scans;
        for (auto* marker = cinfo.marker_list; marker; marker = marker->next) {
            if (marker->marker == kExifMarker) {
                int const orientation = exif_orientation({ marker->data, marker->data_length });
                if (orientation != 1) {
                    info.orientation = orientation;
                    break;
                }
            }
        }
        return info;
    }
};

JpegProbe probe_source(SourceBase& source)
{
    // On the heap: the decompressor is large for a worker's stack.
    auto probe = std::make_unique<Probe>();
    JpegProbe result;
    if (!probe->read(source))
        result.problem = probe->problem();
    else
        result.info = probe->info();
    return result;
}

}

JpegProbe probe_jpeg(WStringView path)
{
    FileSource source;
    if (!open_file_source(source, path))
        return { PictureProblem::Missing, {} };
    if (source.file.size() == 0)
        return { PictureProblem::Empty, {} };
    return probe_source(source.base);
}

JpegProbe probe_jpeg(std::span<std::uint8_t const> bytes)
{
    if (bytes.empty())
        return { PictureProblem::Empty, {} };
    MemorySource source;
    init_memory_source(source, bytes);
    return probe_source(source.base);
}

PictureProblem diagnose_picture(WStringView path)
{
    auto const probe = probe_jpeg(path);
    if (probe.problem != PictureProblem::None)
        return probe.problem;
    auto impl = std::make_unique<JpegReader::Impl>();
    if (!impl->open_file(path))
        return PictureProblem::Missing;
    if (!impl->start(Mode::Plain, 8))
        return impl->problem();
    std::vector<std::uint8_t> row(static_cast<std::size_t>(impl->cinfo.output_width) * 3);
    while (impl->cinfo.output_scanline < impl->cinfo.output_height)
        if (!impl->read_row(row.data()))
            return impl->problem();
    return PictureProblem::None;
}

namespace {

// The source side of a transcode: the library reads every scan into its
// coefficient arrays, which the encoder then writes out again.
struct CoefficientReader {
    jpeg_decompress_struct cinfo {};
    ErrorManager errors;
    FileSource source;
    bool created { false };

    CoefficientReader() { install_error_manager(reinterpret_cast<j_common_ptr>(&cinfo), errors); }
    ~CoefficientReader()
    {
        if (created)
            jpeg_destroy_decompress(&cinfo);
    }

    // Null on any failure, also when the file runs out inside a scan: the
    // source then suspends the read, which never completes.
    jvirt_barray_ptr* read(WStringView path)
    {
        if (!open_file_source(source, path))
            return nullptr;
        if (setjmp(errors.jump))
            return nullptr;
        jpeg_create_decompress(&cinfo);
        created = true;
        attach_source(&cinfo, source.base);
        if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK)
            return nullptr;
        return jpeg_read_coefficients(&cinfo);
    }
};

}

PictureProblem transcode_sequential(WStringView picture, WStringView out)
{
    auto reader = std::make_unique<CoefficientReader>();
    auto* coefficients = reader->read(picture);
    if (!coefficients)
        return reader->created ? problem_of(reader->errors.pub.msg_code) : PictureProblem::Missing;
    auto writer = std::make_unique<JpegEncoder::Impl>();
    if (!writer->file.open(out, OpenMode::Write))
        return PictureProblem::Storage;
    if (!writer->transcode(&reader->cinfo, coefficients))
        return writer->errors.pub.msg_code == JERR_FILE_WRITE ? PictureProblem::Storage
                                                              : problem_of(writer->errors.pub.msg_code);
    return PictureProblem::None;
}

PictureProblem reencode_rgb(WStringView picture, WStringView out)
{
    auto reader = std::make_unique<JpegReader::Impl>();
    if (!reader->open_file(picture))
        return PictureProblem::Missing;
    if (!reader->start(Mode::Plain, 1))
        return reader->problem();
    auto const width = static_cast<int>(reader->cinfo.output_width);
    auto const height = static_cast<int>(reader->cinfo.output_height);
    auto writer = std::make_unique<JpegEncoder::Impl>();
    if (!writer->file.open(out, OpenMode::Write) || !writer->start(width, height, 95, true))
        return PictureProblem::Storage;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3);
    for (int y = 0; y < height; ++y) {
        if (!reader->read_row(row.data()))
            return reader->problem();
        if (!writer->write_row(row.data()))
            return PictureProblem::Storage;
    }
    return writer->finish() ? PictureProblem::None : PictureProblem::Storage;
}

}
