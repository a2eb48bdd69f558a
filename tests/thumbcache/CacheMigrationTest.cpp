#include "support/TestSupport.h"
#include "thumbcache/CacheLocation.h"
#include "thumbcache/CacheMigration.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace qv;
namespace fs = std::filesystem;

namespace {

// The files of a directory (not below it) and their contents.
std::map<std::string, std::string> contents_of(fs::path const& directory)
{
    std::map<std::string, std::string> files;
    for (auto const& entry : fs::directory_iterator(directory)) {
        auto const bytes = test::read_bytes(entry.path());
        files[entry.path().filename().string()] = std::string(bytes.begin(), bytes.end());
    }
    return files;
}

ino_t inode_of(fs::path const& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// A process id that no longer runs: a scratch file named after it is a
// killed build's.
int ended_process()
{
    pid_t const child = fork();
    if (child == 0)
        ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

class CacheMigrationTest : public ::testing::Test {
protected:
    test::TempDir m_dir;
    fs::path const m_old { m_dir / "Pictures" / "!quilvanecache" };
    fs::path const m_new { m_dir / "cache" / "quilvane" / "documents" };
    // Cache files, the complete mark in front: only such are moved.
    static std::string cache_bytes(std::size_t size, char fill) { return std::string("\x10\0\0\0", 4) + std::string(size, fill); }
    std::map<std::string, std::string> const m_files { { "100-20240101000000.000000000", cache_bytes(100, 'a') },
        { "200-20240102000000.000000000", cache_bytes(200, 'b') },
        { "300-20240103000000.000000000-00000000000000ff", cache_bytes(70000, 'c') } };

    void SetUp() override
    {
        fs::create_directories(m_old);
        for (auto const& [name, bytes] : m_files)
            test::write_bytes(m_old / name, bytes);
    }
    CacheMigration move(MigrationOptions const& options = {})
    {
        return move_cache_directory(test::program_form(m_old), test::program_form(m_new), options);
    }
};

TEST_F(CacheMigrationTest, on_one_file_system_the_directory_is_renamed_whole_once)
{
    auto const inode = inode_of(m_old / "200-20240102000000.000000000");
    auto const moved = move();
    EXPECT_EQ(moved.outcome, CacheMigration::Outcome::Moved) << to_utf8(moved.error);
    EXPECT_EQ(moved.renamed, 1);
    EXPECT_FALSE(fs::exists(m_old));
    EXPECT_EQ(contents_of(m_new), m_files);
    EXPECT_EQ(inode_of(m_new / "200-20240102000000.000000000"), inode) << "renamed, not copied";

    auto const again = move();
    EXPECT_EQ(again.outcome, CacheMigration::Outcome::Nothing);
    EXPECT_EQ(contents_of(m_new), m_files);
}

TEST_F(CacheMigrationTest, files_the_new_place_holds_already_stay_and_the_old_copies_and_scratch_files_go)
{
    // Built by the program meanwhile: newer than the old copy.
    fs::create_directories(m_new);
    test::write_bytes(m_new / "100-20240101000000.000000000", std::string("newer"));
    std::string const scratch = "~build-" + std::to_string(ended_process()) + "-0.cache";
    test::write_bytes(m_old / scratch, std::string("half"));
    test::write_bytes(m_new / scratch, std::string("half"));

    for (bool copy : { false, true }) {
        SCOPED_TRACE(copy ? "copied" : "renamed");
        if (copy) {
            fs::remove_all(m_new);
            SetUp();
            fs::create_directories(m_new);
            test::write_bytes(m_new / "100-20240101000000.000000000", std::string("newer"));
        }
        MigrationOptions options;
        options.always_copy = copy;
        auto const moved = move(options);
        EXPECT_EQ(moved.outcome, CacheMigration::Outcome::Moved) << to_utf8(moved.error);
        EXPECT_EQ(moved.renamed + moved.copied, 2);
        EXPECT_EQ(moved.dropped, copy ? 1 : 2);
        EXPECT_FALSE(fs::exists(m_old));
        auto expected = m_files;
        expected["100-20240101000000.000000000"] = "newer";
        EXPECT_EQ(contents_of(m_new), expected) << "no scratch file, the file there first kept";
    }
}

TEST_F(CacheMigrationTest, a_copy_keeps_contents_and_times_and_never_leaves_half_a_file_under_a_cache_name)
{
    std::map<std::string, fs::file_time_type> times;
    for (auto const& [name, bytes] : m_files) {
        fs::last_write_time(m_old / name, fs::file_time_type::clock::now() - std::chrono::hours(24 * (300 + bytes.size() % 7)));
        times[name] = fs::last_write_time(m_old / name);
    }

    // The copy of the second file breaks off half way, as a full disk or a
    // pulled card would leave it.
    int copies = 0;
    MigrationOptions broken;
    broken.always_copy = true;
    broken.copy = [&](WStringView from, WStringView to) {
        auto bytes = test::read_bytes(test::system_form(from));
        if (++copies == 2) {
            bytes.resize(bytes.size() / 2);
            test::write_bytes(test::system_form(to), bytes);
            return false;
        }
        test::write_bytes(test::system_form(to), bytes);
        return true;
    };
    auto const failed = move(broken);
    EXPECT_EQ(failed.outcome, CacheMigration::Outcome::Failed);
    EXPECT_FALSE(failed.error.empty());
    EXPECT_EQ(contents_of(m_old), m_files) << "nothing of the old directory goes before all of it is copied";
    auto const partial = contents_of(m_new);
    EXPECT_EQ(partial.size(), 1u);
    for (auto const& [name, bytes] : partial)
        EXPECT_EQ(m_files.at(name), bytes) << name << ": only whole files under cache names";

    // The next start carries on with the file system's copy.
    MigrationOptions copy;
    copy.always_copy = true;
    auto const finished = move(copy);
    EXPECT_EQ(finished.outcome, CacheMigration::Outcome::Moved) << to_utf8(finished.error);
    EXPECT_EQ(finished.copied, 2);
    EXPECT_EQ(finished.dropped, 1);
    EXPECT_FALSE(fs::exists(m_old));
    EXPECT_EQ(contents_of(m_new), m_files);
    for (auto const& [name, time] : times) {
        if (!partial.contains(name))
            EXPECT_EQ(fs::last_write_time(m_new / name), time) << name;
    }
}

TEST_F(CacheMigrationTest, across_file_systems_the_files_are_copied_whole_with_their_times_and_the_old_ones_go)
{
    // Shared memory is a file system of its own on most machines.
    struct stat here {}, there {};
    if (::stat(m_dir.path().c_str(), &here) != 0 || ::stat("/dev/shm", &there) != 0 || here.st_dev == there.st_dev)
        GTEST_SKIP() << "no second file system to move to";
    char name[] = "/dev/shm/quilvane-test-XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    fs::path const other = name;
    std::map<std::string, fs::file_time_type> times;
    for (auto const& [file, bytes] : m_files)
        times[file] = fs::last_write_time(m_old / file);

    fs::path const target = other / "quilvane" / "documents";
    auto const moved = move_cache_directory(test::program_form(m_old), test::program_form(target));
    EXPECT_EQ(moved.outcome, CacheMigration::Outcome::Moved) << to_utf8(moved.error);
    EXPECT_EQ(moved.copied, 3);
    EXPECT_EQ(moved.renamed, 0);
    EXPECT_FALSE(fs::exists(m_old));
    EXPECT_EQ(contents_of(target), m_files);
    for (auto const& [file, time] : times)
        EXPECT_EQ(fs::last_write_time(target / file), time) << file;
    fs::remove_all(other);
}

TEST_F(CacheMigrationTest, a_new_place_that_cannot_be_made_leaves_the_old_directory_as_it_is)
{
    // A file where the cache home's directory would go: even root cannot
    // make a directory there.
    test::write_bytes(m_dir / "cache", std::string("in the way"));
    auto const failed = move();
    EXPECT_EQ(failed.outcome, CacheMigration::Outcome::Failed);
    EXPECT_NE(migration_text(failed, u"old", u"new").find(u"not moved"), WString::npos);
    EXPECT_EQ(contents_of(m_old), m_files);
}

TEST_F(CacheMigrationTest, the_pictures_folder_old_caches_move_to_where_the_program_now_looks)
{
    test::ScopedEnv docs("QUILVANE_DOCUMENTS", (m_dir / "Pictures").string());
    test::ScopedEnv cache("XDG_CACHE_HOME", (m_dir / "cache").string());
    WString const said = move_old_document_caches();
    EXPECT_NE(said.find(u"old cache directory moved"), WString::npos) << to_utf8(said);
    EXPECT_EQ(test::system_form(cache_directory_of(u"%my_documents%\\")), m_new);
    EXPECT_EQ(contents_of(m_new), m_files);
    EXPECT_FALSE(fs::exists(m_old));
    EXPECT_EQ(move_old_document_caches(), u"") << "a second start does nothing";
}

}
