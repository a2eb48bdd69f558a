#include "catalog/CatalogFile.h"
#include "catalog/PhotoCatalog.h"
#include "imaging/JpegCodec.h"
#include "screens/AlbumForm.h"
#include "screens/MenuForm.h"
#include "widgets/TileView.h"
#include "skin/ElementRegistry.h"
#include "support/TestSupport.h"
#include "widgets/TextElement.h"
#include "widgets/WidgetFixture.h"
#include "thumbcache/CacheLocation.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

namespace qv {
namespace {

namespace fs = std::filesystem;
using test::ScopedEnv;
using test::TempDir;

fs::path const kBin = fs::path(QUILVANE_APP_DIR) / "skins" / "bin";

bool write_picture(fs::path const& path)
{
    auto encoder = JpegEncoder::open(test::program_form(path), 64, 48);
    if (!encoder)
        return false;
    std::vector<std::uint8_t> row(64 * 3, 128);
    for (int y = 0; y < 48; ++y)
        encoder->write_row(row);
    return encoder->finish();
}

class BrowsingScreensTest : public ::testing::Test {
protected:
    TempDir m_dir;
    ScopedEnv m_docs { "QUILVANE_DOCUMENTS", (m_dir / "docs").string() };
    ScopedEnv m_cards { "QUILVANE_CARDS", (m_dir / "cards").string() };
    ScopedEnv m_screen { "QUILVANE_SCREEN", "240x320@96" };
    test::WidgetTypesScope m_types;
    Properties m_store;
    WString m_root;

    void SetUp() override
    {
        register_element_type(u"bigpicture", [](Element* parent) -> Element* { return new TileView(parent); });
        fs::create_directories(m_dir / "docs" / "Trip");
        fs::create_directories(m_dir / "cards");
        ASSERT_TRUE(m_store.load_skin(test::program_form(kBin / "default.skin"), DisplayInfo { 240, 320, 96 }));
        m_root = test::program_form(m_dir / "docs") + u"\\";
    }
    void TearDown() override { unregister_element_type(u"bigpicture"); }

    // An album list file naming `albums` as album 0 onwards.
    WString write_ini(std::vector<FolderInfo> const& albums)
    {
        std::ofstream out(m_dir / "folders.ini", std::ios::binary);
        WString const text = u"\uFEFF" + folders_to_text(albums);
        out.write(reinterpret_cast<char const*>(text.data()), static_cast<std::streamsize>(text.size() * 2));
        return m_dir.program_path("folders.ini");
    }

