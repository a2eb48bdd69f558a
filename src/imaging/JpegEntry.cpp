#include "imaging/JpegEntry.h"

namespace qv {

namespace {

void put16(std::uint8_t* out, std::uint16_t v)
{
    out[0] = static_cast<std::uint8_t>(v);
    out[1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(std::uint8_t* out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint16_t get16(std::uint8_t const* in) { return static_cast<std::uint16_t>(in[0] | in[1] << 8); }

std::uint32_t get32(std::uint8_t const* in)
{
    return std::uint32_t(in[0]) | std::uint32_t(in[1]) << 8 | std::uint32_t(in[2]) << 16 | std::uint32_t(in[3]) << 24;
}

// One step backwards over entropy-coded bytes (ITU T.81 F.1.2.3 and B.1.1.5):
// a data 0xFF is always followed by a stuffed 0x00, so 0xFF followed by
// anything else is a fill byte, and 0xFF followed by a non-zero code is a
// marker. Returns the raw bytes stepped over and whether they were one data
// byte.
struct BackStep {
    std::size_t raw { 0 };
    bool is_data { false };
    std::uint8_t value { 0 };
};

BackStep step_back(std::span<std::uint8_t const> bytes, std::size_t position)
{
    std::uint8_t const b = bytes[position - 1];
    bool const after_ff = position >= 2 && bytes[position - 2] == 0xFF;
    if (b == 0x00 && after_ff)
        return { 2, true, 0xFF };
    if (b == 0xFF)
        return { 1, false, 0 };
    if (after_ff)
        return { 2, false, 0 };
    return { 1, true, b };
}

}

std::array<std::uint8_t, kJpegEntrySize> serialize_entry(JpegEntry const& entry)
{
    std::array<std::uint8_t, kJpegEntrySize> out {};
    for (int i = 0; i < 3; ++i)
        put16(out.data() + 2 * i, static_cast<std::uint16_t>(entry.dc_predictors[i]));
    out[6] = entry.bits_left;
    put32(out.data() + 7, entry.restarts_to_go);
    put32(out.data() + 11, entry.position);
    out[15] = entry.next_restart;
    out[16] = entry.pending_marker;
    return out;
}

JpegEntry parse_entry(std::span<std::uint8_t const, kJpegEntrySize> bytes)
{
    JpegEntry entry;
    for (int i = 0; i < 3; ++i)
        entry.dc_predictors[i] = static_cast<std::int16_t>(get16(bytes.data() + 2 * i));
    entry.bits_left = bytes[6];
    entry.restarts_to_go = get32(bytes.data() + 7);
    entry.position = get32(bytes.data() + 11);
    entry.next_restart = bytes[15];
    entry.pending_marker = bytes[16];
    return entry;
}

std::optional<std::vector<JpegEntry>> parse_entry_table(std::span<std::uint8_t const> bytes)
{
    if (bytes.size() % kJpegEntrySize != 0)
        return std::nullopt;
    std::vector<JpegEntry> entries;
    entries.reserve(bytes.size() / kJpegEntrySize);
    for (std::size_t at = 0; at < bytes.size(); at += kJpegEntrySize)
        entries.push_back(parse_entry(bytes.subspan(at).first<kJpegEntrySize>()));
    return entries;
}

std::uint32_t rebuild_bit_buffer(std::span<std::uint8_t const> bytes, std::size_t position)
{
    if (position > bytes.size())
        position = bytes.size();
    std::uint32_t value = 0;
    int shift = 0;
    while (shift < 32 && position > 0) {
        BackStep const step = step_back(bytes, position);
        position -= step.raw;
        if (step.is_data) {
            value |= std::uint32_t(step.value) << shift;
            shift += 8;
        }
    }
    return value;
}

std::optional<std::size_t> walk_back_data_bytes(std::span<std::uint8_t const> bytes,
    std::size_t position, std::size_t count)
{
    std::size_t at = position;
    while (count > 0) {
        if (at == 0)
            return std::nullopt;
        BackStep const step = step_back(bytes, at);
        at -= step.raw;
        if (step.is_data)
            --count;
    }
    return position - at;
}

}
