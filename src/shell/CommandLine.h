#pragma once

// The program's command line: `quilvane [OPTION]... [PICTURE|FOLDER]...`.
// Read before anything else starts, so that --help, --version and a
// mistake answer at once, on the terminal, without a window.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

struct CommandLine {
    enum class Action { Run, Help, Version, Mistake };
    Action action { Action::Run };
    bool demo { false };
    // Pictures and folders, as given; each exists.
    std::vector<std::string> paths;
    // For a mistake: the one line to print.
    std::string mistake;
};

// `exists` says whether a path names a file or folder. "--" ends the
// options: a name after it may start with "-".
CommandLine parse_command_line(std::vector<std::string_view> const& arguments,
    std::function<bool(std::string const&)> const& exists);

std::string command_line_help();

// `path` (a system path, "/" separated) against `current_directory` when
// it is relative, with "." and empty names taken out and each ".." taking
// out the name before it; the names' bytes are kept as they are. What the
// program hands over and opens, so that a second start in another folder
// means the same file.
std::string absolute_path(std::string_view path, std::string_view current_directory);

// The file or folder `path` names, made absolute so (absolute_path) where
// that names the same file; where it does not (a ".." after a link to a
// folder leads to the target's parent, not back beside the link), the
// path with every link resolved, as the file system went.
std::string full_path(std::string const& path, std::string const& current_directory);

}
