#include "platform/Evdev.h"

#include <gtest/gtest.h>

#include <linux/input-event-codes.h>

using namespace qv::platform;
using Kind = InputAction::Kind;

namespace {

// A 100 x 200 panel whose touch controller counts 0 .. 4095 both ways.
TouchMapping controller(std::int32_t turn = 0)
{
    return TouchMapping { { 0, 4095 }, { 0, 4095 }, {}, 100, 200, turn };
}

struct Feeder {
    explicit Feeder(TouchMapping mapping = {})
        : decoder(mapping)
    {
    }
    EvdevDecoder decoder;
    std::vector<InputAction> out;
    EvdevDecoder::Fed last { EvdevDecoder::Fed::Event };

    Feeder& operator()(std::uint16_t type, std::uint16_t code, std::int32_t value)
    {
        last = decoder.feed({ type, code, value }, out);
        return *this;
    }
    Feeder& syn() { return (*this)(EV_SYN, SYN_REPORT, 0); }
    Feeder& slot(std::int32_t s) { return (*this)(EV_ABS, ABS_MT_SLOT, s); }
    Feeder& contact(std::int32_t id, std::int32_t x, std::int32_t y)
    {
        return (*this)(EV_ABS, ABS_MT_TRACKING_ID, id)(EV_ABS, ABS_MT_POSITION_X, x)(EV_ABS, ABS_MT_POSITION_Y, y);
    }
    std::vector<InputAction> take() { return std::exchange(out, {}); }
};

InputAction pen(Kind kind, std::int32_t x, std::int32_t y) { return { kind, x, y, 0 }; }
InputAction key(Kind kind, int vk) { return { kind, 0, 0, vk }; }

}

TEST(EvdevTouch, ranges_calibration_and_turns_reach_program_pixels)
{
    EXPECT_EQ(map_touch(controller(), 0, 0), (PanelPoint { 0, 0 }));
    EXPECT_EQ(map_touch(controller(), 4095, 4095), (PanelPoint { 99, 199 }));
    EXPECT_EQ(map_touch(controller(), 2048, 1024), (PanelPoint { 50, 50 }));
    // A controller whose range does not start at 0, and points beyond it.
    TouchMapping offset { { 100, 1100 }, { -50, 950 }, {}, 100, 200, 0 };
    EXPECT_EQ(map_touch(offset, 100, -50), (PanelPoint { 0, 0 }));
    EXPECT_EQ(map_touch(offset, 5000, -900), (PanelPoint { 99, 0 }));
    // No range (a FIFO): the numbers are the panel's pixels.
    EXPECT_EQ(map_touch(TouchMapping { {}, {}, {}, 100, 200, 0 }, 42, 77), (PanelPoint { 42, 77 }));

    // udev's matrix for a controller mounted mirrored left to right.
    TouchMapping mirrored = controller();
    mirrored.calibration = *parse_calibration("-1 0 1 0 1 0");
    EXPECT_EQ(map_touch(mirrored, 0, 0), (PanelPoint { 99, 0 }));
    // ... and for one turned a quarter against its panel.
    TouchMapping swapped = controller();
    swapped.calibration = *parse_calibration("0 1 0 -1 0 1");
    EXPECT_EQ(map_touch(swapped, 0, 4095), (PanelPoint { 99, 199 }));

    // A panel mounted a quarter turned: its top-left corner is the
    // program's top-right (the program is 200 x 100 then).
    EXPECT_EQ(map_touch(controller(1), 0, 0), (PanelPoint { 199, 0 }));
    EXPECT_EQ(map_touch(controller(2), 0, 0), (PanelPoint { 99, 199 }));
    EXPECT_EQ(map_touch(controller(3), 0, 0), (PanelPoint { 0, 99 }));
}

