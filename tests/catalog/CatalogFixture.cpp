#include "CatalogFixture.h"

#include "imaging/JpegCodec.h"

#include <chrono>
#include <ctime>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace qv::test {

namespace {

std::vector<std::uint8_t> row_of(int width, int y, int seed)
{
    std::vector<std::uint8_t> row(static_cast<size_t>(width) * 3);
    for (int x = 0; x < width; ++x) {
        row[3 * x] = static_cast<std::uint8_t>((x * 3 + seed * 37) & 255);
        row[3 * x + 1] = static_cast<std::uint8_t>((y * 5 + seed * 11) & 255);
        row[3 * x + 2] = static_cast<std::uint8_t>(((x ^ y) + seed) & 255);
    }
    return row;
}

}

bool write_jpeg(std::filesystem::path const& path, int width, int height, int seed)
{
    auto encoder = JpegEncoder::open(from_utf8(path.string()), width, height);
    if (!encoder)
        return false;
    for (int y = 0; y < height; ++y) {
        if (!encoder->write_row(row_of(width, y, seed)))
            return false;
    }
    return encoder->finish();
}

bool write_progressive(std::filesystem::path const& path, int width, int height)
{
    auto ppm = path.string() + ".ppm";
    {
        std::ofstream out(ppm, std::ios::binary);
        out << "P6\n" << width << " " << height << "\n255\n";
        for (int y = 0; y < height; ++y) {
            auto row = row_of(width, y, 1);
            out.write(reinterpret_cast<char const*>(row.data()), static_cast<std::streamsize>(row.size()));
        }
    }
    std::string command = "cjpeg -progressive -outfile '" + path.string() + "' '" + ppm + "'";
    bool ok = std::system(command.c_str()) == 0;
    std::filesystem::remove(ppm);
    return ok;
}

double processor_seconds()
{
    struct timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

bool CatalogTest::poll_until(PhotoCatalog& catalog, std::function<bool()> const& done, double seconds)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        catalog.poll_events();
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

void CatalogTest::search_and_build(PhotoCatalog& catalog, Recorder& recorder)
{
    size_t first = recorder.events.size();
    int searches = catalog.searches_completed();
    catalog.need_search();
    auto seen = [&](bool CatalogEvent::*flag) {
        for (size_t i = first; i < recorder.events.size(); ++i) {
            if (recorder.events[i].*flag)
                return true;
        }
        return false;
    };
    ASSERT_TRUE(poll_until(catalog, [&] { return seen(&CatalogEvent::search_complete); }));
    ASSERT_EQ(catalog.searches_completed(), searches + 1);
    ASSERT_TRUE(poll_until(catalog, [&] { return catalog.work_done(); }));
    catalog.poll_events();
}

std::vector<std::string> CatalogTest::files_in(std::filesystem::path const& directory)
{
    std::vector<std::string> names;
    if (!std::filesystem::exists(directory))
        return names;
    for (auto const& entry : std::filesystem::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}
