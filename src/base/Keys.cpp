#include "base/Keys.h"

#include <array>

namespace qv {

namespace {

struct KeyEntry {
    Key key;
    char16_t const* name;
};

// Stored in the order the skins have always been matched against: the call
// keys come before "*" and "#".
constexpr std::array<KeyEntry, kKeyCount> kKeyTable { {
    { Key::None, u"None" }, { Key::Shift, u"Shift" }, { Key::Ctrl, u"Ctrl" }, { Key::Alt, u"Alt" },
    { Key::Left, u"Left" }, { Key::Right, u"Right" }, { Key::Up, u"Up" }, { Key::Down, u"Down" },
    { Key::Esc, u"Esc" }, { Key::Enter, u"Enter" }, { Key::Space, u"Space" }, { Key::Backspace, u"Backspace" },
    { Key::Del, u"Del" }, { Key::Insert, u"Insert" }, { Key::Home, u"Home" }, { Key::End, u"End" },
    { Key::PageDown, u"PageDown" }, { Key::PageUp, u"PageUp" }, { Key::Tab, u"Tab" },
    { Key::ContextMenu, u"ContextMenu" },
    { Key(20), u"A" }, { Key(21), u"B" }, { Key(22), u"C" }, { Key(23), u"D" }, { Key(24), u"E" },
    { Key(25), u"F" }, { Key(26), u"G" }, { Key(27), u"H" }, { Key(28), u"I" }, { Key(29), u"J" },
    { Key(30), u"K" }, { Key(31), u"L" }, { Key(32), u"M" }, { Key(33), u"N" }, { Key(34), u"O" },
    { Key(35), u"P" }, { Key(36), u"Q" }, { Key(37), u"R" }, { Key(38), u"S" }, { Key(39), u"T" },
    { Key(40), u"U" }, { Key(41), u"V" }, { Key(42), u"W" }, { Key(43), u"X" }, { Key(44), u"Y" },
    { Key(45), u"Z" },
    { Key(46), u"0" }, { Key(47), u"1" }, { Key(48), u"2" }, { Key(49), u"3" }, { Key(50), u"4" },
    { Key(51), u"5" }, { Key(52), u"6" }, { Key(53), u"7" }, { Key(54), u"8" }, { Key(55), u"9" },
    { Key::CallMake, u"CALL_MAKE" }, { Key::CallEnd, u"CALL_END" }, { Key::Star, u"*" }, { Key::Pound, u"#" },
    { Key::Slide, u"SLIDE" }, { Key::SoftLeft, u"SOFT_LEFT" }, { Key::SoftRight, u"SOFT_RIGHT" },
    { Key::VolumeUp, u"VOLUME_UP" }, { Key::VolumeDown, u"VOLUME_DOWN" },
    { Key::Plus, u"Plus" }, { Key::Minus, u"Minus" }, { Key::F11, u"F11" },
} };

}

Key key_from_virtual_key(int vk)
{
    if (vk >= 48 && vk <= 57)
        return Key(46 + (vk - 48));
    if (vk >= 65 && vk <= 90)
        return Key(20 + (vk - 65));
    // The keypad's digits are the digits.
    if (vk >= 96 && vk <= 105)
        return Key(46 + (vk - 96));
    switch (vk) {
    case 8:
    case 27: return Key::Backspace; // escape backs out, as the back key does
    case 9: return Key::Tab;
    case 13: return Key::Enter;
    case 16: return Key::Shift;
    case 17: return Key::Ctrl;
    case 18: return Key::Alt;
    case 32: return Key::Space;
    case 33: return Key::PageUp;
    case 34: return Key::PageDown;
    case 35: return Key::End;
    case 36: return Key::Home;
    case 37: return Key::Left;
    case 38: return Key::Up;
    case 39: return Key::Right;
    case 40: return Key::Down;
    case 45: return Key::Insert;
    case 46: return Key::Del;
    case 93: return Key::ContextMenu;
    case 112: return Key::SoftLeft;
    case 113: return Key::SoftRight;
    case 114: return Key::CallMake;
    case 115: return Key::CallEnd;
    case 117: return Key::VolumeUp;
    case 118: return Key::VolumeDown;
    case 119: return Key::Star;
    case 120: return Key::Pound;
    case 122: return Key::F11;
    case 107: // the keypad's
    case 187: return Key::Plus;
    case 109:
    case 189: return Key::Minus;
    default: return Key::None;
    }
}

WStringView key_name(Key key)
{
    for (auto const& entry : kKeyTable) {
        if (entry.key == key)
            return entry.name;
    }
    return {};
}

std::optional<Key> key_from_name(WStringView name)
{
    for (auto const& entry : kKeyTable) {
        if (name == entry.name)
            return entry.key;
    }
    return std::nullopt;
}

}
