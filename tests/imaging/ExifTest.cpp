#include "imaging/ByteSource.h"
#include "imaging/Exif.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

using namespace qv;

namespace {

struct Entry {
    std::uint16_t tag;
    std::uint16_t type;
    std::uint32_t count;
    std::uint16_t value;
};

Entry orientation_entry(std::uint16_t value) { return { 0x0112, 3, 1, value }; }
// Tags a camera writes around the orientation: Make (ASCII) and XResolution (RATIONAL).
Entry const kMake { 0x010F, 2, 4, 0x4142 };
Entry const kXResolution { 0x011A, 5, 1, 0x0040 };

// The IFD0 offset and entry count can be given instead of the true ones.
std::vector<std::uint8_t> exif_block(bool big_endian, std::vector<Entry> const& entries, std::size_t gap = 0,
    std::optional<std::uint32_t> ifd0_offset = {}, std::optional<std::uint16_t> entry_count = {})
{
    std::vector<std::uint8_t> out { 'E', 'x', 'i', 'f', 0, 0 };
    auto put = [&](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.push_back(static_cast<std::uint8_t>(value >> 8 * (big_endian ? bytes - 1 - i : i)));
    };
    put(big_endian ? 'M' * 0x101u : 'I' * 0x101u, 2);
    put(42, 2);
    put(ifd0_offset.value_or(static_cast<std::uint32_t>(8 + gap)), 4);
    out.resize(out.size() + gap, 0xEE);
    put(entry_count.value_or(static_cast<std::uint16_t>(entries.size())), 2);
    for (Entry const& e : entries) {
        put(e.tag, 2);
        put(e.type, 2);
        put(e.count, 4);
        put(e.value, 2);
        put(0xA5A5, 2); // padding after a SHORT: must not be taken as part of it
    }
    put(0, 4); // no next IFD
    return out;
}

}

TEST(Exif, every_orientation_is_read_in_both_byte_orders)
{
    for (bool big : { false, true }) {
        for (std::uint16_t o = 1; o <= 8; ++o) {
            SCOPED_TRACE(testing::Message() << (big ? "MM " : "II ") << o);
            EXPECT_EQ(exif_orientation(exif_block(big, { kMake, orientation_entry(o), kXResolution })), o);
            // IFD0's offset counts from the TIFF header, not from the signature.
            EXPECT_EQ(exif_orientation(exif_block(big, { orientation_entry(o) }, 7)), o);
        }
    }
}

TEST(Exif, broken_or_hostile_blocks_read_as_upright)
{
    for (bool big : { false, true }) {
        SCOPED_TRACE(big ? "MM" : "II");
        std::vector<Entry> const sound { kMake, orientation_entry(6) };
        ASSERT_EQ(exif_orientation(exif_block(big, sound)), 6);
        auto changed = [&](std::size_t at, std::uint8_t value) {
            auto block = exif_block(big, sound);
            block[at] = value;
            return exif_orientation(block);
        };
        EXPECT_EQ(changed(5, 1), 1) << "signature";
        EXPECT_EQ(changed(7, big ? 'I' : 'M'), 1) << "mixed byte order mark";
        EXPECT_EQ(changed(big ? 9 : 8, 43), 1) << "TIFF magic";
        std::size_t const size = exif_block(big, sound).size() - 6;
        for (std::uint32_t offset : { std::uint32_t(size), std::uint32_t(size - 1), 0xFFFFFFFFu, 0xFFFFFFF8u })
            EXPECT_EQ(exif_orientation(exif_block(big, sound, 0, offset)), 1) << "IFD0 at " << offset;
        for (std::uint16_t count : { 3, 65535 })
            EXPECT_EQ(exif_orientation(exif_block(big, sound, 0, {}, count)), 1) << count << " entries";
        EXPECT_EQ(exif_orientation(exif_block(big, { { 0x0112, 4, 1, 6 } })), 1) << "LONG";
        EXPECT_EQ(exif_orientation(exif_block(big, { { 0x0112, 3, 2, 6 } })), 1) << "two SHORTs";
        for (std::uint16_t value : { 0, 9, 0xFFFF })
            EXPECT_EQ(exif_orientation(exif_block(big, { orientation_entry(value) })), 1) << value;
        EXPECT_EQ(exif_orientation(exif_block(big, { kMake })), 1) << "no orientation";
        EXPECT_EQ(exif_orientation(exif_block(big, {})), 1) << "empty IFD0";
    }
}

