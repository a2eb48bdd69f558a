#pragma once

// Path macros ("%app_path%", "%my_documents%", ...) and the small path
// functions. Paths accept "/" and "\" alike; expanded paths use "\" only.

#include "core/WString.h"

#include <functional>
#include <optional>

namespace qv {

struct AppPaths {
    WString app_full_name; // the running executable
    WString app_path;      // its directory, without a trailing separator
    WString app_name;      // its file name, extension included
    // Where the program's skins, languages and help pages are, and what
    // "%app_path%" stands for: app_path itself, unless the program is
    // installed (see installed_data_directory).
    WString data_path;
    bool installed { false };
    std::function<WString(int csidl)> special_folder;
};

// The data directory of an installed program: an executable in
// "<prefix>/bin" whose "<prefix>/share/quilvane" is a directory reads its
// data there. Empty for any other layout (a build's "app" directory keeps
// its data beside the executable).
WString installed_data_directory(WStringView app_path, std::function<bool(WStringView)> const& is_directory);

// Derives app_path, app_name and data_path from the executable's full name;
// without `is_directory` the program counts as not installed.
AppPaths make_app_paths(WString app_full_name, std::function<WString(int)> special_folder,
    std::function<bool(WStringView)> const& is_directory = {});

// A desktop base directory, e.g. ("XDG_CACHE_HOME", ".cache"): the
// variable when it names an absolute path (a relative one is to be ignored,
// as the XDG rules say), else `below_home` under $HOME; system form, without
// a trailing slash.
std::string xdg_base_directory(char const* variable, char const* below_home);

// Where an installed program keeps what the user makes (the album list):
// $XDG_DATA_HOME/quilvane, else $HOME/.local/share/quilvane; program form.
WString user_data_directory();

// Makes the directory and any missing parents; true when it exists after.
bool make_directories(WStringView path);

// The process's own values, computed on first use and kept.
AppPaths const& app_paths();

WString expand_path(WStringView name, AppPaths const& paths);
WString expand_path(WStringView name);

WString get_app_path();

WString directory_of(WStringView path);
WString file_name_of(WStringView path);
WString strip_trailing_separator(WStringView path);
std::optional<size_t> extension_position(WStringView path);
WString base_name_of(WStringView path);
WString join_path(WStringView directory, WStringView name);
bool same_path(WStringView a, WStringView b);
bool path_starts_with(WStringView path, WStringView prefix);

}
