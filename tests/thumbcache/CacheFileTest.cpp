#include "thumbcache/CacheFile.h"
#include "thumbcache/CacheLocation.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>

using namespace qv;

namespace {

void put32(std::vector<unsigned char>& out, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

// A well-formed file with two levels; each range is filled with its own byte.
std::vector<unsigned char> two_level_file()
{
    std::vector<unsigned char> file(53 + 17 * 3 + 17 * 2 + 100 + 17 + 50 + 30, 0);
    put32(file, 0, 16);
    file[4] = 2;
    std::uint32_t at = 53;
    auto range = [&](std::size_t field, std::uint32_t length) {
        put32(file, field, at);
        put32(file, field + 4, length);
        at += length;
    };
    range(5, 17 * 3);
    range(13, 17 * 2);
    range(21, 100);
    range(29, 17);
    range(37, 50);
    range(45, 30);
    return file;
}

}

TEST(CacheLevels, halve_until_one_tile_holds_the_larger_side)
{
    EXPECT_EQ(level_count(640), 2);
    EXPECT_EQ(level_count(1024), 2);
    EXPECT_EQ(level_count(200), 0);
    EXPECT_EQ(level_count(256), 0);
    EXPECT_EQ(level_count(257), 1);
    EXPECT_EQ(level_count(2560), 4);
    EXPECT_EQ(header_size(2), 53u);
    EXPECT_EQ(header_size(0), 21u);
}

namespace {

namespace fs = std::filesystem;

void set_modified(fs::path const& file, std::int64_t seconds, long nanoseconds)
{
    struct timespec times[2] = { { 0, UTIME_OMIT }, { static_cast<time_t>(seconds), nanoseconds } };
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
}

}

TEST(CacheNames, spell_size_and_modification_time_at_full_width)
{
    test::TempDir dir;
    WString const root = dir.program_path() + u"\\";
    test::write_bytes(dir / "a.jpg", std::string(987, 'x'));
    test::write_bytes(dir / "b.jpg", std::string(987, 'y'));
    // 2024-01-11 and 2024-11-01 read alike when their fields are unpadded.
    set_modified(dir / "a.jpg", 1704931200, 5);
    set_modified(dir / "b.jpg", 1730419200, 5);
    auto const a = cache_file_name(dir.program_path("a.jpg"), root);
    auto const b = cache_file_name(dir.program_path("b.jpg"), root);
    EXPECT_EQ(a, cache_directory_of(root) + u"\\987-20240111000000.000000005");
    EXPECT_EQ(b, cache_directory_of(root) + u"\\987-20241101000000.000000005");

    fs::rename(dir / "a.jpg", dir / "c.jpg");
    EXPECT_EQ(cache_file_name(dir.program_path("c.jpg"), root), a) << "renaming keeps the name";
    EXPECT_EQ(cache_file_name(dir.program_path("missing.jpg"), root), u"");
}

TEST(CacheIdentity, records_read_back_and_damaged_ones_identify_nothing)
{
    PictureIdentity identity { 123456789012ull, -5'000'000'123, u"album\\p\u00e9.jpg", 0xABCDEF };
    auto record = identity_record(identity, PictureProblem::Damaged);
    std::vector<std::uint8_t> file(40, 7);
    file.insert(file.end(), record.begin(), record.end());
    auto parsed = parse_identity_record(file, file.size());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->identity.size, identity.size);
    EXPECT_EQ(parsed->identity.modified_ns, identity.modified_ns);
    EXPECT_EQ(parsed->identity.relative_path, identity.relative_path);
    EXPECT_EQ(parsed->identity.fingerprint, identity.fingerprint);
    EXPECT_EQ(parsed->problem, PictureProblem::Damaged);
    EXPECT_EQ(parsed->offset, 40u);

    auto cut = file;
    cut.pop_back();
    EXPECT_FALSE(parse_identity_record(cut, cut.size()));
    auto long_path = file;
    long_path[long_path.size() - 5] = 0xFF; // a path longer than the file
    EXPECT_FALSE(parse_identity_record(long_path, long_path.size()));
    auto unknown_problem = file;
    unknown_problem[unknown_problem.size() - 8] = 200;
    EXPECT_FALSE(parse_identity_record(unknown_problem, unknown_problem.size()));
}

TEST(CacheFiles, the_mark_tells_complete_from_unfinished)
{
    test::TempDir dir;
    test::write_bytes(dir / "complete", two_level_file());
    auto unfinished = two_level_file();
    unfinished[0] = 0;
    test::write_bytes(dir / "unfinished", unfinished);
    test::write_bytes(dir / "empty", std::string());
    EXPECT_TRUE(is_cache_file_valid(dir.program_path("complete")));
    EXPECT_FALSE(is_cache_file_valid(dir.program_path("unfinished")));
    EXPECT_FALSE(is_cache_file_valid(dir.program_path("empty")));
    EXPECT_FALSE(is_cache_file_valid(dir.program_path("missing")));
}

TEST(CacheHeaders, sound_files_read_whole)
{
    test::TempDir dir;
    test::write_bytes(dir / "c", two_level_file());
    auto header = read_cache_header(dir.program_path("c"));
    ASSERT_TRUE(header);
    ASSERT_EQ(header->levels.size(), 3u);
    EXPECT_EQ(header->levels[0].entries.offset, 53u);
    EXPECT_EQ(header->levels[0].entries.length, 51u);
    EXPECT_EQ(header->levels[1].jpeg.length, 100u);
    EXPECT_EQ(header->levels[2].entries.length, 17u);
    EXPECT_EQ(header->thumbnail.length, 30u);
    EXPECT_EQ(header->thumbnail.offset + header->thumbnail.length, header->file_size);
}

TEST(CacheHeaders, every_damaged_field_is_refused)
{
    test::TempDir dir;
    auto good = two_level_file();
    for (std::size_t field = 5; field < 53; field += 4) {
        for (std::uint32_t value : { 0xFFFFFFF0u, 0x7FFFFFFFu, static_cast<std::uint32_t>(good.size()) }) {
            auto damaged = good;
            put32(damaged, field, value);
            test::write_bytes(dir / "d", damaged);
            EXPECT_FALSE(read_cache_header(dir.program_path("d"))) << "field " << field << " = " << value;
        }
    }
    auto more_levels = good;
    more_levels[4] = 200; // a header longer than the file
    test::write_bytes(dir / "d", more_levels);
    EXPECT_FALSE(read_cache_header(dir.program_path("d")));

    auto truncated = good;
    truncated.resize(good.size() - 1);
    test::write_bytes(dir / "d", truncated);
    EXPECT_FALSE(read_cache_header(dir.program_path("d")));

    auto partial_record = good;
    put32(partial_record, 9, 50); // not a whole number of entries
    test::write_bytes(dir / "d", partial_record);
    EXPECT_FALSE(read_cache_header(dir.program_path("d")));
}
