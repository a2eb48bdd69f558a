// A process killed while it saves the album list or builds a cache file
// leaves a whole list and no valid cache file for the unfinished picture.

#include "CatalogFixture.h"
#include "base/FileStream.h"
#include "base/TextFile.h"
#include "catalog/CatalogFile.h"
#include "catalog/PhotoCatalog.h"
#include "thumbcache/CacheFile.h"
#include "thumbcache/ThumbnailReader.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace qv;
namespace fs = std::filesystem;

namespace {

class CatalogCrashTest : public test::CatalogTest {
protected:
    // Runs `body` in a child process and kills it after `micros`.
    static void kill_after(std::function<void()> const& body, int micros)
    {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            body();
            _exit(0);
        }
        usleep(static_cast<useconds_t>(micros));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
    }

    // The fixture's card: albums of a drive that is no search root are
    // left out on load.
    std::u16string card() const { return test::program_form(m_card) + u"\\"; }

    std::u16string list_text(int albums, int size) const
    {
        std::u16string text;
        for (int i = 0; i < albums; ++i) {
            auto n = to_wstring(i);
            text += u"KeyPicturePath" + n + u"\t" + card() + u"album" + n + u"\\p.jpg\nDrivePath" + n + u"\t" + card()
                + u"\nFolderSize" + n + u"\t" + to_wstring(size) + u"\n";
        }
        return text;
    }
};

TEST_F(CatalogCrashTest, KilledDuringSaveLeavesTheOldOrTheNewListWhole)
{
    // Two lists that differ in every album's size; the child saves them
    // alternately without end.
    int const albums = 400;
    {
        TextWriter writer(m_ini, OpenMode::Write);
        writer.write(list_text(albums, 1));
    }
    for (int attempt = 0; attempt < 12; ++attempt) {
        kill_after(
            [&] {
                PhotoCatalog catalog(m_ini, false);
                for (int round = 2;; ++round) {
                    for (int i = 0; i < albums; ++i)
                        catalog.set_folder_size(card() + u"album" + to_wstring(i) + u"\\p.jpg", round);
                }
            },
            20000 + attempt * 7000);
        FileStream stream(m_ini, OpenMode::Read);
        auto folders = folders_from_text(read_text(stream).text);
        ASSERT_EQ(folders.size(), static_cast<size_t>(albums)) << "attempt " << attempt;
        // Sizes change one album per save, so a whole list has at most two
        // neighbouring values and never a zero from a cut line.
        int low = folders[0].folder_size, high = folders[0].folder_size;
        for (auto const& folder : folders) {
            low = std::min(low, folder.folder_size);
            high = std::max(high, folder.folder_size);
        }
        EXPECT_GE(low, 1);
        EXPECT_LE(high - low, 1);
    }
}

TEST_F(CatalogCrashTest, KilledDuringABuildLeavesNoValidCacheFileForThePicture)
{
    fs::create_directories(m_docs / "big");
    ASSERT_TRUE(test::write_jpeg(m_docs / "big" / "p.jpg", 3000, 2200, 3));
    WString picture = u"%my_documents%\\big\\p.jpg";
    auto cache = cache_file_name(picture, u"%my_documents%\\");
    ASSERT_FALSE(cache.empty());
    for (int attempt = 0; attempt < 6; ++attempt) {
        fs::remove_all(cache_dir(m_docs));
        bool finished = false;
        int pipe_ends[2];
        ASSERT_EQ(pipe(pipe_ends), 0);
        kill_after(
            [&] {
                PhotoCatalog catalog(m_ini, false);
                bool built = false;
                catalog.set_build_observer([&](WString const&, bool ok) { built = ok; });
                catalog.start_worker();
                catalog.add_picture(picture, u"%my_documents%\\");
                while (catalog.pending_count() != 0)
                    usleep(1000);
                char done = built ? 1 : 0;
                (void)!write(pipe_ends[1], &done, 1);
                pause();
            },
            30000 + attempt * 60000);
        close(pipe_ends[1]);
        char done = 0;
        finished = read(pipe_ends[0], &done, 1) == 1 && done == 1;
        close(pipe_ends[0]);
        // The kill may fall between the header's write and the report of
        // the finished build: a file marked valid must then be whole.
        if (finished || is_cache_file_valid(cache)) {
            EXPECT_TRUE(read_cache_header(cache).has_value()) << "attempt " << attempt;
            EXPECT_TRUE(load_thumbnail(cache)) << "attempt " << attempt;
        }
    }
}

}
