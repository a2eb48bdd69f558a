#include "catalog/CatalogFile.h"
#include "catalog/PhotoCatalog.h"
#include "catalog/PictureStatus.h"
#include "imaging/JpegCodec.h"
#include "screens/FolderForm.h"
#include "skin/ElementRegistry.h"
#include "support/TestSupport.h"
#include "widgets/TileView.h"
#include "widgets/WidgetFixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace qv {
namespace {

namespace fs = std::filesystem;
using test::ScopedEnv;
using test::TempDir;

TEST(ThumbnailGridTest, as_many_cells_of_one_physical_size_as_fit_sharing_the_width)
{
    struct Screen {
        int width, dpi, columns;
    };
    for (Screen const s : { Screen { 240, 96, 4 }, Screen { 480, 192, 4 }, Screen { 720, 320, 3 }, Screen { 1080, 420, 4 },
             Screen { 1920, 96, 32 }, Screen { 60, 96, 1 } }) {
        SCOPED_TRACE(std::to_string(s.width) + "@" + std::to_string(s.dpi));
        ThumbnailGrid const grid = thumbnail_grid(s.width, s.dpi);
        EXPECT_EQ(grid.columns, s.columns);
        EXPECT_EQ(thumbnail_columns(s.width, s.dpi), s.columns);
        // The same height on every screen, measured in millimetres.
        EXPECT_NEAR(grid.cell_height * 25.4 / s.dpi, kThumbnailCellMm, 0.15);
        EXPECT_NEAR(grid.thumbnail_side * 25.4 / s.dpi, kThumbnailMm, 0.15);
        EXPECT_LT(grid.thumbnail_side, grid.cell_height);
        // The cells fill the width between the margins, none narrower than
        // a cell's height unless not even one fits.
        EXPECT_EQ(grid.cell_left(0), grid.margin);
        EXPECT_EQ(grid.cell_left(grid.columns), s.width - grid.margin);
        for (int c = 0; c < grid.columns; ++c) {
            if (s.columns > 1 || s.width >= grid.cell_height + 2 * grid.margin)
                EXPECT_GE(grid.cell_width(c), grid.cell_height);
            EXPECT_LE(grid.cell_width(c) - grid.cell_width(0), 1);
        }
    }
    // At 96 dpi the cells are the 58 pixels the screens always had.
    EXPECT_EQ(thumbnail_grid(240, 96).cell_height, 58);
    EXPECT_EQ(thumbnail_grid(240, 96).thumbnail_side, 44);
    EXPECT_EQ(thumbnail_grid(480, 192).thumbnail_side, 88);
}

bool write_picture(fs::path const& path, int seed)
{
    auto encoder = JpegEncoder::open(test::program_form(path), 96, 72);
    if (!encoder)
        return false;
    std::vector<std::uint8_t> row(96 * 3);
    for (int y = 0; y < 72; ++y) {
        for (int x = 0; x < 96; ++x) {
            row[3 * x] = static_cast<std::uint8_t>(seed * 37 + x);
            row[3 * x + 1] = static_cast<std::uint8_t>(y * 3);
            row[3 * x + 2] = static_cast<std::uint8_t>(seed * 11);
        }
        encoder->write_row(row);
    }
    return encoder->finish();
}

class FolderFormTest : public ::testing::Test {
protected:
    TempDir m_dir;
    ScopedEnv m_docs { "QUILVANE_DOCUMENTS", (m_dir / "docs").string() };
    ScopedEnv m_cards { "QUILVANE_CARDS", (m_dir / "cards").string() };
    ScopedEnv m_screen { "QUILVANE_SCREEN", "1920x1080@96" };
    test::WidgetTypesScope m_types;
    Properties m_store;
    WString m_root;
    WString m_album;

    void SetUp() override
    {
        register_element_type(u"bigpicture", [](Element* parent) -> Element* { return new TileView(parent); });
        fs::create_directories(m_dir / "docs" / "Trip");
        fs::create_directories(m_dir / "cards");
        ASSERT_TRUE(m_store.load_skin(test::program_form(fs::path(QUILVANE_APP_DIR) / "skins" / "bin" / "default.skin"),
            DisplayInfo { 1920, 1080, 96 }));
        m_root = test::program_form(m_dir / "docs") + u"\\";
        m_album = test::program_form(m_dir / "docs" / "Trip") + u"\\";
    }
    void TearDown() override { unregister_element_type(u"bigpicture"); }

