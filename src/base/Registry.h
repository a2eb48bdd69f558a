#pragma once

// The program's few persistent settings. Each call opens the key, does one
// thing and closes it again; nothing is cached here.

#include "core/WString.h"

#include <cstdint>

namespace qv {

inline constexpr char16_t const* kMakerKey = u"HKEY_CURRENT_USER\\Software\\Zenk";

bool write_string(WStringView key_path, WStringView name, WStringView text);
bool write_dword(WStringView key_path, WStringView name, std::uint32_t value);
// Each read creates a missing key. The output is left alone on failure.
bool read_string(WStringView key_path, WStringView name, WString& text);
bool read_dword(WStringView key_path, WStringView name, std::uint32_t& value);

}
