#pragma once

// Pure rules of evdev input: which virtual key a key code is, how a touch
// screen's absolute coordinates reach the program's pixels (the device's
// ranges, udev's LIBINPUT_CALIBRATION_MATRIX, the panel's turn), and the
// decoder that turns a stream of input events - single touch, the
// multitouch slot protocol, keys, and SYN_DROPPED - into pen and key
// actions. No device here: the driver reads the records and asks the
// kernel for a snapshot after a drop. Not thread-safe; one decoder per
// device, used by the thread that reads it.

#include "platform/FramebufferFormat.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace qv::platform {

// The part of struct input_event the decoder needs.
struct EvdevEvent {
    std::uint16_t type { 0 };
    std::uint16_t code { 0 };
    std::int32_t value { 0 };
};

// The program's virtual key for an evdev key code, 0 for keys it ignores.
// Escape and the back key back out; the volume keys zoom.
int virtual_key_from_evdev(std::uint16_t code);

struct AbsRange {
    std::int32_t minimum { 0 };
    std::int32_t maximum { 0 };
    bool is_valid() const { return maximum > minimum; }
};

// libinput's 2 x 3 matrix over coordinates normalised to 0 .. 1:
// x' = a x + b y + c, y' = d x + e y + f.
struct Calibration {
    std::array<double, 6> m { 1, 0, 0, 0, 1, 0 };
};
// Six numbers separated by blanks; none for anything else.
std::optional<Calibration> parse_calibration(std::string_view text);

struct TouchMapping {
    AbsRange x;
    AbsRange y;
    Calibration calibration;
    std::int32_t panel_width { 0 };
    std::int32_t panel_height { 0 };
    std::int32_t turn { 0 }; // program to panel, as in present_rgb565
};

// A touch point in program pixels, clamped to the screen. A range the
// device does not give counts as the panel's own pixels.
PanelPoint map_touch(TouchMapping const& mapping, std::int32_t raw_x, std::int32_t raw_y);

struct InputAction {
    enum class Kind { PenDown, PenMove, PenUp, KeyDown, KeyRepeat, KeyUp };
    Kind kind { Kind::PenMove };
    std::int32_t x { 0 };
    std::int32_t y { 0 };
    int virtual_key { 0 };
    friend bool operator==(InputAction const&, InputAction const&) = default;
};

// The device's state as the kernel reports it after a drop (EVIOCGKEY,
// EVIOCGABS, EVIOCGMTSLOTS).
struct EvdevSnapshot {
    std::vector<std::uint16_t> keys_down;
    bool touching { false };
    std::int32_t x { 0 };
    std::int32_t y { 0 };
    struct Slot {
        std::int32_t tracking_id { -1 };
        std::int32_t x { 0 };
        std::int32_t y { 0 };
    };
    std::vector<Slot> slots; // empty: a single-touch device
    std::int32_t current_slot { 0 };
};

class EvdevDecoder {
public:
    static constexpr std::size_t kSlots = 16;

    explicit EvdevDecoder(TouchMapping mapping = {});
    void set_mapping(TouchMapping const& mapping) { m_mapping = mapping; }

    enum class Fed { Event, DropEnded };
    // Takes one event; a frame's actions are appended at its SYN_REPORT.
    // After SYN_DROPPED everything up to the next SYN_REPORT is dropped;
    // that report answers DropEnded, and the caller may then resync.
    Fed feed(EvdevEvent const& event, std::vector<InputAction>& out);
    // Takes the device's present state as the truth: keys held no more are
    // released, the pen follows the contacts as they are now.
    void resync(EvdevSnapshot const& snapshot, std::vector<InputAction>& out);

    bool is_pen_down() const { return m_pen_down; }

private:
    struct Slot {
        std::int32_t tracking_id { -1 };
        std::int32_t x { 0 };
        std::int32_t y { 0 };
    };
    void commit_touch(std::vector<InputAction>& out);
    void pen(InputAction::Kind kind, std::int32_t raw_x, std::int32_t raw_y, std::vector<InputAction>& out);

    TouchMapping m_mapping;
    std::vector<InputAction> m_pending_keys;
    std::vector<bool> m_keys_down;
    bool m_dropping { false };
    bool m_uses_slots { false };
    // Single touch.
    bool m_touching { false };
    std::int32_t m_x { 0 };
    std::int32_t m_y { 0 };
    // Multitouch: the pen follows one contact from its touch to its lift.
    std::array<Slot, kSlots> m_slots {};
    std::int32_t m_slot { 0 };
    std::int32_t m_pen_slot { -1 };
    bool m_pen_down { false };
    bool m_wait_for_lift { false };
    PanelPoint m_pen_at;
};

}
