#include "platform/LockFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <sys/stat.h>
#include <thread>

using namespace qv;
namespace fs = std::filesystem;

namespace {

// True once /proc/locks shows a process blocked on the file's lock (a line
// "N: -> FLOCK ... MAJ:MIN:INODE ..."); false after 30 s or without it.
bool someone_waits_on(fs::path const& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    std::string const inode = ":" + std::to_string(st.st_ino) + " ";
    auto const give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < give_up) {
        std::ifstream locks("/proc/locks");
        if (!locks)
            return false;
        for (std::string line; std::getline(locks, line);)
            if (line.find("->") != std::string::npos && line.find(inode) != std::string::npos)
                return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

}

// A lock file goes with its holder; a start that was waiting on it then
// holds a file no longer at its path, and must take the new one instead of
// believing itself alone beside another holder.
TEST(LockFile, goes_with_its_holder_and_a_waiter_takes_the_one_at_the_path)
{
    test::TempDir dir;
    std::string const path = (dir / "a.lock").string();
    std::string problem;
    int const first = platform::take_lock_file(path, false, problem);
    ASSERT_GE(first, 0) << problem;
    EXPECT_EQ(platform::take_lock_file(path, false, problem), -1);
    EXPECT_EQ(errno, EWOULDBLOCK);
    EXPECT_TRUE(problem.empty());

    auto waiter = std::async(std::launch::async, [&] {
        std::string waiting_problem;
        return platform::take_lock_file(path, true, waiting_problem);
    });
    // Let go while the waiter is blocked on the first file, which then is
    // no longer at the path.
    EXPECT_TRUE(someone_waits_on(path)) << "the waiter was not seen blocked";
    platform::release_lock_file(path, first);
    ASSERT_EQ(waiter.wait_for(std::chrono::seconds(30)), std::future_status::ready) << "the waiter never took the lock";
    int const second = waiter.get();
    ASSERT_GE(second, 0);
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(platform::take_lock_file(path, false, problem), -1) << "two holders at once";
    platform::release_lock_file(path, second);
    EXPECT_FALSE(fs::exists(path));
}

TEST(LockFile, a_link_or_a_folder_is_not_a_lock_and_is_left_alone)
{
    test::TempDir dir;
    test::write_bytes(dir / "target", std::string("kept"));
    fs::create_symlink(dir / "target", dir / "link.lock");
    fs::create_directory(dir / "folder.lock");
    for (char const* name : { "link.lock", "folder.lock" }) {
        std::string problem;
        EXPECT_EQ(platform::take_lock_file((dir / name).string(), true, problem), -1) << name;
        EXPECT_NE(problem.find("not a lock file"), std::string::npos) << name;
    }
    EXPECT_TRUE(fs::is_symlink(dir / "link.lock"));
    EXPECT_EQ(test::read_bytes(dir / "target").size(), 4u);
}
