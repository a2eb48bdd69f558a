// What the catalog mends by itself: a cache file found damaged by the
// viewer, and scratch files that killed builds left behind.

#include "CatalogFixture.h"
#include "base/Paths.h"
#include "catalog/PictureStatus.h"
#include "thumbcache/CacheFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

using namespace qv;
namespace fs = std::filesystem;

namespace {

class CatalogMendingTest : public test::CatalogTest { };

TEST_F(CatalogMendingTest, ACacheTheViewerFindsDamagedIsReadFromThePictureAndBuiltAgainByTheNextSearch)
{
    fs::create_directories(m_docs / "Trip");
    ASSERT_TRUE(test::write_jpeg(m_docs / "Trip" / "a.jpg", 900, 700, 3));
    WString const picture = u"%my_documents%\\Trip\\a.jpg", root = u"%my_documents%\\";
    PhotoCatalog catalog(m_ini, false);
    catalog.start_worker();
    test::Recorder recorder;
    catalog.add_listener(&recorder);
    search_and_build(catalog, recorder);
    auto status = catalog.picture_status(picture, root);
    ASSERT_EQ(status.state, PictureStatus::State::Ready);

    // Garbled inside the first level's stream: the header still checks out.
    auto const cache = test::system_form(status.cache_file);
    auto bytes = test::read_bytes(cache);
    auto const header = read_cache_header(status.cache_file);
    ASSERT_TRUE(header);
    auto const& level = header->levels[1].jpeg;
    for (std::uint32_t i = 0; i < 64; ++i)
        bytes[level.offset + level.length / 2 + i] ^= 0xA5;
    test::write_bytes(cache, bytes);
    ASSERT_EQ(catalog.picture_status(picture, root).state, PictureStatus::State::Ready);

    auto creator = open_piece_creator(picture, root, status);
    std::unique_ptr<PixelBuffer> tile;
    EXPECT_FALSE(creator->create_piece(0, 0, 0, tile));
    EXPECT_TRUE(creator->cache_damaged());
    // Meanwhile the picture is read from its own file.
    status = catalog.picture_status(picture, root);
    EXPECT_EQ(status.state, PictureStatus::State::Building);
    EXPECT_TRUE(open_piece_creator(picture, root, status)->create_piece(0, 0, 0, tile));

    search_and_build(catalog, recorder);
    status = catalog.picture_status(picture, root);
    ASSERT_EQ(status.state, PictureStatus::State::Ready);
    EXPECT_EQ(test::system_form(status.cache_file), cache) << "built again under its own name";
    EXPECT_TRUE(cache_body_intact(status.cache_file));
    catalog.remove_listener(&recorder);
}

TEST_F(CatalogMendingTest, ScratchFilesOfAKilledRunGoWhenTheCatalogStartsAndThoseOfLiveOnesStay)
{
    pid_t const gone = fork();
    if (gone == 0)
        _exit(0);
    ASSERT_GT(gone, 0);
    ASSERT_EQ(waitpid(gone, nullptr, 0), gone);
    std::string const leftover = "~build-" + std::to_string(gone) + "-3.thumb";
    std::string const live = "~build-" + std::to_string(getpid()) + "-3.thumb";
    // The pictures folder's caches, and those of a folder once opened.
    fs::path const folder_caches = test::system_form(user_cache_directory()) / "folders" / "!somewhere!Trip";
    for (auto const& directory : { cache_dir(m_docs), folder_caches }) {
        fs::create_directories(directory);
        test::write_bytes(directory / leftover, std::string(20000, '\0'));
        test::write_bytes(directory / live, std::string(100, '\0'));
    }
    PhotoCatalog catalog(m_ini, false);
    catalog.start_worker();
    // No search asked for: the start alone tidies.
    EXPECT_TRUE(poll_until(catalog, [&] {
        return !fs::exists(cache_dir(m_docs) / leftover) && !fs::exists(folder_caches / leftover);
    }));
    EXPECT_TRUE(fs::exists(cache_dir(m_docs) / live));
    EXPECT_TRUE(fs::exists(folder_caches / live));
}

TEST(BuildThreadsTest, ASettingGivesAtMostOneBuildAProcessor)
{
    EXPECT_EQ(PhotoCatalog::build_threads_for(0, 2), 2);
    EXPECT_EQ(PhotoCatalog::build_threads_for(1, 2), 1);
    for (std::uint32_t hostile : { 0xFFFFFFFFu, 99999u, 3u })
        EXPECT_EQ(PhotoCatalog::build_threads_for(hostile, 2), 2) << hostile;
    EXPECT_EQ(PhotoCatalog::build_threads_for(0, 0), 1) << "a machine that says nothing still builds";
}

}
