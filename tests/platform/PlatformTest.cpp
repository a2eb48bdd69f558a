#include "platform/Files.h"
#include "platform/System.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
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

namespace {

// The byte strings a Linux name can hold that are not UTF-8, with valid
// ones among them, each followed by a character so that a sequence cut at
// the end and one cut in the middle are both met.
std::vector<std::string> const kOddNames {
    "\xff",             // never in UTF-8
    "caf\xe9.jpg",      // Latin-1
    "a\xc3",            // cut at the end
    "a\xc3z",           // cut in the middle
    "\xc0\xaf",         // overlong "/"
    "\xed\xb2\x80",     // an encoded surrogate, as an escape would be
    "\xf4\x90\x80\x80", // past U+10FFFF
    "\x80\xbf",         // continuation bytes alone
    "\xf0\x9f\x98\x80\xff", // a pair followed by an escape
};

}

TEST(SystemPaths, names_that_are_not_utf8_keep_their_bytes_both_ways)
{
    for (auto const& name : kOddNames) {
        std::string const path = "/tmp/" + name + "/x";
        WString const program = from_system_path(path);
        EXPECT_EQ(to_system_path(program), path) << "bytes of " << testing::PrintToString(name);
        EXPECT_EQ(program.find(u'/'), WString::npos);
    }
    // Each byte outside UTF-8 is its own escape, U+DC80 + (byte - 0x80);
    // what is UTF-8 reads as UTF-8.
    EXPECT_EQ(from_system_path("/caf\xe9"), u"\\caf\xDCE9");
    EXPECT_EQ(from_system_path("/caf\xc3\xa9"), u"\\caf\u00E9");
    EXPECT_EQ(from_system_path("/a\xc3z"), u"\\a\xDCC3z");
    EXPECT_EQ(from_system_path("/\xf0\x9f\x98\x80\xff"), u"\\\U0001F600\xDCFF");
    // Two names that differ only in how é is written stay two names.
    EXPECT_NE(from_system_path("caf\xe9"), from_system_path("caf\xc3\xa9"));
}

TEST(SystemPaths, text_for_reading_shows_an_escape_as_the_replacement_character)
{
    WString const escaped = from_system_path("/caf\xe9");
    EXPECT_EQ(to_utf8(escaped), "\\caf\xef\xbf\xbd");
    EXPECT_EQ(without_lone_surrogates(escaped), u"\\caf\uFFFD");
    // Pairs stay; halves alone anywhere do not.
    EXPECT_EQ(without_lone_surrogates(u"\U0001F600"), u"\U0001F600");
    WString const halves { u'\xD83D', u'a', u'\xDE00', u'\xD83D' };
    EXPECT_EQ(without_lone_surrogates(halves), u"\uFFFDa\uFFFD\uFFFD");
    // Ordinary text conversion keeps its ways: invalid UTF-8 is U+FFFD.
    EXPECT_EQ(from_utf8("caf\xe9"), u"caf\uFFFD");
}

TEST(Listing, names_that_are_not_utf8_are_listed_and_opened_by_the_same_bytes)
{
    test::TempDir dir;
    std::filesystem::path const folder = dir.path() / "Album \xff";
    std::filesystem::create_directory(folder);
    test::write_bytes(folder / "caf\xe9.jpg", std::string("latin-1"));
    test::write_bytes(folder / "caf\xc3\xa9.jpg", std::string("utf-8"));

    auto const folders = find_names(dir.program_path() + u"\\*", EntryKind::Directories);
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(folders[0], u"Album \xDCFF");
    WString const album = dir.program_path() + u"\\" + folders[0];

    auto const pictures = find_files(album + u"\\*.jpg");
    ASSERT_EQ(pictures.size(), 2u);
    auto const listed = list_directory(album, true);
    ASSERT_EQ(listed.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(listed[i].name, pictures[i].name);
        EXPECT_EQ(listed[i].size, pictures[i].size);
        File file;
        ASSERT_TRUE(file.open(album + u"\\" + pictures[i].name, OpenMode::Read)) << to_utf8(pictures[i].name);
        std::string text(pictures[i].size, '\0');
        ASSERT_EQ(file.read(text.data(), text.size()), text.size());
        EXPECT_EQ(text, pictures[i].name == u"caf\xDCE9.jpg" ? "latin-1" : "utf-8");
    }
    EXPECT_TRUE(stat_path(album + u"\\caf\xDCE9.jpg"));
    ASSERT_TRUE(move_file(album + u"\\caf\xDCE9.jpg", album + u"\\\xDCFE.jpg"));
    EXPECT_TRUE(std::filesystem::exists(folder / "\xfe.jpg"));
    EXPECT_TRUE(remove_file(album + u"\\\xDCFE.jpg"));
    EXPECT_FALSE(std::filesystem::exists(folder / "\xfe.jpg"));
}