TEST(Exif, cut_blocks_read_as_upright_until_the_whole_entry_table_is_there)
{
    for (bool big : { false, true }) {
        auto const block = exif_block(big, { kMake, orientation_entry(6), kXResolution });
        std::size_t const table_end = 6 + 8 + 2 + 3 * 12;
        for (std::size_t size = 0; size <= block.size(); ++size) {
            // A copy of exactly `size` bytes, so the sanitizer build sees any read past it.
            std::vector<std::uint8_t> const cut(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(size));
            EXPECT_EQ(exif_orientation(cut), size < table_end ? 1 : 6) << (big ? "MM " : "II ") << size;
        }
    }
}

namespace {

// A 5 x 3 stored picture whose pixel (x, y) holds 10 y + x.
int const kStoredWidth = 5;
int const kStoredHeight = 3;

std::vector<std::uint16_t> random_picture(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<std::uint16_t> pixels(size);
    for (auto& p : pixels)
        p = static_cast<std::uint16_t>(random());
    return pixels;
}

}

TEST(ExifGeometry, upright_pictures_put_row_0_and_column_0_where_exif_says)
{
    struct Expected {
        int orientation;
        int width;
        std::vector<std::uint16_t> pixels;
    };
    std::vector<Expected> const cases {
        { 1, 5, { 0, 1, 2, 3, 4, 10, 11, 12, 13, 14, 20, 21, 22, 23, 24 } },
        { 2, 5, { 4, 3, 2, 1, 0, 14, 13, 12, 11, 10, 24, 23, 22, 21, 20 } },
        { 3, 5, { 24, 23, 22, 21, 20, 14, 13, 12, 11, 10, 4, 3, 2, 1, 0 } },
        { 4, 5, { 20, 21, 22, 23, 24, 10, 11, 12, 13, 14, 0, 1, 2, 3, 4 } },
        { 5, 3, { 0, 10, 20, 1, 11, 21, 2, 12, 22, 3, 13, 23, 4, 14, 24 } },
        { 6, 3, { 20, 10, 0, 21, 11, 1, 22, 12, 2, 23, 13, 3, 24, 14, 4 } },
        { 7, 3, { 24, 14, 4, 23, 13, 3, 22, 12, 2, 21, 11, 1, 20, 10, 0 } },
        { 8, 3, { 4, 14, 24, 3, 13, 23, 2, 12, 22, 1, 11, 21, 0, 10, 20 } },
        { 0, 5, { 0, 1, 2, 3, 4, 10, 11, 12, 13, 14, 20, 21, 22, 23, 24 } },
        { 9, 5, { 0, 1, 2, 3, 4, 10, 11, 12, 13, 14, 20, 21, 22, 23, 24 } },
    };
    int const stored_stride = 7; // padding pixels hold 999, which must never be read
    std::vector<std::uint16_t> stored(stored_stride * kStoredHeight, 999);
    std::vector<std::uint8_t> stored_rgb;
    for (int y = 0; y < kStoredHeight; ++y) {
        for (int x = 0; x < kStoredWidth; ++x) {
            auto const value = static_cast<std::uint8_t>(10 * y + x);
            stored[y * stored_stride + x] = value;
            stored_rgb.insert(stored_rgb.end(), { value, std::uint8_t(100 + value), std::uint8_t(200 + value) });
        }
    }
    for (Expected const& e : cases) {
        SCOPED_TRACE(e.orientation);
        int const stride = e.width + 2;
        std::vector<std::uint16_t> upright(stride * (15 / e.width), 0xDEAD);
        orient_pixels(e.orientation, stored.data(), stored_stride, kStoredWidth, kStoredHeight, upright.data(),
            stride);
        std::vector<std::uint8_t> rgb(3 * 15);
        orient_rgb(e.orientation, stored_rgb.data(), kStoredWidth, kStoredHeight, rgb.data());
        for (std::size_t i = 0; i < e.pixels.size(); ++i) {
            std::size_t const at = i / e.width * stride + i % e.width;
            EXPECT_EQ(upright[at], e.pixels[i]) << "pixel " << i;
            EXPECT_EQ(upright[at - i % e.width + e.width], 0xDEAD) << "row padding written";
            EXPECT_EQ(rgb[3 * i], e.pixels[i]);
            EXPECT_EQ(rgb[3 * i + 1], 100 + e.pixels[i]);
            EXPECT_EQ(rgb[3 * i + 2], 200 + e.pixels[i]);
        }
    }
}

