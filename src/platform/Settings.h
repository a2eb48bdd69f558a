#pragma once

// The settings store: a text file in the .reg style, shared by every process
// of the user. Keys are full paths beginning with a root name
// ("HKEY_CURRENT_USER\Software\Zenk"); key and value names compare without
// regard to case. Each write is a read-modify-write under a file lock, so two
// processes writing different values never lose one another's. Reading never
// writes: the file, its lock file and its folder are only made by a write.
//
// Threads: any; the parsed file is kept under a mutex and read again when
// the file changes on disk.
// Failures: a missing or unreadable file reads as empty; a write that
// cannot make the folder, take the lock or replace the file returns false
// and leaves the old file as it was.

#include "core/WString.h"

#include <cstdint>
#include <optional>
#include <variant>

namespace qv::platform {

using SettingValue = std::variant<WString, std::uint32_t>;

// $QUILVANE_REGISTRY, else $XDG_CONFIG_HOME/zenk/registry.reg.
std::string settings_file_path();

// The value, or nothing when the file, the key or the value is missing.
std::optional<SettingValue> read_setting(WStringView key, WStringView name);
bool write_setting(WStringView key, WStringView name, SettingValue const& value);

}
