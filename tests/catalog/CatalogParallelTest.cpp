// Cache files built several at once: the same files as one at a time, in
// the same order of priority, on threads that leave the screen its time,
// with transcodes sharing one memory limit and a stop that ends them all.

#include "CatalogFixture.h"
#include "catalog/NameClaims.h"
#include "catalog/PhotoCatalog.h"
#include "imaging/JpegCodec.h"
#include "platform/System.h"
#include "thumbcache/CacheBuilder.h"
#include "thumbcache/CacheFile.h"
#include "thumbcache/ScratchFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <thread>

using namespace qv;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

struct Observed {
    std::mutex mutex;
    std::vector<WString> order;
    int background { 0 };

    void attach(PhotoCatalog& catalog)
    {
        catalog.set_build_observer([this](WString const& picture, bool) {
            int const thread = platform::current_thread_id();
            bool const idle = platform::thread_is_idle_class(thread) || platform::thread_nice(thread) == 19;
            std::lock_guard lock(mutex);
            order.push_back(picture);
            background += idle ? 1 : 0;
        });
    }
};

std::map<std::string, std::string> contents_of(fs::path const& directory)
{
    std::map<std::string, std::string> files;
    for (auto const& entry : fs::directory_iterator(directory)) {
        std::ifstream in(entry.path(), std::ios::binary);
        files[entry.path().filename().string()] = std::string(std::istreambuf_iterator<char>(in), {});
    }
    return files;
}

class CatalogParallelTest : public test::CatalogTest {
protected:
    // Two albums of pictures that differ, a progressive one, and four
    // pictures of one size and one time: a listing cannot
    // tell them apart, so they share one cache name, the first built takes
    // it and the others get names of their own.
    void make_library()
    {
        fs::create_directories(m_docs / "A");
        fs::create_directories(m_card / "B");
        for (int i = 0; i < 6; ++i) {
            ASSERT_TRUE(test::write_jpeg(m_docs / "A" / ("a" + std::to_string(i) + ".jpg"), 300 + 7 * i, 200, i));
            ASSERT_TRUE(test::write_jpeg(m_card / "B" / ("b" + std::to_string(i) + ".jpg"), 200, 150 + 5 * i, 10 + i));
        }
        ASSERT_TRUE(test::write_progressive(m_docs / "A" / "progressive.jpg", 640, 480));
        // Bytes after the end of a JPEG are not read: padded to one size.
        std::vector<fs::path> alike;
        // First in the queue, so that every thread starts on one of them.
        fs::create_directories(m_docs / "0");
        for (auto name : { "c1.jpg", "c2.jpg", "c3.jpg", "c4.jpg" }) {
            alike.push_back(m_docs / "0" / name);
            ASSERT_TRUE(test::write_jpeg(alike.back(), 400, 300, 40 + static_cast<int>(alike.size())));
        }
        std::uintmax_t size = 0;
        for (auto const& path : alike)
            size = std::max(size, fs::file_size(path));
        struct timespec const times[2] = { { 0, UTIME_OMIT }, { 1700000000, 5 } };
        for (auto const& path : alike) {
            std::ofstream(path, std::ios::binary | std::ios::app) << std::string(size - fs::file_size(path), '\0');
            ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        }
    }

    void build_all(int threads, Observed& observed)
    {
        PhotoCatalog catalog(m_ini, false);
        catalog.set_build_threads(threads);
        observed.attach(catalog);
        ASSERT_TRUE(catalog.start_worker());
        EXPECT_EQ(catalog.build_threads(), threads);
        test::Recorder recorder;
        catalog.add_listener(&recorder);
        search_and_build(catalog, recorder);
        ASSERT_TRUE(poll_until(catalog, [&] { return recorder.count(&CatalogEvent::cache_complete) > 0; }, 30));
        catalog.remove_listener(&recorder);
    }
};

TEST_F(CatalogParallelTest, ManyBuildsAtOnceWriteTheFilesOneAtATimeWrites)
{
    make_library();
    Observed one;
    build_all(1, one);
    auto const docs = contents_of(cache_dir(m_docs));
    auto const card = contents_of(cache_dir(m_card));
    ASSERT_EQ(docs.size(), 11u);
    ASSERT_EQ(card.size(), 6u);

    // Twice, as the threads' timing differs from one run to the next.
    for (int round = 0; round < 2; ++round) {
        fs::remove_all(cache_dir(m_docs));
        fs::remove_all(cache_dir(m_card));
        Observed four;
        build_all(4, four);
        EXPECT_EQ(four.order.size(), 17u);
        auto const docs_again = contents_of(cache_dir(m_docs));
        ASSERT_EQ(docs_again.size(), docs.size());
        for (auto const& [name, bytes] : docs) {
            auto found = docs_again.find(name);
            ASSERT_NE(found, docs_again.end()) << name << " is missing";
            EXPECT_TRUE(found->second == bytes) << name << " differs";
        }
        EXPECT_TRUE(contents_of(cache_dir(m_card)) == card);
    }
}

TEST_F(CatalogParallelTest, BuildsRunInTheBackgroundAndTheCurrentAlbumComesFirst)
{
    // Pictures that need not exist: the order of attempts is what counts.
    WString const album_a = test::program_form(m_docs / "A") + u"\\";
    WString const album_b = test::program_form(m_docs / "B") + u"\\";
    Observed observed;
    PhotoCatalog catalog(m_ini, false);
    catalog.set_build_threads(3);
    observed.attach(catalog);
    for (auto const* album : { &album_a, &album_b }) {
        for (int i = 0; i < 8; ++i)
            catalog.add_picture(*album + u"p" + to_wstring(i) + u".jpg", u"%my_documents%\\");
    }
    catalog.set_current_folder(album_b);
    ASSERT_TRUE(catalog.start_worker());
    ASSERT_TRUE(poll_until(catalog, [&] {
        std::lock_guard lock(observed.mutex);
        return observed.order.size() == 16;
    }));
    std::lock_guard lock(observed.mutex);
    // Taken in order, three at a time: when A's first is taken, every one
    // of B's has been, and at most two of them are still under way.
    for (size_t i = 0; i < 8 - 2; ++i)
        EXPECT_TRUE(observed.order[i].starts_with(album_b)) << i;
    EXPECT_EQ(observed.background, 16) << "a building thread ran at the screen's priority";
}

