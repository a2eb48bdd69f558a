// The album list: captions, the catalog file's form and its safe saving.

#include "CatalogFixture.h"
#include "catalog/CatalogFile.h"
#include "base/FileStream.h"
#include "base/TextFile.h"
#include "catalog/PhotoCatalog.h"

#include <gtest/gtest.h>

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

TEST(CatalogText, EqualsSignsAndCrLfReadLikeTabsAndLineFeeds)
{
    std::u16string tabs = u"KeyPicturePath0\t\\c\\a b\\p.jpg\nDrivePath0\t\\c\\\nFolderSize0\t12\n";
    std::u16string equals = u"KeyPicturePath0=\\c\\a b\\p.jpg\r\nDrivePath0=\\c\\\r\nFolderSize0=12\r\n";
    auto a = folders_from_text(tabs);
    auto b = folders_from_text(equals);
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
    auto folders = folders_from_text(u"  KeyPicturePath0   \\c\\p.jpg\nFolderSize0\tmany\nOther\tx\nFolderSize1\t4\nDrivePath0\n");
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(folders[0].key_picture_path, u"\\c\\p.jpg");
    EXPECT_EQ(folders[0].folder_size, 0);
    EXPECT_EQ(folders[0].drive_path, u"");
    EXPECT_EQ(parse_folder_size(u"-7"), -7);
    EXPECT_EQ(parse_folder_size(u"99999999999"), 2147483647);
}

class CatalogFileTest : public test::CatalogTest {
protected:
    fs::path ini_path() const { return m_dir / "folders.ini"; }
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

TEST_F(CatalogFileTest, TwelveAlbumsComeBackInKeyOrderAndAreRenumbered)
{
    std::u16string text;
    for (int i = 0; i < 12; ++i) {
        text += u"KeyPicturePath" + number(i) + u"\t\\card\\A" + number(i) + u"\\p.jpg\n";
        text += u"DrivePath" + number(i) + u"\t\\card\\\n";
        text += u"FolderSize" + number(i) + u"\t" + number(100 + i) + u"\n";
    }
    test::write_bytes(ini_path(), utf16_file(text));
    // Keys sort as text: 0, 1, 10, 11, 2, ..., 9.
    std::vector<int> expected { 0, 1, 10, 11, 2, 3, 4, 5, 6, 7, 8, 9 };
    {
        PhotoCatalog catalog(m_ini, false);
        ASSERT_EQ(catalog.get_folders_size(), 12);
        for (int i = 0; i < 12; ++i) {
            auto folder = catalog.get_folder(i);
            EXPECT_EQ(folder.key_picture_path, u"\\card\\A" + number(expected[i]) + u"\\p.jpg");
            EXPECT_EQ(folder.folder_size, 100 + expected[i]);
            EXPECT_EQ(folder.drive_path, u"\\card\\");
        }
        EXPECT_EQ(catalog.search_folder_num(u"\\card\\A10\\p.jpg"), 2);
        EXPECT_EQ(catalog.search_folder_num(u"\\card\\A10\\q.jpg"), -1);
        ASSERT_TRUE(catalog.save_folders(m_ini));
    }
    // Saved in the loaded order with new numbers: album 10 is now number 2.
    auto bytes = test::read_bytes(ini_path());
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xFE);
    std::u16string saved;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        saved += static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    EXPECT_NE(saved.find(u"KeyPicturePath2\t\\card\\A10\\p.jpg\nDrivePath2\t\\card\\\nFolderSize2\t110\n"), std::u16string::npos);
    EXPECT_EQ(saved.find(u'\r'), std::u16string::npos);
    // Loading the renumbered file sorts the keys again: new numbers 0, 1,
    // 10, 11, 2 ... so the album saved as number 2 comes fifth.
    PhotoCatalog again(m_ini, false);
    EXPECT_EQ(again.get_folder(2).key_picture_path, u"\\card\\A8\\p.jpg");
    EXPECT_EQ(again.get_folder(4).key_picture_path, u"\\card\\A10\\p.jpg");
}

TEST_F(CatalogFileTest, IndexOutsideTheListGivesAnEmptyAlbum)
{
    test::write_bytes(ini_path(), utf16_file(u"KeyPicturePath0\t\\c\\d\\p.jpg\nFolderSize0\t3\n"));
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
    test::write_bytes(ini_path(), utf16_file(u"KeyPicturePath0\t\\c\\d\\p.jpg\nDrivePath0\t\\c\\\nFolderSize0\t3\n"));
    PhotoCatalog catalog(m_ini, false);
    test::Recorder recorder;
    catalog.add_listener(&recorder);
    catalog.set_folder_size(u"\\c\\d\\other.jpg", 9);
    catalog.set_key_picture(u"\\c\\d\\x.jpg", u"\\c\\d\\q.jpg");
    catalog.set_folder_size(u"\\c\\elsewhere\\x.jpg", 1); // no such album: saved and announced all the same
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
    EXPECT_EQ(folder.key_picture_path, u"\\c\\d\\q.jpg");
    EXPECT_EQ(folder.folder_path, u"\\c\\d\\");
    auto reread = folders_from_text(u"");
    {
        FileStream stream(m_ini, OpenMode::Read);
        reread = folders_from_text(read_text(stream).text);
    }
    ASSERT_EQ(reread.size(), 1u);
    EXPECT_EQ(reread[0].folder_size, 9);
    EXPECT_EQ(reread[0].key_picture_path, u"\\c\\d\\q.jpg");
}

TEST_F(CatalogFileTest, FailedSaveKeepsTheOldList)
{
    std::string old_bytes = utf16_file(u"KeyPicturePath0\t\\c\\d\\p.jpg\nDrivePath0\t\\c\\\nFolderSize0\t3\n");
    test::write_bytes(ini_path(), old_bytes);
    PhotoCatalog catalog(m_ini, false);
    catalog.set_folder_size(u"\\c\\d\\p.jpg", 5);
    auto saved = test::read_bytes(ini_path());
    // The temporary file's place is taken, so the new list cannot be written.
    fs::create_directory(m_dir / "folders.ini.new");
    catalog.set_folder_size(u"\\c\\d\\p.jpg", 6);
    EXPECT_FALSE(catalog.save_folders(m_ini));
    EXPECT_EQ(test::read_bytes(ini_path()), saved);
    fs::remove(m_dir / "folders.ini.new");
    EXPECT_TRUE(catalog.save_folders(m_ini));
    EXPECT_NE(test::read_bytes(ini_path()), saved);
    EXPECT_FALSE(fs::exists(m_dir / "folders.ini.new"));
}

TEST_F(CatalogFileTest, SecondCatalogIsFatal)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    PhotoCatalog catalog(m_ini, false);
    EXPECT_EXIT({ PhotoCatalog second(m_ini, false); }, ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(PhotoCatalog::instance(), &catalog);
}

}
