#include "platform/HandoverMessage.h"

#include <cstring>

namespace qv::platform {

std::string handover_message(WStringView command_line)
{
    WStringView const text = command_line.empty() ? WStringView(u"%CommandLineEmpty%") : command_line;
    std::string bytes(text.size() * sizeof(char16_t), '\0');
    std::memcpy(bytes.data(), text.data(), bytes.size());
    return bytes;
}

HandoverRead read_handover(std::string_view received, bool ended)
{
    if (received.size() > kHandoverMaxBytes)
        return { HandoverState::Refused, {} };
    if (!ended)
        return { HandoverState::Incomplete, {} };
    // A connection closed without a word is a probe, not a start; half a
    // code unit is a sender cut off in the middle.
    if (received.empty() || received.size() % sizeof(char16_t) != 0)
        return { HandoverState::Refused, {} };
    WString text(received.size() / sizeof(char16_t), u'\0');
    std::memcpy(text.data(), received.data(), received.size());
    return { HandoverState::Complete, std::move(text) };
}

}
