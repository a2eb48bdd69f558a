#include "imaging/JpegEncodeEntries.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qv::jpeg {

namespace {

static_assert(sizeof(JCOEF) == 2, "the nonzero mask reads coefficients as 16-bit lanes");

// The natural (row-major) index of each zigzag position.
constexpr std::array<std::uint8_t, 64> kNatural { 0, 1, 8, 16, 9, 2, 3, 10, 17, 24, 32, 25, 18, 11, 4, 5, 12, 19, 26,
    33, 40, 48, 41, 34, 27, 20, 13, 6, 7, 14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63 };

// For each byte of a block's nonzero mask in natural order, the same bits
// at their zigzag positions: eight lookups reorder a whole block's mask.
struct ZigzagBits {
    std::uint64_t of[8][256] {};

    ZigzagBits()
    {
        std::array<int, 64> zigzag {};
        for (int k = 0; k < 64; ++k)
            zigzag[kNatural[k]] = k;
        for (int part = 0; part < 8; ++part)
            for (int byte = 0; byte < 256; ++byte)
                for (int bit = 0; bit < 8; ++bit)
                    if (byte >> bit & 1)
                        of[part][byte] |= std::uint64_t { 1 } << zigzag[part * 8 + bit];
    }
};

ZigzagBits const kZigzagBits;

std::uint64_t natural_nonzero(JCOEF const* block)
{
    std::uint64_t mask = 0;
#if defined(__SSE2__)
    __m128i const zero = _mm_setzero_si128();
    for (int i = 0; i < 64; i += 16) {
        __m128i const a = _mm_loadu_si128(reinterpret_cast<__m128i const*>(block + i));
        __m128i const b = _mm_loadu_si128(reinterpret_cast<__m128i const*>(block + i + 8));
        __m128i const zeros = _mm_packs_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero));
        auto const nonzero = ~static_cast<std::uint32_t>(_mm_movemask_epi8(zeros)) & 0xFFFFu;
        mask |= std::uint64_t { nonzero } << i;
    }
#else
    for (int i = 0; i < 64; ++i)
        mask |= std::uint64_t { block[i] != 0 } << i;
#endif
    return mask;
}

std::uint64_t zigzag_nonzero(JCOEF const* block)
{
    std::uint64_t const natural = natural_nonzero(block);
    std::uint64_t mask = 0;
    for (int part = 0; part < 8; ++part)
        mask |= kZigzagBits.of[part][natural >> (part * 8) & 0xFF];
    return mask;
}

int magnitude_bits(int value)
{
    auto const magnitude = static_cast<unsigned>(value < 0 ? -value : value);
    return magnitude == 0 ? 0 : 32 - __builtin_clz(magnitude);
}

// The code length of each symbol of a table; 0 for symbols it lacks.
template<std::size_t N>
bool code_sizes(JHUFF_TBL const* table, std::array<std::uint8_t, N>& sizes)
{
    sizes.fill(0);
    if (!table)
        return false;
    int next = 0;
    for (int length = 1; length <= 16; ++length)
        for (int i = 0; i < table->bits[length]; ++i, ++next) {
            if (next >= 256)
                return false;
            if (table->huffval[next] < N)
                sizes[table->huffval[next]] = static_cast<std::uint8_t>(length);
        }
    return true;
}

// Where the stream's entropy-coded data starts: just after the header of
// its first scan.
std::optional<std::size_t> scan_data_start(std::span<std::uint8_t const> jpeg)
{
    std::size_t at = 2;
    while (at + 4 <= jpeg.size()) {
        if (jpeg[at] != 0xFF)
            return std::nullopt;
        std::uint8_t const marker = jpeg[at + 1];
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        std::size_t const length = std::size_t { jpeg[at + 2] } << 8 | jpeg[at + 3];
        if (length < 2)
            return std::nullopt;
        at += 2 + length;
        if (marker == 0xDA)
            return at <= jpeg.size() ? std::optional(at) : std::nullopt;
    }
    return std::nullopt;
}

// Walks a scan's data from its start, skipping from one 0xFF to the next:
// a data byte 0xFF is stored as FF 00, and any other byte after an FF is
// the marker that ends the scan.
class ScanWalk {
public:
    ScanWalk(std::span<std::uint8_t const> jpeg, std::size_t start)
        : m_begin(jpeg.data())
        , m_end(jpeg.data() + jpeg.size())
        , m_raw(m_begin + start)
    {
    }

