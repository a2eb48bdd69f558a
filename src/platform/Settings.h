#pragma once

// The settings store: a text file in the .reg style, shared by every process
// of the user. Keys are full paths beginning with a root name
// ("HKEY_CURRENT_USER\Software\Zenk"); key and value names compare without
// regard to case. Each write is a read-modify-write under a file lock, so two
// processes writing different values never lose one another's.

#include "core/WString.h"

#include <cstdint>
#include <optional>
#include <variant>

namespace qv::platform {

using SettingValue = std::variant<WString, std::uint32_t>;

// $QUILVANE_REGISTRY, else $XDG_CONFIG_HOME/zenk/registry.reg.
std::string settings_file_path();

// Reads a value; a key that does not exist yet is created (empty), as the
// registry's open-or-create does.
std::optional<SettingValue> read_setting(WStringView key, WStringView name);
bool write_setting(WStringView key, WStringView name, SettingValue const& value);

}
