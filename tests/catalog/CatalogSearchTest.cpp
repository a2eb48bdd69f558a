// The search of real trees and the cache worker.

#include "CatalogFixture.h"
#include "base/Paths.h"
#include "catalog/PhotoCatalog.h"
#include "thumbcache/CacheFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>

using namespace qv;
namespace fs = std::filesystem;

namespace {

class CatalogSearchTest : public test::CatalogTest {
protected:
    // Pictures of one test differ in size, so their cache names differ.
    void picture(fs::path const& path, int seed = 0)
    {
        fs::create_directories(path.parent_path());
        ASSERT_TRUE(test::write_jpeg(path, 80 + seed, 60 + seed, seed));
    }
    WString program(fs::path const& path) const { return test::program_form(path); }
};

struct Builds {
    std::mutex mutex;
    std::vector<std::pair<WString, bool>> list;
    void attach(PhotoCatalog& catalog)
    {
        catalog.set_build_observer([this](WString const& picture, bool built) {
            std::lock_guard lock(mutex);
            list.emplace_back(picture, built);
        });
    }
    size_t size()
    {
        std::lock_guard lock(mutex);
        return list.size();
    }
    int count(WString const& picture)
    {
        std::lock_guard lock(mutex);
        int n = 0;
        for (auto const& [p, built] : list)
            n += p == picture;
        return n;
    }
};

TEST_F(CatalogSearchTest, AlbumsOfCardsComeBeforeMyDocumentsWithTheirCaptionsAndKeyPictures)
{
    picture(m_docs / "b.jpg", 1);
    picture(m_docs / "Trip" / "z.jpg", 2);
    picture(m_docs / "Trip" / "a.jpeg", 3);
    picture(m_card / "DCIM" / "100" / "x.JPG", 4);
    picture(m_card / "DCIM" / "100" / "y.jpg", 5);
    // Not pictures: near names and a directory named like one.
    test::write_bytes(m_docs / "photo.jpgx", std::string("x"));
    test::write_bytes(m_docs / "notes.jpg.txt", std::string("x"));
    fs::create_directories(m_docs / "folder.jpg");

    // The worker alone: the searches are the test's.
    PhotoCatalog catalog(m_ini, false);
    catalog.start_worker();
    test::Recorder recorder;
    catalog.add_listener(&recorder);
    search_and_build(catalog, recorder);
    catalog.remove_listener(&recorder);

    auto folders = catalog.get_folders();
    ASSERT_EQ(folders.size(), 3u);
    WString card = program(m_card) + u"\\";
    EXPECT_EQ(folders[0].drive_path, card);
    EXPECT_EQ(folders[0].folder_path, card + u"DCIM\\100\\");
    EXPECT_EQ(folders[0].folder_size, 2);
    EXPECT_EQ(PhotoCatalog::folder_display_name(folders[0].key_picture_path), u"100");
    EXPECT_EQ(folders[1].drive_path, u"%my_documents%\\");
    EXPECT_EQ(folders[1].key_picture_path, u"%my_documents%\\b.jpg");
    EXPECT_EQ(folders[1].folder_size, 1);
    EXPECT_EQ(PhotoCatalog::folder_display_name(folders[1].key_picture_path), u"My documents");
    // Without dates taken, the first picture by name is the key picture,
    // whatever its extension.
    EXPECT_EQ(folders[2].key_picture_path, u"%my_documents%\\Trip\\a.jpeg");
    EXPECT_EQ(folders[2].folder_size, 2);
    EXPECT_EQ(PhotoCatalog::folder_display_name(folders[2].folder_path), u"Trip");

    // Every picture has its valid cache file under its own root.
    for (auto const& [picture_path, root] : std::vector<std::pair<WString, WString>> {
             { u"%my_documents%\\b.jpg", u"%my_documents%\\" },
             { u"%my_documents%\\Trip\\a.jpeg", u"%my_documents%\\" },
             { card + u"DCIM\\100\\x.JPG", card } }) {
        auto name = cache_file_name(picture_path, root);
        ASSERT_FALSE(name.empty());
        EXPECT_TRUE(is_cache_file_valid(name)) << to_utf8(picture_path);
    }
    EXPECT_EQ(files_in(cache_dir(m_docs)).size(), 3u);
    EXPECT_EQ(files_in(cache_dir(m_card)).size(), 2u);

    // The saved list is the one shown.
    PhotoCatalog* gone = nullptr;
    (void)gone;
}

TEST_F(CatalogSearchTest, SavedListMatchesTheSearchAndSurvivesARestart)
{
    picture(m_card / "a" / "p.jpg", 1);
    picture(m_docs / "q.jpg", 2);
    std::vector<FolderInfo> found;
    {
        // The worker alone: the searches are the test's.
        PhotoCatalog catalog(m_ini, false);
        catalog.start_worker();
        test::Recorder recorder;
        catalog.add_listener(&recorder);
        search_and_build(catalog, recorder);
        catalog.remove_listener(&recorder);
        found = catalog.get_folders();
    }
    PhotoCatalog again(m_ini, false);
    auto loaded = again.get_folders();
    ASSERT_EQ(loaded.size(), found.size());
    for (size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(loaded[i].key_picture_path, found[i].key_picture_path);
        EXPECT_EQ(loaded[i].folder_path, found[i].folder_path);
        EXPECT_EQ(loaded[i].drive_path, found[i].drive_path);
        EXPECT_EQ(loaded[i].folder_size, found[i].folder_size);
    }
}

TEST_F(CatalogSearchTest, ValidCachesAreKeptStaleOnesDeletedBadPicturesRetriedOncePerSearch)
{
    picture(m_docs / "good.jpg", 1);
    test::write_bytes(m_docs / "prog.jpg", std::string("a text file named like a picture"));
    // Outlives the worker that reports to it.
    Builds builds;
    PhotoCatalog catalog(m_ini, false);
    builds.attach(catalog);
    catalog.start_worker();
    test::Recorder recorder;
    catalog.add_listener(&recorder);

    search_and_build(catalog, recorder);
    WString good = u"%my_documents%\\good.jpg", bad = u"%my_documents%\\prog.jpg";
    auto bad_cache = cache_file_name(bad, u"%my_documents%\\");
    EXPECT_EQ(builds.count(good), 1);
    EXPECT_EQ(builds.count(bad), 1);
    // An unreadable picture ends as a marker that keeps its reason, read
    // back by a catalog that never built it; the good one is Ready with its
    // cache file.
    EXPECT_FALSE(is_cache_file_valid(bad_cache));
    EXPECT_EQ(read_picture_status(bad, u"%my_documents%\\").problem, PictureProblem::NotPicture);
    auto const bad_status = catalog.picture_status(bad, u"%my_documents%\\");
    EXPECT_EQ(bad_status.state, PictureStatus::State::Bad);
    EXPECT_EQ(bad_status.problem, PictureProblem::NotPicture);
    auto const good_status = catalog.picture_status(good, u"%my_documents%\\");
    EXPECT_EQ(good_status.state, PictureStatus::State::Ready);
    EXPECT_EQ(good_status.cache_file, cache_file_name(good, u"%my_documents%\\"));

    // A stale file of ours (its record names a picture that has gone) is
    // deleted by the next search; files that are not ours stay, a letter
    // with a cache file's name among them.
    auto const good_cache = test::read_bytes(test::system_form(good_status.cache_file));
    test::write_bytes(cache_dir(m_docs) / "1-20240101000000.000000000", good_cache);
    test::write_bytes(cache_dir(m_docs) / "12345", std::string("old"));
    test::write_bytes(cache_dir(m_docs) / "2-20240101000000.000000000", std::string("a letter"));
    search_and_build(catalog, recorder);
    EXPECT_EQ(builds.count(good), 1) << "a valid cache file is kept";
    EXPECT_EQ(builds.count(bad), 2) << "a bad picture is tried once more";
    auto names = files_in(cache_dir(m_docs));
    EXPECT_EQ(names.size(), 4u);
    EXPECT_FALSE(fs::exists(cache_dir(m_docs) / "1-20240101000000.000000000"));
    EXPECT_TRUE(fs::exists(cache_dir(m_docs) / "12345"));
    EXPECT_TRUE(fs::exists(cache_dir(m_docs) / "2-20240101000000.000000000"));
    EXPECT_EQ(catalog.get_folders_size(), 1);
    EXPECT_EQ(catalog.get_folder(0).folder_size, 2);
    catalog.remove_listener(&recorder);
}

TEST_F(CatalogSearchTest, CacheFilesCutShortOrEmptyAreRebuiltAndBuildLeftoversDeleted)
{
    for (int i = 0; i < 4; ++i)
        picture(m_docs / "album" / ("p" + std::to_string(i) + ".jpg"), i + 1);
    Builds builds;
    PhotoCatalog catalog(m_ini, false);
    builds.attach(catalog);
    catalog.start_worker();
    test::Recorder recorder;
    catalog.add_listener(&recorder);
    search_and_build(catalog, recorder);
    std::vector<WString> paths;
    std::vector<fs::path> caches;
    for (int i = 0; i < 4; ++i) {
        paths.push_back(u"%my_documents%\\album\\p" + to_wstring(i) + u".jpg");
        auto name = to_utf8(expand_path(cache_file_name(paths.back(), u"%my_documents%\\")));
        std::replace(name.begin(), name.end(), '\\', '/');
        caches.emplace_back(name);
        ASSERT_EQ(builds.count(paths.back()), 1);
        ASSERT_TRUE(is_cache_file_valid(program(caches.back())));
    }
    // A build leaves nothing but the cache files (its scratch files are gone).
    EXPECT_EQ(files_in(cache_dir(m_docs)).size(), 4u);

    // One byte cut off its end, the first would still pass a look at the
    // mark alone; the second is empty; the third is cut inside its header.
    // A build's leftover scratch file lies beside them.
    auto first = test::read_bytes(caches[0]);
    first.pop_back();
    test::write_bytes(caches[0], first);
    test::write_bytes(caches[1], std::string());
    test::write_bytes(caches[2], std::string("\x10\0\0\0\x02", 5));
    // Left by a build whose process has gone; a live one's would stay.
    pid_t const gone = fork();
    if (gone == 0)
        _exit(0);
    ASSERT_GT(gone, 0);
    ASSERT_EQ(waitpid(gone, nullptr, 0), gone);
    std::string const leftover = "~build-" + std::to_string(gone) + "-0.cache";
    std::string const live = "~build-" + std::to_string(getpid()) + "-99.cache";
    test::write_bytes(cache_dir(m_docs) / leftover, std::string(4000, '\0'));
    test::write_bytes(cache_dir(m_docs) / live, std::string(4000, '\0'));
    search_and_build(catalog, recorder);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(builds.count(paths[static_cast<size_t>(i)]), 2) << i;
        EXPECT_TRUE(is_cache_file_valid(program(caches[static_cast<size_t>(i)]))) << i;
        EXPECT_TRUE(read_cache_header(program(caches[static_cast<size_t>(i)]))) << i;
    }
    EXPECT_EQ(builds.count(paths[3]), 1) << "a complete file is kept";
    EXPECT_FALSE(fs::exists(cache_dir(m_docs) / leftover));
    EXPECT_TRUE(fs::exists(cache_dir(m_docs) / live));
    fs::remove(cache_dir(m_docs) / live);
    EXPECT_EQ(files_in(cache_dir(m_docs)).size(), 4u);
    ASSERT_EQ(catalog.get_folders_size(), 1);
    EXPECT_EQ(catalog.get_folder(0).folder_size, 4);
    EXPECT_EQ(catalog.get_folder(0).key_picture_path, paths[0]);
    catalog.remove_listener(&recorder);
}

