// The viewer and the catalog together: the viewer open on a picture that
// cannot be read, whose empty bad-picture marker cannot be written either,
// while the other pictures of its album wait in the catalog's queue.

#include "catalog/CatalogEvent.h"
#include "catalog/PhotoCatalog.h"
#include "catalog/PictureStatus.h"
#include "imaging/JpegCodec.h"
#include "screens/ImageForm.h"
#include "skin/Properties.h"
#include "support/TestSupport.h"
#include "thumbcache/CacheFile.h"
#include "thumbcache/CacheLocation.h"
#include "widgets/TextElement.h"
#include "widgets/TileView.h"
#include "widgets/WidgetFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>

namespace qv {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

fs::path const kBin = fs::path(QUILVANE_APP_DIR) / "skins" / "bin";

bool write_picture(fs::path const& path, int width, int seed)
{
    auto encoder = JpegEncoder::open(test::program_form(path), width, 120);
    if (!encoder)
        return false;
    std::vector<std::uint8_t> row(static_cast<size_t>(width) * 3, static_cast<std::uint8_t>(40 * seed));
    for (int y = 0; y < 120; ++y)
        if (!encoder->write_row(row))
            return false;
    return encoder->finish();
}

// Holds the catalog's worker after each build but the unreadable
// picture's until the test lets it go on, one build at a time: every
// completion is then polled before the next can replace it, and the
// unreadable picture's completion waits to be polled while the others are
// still queued, on any machine.
class BuildGate {
public:
    void attach(PhotoCatalog& catalog, WString unreadable)
    {
        m_unreadable = std::move(unreadable);
        catalog.set_build_observer([this](WString const& picture, bool) {
            std::unique_lock lock(m_mutex);
            m_attempts.push_back(picture);
            m_changed.notify_all();
            if (picture != m_unreadable) {
                m_changed.wait_for(lock, std::chrono::seconds(20), [this] { return m_passes > 0; });
                m_passes = std::max(0, m_passes - 1);
            }
        });
    }
    // Lets the held build go on.
    void pass_one()
    {
        std::lock_guard lock(m_mutex);
        ++m_passes;
        m_changed.notify_all();
    }
    // The picture of build attempt `attempt` (0 the first) once the worker
    // has made it, waited for up to 20 s; empty when it has not.
    WString held(int attempt)
    {
        std::unique_lock lock(m_mutex);
        auto const made = [&] { return static_cast<int>(m_attempts.size()) > attempt; };
        m_changed.wait_for(lock, std::chrono::seconds(20), made);
        return static_cast<int>(m_attempts.size()) > attempt ? m_attempts[static_cast<size_t>(attempt)] : WString();
    }
    int attempts(WString const& picture)
    {
        std::lock_guard lock(m_mutex);
        return static_cast<int>(std::count(m_attempts.begin(), m_attempts.end(), picture));
    }

private:
    WString m_unreadable;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<WString> m_attempts;
    int m_passes { 0 };
};

struct Recorder : CatalogListener {
    std::vector<CatalogEvent> events;
    void on_catalog_event(CatalogEvent const& event) override { events.push_back(event); }
};

class BigPictureType {
public:
    BigPictureType()
    {
        register_element_type(u"bigpicture", [](Element* parent) -> Element* { return new TileView(parent); });
    }
    ~BigPictureType() { unregister_element_type(u"bigpicture"); }
};

// How the marker is refused. The fault wants a write-protected card or
// pictures folder, but the tests run as root, for whom chmod stops no
// write, and no read-only mount is to be had; so the refusal is made of the
// shape of the file system, which stops root as well:
enum class Refusal {
    // the cache directory's name taken by a regular file, as a card that
    // takes no writes at all: nothing can be created inside it;
    CacheDirectoryIsAFile,
    // a directory standing at the marker's own name: every other cache
    // file can still be written, the marker alone cannot.
    MarkerNameIsADirectory,
};

class UnwritableMarkerTest : public ::testing::TestWithParam<Refusal> {
protected:
    static constexpr Size kScreen { 240, 320 };

