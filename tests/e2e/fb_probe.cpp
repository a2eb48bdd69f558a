// The test's side of a frame buffer run: writes touch and key events into
// the FIFO that stands for an event device, and waits until the file that
// stands for the frame buffer shows the picture of a headless screenshot.
//
//   fb_probe send FIFO TURN WIDTH HEIGHT COMMAND...
//       tap:X,Y               single touch (BTN_TOUCH, ABS_X/Y)
//       swipe:X0,Y0,X1,Y1,N   one contact of the slot protocol, N moves
//       key:CODE              an evdev key code pressed and released
//       drop                  SYN_DROPPED with half a touch that is lost
//     Points are the program's; TURN and the program's WIDTH x HEIGHT turn
//     them into the panel's pixels, which a FIFO's touch screen reports.
//   fb_probe expect FB PNG BITS TURN SECONDS [SAVE_PNG]
//     Exit 0 as soon as the frame buffer (BITS 16 or 32, the panel turned
//     by TURN) holds the PNG's picture; 1 after SECONDS, with the count of
//     differing pixels and the frame buffer saved to SAVE_PNG.

#include "platform/FramebufferFormat.h"
#include "platform/Files.h"
#include "platform/PngFile.h"

#include <linux/input.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

using namespace qv;
using namespace qv::platform;

namespace {

std::vector<int> numbers(std::string const& text)
{
    std::vector<int> out;
    char const* at = text.c_str();
    while (*at) {
        char* end = nullptr;
        out.push_back(static_cast<int>(std::strtol(at, &end, 10)));
        if (end == at)
            break;
        at = *end == ',' ? end + 1 : end;
    }
    return out;
}

struct Writer {
    std::FILE* out;
    int turn, width, height;

    void event(std::uint16_t type, std::uint16_t code, std::int32_t value)
    {
        input_event e {};
        e.type = type;
        e.code = code;
        e.value = value;
        std::fwrite(&e, sizeof e, 1, out);
    }
    void syn() { event(EV_SYN, SYN_REPORT, 0); }
    PanelPoint panel(int x, int y) const { return program_to_panel({ x, y }, turn, width, height); }
};

int send(int argc, char** argv)
{
    if (argc < 7)
        return 2;
    std::FILE* fifo = std::fopen(argv[2], "wb");
    if (!fifo) {
        std::perror(argv[2]);
        return 1;
    }
    Writer w { fifo, std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]) };
    for (int i = 6; i < argc; ++i) {
        std::string const command = argv[i];
        std::size_t const colon = command.find(':');
        std::string const verb = command.substr(0, colon);
        std::vector<int> const n = colon == std::string::npos ? std::vector<int> {} : numbers(command.substr(colon + 1));
        if (verb == "tap" && n.size() == 2) {
            PanelPoint const p = w.panel(n[0], n[1]);
            w.event(EV_KEY, BTN_TOUCH, 1);
            w.event(EV_ABS, ABS_X, p.x);
            w.event(EV_ABS, ABS_Y, p.y);
            w.syn();
            w.event(EV_KEY, BTN_TOUCH, 0);
            w.syn();
        } else if (verb == "swipe" && n.size() == 5 && n[4] > 0) {
            PanelPoint const p = w.panel(n[0], n[1]);
            w.event(EV_ABS, ABS_MT_SLOT, 0);
            w.event(EV_ABS, ABS_MT_TRACKING_ID, 17);
            w.event(EV_ABS, ABS_MT_POSITION_X, p.x);
            w.event(EV_ABS, ABS_MT_POSITION_Y, p.y);
            w.syn();
            for (int k = 1; k <= n[4]; ++k) {
                PanelPoint const q = w.panel(n[0] + (n[2] - n[0]) * k / n[4], n[1] + (n[3] - n[1]) * k / n[4]);
                w.event(EV_ABS, ABS_MT_POSITION_X, q.x);
                w.event(EV_ABS, ABS_MT_POSITION_Y, q.y);
                w.syn();
            }
            w.event(EV_ABS, ABS_MT_TRACKING_ID, -1);
            w.syn();
        } else if (verb == "key" && n.size() == 1) {
            w.event(EV_KEY, static_cast<std::uint16_t>(n[0]), 1);
            w.syn();
            w.event(EV_KEY, static_cast<std::uint16_t>(n[0]), 0);
            w.syn();
        } else if (verb == "drop") {
            // A touch whose start is lost with the drop: nothing may come
            // of it, not even its end.
            w.event(EV_KEY, BTN_TOUCH, 1);
            w.event(EV_SYN, SYN_DROPPED, 0);
            w.event(EV_ABS, ABS_X, 5);
            w.event(EV_KEY, KEY_ENTER, 1);
            w.syn();
            w.event(EV_KEY, BTN_TOUCH, 0);
            w.syn();
        } else {
            std::fprintf(stderr, "fb_probe: cannot read %s\n", argv[i]);
            return 2;
        }
    }
    return std::fclose(fifo) == 0 ? 0 : 1;
}

int expect(int argc, char** argv)
{
    if (argc < 7)
        return 2;
    auto const picture = load_png(from_system_path(argv[3]), PngAlpha::Ignore);
    if (!picture) {
        std::fprintf(stderr, "fb_probe: cannot read %s\n", argv[3]);
        return 2;
    }
    PixelFormat const format = std::atoi(argv[4]) == 16 ? kFormatRgb565 : kFormatXrgb8888;
    int const turn = std::atoi(argv[5]), w = picture->width, h = picture->height;
    int const pw = turn & 1 ? h : w, ph = turn & 1 ? w : h, bytes = static_cast<int>(format.bits_per_pixel / 8);
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(argv[6]));
    std::vector<std::uint16_t> seen(static_cast<std::size_t>(w) * h);
    std::size_t differing = 0;
    for (;;) {
        std::ifstream file(argv[2], std::ios::binary);
        std::vector<char> const data((std::istreambuf_iterator<char>(file)), {});
        differing = seen.size();
        if (data.size() >= static_cast<std::size_t>(pw) * ph * bytes) {
            differing = 0;
            for (int py = 0; py < ph; ++py)
                for (int px = 0; px < pw; ++px) {
                    std::uint32_t value = 0;
                    std::memcpy(&value, data.data() + (static_cast<std::size_t>(py) * pw + px) * bytes, bytes);
                    PanelPoint const p = panel_to_program({ px, py }, turn, w, h);
                    std::uint16_t const pixel = panel_pixel_to_rgb565(value, format);
                    seen[static_cast<std::size_t>(p.y) * w + p.x] = pixel;
                    differing += pixel != picture->pixels[static_cast<std::size_t>(p.y) * w + p.x];
                }
        }
        if (differing == 0)
            return 0;
        if (std::chrono::steady_clock::now() > deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::fprintf(stderr, "fb_probe: %zu pixels differ from %s\n", differing, argv[3]);
    if (argc > 7)
        save_png(Rgb565Rows { w, h, w * 2, seen.data() }, from_system_path(argv[7]));
    return 1;
}

}

int main(int argc, char** argv)
{
    std::string const mode = argc > 1 ? argv[1] : "";
    if (mode == "send")
        return send(argc, argv);
    if (mode == "expect")
        return expect(argc, argv);
    std::fprintf(stderr, "usage: fb_probe send FIFO TURN WIDTH HEIGHT COMMAND... | expect FB PNG BITS TURN SECONDS [SAVE]\n");
    return 2;
}
