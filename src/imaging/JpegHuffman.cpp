#include "imaging/JpegHuffman.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace qv::jpeg {

namespace {

// Zig-zag to natural order (T.81 Figure A.6), with 16 extra entries so that
// a corrupt run length that steps past the end lands harmlessly on 63.
constexpr int kNaturalOrder[64 + 16] = {
    0, 1, 8, 16, 9, 2, 3, 10, 17, 24, 32, 25, 18, 11, 4, 5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6, 7, 14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
    63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63
};

// Sign extension of an s-bit magnitude (T.81 F.2.2.1, Figure F.12).
inline int extend(int v, int s) { return v < (1 << (s - 1)) ? v - (1 << s) + 1 : v; }

// Code tables of T.81 Annex C (Figures C.1 to C.3) and the decoder tables
// of F.2.2.3 (Figure F.15), plus a 9-bit lookahead.
bool derive_table(JHUFF_TBL const* table, bool is_dc, DerivedTable& out)
{
    if (!table)
        return false;
    std::memset(&out, 0, sizeof out);
    int count = 0;
    for (int l = 1; l <= 16; ++l)
        count += table->bits[l];
    if (count > 256)
        return false;
    std::memcpy(out.values, table->huffval, static_cast<std::size_t>(count));
    if (is_dc) {
        for (int p = 0; p < count; ++p)
            if (out.values[p] > 15)
                return false;
    }
    std::int32_t code = 0;
    int p = 0;
    for (int l = 1; l <= 16; ++l) {
        int const n = table->bits[l];
        out.value_offset[l] = p - code;
        for (int i = 0; i < n; ++i, ++p, ++code) {
            if (l <= 9) {
                int const base = code << (9 - l);
                for (int j = 0; j < (1 << (9 - l)); ++j)
                    out.lookahead[base + j] = static_cast<std::uint16_t>(l << 8 | out.values[p]);
            }
        }
        out.max_code[l] = n ? code - 1 : -1;
        // No code may be all ones (T.81 C.2).
        if (count > 0 && code >= (std::int32_t(1) << l) && n > 0)
            return false;
        code <<= 1;
    }
    out.max_code[17] = 0x7FFFFFFF;
    if (!is_dc) {
        for (int peek = 0; peek < 512; ++peek) {
            unsigned const look = out.lookahead[peek];
            int const length = static_cast<int>(look >> 8);
            int const symbol = static_cast<int>(look & 0xFF);
            int const size = symbol & 15;
            if (!look || size == 0 || length + size > 9)
                continue;
            int const raw = (peek >> (9 - length - size)) & ((1 << size) - 1);
            out.fast_ac[peek] = static_cast<std::int32_t>(static_cast<std::uint32_t>(extend(raw, size)) << 16)
                | (symbol >> 4) << 8 | (length + size);
        }
    }
    return true;
}

inline int decode_symbol(DerivedTable const& table, std::uint64_t buffer, int& bits)
{
    unsigned const look = table.lookahead[(buffer >> (bits - 9)) & 0x1FF];
    if (look) {
        bits -= static_cast<int>(look >> 8);
        return static_cast<int>(look & 0xFF);
    }
    int l = 10;
    auto code = static_cast<std::int32_t>((buffer >> (bits - l)) & 0x3FF);
    while (l <= 16 && code > table.max_code[l]) {
        ++l;
        code = static_cast<std::int32_t>((buffer >> (bits - l)) & ((1u << l) - 1));
    }
    if (l > 16) {
        // A code that is in no table: the library takes 17 bits and a zero.
        bits -= 17;
        return 0;
    }
    bits -= l;
    return table.values[(code + table.value_offset[l]) & 0xFF];
}

}

