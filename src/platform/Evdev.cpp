#include "platform/Evdev.h"

#include <linux/input-event-codes.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

namespace qv::platform {

int virtual_key_from_evdev(std::uint16_t code)
{
    static constexpr std::uint16_t letters[] = { KEY_A, KEY_B, KEY_C, KEY_D, KEY_E, KEY_F, KEY_G, KEY_H, KEY_I,
        KEY_J, KEY_K, KEY_L, KEY_M, KEY_N, KEY_O, KEY_P, KEY_Q, KEY_R, KEY_S, KEY_T, KEY_U, KEY_V, KEY_W, KEY_X,
        KEY_Y, KEY_Z };
    for (int i = 0; i < 26; ++i)
        if (letters[i] == code)
            return 'A' + i;
    if (code >= KEY_1 && code <= KEY_9)
        return '1' + (code - KEY_1);
    switch (code) {
    case KEY_0: return '0';
    case KEY_BACKSPACE: return 8;
    case KEY_TAB: return 9;
    case KEY_ENTER:
    case KEY_KPENTER:
    case KEY_OK:
    case KEY_SELECT: return 13;
    case KEY_LEFTSHIFT:
    case KEY_RIGHTSHIFT: return 16;
    case KEY_LEFTCTRL:
    case KEY_RIGHTCTRL: return 17;
    case KEY_LEFTALT:
    case KEY_RIGHTALT: return 18;
    case KEY_ESC:
    case KEY_BACK: return 27;
    case KEY_SPACE: return 32;
    case KEY_PAGEUP: return 33;
    case KEY_PAGEDOWN: return 34;
    case KEY_END: return 35;
    case KEY_HOME:
    case KEY_HOMEPAGE: return 36;
    case KEY_LEFT: return 37;
    case KEY_UP: return 38;
    case KEY_RIGHT: return 39;
    case KEY_DOWN: return 40;
    case KEY_INSERT: return 45;
    case KEY_DELETE: return 46;
    case KEY_COMPOSE:
    case KEY_CONTEXT_MENU: return 93;
    // The soft keys: F1 and F2 as on the window, and the menu key that
    // handhelds and remote controls carry under the left one.
    case KEY_F1:
    case KEY_MENU: return 112;
    case KEY_F2: return 113;
    case KEY_F3: return 114;
    case KEY_F4: return 115;
    case KEY_F11: return 122;
    // The volume rocker is the only pair of keys many devices have beside
    // the touch screen; it zooms, as + and - do on a keyboard.
    case KEY_VOLUMEUP:
    case KEY_ZOOMIN:
    case KEY_KPPLUS: return 187;
    case KEY_VOLUMEDOWN:
    case KEY_ZOOMOUT:
    case KEY_KPMINUS: return 189;
    case KEY_EQUAL: return 187;
    case KEY_MINUS: return 189;
    default: return 0;
    }
}

std::optional<Calibration> parse_calibration(std::string_view text)
{
    Calibration calibration;
    std::string const copy(text);
    char const* at = copy.c_str();
    for (double& value : calibration.m) {
        char* end = nullptr;
        value = std::strtod(at, &end);
        if (end == at || !std::isfinite(value))
            return std::nullopt;
        at = end;
    }
    while (*at == ' ' || *at == '\t' || *at == '\n')
        ++at;
    if (*at != '\0')
        return std::nullopt;
    return calibration;
}

PanelPoint map_touch(TouchMapping const& mapping, std::int32_t raw_x, std::int32_t raw_y)
{
    std::int32_t const pw = std::max(1, mapping.panel_width), ph = std::max(1, mapping.panel_height);
    AbsRange const rx = mapping.x.is_valid() ? mapping.x : AbsRange { 0, pw - 1 };
    AbsRange const ry = mapping.y.is_valid() ? mapping.y : AbsRange { 0, ph - 1 };
    double const nx = static_cast<double>(raw_x - rx.minimum) / std::max(1, rx.maximum - rx.minimum);
    double const ny = static_cast<double>(raw_y - ry.minimum) / std::max(1, ry.maximum - ry.minimum);
    auto const& m = mapping.calibration.m;
    double const cx = m[0] * nx + m[1] * ny + m[2];
    double const cy = m[3] * nx + m[4] * ny + m[5];
    auto const pixel = [](double n, std::int32_t side) {
        return static_cast<std::int32_t>(std::clamp(std::lround(n * (side - 1)), 0L, static_cast<long>(side - 1)));
    };
    PanelPoint const panel { pixel(cx, pw), pixel(cy, ph) };
    bool const odd = (mapping.turn & 1) != 0;
    return panel_to_program(panel, mapping.turn, odd ? ph : pw, odd ? pw : ph);
}

EvdevDecoder::EvdevDecoder(TouchMapping mapping)
    : m_mapping(mapping)
    , m_keys_down(KEY_CNT, false)
{
}

EvdevDecoder::Fed EvdevDecoder::feed(EvdevEvent const& e, std::vector<InputAction>& out)
{
    if (e.type == EV_SYN && e.code == SYN_DROPPED) {
        m_dropping = true;
        m_pending_keys.clear();
        return Fed::Event;
    }
    if (m_dropping) {
        if (e.type == EV_SYN && e.code == SYN_REPORT) {
            m_dropping = false;
            return Fed::DropEnded;
        }
        return Fed::Event;
    }
    switch (e.type) {
    case EV_SYN:
        if (e.code == SYN_REPORT) {
            out.insert(out.end(), m_pending_keys.begin(), m_pending_keys.end());
            m_pending_keys.clear();
            commit_touch(out);
        }
        break;
    case EV_KEY:
        if (e.code == BTN_TOUCH) {
            m_touching = e.value != 0;
        } else if (e.code < KEY_CNT) {
            int const vk = virtual_key_from_evdev(e.code);
            bool const was_down = m_keys_down[e.code];
            m_keys_down[e.code] = e.value != 0;
            if (vk == 0)
                break;
            if (e.value == 0 && was_down)
                m_pending_keys.push_back({ InputAction::Kind::KeyUp, 0, 0, vk });
            else if (e.value == 1 || (e.value == 2 && !was_down))
                m_pending_keys.push_back({ InputAction::Kind::KeyDown, 0, 0, vk });
            else if (e.value == 2)
                m_pending_keys.push_back({ InputAction::Kind::KeyRepeat, 0, 0, vk });
        }
        break;
    case EV_ABS:
        switch (e.code) {
        case ABS_X: m_x = e.value; break;
        case ABS_Y: m_y = e.value; break;
        case ABS_MT_SLOT:
            m_uses_slots = true;
            m_slot = e.value;
            break;
        case ABS_MT_TRACKING_ID:
        case ABS_MT_POSITION_X:
        case ABS_MT_POSITION_Y:
            m_uses_slots = true;
            if (m_slot < 0 || m_slot >= static_cast<std::int32_t>(kSlots))
                break; // a contact beyond what the pen can follow
            if (e.code == ABS_MT_TRACKING_ID)
                m_slots[m_slot].tracking_id = e.value;
            else if (e.code == ABS_MT_POSITION_X)
                m_slots[m_slot].x = e.value;
            else
                m_slots[m_slot].y = e.value;
            break;
        default:
            break;
        }
        break;
    default:
        break;
    }
    return Fed::Event;
}

void EvdevDecoder::pen(InputAction::Kind kind, std::int32_t raw_x, std::int32_t raw_y, std::vector<InputAction>& out)
{
    PanelPoint const at = map_touch(m_mapping, raw_x, raw_y);
    if (kind == InputAction::Kind::PenMove && at == m_pen_at)
        return;
    m_pen_at = at;
    m_pen_down = kind != InputAction::Kind::PenUp;
    out.push_back({ kind, at.x, at.y, 0 });
}

void EvdevDecoder::commit_touch(std::vector<InputAction>& out)
{
    using Kind = InputAction::Kind;
    if (!m_uses_slots) {
        if (m_touching)
            pen(m_pen_down ? Kind::PenMove : Kind::PenDown, m_x, m_y, out);
        else if (m_pen_down)
            out.push_back({ Kind::PenUp, m_pen_at.x, m_pen_at.y, 0 }), m_pen_down = false;
        return;
    }
    bool const any_contact = std::any_of(m_slots.begin(), m_slots.end(), [](Slot const& s) { return s.tracking_id >= 0; });
    if (m_pen_down && m_slots[m_pen_slot].tracking_id < 0) {
        // The lift goes where the contact was last seen. The fingers left
        // on the glass were not the pen; they start none until all lift.
        out.push_back({ Kind::PenUp, m_pen_at.x, m_pen_at.y, 0 });
        m_pen_down = false;
        m_pen_slot = -1;
        m_wait_for_lift = any_contact;
    }
    if (m_wait_for_lift) {
        m_wait_for_lift = any_contact;
        return;
    }
    if (m_pen_down) {
        Slot const& s = m_slots[m_pen_slot];
        pen(Kind::PenMove, s.x, s.y, out);
        return;
    }
    // A new pen only from a contact that starts while no pen is down; the
    // others of a pinch are ignored, as a single pen has no second point.
    for (std::size_t i = 0; i < kSlots; ++i) {
        if (m_slots[i].tracking_id >= 0) {
            m_pen_slot = static_cast<std::int32_t>(i);
            pen(Kind::PenDown, m_slots[i].x, m_slots[i].y, out);
            return;
        }
    }
}

void EvdevDecoder::resync(EvdevSnapshot const& snapshot, std::vector<InputAction>& out)
{
    std::vector<bool> held(KEY_CNT, false);
    for (std::uint16_t code : snapshot.keys_down)
        if (code < KEY_CNT)
            held[code] = true;
    for (std::size_t code = 0; code < KEY_CNT; ++code) {
        if (m_keys_down[code] && !held[code]) {
            if (int const vk = virtual_key_from_evdev(static_cast<std::uint16_t>(code)))
                out.push_back({ InputAction::Kind::KeyUp, 0, 0, vk });
        }
        m_keys_down[code] = held[code];
    }
    if (snapshot.slots.empty()) {
        m_touching = snapshot.touching;
        m_x = snapshot.x;
        m_y = snapshot.y;
    } else {
        m_uses_slots = true;
        for (std::size_t i = 0; i < kSlots; ++i) {
            m_slots[i] = i < snapshot.slots.size()
                ? Slot { snapshot.slots[i].tracking_id, snapshot.slots[i].x, snapshot.slots[i].y }
                : Slot {};
        }
        m_slot = snapshot.current_slot;
    }
    commit_touch(out);
    // What touches now was never seen start: it is a new pen, as a touch
    // after a lift of every finger is.
    if (m_wait_for_lift) {
        m_wait_for_lift = false;
        commit_touch(out);
    }
}

}
