#pragma once

// What a second start sends the running instance: its command line as
// UTF-16 code units in this machine's byte order, nothing around them, ended
// by the sender shutting down its side of the socket. Both ends are this
// program on this machine, so the order needs no mark, and the end of the
// stream is the one frame a sender cannot get wrong. The receiver answers
// kHandoverTaken once the text is in its hands.

#include "core/WString.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace qv::platform {

// Far beyond any command line a desktop passes: a sender of more is not a
// start, and the listener must not grow without bound for it.
inline constexpr std::size_t kHandoverMaxBytes = std::size_t(1) << 20;
inline constexpr char kHandoverTaken = 1;

// The bytes a start sends; an empty command line still says something, so
// that the running instance comes to the front.
std::string handover_message(WStringView command_line);

enum class HandoverState {
    Incomplete,  // more may come: wait, within the connection's deadline
    Complete,    // `text` is the command line
    Refused,     // no command line can come of it: drop the connection
};

struct HandoverRead {
    HandoverState state;
    WString text;
};

// `received`: every byte the connection has delivered so far; `ended`: the
// sender has shut its side. Pure, so that any bytes at all can be tried.
HandoverRead read_handover(std::string_view received, bool ended);

}
