#include "catalog/NameClaims.h"

#include <chrono>

namespace qv {

std::uint64_t NameClaims::take_ticket()
{
    std::lock_guard lock(m_mutex);
    m_open.emplace(m_next, std::nullopt);
    return m_next++;
}

bool NameClaims::may_claim(std::uint64_t ticket, WString const& name) const
{
    for (auto const& [earlier, claimed] : m_open) {
        if (earlier >= ticket)
            break;
        if (!claimed || *claimed == name)
            return false;
    }
    return true;
}

bool NameClaims::claim(std::uint64_t ticket, WString const& name, std::atomic<bool> const* stop)
{
    std::unique_lock lock(m_mutex);
    // The stop flag is not ours to be told of: it is looked at now and then.
    while (!may_claim(ticket, name)) {
        if (stop && stop->load(std::memory_order_relaxed))
            return false;
        m_changed.wait_for(lock, std::chrono::milliseconds(50));
    }
    m_open[ticket] = name;
    m_changed.notify_all();
    return true;
}

void NameClaims::release(std::uint64_t ticket)
{
    {
        std::lock_guard lock(m_mutex);
        m_open.erase(ticket);
    }
    m_changed.notify_all();
}

}
