#include "base/Language.h"
#include "base/Directories.h"
#include "base/Paths.h"
#include "base/Registry.h"
#include "base/TextFile.h"
#include "platform/Files.h"
#include "platform/System.h"

#include <array>

namespace qv {

namespace {

bool is_blank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f'; }
bool is_line_end(char16_t c) { return c == u'\r' || c == u'\n'; }

struct LanguageEntry {
    char const* code;
    char16_t const* name;
};

// Indexed by the platform's primary language identifier (0x00 .. 0x61).
constexpr std::array<LanguageEntry, 98> kLanguages { {
    { "", nullptr }, { "ar", u"ARABIC" }, { "bg", u"BULGARIAN" }, { "ca", u"CATALAN" }, { "zh", u"CHINESE" },
    { "cs", u"CZECH" }, { "da", u"DANISH" }, { "de", u"GERMAN" }, { "el", u"GREEK" }, { "en", u"ENGLISH" },
    { "es", u"SPANISH" }, { "fi", u"FINNISH" }, { "fr", u"FRENCH" }, { "he", u"HEBREW" }, { "hu", u"HUNGARIAN" },
    { "is", u"ICELANDIC" }, { "it", u"ITALIAN" }, { "ja", u"JAPANESE" }, { "ko", u"KOREAN" }, { "nl", u"DUTCH" },
    { "no", u"NORWEGIAN" }, { "pl", u"POLISH" }, { "pt", u"PORTUGUESE" }, { "rm", nullptr }, { "ro", u"ROMANIAN" },
    { "ru", u"RUSSIAN" }, { "hr", u"CROATIAN" }, { "sk", u"SLOVAK" }, { "sq", u"ALBANIAN" }, { "sv", u"SWEDISH" },
    { "th", u"THAI" }, { "tr", u"TURKISH" }, { "ur", u"URDU" }, { "id", u"INDONESIAN" }, { "uk", u"UKRAINIAN" },
    { "be", u"BYELORUSSIAN" }, { "sl", u"SLOVENIAN" }, { "et", u"ESTONIAN" }, { "lv", u"LATVIAN" },
    { "lt", u"LITHUANIAN" }, { "tg", nullptr }, { "fa", u"PERSIAN" }, { "vi", u"VIETNAMESE" }, { "hy", u"ARMENIAN" },
    { "az", u"AZERBAIJANI" }, { "eu", u"BASQUE" }, { "hsb", nullptr }, { "mk", u"MACEDONIAN" }, { "st", nullptr },
    { "ts", nullptr }, { "tn", nullptr }, { "ve", nullptr }, { "xh", nullptr }, { "zu", nullptr },
    { "af", u"AFRIKAANS" }, { "ka", u"GEORGIAN" }, { "fo", u"FAROESE" }, { "hi", u"HINDI" }, { "mt", nullptr },
    { "se", nullptr }, { "ga", nullptr }, { "yi", nullptr }, { "ms", u"MALAY" }, { "kk", u"KAZAKH" },
    { "ky", nullptr }, { "sw", u"SWAHILI" }, { "tk", nullptr }, { "uz", u"UZBEK" }, { "tt", u"TATAR" },
    { "bn", u"BENGALI" }, { "pa", u"PUNJABI" }, { "gu", u"GUJARATI" }, { "or", u"ORIYA" }, { "ta", u"TAMIL" },
    { "te", u"TELUGU" }, { "kn", u"KANNADA" }, { "ml", u"MALAYALAM" }, { "as", u"ASSAMESE" }, { "mr", u"MARATHI" },
    { "sa", u"SANSKRIT" }, { "mn", nullptr }, { "bo", nullptr }, { "cy", nullptr }, { "km", nullptr },
    { "lo", nullptr }, { "my", nullptr }, { "gl", nullptr }, { "kok", nullptr }, { "mni", nullptr },
    { "sd", u"SINDHI" }, { "syr", nullptr }, { "si", nullptr }, { "chr", nullptr }, { "iu", nullptr },
    { "am", nullptr }, { "tzm", nullptr }, { "ks", u"KASHMIRI" }, { "ne", u"NEPALI" },
} };

std::vector<WString> language_files(WStringView folder)
{
    PathCollector files;
    walk_directory(files, folder, u"*.lng", kDoNotSearch, false);
    return files.paths;
}

}

std::map<WString, WString> LanguageTable::parse(WStringView text)
{
    std::map<WString, WString> entries;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && is_blank(text[i]))
            ++i;
        size_t key_start = i;
        while (i < text.size() && !is_blank(text[i]) && text[i] != u'=')
            ++i;
        WString key(text.substr(key_start, i - key_start));
        if (i < text.size() && text[i] == u'=') {
            ++i;
        } else {
            while (i < text.size() && is_blank(text[i]) && !is_line_end(text[i]))
                ++i;
        }
        size_t value_start = i;
        while (i < text.size() && !is_line_end(text[i]))
            ++i;
        if (!key.empty())
            entries[key] = WString(text.substr(value_start, i - value_start));
    }
    return entries;
}

bool LanguageTable::load(WStringView path)
{
    FileStream stream(path, OpenMode::Read);
    if (!stream.is_open())
        return false;
    m_entries = parse(read_text(stream).text);
    m_path = path;
    return true;
}

WString const& LanguageTable::text(WString const& key) const
{
    auto found = m_entries.find(key);
    return found == m_entries.end() ? key : found->second;
}

WString application_key(WStringView app_name)
{
    WString key = kMakerKey;
    key += u'\\';
    key += app_name;
    return key;
}

WString language_file_path(WStringView name, WStringView folder)
{
    WString path = join_path(folder, name);
    path += u".lng";
    // The names come from the registry and the system table in any case;
    // take the file that matches without regard to it.
    auto matches = platform::find_files(expand_path(path));
    if (!matches.empty())
        return join_path(folder, matches.front().name);
    return path;
}

WString language_name_for_locale(std::string_view locale)
{
    auto end = locale.find_first_of("_.@");
    auto code = std::string(locale.substr(0, end));
    for (auto& c : code)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (code == "nb" || code == "nn")
        code = "no";
    if (code.empty())
        return {};
    for (auto const& entry : kLanguages) {
        if (code == entry.code)
            return entry.name ? WString(entry.name) : WString();
    }
    return {};
}

WString system_language_name() { return language_name_for_locale(platform::locale_name()); }

bool choose_language(LanguageTable& table, WStringView app_name, WStringView folder)
{
    WString stored;
    read_string(application_key(app_name), u"Language", stored);
    for (WString const& name : { stored, system_language_name(), WString(u"english") }) {
        if (!name.empty() && table.load(language_file_path(name, folder)))
            return true;
    }
    for (auto const& path : language_files(folder)) {
        if (table.load(path))
            return true;
    }
    return false;
}

bool select_language(LanguageTable& table, WStringView app_name, WStringView item_id, WStringView folder)
{
    constexpr WStringView prefix = u"Language#";
    if (item_id.substr(0, prefix.size()) != prefix)
        return false;
    WString name(item_id.substr(prefix.size()));
    WString path = language_file_path(name, folder);
    if (path == table.path() || !table.load(path))
        return false;
    write_string(application_key(app_name), u"Language", name);
    return true;
}

}