TEST(ExifGeometry, stored_point_names_the_pixel_shown_and_inverses_restore_the_picture)
{
    int const inverse[] = { 0, 1, 2, 3, 4, 5, 8, 7, 6 };
    for (auto [w, h] : { std::pair { 11, 6 }, std::pair { 1, 4 }, std::pair { 4, 1 } }) {
        auto const stored = random_picture(static_cast<std::size_t>(w * h), w);
        for (int o = 1; o <= 8; ++o) {
            SCOPED_TRACE(testing::Message() << w << "x" << h << " orientation " << o);
            int const uw = orientation_swaps_sides(o) ? h : w;
            int const uh = orientation_swaps_sides(o) ? w : h;
            std::vector<std::uint16_t> upright(static_cast<std::size_t>(uw * uh));
            orient_pixels(o, stored.data(), w, w, h, upright.data(), uw);
            for (int v = 0; v < uh; ++v) {
                for (int u = 0; u < uw; ++u) {
                    OrientedPoint const p = stored_point(o, u, v, w, h);
                    ASSERT_TRUE(p.x >= 0 && p.x < w && p.y >= 0 && p.y < h) << u << "," << v;
                    ASSERT_EQ(upright[v * uw + u], stored[p.y * w + p.x]) << u << "," << v;
                }
            }
            std::vector<std::uint16_t> back(stored.size());
            orient_pixels(inverse[o], upright.data(), uw, uw, uh, back.data(), w);
            EXPECT_EQ(back, stored);
        }
    }
}

TEST(ExifGeometry, stored_rect_covers_exactly_the_points_of_the_upright_rect)
{
    for (int o = 1; o <= 8; ++o) {
        SCOPED_TRACE(o);
        int const uw = orientation_swaps_sides(o) ? kStoredHeight : kStoredWidth;
        int const uh = orientation_swaps_sides(o) ? kStoredWidth : kStoredHeight;
        for (int u = 0; u < uw; ++u) {
            for (int v = 0; v < uh; ++v) {
                for (int w = 1; u + w <= uw; ++w) {
                    for (int h = 1; v + h <= uh; ++h) {
                        StoredRect const r = stored_rect(o, u, v, w, h, kStoredWidth, kStoredHeight);
                        ASSERT_EQ(r.width * r.height, w * h) << u << "," << v << " " << w << "x" << h;
                        for (int y = v; y < v + h; ++y) {
                            for (int x = u; x < u + w; ++x) {
                                OrientedPoint const p = stored_point(o, x, y, kStoredWidth, kStoredHeight);
                                ASSERT_TRUE(p.x >= r.x && p.x < r.x + r.width && p.y >= r.y && p.y < r.y + r.height)
                                    << "upright " << x << "," << y << " of " << u << "," << v << " " << w << "x" << h;
                            }
                        }
                    }
                }
            }
        }
        StoredRect const empty = stored_rect(o, 1, 1, 0, 2, kStoredWidth, kStoredHeight);
        EXPECT_EQ(empty.width * empty.height, 0);
    }
}