TEST_F(CatalogParallelTest, AStopEndsEveryBuildUnderWayAndLeavesNothingHalfWritten)
{
    // Large enough that four builds are still under way when the stop comes.
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(test::write_jpeg(m_docs / ("big" + std::to_string(i) + ".jpg"), 4000 + 16 * i, 3000, i));
    double stop_asked = 0;
    {
        PhotoCatalog catalog(m_ini, false);
        catalog.set_build_threads(4);
        ASSERT_TRUE(catalog.start_worker());
        catalog.need_search();
        // Each build under way has its scratch cache file.
        auto const deadline = std::chrono::steady_clock::now() + 60s;
        auto scratch_files = [&] {
            int n = 0;
            if (fs::exists(cache_dir(m_docs))) {
                for (auto const& entry : fs::directory_iterator(cache_dir(m_docs))) {
                    auto const name = entry.path().filename().string();
                    n += is_scratch_file_name(from_utf8(name)) && name.ends_with(".cache") ? 1 : 0;
                }
            }
            return n;
        };
        while (scratch_files() < 4 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(2ms);
        ASSERT_GE(scratch_files(), 4);
        stop_asked = test::processor_seconds();
    }
    // A whole build of one of them takes seconds of a processor; a stop
    // is seen every few rows.
    EXPECT_LT(test::processor_seconds() - stop_asked, 2.0);
    for (auto const& entry : fs::directory_iterator(cache_dir(m_docs))) {
        auto const name = from_utf8(entry.path().filename().string());
        EXPECT_FALSE(is_scratch_file_name(name)) << "left behind: " << entry.path();
        // A file under a cache name is whole (a build that ended in time).
        EXPECT_TRUE(is_cache_file_valid(test::program_form(entry.path()))) << entry.path();
    }
}

TEST_F(CatalogParallelTest, TranscodesUnderWayShareOneMemoryLimit)
{
    std::vector<fs::path> pictures;
    for (int i = 0; i < 3; ++i) {
        pictures.push_back(m_docs / ("p" + std::to_string(i) + ".jpg"));
        ASSERT_TRUE(test::write_progressive(pictures.back(), 1600, 1200));
    }
    auto const bytes = probe_jpeg(test::program_form(pictures[0])).info.coefficient_bytes;
    ASSERT_GT(bytes, 0u);
    fs::create_directories(cache_dir(m_docs));
    auto build = [&](std::uint64_t limit) {
        take_transcode_peak_bytes();
        std::vector<std::future<bool>> builds;
        for (size_t i = 0; i < pictures.size(); ++i) {
            builds.push_back(std::async(std::launch::async, [&, i] {
                auto const cache = cache_dir(m_docs) / ("1-20240101000000.00000000" + std::to_string(i));
                PictureProblem problem = PictureProblem::None;
                return create_picture_cache(test::program_form(pictures[i]), test::program_form(cache), nullptr,
                    &problem, limit);
            }));
        }
        bool all = true;
        for (auto& b : builds)
            all = b.get() && all;
        return std::pair { all, take_transcode_peak_bytes() };
    };
    // Room for one at a time: every build still ends, one after the other.
    auto const [all_one, peak_one] = build(bytes + bytes / 2);
    EXPECT_TRUE(all_one);
    EXPECT_EQ(peak_one, bytes);
    // Room for all three: they may run together, never beyond the limit.
    auto const [all_three, peak_three] = build(3 * bytes);
    EXPECT_TRUE(all_three);
    EXPECT_LE(peak_three, 3 * bytes);
    EXPECT_GE(peak_three, bytes);
}

TEST(NameClaimsTest, NamesAreClaimedInTicketOrderAndASharedNameWaitsForTheEarlierBuild)
{
    NameClaims claims;
    auto const first = claims.take_ticket();
    auto const second = claims.take_ticket();
    auto const third = claims.take_ticket();

    // The second waits until the first has named its file, whatever it is.
    auto second_claim = std::async(std::launch::async, [&] { return claims.claim(second, u"x"); });
    EXPECT_EQ(second_claim.wait_for(100ms), std::future_status::timeout);
    ASSERT_TRUE(claims.claim(first, u"shared"));
    ASSERT_EQ(second_claim.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(second_claim.get());

    // The third shares the first's name: it waits for the first to end.
    auto third_claim = std::async(std::launch::async, [&] { return claims.claim(third, u"shared"); });
    EXPECT_EQ(third_claim.wait_for(100ms), std::future_status::timeout);
    claims.release(second);
    EXPECT_EQ(third_claim.wait_for(100ms), std::future_status::timeout);
    claims.release(first);
    ASSERT_EQ(third_claim.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(third_claim.get());
    claims.release(third);

    // A stop ends a wait without a claim.
    auto const fourth = claims.take_ticket();
    auto const fifth = claims.take_ticket();
    std::atomic<bool> stop { false };
    auto fifth_claim = std::async(std::launch::async, [&] { return claims.claim(fifth, u"y", &stop); });
    stop = true;
    ASSERT_EQ(fifth_claim.wait_for(10s), std::future_status::ready);
    EXPECT_FALSE(fifth_claim.get());
    claims.release(fifth);
    claims.release(fourth);
}

}
