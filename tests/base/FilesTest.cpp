#include "base/Directories.h"
#include "base/FileInfo.h"
#include "base/FileStream.h"
#include "base/Log.h"
#include "base/Paths.h"
#include "base/Registry.h"
#include "base/TextFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

using namespace qv;
namespace fs = std::filesystem;

namespace {

class FilesTest : public ::testing::Test {
protected:
    test::TempDir m_dir;
    test::ScopedEnv m_registry { "QUILVANE_REGISTRY", (m_dir / "registry.reg").string() };
    test::ScopedEnv m_temp { "TMPDIR", m_dir.path().string() };

    WString path(std::string const& name) const { return m_dir.program_path(name); }

    // The current log outlives a test; close it before its folder goes.
    void TearDown() override
    {
        write_dword(kMakerKey, u"Log", 0);
        Log::get();
    }

    std::string contents(std::string const& name) const
    {
        auto bytes = test::read_bytes(m_dir / name);
        return { bytes.begin(), bytes.end() };
    }

    TextRead read_text_of(std::vector<unsigned char> const& bytes)
    {
        test::write_bytes(m_dir / "text.bin", bytes);
        FileStream stream(path("text.bin"), OpenMode::Read);
        EXPECT_TRUE(stream.is_open());
        return read_text(stream);
    }

    std::u16string log_text() const
    {
        auto bytes = test::read_bytes(m_dir / "test_base.txt");
        std::u16string text;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            text += static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
        return text;
    }
};

class Recorder : public DirectoryVisitor {
public:
    std::vector<WString> seen;
    int stop_after { -1 };

    bool on_file(WString const& path) override { return record(u"file " + path); }
    bool on_directory(WString const& path) override { return record(u"dir " + path); }

private:
    bool record(WString entry)
    {
        seen.push_back(std::move(entry));
        return stop_after < 0 || static_cast<int>(seen.size()) < stop_after;
    }
};

}

TEST_F(FilesTest, open_modes_follow_the_table)
{
    FileStream missing(path("missing"), OpenMode::Read);
    EXPECT_FALSE(missing.is_open());
    char buffer[4];
    EXPECT_EQ(missing.read(buffer, 4), 0u);
    EXPECT_FALSE(fs::exists(m_dir / "missing"));

    test::write_bytes(m_dir / "f", std::string("hello"));
    { FileStream s(path("f"), OpenMode::Write); EXPECT_TRUE(s.is_open()); }
    EXPECT_EQ(contents("f"), "") << "write mode truncates";

    { FileStream s(path("f"), OpenMode::Append); s.write("ab", 2); }
    { FileStream s(path("f"), OpenMode::Append); EXPECT_EQ(s.tell(), 2u); s.write("cd", 2); }
    EXPECT_EQ(contents("f"), "abcd") << "append starts at the end";

    {
        FileStream s(path("f"), OpenMode::ReadWrite);
        ASSERT_TRUE(s.is_open());
        EXPECT_EQ(s.tell(), 0u);
        s.write("X", 1);
        EXPECT_EQ(s.size(), 4u);
    }
    EXPECT_EQ(contents("f"), "Xbcd") << "read-write neither truncates nor appends";

    { FileStream s(path("new_rw"), OpenMode::ReadWrite); EXPECT_TRUE(s.is_open()); }
    EXPECT_TRUE(fs::exists(m_dir / "new_rw"));
}

TEST_F(FilesTest, streams_skip_seek_and_take_forward_slashes)
{
    test::write_bytes(m_dir / "data", std::string("0123456789"));
    auto forward = from_utf8((m_dir / "data").string());
    FileStream s(forward, OpenMode::Read);
    ASSERT_TRUE(s.is_open());
    EXPECT_EQ(s.skip(3), 3);
    char c = 0;
    s.read(&c, 1);
    EXPECT_EQ(c, '3');
    EXPECT_EQ(s.skip(-2), -2);
    s.read(&c, 1);
    EXPECT_EQ(c, '2');
    EXPECT_TRUE(s.seek(9));
    char tail[4];
    EXPECT_EQ(s.read(tail, 4), 1u);
    EXPECT_EQ(s.read(&c, 0), 0u);
}

