#pragma once

// One running instance per user: a lock file serialises starts and a Unix
// socket carries a second start's command line to the running one (see
// HandoverMessage.h). Both live in $XDG_RUNTIME_DIR when that is a directory
// of this user's, else in /tmp/quilvane-UID, made and kept private, and are
// named after the window class. Each end talks only to a process of its own
// user: a second start never hands another user its paths, and the running
// instance takes none from another user.

#include "core/WString.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace qv::platform {

enum class InstanceCheck {
    NoneRunning,  // this process goes on to start
    HandedOver,   // the running instance took the command line
    GaveUp,       // one seems to run but did not answer in time; start anyway
    Squatted,     // the place or the listener is not this user's; start anyway
};

struct InstanceAnswer {
    InstanceCheck check;
    // With Squatted: what was found, one line for the user.
    std::string reason;
};

// Takes the start lock (waiting at most `give_up_ms` for a starting instance
// to get its window up) and offers the command line (or
// "%CommandLineEmpty%") to a running instance, which must confirm within
// what is left of `give_up_ms`. The text passes as it is, NULs and escaped
// bytes included: what it means is the receiver's business.
InstanceAnswer check_running_instance(WStringView class_name, WStringView command_line,
    std::int32_t give_up_ms = 5000);

// Lets the next start go ahead: called once this instance's window exists.
void release_instance_lock();

// Starts answering hand-overs; `receive` runs on a listener thread with each
// command line exactly as sent. Stops, joining the thread, on stop or exit.
// False, with no listener, where check_running_instance finds no safe place.
bool start_instance_listener(WStringView class_name, std::function<void(WString)> receive);
void stop_instance_listener();

// The directory the lock and the socket live in; empty, with `problem` set,
// when none can be trusted and starts do without a hand-over.
struct InstancePlace {
    std::string directory;
    std::string problem;
};
InstancePlace instance_place();

namespace instance_seam {

// A test runs as one user, so it cannot meet another: the other end of
// every hand-over connection is taken to be `uid` (nothing: the kernel's
// answer).
void report_peer_as(std::optional<std::uint32_t> uid);
// Where the private directory is made in place of /tmp, so that a test
// neither disturbs nor depends on the real one.
void private_directory_base(std::optional<std::string> base);

}

}
