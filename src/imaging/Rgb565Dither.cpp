#include "imaging/Rgb565Dither.h"

#if defined(__x86_64__) && defined(__SSE2__)
#define QV_DITHER_VECTOR 1
#include <immintrin.h>
#endif

namespace qv {

namespace {

// Eight pixels at a time against the row's eight thresholds, which start at
// the first pixel's column: a fixed trip count over plain arrays, which the
// compiler turns into vector code. Also the tail of the vector rows below.
template<int Bytes>
void dither_row(std::uint8_t const* __restrict pixels, std::size_t count, std::uint16_t* __restrict out, int x, int y)
{
    std::uint32_t t[8];
    for (int i = 0; i < 8; ++i)
        t[i] = dither_threshold(x + i, y);
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8, pixels += 8 * Bytes) {
        for (int k = 0; k < 8; ++k) {
            std::uint32_t const r = pixels[Bytes * k], g = pixels[Bytes * k + 1], b = pixels[Bytes * k + 2];
            out[i + k] = static_cast<std::uint16_t>(dither_channel(r, 31, t[k]) << 11 | dither_channel(g, 63, t[k]) << 5
                | dither_channel(b, 31, t[k]));
        }
    }
    for (int k = 0; i < count; ++i, ++k, pixels += Bytes)
        out[i] = static_cast<std::uint16_t>(dither_channel(pixels[0], 31, t[k]) << 11
            | dither_channel(pixels[1], 63, t[k]) << 5 | dither_channel(pixels[2], 31, t[k]));
}

#if defined(QV_DITHER_VECTOR)

// The vector rows work in 16-bit lanes. With m = value x steps and the
// threshold t = (2 index + 1) x 512,
//     (value x steps x 257 + t) >> 16  ==  (m + (m >> 8) + (t >> 8)) >> 8
// for every value, step count and index: 257 m = 256 m + m, and t is a
// multiple of 256, so the low byte dropped on the right can never carry
// into the result. The sums stay below 2^14, so nothing overflows.

// A row's thresholds as the 16-bit lanes add them, for `lanes` columns
// from x (they repeat every eight).
template<typename Fill>
void row_thresholds(int x, int y, int lanes, Fill fill)
{
    for (int k = 0; k < lanes; ++k)
        fill(k, static_cast<short>(dither_threshold(x + k, y) >> 8));
}

// Eight pixels whose channels are in 16-bit lanes.
inline __m128i dither8(__m128i r, __m128i g, __m128i b, __m128i t)
{
    auto const level = [t](__m128i v, short steps) {
        __m128i const m = _mm_mullo_epi16(v, _mm_set1_epi16(steps));
        return _mm_add_epi16(_mm_add_epi16(m, _mm_srli_epi16(m, 8)), t);
    };
    // Each level is its sum's bits 8 and up, shifted straight into place.
    __m128i const red = _mm_and_si128(_mm_slli_epi16(level(r, 31), 3), _mm_set1_epi16(static_cast<short>(0xF800)));
    __m128i const green = _mm_and_si128(_mm_srli_epi16(level(g, 63), 3), _mm_set1_epi16(0x07E0));
    __m128i const blue = _mm_srli_epi16(level(b, 31), 8);
    return _mm_or_si128(_mm_or_si128(red, green), blue);
}

// Eight R, G, B, X pixels, four in each 32-bit-lane vector.
inline __m128i dither8_rgbx(__m128i first, __m128i second, __m128i t)
{
    __m128i const byte = _mm_set1_epi32(0xFF);
    auto const channel = [&](int shift) {
        return _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(first, shift), byte),
            _mm_and_si128(_mm_srli_epi32(second, shift), byte));
    };
    return dither8(channel(0), channel(8), channel(16), t);
}

void dither_rgbx_sse2(std::uint8_t const* pixels, std::size_t count, std::uint16_t* out, int x, int y)
{
    alignas(16) short lanes[8];
    row_thresholds(x, y, 8, [&](int k, short v) { lanes[k] = v; });
    __m128i const t = _mm_load_si128(reinterpret_cast<__m128i const*>(lanes));
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        auto const* in = reinterpret_cast<__m128i const*>(pixels + 4 * i);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
            dither8_rgbx(_mm_loadu_si128(in), _mm_loadu_si128(in + 1), t));
    }
    dither_row<4>(pixels + 4 * i, count - i, out + i, x + static_cast<int>(i), y);
}

#define QV_AVX2 __attribute__((target("avx2")))

