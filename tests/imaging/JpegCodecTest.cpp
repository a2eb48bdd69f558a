#include "imaging/JpegCodec.h"
#include "imaging/JpegEntry.h"
#include "imaging/JpegTestPictures.h"
#include "imaging/Rgb565Dither.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace qv {
namespace {

using test::PictureShape;

struct Layout {
    char const* name;
    PictureShape shape;
};

// The layouts that matter: every sampling, grayscale, restart
// intervals and odd sizes.
std::vector<Layout> layouts()
{
    return {
        { "420_1001x777", { 1001, 777, 2, 2 } },
        { "422_257x255", { 257, 255, 2, 1 } },
        { "444_257x255", { 257, 255, 1, 1 } },
        { "gray_1001x777", { 1001, 777, 1, 1, true } },
        { "420_9x9", { 9, 9, 2, 2 } },
        { "420_50x40", { 50, 40, 2, 2 } },
        { "420_restart_1", { 300, 100, 2, 2, false, 1 } },
        { "444_restart_5", { 300, 70, 1, 1, false, 5 } },
        { "422_restart_2rows", { 530, 90, 2, 1, false, 0, 2 } },
        { "gray_restart_5", { 270, 33, 1, 1, true, 5 } },
    };
}

std::vector<std::uint8_t> read_all(JpegReader& reader)
{
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(reader.width()) * static_cast<std::size_t>(reader.height()) * 3);
    std::size_t const stride = static_cast<std::size_t>(reader.width()) * 3;
    for (int y = 0; y < reader.height(); ++y) {
        if (!reader.read_row(std::span(rgb).subspan(static_cast<std::size_t>(y) * stride, stride)))
            return {};
    }
    return rgb;
}

// Band starts per MCU row, from the picture's size and sampling alone.
std::size_t expected_entries(PictureShape const& shape)
{
    int const mcu_w = shape.grayscale ? 8 : 8 * shape.h_sampling;
    int const mcu_h = shape.grayscale ? 8 : 8 * shape.v_sampling;
    int const across = (shape.width + mcu_w - 1) / mcu_w;
    int const down = (shape.height + mcu_h - 1) / mcu_h;
    int const band = 256 / mcu_w;
    return static_cast<std::size_t>(down) * static_cast<std::size_t>((across + band - 1) / band);
}

TEST(JpegCodec, rgb565_conversion_drops_low_bits)
{
    std::vector<std::uint8_t> const rgb { 255, 255, 255, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0x87, 0x46, 0x0F };
    std::uint16_t out[5] {};
    convert_rgb_to_rgb565(rgb, out);
    EXPECT_EQ(out[0], 0xFFFF);
    EXPECT_EQ(out[1], 0xF800);
    EXPECT_EQ(out[2], 0x07E0);
    EXPECT_EQ(out[3], 0x001F);
    EXPECT_EQ(out[4], (0x87 >> 3) << 11 | (0x46 >> 2) << 5 | (0x0F >> 3));

    // Pixels go four at a time with a tail: every length up to three groups
    // and a tail, every byte value in every place of a group.
    std::vector<std::uint8_t> bytes(3 * 15);
    for (int round = 0; round < 256; ++round) {
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<std::uint8_t>(round * 7 + i * 29 + (i * i) % 13);
        for (std::size_t count = 0; count <= 15; ++count) {
            std::vector<std::uint16_t> packed(count + 1, 0xABCD);
            convert_rgb_to_rgb565(std::span(bytes).first(3 * count), packed.data());
            for (std::size_t p = 0; p < count; ++p) {
                unsigned const r = bytes[3 * p], g = bytes[3 * p + 1], b = bytes[3 * p + 2];
                ASSERT_EQ(packed[p], (r / 8) * 2048 + (g / 4) * 32 + b / 8) << count << " " << p;
            }
            EXPECT_EQ(packed[count], 0xABCD) << "nothing written past the pixels";
        }
    }
}

