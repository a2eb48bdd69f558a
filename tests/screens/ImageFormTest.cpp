#include "base/FileStream.h"
#include "base/Registry.h"
#include "catalog/PhotoCatalog.h"
#include "imaging/JpegCodec.h"
#include "imaging/Picture.h"
#include "imaging/PixelRules.h"
#include "platform/Window.h"
#include "screens/ImageForm.h"
#include "skin/Properties.h"
#include "support/TestSupport.h"
#include "thumbcache/CacheBuilder.h"
#include "thumbcache/CacheFile.h"
#include "thumbcache/CacheLocation.h"
#include "widgets/TextElement.h"
#include "widgets/WidgetFixture.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include <ctime>
#include <utime.h>

namespace qv {
namespace {

namespace fs = std::filesystem;

fs::path const kBin = fs::path(QUILVANE_APP_DIR) / "skins" / "bin";

struct Colour {
    std::uint8_t r, g, b;
};

// Solid pictures, each its own colour, so a drawn pixel names its picture.
Colour const kColours[] = { { 200, 40, 40 }, { 40, 180, 60 }, { 50, 70, 210 }, { 220, 200, 30 } };

bool write_solid_jpeg(fs::path const& path, int width, int height, Colour colour)
{
    auto encoder = JpegEncoder::open(test::program_form(path), width, height);
    if (!encoder)
        return false;
    std::vector<std::uint8_t> row(static_cast<size_t>(width) * 3);
    for (int x = 0; x < width; ++x) {
        row[3 * x] = colour.r;
        row[3 * x + 1] = colour.g;
        row[3 * x + 2] = colour.b;
    }
    for (int y = 0; y < height; ++y)
        if (!encoder->write_row(row))
            return false;
    return encoder->finish();
}

// Within JPEG's error of the colour, channel by channel on the 565 scale.
bool near_colour(std::uint16_t pixel, Colour c)
{
    int const r = (pixel >> 11) & 31, g = (pixel >> 5) & 63, b = pixel & 31;
    return std::abs(r - c.r / 8) <= 2 && std::abs((g & ~1) - (c.g / 4 & ~1)) <= 4 && std::abs(b - c.b / 8) <= 2;
}

class BigPictureType {
public:
    BigPictureType()
    {
        register_element_type(u"bigpicture", [](Element* parent) -> Element* { return new TileView(parent); });
    }
    ~BigPictureType() { unregister_element_type(u"bigpicture"); }
};

class ImageFormTest : public ::testing::Test {
protected:
    static constexpr Size kScreen { 240, 320 };

    void SetUp() override
    {
        ASSERT_TRUE(m_store.load_skin(test::program_form(kBin / "default.skin"), DisplayInfo { 240, 320, 96 }));
        fs::create_directories(test::system_form(cache_directory_of(root())));
    }

    WString root() const { return m_dir.program_path(); }

    WString add_picture(std::string const& name, int width, int height, Colour colour, bool cached)
    {
        EXPECT_TRUE(write_solid_jpeg(m_dir / name, width, height, colour));
        WString const path = m_dir.program_path(name);
        if (cached) {
            EXPECT_TRUE(create_picture_cache(path, cache_file_name(path, root())));
        }
        m_pictures.push_back(path);
        return path;
    }

    void open(int index, std::function<void(std::size_t)> before_tile = {})
    {
        m_form = std::make_unique<ImageForm>(m_store, m_catalog, test::program_form(kBin));
        if (before_tile)
            m_form->set_before_tile(std::move(before_tile));
        m_form->open(std::make_shared<std::vector<WString> const>(m_pictures), index, root());
        m_form->set_visible(true);
        m_form->place(kScreen);
    }

    void frame()
    {
        m_form->advance(0.04);
        m_form->place(kScreen);
        m_form->paint(m_screen.target(), Point {});
    }

