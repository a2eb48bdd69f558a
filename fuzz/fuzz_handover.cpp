// Arbitrary bytes as what a connection to the running instance delivers,
// read as the listener reads them: while the sender is still talking and
// once it has shut its side. Nothing is taken before the end; what is taken
// is the bytes exactly, whole code units and never empty; and whatever text
// a start sends comes out as that text.

#include "platform/HandoverMessage.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

using namespace qv;
using namespace qv::platform;

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    std::string_view const bytes(reinterpret_cast<char const*>(data), size);
    for (std::size_t const cut : { std::size_t(0), size / 2, size }) {
        auto const early = read_handover(bytes.substr(0, cut), false);
        if (early.state != (cut > kHandoverMaxBytes ? HandoverState::Refused : HandoverState::Incomplete))
            std::abort();
    }
    auto const read = read_handover(bytes, true);
    if (read.state == HandoverState::Incomplete)
        std::abort();
    if (read.state == HandoverState::Complete && (read.text.empty() || handover_message(read.text) != bytes))
        std::abort();
    if (read.state == HandoverState::Refused && !read.text.empty())
        std::abort();

    WString text(size / sizeof(char16_t), u'\0');
    std::memcpy(text.data(), data, text.size() * sizeof(char16_t));
    auto const back = read_handover(handover_message(text), true);
    if (back.state != HandoverState::Complete || back.text != (text.empty() ? WString(u"%CommandLineEmpty%") : text))
        std::abort();
    return 0;
}
