#include "widgets/LanguageMenu.h"

#include "base/Directories.h"

#include <algorithm>

namespace qv {

namespace {

// The file name without folder or extension.
WString base_name(WStringView path)
{
    auto const slash = path.find_last_of(u"\\/");
    WStringView name = slash == WStringView::npos ? path : path.substr(slash + 1);
    auto const dot = name.find_last_of(u'.');
    if (dot != WStringView::npos)
        name = name.substr(0, dot);
    return WString(name);
}

// The device's file system ignored case for ASCII names; so does the check.
WString upper(WString text)
{
    for (auto& c : text)
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - u'a' + u'A');
    return text;
}

}

void fill_language_menu(LanguageTable const& loaded, WStringView, std::vector<MenuItem>& items,
    WStringView cancel_action, WStringView folder)
{
    PathCollector files;
    walk_directory(files, folder, u"*.lng", kDoNotSearch, false);
    std::sort(files.paths.begin(), files.paths.end());
    WString const active = loaded.path().empty() ? WString() : upper(base_name(loaded.path()));
    for (auto const& path : files.paths) {
        WString const name = base_name(path);
        MenuItem item;
        item.id = kLanguageItemPrefix + name;
        item.text = name;
        item.style = u"MenuElement";
        item.checked = !active.empty() && upper(name) == active;
        items.push_back(std::move(item));
    }
    MenuItem cancel;
    cancel.id = u"Cancel";
    cancel.extra = WString(cancel_action);
    cancel.style = u"MenuElementCancel";
    items.push_back(std::move(cancel));
}

}