std::optional<ScanGeometry> entry_geometry(j_decompress_ptr cinfo)
{
    if (cinfo->progressive_mode || cinfo->arith_code || cinfo->inputctl->has_multiple_scans)
        return std::nullopt;
    if (cinfo->comps_in_scan < 1 || cinfo->comps_in_scan > 3 || cinfo->comps_in_scan != cinfo->num_components)
        return std::nullopt;
    if (cinfo->Ss != 0 || cinfo->Se != 63 || cinfo->Ah != 0 || cinfo->Al != 0)
        return std::nullopt;
    if (cinfo->blocks_in_MCU < 1 || cinfo->blocks_in_MCU > D_MAX_BLOCKS_IN_MCU)
        return std::nullopt;
    ScanGeometry g;
    if (cinfo->comps_in_scan == 1) {
        g.mcu_width = 8;
        g.mcu_height = 8;
    } else {
        g.mcu_width = 8 * cinfo->max_h_samp_factor;
        g.mcu_height = 8 * cinfo->max_v_samp_factor;
    }
    if ((g.mcu_width != 8 && g.mcu_width != 16) || (g.mcu_height != 8 && g.mcu_height != 16))
        return std::nullopt;
    g.mcus_per_row = static_cast<int>(cinfo->MCUs_per_row);
    g.mcu_rows = static_cast<int>(cinfo->MCU_rows_in_scan);
    g.band_mcus = 256 / g.mcu_width;
    g.bands_per_row = (g.mcus_per_row + g.band_mcus - 1) / g.band_mcus;
    if (g.mcus_per_row < 1 || g.mcu_rows < 1)
        return std::nullopt;
    return g;
}

bool HuffmanDecoder::derive(int table_class, int slot, JHUFF_TBL const* table)
{
    if (!table)
        return false;
    JHUFF_TBL& source = m_table_sources[table_class][slot];
    bool& derived = m_table_derived[table_class][slot];
    if (derived && std::memcmp(source.bits, table->bits, sizeof source.bits) == 0
        && std::memcmp(source.huffval, table->huffval, sizeof source.huffval) == 0)
        return true;
    derived = false;
    if (!derive_table(table, table_class == 0, m_tables[table_class][slot]))
        return false;
    std::memcpy(source.bits, table->bits, sizeof source.bits);
    std::memcpy(source.huffval, table->huffval, sizeof source.huffval);
    derived = true;
    return true;
}

bool HuffmanDecoder::install(j_decompress_ptr cinfo, ScanGeometry const& geometry)
{
    m_cinfo = cinfo;
    m_geometry = geometry;
    m_blocks_in_mcu = cinfo->blocks_in_MCU;
    for (int b = 0; b < m_blocks_in_mcu; ++b) {
        int const ci = cinfo->MCU_membership[b];
        jpeg_component_info const* comp = cinfo->cur_comp_info[ci];
        int const dc = comp->dc_tbl_no;
        int const ac = comp->ac_tbl_no;
        if (dc < 0 || dc >= NUM_HUFF_TBLS || ac < 0 || ac >= NUM_HUFF_TBLS)
            return false;
        if (!derive(0, dc, cinfo->dc_huff_tbl_ptrs[dc]) || !derive(1, ac, cinfo->ac_huff_tbl_ptrs[ac]))
            return false;
        m_dc_table[b] = &m_tables[0][dc];
        m_ac_table[b] = &m_tables[1][ac];
        m_membership[b] = ci;
    }
    m_hook.pub.start_pass = start_pass;
    m_hook.pub.decode_mcu = decode_mcu_hook;
    m_hook.pub.insufficient_data = FALSE;
    m_hook.owner = this;
    cinfo->entropy = &m_hook.pub;

    // The library has started the scan: the source stands at its first byte.
    std::fill(std::begin(m_dc), std::end(m_dc), 0u);
    m_buffer = 0;
    m_bits = 0;
    m_padding = 0;
    m_restarts_to_go = cinfo->restart_interval;
    m_mcu_index = 0;
    load_source();
    m_history_size = 0;
    return true;
}

void HuffmanDecoder::set_recorder(EntryRecorder* recorder, SourceBase* source)
{
    m_recorder = recorder;
    m_source = source;
}

void HuffmanDecoder::start_pass(j_decompress_ptr cinfo)
{
    // A single-scan picture has no second pass; the library refuses a
    // second scan before it gets here.
    ERREXIT(cinfo, JERR_NOT_COMPILED);
}

