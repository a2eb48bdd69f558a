// The album list: captions, the catalog file's form and its safe saving.

#include "CatalogFixture.h"
#include "catalog/CatalogFile.h"
#include "base/FileStream.h"
#include "base/Log.h"
#include "base/Registry.h"
#include "base/TextFile.h"
#include "catalog/AlbumListing.h"
#include "catalog/PhotoCatalog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace qv;
namespace fs = std::filesystem;

namespace {

std::string utf16_file(std::u16string const& text)
{
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

std::u16string number(int i) { return to_wstring(i); }

TEST(FolderCaption, NamesTheDirectoryThatHoldsThePicture)
{
    EXPECT_EQ(folder_display_name(u"%my_documents%\\a.jpg"), u"My documents");
    EXPECT_EQ(folder_display_name(u"%my_documents%\\Trip\\a.jpg"), u"Trip");
    EXPECT_EQ(folder_display_name(u"\\Storage Card\\DCIM\\100\\p.jpg"), u"100");
    // A folder path ends in its separator and names the same directory.
    EXPECT_EQ(folder_display_name(u"%my_documents%\\Trip\\"), u"Trip");
    EXPECT_EQ(folder_display_name(u"%my_documents%\\"), u"My documents");
    EXPECT_EQ(folder_display_name(u"Trip\\a.jpg"), u"Trip");
}

TEST(FolderPath, IsTheTextUpToTheLastSeparatorOfEitherKind)
{
    EXPECT_EQ(folder_of(u"\\card\\DCIM\\a.jpg"), u"\\card\\DCIM\\");
    EXPECT_EQ(folder_of(u"%app_path%/x\\y/a.jpg"), u"%app_path%/x\\y/");
    EXPECT_EQ(folder_of(u"a.jpg"), u"");
}

// The roots the text tests read against: a card named "\c".
std::vector<WString> const kCardRoot { u"\\c\\" };

TEST(CatalogText, EqualsSignsAndCrLfReadLikeTabsAndLineFeeds)
{
    std::u16string tabs = u"KeyPicturePath0\t\\c\\a b\\p.jpg\nDrivePath0\t\\c\\\nFolderSize0\t12\n";
    std::u16string equals = u"KeyPicturePath0=\\c\\a b\\p.jpg\r\nDrivePath0=\\c\\\r\nFolderSize0=12\r\n";
    auto a = folders_from_text(tabs, kCardRoot);
    auto b = folders_from_text(equals, kCardRoot);
    ASSERT_EQ(a.size(), 1u);
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(a[0].key_picture_path, u"\\c\\a b\\p.jpg");
    EXPECT_EQ(a[0].folder_path, u"\\c\\a b\\");
    EXPECT_EQ(a[0].drive_path, u"\\c\\");
    EXPECT_EQ(a[0].folder_size, 12);
    EXPECT_EQ(b[0].key_picture_path, a[0].key_picture_path);
    EXPECT_EQ(b[0].drive_path, a[0].drive_path);
    EXPECT_EQ(b[0].folder_size, a[0].folder_size);
}

TEST(CatalogText, ToleratesOddLines)
{
    // Blanks between key and value, a key without value, an unknown key, a
    // size that is no number, and more sizes than pictures.
    auto folders = folders_from_text(
        u"  KeyPicturePath0   \\c\\p.jpg\nFolderSize0\tmany\nOther\tx\nFolderSize1\t4\nEmpty\nDrivePath0 \\c\\\n", kCardRoot);
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(folders[0].key_picture_path, u"\\c\\p.jpg");
    EXPECT_EQ(folders[0].folder_size, 0);
    EXPECT_EQ(folders[0].drive_path, u"\\c\\");
    EXPECT_EQ(parse_folder_size(u"-7"), -7);
    EXPECT_EQ(parse_folder_size(u"99999999999"), 2147483647);
}

class CatalogFileTest : public test::CatalogTest {
protected:
    fs::path ini_path() const { return m_dir / "folders.ini"; }
    // The fixture's storage card as a search root: "<card>\".
    std::u16string card() const { return test::program_form(m_card) + u"\\"; }
};

TEST_F(CatalogFileTest, EmptyOrMarkOnlyFileGivesNoAlbums)
{
    for (std::string bytes : { std::string(), std::string("\xFF\xFE") }) {
        test::write_bytes(ini_path(), bytes);
        PhotoCatalog catalog(m_ini, false);
        EXPECT_EQ(catalog.get_folders_size(), 0);
    }
    fs::remove(ini_path());
    PhotoCatalog catalog(m_ini, false);
    EXPECT_EQ(catalog.get_folders_size(), 0);
}

TEST_F(CatalogFileTest, TwelveAlbumsComeBackInTheirNumbersOrderAndEachPartByItsNumber)
{
    // Written out of order, with the parts of each album apart: the number
    // says which album a line belongs to and where the album goes.
    std::u16string text;
    for (int i = 11; i >= 0; --i)
        text += u"FolderSize" + number(i) + u"\t" + number(100 + i) + u"\n";
    for (int i : { 3, 0, 11, 1, 10, 2, 9, 4, 8, 5, 7, 6 }) {
        text += u"KeyPicturePath" + number(i) + u"\t" + card() + u"A" + number(i) + u"\\p.jpg\n";
        if (i != 7)
            text += u"DrivePath" + number(i) + u"\t" + card() + u"\n";
    }
    test::write_bytes(ini_path(), utf16_file(text));
    std::vector<int> expected { 0, 1, 2, 3, 4, 5, 6, 8, 9, 10, 11 };
    {
        PhotoCatalog catalog(m_ini, false);
        // Album 7 has no drive: left out, and the others keep their own.
        ASSERT_EQ(catalog.get_folders_size(), 11);
        for (int i = 0; i < 11; ++i) {
            auto folder = catalog.get_folder(i);
            EXPECT_EQ(folder.key_picture_path, card() + u"A" + number(expected[i]) + u"\\p.jpg");
            EXPECT_EQ(folder.folder_size, 100 + expected[i]);
            EXPECT_EQ(folder.drive_path, card());
        }
        EXPECT_EQ(catalog.search_folder_num(card() + u"A10\\p.jpg"), 9);
        EXPECT_EQ(catalog.search_folder_num(card() + u"A10\\q.jpg"), -1);
        ASSERT_TRUE(catalog.save_folders(m_ini));
    }
    // Saved in the loaded order with new numbers: album 8 is now number 7.
    auto bytes = test::read_bytes(ini_path());
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xFE);
    std::u16string saved;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        saved += static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    EXPECT_NE(saved.find(u"KeyPicturePath7\t" + card() + u"A8\\p.jpg\nDrivePath7\t" + card() + u"\nFolderSize7\t108\n"),
        std::u16string::npos);
    EXPECT_EQ(saved.find(u'\r'), std::u16string::npos);
    // And the saved file loads in the same order again.
    PhotoCatalog again(m_ini, false);
    ASSERT_EQ(again.get_folders_size(), 11);
    for (int i = 0; i < 11; ++i)
        EXPECT_EQ(again.get_folder(i).key_picture_path, card() + u"A" + number(expected[i]) + u"\\p.jpg");
}

TEST_F(CatalogFileTest, IndexOutsideTheListGivesAnEmptyAlbum)
{
    test::write_bytes(ini_path(), utf16_file(u"KeyPicturePath0\t" + card() + u"d\\p.jpg\nDrivePath0\t" + card() + u"\nFolderSize0\t3\n"));
    PhotoCatalog catalog(m_ini, false);
    ASSERT_EQ(catalog.get_folders_size(), 1);
    for (int index : { 1, -1, 1000000 }) {
        auto folder = catalog.get_folder(index);
        EXPECT_TRUE(folder.key_picture_path.empty());
        EXPECT_TRUE(folder.folder_path.empty());
        EXPECT_EQ(folder.folder_size, 0);
    }
}

TEST_F(CatalogFileTest, FolderSizeAndKeyPictureChangesAreSavedAndAnnounced)
{
    auto const d = card() + u"d\\";
    test::write_bytes(ini_path(), utf16_file(u"KeyPicturePath0\t" + d + u"p.jpg\nDrivePath0\t" + card() + u"\nFolderSize0\t3\n"));
    PhotoCatalog catalog(m_ini, false);
    test::Recorder recorder;
    catalog.add_listener(&recorder);
    catalog.set_folder_size(d + u"other.jpg", 9);
    catalog.set_key_picture(d + u"x.jpg", d + u"q.jpg");
    catalog.set_folder_size(card() + u"elsewhere\\x.jpg", 1); // no such album: saved and announced all the same
    // Announced at the next poll, not from inside the calls, and once for
    // all three.
    EXPECT_EQ(recorder.count(&CatalogEvent::folders_changed), 0);
    catalog.poll_events();
    EXPECT_EQ(recorder.count(&CatalogEvent::folders_changed), 1);
    catalog.poll_events();
    EXPECT_EQ(recorder.count(&CatalogEvent::folders_changed), 1);
    catalog.remove_listener(&recorder);
    PhotoCatalog* raw = &catalog;
    EXPECT_EQ(PhotoCatalog::instance(), raw);

    auto folder = catalog.get_folder(0);
    EXPECT_EQ(folder.folder_size, 9);
    EXPECT_EQ(folder.key_picture_path, d + u"q.jpg");
    EXPECT_EQ(folder.folder_path, d);
    auto reread = folders_from_text(u"");
    {
        FileStream stream(m_ini, OpenMode::Read);
        reread = folders_from_text(read_text(stream).text);
    }
    ASSERT_EQ(reread.size(), 1u);
    EXPECT_EQ(reread[0].folder_size, 9);
    EXPECT_EQ(reread[0].key_picture_path, d + u"q.jpg");
}

TEST_F(CatalogFileTest, FailedSaveKeepsTheOldList)
{
    std::string old_bytes = utf16_file(u"KeyPicturePath0\t" + card() + u"d\\p.jpg\nDrivePath0\t" + card() + u"\nFolderSize0\t3\n");
    test::write_bytes(ini_path(), old_bytes);
    PhotoCatalog catalog(m_ini, false);
    catalog.set_folder_size(card() + u"d\\p.jpg", 5);
    auto saved = test::read_bytes(ini_path());
    // The temporary file's place is taken, so the new list cannot be written.
    fs::create_directory(m_dir / "folders.ini.new");
    catalog.set_folder_size(card() + u"d\\p.jpg", 6);
    EXPECT_FALSE(catalog.save_folders(m_ini));
    EXPECT_EQ(test::read_bytes(ini_path()), saved);
    fs::remove(m_dir / "folders.ini.new");
    EXPECT_TRUE(catalog.save_folders(m_ini));
    EXPECT_NE(test::read_bytes(ini_path()), saved);
    EXPECT_FALSE(fs::exists(m_dir / "folders.ini.new"));
}

TEST_F(CatalogFileTest, TheSearchRootsAreTheCardsThenMyDocuments)
{
    EXPECT_EQ(search_roots(), (std::vector<WString> { card(), u"%my_documents%\\" }));
    fs::create_directories(m_dir / "card2");
    test::ScopedEnv two_cards { "QUILVANE_CARDS", m_card.string() + ":" + (m_dir / "card2").string() };
    EXPECT_EQ(search_roots(),
        (std::vector<WString> { card(), test::program_form(m_dir / "card2") + u"\\", u"%my_documents%\\" }));
}

// Entries that must not be believed, each beside good ones: a drive path
// that is the file system's root or no search root at all, sizes below
// zero and beyond belief, and key pictures that lie outside their drive or
// climb out of it. Each is left out on load, with its line in the log, and
// the next save no longer holds it; the good ones load as they were.
TEST_F(CatalogFileTest, HostileEntriesAreLeftOutOnLoadWithALogLine)
{
    test::ScopedEnv registry { "QUILVANE_REGISTRY", (m_dir / "registry.reg").string() };
    test::ScopedEnv temp { "TMPDIR", (m_dir / "tmp").string() };
    fs::create_directories(m_dir / "tmp");
    ASSERT_TRUE(write_dword(kMakerKey, u"Log", 1));
    struct LogOff {
        ~LogOff()
        {
            write_dword(kMakerKey, u"Log", 0);
            Log::get();
        }
    } log_off;

    std::u16string const docs = test::program_form(m_docs) + u"\\";
    struct Entry {
        std::u16string key;
        std::u16string drive;
        std::u16string size;
        bool kept;
    };
    std::vector<Entry> const entries {
        { card() + u"Good\\p.jpg", card(), u"12", true },
        { u"%my_documents%\\Trip\\t.jpg", u"%my_documents%\\", u"3", true },
        // The documents folder spelled out is the same root.
        { docs + u"Spelled\\s.jpg", docs, u"4", true },
        // A picture at the root itself: the root is the album.
        { u"%my_documents%\\top.jpg", u"%my_documents%\\", u"1", true },
        { card() + u"Empty\\e.jpg", card(), u"0", true },
        { card() + u"Largest\\l.jpg", card(), u"10000000", true },
        // Cache files would go to the file system's root.
        { u"\\etc\\p.jpg", u"\\", u"5", false },
        { u"\\p.jpg", u"\\", u"5", false },
        { u"\\elsewhere\\A\\p.jpg", u"\\elsewhere\\", u"5", false },
        { card() + u"NoDrive\\p.jpg", u"", u"5", false },
        { card() + u"Negative\\p.jpg", card(), u"-3", false },
        { card() + u"Absurd\\p.jpg", card(), u"10000001", false },
        { card() + u"Huge\\p.jpg", card(), u"99999999999", false },
        // On the documents folder, claimed by the card.
        { docs + u"Moved\\p.jpg", card(), u"5", false },
        { card() + u"..\\..\\etc\\p.jpg", card(), u"5", false },
        { card() + u"A\\..\\..\\p.jpg", card(), u"5", false },
        { card() + u"A/../../p.jpg", card(), u"5", false },
        // The drive itself, and a folder in place of a picture.
        { card(), card(), u"5", false },
        { card() + u"Dir\\", card(), u"5", false },
        // A drive whose name only begins like the card's.
        { test::program_form(m_card) + u"x\\p.jpg", card(), u"5", false },
    };
    std::u16string text;
    // Numbers of one digit sort as written; the letters keep the rest in order.
    for (size_t i = 0; i < entries.size(); ++i) {
        std::u16string const n = (i < 10 ? u"" : u"9") + number(static_cast<int>(i));
        text += u"KeyPicturePath" + n + u"\t" + entries[i].key + u"\n";
        text += u"DrivePath" + n + u"\t" + entries[i].drive + u"\n";
        text += u"FolderSize" + n + u"\t" + entries[i].size + u"\n";
    }
    test::write_bytes(ini_path(), utf16_file(text));

    std::vector<std::u16string> expected;
    for (auto const& entry : entries)
        if (entry.kept)
            expected.push_back(entry.key);
    std::size_t const left_out = entries.size() - expected.size();
    auto keys = [](std::vector<FolderInfo> const& folders) {
        std::vector<std::u16string> out;
        for (auto const& folder : folders)
            out.push_back(folder.key_picture_path);
        return out;
    };
    {
        PhotoCatalog catalog(m_ini, false);
        auto const folders = catalog.get_folders();
        EXPECT_EQ(keys(folders), expected);
        for (auto const& folder : folders) {
            EXPECT_GE(folder.folder_size, 0);
            EXPECT_LE(folder.folder_size, kMaxFolderSize);
        }
        ASSERT_TRUE(catalog.save_folders(m_ini));
    }

    // One line for each entry left out, naming its key picture.
    FileStream log(test::program_form(m_dir / "tmp" / "test_catalog.txt"), OpenMode::Read);
    ASSERT_TRUE(log.is_open());
    auto const logged = read_text(log).text;
    std::size_t lines = 0;
    for (std::size_t at = logged.find(u"left out"); at != WString::npos; at = logged.find(u"left out", at + 1))
        ++lines;
    EXPECT_EQ(lines, left_out);
    for (auto const& entry : entries)
        if (!entry.kept)
            EXPECT_NE(logged.find(u"{" + entry.key + u"} {" + entry.drive + u"}"), WString::npos) << to_utf8(entry.key);

    // The saved list holds the good ones only, and reads back whole.
    FileStream saved(m_ini, OpenMode::Read);
    EXPECT_EQ(keys(folders_from_text(read_text(saved).text)), expected);
}

// Roots are whatever the caller names: the same entry is good against one
// list and left out against another, and no list at all keeps nothing.
TEST(CatalogText, AnEntryIsCheckedAgainstTheRootsGiven)
{
    std::u16string const text = u"KeyPicturePath0\t\\media\\cam\\DCIM\\p.jpg\nDrivePath0\t\\media\\cam\\\nFolderSize0\t7\n";
    EXPECT_EQ(folders_from_text(text, { u"\\media\\cam\\" }).size(), 1u);
    // Written without its trailing separator, the root is the same.
    EXPECT_EQ(folders_from_text(text, { u"\\media\\cam" }).size(), 1u);
    EXPECT_TRUE(folders_from_text(text, { u"\\media\\other\\" }).empty());
    EXPECT_TRUE(folders_from_text(text, { u"\\media\\" }).empty());
    EXPECT_TRUE(folders_from_text(text, {}).empty());

    FolderInfo album { u"\\media\\cam\\", u"\\media\\cam\\DCIM\\", u"\\media\\cam\\DCIM\\p.jpg", 7 };
    std::vector<WString> const roots { u"\\media\\cam\\" };
    EXPECT_EQ(folder_entry_problem(album, roots), nullptr);
    // A folder that is not the key picture's own, outside the drive.
    album.folder_path = u"\\media\\";
    EXPECT_NE(folder_entry_problem(album, roots), nullptr);
}

TEST_F(CatalogFileTest, SecondCatalogIsFatal)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    PhotoCatalog catalog(m_ini, false);
    EXPECT_EXIT({ PhotoCatalog second(m_ini, false); }, ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(PhotoCatalog::instance(), &catalog);
}

}
