#include "platform/Files.h"
#include "platform/System.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <thread>

using namespace qv;
using namespace qv::platform;

TEST(Patterns, match_wildcards_without_regard_to_case)
{
    EXPECT_TRUE(matches_pattern(u"A.JPG", u"*.jpg"));
    EXPECT_TRUE(matches_pattern(u"photo.jpeg", u"*.JPEG"));
    EXPECT_FALSE(matches_pattern(u"photo.jpeg", u"*.jpg"));
    EXPECT_TRUE(matches_pattern(u"x", u"*"));
    EXPECT_TRUE(matches_pattern(u"img_1.jpg", u"img_?.jpg"));
    EXPECT_FALSE(matches_pattern(u"img_12.jpg", u"img_?.jpg"));
    EXPECT_TRUE(matches_pattern(u"a.b.c.jpg", u"*.*.jpg"));
    EXPECT_FALSE(matches_pattern(u"jpg", u"*.jpg"));
    EXPECT_FALSE(matches_pattern(u"anything", u"do_not_search"));
}

TEST(SystemPaths, slashes_turn_at_the_boundary)
{
    EXPECT_EQ(to_system_path(u"\\tmp\\a b\\ü.jpg"), "/tmp/a b/ü.jpg");
    EXPECT_EQ(from_system_path("/tmp/a b/ü.jpg"), u"\\tmp\\a b\\ü.jpg");
}

TEST(SystemPaths, my_documents_follows_the_environment_then_xdg)
{
    test::TempDir dir;
    {
        test::ScopedEnv docs("QUILVANE_DOCUMENTS", (dir / "docs/").string());
        EXPECT_EQ(special_folder(5), test::program_form(dir / "docs"));
    }
    test::ScopedEnv no_docs("QUILVANE_DOCUMENTS", std::nullopt);
    test::ScopedEnv home("HOME", dir.path().string());
    test::ScopedEnv config("XDG_CONFIG_HOME", (dir / "config").string());
    std::filesystem::create_directories(dir / "config");
    EXPECT_EQ(special_folder(5), test::program_form(dir / "Pictures"));
    test::write_bytes(dir / "config" / "user-dirs.dirs", std::string("# comment\nXDG_PICTURES_DIR=\"$HOME/Bilder\"\n"));
    EXPECT_EQ(special_folder(5), test::program_form(dir / "Bilder"));
    EXPECT_EQ(special_folder(36), u"");
}

TEST(SystemPaths, storage_cards_can_be_given_by_the_environment)
{
    test::ScopedEnv cards("QUILVANE_CARDS", "/media/a/:/mnt/b::");
    EXPECT_EQ(storage_cards(), std::vector<WString>({ u"\\media\\a", u"\\mnt\\b" }));
    test::ScopedEnv none("QUILVANE_CARDS", "");
    EXPECT_TRUE(storage_cards().empty());
}

TEST(SystemPaths, the_executable_is_this_test_program)
{
    auto name = module_file_name();
    ASSERT_FALSE(name.empty());
    EXPECT_EQ(name[0], u'\\');
    EXPECT_EQ(name.substr(name.rfind(u'\\') + 1), u"test_platform");
}

TEST(Listing, skips_hidden_names_and_links_to_directories)
{
    test::TempDir dir;
    std::filesystem::create_directory(dir / "sub");
    test::write_bytes(dir / "b.jpg", std::string("12345"));
    test::write_bytes(dir / ".a.jpg", std::string("1"));
    std::filesystem::create_directory_symlink(dir / "sub", dir / "link");
    std::filesystem::create_symlink(dir / "b.jpg", dir / "c.jpg");
    auto entries = find_files(dir.program_path() + u"\\*");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, u"b.jpg");
    EXPECT_EQ(entries[0].size, 5u);
    EXPECT_EQ(entries[1].name, u"c.jpg") << "links to files are followed";
    EXPECT_EQ(entries[2].name, u"sub");
    EXPECT_TRUE(entries[2].attributes & kAttributeDirectory);
}

