#pragma once

// The program's own sequential Huffman decoder (ITU T.81 Annex F.2.2),
// installed into a started decompressor in place of the library's. The
// library keeps doing everything else; this decoder adds what the cache
// needs: an entry point captured before the first MCU of every 256-pixel
// band, and decoding resumed from such an entry over a chunk of bytes.
// Internal to the JPEG adapter.

#include "imaging/JpegEntry.h"
#include "imaging/JpegLibrary.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace qv::jpeg {

// The MCU grid of a started decompressor's scan. Entry tables and tiles
// are laid out on it.
struct ScanGeometry {
    int mcu_width { 0 };     // pixels, 8 or 16
    int mcu_height { 0 };
    int mcus_per_row { 0 };
    int mcu_rows { 0 };
    int band_mcus { 0 };     // MCUs in one 256-pixel band
    int bands_per_row { 0 };
};

// The geometry of a scan this decoder can take over, or nullopt for
// multi-scan, arithmetic-coded, lossless or more-than-three-component
// pictures and MCUs that do not tile a 256-pixel band.
std::optional<ScanGeometry> entry_geometry(j_decompress_ptr cinfo);

class EntryRecorder {
public:
    virtual ~EntryRecorder() = default;
    virtual void record(JpegEntry const& entry) = 0;
};

// Where decoding resumes: an entry and the chunk of the stream it lies in.
struct ResumePoint {
    JpegEntry entry;
    std::span<std::uint8_t const> chunk;
    std::size_t offset { 0 };   // of the entry's position within the chunk
};

struct DerivedTable {
    std::uint16_t lookahead[512];   // (length << 8) | value for codes of at most 9 bits
    // AC codes whose code and magnitude bits together fit in 9 bits, decoded
    // in one look: coefficient << 16 | run << 8 | bits used; 0 otherwise.
    std::int32_t fast_ac[512];
    std::int32_t max_code[18];      // largest code of each length, -1 when none
    std::int32_t value_offset[18];
    std::uint8_t values[256];
};

class HuffmanDecoder {
public:
    // Call after jpeg_start_decompress with entry_geometry() known to exist.
    // Replaces cinfo->entropy; the decoder must outlive every later call
    // into the decompressor. False (and nothing installed) on bad tables.
    bool install(j_decompress_ptr cinfo, ScanGeometry const& geometry);

    // Recording: the recorder sees an entry before every band's first MCU.
    void set_recorder(EntryRecorder* recorder, SourceBase* source);
    // Tiles: MCU row i of the decompressor's frame starts at rows[i].
    void set_row_starts(std::span<ResumePoint const> rows) { m_row_starts = rows; }
    // Bands: restore one entry now (the source must be a ChunkSource).
    void restore(ResumePoint const& point);
    // Decodes MCUs straight into `blocks` (count × blocks per MCU), without
    // the library's coefficient controller. False on suspension.
    bool decode_mcus(int count, JBLOCK* blocks);

    // A recording that could not be made (a stream position beyond 32 bits
    // or an entry that cannot be walked back to).
    bool recording_failed() const { return m_recording_failed; }
    int blocks_in_mcu() const { return m_blocks_in_mcu; }

private:
    struct Hook {
        jpeg_entropy_decoder pub;
        HuffmanDecoder* owner;
    };

    static void start_pass(j_decompress_ptr cinfo);
    static boolean decode_mcu_hook(j_decompress_ptr cinfo, JBLOCKROW* blocks);

    bool derive(int table_class, int slot, JHUFF_TBL const* table);
    bool decode_mcu(JBLOCKROW* blocks);
    void decode_blocks(JBLOCKROW* blocks);
    bool process_restart();
    void fill_slow();
    bool refill();
    void record_entry();
    void load_source();
    void store_source();

    Hook m_hook {};
    j_decompress_ptr m_cinfo { nullptr };
    ScanGeometry m_geometry;
    DerivedTable m_tables[2][NUM_HUFF_TBLS] {};
    // What each table was derived from: a decoder installed again (the
    // next tile of a level) derives only tables that changed.
    JHUFF_TBL m_table_sources[2][NUM_HUFF_TBLS] {};
    bool m_table_derived[2][NUM_HUFF_TBLS] {};
    DerivedTable const* m_dc_table[D_MAX_BLOCKS_IN_MCU] {};
    DerivedTable const* m_ac_table[D_MAX_BLOCKS_IN_MCU] {};
    int m_membership[D_MAX_BLOCKS_IN_MCU] {};
    int m_blocks_in_mcu { 0 };

    // Entropy state: exactly what an entry holds, plus the bytes read
    // ahead into the bit buffer.
    std::uint32_t m_dc[4] {};
    std::uint64_t m_buffer { 0 };   // right-aligned: the next bit is bit (m_bits - 1)
    int m_bits { 0 };
    int m_padding { 0 };            // zero bits at the buffer's end after a marker
    int m_marker { 0 };
    std::uint32_t m_restarts_to_go { 0 };
    bool m_suspended { false };

    std::uint8_t const* m_next { nullptr };
    std::size_t m_avail { 0 };

    // Enough of the bytes already taken into the bit buffer to walk back
    // over them when an entry is recorded.
    std::uint8_t const* m_segment_start { nullptr };
    std::uint8_t m_history[64] {};
    std::size_t m_history_size { 0 };

    long long m_mcu_index { 0 };
    EntryRecorder* m_recorder { nullptr };
    SourceBase* m_source { nullptr };
    bool m_recording_failed { false };
    std::span<ResumePoint const> m_row_starts;
};

}
