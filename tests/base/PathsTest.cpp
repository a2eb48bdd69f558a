#include "base/Paths.h"

#include <gtest/gtest.h>

using namespace qv;

namespace {

AppPaths device_paths()
{
    return make_app_paths(u"\\Program Files\\Quilvane\\Quilvane.exe", [](int csidl) -> WString {
        switch (csidl) {
        case 5: return u"\\My Documents";
        case 36: return u"\\Windows";
        default: return {};
        }
    });
}

}

TEST(PathMacros, application_values_come_from_the_executable_path)
{
    auto paths = device_paths();
    EXPECT_EQ(paths.app_path, u"\\Program Files\\Quilvane");
    EXPECT_EQ(paths.app_name, u"Quilvane.exe");
}

TEST(PathMacros, expand_replaces_one_leading_macro_and_normalises_slashes)
{
    auto paths = device_paths();
    EXPECT_EQ(expand_path(u"%app_path%/skins/bin/default.skin", paths), u"\\Program Files\\Quilvane\\skins\\bin\\default.skin");
    EXPECT_EQ(expand_path(u"%app_name%.txt", paths), u"Quilvane.exe.txt");
    EXPECT_EQ(expand_path(u"%app_full_name%", paths), u"\\Program Files\\Quilvane\\Quilvane.exe");
    EXPECT_EQ(expand_path(u"%my_documents%\\", paths), u"\\My Documents\\");
    EXPECT_EQ(expand_path(u"%windows%/x", paths), u"\\Windows\\x");
    // A folder with no equivalent expands to nothing.
    EXPECT_EQ(expand_path(u"%startup%/a", paths), u"\\a");
}

TEST(PathMacros, macros_later_in_the_name_are_plain_text)
{
    auto paths = device_paths();
    EXPECT_EQ(expand_path(u"/Temp/%app_name%", paths), u"\\Temp\\%app_name%");
    EXPECT_EQ(expand_path(u"%app_path%%app_name%", paths), u"\\Program Files\\Quilvane%app_name%");
    EXPECT_EQ(expand_path(u"a/b\\c//d", paths), u"a\\b\\c\\\\d");
    EXPECT_EQ(expand_path(u"", paths), u"");
}

TEST(PathFunctions, split_a_path_at_either_separator)
{
    EXPECT_EQ(directory_of(u"\\a\\b/c.txt"), u"\\a\\b/");
    EXPECT_EQ(directory_of(u"a/b\\c"), u"a/b\\");
    EXPECT_EQ(directory_of(u"name"), u"");
    EXPECT_EQ(file_name_of(u"\\a\\b/c.txt"), u"c.txt");
    EXPECT_EQ(file_name_of(u"name"), u"name");
    EXPECT_EQ(file_name_of(u"dir\\"), u"");
    EXPECT_EQ(strip_trailing_separator(u"\\a\\"), u"\\a");
    EXPECT_EQ(strip_trailing_separator(u"\\a//"), u"\\a/");
    EXPECT_EQ(strip_trailing_separator(u""), u"");
}

TEST(PathFunctions, extension_belongs_to_the_last_component_only)
{
    EXPECT_EQ(extension_position(u"a\\b.c\\file.lng"), 10u);
    EXPECT_FALSE(extension_position(u"a.b\\file").has_value());
    EXPECT_FALSE(extension_position(u"file").has_value());
    EXPECT_EQ(base_name_of(u"%app_path%\\English.lng"), u"English");
    EXPECT_EQ(base_name_of(u"\\x.y\\Noext"), u"Noext");
    EXPECT_EQ(base_name_of(u"archive.tar.gz"), u"archive.tar");
}

TEST(PathFunctions, join_puts_exactly_one_separator_between)
{
    EXPECT_EQ(join_path(u"", u"x.jpg"), u"x.jpg");
    EXPECT_EQ(join_path(u"\\dir", u"x.jpg"), u"\\dir\\x.jpg");
    EXPECT_EQ(join_path(u"\\dir\\", u"x.jpg"), u"\\dir\\x.jpg");
    EXPECT_EQ(join_path(u"\\dir/", u"*"), u"\\dir\\*");
}

TEST(PathFunctions, same_path_ignores_case_slashes_and_one_trailing_separator)
{
    EXPECT_TRUE(same_path(u"\\Storage Card\\", u"/storage card"));
    EXPECT_FALSE(same_path(u"\\Storage Card2", u"\\Storage Card"));
    EXPECT_TRUE(path_starts_with(u"\\Storage Card\\My Documents", u"\\STORAGE CARD"));
    EXPECT_FALSE(path_starts_with(u"\\Stor", u"\\Storage Card"));
    EXPECT_FALSE(path_starts_with(u"\\Other\\x", u"\\Storage"));
}