    WString trip_picture(int i) const { return test::program_form(m_dir / "docs" / "Trip" / ("t" + std::to_string(i) + ".jpg")); }
};

TEST_F(BrowsingScreensTest, opening_an_album_counts_its_pictures_and_lays_them_out_in_rows)
{
    for (int i = 10; i < 23; ++i)
        ASSERT_TRUE(write_picture(test::system_form(trip_picture(i))));
    // The list still remembers 5 pictures and a cover that is gone.
    FolderInfo const stale { m_root, test::program_form(m_dir / "docs" / "Trip") + u"\\", trip_picture(99), 5 };
    PhotoCatalog catalog(write_ini({ stale }), false);
    ASSERT_EQ(catalog.get_folders_size(), 1);

    FolderForm form(m_store, catalog);
    form.set_visible(true);
    form.place(Size { 240, 320 });
    form.open_album(catalog.get_folder(0));

    EXPECT_EQ(form.pictures().size(), 13u);
    EXPECT_EQ(form.columns(), 4);
    EXPECT_EQ(form.list().item_count(), 4);
    FolderInfo const now = catalog.get_folder(0);
    EXPECT_EQ(now.folder_size, 13);
    EXPECT_EQ(now.key_picture_path, form.pictures().front());

    // One thumbnail a frame; none is cached, so each is queued for building.
    for (int frame = 1; frame <= 3; ++frame) {
        form.advance(0.02);
        EXPECT_EQ(form.next_to_load(), frame);
        EXPECT_EQ(catalog.pending_count(), frame);
    }

    // The last row holds one picture: its second cell opens nothing, its
    // first opens the viewer on picture 12.
    form.on_cell_click(3, 1);
    EXPECT_EQ(form.image_form().picture_count(), 0);
    form.on_cell_click(3, 0);
    EXPECT_EQ(form.image_form().picture_count(), 13);
    EXPECT_EQ(form.image_form().current(), 12);
}

TEST_F(BrowsingScreensTest, an_album_without_pictures_gets_size_zero_and_keeps_its_cover)
{
    FolderInfo const album { m_root, test::program_form(m_dir / "docs" / "Trip") + u"\\", trip_picture(1), 3 };
    PhotoCatalog catalog(write_ini({ album }), false);
    FolderForm form(m_store, catalog);
    form.place(Size { 240, 320 });
    form.open_album(catalog.get_folder(0));
    EXPECT_EQ(form.list().item_count(), 0);
    EXPECT_EQ(catalog.get_folder(0).folder_size, 0);
    EXPECT_EQ(catalog.get_folder(0).key_picture_path, trip_picture(1));
}

TEST_F(BrowsingScreensTest, the_empty_catalog_warns_and_the_progress_shows_until_the_caches_are_built)
{
    PhotoCatalog catalog(m_dir.program_path("absent.ini"), false);
    AlbumForm form(m_store, catalog);
    form.set_visible(true);
    form.place(Size { 240, 320 });
    EXPECT_TRUE(form.find_child(u"warning_text")->visible());
    EXPECT_TRUE(form.find_child(u"warning_image")->visible());
    EXPECT_FALSE(form.find_child(u"progress")->visible());

    auto& search = *form.find_child(u"btnSearch");
    ASSERT_TRUE(search.enabled());
    form.on_click(search, Point {});
    EXPECT_FALSE(search.enabled());
    EXPECT_TRUE(form.search_running());

    CatalogEvent progress;
    progress.progress = true;
    progress.progress_fraction = 0.25;
    form.on_catalog_event(progress);
    EXPECT_TRUE(form.find_child(u"progress")->visible());

    CatalogEvent done;
    done.search_complete = true;
    form.on_catalog_event(done);
    EXPECT_FALSE(form.search_running());
    EXPECT_TRUE(search.enabled()) << "the search is over, though caches are still being built";
    EXPECT_TRUE(form.find_child(u"progress")->visible());
    // No album was found: the warning stays.
    EXPECT_TRUE(form.find_child(u"warning_text")->visible());

    CatalogEvent built;
    built.cache_complete = true;
    form.on_catalog_event(built);
    EXPECT_TRUE(search.enabled());
    EXPECT_FALSE(form.find_child(u"progress")->visible());
}

// Frames of the album list, as the frame loop runs them, until `done` or
// the deadline: a catalog that never answers fails the test instead of
// hanging it.
bool frames_until(AlbumForm& form, std::function<bool()> const& done, double seconds = 30)
{
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        form.advance(0.02);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

TEST_F(BrowsingScreensTest, the_search_button_is_disabled_while_a_search_runs_and_enabled_after_each)
{
    // The worker starts late, so the search is known to be running for as
    // many frames as the test likes.
    PhotoCatalog catalog(m_dir.program_path("folders.ini"), false);
    AlbumForm form(m_store, catalog);
    form.set_visible(true);
    form.place(Size { 240, 320 });
    auto& search = *form.find_child(u"btnSearch");

    form.on_click(search, Point {});
    for (int frame = 0; frame < 5; ++frame) {
        form.advance(0.02);
        EXPECT_FALSE(search.enabled()) << "frame " << frame;
        EXPECT_TRUE(form.search_running()) << "frame " << frame;
    }
    ASSERT_TRUE(catalog.start_worker());

    // Nothing to build: no cache completion comes, and the end of each
    // search alone must bring the button back, search after search.
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        if (round > 1) {
            ASSERT_TRUE(search.enabled());
            form.on_click(search, Point {});
            EXPECT_FALSE(search.enabled());
        }
        ASSERT_TRUE(frames_until(form, [&] { return !form.search_running(); }));
        EXPECT_EQ(catalog.searches_completed(), round);
        EXPECT_TRUE(search.enabled());
        EXPECT_FALSE(form.find_child(u"progress")->visible());
        EXPECT_TRUE(form.find_child(u"warning_text")->visible());
    }
    // More frames change nothing.
    for (int frame = 0; frame < 5; ++frame)
        form.advance(0.02);
    EXPECT_TRUE(search.enabled());
}

TEST_F(BrowsingScreensTest, the_search_button_comes_back_at_the_end_of_the_search_while_caches_build)
{
    ASSERT_TRUE(write_picture(test::system_form(trip_picture(1))));
    PhotoCatalog catalog(m_dir.program_path("folders.ini"), false);
    // The build of the one picture is held until the test lets it go, so
    // the cache building is known to be still under way.
    std::mutex mutex;
    std::condition_variable changed;
    bool held = false;
    bool released = false;
    catalog.set_build_observer([&](WString const&, bool) {
        std::unique_lock lock(mutex);
        held = true;
        changed.notify_all();
        changed.wait(lock, [&] { return released; });
    });
    // Declared after the catalog, so it lets the worker go before the
    // catalog's destructor waits for it, whatever fails on the way.
    struct Release {
        std::mutex& mutex;
        std::condition_variable& changed;
        bool& released;
        void operator()()
        {
            std::lock_guard lock(mutex);
            released = true;
            changed.notify_all();
        }
        ~Release() { (*this)(); }
    } release { mutex, changed, released };
    AlbumForm form(m_store, catalog);
    form.set_visible(true);
    form.place(Size { 240, 320 });
    auto& search = *form.find_child(u"btnSearch");
    ASSERT_TRUE(catalog.start_worker());

    form.on_click(search, Point {});
    EXPECT_FALSE(search.enabled());
    ASSERT_TRUE(frames_until(form, [&] { return !form.search_running(); }));
    EXPECT_TRUE(search.enabled());
    EXPECT_FALSE(form.find_child(u"warning_text")->visible()) << "the album was found";
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(30), [&] { return held; }));
    }
    EXPECT_EQ(catalog.pending_count(), 1) << "the picture is still being built";

    // A second search while the first one's picture is still being built.
    form.on_click(search, Point {});
    EXPECT_FALSE(search.enabled());
    form.advance(0.02);
    EXPECT_FALSE(search.enabled()) << "the worker is held: the search cannot have run";
    release();
    ASSERT_TRUE(frames_until(form, [&] { return !form.search_running(); }));
    EXPECT_TRUE(search.enabled());
    ASSERT_TRUE(frames_until(form, [&] { return catalog.pending_count() == 0; }));
    EXPECT_EQ(catalog.searches_completed(), 2);
    EXPECT_TRUE(search.enabled());
}

