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
        m_tail_is_input_move = false;
        pump = m_pump;
    }
    m_wake.notify_all();
    if (pump)
        pump->wake();
}

void MessageQueue::post_input(Message message)
{
    {
        std::lock_guard lock(m_mutex);
        bool const move = message.message == WM_MOUSEMOVE;
        if (move && m_tail_is_input_move && !m_messages.empty()) {
            Message& last = m_messages.back();
            if (last.window == message.window && last.wparam == message.wparam) {
                last.lparam = message.lparam;
                return;
            }
        }
        m_messages.push_back(std::move(message));
        m_tail_is_input_move = move;
    }
    // The pump posts from the main thread, which is not waiting on itself.
    m_wake.notify_all();
}

std::size_t MessageQueue::pending() const
{
    std::lock_guard lock(m_mutex);
    return m_messages.size();
}

void MessageQueue::pump_input()
{
    EventPump* pump;
    {
        std::lock_guard lock(m_mutex);
        pump = m_pump;
        if (!pump || m_input_taken >= kInputPerFrame || m_messages.size() >= kInputBacklog)
            return;
    }
    std::size_t const taken = pump->pump();
    std::lock_guard lock(m_mutex);
    m_input_taken += taken;
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
        m_tail_is_input_move = m_tail_is_input_move && !m_messages.empty();
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
    bool drained;
    {
        std::lock_guard lock(m_mutex);
        drained = m_messages.empty();
    }
    // A new batch only once the last is handled: what waits here is never
    // more than one batch of input.
    if (drained)
        pump_input();
    std::lock_guard lock(m_mutex);
    if (take_locked(message))
        return true;
    // The reader has run out: the next frame may take a new batch.
    m_input_taken = 0;
    return false;
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
    {
        std::lock_guard lock(m_mutex);
        m_input_taken = 0;
    }
    pump_input();
    std::lock_guard lock(m_mutex);
    return !m_messages.empty();
}

bool MessageQueue::wait_for(WindowId window, std::uint32_t msg, std::int32_t timeout_ms)
{
    std::uint32_t const start = tick_count();
    for (;;) {
        pump_input();
        std::unique_lock lock(m_mutex);
        EventPump* const pump = m_pump;
        for (auto it = m_messages.begin(); it != m_messages.end(); ++it) {
            if (it->window == window && it->message == msg) {
                if (std::next(it) == m_messages.end())
                    m_tail_is_input_move = false;
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
        // With the backlog full the pump takes nothing, and its input, ready
        // to read, would end every wait at once.
        if (pump && m_messages.size() < kInputBacklog) {
            lock.unlock();
            pump->wait(left);
            std::lock_guard relock(m_mutex);
            m_input_taken = 0;
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
    m_input_taken = 0;
    m_tail_is_input_move = false;
}

}
