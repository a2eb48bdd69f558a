#pragma once

// What screens and elements ask of the program's shell: the screen stack,
// the window's client area, text entry and minimizing. The shell lies above
// the toolkit, so it registers itself here while it lives; without one (a
// form in a test) there is nobody to ask and instance() is null.
// User-interface thread only.

#include "imaging/Rect.h"
#include "platform/WindowMessages.h"

namespace qv {

class EditReceiver;
class Screen;

class ScreenHost {
public:
    static ScreenHost* instance();

    virtual void push_screen(Screen* screen, bool modal) = 0;
    virtual bool remove_screen(Screen* screen) = 0;
    virtual bool has_screen(Screen const* screen) const = 0;
    virtual void minimize() = 0;
    virtual Rect client_area() const = 0;
    virtual void begin_edit(EditReceiver* receiver) = 0;
    virtual EditReceiver* edit_receiver() const = 0;
    // Where a worker's wake-up message goes; none without a window.
    virtual platform::WindowId window() const = 0;
    // The window over the whole desktop, or back in its frame. A run
    // without a window only remembers the wish.
    virtual void toggle_full_screen() { }
    virtual bool full_screen() const { return false; }

protected:
    ScreenHost();
    ~ScreenHost();
    ScreenHost(ScreenHost const&) = delete;
    ScreenHost& operator=(ScreenHost const&) = delete;
};

}
