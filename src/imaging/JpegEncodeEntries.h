#pragma once

// The entry points of a JPEG taken while the library encodes it, so that a
// copy made from decoded pixels needs no second, decoding pass to find
// them. Installed into a started compressor in front of the library's
// Huffman encoder: it sees every MCU's quantized blocks on their way in,
// keeps the DC predictors and counts the bits each block will take (ITU
// T.81 Annex F.1.2); the finished stream then turns the bit counts into
// byte positions. The count must match the stream's length to the byte, or
// no entries are given. Internal to the JPEG adapter.

#include "imaging/JpegEntry.h"
#include "imaging/JpegLibrary.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace qv::jpeg {

class EncodeEntries {
public:
    // Takes over the encoder of a compressor after jpeg_start_compress;
    // false (and nothing installed) for a scan the entries cannot describe:
    // more than one scan, restarts, optimised or arithmetic coding.
    bool install(j_compress_ptr cinfo);

    // The entries of the finished stream, `jpeg` being all of it; nullopt
    // when nothing was installed or the counts do not match the stream.
    std::optional<std::vector<JpegEntry>> entries(std::span<std::uint8_t const> jpeg) const;

private:
    struct Hook {
        jpeg_entropy_encoder pub;
        jpeg_entropy_encoder* library { nullptr };
        EncodeEntries* self { nullptr };
    };
    struct Mark {
        std::uint64_t bit { 0 };
        std::array<std::int16_t, 3> dc {};
    };

    static boolean encode_mcu_hook(j_compress_ptr cinfo, JBLOCKROW* blocks);
    static void start_pass_hook(j_compress_ptr cinfo, boolean gather_statistics);
    static void finish_pass_hook(j_compress_ptr cinfo);
    std::uint32_t block_bits(JCOEF const* block, int component);

    Hook m_hook {};
    bool m_installed { false };
    bool m_failed { false };
    int m_blocks_in_mcu { 0 };
    std::array<int, C_MAX_BLOCKS_IN_MCU> m_component_of {};
    std::array<std::array<std::uint8_t, 16>, 3> m_dc_sizes {};
    std::array<std::array<std::uint8_t, 256>, 3> m_ac_sizes {};
    std::array<std::array<std::uint8_t, 256>, 3> m_ac_costs {};
    std::array<int, 3> m_dc {};
    int m_mcus_per_row { 0 };
    int m_band_mcus { 0 };
    std::uint64_t m_mcu_index { 0 };
    std::uint64_t m_bits { 0 };
    std::vector<Mark> m_marks;
};

}
