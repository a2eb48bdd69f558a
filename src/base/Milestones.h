#pragma once

// The points of the log that tests and scripts find their way by, in one
// place: scripts name them (`wait_for MS NAME`), the program writes their
// text, and the wording can change here without touching a test. Each
// text is the start of its log line; what follows it may vary.

#include "core/WString.h"

#include <optional>
#include <string_view>

namespace qv::milestone {

inline constexpr char16_t kStarted[] = u"WinMain 14"; // the first screen is up
inline constexpr char16_t kSearchComplete[] = u"album form: search complete";
inline constexpr char16_t kCacheComplete[] = u"album form: cache complete";
inline constexpr char16_t kUpdateComplete[] = u"update complete"; // the watching's
inline constexpr char16_t kAlbumsChanged[] = u"update complete, albums changed";
inline constexpr char16_t kFirstFullFrame[] = u"image form: first full frame";
inline constexpr char16_t kFolderOpen[] = u"folder form: open";

struct Named {
    std::string_view name;
    char16_t const* text;
};

inline constexpr Named kAll[] = {
    { "started", kStarted },
    { "search_complete", kSearchComplete },
    { "cache_complete", kCacheComplete },
    { "update_complete", kUpdateComplete },
    { "albums_changed", kAlbumsChanged },
    { "first_full_frame", kFirstFullFrame },
    { "folder_open", kFolderOpen },
};

// The text of the milestone called `name`; nothing for an unknown name.
inline std::optional<WStringView> text_of(std::string_view name)
{
    for (auto const& milestone : kAll) {
        if (milestone.name == name)
            return WStringView(milestone.text);
    }
    return std::nullopt;
}

}
