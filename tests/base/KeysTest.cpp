#include "base/Keys.h"

#include <gtest/gtest.h>

using namespace qv;

TEST(Keys, escape_and_back_both_mean_backspace)
{
    EXPECT_EQ(key_from_virtual_key(27), Key::Backspace);
    EXPECT_EQ(key_from_virtual_key(8), Key::Backspace);
    EXPECT_EQ(static_cast<int>(key_from_virtual_key(8)), 11);
}

TEST(Keys, unknown_virtual_keys_give_none)
{
    EXPECT_EQ(key_from_virtual_key(116), Key::None); // F5
    EXPECT_EQ(key_name(key_from_virtual_key(116)), u"None");
    EXPECT_EQ(key_from_virtual_key(0), Key::None);
    EXPECT_EQ(key_from_virtual_key(1000), Key::None);
}

TEST(Keys, letters_digits_and_soft_keys_map_by_range)
{
    EXPECT_EQ(key_name(key_from_virtual_key('A')), u"A");
    EXPECT_EQ(key_name(key_from_virtual_key('Z')), u"Z");
    EXPECT_EQ(key_name(key_from_virtual_key('0')), u"0");
    EXPECT_EQ(key_name(key_from_virtual_key('9')), u"9");
    EXPECT_EQ(key_name(key_from_virtual_key(112)), u"SOFT_LEFT");
    EXPECT_EQ(key_name(key_from_virtual_key(113)), u"SOFT_RIGHT");
    EXPECT_EQ(key_name(key_from_virtual_key(119)), u"*");
    EXPECT_EQ(key_name(key_from_virtual_key(120)), u"#");
    EXPECT_EQ(key_name(key_from_virtual_key(37)), u"Left");
    EXPECT_EQ(key_name(key_from_virtual_key(34)), u"PageDown");
}

TEST(Keys, every_code_has_one_name_that_leads_back_to_it)
{
    for (int code = 0; code < kKeyCount; ++code) {
        auto name = key_name(Key(code));
        ASSERT_FALSE(name.empty()) << code;
        auto back = key_from_name(name);
        ASSERT_TRUE(back.has_value()) << code;
        EXPECT_EQ(static_cast<int>(*back), code);
    }
    EXPECT_TRUE(key_name(Key(kKeyCount)).empty());
}

TEST(Keys, names_are_matched_exactly)
{
    EXPECT_EQ(key_from_name(u"SOFT_LEFT"), Key::SoftLeft);
    EXPECT_FALSE(key_from_name(u"soft_left").has_value());
    EXPECT_FALSE(key_from_name(u"SOFT_LEFT ").has_value());
    EXPECT_FALSE(key_from_name(u"").has_value());
}

TEST(Keys, escape_and_slide_are_never_produced)
{
    for (int vk = 0; vk < 256; ++vk) {
        EXPECT_NE(key_from_virtual_key(vk), Key::Esc) << vk;
        EXPECT_NE(key_from_virtual_key(vk), Key::Slide) << vk;
    }
}

TEST(Keys, zoom_and_full_screen_keys_and_the_keypad_digits)
{
    // The "=+" key, the keypad's "+", and their minus counterparts.
    EXPECT_EQ(key_from_virtual_key(187), Key::Plus);
    EXPECT_EQ(key_from_virtual_key(107), Key::Plus);
    EXPECT_EQ(key_from_virtual_key(189), Key::Minus);
    EXPECT_EQ(key_from_virtual_key(109), Key::Minus);
    EXPECT_EQ(key_from_virtual_key(122), Key::F11);
    EXPECT_EQ(key_name(Key::Plus), u"Plus");
    EXPECT_EQ(key_from_name(u"F11"), Key::F11);
    for (int digit = 0; digit <= 9; ++digit)
        EXPECT_EQ(key_from_virtual_key(96 + digit), key_from_virtual_key('0' + digit)) << digit;
    // The keys around them stay unknown.
    EXPECT_EQ(key_from_virtual_key(121), Key::None); // F10
    EXPECT_EQ(key_from_virtual_key(123), Key::None); // F12
    EXPECT_EQ(key_from_virtual_key(188), Key::None); // the comma key
}
