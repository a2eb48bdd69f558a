#include "platform/Console.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

using namespace qv::platform;

namespace {

// Writes one letter per call into a pipe the parent reads after the child
// has gone: G/T graphics/text, P/A process/automatic switching, R/Q the
// release and acquire acknowledgements. write() is safe in a handler.
class RecordingControl final : public ConsoleControl {
public:
    explicit RecordingControl(int fd)
        : m_fd(fd)
    {
    }
    bool set_graphics(bool graphics) override { return put(graphics ? 'G' : 'T'); }
    bool set_process_switching(bool on) override { return put(on ? 'P' : 'A'); }
    void acknowledge_release() override { put('R'); }
    void acknowledge_acquire() override { put('Q'); }

private:
    bool put(char c) { return write(m_fd, &c, 1) == 1; }
    int m_fd;
};

struct ChildResult {
    std::string calls;
    int status { 0 };
};

// Runs `body` in a child that has taken the console over a recording
// control; the child cannot outlive 10 seconds.
template<typename Body>
ChildResult in_child(Body body)
{
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    pid_t const pid = fork();
    if (pid == 0) {
        close(fds[0]);
        alarm(10);
        {
            auto console = Console::take(std::make_unique<RecordingControl>(fds[1]));
            if (!console)
                _exit(3);
            body(*console);
        }
        _exit(0); // no atexit handlers: only the destructor restored
    }
    close(fds[1]);
    ChildResult result;
    char buffer[64];
    ssize_t got;
    while ((got = read(fds[0], buffer, sizeof buffer)) > 0)
        result.calls.append(buffer, static_cast<std::size_t>(got));
    close(fds[0]);
    waitpid(pid, &result.status, 0);
    return result;
}

}

TEST(Console, text_mode_comes_back_after_sigterm)
{
    ChildResult const r = in_child([](Console&) {
        raise(SIGTERM);
        pause();
    });
    EXPECT_EQ(r.calls, "GPAT");
    ASSERT_TRUE(WIFSIGNALED(r.status));
    EXPECT_EQ(WTERMSIG(r.status), SIGTERM) << "the process still dies by the signal it got";
}

TEST(Console, text_mode_comes_back_after_a_crash)
{
    ChildResult const r = in_child([](Console&) {
        volatile int* nowhere = nullptr;
        *nowhere = 1;
    });
    EXPECT_EQ(r.calls, "GPAT");
    ASSERT_TRUE(WIFSIGNALED(r.status));
    EXPECT_EQ(WTERMSIG(r.status), SIGSEGV);
}

TEST(Console, text_mode_comes_back_on_exit_and_once_only)
{
    ChildResult const r = in_child([](Console&) { std::exit(4); });
    EXPECT_EQ(r.calls, "GPAT");
    ASSERT_TRUE(WIFEXITED(r.status));
    EXPECT_EQ(WEXITSTATUS(r.status), 4);

    // The destructor restores; the exit after it does nothing more.
    ChildResult const d = in_child([](Console&) {});
    EXPECT_EQ(d.calls, "GPAT");
}

TEST(Console, terminal_switches_reach_the_program_and_are_acknowledged)
{
    ChildResult const r = in_child([](Console& console) {
        if (console.take_switch() != Console::Switch::None)
            _exit(5);
        raise(SIGUSR1);
        pollfd wake { console.wake_fd(), POLLIN, 0 };
        if (poll(&wake, 1, 5000) != 1 || console.take_switch() != Console::Switch::Release)
            _exit(6);
        console.release_done();
        raise(SIGUSR2);
        if (poll(&wake, 1, 5000) != 1 || console.take_switch() != Console::Switch::Acquire)
            _exit(7);
        console.acquire_done();
        // Taken: nothing waits any more.
        if (poll(&wake, 1, 0) != 0 || console.take_switch() != Console::Switch::None)
            _exit(8);
    });
    ASSERT_TRUE(WIFEXITED(r.status));
    EXPECT_EQ(WEXITSTATUS(r.status), 0);
    EXPECT_EQ(r.calls, "GPRQAT");
}

TEST(Console, a_terminal_that_refuses_graphics_is_left_alone_by_signals)
{
    class Refusing final : public ConsoleControl {
    public:
        bool set_graphics(bool) override { return false; }
        bool set_process_switching(bool) override { return true; }
        void acknowledge_release() override { }
        void acknowledge_acquire() override { }
    };
    EXPECT_EQ(Console::take(std::make_unique<Refusing>()), nullptr);
    EXPECT_EQ(Console::take(nullptr), nullptr);
    // The handlers went with the failed console: SIGUSR1 is back to its
    // default here, checked without raising it.
    struct sigaction now {};
    sigaction(SIGUSR1, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
}