TEST_F(CatalogSearchTest, NoPicturesGivesAnEmptyListSavedAsTheMarkAlone)
{
    // The worker alone: the searches are the test's.
    PhotoCatalog catalog(m_ini, false);
    catalog.start_worker();
    test::Recorder recorder;
    catalog.add_listener(&recorder);
    search_and_build(catalog, recorder);
    catalog.remove_listener(&recorder);
    EXPECT_EQ(catalog.get_folders_size(), 0);
    EXPECT_EQ(test::read_bytes(m_dir / "folders.ini"), (std::vector<unsigned char> { 0xFF, 0xFE }));
    EXPECT_EQ(recorder.count(&CatalogEvent::cache_complete), 0);
}

TEST_F(CatalogSearchTest, TwoRequestsBeforeTheWorkerWakesGiveOneSearch)
{
    picture(m_docs / "a.jpg");
    PhotoCatalog catalog(m_ini, false);
    test::Recorder recorder;
    catalog.add_listener(&recorder);
    catalog.need_search();
    catalog.need_search();
    catalog.start_worker();
    ASSERT_TRUE(poll_until(catalog, [&] { return recorder.count(&CatalogEvent::search_complete) == 1; }));
    ASSERT_TRUE(poll_until(catalog, [&] { return catalog.work_done(); }));
    catalog.poll_events();
    EXPECT_EQ(catalog.searches_completed(), 1);
    EXPECT_EQ(recorder.count(&CatalogEvent::search_complete), 1);
    catalog.remove_listener(&recorder);
}

