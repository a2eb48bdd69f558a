#include "base/Thread.h"
#include "platform/System.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

using namespace qv;
using namespace std::chrono_literals;

namespace {

// Runs until asked to stop, recording what it saw.
class Worker : public Thread {
public:
    std::atomic<int> runs { 0 };
    std::atomic<int> nice { 0 };
    Event started { Event::Reset::Manual };

protected:
    void run() override
    {
        ++runs;
        nice = platform::thread_nice(platform::current_thread_id());
        started.set();
        while (!stop_requested())
            std::this_thread::sleep_for(1ms);
    }
};

}

TEST(Thread, a_second_start_while_running_starts_nothing)
{
    Worker worker;
    ASSERT_TRUE(worker.start());
    worker.started.wait();
    EXPECT_TRUE(worker.is_running());
    EXPECT_FALSE(worker.start());
    worker.request_stop();
    worker.join();
    EXPECT_FALSE(worker.is_running());
    EXPECT_EQ(worker.runs, 1);
}

TEST(Thread, a_finished_thread_can_be_started_again)
{
    Worker worker;
    ASSERT_TRUE(worker.start());
    worker.request_stop();
    worker.join();
    worker.started.reset();
    ASSERT_TRUE(worker.start());
    worker.started.wait();
    EXPECT_FALSE(worker.stop_requested()) << "start clears the stop flag";
    worker.request_stop();
    worker.join();
    EXPECT_EQ(worker.runs, 2);
}

TEST(Thread, join_returns_at_once_when_there_is_nothing_to_wait_for)
{
    Worker never_started;
    never_started.join();
    EXPECT_FALSE(never_started.is_running());

    Worker finished;
    finished.start();
    finished.request_stop();
    finished.join();
    finished.join();
    EXPECT_FALSE(finished.is_running());
}

TEST(Thread, priority_levels_are_clamped_to_the_five_platform_steps)
{
    EXPECT_EQ(Thread::platform_priority_for(7), 1);
    EXPECT_EQ(Thread::platform_priority_for(2), 1);
    EXPECT_EQ(Thread::platform_priority_for(0), 3);
    EXPECT_EQ(Thread::platform_priority_for(-1), 4);
    EXPECT_EQ(Thread::platform_priority_for(-9), 5);
}

TEST(Thread, a_lower_priority_reaches_the_running_thread)
{
    Worker worker;
    ASSERT_TRUE(worker.set_priority(-9)); // lowering is always allowed
    EXPECT_EQ(worker.priority(), 5);
    ASSERT_TRUE(worker.start());
    worker.started.wait();
    int base = platform::thread_nice(platform::current_thread_id());
    EXPECT_GT(worker.nice, base);
    worker.request_stop();
    worker.join();
}

TEST(Mutex, is_released_only_after_as_many_unlocks_as_locks)
{
    Mutex mutex;
    mutex.lock();
    mutex.lock();
    std::atomic<bool> acquired { false };
    std::thread other([&] {
        MutexLock lock(mutex);
        acquired = true;
    });
    mutex.unlock();
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(acquired) << "one unlock of two released the lock";
    mutex.unlock();
    other.join();
    EXPECT_TRUE(acquired);
}

TEST(Event, manual_reset_stays_signalled_until_reset)
{
    Event event(Event::Reset::Manual);
    EXPECT_FALSE(event.wait_for(10));
    event.set();
    EXPECT_TRUE(event.wait_for(10));
    EXPECT_TRUE(event.wait_for(10));
    event.reset();
    EXPECT_FALSE(event.wait_for(10));
}

TEST(Event, automatic_reset_releases_one_waiter_per_set)
{
    Event event(Event::Reset::Automatic);
    std::atomic<int> released { 0 };
    std::thread a([&] { event.wait(); ++released; });
    std::thread b([&] { event.wait(); ++released; });
    std::this_thread::sleep_for(20ms);
    event.set();
    // Waits for the one released, however busy the machine; then gives a
    // wrongly released second one a moment to show.
    auto const until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (released < 1 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(released, 1);
    event.set();
    a.join();
    b.join();
    EXPECT_EQ(released, 2);
    EXPECT_FALSE(event.wait_for(10)) << "the signal was consumed";
}
