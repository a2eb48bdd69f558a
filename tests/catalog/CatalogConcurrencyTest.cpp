// The worker searching and building while the screen side queues, reorders,
// reads and polls. Run under ThreadSanitizer by scripts/test.

#include "CatalogFixture.h"
#include "catalog/PhotoCatalog.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

using namespace qv;
namespace fs = std::filesystem;

namespace {

class CatalogConcurrencyTest : public test::CatalogTest { };

// Reads the album list from inside the events, as the album list screen does.
struct Screen : test::Recorder {
    PhotoCatalog* catalog { nullptr };
    int rows { 0 };
    void on_catalog_event(CatalogEvent const& event) override
    {
        Recorder::on_catalog_event(event);
        if (event.search_complete || event.picture_complete) {
            int n = catalog->get_folders_size();
            for (int i = 0; i < n + 1; ++i)
                rows += catalog->get_folder(i).folder_size;
            catalog->search_folder_num(event.picture_path);
        }
    }
};

TEST_F(CatalogConcurrencyTest, ScreenCallsWhileTheWorkerSearchesAndBuilds)
{
    std::vector<WString> pictures;
    for (int d = 0; d < 4; ++d) {
        for (int i = 0; i < 6; ++i) {
            auto path = (d % 2 ? m_card : m_docs) / ("A" + std::to_string(d)) / ("p" + std::to_string(i) + ".jpg");
            fs::create_directories(path.parent_path());
            ASSERT_TRUE(test::write_jpeg(path, 60 + 7 * d + i, 50 + i, d * 10 + i));
            pictures.push_back(test::program_form(path));
        }
    }
    // The worker alone: the searches are the test's.
    PhotoCatalog catalog(m_ini, false);
    catalog.start_worker();
    Screen screen;
    screen.catalog = &catalog;
    catalog.add_listener(&screen);
    WString card_root = test::program_form(m_card) + u"\\";
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(4);
    int round = 0;
    while (std::chrono::steady_clock::now() < end) {
        ++round;
        if (round % 50 == 1) {
            catalog.need_search();
            // Start over now and then so the worker has pictures to build.
            // (the worker may be writing there: files can vanish under the walk)
            std::error_code ignored;
            if (round % 200 == 1)
                fs::remove_all(cache_dir(m_docs), ignored);
        }
        auto const& picture = pictures[static_cast<size_t>(round) % pictures.size()];
        catalog.add_picture(picture, card_root);
        catalog.set_current_folder(picture.substr(0, picture.rfind(u'\\') + 1));
        catalog.prioritize_picture(pictures[static_cast<size_t>(round * 7) % pictures.size()], card_root);
        catalog.picture_status(pictures[static_cast<size_t>(round * 3) % pictures.size()], card_root);
        catalog.get_folder(round % 5);
        catalog.poll_events();
    }
    catalog.remove_listener(&screen);
    EXPECT_GT(screen.count(&CatalogEvent::search_complete), 0);
    EXPECT_GT(screen.count(&CatalogEvent::picture_complete), 0);
}

}
