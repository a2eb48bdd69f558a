// The pictures folder is the user's: a search and a cache build write
// nothing into it, and the caches an earlier version kept there are moved
// to the user's cache directory and used from there.

#include "CatalogFixture.h"
#include "base/Paths.h"
#include "catalog/PhotoCatalog.h"
#include "thumbcache/CacheBuilder.h"
#include "thumbcache/CacheFile.h"
#include "thumbcache/CacheLocation.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <sys/stat.h>

using namespace qv;
namespace fs = std::filesystem;

namespace {

struct Entry {
    std::uintmax_t size { 0 };
    struct timespec modified {};
    ino_t inode { 0 };
    bool operator==(Entry const& other) const
    {
        return size == other.size && modified.tv_sec == other.modified.tv_sec
            && modified.tv_nsec == other.modified.tv_nsec && inode == other.inode;
    }
};

Entry entry_of(fs::path const& path)
{
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return { static_cast<std::uintmax_t>(st.st_size), st.st_mtim, st.st_ino };
}

// Every file and directory under `top`, the top itself included, by its
// path from there: what a sync or a backup of the folder would see change.
std::map<std::string, Entry> snapshot(fs::path const& top)
{
    std::map<std::string, Entry> tree { { ".", entry_of(top) } };
    for (auto const& item : fs::recursive_directory_iterator(top))
        tree[fs::relative(item.path(), top).string()] = entry_of(item.path());
    return tree;
}

std::string differences(std::map<std::string, Entry> const& before, std::map<std::string, Entry> const& after)
{
    std::string text;
    for (auto const& [name, entry] : before) {
        auto const now = after.find(name);
        if (now == after.end())
            text += " gone: " + name;
        else if (!(now->second == entry))
            text += " changed: " + name;
    }
    for (auto const& [name, entry] : after) {
        if (!before.contains(name))
            text += " new: " + name;
    }
    return text;
}

class CachePlaceTest : public test::CatalogTest {
protected:
    WString root() const { return u"%my_documents%\\"; }
    WString program(std::string const& name) const { return root() + from_utf8(name); }

    std::set<std::string> built;
    std::mutex built_mutex;

    void attach(PhotoCatalog& catalog)
    {
        catalog.set_build_observer([this](WString const& picture, bool ok) {
            std::lock_guard lock(built_mutex);
            if (ok)
                built.insert(test::system_form(expand_path(picture)).string());
        });
    }
};

TEST_F(CachePlaceTest, ASearchAndBuildWriteNothingIntoThePicturesFolderAndItsOldCachesMoveOutAndAreUsed)
{
    std::vector<std::string> const pictures { "Trip/a.jpg", "Trip/b.jpg", "Trip/Day 2/c.jpg", "d.jpg" };
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        fs::create_directories((m_docs / pictures[i]).parent_path());
        ASSERT_TRUE(test::write_jpeg(m_docs / pictures[i], 320 + 16 * static_cast<int>(i), 240, static_cast<int>(i)));
    }
    // An earlier version's caches of two of them, in the pictures folder,
    // built as it built them there, beside one whose picture is gone.
    fs::path const old_caches = m_docs / "!quilvanecache";
    fs::create_directories(old_caches);
    std::map<std::string, std::string> old_names; // picture, its cache's name
    for (std::string const picture : { "Trip/a.jpg", "Trip/Day 2/c.jpg" }) {
        auto const identity = stat_picture(program(picture), root());
        ASSERT_TRUE(identity);
        WString const name = file_name_of(cache_plain_name(*identity, root()));
        ASSERT_TRUE(create_picture_cache(program(picture), test::program_form(old_caches) + u"\\" + name));
        old_names[picture] = to_utf8(name);
    }
    // Ours by its record: a stale cache, whose picture has gone.
    auto stale = std::vector<std::uint8_t>(999, 'x');
    auto const record = identity_record(PictureIdentity { 999, 0, u"gone.jpg", 1 }, PictureProblem::None, stale);
    stale.insert(stale.end(), record.begin(), record.end());
    test::write_bytes(old_caches / "999-20200101000000.000000000", stale);
    auto const old_files = snapshot(old_caches);
    auto before = snapshot(m_docs);
    std::erase_if(before, [](auto const& item) { return item.first.starts_with("!quilvanecache"); });

    PhotoCatalog catalog(m_ini, false);
    attach(catalog);
    catalog.start_worker();
    test::Recorder recorder;
    catalog.add_listener(&recorder);
    search_and_build(catalog, recorder);

    // Moved: the same files, renamed into the cache home, and used there.
    EXPECT_FALSE(fs::exists(old_caches));
    fs::path const caches = cache_dir(m_docs);
    ASSERT_FALSE(caches.string().starts_with(m_docs.string())) << caches;
    for (auto const& [picture, name] : old_names) {
        ASSERT_TRUE(fs::exists(caches / name)) << picture;
        EXPECT_TRUE(entry_of(caches / name) == old_files.at(name)) << picture << ": not the moved file";
        auto const status = catalog.picture_status(program(picture), root());
        EXPECT_EQ(status.state, PictureStatus::State::Ready) << picture;
        EXPECT_EQ(test::system_form(status.cache_file), caches / name) << picture;
    }
    {
        std::lock_guard lock(built_mutex);
        EXPECT_EQ(built, (std::set<std::string> { (m_docs / "Trip/b.jpg").string(), (m_docs / "d.jpg").string() }))
            << "only the pictures without a moved cache are built";
    }
    EXPECT_FALSE(fs::exists(caches / "999-20200101000000.000000000")) << "the search keeps the cache tidy there too";

    // Nothing new, changed or gone in the pictures folder: only the folder
    // itself changed, by losing the old cache directory.
    auto after = snapshot(m_docs);
    EXPECT_EQ(differences(before, after), " changed: .");

    // Another search, and a build of everything from nothing: not even the
    // folder's own time changes now.
    before = after;
    fs::remove_all(caches);
    search_and_build(catalog, recorder);
    for (auto const& picture : pictures)
        EXPECT_EQ(catalog.picture_status(program(picture), root()).state, PictureStatus::State::Ready) << picture;
    EXPECT_EQ(files_in(caches).size(), pictures.size());
    EXPECT_EQ(differences(before, snapshot(m_docs)), "");
    catalog.remove_listener(&recorder);
}

}
