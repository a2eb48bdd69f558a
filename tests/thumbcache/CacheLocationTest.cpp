#include "CachePictures.h"
#include "base/Paths.h"
#include "support/TestSupport.h"
#include "thumbcache/CacheBuilder.h"
#include "thumbcache/CacheFile.h"
#include "thumbcache/CacheLocation.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

using namespace qv;
namespace fs = std::filesystem;

namespace {

// A pictures folder, a card and a cache home, all private.
class CacheLocationTest : public ::testing::Test {
protected:
    test::TempDir m_dir;
    fs::path const m_docs { m_dir / "Pictures" };
    fs::path const m_card { m_dir / "media" / "CANON_DC" };
    test::ScopedEnv m_cache_env { "XDG_CACHE_HOME", (m_dir / "cache").string() };
    test::ScopedEnv m_docs_env { "QUILVANE_DOCUMENTS", m_docs.string() };
    test::ScopedEnv m_cards_env { "QUILVANE_CARDS", m_card.string() };
    std::atomic<int> m_card_checks { 0 };
    std::atomic<bool> m_card_read_only { false };

    void SetUp() override
    {
        fs::create_directories(m_docs);
        fs::create_directories(m_card);
    }
    void TearDown() override { cache_location_seam::set_card_refuses_writes({}); }

