#pragma once

// The items of the language menu: one per installed language file, the
// loaded one checked, then "Cancel".

#include "base/Language.h"
#include "core/WString.h"
#include "widgets/Menu.h"

#include <vector>

namespace qv {

// Ids of language items: this prefix and the language name.
inline constexpr char16_t const* kLanguageItemPrefix = u"Language#";

void fill_language_menu(LanguageTable const& loaded, WStringView app_name, std::vector<MenuItem>& items,
    WStringView cancel_action, WStringView folder = kLanguageFolder);

}
