// The controls a finger has to hit keep their size in millimetres on every
// screen, whatever its density: a button or a row measured in pixels over
// the density gives the same length on a 96 dpi desktop and a 420 dpi
// phone.

#include "catalog/CatalogFile.h"
#include "catalog/PhotoCatalog.h"
#include "imaging/RenderSurface.h"
#include "screens/AlbumForm.h"
#include "skin/ElementRegistry.h"
#include "support/TestSupport.h"
#include "widgets/TileView.h"
#include "widgets/WidgetFixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace qv {
namespace {

namespace fs = std::filesystem;

fs::path const kBin = fs::path(QUILVANE_APP_DIR) / "skins" / "bin";

struct Screen {
    std::int32_t width, height, dpi;
};

struct Measured {
    double button_width_mm;
    double button_height_mm;
    double row_height_mm;
};

class PhysicalSizeTest : public ::testing::Test {
protected:
    test::TempDir m_dir;
    test::ScopedEnv m_docs { "QUILVANE_DOCUMENTS", (m_dir / "docs").string() };
    test::ScopedEnv m_cards { "QUILVANE_CARDS", (m_dir / "cards").string() };
    test::WidgetTypesScope m_types;

    void SetUp() override
    {
        register_element_type(u"bigpicture", [](Element* parent) -> Element* { return new TileView(parent); });
        fs::create_directories(m_dir / "docs" / "Trip");
        fs::create_directories(m_dir / "cards");
    }
    void TearDown() override { unregister_element_type(u"bigpicture"); }

    Measured measure(Screen const& screen)
    {
        test::ScopedEnv size { "QUILVANE_SCREEN",
            std::to_string(screen.width) + "x" + std::to_string(screen.height) + "@" + std::to_string(screen.dpi) };
        Properties store;
        EXPECT_TRUE(store.load_skin(test::program_form(kBin / "default.skin"),
            DisplayInfo { screen.width, screen.height, screen.dpi }));
        WString const root = test::program_form(m_dir / "docs") + u"\\";
        WString const picture = test::program_form(m_dir / "docs" / "Trip" / "t.jpg");
        FolderInfo const album { root, test::program_form(m_dir / "docs" / "Trip") + u"\\", picture, 3 };
        {
            std::ofstream out(m_dir / "folders.ini", std::ios::binary);
            WString const text = u"\uFEFF" + folders_to_text({ album });
            out.write(reinterpret_cast<char const*>(text.data()), static_cast<std::streamsize>(text.size() * 2));
        }
        PhotoCatalog catalog(m_dir.program_path("folders.ini"), false);
        AlbumForm form(store, catalog);
        form.set_visible(true);
        form.place(Size { screen.width, screen.height });
        RenderSurface surface { Size { screen.width, screen.height } };
        form.paint(surface.target(), Point {});

        Measured measured {};
        auto const mm = [&](std::int32_t pixels) { return pixels * 25.4 / screen.dpi; };
        auto const* button = form.find_child(u"btnMenu");
        EXPECT_NE(button, nullptr);
        EXPECT_FALSE(form.list().items().empty());
        if (!button || form.list().items().empty())
            return measured;
        measured.button_width_mm = mm(button->size().width);
        measured.button_height_mm = mm(button->size().height);
        measured.row_height_mm = mm(form.list().items().front()->size().height);
        // Inside the screen, whatever its shape.
        EXPECT_GE(button->position().x, 0);
        EXPECT_LE(button->position().x + button->size().width, screen.width);
        return measured;
    }
};

TEST_F(PhysicalSizeTest, ButtonsAndRowsMeasureTheSameInMillimetresOnEveryScreen)
{
    Screen const screens[] = { { 240, 320, 96 }, { 480, 640, 192 }, { 720, 1280, 320 }, { 1080, 2340, 420 },
        { 1920, 1080, 96 } };
    Measured const reference = measure(screens[0]);
    ASSERT_GT(reference.button_width_mm, 5.0);
    ASSERT_GT(reference.row_height_mm, 5.0);
    for (auto const& screen : screens) {
        Measured const m = measure(screen);
        std::string const where = std::to_string(screen.width) + "x" + std::to_string(screen.height) + "@"
            + std::to_string(screen.dpi);
        EXPECT_NEAR(m.button_width_mm, reference.button_width_mm, 0.1 * reference.button_width_mm) << where;
        EXPECT_NEAR(m.button_height_mm, reference.button_height_mm, 0.1 * reference.button_height_mm) << where;
        EXPECT_NEAR(m.row_height_mm, reference.row_height_mm, 0.1 * reference.row_height_mm) << where;
    }
}

}
}
