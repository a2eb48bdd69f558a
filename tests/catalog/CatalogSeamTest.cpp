// What the screens ask the catalog and when they hear back: the status of a
// picture, the requests, the events only from poll_events, and the one
// listing of an album's pictures.

#include "CatalogFixture.h"
#include "base/Paths.h"
#include "catalog/AlbumListing.h"
#include "catalog/PhotoCatalog.h"
#include "thumbcache/CacheFile.h"
#include "thumbcache/CacheLocation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <mutex>

using namespace qv;
namespace fs = std::filesystem;

namespace {

// Pictures are named as the search names them, under the documents root.
class CatalogSeamTest : public test::CatalogTest {
protected:
    static WString root() { return u"%my_documents%\\"; }
    // `name` with "/" between its parts.
    static WString named(std::string name)
    {
        std::replace(name.begin(), name.end(), '/', '\\');
        return root() + from_utf8(name);
    }
    WString picture(std::string const& name, int seed)
    {
        fs::create_directories((m_docs / name).parent_path());
        EXPECT_TRUE(test::write_jpeg(m_docs / name, 70 + seed, 50 + seed, seed));
        return named(name);
    }
    static fs::path cache_path(WString const& picture)
    {
        return test::system_form(expand_path(cache_file_name(picture, root())));
    }
    WString not_a_picture(std::string const& name)
    {
        fs::create_directories((m_docs / name).parent_path());
        test::write_bytes(m_docs / name, std::string("a text file named like a picture"));
        return named(name);
    }
};

// A listener that asks the catalog for more from inside each event, as the
// viewer does, and polls again: none of it may come back to it at once.
struct Reentrant : test::Recorder {
    PhotoCatalog* catalog { nullptr };
    WString picture;
    WString root;
    int depth { 0 };
    int deepest { 0 };
    void on_catalog_event(CatalogEvent const& event) override
    {
        deepest = std::max(deepest, ++depth);
        Recorder::on_catalog_event(event);
        catalog->set_key_picture(picture, picture);
        catalog->prioritize_picture(picture, root);
        catalog->poll_events();
        --depth;
    }
};

TEST_F(CatalogSeamTest, ListenersHearOnlyFromPollEventsAndNeverFromInsideTheirOwnRequests)
{
    WString const p = picture("album/p.jpg", 1);
    PhotoCatalog catalog(m_ini, false);
    Reentrant listener;
    listener.catalog = &catalog;
    listener.picture = p;
    listener.root = root();
    catalog.add_listener(&listener);

    catalog.set_folder_size(p, 3);
    catalog.set_key_picture(p, p);
    catalog.add_picture(p, root());
    catalog.prioritize_picture(p, root());
    EXPECT_TRUE(listener.events.empty()) << "a request told a listener";

    // Each poll tells what came before it; what the listener asked while it
    // was told waits for the next poll, however often it asks.
    for (int poll = 1; poll <= 3; ++poll) {
        catalog.poll_events();
        EXPECT_EQ(listener.count(&CatalogEvent::folders_changed), poll);
    }
    EXPECT_EQ(listener.deepest, 1);
    catalog.remove_listener(&listener);
}

TEST_F(CatalogSeamTest, StatusFollowsThePictureFromBuildingToReadyOrBadWithItsReason)
{
    WString const good = picture("album/good.jpg", 1);
    WString const text = not_a_picture("album/text.jpg");
    WString const empty = named("album/empty.jpg");
    test::write_bytes(m_docs / "album" / "empty.jpg", std::string());
    WString const gone = named("album/gone.jpg");
    PhotoCatalog catalog(m_ini, false);

    auto const missing = catalog.picture_status(gone, root());
    EXPECT_EQ(missing.state, PictureStatus::State::Missing);
    EXPECT_EQ(missing.problem, PictureProblem::Missing);
    for (auto const& p : { good, text, empty })
        EXPECT_EQ(catalog.picture_status(p, root()).state, PictureStatus::State::Building) << to_utf8(p);

    test::Recorder recorder;
    catalog.add_listener(&recorder);
    for (auto const& p : { good, text, empty })
        catalog.add_picture(p, root());
    catalog.start_worker();
    ASSERT_TRUE(poll_until(catalog, [&] { return recorder.count(&CatalogEvent::cache_complete) == 1; }));
    catalog.remove_listener(&recorder);

    auto const ready = catalog.picture_status(good, root());
    EXPECT_EQ(ready.state, PictureStatus::State::Ready);
    EXPECT_TRUE(is_cache_file_valid(ready.cache_file));
    EXPECT_EQ(strip_trailing_separator(directory_of(ready.cache_file)), cache_directory_of(root()));
    auto const bad = catalog.picture_status(text, root());
    EXPECT_EQ(bad.state, PictureStatus::State::Bad);
    EXPECT_EQ(bad.problem, PictureProblem::NotPicture);
    EXPECT_TRUE(bad.cache_file.empty());
    EXPECT_EQ(catalog.picture_status(empty, root()).problem, PictureProblem::Empty);
}

TEST_F(CatalogSeamTest, AMarkerLeftByAnEarlierRunKeepsItsReasonUntilThePictureChanges)
{
    WString const text = not_a_picture("album/text.jpg");
    PictureProblem problem = PictureProblem::None;
    ASSERT_FALSE(build_picture_cache(text, root(), nullptr, problem));
    ASSERT_EQ(problem, PictureProblem::NotPicture);
    {
        PhotoCatalog catalog(m_ini, false);
        auto const status = catalog.picture_status(text, root());
        EXPECT_EQ(status.state, PictureStatus::State::Bad);
        EXPECT_EQ(status.problem, PictureProblem::NotPicture);
    }
    // Mended since: the marker is of the picture as it was.
    ASSERT_TRUE(test::write_jpeg(m_docs / "album" / "text.jpg", 40, 30, 1));
    PhotoCatalog catalog(m_ini, false);
    EXPECT_EQ(catalog.picture_status(text, root()).state, PictureStatus::State::Building);
}

// The unreadable picture's marker cannot be written: a directory stands at
// its name (a write-protected directory would not stop the tests, which run
// as root).
TEST_F(CatalogSeamTest, AFailedBuildStaysBadWithoutItsMarkerAndIsTriedAgainOnlyByTheNextSearch)
{
    WString const text = not_a_picture("album/text.jpg");
    fs::create_directories(cache_dir(m_docs));
    fs::create_directory(cache_path(text));
    std::mutex mutex;
    int attempts = 0;
    PhotoCatalog catalog(m_ini, false);
    catalog.set_build_observer([&](WString const& p, bool) {
        std::lock_guard lock(mutex);
        attempts += p == text;
    });
    auto tried = [&] {
        std::lock_guard lock(mutex);
        return attempts;
    };
    catalog.start_worker();
    catalog.prioritize_picture(text, root());
    ASSERT_TRUE(poll_until(catalog, [&] { return tried() == 1 && catalog.pending_count() == 0; }));
    auto const status = catalog.picture_status(text, root());
    EXPECT_EQ(status.state, PictureStatus::State::Bad);
    EXPECT_EQ(status.problem, PictureProblem::NotPicture);

    // Asked for again, as a viewer that reloads it would: not queued.
    catalog.prioritize_picture(text, root());
    EXPECT_EQ(catalog.pending_count(), 0);

    test::Recorder recorder;
    catalog.add_listener(&recorder);
    search_and_build(catalog, recorder);
    catalog.remove_listener(&recorder);
    EXPECT_EQ(tried(), 2) << "the search tries every picture again";
    EXPECT_EQ(catalog.picture_status(text, root()).state, PictureStatus::State::Bad);
}

TEST_F(CatalogSeamTest, APictureNotYetQueuedIsQueuedFirstWhenItIsViewed)
{
    WString const folder = named("album/");
    PhotoCatalog catalog(m_ini, false);
    for (int i = 0; i < 5; ++i)
        catalog.add_picture(folder + u"p" + to_wstring(i) + u".jpg", root());
    catalog.set_current_folder(named("other/"));
    catalog.prioritize_picture(folder + u"viewed.jpg", root());
    auto const queue = catalog.pending_pictures(folder);
    ASSERT_EQ(queue.size(), 6u);
    EXPECT_EQ(queue[0].path, folder + u"viewed.jpg");
    EXPECT_EQ(queue[1].path, folder + u"p4.jpg") << "then its nearest neighbour";
    // Queued once, however often it is viewed.
    catalog.prioritize_picture(folder + u"viewed.jpg", root());
    EXPECT_EQ(catalog.pending_count(), 6);
}

TEST_F(CatalogSeamTest, AnAlbumListsItsPicturesWhateverTheirExtensionAndATreeListsThemAlbumByAlbum)
{
    for (auto const* name : { "b.JPG", "a.jpeg", "c.jpg", "sub/e.jpg", "sub/d.Jpeg", "sub/deeper/f.jpg" }) {
        fs::create_directories((m_docs / name).parent_path());
        test::write_bytes(m_docs / name, std::string("x"));
    }
    for (auto const* other : { "notes.txt", ".hidden.jpg", "jpg" })
        test::write_bytes(m_docs / other, std::string("x"));
    WString const docs = test::program_form(m_docs);
    auto const at = [&](char16_t const* name) { return docs + u"\\" + name; };

    EXPECT_EQ(album_pictures(docs), (std::vector<WString> { at(u"a.jpeg"), at(u"b.JPG"), at(u"c.jpg") }));
    EXPECT_EQ(album_pictures(docs + u"\\"), album_pictures(docs));
    EXPECT_TRUE(album_pictures(at(u"absent")).empty());

    std::vector<WString> all;
    EXPECT_TRUE(pictures_under(docs, all));
    EXPECT_EQ(all, (std::vector<WString> { at(u"a.jpeg"), at(u"b.JPG"), at(u"c.jpg"), at(u"sub\\d.Jpeg"),
                       at(u"sub\\e.jpg"), at(u"sub\\deeper\\f.jpg") }));

    std::atomic<bool> const stop { true };
    std::vector<WString> cut;
    EXPECT_FALSE(pictures_under(docs, cut, &stop));
}

}
