#include "base/Paths.h"
#include "platform/Files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

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

namespace {

// A file system holding exactly the directories named.
std::function<bool(WStringView)> directories(std::initializer_list<WStringView> present)
{
    std::vector<WString> list(present.begin(), present.end());
    return [list](WStringView path) {
        return std::find(list.begin(), list.end(), WString(path)) != list.end();
    };
}

}

TEST(DataDirectory, installed_program_reads_its_data_from_share)
{
    auto fs = directories({ u"\\opt\\qv\\share\\quilvane" });
    auto paths = make_app_paths(u"\\opt\\qv\\bin\\quilvane", {}, fs);
    EXPECT_TRUE(paths.installed);
    EXPECT_EQ(paths.app_path, u"\\opt\\qv\\bin");
    EXPECT_EQ(paths.data_path, u"\\opt\\qv\\share\\quilvane");
    // Everything the program names by %app_path% is data: skin, languages, help.
    EXPECT_EQ(expand_path(u"%app_path%\\skins\\bin\\default.skin", paths), u"\\opt\\qv\\share\\quilvane\\skins\\bin\\default.skin");
    EXPECT_EQ(expand_path(u"%app_path%/english.lng", paths), u"\\opt\\qv\\share\\quilvane\\english.lng");
    // The executable itself is still where it runs from.
    EXPECT_EQ(expand_path(u"%app_full_name%", paths), u"\\opt\\qv\\bin\\quilvane");

    // A prefix of "/" (bin directly under the root).
    auto root = make_app_paths(u"\\bin\\quilvane", {}, directories({ u"\\share\\quilvane" }));
    EXPECT_TRUE(root.installed);
    EXPECT_EQ(root.data_path, u"\\share\\quilvane");
}

TEST(DataDirectory, other_layouts_keep_the_data_beside_the_executable)
{
    // A build's app directory, even with a share/quilvane next to it.
    auto build = make_app_paths(u"\\src\\build\\app\\quilvane",
        {}, directories({ u"\\src\\build\\share\\quilvane", u"\\src\\build\\app\\share\\quilvane" }));
    EXPECT_FALSE(build.installed);
    EXPECT_EQ(build.data_path, u"\\src\\build\\app");
    EXPECT_EQ(expand_path(u"%app_path%\\german.lng", build), u"\\src\\build\\app\\german.lng");

    // A bin directory without the data beside it: a copied executable.
    auto copied = make_app_paths(u"\\home\\u\\bin\\quilvane", {}, directories({ u"\\home\\u\\share" }));
    EXPECT_FALSE(copied.installed);
    EXPECT_EQ(copied.data_path, u"\\home\\u\\bin");

    // "bin" must be the whole directory name, not its end.
    EXPECT_EQ(installed_data_directory(u"\\opt\\sbin", directories({ u"\\opt\\share\\quilvane" })), u"");
    EXPECT_EQ(installed_data_directory(u"\\opt\\bin\\", directories({ u"\\opt\\share\\quilvane" })), u"\\opt\\share\\quilvane");
    // Without a way to look, nothing counts as installed.
    EXPECT_EQ(installed_data_directory(u"\\opt\\bin", {}), u"");
}

TEST(DataDirectory, user_data_follows_xdg_data_home_then_home)
{
    std::string const saved_data = std::getenv("XDG_DATA_HOME") ? std::getenv("XDG_DATA_HOME") : "";
    bool const had_data = std::getenv("XDG_DATA_HOME") != nullptr;
    std::string const saved_home = std::getenv("HOME") ? std::getenv("HOME") : "";

    setenv("XDG_DATA_HOME", "/xdg/data/", 1);
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(user_data_directory(), u"\\xdg\\data\\quilvane");
    // Unset, empty or relative values are ignored, as the base directory rules say.
    for (char const* value : { "", "relative/dir" }) {
        setenv("XDG_DATA_HOME", value, 1);
        EXPECT_EQ(user_data_directory(), u"\\home\\someone\\.local\\share\\quilvane") << value;
    }
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(user_data_directory(), u"\\home\\someone\\.local\\share\\quilvane");

    if (had_data)
        setenv("XDG_DATA_HOME", saved_data.c_str(), 1);
    setenv("HOME", saved_home.c_str(), 1);
}

TEST(DataDirectory, make_directories_makes_missing_parents)
{
    char pattern[] = "/tmp/qv_paths_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::string const root = pattern;
    WString const deep = platform::from_system_path(root + "/a/b/c");
    EXPECT_TRUE(make_directories(deep));
    struct stat st {};
    EXPECT_EQ(stat((root + "/a/b/c").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    // Existing: still true. Under a plain file: false.
    EXPECT_TRUE(make_directories(deep));
    std::ofstream(root + "/file").put('x');
    EXPECT_FALSE(make_directories(platform::from_system_path(root + "/file/sub")));
    std::filesystem::remove_all(root);
}
