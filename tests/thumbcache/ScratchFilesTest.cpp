#include "CachePictures.h"
#include "base/FileStream.h"
#include "platform/System.h"
#include "support/TestSupport.h"
#include "thumbcache/CacheBuilder.h"
#include "thumbcache/ScratchFiles.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <set>
#include <thread>

using namespace qv;
namespace fs = std::filesystem;

namespace {

// The id of a process that has ended: no file named for it can still be
// in use.
int ended_process()
{
    pid_t const child = ::fork();
    if (child == 0)
        ::_exit(0);
    test::wait_for_child(child);
    return child;
}

std::set<std::string> names_in(fs::path const& directory)
{
    std::set<std::string> names;
    for (auto const& entry : fs::directory_iterator(directory))
        names.insert(entry.path().filename().string());
    return names;
}

std::set<std::string> scratch_names_in(fs::path const& directory)
{
    std::set<std::string> names;
    for (auto const& name : names_in(directory)) {
        if (name.rfind("~build-", 0) == 0)
            names.insert(name);
    }
    return names;
}

void touch(WStringView path)
{
    FileStream file(path, OpenMode::Write);
    ASSERT_TRUE(file.is_open()) << to_utf8(path);
    file.write("x", 1);
}

}

TEST(ScratchFiles, names_tell_the_process_that_made_them)
{
    EXPECT_EQ(scratch_file_process(u"~build-4711-0.cache"), 4711);
    EXPECT_EQ(scratch_file_process(u"~build-12-345.thumb"), 12);
    EXPECT_EQ(scratch_file_process(u"~build-1-2.temp"), 1);
    EXPECT_EQ(scratch_file_process(u"~build-2147483647-9.full"), 2147483647);
    EXPECT_TRUE(is_scratch_file_name(u"~build-1-2.temp"));
    for (WStringView other : { u"~build-1-2.jpg", u"~build-x-2.cache", u"~build--1-2.cache", u"~build-1.cache",
             u"~build-1-.cache", u"~build-1-2.cache.old", u"a~build-1-2.cache", u"~build-2147483648-0.cache",
             u"~build-99999999999999999999-0.cache", u"~build-", u"", u"12345-20240101.cache" }) {
        EXPECT_FALSE(scratch_file_process(other)) << to_utf8(other);
        EXPECT_FALSE(is_scratch_file_name(other)) << to_utf8(other);
    }

    // The names a build gives its files are the names recognised.
    test::TempDir dir;
    ScratchFiles files(dir.program_path("picture.cache"));
    std::set<WString> distinct;
    for (auto const* path : { &files.cache, &files.level, &files.next, &files.full }) {
        WString const leaf = path->substr(path->rfind(u'\\') + 1);
        EXPECT_EQ(scratch_file_process(leaf), platform::current_process_id()) << to_utf8(leaf);
        EXPECT_EQ(path->substr(0, path->rfind(u'\\')), dir.program_path()) << "beside the cache file";
        distinct.insert(*path);
    }
    EXPECT_EQ(distinct.size(), 4u);
    ScratchFiles second(dir.program_path("picture.cache"));
    EXPECT_NE(second.cache, files.cache) << "two builds of one process share no file";
}

