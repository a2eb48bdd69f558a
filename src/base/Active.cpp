#include "base/Active.h"

#include "base/Log.h"
#include "platform/System.h"

#include <algorithm>
#include <atomic>
#include <string>

namespace qv {

namespace {

std::atomic<std::int32_t> g_next_id { 0 };
std::atomic<CActiveScheduler*> g_scheduler { nullptr };

WString number(std::int64_t value) { return to_wstring(value); }

}

CActive::CActive()
    : m_id(g_next_id.fetch_add(1) + 1)
{
}

CActive::~CActive()
{
    if (m_active)
        report_fatal(u"CActive::~CActive()", u"Active object " + number(m_id) + u" is already active");
}

CActiveScheduler::CActiveScheduler(WStringView window_class_name)
    : m_window_name(u"CActive" + WString(window_class_name))
{
    m_window = platform::MessageQueue::main().create_window(
        [this](platform::Message& message) { return window_proc(message); });
    g_scheduler.store(this);
}

CActiveScheduler::~CActiveScheduler()
{
    if (m_active_counter != 0)
        report_fatal(u"", u"Some active objects still live while scheduler is terminating active_counter="
                + number(m_active_counter));
    platform::MessageQueue::main().destroy_window(m_window);
    CActiveScheduler* self = this;
    g_scheduler.compare_exchange_strong(self, nullptr);
}

CActiveScheduler* CActiveScheduler::current() { return g_scheduler.load(); }

std::int64_t CActiveScheduler::window_proc(platform::Message& message)
{
    if (message.message == kProcessMessage)
        process_actives();
    else if (message.message == platform::WM_TIMER && message.wparam == kTimerId)
        reschedule();
    return 0;
}

void CActiveScheduler::set_active(CActive& object)
{
    MutexLock lock(m_mutex);
    if (object.m_active)
        report_fatal(u"CActiveScheduler::set_active()", u"Object " + number(object.m_id) + u" is already active");
    object.m_active = true;
    ++m_active_counter;
}

void CActiveScheduler::notify(CActive& object)
{
    {
        MutexLock lock(m_mutex);
        if (!object.m_active)
            report_fatal(u"CActiveScheduler::notify()", u"Active object " + number(object.m_id) + u" is not active");
        m_ready.push_back(&object);
    }
    platform::MessageQueue::main().post(m_window, kProcessMessage);
}

void CActiveScheduler::process_actives()
{
    for (;;) {
        CActive* object;
        {
            MutexLock lock(m_mutex);
            if (m_ready.empty())
                return;
            object = m_ready.front();
            m_ready.pop_front();
            if (!object->m_active)
                report_fatal(u"CActiveScheduler::process_actives()",
                    u"Active object " + number(object->m_id) + u" is not marked active");
            object->m_active = false;
            --m_active_counter;
        }
        object->run();
    }
}

void CActiveScheduler::cancel(CActive& object)
{
    {
        MutexLock lock(m_mutex);
        if (!object.m_active)
            return;
    }
    object.cancel_hook();
    bool took_message = false;
    for (;;) {
        {
            MutexLock lock(m_mutex);
            if (!object.m_active)
                break;
            auto const it = std::find(m_ready.begin(), m_ready.end(), &object);
            if (it != m_ready.end()) {
                m_ready.erase(it);
                object.m_active = false;
                --m_active_counter;
                break;
            }
        }
        platform::MessageQueue::main().wait_for(m_window, kProcessMessage);
        took_message = true;
    }
    if (took_message)
        platform::MessageQueue::main().post(m_window, kProcessMessage);
}

void CActiveScheduler::after(CActive& object, double seconds)
{
    cancel(object);
    double const ms = std::clamp(seconds * 1000.0 + 0.5, 0.0, 2147483647.0);
    object.m_due = platform::tick_count() + static_cast<std::uint32_t>(ms);
    set_active(object);
    {
        MutexLock lock(m_mutex);
        m_timers.push_back(&object);
    }
    reschedule();
}

void CActiveScheduler::reschedule()
{
    auto& queue = platform::MessageQueue::main();
    queue.kill_timer(m_window, kTimerId);
    std::vector<CActive*> due;
    std::int32_t nearest = -1;
    {
        MutexLock lock(m_mutex);
        std::uint32_t const now = platform::tick_count();
        for (auto it = m_timers.begin(); it != m_timers.end();) {
            std::int32_t const left = static_cast<std::int32_t>((*it)->m_due - now);
            if (left < 1) {
                due.push_back(*it);
                it = m_timers.erase(it);
            } else {
                if (nearest < 0 || left < nearest)
                    nearest = left;
                ++it;
            }
        }
    }
    for (CActive* object : due)
        notify(*object);
    if (nearest >= 0)
        queue.set_timer(m_window, kTimerId, static_cast<std::uint32_t>(nearest));
}

std::int32_t CActiveScheduler::active_count() const
{
    MutexLock lock(m_mutex);
    return m_active_counter;
}

class ActiveTimer::Object final : public CActive {
public:
    explicit Object(std::function<void()> action)
        : m_action(std::move(action))
    {
    }
    void run() override
    {
        if (m_action)
            m_action();
    }
    // Due now: the scheduler moves it to the ready queue, where cancel
    // finds and removes it.
    void cancel_hook() override
    {
        if (auto* scheduler = CActiveScheduler::current()) {
            set_due(platform::tick_count());
            scheduler->reschedule();
        }
    }

private:
    std::function<void()> m_action;
};

ActiveTimer::ActiveTimer(std::function<void()> action)
    : m_object(std::make_unique<Object>(std::move(action)))
{
}

ActiveTimer::~ActiveTimer() { cancel(); }

void ActiveTimer::start(double seconds)
{
    if (auto* scheduler = CActiveScheduler::current())
        scheduler->after(*m_object, seconds);
}

void ActiveTimer::cancel()
{
    if (auto* scheduler = CActiveScheduler::current())
        scheduler->cancel(*m_object);
}

bool ActiveTimer::is_active() const { return m_object->is_active(); }

}
