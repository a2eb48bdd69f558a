// The watching of directory trees with inotify, on real directories, and
// the merging of bursts of changes.

#include "platform/DirectoryWatch.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>

using namespace qv;
using platform::ChangeBatch;
using platform::DirectoryChange;
using platform::DirectoryWatch;
namespace fs = std::filesystem;

namespace {

bool is_jpeg_name(std::string_view name)
{
    auto const dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return false;
    std::string extension(name.substr(dot));
    std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
    return extension == ".jpg" || extension == ".jpeg";
}

class DirectoryWatchTest : public ::testing::Test {
protected:
    test::TempDir m_dir;
    fs::path m_root { m_dir / "Pictures" };
    std::vector<DirectoryChange> m_seen;

    void SetUp() override { fs::create_directories(m_root); }

    DirectoryWatch::Options options(std::size_t max_watches = 0)
    {
        DirectoryWatch::Options o;
        o.max_watches = max_watches;
        // As the catalog's: anything inside a cache directory.
        o.ignore_directory = [](std::string_view path) {
            auto const at = path.find("/!quilvanecache");
            return at != std::string_view::npos && platform::path_within(path, path.substr(0, at + 15));
        };
        o.interesting_file = is_jpeg_name;
        return o;
    }

    // Gathers changes until one matches, for at most 10 s.
    bool saw(DirectoryWatch& watch, std::function<bool(DirectoryChange const&)> const& match)
    {
        auto const end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            if (std::any_of(m_seen.begin(), m_seen.end(), match))
                return true;
            auto const left
                = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
            if (left <= 0)
                return false;
            watch.wait(static_cast<int>(left));
            auto changes = watch.read_changes();
            m_seen.insert(m_seen.end(), changes.begin(), changes.end());
        }
    }
    bool saw(DirectoryWatch& watch, fs::path const& path, bool recursive)
    {
        return saw(watch, [&](DirectoryChange const& c) { return c.path == path.string() && c.recursive == recursive; });
    }
    // What comes within a short while (for changes that must not come).
    std::vector<DirectoryChange> settle(DirectoryWatch& watch)
    {
        std::vector<DirectoryChange> all;
        while (watch.wait(300).events) {
            auto changes = watch.read_changes();
            all.insert(all.end(), changes.begin(), changes.end());
        }
        return all;
    }
    void touch(fs::path const& path) { std::ofstream(path) << "x"; }
    std::string s(fs::path const& path) { return path.string(); }
};

TEST_F(DirectoryWatchTest, watches_the_whole_tree_and_directories_as_they_appear_and_reports_only_pictures)
{
    fs::create_directories(m_root / "2024" / "Trip" / "Day 1");
    fs::create_directories(m_root / ".hidden" / "inside");
    // A link to the whole disk is not walked, as the search does not walk it.
    fs::create_directory_symlink("/", m_root / "Everything");
    DirectoryWatch watch(options());
    ASSERT_TRUE(watch.valid());
    watch.set_roots({ s(m_root) + "/" });
    EXPECT_EQ(watch.watch_count(), 4u);
    EXPECT_FALSE(watch.watching(s(m_root / "Everything")));
    EXPECT_TRUE(watch.watching(s(m_root / "2024" / "Trip" / "Day 1")));
    EXPECT_FALSE(watch.watching(s(m_root / ".hidden")));
    EXPECT_TRUE(watch.unwatched().empty());

    // A tree made at once: its inner directory may come before the watch
    // on its parent, and is watched all the same.
    fs::create_directories(m_root / "New" / "Inner" / "Deep");
    ASSERT_TRUE(saw(watch, m_root / "New", true));
    EXPECT_TRUE(watch.watching(s(m_root / "New" / "Inner" / "Deep")));

    touch(m_root / "New" / "Inner" / "Deep" / "notes.txt");
    auto const quiet = settle(watch);
    EXPECT_TRUE(std::none_of(quiet.begin(), quiet.end(),
        [&](auto const& c) { return c.path == s(m_root / "New" / "Inner" / "Deep"); }));

    touch(m_root / "New" / "Inner" / "Deep" / "photo.JPG");
    EXPECT_TRUE(saw(watch, m_root / "New" / "Inner" / "Deep", false));
    fs::rename(m_root / "2024" / "Trip" / "Day 1", m_root / "2024" / "Trip" / "Day 1.jpg.tmp");
    EXPECT_TRUE(saw(watch, m_root / "2024" / "Trip" / "Day 1", true));
    EXPECT_TRUE(saw(watch, m_root / "2024" / "Trip" / "Day 1.jpg.tmp", true));
}

