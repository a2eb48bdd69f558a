#pragma once

// Pictures a listing cannot tell apart (same size, same time) share one
// cache name, and the first of them built takes it; the others get names
// of their own. Builds that run at once must take that name in the order
// they were started, or which picture owns the plain name would depend on
// the threads' timing, and one build would overwrite the other's file.
//
// Each build takes a ticket when it leaves the queue, in queue order, and
// claims its plain cache name before it looks for its file: the claim
// waits until every earlier build has claimed its own, and until no
// earlier build still under way holds the same name. A build that ends,
// claimed or not, releases its ticket.
//
// Threads: any.

#include "core/WString.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>

namespace qv {

class NameClaims {
public:
    std::uint64_t take_ticket();
    // False when `stop` was seen set first; the ticket is then still to
    // be released.
    bool claim(std::uint64_t ticket, WString const& name, std::atomic<bool> const* stop = nullptr);
    void release(std::uint64_t ticket);

    // Releases at the end of a scope, whatever way the build ends.
    class Ticket {
    public:
        explicit Ticket(NameClaims& claims)
            : m_claims(claims)
            , m_ticket(claims.take_ticket())
        {
        }
        Ticket(NameClaims& claims, std::uint64_t ticket)
            : m_claims(claims)
            , m_ticket(ticket)
        {
        }
        ~Ticket() { m_claims.release(m_ticket); }
        Ticket(Ticket const&) = delete;
        Ticket& operator=(Ticket const&) = delete;
        std::uint64_t number() const { return m_ticket; }
        bool claim(WString const& name, std::atomic<bool> const* stop = nullptr)
        {
            return m_claims.claim(m_ticket, name, stop);
        }

    private:
        NameClaims& m_claims;
        std::uint64_t m_ticket;
    };

private:
    bool may_claim(std::uint64_t ticket, WString const& name) const;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::uint64_t m_next { 0 };
    // Tickets taken and not released: the name once claimed.
    std::map<std::uint64_t, std::optional<WString>> m_open;
};

}