TEST_F(BrowsingScreensTest, albums_replace_the_warning_and_rows_show_names_that_differ_and_the_counts_the_viewer_shows)
{
    ASSERT_TRUE(write_picture(test::system_form(trip_picture(1))));
    auto const misc = [&](char const* parent, int pictures) {
        fs::path const directory = m_dir / "docs" / parent / "Misc";
        fs::create_directories(directory);
        for (int i = 0; i < pictures; ++i)
            EXPECT_TRUE(write_picture(directory / ("m" + std::to_string(i) + ".jpg")));
        // Neither counted nor shown: a hidden file and a directory named
        // like pictures.
        test::write_bytes(directory / ".hidden.jpg", std::string("x"));
        fs::create_directories(directory / "folder.jpg");
        return FolderInfo { m_root, test::program_form(directory) + u"\\",
            test::program_form(directory / "m0.jpg"), 2 };
    };
    // The list file is older than the pictures: its counts are out of date.
    FolderInfo const trip { m_root, test::program_form(m_dir / "docs" / "Trip") + u"\\", trip_picture(1), 7 };
    std::vector<FolderInfo> const albums { misc("Trips", 3), misc("Work", 2), trip };
    PhotoCatalog catalog(write_ini(albums), false);
    AlbumForm form(m_store, catalog);
    form.set_visible(true);
    form.place(Size { 240, 320 });
    RenderSurface screen { Size { 240, 320 } };
    form.paint(screen.target(), Point {});
    ASSERT_TRUE(write_picture(m_dir / "docs" / "Work" / "Misc" / "late.JPEG"));

    EXPECT_FALSE(form.find_child(u"warning_text")->visible());
    ASSERT_EQ(form.list().items().size(), 3u);
    auto const row_text = [&](std::size_t index, WStringView id) {
        auto* row = dynamic_cast<AlbumElement*>(form.list().items()[index].get());
        EXPECT_NE(row, nullptr);
        auto* text = row ? dynamic_cast<TextElement*>(row->find_child(id)) : nullptr;
        return text ? text->text() : WString(u"?");
    };
    EXPECT_EQ(row_text(0, u"name"), u"Trips/Misc");
    EXPECT_EQ(row_text(1, u"name"), u"Work/Misc");
    EXPECT_EQ(row_text(2, u"name"), u"Trip");
    EXPECT_EQ(row_text(0, u"count"), u"3");
    EXPECT_EQ(row_text(2, u"count"), u"1");
    // No cache file yet: the row waits and the cover is queued.
    auto* first = dynamic_cast<AlbumElement*>(form.list().items().front().get());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->thumbnail_state(), ThumbnailState::Loading);

    // A picture that came after the rows were made is counted when the list
    // is made again, as the album counts it when it opens.
    form.list().set_provider(&form, catalog.get_folders_size());
    form.paint(screen.target(), Point {});
    for (std::size_t index = 0; index < albums.size(); ++index) {
        WString const shown = row_text(index, u"count");
        WString const name = row_text(index, u"name");
        form.on_item_clicked(form.list(), static_cast<std::int32_t>(index));
        auto* title = dynamic_cast<TextElement*>(form.folder_form().find_child(u"btnText"));
        ASSERT_NE(title, nullptr);
        EXPECT_EQ(title->text(), name) << "the album's screen names it as its row does";
        form.folder_form().on_cell_click(0, 0);
        EXPECT_EQ(to_wstring(form.folder_form().image_form().picture_count()), shown) << index;
        EXPECT_EQ(to_wstring(catalog.get_folder(static_cast<int>(index)).folder_size), shown) << index;
    }
    EXPECT_EQ(row_text(1, u"count"), u"3");
}

