#include "base/Registry.h"
#include "platform/Settings.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace qv;

namespace {

class RegistryTest : public ::testing::Test {
protected:
    test::TempDir m_dir;
    test::ScopedEnv m_registry { "QUILVANE_REGISTRY", (m_dir / "sub" / "registry.reg").string() };

    std::string file_text() const
    {
        std::ifstream in(m_dir / "sub" / "registry.reg");
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

}

TEST_F(RegistryTest, values_round_trip_through_the_file)
{
    ASSERT_TRUE(write_dword(kMakerKey, u"Log", 10));
    ASSERT_TRUE(write_string(u"HKEY_CURRENT_USER\\Software\\Zenk\\Quilvane", u"Language", u"Русский \"quoted\" \\ back"));
    std::uint32_t value = 0;
    ASSERT_TRUE(read_dword(kMakerKey, u"Log", value));
    EXPECT_EQ(value, 10u);
    WString text;
    ASSERT_TRUE(read_string(u"HKEY_CURRENT_USER\\Software\\Zenk\\Quilvane", u"Language", text));
    EXPECT_EQ(text, u"Русский \"quoted\" \\ back");
    EXPECT_NE(file_text().find("\"Log\"=dword:0000000a"), std::string::npos) << file_text();
}

TEST_F(RegistryTest, an_empty_string_reads_back_as_empty_and_true)
{
    ASSERT_TRUE(write_string(kMakerKey, u"Empty", u""));
    WString text = u"unchanged";
    EXPECT_TRUE(read_string(kMakerKey, u"Empty", text));
    EXPECT_EQ(text, u"");
}

TEST_F(RegistryTest, a_value_of_the_wrong_type_is_not_read)
{
    ASSERT_TRUE(write_dword(kMakerKey, u"Language", 7));
    WString text = u"before";
    EXPECT_FALSE(read_string(kMakerKey, u"Language", text));
    EXPECT_EQ(text, u"before");

    ASSERT_TRUE(write_string(kMakerKey, u"Log", u"1"));
    std::uint32_t value = 42;
    EXPECT_FALSE(read_dword(kMakerKey, u"Log", value));
    EXPECT_EQ(value, 42u);
}

TEST_F(RegistryTest, reading_from_a_fresh_store_fails_and_makes_no_file)
{
    std::uint32_t value = 3;
    EXPECT_FALSE(read_dword(kMakerKey, u"Log", value));
    WString text = u"before";
    EXPECT_FALSE(read_string(u"HKEY_CURRENT_USER\\Software\\Zenk\\Quilvane", u"Language", text));
    EXPECT_EQ(value, 3u);
    EXPECT_EQ(text, u"before");
    // Not the file, nor its lock, nor the folder they would live in.
    EXPECT_FALSE(std::filesystem::exists(m_dir / "sub")) << file_text();
}

TEST_F(RegistryTest, reading_leaves_the_file_as_it_was_byte_for_byte)
{
    namespace fs = std::filesystem;
    // Written by hand, as no write of the store would lay it out: CR LF
    // line ends, a comment, a blank line in a key, odd spacing of cases.
    std::string const original = "Windows Registry Editor Version 5.00\r\n"
                                 "; kept by hand\r\n"
                                 "[HKEY_CURRENT_USER\\Software\\Zenk]\r\n"
                                 "\"Log\"=dword:00000001\r\n"
                                 "\r\n"
                                 "\"Name\"=\"text\"\r\n";
    fs::path const file = m_dir / "sub" / "registry.reg";
    fs::create_directories(file.parent_path());
    test::write_bytes(file, original);
    // A time long past: any rewrite would move it to now.
    auto const stamp = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);
    fs::last_write_time(file, stamp);