    // Frames until the centre view shows its own tiles everywhere.
    bool run_until_loaded(int max_frames = 2000)
    {
        for (int i = 0; i < max_frames; ++i) {
            frame();
            bool ready = m_form->queued_requests() == 0 && m_form->finished_tiles() == 0;
            int drawn = 0;
            for (auto const& tile : m_form->view(1).tiles()) {
                if (!tile.drawn_last_frame)
                    continue;
                ++drawn;
                ready = ready && !tile.pending && !tile.preview;
            }
            if (ready && drawn > 0)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }

    void frames(int count)
    {
        for (int i = 0; i < count; ++i)
            frame();
    }

    void drag(Point from, Point to)
    {
        std::uint32_t tick = 10000;
        m_form->on_pointer_button(PointerEvent { from, tick, true });
        int const steps = 10;
        for (int i = 1; i <= steps; ++i) {
            Point const p { from.x + (to.x - from.x) * i / steps, from.y + (to.y - from.y) * i / steps };
            m_form->on_pointer_move(PointerEvent { p, tick += 20, true });
        }
        // Held still before letting go: no fling.
        m_form->on_pointer_button(PointerEvent { to, tick + 300, false });
    }

    WString number_text() { return dynamic_cast<TextElement&>(*m_form->find_child(u"btnNumText")).text(); }
    std::uint16_t pixel(int x, int y) const { return m_screen.buffer()->at(x, y); }

    // A key's press and release, as the window gives them.
    void press(Key key, bool first = true)
    {
        m_form->on_key(KeyInput { key, true, first });
        m_form->on_key(KeyInput { key, false, first });
    }

    // Frames until the picture stands still: no slide, no zoom, no pan.
    bool settle(int max_frames = 400)
    {
        for (int i = 0; i < max_frames; ++i) {
            frame();
            TileView& view = m_form->view(1);
            if (!m_form->sliding() && m_form->gesture_state() == 0 && view.at_rest()
                && view.zoom() == view.target_zoom())
                return true;
        }
        return false;
    }

    // The centre view's centre on the screen, where the zoom keys anchor.
    Point view_centre()
    {
        TileView& view = m_form->view(1);
        return Point { view.position().x + view.size().width / 2, view.position().y + view.size().height / 2 };
    }

    void wheel(Point at, double notches, bool ctrl = false) { m_form->screen().on_wheel(at, notches, ctrl); }

    // A double click as the mouse gives it: two presses, the second also
    // announced as a double click.
    void double_click(Point at, std::uint32_t tick = 50000)
    {
        m_form->on_pointer_button(PointerEvent { at, tick, true });
        m_form->on_pointer_button(PointerEvent { at, tick + 40, false });
        m_form->on_pointer_button(PointerEvent { at, tick + 150, true });
        m_form->screen().on_double_click(at);
        m_form->on_pointer_button(PointerEvent { at, tick + 190, false });
    }

    WString info_text(WStringView id) { return dynamic_cast<TextElement&>(*m_form->find_child(id)).text(); }

    test::TempDir m_dir;
    // The slideshow's pace is a setting: a file of the test's own.
    test::ScopedEnv m_registry { "QUILVANE_REGISTRY", (m_dir / "registry.reg").string() };
    // Its worker never starts: the pictures' caches are made by the tests.
    PhotoCatalog m_catalog { m_dir.program_path("folders.ini"), false };
    test::WidgetTypesScope m_types;
    BigPictureType m_big_picture;
    Properties m_store;
    std::vector<WString> m_pictures;
    std::unique_ptr<ImageForm> m_form;
    RenderSurface m_screen { kScreen };
};

TEST_F(ImageFormTest, FirstMiddleAndLastPictureLoadTheirNeighbours)
{
    for (int i = 0; i < 3; ++i)
        add_picture("p" + std::to_string(i) + ".jpg", 480, 360, kColours[i], true);

    open(0);
    EXPECT_EQ(m_form->slot(0).picture, -1);
    EXPECT_EQ(m_form->view(0).picture_width(), 0);
    EXPECT_EQ(m_form->slot(1).picture, 0);
    EXPECT_EQ(m_form->slot(2).picture, 1);
    EXPECT_EQ(m_form->slot(1).state, ViewSlot::Cached);
    EXPECT_EQ(number_text(), u"1 " + m_store.text(u"of") + u" 3");
    ASSERT_TRUE(run_until_loaded());
    EXPECT_TRUE(near_colour(pixel(120, 160), kColours[0]));
    // A 480 x 360 picture at zoom 0 is 240 x 180: it fits the width exactly.
    EXPECT_DOUBLE_EQ(m_form->slot(1).fit_zoom, std::log2(240.0 / 240.0));

    open(1);
    EXPECT_EQ(m_form->slot(0).picture, 0);
    EXPECT_EQ(m_form->slot(1).picture, 1);
    EXPECT_EQ(m_form->slot(2).picture, 2);
    ASSERT_TRUE(run_until_loaded());
    EXPECT_TRUE(near_colour(pixel(120, 160), kColours[1]));
    // The neighbours lie 20 pixels beyond the centre picture's edges.
    EXPECT_EQ(m_form->view(0).position().x, -240 - 20);
    EXPECT_EQ(m_form->view(2).position().x, 240 + 20);

    open(2);
    EXPECT_EQ(m_form->slot(0).picture, 1);
    EXPECT_EQ(m_form->slot(2).picture, -1);
    EXPECT_EQ(m_form->view(2).picture_width(), 0);
    EXPECT_EQ(number_text(), u"3 " + m_store.text(u"of") + u" 3");

    // Nothing lies beyond the last picture.
    m_form->show_neighbour(1);
    EXPECT_EQ(m_form->current(), 2);
    EXPECT_EQ(m_form->slot(1).picture, 2);

    // Back to the middle one: the old left slot moves to the centre.
    m_form->show_neighbour(-1);
    EXPECT_EQ(m_form->current(), 1);
    EXPECT_EQ(m_form->slot(1).picture, 1);
    EXPECT_EQ(m_form->slot(0).picture, 0);
    EXPECT_EQ(m_form->slot(2).picture, 2);
    ASSERT_TRUE(run_until_loaded());
    EXPECT_TRUE(near_colour(pixel(120, 160), kColours[1]));
}

TEST_F(ImageFormTest, OnePictureAlbumHasNoNeighbours)
{
    add_picture("only.jpg", 300, 200, kColours[3], true);
    open(0);
    EXPECT_EQ(m_form->slot(0).picture, -1);
    EXPECT_EQ(m_form->slot(2).picture, -1);
    EXPECT_EQ(number_text(), u"1 " + m_store.text(u"of") + u" 1");
    ASSERT_TRUE(run_until_loaded());
    EXPECT_TRUE(near_colour(pixel(120, 160), kColours[3]));
}

TEST_F(ImageFormTest, BrokenPictureShowsTheBadPlaceholder)
{
    test::write_bytes(m_dir / "broken.jpg", std::string("\xFF\xD8 this is no picture at all", 29));
    WString const path = m_dir.program_path("broken.jpg");
    // What the catalog leaves for a picture it cannot read: its marker.
    PictureProblem problem = PictureProblem::None;
    EXPECT_FALSE(build_picture_cache(path, root(), nullptr, problem));
    EXPECT_EQ(read_picture_status(path, root()).state, PictureStatus::State::Bad);
    m_pictures.push_back(path);
    open(0);
    EXPECT_EQ(m_form->slot(1).state, ViewSlot::Bad);
    EXPECT_FALSE(m_form->slot(1).creator_ok);
    ASSERT_TRUE(run_until_loaded());

    FileStream file(test::program_form(kBin / "bad.bmp"), OpenMode::Read);
    auto bad = read_bmp_565(file);
    ASSERT_NE(bad, nullptr);
    // The 45 x 45 placeholder drawn 1:1, centred on the view.
    int const left = static_cast<int>(std::floor(120 - bad->width() / 2.0));
    int const top = static_cast<int>(std::floor(160 - bad->height() / 2.0));
    int mismatches = 0;
    for (int y = 0; y < bad->height(); ++y)
        for (int x = 0; x < bad->width(); ++x)
            mismatches += pixel(left + x, top + y) != bad->at(x, y);
    EXPECT_EQ(mismatches, 0);
}

TEST_F(ImageFormTest, APictureCutInsideItsDataShowsOneIconAndItsReason)
{
    add_picture("whole.jpg", 640, 480, kColours[0], false);
    auto bytes = test::read_bytes(m_dir / "whole.jpg");
    bytes.resize(bytes.size() / 2);
    test::write_bytes(m_dir / "cut.jpg", bytes);
    m_pictures = { m_dir.program_path("cut.jpg") };
    auto& reason = dynamic_cast<TextElement&>(*[&] {
        open(0);
        return m_form->find_child(u"problemText");
    }());

    // Its headers read well: the worker finds out, the first tile tells.
    EXPECT_TRUE(m_form->slot(1).creator_ok);
    EXPECT_FALSE(reason.visible());
    for (int i = 0; i < 2000 && m_form->slot(1).creator_ok; ++i) {
        frame();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_FALSE(m_form->slot(1).creator_ok);
    EXPECT_EQ(m_form->slot(1).problem, PictureProblem::Damaged);
    ASSERT_TRUE(run_until_loaded());
    EXPECT_EQ(m_form->view(1).picture_width(), 45) << "one icon, not one per tile";
    EXPECT_EQ(m_form->view(1).tiles().size(), 1u);
    EXPECT_TRUE(reason.visible());
    EXPECT_EQ(reason.text(), m_store.text(u"BadDamaged"));

    // The reason belongs to that picture only.
    add_picture("good.jpg", 640, 480, kColours[1], true);
    m_pictures = { m_pictures.back() };
    open(0);
    ASSERT_TRUE(run_until_loaded());
    EXPECT_FALSE(dynamic_cast<TextElement&>(*m_form->find_child(u"problemText")).visible());
}

TEST_F(ImageFormTest, APhonePictureStoredTurnedIsShownUpright)
{
    // Stored 480 x 360, left half red and right half blue; orientation 6
    // turns it a quarter clockwise: red on top, blue below, 360 x 480.
    std::vector<std::uint8_t> row(480 * 3);
    for (int x = 0; x < 480; ++x) {
        Colour const c = x < 240 ? kColours[0] : kColours[2];
        row[3 * x] = c.r;
        row[3 * x + 1] = c.g;
        row[3 * x + 2] = c.b;
    }
    auto encoder = JpegEncoder::open(m_dir.program_path("stored.jpg"), 480, 360);
    ASSERT_TRUE(encoder);
    for (int y = 0; y < 360; ++y)
        ASSERT_TRUE(encoder->write_row(row));
    ASSERT_TRUE(encoder->finish());
    test::write_bytes(m_dir / "phone.jpg", test::with_segment(test::read_bytes(m_dir / "stored.jpg"), test::exif_segment(6)));

    for (bool cached : { false, true }) {
        SCOPED_TRACE(cached);
        WString const path = m_dir.program_path("phone.jpg");
        if (cached) {
            ASSERT_TRUE(create_picture_cache(path, cache_file_name(path, root())));
        }
        m_pictures = { path };
        open(0);
        EXPECT_EQ(m_form->slot(1).state, cached ? ViewSlot::Cached : ViewSlot::Loading);
        EXPECT_EQ(m_form->view(1).picture_width(), 360);
        EXPECT_EQ(m_form->view(1).picture_height(), 480);
        ASSERT_TRUE(run_until_loaded());
        // 360 x 480 fits the 240 x 320 screen whole (looked at clear of
        // the shades behind the controls).
        EXPECT_TRUE(near_colour(pixel(120, 80), kColours[0]));
        EXPECT_TRUE(near_colour(pixel(10, 150), kColours[0]));
        EXPECT_TRUE(near_colour(pixel(120, 240), kColours[2]));
        EXPECT_TRUE(near_colour(pixel(230, 170), kColours[2]));
    }
}

TEST_F(ImageFormTest, PictureWithoutCacheIsServedFromItsFile)
{
    add_picture("fresh.jpg", 640, 480, kColours[2], false);
    open(0);
    EXPECT_EQ(m_form->slot(1).state, ViewSlot::Loading);
    EXPECT_TRUE(m_form->slot(1).creator_ok);
    EXPECT_EQ(m_form->view(1).picture_width(), 640);
    ASSERT_TRUE(run_until_loaded());
    EXPECT_TRUE(near_colour(pixel(120, 160), kColours[2]));
    EXPECT_TRUE(near_colour(pixel(5, 160), kColours[2]));
}

TEST_F(ImageFormTest, AnOpeningPictureAsksForItsTilesBeforeItsFirstFrameAndTakesThemTogether)
{
    add_picture("big.jpg", 1600, 1200, kColours[0], true);
    open(0);
    // Nothing drawn yet, and every visible tile is on its way. Fit zoom
    // 0.26 uses level-1 tiles: 400 x 300 in 2 x 2, all visible.
    std::size_t const asked = 4;
    for (int i = 0; i < 5000 && m_form->finished_tiles() < asked; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(m_form->finished_tiles(), asked);
    auto delivered = [this] {
        int count = 0;
        for (auto const& tile : m_form->view(1).tiles())
            count += !tile.pending;
        return count;
    };
    // Nothing of the picture shows yet: the whole batch goes in at once.
    m_form->advance(0.04);
    EXPECT_EQ(m_form->finished_tiles(), 0u);
    EXPECT_EQ(delivered(), static_cast<int>(asked));

    // Once it shows, the turned picture's new tiles arrive one a frame.
    ASSERT_TRUE(run_until_loaded());
    m_form->on_click(*m_form->find_child(u"btnLandscape"), Point {});
    m_form->place(kScreen);
    m_form->paint(m_screen.target(), Point {});
    std::size_t waiting = 0;
    for (int i = 0; i < 5000; ++i) {
        waiting = m_form->finished_tiles();
        if (waiting >= 2 && m_form->queued_requests() == 0)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_GE(waiting, 2u);
    for (std::size_t left = waiting; left > 0; --left) {
        m_form->advance(0.04);
        EXPECT_EQ(m_form->finished_tiles(), left - 1);
    }
}

TEST_F(ImageFormTest, ZoomOutBelowOneLevelAboveFitLandsOnFit)
{
    add_picture("big.jpg", 1600, 1200, kColours[0], true);
    open(0);
    ASSERT_TRUE(run_until_loaded());
    // At zoom 0 the picture is 200 wide; the view is 240.
    double const fit = std::log2(240.0 / 200.0);
    EXPECT_DOUBLE_EQ(m_form->slot(1).fit_zoom, fit);
    TileView& view = m_form->view(1);

    m_form->on_click(*m_form->find_child(u"btnPlus"), Point {});
    EXPECT_EQ(m_form->gesture_state(), 2);
    frames(100);
    EXPECT_EQ(m_form->gesture_state(), 0);
    EXPECT_DOUBLE_EQ(view.zoom(), 1.0);
    // Zoomed about the view's centre: the picture's centre stays there.
    EXPECT_NEAR(view.pan().x, 800, 1e-6);
    EXPECT_NEAR(view.pan().y, 600, 1e-6);

    view.set_zoom(fit + 0.5);
    frames(2);
    m_form->on_click(*m_form->find_child(u"btnMinus"), Point {});
    frames(100);
    EXPECT_EQ(m_form->gesture_state(), 0);
    EXPECT_DOUBLE_EQ(view.zoom(), fit);
}

TEST_F(ImageFormTest, DoubleTapZoomsAroundTheTappedPoint)
{
    add_picture("big.jpg", 1600, 1200, kColours[1], false);
    open(0);
    ASSERT_TRUE(run_until_loaded());
    TileView& view = m_form->view(1);
    Point const tap { 60, 150 };
    auto const before = view.screen_to_picture(tap);
    for (std::uint32_t t : { 1000u, 1100u }) {
        m_form->on_pointer_button(PointerEvent { tap, t, true });
        m_form->on_pointer_button(PointerEvent { tap, t + 30, false });
        frame();
    }
    EXPECT_EQ(m_form->gesture_state(), 2);
    frames(100);
    EXPECT_DOUBLE_EQ(view.zoom(), 1.0);
    // x keeps its picture point; y cannot, as a 300-high picture in a
    // 320-high view stays centred.
    EXPECT_NEAR(view.screen_to_picture(tap).x, before.x, 1e-6);
    EXPECT_DOUBLE_EQ(view.pan().y, 600);
}

TEST_F(ImageFormTest, ShortSwipeSpringsBackAndLongSwipeShowsTheNeighbour)
{
    for (int i = 0; i < 3; ++i)
        add_picture("p" + std::to_string(i) + ".jpg", 480, 360, kColours[i], true);
    open(1);
    ASSERT_TRUE(run_until_loaded());

    drag(Point { 80, 160 }, Point { 120, 160 });
    frames(150);
    EXPECT_EQ(m_form->current(), 1);
    EXPECT_NEAR(m_form->view(1).pan().x, 240, 0.5);
    EXPECT_EQ(m_form->gesture_state(), 0);

    drag(Point { 40, 160 }, Point { 200, 160 });
    frames(150);
    EXPECT_EQ(m_form->current(), 0);
    EXPECT_EQ(m_form->slot(1).picture, 0);
    ASSERT_TRUE(run_until_loaded());
    EXPECT_TRUE(near_colour(pixel(120, 160), kColours[0]));

    drag(Point { 200, 160 }, Point { 40, 160 });
    frames(150);
    EXPECT_EQ(m_form->current(), 1);
}

TEST_F(ImageFormTest, LandscapeWaitsForTheWorkerAndTurnsThePicture)
{
    add_picture("p0.jpg", 480, 360, kColours[0], true);
    add_picture("p1.jpg", 480, 360, kColours[1], true);
    open(0);
    ASSERT_TRUE(run_until_loaded());
    auto& button = dynamic_cast<ButtonElement&>(*m_form->find_child(u"btnLandscape"));
    ASSERT_TRUE(button.enabled());
    m_form->on_click(button, Point {});
    EXPECT_TRUE(m_form->landscape());
    EXPECT_FALSE(button.enabled());
    EXPECT_FALSE(m_form->worker_idle());
    EXPECT_EQ(m_form->view(1).orientation(), 1);
    // The view's sides swap: 320 across the picture, 240 along it.
    EXPECT_DOUBLE_EQ(m_form->slot(1).fit_zoom, std::log2(320.0 / 240.0));
    ASSERT_TRUE(run_until_loaded());
    frames(3);
    EXPECT_TRUE(button.enabled());
    EXPECT_TRUE(near_colour(pixel(120, 160), kColours[0]));
    // The next picture lies below in landscape.
    EXPECT_EQ(m_form->view(2).position().x, 0);
    EXPECT_GT(m_form->view(2).position().y, 0);
}

TEST_F(ImageFormTest, FinishedCacheReloadsAStuckSlotAndMovesAFileSlotToItsCache)
{
    add_picture("p0.jpg", 480, 360, kColours[0], false);
    // The picture is still being copied: its bytes are not a JPEG yet, and
    // there is no cache.
    ASSERT_TRUE(write_solid_jpeg(m_dir / "whole.jpg", 640, 480, kColours[1]));
    auto const whole = test::read_bytes(m_dir / "whole.jpg");
    test::write_bytes(m_dir / "p1.jpg", std::vector<unsigned char>(whole.size(), 'x'));
    WString const stuck = m_dir.program_path("p1.jpg");
    m_pictures.push_back(stuck);
    open(0);
    EXPECT_EQ(m_form->slot(1).state, ViewSlot::Loading);
    EXPECT_TRUE(m_form->slot(1).creator_ok);
    EXPECT_EQ(m_form->slot(2).state, ViewSlot::Loading);
    EXPECT_FALSE(m_form->slot(2).creator_ok);
    // The stuck picture shows the 45 x 45 placeholder meanwhile.
    EXPECT_EQ(m_form->view(2).picture_width(), 45);

    // The centre picture's decoder works: its completion changes nothing.
    auto const generation = m_form->slot(1).generation;
    CatalogEvent done;
    done.picture_complete = true;
    done.picture_path = m_pictures[0];
    m_form->on_catalog_event(done);
    EXPECT_EQ(m_form->slot(1).generation, generation);
    EXPECT_EQ(m_form->slot(1).state, ViewSlot::Loading);

    // The copy completes and the catalog builds its cache: the slot is
    // reloaded from the cache file.
    {
        std::ofstream out(m_dir / "p1.jpg", std::ios::binary | std::ios::in | std::ios::out);
        out.write(reinterpret_cast<char const*>(whole.data()), static_cast<std::streamsize>(whole.size()));
    }
    ASSERT_TRUE(create_picture_cache(stuck, cache_file_name(stuck, root())));
    done.picture_path = stuck;
    m_form->on_catalog_event(done);
    EXPECT_EQ(m_form->slot(2).state, ViewSlot::Cached);
    EXPECT_EQ(m_form->view(2).picture_width(), 640);
    EXPECT_EQ(m_form->view(2).picture_height(), 480);

    // Once the centre picture's cache exists, its completion moves it from
    // the JPEG file to the cache file.
    ASSERT_TRUE(create_picture_cache(m_pictures[0], cache_file_name(m_pictures[0], root())));
    done.picture_path = m_pictures[0];
    m_form->on_catalog_event(done);
    EXPECT_EQ(m_form->slot(1).state, ViewSlot::Cached);
    EXPECT_NE(m_form->slot(1).generation, generation);
}

// Closing the screen just as the worker takes its last tile: the stop must
// not be lost to the worker going idle, or the close waits for ever.
TEST_F(ImageFormTest, ClosingWhileTheWorkerFinishesItsLastTileReturns)
{
    for (int i = 0; i < 3; ++i)
        add_picture("p" + std::to_string(i) + ".jpg", 1600, 1200, kColours[i], true);
    // A round counts when the queue was seen to go down to one tile: the
    // worker is then on its last. The worker lingers a little on a last
    // tile, so that even a loaded machine lets the close land there; a lost
    // stop hangs the first such round nearly always.
    auto const linger = [](std::size_t queued) {
        if (queued == 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    };
    int caught = 0;
    auto const give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (caught < 20 && std::chrono::steady_clock::now() < give_up) {
        open(1, linger);
        bool const several = m_form->queued_requests() > 1;
        auto const until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (m_form->queued_requests() > 1 && std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
        caught += several && m_form->queued_requests() == 1;
        m_form.reset();
    }
    EXPECT_GE(caught, 1) << "the close never met the worker on its last tile";
}

// Holds the tile worker inside a tile while closed: the test hook waits
// here with the slot's creator in hand, as a long decode would.
struct WorkerGate {
    std::mutex mutex;
    std::condition_variable changed;
    bool closed { false };
    int waiting { 0 };

    void pass()
    {
        std::unique_lock lock(mutex);
        if (!closed)
            return;
        ++waiting;
        changed.notify_all();
        changed.wait(lock, [this] { return !closed; });
        --waiting;
    }
    void set_closed(bool value)
    {
        std::lock_guard lock(mutex);
        closed = value;
        changed.notify_all();
    }
    bool wait_for_worker(std::chrono::seconds limit)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, limit, [this] { return waiting > 0; });
    }
};

// A swipe installs a new picture in the slot whose tile the worker is
// cutting: it must not wait for that tile, and the tile, made for the
// picture the slot no longer shows, must never be delivered.
TEST_F(ImageFormTest, ASwipeDoesNotWaitForTheTileInHandAndThatTileIsThrownAway)
{
    // Sizes of their own, so that no two pictures could share a cache file.
    for (int i = 0; i < 4; ++i)
        add_picture("p" + std::to_string(i) + ".jpg", 480 + 16 * i, 360, kColours[i], true);
    auto gate = std::make_shared<WorkerGate>();
    // Opened on the way out whatever fails, or the form's close would wait
    // for the held worker for ever.
    struct Open {
        WorkerGate& gate;
        ~Open() { gate.set_closed(false); }
    } open_on_exit { *gate };
    open(1, [gate](std::size_t) { gate->pass(); });
    ASSERT_TRUE(run_until_loaded());
    // Every tile asked for so far is delivered, none still on its way.
    int quiet = 0;
    for (int i = 0; i < 2000 && quiet < 20; ++i) {
        frame();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        quiet = m_form->queued_requests() == 0 && m_form->finished_tiles() == 0 ? quiet + 1 : 0;
    }
    ASSERT_EQ(quiet, 20);

    // The worker takes a tile of the left neighbour, picture 0, and is held.
    gate->set_closed(true);
    ASSERT_EQ(m_form->slot(0).picture, 0);
    m_form->add_tile(m_form->view(0), 0, 0, 0);
    ASSERT_TRUE(gate->wait_for_worker(std::chrono::seconds(30)));

    // The swipe to the right gives that slot picture 3. Run aside, so that
    // a swipe that waits for the worker fails the test instead of hanging it.
    auto swipe = std::async(std::launch::async, [this] { m_form->show_neighbour(1); });
    bool const returned = swipe.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    if (!returned) {
        gate->set_closed(false);
        swipe.wait();
    }
    ASSERT_TRUE(returned) << "the swipe waited for the tile in the worker";
    EXPECT_EQ(m_form->current(), 2);
    EXPECT_EQ(m_form->slot(0).picture, 1);
    EXPECT_EQ(m_form->slot(2).picture, 3);

    // A tile of the new centre is queued behind the held one: once it is
    // finished, the held one is long done and was not kept.
    m_form->add_tile(m_form->view(1), 0, 0, 0);
    gate->set_closed(false);
    for (int i = 0; i < 10000 && !(m_form->finished_tiles() >= 1 && m_form->queued_requests() == 0); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(m_form->queued_requests(), 0u);
    EXPECT_EQ(m_form->finished_tiles(), 1u) << "the tile of picture 0 was kept for a slot now showing picture 3";

    ASSERT_TRUE(run_until_loaded());
    EXPECT_TRUE(near_colour(pixel(120, 160), kColours[2]));
    m_form.reset();
}

// Swipes, zooms and turns while the worker is busy: whatever was in
// flight, the centre view ends up showing the centre picture.
TEST_F(ImageFormTest, StressOfSwipesZoomsAndTurnsNeverShowsAnotherPicture)
{
    for (int i = 0; i < 4; ++i)
        add_picture("p" + std::to_string(i) + ".jpg", 700 + 40 * i, 520, kColours[i], i % 2 == 0);
    open(1);
    auto& landscape = dynamic_cast<ButtonElement&>(*m_form->find_child(u"btnLandscape"));
    std::uint32_t seed = 12345;
    auto next = [&seed](std::uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    for (int step = 0; step < 60; ++step) {
        switch (next(6)) {
        case 0:
            drag(Point { 30, 160 }, Point { 210, 160 });
            break;
        case 1:
            drag(Point { 210, 160 }, Point { 30, 160 });
            break;
        case 2:
            m_form->on_click(*m_form->find_child(u"btnPlus"), Point {});
            break;
        case 3:
            m_form->on_click(*m_form->find_child(u"btnMinus"), Point {});
            break;
        case 4:
            if (landscape.enabled())
                m_form->on_click(landscape, Point {});
            break;
        default:
            break;
        }
        frames(static_cast<int>(next(12)));
    }
    frames(200);
    ASSERT_TRUE(run_until_loaded());
    frames(2);
    int const current = m_form->current();
    EXPECT_EQ(m_form->slot(1).picture, current);
    EXPECT_TRUE(near_colour(pixel(120, 160), kColours[current]));
}


TEST_F(ImageFormTest, KeysPageWithTheSlideAndHomeAndEndJump)
{
    for (int i = 0; i < 4; ++i)
        add_picture("p" + std::to_string(i) + ".jpg", 480, 360, kColours[i], true);
    open(1);
    ASSERT_TRUE(run_until_loaded());

    // Right slides the next picture in from the right, as a swipe does.
    press(Key::Right);
    EXPECT_TRUE(m_form->sliding());
    EXPECT_EQ(m_form->current(), 1) << "the picture changes when the slide has run";
    bool seen_half_way = false;
    for (int i = 0; i < 200 && m_form->current() == 1; ++i) {
        frame();
        int const x = m_form->view(2).position().x;
        seen_half_way = seen_half_way || (x > 0 && x < 240);
    }
    EXPECT_TRUE(seen_half_way) << "the neighbour never showed partly: no slide";
    EXPECT_EQ(m_form->current(), 2);
    ASSERT_TRUE(settle());

    // Left and PageUp go back, PageDown and Space on.
    press(Key::Left);
    ASSERT_TRUE(settle());
    EXPECT_EQ(m_form->current(), 1);
    press(Key::PageUp);
    ASSERT_TRUE(settle());
    EXPECT_EQ(m_form->current(), 0);
    press(Key::PageUp);
    ASSERT_TRUE(settle());
    EXPECT_EQ(m_form->current(), 0) << "nothing before the first";
    press(Key::PageDown);
    ASSERT_TRUE(settle());
    press(Key::Space);
    ASSERT_TRUE(settle());
    EXPECT_EQ(m_form->current(), 2);

    // A second press while sliding follows the first.
    press(Key::Left);
    press(Key::Left);
    ASSERT_TRUE(settle());
    EXPECT_EQ(m_form->current(), 0);

    // End and Home: the last and the first picture, at once when far.
    press(Key::End);
    EXPECT_EQ(m_form->current(), 3);
    EXPECT_FALSE(m_form->sliding());
    EXPECT_EQ(number_text(), u"4 " + m_store.text(u"of") + u" 4");
    ASSERT_TRUE(run_until_loaded());
    EXPECT_TRUE(near_colour(pixel(120, 160), kColours[3]));
    EXPECT_EQ(m_form->slot(0).picture, 2);
    EXPECT_EQ(m_form->slot(2).picture, -1);
    press(Key::Home);
    EXPECT_EQ(m_form->current(), 0);
    ASSERT_TRUE(run_until_loaded());
    EXPECT_TRUE(near_colour(pixel(120, 160), kColours[0]));
    EXPECT_EQ(m_form->slot(2).picture, 1);

    // Escape and Backspace (one key to the program) still leave.
    press(Key::Backspace);
    EXPECT_FALSE(m_form->active());
}

TEST_F(ImageFormTest, ArrowsPanOnlyAPictureZoomedInAndPageAtItsEdge)
{
    add_picture("p0.jpg", 1600, 1200, kColours[0], true);
    add_picture("p1.jpg", 1600, 1200, kColours[1], true);
    open(0);
    ASSERT_TRUE(run_until_loaded());
    TileView& view = m_form->view(1);
    PicturePoint const middle = view.pan();

    // The whole picture: up and down move nothing.
    for (Key key : { Key::Up, Key::Down }) {
        press(key);
        ASSERT_TRUE(settle());
        EXPECT_EQ(view.pan().x, middle.x);
        EXPECT_EQ(view.pan().y, middle.y);
    }

    // Full size: every arrow pans by a sixth of the view.
    press(Key(static_cast<int>(Key::Digit0) + 1));
    ASSERT_TRUE(settle());
    ASSERT_EQ(view.zoom(), view.top_level());
    press(Key::Right);
    ASSERT_TRUE(settle());
    EXPECT_NEAR(view.pan().x, middle.x + 240.0 / 6, 1e-9);
    press(Key::Up);
    ASSERT_TRUE(settle());
    EXPECT_NEAR(view.pan().y, middle.y - 320.0 / 6, 1e-9);
    press(Key::Left);
    press(Key::Left);
    ASSERT_TRUE(settle());
    EXPECT_NEAR(view.pan().x, middle.x - 240.0 / 6, 1e-9);
    EXPECT_EQ(m_form->current(), 0);

    // To the right edge without leaving the picture; one more press there
    // pages on.
    for (int i = 0; i < 40 && view.pan().x < view.pan_range_x().high; ++i) {
        press(Key::Right);
        ASSERT_TRUE(settle());
        ASSERT_EQ(m_form->current(), 0) << "paged before the edge, at " << view.pan().x;
    }
    EXPECT_DOUBLE_EQ(view.pan().x, view.pan_range_x().high);
    press(Key::Right);
    ASSERT_TRUE(settle());
    EXPECT_EQ(m_form->current(), 1);
    // The next picture comes whole, and pages again at once.
    EXPECT_DOUBLE_EQ(m_form->view(1).target_zoom(), m_form->slot(1).fit_zoom);
    press(Key::Left);
    ASSERT_TRUE(settle());
    EXPECT_EQ(m_form->current(), 0);
}

TEST_F(ImageFormTest, ZoomKeysKeepThePicturePointAtTheCentreAndStayInRange)
{
    add_picture("big.jpg", 1600, 1200, kColours[2], true);
    open(0);
    ASSERT_TRUE(run_until_loaded());
    TileView& view = m_form->view(1);
    double const whole = m_form->slot(1).fit_zoom;
    double const full = view.top_level();
    ASSERT_GT(full - whole, 2);

    // Off the picture's middle first, so that keeping the centre's point
    // is not the same as keeping the pan at the middle.
    press(Key(static_cast<int>(Key::Digit0) + 1));
    ASSERT_TRUE(settle());
    for (Key key : { Key::Right, Key::Right, Key::Down })
        press(key);
    ASSERT_TRUE(settle());
    PicturePoint const centre = view.screen_to_picture(view_centre());
    ASSERT_GT(std::abs(centre.x - 800), 50);

    press(Key::Minus);
    // Smoothly: part of the way after one frame, there after a few.
    frame();
    EXPECT_GT(view.zoom(), full - 0.5);
    EXPECT_LT(view.zoom(), full);
    ASSERT_TRUE(settle());
    EXPECT_DOUBLE_EQ(view.zoom(), full - 0.5);
    EXPECT_NEAR(view.screen_to_picture(view_centre()).x, centre.x, 1e-6);
    EXPECT_NEAR(view.screen_to_picture(view_centre()).y, centre.y, 1e-6);
    press(Key::Plus);
    ASSERT_TRUE(settle());
    EXPECT_DOUBLE_EQ(view.zoom(), full);
    EXPECT_NEAR(view.screen_to_picture(view_centre()).x, centre.x, 1e-6);
    EXPECT_NEAR(view.screen_to_picture(view_centre()).y, centre.y, 1e-6);

    // Never past full size, never below the whole picture; 0 and Z go to
    // the whole picture at once.
    press(Key::Plus);
    ASSERT_TRUE(settle());
    EXPECT_DOUBLE_EQ(view.zoom(), full);
    for (int i = 0; i < 12; ++i)
        press(Key::Minus, i == 0);
    ASSERT_TRUE(settle());
    EXPECT_DOUBLE_EQ(view.zoom(), whole);
    press(Key::Plus);
    press(Key::Plus);
    ASSERT_TRUE(settle());
    EXPECT_DOUBLE_EQ(view.zoom(), whole + 1.0) << "presses made while zooming add up";
    press(Key::Z);
    ASSERT_TRUE(settle());
    EXPECT_DOUBLE_EQ(view.zoom(), whole);
    press(Key(static_cast<int>(Key::Digit0) + 1));
    ASSERT_TRUE(settle());
    press(Key::Digit0);
    ASSERT_TRUE(settle());
    EXPECT_DOUBLE_EQ(view.zoom(), whole);
}

TEST_F(ImageFormTest, TheWheelZoomsInSmoothStepsKeepingThePointUnderThePointer)
{
    add_picture("big.jpg", 1600, 1200, kColours[1], true);
    open(0);
    ASSERT_TRUE(run_until_loaded());
    TileView& view = m_form->view(1);
    double const full = view.top_level();
    double const notch = std::log2(1.25);
    press(Key(static_cast<int>(Key::Digit0) + 1));
    ASSERT_TRUE(settle());

    Point const pointer { 60, 100 };
    PicturePoint const under = view.screen_to_picture(pointer);
    wheel(pointer, -1);
    frame();
    EXPECT_LT(view.zoom(), full);
    EXPECT_GT(view.zoom(), full - notch) << "a notch is not a jump";
    frames(3); // 120 ms
    EXPECT_DOUBLE_EQ(view.zoom(), full - notch);
    ASSERT_TRUE(settle());
    EXPECT_NEAR(view.screen_to_picture(pointer).x, under.x, 1e-6);
    EXPECT_NEAR(view.screen_to_picture(pointer).y, under.y, 1e-6);

    // Parts of notches add up to notches, with or without Ctrl.
    wheel(pointer, -0.5, true);
    wheel(pointer, -0.25);
    wheel(pointer, -0.25, true);
    ASSERT_TRUE(settle());
    EXPECT_NEAR(view.zoom(), full - 2 * notch, 1e-12);
    EXPECT_NEAR(view.screen_to_picture(pointer).x, under.x, 1e-6);
    EXPECT_NEAR(view.screen_to_picture(pointer).y, under.y, 1e-6);

    // Another point, further in: that one stays put instead.
    Point const other { 200, 280 };
    PicturePoint const under_other = view.screen_to_picture(other);
    wheel(other, 1.5);
    ASSERT_TRUE(settle());
    EXPECT_NEAR(view.zoom(), full - 0.5 * notch, 1e-12);
    EXPECT_NEAR(view.screen_to_picture(other).x, under_other.x, 1e-6);
    EXPECT_NEAR(view.screen_to_picture(other).y, under_other.y, 1e-6);

    // The zoom range holds the wheel too.
    wheel(other, 20);
    ASSERT_TRUE(settle());
    EXPECT_DOUBLE_EQ(view.zoom(), full);
    wheel(other, -200);
    ASSERT_TRUE(settle());
    EXPECT_DOUBLE_EQ(view.zoom(), m_form->slot(1).fit_zoom);
}

TEST_F(ImageFormTest, ADoubleClickTogglesWholePictureAndFullSizeAroundThePointer)
{
    add_picture("big.jpg", 1600, 1200, kColours[0], true);
    open(0);
    ASSERT_TRUE(run_until_loaded());
    TileView& view = m_form->view(1);
    // Past the controls' own time, so that only a tap could show them.
    frames(110);
    bool const controls = m_form->controls_visible();
    ASSERT_FALSE(controls);
    Point const at { 70, 150 };
    PicturePoint const under = view.screen_to_picture(at);

    double_click(at);
    ASSERT_TRUE(settle());
    // Full size: one picture pixel to a screen pixel.
    EXPECT_DOUBLE_EQ(view.zoom(), view.top_level());
    EXPECT_DOUBLE_EQ(view.to_full(), 1.0);
    EXPECT_EQ(view.tile_level(), view.top_level());
    EXPECT_NEAR(view.screen_to_picture(at).x, under.x, 1e-6);
    EXPECT_NEAR(view.screen_to_picture(at).y, under.y, 1e-6);
    // Its clicks were no taps: the controls were not toggled meanwhile.
    frames(20);
    EXPECT_EQ(m_form->controls_visible(), controls);

    // From any zoom short of full size it goes to full size; from full
    // size to the whole picture.
    double_click(Point { 120, 160 }, 60000);
    ASSERT_TRUE(settle());
    EXPECT_DOUBLE_EQ(view.zoom(), m_form->slot(1).fit_zoom);
    wheel(at, 2);
    ASSERT_TRUE(settle());
    ASSERT_LT(view.zoom(), view.top_level());
    double_click(at, 70000);
    ASSERT_TRUE(settle());
    EXPECT_DOUBLE_EQ(view.zoom(), view.top_level());

    // A double click whose second press became a drag only pans.
    PicturePoint const pan = view.pan();
    std::uint32_t tick = 80000;
    m_form->on_pointer_button(PointerEvent { at, tick, true });
    m_form->screen().on_double_click(at);
    for (int x = at.x + 5; x <= at.x + 40; x += 5) {
        m_form->on_pointer_move(PointerEvent { Point { x, at.y }, tick += 20, true });
        frame();
    }
    m_form->on_pointer_button(PointerEvent { Point { at.x + 40, at.y }, tick + 300, false });
    ASSERT_TRUE(settle());
    EXPECT_DOUBLE_EQ(view.zoom(), view.top_level());
    EXPECT_LT(view.pan().x, pan.x);
}

TEST_F(ImageFormTest, TheSlideshowPagesOnItsTimerKeepsTheScreenAwakeAndStopsOnInput)
{
    ASSERT_TRUE(write_dword(kMakerKey, ImageForm::kSlideshowSetting, 1));
    for (int i = 0; i < 3; ++i)
        add_picture("p" + std::to_string(i) + ".jpg", 480, 360, kColours[i], true);
    open(0);
    ASSERT_TRUE(run_until_loaded());
    ASSERT_FALSE(platform::screen_saver_inhibited());

    press(Key(38)); // S
    EXPECT_TRUE(m_form->slideshow_running());
    EXPECT_DOUBLE_EQ(m_form->slideshow_seconds(), 1.0);
    EXPECT_TRUE(platform::screen_saver_inhibited());
    frames(20); // 0.8 s: not yet
    EXPECT_EQ(m_form->current(), 0);
    EXPECT_FALSE(m_form->sliding());
    int waited = 0;
    for (; waited < 100 && !m_form->sliding() && m_form->current() == 0; ++waited)
        frame();
    EXPECT_TRUE(m_form->sliding()) << "the next picture slides in";
    // The rest of the second, in frames of 40 ms.
    EXPECT_GE(waited, 4);
    EXPECT_LE(waited, 6);
    ASSERT_TRUE(settle());
    EXPECT_EQ(m_form->current(), 1);
    EXPECT_TRUE(m_form->slideshow_running());

    // A key stops it and does nothing else.
    press(Key::Right);
    EXPECT_FALSE(m_form->slideshow_running());
    EXPECT_FALSE(platform::screen_saver_inhibited());
    frames(60);
    EXPECT_EQ(m_form->current(), 1);

    // From the menu; the wheel stops it without zooming.
    m_form->screen().on_menu_click(Point { 100, 100 });
    ASSERT_TRUE(m_form->menu().is_open());
    auto const& items = m_form->menu().items();
    auto const show = std::find_if(items.begin(), items.end(), [](MenuItem const& i) { return i.id == u"Slideshow"; });
    ASSERT_NE(show, items.end());
    m_form->menu().on_item_clicked(*m_form->menu().list(), static_cast<std::int32_t>(show - items.begin()));
    EXPECT_FALSE(m_form->menu().is_open());
    EXPECT_TRUE(m_form->slideshow_running());
    double const zoom = m_form->view(1).zoom();
    wheel(Point { 100, 100 }, 1);
    EXPECT_FALSE(m_form->slideshow_running());
    ASSERT_TRUE(settle());
    EXPECT_EQ(m_form->view(1).zoom(), zoom);

    // A press stops it, and its release is no tap.
    press(Key(38));
    bool const controls = m_form->controls_visible();
    m_form->on_pointer_button(PointerEvent { Point { 120, 160 }, 90000, true });
    EXPECT_FALSE(m_form->slideshow_running());
    m_form->on_pointer_button(PointerEvent { Point { 120, 160 }, 90030, false });
    frames(20);
    EXPECT_EQ(m_form->controls_visible(), controls);

    // After the last picture's turn it ends by itself.
    press(Key(38));
    for (int i = 0; i < 400 && m_form->slideshow_running(); ++i)
        frame();
    EXPECT_FALSE(m_form->slideshow_running());
    EXPECT_EQ(m_form->current(), 2);
    EXPECT_FALSE(platform::screen_saver_inhibited());

    // Leaving the viewer ends it too.
    press(Key::Home);
    press(Key(38));
    ASSERT_TRUE(platform::screen_saver_inhibited());
    m_form->on_click(*m_form->find_child(u"btnBack"), Point {});
    EXPECT_FALSE(m_form->slideshow_running());
    EXPECT_FALSE(platform::screen_saver_inhibited());
}

TEST_F(ImageFormTest, TheSlideshowIntervalIsChosenInTheMenuAndKeptInTheSettings)
{
    for (int i = 0; i < 2; ++i)
        add_picture("p" + std::to_string(i) + ".jpg", 480, 360, kColours[i], true);
    open(0);
    std::uint32_t kept = 0;
    EXPECT_FALSE(read_dword(kMakerKey, ImageForm::kSlideshowSetting, kept));
    press(Key(38));
    EXPECT_DOUBLE_EQ(m_form->slideshow_seconds(), ImageForm::kDefaultSlideshowSeconds);
    press(Key::Right);
    EXPECT_FALSE(read_dword(kMakerKey, ImageForm::kSlideshowSetting, kept)) << "reading wrote the setting";

    m_form->menu().show_menu(u"SlideshowInterval", u"", false);
    auto const& items = m_form->menu().items();
    auto const ten = std::find_if(items.begin(), items.end(), [](MenuItem const& i) { return i.id == u"Interval10"; });
    ASSERT_NE(ten, items.end());
    EXPECT_FALSE(ten->checked);
    m_form->menu().on_item_clicked(*m_form->menu().list(), static_cast<std::int32_t>(ten - items.begin()));
    ASSERT_TRUE(read_dword(kMakerKey, ImageForm::kSlideshowSetting, kept));
    EXPECT_EQ(kept, 10u);
    press(Key(38));
    EXPECT_DOUBLE_EQ(m_form->slideshow_seconds(), 10.0);
    press(Key::Right);
    m_form->menu().show_menu(u"SlideshowInterval", u"", false);
    for (auto const& item : m_form->menu().items())
        EXPECT_EQ(item.checked, item.id == u"Interval10") << to_utf8(item.id);
    m_form->menu().close();

    // A value no one could mean is the default, and stays in the file.
    ASSERT_TRUE(write_dword(kMakerKey, ImageForm::kSlideshowSetting, 0));
    press(Key(38));
    EXPECT_DOUBLE_EQ(m_form->slideshow_seconds(), ImageForm::kDefaultSlideshowSeconds);
    ASSERT_TRUE(read_dword(kMakerKey, ImageForm::kSlideshowSetting, kept));
    EXPECT_EQ(kept, 0u);
}

TEST_F(ImageFormTest, TheMenuOpensFromTheKeysAndTheRightAndMiddleButtons)
{
    add_picture("first.jpg", 480, 360, kColours[0], true);
    add_picture("second.jpg", 480, 360, kColours[1], true);
    open(1);
    ASSERT_TRUE(run_until_loaded());
    for (int way = 0; way < 3; ++way) {
        SCOPED_TRACE(way);
        if (way == 0)
            press(Key::SoftRight);
        else if (way == 1)
            press(Key::ContextMenu);
        else
            m_form->screen().on_menu_click(Point { 30, 200 });
        ASSERT_TRUE(m_form->menu().is_open());
        EXPECT_EQ(m_form->menu().caption_text(), u"second.jpg");
        std::vector<WString> ids;
        for (auto const& item : m_form->menu().items())
            ids.push_back(item.id);
        EXPECT_EQ(ids, (std::vector<WString> { u"Slideshow", u"SlideshowInterval", u"PictureInfo", u"FullScreen",
                           u"Cancel" }));
        m_form->menu().close();
    }
    // Its rows act as the keys do.
    auto choose = [this](WStringView id) {
        m_form->menu().show_menu(u"ViewerMenu", u"", false);
        auto const& items = m_form->menu().items();
        for (std::size_t i = 0; i < items.size(); ++i)
            if (items[i].id == id) {
                EXPECT_TRUE(items[i].enabled) << to_utf8(id);
                m_form->menu().on_item_clicked(*m_form->menu().list(), static_cast<std::int32_t>(i));
            }
    };
    choose(u"PictureInfo");
    EXPECT_TRUE(m_form->info_visible());
    m_form->menu().show_menu(u"ViewerMenu", u"", false);
    EXPECT_TRUE(m_form->menu().items()[2].checked);
    m_form->menu().close();
    choose(u"PictureInfo");
    EXPECT_FALSE(m_form->info_visible());
    choose(u"Slideshow");
    EXPECT_TRUE(m_form->slideshow_running());
    EXPECT_FALSE(m_form->menu().is_open());
}

TEST_F(ImageFormTest, TheInfoPanelTellsNameFolderSizesAndTheDateTaken)
{
    ASSERT_TRUE(m_store.language().load(test::program_form(fs::path(QUILVANE_APP_DIR) / "english.lng")));
    ASSERT_TRUE(write_solid_jpeg(m_dir / "plain.jpg", 640, 480, kColours[0]));
    test::write_bytes(m_dir / "dated.jpg",
        test::with_segment(test::read_bytes(m_dir / "plain.jpg"), test::exif_segment(6, "2019:05:04 13:14:15")));
    // The other picture's file was last changed at a known local time.
    std::tm changed {};
    changed.tm_year = 2011 - 1900;
    changed.tm_mon = 2;
    changed.tm_mday = 2;
    changed.tm_hour = 10;
    changed.tm_min = 20;
    changed.tm_isdst = -1;
    utimbuf const times { std::mktime(&changed), std::mktime(&changed) };
    ASSERT_EQ(::utime((m_dir / "plain.jpg").c_str(), &times), 0);
    for (auto name : { "dated.jpg", "plain.jpg" }) {
        WString const path = m_dir.program_path(name);
        ASSERT_TRUE(create_picture_cache(path, cache_file_name(path, root())));
        m_pictures.push_back(path);
    }
    open(0);
    ASSERT_TRUE(run_until_loaded());
    Element& panel = *m_form->find_child(u"info");
    EXPECT_FALSE(panel.visible());

    press(Key(28)); // I
    EXPECT_TRUE(m_form->info_visible());
    EXPECT_TRUE(panel.visible());
    frame();
    EXPECT_EQ(info_text(u"infoName"), u"dated.jpg");
    EXPECT_EQ(info_text(u"infoFolder"), from_utf8(m_dir.path().string()));
    // Turned upright by its orientation 6.
    EXPECT_EQ(info_text(u"infoPixels"), u"480 \u00D7 640");
    auto const bytes = fs::file_size(m_dir / "dated.jpg");
    ASSERT_GE(bytes, 1024u);
    WString const size = info_text(u"infoFileSize");
    EXPECT_EQ(size.substr(0, size.find(u'.')), to_wstring(static_cast<std::int64_t>((bytes * 10 + 512) / 1024 / 10)));
    EXPECT_TRUE(size.ends_with(u"\u00A0" + m_store.text(u"UnitKB"))) << to_utf8(size);
    EXPECT_EQ(info_text(u"infoDateLabel"), m_store.text(u"InfoTaken"));
    EXPECT_EQ(info_text(u"infoDate"), u"2019-05-04 13:14");
    // Drawn over the picture on a translucent backing: the picture shows
    // through, darkened.
    std::uint16_t const backed = pixel(panel.position().x + 2, panel.position().y + 2);
    EXPECT_FALSE(near_colour(backed, kColours[0]));
    EXPECT_GT((backed >> 11) & 31, 0) << "the backing hides the picture";

    // The next picture has no Exif date: its file's time, said so.
    press(Key::Right);
    ASSERT_TRUE(settle());
    EXPECT_EQ(info_text(u"infoName"), u"plain.jpg");
    EXPECT_EQ(info_text(u"infoPixels"), u"640 \u00D7 480");
    EXPECT_EQ(info_text(u"infoDateLabel"), m_store.text(u"InfoModified"));
    EXPECT_EQ(info_text(u"infoDate"), u"2011-03-02 10:20");

    press(Key(28));
    EXPECT_FALSE(m_form->info_visible());
    EXPECT_FALSE(panel.visible());
}

TEST_F(ImageFormTest, ShadesDarkenThePictureBehindTheControlsOnlyWhileTheyShow)
{
    // A picture of the screen's own shape fills it, under the controls too.
    add_picture("tall.jpg", 600, 800, kColours[3], true);
    open(0);
    ASSERT_TRUE(run_until_loaded());
    ASSERT_TRUE(m_form->controls_visible());
    auto const channels = [](std::uint16_t p) { return std::array<int, 3> { (p >> 11) & 31, (p >> 5) & 63, p & 31 }; };
    auto const shaded = [&](std::uint16_t band, std::uint16_t open) {
        // Between a quarter and a half of the light is left, channel by channel.
        auto const b = channels(band), o = channels(open);
        for (int c = 0; c < 3; ++c)
            if (b[c] * 4 < o[c] - 1 || b[c] * 2 > o[c] + 1)
                return false;
        return true;
    };
    std::uint16_t const middle = pixel(120, 160);
    ASSERT_TRUE(near_colour(middle, kColours[3]));
    // Beside the title above, beside the buttons below, off any control.
    EXPECT_TRUE(shaded(pixel(236, 4), middle)) << std::hex << pixel(236, 4) << " over " << middle;
    EXPECT_TRUE(shaded(pixel(150, 316), middle)) << std::hex << pixel(150, 316) << " over " << middle;
    // Below the bands the picture is untouched.
    EXPECT_TRUE(near_colour(pixel(236, 64), kColours[3]));
    EXPECT_TRUE(near_colour(pixel(150, 256), kColours[3]));

    // Past the controls' time: the top shade goes with the title; the
    // bottom one stays exactly while a zoom button is left to back.
    frames(110);
    ASSERT_FALSE(m_form->controls_visible());
    EXPECT_TRUE(near_colour(pixel(236, 4), kColours[3]));
    bool const zoom_button = m_form->find_child(u"btnPlus")->visible() || m_form->find_child(u"btnMinus")->visible();
    EXPECT_EQ(shaded(pixel(150, 316), middle), zoom_button);
    EXPECT_EQ(near_colour(pixel(150, 316), kColours[3]), !zoom_button);
}

}
}