TEST_F(DirectoryWatchTest, a_removed_or_moved_tree_is_reported_and_its_watches_are_dropped)
{
    fs::create_directories(m_root / "Old" / "A");
    fs::create_directories(m_root / "Kept");
    DirectoryWatch watch(options());
    watch.set_roots({ s(m_root) });
    ASSERT_EQ(watch.watch_count(), 4u);

    fs::remove_all(m_root / "Old");
    ASSERT_TRUE(saw(watch, m_root / "Old", true));
    settle(watch);
    EXPECT_FALSE(watch.watching(s(m_root / "Old" / "A")));
    EXPECT_EQ(watch.watch_count(), 2u);

    // Moved out of every root: gone as far as the albums go, and nothing
    // done inside it later is reported.
    fs::create_directories(m_root / "Kept" / "Sub");
    ASSERT_TRUE(saw(watch, m_root / "Kept" / "Sub", true));
    fs::rename(m_root / "Kept", m_dir / "Elsewhere");
    ASSERT_TRUE(saw(watch, m_root / "Kept", true));
    EXPECT_FALSE(watch.watching(s(m_root / "Kept" / "Sub")));
    m_seen.clear();
    touch(m_dir / "Elsewhere" / "Sub" / "late.jpg");
    auto const after = settle(watch);
    EXPECT_TRUE(after.empty()) << after.front().path;

    // A root that goes is reported as a tree.
    fs::remove_all(m_root);
    EXPECT_TRUE(saw(watch, m_root, true));
}

TEST_F(DirectoryWatchTest, cache_directories_are_never_watched_nor_reported)
{
    fs::create_directories(m_root / "!quilvanecache");
    fs::create_directories(m_root / "Album");
    DirectoryWatch watch(options());
    watch.set_roots({ s(m_root) });
    EXPECT_EQ(watch.watch_count(), 2u);
    EXPECT_FALSE(watch.watching(s(m_root / "!quilvanecache")));

    touch(m_root / "!quilvanecache" / "cache.jpg");
    fs::create_directories(m_root / "Album" / "!quilvanecache" / "deeper");
    touch(m_root / "Album" / "!quilvanecache" / "deeper" / "x.jpg");
    auto const changes = settle(watch);
    EXPECT_TRUE(changes.empty()) << changes.front().path;
    EXPECT_EQ(watch.watch_count(), 2u);
}

TEST_F(DirectoryWatchTest, the_bound_is_kept_and_what_it_leaves_out_is_reported_for_rescans)
{
    for (auto name : { "a", "b", "c" })
        fs::create_directories(m_root / name / "inner");
    DirectoryWatch watch(options(3));
    EXPECT_EQ(watch.max_watches(), 3u);
    watch.set_roots({ s(m_root) });
    EXPECT_EQ(watch.watch_count(), 3u);
    // Breadth first: the root and the nearest directories are watched.
    EXPECT_TRUE(watch.watching(s(m_root)));
    EXPECT_TRUE(watch.watching(s(m_root / "a")));
    // Every directory is watched or inside a tree left out, and no tree is
    // both.
    for (auto const& entry : fs::recursive_directory_iterator(m_root)) {
        std::string const path = s(entry.path());
        bool const left_out = std::any_of(watch.unwatched().begin(), watch.unwatched().end(),
            [&](std::string const& top) { return platform::path_within(path, top); });
        EXPECT_NE(watch.watching(path), left_out) << path;
    }

    // A directory made under the bound is left out too, and reported.
    fs::create_directories(m_root / "d");
    ASSERT_TRUE(saw(watch, m_root / "d", true));
    EXPECT_FALSE(watch.watching(s(m_root / "d")));
    EXPECT_TRUE(watch.unwatched().contains(s(m_root / "d")));
    EXPECT_EQ(watch.watch_count(), 3u);

    // Watches freed by a removal go to the trees left out.
    fs::remove_all(m_root / "a");
    ASSERT_TRUE(saw(watch, m_root / "a", true));
    settle(watch);
    watch.retry_unwatched();
    EXPECT_EQ(watch.watch_count(), 3u);
    EXPECT_EQ(watch.watching(s(m_root / "b")) + watch.watching(s(m_root / "c")) + watch.watching(s(m_root / "d"))
            + watch.watching(s(m_root / "b" / "inner")),
        2);
}

