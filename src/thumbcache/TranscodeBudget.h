#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <utility>

namespace qv {

// A transcode holds the picture's coefficients whole, up to the limit, and
// builds run at once: they share one limit, so that however many run, the
// transcodes together never hold more than one may alone. A transcode that
// finds no room waits for one to end; one alone always runs.
class TranscodeBudget {
public:
    bool acquire(std::uint64_t bytes, std::uint64_t limit, std::atomic<bool> const* stop)
    {
        std::unique_lock lock(m_mutex);
        while (m_held > 0 && m_held + bytes > limit) {
            if (stop && stop->load(std::memory_order_relaxed))
                return false;
            // The stop flag is nobody's to signal: it is looked at now and then.
            m_released.wait_for(lock, std::chrono::milliseconds(50));
        }
        m_held += bytes;
        m_peak = std::max(m_peak, m_held);
        return true;
    }

    void release(std::uint64_t bytes)
    {
        {
            std::lock_guard lock(m_mutex);
            m_held -= bytes;
        }
        m_released.notify_all();
    }

    std::uint64_t take_peak()
    {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_peak, m_held);
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_released;
    std::uint64_t m_held { 0 };
    std::uint64_t m_peak { 0 };
};

// The one budget of the process.
TranscodeBudget& transcode_budget();

}
