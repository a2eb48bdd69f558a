#include "platform/Instance.h"

#include "platform/HandoverMessage.h"
#include "platform/LockFile.h"
#include "platform/System.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qv::platform {

namespace {

// A connection has this long, from its accept, to deliver its whole
// command line: a client that says nothing, or dribbles, must not keep a
// real start waiting, nor hold a place for ever.
constexpr std::uint32_t kConnectionDeadlineMs = 1000;
// Connections of this user that are still talking; more wait in the
// backlog until one finishes or runs out of time.
constexpr std::size_t kMaxConnections = 16;

std::atomic<std::int64_t> g_peer_uid_override { -1 };
std::optional<std::string> g_private_base;

std::string user_number() { return std::to_string(::geteuid()); }

// The user at the other end of a connected Unix socket: for a listener the
// process that connected, for a start the one that listens.
std::optional<std::uint32_t> peer_uid(int fd)
{
    ucred credentials {};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 || size != sizeof credentials)
        return std::nullopt;
    std::int64_t const stand_in = g_peer_uid_override.load();
    return stand_in >= 0 ? static_cast<std::uint32_t>(stand_in) : credentials.uid;
}

bool peer_is_this_user(int fd)
{
    auto const uid = peer_uid(fd);
    return uid && *uid == ::geteuid();
}

// $XDG_RUNTIME_DIR is private by definition, but an environment carried
// over by su, sudo or a service manager may name another user's directory,
// or /tmp; one that is not a real directory of this user's, closed to
// writing by others, is passed over for the private directory rather than
// trusted.
std::optional<std::string> runtime_directory()
{
    char const* dir = std::getenv("XDG_RUNTIME_DIR");
    if (!dir || !*dir)
        return std::nullopt;
    struct stat st {};
    if (::lstat(dir, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 022) != 0)
        return std::nullopt;
    return std::string(dir);
}

// Not $TMPDIR: a start from a shell or a desktop with another one must still
// find the running instance.
InstancePlace private_directory()
{
    std::string const path = g_private_base.value_or("/tmp") + "/quilvane-" + user_number();
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return { {}, path + " cannot be made: " + std::strerror(errno) };
    // Opened without following a link, and checked through what was opened,
    // so that nothing can be swapped in between the check and the use; in
    // /tmp, whose sticky bit keeps others from renaming it, it stays ours.
    int const fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP || errno == ENOTDIR)
            return { {}, path + " is not a directory (a link or a file is in its place)" };
        return { {}, path + " cannot be opened: " + std::strerror(errno) };
    }
    struct stat st {};
    std::string problem;
    if (::fstat(fd, &st) != 0)
        problem = path + " cannot be examined: " + std::strerror(errno);
    else if (st.st_uid != ::geteuid())
        problem = path + " belongs to user " + std::to_string(st.st_uid) + ", not to this one";
    // A umask can take bits from the mode mkdir asks for, and an old
    // directory of ours may have been opened; ours, it is put right.
    else if ((st.st_mode & 07777) != 0700 && ::fchmod(fd, 0700) != 0)
        problem = path + " cannot be made private: " + std::strerror(errno);
    ::close(fd);
    if (!problem.empty())
        return { {}, problem };
    return { path, {} };
}

std::string place_path(std::string const& directory, WStringView class_name, char const* suffix)
{
    return directory + "/" + to_utf8(class_name) + suffix;
}

int g_lock_fd = -1;
std::string g_lock_path;

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

// Opens the start lock, refusing one that is not a plain file of this
// user's: whoever owns it could hold it and keep every start waiting.
struct Connection {
    int fd;
    std::uint32_t accepted;
    std::string bytes;
};