TEST_F(FilesTest, read_text_handles_short_odd_and_marked_files)
{
    auto one = read_text_of({ 'A' });
    EXPECT_EQ(one.text, u"A");
    EXPECT_FALSE(one.was_utf16);

    auto mark_only = read_text_of({ 0xFF, 0xFE });
    EXPECT_EQ(mark_only.text, u"");
    EXPECT_TRUE(mark_only.was_utf16);

    auto empty = read_text_of({});
    EXPECT_EQ(empty.text, u"");

    auto odd = read_text_of({ 0xFF, 0xFE, 'a' }); // odd length: never UTF-16
    EXPECT_FALSE(odd.was_utf16);
    EXPECT_EQ(odd.text, std::u16string({ 0xFF, 0xFE, 'a' }));

    auto utf16 = read_text_of({ 0xFF, 0xFE, 0x1F, 0x04, 'b', 0 });
    EXPECT_TRUE(utf16.was_utf16);
    EXPECT_EQ(utf16.text, u"Пb");

    auto high = read_text_of({ 'x', 0xE9, 0x80, 0xFF });
    EXPECT_FALSE(high.was_utf16);
    EXPECT_EQ(high.text, std::u16string({ u'x', 0xE9, 0x80, 0xFF }));
}

TEST_F(FilesTest, read_text_starts_at_the_current_position_and_honours_the_limit)
{
    test::write_bytes(m_dir / "t", std::string("skip:hello"));
    FileStream s(path("t"), OpenMode::Read);
    s.skip(5);
    EXPECT_EQ(read_text(s, 3).text, u"hel");
}

TEST_F(FilesTest, a_text_writer_marks_only_an_empty_file)
{
    {
        TextWriter w(path("w.txt"), OpenMode::Write);
        w << u"line\n";
    }
    {
        TextWriter w(path("w.txt"), OpenMode::Append);
        w << u"two\n";
    }
    FileStream s(path("w.txt"), OpenMode::Read);
    auto read = read_text(s);
    EXPECT_TRUE(read.was_utf16);
    EXPECT_EQ(read.text, u"line\ntwo\n");
}

TEST_F(FilesTest, file_info_reports_and_changes_what_it_saw)
{
    test::write_bytes(m_dir / "pic.jpg", std::string(1234, 'x'));
    FileInfo info(path("pic.jpg"));
    ASSERT_TRUE(info.exists());
    EXPECT_FALSE(info.is_directory());
    EXPECT_EQ(info.size(), 1234u);
    EXPECT_GE(info.modified().fields().year, 2020);
    EXPECT_NE(info.created().file_time(), 0u);

    EXPECT_TRUE(info.move_to(path("moved.jpg")));
    EXPECT_TRUE(fs::exists(m_dir / "moved.jpg"));
    EXPECT_TRUE(info.exists()) << "the snapshot is not refreshed";

    FileInfo dir(path("") + u"\\");
    EXPECT_TRUE(dir.is_directory());

    FileInfo moved(path("moved.jpg"));
    EXPECT_TRUE(moved.remove());
    EXPECT_FALSE(FileInfo(path("moved.jpg")).exists());
    EXPECT_FALSE(moved.remove());
    EXPECT_NE(moved.last_error(), 0);

    fs::create_directory(m_dir / "empty");
    FileInfo empty_dir(path("empty"));
    EXPECT_TRUE(empty_dir.remove());
    EXPECT_FALSE(fs::exists(m_dir / "empty"));
}

