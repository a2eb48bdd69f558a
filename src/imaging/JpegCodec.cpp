#include "imaging/JpegCodec.h"

#include "imaging/JpegAdapter.h"
#include "imaging/PixelRules.h"
#include "imaging/Rgb565Dither.h"

#include <algorithm>
#include <cstring>

namespace qv {


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

std::unique_ptr<PixelBuffer> decode_to_buffer(JpegReader::Impl& impl, Rgb565Packing packing)
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
        if (packing == Rgb565Packing::Dithered)
            dither_row_to_rgb565(row.data(), static_cast<std::size_t>(width), 3, buffer->row(y), 0, y);
        else
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
    auto buffer = decode_to_buffer(*impl, Rgb565Packing::Dithered);
    say(buffer ? PictureProblem::None : impl->problem());
    return buffer;
}

std::unique_ptr<PixelBuffer> decode_memory(std::span<std::uint8_t const> bytes, Rgb565Packing packing)
{
    auto impl = std::make_unique<JpegReader::Impl>();
    impl->open_memory(bytes);
    if (!impl->start(Mode::Plain, 1))
        return nullptr;
    return decode_to_buffer(*impl, packing);
}


JpegEncoder::JpegEncoder(std::unique_ptr<Impl> impl)
    : m_impl(std::move(impl))
{
}

JpegEncoder::~JpegEncoder() = default;

std::unique_ptr<JpegEncoder> JpegEncoder::open(WStringView path, int width, int height, int quality, bool full_chroma)
{
    if (width < 1 || height < 1 || width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION)
        return nullptr;
    auto impl = std::make_unique<Impl>();
    if (!impl->file.open(path, OpenMode::Write) || !impl->start(width, height, quality, full_chroma))
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

std::unique_ptr<JpegEncoder> JpegEncoder::open_copy(std::vector<std::uint8_t>& out, int width, int height)
{
    if (width < 1 || height < 1 || width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION)
        return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->memory = &out;
    // Most photos come to less; a larger one grows the bytes as needed.
    out.reserve(out.size() + static_cast<std::size_t>(width) * static_cast<std::size_t>(height) / 2);
    impl->counter = std::make_unique<EncodeEntries>();
    if (!impl->start(width, height, 95, true))
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

std::optional<std::vector<JpegEntry>> JpegEncoder::entries() const
{
    if (!m_impl->counter || m_impl->started || m_impl->failed || !m_impl->memory)
        return std::nullopt;
    return m_impl->counter->entries(*m_impl->memory);
}

}