// Reads what a connection has delivered; true once it is finished with
// (taken, refused or broken) and may be closed.
bool serve(Connection& connection, std::function<void(WString)> const& receive)
{
    bool ended = false;
    char chunk[4096];
    for (;;) {
        ssize_t const got = ::recv(connection.fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (got > 0) {
            connection.bytes.append(chunk, static_cast<std::size_t>(got));
            if (connection.bytes.size() > kHandoverMaxBytes)
                break;
            continue;
        }
        if (got == 0)
            ended = true;
        else if (errno == EINTR)
            continue;
        else if (errno != EAGAIN && errno != EWOULDBLOCK)
            return true;
        break;
    }
    HandoverRead read = read_handover(connection.bytes, ended);
    if (read.state == HandoverState::Incomplete)
        return false;
    if (read.state == HandoverState::Complete) {
        receive(std::move(read.text));
        char const ack = kHandoverTaken;
        ::send(connection.fd, &ack, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    return true;
}

// Serves every connection at once, each against its own deadline, until
// `wake` is written to or closed.
void listen_loop(int fd, int wake, std::function<void(WString)> const& receive)
{
    std::vector<Connection> connections;
    std::vector<pollfd> polls;
    for (;;) {
        polls.assign({ { wake, POLLIN, 0 },
            { fd, static_cast<short>(connections.size() < kMaxConnections ? POLLIN : 0), 0 } });
        int timeout = -1;
        for (auto const& connection : connections) {
            polls.push_back({ connection.fd, POLLIN, 0 });
            int const left = left_of(connection.accepted, kConnectionDeadlineMs);
            timeout = timeout < 0 ? left : std::min(timeout, left);
        }
        if (::poll(polls.data(), polls.size(), timeout) < 0 && errno != EINTR)
            break;
        if (polls[0].revents != 0)
            break;
        // Each connection past its deadline is closed whether it spoke or not.
        std::vector<Connection> kept;
        for (std::size_t i = 0; i < connections.size(); ++i) {
            Connection& connection = connections[i];
            bool done = polls[i + 2].revents != 0 && serve(connection, receive);
            if (!done && left_of(connection.accepted, kConnectionDeadlineMs) == 0)
                done = true;
            if (done)
                ::close(connection.fd);
            else
                kept.push_back(std::move(connection));
        }
        connections = std::move(kept);
        if (polls[1].revents & (POLLERR | POLLHUP | POLLNVAL))
            break;
        if (polls[1].revents & POLLIN) {
            int const client = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            // Another user's text is never read: closed at once.
            if (client >= 0 && !peer_is_this_user(client))
                ::close(client);
            else if (client >= 0)
                connections.push_back({ client, tick_count(), {} });
        }
    }
    for (auto const& connection : connections)
        ::close(connection.fd);
}

struct Listener {
    std::mutex mutex;
    int fd { -1 };
    int wake { -1 };  // the write end of a pipe the thread watches
    std::string path;
    std::thread thread;
};

// Defined before the stopper, so destroyed after it: a process that ends
// through exit() joins the listener thread before its state goes.
Listener g_listener;

Listener& listener() { return g_listener; }

// A process that hands its paths over, or ends before its window exists,
// still removes the lock it holds.
struct ListenerStopper {
    ~ListenerStopper()
    {
        stop_instance_listener();
        release_instance_lock();
    }
} g_stopper;

}

InstancePlace instance_place()
{
    if (auto dir = runtime_directory())
        return { *dir, {} };
    return private_directory();
}

InstanceAnswer check_running_instance(WStringView class_name, WStringView command_line, std::int32_t give_up_ms)
{
    std::uint32_t const start = tick_count();
    InstancePlace const place = instance_place();
    if (!place.problem.empty())
        return { InstanceCheck::Squatted, place.problem };
    // A starting instance holds the lock until its window exists; one that
    // never gets there must not keep this start waiting for ever.
    if (g_lock_fd < 0) {
        g_lock_path = place_path(place.directory, class_name, ".lock");
        std::string problem;
        while ((g_lock_fd = take_lock_file(g_lock_path, false, problem)) < 0 && errno == EWOULDBLOCK
            && problem.empty() && left_of(start, give_up_ms) > 0)
            ::usleep(20000);
        if (!problem.empty())
            return { InstanceCheck::Squatted, problem };
        if (g_lock_fd < 0)
            return { errno == EWOULDBLOCK ? InstanceCheck::GaveUp : InstanceCheck::NoneRunning, {} };
    }

    std::string const path = place_path(place.directory, class_name, ".sock");
    int const fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address;
    if (fd < 0 || !make_address(path, address)
        || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (fd >= 0)
            ::close(fd);
        return { InstanceCheck::NoneRunning, {} };
    }
    // The paths go only to a program of this user's: whoever else listens
    // there would see what this user opens and leave this start with nothing.
    if (auto const uid = peer_uid(fd); !uid || *uid != ::geteuid()) {
        ::close(fd);
        return { InstanceCheck::Squatted,
            path + " is answered by " + (uid ? "user " + std::to_string(*uid) : std::string("an unknown user"))
                + ", not by this one" };
    }
    std::string const message = handover_message(command_line);
    InstanceAnswer answer { InstanceCheck::GaveUp, {} };
    if (write_all(fd, message.data(), message.size())) {
        ::shutdown(fd, SHUT_WR);
        pollfd wait { fd, POLLIN, 0 };
        char ack = 0;
        if (::poll(&wait, 1, left_of(start, give_up_ms)) == 1 && ::recv(fd, &ack, 1, 0) == 1 && ack == kHandoverTaken)
            answer.check = InstanceCheck::HandedOver;
    }
    ::close(fd);
    return answer;
}

void release_instance_lock()
{
    if (g_lock_fd >= 0) {
        release_lock_file(g_lock_path, g_lock_fd);
        g_lock_fd = -1;
    }
}

bool start_instance_listener(WStringView class_name, std::function<void(WString)> receive)
{
    stop_instance_listener();
    InstancePlace const place = instance_place();
    if (!place.problem.empty())
        return false;
    Listener& state = listener();
    std::lock_guard lock(state.mutex);
    state.path = place_path(place.directory, class_name, ".sock");
    sockaddr_un address;
    if (!make_address(state.path, address))
        return false;
    int const fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int pipe_fds[2] = { -1, -1 };
    if (fd < 0 || ::pipe2(pipe_fds, O_CLOEXEC) != 0) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    // A socket left by an instance that died is taken over. The mode is
    // set before listen(), so no one connects while the umask's mode holds.
    ::unlink(state.path.c_str());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::chmod(state.path.c_str(), 0600) != 0 || ::listen(fd, 16) != 0) {
        ::close(fd);
        ::close(pipe_fds[0]);
        ::close(pipe_fds[1]);
        return false;
    }
    state.fd = fd;
    state.wake = pipe_fds[1];
    state.thread = std::thread([fd, wake = pipe_fds[0], receive = std::move(receive)] {
        listen_loop(fd, wake, receive);
        ::close(wake);
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
        // Closing the write end wakes the thread's poll for good.
        ::close(state.wake);
        state.wake = -1;
        thread = std::move(state.thread);
    }
    if (thread.joinable())
        thread.join();
    std::lock_guard lock(state.mutex);
    ::close(state.fd);
    state.fd = -1;
    ::unlink(state.path.c_str());
}

namespace instance_seam {

void report_peer_as(std::optional<std::uint32_t> uid)
{
    g_peer_uid_override.store(uid ? static_cast<std::int64_t>(*uid) : -1);
}

void private_directory_base(std::optional<std::string> base) { g_private_base = std::move(base); }

}

}