boolean HuffmanDecoder::decode_mcu_hook(j_decompress_ptr cinfo, JBLOCKROW* blocks)
{
    return reinterpret_cast<Hook*>(cinfo->entropy)->owner->decode_mcu(blocks) ? TRUE : FALSE;
}

void HuffmanDecoder::load_source()
{
    m_next = m_cinfo->src->next_input_byte;
    m_avail = m_cinfo->src->bytes_in_buffer;
    m_marker = m_cinfo->unread_marker;
    m_segment_start = m_next;
}

void HuffmanDecoder::store_source()
{
    m_cinfo->src->next_input_byte = m_next;
    m_cinfo->src->bytes_in_buffer = m_avail;
    m_cinfo->unread_marker = m_marker;
}

void HuffmanDecoder::restore(ResumePoint const& point)
{
    JpegEntry const& e = point.entry;
    for (int i = 0; i < 3; ++i)
        m_dc[i] = static_cast<std::uint32_t>(static_cast<std::int32_t>(e.dc_predictors[i]));
    m_dc[3] = 0;
    m_restarts_to_go = e.restarts_to_go;
    m_cinfo->marker->next_restart_num = e.next_restart & 7;
    std::size_t const offset = std::min(point.offset, point.chunk.size());
    m_hook.pub.insufficient_data = FALSE;
    m_padding = 0;
    m_bits = std::min<int>(e.bits_left, 32);
    std::uint32_t const rebuilt = rebuild_bit_buffer(point.chunk, offset);
    m_buffer = m_bits == 0 ? 0 : (m_bits == 32 ? rebuilt : rebuilt & ((std::uint32_t(1) << m_bits) - 1));
    if (e.pending_marker == kJpegDataExhausted) {
        // The data ran out before this entry: the marker that ended it lies
        // just before the position.
        m_hook.pub.insufficient_data = TRUE;
        m_bits = 0;
        m_buffer = 0;
        bool const marker_before = offset >= 2 && point.chunk[offset - 2] == 0xFF
            && point.chunk[offset - 1] != 0 && point.chunk[offset - 1] != 0xFF;
        m_marker = marker_before ? point.chunk[offset - 1] : JPEG_EOI;
    } else {
        m_marker = e.pending_marker;
    }
    m_suspended = false;
    m_next = point.chunk.data() + offset;
    m_avail = point.chunk.size() - offset;
    m_segment_start = m_next;
    m_history_size = 0;
    auto& source = *reinterpret_cast<SourceBase*>(m_cinfo->src);
    source.bytes_after_buffer = 0;
    store_source();
}

bool HuffmanDecoder::refill()
{
    // Keep the tail of the bytes read so far for walking back at a record.
    std::size_t const taken = static_cast<std::size_t>(m_next - m_segment_start);
    std::size_t const keep = std::min<std::size_t>(taken, sizeof m_history);
    std::size_t const old_keep = std::min(m_history_size, sizeof m_history - keep);
    std::memmove(m_history, m_history + m_history_size - old_keep, old_keep);
    std::memcpy(m_history + old_keep, m_next - keep, keep);
    m_history_size = old_keep + keep;

    store_source();
    m_cinfo->src->bytes_in_buffer = 0;
    if (!(*m_cinfo->src->fill_input_buffer)(m_cinfo))
        return false;
    m_next = m_cinfo->src->next_input_byte;
    m_avail = m_cinfo->src->bytes_in_buffer;
    m_segment_start = m_next;
    return m_avail > 0;
}