namespace {

// An Exif payload with Make in IFD0, the pointer to the Exif IFD, and
// DateTimeOriginal there; every field can be given instead of the true one.
struct DateParts {
    bool big_endian { false };
    std::string text { "2021:07:14 09:05:33" };
    std::uint16_t pointer_type { 4 };
    std::uint32_t pointer_count { 1 };
    std::optional<std::uint32_t> pointer; // the Exif IFD's offset
    std::optional<std::uint16_t> exif_entries;
    std::uint16_t date_type { 2 };
    std::optional<std::uint32_t> date_count; // the text and its NUL
    std::optional<std::uint32_t> date_offset;
};

// IFD0 at 8 (2 entries) ends at 38, where the Exif IFD (1 entry) starts;
// the text follows it at 56.
constexpr std::uint32_t kExifIfdAt = 38;
constexpr std::uint32_t kDateTextAt = 56;

std::vector<std::uint8_t> date_block(DateParts const& p)
{
    std::vector<std::uint8_t> out { 'E', 'x', 'i', 'f', 0, 0 };
    auto put = [&](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.push_back(static_cast<std::uint8_t>(value >> 8 * (p.big_endian ? bytes - 1 - i : i)));
    };
    put(p.big_endian ? 'M' * 0x101u : 'I' * 0x101u, 2);
    put(42, 2);
    put(8, 4);
    put(2, 2);
    put(0x010F, 2); // Make, ASCII, "ABC" in the entry itself
    put(2, 2);
    put(4, 4);
    out.insert(out.end(), { 'A', 'B', 'C', 0 });
    put(0x8769, 2);
    put(p.pointer_type, 2);
    put(p.pointer_count, 4);
    put(p.pointer.value_or(kExifIfdAt), 4);
    put(0, 4);
    put(p.exif_entries.value_or(1), 2);
    put(0x9003, 2);
    put(p.date_type, 2);
    put(p.date_count.value_or(static_cast<std::uint32_t>(p.text.size() + 1)), 4);
    put(p.date_offset.value_or(kDateTextAt), 4);
    put(0, 4);
    out.insert(out.end(), p.text.begin(), p.text.end());
    out.push_back(0);
    return out;
}

ExifDateTime const kTaken { 2021, 7, 14, 9, 5, 33 };

// The block with one part changed from the true one.
template<typename Change>
std::vector<std::uint8_t> changed_block(bool big_endian, Change change)
{
    DateParts parts;
    parts.big_endian = big_endian;
    change(parts);
    return date_block(parts);
}

std::vector<std::uint8_t> block_with_text(std::string text)
{
    return changed_block(false, [&](DateParts& p) { p.text = std::move(text); });
}

}

TEST(ExifDate, the_date_taken_is_read_from_the_exif_ifd_in_both_byte_orders)
{
    for (bool big : { false, true }) {
        SCOPED_TRACE(big ? "MM" : "II");
        EXPECT_EQ(exif_date_taken(changed_block(big, [](DateParts&) { })), kTaken);
        // The pointer may be typed IFD, and the NUL may be left out.
        EXPECT_EQ(exif_date_taken(changed_block(big, [](DateParts& p) { p.pointer_type = 13; })), kTaken);
        EXPECT_EQ(exif_date_taken(changed_block(big, [](DateParts& p) { p.date_count = 19; })), kTaken);
    }
    // The orientation and the date come from one block independently.
    EXPECT_EQ(exif_orientation(date_block({})), 1);
    EXPECT_FALSE(exif_date_taken(exif_block(false, { kMake, orientation_entry(6) }))) << "no Exif IFD";
}

