#include "imaging/Exif.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
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
