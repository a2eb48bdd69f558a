// Resuming from an arbitrary 17-byte entry over arbitrary bytes, behind
// the headers of real pictures, both as a band of coefficients and as a
// tile whose entry table is made of the input.
//
// Input: 1 byte choosing the header and the mode, 1 byte MCU count or tile,
// 17 bytes of entry, then the chunk (which also serves as the stream).

#include "imaging/JpegCodec.h"
#include "imaging/JpegEntry.h"
#include "imaging/JpegTile.h"

#include "base/FileStream.h"
#include "core/WString.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// The headers of a few small pictures from the program's own encoder:
// 4:2:0 as written, then with 4:4:4 sampling and with restart intervals
// patched in (the tables stay valid for all of them).
std::vector<std::vector<std::uint8_t>> make_prefixes()
{
    auto const path = std::filesystem::temp_directory_path()
        / ("fuzz_jpeg_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".jpg");
    auto const name = qv::from_utf8(path.string());
    int const w = 530;
    int const h = 300;
    auto encoder = qv::JpegEncoder::open(name, w, h);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(w) * 3);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w * 3; ++x)
            row[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(x * 7 + y * 3);
        encoder->write_row(row);
    }
    encoder->finish();
    qv::FileStream file(name, qv::OpenMode::Read);
    std::vector<std::uint8_t> bytes(file.size());
    file.read(bytes.data(), bytes.size());
    file.close();
    std::filesystem::remove(path);

    std::vector<std::uint8_t> base;
    std::size_t sof = 0;
    std::size_t at = 2;
    while (at + 4 <= bytes.size()) {
        int const marker = bytes[at + 1];
        std::size_t const length = static_cast<std::size_t>(bytes[at + 2] << 8 | bytes[at + 3]);
        if (marker == 0xC0)
            sof = at;
        at += 2 + length;
        if (marker == 0xDA)
            break;
    }
    base.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    std::vector<std::vector<std::uint8_t>> out { base };
    auto full = base;
    full[sof + 11] = 0x11;   // luma sampling factors of the first component
    out.push_back(full);
    for (int interval : { 1, 5 }) {
        auto restart = base;
        std::vector<std::uint8_t> const dri { 0xFF, 0xDD, 0x00, 0x04, 0x00, static_cast<std::uint8_t>(interval) };
        restart.insert(restart.begin() + 2, dri.begin(), dri.end());
        out.push_back(restart);
    }
    return out;
}

}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    static auto const prefixes = make_prefixes();
    if (size < 19)
        return 0;
    auto const& prefix = prefixes[data[0] % prefixes.size()];
    bool const tile_mode = data[0] & 0x80;
    qv::JpegEntry const entry = qv::parse_entry(std::span<std::uint8_t const, 17>(data + 2, 17));
    std::span<std::uint8_t const> const chunk(data + 19, size - 19);
    if (!tile_mode) {
        int const count = data[1] % 40;
        std::size_t const offset = chunk.empty() ? 0 : data[1] % (chunk.size() + 1) % 7;
        (void)qv::decode_band_coefficients(prefix, chunk, offset, entry, count);
        return 0;
    }
    // A table of the right length whose every entry is the input's.
    auto decoder = qv::JpegTileDecoder::create(prefix, std::vector<qv::JpegEntry>(), qv::memory_stream_bytes(chunk));
    if (decoder)
        std::abort();   // an empty table never describes a picture
    std::size_t const entries_needed = 3 * 19;   // 530 x 300 in 16 x 16 MCUs: 3 bands, 19 rows
    std::size_t const entries_444 = 3 * 38;      // 8 x 8 MCUs: 3 bands of 32, 38 rows
    std::size_t const count = (data[0] % prefixes.size()) == 1 ? entries_444 : entries_needed;
    std::vector<qv::JpegEntry> entries(count, entry);
    decoder = qv::JpegTileDecoder::create(prefix, entries, qv::memory_stream_bytes(chunk));
    if (!decoder)
        std::abort();
    (void)decoder->decode_tile_rgb(data[1] % 3, (data[1] >> 2) % 2);
    return 0;
}
