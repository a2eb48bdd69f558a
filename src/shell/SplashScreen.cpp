#include "shell/SplashScreen.h"

#include "shell/FirstScreen.h"
#include "base/Log.h"
#include "base/Milestones.h"
#include "platform/System.h"
#include "skin/SkinErrors.h"

#include <chrono>
#include <thread>

namespace qv {

namespace {

void marker(char16_t const* text) { Log::get() << platform::tick_count() << text; }

}

class SplashScreen::Loader final : public Thread {
public:
    Loader(SplashScreen& splash, Properties& properties)
        : m_splash(splash)
        , m_properties(properties)
    {
    }

protected:
    void run() override
    {
        // Gives the splash a moment on screen before the processor is busy.
        for (int i = 0; i < 50 && !stop_requested(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        marker(u"WinMain 9\n");
        std::unique_ptr<MainScreen> screen;
        try {
            screen = m_splash.m_builder ? m_splash.m_builder(m_properties)
                                        : std::make_unique<FirstScreen>(m_properties);
        } catch (SkinError const& error) {
            m_splash.m_failure = error.message();
        }
        m_splash.m_first = std::move(screen);
        marker(u"WinMain 10\n");
    }

private:
    SplashScreen& m_splash;
    Properties& m_properties;
};

SplashScreen::SplashScreen(Application& application, Properties& properties, Builder builder)
    : m_application(application)
    , m_properties(properties)
    , m_builder(std::move(builder))
{
    if (!load_form(properties, u"Splash"))
        throw NodeNotFoundInSkin(u"Splash");
}

SplashScreen::~SplashScreen()
{
    if (m_loader) {
        m_loader->request_stop();
        m_loader->join();
    }
    if (m_first && m_application.listener() == static_cast<AppListener*>(m_first.get()))
        m_application.set_listener(nullptr);
    if (m_first)
        m_application.remove_screen(&m_first->main_screen());
    m_application.remove_screen(&screen());
}

void SplashScreen::start()
{
    m_application.push_screen(&screen(), true);
    m_loader = std::make_unique<Loader>(*this, m_properties);
    if (!m_loader->start()) {
        m_failed = true;
        m_failure = u"the loader thread cannot start";
    }
}

void SplashScreen::advance(double seconds)
{
    Form::advance(seconds);
    m_total += seconds;
    if (m_done || !m_loader)
        return;
    if (m_loader->is_running()) {
        if (m_total > 0.5)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return;
    }
    m_loader->join();
    finish();
}

void SplashScreen::finish()
{
    m_done = true;
    marker(u"WinMain 11\n");
    if (!m_first) {
        // A skin without the first screen's nodes ends the run in order.
        m_failed = true;
        Log::get() << u"SplashScreen: first screen failed: " << m_failure << u"\n";
        platform::MessageQueue::main().post(m_application.game().window(), platform::WM_DESTROY);
        return;
    }
    m_application.set_listener(m_first.get());
    marker(u"WinMain 12\n");
    m_first->on_resize();
    m_application.push_screen(&m_first->main_screen(), false);
    marker(u"WinMain 13\n");
    m_application.remove_screen(&screen());
    Log::get() << platform::tick_count() << milestone::kStarted << u"\n";
}

}