TEST(EvdevTouch, calibration_text_needs_exactly_six_numbers)
{
    auto const parsed = parse_calibration(" 1.5 0 -0.25\t0 1 1e-1 ");
    ASSERT_TRUE(parsed);
    EXPECT_DOUBLE_EQ(parsed->m[0], 1.5);
    EXPECT_DOUBLE_EQ(parsed->m[2], -0.25);
    EXPECT_DOUBLE_EQ(parsed->m[5], 0.1);
    EXPECT_FALSE(parse_calibration("1 0 0 0 1"));
    EXPECT_FALSE(parse_calibration("1 0 0 0 1 0 7"));
    EXPECT_FALSE(parse_calibration("1 0 x 0 1 0"));
    EXPECT_FALSE(parse_calibration(""));
}

TEST(EvdevTouch, single_touch_gives_down_moves_and_up_at_each_report)
{
    Feeder f(controller());
    f(EV_KEY, BTN_TOUCH, 1)(EV_ABS, ABS_X, 0)(EV_ABS, ABS_Y, 0);
    EXPECT_TRUE(f.out.empty()) << "nothing before the report";
    f.syn();
    f(EV_ABS, ABS_X, 4095).syn();
    f.syn(); // a report that changes nothing moves nothing
    f(EV_KEY, BTN_TOUCH, 0).syn();
    EXPECT_EQ(f.take(), (std::vector { pen(Kind::PenDown, 0, 0), pen(Kind::PenMove, 99, 0), pen(Kind::PenUp, 99, 0) }));
    EXPECT_FALSE(f.decoder.is_pen_down());
}

TEST(EvdevTouch, the_pen_follows_the_first_contact_of_the_slots)
{
    Feeder f(controller());
    f.slot(0).contact(7, 0, 0).syn();
    // A second finger comes and moves: no second pen, no jump.
    f.slot(1).contact(8, 4095, 4095).syn();
    f(EV_ABS, ABS_MT_POSITION_X, 2048).syn();
    // The first finger moves (its slot named again), then lifts while the
    // second still touches: the pen is up, and stays up for the second.
    f.slot(0)(EV_ABS, ABS_MT_POSITION_Y, 4095).syn();
    f(EV_ABS, ABS_MT_TRACKING_ID, -1).syn();
    f.slot(1)(EV_ABS, ABS_MT_POSITION_Y, 0).syn();
    // The last finger lifts; a new touch in slot 1 is a new pen.
    f(EV_ABS, ABS_MT_TRACKING_ID, -1).syn();
    f.contact(9, 4095, 0).syn();
    EXPECT_EQ(f.take(), (std::vector { pen(Kind::PenDown, 0, 0), pen(Kind::PenMove, 0, 199), pen(Kind::PenUp, 0, 199),
                           pen(Kind::PenDown, 99, 0) }));
}

TEST(EvdevTouch, slots_beyond_the_table_are_ignored_not_written)
{
    Feeder f(controller());
    f.slot(40).contact(3, 100, 100).syn();
    f.slot(-1).contact(4, 100, 100).syn();
    EXPECT_TRUE(f.take().empty());
}

TEST(EvdevDrop, events_up_to_the_next_report_are_dropped)
{
    Feeder f(controller());
    f(EV_KEY, KEY_UP, 1);
    f(EV_SYN, SYN_DROPPED, 0);
    f(EV_KEY, KEY_DOWN, 1)(EV_KEY, BTN_TOUCH, 1);
    EXPECT_EQ(f.last, EvdevDecoder::Fed::Event);
    f.syn();
    EXPECT_EQ(f.last, EvdevDecoder::Fed::DropEnded);
    EXPECT_TRUE(f.take().empty()) << "the half frame before the drop and the rest after it are lost";
    // Afterwards the stream is read as usual.
    f(EV_KEY, KEY_ENTER, 1).syn();
    EXPECT_EQ(f.take(), (std::vector { key(Kind::KeyDown, 13) }));
}