TEST(ExifDate, pointers_types_and_counts_that_do_not_fit_give_no_date)
{
    for (bool big : { false, true }) {
        SCOPED_TRACE(big ? "MM" : "II");
        std::uint32_t const size = static_cast<std::uint32_t>(date_block({}).size() - 6);
        auto none = [&](auto change, char const* what) {
            EXPECT_FALSE(exif_date_taken(changed_block(big, change))) << what;
        };
        none([](DateParts& p) { p.pointer_type = 3; }, "pointer as SHORT");
        none([](DateParts& p) { p.pointer_count = 2; }, "two pointers");
        for (std::uint32_t at : { size, size - 1, 0xFFFFFFFFu, 0xFFFFFFF0u })
            none([at](DateParts& p) { p.pointer = at; }, "Exif IFD past the end");
        // Pointing back at IFD0, which has no date: no second step is taken.
        none([](DateParts& p) { p.pointer = 8; }, "Exif IFD is IFD0");
        // Four entries from 38 run past the 76 bytes.
        for (std::uint16_t entries : { 4, 1000, 65535 })
            none([entries](DateParts& p) { p.exif_entries = entries; }, "entry table past the end");
        none([](DateParts& p) { p.exif_entries = 0; }, "empty Exif IFD");
        none([](DateParts& p) { p.date_type = 7; }, "date as UNDEFINED");
        none([](DateParts& p) { p.date_count = 11; }, "date too short for its form");
        for (std::uint32_t at : { size, size - 18, 0xFFFFFFFFu, 0xFFFFFFF0u })
            none([at](DateParts& p) { p.date_offset = at; }, "text past the end");
    }
}

TEST(ExifDate, only_real_dates_in_the_exif_form_are_taken)
{
    auto date = [](std::string text) { return exif_date_taken(block_with_text(std::move(text))); };
    EXPECT_EQ(date("2020:02:29 23:59:60"), (ExifDateTime { 2020, 2, 29, 23, 59, 60 })) << "leap day and second";
    EXPECT_EQ(date("2000:02:29 00:00:00"), (ExifDateTime { 2000, 2, 29, 0, 0, 0 }));
    EXPECT_EQ(date("2021-07-14 09:05:33"), kTaken);
    for (char const* bad : { "    :  :     :  :  ", "0000:00:00 00:00:00", "2021:02:29 10:00:00",
             "1900:02:29 10:00:00", "2021:13:01 10:00:00", "2021:04:31 10:00:00", "2021:07:00 10:00:00",
             "2021:07:14 24:00:00", "2021:07:14 09:60:00", "2021:07:14 09:05:61", "2021:07:14T09:05:33",
             "2021:07-14 09:05:33", "2021/07/14 09:05:33", "2021:07:14 09-05-33", "2021:7:14 09:05:33 ",
             "20a1:07:14 09:05:33", "2021:07:14 09:05:3\xff" })
        EXPECT_FALSE(date(bad)) << bad;
}

TEST(ExifDate, cut_and_scrambled_blocks_never_read_outside_and_never_invent_a_date)
{
    auto const block = date_block({});
    for (std::size_t size = 0; size <= block.size(); ++size) {
        std::vector<std::uint8_t> const cut(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(size));
        auto const date = exif_date_taken(cut);
        EXPECT_EQ(date.has_value(), size >= 6 + kDateTextAt + 19) << size;
        if (date) {
            EXPECT_EQ(*date, kTaken);
        }
    }
    // Bytes changed at random: whatever comes out is a date in range.
    std::mt19937 random(77);
    int dates = 0;
    for (int round = 0; round < 20000; ++round) {
        auto scrambled = block;
        for (int k = 0; k < 3; ++k)
            scrambled[6 + random() % (scrambled.size() - 6)] = static_cast<std::uint8_t>(random());
        if (auto date = exif_date_taken(scrambled)) {
            ++dates;
            EXPECT_TRUE(date->month >= 1 && date->month <= 12 && date->day >= 1 && date->day <= 31
                && date->hour <= 23 && date->minute <= 59 && date->second <= 60);
        }
    }
    EXPECT_GT(dates, 0) << "changes that miss the structure still leave the date";
}

