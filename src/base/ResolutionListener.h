#pragma once

// Objects that hold something that depends on the screen's resolution (the
// width caches of fonts) enter a process-wide list for as long as they live;
// the window calls notify_resolution_change() when the resolution changes.

namespace qv {

class ResolutionListener {
public:
    virtual ~ResolutionListener();
    virtual void on_resolution_change() = 0;

    ResolutionListener(ResolutionListener const&) = delete;
    ResolutionListener& operator=(ResolutionListener const&) = delete;

protected:
    ResolutionListener(); // enters the list
};

// Runs on_resolution_change() of every listener, in the order they entered.
// A listener made or destroyed by one of these calls is handled safely: one
// destroyed is not called, one made is not called this time.
void notify_resolution_change();

}