TEST(JpegCodec, full_and_recording_reads_give_the_library_rows_and_one_entry_per_band_start)
{
    test::TempDir dir;
    for (auto const& layout : layouts()) {
        SCOPED_TRACE(layout.name);
        auto const bytes = test::make_jpeg(layout.shape);
        test::write_bytes(dir / "p.jpg", bytes);
        auto const reference = test::library_decode(bytes);
        ASSERT_TRUE(reference);

        auto full = JpegReader::open_file(dir.program_path("p.jpg"));
        ASSERT_TRUE(full);
        EXPECT_EQ(full->width(), layout.shape.width);
        EXPECT_EQ(full->height(), layout.shape.height);
        EXPECT_TRUE(read_all(*full) == reference->rgb);

        std::filesystem::remove(dir / "entries");
        auto recording = JpegReader::open_recording(dir.program_path("p.jpg"), dir.program_path("entries"));
        ASSERT_TRUE(recording);
        // Row by row: each MCU row adds its band starts as it is decoded.
        std::vector<std::uint8_t> rows(reference->rgb.size());
        std::size_t const stride = static_cast<std::size_t>(layout.shape.width) * 3;
        int const mcu_height = layout.shape.grayscale ? 8 : 8 * layout.shape.v_sampling;
        std::size_t const per_row = expected_entries(layout.shape) / static_cast<std::size_t>((layout.shape.height + mcu_height - 1) / mcu_height);
        for (int y = 0; y < layout.shape.height; ++y) {
            ASSERT_TRUE(recording->read_row(std::span(rows).subspan(static_cast<std::size_t>(y) * stride, stride)));
            ASSERT_EQ(recording->appended_bytes(), static_cast<std::size_t>(y / mcu_height + 1) * per_row * kJpegEntrySize) << y;
        }
        EXPECT_TRUE(rows == reference->rgb);
        std::vector<std::uint8_t> extra(static_cast<std::size_t>(layout.shape.width) * 3);
        EXPECT_FALSE(recording->read_row(extra));
        std::size_t const count = expected_entries(layout.shape);
        EXPECT_EQ(recording->appended_bytes(), count * kJpegEntrySize);
        recording.reset();
        auto const table = parse_entry_table(test::read_bytes(dir / "entries"));
        ASSERT_TRUE(table);
        ASSERT_EQ(table->size(), count);
        // The first entry stands at the first byte of the scan, in its
        // initial state; later entries never go backwards.
        EXPECT_EQ(table->front().position, bytes.size() - test::scan_data_offset(bytes));
        EXPECT_EQ(table->front().bits_left, 0);
        for (std::size_t i = 1; i < table->size(); ++i)
            EXPECT_LE((*table)[i].position, (*table)[i - 1].position);
        for (auto const& entry : *table)
            EXPECT_LT(entry.bits_left, 8);
        // Through the 4096-byte file buffer or from one block in memory,
        // the entries are the same.
        std::vector<std::uint8_t> in_memory;
        auto from_memory = JpegReader::open_recording(bytes, in_memory);
        ASSERT_TRUE(from_memory);
        EXPECT_FALSE(read_all(*from_memory).empty());
        EXPECT_TRUE(in_memory == test::read_bytes(dir / "entries"));
    }
}

TEST(JpegCodec, scaled_decode_uses_dct_scaling_and_refuses_beyond_one_eighth)
{
    test::TempDir dir;
    PictureShape const shape { 1001, 777, 2, 2 };
    auto const bytes = test::make_jpeg(shape);
    test::write_bytes(dir / "p.jpg", bytes);
    for (int d : { 1, 2, 4, 8 }) {
        SCOPED_TRACE(d);
        auto const reference = test::library_decode(bytes, d);
        ASSERT_TRUE(reference);
        auto const buffer = decode_scaled(dir.program_path("p.jpg"), d);
        ASSERT_TRUE(buffer);
        ASSERT_EQ(buffer->width(), (shape.width + d - 1) / d);
        ASSERT_EQ(buffer->height(), (shape.height + d - 1) / d);
        std::vector<std::uint16_t> expected(static_cast<std::size_t>(buffer->width()));
        for (int y = 0; y < buffer->height(); y += 7) {
            auto const row = std::span(reference->rgb).subspan(static_cast<std::size_t>(y) * expected.size() * 3, expected.size() * 3);
            dither_row_to_rgb565(row.data(), expected.size(), 3, expected.data(), 0, y);
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer->row(y)));
        }
    }
    EXPECT_FALSE(decode_scaled(dir.program_path("p.jpg"), 16));
    EXPECT_FALSE(decode_scaled(dir.program_path("p.jpg"), 3));
    EXPECT_FALSE(decode_scaled(dir.program_path("p.jpg"), 0));
    EXPECT_FALSE(decode_scaled(dir.program_path("missing.jpg"), 1));
}

TEST(JpegCodec, memory_decode_of_a_grayscale_picture_is_gray_rgb565)
{
    PictureShape const shape { 50, 40, 1, 1, true };
    auto const bytes = test::make_jpeg(shape);
    auto const buffer = decode_memory(bytes);
    ASSERT_TRUE(buffer);
    ASSERT_EQ(buffer->width(), 50);
    ASSERT_EQ(buffer->height(), 40);
    auto const reference = test::library_decode(bytes);
    ASSERT_TRUE(reference);
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 50; ++x) {
            std::uint8_t const v = reference->rgb[(static_cast<std::size_t>(y) * 50 + static_cast<std::size_t>(x)) * 3];
            ASSERT_EQ(buffer->at(x, y), (v >> 3) << 11 | (v >> 2) << 5 | (v >> 3));
        }
    }
}

