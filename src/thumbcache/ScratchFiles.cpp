#include "thumbcache/ScratchFiles.h"

#include "base/Paths.h"
#include "platform/Files.h"
#include "platform/OwnFiles.h"
#include "platform/System.h"

#include <atomic>
#include <climits>
#include <cstdint>

namespace qv {

namespace {

constexpr WStringView kPrefix = u"~build-";
constexpr WStringView kExtensions[] = { u".cache", u".thumb", u".temp", u".full" };

// The decimal number at the start of `text` and what follows it; nothing
// without a digit, and nothing past INT_MAX (no process id is that large).
std::optional<int> leading_number(WStringView& text)
{
    std::int64_t value = 0;
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= u'0' && text[digits] <= u'9') {
        value = value * 10 + (text[digits] - u'0');
        if (value > INT_MAX)
            return std::nullopt;
        ++digits;
    }
    if (digits == 0)
        return std::nullopt;
    text.remove_prefix(digits);
    return static_cast<int>(value);
}

}

std::optional<int> scratch_file_process(WStringView leaf_name)
{
    if (leaf_name.size() <= kPrefix.size() || !equals_ignore_case(leaf_name.substr(0, kPrefix.size()), kPrefix))
        return std::nullopt;
    WStringView rest = leaf_name.substr(kPrefix.size());
    auto const process = leading_number(rest);
    if (!process || rest.empty() || rest.front() != u'-')
        return std::nullopt;
    rest.remove_prefix(1);
    if (!leading_number(rest))
        return std::nullopt;
    for (auto extension : kExtensions) {
        if (equals_ignore_case(rest, extension))
            return process;
    }
    return std::nullopt;
}

bool is_scratch_file_name(WStringView leaf_name) { return scratch_file_process(leaf_name).has_value(); }

int remove_stale_scratch_files(WStringView cache_directory)
{
    // Only in a directory of our own, never through a link to one.
    platform::OwnDirectory directory(strip_trailing_separator(expand_path(cache_directory)));
    int const self = platform::current_process_id();
    int removed = 0;
    for (auto const& entry : directory.list()) {
        if (entry.is_directory)
            continue;
        auto const process = scratch_file_process(entry.name);
        // A process id can be taken again by an unrelated process: its
        // files then stay until it too has gone, which only costs room.
        if (!process || *process == self || platform::process_exists(*process))
            continue;
        if (directory.remove_file(entry.name))
            ++removed;
    }
    return removed;
}

void install_scratch_cleanup_on_signals() { platform::install_removal_on_termination(); }

ScratchFiles::ScratchFiles(WStringView cache_file)
{
    static std::atomic<unsigned> builds { 0 };
    WString base = directory_of(cache_file) + WString(kPrefix) + to_wstring(platform::current_process_id()) + u"-"
        + to_wstring(builds++);
    cache = base + u".cache";
    level = base + u".thumb";
    next = base + u".temp";
    full = base + u".full";
    // Registered before any of them exists: a signal at any moment after
    // this finds every file the build may have made.
    WString const* paths[] = { &cache, &level, &next, &full };
    for (std::size_t i = 0; i < 4; ++i)
        m_tickets[i] = platform::remove_on_termination(expand_path(*paths[i]));
}

ScratchFiles::~ScratchFiles()
{
    WString const* paths[] = { &cache, &level, &next, &full };
    for (std::size_t i = 0; i < 4; ++i) {
        platform::remove_file(expand_path(*paths[i]));
        platform::keep_on_termination(m_tickets[i]);
    }
}

}