TEST(ScratchFiles, stale_ones_are_removed_and_those_of_running_processes_kept)
{
    test::TempDir dir;
    int const dead = ended_process();
    ASSERT_FALSE(platform::process_exists(dead));
    // A process that runs for the whole test.
    pid_t const alive = ::fork();
    if (alive == 0) {
        ::pause();
        ::_exit(0);
    }
    ASSERT_GT(alive, 0);

    std::string const d = std::to_string(dead), a = std::to_string(alive),
                      self = std::to_string(platform::current_process_id());
    std::set<std::string> const stale { "~build-" + d + "-0.cache", "~build-" + d + "-0.thumb",
        "~build-" + d + "-0.temp", "~build-" + d + "-7.full" };
    std::set<std::string> const kept { "~build-" + a + "-0.cache", "~build-" + self + "-3.cache",
        "~build-" + d + "-0.jpg", "picture.jpg", "12345-20240101.cache", "~build-notes.txt" };
    for (auto const& name : stale)
        test::write_bytes(dir / name, std::string("stale"));
    for (auto const& name : kept)
        test::write_bytes(dir / name, std::string("kept"));
    fs::create_directory(dir / ("~build-" + d + "-1.cache")); // not a file: left alone

    EXPECT_EQ(remove_stale_scratch_files(dir.program_path() + u"\\"), 4);
    std::set<std::string> expected = kept;
    expected.insert("~build-" + d + "-1.cache");
    EXPECT_EQ(names_in(dir.path()), expected);
    EXPECT_EQ(remove_stale_scratch_files(dir.program_path()), 0) << "nothing left to remove";

    // Once the running process has ended, its file is stale too.
    ::kill(alive, SIGKILL);
    ASSERT_TRUE(test::wait_for_child(alive));
    EXPECT_EQ(remove_stale_scratch_files(dir.program_path()), 1);
    expected.erase("~build-" + a + "-0.cache");
    EXPECT_EQ(names_in(dir.path()), expected);
    EXPECT_EQ(remove_stale_scratch_files(dir.program_path("missing")), 0);
}

TEST(ScratchFiles, sigterm_removes_the_files_of_live_builds_only)
{
    test::TempDir dir;
    test::write_bytes(dir / "picture.cache", std::string("a finished cache file"));
    pid_t const child = ::fork();
    if (child == 0) {
        install_scratch_cleanup_on_signals();
        WString finished_path;
        {
            ScratchFiles finished(dir.program_path("other.cache"));
            finished_path = finished.cache;
        }
        // A file under a name no build holds any more is not the handler's.
        touch(finished_path);
        ScratchFiles files(dir.program_path("picture.cache"));
        for (auto const* path : { &files.cache, &files.level, &files.next, &files.full })
            touch(*path);
        ::raise(SIGTERM);
        ::_exit(3);
    }
    ASSERT_GT(child, 0);
    auto const status = test::wait_for_child(child);
    ASSERT_TRUE(status) << "the child did not end";
    ASSERT_TRUE(WIFSIGNALED(*status)) << "exit code " << WEXITSTATUS(*status);
    EXPECT_EQ(WTERMSIG(*status), SIGTERM) << "the process ends as the signal would have ended it";
    auto const left = scratch_names_in(dir.path());
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(scratch_file_process(from_utf8(*left.begin())), child);
    EXPECT_TRUE(fs::exists(dir / "picture.cache"));
}

TEST(ScratchFiles, a_build_killed_by_sigterm_midway_leaves_no_scratch_file)
{
    test::TempDir dir;
    fs::create_directories(dir / "!quilvanecache");
    // Progressive: the build writes a sequential copy first, in a scratch
    // file of its own, and takes long enough to be caught under way.
    ASSERT_TRUE(test::write_progressive_jpeg(dir / "big.jpg", 4000, 3000));
    pid_t const child = ::fork();
    if (child == 0) {
        install_scratch_cleanup_on_signals();
        std::thread build([&] {
            create_picture_cache(dir.program_path("big.jpg"), dir.program_path("!quilvanecache/big.cache"));
            ::_exit(4); // finished before it was caught
        });
        // Caught once a scratch file holds data: the build is well under way.
        for (;;) {
            for (auto const& entry : fs::directory_iterator(dir / "!quilvanecache")) {
                std::error_code error;
                if (entry.path().filename().string().rfind("~build-", 0) == 0 && entry.file_size(error) > 4096)
                    ::raise(SIGTERM);
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
    ASSERT_GT(child, 0);
    auto const status = test::wait_for_child(child);
    ASSERT_TRUE(status) << "the child did not end";
    ASSERT_TRUE(WIFSIGNALED(*status)) << "exit code " << WEXITSTATUS(*status) << " (4: the build was not caught)";
    EXPECT_EQ(WTERMSIG(*status), SIGTERM);
    EXPECT_EQ(scratch_names_in(dir / "!quilvanecache"), std::set<std::string> {});
    EXPECT_FALSE(fs::exists(dir / "!quilvanecache" / "big.cache"));
}