TEST(JpegCodec, encoder_writes_the_library_defaults_at_quality_75)
{
    test::TempDir dir;
    int const w = 123;
    int const h = 45;
    auto const source = test::test_pattern(w, h);
    auto encoder = JpegEncoder::open(dir.program_path("out.jpg"), w, h);
    ASSERT_TRUE(encoder);
    EXPECT_FALSE(encoder->finish());   // not all rows yet
    for (int y = 0; y < h; ++y)
        ASSERT_TRUE(encoder->write_row(std::span(source).subspan(static_cast<std::size_t>(y) * w * 3, static_cast<std::size_t>(w) * 3)));
    EXPECT_FALSE(encoder->write_row(std::span(source).first(static_cast<std::size_t>(w) * 3)));
    ASSERT_TRUE(encoder->finish());
    // The library's defaults at quality 75 give these very bytes.
    PictureShape shape { w, h, 2, 2 };
    shape.quality = 75;
    EXPECT_TRUE(test::read_bytes(dir / "out.jpg") == test::make_jpeg(shape));

    // Into memory: the same bytes.
    std::vector<std::uint8_t> memory { 0x55 };
    auto in_memory = JpegEncoder::open_memory(memory, w, h);
    ASSERT_TRUE(in_memory);
    for (int y = 0; y < h; ++y)
        ASSERT_TRUE(in_memory->write_row(std::span(source).subspan(static_cast<std::size_t>(y) * w * 3, static_cast<std::size_t>(w) * 3)));
    ASSERT_TRUE(in_memory->finish());
    EXPECT_EQ(memory.front(), 0x55) << "appended after what was there";
    EXPECT_TRUE(std::vector<std::uint8_t>(memory.begin() + 1, memory.end()) == test::make_jpeg(shape));

    EXPECT_FALSE(JpegEncoder::open(dir.program_path("no_such_dir\\out.jpg"), w, h));
    EXPECT_FALSE(JpegEncoder::open(dir.program_path("zero.jpg"), 0, h));
}

TEST(JpegCodec, recording_from_memory_into_a_file_equals_recording_the_file)
{
    test::TempDir dir;
    auto const bytes = test::make_jpeg({ 700, 300, 2, 2 });
    test::write_bytes(dir / "p.jpg", bytes);
    for (int denominator : { 1, 2, 8 }) {
        auto from_file = JpegReader::open_recording(dir.program_path("p.jpg"), dir.program_path("file.e"), denominator);
        auto from_memory = JpegReader::open_recording(bytes, dir.program_path("memory.e"), denominator);
        ASSERT_TRUE(from_file);
        ASSERT_TRUE(from_memory);
        ASSERT_EQ(from_memory->width(), from_file->width());
        ASSERT_EQ(from_memory->height(), from_file->height());
        std::vector<std::uint8_t> a(static_cast<std::size_t>(from_file->width()) * 3), b(a.size());
        for (int y = 0; y < from_file->height(); ++y) {
            ASSERT_TRUE(from_file->read_row(a));
            ASSERT_TRUE(from_memory->read_row(b));
            ASSERT_TRUE(a == b) << "row " << y;
        }
        from_file.reset();
        from_memory.reset();
        auto const entries = test::read_bytes(dir / "file.e");
        EXPECT_FALSE(entries.empty());
        EXPECT_TRUE(entries == test::read_bytes(dir / "memory.e")) << denominator;
        std::filesystem::remove(dir / "file.e");
        std::filesystem::remove(dir / "memory.e");
    }
    EXPECT_FALSE(JpegReader::open_recording(bytes, dir.program_path("x.e"), 3));
}

TEST(JpegCodec, recording_into_an_unwritable_entry_file_fails)
{
    test::TempDir dir;
    test::write_bytes(dir / "p.jpg", test::make_jpeg({ 300, 40, 2, 2 }));
    auto reader = JpegReader::open_recording(dir.program_path("p.jpg"), dir.program_path("missing_dir\\entries"));
    ASSERT_TRUE(reader);
    EXPECT_TRUE(read_all(*reader).empty());
}

