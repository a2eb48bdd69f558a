#pragma once

// The program's few persistent settings, under registry-style key paths
// that start with a root name. Each call does one thing; nothing is cached
// here (the platform's store keeps the parsed file).
//
// Threads: any.
// Failures: every call returns false for a path with no known root, a
// missing value or one of the other type, and a write the store cannot
// make; a failed read leaves its output alone. A read never writes.

#include "core/WString.h"

#include <cstdint>

namespace qv {

inline constexpr char16_t const* kMakerKey = u"HKEY_CURRENT_USER\\Software\\Zenk";

bool write_string(WStringView key_path, WStringView name, WStringView text);
bool write_dword(WStringView key_path, WStringView name, std::uint32_t value);
bool read_string(WStringView key_path, WStringView name, WString& text);
bool read_dword(WStringView key_path, WStringView name, std::uint32_t& value);

}
