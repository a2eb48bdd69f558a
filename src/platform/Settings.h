#pragma once

// The settings store: a text file in the .reg style, shared by every process
// of the user. Keys are full paths beginning with a root name
// ("HKEY_CURRENT_USER\Software\Zenk"); key and value names compare without
// regard to case. Each write is a read-modify-write under a file lock, so two
// processes writing different values never lose one another's; the lock
// file goes when the write is done. Reading never writes: the file and its
// folder are only made by a write (or by moving an earlier release's file).
//
// Threads: any; the parsed file is kept under a mutex and read again when
// the file changes on disk.
// Failures: a missing file reads as empty. Only a regular file (or a link
// to one) of at most 1 MiB is read; anything else - a device, a FIFO, a
// file too large or unreadable - is ignored with one line on standard
// error, reads as empty and is never replaced by a write. A write that
// cannot make the folder, take the lock or replace the file returns false
// and leaves the old file as it was.

#include "core/WString.h"

#include <cstdint>
#include <optional>
#include <variant>

namespace qv::platform {

using SettingValue = std::variant<WString, std::uint32_t>;

// $QUILVANE_REGISTRY, else $XDG_CONFIG_HOME/quilvane/settings.reg (where
// the file of an earlier release, $XDG_CONFIG_HOME/zenk/registry.reg, is
// moved once).
std::string settings_file_path();

// Why the settings file is being ignored, empty when it is read or missing.
std::string settings_file_problem();

// The value, or nothing when the file, the key or the value is missing.
std::optional<SettingValue> read_setting(WStringView key, WStringView name);
bool write_setting(WStringView key, WStringView name, SettingValue const& value);

}