    void SetUp() override
    {
        ASSERT_TRUE(m_store.load_skin(test::program_form(kBin / "default.skin"), DisplayInfo { 240, 320, 96 }));
        fs::create_directories(m_dir / "album");
        for (int i = 0; i < 5; ++i) {
            auto const name = "p" + std::to_string(i) + ".jpg";
            if (i == 1)
                test::write_bytes(m_dir / "album" / name, std::string("a text file named like a picture"));
            else
                ASSERT_TRUE(write_picture(m_dir / "album" / name, 100 + 10 * i, i));
            m_pictures.push_back(m_dir.program_path("album\\" + name));
        }
        auto const caches = test::system_form(cache_directory_of(root()));
        if (GetParam() == Refusal::CacheDirectoryIsAFile) {
            fs::create_directories(caches.parent_path());
            test::write_bytes(caches, std::string("not a directory"));
        } else {
            fs::create_directories(caches);
            fs::create_directory(test::system_form(cache_file_name(unreadable(), root())));
        }
    }

    WString root() const { return m_dir.program_path() + u"\\"; }
    WString const& unreadable() const { return m_pictures[1]; }

    void frame()
    {
        m_form->advance(0.04);
        m_form->place(kScreen);
        m_form->paint(m_screen.target(), Point {});
    }

