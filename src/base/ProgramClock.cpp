#include "base/ProgramClock.h"

#include "platform/System.h"

#include <atomic>

namespace qv {

namespace {

// Written by the screen's thread only; read by any (a log line's time).
std::atomic<bool> g_virtual { false };
std::atomic<std::uint32_t> g_virtual_ticks { 0 };
std::atomic<bool> g_held { false };

}

std::uint32_t program_ticks()
{
    return g_virtual.load(std::memory_order_relaxed) ? g_virtual_ticks.load(std::memory_order_relaxed)
                                                     : platform::tick_count();
}

void use_virtual_clock()
{
    if (g_virtual.exchange(true))
        return;
    g_virtual_ticks.store(platform::tick_count(), std::memory_order_relaxed);
}

bool virtual_clock() { return g_virtual.load(std::memory_order_relaxed); }

void program_clock_frame()
{
    if (g_virtual.load(std::memory_order_relaxed) && !g_held.load(std::memory_order_relaxed))
        g_virtual_ticks.fetch_add(kVirtualFramePeriodMs, std::memory_order_relaxed);
}

void hold_program_clock(bool held) { g_held.store(held, std::memory_order_relaxed); }

}
