#include "support/TestSupport.h"
#include "thumbcache/CacheLocation.h"

#include <gtest/gtest.h>

#include <thread>
#include <sys/wait.h>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>

namespace qv::test {

namespace {

// A death test's child run again from the start: it dies without its
// destructors, so it makes no homes of its own and keeps its directories
// in its parent's test home, which the parent removes.
bool death_test_child()
{
    std::ifstream command_line("/proc/self/cmdline", std::ios::binary);
    std::string const all((std::istreambuf_iterator<char>(command_line)), std::istreambuf_iterator<char>());
    return all.find("--gtest_internal_run_death_test") != std::string::npos;
}

std::filesystem::path temp_base()
{
    char const* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && *cache && death_test_child()) {
        auto const home = std::filesystem::path(cache).parent_path();
        std::error_code ignored;
        std::filesystem::create_directories(home, ignored);
        return home;
    }
    return std::filesystem::temp_directory_path();
}

}

TempDir::TempDir()
{
    std::random_device random;
    auto base = temp_base();
    for (;;) {
        auto candidate = base / ("quilvane-test-" + std::to_string(random()));
        if (std::filesystem::create_directory(candidate)) {
            m_path = candidate;
            break;
        }
    }
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

namespace {

// Every test writes its caches and its data into a directory of its own,
// never into the home of whoever runs the tests, nor where another test
// left its files.
class PrivateHomes : public ::testing::EmptyTestEventListener {
public:
    explicit PrivateHomes(std::filesystem::path homes)
        : m_homes(std::move(homes))
    {
        use(m_homes / "outside");
    }

    void OnTestStart(::testing::TestInfo const&) override { use(m_homes / std::to_string(++m_tests)); }
    void OnTestEnd(::testing::TestInfo const&) override
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_homes / std::to_string(m_tests), ignored);
        use(m_homes / "outside");
    }

private:
    static void use(std::filesystem::path const& home)
    {
        setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
        setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
        cache_location_seam::forget();
    }

    std::filesystem::path m_homes;
    int m_tests { 0 };
};

// Made before the test framework, so gone only after it; registered before
// the tests run, and owned by the framework's list of listeners.
std::optional<TempDir> const homes = death_test_child() ? std::nullopt : std::optional<TempDir>(std::in_place);
bool const private_homes = [] {
    if (homes)
        ::testing::UnitTest::GetInstance()->listeners().Append(new PrivateHomes(homes->path()));
    return true;
}();

}

WString TempDir::program_path(std::string const& name) const
{
    return program_form(name.empty() ? m_path : m_path / name);
}

ScopedEnv::ScopedEnv(char const* name, std::optional<std::string> value)
    : m_name(name)
{
    if (char const* old = std::getenv(name))
        m_old = old;
    if (value)
        setenv(name, value->c_str(), 1);
    else
        unsetenv(name);
    // Where caches live follows the environment (the cards, the pictures
    // folder, the cache home).
    cache_location_seam::forget();
}

ScopedEnv::~ScopedEnv()
{
    if (m_old)
        setenv(m_name.c_str(), m_old->c_str(), 1);
    else
        unsetenv(m_name.c_str());
    cache_location_seam::forget();
}

std::vector<unsigned char> read_bytes(std::filesystem::path const& path)
{
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

void write_bytes(std::filesystem::path const& path, std::vector<unsigned char> const& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<char const*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void write_bytes(std::filesystem::path const& path, std::string const& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

WString program_form(std::filesystem::path const& path)
{
    auto text = from_utf8(path.string());
    for (auto& c : text) {
        if (c == u'/')
            c = u'\\';
    }
    return text;
}

}

namespace qv::test {

std::filesystem::path system_form(WStringView program_path)
{
    auto text = to_utf8(program_path);
    for (auto& c : text) {
        if (c == '\\')
            c = '/';
    }
    return text;
}

std::vector<unsigned char> exif_segment(int orientation, std::optional<std::string> const& date_taken)
{
    std::vector<unsigned char> tiff = { 'I', 'I', 42, 0, 8, 0, 0, 0 }; // header, IFD0 at 8
    auto put = [&tiff](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            tiff.push_back(static_cast<unsigned char>(value >> (8 * i)));
    };
    auto entry = [&put](std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value) {
        put(tag, 2);
        put(type, 2);
        put(count, 4);
        put(value, 4);
    };
    std::uint32_t const entries = date_taken ? 2 : 1;
    std::uint32_t const exif_ifd = 8 + 2 + 12 * entries + 4;
    put(entries, 2);
    entry(0x0112, 3, 1, static_cast<std::uint32_t>(orientation)); // Orientation, SHORT, 1
    if (date_taken)
        entry(0x8769, 4, 1, exif_ifd); // the Exif IFD, LONG, 1
    put(0, 4);                         // no next IFD
    if (date_taken) {
        auto const text = static_cast<std::uint32_t>(exif_ifd + 2 + 12 + 4);
        put(1, 2);
        entry(0x9003, 2, static_cast<std::uint32_t>(date_taken->size() + 1), text); // DateTimeOriginal, ASCII
        put(0, 4);
        tiff.insert(tiff.end(), date_taken->begin(), date_taken->end());
        tiff.push_back(0);
    }
    std::vector<unsigned char> segment = { 0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0 };
    segment.insert(segment.end(), tiff.begin(), tiff.end());
    auto const length = segment.size() - 2;
    segment[2] = static_cast<unsigned char>(length >> 8);
    segment[3] = static_cast<unsigned char>(length);
    return segment;
}

std::vector<unsigned char> with_segment(std::vector<unsigned char> const& jpeg, std::vector<unsigned char> const& segment)
{
    std::vector<unsigned char> out(jpeg.begin(), jpeg.begin() + 2);
    out.insert(out.end(), segment.begin(), segment.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

std::vector<unsigned char> with_frame_size(std::vector<unsigned char> bytes, int width, int height)
{
    for (std::size_t i = 2; i + 8 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && (bytes[i + 1] == 0xC0 || bytes[i + 1] == 0xC2)) {
            bytes[i + 5] = static_cast<unsigned char>(height >> 8);
            bytes[i + 6] = static_cast<unsigned char>(height);
            bytes[i + 7] = static_cast<unsigned char>(width >> 8);
            bytes[i + 8] = static_cast<unsigned char>(width);
            break;
        }
    }
    return bytes;
}

std::optional<int> wait_for_child(int pid, std::chrono::milliseconds limit)
{
    auto const deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status;
}

}
