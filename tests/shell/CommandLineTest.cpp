#include "shell/CommandLine.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <set>

namespace qv {
namespace {

CommandLine parse(std::vector<std::string_view> const& arguments)
{
    std::set<std::string> const present { "photo.jpg", "Trip", "-odd.jpg", "Trip/b.jpg" };
    return parse_command_line(arguments, [&](std::string const& path) { return present.contains(path); });
}

TEST(CommandLine, help_and_version_win_wherever_they_stand)
{
    EXPECT_EQ(parse({ "--help" }).action, CommandLine::Action::Help);
    EXPECT_EQ(parse({ "photo.jpg", "-h" }).action, CommandLine::Action::Help);
    EXPECT_EQ(parse({ "--version" }).action, CommandLine::Action::Version);
    // Read in order: a mistake before them is the answer.
    EXPECT_EQ(parse({ "--bogus", "--help" }).action, CommandLine::Action::Mistake);
    EXPECT_FALSE(command_line_help().empty());
    EXPECT_NE(command_line_help().find("Usage: quilvane"), std::string::npos);
}

TEST(CommandLine, pictures_and_folders_are_kept_in_order_and_a_missing_one_is_a_mistake)
{
    auto const line = parse({ "Trip", "photo.jpg", "Trip/b.jpg" });
    EXPECT_EQ(line.action, CommandLine::Action::Run);
    EXPECT_EQ(line.paths, (std::vector<std::string> { "Trip", "photo.jpg", "Trip/b.jpg" }));
    EXPECT_FALSE(line.demo);

    auto const missing = parse({ "photo.jpg", "gone.jpg" });
    EXPECT_EQ(missing.action, CommandLine::Action::Mistake);
    EXPECT_NE(missing.mistake.find("'gone.jpg'"), std::string::npos);
    EXPECT_EQ(missing.mistake.find('\n'), std::string::npos) << "one line";

    auto const unknown = parse({ "--fullscreen" });
    EXPECT_EQ(unknown.action, CommandLine::Action::Mistake);
    EXPECT_NE(unknown.mistake.find("'--fullscreen'"), std::string::npos);
}

TEST(CommandLine, options_end_at_a_double_dash_and_a_lone_dash_is_a_name)
{
    auto const after = parse({ "--", "-odd.jpg" });
    EXPECT_EQ(after.action, CommandLine::Action::Run);
    EXPECT_EQ(after.paths, (std::vector<std::string> { "-odd.jpg" }));
    EXPECT_EQ(parse({ "-odd.jpg" }).action, CommandLine::Action::Mistake) << "an option until -- says otherwise";
    EXPECT_EQ(parse({ "--", "--help" }).action, CommandLine::Action::Mistake) << "a file named --help is missing";
    EXPECT_EQ(parse({ "-" }).action, CommandLine::Action::Mistake) << "no file named -";
    auto const demo = parse({ "--demo" });
    EXPECT_EQ(demo.action, CommandLine::Action::Run);
    EXPECT_TRUE(demo.demo);
}

TEST(CommandLine, a_path_is_made_absolute_against_the_folder_the_program_was_started_in)
{
    EXPECT_EQ(absolute_path("photo.jpg", "/home/ann/Pictures"), "/home/ann/Pictures/photo.jpg");
    EXPECT_EQ(absolute_path("./Trip/../Trip//b.jpg", "/home/ann/"), "/home/ann/Trip/b.jpg");
    EXPECT_EQ(absolute_path("../x.jpg", "/home/ann"), "/home/x.jpg");
    EXPECT_EQ(absolute_path("/srv/a.jpg", "/home/ann"), "/srv/a.jpg") << "an absolute path ignores the folder";
    EXPECT_EQ(absolute_path("../../../..", "/home"), "/") << "nothing above the root";
    EXPECT_EQ(absolute_path(".", "/"), "/");
    EXPECT_EQ(absolute_path("Trip/", "/p"), "/p/Trip") << "a folder named with its slash";
    // Names keep their bytes: spaces, quotes, and bytes that are no UTF-8.
    std::string const odd = "it's \"here\" \xff\xfe.jpg";
    EXPECT_EQ(absolute_path(odd, "/p q"), "/p q/" + odd);
}

TEST(CommandLine, a_path_through_a_link_and_back_names_the_file_the_system_finds)
{
    test::TempDir dir;
    std::filesystem::create_directories(dir / "real" / "sub");
    std::filesystem::create_directory_symlink(dir / "real" / "sub", dir / "link");
    test::write_bytes(dir / "real" / "x.jpg", std::string("picture"));
    test::write_bytes(dir / "beside.jpg", std::string("picture"));
    std::string const base = dir.path().string();
    // "link/.." is "real", where x.jpg is, not the folder that holds the link.
    EXPECT_EQ(full_path("link/../x.jpg", base), (dir / "real" / "x.jpg").string());
    // Without such a turn the name stays as given, link and all.
    EXPECT_EQ(full_path("link/./", base), base + "/link");
    EXPECT_EQ(full_path("./beside.jpg", base), base + "/beside.jpg");
}

}
}
