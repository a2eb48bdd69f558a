#include "catalog/CatalogFile.h"

#include <cwctype>
#include <limits>

namespace qv {

namespace {

bool is_space(char16_t c) { return std::iswspace(static_cast<wint_t>(c)) != 0; }
bool is_line_end(char16_t c) { return c == u'\r' || c == u'\n'; }

}

std::map<WString, WString> parse_catalog_text(WStringView text)
{
    std::map<WString, WString> values;
    size_t i = 0;
    size_t const n = text.size();
    while (i < n) {
        while (i < n && is_space(text[i]))
            ++i;
        size_t key_start = i;
        while (i < n && !is_space(text[i]) && text[i] != u'=')
            ++i;
        WString key(text.substr(key_start, i - key_start));
        if (i < n && text[i] == u'=') {
            ++i;
        } else {
            while (i < n && is_space(text[i]) && !is_line_end(text[i]))
                ++i;
        }
        size_t value_start = i;
        while (i < n && !is_line_end(text[i]))
            ++i;
        if (!key.empty())
            values[key] = WString(text.substr(value_start, i - value_start));
    }
    return values;
}

std::int32_t parse_folder_size(WStringView text)
{
    size_t i = 0;
    while (i < text.size() && is_space(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
        negative = text[i++] == u'-';
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i] - u'0');
        if (value > std::numeric_limits<std::int32_t>::max())
            value = std::int64_t(std::numeric_limits<std::int32_t>::max()) + 1;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<std::int32_t>::max())
        value = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(value);
}

std::vector<FolderInfo> folders_from_text(WStringView text)
{
    auto values = parse_catalog_text(text);
    std::vector<FolderInfo> folders;
    for (auto const& [key, value] : values) {
        if (key.starts_with(u"KeyPicturePath"))
            folders.push_back({ {}, folder_of(value), value, 0 });
    }
    size_t sizes = 0, drives = 0;
    for (auto const& [key, value] : values) {
        if (key.starts_with(u"FolderSize") && sizes < folders.size())
            folders[sizes++].folder_size = parse_folder_size(value);
    }
    for (auto const& [key, value] : values) {
        if (key.starts_with(u"DrivePath") && drives < folders.size())
            folders[drives++].drive_path = value;
    }
    return folders;
}

WString folders_to_text(std::vector<FolderInfo> const& folders)
{
    WString text;
    for (size_t i = 0; i < folders.size(); ++i) {
        auto number = to_wstring(static_cast<std::int64_t>(i));
        auto const& folder = folders[i];
        text += u"KeyPicturePath" + number + u"\t" + folder.key_picture_path + u"\n";
        text += u"DrivePath" + number + u"\t" + folder.drive_path + u"\n";
        text += u"FolderSize" + number + u"\t" + to_wstring(static_cast<std::int64_t>(folder.folder_size)) + u"\n";
    }
    return text;
}

}