TEST_F(BrowsingScreensTest, the_album_list_and_the_menus_widen_to_a_readable_measure_and_centre_beyond_it)
{
    PhotoCatalog catalog(m_dir.program_path("absent.ini"), false);
    auto const millimetres = [](std::int32_t pixels, std::int32_t dpi) { return pixels * 25.4 / dpi; };
    auto const centred = [](Element const& e, std::int32_t width) {
        std::int32_t const left = e.position().x, right = width - (e.position().x + e.size().width);
        return std::abs(left - right) <= 1;
    };
    struct Screen {
        std::int32_t width, height, dpi;
        bool wide; // wider than every limit
    };
    for (Screen const screen : { Screen { 240, 320, 96, false }, Screen { 720, 1280, 320, false },
             Screen { 1920, 1080, 96, true }, Screen { 2560, 1440, 192, true } }) {
        SCOPED_TRACE(testing::Message() << screen.width << "x" << screen.height << "@" << screen.dpi);
        Properties store;
        ASSERT_TRUE(store.load_skin(test::program_form(kBin / "default.skin"),
            DisplayInfo { screen.width, screen.height, screen.dpi }));
        Size const size { screen.width, screen.height };
        AlbumForm albums(store, catalog);
        albums.set_visible(true);
        albums.place(size);
        Element const& list = albums.list();
        Element const& search = *albums.find_child(u"btnSearch");
        // The header's buttons keep to the window's edges whatever the width.
        EXPECT_GT(search.position().x + search.size().width, screen.width - screen.width / 20);
        EXPECT_TRUE(centred(list, screen.width));

        MenuForm menu(store);
        menu.set_visible(true);
        menu.place(size);
        Element const& tiles = *menu.find_child(u"grid");
        EXPECT_TRUE(centred(tiles, screen.width));

        MenuScreen& popup = albums.popup();
        popup.set_visible(true);
        popup.place(size);
        ASSERT_NE(popup.panel(), nullptr);
        EXPECT_TRUE(centred(*popup.panel(), screen.width));

        if (screen.wide) {
            // About 120 mm of albums, 90 mm of menu, on any density.
            EXPECT_NEAR(millimetres(list.size().width, screen.dpi), 120, 3);
            EXPECT_NEAR(millimetres(popup.panel()->size().width, screen.dpi), 90, 3);
            EXPECT_LT(millimetres(tiles.size().width, screen.dpi), 90);
            EXPECT_LT(millimetres(tiles.size().height, screen.dpi), 95);
        } else {
            // A phone's whole width.
            EXPECT_EQ(list.size().width, screen.width);
            EXPECT_GT(popup.panel()->size().width, screen.width * 9 / 10);
            EXPECT_GT(tiles.size().width, screen.width * 9 / 10);
        }
    }
}

