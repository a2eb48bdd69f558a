#include "base/Registry.h"
#include "platform/Settings.h"

#include <array>
#include <optional>

namespace qv {

namespace {

// Normalises "ROOT\sub\key" to "ROOT\sub\key" with the root's canonical
// spelling; a path that starts with no known root selects nothing.
std::optional<WString> resolve_key(WStringView key_path)
{
    static constexpr std::array<WStringView, 4> roots {
        u"HKEY_CLASSES_ROOT", u"HKEY_CURRENT_USER", u"HKEY_LOCAL_MACHINE", u"HKEY_USERS"
    };
    for (auto root : roots) {
        if (key_path.substr(0, root.size()) != root)
            continue;
        WStringView sub = key_path.size() > root.size() ? key_path.substr(root.size() + 1) : WStringView();
        WString key(root);
        if (!sub.empty()) {
            key += u'\\';
            key += sub;
        }
        return key;
    }
    return std::nullopt;
}

}

bool write_string(WStringView key_path, WStringView name, WStringView text)
{
    auto key = resolve_key(key_path);
    return key && platform::write_setting(*key, name, WString(text));
}

bool write_dword(WStringView key_path, WStringView name, std::uint32_t value)
{
    auto key = resolve_key(key_path);
    return key && platform::write_setting(*key, name, value);
}

bool read_string(WStringView key_path, WStringView name, WString& text)
{
    auto key = resolve_key(key_path);
    if (!key)
        return false;
    auto value = platform::read_setting(*key, name);
    if (!value)
        return false;
    auto const* stored = std::get_if<WString>(&*value);
    if (!stored)
        return false;
    // Stored text ends at its first zero, as a registry string does.
    text = stored->substr(0, stored->find(u'\0'));
    return true;
}

bool read_dword(WStringView key_path, WStringView name, std::uint32_t& value)
{
    auto key = resolve_key(key_path);
    if (!key)
        return false;
    auto stored = platform::read_setting(*key, name);
    if (!stored)
        return false;
    auto const* dword = std::get_if<std::uint32_t>(&*stored);
    if (!dword)
        return false;
    value = *dword;
    return true;
}

}
