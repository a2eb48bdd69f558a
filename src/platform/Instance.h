#pragma once

// One running instance per user: a lock file serialises starts and a Unix
// socket carries a second start's command line to the running one. Both
// live in $XDG_RUNTIME_DIR (else /tmp) and are named after the window class.

#include "core/WString.h"

#include <cstdint>
#include <functional>

namespace qv::platform {

enum class InstanceCheck {
    NoneRunning,  // this process goes on to start
    HandedOver,   // the running instance took the command line
    GaveUp,       // one seems to run but did not answer in time; start anyway
};

// Takes the start lock (waiting at most `give_up_ms` for a starting instance
// to get its window up) and offers the command line (or
// "%CommandLineEmpty%") to a running instance, which must confirm within
// what is left of `give_up_ms`. The text passes as it is, NULs and escaped
// bytes included: what it means is the receiver's business.
InstanceCheck check_running_instance(WStringView class_name, WStringView command_line,
    std::int32_t give_up_ms = 5000);

// Lets the next start go ahead: called once this instance's window exists.
void release_instance_lock();

// Starts answering hand-overs; `receive` runs on a listener thread with each
// command line exactly as sent. Stops, joining the thread, on stop or exit.
bool start_instance_listener(WStringView class_name, std::function<void(WString)> receive);
void stop_instance_listener();

}
