#include "base/Thread.h"
#include "platform/System.h"

#include <algorithm>
#include <chrono>

namespace qv {

Thread::~Thread()
{
    // Like closing a handle: a thread still running goes on detached.
    if (m_thread.joinable()) {
        if (is_running())
            m_thread.detach();
        else
            m_thread.join();
    }
}

bool Thread::start()
{
    if (is_running())
        return false;
    if (m_thread.joinable())
        m_thread.join(); // finished but not yet joined: its handle is spent
    m_stop_requested.store(false, std::memory_order_release);
    m_thread_id.store(0, std::memory_order_release);
    m_running.store(true, std::memory_order_release);
    try {
        m_thread = std::thread([this] { entry(); });
    } catch (std::system_error const&) {
        m_running.store(false, std::memory_order_release);
        return false;
    }
    // Wait for the thread to name itself, so set_priority can reach it.
    m_thread_id.wait(0, std::memory_order_acquire);
    return true;
}

void Thread::entry()
{
    m_thread_id.store(platform::current_thread_id(), std::memory_order_release);
    m_thread_id.notify_all();
    if (m_priority != 3 || m_background)
        apply_priority();
    run();
    m_running.store(false, std::memory_order_release);
}

void Thread::join()
{
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}

int Thread::platform_priority_for(int level)
{
    return 3 - std::clamp(level, -2, 2);
}

bool Thread::set_priority(int level)
{
    m_priority = platform_priority_for(level);
    if (!is_running())
        return true;
    return apply_priority();
}

bool Thread::set_background()
{
    m_background = true;
    if (!is_running())
        return true;
    return apply_priority();
}

bool Thread::apply_priority()
{
    int const id = m_thread_id.load(std::memory_order_acquire);
    if (id == 0)
        return false;
    if (m_background)
        return platform::set_thread_background(id);
    // Priority 1 (highest) .. 5 (lowest) as nice -10 .. 10.
    return platform::set_thread_nice(id, (m_priority - 3) * 5);
}

void Event::set()
{
    {
        std::lock_guard lock(m_mutex);
        m_signalled = true;
    }
    if (m_manual)
        m_changed.notify_all();
    else
        m_changed.notify_one();
}

void Event::reset()
{
    std::lock_guard lock(m_mutex);
    m_signalled = false;
}

void Event::wait()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_signalled; });
    if (!m_manual)
        m_signalled = false;
}

bool Event::wait_for(int milliseconds)
{
    std::unique_lock lock(m_mutex);
    if (!m_changed.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return m_signalled; }))
        return false;
    if (!m_manual)
        m_signalled = false;
    return true;
}

}
