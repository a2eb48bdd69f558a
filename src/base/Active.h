#pragma once

// Active objects: work that completes later (a timer running out, a request
// finished by another thread) is queued with the scheduler and completed on
// the main thread from the message loop. One scheduler per process.

#include "base/Thread.h"
#include "core/WString.h"
#include "platform/WindowMessages.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace qv {

class CActive {
public:
    CActive();
    virtual ~CActive();
    CActive(CActive const&) = delete;
    CActive& operator=(CActive const&) = delete;

    // The completion, on the main thread.
    virtual void run() = 0;
    // Called when a wait is cancelled, before the scheduler looks for the
    // object among the ready ones.
    virtual void cancel_hook() { }

    std::int32_t id() const { return m_id; }
    bool is_active() const { return m_active; }
    std::uint32_t due() const { return m_due; }

protected:
    void set_due(std::uint32_t due) { m_due = due; }

private:
    friend class CActiveScheduler;
    std::int32_t m_id;
    bool m_active { false };
    std::uint32_t m_due { 0 };
};

class CActiveScheduler {
public:
    static constexpr std::uint32_t kProcessMessage = 1029;
    static constexpr std::uint32_t kTimerId = 1;

    // Makes the scheduler's hidden window "CActive" + the window class name.
    explicit CActiveScheduler(WStringView window_class_name);
    ~CActiveScheduler();
    CActiveScheduler(CActiveScheduler const&) = delete;
    CActiveScheduler& operator=(CActiveScheduler const&) = delete;

    // The process's scheduler, or null.
    static CActiveScheduler* current();

    void set_active(CActive& object);
    // From any thread: the awaited event has happened.
    void notify(CActive& object);
    void process_actives();
    // On the main thread; may block until the object's notification arrives.
    void cancel(CActive& object);
    // Starts the object as a one-shot timer.
    void after(CActive& object, double seconds);
    void reschedule();

    std::int32_t active_count() const;
    platform::WindowId window() const { return m_window; }
    WString const& window_name() const { return m_window_name; }

private:
    std::int64_t window_proc(platform::Message& message);

    mutable Mutex m_mutex;
    std::int32_t m_active_counter { 0 };
    std::deque<CActive*> m_ready;
    std::vector<CActive*> m_timers;
    platform::WindowId m_window { 0 };
    WString m_window_name;
};

// A delayed action for screens: owns its timer object; destroying the
// holder cancels it.
class ActiveTimer {
public:
    explicit ActiveTimer(std::function<void()> action);
    ~ActiveTimer();
    ActiveTimer(ActiveTimer const&) = delete;
    ActiveTimer& operator=(ActiveTimer const&) = delete;

    void start(double seconds);
    void cancel();
    bool is_active() const;

private:
    class Object;
    std::unique_ptr<Object> m_object;
};

}
