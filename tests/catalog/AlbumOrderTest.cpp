// The order albums and their pictures are shown in, and the captions that
// tell albums of one name apart.

#include "CatalogFixture.h"
#include "base/Paths.h"
#include "catalog/AlbumListing.h"
#include "catalog/FolderInfo.h"
#include "catalog/PhotoCatalog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

using namespace qv;
namespace fs = std::filesystem;

namespace {

class AlbumOrderTest : public test::CatalogTest {
protected:
    // A picture, with the given Exif date taken when there is one.
    void picture(fs::path const& path, std::optional<std::string> const& taken = {}, int seed = 0)
    {
        fs::create_directories(path.parent_path());
        ASSERT_TRUE(test::write_jpeg(path, 40 + seed, 30 + seed, seed));
        if (taken)
            test::write_bytes(path, test::with_segment(test::read_bytes(path), test::exif_segment(1, taken)));
    }
    WString docs(std::string const& name = {}) const
    {
        WString path = test::program_form(m_docs);
        return name.empty() ? path : join_path(path, from_utf8(name));
    }
    static std::vector<std::string> names(std::vector<WString> const& paths)
    {
        std::vector<std::string> out;
        for (auto const& path : paths)
            out.push_back(to_utf8(file_name_of(path)));
        return out;
    }
};

FolderInfo album(WString root, WStringView below)
{
    FolderInfo info;
    info.drive_path = root;
    info.folder_path = root + WString(below);
    info.key_picture_path = info.folder_path + u"a.jpg";
    info.folder_size = 1;
    return info;
}

TEST(NaturalOrder, NumbersByValueLettersWithoutCaseAndOneOrderForNearTwins)
{
    EXPECT_LT(natural_compare(u"Trip 2", u"Trip 10"), 0);
    EXPECT_GT(natural_compare(u"Trip 10", u"Trip 9"), 0);
    EXPECT_LT(natural_compare(u"apple", u"Banana"), 0);
    EXPECT_LT(natural_compare(u"IMG_0009.jpg", u"IMG_0010.jpg"), 0);
    EXPECT_LT(natural_compare(u"img", u"img2"), 0);
    EXPECT_LT(natural_compare(u"2020 b", u"10000 a"), 0);
    EXPECT_LT(natural_compare(u"99999999999999999999999", u"100000000000000000000000"), 0)
        << "numbers longer than any integer";
    // Twins in case or leading zeros are still ordered, one way round.
    EXPECT_NE(natural_compare(u"a", u"A"), 0);
    EXPECT_EQ(natural_compare(u"a", u"A"), -natural_compare(u"A", u"a"));
    EXPECT_NE(natural_compare(u"x01", u"x1"), 0);
    EXPECT_EQ(natural_compare(u"x01", u"x1"), -natural_compare(u"x1", u"x01"));
    EXPECT_EQ(natural_compare(u"same", u"same"), 0);
}

TEST_F(AlbumOrderTest, PicturesByDateTakenThenByNameAndTheSameInEveryListing)
{
    picture(m_docs / "IMG_10.jpg", "2021:05:01 09:00:00", 1);
    picture(m_docs / "IMG_2.JPEG", "2021:05:01 09:00:00", 2); // the same second: by name
    picture(m_docs / "zz.jpg", "2019:12:31 23:59:59", 3);
    picture(m_docs / "b10.jpg", {}, 4);
    picture(m_docs / "B9.jpeg", {}, 5);
    picture(m_docs / "a.jpg", "    :  :     :  :  ", 6); // a clock never set: no date
    test::write_bytes(m_docs / "not a picture.jpg", std::string("text named like a picture"));
    test::write_bytes(m_docs / ".hidden.jpg", std::string("x"));
    picture(m_docs / "Trip 10" / "x.jpg", {}, 7);
    picture(m_docs / "Trip 2" / "y.jpg", "2000:01:01 00:00:00", 8);
    picture(m_docs / "Trip 2" / "w.jpg", "2001:01:01 00:00:00", 9);

    auto const own = album_pictures(docs());
    EXPECT_EQ(names(own), (std::vector<std::string> { "zz.jpg", "IMG_2.JPEG", "IMG_10.jpg", "a.jpg", "B9.jpeg",
                              "b10.jpg", "not a picture.jpg" }));
    EXPECT_EQ(album_pictures(docs() + u"\\"), own);

    // The walk gives each album's pictures as the album lists them, the
    // albums below in natural order.
    std::vector<WString> all;
    ASSERT_TRUE(pictures_under(docs(), all));
    std::vector<WString> expected = own;
    for (auto const& below : { "Trip 2", "Trip 10" }) {
        auto const pictures = album_pictures(docs(below));
        expected.insert(expected.end(), pictures.begin(), pictures.end());
    }
    EXPECT_EQ(all, expected);
    EXPECT_EQ(names(album_pictures(docs("Trip 2"))), (std::vector<std::string> { "y.jpg", "w.jpg" }));
}

TEST_F(AlbumOrderTest, TheDateIsFoundWhereverTheExifBlockLies)
{
    picture(m_docs / "plain.jpg", "2010:02:03 04:05:06");
    auto const date = picture_date_taken(docs("plain.jpg"));
    ASSERT_TRUE(date);
    EXPECT_EQ(*date, (ExifDateTime { 2010, 2, 3, 4, 5, 6 }));

    // Behind an XMP block and a profile larger than the first read.
    auto bytes = test::read_bytes(m_docs / "plain.jpg");
    std::vector<unsigned char> xmp { 0xFF, 0xE1, 0x00, 0x20 };
    std::string const ns = "http://ns.adobe.com/xap/1.0/";
    xmp.insert(xmp.end(), ns.begin(), ns.end());
    xmp.resize(0x22, 0);
    std::vector<unsigned char> profile { 0xFF, 0xE2, 0xC0, 0x00 };
    profile.resize(0xC002, 0x55);
    bytes.insert(bytes.begin() + 2, profile.begin(), profile.end());
    bytes.insert(bytes.begin() + 2, xmp.begin(), xmp.end());
    test::write_bytes(m_docs / "far.jpg", bytes);
    auto const far = picture_date_taken(docs("far.jpg"));
    ASSERT_TRUE(far);
    EXPECT_EQ(*far, *date);

    // Cut inside the Exif block, or no JPEG at all: no date, and no harm.
    auto cut = test::read_bytes(m_docs / "far.jpg");
    cut.resize(2 + xmp.size() + profile.size() + 20);
    test::write_bytes(m_docs / "cut.jpg", cut);
    EXPECT_FALSE(picture_date_taken(docs("cut.jpg")));
    test::write_bytes(m_docs / "text.jpg", std::string("\xFF\xD8 not really"));
    EXPECT_FALSE(picture_date_taken(docs("text.jpg")));
    EXPECT_FALSE(picture_date_taken(docs("absent.jpg")));
}

TEST(AlbumCaptions, AlbumsOfOneNameShowTheFewestParentsThatTellThemApart)
{
    WString const docs = u"%my_documents%\\";
    WString const card = u"\\media\\u\\CARD\\";
    std::vector<FolderInfo> const albums { album(docs, u""), album(docs, u"Trips\\Misc\\"),
        album(docs, u"Work\\Misc\\"), album(docs, u"Other\\"), album(docs, u"a\\x\\images\\"),
        album(docs, u"b\\x\\images\\"), album(docs, u"c\\y\\images\\"), album(card, u"Other\\") };
    EXPECT_EQ(album_captions(albums), (std::vector<WString> { u"My documents", u"Trips/Misc", u"Work/Misc",
                                          u"My documents/Other", u"a/x/images", u"b/x/images", u"y/images",
                                          u"CARD/Other" }));
    // Alone, an album shows its own name only.
    EXPECT_EQ(album_captions({ albums[1] }), (std::vector<WString> { u"Misc" }));
    EXPECT_TRUE(album_captions({}).empty());
}

TEST(AlbumSorting, EachRootsAlbumsByNameTheRootsInTheirOrder)
{
    WString const docs = u"%my_documents%\\";
    WString const card = u"\\media\\u\\CARD\\";
    std::vector<FolderInfo> albums { album(card, u"DCIM\\Trip 10\\"), album(card, u"DCIM\\Trip 2\\"),
        album(docs, u"zoo\\"), album(docs, u"Work\\Misc\\"), album(docs, u"apple\\"), album(docs, u"Trips\\Misc\\"),
        album(docs, u"Trip 3\\") };
    sort_albums(albums);
    std::vector<WString> order;
    for (auto const& a : albums)
        order.push_back(a.folder_path);
    // "Trips/Misc" is read, and sorted, among the T's.
    EXPECT_EQ(order, (std::vector<WString> { card + u"DCIM\\Trip 2\\", card + u"DCIM\\Trip 10\\", docs + u"apple\\",
                         docs + u"Trip 3\\", docs + u"Trips\\Misc\\", docs + u"Work\\Misc\\", docs + u"zoo\\" }));
}

TEST_F(AlbumOrderTest, ASearchListsAlbumsByNameWithTheirFirstPictureAsCover)
{
    picture(m_docs / "Trip 10" / "a.jpg", {}, 1);
    picture(m_docs / "Trip 2" / "late.jpg", "2022:08:01 12:00:00", 2);
    picture(m_docs / "Trip 2" / "early.jpeg", "2022:07:01 12:00:00", 3);
    picture(m_docs / "Zoo" / "Apes" / "b.jpg", {}, 4);
    picture(m_docs / "Beach" / "c.jpg", {}, 5);

    // The worker alone: the searches are the test's.
    PhotoCatalog catalog(m_ini, false);
    catalog.start_worker();
    test::Recorder recorder;
    catalog.add_listener(&recorder);
    search_and_build(catalog, recorder);
    catalog.remove_listener(&recorder);

    std::vector<WString> shown;
    for (auto const& folder : catalog.get_folders())
        shown.push_back(folder_display_name(folder.folder_path));
    EXPECT_EQ(shown, (std::vector<WString> { u"Apes", u"Beach", u"Trip 2", u"Trip 10" }));
    auto const trip = catalog.get_folder(2);
    EXPECT_EQ(trip.key_picture_path, album_pictures(trip.folder_path).front());
    EXPECT_EQ(file_name_of(trip.key_picture_path), u"early.jpeg");
    EXPECT_EQ(trip.folder_size, 2);
}

}

namespace {

TEST_F(AlbumOrderTest, every_picture_format_counts_and_a_raw_beside_its_jpeg_shows_once)
{
    fs::path const album = m_docs / "Camera";
    fs::create_directories(album);
    for (char const* name : { "IMG_0001.CR2", "img_0001.JPG", "IMG_0002.nef", "shot.HEIC", "screen.png", "a.webp",
             "b.gif", "c.tiff", "d.avif", "e.jxl", "notes.txt", "IMG_0003.dng", "IMG_0003.heic" })
        test::write_bytes(album / name, std::string("x"));
    auto const listed = names(album_pictures(docs("Camera")));
    std::vector<std::string> sorted = listed;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<std::string> { "IMG_0002.nef", "IMG_0003.heic", "a.webp", "b.gif", "c.tiff",
                          "d.avif", "e.jxl", "img_0001.JPG", "screen.png", "shot.HEIC" }));
    EXPECT_EQ(album_picture_count(docs("Camera")), static_cast<int>(listed.size()));
    EXPECT_EQ(raw_companion(docs("Camera\\img_0001.JPG")), WString(u"IMG_0001.CR2"));
    EXPECT_EQ(raw_companion(docs("Camera\\screen.png")), std::nullopt);
}

}