// A file cut in the middle of its scan, a file with garbage in its scan, a
// progressive file and a text file: every operation ends cleanly.
TEST(JpegCodec, broken_and_unsupported_files_fail_cleanly)
{
    test::TempDir dir;
    PictureShape const shape { 257, 255, 2, 2 };
    auto const good = test::make_jpeg(shape);
    std::size_t const scan = test::scan_data_offset(good);

    auto cut = std::vector<std::uint8_t>(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(scan + (good.size() - scan) / 2));
    test::write_bytes(dir / "cut.jpg", cut);
    auto full = JpegReader::open_file(dir.program_path("cut.jpg"));
    ASSERT_TRUE(full);
    EXPECT_TRUE(read_all(*full).empty());
    EXPECT_GT(full->rows_read(), 0);
    EXPECT_LT(full->rows_read(), shape.height);
    auto recording = JpegReader::open_recording(dir.program_path("cut.jpg"), dir.program_path("cut.entries"));
    ASSERT_TRUE(recording);
    EXPECT_TRUE(read_all(*recording).empty());
    EXPECT_FALSE(decode_scaled(dir.program_path("cut.jpg"), 2));
    EXPECT_FALSE(decode_memory(cut));
    cut.resize(scan - 10);   // inside the headers
    EXPECT_FALSE(decode_memory(cut));
    EXPECT_FALSE(JpegReader::open_memory(cut));

    test::write_bytes(dir / "text.jpg", std::string("this is not a picture, only a name\n"));
    EXPECT_FALSE(JpegReader::open_file(dir.program_path("text.jpg")));
    EXPECT_FALSE(JpegReader::open_recording(dir.program_path("text.jpg"), dir.program_path("t.entries")));
    EXPECT_FALSE(decode_scaled(dir.program_path("text.jpg"), 1));
    EXPECT_FALSE(decode_memory(std::vector<std::uint8_t> {}));

    // Garbage in the scan: the library decodes what it can; the recording
    // read must see exactly the same rows, or fail where the library fails.
    int compared = 0;
    for (std::uint32_t seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE(seed);
        auto corrupt = good;
        std::uint32_t state = seed;
        for (int i = 0; i < 6; ++i) {
            state = state * 1664525u + 1013904223u;
            std::size_t const at = scan + state % (good.size() - scan - 2);
            corrupt[at] = static_cast<std::uint8_t>(state >> 24);
        }
        auto const reference = test::library_decode(corrupt);
        std::vector<std::uint8_t> entries;
        auto reader = JpegReader::open_recording(corrupt, entries);
        if (!reader) {
            EXPECT_FALSE(reference);
            continue;
        }
        auto const rows = read_all(*reader);
        if (reference && !rows.empty()) {
            EXPECT_TRUE(rows == reference->rgb);
            ++compared;
        }
    }
    EXPECT_GT(compared, 3);

    auto const progressive = test::make_jpeg({ 257, 255, 2, 2, false, 0, 0, true });
    test::write_bytes(dir / "prog.jpg", progressive);
    EXPECT_FALSE(JpegReader::open_recording(dir.program_path("prog.jpg"), dir.program_path("prog.entries")));
    EXPECT_FALSE(std::filesystem::exists(dir / "prog.entries"));
    auto prog = JpegReader::open_file(dir.program_path("prog.jpg"));
    ASSERT_TRUE(prog);
    EXPECT_TRUE(read_all(*prog) == test::library_decode(progressive)->rgb);
    auto const scaled = decode_scaled(dir.program_path("prog.jpg"), 4);
    ASSERT_TRUE(scaled);
    EXPECT_EQ(scaled->width(), 65);
}

// Data that ends early at a marker: the library pads with zeros and leaves
// the rest of the segment gray; the own decoder must do the same.
TEST(JpegCodec, recording_matches_the_library_when_the_scan_ends_early)
{
    for (auto const& shape : { PictureShape { 257, 255, 2, 2 }, PictureShape { 300, 100, 2, 2, false, 5 },
             PictureShape { 530, 90, 2, 1, false, 0, 2 } }) {
        auto const good = test::make_jpeg(shape);
        std::size_t const scan = test::scan_data_offset(good);
        for (std::size_t part : { 3u, 5u, 7u }) {
            SCOPED_TRACE(part);
            std::vector<std::uint8_t> ended(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(scan + (good.size() - scan) * part / 9));
            ended.push_back(0xFF);
            ended.push_back(0xD9);
            auto const reference = test::library_decode(ended);
            ASSERT_TRUE(reference);
            std::vector<std::uint8_t> entries;
            auto reader = JpegReader::open_recording(ended, entries);
            ASSERT_TRUE(reader);
            EXPECT_TRUE(read_all(*reader) == reference->rgb);
            EXPECT_EQ(entries.size(), expected_entries(shape) * kJpegEntrySize);
        }
    }
}

}
}