    // `count` pictures with their caches built.
    void make_album(int count)
    {
        for (int i = 0; i < count; ++i) {
            fs::path const path = m_dir / "docs" / "Trip" / ("t" + std::to_string(1000 + i) + ".jpg");
            ASSERT_TRUE(write_picture(path, i));
            PictureProblem problem {};
            ASSERT_TRUE(build_picture_cache(test::program_form(path), m_root, nullptr, problem));
        }
    }

    WString write_ini(int count)
    {
        std::ofstream out(m_dir / "folders.ini", std::ios::binary);
        FolderInfo const album { m_root, m_album, m_album + u"t1000.jpg", count };
        WString const text = u"\uFEFF" + folders_to_text({ album });
        out.write(reinterpret_cast<char const*>(text.data()), static_cast<std::streamsize>(text.size() * 2));
        return m_dir.program_path("folders.ini");
    }
};

TEST_F(FolderFormTest, a_wide_screen_gets_a_row_of_cells_across_its_whole_width)
{
    make_album(40);
    PhotoCatalog catalog(write_ini(40), false);
    FolderForm form(m_store, catalog);
    form.set_visible(true);
    form.place(Size { 1920, 1080 });
    form.open_album(catalog.get_folder(0));
    ASSERT_EQ(form.columns(), 32);
    for (int frame = 0; frame < 3; ++frame) {
        form.advance(0.02);
        form.place(Size { 1920, 1080 });
    }
    ASSERT_FALSE(form.list().items().empty());
    auto* row = dynamic_cast<FolderElement*>(form.list().items().front().get());
    ASSERT_TRUE(row);
    // Cells side by side from one margin to the other, each with its picture.
    ThumbnailGrid const& grid = form.grid();
    for (int c = 0; c < 32; ++c) {
        Rect const cell = row->cell_rect(c);
        EXPECT_EQ(cell.left, grid.cell_left(c));
        EXPECT_EQ(cell.right, grid.cell_left(c + 1));
        EXPECT_EQ(cell.height(), grid.cell_height);
        ASSERT_TRUE(row->cell_image(c)) << c;
        EXPECT_EQ(row->cell_image(c)->size(), (Size { 44, 44 }));
    }
    EXPECT_EQ(row->cell_rect(31).right, 1920 - grid.margin);
    // Clicking the last cell opens the last picture of the row.
    form.on_cell_click(0, 31);
    EXPECT_EQ(form.image_form().current(), 31);

    // A narrower window makes fewer columns of the same cells.
    form.place(Size { 480, 1080 });
    form.advance(0.02);
    form.place(Size { 480, 1080 });
    EXPECT_EQ(form.columns(), 8);
}

TEST_F(FolderFormTest, large_cells_hold_thumbnails_of_their_own_size_and_only_those_around_the_screen)
{
    make_album(60);
    PhotoCatalog catalog(write_ini(60), false);
    FolderForm form(m_store, catalog);
    // At 1200 dpi a thumbnail is 548 pixels a side: the budget keeps about
    // forty of them, far fewer than the album has.
    form.set_dpi(1200);
    form.set_visible(true);
    form.place(Size { 1920, 1080 });
    form.open_album(catalog.get_folder(0));
    int const side = form.grid().thumbnail_side;
    ASSERT_EQ(side, 548);
    std::size_t const most = form.max_held_thumbnails();
    ASSERT_LT(most, 60u);
    auto run = [&](int frames) {
        for (int frame = 0; frame < frames; ++frame) {
            form.advance(0.02);
            form.place(Size { 1920, 1080 });
        }
    };
    run(80);
    EXPECT_LE(form.held_thumbnails(), most);
    EXPECT_EQ(form.cell_picture(0).size(), (Size { side, side }));
    EXPECT_TRUE(form.cell_picture(59).size() != (Size { side, side }));

    // To the end of the album: its thumbnails come in, the first ones go.
    form.list().set_focus_index(59);
    run(120);
    EXPECT_LE(form.held_thumbnails(), most);
    EXPECT_EQ(form.cell_picture(59).size(), (Size { side, side }));
    EXPECT_TRUE(form.cell_picture(0).size() != (Size { side, side }));
    // And back: the first ones are made again.
    form.list().set_focus_index(0);
    run(120);
    EXPECT_EQ(form.cell_picture(0).size(), (Size { side, side }));
    EXPECT_LE(form.held_thumbnails(), most);
}

}
}
