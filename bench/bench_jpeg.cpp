// The JPEG adapter's decodes against the library's own decode of the same
// 24-megapixel 4:2:0 picture, which this program makes first.
//
// floor:     the library's decode (its own Huffman decoder), every row
// recording: the recording read (own Huffman decoder, entries captured)
// tile:      one interior 256 x 256 tile decoded from entry points

#include "imaging/JpegCodec.h"
#include "imaging/JpegEntry.h"
#include "imaging/JpegTile.h"

#include "base/FileStream.h"
#include "core/WString.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

struct Picture {
    std::vector<std::uint8_t> bytes;
    std::vector<qv::JpegEntry> entries;
    std::vector<std::uint8_t> prefix;
};

// Smooth gradients with a little noise and some edges, roughly the
// compressed size of a photograph at quality 75.
std::vector<std::uint8_t> make_picture_bytes()
{
    auto const path = std::filesystem::temp_directory_path() / ("bench_jpeg_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".jpg");
    auto const name = qv::from_utf8(path.string());
    auto encoder = qv::JpegEncoder::open(name, kWidth, kHeight);
    if (!encoder)
        std::abort();
    std::vector<std::uint8_t> row(static_cast<std::size_t>(kWidth) * 3);
    std::uint32_t seed = 7;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            seed = seed * 1103515245u + 12345u;
            int const noise = static_cast<int>((seed >> 16) & 15) - 8;
            bool const edge = ((x / 97 + y / 61) % 5) == 0;
            auto clamp = [](int v) { return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
            row[3 * x] = clamp(x * 255 / kWidth + noise);
            row[3 * x + 1] = clamp((edge ? 200 : y * 255 / kHeight) + noise);
            row[3 * x + 2] = clamp(128 + ((x ^ y) & 63) + noise);
        }
        if (!encoder->write_row(row))
            std::abort();
    }
    if (!encoder->finish())
        std::abort();
    qv::FileStream file(name, qv::OpenMode::Read);
    std::vector<std::uint8_t> bytes(file.size());
    file.read(bytes.data(), bytes.size());
    file.close();
    std::filesystem::remove(path);
    return bytes;
}

Picture const& picture()
{
    static Picture const made = [] {
        Picture p;
        p.bytes = make_picture_bytes();
        std::vector<std::uint8_t> table;
        auto reader = qv::JpegReader::open_recording(p.bytes, table);
        std::vector<std::uint8_t> row(static_cast<std::size_t>(kWidth) * 3);
        while (reader && reader->read_row(row)) { }
        if (!reader || reader->rows_read() != kHeight)
            std::abort();
        p.entries = *qv::parse_entry_table(table);
        p.prefix.assign(p.bytes.begin(), p.bytes.end() - p.entries.front().position);
        return p;
    }();
    return made;
}

void decode_all(qv::JpegReader& reader, benchmark::State& state)
{
    std::vector<std::uint8_t> row(static_cast<std::size_t>(reader.width()) * 3);
    while (reader.read_row(row))
        benchmark::DoNotOptimize(row.data());
    if (reader.rows_read() != reader.height())
        state.SkipWithError("decode failed");
}

void BM_floor(benchmark::State& state)
{
    auto const& p = picture();
    for (auto _ : state) {
        auto reader = qv::JpegReader::open_memory(p.bytes);
        decode_all(*reader, state);
    }
}

void BM_recording(benchmark::State& state)
{
    auto const& p = picture();
    std::vector<std::uint8_t> table;
    for (auto _ : state) {
        table.clear();
        auto reader = qv::JpegReader::open_recording(p.bytes, table);
        decode_all(*reader, state);
    }
}

void BM_tile(benchmark::State& state)
{
    auto const& p = picture();
    auto decoder = qv::JpegTileDecoder::create(p.prefix, p.entries, qv::memory_stream_bytes(p.bytes));
    if (!decoder) {
        state.SkipWithError("no tile decoder");
        return;
    }
    // As the viewer does it: into a 256 x 256 RGB565 buffer.
    auto buffer = qv::PixelBuffer::create(256, 256);
    for (auto _ : state) {
        if (!decoder->decode_tile(11, 7, *buffer))
            state.SkipWithError("tile failed");
        benchmark::DoNotOptimize(buffer->pixels());
    }
}

}

BENCHMARK(BM_floor)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_recording)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_tile)->Unit(benchmark::kMicrosecond)->MinTime(1.0);

BENCHMARK_MAIN();