TEST(Listing, one_listing_gives_what_the_pattern_listings_give_with_sizes)
{
    test::TempDir dir;
    std::filesystem::create_directory(dir / "sub");
    std::filesystem::create_directory(dir / "Alpha");
    test::write_bytes(dir / "b.jpg", std::string("12345"));
    test::write_bytes(dir / "a", std::string());
    test::write_bytes(dir / "Zed.txt", std::string(700, 'z'));
    test::write_bytes(dir / ".hidden", std::string("1"));
    std::filesystem::create_directory_symlink(dir / "sub", dir / "link");
    std::filesystem::create_symlink(dir / "b.jpg", dir / "c.jpg");
    std::filesystem::create_symlink(dir / "missing", dir / "dangling");

    WString const pattern = dir.program_path() + u"\\*";
    auto const files = find_names(pattern, EntryKind::Files);
    auto const directories = find_names(pattern, EntryKind::Directories);
    auto const sized = find_files(pattern);
    auto const listed = list_directory(dir.program_path(), true);
    std::vector<WString> listed_files, listed_directories;
    for (auto const& entry : listed) {
        (entry.is_directory ? listed_directories : listed_files).push_back(entry.name);
        if (entry.is_directory) {
            EXPECT_FALSE(entry.size);
            continue;
        }
        auto const same = std::find_if(sized.begin(), sized.end(), [&](auto const& e) { return e.name == entry.name; });
        ASSERT_NE(same, sized.end());
        ASSERT_TRUE(entry.size);
        EXPECT_EQ(*entry.size, same->size) << to_utf8(entry.name);
    }
    EXPECT_EQ(listed_files, files);
    EXPECT_EQ(listed_directories, directories);
    EXPECT_EQ(listed_files.size(), 4u);
    EXPECT_EQ(listed_directories.size(), 2u);

    for (auto const& entry : list_directory(dir.program_path()))
        EXPECT_FALSE(entry.size) << "sizes only when asked for";
    EXPECT_TRUE(list_directory(dir.program_path("missing")).empty());
}

TEST(Listing, fifos_are_neither_pictures_nor_folders_and_never_hold_an_open)
{
    test::TempDir dir;
    test::write_bytes(dir / "b.jpg", std::string("12345"));
    ASSERT_EQ(::mkfifo((dir / "x.jpg").c_str(), 0600), 0);
    std::filesystem::create_symlink(dir / "x.jpg", dir / "y.jpg");

    WString const pattern = dir.program_path() + u"\\*";
    std::vector<WString> const only { u"b.jpg" };
    EXPECT_EQ(find_names(pattern, EntryKind::Files), only);
    EXPECT_TRUE(find_names(pattern, EntryKind::Directories).empty());
    auto const sized = find_files(pattern);
    ASSERT_EQ(sized.size(), 1u);
    EXPECT_EQ(sized[0].name, u"b.jpg");
    auto const listed = list_directory(dir.program_path(), true);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].name, u"b.jpg");

    // Opened by its name all the same (a command line, a stale album list):
    // refused at once instead of waiting for a writer.
    File file;
    EXPECT_FALSE(file.open(dir.program_path("x.jpg"), OpenMode::Read));
    EXPECT_FALSE(file.open(dir.program_path("y.jpg"), OpenMode::Read));
    EXPECT_FALSE(file.open(dir.program_path("x.jpg"), OpenMode::Write));
    EXPECT_TRUE(file.open(dir.program_path("b.jpg"), OpenMode::Read));
}

TEST(Files, read_at_leaves_the_position_alone_and_stops_at_the_end)
{
    test::TempDir dir;
    std::string const text = "0123456789abcdef";
    test::write_bytes(dir / "f", text);
    File file;
    ASSERT_TRUE(file.open(dir.program_path("f"), OpenMode::Read));
    char first[3] {};
    ASSERT_EQ(file.read(first, 3), 3u);
    char got[8] {};
    ASSERT_EQ(file.read_at(10, got, 4), 4u);
    EXPECT_EQ(std::string(got, 4), text.substr(10, 4));
    EXPECT_EQ(file.tell(), 3u);
    EXPECT_EQ(file.read_at(14, got, 8), 2u) << "short at the end";
    EXPECT_EQ(std::string(got, 2), text.substr(14, 2));
    EXPECT_EQ(file.read_at(99, got, 8), 0u);
    ASSERT_EQ(file.read(got, 2), 2u);
    EXPECT_EQ(std::string(got, 2), text.substr(3, 2));
}

TEST(Clock, tick_count_moves_forward_in_milliseconds)
{
    auto start = tick_count();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    auto elapsed = static_cast<std::uint32_t>(tick_count() - start);
    EXPECT_GE(elapsed, 19u);
    EXPECT_LT(elapsed, 5000u);
}
