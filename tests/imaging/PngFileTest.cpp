#include "imaging/PngImage.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

using namespace qv;

TEST(PngFile, rgb565_survives_a_round_trip_through_8_bit_rgb)
{
    test::TempDir dir;
    // A wrapped buffer with a wide pitch: only the pixels may be written.
    constexpr int width = 67, height = 13, pitch_words = 80;
    std::vector<std::uint16_t> memory(pitch_words * height);
    std::mt19937 random(5);
    for (auto& p : memory)
        p = static_cast<std::uint16_t>(random());
    memory[0] = 0xFFFF;
    memory[1] = 0x0000;
    auto buffer = PixelBuffer::wrap(width, height, pitch_words * 2, memory.data());

    auto path = dir.program_path("shot.png");
    ASSERT_TRUE(save_png(*buffer, path));
    EXPECT_FALSE(std::filesystem::exists(dir / "shot.png.partial"));
    auto loaded = load_png(path);
    ASSERT_TRUE(loaded);
    ASSERT_EQ(loaded->width(), width);
    ASSERT_EQ(loaded->height(), height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            ASSERT_EQ(loaded->at(x, y), buffer->at(x, y)) << x << "," << y;
}

TEST(PngFile, missing_and_damaged_files_load_as_null)
{
    test::TempDir dir;
    EXPECT_FALSE(load_png(dir.program_path("none.png")));
    test::write_bytes(dir / "junk.png", std::string("\x89PNG\r\n\x1a\n garbage follows", 24));
    EXPECT_FALSE(load_png(dir.program_path("junk.png")));

    auto buffer = PixelBuffer::create(4, 4);
    std::fill(buffer->pixels(), buffer->pixels() + 8 * 4 / 2, std::uint16_t { 0x1234 });
    ASSERT_TRUE(save_png(*buffer, dir.program_path("ok.png")));
    auto bytes = test::read_bytes(dir / "ok.png");
    bytes.resize(bytes.size() / 2);
    test::write_bytes(dir / "half.png", bytes);
    EXPECT_FALSE(load_png(dir.program_path("half.png")));
    EXPECT_FALSE(save_png(*buffer, dir.program_path("no_such_dir\\x.png")));
}
