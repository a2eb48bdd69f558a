// The catalog finding pictures by itself: the first search of a first
// start, and the album list following the disk while it is watched.

#include "CatalogFixture.h"
#include "base/FileStream.h"
#include "base/Paths.h"
#include "base/Registry.h"
#include "base/TextFile.h"
#include "catalog/CatalogFile.h"
#include "catalog/PhotoCatalog.h"
#include "thumbcache/CacheFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

using namespace qv;
namespace fs = std::filesystem;

namespace {

class CatalogWatchTest : public test::CatalogTest {
protected:
    test::ScopedEnv m_cache_env { "XDG_CACHE_HOME", (m_dir / "cache").string() };

    void picture(fs::path const& path, int seed)
    {
        fs::create_directories(path.parent_path());
        // Written beside and renamed in, as a copy of a finished file.
        auto const part = path.parent_path() / (".part-" + path.filename().string());
        ASSERT_TRUE(test::write_jpeg(part, 80 + seed, 60 + seed, seed));
        fs::rename(part, path);
    }
    static WString album(fs::path const& directory) { return test::program_form(directory) + u"\\"; }
    static WString docs_album(std::string const& name) { return u"%my_documents%\\" + from_utf8(name) + u"\\"; }
    static std::optional<FolderInfo> find(PhotoCatalog& catalog, WString const& folder)
    {
        for (auto const& f : catalog.get_folders()) {
            if (f.folder_path == folder)
                return f;
        }
        return std::nullopt;
    }
    // A catalog as the tests drive it: the worker, one search, then the
    // watching, quick to hand changes on.
    void start(PhotoCatalog& catalog, test::Recorder& recorder)
    {
        catalog.start_worker();
        catalog.add_listener(&recorder);
        search_and_build(catalog, recorder);
        PhotoCatalog::WatchOptions options;
        options.quiet_ms = 100;
        ASSERT_TRUE(catalog.start_watching(options));
        // The watches are in place once the thread has counted them.
        ASSERT_TRUE(poll_until(catalog, [&] { return catalog.watch_counts().first > 0; }, 10));
        recorder.events.clear();
    }
    static int count(test::Recorder const& recorder, bool CatalogEvent::*flag) { return recorder.count(flag); }
};

TEST_F(CatalogWatchTest, a_first_start_searches_by_itself_and_a_later_one_keeps_its_list)
{
    picture(m_docs / "Trip" / "a.jpg", 1);
    picture(m_card / "DCIM" / "b.jpg", 2);
    {
        PhotoCatalog catalog(m_ini);
        EXPECT_FALSE(catalog.album_list_found());
        // Under way, or over already: the count goes up before the flag down.
        bool const under_way = catalog.search_under_way();
        EXPECT_TRUE(under_way || catalog.searches_completed() == 1);
        test::Recorder recorder;
        catalog.add_listener(&recorder);
        // The later start relies on the builds too, not only the search:
        // waited for until both caches are there.
        auto const built = [&] {
            return catalog.picture_status(u"%my_documents%\\Trip\\a.jpg", u"%my_documents%\\").state
                == PictureStatus::State::Ready
                && catalog.picture_status(test::program_form(m_card / "DCIM" / "b.jpg"), test::program_form(m_card) + u"\\")
                       .state
                == PictureStatus::State::Ready;
        };
        ASSERT_TRUE(poll_until(catalog, [&] { return recorder.count(&CatalogEvent::search_complete) > 0 && built(); }));
        EXPECT_EQ(catalog.searches_completed(), 1);
        EXPECT_FALSE(catalog.search_under_way());
        EXPECT_TRUE(find(catalog, docs_album("Trip")));
        EXPECT_TRUE(find(catalog, album(m_card / "DCIM")));
        catalog.remove_listener(&recorder);
    }
    ASSERT_TRUE(fs::exists(m_dir / "folders.ini"));
    PhotoCatalog again(m_ini);
    EXPECT_TRUE(again.album_list_found());
    EXPECT_FALSE(again.search_under_way());
    EXPECT_EQ(again.get_folders_size(), 2);
    // Built by the first start: nothing to search, nothing to build.
    EXPECT_EQ(again.pending_count(), 0);
    EXPECT_EQ(again.searches_completed(), 0);
}

TEST_F(CatalogWatchTest, a_later_start_takes_in_what_changed_while_closed_quietly_unless_told_not_to_watch)
{
    picture(m_docs / "Trip" / "a.jpg", 1);
    picture(m_docs / "Old" / "o.jpg", 2);
    {
        PhotoCatalog first(m_ini);
        ASSERT_TRUE(poll_until(first, [&] { return first.searches_completed() == 1 && first.pending_count() == 0; }));
        ASSERT_EQ(first.get_folders_size(), 2);
    }
    // While closed: a folder comes, another goes.
    picture(m_docs / "New" / "n.jpg", 3);
    fs::remove_all(m_docs / "Old");

    {
        ASSERT_TRUE(write_dword(kMakerKey, u"WatchFolders", 0));
        struct Restore {
            ~Restore() { write_dword(kMakerKey, u"WatchFolders", 1); }
        } restore;
        PhotoCatalog unwatched(m_ini);
        // The worker is idle when it has nothing to do: give it time to do
        // what it should not.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        unwatched.poll_events();
        EXPECT_EQ(unwatched.updates_completed(), 0);
        EXPECT_EQ(unwatched.watch_counts().first, 0u);
        EXPECT_TRUE(find(unwatched, docs_album("Old")));
        EXPECT_FALSE(find(unwatched, docs_album("New")));
    }

    PhotoCatalog later(m_ini);
    test::Recorder recorder;
    later.add_listener(&recorder);
    ASSERT_TRUE(poll_until(later, [&] { return later.updates_completed() > 0; }));
    later.poll_events();
    EXPECT_EQ(later.searches_completed(), 0);
    EXPECT_EQ(count(recorder, &CatalogEvent::search_complete), 0);
    EXPECT_GT(count(recorder, &CatalogEvent::folders_changed), 0);
    EXPECT_TRUE(find(later, docs_album("Trip")));
    EXPECT_TRUE(find(later, docs_album("New")));
    EXPECT_FALSE(find(later, docs_album("Old")));
    // The new folder's picture is built as a searched one would be.
    ASSERT_TRUE(poll_until(later, [&] {
        return later.picture_status(docs_album("New") + u"n.jpg", u"%my_documents%\\").state == PictureStatus::State::Ready;
    }));
    later.remove_listener(&recorder);
}

TEST_F(CatalogWatchTest, a_catalog_made_for_tests_neither_searches_nor_watches_until_asked)
{
    picture(m_docs / "Trip" / "a.jpg", 1);
    PhotoCatalog catalog(m_ini, false);
    catalog.start_worker();
    EXPECT_FALSE(catalog.search_under_way());
    EXPECT_EQ(catalog.watch_counts(), (std::pair<std::size_t, std::size_t> { 0, 0 }));
}

TEST_F(CatalogWatchTest, a_picture_in_a_new_folder_becomes_an_album_and_is_built_without_a_search)
{
    picture(m_docs / "Trip" / "a.jpg", 1);
    PhotoCatalog catalog(m_ini, false);
    test::Recorder recorder;
    start(catalog, recorder);
    ASSERT_EQ(catalog.get_folders_size(), 1);

    picture(m_docs / "2025" / "Summer" / "s.jpg", 2);
    // Told as a change of the list, never as a search.
    ASSERT_TRUE(poll_until(catalog, [&] { return count(recorder, &CatalogEvent::folders_changed) > 0; }, 20));
    ASSERT_TRUE(find(catalog, docs_album("2025\\Summer")));
    auto const added = *find(catalog, docs_album("2025\\Summer"));
    EXPECT_EQ(added.key_picture_path, docs_album("2025\\Summer") + u"s.jpg");
    EXPECT_EQ(added.folder_size, 1);
    EXPECT_EQ(added.drive_path, u"%my_documents%\\");
    EXPECT_EQ(catalog.get_folders_size(), 2);
    EXPECT_EQ(count(recorder, &CatalogEvent::search_complete), 0);
    EXPECT_EQ(catalog.searches_completed(), 1);
    // Its picture is built as a searched one would be.
    ASSERT_TRUE(poll_until(catalog, [&] {
        return catalog.picture_status(added.key_picture_path, added.drive_path).state == PictureStatus::State::Ready;
    }));
    // And the list kept says so for the next start.
    FileStream file(m_ini, OpenMode::Read);
    ASSERT_TRUE(file.is_open());
    auto const saved = folders_from_text(read_text(file).text);
    EXPECT_TRUE(std::any_of(saved.begin(), saved.end(), [&](FolderInfo const& f) { return f.folder_path == added.folder_path && f.folder_size == 1; }));
    catalog.remove_listener(&recorder);
}

TEST_F(CatalogWatchTest, pictures_that_come_and_go_change_an_album_and_a_removed_folder_takes_its_albums)
{
    picture(m_docs / "Trip" / "b.jpg", 1);
    picture(m_docs / "Old" / "x.jpg", 2);
    picture(m_docs / "Old" / "Inner" / "y.jpg", 3);
    picture(m_card / "DCIM" / "c.jpg", 4);
    PhotoCatalog catalog(m_ini, false);
    test::Recorder recorder;
    start(catalog, recorder);
    ASSERT_EQ(catalog.get_folders_size(), 4);

    picture(m_docs / "Trip" / "a.jpg", 5);
    ASSERT_TRUE(poll_until(catalog, [&] { return find(catalog, docs_album("Trip"))->folder_size == 2; }, 20));
    EXPECT_EQ(find(catalog, docs_album("Trip"))->key_picture_path, docs_album("Trip") + u"a.jpg");

    fs::remove(m_docs / "Trip" / "a.jpg");
    ASSERT_TRUE(poll_until(catalog, [&] { return find(catalog, docs_album("Trip"))->folder_size == 1; }, 20));
    EXPECT_EQ(find(catalog, docs_album("Trip"))->key_picture_path, docs_album("Trip") + u"b.jpg");

    fs::remove_all(m_docs / "Old");
    ASSERT_TRUE(poll_until(catalog, [&] { return catalog.get_folders_size() == 2; }, 20));
    EXPECT_FALSE(find(catalog, docs_album("Old\\Inner")));
    // Albums of the other root, with the same shape of path, stay.
    EXPECT_TRUE(find(catalog, album(m_card / "DCIM")));

    // A folder renamed is an album gone and one come.
    fs::rename(m_docs / "Trip", m_docs / "Journey");
    ASSERT_TRUE(poll_until(catalog, [&] { return find(catalog, docs_album("Journey")).has_value(); }, 20));
    EXPECT_FALSE(find(catalog, docs_album("Trip")));
    EXPECT_EQ(count(recorder, &CatalogEvent::search_complete), 0);
    EXPECT_EQ(catalog.searches_completed(), 1);
    catalog.remove_listener(&recorder);
}

TEST_F(CatalogWatchTest, cache_files_being_written_start_no_update)
{
    // The card keeps its cache files on itself, inside the watched tree.
    for (int i = 0; i < 6; ++i)
        picture(m_card / "DCIM" / ("p" + std::to_string(i) + ".jpg"), i);
    PhotoCatalog catalog(m_ini, false);
    PhotoCatalog::WatchOptions options;
    options.quiet_ms = 50;
    ASSERT_TRUE(catalog.start_watching(options));
    ASSERT_TRUE(poll_until(catalog, [&] { return catalog.watch_counts().first > 0; }, 10));
    catalog.start_worker();
    test::Recorder recorder;
    catalog.add_listener(&recorder);
    search_and_build(catalog, recorder);
    ASSERT_EQ(catalog.pending_count(), 0);
    // A change that is not one, for a mark in time: it comes after any
    // update the builds could have started.
    fs::create_directories(m_docs / "empty");
    ASSERT_TRUE(poll_until(catalog, [&] { return catalog.updates_completed() > 0; }, 20));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(catalog.updates_completed(), 1);
    EXPECT_EQ(count(recorder, &CatalogEvent::folders_changed), 0);
    catalog.remove_listener(&recorder);
}

TEST_F(CatalogWatchTest, albums_beyond_the_bound_of_watches_are_found_by_the_rescans)
{
    picture(m_docs / "A" / "a.jpg", 1);
    picture(m_docs / "B" / "Deep" / "b.jpg", 2);
    PhotoCatalog catalog(m_ini, false);
    catalog.start_worker();
    test::Recorder recorder;
    catalog.add_listener(&recorder);
    search_and_build(catalog, recorder);
    // Two watches: the card and the pictures folder themselves.
    PhotoCatalog::WatchOptions options;
    options.quiet_ms = 50;
    options.max_watches = 2;
    options.rescan_seconds = 1;
    ASSERT_TRUE(catalog.start_watching(options));
    ASSERT_TRUE(poll_until(catalog, [&] { return catalog.watch_counts().first == 2; }, 10));
    EXPECT_EQ(catalog.watch_counts().second, 2u) << "A and B left to the rescans";

    picture(m_docs / "B" / "Deep" / "c.jpg", 3);
    fs::remove_all(m_docs / "A");
    ASSERT_TRUE(poll_until(catalog, [&] {
        auto const deep = find(catalog, docs_album("B\\Deep"));
        return deep && deep->folder_size == 2 && !find(catalog, docs_album("A"));
    }, 20));
    EXPECT_EQ(count(recorder, &CatalogEvent::search_complete), 1);
    catalog.remove_listener(&recorder);
}

}
