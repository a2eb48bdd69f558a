#include "base/Log.h"
#include "base/Registry.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace qv;

namespace {

class LogTest : public ::testing::Test {
protected:
    test::TempDir m_dir;
    test::ScopedEnv m_registry { "QUILVANE_REGISTRY", (m_dir / "registry.reg").string() };
    test::ScopedEnv m_temp { "TMPDIR", (m_dir / "tmp").string() };

    void SetUp() override { std::filesystem::create_directory(m_dir / "tmp"); }

    // The current log outlives a test; close it before its folder goes.
    void TearDown() override
    {
        write_dword(kMakerKey, u"Log", 0);
        Log::get();
        set_log_file_limit(kLogFileLimit);
    }

    // The file's lines, each without its line end.
    std::vector<std::u16string> log_lines() const
    {
        std::vector<std::u16string> lines;
        auto const text = log_text();
        std::size_t start = 0;
        while (start < text.size()) {
            auto end = text.find(u'\n', start);
            if (end == std::u16string::npos)
                end = text.size();
            lines.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        return lines;
    }

    std::filesystem::path log_file() const { return m_dir / "tmp" / "test_base.txt"; }

    // The file's UTF-16 code units after the byte-order mark, which must be there.
    std::u16string log_text() const
    {
        auto bytes = test::read_bytes(log_file());
        EXPECT_GE(bytes.size(), 2u);
        if (bytes.size() < 2)
            return {};
        EXPECT_EQ(bytes[0], 0xFF);
        EXPECT_EQ(bytes[1], 0xFE);
        std::u16string text;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            text += static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
        return text;
    }
};

}

TEST_F(LogTest, the_log_file_is_named_after_the_executable_in_temp)
{
    EXPECT_EQ(log_file_path(), test::program_form(log_file()));
}

TEST_F(LogTest, nothing_is_written_while_the_switch_is_absent_or_off)
{
    Log::get() << u"hidden\n";
    EXPECT_FALSE(std::filesystem::exists(log_file()));
    write_dword(kMakerKey, u"Log", 0);
    Log::get() << u"hidden\n";
    EXPECT_FALSE(std::filesystem::exists(log_file()));
}

TEST_F(LogTest, items_are_written_as_utf16_after_a_byte_order_mark)
{
    write_dword(kMakerKey, u"Log", 1);
    Log::get() << 5 << u"x\n";
    Log::get() << -12 << u" " << Key::SoftLeft << u" " << Key(200) << u"|" << "utf8 ä" << u"\n";
    EXPECT_EQ(log_text(), u"5x\n-12 SOFT_LEFT |utf8 ä\n");
}

TEST_F(LogTest, the_file_is_private_to_its_owner)
{
    write_dword(kMakerKey, u"Log", 1);
    Log::get() << u"x";
    struct stat st {};
    ASSERT_EQ(stat(log_file().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(LogTest, a_symbolic_link_in_place_of_the_file_is_not_followed)
{
    auto victim = m_dir / "victim.txt";
    test::write_bytes(victim, std::string("precious"));
    std::filesystem::create_symlink(victim, log_file());
    write_dword(kMakerKey, u"Log", 1);
    Log::get() << u"attack\n";
    EXPECT_EQ(test::read_bytes(victim), std::vector<unsigned char>({ 'p', 'r', 'e', 'c', 'i', 'o', 'u', 's' }));
}

TEST_F(LogTest, switching_on_again_starts_a_new_empty_file)
{
    write_dword(kMakerKey, u"Log", 1);
    Log::get() << u"first run\n";
    write_dword(kMakerKey, u"Log", 0);
    Log::get() << u"dropped\n";
    EXPECT_EQ(log_text(), u"first run\n");
    write_dword(kMakerKey, u"Log", 1);
    Log::get() << u"second run\n";
    EXPECT_EQ(log_text(), u"second run\n");
}

TEST_F(LogTest, toggling_while_threads_log_never_tears_an_item)
{
    write_dword(kMakerKey, u"Log", 1);
    std::atomic<bool> stop { false };
    std::vector<std::thread> writers;
    std::u16string const items[] = { u"alpha-alpha-alpha\n", u"beta-beta\n", u"gamma-gamma-gamma-gamma\n" };
    for (auto const& item : items) {
        writers.emplace_back([&stop, &item] {
            while (!stop.load())
                Log::get() << item;
        });
    }
    for (int i = 0; i < 40; ++i) {
        write_dword(kMakerKey, u"Log", i % 2);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    write_dword(kMakerKey, u"Log", 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop = true;
    for (auto& t : writers)
        t.join();

    // Every line in the final file is one whole item: a torn write, a hole
    // left by a truncated file or a freed log would show as a stranger line.
    auto text = log_text();
    ASSERT_FALSE(text.empty());
    std::set<std::u16string> allowed(std::begin(items), std::end(items));
    size_t start = 0;
    int lines = 0;
    while (start < text.size()) {
        auto end = text.find(u'\n', start);
        ASSERT_NE(end, std::u16string::npos) << "unterminated tail";
        EXPECT_TRUE(allowed.count(text.substr(start, end - start + 1))) << to_utf8(text.substr(start, end - start + 1));
        start = end + 1;
        ++lines;
    }
    EXPECT_GT(lines, 0);
}

TEST_F(LogTest, lines_of_many_items_reach_the_file_whole_and_in_order)
{
    write_dword(kMakerKey, u"Log", 1);
    int const kLines = 300;
    std::vector<std::thread> writers;
    for (int n = 0; n < 3; ++n) {
        writers.emplace_back([n] {
            for (int i = 0; i < kLines; ++i)
                Log::get() << u"thread " << n << u" line " << i << u"\n";
        });
    }
    for (auto& t : writers)
        t.join();
    auto const text = to_utf8(log_text());
    int next[3] = { 0, 0, 0 };
    std::size_t start = 0;
    while (start < text.size()) {
        auto const end = text.find('\n', start);
        ASSERT_NE(end, std::string::npos);
        int n = -1, i = -1;
        char tail = 0;
        std::string const line = text.substr(start, end - start);
        ASSERT_EQ(std::sscanf(line.c_str(), "thread %d line %d%c", &n, &i, &tail), 2) << line;
        ASSERT_TRUE(n >= 0 && n < 3) << line;
        EXPECT_EQ(i, next[n]++) << line;
        start = end + 1;
    }
    EXPECT_EQ(next[0] + next[1] + next[2], 3 * kLines);

    // A line is written when it ends, so one finished inside an unfinished
    // one comes first; what never ends goes when its statement does.
    write_dword(kMakerKey, u"Log", 0);
    Log::get();
    write_dword(kMakerKey, u"Log", 1);
    {
        auto outer = Log::get();
        outer << u"outer ";
        Log::get() << u"inner\n";
        outer << u"done\n" << u"tail";
        EXPECT_EQ(log_text(), u"inner\nouter done\n");
    }
    EXPECT_EQ(log_text(), u"inner\nouter done\ntail");
}

TEST_F(LogTest, report_fatal_logs_its_line_and_ends_the_process_with_failure)
{
    write_dword(kMakerKey, u"Log", 1);
    EXPECT_EXIT(report_fatal(u"get_app_path()", u"path is more then MAX_PATH long"), ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(log_text(), u"Gluck: path is more then MAX_PATH long @ get_app_path()\n");
}

TEST_F(LogTest, the_file_starts_over_with_a_line_saying_so_when_a_write_would_pass_its_limit)
{
    EXPECT_EQ(log_file_limit(), 4u << 20) << "a program left running keeps at most 4 MB of log";
    std::uint64_t const limit = 600;
    set_log_file_limit(limit);
    write_dword(kMakerKey, u"Log", 1);
    std::uint64_t largest = 0;
    int const kLines = 40;
    for (int i = 0; i < kLines; ++i) {
        Log::get() << u"line " << i << u" of the run\n";
        largest = std::max<std::uint64_t>(largest, std::filesystem::file_size(log_file()));
    }
    EXPECT_LE(largest, limit);

    auto const lines = log_lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], u"The log started over here: the file reached its limit of 600 bytes.");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), lines[0]), 1);
    // What follows is the newest lines, whole and in order, up to the last.
    for (std::size_t k = 1; k < lines.size(); ++k) {
        int const i = kLines - int(lines.size() - k);
        EXPECT_EQ(to_utf8(lines[k]), "line " + std::to_string(i) + " of the run");
    }
    // Nothing is lost but what came before the start-over: the file holds
    // as many lines as fit beside the notice.
    std::uint64_t const notice = 2 + (lines[0].size() + 1) * 2;
    std::uint64_t const line_bytes = (lines.back().size() + 1) * 2;
    EXPECT_GT(notice + (lines.size()) * line_bytes, limit);
}

TEST_F(LogTest, an_item_larger_than_the_limit_keeps_what_fits_and_the_limit_is_never_passed)
{
    set_log_file_limit(400);
    write_dword(kMakerKey, u"Log", 1);
    Log::get() << std::u16string(1000, u'x') << u"\n";
    EXPECT_EQ(std::filesystem::file_size(log_file()), 400u);
    auto const lines = log_lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], u"The log started over here: the file reached its limit of 400 bytes.");
    EXPECT_EQ(lines[1], std::u16string(lines[1].size(), u'x'));

