// Only files proven ours are removed, changed or overwritten, never
// through a link; damage inside a file of ours is found by its checksum.

#include "CachePictures.h"
#include "support/TestSupport.h"
#include "thumbcache/CacheBuilder.h"
#include "thumbcache/CacheFile.h"
#include "thumbcache/CacheMigration.h"
#include "thumbcache/CacheOwnership.h"
#include "thumbcache/PieceCreator.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

using namespace qv;
namespace fs = std::filesystem;

namespace {

std::set<std::string> names_in(fs::path const& directory)
{
    std::set<std::string> names;
    for (auto const& entry : fs::directory_iterator(directory))
        names.insert(entry.path().filename().string());
    return names;
}

class CacheOwnershipTest : public ::testing::Test {
protected:
    test::TempDir m_dir;
    fs::path const m_cache { m_dir / "cache" };
    std::string const m_name { "1234-20240101000000.000000000" };

    void SetUp() override { fs::create_directories(m_cache); }

    // A complete cache file of a real picture under `name`.
    void build(std::string const& name, int width = 300, int height = 200, fs::path const& directory = {})
    {
        ASSERT_TRUE(test::write_pattern_jpeg(m_dir / (name + ".jpg"), width, height));
        auto const place = (directory.empty() ? m_cache : directory) / name;
        ASSERT_TRUE(create_picture_cache(m_dir.program_path(name + ".jpg"), test::program_form(place)));
    }
};

TEST_F(CacheOwnershipTest, a_name_is_a_cache_name_only_in_the_exact_shape)
{
    for (char const* good : { "1234-20240101000000.000000000", "0-19700101000000.000000005-00000000000000ff" })
        EXPECT_TRUE(has_cache_name_shape(from_utf8(good))) << good;
    for (char const* bad : { "notes.txt", "12345", "-20240101000000.000000000", "1234-2024010100000.000000000",
             "1234-20240101000000.00000000", "1234-20240101000000.000000000-00000000000000FF",
             "1234-20240101000000.000000000-ff", "1234-20240101000000.000000000.jpg" })
        EXPECT_FALSE(has_cache_name_shape(from_utf8(bad))) << bad;
}

TEST_F(CacheOwnershipTest, a_sweep_removes_only_unused_files_of_ours_and_nothing_through_a_link)
{
    build(m_name);
    build("99-20240101000000.000000000");
    std::string const foreign_named = "77-20240101000000.000000000";
    test::write_bytes(m_cache / foreign_named, std::string("a letter that happens to have such a name"));
    test::write_bytes(m_cache / "notes.txt", std::string("notes"));

    auto const sweep = remove_unused_cache_files(test::program_form(m_cache),
        [&](WStringView leaf) { return to_utf8(leaf) == m_name; });
    EXPECT_EQ(sweep.removed, 1);
    EXPECT_EQ(sweep.kept, 2);
    EXPECT_EQ(names_in(m_cache), (std::set<std::string> { m_name, foreign_named, "notes.txt" }));

    // The same directory reached through a link: refused whole.
    fs::create_symlink(m_cache, m_dir / "link");
    auto const linked = remove_unused_cache_files(test::program_form(m_dir / "link"), [](WStringView) { return false; });
    EXPECT_TRUE(linked.refused);
    EXPECT_EQ(linked.removed, 0);
    EXPECT_TRUE(fs::exists(m_cache / m_name));
    EXPECT_FALSE(remove_own_cache_file(test::program_form(m_dir / "link" / m_name)));
    EXPECT_FALSE(mark_cache_damaged(test::program_form(m_dir / "link" / m_name)));
    EXPECT_TRUE(cache_body_intact(test::program_form(m_cache / m_name)));
}

TEST_F(CacheOwnershipTest, a_build_never_replaces_a_file_that_is_not_ours)
{
    test::write_bytes(m_cache / m_name, std::string("someone's file"));
    ASSERT_TRUE(test::write_pattern_jpeg(m_dir / "p.jpg", 300, 200));
    PictureProblem problem = PictureProblem::None;
    EXPECT_FALSE(create_picture_cache(m_dir.program_path("p.jpg"), test::program_form(m_cache / m_name), nullptr, &problem));
    EXPECT_EQ(problem, PictureProblem::Storage);
    auto const bytes = test::read_bytes(m_cache / m_name);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "someone's file");
}