TEST_F(CatalogSearchTest, ViewedPictureAndItsNeighboursAreBuiltFirst)
{
    // The pictures need not exist: the order of attempts is what counts.
    WString folder = program(m_docs / "Album") + u"\\";
    // Outlives the worker that reports to it.
    Builds builds;
    PhotoCatalog catalog(m_ini, false);
    catalog.set_build_threads(3);
    builds.attach(catalog);
    for (int i = 0; i < 100; ++i)
        catalog.add_picture(folder + u"p" + to_wstring(i) + u".jpg", u"%my_documents%\\");
    catalog.set_current_folder(folder);
    catalog.prioritize_picture(folder + u"p50.jpg", u"%my_documents%\\");
    catalog.start_worker();
    ASSERT_TRUE(poll_until(catalog, [&] { return builds.size() == 100; }));
    std::vector<int> expected { 50 };
    for (int d = 1; d <= 50; ++d) {
        expected.push_back(50 - d);
        if (50 + d < 100)
            expected.push_back(50 + d);
    }
    // Builds run three at once and end in any order, but are taken in
    // order: when the k-th is taken, at most two others are under way, so
    // at least k - 2 have ended before it.
    std::lock_guard lock(builds.mutex);
    ASSERT_EQ(builds.list.size(), expected.size());
    for (size_t i = 0; i < builds.list.size(); ++i) {
        auto const rank = std::find_if(expected.begin(), expected.end(), [&](int n) {
            return builds.list[i].first == folder + u"p" + to_wstring(n) + u".jpg";
        }) - expected.begin();
        EXPECT_LE(rank, static_cast<std::ptrdiff_t>(i) + 2) << "build " << i << " ended too early";
    }
}

