#include "base/Active.h"
#include "base/Log.h"
#include "base/Registry.h"
#include "platform/System.h"
#include "platform/WindowMessages.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

using namespace qv;

namespace {

class Recorder final : public CActive {
public:
    Recorder(std::vector<int>& order, int name)
        : m_order(order)
        , m_name(name)
    {
    }
    void run() override
    {
        m_order.push_back(m_name);
        m_thread = std::this_thread::get_id();
    }
    std::thread::id m_thread;

private:
    std::vector<int>& m_order;
    int m_name;
};

// Runs the main queue as the message loop would, until `done` or the time
// is up.
void pump(std::function<bool()> done, int milliseconds = 2000)
{
    auto& queue = platform::MessageQueue::main();
    auto const end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!done() && std::chrono::steady_clock::now() < end) {
        platform::Message message;
        if (queue.peek(message))
            queue.dispatch(message);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

class ActiveSchedulerTest : public ::testing::Test {
protected:
    void SetUp() override { platform::MessageQueue::main().clear(); }
    std::vector<int> m_order;
};

}

TEST_F(ActiveSchedulerTest, timers_fire_in_order_of_due_time_once_each)
{
    CActiveScheduler scheduler(u"PellumoClass_Test");
    Recorder late(m_order, 300), early(m_order, 100);
    scheduler.after(late, 0.3);
    scheduler.after(early, 0.1);
    EXPECT_EQ(scheduler.active_count(), 2);
    pump([&] { return m_order.size() == 2; });
    // A little longer: nothing may run twice.
    pump([] { return false; }, 100);
    EXPECT_EQ(m_order, (std::vector<int> { 100, 300 }));
    EXPECT_EQ(scheduler.active_count(), 0);
    EXPECT_FALSE(late.is_active());
}

TEST_F(ActiveSchedulerTest, a_zero_second_timer_runs_at_the_next_check_without_a_platform_timer)
{
    CActiveScheduler scheduler(u"PellumoClass_Test");
    Recorder now(m_order, 0);
    scheduler.after(now, 0.0);
    EXPECT_FALSE(platform::MessageQueue::main().has_timer(scheduler.window(), CActiveScheduler::kTimerId));
    EXPECT_TRUE(m_order.empty()); // completions run only from the loop
    platform::Message message;
    ASSERT_TRUE(platform::MessageQueue::main().peek(message));
    EXPECT_EQ(message.message, CActiveScheduler::kProcessMessage);
    platform::MessageQueue::main().dispatch(message);
    EXPECT_EQ(m_order, (std::vector<int> { 0 }));
}

TEST_F(ActiveSchedulerTest, a_timer_cancelled_before_it_is_due_never_runs)
{
    CActiveScheduler scheduler(u"PellumoClass_Test");
    int runs = 0;
    {
        ActiveTimer timer([&] { ++runs; });
        timer.start(0.2);
        EXPECT_TRUE(timer.is_active());
        timer.cancel();
        EXPECT_FALSE(timer.is_active());
        EXPECT_EQ(scheduler.active_count(), 0);
        pump([] { return false; }, 400);
        EXPECT_EQ(runs, 0);
        // A timer started again still works, and one destroyed while
        // waiting leaves nothing behind.
        timer.start(0.0);
        pump([&] { return runs == 1; });
        EXPECT_EQ(runs, 1);
        timer.start(5.0);
    }
    EXPECT_EQ(scheduler.active_count(), 0);
}

TEST_F(ActiveSchedulerTest, completions_notified_from_a_worker_run_on_the_main_thread)
{
    CActiveScheduler scheduler(u"PellumoClass_Test");
    Recorder job(m_order, 7);
    scheduler.set_active(job);
    std::thread worker([&] { scheduler.notify(job); });
    worker.join();
    EXPECT_TRUE(m_order.empty());
    pump([&] { return !m_order.empty(); });
    EXPECT_EQ(m_order, (std::vector<int> { 7 }));
    EXPECT_EQ(job.m_thread, std::this_thread::get_id());
}

TEST_F(ActiveSchedulerTest, cancel_waits_for_a_pending_completion_and_keeps_the_others)
{
    CActiveScheduler scheduler(u"PellumoClass_Test");
    Recorder first(m_order, 1), second(m_order, 2);
    scheduler.set_active(first);
    scheduler.set_active(second);
    scheduler.notify(first);
    std::thread worker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        scheduler.notify(second);
    });
    scheduler.cancel(second); // blocks until the worker's notify
    worker.join();
    EXPECT_FALSE(second.is_active());
    pump([&] { return !m_order.empty(); });
    EXPECT_EQ(m_order, (std::vector<int> { 1 }));
}

TEST_F(ActiveSchedulerTest, activating_an_active_object_twice_ends_the_process_with_its_log_line)
{
    // Forked, so that the child writes into this test's folder.
    GTEST_FLAG_SET(death_test_style, "fast");
    test::TempDir dir;
    test::ScopedEnv registry("QUILVANE_REGISTRY", (dir / "registry.reg").string());
    test::ScopedEnv temp("TMPDIR", dir.path().string());
    write_dword(kMakerKey, u"Log", 1);
    EXPECT_EXIT(
        {
            CActiveScheduler scheduler(u"PellumoClass_Test");
            Recorder twice(m_order, 1);
            scheduler.set_active(twice);
            scheduler.set_active(twice);
        },
        ::testing::ExitedWithCode(1), "");
    write_dword(kMakerKey, u"Log", 0);
    Log::get();
    auto const bytes = test::read_bytes(dir / "test_base.txt");
    std::u16string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
        text += static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
    EXPECT_NE(text.find(u" is already active"), std::u16string::npos);
    EXPECT_NE(text.find(u"CActiveScheduler::set_active()"), std::u16string::npos);
}
