#pragma once

// Threads with a cooperative stop flag, re-entrant locks and events.

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace qv {

class Thread {
public:
    Thread() = default;
    virtual ~Thread();
    Thread(Thread const&) = delete;
    Thread& operator=(Thread const&) = delete;

    // False while the thread is still running (a second start starts nothing).
    bool start();
    void join();
    bool is_running() const { return m_running.load(std::memory_order_acquire); }

    void request_stop() { m_stop_requested.store(true, std::memory_order_release); }
    bool stop_requested() const { return m_stop_requested.load(std::memory_order_acquire); }

    // Levels -2 (lowest) to 2 (highest), clamped; returns whether the system
    // accepted the change. A level set before start applies at start.
    bool set_priority(int level);
    // The platform priority of the last level set: 5 (lowest) to 1 (highest).
    int priority() const { return m_priority; }
    // Below every level: the thread runs only on time nothing else wants,
    // for work that must never take a frame from the screen. Applies at
    // start when set before it.
    bool set_background();

    static int platform_priority_for(int level);

protected:
    virtual void run() = 0;

private:
    void entry();
    bool apply_priority();

    std::thread m_thread;
    std::atomic<bool> m_running { false };
    std::atomic<bool> m_stop_requested { false };
    std::atomic<int> m_thread_id { 0 };
    int m_priority { 3 };
    bool m_background { false };
};

// Re-entrant: the owning thread may lock again and unlocks as often.
class Mutex {
public:
    void lock() { m_mutex.lock(); }
    void unlock() { m_mutex.unlock(); }

private:
    std::recursive_mutex m_mutex;
};

class MutexLock {
public:
    explicit MutexLock(Mutex& mutex)
        : m_mutex(mutex)
    {
        m_mutex.lock();
    }
    ~MutexLock() { m_mutex.unlock(); }
    MutexLock(MutexLock const&) = delete;
    MutexLock& operator=(MutexLock const&) = delete;

private:
    Mutex& m_mutex;
};

class Event {
public:
    enum class Reset { Automatic, Manual };
    explicit Event(Reset reset)
        : m_manual(reset == Reset::Manual)
    {
    }

    void set();
    void reset();
    void wait();
    // False when the time ran out first.
    bool wait_for(int milliseconds);

private:
    std::mutex m_mutex; // guards m_signalled
    std::condition_variable m_changed;
    bool m_signalled { false };
    bool const m_manual;
};

}
