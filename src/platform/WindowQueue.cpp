#include "platform/WindowMessages.h"

#include "platform/System.h"

#include <chrono>
#include <limits>

namespace qv::platform {

MessageQueue& MessageQueue::main()
{
    static MessageQueue queue;
    return queue;
}

WindowId MessageQueue::create_window(WindowProc proc)
{
    std::lock_guard lock(m_mutex);
    WindowId const id = m_next_window++;
    m_windows[id] = std::move(proc);
    return id;
}

void MessageQueue::destroy_window(WindowId window)
{
    WindowProc dropped;
    WindowHook dropped_hook;
    {
        std::lock_guard lock(m_mutex);
        auto const it = m_windows.find(window);
        if (it != m_windows.end()) {
            dropped = std::move(it->second);
            m_windows.erase(it);
        }
        auto const hook = m_hooks.find(window);
        if (hook != m_hooks.end()) {
            dropped_hook = std::move(hook->second);
            m_hooks.erase(hook);
        }
        std::erase_if(m_timers, [window](auto const& entry) { return entry.first.first == window; });
    }
    // The procedure's captures die here, outside the lock.
}

bool MessageQueue::window_exists(WindowId window) const
{
    std::lock_guard lock(m_mutex);
    return m_windows.contains(window);
}

void MessageQueue::set_hook(WindowId window, WindowHook hook)
{
    std::lock_guard lock(m_mutex);
    if (hook)
        m_hooks[window] = std::move(hook);
    else
        m_hooks.erase(window);
}

void MessageQueue::post(Message message)
{
    EventPump* pump;
    {
        std::lock_guard lock(m_mutex);
        m_messages.push_back(std::move(message));
        pump = m_pump;
    }
    m_wake.notify_all();
    if (pump)
        pump->wake();
}

void MessageQueue::post(WindowId window, std::uint32_t msg, std::uint64_t wparam, std::int64_t lparam)
{
    post(Message { window, msg, wparam, lparam, {} });
}

void MessageQueue::post_quit() { post(0, WM_QUIT); }

bool MessageQueue::take_locked(Message& message)
{
    if (!m_messages.empty()) {
        message = std::move(m_messages.front());
        m_messages.pop_front();
        return true;
    }
    // Timers are the lowest priority, as on the original: one WM_TIMER per
    // due timer when the queue is otherwise empty.
    std::uint32_t const now = tick_count();
    for (auto& [key, timer] : m_timers) {
        if (static_cast<std::int32_t>(now - timer.due) >= 0) {
            timer.due = now + timer.period;
            message = Message { key.first, WM_TIMER, key.second, 0, {} };
            return true;
        }
    }
    return false;
}

std::int32_t MessageQueue::next_timer_wait_locked() const
{
    std::int32_t wait = -1;
    std::uint32_t const now = tick_count();
    for (auto const& [key, timer] : m_timers) {
        std::int32_t const left = std::max<std::int32_t>(0, static_cast<std::int32_t>(timer.due - now));
        if (wait < 0 || left < wait)
            wait = left;
    }
    return wait;
}

bool MessageQueue::peek(Message& message)
{
    EventPump* pump;
    {
        std::lock_guard lock(m_mutex);
        pump = m_pump;
    }
    if (pump)
        pump->pump();
    std::lock_guard lock(m_mutex);
    return take_locked(message);
}

Message MessageQueue::wait()
{
    Message message;
    for (;;) {
        if (peek(message))
            return message;
        std::unique_lock lock(m_mutex);
        if (!m_messages.empty())
            continue;
        std::int32_t const timeout = next_timer_wait_locked();
        if (m_pump) {
            EventPump* pump = m_pump;
            lock.unlock();
            pump->wait(timeout);
        } else if (timeout < 0) {
            m_wake.wait(lock);
        } else {
            m_wake.wait_for(lock, std::chrono::milliseconds(timeout));
        }
    }
}

bool MessageQueue::wait_any(std::int32_t timeout_ms)
{
    EventPump* pump;
    {
        std::unique_lock lock(m_mutex);
        if (!m_messages.empty())
            return true;
        pump = m_pump;
        if (!pump) {
            m_wake.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return !m_messages.empty(); });
            return !m_messages.empty();
        }
    }
    pump->wait(timeout_ms);
    pump->pump();
    std::lock_guard lock(m_mutex);
    return !m_messages.empty();
}

bool MessageQueue::wait_for(WindowId window, std::uint32_t msg, std::int32_t timeout_ms)
{
    std::uint32_t const start = tick_count();
    for (;;) {
        EventPump* pump;
        {
            std::lock_guard lock(m_mutex);
            pump = m_pump;
        }
        if (pump)
            pump->pump();
        std::unique_lock lock(m_mutex);
        for (auto it = m_messages.begin(); it != m_messages.end(); ++it) {
            if (it->window == window && it->message == msg) {
                m_messages.erase(it);
                return true;
            }
        }
        std::int32_t left = 50;
        if (timeout_ms >= 0) {
            std::int32_t const spent = static_cast<std::int32_t>(tick_count() - start);
            if (spent >= timeout_ms)
                return false;
            left = std::min(left, timeout_ms - spent);
        }
        if (m_pump) {
            lock.unlock();
            pump->wait(left);
        } else {
            m_wake.wait_for(lock, std::chrono::milliseconds(left));
        }
    }
}

std::int64_t MessageQueue::dispatch(Message& message)
{
    WindowProc proc;
    WindowHook hook;
    {
        std::lock_guard lock(m_mutex);
        auto const it = m_windows.find(message.window);
        if (it == m_windows.end())
            return 0;
        proc = it->second;
        auto const h = m_hooks.find(message.window);
        if (h != m_hooks.end())
            hook = h->second;
    }
    if (hook)
        hook(message);
    return proc(message);
}

void MessageQueue::set_timer(WindowId window, std::uint32_t id, std::uint32_t period_ms)
{
    {
        std::lock_guard lock(m_mutex);
        m_timers[{ window, id }] = Timer { period_ms, tick_count() + period_ms };
    }
    m_wake.notify_all();
}

void MessageQueue::kill_timer(WindowId window, std::uint32_t id)
{
    std::lock_guard lock(m_mutex);
    m_timers.erase({ window, id });
}

bool MessageQueue::has_timer(WindowId window, std::uint32_t id) const
{
    std::lock_guard lock(m_mutex);
    return m_timers.contains({ window, id });
}

void MessageQueue::set_pump(EventPump* pump)
{
    std::lock_guard lock(m_mutex);
    m_pump = pump;
}

void MessageQueue::clear()
{
    std::lock_guard lock(m_mutex);
    m_messages.clear();
    m_timers.clear();
}

}
