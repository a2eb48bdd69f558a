#include "platform/Instance.h"

#include "platform/System.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace qv::platform {

namespace {

std::string runtime_path(WStringView class_name, char const* suffix)
{
    char const* dir = std::getenv("XDG_RUNTIME_DIR");
    std::string path = (dir && *dir) ? dir : "/tmp";
    return path + "/" + to_utf8(class_name) + suffix;
}

int g_lock_fd = -1;

bool make_address(std::string const& path, sockaddr_un& address)
{
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

bool write_all(int fd, void const* data, std::size_t size)
{
    auto const* bytes = static_cast<std::uint8_t const*>(data);
    while (size > 0) {
        ssize_t const written = ::send(fd, bytes, size, MSG_NOSIGNAL);
        if (written <= 0)
            return false;
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

std::int32_t left_of(std::uint32_t start, std::int32_t budget)
{
    return std::max<std::int32_t>(0, budget - static_cast<std::int32_t>(tick_count() - start));
}

struct Listener {
    std::mutex mutex;
    int fd { -1 };
    std::string path;
    std::thread thread;
};

// Defined before the stopper, so destroyed after it: a process that ends
// through exit() joins the listener thread before its state goes.
Listener g_listener;

Listener& listener() { return g_listener; }

struct ListenerStopper {
    ~ListenerStopper() { stop_instance_listener(); }
} g_stopper;

}

InstanceCheck check_running_instance(WStringView class_name, WStringView command_line, std::int32_t give_up_ms)
{
    std::uint32_t const start = tick_count();
    if (g_lock_fd < 0)
        g_lock_fd = ::open(runtime_path(class_name, ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (g_lock_fd < 0) {
        return InstanceCheck::NoneRunning;
    }
    // A starting instance holds the lock until its window exists; one that
    // never gets there must not keep this start waiting for ever.
    bool locked = false;
    while (!(locked = ::flock(g_lock_fd, LOCK_EX | LOCK_NB) == 0) && left_of(start, give_up_ms) > 0)
        ::usleep(20000);
    if (!locked)
        return InstanceCheck::GaveUp;

    int const fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address;
    if (fd < 0 || !make_address(runtime_path(class_name, ".sock"), address)
        || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (fd >= 0)
            ::close(fd);
        return InstanceCheck::NoneRunning;
    }
    WString const text = command_line.empty() ? WString(u"%CommandLineEmpty%") : WString(command_line);
    InstanceCheck result = InstanceCheck::GaveUp;
    if (write_all(fd, text.data(), text.size() * sizeof(char16_t))) {
        ::shutdown(fd, SHUT_WR);
        pollfd wait { fd, POLLIN, 0 };
        char ack = 0;
        if (::poll(&wait, 1, left_of(start, give_up_ms)) == 1 && ::recv(fd, &ack, 1, 0) == 1 && ack == 1)
            result = InstanceCheck::HandedOver;
    }
    ::close(fd);
    return result;
}

void release_instance_lock()
{
    if (g_lock_fd >= 0) {
        ::flock(g_lock_fd, LOCK_UN);
        ::close(g_lock_fd);
        g_lock_fd = -1;
    }
}

bool start_instance_listener(WStringView class_name, std::function<void(WString)> receive)
{
    stop_instance_listener();
    Listener& state = listener();
    std::lock_guard lock(state.mutex);
    state.path = runtime_path(class_name, ".sock");
    sockaddr_un address;
    if (!make_address(state.path, address))
        return false;
    int const fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // A socket left by an instance that died is taken over.
    ::unlink(state.path.c_str());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        return false;
    }
    state.fd = fd;
    state.thread = std::thread([fd, receive = std::move(receive)] {
        for (;;) {
            int const client = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            // A sender that stalls is dropped after a while.
            std::string bytes;
            char chunk[4096];
            bool complete = false;
            while (bytes.size() < (1u << 20)) {
                pollfd wait { client, POLLIN, 0 };
                if (::poll(&wait, 1, 2000) != 1)
                    break;
                ssize_t const got = ::recv(client, chunk, sizeof chunk, 0);
                if (got < 0)
                    break;
                if (got == 0) {
                    complete = true;
                    break;
                }
                bytes.append(chunk, static_cast<std::size_t>(got));
            }
            if (complete) {
                WString text(bytes.size() / 2, u'\0');
                std::memcpy(text.data(), bytes.data(), text.size() * 2);
                receive(std::move(text));
                char const ack = 1;
                write_all(client, &ack, 1);
            }
            ::close(client);
        }
    });
    return true;
}

void stop_instance_listener()
{
    Listener& state = listener();
    std::thread thread;
    {
        std::lock_guard lock(state.mutex);
        if (state.fd < 0)
            return;
        ::shutdown(state.fd, SHUT_RDWR);
        thread = std::move(state.thread);
    }
    if (thread.joinable())
        thread.join();
    std::lock_guard lock(state.mutex);
    ::close(state.fd);
    state.fd = -1;
    ::unlink(state.path.c_str());
}

}