    // The offset in the stream of data byte `target`, the targets asked in
    // rising order; nullopt past the end of the scan.
    std::optional<std::size_t> offset_of(std::uint64_t target)
    {
        for (;;) {
            std::uint8_t const* ff = next_ff();
            if (!ff)
                return std::nullopt;
            auto const plain = static_cast<std::uint64_t>(ff - m_raw);
            if (target < m_data + plain)
                return static_cast<std::size_t>(m_raw - m_begin) + static_cast<std::size_t>(target - m_data);
            m_data += plain;
            m_raw = ff;
            if (m_raw[1] != 0x00)
                return std::nullopt;
            if (target == m_data)
                return static_cast<std::size_t>(m_raw - m_begin);
            ++m_data;
            m_raw += 2;
        }
    }

    // The count of data bytes in the scan and the marker that ends it.
    std::optional<std::pair<std::uint64_t, std::uint8_t>> to_end()
    {
        for (;;) {
            std::uint8_t const* ff = next_ff();
            if (!ff)
                return std::nullopt;
            m_data += static_cast<std::uint64_t>(ff - m_raw);
            m_raw = ff;
            if (m_raw[1] != 0x00)
                return std::pair { m_data, m_raw[1] };
            ++m_data;
            m_raw += 2;
        }
    }

private:
    // The next FF with a byte after it, or null.
    std::uint8_t const* next_ff() const
    {
        auto const* ff = static_cast<std::uint8_t const*>(std::memchr(m_raw, 0xFF, static_cast<std::size_t>(m_end - m_raw)));
        return ff && ff + 1 < m_end ? ff : nullptr;
    }

    std::uint8_t const* m_begin;
    std::uint8_t const* m_end;
    std::uint8_t const* m_raw;
    std::uint64_t m_data { 0 }; // data bytes before m_raw
};

}

bool EncodeEntries::install(j_compress_ptr cinfo)
{
    if (m_installed || !cinfo->entropy || cinfo->progressive_mode || cinfo->arith_code || cinfo->optimize_coding
        || cinfo->restart_interval != 0 || cinfo->num_scans != 1 || cinfo->comps_in_scan < 1
        || cinfo->comps_in_scan > 3 || cinfo->comps_in_scan != cinfo->num_components || cinfo->Ss != 0
        || cinfo->Se != 63 || cinfo->Ah != 0 || cinfo->Al != 0 || cinfo->blocks_in_MCU < 1
        || cinfo->blocks_in_MCU > C_MAX_BLOCKS_IN_MCU)
        return false;
    int const mcu_width = cinfo->comps_in_scan == 1 ? 8 : 8 * cinfo->max_h_samp_factor;
    if ((mcu_width != 8 && mcu_width != 16) || cinfo->MCUs_per_row < 1)
        return false;
    for (int c = 0; c < cinfo->comps_in_scan; ++c) {
        jpeg_component_info const* component = cinfo->cur_comp_info[c];
        if (!code_sizes(cinfo->dc_huff_tbl_ptrs[component->dc_tbl_no], m_dc_sizes[c])
            || !code_sizes(cinfo->ac_huff_tbl_ptrs[component->ac_tbl_no], m_ac_sizes[c]))
            return false;
        // A run/size symbol's code and the magnitude bits after it.
        for (std::size_t symbol = 0; symbol < 256; ++symbol)
            m_ac_costs[c][symbol] = static_cast<std::uint8_t>(m_ac_sizes[c][symbol] + (symbol & 15));
    }
    m_blocks_in_mcu = cinfo->blocks_in_MCU;
    for (int b = 0; b < m_blocks_in_mcu; ++b)
        m_component_of[static_cast<std::size_t>(b)] = cinfo->MCU_membership[b];
    m_mcus_per_row = static_cast<int>(cinfo->MCUs_per_row);
    m_band_mcus = 256 / mcu_width;
    m_hook.pub = *cinfo->entropy;
    m_hook.pub.start_pass = start_pass_hook;
    m_hook.pub.encode_mcu = encode_mcu_hook;
    m_hook.pub.finish_pass = finish_pass_hook;
    m_hook.library = cinfo->entropy;
    m_hook.self = this;
    cinfo->entropy = &m_hook.pub;
    m_installed = true;
    return true;
}

