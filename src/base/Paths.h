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
    std::function<WString(int csidl)> special_folder;
};

// Derives app_path and app_name from the executable's full name.
AppPaths make_app_paths(WString app_full_name, std::function<WString(int)> special_folder);

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
