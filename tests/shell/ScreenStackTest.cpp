// The screen stack alone, without a window: what is shown and what lies
// dimmed under a modal screen as screens come and go in the middle of it.

#include "shell/ScreenStack.h"
#include "imaging/PixelOp.h"

#include <gtest/gtest.h>

using namespace qv;

namespace {

constexpr Size kArea { 240, 320 };
constexpr std::uint16_t kWhite = 0xFFFF;
constexpr std::uint16_t kGreen = 0x07E0;
constexpr std::uint16_t kNothing = 0xF81F; // a screen that draws nothing

class ColourScreen final : public Screen {
public:
    explicit ColourScreen(std::uint16_t colour)
        : m_colour(colour)
    {
    }
    void draw(DrawTarget& target, Point origin) override
    {
        if (m_colour != kNothing)
            fill_rect(target, origin.x, origin.y, size().width, size().height, ColourFillOp(m_colour));
    }

private:
    std::uint16_t m_colour;
};

// Draws until the dimming has settled; the pixel in the middle.
std::uint16_t settled_pixel(ScreenStack& stack)
{
    auto buffer = PixelBuffer::create(kArea.width, kArea.height);
    DrawTarget target(buffer.get());
    for (int i = 0; i < 12; ++i)
        stack.draw(target, kArea);
    return buffer->at(120, 160);
}

bool is_half_white(std::uint16_t pixel)
{
    return std::abs(((pixel >> 11) & 31) - 15) <= 1 && std::abs(((pixel >> 5) & 63) - 31) <= 1
        && std::abs((pixel & 31) - 15) <= 1;
}

}

TEST(ScreenStack, a_plain_screen_over_a_modal_one_is_bright_and_its_removal_dims_the_plain_screen_below_again)
{
    ScreenStack stack;
    ColourScreen below(kWhite), dialog(kNothing), over(kGreen);
    stack.push(&below, false, kArea);
    stack.push(&dialog, true, kArea);
    EXPECT_TRUE(is_half_white(settled_pixel(stack)));
    EXPECT_EQ(stack.dim_level(), ScreenStack::kDimmed);

    stack.push(&over, false, kArea);
    EXPECT_EQ(stack.dim_level(), ScreenStack::kBright);
    EXPECT_FALSE(dialog.visible());
    EXPECT_EQ(settled_pixel(stack), kGreen);

    // Back to the dialog: under it the plain screen below both, not the
    // screen that just went, dimmed once more.
    ASSERT_TRUE(stack.remove(&over, kArea));
    EXPECT_TRUE(dialog.visible());
    EXPECT_FALSE(over.visible());
    EXPECT_TRUE(stack.needs_redraw());
    EXPECT_TRUE(is_half_white(settled_pixel(stack)));
    EXPECT_FALSE(stack.needs_redraw());
}

TEST(ScreenStack, a_screen_taken_from_the_middle_leaves_the_top_as_it_was)
{
    ScreenStack stack;
    ColourScreen first(kWhite), second(kNothing), third(kGreen);
    stack.push(&first, false, kArea);
    stack.push(&second, false, kArea);
    stack.push(&third, false, kArea);
    EXPECT_FALSE(first.visible());
    EXPECT_FALSE(second.visible());

    ASSERT_TRUE(stack.remove(&second, kArea));
    EXPECT_FALSE(stack.remove(&second, kArea));
    EXPECT_FALSE(stack.contains(&second));
    EXPECT_EQ(stack.size(), 2u);
    EXPECT_EQ(stack.top(), &third);
    EXPECT_TRUE(third.visible());
    EXPECT_FALSE(first.visible());
    EXPECT_EQ(settled_pixel(stack), kGreen);

    // The last one out shows the first again.
    ASSERT_TRUE(stack.remove(&third, kArea));
    EXPECT_TRUE(first.visible());
    EXPECT_EQ(settled_pixel(stack), kWhite);
}
