#pragma once

// The splash screen: the skin's "Splash" form, shown modal while a loader
// thread builds the first screen; once the loader has ended it puts the new
// screen on the stack in its place. It owns that screen for the whole run.

#include "shell/Application.h"
#include "shell/ScreenSkin.h"
#include "base/Thread.h"

#include <functional>
#include <memory>

namespace qv {

class SplashScreen final : public SkinScreen {
public:
    // Makes the first screen on the loader thread; a skin error there makes
    // failed() true and the first screen absent.
    using Builder = std::function<std::unique_ptr<MainScreen>(Properties&)>;

    // Throws NodeNotFoundInSkin when the skin has no "Splash".
    SplashScreen(Application& application, Properties& properties, Builder builder = {});
    ~SplashScreen() override;

    // Pushes itself modal and starts the loader.
    void start();
    void advance(double seconds) override;

    bool failed() const { return m_failed; }
    WString const& failure() const { return m_failure; }
    bool done() const { return m_done; }
    MainScreen* first_screen() const { return m_first.get(); }
    double running_total() const { return m_total; }

private:
    class Loader;
    void finish();

    Application& m_application;
    Builder m_builder;
    std::unique_ptr<Loader> m_loader;
    std::unique_ptr<MainScreen> m_first;
    double m_total { 0 };
    bool m_done { false };
    bool m_failed { false };
    WString m_failure;
};

}