TEST_F(CatalogSearchTest, QueuedPictureIsQueuedOnceAndTheLastBuildCompletesTheRound)
{
    picture(m_docs / "A" / "a.jpg", 1);
    picture(m_docs / "A" / "b.jpg", 2);
    picture(m_docs / "A" / "c.jpg", 3);
    WString folder = u"%my_documents%\\A\\";
    PhotoCatalog catalog(m_ini, false);
    // One at a time, so that the last queued is the last built.
    catalog.set_build_threads(1);
    test::Recorder recorder;
    catalog.add_listener(&recorder);
    for (auto name : { u"a.jpg", u"b.jpg", u"c.jpg", u"b.jpg", u"a.jpg" })
        catalog.add_picture(folder + name, u"%my_documents%\\");
    auto queue = catalog.pending_pictures(folder);
    ASSERT_EQ(queue.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(queue[i].order, i);
    catalog.start_worker();
    // Nobody polls until everything is built: one poll then tells all.
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!catalog.work_done() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    catalog.poll_events();
    ASSERT_EQ(recorder.events.size(), 2u);
    EXPECT_TRUE(recorder.events[0].picture_complete);
    EXPECT_EQ(recorder.events[0].picture_path, folder + u"c.jpg");
    EXPECT_TRUE(recorder.events[1].cache_complete);
    // The counters are back at 0: a further poll says nothing, and the next
    // picture starts a new round from 0.
    catalog.poll_events();
    EXPECT_EQ(recorder.events.size(), 2u);
    catalog.add_picture(folder + u"missing.jpg", u"%my_documents%\\");
    catalog.add_picture(folder + u"missing2.jpg", u"%my_documents%\\");
    ASSERT_TRUE(poll_until(catalog, [&] { return recorder.count(&CatalogEvent::cache_complete) == 2; }));
    for (auto const& e : recorder.events) {
        if (e.progress) {
            EXPECT_GE(e.progress_fraction, 0.0);
            EXPECT_LT(e.progress_fraction, 1.0);
        }
    }
    catalog.remove_listener(&recorder);
}

TEST_F(CatalogSearchTest, StopEndsALongSearchPromptlyAndKeepsTheOldList)
{
    // Wide enough that a whole search takes a good while.
    for (int d = 0; d < 40; ++d) {
        auto dir = m_docs / ("d" + std::to_string(d));
        fs::create_directories(dir);
        for (int f = 0; f < 400; ++f)
            test::write_bytes(dir / ("f" + std::to_string(f) + (f % 4 ? ".txt" : ".jpg")), std::string("x"));
    }
    test::write_bytes(m_dir / "folders.ini", std::string("\xFF\xFE", 2));
    auto before = test::read_bytes(m_dir / "folders.ini");
    double stop_seconds = 0;
    {
        auto catalog = std::make_unique<PhotoCatalog>(m_ini);
        catalog->need_search();
        // Well inside the search: the walk of this tree takes some tens of
        // milliseconds here, and the album list is written before the search
        // is counted.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        double const start = test::processor_seconds();
        bool whole = catalog->searches_completed() > 0;
        catalog.reset();
        stop_seconds = test::processor_seconds() - start;
        ASSERT_FALSE(whole) << "the search ended before the stop";
        EXPECT_EQ(test::read_bytes(m_dir / "folders.ini"), before);
    }
    EXPECT_LT(stop_seconds, 0.5);
}

TEST_F(CatalogSearchTest, StopEndsALongBuildPromptlyWithoutAValidCacheFile)
{
    fs::create_directories(m_docs / "big");
    // Large enough that its build outlasts the wait below; the builder looks
    // at the flag every few rows.
    ASSERT_TRUE(test::write_jpeg(m_docs / "big" / "huge.jpg", 8000, 6000, 7));
    WString big = u"%my_documents%\\big\\huge.jpg";
    double start = 0;
    bool building = false;
    {
        // Outlives the worker that reports to it.
        Builds builds;
        PhotoCatalog catalog(m_ini, false);
        builds.attach(catalog);
        catalog.start_worker();
        catalog.add_picture(big, u"%my_documents%\\");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        start = test::processor_seconds();
        building = builds.size() == 0;
    }
    double const stop_seconds = test::processor_seconds() - start;
    ASSERT_TRUE(building) << "the build ended before the stop";
    EXPECT_LT(stop_seconds, 0.5);
    EXPECT_FALSE(is_cache_file_valid(cache_file_name(big, u"%my_documents%\\")));
}

}

