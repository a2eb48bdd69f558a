#pragma once

// Device-independent key codes. Screens and skins see only these; the window
// layer translates platform virtual keys into them.

#include "core/WString.h"

#include <cstdint>
#include <optional>

namespace qv {

enum class Key : std::uint8_t {
    None = 0, Shift, Ctrl, Alt, Left, Right, Up, Down, Esc, Enter, Space,
    Backspace, Del, Insert, Home, End, PageDown, PageUp, Tab, ContextMenu,
    A = 20, Z = 45,
    Digit0 = 46, Digit9 = 55,
    Star = 56, Pound = 57, CallMake = 58, CallEnd = 59, Slide = 60,
    SoftLeft = 61, SoftRight = 62, VolumeUp = 63, VolumeDown = 64,
    Plus = 65, Minus = 66, F11 = 67,
};

inline constexpr int kKeyCount = 68;

Key key_from_virtual_key(int virtual_key);
// Empty for a code outside the table.
WStringView key_name(Key key);
std::optional<Key> key_from_name(WStringView name);

struct KeyEvent {
    Key key { Key::None };
    bool pressed { true };
};

}