namespace {

std::vector<std::uint8_t> segment(std::uint8_t marker, std::vector<std::uint8_t> const& payload)
{
    std::vector<std::uint8_t> out { 0xFF, marker, static_cast<std::uint8_t>((payload.size() + 2) >> 8),
        static_cast<std::uint8_t>(payload.size() + 2) };
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

std::vector<std::uint8_t> stream(std::vector<std::vector<std::uint8_t>> const& parts)
{
    std::vector<std::uint8_t> out { 0xFF, 0xD8 };
    for (auto const& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

std::vector<std::uint8_t> exif_of(std::vector<std::uint8_t> const& bytes)
{
    MemoryByteSource source(bytes);
    return read_exif_block(source);
}

}

TEST(ExifBlock, the_first_exif_app1_before_the_scan_is_found_past_other_segments)
{
    auto const exif = date_block({});
    std::vector<std::uint8_t> const jfif { 'J', 'F', 'I', 'F', 0, 1, 2, 0, 0, 1, 0, 1, 0, 0 };
    std::vector<std::uint8_t> const xmp { 'h', 't', 't', 'p', ':', '/', '/', 'n', 's' };
    std::vector<std::uint8_t> const scan { 0xFF, 0xDA, 0, 2 };
    EXPECT_EQ(exif_of(stream({ segment(0xE1, exif), scan })), exif);
    EXPECT_EQ(exif_of(stream({ segment(0xE0, jfif), segment(0xE1, xmp), segment(0xE1, exif), scan })), exif);
    // Fill bytes before a marker's code, and a marker standing alone.
    EXPECT_EQ(exif_of(stream({ { 0xFF, 0xFF, 0xFF, 0xD0 }, segment(0xE1, exif) })), exif);
    EXPECT_EQ(exif_date_taken(exif_of(stream({ segment(0xE0, jfif), segment(0xE1, exif) }))), kTaken);

    // None before the scan, none at all, or not a JPEG: nothing.
    EXPECT_TRUE(exif_of(stream({ segment(0xE0, jfif), scan, segment(0xE1, exif) })).empty());
    EXPECT_TRUE(exif_of(stream({ segment(0xE0, jfif), segment(0xE1, xmp), { 0xFF, 0xD9 } })).empty());
    auto not_jpeg = stream({ segment(0xE1, exif) });
    not_jpeg[1] = 0xD9;
    EXPECT_TRUE(exif_of(not_jpeg).empty());
    EXPECT_TRUE(exif_of({}).empty());
}

TEST(ExifBlock, cut_or_malformed_streams_give_nothing)
{
    auto const exif = date_block({});
    auto const whole = stream({ segment(0xE0, { 1, 2, 3 }), segment(0xE1, exif) });
    for (std::size_t size = 0; size < whole.size(); ++size)
        EXPECT_TRUE(exif_of({ whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size) }).empty()) << size;
    EXPECT_EQ(exif_of(whole), exif);
    // A length that does not even cover itself, a byte where a marker
    // should be, and a stream of nothing but empty segments.
    EXPECT_TRUE(exif_of(stream({ { 0xFF, 0xE0, 0, 1 }, segment(0xE1, exif) })).empty());
    EXPECT_TRUE(exif_of(stream({ { 0x12 }, segment(0xE1, exif) })).empty());
    std::vector<std::vector<std::uint8_t>> many(200, segment(0xE2, {}));
    many.push_back(segment(0xE1, exif));
    EXPECT_TRUE(exif_of(stream(many)).empty()) << "gives up long before";
    std::vector<std::vector<std::uint8_t>> few(10, segment(0xE2, {}));
    few.push_back(segment(0xE1, exif));
    EXPECT_EQ(exif_of(stream(few)), exif);
}
