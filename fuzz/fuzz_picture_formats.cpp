// Arbitrary bytes as a picture of any format, through the seam every
// reader of the program asks (all in memory, no file):
//
//  - the sniff and the probe agree: a probe that passes names the format
//    the sniff saw (a TIFF may turn out a camera RAW, which only the whole
//    file tells), and bytes the sniff knows nothing of are no picture;
//  - a picture the probe passes and that is small is decoded whole through
//    its format's library; a decode that succeeds gives exactly the upright
//    size the probe announced, three bytes a pixel. Tiles made before a
//    picture has its cache are laid out by the probe's size: a decode of
//    another size is a picture that probes well and then shows nothing.
//
// Larger pictures are only probed: their decode would spend the fuzzer's
// time on pixels of empty data rather than on headers and chunk layouts.
// Run with a -max_len of a few tens of kilobytes (fuzz/run does), so that
// the seeds of every format fit.

#include "imaging/Exif.h"
#include "imaging/PictureFormat.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

using namespace qv;

namespace {

constexpr std::int64_t kMaxDecodedPixels = 512 * 512;

[[noreturn]] void fail(char const* what, PictureProbe const& probe)
{
    std::fprintf(stderr, "%s (format %s, %d x %d)\n", what, format_name(probe.info.format), probe.info.width,
        probe.info.height);
    std::abort();
}

}

// libheif 1.15 keeps the buffer it made for dav1d when dav1d refuses an
// empty one (an AVIF whose image item has no data): a few bytes of the
// libraries' own each time, which no caller can free. Named by the library,
// as the allocation's stack ends in it (no frame pointers there).
extern "C" char const* __lsan_default_suppressions() { return "leak:libdav1d.so\n"; }
// Without the table of suppressions used at the end, the run's last line
// stays libFuzzer's summary, which fuzz/run prints.
extern "C" char const* __lsan_default_options() { return "print_suppressions=0"; }

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    std::span<std::uint8_t const> const bytes { data, size };
    auto const sniffed = sniff_picture(bytes.first(std::min(size, kSniffBytes)));
    auto const probe = probe_picture(bytes);

    if (!sniffed && size > 0 && probe.problem != PictureProblem::NotPicture)
        fail("bytes of no known format are not called no picture", probe);
    if (sniffed && probe.problem == PictureProblem::NotPicture)
        fail("a sniffed format is called no picture", probe);
    if (probe.problem != PictureProblem::None)
        return 0;
    bool const raw_in_tiff = sniffed == PictureFormat::Tiff && probe.info.format == PictureFormat::Raw;
    if (probe.info.format != *sniffed && !raw_in_tiff)
        fail("the probe names another format than the sniff", probe);
    if (probe.info.width < 1 || probe.info.height < 1)
        fail("a passed probe without a size", probe);

    if (static_cast<std::int64_t>(probe.info.width) * probe.info.height > kMaxDecodedPixels)
        return 0;
    RgbPixels pixels;
    if (decode_picture(bytes, pixels) != PictureProblem::None)
        return 0;
    // The decode is upright. A JPEG's probe describes it as stored, before
    // its Exif turn; every other format's the upright picture.
    bool const swaps = orientation_swaps_sides(probe.info.orientation);
    int const width = swaps ? probe.info.height : probe.info.width;
    int const height = swaps ? probe.info.width : probe.info.height;
    if (pixels.width != width || pixels.height != height)
        fail("the decode's size differs from the probe's", probe);
    if (pixels.rgb.size() != static_cast<std::size_t>(pixels.width) * static_cast<std::size_t>(pixels.height) * 3)
        fail("the decode's buffer does not hold its size", probe);
    return 0;
}
