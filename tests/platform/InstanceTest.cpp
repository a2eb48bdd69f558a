#include "platform/HandoverMessage.h"
#include "platform/Instance.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <mutex>

using namespace qv;
using namespace qv::platform;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// A client that is not a start: it says only what the test makes it say.
int connect_to(fs::path const& socket_path)
{
    int const fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket_path.c_str(), sizeof address.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return fd;
    ::close(fd);
    return -1;
}

// 0 once the listener has closed the connection without a word (a reset,
// when it left bytes unread), 1 for its answer byte; -1 while it is still
// open after `limit`.
int word_within(int fd, std::chrono::milliseconds limit)
{
    pollfd wait { fd, POLLIN, 0 };
    char byte;
    if (::poll(&wait, 1, static_cast<int>(limit.count())) != 1)
        return -1;
    return ::recv(fd, &byte, 1, MSG_DONTWAIT) == 1 ? 1 : 0;
}

class InstanceTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        stop_instance_listener();
        release_instance_lock();
        instance_seam::report_peer_as(std::nullopt);
        instance_seam::private_directory_base(std::nullopt);
    }

    InstanceAnswer start(WStringView text)
    {
        auto const answer = check_running_instance(u"InstanceTest", text, 4000);
        release_instance_lock();
        return answer;
    }
    bool listen()
    {
        return start_instance_listener(u"InstanceTest", [this](WString text) {
            std::lock_guard lock(mutex);
            received.push_back(std::move(text));
        });
    }
    // What the listener took: a real start still gets through last, so
    // whatever it refused before has been dealt with by then.
    std::vector<WString> taken_then_real()
    {
        EXPECT_EQ(start(u"real").check, InstanceCheck::HandedOver);
        std::lock_guard lock(mutex);
        return received;
    }

    test::TempDir runtime;
    test::ScopedEnv runtime_env { "XDG_RUNTIME_DIR", runtime.path().string() };
    fs::path const socket_path = runtime / "InstanceTest.sock";
    std::mutex mutex;
    std::vector<WString> received;
};

TEST_F(InstanceTest, only_ends_of_one_user_talk)
{
    EXPECT_EQ(start(u"first").check, InstanceCheck::NoneRunning);
    EXPECT_FALSE(fs::exists(runtime / "InstanceTest.lock")) << "the lock outlives its holder";
    ASSERT_TRUE(listen());
    EXPECT_EQ(fs::status(socket_path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(start(u"").check, InstanceCheck::HandedOver);

    // Both ends now see another user: the start refuses before the listener
    // can (which would leave it GaveUp), and the listener reads nothing of a
    // client that sends regardless.
    instance_seam::report_peer_as(::geteuid() + 1);
    auto const squatted = start(u"secret");
    EXPECT_EQ(squatted.check, InstanceCheck::Squatted);
    EXPECT_NE(squatted.reason.find("user " + std::to_string(::geteuid() + 1)), std::string::npos) << squatted.reason;
    int const fd = connect_to(socket_path);
    std::string const message = handover_message(u"/etc/passwd");
    // The listener may have closed it already, at its accept: then the send
    // fails, and the text reaches nobody all the same.
    ASSERT_GE(fd, 0);
    ::send(fd, message.data(), message.size(), MSG_NOSIGNAL);
    ::shutdown(fd, SHUT_WR);
    EXPECT_EQ(word_within(fd, 5s), 0) << "closed without the answer a start waits for";
    ::close(fd);
    instance_seam::report_peer_as(std::nullopt);
    EXPECT_EQ(taken_then_real(), (std::vector<WString> { u"%CommandLineEmpty%", u"real" }));
}

TEST_F(InstanceTest, a_silent_or_dribbling_client_neither_holds_up_a_start_nor_stays)
{
    ASSERT_TRUE(listen());
    auto const connected = std::chrono::steady_clock::now();
    int const silent = connect_to(socket_path);
    int const dribbling = connect_to(socket_path);
    ASSERT_EQ(::send(dribbling, "a\0b", 3, MSG_NOSIGNAL), 3);

    EXPECT_EQ(start(u"through").check, InstanceCheck::HandedOver);
    EXPECT_EQ(word_within(silent, 0ms), -1) << "the start was served only once the silent client was dropped";
    // Each is dropped at its deadline, counted from its accept.
    EXPECT_EQ(word_within(silent, 10s), 0);
    EXPECT_EQ(word_within(dribbling, 10s), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - connected, 950ms);
    ::close(silent);
    ::close(dribbling);
    EXPECT_EQ(taken_then_real(), (std::vector<WString> { u"through", u"real" }));
}

TEST_F(InstanceTest, without_a_runtime_directory_a_private_one_is_made_and_a_strange_one_refused)
{
    test::TempDir base;
    instance_seam::private_directory_base(base.path().string());
    fs::path const own = base / ("quilvane-" + std::to_string(::geteuid()));
    auto const mode = [](fs::path const& path) {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 07777u;
    };
    // Unset, a link, or another user's (only root can make one): passed over.
    fs::create_directory_symlink(runtime.path(), base / "link");
    fs::path const foreign = ::geteuid() == 0 ? base / "foreign" : fs::path("/");
    if (::geteuid() == 0) {
        fs::create_directory(foreign);
        ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
    }
    for (auto const& dir : { std::string(), (base / "link").string(), foreign.string() }) {
        test::ScopedEnv passed_over("XDG_RUNTIME_DIR", dir);
        EXPECT_EQ(instance_place().directory, own.string()) << dir;
    }
    test::ScopedEnv no_runtime("XDG_RUNTIME_DIR", std::nullopt);
    EXPECT_EQ(mode(own), 0700u);
    ASSERT_TRUE(listen());
    EXPECT_TRUE(fs::is_socket(own / "InstanceTest.sock"));
    stop_instance_listener();
    ::chmod(own.c_str(), 0777);
    EXPECT_TRUE(instance_place().problem.empty());
    EXPECT_EQ(mode(own), 0700u) << "ours, opened to others: closed again";

    // A link in its place, even to a private directory of ours, is not used.
    fs::create_directory(base / "elsewhere");
    fs::remove_all(own);
    fs::create_directory_symlink(base / "elsewhere", own);
    auto const answer = start(u"x");
    EXPECT_EQ(answer.check, InstanceCheck::Squatted);
    EXPECT_NE(answer.reason.find(own.string()), std::string::npos) << answer.reason;
    EXPECT_FALSE(listen());
    EXPECT_TRUE(fs::is_empty(base / "elsewhere"));
    if (::geteuid() == 0) {
        fs::remove(own);
        fs::create_directory(own);
        ASSERT_EQ(::chown(own.c_str(), 65534, 65534), 0);
        EXPECT_NE(start(u"x").reason.find("belongs to user 65534"), std::string::npos);
    }
}

}