TEST_F(BrowsingScreensTest, the_album_list_supplies_the_main_and_exit_menus)
{
    PhotoCatalog catalog(m_dir.program_path("absent.ini"), false);
    AlbumForm form(m_store, catalog);
    std::vector<MenuItem> items;
    WString caption;
    form.get_items(form.popup(), u"MainMenu", caption, items);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].id, u"Back");
    EXPECT_EQ(items[0].style, u"MenuElementCancel");
    EXPECT_EQ(items[1].id, u"Exit");

    items.clear();
    form.get_items(form.popup(), u"Exit", caption, items);
    EXPECT_EQ(caption, m_store.text(u"ExitCaption"));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].id, u"ReallyExit");
    EXPECT_EQ(items[0].style, u"MenuElementRed");
    EXPECT_EQ(items[1].id, u"Cancel");

    // Choices that are no menu close the popup: no items.
    items.clear();
    form.get_items(form.popup(), u"Cancel", caption, items);
    EXPECT_TRUE(items.empty());
}

TEST_F(BrowsingScreensTest, the_thumbnails_follow_the_keys_open_the_focused_picture_and_take_the_focus_back_from_the_viewer)
{
    for (int i = 10; i < 23; ++i)
        ASSERT_TRUE(write_picture(test::system_form(trip_picture(i))));
    FolderInfo const album { m_root, test::program_form(m_dir / "docs" / "Trip") + u"\\", trip_picture(10), 13 };
    PhotoCatalog catalog(write_ini({ album }), false);
    FolderForm form(m_store, catalog);
    form.set_visible(true);
    form.place(Size { 240, 320 });
    form.open_album(catalog.get_folder(0));
    form.advance(0.02);
    ASSERT_EQ(form.columns(), 4);
    ASSERT_EQ(form.focused(), &form.list());
    EXPECT_EQ(form.list().focus_index(), 0);
    auto const key = [&](Key k) { return form.on_key(KeyInput { k, true, true }); };

    // Along the first row and on into the second.
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(key(Key::Right));
    EXPECT_EQ(form.list().focus_index(), 4);
    EXPECT_TRUE(key(Key::Down));
    EXPECT_EQ(form.list().focus_index(), 8);
    EXPECT_TRUE(key(Key::End));
    EXPECT_EQ(form.list().focus_index(), 12);
    // The frame goes round the thumbnail's own cell, not the whole row.
    Rect const cell = form.list().focus_rect();
    EXPECT_LT(cell.width(), 240 / 3);
    EXPECT_GT(cell.width(), 0);
    EXPECT_TRUE(Form::focus_frame_mode());

    EXPECT_TRUE(key(Key::Enter));
    EXPECT_EQ(form.image_form().picture_count(), 13);
    EXPECT_EQ(form.image_form().current(), 12);
    // The viewer moves on, then is left: the focus follows its picture.
    form.image_form().go_to(5);
    ASSERT_EQ(form.image_form().current(), 5);
    form.image_form().set_visible(false);
    form.advance(0.02);
    EXPECT_EQ(form.list().focus_index(), 5);
    EXPECT_FALSE(form.list().focus_rect().is_empty());

    // Another album starts on its first picture.
    form.open_album(catalog.get_folder(0));
    EXPECT_EQ(form.list().focus_index(), 0);
}

