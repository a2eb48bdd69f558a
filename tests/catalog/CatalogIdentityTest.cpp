// Which cache file belongs to which picture: pictures that a listing cannot
// tell apart, pictures rewritten in place, renamed ones; and storage that
// refuses cache files, read-only or full.

#include "CatalogFixture.h"
#include "catalog/PhotoCatalog.h"
#include "imaging/JpegCodec.h"
#include "thumbcache/CacheFile.h"
#include "thumbcache/ThumbnailReader.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sys/mount.h>
#include <sys/stat.h>

using namespace qv;
namespace fs = std::filesystem;

namespace {

struct Colour {
    std::uint8_t r, g, b;
};

bool write_solid(fs::path const& path, Colour colour)
{
    auto encoder = JpegEncoder::open(test::program_form(path), 96, 64);
    if (!encoder)
        return false;
    std::vector<std::uint8_t> row;
    for (int x = 0; x < 96; ++x)
        row.insert(row.end(), { colour.r, colour.g, colour.b });
    for (int y = 0; y < 64; ++y) {
        if (!encoder->write_row(row))
            return false;
    }
    return encoder->finish();
}

// Bytes after the end of a JPEG are not read: every picture of `paths` is
// padded to one size and given one modification time, so that a listing
// tells them apart by name only, as pictures copied together at one clock
// tick.
void make_alike(std::vector<fs::path> const& paths)
{
    std::uintmax_t size = 0;
    for (auto const& path : paths)
        size = std::max(size, fs::file_size(path));
    struct timespec const times[2] = { { 0, UTIME_OMIT }, { 1700000000, 123456789 } };
    for (auto const& path : paths) {
        std::ofstream(path, std::ios::binary | std::ios::app) << std::string(size - fs::file_size(path), '\0');
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }
}

// How near the middle of `picture`'s thumbnail, read from `cache_file`, is
// to `colour`: the largest difference of a channel, in 8-bit steps.
int thumbnail_distance(WStringView cache_file, Colour colour)
{
    auto thumbnail = load_thumbnail(cache_file);
    if (!thumbnail)
        return 255;
    std::uint16_t const p = thumbnail->at(32, 32);
    int const r = (p >> 11) << 3, g = ((p >> 5) & 63) << 2, b = (p & 31) << 3;
    return std::max({ std::abs(r - colour.r), std::abs(g - colour.g), std::abs(b - colour.b) });
}

struct Builds {
    std::mutex mutex;
    int count { 0 };
    void attach(PhotoCatalog& catalog)
    {
        catalog.set_build_observer([this](WString const&, bool) {
            std::lock_guard lock(mutex);
            ++count;
        });
    }
    int total()
    {
        std::lock_guard lock(mutex);
        return count;
    }
};

class CatalogIdentityTest : public test::CatalogTest {
protected:
    WString root() const { return u"%my_documents%\\"; }
    WString program(std::string const& name) const { return u"%my_documents%\\" + from_utf8(name); }
};

TEST_F(CatalogIdentityTest, PicturesAListingCannotTellApartEachGetTheirOwnFile)
{
    std::vector<fs::path> paths;
    std::vector<Colour> colours;
    fs::create_directories(m_docs / "copied");
    for (int i = 0; i < 12; ++i) {
        colours.push_back({ static_cast<std::uint8_t>(i * 20), static_cast<std::uint8_t>(240 - i * 20), 128 });
        paths.push_back(m_docs / "copied" / ("p" + std::to_string(i) + ".jpg"));
        ASSERT_TRUE(write_solid(paths.back(), colours.back()));
    }
    make_alike(paths);

    Builds builds;
    PhotoCatalog catalog(m_ini, false);
    builds.attach(catalog);
    catalog.start_worker();
    test::Recorder recorder;
    catalog.add_listener(&recorder);
    search_and_build(catalog, recorder);

    std::set<WString> files;
    for (int i = 0; i < 12; ++i) {
        auto const status = catalog.picture_status(program("copied\\p" + std::to_string(i) + ".jpg"), root());
        ASSERT_EQ(status.state, PictureStatus::State::Ready) << i;
        files.insert(status.cache_file);
        EXPECT_LE(thumbnail_distance(status.cache_file, colours[static_cast<size_t>(i)]), 12) << i;
    }
    EXPECT_EQ(files.size(), 12u);
    EXPECT_EQ(files_in(cache_dir(m_docs)).size(), 12u);

    // The next search finds every one in its own file again.
    search_and_build(catalog, recorder);
    EXPECT_EQ(builds.total(), 12);
    EXPECT_EQ(files_in(cache_dir(m_docs)).size(), 12u);
    catalog.remove_listener(&recorder);
}

TEST_F(CatalogIdentityTest, APictureRewrittenInPlaceIsBuiltAgainAndARenamedOneKeepsItsFile)
{
    auto const path = m_docs / "p.jpg";
    auto const other = m_docs / "other.jpg";
    ASSERT_TRUE(write_solid(path, { 250, 0, 0 }));
    ASSERT_TRUE(write_solid(other, { 0, 0, 250 }));
    make_alike({ path, other });
    auto const blue = test::read_bytes(other);
    fs::remove(other);

    Builds builds;
    PhotoCatalog catalog(m_ini, false);
    builds.attach(catalog);
    catalog.start_worker();
    test::Recorder recorder;
    catalog.add_listener(&recorder);
    search_and_build(catalog, recorder);
    auto const red = catalog.picture_status(program("p.jpg"), root());
    ASSERT_EQ(red.state, PictureStatus::State::Ready);
    EXPECT_LE(thumbnail_distance(red.cache_file, { 250, 0, 0 }), 12);

    // Renamed: the same file serves it, found again by the next search.
    fs::rename(path, m_docs / "q.jpg");
    EXPECT_EQ(catalog.picture_status(program("q.jpg"), root()).cache_file, red.cache_file);
    search_and_build(catalog, recorder);
    EXPECT_EQ(builds.total(), 1);
    fs::rename(m_docs / "q.jpg", path);

    // The same size and, put back, the same time: only the content differs.
    {
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<char const*>(blue.data()), static_cast<std::streamsize>(blue.size()));
    }
    struct timespec const times[2] = { { 0, UTIME_OMIT }, { 1700000000, 123456789 } };
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    EXPECT_EQ(catalog.picture_status(program("p.jpg"), root()).state, PictureStatus::State::Building);
    catalog.add_picture(program("p.jpg"), root());
    ASSERT_TRUE(poll_until(catalog, [&] { return builds.total() == 2 && catalog.pending_count() == 0; }));
    auto const now = catalog.picture_status(program("p.jpg"), root());
    ASSERT_EQ(now.state, PictureStatus::State::Ready);
    EXPECT_LE(thumbnail_distance(now.cache_file, { 0, 0, 250 }), 12);
    EXPECT_EQ(files_in(cache_dir(m_docs)).size(), 1u);
    catalog.remove_listener(&recorder);
}