QV_AVX2 inline __m256i dither16(__m256i r, __m256i g, __m256i b, __m256i t)
{
    auto const level = [t](__m256i v, short steps) QV_AVX2 {
        __m256i const m = _mm256_mullo_epi16(v, _mm256_set1_epi16(steps));
        return _mm256_add_epi16(_mm256_add_epi16(m, _mm256_srli_epi16(m, 8)), t);
    };
    __m256i const red
        = _mm256_and_si256(_mm256_slli_epi16(level(r, 31), 3), _mm256_set1_epi16(static_cast<short>(0xF800)));
    __m256i const green = _mm256_and_si256(_mm256_srli_epi16(level(g, 63), 3), _mm256_set1_epi16(0x07E0));
    __m256i const blue = _mm256_srli_epi16(level(b, 31), 8);
    return _mm256_or_si256(_mm256_or_si256(red, green), blue);
}

// Sixteen R, G, B, X pixels, eight in each 32-bit-lane vector. The packs
// work within 128-bit halves; the permute puts the pixels back in order.
QV_AVX2 inline __m256i dither16_rgbx(__m256i first, __m256i second, __m256i t)
{
    __m256i const byte = _mm256_set1_epi32(0xFF);
    auto const channel = [&](int shift) QV_AVX2 {
        __m256i const packed = _mm256_packs_epi32(_mm256_and_si256(_mm256_srl_epi32(first, _mm_cvtsi32_si128(shift)), byte),
            _mm256_and_si256(_mm256_srl_epi32(second, _mm_cvtsi32_si128(shift)), byte));
        return _mm256_permute4x64_epi64(packed, _MM_SHUFFLE(3, 1, 2, 0));
    };
    return dither16(channel(0), channel(8), channel(16), t);
}

// Eight R, G, B pixels (24 bytes from `from`) as R, G, B, X lanes: four
// from each half, which reads 28 bytes.
QV_AVX2 inline __m256i rgb_to_rgbx8(std::uint8_t const* from)
{
    __m256i const bytes = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<__m128i const*>(from))),
        _mm_loadu_si128(reinterpret_cast<__m128i const*>(from + 12)), 1);
    __m256i const spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0, 1, 2, -1, 3, 4, 5,
        -1, 6, 7, 8, -1, 9, 10, 11, -1);
    return _mm256_shuffle_epi8(bytes, spread);
}

QV_AVX2 void dither_row_avx2(std::uint8_t const* pixels, std::size_t count, int bytes_per_pixel, std::uint16_t* out,
    int x, int y)
{
    alignas(32) short lanes[16];
    row_thresholds(x, y, 16, [&](int k, short v) { lanes[k] = v; });
    __m256i const t = _mm256_load_si256(reinterpret_cast<__m256i const*>(lanes));
    std::size_t i = 0;
    if (bytes_per_pixel == 4) {
        for (; i + 16 <= count; i += 16) {
            auto const* in = reinterpret_cast<__m256i const*>(pixels + 4 * i);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                dither16_rgbx(_mm256_loadu_si256(in), _mm256_loadu_si256(in + 1), t));
        }
        dither_rgbx_sse2(pixels + 4 * i, count - i, out + i, x + static_cast<int>(i), y);
        return;
    }
    // Sixteen pixels read 52 bytes of the 48 they own: two more pixels
    // must follow in the row.
    for (; i + 18 <= count; i += 16) {
        std::uint8_t const* in = pixels + 3 * i;
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
            dither16_rgbx(rgb_to_rgbx8(in), rgb_to_rgbx8(in + 24), t));
    }
    dither_row<3>(pixels + 3 * i, count - i, out + i, x + static_cast<int>(i), y);
}

bool have_avx2()
{
    static bool const yes = __builtin_cpu_supports("avx2");
    return yes;
}

#endif

}

void dither_row_to_rgb565(std::uint8_t const* pixels, std::size_t count, int bytes_per_pixel, std::uint16_t* out,
    int x, int y)
{
#if defined(QV_DITHER_VECTOR)
    if (have_avx2()) {
        dither_row_avx2(pixels, count, bytes_per_pixel, out, x, y);
        return;
    }
    if (bytes_per_pixel == 4) {
        dither_rgbx_sse2(pixels, count, out, x, y);
        return;
    }
#endif
    if (bytes_per_pixel == 4)
        dither_row<4>(pixels, count, out, x, y);
    else
        dither_row<3>(pixels, count, out, x, y);
}

}
