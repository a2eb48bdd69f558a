// The settings file as found on disk: only a plain file of a sensible size
// is read. Whatever else sits at its path must neither hold the start up
// (a FIFO), fill memory (a device that never ends, a huge file) nor be
// replaced by the next write.

#include "platform/Settings.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>

using namespace qv;
namespace fs = std::filesystem;

namespace {

constexpr char16_t const* kKey = u"HKEY_CURRENT_USER\\Software\\Zenk";

struct Outcome {
    std::optional<platform::SettingValue> read;
    std::string problem;
    bool written { true };
    std::string errors;
};

// Reads twice (the second time from what the first left cached) and tries
// a write, on a thread of its own: should the reader wait on a FIFO, the
// test opens the FIFO's other end to let it go and fails instead of hanging.
Outcome use_settings_at(fs::path const& file, fs::path const& fifo = {})
{
    test::ScopedEnv registry("QUILVANE_REGISTRY", file.string());
    auto run = std::async(std::launch::async, [] {
        Outcome out;
        testing::internal::CaptureStderr();
        out.read = platform::read_setting(kKey, u"Log");
        out.read = platform::read_setting(kKey, u"Log");
        out.problem = platform::settings_file_problem();
        out.written = platform::write_setting(kKey, u"Log", std::uint32_t { 1 });
        out.errors = testing::internal::GetCapturedStderr();
        return out;
    });
    if (run.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        ADD_FAILURE() << file << " held the reader up";
        if (!fifo.empty())
            ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    }
    return run.get();
}

std::size_t count(std::string const& text, std::string const& part)
{
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

}

TEST(SettingsFile, devices_fifos_and_huge_files_give_defaults_and_are_left_alone)
{
    test::TempDir dir;
    fs::path const fifo = dir / "fifo.reg", huge = dir / "huge.reg", device = dir / "zero.reg";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", device);
    int const fd = ::open(huge.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, off_t { 100 } << 20), 0);
    ::close(fd);
    struct stat before {};
    ASSERT_EQ(::stat(huge.c_str(), &before), 0);

    for (fs::path const& file : { fs::path("/dev/zero"), device, fifo, huge }) {
        SCOPED_TRACE(file);
        Outcome const out = use_settings_at(file, file == fifo ? fifo : fs::path());
        EXPECT_FALSE(out.read);
        EXPECT_FALSE(out.problem.empty());
        EXPECT_FALSE(out.written);
        EXPECT_EQ(count(out.errors, file.string()), 1u) << "one line for the file: " << out.errors;
        EXPECT_FALSE(fs::exists(file.string() + ".lock")) << "nothing is made beside it";
    }
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_TRUE(fs::is_symlink(device));
    struct stat after {};
    ASSERT_EQ(::stat(huge.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_size, before.st_size);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator {}), 3);
}

TEST(SettingsFile, a_link_to_a_plain_file_is_read_and_a_fixed_file_is_used_again)
{
    test::TempDir dir;
    fs::path const real = dir / "real.reg", link = dir / "link.reg";
    test::write_bytes(real, std::string("[HKEY_CURRENT_USER\\Software\\Zenk]\n\"Log\"=dword:00000007\n"));
    fs::create_symlink(real, link);
    Outcome const linked = use_settings_at(link);
    ASSERT_TRUE(linked.read);
    EXPECT_EQ(std::get<std::uint32_t>(*linked.read), 7u);
    EXPECT_TRUE(linked.problem.empty());
    EXPECT_TRUE(linked.written);
    EXPECT_TRUE(linked.errors.empty()) << linked.errors;

    // Grown past the limit, then cut back: refused, then read again.
    fs::resize_file(real, (1u << 20) + 1);
    EXPECT_FALSE(use_settings_at(real).problem.empty());
    test::write_bytes(real, std::string("[HKEY_CURRENT_USER\\Software\\Zenk]\n\"Log\"=dword:00000003\n"));
    Outcome const fixed = use_settings_at(real);
    ASSERT_TRUE(fixed.read);
    EXPECT_EQ(std::get<std::uint32_t>(*fixed.read), 3u);
    EXPECT_TRUE(fixed.written);
}

// An earlier release's settings move to the program's own folder once, with
// every value, and nothing is left beside the file after writes.
TEST(SettingsFile, moves_from_the_old_folder_once_and_leaves_no_lock_behind)
{
    test::TempDir config;
    test::ScopedEnv no_override("QUILVANE_REGISTRY", std::nullopt);
    test::ScopedEnv config_env("XDG_CONFIG_HOME", config.path().string());
    fs::create_directories(config / "zenk");
    test::write_bytes(config / "zenk" / "registry.reg",
        std::string("[HKEY_CURRENT_USER\\Software\\Zenk]\n\"Log\"=dword:00000001\n\"Skin\"=\"dark\"\n"));
    test::write_bytes(config / "zenk" / "registry.reg.lock", std::string());

    EXPECT_EQ(platform::settings_file_path(), (config / "quilvane" / "settings.reg").string());
    EXPECT_EQ(platform::read_setting(kKey, u"Skin"), platform::SettingValue { WString(u"dark") });
    EXPECT_EQ(platform::read_setting(kKey, u"Log"), platform::SettingValue { std::uint32_t { 1 } });
    EXPECT_FALSE(fs::exists(config / "zenk")) << "the old folder stays";

    ASSERT_TRUE(platform::write_setting(kKey, u"Log", std::uint32_t { 0 }));
    ASSERT_TRUE(platform::write_setting(kKey, u"Zoom", std::uint32_t { 2 }));
    std::vector<std::string> names;
    for (auto const& entry : fs::directory_iterator(config / "quilvane"))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string> { "settings.reg" });

    // Once there is a file in the new place, an old one is left alone.
    test::TempDir both;
    test::ScopedEnv both_env("XDG_CONFIG_HOME", both.path().string());
    fs::create_directories(both / "zenk");
    fs::create_directories(both / "quilvane");
    test::write_bytes(both / "zenk" / "registry.reg", std::string("[HKEY_CURRENT_USER\\Software\\Zenk]\n\"Skin\"=\"old\"\n"));
    test::write_bytes(both / "quilvane" / "settings.reg", std::string("[HKEY_CURRENT_USER\\Software\\Zenk]\n\"Skin\"=\"new\"\n"));
    EXPECT_EQ(platform::read_setting(kKey, u"Skin"), platform::SettingValue { WString(u"new") });
    EXPECT_TRUE(fs::exists(both / "zenk" / "registry.reg"));
}

