#pragma once

// The program's clock: what every animation, timer, gesture and slideshow
// of the screens reads. It is the system's monotonic clock, except under a
// headless script, where it is virtual: each frame moves it on by exactly
// kVirtualFramePeriodMs, whatever the frame really took, so that a script
// shows the same screens at the same frames on a quiet or a busy machine.
// Work on other threads (searches, cache builds, tiles) keeps real time;
// scripts wait for it by what it does, not by the clock, and the virtual
// clock stands still meanwhile.

#include <cstdint>

namespace qv {

inline constexpr std::uint32_t kVirtualFramePeriodMs = 10;

// Milliseconds, wrapping at 32 bits.
std::uint32_t program_ticks();

// From now on the clock is virtual, starting where the real one stands.
void use_virtual_clock();
bool virtual_clock();
// A frame has passed: the virtual clock moves on one frame period; the
// real one is left alone.
void program_clock_frame();
// While held, frames do not move the virtual clock: a script waiting for
// other threads' work lets any number of frames pass without the screens
// seeing time pass, so that how long the work took shows nowhere.
void hold_program_clock(bool held);

}
