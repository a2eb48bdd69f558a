#include "base/Paths.h"
#include "catalog/CatalogFile.h"
#include "catalog/PhotoCatalog.h"
#include "imaging/JpegCodec.h"
#include "platform/Files.h"
#include "screens/FolderForm.h"
#include "screens/OpenRequest.h"
#include "skin/ElementRegistry.h"
#include "support/TestSupport.h"
#include "widgets/TileView.h"
#include "widgets/WidgetFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace qv {
namespace {

namespace fs = std::filesystem;
using test::ScopedEnv;
using test::TempDir;

bool write_picture(fs::path const& path, int shade)
{
    auto encoder = JpegEncoder::open(test::program_form(path), 64, 48);
    if (!encoder)
        return false;
    std::vector<std::uint8_t> row(64 * 3, static_cast<std::uint8_t>(shade));
    for (int y = 0; y < 48; ++y)
        encoder->write_row(row);
    return encoder->finish();
}

TEST(HandOverText, paths_pass_whole_whatever_their_names_hold)
{
    std::vector<WString> const paths {
        u"\\home\\ann\\Trip 2\\it's \"here\".jpg",
        from_utf8_escaped("\\srv\\\xff\xfe old.jpg"),
        u"\\p\\Tr\u00e8s loin",
    };
    EXPECT_EQ(decode_open_request(encode_open_request(paths)), paths);
    EXPECT_TRUE(encode_open_request({}).empty());
    EXPECT_TRUE(decode_open_request(u"").empty());
    // The escaped bytes come back as the same bytes.
    EXPECT_EQ(to_utf8_escaped(decode_open_request(encode_open_request(paths))[1]), "\\srv\\\xff\xfe old.jpg");
    EXPECT_EQ(readable_path(paths[1]), u"/srv/\\xFF\\xFE old.jpg");
    EXPECT_EQ(readable_path(paths[1], false), u"\\srv\\\\xFF\\xFE old.jpg");
}

class OpenRequestTest : public ::testing::Test {
protected:
    TempDir m_dir;
    ScopedEnv m_docs { "QUILVANE_DOCUMENTS", (m_dir / "docs").string() };
    ScopedEnv m_cards { "QUILVANE_CARDS", (m_dir / "cards").string() };
    ScopedEnv m_cache { "XDG_CACHE_HOME", (m_dir / "cache").string() };
    ScopedEnv m_screen { "QUILVANE_SCREEN", "240x320@96" };
    test::WidgetTypesScope m_types;
    Properties m_store;
    WString const m_documents { u"%my_documents%\\" };

    void SetUp() override
    {
        register_element_type(u"bigpicture", [](Element* parent) -> Element* { return new TileView(parent); });
        fs::create_directories(m_dir / "docs" / "Trip");
        fs::create_directories(m_dir / "cards");
        fs::create_directories(m_dir / "elsewhere");
        ASSERT_TRUE(m_store.load_skin(
            test::program_form(fs::path(QUILVANE_APP_DIR) / "skins" / "bin" / "default.skin"), DisplayInfo { 240, 320, 96 }));
        for (int i = 10; i < 15; ++i)
            ASSERT_TRUE(write_picture(m_dir / "docs" / "Trip" / ("t" + std::to_string(i) + ".jpg"), 20 * i));
        for (char const* name : { "b.jpg", "a.jpg", "c.jpg" })
            ASSERT_TRUE(write_picture(m_dir / "elsewhere" / name, 90));
    }
    void TearDown() override { unregister_element_type(u"bigpicture"); }

    // The full path of a name under the test's directory, as a start hands it over.
    WString full(std::string const& name) const { return m_dir.program_path(name); }
    WString trip(int i) const { return u"%my_documents%\\Trip\\t" + to_wstring(i) + u".jpg"; }

