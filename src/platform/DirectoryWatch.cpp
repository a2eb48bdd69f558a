#include "platform/DirectoryWatch.h"

#include <algorithm>

namespace qv::platform {

bool path_within(std::string_view path, std::string_view top)
{
    if (path.size() < top.size() || path.substr(0, top.size()) != top)
        return false;
    return path.size() == top.size() || path[top.size()] == '/' || (!top.empty() && top.back() == '/');
}

void ChangeBatch::add(std::vector<DirectoryChange> const& changes, std::uint64_t now)
{
    if (changes.empty())
        return;
    if (m_changes.empty())
        m_first = now;
    m_last = now;
    m_changes.insert(m_changes.end(), changes.begin(), changes.end());
}

bool ChangeBatch::due(std::uint64_t now) const { return !m_changes.empty() && wait_ms(now) == 0; }

std::int64_t ChangeBatch::wait_ms(std::uint64_t now) const
{
    if (m_changes.empty())
        return -1;
    std::uint64_t const at = std::min(m_last + m_quiet, m_first + m_longest);
    return at > now ? static_cast<std::int64_t>(at - now) : 0;
}

std::vector<DirectoryChange> ChangeBatch::take()
{
    std::vector<DirectoryChange> changes = std::move(m_changes);
    m_changes.clear();
    if (std::any_of(changes.begin(), changes.end(), [](auto const& c) { return c.everything; }))
        return { DirectoryChange { {}, true, true } };
    // By path, a tree before the changes inside it (a directory's own files
    // before its tree when both came).
    std::sort(changes.begin(), changes.end(), [](DirectoryChange const& a, DirectoryChange const& b) {
        return a.path != b.path ? a.path < b.path : a.recursive > b.recursive;
    });
    std::vector<DirectoryChange> merged;
    std::vector<std::string> trees;
    for (auto& change : changes) {
        bool const covered = std::any_of(
            trees.begin(), trees.end(), [&](std::string const& tree) { return path_within(change.path, tree); });
        if (covered || (!merged.empty() && merged.back() == change))
            continue;
        if (change.recursive)
            trees.push_back(change.path);
        merged.push_back(std::move(change));
    }
    return merged;
}

}
