// The row converter works on eight or sixteen pixels at a time in 16-bit
// lanes where the processor allows; every pixel must still be the one the
// plain formula gives, whatever the row's length, start column and line.

#include "imaging/Rgb565Dither.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <vector>

namespace qv {
namespace {

void expect_row_matches(std::mt19937& random, std::size_t count, int bytes_per_pixel, int x, int y)
{
    // Exactly the row's bytes, so that a read past them shows under the
    // address sanitizer; and a guard after the output.
    std::vector<std::uint8_t> pixels(count * static_cast<std::size_t>(bytes_per_pixel));
    for (auto& b : pixels)
        b = static_cast<std::uint8_t>(random());
    std::vector<std::uint16_t> out(count + 1, 0xBEEF);
    dither_row_to_rgb565(pixels.data(), count, bytes_per_pixel, out.data(), x, y);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t const* p = pixels.data() + i * static_cast<std::size_t>(bytes_per_pixel);
        ASSERT_EQ(out[i], pack_rgb565_dithered(p[0], p[1], p[2], x + static_cast<int>(i), y))
            << count << " pixels of " << bytes_per_pixel << " bytes from " << x << "," << y << ": pixel " << i;
    }
    ASSERT_EQ(out[count], 0xBEEF) << "written past the row of " << count;
}

TEST(Rgb565DitherRow, every_length_start_and_line_matches_the_formula)
{
    std::mt19937 random(565);
    for (int bytes : { 3, 4 })
        for (std::size_t count = 0; count <= 70; ++count)
            for (int x : { 0, 1, 7, 8, 13, 4099 })
                expect_row_matches(random, count, bytes, x, static_cast<int>(random() % 1000));
    for (int bytes : { 3, 4 })
        for (int round = 0; round < 40; ++round)
            expect_row_matches(random, 200 + random() % 2000, bytes, static_cast<int>(random() % 10000),
                static_cast<int>(random() % 10000));
}

TEST(Rgb565DitherRow, rows_ending_at_a_page_end_are_read_no_further)
{
    // The row's last byte is the last of a readable page; the next page
    // cannot be read, so a vector load past the row ends the test.
    auto const page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void* memory = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(memory, MAP_FAILED);
    auto* base = static_cast<std::uint8_t*>(memory);
    ASSERT_EQ(mprotect(base + page, page, PROT_NONE), 0);
    std::mt19937 random(9);
    for (std::size_t i = 0; i < page; ++i)
        base[i] = static_cast<std::uint8_t>(random());
    for (int bytes : { 3, 4 })
        for (std::size_t count = 1; count <= 40; ++count) {
            std::uint8_t const* row = base + page - count * static_cast<std::size_t>(bytes);
            std::vector<std::uint16_t> out(count);
            dither_row_to_rgb565(row, count, bytes, out.data(), 3, 5);
            for (std::size_t i = 0; i < count; ++i) {
                std::uint8_t const* p = row + i * static_cast<std::size_t>(bytes);
                ASSERT_EQ(out[i], pack_rgb565_dithered(p[0], p[1], p[2], 3 + static_cast<int>(i), 5));
            }
        }
    munmap(memory, 2 * page);
}

TEST(Rgb565DitherRow, every_value_at_every_threshold_matches_the_formula)
{
    // One row per line of the 8 x 8 pattern, each value of each channel
    // once at each of the row's eight columns.
    for (int bytes : { 3, 4 })
        for (int y = 0; y < 8; ++y) {
            std::size_t const count = 256 * 8;
            std::vector<std::uint8_t> pixels(count * static_cast<std::size_t>(bytes));
            for (std::size_t i = 0; i < count; ++i) {
                auto const v = static_cast<std::uint8_t>(i / 8);
                std::uint8_t* p = pixels.data() + i * static_cast<std::size_t>(bytes);
                p[0] = v;
                p[1] = static_cast<std::uint8_t>(255 - v);
                p[2] = static_cast<std::uint8_t>(v * 7);
            }
            std::vector<std::uint16_t> out(count);
            dither_row_to_rgb565(pixels.data(), count, bytes, out.data(), 0, y);
            for (std::size_t i = 0; i < count; ++i) {
                std::uint8_t const* p = pixels.data() + i * static_cast<std::size_t>(bytes);
                ASSERT_EQ(out[i], pack_rgb565_dithered(p[0], p[1], p[2], static_cast<int>(i), y)) << "pixel " << i;
            }
        }
}

}
}