TEST_F(BrowsingScreensTest, the_album_list_starts_on_the_first_album_keeps_its_place_across_a_refresh_and_opens_the_menu_with_f1)
{
    for (int i = 1; i <= 3; ++i)
        fs::create_directories(m_dir / "docs" / ("A" + std::to_string(i)));
    std::vector<FolderInfo> albums;
    for (int i = 1; i <= 3; ++i) {
        WString const folder = test::program_form(m_dir / "docs" / ("A" + std::to_string(i))) + u"\\";
        albums.push_back(FolderInfo { m_root, folder, folder + u"p.jpg", 1 });
    }
    PhotoCatalog catalog(write_ini(albums), false);
    AlbumForm form(m_store, catalog);
    form.set_visible(true);
    form.place(Size { 240, 320 });
    form.advance(0.02);
    ASSERT_EQ(form.focused(), &form.list());
    EXPECT_EQ(form.list().focus_index(), 0);

    EXPECT_TRUE(form.on_key(KeyInput { Key::Down, true, true }));
    EXPECT_TRUE(form.on_key(KeyInput { Key::Down, true, true }));
    EXPECT_EQ(form.list().focus_index(), 2);
    CatalogEvent changed;
    changed.folders_changed = true;
    form.on_catalog_event(changed);
    EXPECT_EQ(form.list().item_count(), 3);
    EXPECT_EQ(form.list().focus_index(), 2);

    EXPECT_FALSE(form.menu_form().visible());
    EXPECT_TRUE(form.on_key(KeyInput { Key::SoftLeft, true, true }));
    EXPECT_TRUE(form.menu_form().visible());
    EXPECT_EQ(form.menu_form().focused(), form.menu_form().find_child(u"btnBack"));
    // Up from the list's first row reaches the bar's buttons.
    EXPECT_TRUE(form.on_key(KeyInput { Key::Home, true, true }));
    EXPECT_TRUE(form.on_key(KeyInput { Key::Up, true, true }));
    EXPECT_NE(dynamic_cast<ButtonElement*>(form.focused()), nullptr);
}

TEST_F(BrowsingScreensTest, help_is_the_language_page_or_the_key_itself)
{
    EXPECT_EQ(help_page_path(m_store), u"%app_path%\\Help_link");
}


TEST_F(BrowsingScreensTest, a_storage_that_refuses_cache_files_is_named_once_on_the_album_list_until_a_search_finds_it_mended)
{
    ASSERT_TRUE(write_picture(m_dir / "docs" / "Trip" / "t0.jpg"));
    ASSERT_TRUE(write_picture(m_dir / "docs" / "Trip" / "t1.jpg"));
    // A file where the cache directory would be: nothing can be written.
    auto const caches = test::system_form(cache_directory_of(u"%my_documents%\\"));
    fs::create_directories(caches.parent_path());
    test::write_bytes(caches, std::string("in the way"));
    // The worker alone: the searches are the test's.
    PhotoCatalog catalog(m_dir.program_path("folders.ini"), false);
    catalog.start_worker();
    AlbumForm form(m_store, catalog);
    form.set_visible(true);
    form.place(Size { 240, 320 });
    auto& search = *form.find_child(u"btnSearch");
    auto const& message = dynamic_cast<TextElement&>(*form.find_child(u"storage_text"));
    EXPECT_FALSE(message.visible());

    form.on_click(search, Point {});
    ASSERT_TRUE(frames_until(form, [&] { return message.visible(); }));
    EXPECT_EQ(message.text(), m_store.text(u"StorageOther"));
    EXPECT_TRUE(frames_until(form, [&] { return !form.search_running() && catalog.pending_count() == 0; }));
    EXPECT_TRUE(message.visible());

    fs::remove(caches);
    form.on_click(search, Point {});
    ASSERT_TRUE(frames_until(form, [&] { return !message.visible(); }));
    EXPECT_TRUE(frames_until(form, [&] {
        return catalog.picture_status(trip_picture(0), m_root).state == PictureStatus::State::Ready;
    }));
}

}
}