// Byte stuffing and markers in entropy-coded data: T.81 F.1.2.3 and B.1.1.5.
// After a marker (or when the data ran out) the buffer is padded with zero
// bits; m_padding counts them so that they never pass for data.
void HuffmanDecoder::fill_slow()
{
    while (m_bits <= 56) {
        if (m_marker != 0 || m_suspended) {
            m_buffer <<= 8;
            m_bits += 8;
            m_padding += 8;
            continue;
        }
        if (m_avail == 0 && !refill()) {
            m_suspended = true;
            continue;
        }
        unsigned c = *m_next++;
        --m_avail;
        if (c == 0xFF) {
            do {
                if (m_avail == 0 && !refill()) {
                    m_suspended = true;
                    break;
                }
                c = *m_next++;
                --m_avail;
            } while (c == 0xFF);
            if (m_suspended)
                continue;
            if (c == 0) {
                c = 0xFF;
            } else {
                m_marker = static_cast<int>(c);
                continue;
            }
        }
        m_buffer = m_buffer << 8 | c;
        m_bits += 8;
    }
}

void HuffmanDecoder::decode_blocks(JBLOCKROW* blocks)
{
    std::uint64_t buffer = m_buffer;
    int bits = m_bits;
    auto ensure = [&] {
        if (bits >= 32)
            return;
        // The common case, no 0xFF in sight, stays inline: whole words
        // when the next 8 bytes hold none, else byte by byte.
        if (m_avail >= 8 && m_marker == 0) {
            std::uint64_t word;
            std::memcpy(&word, m_next, 8);
            std::uint64_t const inverted = ~word;
            if (((inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull) == 0) {
                int const count = (63 - bits) >> 3;
                buffer = buffer << (8 * count) | __builtin_bswap64(word) >> (64 - 8 * count);
                bits += 8 * count;
                m_next += count;
                m_avail -= static_cast<std::size_t>(count);
                return;
            }
        }
        while (bits <= 56 && m_avail > 0 && *m_next != 0xFF && m_marker == 0) {
            buffer = buffer << 8 | *m_next++;
            --m_avail;
            bits += 8;
        }
        if (bits < 32) {
            m_buffer = buffer;
            m_bits = bits;
            fill_slow();
            buffer = m_buffer;
            bits = m_bits;
        }
    };
    for (int b = 0; b < m_blocks_in_mcu; ++b) {
        JCOEF* block = blocks[b][0];
        DerivedTable const& dc = *m_dc_table[b];
        DerivedTable const& ac = *m_ac_table[b];
        ensure();
        int s = decode_symbol(dc, buffer, bits);
        int diff = 0;
        if (s) {
            int const r = static_cast<int>((buffer >> (bits - s)) & ((1u << s) - 1));
            bits -= s;
            diff = extend(r, s);
        }
        std::uint32_t& predictor = m_dc[m_membership[b]];
        predictor += static_cast<std::uint32_t>(diff);
        block[0] = static_cast<JCOEF>(static_cast<std::uint16_t>(predictor));
        // T.81 F.2.2.2, Figure F.13.
        for (int k = 1; k < 64; ++k) {
            ensure();
            std::int32_t const fast = ac.fast_ac[(buffer >> (bits - 9)) & 0x1FF];
            if (fast) {
                bits -= fast & 0xFF;
                k += (fast >> 8) & 15;
                block[kNaturalOrder[k]] = static_cast<JCOEF>(fast >> 16);
                continue;
            }
            s = decode_symbol(ac, buffer, bits);
            int r = s >> 4;
            s &= 15;
            if (s) {
                k += r;
                r = static_cast<int>((buffer >> (bits - s)) & ((1u << s) - 1));
                bits -= s;
                block[kNaturalOrder[k]] = static_cast<JCOEF>(extend(r, s));
            } else {
                if (r != 15)
                    break;
                k += 15;
            }
        }
    }
    m_buffer = buffer;
    m_bits = bits;
}

bool HuffmanDecoder::process_restart()
{
    // T.81 F.2.2.4 / E.2.4: the bits left before RSTn are padding; the
    // marker reader checks the number and resynchronises the library's way.
    m_bits = 0;
    m_buffer = 0;
    m_padding = 0;
    store_source();
    if (!(*m_cinfo->marker->read_restart_marker)(m_cinfo))
        return false;
    load_source();
    m_history_size = 0;
    std::fill(std::begin(m_dc), std::end(m_dc), 0u);
    m_restarts_to_go = m_cinfo->restart_interval;
    // Right up against another marker, the next segment is empty: its
    // MCUs stay zero, as in the library.
    if (m_marker == 0)
        m_hook.pub.insufficient_data = FALSE;
    return true;
}

void HuffmanDecoder::record_entry()
{
    JpegEntry entry;
    for (int i = 0; i < 3; ++i)
        entry.dc_predictors[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(m_dc[i]));
    entry.restarts_to_go = m_restarts_to_go;
    entry.next_restart = static_cast<std::uint8_t>(m_cinfo->marker->next_restart_num & 7);
    std::size_t walked = 0;
    if (m_hook.pub.insufficient_data) {
        entry.bits_left = 0;
        entry.pending_marker = kJpegDataExhausted;
    } else {
        int const real = std::max(0, m_bits - m_padding);
        int const whole = real / 8;
        entry.bits_left = static_cast<std::uint8_t>(real % 8);
        entry.pending_marker = static_cast<std::uint8_t>(m_marker);
        if (whole > 0) {
            // Give back the whole bytes held in the buffer (and the marker
            // behind them), so that 4 bytes before the position rebuild it.
            std::uint8_t recent[sizeof m_history + 64];
            std::size_t const taken = std::min<std::size_t>(static_cast<std::size_t>(m_next - m_segment_start), 64);
            std::memcpy(recent, m_history, m_history_size);
            std::memcpy(recent + m_history_size, m_next - taken, taken);
            std::size_t const size = m_history_size + taken;
            auto const back = walk_back_data_bytes(std::span<std::uint8_t const>(recent, size), size,
                static_cast<std::size_t>(whole));
            if (!back) {
                m_recording_failed = true;
                return;
            }
            walked = *back;
            entry.pending_marker = 0;
        }
    }
    std::uint64_t const position = m_source->bytes_after_buffer + m_avail + walked;
    if (position > 0xFFFFFFFFu) {
        m_recording_failed = true;
        return;
    }
    entry.position = static_cast<std::uint32_t>(position);
    m_recorder->record(entry);
}

bool HuffmanDecoder::decode_mcu(JBLOCKROW* blocks)
{
    long long const column = m_mcu_index % m_geometry.mcus_per_row;
    if (!m_row_starts.empty() && column == 0) {
        auto const row = static_cast<std::size_t>(m_mcu_index / m_geometry.mcus_per_row);
        if (row >= m_row_starts.size())
            return false;
        restore(m_row_starts[row]);
    }
    if (m_recorder && column % m_geometry.band_mcus == 0 && !m_recording_failed)
        record_entry();
    if (m_cinfo->restart_interval) {
        if (m_restarts_to_go == 0 && !process_restart())
            return false;
    }
    if (!m_hook.pub.insufficient_data) {
        decode_blocks(blocks);
        if (m_padding > m_bits && m_marker != 0) {
            // The MCU needed bits beyond the data; the rest of the segment
            // decodes as zeros.
            WARNMS(m_cinfo, JWRN_HIT_MARKER);
            m_hook.pub.insufficient_data = TRUE;
        }
        m_padding = std::min(m_padding, m_bits);
    }
    if (m_cinfo->restart_interval)
        --m_restarts_to_go;
    store_source();
    if (m_suspended)
        return false;
    ++m_mcu_index;
    return true;
}

bool HuffmanDecoder::decode_mcus(int count, JBLOCK* blocks)
{
    JBLOCKROW rows[D_MAX_BLOCKS_IN_MCU];
    for (int m = 0; m < count; ++m) {
        JBLOCK* mcu = blocks + static_cast<std::size_t>(m) * static_cast<std::size_t>(m_blocks_in_mcu);
        std::memset(mcu, 0, sizeof(JBLOCK) * static_cast<std::size_t>(m_blocks_in_mcu));
        for (int b = 0; b < m_blocks_in_mcu; ++b)
            rows[b] = mcu + b;
        if (!decode_mcu(rows))
            return false;
    }
    return true;
}

}