    // A limit too small for the notice itself is raised to hold it and
    // a line beside it, and the notice names the limit the file keeps: the
    // newest line is always there whole.
    write_dword(kMakerKey, u"Log", 0);
    Log::get();
    set_log_file_limit(10);
    write_dword(kMakerKey, u"Log", 1);
    bool started_over = false;
    for (int i = 0; i < 30; ++i) {
        Log::get() << u"line " << i << u"\n";
        auto const small = log_lines();
        ASSERT_FALSE(small.empty());
        EXPECT_EQ(to_utf8(small.back()), "line " + std::to_string(i));
        if (small[0] == u"line 0")
            continue;
        started_over = true;
        unsigned long long named = 0;
        ASSERT_EQ(std::sscanf(to_utf8(small[0]).c_str(),
                      "The log started over here: the file reached its limit of %llu bytes.", &named),
            1)
            << to_utf8(small[0]);
        EXPECT_GT(named, 10u);
        EXPECT_LE(std::filesystem::file_size(log_file()), named);
    }
    EXPECT_TRUE(started_over);
}

TEST_F(LogTest, lone_surrogates_are_written_as_replacement_characters_and_pairs_stay)
{
    write_dword(kMakerKey, u"Log", 1);
    WString const name { u'a', 0xDCFF, u'b', 0xD83D, 0xDE00, 0xD83D };
    Log::get() << name << u"\n";
    EXPECT_EQ(log_text(), u"a\uFFFDb\U0001F600\uFFFD\n");
}

TEST(Stopwatch, measures_seconds_from_the_tick_count)
{
    Stopwatch watch;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    double first = watch.restart();
    EXPECT_GE(first, 0.029);
    EXPECT_LT(watch.elapsed(), first);
}