    WString write_ini()
    {
        std::ofstream out(m_dir / "folders.ini", std::ios::binary);
        FolderInfo const album { m_documents, u"%my_documents%\\Trip\\", trip(10), 5 };
        WString const text = u"\uFEFF" + folders_to_text({ album });
        out.write(reinterpret_cast<char const*>(text.data()), static_cast<std::streamsize>(text.size() * 2));
        return m_dir.program_path("folders.ini");
    }
};

TEST_F(OpenRequestTest, a_path_in_a_search_root_is_named_as_the_search_names_it_and_any_other_is_its_own_root)
{
    std::vector<WString> const roots { full("cards") + u"\\card\\", m_documents };
    auto const in_root = place_in_roots(full("docs/Trip/t12.jpg"), false, roots);
    EXPECT_EQ(in_root.root, m_documents);
    EXPECT_EQ(in_root.path, trip(12));
    EXPECT_EQ(place_in_roots(full("docs/Trip"), true, roots).path, u"%my_documents%\\Trip\\");
    auto const root_itself = place_in_roots(full("docs"), true, roots);
    EXPECT_EQ(root_itself.root, m_documents);
    EXPECT_EQ(root_itself.path, m_documents);

    // Through a link to the pictures folder: the same picture.
    fs::create_directory_symlink(m_dir / "docs", m_dir / "link");
    EXPECT_EQ(place_in_roots(full("link/Trip/t12.jpg"), false, roots).path, trip(12));

    // A folder whose name only starts as the root's is another folder.
    fs::create_directories(m_dir / "docs2");
    auto const beside = place_in_roots(full("docs2/x.jpg"), false, roots);
    EXPECT_EQ(beside.root, full("docs2") + u"\\");
    EXPECT_EQ(beside.path, full("docs2/x.jpg"));

    auto const folder = place_in_roots(full("elsewhere"), true, roots);
    EXPECT_EQ(folder.root, full("elsewhere") + u"\\");
    EXPECT_EQ(folder.path, full("elsewhere") + u"\\");
}

TEST_F(OpenRequestTest, a_picture_opens_the_viewer_on_it_within_its_folders_album)
{
    PhotoCatalog catalog(write_ini(), false);
    FolderForm form(m_store, catalog);
    form.place(Size { 240, 320 });
    ASSERT_TRUE(form.open_given({ full("docs/Trip/t12.jpg") }));
    EXPECT_EQ(form.album().folder_path, u"%my_documents%\\Trip\\");
    EXPECT_EQ(form.album().drive_path, m_documents);
    ASSERT_EQ(form.pictures().size(), 5u);
    EXPECT_EQ(form.pictures().front(), trip(10));
    EXPECT_EQ(form.image_form().picture_count(), 5);
    EXPECT_EQ(form.image_form().current(), 2);
    EXPECT_EQ(form.root_of(2), m_documents);
    EXPECT_EQ(catalog.get_folders_size(), 1);

    // A folder: its thumbnails, the viewer closed.
    ASSERT_TRUE(form.open_given({ full("elsewhere") }));
    EXPECT_EQ(form.album().folder_path, full("elsewhere") + u"\\");
    EXPECT_EQ(form.album().drive_path, full("elsewhere") + u"\\");
    EXPECT_EQ(form.pictures(), (std::vector<WString> { full("elsewhere/a.jpg"), full("elsewhere/b.jpg"),
                                   full("elsewhere/c.jpg") }));
    EXPECT_FALSE(form.image_form().active());
    // Nothing of it joins the album list.
    EXPECT_EQ(catalog.get_folders_size(), 1);
}

TEST_F(OpenRequestTest, a_picture_outside_the_search_roots_has_its_folder_as_root)
{
    PhotoCatalog catalog(write_ini(), false);
    FolderForm form(m_store, catalog);
    form.place(Size { 240, 320 });
    ASSERT_TRUE(form.open_given({ full("elsewhere/c.jpg") }));
    WString const folder = full("elsewhere") + u"\\";
    EXPECT_EQ(form.album().drive_path, folder);
    EXPECT_EQ(form.album().folder_path, folder);
    EXPECT_EQ(form.image_form().current(), 2);
    // The thumbnails ask for caches under that root.
    for (int frame = 0; frame < 3; ++frame)
        form.advance(0.02);
    auto const pending = catalog.pending_pictures(folder);
    ASSERT_FALSE(pending.empty());
    EXPECT_EQ(folder_of(pending.front().path), folder);
}

TEST_F(OpenRequestTest, several_paths_make_one_album_in_the_order_given)
{
    PhotoCatalog catalog(write_ini(), false);
    FolderForm form(m_store, catalog);
    form.place(Size { 240, 320 });
    WString const elsewhere = full("elsewhere") + u"\\";
    ASSERT_TRUE(form.open_given(
        { full("elsewhere/b.jpg"), full("docs/Trip/t13.jpg"), full("elsewhere/a.jpg"), full("elsewhere/b.jpg") }));
    EXPECT_EQ(form.pictures(), (std::vector<WString> { full("elsewhere/b.jpg"), trip(13), full("elsewhere/a.jpg") }))
        << "each picture once, at its first place";
    EXPECT_EQ(form.root_of(0), elsewhere);
    EXPECT_EQ(form.root_of(1), m_documents);
    EXPECT_EQ(form.root_of(2), elsewhere);
    EXPECT_EQ(form.caption(), u"b.jpg, t13.jpg, a.jpg, b.jpg");
    EXPECT_EQ(form.image_form().picture_count(), 3);
    EXPECT_EQ(form.image_form().current(), 0);

    // A folder among them adds its pictures in album order; the thumbnails
    // show, not the viewer.
    ASSERT_TRUE(form.open_given({ full("elsewhere/c.jpg"), full("docs/Trip") }));
    EXPECT_EQ(form.pictures(),
        (std::vector<WString> { full("elsewhere/c.jpg"), trip(10), trip(11), trip(12), trip(13), trip(14) }));
    EXPECT_EQ(form.caption(), u"c.jpg, Trip");
    EXPECT_FALSE(form.image_form().active());

    // Back to a folder's album: titled and rooted as the folder again.
    ASSERT_TRUE(form.open_given({ full("docs/Trip") }));
    EXPECT_TRUE(form.caption().empty());
    EXPECT_EQ(form.album().folder_path, u"%my_documents%\\Trip\\") << "the album of the list";
    EXPECT_EQ(form.root_of(3), m_documents);
}

TEST_F(OpenRequestTest, a_file_its_folder_does_not_list_is_shown_alone_and_a_missing_one_opens_nothing)
{
    ASSERT_TRUE(write_picture(m_dir / "elsewhere" / "scan.jpe", 40));
    PhotoCatalog catalog(write_ini(), false);
    FolderForm form(m_store, catalog);
    form.place(Size { 240, 320 });
    ASSERT_TRUE(form.open_given({ full("elsewhere/scan.jpe") }));
    EXPECT_EQ(form.pictures(), (std::vector<WString> { full("elsewhere/scan.jpe") }));
    EXPECT_EQ(form.image_form().picture_count(), 1);

    EXPECT_FALSE(form.open_given({ full("elsewhere/gone.jpg") }));
    EXPECT_EQ(form.pictures(), (std::vector<WString> { full("elsewhere/scan.jpe") })) << "what was shown stays";
    auto const plan = plan_opening({ full("elsewhere/gone.jpg"), full("elsewhere/a.jpg") }, { m_documents });
    EXPECT_EQ(plan.skipped, (std::vector<WString> { full("elsewhere/gone.jpg") }));
    EXPECT_EQ(plan.kind, OpenPlan::Kind::Album) << "one picture left, in its folder";
    EXPECT_EQ(plan.album.folder_path, full("elsewhere") + u"\\");
    EXPECT_EQ(plan.view, full("elsewhere/a.jpg"));
}

TEST_F(OpenRequestTest, the_catalog_builds_the_caches_of_a_folder_outside_the_roots_through_a_search)
{
    PhotoCatalog catalog(m_dir.program_path("albums.ini"), true);
    FolderForm form(m_store, catalog);
    form.set_visible(true);
    form.place(Size { 240, 320 });
    ASSERT_TRUE(form.open_given({ full("elsewhere") }));
    // A search asked for meanwhile neither drops those pictures nor lists
    // their folder as an album.
    catalog.need_search();
    WString const root = full("elsewhere") + u"\\";
    auto const ready = [&] {
        for (auto const& picture : form.pictures())
            if (catalog.picture_status(picture, root).state != PictureStatus::State::Ready)
                return false;
        return true;
    };
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!(ready() && form.held_thumbnails() == 3 && catalog.searches_completed() > 0)
        && std::chrono::steady_clock::now() < deadline) {
        form.advance(0.02);
        form.place(Size { 240, 320 });
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(ready());
    EXPECT_EQ(form.held_thumbnails(), 3u);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_FALSE(form.is_bad(i));
    for (auto const& album : catalog.get_folders())
        EXPECT_NE(album.folder_path, root);
    // The caches are kept in the cache directory, never beside the pictures.
    std::vector<std::string> names;
    for (auto const& entry : fs::directory_iterator(m_dir / "elsewhere"))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string> { "a.jpg", "b.jpg", "c.jpg" }));
    auto const status = catalog.picture_status(form.pictures().front(), root);
    EXPECT_TRUE(path_starts_with(status.cache_file, test::program_form(m_dir / "cache"))) << to_utf8(status.cache_file);
}

}
}
