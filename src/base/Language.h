#pragma once

// Language files: "<name>.lng" beside the executable, one "key text" or
// "key=text" entry per line. Every user-visible text that the skin does not
// fix is looked up here by key.

#include "core/WString.h"

#include <map>

namespace qv {

class LanguageTable {
public:
    // Parses the file; on failure (it cannot be opened) nothing changes.
    bool load(WStringView path);
    // The text for the key, or the key itself when there is none.
    WString const& text(WString const& key) const;

    WString const& path() const { return m_path; }
    std::map<WString, WString> const& entries() const { return m_entries; }

    static std::map<WString, WString> parse(WStringView text);

private:
    WString m_path;
    std::map<WString, WString> m_entries;
};

// The key under which the chosen language is remembered: the maker's key
// followed by the application name.
WString application_key(WStringView app_name);

// The language files live beside the executable; tests pass another folder.
inline constexpr char16_t const* kLanguageFolder = u"%app_path%";

// "<folder>\<name>.lng", matched without regard to case, as the device's
// file system did.
WString language_file_path(WStringView name, WStringView folder = kLanguageFolder);

// Start-up choice: the remembered language, the system's, "english", then
// any language file that loads. False when none does.
bool choose_language(LanguageTable& table, WStringView app_name, WStringView folder = kLanguageFolder);

// The name of the system's language in capitals ("RUSSIAN"), or empty.
WString system_language_name();
// The same for a given locale name ("ru_RU.UTF-8"); the table covers the
// platform's 98 primary language identifiers.
WString language_name_for_locale(std::string_view locale);

// Handles a language menu item "Language#<name>": loads it and remembers the
// choice. False when the item is not a language, is the active one, or fails.
bool select_language(LanguageTable& table, WStringView app_name, WStringView item_id,
    WStringView folder = kLanguageFolder);

}