namespace qv {
namespace {

TEST_F(BrowsingScreensTest, a_search_under_way_as_the_album_list_comes_shows_as_one_the_button_started)
{
    ASSERT_TRUE(write_picture(test::system_form(trip_picture(1))));
    // As a first start asks for it: before the screen is made, and the
    // worker late, so that it is still under way for as long as the test likes.
    PhotoCatalog catalog(m_dir.program_path("folders.ini"), false);
    catalog.need_search();
    AlbumForm form(m_store, catalog);
    form.set_visible(true);
    form.place(Size { 240, 320 });
    auto& search = *form.find_child(u"btnSearch");
    form.advance(0.02);
    EXPECT_TRUE(form.search_running());
    EXPECT_FALSE(search.enabled());

    ASSERT_TRUE(catalog.start_worker());
    ASSERT_TRUE(frames_until(form, [&] { return !form.search_running(); }));
    EXPECT_TRUE(search.enabled());
    EXPECT_EQ(form.list().item_count(), 1);
}

TEST_F(BrowsingScreensTest, albums_that_change_on_disk_change_the_list_in_place_without_a_search)
{
    // More albums than the screen holds.
    for (int i = 0; i < 12; ++i) {
        fs::create_directories(m_dir / "docs" / ("Album " + std::to_string(i)));
        ASSERT_TRUE(write_picture(m_dir / "docs" / ("Album " + std::to_string(i)) / "p.jpg"));
    }
    PhotoCatalog catalog(m_dir.program_path("folders.ini"), false);
    ASSERT_TRUE(catalog.start_worker());
    AlbumForm form(m_store, catalog);
    form.set_visible(true);
    form.place(Size { 240, 320 });
    auto& search = *form.find_child(u"btnSearch");
    form.on_click(search, Point {});
    ASSERT_TRUE(frames_until(form, [&] { return !form.search_running() && catalog.pending_count() == 0; }));
    ASSERT_EQ(form.list().item_count(), 12);
    PhotoCatalog::WatchOptions options;
    options.quiet_ms = 50;
    ASSERT_TRUE(catalog.start_watching(options));
    ASSERT_TRUE(frames_until(form, [&] { return catalog.watch_counts().first > 0; }));

    // Scrolled down to rest a few rows in.
    auto& list = form.list();
    list.fling(-600);
    ASSERT_TRUE(frames_until(form, [&] { return list.velocity() == 0; }));
    ASSERT_FALSE(list.items().empty());
    std::int32_t const top = list.items().front()->index();
    double const offset = list.offset();
    ASSERT_GT(top, 0);

    // Every frame of the change: the rows are albums, never blank ones,
    // and the button is left alone.
    auto const quiet = [&] {
        EXPECT_TRUE(search.enabled());
        EXPECT_FALSE(form.search_running());
        for (auto const& item : list.items())
            EXPECT_NE(dynamic_cast<AlbumElement*>(item.get()), nullptr);
    };
    fs::create_directories(m_dir / "docs" / "Zoo");
    ASSERT_TRUE(write_picture(m_dir / "docs" / "Zoo" / "z.jpg"));
    ASSERT_TRUE(frames_until(form, [&] {
        quiet();
        return list.item_count() == 13;
    }));
    form.advance(0.02);
    quiet();
    EXPECT_EQ(list.items().front()->index(), top);
    EXPECT_EQ(list.offset(), offset);

    fs::remove_all(m_dir / "docs" / "Album 3");
    ASSERT_TRUE(frames_until(form, [&] {
        quiet();
        return list.item_count() == 12;
    }));
    EXPECT_EQ(catalog.searches_completed(), 1);
}

}
}