    std::uint32_t value = 0;
    WString text;
    EXPECT_TRUE(read_dword(kMakerKey, u"log", value));
    EXPECT_EQ(value, 1u);
    EXPECT_TRUE(read_string(kMakerKey, u"Name", text));
    EXPECT_EQ(text, u"text");
    EXPECT_FALSE(read_dword(kMakerKey, u"Missing", value)); // no such value
    EXPECT_FALSE(read_dword(kMakerKey, u"Name", value));    // of the other type
    EXPECT_FALSE(read_string(u"HKEY_CURRENT_USER\\Software\\Zenk\\Quilvane", u"Language", text)); // no key
    EXPECT_FALSE(read_dword(u"HKEY_LOCAL_MACHINE\\Software", u"Log", value)); // a root the file lacks
    EXPECT_FALSE(read_dword(u"Software\\Zenk", u"Log", value));              // no root at all

    EXPECT_EQ(test::read_bytes(file), std::vector<std::uint8_t>(original.begin(), original.end()));
    EXPECT_EQ(fs::last_write_time(file), stamp);
    // Nothing beside it either: no lock file, no scratch copy.
    std::vector<fs::path> entries(fs::directory_iterator(file.parent_path()), fs::directory_iterator {});
    EXPECT_EQ(entries, std::vector<fs::path> { file });

    // A write still rewrites it, so the checks above could see a rewrite.
    ASSERT_TRUE(write_dword(kMakerKey, u"Log", 0));
    EXPECT_NE(fs::last_write_time(file), stamp);
    EXPECT_NE(test::read_bytes(file), std::vector<std::uint8_t>(original.begin(), original.end()));
}

TEST_F(RegistryTest, unknown_roots_select_nothing)
{
    EXPECT_FALSE(write_dword(u"HKEY_NOWHERE\\Software", u"x", 1));
    std::uint32_t value = 0;
    EXPECT_FALSE(read_dword(u"Software\\Zenk", u"x", value));
}

TEST_F(RegistryTest, names_compare_without_case_and_overwrite_in_place)
{
    ASSERT_TRUE(write_dword(kMakerKey, u"Log", 1));
    ASSERT_TRUE(write_dword(u"HKEY_CURRENT_USER\\software\\ZENK", u"LOG", 0));
    std::uint32_t value = 9;
    ASSERT_TRUE(read_dword(kMakerKey, u"log", value));
    EXPECT_EQ(value, 0u);
    auto text = file_text();
    EXPECT_EQ(text.find("LOG"), std::string::npos) << "a second entry was added: " << text;
}

TEST_F(RegistryTest, changes_made_by_another_writer_are_seen)
{
    ASSERT_TRUE(write_dword(kMakerKey, u"Log", 1));
    std::uint32_t value = 0;
    ASSERT_TRUE(read_dword(kMakerKey, u"Log", value));
    // Someone edits the file by hand while the program runs.
    test::write_bytes(m_dir / "sub" / "registry.reg",
        std::string("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Zenk]\n\"Log\"=dword:00000000\n"));
    ASSERT_TRUE(read_dword(kMakerKey, u"Log", value));
    EXPECT_EQ(value, 0u);
}

TEST_F(RegistryTest, two_processes_writing_different_values_lose_neither)
{
    constexpr int kRounds = 60;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        bool ok = true;
        for (int i = 0; i < kRounds; ++i)
            ok = write_dword(kMakerKey, u"Child" + to_wstring(i), static_cast<std::uint32_t>(i)) && ok;
        _exit(ok ? 0 : 1);
    }
    bool ok = true;
    for (int i = 0; i < kRounds; ++i)
        ok = write_string(kMakerKey, u"Parent" + to_wstring(i), to_wstring(i)) && ok;
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(ok);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    for (int i = 0; i < kRounds; ++i) {
        std::uint32_t value = 9999;
        EXPECT_TRUE(read_dword(kMakerKey, u"Child" + to_wstring(i), value)) << i;
        EXPECT_EQ(value, static_cast<std::uint32_t>(i));
        WString text;
        EXPECT_TRUE(read_string(kMakerKey, u"Parent" + to_wstring(i), text)) << i;
        EXPECT_EQ(text, to_wstring(i));
    }
}
