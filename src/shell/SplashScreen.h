#pragma once

// The splash screen: the skin's "Splash" form, built and drawn by the
// toolkit's elements, shown modal while a loader thread builds the first
// screen; once the loader has ended it puts the new screen on the stack in
// its place. It owns that screen for the whole run.
//
// Threads: the user-interface thread, and the loader, which only builds the
// first screen (through the builder) and logs its markers; the splash looks
// at the result only after joining it.
// Failures: the constructor throws NodeNotFoundInSkin when the skin has no
// "Splash", and the skin's other errors (NodeNotRegistered) for an element
// the toolkit cannot build. A skin error while building the first screen,
// or a loader that cannot start, makes failed() true and asks the window
// to close.

#include "shell/Application.h"
#include "base/Thread.h"
#include "skin/Properties.h"
#include "widgets/Form.h"

#include <functional>
#include <memory>

namespace qv {

class SplashScreen final : public Form {
public:
    // Makes the first screen on the loader thread; without one, the
    // FirstScreen of the skin's "Main" form.
    using Builder = std::function<std::unique_ptr<MainScreen>(Properties&)>;

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
    Properties& m_properties;
    Builder m_builder;
    std::unique_ptr<Loader> m_loader;
    std::unique_ptr<MainScreen> m_first;
    double m_total { 0 };
    bool m_done { false };
    bool m_failed { false };
    WString m_failure;
};

}