    test::TempDir m_dir;
    test::WidgetTypesScope m_types;
    BigPictureType m_big_picture;
    Properties m_store;
    std::vector<WString> m_pictures;
    // In this order, so that each is destroyed before what it uses: the
    // listeners before the catalog, the catalog's worker before the gate it
    // reports to.
    BuildGate m_gate;
    std::unique_ptr<PhotoCatalog> m_catalog;
    Recorder m_told;
    std::unique_ptr<ImageForm> m_form;
    RenderSurface m_screen { kScreen };
};

TEST_P(UnwritableMarkerTest, TheViewerShowsTheUnreadablePictureAsBadAndTheOthersStillBuild)
{
    m_catalog = std::make_unique<PhotoCatalog>(m_dir.program_path("folders.ini"), false);
    PhotoCatalog& catalog = *m_catalog;
    // One build at a time: the gate lets them through one by one, and a
    // refusal gives up on the rest before a second build could start.
    catalog.set_build_threads(1);
    BuildGate& gate = m_gate;
    gate.attach(catalog, unreadable());
    catalog.add_listener(&m_told);
    // As the album's thumbnails ask for them, the whole album is queued.
    for (auto const& picture : m_pictures)
        catalog.add_picture(picture, root());
    catalog.set_current_folder(m_dir.program_path("album") + u"\\");
    m_form = std::make_unique<ImageForm>(m_store, catalog, test::program_form(kBin));
    m_form->open(std::make_shared<std::vector<WString> const>(m_pictures), 1, root());
    m_form->set_visible(true);
    m_form->place(kScreen);

    // The viewed picture goes first and fails; the worker holds on to the
    // next one while the viewer hears of the failure.
    catalog.start_worker();
    bool const cache_writable = GetParam() == Refusal::MarkerNameIsADirectory;
    ASSERT_EQ(gate.held(0), unreadable());
    if (cache_writable) {
        ASSERT_FALSE(gate.held(1).empty());
        ASSERT_GT(catalog.pending_count(), 0) << "the others must still be queued";
    }
    // The building thread ends the attempt after the gate has seen it, at
    // background priority: the viewer hears of it within a few frames of
    // that, however long the machine keeps the thread waiting.
    auto const until = Clock::now() + std::chrono::seconds(20);
    auto const heard_of_unreadable = [&] {
        return std::any_of(m_told.events.begin(), m_told.events.end(),
            [&](CatalogEvent const& e) { return e.picture_complete && e.picture_path == unreadable(); });
    };
    while (!heard_of_unreadable() && Clock::now() < until)
        frame();
    for (int i = 0; i < 10; ++i)
        frame();

    ViewSlot const& centre = m_form->slot(1);
    EXPECT_EQ(centre.picture, 1);
    EXPECT_EQ(centre.state, ViewSlot::Bad);
    EXPECT_FALSE(centre.creator_ok);
    EXPECT_EQ(centre.problem, PictureProblem::NotPicture);
    auto const& reason = dynamic_cast<TextElement&>(*m_form->find_child(u"problemText"));
    EXPECT_TRUE(reason.visible());
    EXPECT_EQ(reason.text(), m_store.text(u"BadNotPicture"));
    // The catalog has given up on it, and says so.
    auto const status = catalog.picture_status(unreadable(), root());
    EXPECT_EQ(status.state, PictureStatus::State::Bad);
    EXPECT_NE(status.problem, PictureProblem::None);

    // Where the cache takes files, the others build one at a time, each
    // completion told before the next. Where it takes none, the catalog
    // gives up on the rest of the storage after the first refusal: it
    // says why once, and tries none of them before the next search.
    for (int attempt = 1; cache_writable && attempt < static_cast<int>(m_pictures.size()); ++attempt) {
        WString const picture = gate.held(attempt);
        ASSERT_FALSE(picture.empty()) << attempt;
        gate.pass_one();
        auto const deadline = Clock::now() + std::chrono::seconds(20);
        auto const heard = [&] {
            return std::any_of(m_told.events.begin(), m_told.events.end(),
                [&](CatalogEvent const& e) { return e.picture_complete && e.picture_path == picture; });
        };
        while (!heard() && Clock::now() < deadline)
            frame();
        ASSERT_TRUE(heard()) << to_utf8(picture);
    }
    // Giving up on the storage follows the failure it learnt from.
    auto const told_of_storage = [&] {
        return std::any_of(
            m_told.events.begin(), m_told.events.end(), [](CatalogEvent const& e) { return e.storage_fault; });
    };
    auto const settled = Clock::now() + std::chrono::seconds(20);
    while ((catalog.pending_count() > 0 || (!cache_writable && !told_of_storage())) && Clock::now() < settled)
        frame();
    for (int i = 0; i < 20; ++i)
        frame();
    EXPECT_EQ(catalog.pending_count(), 0);
    for (auto const& picture : m_pictures) {
        int const expected = cache_writable || picture == unreadable() ? 1 : 0;
        EXPECT_EQ(gate.attempts(picture), expected) << "none asked for again: " << to_utf8(picture);
    }
    EXPECT_EQ(m_form->slot(1).state, ViewSlot::Bad);
    EXPECT_EQ(told_of_storage(), !cache_writable);
    EXPECT_EQ(catalog.storage_problem().fault != platform::StorageFault::None, !cache_writable);

    // The others have their cache files where the cache takes files; where
    // it takes none, they are Bad for that reason alone, and the neighbours
    // on view go on showing from their own files.
    for (auto const& picture : m_pictures) {
        if (picture == unreadable())
            continue;
        auto const other = catalog.picture_status(picture, root());
        EXPECT_EQ(other.state, cache_writable ? PictureStatus::State::Ready : PictureStatus::State::Bad)
            << to_utf8(picture);
        if (!cache_writable)
            EXPECT_EQ(other.problem, PictureProblem::Storage) << to_utf8(picture);
    }
    for (int k : { 0, 2 }) {
        if (cache_writable)
            EXPECT_EQ(m_form->slot(k).state, ViewSlot::Cached) << k;
        else
            EXPECT_TRUE(m_form->slot(k).creator_ok) << k;
    }
    m_form.reset();
    catalog.remove_listener(&m_told);
}

INSTANTIATE_TEST_SUITE_P(Refusals, UnwritableMarkerTest,
    ::testing::Values(Refusal::CacheDirectoryIsAFile, Refusal::MarkerNameIsADirectory),
    [](::testing::TestParamInfo<Refusal> const& refusal) {
        return refusal.param == Refusal::CacheDirectoryIsAFile ? std::string("CacheDirectoryIsAFile")
                                                               : std::string("MarkerNameIsADirectory");
    });

}
}