// The library's own calls find their private state behind cinfo->entropy:
// it is theirs again for the length of each call.
boolean EncodeEntries::encode_mcu_hook(j_compress_ptr cinfo, JBLOCKROW* blocks)
{
    Hook& hook = *reinterpret_cast<Hook*>(cinfo->entropy);
    EncodeEntries& self = *hook.self;
    auto const column = self.m_mcu_index % static_cast<std::uint64_t>(self.m_mcus_per_row);
    if (column % static_cast<std::uint64_t>(self.m_band_mcus) == 0) {
        Mark mark { self.m_bits, {} };
        for (std::size_t c = 0; c < 3; ++c)
            mark.dc[c] = static_cast<std::int16_t>(self.m_dc[c]);
        self.m_marks.push_back(mark);
    }
    for (int b = 0; b < self.m_blocks_in_mcu; ++b)
        self.m_bits += self.block_bits(blocks[b][0], self.m_component_of[static_cast<std::size_t>(b)]);
    ++self.m_mcu_index;
    cinfo->entropy = hook.library;
    boolean const done = hook.library->encode_mcu(cinfo, blocks);
    cinfo->entropy = &hook.pub;
    // A suspended MCU would be offered again and counted twice.
    self.m_failed = self.m_failed || !done;
    return done;
}

// A second pass over the data (which the checks at install rule out) would
// make the counts meaningless.
void EncodeEntries::start_pass_hook(j_compress_ptr cinfo, boolean gather_statistics)
{
    Hook& hook = *reinterpret_cast<Hook*>(cinfo->entropy);
    hook.self->m_failed = true;
    cinfo->entropy = hook.library;
    hook.library->start_pass(cinfo, gather_statistics);
    cinfo->entropy = &hook.pub;
}

void EncodeEntries::finish_pass_hook(j_compress_ptr cinfo)
{
    Hook& hook = *reinterpret_cast<Hook*>(cinfo->entropy);
    cinfo->entropy = hook.library;
    hook.library->finish_pass(cinfo);
    cinfo->entropy = &hook.pub;
}

// The bits the sequential Huffman encoder writes for one block: the DC
// difference's category code and magnitude, then each nonzero AC
// coefficient's run/size code and magnitude, a ZRL for every 16 zeros
// before one, and an EOB unless the last coefficient is nonzero.
std::uint32_t EncodeEntries::block_bits(JCOEF const* block, int component)
{
    auto const& dc_sizes = m_dc_sizes[static_cast<std::size_t>(component)];
    auto const& ac_sizes = m_ac_sizes[static_cast<std::size_t>(component)];
    int const dc_bits = magnitude_bits(block[0] - m_dc[static_cast<std::size_t>(component)]);
    m_dc[static_cast<std::size_t>(component)] = block[0];
    if (dc_bits > 11) {
        m_failed = true;
        return 0;
    }
    std::uint32_t bits = dc_sizes[static_cast<std::size_t>(dc_bits)] + static_cast<std::uint32_t>(dc_bits);
    std::uint64_t nonzero = zigzag_nonzero(block) & ~std::uint64_t { 1 };
    int previous = 0;
    while (nonzero) {
        int const k = __builtin_ctzll(nonzero);
        nonzero &= nonzero - 1;
        int run = k - previous - 1;
        previous = k;
        if (run > 15) {
            bits += static_cast<std::uint32_t>(run >> 4) * ac_sizes[0xF0];
            run &= 15;
        }
        int const value = block[kNatural[static_cast<std::size_t>(k)]];
        auto const magnitude = static_cast<unsigned>(value < 0 ? -value : value);
        // Eight-bit samples give AC magnitudes of at most 10 bits.
        int const size = 32 - __builtin_clz(magnitude);
        bits += m_ac_costs[static_cast<std::size_t>(component)][static_cast<std::size_t>(run << 4 | (size & 15))];
    }
    if (previous != 63)
        bits += ac_sizes[0];
    return bits;
}

std::optional<std::vector<JpegEntry>> EncodeEntries::entries(std::span<std::uint8_t const> jpeg) const
{
    if (!m_installed || m_failed || jpeg.size() > 0xFFFFFFFFu)
        return std::nullopt;
    auto const start = scan_data_start(jpeg);
    if (!start)
        return std::nullopt;
    ScanWalk walk(jpeg, *start);
    std::vector<JpegEntry> entries;
    entries.reserve(m_marks.size());
    for (auto const& mark : m_marks) {
        // The decoder's state before the MCU: the byte holding its first
        // bit read, with the bits of it not yet used, when the MCU starts
        // inside a byte.
        std::uint64_t const next = (mark.bit + 7) / 8;
        auto const offset = walk.offset_of(next);
        if (!offset)
            return std::nullopt;
        JpegEntry entry;
        entry.dc_predictors = mark.dc;
        entry.bits_left = static_cast<std::uint8_t>(next * 8 - mark.bit);
        entry.position = static_cast<std::uint32_t>(jpeg.size() - *offset);
        entries.push_back(entry);
    }
    // The data to the end of the scan must be the count, padded to a byte,
    // and the scan the picture's last.
    auto const end = walk.to_end();
    if (!end || end->first != (m_bits + 7) / 8 || end->second != 0xD9)
        return std::nullopt;
    return entries;
}

}
