#include "base/Paths.h"
#include "base/Log.h"
#include "platform/Files.h"
#include "platform/System.h"

#include <array>
#include <cstdlib>
#include <string>

namespace qv {

namespace {

bool is_separator(char16_t c) { return c == u'/' || c == u'\\'; }

size_t last_separator(WStringView path)
{
    return path.find_last_of(u"\\/");
}

}

WString installed_data_directory(WStringView app_path, std::function<bool(WStringView)> const& is_directory)
{
    WString directory = strip_trailing_separator(app_path);
    if (file_name_of(directory) != u"bin" || !is_directory)
        return {};
    WString prefix = strip_trailing_separator(directory_of(directory));
    WString data = prefix + u"\\share\\quilvane";
    return is_directory(data) ? data : WString();
}

AppPaths make_app_paths(WString app_full_name, std::function<WString(int)> special_folder,
    std::function<bool(WStringView)> const& is_directory)
{
    AppPaths paths;
    paths.app_full_name = std::move(app_full_name);
    paths.app_path = strip_trailing_separator(directory_of(paths.app_full_name));
    paths.app_name = file_name_of(paths.app_full_name);
    paths.data_path = installed_data_directory(paths.app_path, is_directory);
    paths.installed = !paths.data_path.empty();
    if (!paths.installed)
        paths.data_path = paths.app_path;
    paths.special_folder = std::move(special_folder);
    return paths;
}

AppPaths const& app_paths()
{
    static AppPaths const paths = make_app_paths(get_app_path(), platform::special_folder, [](WStringView path) {
        auto entry = platform::stat_path(path);
        return entry && (entry->attributes & platform::kAttributeDirectory) != 0;
    });
    return paths;
}

std::string xdg_base_directory(char const* variable, char const* below_home)
{
    std::string base;
    if (char const* value = std::getenv(variable); value && *value == '/')
        base = value;
    else if (char const* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/" + below_home;
    else
        base = std::string("/") + below_home;
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    return base;
}

WString user_data_directory() { return platform::from_system_path(xdg_base_directory("XDG_DATA_HOME", ".local/share") + "/quilvane"); }

bool make_directories(WStringView path)
{
    WString target = strip_trailing_separator(path);
    if (target.empty())
        return false;
    auto exists = [](WStringView p) {
        auto entry = platform::stat_path(p);
        return entry && (entry->attributes & platform::kAttributeDirectory) != 0;
    };
    if (exists(target))
        return true;
    WString parent = strip_trailing_separator(directory_of(target));
    if (!parent.empty() && parent != target && !exists(parent) && !make_directories(parent))
        return false;
    return platform::create_directory(target) || exists(target);
}

WString get_app_path()
{
    WString name = platform::module_file_name();
    if (name.size() > 1023)
        report_fatal(u"get_app_path()", u"path is more then MAX_PATH long");
    return name;
}

WString expand_path(WStringView name, AppPaths const& paths)
{
    struct Macro {
        WStringView text;
        int csidl; // -1, -2, -3 for the application's own values
    };
    static constexpr std::array<Macro, 9> macros { {
        { u"%app_full_name%", -1 },
        { u"%app_path%", -2 },
        { u"%app_name%", -3 },
        { u"%my_documents%", 5 },
        { u"%windows%", 36 },
        { u"%startup%", 7 },
        { u"%programs%", 2 },
        { u"%start_menu%", 11 },
        { u"%program_files%", 38 },
    } };

    WString out;
    size_t rest = 0;
    for (auto const& macro : macros) {
        if (name.substr(0, macro.text.size()) != macro.text)
            continue;
        switch (macro.csidl) {
        case -1: out = paths.app_full_name; break;
        case -2: out = paths.data_path.empty() ? paths.app_path : paths.data_path; break;
        case -3: out = paths.app_name; break;
        default: out = paths.special_folder ? paths.special_folder(macro.csidl) : WString(); break;
        }
        rest = macro.text.size();
        break;
    }
    out.reserve(out.size() + name.size() - rest);
    for (size_t i = rest; i < name.size(); ++i)
        out += is_separator(name[i]) ? u'\\' : name[i];
    return out;
}

WString expand_path(WStringView name) { return expand_path(name, app_paths()); }

WString directory_of(WStringView path)
{
    auto pos = last_separator(path);
    return pos == WStringView::npos ? WString() : WString(path.substr(0, pos + 1));
}

WString file_name_of(WStringView path)
{
    auto pos = last_separator(path);
    return WString(pos == WStringView::npos ? path : path.substr(pos + 1));
}

WString strip_trailing_separator(WStringView path)
{
    if (!path.empty() && is_separator(path.back()))
        path.remove_suffix(1);
    return WString(path);
}

std::optional<size_t> extension_position(WStringView path)
{
    auto dot = path.find_last_of(u'.');
    if (dot == WStringView::npos)
        return std::nullopt;
    auto sep = last_separator(path);
    if (sep != WStringView::npos && sep > dot)
        return std::nullopt;
    return dot;
}

WString base_name_of(WStringView path)
{
    WString name = file_name_of(path);
    if (auto dot = extension_position(name))
        name.resize(*dot);
    return name;
}

WString join_path(WStringView directory, WStringView name)
{
    if (directory.empty())
        return WString(name);
    WString out = strip_trailing_separator(directory);
    out += u'\\';
    out += name;
    return out;
}

bool same_path(WStringView a, WStringView b)
{
    auto left = to_lower(strip_trailing_separator(expand_path(a)));
    auto right = to_lower(strip_trailing_separator(expand_path(b)));
    return left == right;
}

bool path_starts_with(WStringView path, WStringView prefix)
{
    if (path.size() < prefix.size())
        return false;
    return same_path(path.substr(0, prefix.size()), prefix);
}

}