TEST(DateTime, both_forms_stay_in_step)
{
    DateTime unix_epoch;
    unix_epoch.set_date(1970, 1, 1);
    unix_epoch.set_time(0, 0, 0.0);
    // The well-known distance from 1601 to 1970 in 100 ns units.
    EXPECT_EQ(unix_epoch.file_time(), 116444736000000000ULL);
    EXPECT_EQ(unix_epoch.fields().day_of_week, 4); // a Thursday

    DateTime t;
    EXPECT_EQ(t.file_time(), 0u);
    t.set_date(2024, 2, 29);
    t.set_time(13, 45, 12.345);
    DateTime back;
    back.set_file_time(t.file_time());
    EXPECT_EQ(back.fields().year, 2024);
    EXPECT_EQ(back.fields().month, 2);
    EXPECT_EQ(back.fields().day, 29);
    EXPECT_EQ(back.fields().hour, 13);
    EXPECT_EQ(back.fields().minute, 45);
    EXPECT_EQ(back.fields().second, 12);
    EXPECT_EQ(back.fields().millisecond, 345);
    EXPECT_EQ(back.fields().day_of_week, 4);
}

TEST_F(FilesTest, walk_visits_files_first_then_directories_depth_first)
{
    fs::create_directories(m_dir / "root" / "b" / "deep");
    fs::create_directories(m_dir / "root" / "a");
    test::write_bytes(m_dir / "root" / "A.JPG", std::string("x"));
    test::write_bytes(m_dir / "root" / "z.jpg", std::string("x"));
    test::write_bytes(m_dir / "root" / "note.txt", std::string("x"));
    test::write_bytes(m_dir / "root" / ".hidden.jpg", std::string("x"));
    test::write_bytes(m_dir / "root" / "a" / "1.jpg", std::string("x"));
    test::write_bytes(m_dir / "root" / "b" / "deep" / "2.Jpg", std::string("x"));
    fs::create_directory_symlink(m_dir / "root", m_dir / "root" / "b" / "loop");

    Recorder recorder;
    auto root = path("root");
    EXPECT_TRUE(walk_directory(recorder, root, u"*.jpg", u"*", true));
    std::vector<WString> expected {
        u"file " + root + u"\\A.JPG",
        u"file " + root + u"\\z.jpg",
        u"dir " + root + u"\\a",
        u"file " + root + u"\\a\\1.jpg",
        u"dir " + root + u"\\b",
        u"dir " + root + u"\\b\\deep",
        u"file " + root + u"\\b\\deep\\2.Jpg",
    };
    EXPECT_EQ(recorder.seen, expected);
}

TEST_F(FilesTest, walk_without_subdirectories_and_early_stop)
{
    fs::create_directories(m_dir / "root" / "sub");
    test::write_bytes(m_dir / "root" / "English.lng", std::string("x"));
    test::write_bytes(m_dir / "root" / "sub" / "Other.lng", std::string("x"));
    Recorder flat;
    walk_directory(flat, path("root"), u"*.lng", kDoNotSearch, true);
    EXPECT_EQ(flat.seen, std::vector<WString>({ u"file " + path("root") + u"\\English.lng" }));

    Recorder stopper;
    stopper.stop_after = 1;
    walk_directory(stopper, path("root"), u"*", u"*", true);
    EXPECT_EQ(stopper.seen.size(), 1u);
}

TEST_F(FilesTest, create_directories_makes_each_level_and_logs_it)
{
    write_dword(kMakerKey, u"Log", 1);
    fs::create_directory(m_dir / "base");
    create_directories(path("base") + u"/one/two/");
    EXPECT_TRUE(fs::is_directory(m_dir / "base" / "one" / "two"));

    auto log = log_text();
    auto one = log.find(u"CreateDirectoryW {" + path("base") + u"\\one} result=true\n");
    auto two = log.find(u"CreateDirectoryW {" + path("base") + u"\\one\\two} result=true\n");
    auto base = log.find(u"CreateDirectoryW {" + path("base") + u"} result=false\n");
    ASSERT_NE(base, std::u16string::npos) << to_utf8(log);
    ASSERT_NE(one, std::u16string::npos) << to_utf8(log);
    ASSERT_NE(two, std::u16string::npos) << to_utf8(log);
    EXPECT_LT(base, one);
    EXPECT_LT(one, two);
    // One line per level, from the root down.
    auto base_path = path("base");
    auto levels = std::count(base_path.begin(), base_path.end(), u'\\') + 2;
    EXPECT_EQ(std::count(log.begin(), log.end(), u'\n'), levels);
}