TEST(EvdevDrop, resync_releases_keys_and_lifts_the_pen_that_were_lost)
{
    Feeder f(controller());
    f(EV_KEY, KEY_LEFT, 1)(EV_KEY, KEY_VOLUMEUP, 1).slot(0).contact(1, 2048, 2048).syn();
    f.take();
    f(EV_SYN, SYN_DROPPED, 0).syn();
    // Meanwhile the left key and the finger went up; volume is still held
    // and a finger now touches in slot 2.
    EvdevSnapshot snapshot;
    snapshot.keys_down = { KEY_VOLUMEUP };
    snapshot.slots.resize(4);
    snapshot.slots[2] = { 5, 4095, 0 };
    f.decoder.resync(snapshot, f.out);
    EXPECT_EQ(f.take(), (std::vector { key(Kind::KeyUp, 37), pen(Kind::PenUp, 50, 100), pen(Kind::PenDown, 99, 0) }));
    // Later events of slot 2 move that pen.
    f.slot(2)(EV_ABS, ABS_MT_POSITION_Y, 4095).syn();
    EXPECT_EQ(f.take(), (std::vector { pen(Kind::PenMove, 99, 199) }));

    // A single-touch device: the snapshot's touch state.
    Feeder g(controller());
    g(EV_KEY, BTN_TOUCH, 1)(EV_ABS, ABS_X, 0)(EV_ABS, ABS_Y, 0).syn();
    g.take();
    EvdevSnapshot lifted;
    g.decoder.resync(lifted, g.out);
    EXPECT_EQ(g.take(), (std::vector { pen(Kind::PenUp, 0, 0) }));
}

TEST(EvdevKeys, keys_map_to_the_virtual_keys_of_the_window)
{
    EXPECT_EQ(virtual_key_from_evdev(KEY_LEFT), 37);
    EXPECT_EQ(virtual_key_from_evdev(KEY_UP), 38);
    EXPECT_EQ(virtual_key_from_evdev(KEY_RIGHT), 39);
    EXPECT_EQ(virtual_key_from_evdev(KEY_DOWN), 40);
    EXPECT_EQ(virtual_key_from_evdev(KEY_ENTER), 13);
    EXPECT_EQ(virtual_key_from_evdev(KEY_OK), 13);
    EXPECT_EQ(virtual_key_from_evdev(KEY_ESC), 27);
    EXPECT_EQ(virtual_key_from_evdev(KEY_BACK), 27);
    EXPECT_EQ(virtual_key_from_evdev(KEY_F1), 112);
    EXPECT_EQ(virtual_key_from_evdev(KEY_MENU), 112);
    EXPECT_EQ(virtual_key_from_evdev(KEY_F2), 113);
    EXPECT_EQ(virtual_key_from_evdev(KEY_VOLUMEUP), 187);
    EXPECT_EQ(virtual_key_from_evdev(KEY_VOLUMEDOWN), 189);
    EXPECT_EQ(virtual_key_from_evdev(KEY_A), 'A');
    EXPECT_EQ(virtual_key_from_evdev(KEY_Q), 'Q');
    EXPECT_EQ(virtual_key_from_evdev(KEY_0), '0');
    EXPECT_EQ(virtual_key_from_evdev(KEY_5), '5');
    EXPECT_EQ(virtual_key_from_evdev(KEY_POWER), 0);
    EXPECT_EQ(virtual_key_from_evdev(BTN_TOUCH), 0);
}

TEST(EvdevKeys, presses_repeats_and_releases_in_order)
{
    Feeder f;
    f(EV_KEY, KEY_RIGHT, 1).syn();
    f(EV_KEY, KEY_RIGHT, 2).syn();
    f(EV_KEY, KEY_RIGHT, 0)(EV_KEY, KEY_ENTER, 1)(EV_KEY, KEY_ENTER, 0).syn();
    // A release of a key never seen down (pressed before the program
    // started) and keys the program ignores give nothing.
    f(EV_KEY, KEY_LEFT, 0)(EV_KEY, KEY_POWER, 1).syn();
    EXPECT_EQ(f.take(), (std::vector { key(Kind::KeyDown, 39), key(Kind::KeyRepeat, 39), key(Kind::KeyUp, 39),
                           key(Kind::KeyDown, 13), key(Kind::KeyUp, 13) }));
}
