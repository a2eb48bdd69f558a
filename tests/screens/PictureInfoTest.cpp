#include "screens/PictureInfo.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <ctime>
#include <utime.h>

namespace qv {
namespace {

PictureFacts::Date const kDate { 2009, 1, 2, 3, 4, 5 };

TEST(PictureInfoFormat, DatesFollowTheLanguagesPattern)
{
    InfoFormat english;
    EXPECT_EQ(format_date(kDate, english), u"2009-01-02 03:04");
    InfoFormat german;
    german.date_pattern = u"%d.%m.%Y %H:%M:%S";
    EXPECT_EQ(format_date(kDate, german), u"02.01.2009 03:04:05");
    // "%%" is a percent sign; an unknown field and a lone "%" stay as written.
    InfoFormat odd;
    odd.date_pattern = u"%%Y %q %Y%";
    EXPECT_EQ(format_date(kDate, odd), u"%Y %q 2009%");
}

TEST(PictureInfoFormat, FileSizesInBytesKilobytesAndMegabytesWithTheLanguagesPoint)
{
    InfoFormat format;
    format.decimal_point = u",";
    format.bytes = u"B";
    auto size = [&](std::uint64_t bytes) { return format_file_size(bytes, format); };
    EXPECT_EQ(size(0), u"0\u00A0B");
    EXPECT_EQ(size(1023), u"1023\u00A0B");
    EXPECT_EQ(size(1024), u"1,0\u00A0KB");
    EXPECT_EQ(size(1536), u"1,5\u00A0KB");
    // Tenths are rounded, not cut.
    EXPECT_EQ(size(1024 + 97), u"1,1\u00A0KB");
    EXPECT_EQ(size(1024 * 1024 - 1), u"1024,0\u00A0KB");
    EXPECT_EQ(size(1024 * 1024), u"1,0\u00A0MB");
    EXPECT_EQ(size(5u * 1024 * 1024 + 300 * 1024), u"5,3\u00A0MB");
    EXPECT_EQ(format_pixel_size(4000, 3000), u"4000 \u00D7 3000");
}

class PictureFactsTest : public ::testing::Test {
protected:
    // A JPEG's start is all the facts need of it.
    std::vector<unsigned char> const kJpeg { 0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x04, 0x00, 0x00, 0xFF, 0xD9 };

    void set_modified(std::string const& name, int year, int month, int day, int hour, int minute)
    {
        std::tm local {};
        local.tm_year = year - 1900;
        local.tm_mon = month - 1;
        local.tm_mday = day;
        local.tm_hour = hour;
        local.tm_min = minute;
        local.tm_isdst = -1;
        utimbuf const times { std::mktime(&local), std::mktime(&local) };
        ASSERT_EQ(::utime((m_dir / name).c_str(), &times), 0);
    }

    test::TempDir m_dir;
};

TEST_F(PictureFactsTest, TheCamerasDateWinsOverTheFilesAndADamagedOneDoesNot)
{
    test::write_bytes(m_dir / "dated.jpg", test::with_segment(kJpeg, test::exif_segment(1, "2015:12:24 20:15:30")));
    set_modified("dated.jpg", 2020, 1, 1, 0, 0);
    auto const dated = read_picture_facts(m_dir.program_path("dated.jpg"));
    EXPECT_EQ(dated.name, u"dated.jpg");
    EXPECT_EQ(dated.folder, from_utf8(m_dir.path().string()));
    ASSERT_TRUE(dated.file_size);
    EXPECT_EQ(*dated.file_size, std::filesystem::file_size(m_dir / "dated.jpg"));
    ASSERT_TRUE(dated.date);
    EXPECT_TRUE(dated.taken_by_camera);
    EXPECT_EQ(*dated.date, (PictureFacts::Date { 2015, 12, 24, 20, 15, 30 }));

    // A blank date, as a camera whose clock was never set writes: the file's.
    test::write_bytes(m_dir / "blank.jpg", test::with_segment(kJpeg, test::exif_segment(1, "    :  :     :  :  ")));
    set_modified("blank.jpg", 2012, 6, 7, 8, 9);
    auto const blank = read_picture_facts(m_dir.program_path("blank.jpg"));
    ASSERT_TRUE(blank.date);
    EXPECT_FALSE(blank.taken_by_camera);
    EXPECT_EQ(*blank.date, (PictureFacts::Date { 2012, 6, 7, 8, 9, 0 }));

    // No Exif block at all, or not even a JPEG: the file's date too.
    test::write_bytes(m_dir / "plain.jpg", kJpeg);
    test::write_bytes(m_dir / "text.jpg", std::string("not a picture"));
    for (auto name : { "plain.jpg", "text.jpg" }) {
        set_modified(name, 2001, 2, 3, 4, 5);
        auto const facts = read_picture_facts(m_dir.program_path(name));
        ASSERT_TRUE(facts.date) << name;
        EXPECT_FALSE(facts.taken_by_camera) << name;
        EXPECT_EQ(*facts.date, (PictureFacts::Date { 2001, 2, 3, 4, 5, 0 })) << name;
    }
}

TEST_F(PictureFactsTest, AFileThatIsGoneStillHasItsNameAndFolder)
{
    auto const facts = read_picture_facts(m_dir.program_path("gone.jpg"));
    EXPECT_EQ(facts.name, u"gone.jpg");
    EXPECT_EQ(facts.folder, from_utf8(m_dir.path().string()));
    EXPECT_FALSE(facts.file_size);
    EXPECT_FALSE(facts.date);
    auto const root = read_picture_facts(u"\\top.jpg");
    EXPECT_EQ(root.folder, u"/");
}

}
}