TEST_F(CatalogSearchTest, TheEndOfBuildingIsToldEvenWhenTheNextSearchStartsBeforeAnyoneHeardIt)
{
    picture(m_docs / "a.jpg", 1);
    picture(m_docs / "b.jpg", 2);
    std::mutex mutex;
    std::condition_variable changed;
    int built = 0;
    bool go_on = false;
    PhotoCatalog catalog(m_ini, false);
    catalog.set_build_observer([&](WString const&, bool) {
        std::unique_lock lock(mutex);
        if (++built == 2)
            changed.wait_for(lock, std::chrono::seconds(20), [&] { return go_on; });
        changed.notify_all();
    });
    catalog.start_worker();
    test::Recorder recorder;
    catalog.add_listener(&recorder);
    catalog.need_search();
    // The first build is told as progress: a progress bar is up.
    ASSERT_TRUE(poll_until(catalog, [&] { return recorder.count(&CatalogEvent::progress) > 0; }, 30));

    // The last build ends and a search starts again, all before the next
    // poll; that search finds nothing to build.
    {
        std::lock_guard lock(mutex);
        go_on = true;
        changed.notify_all();
    }
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!catalog.work_done() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    int const searches = catalog.searches_completed();
    catalog.need_search();
    while (catalog.searches_completed() == searches && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(catalog.searches_completed(), searches + 1);

    catalog.poll_events();
    EXPECT_EQ(recorder.count(&CatalogEvent::cache_complete), 1) << "the bar would stay up";
    catalog.poll_events();
    EXPECT_EQ(recorder.count(&CatalogEvent::cache_complete), 1) << "told once";
    catalog.remove_listener(&recorder);
}
