#include "shell/CommandLine.h"

#include <cstdlib>
#include <sys/stat.h>

namespace qv {

CommandLine parse_command_line(std::vector<std::string_view> const& arguments,
    std::function<bool(std::string const&)> const& exists)
{
    CommandLine line;
    bool options = true;
    for (auto const argument : arguments) {
        if (options && argument == "--") {
            options = false;
            continue;
        }
        if (options && argument.size() > 1 && argument.front() == '-') {
            if (argument == "--help" || argument == "-h") {
                line.action = CommandLine::Action::Help;
                return line;
            }
            if (argument == "--version") {
                line.action = CommandLine::Action::Version;
                return line;
            }
            if (argument == "--demo") {
                line.demo = true;
                continue;
            }
            line.action = CommandLine::Action::Mistake;
            line.mistake = "quilvane: unknown option '" + std::string(argument) + "' (see quilvane --help)";
            return line;
        }
        std::string path(argument);
        if (!exists(path)) {
            line.action = CommandLine::Action::Mistake;
            line.mistake = "quilvane: cannot open '" + path + "': no such file or folder";
            return line;
        }
        line.paths.push_back(std::move(path));
    }
    return line;
}

std::string command_line_help()
{
    return "Usage: quilvane [OPTION]... [PICTURE|FOLDER]...\n"
           "Browse the photo albums of the pictures folder and the memory cards, and view\n"
           "pictures full screen with zoom, panning and swipes: JPEG, PNG, WebP, GIF,\n"
           "TIFF, HEIC, HEIF, AVIF, JPEG XL and camera RAW.\n"
           "\n"
           "  --help     show this help and exit\n"
           "  --version  show the version and exit\n"
           "  --demo     show every element of the skin instead of the albums\n"
           "  --         treat every later argument as a picture or folder\n"
           "\n"
           "A picture opens in the viewer, within the album of its folder; a folder opens\n"
           "as an album; several make one album of their own, in the order given. A second\n"
           "start hands them to the program already running, which shows them.\n"
           "Exit status: 0 when all went well, 2 for an unknown option or a missing file.\n";
}

std::string absolute_path(std::string_view path, std::string_view current_directory)
{
    std::vector<std::string_view> names;
    auto take = [&names](std::string_view text) {
        while (!text.empty()) {
            auto const slash = text.find('/');
            auto const name = text.substr(0, slash);
            if (name == "..") {
                if (!names.empty())
                    names.pop_back();
            } else if (!name.empty() && name != ".") {
                names.push_back(name);
            }
            if (slash == std::string_view::npos)
                break;
            text.remove_prefix(slash + 1);
        }
    };
    if (path.empty() || path.front() != '/')
        take(current_directory);
    take(path);
    std::string out;
    for (auto const name : names) {
        out += '/';
        out += name;
    }
    return out.empty() ? std::string("/") : out;
}

std::string full_path(std::string const& path, std::string const& current_directory)
{
    std::string full = absolute_path(path, current_directory);
    // As the system reads it: from the folder, name by name.
    std::string const as_given = !path.empty() && path.front() == '/' ? path : current_directory + "/" + path;
    struct stat given {}, named {};
    if (::stat(as_given.c_str(), &given) != 0)
        return full;
    if (::stat(full.c_str(), &named) == 0 && given.st_dev == named.st_dev && given.st_ino == named.st_ino)
        return full;
    if (char* real = ::realpath(as_given.c_str(), nullptr)) {
        full = real;
        std::free(real);
    }
    return full;
}

}