// A file system of its own as the cache home, where the documents folder's
// cache directory is made, where the machine lets the tests mount one (they
// run as root in CI); skipped elsewhere.
class StorageTest : public CatalogIdentityTest {
protected:
    void mount_documents(std::string const& options)
    {
        fs::create_directories(m_store);
        if (::mount("tmpfs", m_store.c_str(), "tmpfs", 0, options.c_str()) != 0)
            GTEST_SKIP() << "cannot mount a file system here: " << std::strerror(errno);
        m_mounted = true;
    }
    void remount(unsigned long flags)
    {
        ASSERT_EQ(::mount("tmpfs", m_store.c_str(), "tmpfs", MS_REMOUNT | flags, nullptr), 0) << std::strerror(errno);
    }
    void TearDown() override
    {
        if (m_mounted)
            ::umount2(m_store.c_str(), MNT_DETACH);
    }
    fs::path const m_store { cache_dir(m_docs).parent_path() };
    void make_pictures(int count)
    {
        for (int i = 0; i < count; ++i)
            ASSERT_TRUE(test::write_jpeg(m_docs / ("p" + std::to_string(i) + ".jpg"), 300 + i, 200, i));
    }
    void expect_given_up(PhotoCatalog& catalog, int count, platform::StorageFault fault)
    {
        for (int i = 0; i < count; ++i) {
            auto const status = catalog.picture_status(program("p" + std::to_string(i) + ".jpg"), root());
            EXPECT_EQ(status.state, PictureStatus::State::Bad) << i;
            EXPECT_EQ(status.problem, PictureProblem::Storage) << i;
        }
        EXPECT_EQ(catalog.storage_problem().fault, fault);
        EXPECT_EQ(catalog.storage_problem().drive_path, root());
    }
    bool m_mounted { false };
};