    void use_card_seam()
    {
        cache_location_seam::set_card_refuses_writes([this](WStringView card) {
            EXPECT_EQ(card, test::program_form(m_card));
            ++m_card_checks;
            return m_card_read_only.load();
        });
    }
    WString in_cache_home(std::string const& rest) const { return test::program_form(m_dir / "cache" / "quilvane" / rest); }
};

TEST_F(CacheLocationTest, the_pictures_folder_keeps_its_caches_in_the_user_cache_directory)
{
    WString const expected = in_cache_home("documents");
    EXPECT_EQ(cache_directory_of(u"%my_documents%\\"), expected);
    EXPECT_EQ(cache_directory_of(u"%my_documents%"), expected);
    EXPECT_EQ(cache_directory_of(test::program_form(m_docs) + u"\\"), expected) << "the expanded path is the same root";

    // Without XDG_CACHE_HOME, or with a relative one (to be ignored), the
    // home's .cache.
    test::ScopedEnv home("HOME", (m_dir / "home").string());
    for (std::optional<std::string> cache : { std::optional<std::string>(), std::optional<std::string>("rel/cache") }) {
        test::ScopedEnv xdg("XDG_CACHE_HOME", cache);
        EXPECT_EQ(cache_directory_of(u"%my_documents%\\"), test::program_form(m_dir / "home" / ".cache" / "quilvane" / "documents"));
    }
}

TEST_F(CacheLocationTest, a_writable_card_keeps_its_caches_and_a_read_only_one_has_them_kept_in_the_cache_home)
{
    WString const card = test::program_form(m_card);
    // The file system's own answer: a temporary directory can be written.
    EXPECT_EQ(cache_directory_of(card + u"\\"), card + u"\\!quilvanecache");

    use_card_seam();
    EXPECT_EQ(cache_directory_of(card + u"\\"), card + u"\\!quilvanecache");
    // Asked for every picture of every frame: the answer is remembered.
    for (int i = 0; i < 100; ++i)
        cache_directory_of(card);
    EXPECT_EQ(m_card_checks.load(), 1);

    m_card_read_only = true;
    cache_location_seam::forget();
    EXPECT_EQ(cache_directory_of(card + u"\\"), in_cache_home("cards/CANON_DC"));
    EXPECT_EQ(root_of_cache_directory(in_cache_home("cards/CANON_DC")), card + u"\\");
    // In a process that has not asked yet, the place itself tells the card.
    cache_location_seam::forget();
    EXPECT_EQ(root_of_cache_directory(in_cache_home("cards/CANON_DC")), card + u"\\");
    EXPECT_EQ(root_of_cache_directory(card + u"\\!quilvanecache"), card + u"\\");
}

TEST_F(CacheLocationTest, any_other_folder_has_a_directory_of_its_own_named_after_its_whole_path)
{
    WString const folder = test::program_form(m_dir / "Trips" / "Paris 2024!");
    WString const directory = cache_directory_of(folder + u"\\");
    ASSERT_TRUE(path_starts_with(directory, in_cache_home("folders") + u"\\")) << to_utf8(directory);
    WString const name = file_name_of(directory);
    EXPECT_EQ(name.find(u'\\'), WString::npos);
    EXPECT_NE(name.find(u"Trips!Paris 2024%21"), WString::npos) << "readable: " << to_utf8(name);
    EXPECT_EQ(root_of_cache_directory(directory), folder + u"\\");
    cache_location_seam::forget();
    EXPECT_EQ(root_of_cache_directory(directory), folder + u"\\") << "read back from the name alone";

    // Paths that an encoding with "!" for separators alone would mix up.
    std::vector<WString> const paths { u"\\a\\b", u"\\a!b", u"\\a%21b", u"\\a%b", u"\\a\\b\\", u"\\" };
    std::vector<WString> names;
    for (auto const& path : paths) {
        names.push_back(folder_cache_name(path));
        EXPECT_EQ(folder_of_cache_name(names.back()), path) << to_utf8(path);
        for (std::size_t i = 0; i + 1 < names.size(); ++i)
            EXPECT_NE(names[i], names.back()) << to_utf8(paths[i]) << " and " << to_utf8(path);
    }
}

TEST_F(CacheLocationTest, folders_with_long_paths_get_names_a_file_system_takes_and_still_differ)
{
    WString const deep = test::program_form(m_dir.path()) + u"\\" + WString(300, u'x') + u"\\\u00e9t\u00e9 \U0001F600";
    WString const other = test::program_form(m_dir.path()) + u"\\" + WString(299, u'x') + u"y\\\u00e9t\u00e9 \U0001F600";
    WString const a = folder_cache_name(deep);
    WString const b = folder_cache_name(other);
    EXPECT_NE(a, b) << "two paths that end alike";
    for (auto const& name : { a, b }) {
        EXPECT_LE(to_utf8(name).size(), 255u);
        EXPECT_TRUE(name.ends_with(u"!\u00e9t\u00e9 \U0001F600")) << "the folder's own name shows";
        EXPECT_EQ(folder_of_cache_name(name), u"") << "a cut name reads back as no path";
    }
    // A directory that really can be made there, and found again by this
    // process.
    WString const directory = cache_directory_of(deep);
    EXPECT_TRUE(make_directories(directory));
    EXPECT_TRUE(fs::is_directory(test::system_form(directory)));
    EXPECT_EQ(root_of_cache_directory(directory), deep + u"\\");
}

TEST_F(CacheLocationTest, a_cache_built_in_the_cache_home_records_its_picture_from_the_pictures_folder)
{
    fs::create_directories(m_docs / "Trip");
    ASSERT_TRUE(test::write_pattern_jpeg(m_docs / "Trip" / "a.jpg", 320, 240));
    WString const picture = u"%my_documents%\\Trip\\a.jpg";
    test::make_cache_directory(u"%my_documents%\\");
    WString const cache = cache_file_name(picture, u"%my_documents%\\");
    // A build in a process that never asked where the caches are.
    cache_location_seam::forget();
    ASSERT_TRUE(create_picture_cache(picture, cache));
    auto const header = read_cache_header(cache);
    ASSERT_TRUE(header && header->identity);
    EXPECT_EQ(header->identity->relative_path, u"Trip\\a.jpg")
        << "the path from the search root lets a renamed or moved library keep its caches";
    EXPECT_FALSE(fs::exists(m_docs / "!quilvanecache"));
}

TEST_F(CacheLocationTest, threads_asking_while_the_answers_are_forgotten_all_get_the_same_places)
{
    use_card_seam();
    WString const card = test::program_form(m_card) + u"\\";
    WString const folder = test::program_form(m_dir / "loose") + u"\\";
    WString const want_card = cache_directory_of(card), want_docs = cache_directory_of(u"%my_documents%\\"),
                  want_folder = cache_directory_of(folder);
    std::atomic<int> wrong { 0 };
    std::atomic<bool> done { false };
    std::vector<std::thread> askers;
    for (int t = 0; t < 4; ++t) {
        askers.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                wrong += cache_directory_of(card) != want_card;
                wrong += cache_directory_of(u"%my_documents%\\") != want_docs;
                wrong += cache_directory_of(folder) != want_folder;
                wrong += root_of_cache_directory(want_folder) != folder;
            }
        });
    }
    std::thread forgetter([&] {
        while (!done)
            cache_location_seam::forget();
    });
    for (auto& asker : askers)
        asker.join();
    done = true;
    forgetter.join();
    EXPECT_EQ(wrong.load(), 0);
}

}
