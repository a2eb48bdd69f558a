#pragma once

// The virtual terminal under a full-screen program on the frame buffer:
// while the program runs the terminal is in graphics mode (no text cursor
// drawn over the picture, no keys echoed) and the program takes part in
// switching terminals (VT_PROCESS), so that leaving the terminal stops the
// drawing and coming back repaints. Text mode and automatic switching come
// back on every way out: the destructor, exit(), SIGTERM, SIGINT, SIGHUP,
// and the crash signals, whose handlers restore and then die by the same
// signal. One Console per process; main thread, except that the signal
// handlers only call the control's restoring operations.

#include <cstdint>
#include <memory>

namespace qv::platform {

// The seam over the terminal's ioctls (KDSETMODE, KDSKBMODE, VT_SETMODE,
// VT_RELDISP). The operations must be safe to call from a signal handler.
class ConsoleControl {
public:
    virtual ~ConsoleControl() = default;
    virtual bool set_graphics(bool graphics) = 0;
    // On: switching waits for the program (SIGUSR1 asks it to let go,
    // SIGUSR2 says the terminal is back). Off: the kernel switches alone.
    virtual bool set_process_switching(bool on) = 0;
    virtual void acknowledge_release() = 0;
    virtual void acknowledge_acquire() = 0;
};

// The terminal the program runs on (standard input, else /dev/tty), when
// it is a virtual terminal; null otherwise (a remote shell, a test).
std::unique_ptr<ConsoleControl> open_console_control();

class Console {
public:
    // Graphics mode and process switching over `control`; null when the
    // control is null, refuses graphics mode, or a Console exists already.
    static std::unique_ptr<Console> take(std::unique_ptr<ConsoleControl> control);
    ~Console();
    Console(Console const&) = delete;
    Console& operator=(Console const&) = delete;

    enum class Switch { None, Release, Acquire };
    // Readable while a switch waits to be taken (for poll()).
    int wake_fd() const { return m_wake_read; }
    // The switch the kernel asked for since the last call, if any.
    Switch take_switch();
    // The program has stopped drawing: the terminal may go.
    void release_done();
    // The terminal is the program's again; the caller repaints everything.
    void acquire_done();

private:
    Console() = default;

    std::unique_ptr<ConsoleControl> m_control;
    int m_wake_read { -1 };
    int m_wake_write { -1 };
};

}