TEST_F(DirectoryWatchTest, lost_events_ask_for_everything_and_watch_what_came_meanwhile)
{
    std::ifstream limit("/proc/sys/fs/inotify/max_queued_events");
    int queued = 0;
    if (!(limit >> queued) || queued > 200000)
        GTEST_SKIP() << "the event queue is too long to overflow here";
    DirectoryWatch watch(options());
    watch.set_roots({ s(m_root) });
    // Three events a file, and not one read meanwhile.
    fs::create_directories(m_root / "flood");
    for (int i = 0; i <= queued / 2 + 10; ++i) {
        auto const file = m_root / ("p" + std::to_string(i) + ".jpg");
        touch(file);
        fs::remove(file);
    }
    fs::create_directories(m_root / "made during the flood");
    ASSERT_TRUE(saw(watch, [](DirectoryChange const& c) { return c.everything; }));
    EXPECT_TRUE(watch.watching(s(m_root / "made during the flood")));
    EXPECT_TRUE(watch.watching(s(m_root / "flood")));
}

TEST(ChangeBatchTest, a_burst_is_handed_on_once_quiet_or_when_it_has_lasted_too_long)
{
    ChangeBatch batch(500, 3000);
    EXPECT_EQ(batch.wait_ms(0), -1);
    EXPECT_FALSE(batch.due(100000));
    // A copy of many pictures: a change every 100 ms for 5 s.
    int handed = 0;
    for (std::uint64_t t = 1000; t <= 6000; t += 100) {
        if (batch.due(t)) {
            ++handed;
            EXPECT_EQ(t, 4000u) << "three seconds after the first";
            EXPECT_EQ(batch.take().size(), 1u);
        }
        batch.add({ { "/p/Trip", false, false } }, t);
    }
    EXPECT_EQ(handed, 1);
    EXPECT_FALSE(batch.due(6499));
    EXPECT_EQ(batch.wait_ms(6200), 300);
    EXPECT_TRUE(batch.due(6500));
    EXPECT_EQ(batch.take(), (std::vector<DirectoryChange> { { "/p/Trip", false, false } }));
    EXPECT_TRUE(batch.empty());
}

TEST(ChangeBatchTest, merging_keeps_each_directory_once_and_trees_stand_for_what_is_inside)
{
    ChangeBatch batch(0, 0);
    batch.add({ { "/p/A/x", false, false }, { "/p/A", false, false }, { "/p/A", true, false },
                  { "/p/A b", false, false }, { "/p/A/y", true, false }, { "/p/B", false, false },
                  { "/p/B", false, false } },
        0);
    EXPECT_EQ(batch.take(), (std::vector<DirectoryChange> {
                                { "/p/A", true, false }, { "/p/A b", false, false }, { "/p/B", false, false } }));
    batch.add({ { "/p/A", true, false }, { {}, true, true }, { "/p/B", false, false } }, 0);
    EXPECT_EQ(batch.take(), (std::vector<DirectoryChange> { { {}, true, true } }));
}

TEST(PathWithinTest, a_directory_is_within_itself_and_its_ancestors_only)
{
    EXPECT_TRUE(platform::path_within("/p/A", "/p/A"));
    EXPECT_TRUE(platform::path_within("/p/A/b", "/p/A"));
    EXPECT_TRUE(platform::path_within("/p/A", "/"));
    EXPECT_FALSE(platform::path_within("/p/AB", "/p/A"));
    EXPECT_FALSE(platform::path_within("/p", "/p/A"));
}

}
