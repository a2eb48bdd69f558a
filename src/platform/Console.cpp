#include "platform/Console.h"

#include <fcntl.h>
#include <linux/kd.h>
#include <linux/vt.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>

namespace qv::platform {

namespace {

// The terminal of the one Console, for the handlers. Written on the main
// thread only while no handler is installed.
ConsoleControl* g_control = nullptr;
int g_wake_write = -1;
std::atomic<int> g_pending_switch { 0 }; // a Console::Switch
std::atomic<bool> g_restored { true };

constexpr int kFatalSignals[] = { SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT };
struct sigaction g_previous[sizeof(kFatalSignals) / sizeof(kFatalSignals[0])];
struct sigaction g_previous_usr1, g_previous_usr2;

void restore()
{
    if (g_restored.exchange(true) || !g_control)
        return;
    g_control->set_process_switching(false);
    g_control->set_graphics(false);
}

void on_fatal(int signal)
{
    int const saved = errno;
    restore();
    // Die as the signal would have had it: the exit status, the core dump
    // and the parent's view stay those of the original fault.
    std::signal(signal, SIG_DFL);
    errno = saved;
    raise(signal);
}

void on_switch(int signal)
{
    int const saved = errno;
    g_pending_switch.store(static_cast<int>(signal == SIGUSR1 ? Console::Switch::Release : Console::Switch::Acquire));
    if (g_wake_write >= 0) {
        char const byte = 1;
        [[maybe_unused]] auto written = write(g_wake_write, &byte, 1);
    }
    errno = saved;
}

void install(int signal, void (*handler)(int), struct sigaction* previous)
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, previous);
}

class TerminalControl final : public ConsoleControl {
public:
    TerminalControl(int fd, bool owned, int keyboard_mode)
        : m_fd(fd)
        , m_owned(owned)
        , m_keyboard_mode(keyboard_mode)
    {
    }
    ~TerminalControl() override
    {
        if (m_owned)
            close(m_fd);
    }
    bool set_graphics(bool graphics) override
    {
        if (ioctl(m_fd, KDSETMODE, graphics ? KD_GRAPHICS : KD_TEXT) != 0)
            return false;
        // Keys typed at the program must not pile up as text for the shell
        // it returns to; evdev still sees them.
        ioctl(m_fd, KDSKBMODE, graphics ? K_OFF : m_keyboard_mode);
        return true;
    }
    bool set_process_switching(bool on) override
    {
        struct vt_mode mode {};
        mode.mode = on ? VT_PROCESS : VT_AUTO;
        mode.relsig = on ? SIGUSR1 : 0;
        mode.acqsig = on ? SIGUSR2 : 0;
        return ioctl(m_fd, VT_SETMODE, &mode) == 0;
    }
    void acknowledge_release() override { ioctl(m_fd, VT_RELDISP, 1); }
    void acknowledge_acquire() override { ioctl(m_fd, VT_RELDISP, VT_ACKACQ); }

private:
    int m_fd;
    bool m_owned;
    int m_keyboard_mode;
};

}

std::unique_ptr<ConsoleControl> open_console_control()
{
    auto is_vt = [](int fd, int& keyboard) {
        int mode = 0;
        return ioctl(fd, KDGETMODE, &mode) == 0 && ioctl(fd, KDGKBMODE, &keyboard) == 0;
    };
    int keyboard = K_XLATE;
    if (is_vt(STDIN_FILENO, keyboard))
        return std::make_unique<TerminalControl>(STDIN_FILENO, false, keyboard);
    int const fd = open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return nullptr;
    if (is_vt(fd, keyboard))
        return std::make_unique<TerminalControl>(fd, true, keyboard);
    close(fd);
    return nullptr;
}

std::unique_ptr<Console> Console::take(std::unique_ptr<ConsoleControl> control)
{
    if (!control || g_control)
        return nullptr;
    std::unique_ptr<Console> console(new Console());
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return nullptr;
    console->m_wake_read = fds[0];
    console->m_wake_write = fds[1];
    // The handlers go in before the mode changes, so no moment exists in
    // which a signal could leave the terminal in graphics mode.
    g_control = control.get();
    g_wake_write = fds[1];
    g_pending_switch.store(0);
    for (std::size_t i = 0; i < std::size(kFatalSignals); ++i)
        install(kFatalSignals[i], on_fatal, &g_previous[i]);
    install(SIGUSR1, on_switch, &g_previous_usr1);
    install(SIGUSR2, on_switch, &g_previous_usr2);
    static bool const registered = std::atexit(restore) == 0;
    (void)registered;
    g_restored.store(false);
    console->m_control = std::move(control);
    if (!console->m_control->set_graphics(true))
        return nullptr; // the destructor puts everything back
    console->m_control->set_process_switching(true);
    return console;
}

Console::~Console()
{
    if (m_control && g_control == m_control.get()) {
        restore();
        for (std::size_t i = 0; i < std::size(kFatalSignals); ++i)
            sigaction(kFatalSignals[i], &g_previous[i], nullptr);
        sigaction(SIGUSR1, &g_previous_usr1, nullptr);
        sigaction(SIGUSR2, &g_previous_usr2, nullptr);
        g_control = nullptr;
        g_wake_write = -1;
    }
    if (m_wake_read >= 0)
        close(m_wake_read);
    if (m_wake_write >= 0)
        close(m_wake_write);
}

Console::Switch Console::take_switch()
{
    char buffer[64];
    while (read(m_wake_read, buffer, sizeof buffer) > 0) { }
    return static_cast<Switch>(g_pending_switch.exchange(0));
}

void Console::release_done() { m_control->acknowledge_release(); }

void Console::acquire_done() { m_control->acknowledge_acquire(); }

}
