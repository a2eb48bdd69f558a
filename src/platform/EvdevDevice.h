#pragma once

// The console's input devices: event devices of the kernel, or FIFOs of
// struct input_event records standing for them (QUILVANE_INPUT). Each is
// read without blocking, a bounded batch at a time, through its own
// EvdevDecoder. Used by the frame buffer window on the main thread.

#include "platform/Evdev.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qv::platform {

class EvdevDevice {
public:
    // Records taken from one device in one read_into(): a flood waits in the
    // kernel's buffer (which drops what overflows and says so, answered by a
    // resync) or in the FIFO, not in the program.
    static constexpr std::size_t kRecordsPerRead = 256;

    // Null when the path does not open; without `required`, also for a
    // device that is neither a touch screen nor has the keys the program uses.
    static std::unique_ptr<EvdevDevice> open(std::string const& path, bool required);
    ~EvdevDevice();
    EvdevDevice(EvdevDevice const&) = delete;
    EvdevDevice& operator=(EvdevDevice const&) = delete;

    int fd() const { return m_fd; }
    // The panel's size in its own pixels and the program's turn of it.
    void set_panel(std::int32_t width, std::int32_t height, std::int32_t turn);
    // Reads at most kRecordsPerRead records; the decoder's actions go to
    // `out`. The number of records read.
    std::size_t read_into(std::vector<InputAction>& out);

private:
    EvdevDevice() = default;
    void resync(std::vector<InputAction>& out);

    int m_fd { -1 };
    EvdevDecoder m_decoder;
    std::vector<std::uint8_t> m_partial;
    bool m_can_query { false };
    bool m_multitouch { false };
};

// The devices named in QUILVANE_INPUT (separated by ':'), else the touch
// screens and keys among /dev/input/event*.
std::vector<std::unique_ptr<EvdevDevice>> open_evdev_devices();

}
