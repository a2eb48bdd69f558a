#pragma once

// The JPEG codec adapter: every JPEG decode and encode of the program. A
// broken or truncated picture is a failed operation (a false or a null
// result), never a stopped process.

#include "core/WString.h"
#include "imaging/JpegEntry.h"
#include "imaging/PictureProblem.h"
#include "imaging/PixelBuffer.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace qv {

// What a picture's headers say, read without decoding any scan.
struct JpegInfo {
    int width { 0 };
    int height { 0 };
    int components { 0 };
    // One interleaved Huffman scan with MCUs the entry points can describe:
    // the file itself is the full-size stream of its cache.
    bool direct { false };
    // The coefficients can be written as such a stream as they are
    // (progressive, arithmetic and multi-scan pictures of one or three
    // components with ordinary sampling).
    bool transcodable { false };
    int orientation { 1 }; // Exif, 1 to 8
    // What the library holds to read the whole picture as coefficients.
    std::uint64_t coefficient_bytes { 0 };
    // The embedded colour profile (APP2), empty when there is none.
    std::vector<std::uint8_t> icc;
};

struct JpegProbe {
    PictureProblem problem { PictureProblem::None };
    JpegInfo info; // meaningful when there is no problem
};

JpegProbe probe_jpeg(WStringView path);
JpegProbe probe_jpeg(std::span<std::uint8_t const> bytes);

// The headers, then a decode at 1/8 scale, which reads every byte of the
// data: what probe_jpeg cannot see, a picture cut inside its data, shows here.
PictureProblem diagnose_picture(WStringView path);

// Writes the picture's own coefficients again as one interleaved scan with
// standard Huffman tables and no restart markers, as a stream the entry
// points can describe; it decodes to exactly the picture's pixels. For
// pictures whose probe says `transcodable`; holds info.coefficient_bytes.
PictureProblem transcode_sequential(WStringView picture, WStringView out);

class SrgbConversion;

// Decodes the picture (any colour space the library reads, four-component
// CMYK and YCCK too) and writes it as an RGB picture at high quality with
// full chroma: for pictures whose coefficients cannot be kept, or whose
// colours are converted (`conversion`, when given) on the way.
PictureProblem reencode_rgb(WStringView picture, WStringView out, SrgbConversion const* conversion = nullptr);

// Reads a picture one row of R, G, B bytes at a time, at full size.
// One-component pictures are delivered as RGB too. Chroma is upsampled by
// replication, the same in every decode of the program, so tiles decoded
// from entry points match whole decodes pixel for pixel.
class JpegReader {
public:
    // The picture file through the file source (decode_full).
    static std::unique_ptr<JpegReader> open_file(WStringView path);
    // The same reduced by the library's DCT scaling to 1 / denominator.
    static std::unique_ptr<JpegReader> open_file(WStringView path, int denominator);
    // A picture already in memory; `bytes` must outlive the reader.
    static std::unique_ptr<JpegReader> open_memory(std::span<std::uint8_t const> bytes);
    // The recording read (decode_recording): rows as open_file gives them,
    // and the 17-byte entry of every 256-pixel band start appended to
    // `entry_file`. Null for pictures the entry points cannot describe
    // (several scans, arithmetic coding, four components, MCUs other than
    // 8 or 16 pixels).
    static std::unique_ptr<JpegReader> open_recording(WStringView path, WStringView entry_file);
    // The same with the rows reduced by the library's DCT scaling to
    // 1 / denominator (1, 2, 4 or 8): the entries do not depend on it, so a
    // pass that records them can make the next, halved level at once.
    static std::unique_ptr<JpegReader> open_recording(WStringView path, WStringView entry_file, int denominator);
    // The same over bytes in memory, entries appended to `entries`.
    static std::unique_ptr<JpegReader> open_recording(std::span<std::uint8_t const> bytes,
        std::vector<std::uint8_t>& entries);
    // Bytes in memory (which must outlive the reader), entries appended to
    // `entry_file`, rows scaled as above.
    static std::unique_ptr<JpegReader> open_recording(std::span<std::uint8_t const> bytes, WStringView entry_file,
        int denominator);

    ~JpegReader();
    JpegReader(JpegReader const&) = delete;
    JpegReader& operator=(JpegReader const&) = delete;

    int width() const;  // of the rows delivered
    int height() const;
    int source_width() const; // of the picture itself, before any scaling
    int source_height() const;
    int rows_read() const;
    // Fills `rgb` (width() × 3 bytes) with the next row. False when the data
    // is broken or ran out, or when every row has been read; the reader is
    // unusable after a failure.
    bool read_row(std::span<std::uint8_t> rgb);
    // Bytes appended to the entry file or vector so far (17 per entry).
    std::uint32_t appended_bytes() const;

    struct Impl;

private:
    explicit JpegReader(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

// The picture reduced by the library's DCT scaling to 1 / denominator
// (1, 2, 4 or 8), in RGB565 dithered by the pixels' places in the reduced
// picture (Rgb565Dither.h), as the viewer's tiles are. Null on any failure and for other denominators.
// `problem` (when given) says why on failure.
std::unique_ptr<PixelBuffer> decode_scaled(WStringView path, int denominator, PictureProblem* problem = nullptr);

// How decoded rows become RGB565: exactly (dropping the low bits), or
// dithered by the pixels' places in the decoded picture (Rgb565Dither.h).
enum class Rgb565Packing { Exact, Dithered };

// A picture held in memory, at full size: the cache files' thumbnails,
// packed exactly (no dither on a 64 × 64 thumbnail), or a level, dithered
// as the viewer's tiles of it are.
std::unique_ptr<PixelBuffer> decode_memory(std::span<std::uint8_t const> bytes,
    Rgb565Packing packing = Rgb565Packing::Exact);

// R, G, B bytes to RGB565 by dropping the low bits, no dithering.
void convert_rgb_to_rgb565(std::span<std::uint8_t const> rgb, std::uint16_t* out);

// Writes a picture from rows of R, G, B bytes: by default quality 75 and
// the library's defaults (YCbCr, 2 × 2 chroma subsampling, standard
// tables), all tables written.
class JpegEncoder {
public:
    // Null when the file cannot be created or the size is not encodable.
    static std::unique_ptr<JpegEncoder> open(WStringView path, int width, int height, int quality = 75,
        bool full_chroma = false);
    // The same appended to `out`, which must outlive the encoder.
    static std::unique_ptr<JpegEncoder> open_memory(std::vector<std::uint8_t>& out, int width, int height);
    // The full-size copy of a picture decoded whole: quality 95, full
    // chroma, in `out`, its entry points counted as it is encoded.
    static std::unique_ptr<JpegEncoder> open_copy(std::vector<std::uint8_t>& out, int width, int height);
    ~JpegEncoder();
    JpegEncoder(JpegEncoder const&) = delete;
    JpegEncoder& operator=(JpegEncoder const&) = delete;

    // `rgb` holds width × 3 bytes. False after any failure.
    bool write_row(std::span<std::uint8_t const> rgb);
    // Completes and closes the file (or the bytes); false when it was not
    // all written.
    bool finish();
    // After finish, a copy's entry points; nullopt for other encoders and
    // when they could not be counted.
    std::optional<std::vector<JpegEntry>> entries() const;

    struct Impl;

private:
    explicit JpegEncoder(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

}