namespace {

// Runs `body` in a child process and returns how the child ended.
template<typename Body>
std::optional<int> in_child(Body body)
{
    pid_t const child = ::fork();
    if (child == 0) {
        body();
        ::_exit(0);
    }
    return child > 0 ? test::wait_for_child(child, std::chrono::seconds(20)) : std::nullopt;
}

void make_files(test::TempDir const& dir, std::initializer_list<char const*> names)
{
    for (auto const* name : names)
        test::write_bytes(dir / name, std::string("scratch"));
}

int g_previous_handler_calls = 0;

}

TEST(Termination, sigterm_removes_the_registered_files_and_ends_the_process)
{
    test::TempDir dir;
    make_files(dir, { "kept", "released", "registered", "odd \xff" });
    auto const status = in_child([&] {
        remove_on_termination(dir.program_path("registered"));
        remove_on_termination(from_system_path((dir / "odd \xff").string()));
        keep_on_termination(remove_on_termination(dir.program_path("released")));
        install_removal_on_termination();
        ::raise(SIGTERM);
        ::_exit(3); // only when the signal did not end the process
    });
    ASSERT_TRUE(status) << "the child did not end";
    ASSERT_TRUE(WIFSIGNALED(*status)) << "exit code " << WEXITSTATUS(*status);
    EXPECT_EQ(WTERMSIG(*status), SIGTERM);
    EXPECT_FALSE(std::filesystem::exists(dir / "registered"));
    EXPECT_FALSE(std::filesystem::exists(dir / "odd \xff"));
    EXPECT_TRUE(std::filesystem::exists(dir / "released"));
    EXPECT_TRUE(std::filesystem::exists(dir / "kept"));
}

TEST(Termination, a_handler_installed_before_runs_after_the_removal_and_an_ignored_signal_stays_ignored)
{
    test::TempDir dir;
    make_files(dir, { "a", "b" });
    auto const chained = in_child([&] {
        struct sigaction own {};
        own.sa_handler = [](int) { ++g_previous_handler_calls; };
        sigemptyset(&own.sa_mask);
        ::sigaction(SIGTERM, &own, nullptr);
        remove_on_termination(dir.program_path("a"));
        install_removal_on_termination();
        ::raise(SIGTERM);
        ::_exit(g_previous_handler_calls == 1 ? 42 : 43);
    });
    ASSERT_TRUE(chained && WIFEXITED(*chained)) << "the program's own handler did not keep the process";
    EXPECT_EQ(WEXITSTATUS(*chained), 42);
    EXPECT_FALSE(std::filesystem::exists(dir / "a"));

    auto const ignored = in_child([&] {
        ::signal(SIGINT, SIG_IGN);
        remove_on_termination(dir.program_path("b"));
        install_removal_on_termination();
        ::raise(SIGINT);
        ::_exit(44);
    });
    ASSERT_TRUE(ignored && WIFEXITED(*ignored)) << "an ignored SIGINT ended the process";
    EXPECT_EQ(WEXITSTATUS(*ignored), 44);
    EXPECT_TRUE(std::filesystem::exists(dir / "b"));
}

TEST(Termination, released_places_are_taken_again_and_overlong_paths_refused)
{
    test::TempDir dir;
    // Far more registrations than could ever be held at once.
    for (int i = 0; i < 2000; ++i) {
        int const ticket = remove_on_termination(dir.program_path("f" + std::to_string(i)));
        ASSERT_GE(ticket, 0) << "registration " << i;
        keep_on_termination(ticket);
    }
    EXPECT_EQ(remove_on_termination(dir.program_path(std::string(5000, 'x'))), -1);
    EXPECT_EQ(remove_on_termination(u""), -1);
    keep_on_termination(-1); // a refused registration is released without harm
}

TEST(Processes, a_process_that_ended_no_longer_exists)
{
    EXPECT_TRUE(process_exists(current_process_id()));
    EXPECT_TRUE(process_exists(1)) << "another user's process exists too";
    pid_t const child = ::fork();
    if (child == 0)
        ::_exit(0);
    ASSERT_GT(child, 0);
    EXPECT_TRUE(test::wait_for_child(child, std::chrono::seconds(20)));
    EXPECT_FALSE(process_exists(child));
    EXPECT_FALSE(process_exists(0));
    EXPECT_FALSE(process_exists(-1));
}