TEST_F(CacheOwnershipTest, damage_the_header_does_not_show_is_found_by_the_checksum_and_marked)
{
    build(m_name, 900, 700);
    WString const cache = test::program_form(m_cache / m_name);
    auto const header = read_cache_header(cache);
    ASSERT_TRUE(header && header->body_checksum);
    ASSERT_TRUE(cache_body_intact(cache));

    // A level's bytes garbled in the middle: every range still checks out.
    auto bytes = test::read_bytes(m_cache / m_name);
    auto const& level = header->levels[1].jpeg;
    for (std::uint32_t i = level.offset + level.length / 2; i < level.offset + level.length / 2 + 64; ++i)
        bytes[i] ^= 0x5A;
    test::write_bytes(m_cache / m_name, bytes);
    EXPECT_TRUE(read_cache_header(cache));
    EXPECT_FALSE(cache_body_intact(cache));

    // The viewer's reader checks before its first tile, and marks the file:
    // from then on it reads as unfinished.
    CachePieceCreator creator(m_dir.program_path(m_name + ".jpg"), CachePieceCreator::File { cache });
    std::unique_ptr<PixelBuffer> tile;
    EXPECT_FALSE(creator.create_piece(0, 0, 0, tile));
    EXPECT_TRUE(creator.cache_damaged());
    EXPECT_FALSE(read_cache_header(cache));
    EXPECT_TRUE(fs::exists(m_cache / m_name)) << "kept for its record, rebuilt under its name";
}

TEST_F(CacheOwnershipTest, an_old_cache_directory_that_is_a_link_or_holds_other_files_keeps_them)
{
    fs::path const target { m_dir / "cache-home" / "documents" };
    fs::create_directories(m_dir / "Other");
    for (char const* name : { "notes.txt", "thesis.odt", "photo.jpg" })
        test::write_bytes(m_dir / "Other" / name, std::string(name));
    for (bool relative : { false, true }) {
        SCOPED_TRACE(relative ? "relative link" : "absolute link");
        fs::create_directories(m_dir / "Pictures");
        fs::create_symlink(relative ? fs::path("../Other") : m_dir / "Other", m_dir / "Pictures" / "!quilvanecache");
        auto const moved = move_cache_directory(test::program_form(m_dir / "Pictures" / "!quilvanecache"), test::program_form(target));
        EXPECT_EQ(moved.outcome, CacheMigration::Outcome::LeftAlone);
        EXPECT_TRUE(fs::is_symlink(m_dir / "Pictures" / "!quilvanecache"));
        EXPECT_EQ(names_in(m_dir / "Other"), (std::set<std::string> { "notes.txt", "photo.jpg", "thesis.odt" }));
        EXPECT_FALSE(fs::exists(target));
        fs::remove_all(m_dir / "Pictures");
    }

    // A real old directory: our files move, the others stay with it.
    fs::path const old { m_dir / "Pictures" / "!quilvanecache" };
    fs::create_directories(old);
    build(m_name, 300, 200, old);
    test::write_bytes(old / "notes.txt", std::string("notes"));
    auto const moved = move_cache_directory(test::program_form(old), test::program_form(target));
    EXPECT_EQ(moved.outcome, CacheMigration::Outcome::Moved);
    EXPECT_EQ(moved.kept, 1);
    EXPECT_EQ(names_in(old), (std::set<std::string> { "notes.txt" }));
    EXPECT_EQ(names_in(target), (std::set<std::string> { m_name }));
}

}
