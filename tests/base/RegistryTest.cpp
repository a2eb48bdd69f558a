#include "base/Registry.h"
#include "platform/Settings.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

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

TEST_F(RegistryTest, reading_from_a_fresh_store_creates_the_key_and_fails)
{
    std::uint32_t value = 3;
    EXPECT_FALSE(read_dword(kMakerKey, u"Log", value));
    EXPECT_EQ(value, 3u);
    EXPECT_NE(file_text().find("[HKEY_CURRENT_USER\\Software\\Zenk]"), std::string::npos) << file_text();
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