TEST_F(StorageTest, AReadOnlyFolderIsToldOnceAndTriedAgainOnlyByTheNextSearch)
{
    mount_documents("size=8m");
    if (IsSkipped())
        return;
    make_pictures(6);
    remount(MS_RDONLY);

    Builds builds;
    PhotoCatalog catalog(m_ini, false);
    builds.attach(catalog);
    catalog.start_worker();
    test::Recorder recorder;
    catalog.add_listener(&recorder);
    search_and_build(catalog, recorder);
    ASSERT_TRUE(poll_until(catalog, [&] { return recorder.count(&CatalogEvent::cache_complete) > 0; }, 20));
    // One refusal gives up on the folder: no build of every picture (only
    // those already under way beside the first), no search after search.
    int const tried = builds.total();
    EXPECT_GE(tried, 1);
    EXPECT_LE(tried, catalog.build_threads());
    EXPECT_EQ(recorder.count(&CatalogEvent::storage_fault), 1);
    EXPECT_LE(recorder.count(&CatalogEvent::progress), 6);
    EXPECT_EQ(catalog.searches_completed(), 1);
    EXPECT_EQ(catalog.get_folders_size(), 1) << "the album is listed all the same";
    expect_given_up(catalog, 6, platform::StorageFault::ReadOnly);

    // Writable again: the next search builds them all and clears the fault.
    remount(0);
    search_and_build(catalog, recorder);
    EXPECT_EQ(builds.total(), tried + 6);
    EXPECT_EQ(recorder.count(&CatalogEvent::storage_fault), 2);
    EXPECT_EQ(catalog.storage_problem().fault, platform::StorageFault::None);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(catalog.picture_status(program("p" + std::to_string(i) + ".jpg"), root()).state,
            PictureStatus::State::Ready);
    catalog.remove_listener(&recorder);
}

TEST_F(StorageTest, AFullDiskMarksNoGoodPictureBadAndTheNextSearchBuildsThemOnceThereIsRoom)
{
    mount_documents("size=4m");
    if (IsSkipped())
        return;
    make_pictures(6);
    {
        // Everything left taken.
        std::ofstream filler(m_store / "filler.bin", std::ios::binary);
        std::string const block(64 * 1024, 'x');
        while (filler.write(block.data(), static_cast<std::streamsize>(block.size())))
            ;
    }

    Builds builds;
    PhotoCatalog catalog(m_ini, false);
    builds.attach(catalog);
    catalog.start_worker();
    test::Recorder recorder;
    catalog.add_listener(&recorder);
    search_and_build(catalog, recorder);
    ASSERT_TRUE(poll_until(catalog, [&] { return recorder.count(&CatalogEvent::cache_complete) > 0; }, 20));
    int const tried = builds.total();
    EXPECT_GE(tried, 1);
    EXPECT_LE(tried, catalog.build_threads());
    // No marker: nothing in the cache directory says a picture is bad.
    EXPECT_TRUE(files_in(cache_dir(m_docs)).empty());
    expect_given_up(catalog, 6, platform::StorageFault::Full);

    fs::remove(m_store / "filler.bin");
    search_and_build(catalog, recorder);
    EXPECT_EQ(builds.total(), tried + 6);
    EXPECT_EQ(files_in(cache_dir(m_docs)).size(), 6u);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(catalog.picture_status(program("p" + std::to_string(i) + ".jpg"), root()).state,
            PictureStatus::State::Ready);
    catalog.remove_listener(&recorder);
}

}