TEST_F(FilesTest, find_drives_skips_the_card_that_holds_my_documents)
{
    fs::create_directories(m_dir / "card1" / "My Documents");
    fs::create_directories(m_dir / "card2");
    fs::create_directories(m_dir / "card10");
    test::ScopedEnv cards("QUILVANE_CARDS",
        (m_dir / "card1").string() + ":" + (m_dir / "card2").string() + ":" + (m_dir / "card10").string());
    test::ScopedEnv docs("QUILVANE_DOCUMENTS", (m_dir / "card1" / "My Documents").string());

    Recorder recorder;
    EXPECT_TRUE(find_drives(recorder));
    EXPECT_EQ(recorder.seen, std::vector<WString>({ u"dir " + path("card2"), u"dir " + path("card10") }));

    // "card1" is not a prefix of "card10" as a path.
    test::ScopedEnv docs10("QUILVANE_DOCUMENTS", (m_dir / "card10").string());
    Recorder second;
    find_drives(second);
    EXPECT_EQ(second.seen, std::vector<WString>({ u"dir " + path("card1"), u"dir " + path("card2") }));
}

TEST_F(FilesTest, a_picture_whose_name_is_not_utf8_is_found_opened_and_read_back)
{
    // A camera card written by another system: a folder and a picture
    // named in Latin-1, beside a picture whose name is the same in UTF-8.
    fs::create_directories(m_dir / "root" / "Sommer \xff");
    test::write_bytes(m_dir / "root" / "Sommer \xff" / "Bild \xe9.jpg", std::string("latin-1 picture"));
    test::write_bytes(m_dir / "root" / "Sommer \xff" / "Bild \xc3\xa9.jpg", std::string("utf-8 picture"));

    Recorder recorder;
    auto const root = path("root");
    EXPECT_TRUE(walk_directory(recorder, root, u"*.jpg", u"*", true));
    WString const folder = root + u"\\Sommer \xDCFF";
    std::vector<WString> const expected {
        u"dir " + folder,
        u"file " + folder + u"\\Bild \u00E9.jpg",
        u"file " + folder + u"\\Bild \xDCE9.jpg",
    };
    ASSERT_EQ(recorder.seen, expected);

    WString const picture = recorder.seen[2].substr(5);
    FileInfo info(picture);
    ASSERT_TRUE(info.exists());
    EXPECT_EQ(info.size(), 15u);
    FileStream stream(picture, OpenMode::Read);
    ASSERT_TRUE(stream.is_open());
    std::string bytes(15, '\0');
    ASSERT_EQ(stream.read(bytes.data(), bytes.size()), bytes.size());
    EXPECT_EQ(bytes, "latin-1 picture");

    // Written under such a name too, and moved away by it.
    {
        FileStream copy(folder + u"\\Kopie \xDCE9.jpg", OpenMode::Write);
        ASSERT_TRUE(copy.is_open());
        copy.write(bytes.data(), bytes.size());
    }
    EXPECT_EQ(contents("root/Sommer \xff/Kopie \xe9.jpg"), "latin-1 picture");
    EXPECT_TRUE(FileInfo(folder + u"\\Kopie \xDCE9.jpg").move_to(root + u"\\\xDCE9.jpg"));
    EXPECT_TRUE(fs::exists(m_dir / "root" / "\xe9.jpg"));

    // Where the name is written as text to be read, the escape is a
    // replacement character and the file stays well-formed UTF-16.
    write_dword(kMakerKey, u"Log", 1);
    Log::get() << u"opened " << file_name_of(picture) << u"\n";
    EXPECT_EQ(log_text(), u"opened Bild \uFFFD.jpg\n");
}
