#include "thumbcache/CacheBuilder.h"
#include "base/FileInfo.h"
#include "base/FileStream.h"
#include "base/Log.h"
#include "base/Paths.h"
#include "imaging/Exif.h"
#include "imaging/JpegCodec.h"
#include "imaging/PictureFormat.h"
#include "platform/System.h"
#include "thumbcache/CacheFile.h"
#include "thumbcache/CacheOwnership.h"
#include "thumbcache/CacheWriter.h"
#include "thumbcache/HalfEncoder.h"
#include "thumbcache/ScratchFiles.h"
#include "thumbcache/TranscodeBudget.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <utility>
#include <vector>

namespace qv {

namespace {

constexpr int kThumbnailSize = 64;

int floor_div(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// A row the decoder fills and an encoder reads straight after. It starts
// one byte off alignment on purpose: to aligned rows the library's
// vectorised output writes with non-temporal stores, which would send
// every row to memory just before it is read back.
class RowBuffer {
public:
    explicit RowBuffer(std::size_t bytes)
        : m_bytes(bytes + 1)
    {
    }
    std::span<std::uint8_t> row() { return { m_bytes.data() + 1, m_bytes.size() - 1 }; }

private:
    std::vector<std::uint8_t> m_bytes;
};

// A level's JPEG: a scratch file, or bytes in memory for levels small
// enough to hold (no file made, written and deleted for them).
struct Level {
    WString path;
    std::vector<std::uint8_t> bytes;
    bool in_memory { false };
};

// Levels of at most this many pixels are kept in memory: their JPEG is a
// few hundred kilobytes at most, and small builds make no level files.
constexpr std::int64_t kMemoryLevelPixels = 2'000'000;

class Builder {
public:
    Builder(WStringView cache_file, std::atomic<bool> const* stop, std::uint64_t transcode_limit)
        : m_scratch(cache_file)
        , m_writer(m_scratch.cache)
        , m_stop(stop)
        , m_transcode_limit(transcode_limit)
    {
    }

    bool run(WStringView picture, PictureIdentity identity)
    {
        m_identity = std::move(identity);
        if (!m_writer.create())
            return fail(PictureProblem::Storage);
        Stopwatch timer;
        auto const probe = probe_picture(picture);
        if (probe.problem != PictureProblem::None)
            return fail(probe.problem);
        m_orientation = probe.info.orientation;
        Level source { WString(picture), {}, false };
        PictureCopy copy;
        if (probe.info.format != PictureFormat::Jpeg) {
            if (!prepare_decoded_copy(picture, probe.info, copy))
                return false;
            source = Level { {}, std::move(copy.jpeg), true };
        } else if (probe.info.foreign_profile) {
            if (!prepare_converted_copy(picture, probe.info, source))
                return false;
        } else if (auto const jpeg = probe_jpeg(picture); jpeg.problem != PictureProblem::None) {
            return fail(jpeg.problem);
        } else if (!jpeg.info.direct && !prepare_copy(picture, jpeg.info, source)) {
            return false;
        }
        log_time(u"create copy ", timer);
        // A picture decoded whole gave its next level already, and most
        // often the copy's entry points: else the copy's pass only records
        // them, at the smallest scale.
        bool const halved = !copy.half.rgb.empty();
        if (copy.entries) {
            if (!start_cache_file(std::max(probe.info.width, probe.info.height), true)
                || !m_writer.append_entries(*copy.entries))
                return fail(PictureProblem::Storage);
        } else if (!build_level(source, !halved, true) || stopped()) {
            return false;
        }
        if (halved && m_levels_count > 0 && !encode_next(copy.half))
            return false;
        log_time(u"create cache ", timer);
        if (m_levels_count == 0) {
            Log::get() << u"save small thum cache begin\n";
            if (!make_thumbnail(source))
                return false;
        } else {
            advance();
            for (int k = 1; k < m_levels_count; ++k) {
                Log::get() << u"create cache thum begin\n";
                if (!build_level(m_current, true, false) || stopped())
                    return false;
                log_time(u"create cache ", timer);
                if (!append_level(m_current) || stopped())
                    return false;
                advance();
                log_time(u"save thum cache ", timer);
            }
            if (!build_level(m_current, false, false) || stopped())
                return false;
            log_time(u"create cache ", timer);
            Log::get() << u"save thum cache begin\n";
            if (!append_level(m_current) || stopped())
                return false;
            log_time(u"save thum cache ", timer);
            if (!make_thumbnail(m_current))
                return false;
        }
        log_time(u"save small thum cache ", timer);
        if ((m_flags & kStoredStreamFlag)
            && !(source.in_memory ? m_writer.append_full_stream(source.bytes) : m_writer.append_full_stream(source.path)))
            return fail(PictureProblem::Storage);
        if (!m_writer.finish(m_identity))
            return fail(PictureProblem::Storage);
        log_time(u"save handle cache ", timer);
        return true;
    }

    WString const& file() const { return m_writer.file(); }
    PictureProblem problem() const { return m_problem; }

private:
    bool fail(PictureProblem problem)
    {
        m_problem = problem;
        return false;
    }

    // The full-size stream of a picture the entry points cannot describe:
    // its own coefficients in one sequential scan, which decodes to its very
    // pixels; CMYK and unusual sampling as an RGB copy; and for a picture
    // whose coefficients would take more than the limit to hold, no
    // full-size stream at all: the levels come from a scaled decode.
    bool prepare_copy(WStringView picture, JpegInfo const& info, Level& source)
    {
        PictureProblem problem = PictureProblem::None;
        if (info.transcodable && info.coefficient_bytes > m_transcode_limit) {
            m_flags = kNoFullSizeFlag;
            return true;
        }
        if (info.transcodable) {
            if (!transcode_budget().acquire(info.coefficient_bytes, m_transcode_limit, m_stop))
                return false;
            problem = transcode_sequential(picture, m_scratch.full);
            transcode_budget().release(info.coefficient_bytes);
        } else {
            problem = reencode_rgb(picture, m_scratch.full);
        }
        if (problem != PictureProblem::None)
            return fail(problem);
        m_flags = kStoredStreamFlag;
        source = Level { m_scratch.full, {}, false };
        return !stopped();
    }

    // A picture of another format: its full-size stream is a JPEG copy of
    // it, upright and in sRGB, made in memory from its whole decode, which
    // shares the transcodes' limit.
    bool prepare_decoded_copy(WStringView picture, PictureInfo const& info, PictureCopy& copy)
    {
        std::uint64_t const held = std::min(info.decode_bytes * 2, m_transcode_limit);
        if (!transcode_budget().acquire(held, m_transcode_limit, m_stop))
            return false;
        PictureProblem const problem = make_picture_copy(picture, copy);
        transcode_budget().release(held);
        if (problem != PictureProblem::None)
            return fail(problem);
        m_flags = kStoredStreamFlag;
        return !stopped();
    }

    // A JPEG in other colours than sRGB: its full-size stream is a copy in
    // sRGB, streamed row by row (its Exif turn still applies, as for any
    // JPEG).
    bool prepare_converted_copy(WStringView picture, PictureInfo const& info, Level& source)
    {
        std::uint64_t const held = std::min(info.decode_bytes * 2, m_transcode_limit);
        if (!transcode_budget().acquire(held, m_transcode_limit, m_stop))
            return false;
        PictureProblem const problem = write_jpeg_copy(picture, m_scratch.full);
        transcode_budget().release(held);
        if (problem != PictureProblem::None)
            return fail(problem);
        m_flags = kStoredStreamFlag;
        source = Level { m_scratch.full, {}, false };
        return !stopped();
    }

    bool encode_next(RgbPixels const& pixels)
    {
        prepare_next(std::int64_t { pixels.width } * pixels.height);
        auto next = m_next.in_memory ? JpegEncoder::open_memory(m_next.bytes, pixels.width, pixels.height)
                                     : JpegEncoder::open(m_next.path, pixels.width, pixels.height);
        if (!next)
            return fail(PictureProblem::Storage);
        auto const stride = static_cast<std::size_t>(pixels.width) * 3;
        for (int y = 0; y < pixels.height; ++y)
            if (!next->write_row({ pixels.rgb.data() + static_cast<std::size_t>(y) * stride, stride })) {
                next->finish();
                return fail(PictureProblem::Storage);
            }
        return next->finish() || fail(PictureProblem::Storage);
    }

    bool stopped() const { return m_stop && m_stop->load(std::memory_order_relaxed); }

    static void log_time(char16_t const* what, Stopwatch const& timer)
    {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%f", timer.elapsed());
        Log::get() << what << std::string_view(seconds) << u"\n";
    }

    // Where the level after the current one goes: memory when it is small,
    // else the scratch file the current level does not use.
    void prepare_next(std::int64_t pixels)
    {
        m_next = Level {};
        m_next.in_memory = pixels <= kMemoryLevelPixels;
        if (!m_next.in_memory)
            m_next.path = m_current.path == m_scratch.level ? m_scratch.next : m_scratch.level;
    }

    // The next level becomes the current one; the current one's file goes.
    void advance()
    {
        if (!m_current.in_memory && (m_current.path == m_scratch.level || m_current.path == m_scratch.next))
            platform::remove_file(expand_path(m_current.path));
        m_current = std::move(m_next);
        m_next = Level {};
    }

    static std::unique_ptr<JpegReader> open_reader(Level const& level)
    {
        return level.in_memory ? JpegReader::open_memory(level.bytes) : JpegReader::open_file(level.path);
    }

    // Records the source's entry points into the cache file. The library's
    // DCT scaling delivers the rows at half size during the same pass, and
    // they become the next level: no second decode, no averaging of full
    // rows. A pass that makes no next level only needs the entries and
    // decodes at the smallest scale.
    bool build_level(Level const& source, bool make_next, bool first)
    {
        // Entries reach the cache file only as rows are read, so the header
        // placeholder can follow the opening of the recording read.
        int const denominator = make_next ? 2 : 8;
        bool const record = !first || !(m_flags & kNoFullSizeFlag);
        std::unique_ptr<JpegReader> reader;
        if (!record)
            reader = JpegReader::open_file(source.path, denominator);
        else if (source.in_memory)
            reader = JpegReader::open_recording(source.bytes, m_writer.file(), denominator);
        else
            reader = JpegReader::open_recording(source.path, m_writer.file(), denominator);
        if (!reader)
            return fail(first ? diagnose_picture(source.path) : PictureProblem::Damaged);
        int full_width = reader->source_width(), full_height = reader->source_height();
        if (first) {
            if (!start_cache_file(std::max(full_width, full_height), record))
                return false;
        } else {
            m_writer.begin_level();
        }

        // The halved level drops a last odd row and column, as a 2 x 2
        // average would; the scaled rows round up, so they are cut. A side
        // of one pixel stays one pixel: a line of a picture halves along
        // its length only.
        int half_width = std::max(1, full_width / 2), half_height = std::max(1, full_height / 2);
        std::unique_ptr<JpegEncoder> next;
        if (make_next) {
            prepare_next(std::int64_t { half_width } * half_height);
            next = m_next.in_memory ? JpegEncoder::open_memory(m_next.bytes, half_width, half_height)
                                    : JpegEncoder::open(m_next.path, half_width, half_height);
            if (!next)
                return false;
        }
        RowBuffer buffer(static_cast<size_t>(reader->width()) * 3);
        auto const row = buffer.row();
        std::span<std::uint8_t const> kept(row.data(), static_cast<size_t>(half_width) * 3);
        for (int y = 0; y < reader->height(); ++y) {
            // Looked at every few rows, so a stop never waits for a whole pass.
            bool stop_now = y % 16 == 0 && stopped();
            if (stop_now || !reader->read_row(row) || (next && y < half_height && !next->write_row(kept))) {
                if (next)
                    next->finish();
                return fail(stop_now ? PictureProblem::None : PictureProblem::Damaged);
            }
        }
        if (next && !next->finish())
            return fail(PictureProblem::Storage);
        reader.reset(); // flushes the last entries into the cache file
        if (!record)
            return true;

        return m_writer.end_entries();
    }

    // The header's placeholder, and the first level's entries to follow
    // it when it has them.
    bool start_cache_file(int longest_side, bool record)
    {
        m_levels_count = level_count(longest_side);
        // A picture that is its own deepest level needs its full size.
        if (m_levels_count == 0 && !record)
            return fail(PictureProblem::Unsupported);
        return m_writer.start(m_levels_count, m_flags, record) || fail(PictureProblem::Storage);
    }

    bool append_level(Level const& level)
    {
        return level.in_memory ? m_writer.append_level(level.bytes) : m_writer.append_level(level.path);
    }

    // `source` is the picture itself or m_current.
    bool make_thumbnail(Level const& source)
    {
        int width, height;
        {
            auto probe = open_reader(source);
            if (!probe)
                return false;
            width = probe->width();
            height = probe->height();
        }
        int smaller = std::min(width, height);
        int halvings = std::max(0, static_cast<int>(std::floor(std::log2(static_cast<double>(smaller)))) - 6);
        Level const* current = &source;
        for (int i = 0; i < halvings; ++i) {
            if (!halve(*current))
                return false;
            advance();
            current = &m_current;
        }
        return cut_thumbnail(*current);
    }

    bool halve(Level const& from)
    {
        auto reader = open_reader(from);
        if (!reader)
            return false;
        prepare_next(std::int64_t { reader->width() / 2 } * (reader->height() / 2));
        auto half = m_next.in_memory ? HalfEncoder::open_memory(m_next.bytes, reader->width(), reader->height())
                                     : HalfEncoder::open(m_next.path, reader->width(), reader->height());
        if (!half)
            return false;
        RowBuffer buffer(static_cast<size_t>(reader->width()) * 3);
        auto const row = buffer.row();
        for (int y = 0; y < reader->height(); ++y) {
            if ((y % 16 == 0 && stopped()) || !reader->read_row(row) || !half->write_row(row)) {
                half->finish();
                return false;
            }
        }
        return half->finish();
    }

    // The 64 × 64 window of the upright picture: centred across, nearer the
    // top for portraits. A picture smaller than the window repeats its edge
    // pixels rather than reading outside a row. A turned picture is turned
    // whole at this level, which is small by now, then cut.
    bool cut_thumbnail(Level const& source)
    {
        auto reader = open_reader(source);
        if (!reader)
            return false;
        int w = reader->width(), h = reader->height();
        std::vector<std::uint8_t> upright;
        if (m_orientation != 1) {
            std::vector<std::uint8_t> stored(static_cast<size_t>(w) * h * 3);
            for (int y = 0; y < h; ++y)
                if (!reader->read_row({ stored.data() + static_cast<size_t>(y) * w * 3, static_cast<size_t>(w) * 3 }))
                    return false;
            upright.resize(stored.size());
            orient_rgb(m_orientation, stored.data(), w, h, upright.data());
            if (orientation_swaps_sides(m_orientation))
                std::swap(w, h);
        }
        int g = floor_div(h - kThumbnailSize, 2);
        int first_row = w >= h ? g : g - floor_div(g, 2);
        int first_column = floor_div(w - kThumbnailSize, 2);
        Level thumbnail { {}, {}, true };
        auto encoder = JpegEncoder::open_memory(thumbnail.bytes, kThumbnailSize, kThumbnailSize);
        if (!encoder)
            return false;

        std::vector<std::uint8_t> row(upright.empty() ? static_cast<size_t>(w) * 3 : 0);
        std::vector<std::uint8_t> window(kThumbnailSize * 3);
        int next_source_row = 0;
        bool ok = true;
        for (int j = 0; j < kThumbnailSize && ok; ++j) {
            int wanted = std::clamp(first_row + j, 0, h - 1);
            std::uint8_t const* line = nullptr;
            if (upright.empty()) {
                while (next_source_row <= wanted && ok) {
                    ok = reader->read_row(row);
                    ++next_source_row;
                }
                line = row.data();
            } else {
                line = upright.data() + static_cast<size_t>(wanted) * w * 3;
            }
            if (!ok)
                break;
            for (int i = 0; i < kThumbnailSize; ++i) {
                int x = std::clamp(first_column + i, 0, w - 1);
                std::copy_n(line + 3 * x, 3, window.begin() + 3 * i);
            }
            ok = encoder->write_row(window);
        }
        reader.reset();
        if (!encoder->finish() || !ok)
            return false;
        return m_writer.append_thumbnail(thumbnail.bytes);
    }

    ScratchFiles m_scratch;
    CacheWriter m_writer; // into the scratch file being built
    Level m_current; // the level the next pass reads
    Level m_next;    // the level a pass writes
    std::atomic<bool> const* m_stop;
    std::uint64_t m_transcode_limit;
    int m_levels_count { 0 };
    std::uint8_t m_flags { 0 };
    int m_orientation { 1 };
    PictureProblem m_problem { PictureProblem::None };
    PictureIdentity m_identity;
};

// A failure that names no reason: the storage is to blame only when it
// says so, since a picture the decoder or the encoder gave up on must not
// make the whole folder's storage look unwritable.
PictureProblem unexplained_failure(WStringView picture, WStringView cache_file)
{
    if (platform::storage_fault(directory_of(expand_path(cache_file))) != platform::StorageFault::None)
        return PictureProblem::Storage;
    auto const diagnosis = diagnose_picture(picture);
    return diagnosis == PictureProblem::None ? PictureProblem::Damaged : diagnosis;
}

}

bool create_picture_cache(WStringView picture, WStringView cache_file, std::atomic<bool> const* stop,
    PictureProblem* problem, std::uint64_t transcode_limit)
{
    // Built under a scratch name and moved to its cache name only once its
    // mark is written: a file under a cache name is then always complete
    // or a bad-picture marker, never half of either.
    Builder builder(cache_file, stop, transcode_limit);
    WString const target = expand_path(cache_file);
    if (problem)
        *problem = PictureProblem::None;
    // Taken before the picture is read: a picture that changes meanwhile
    // no longer matches its record and is built again.
    auto identity = identify_picture(picture, root_of_cache_file(cache_file));
    if (!identity) {
        if (problem)
            *problem = PictureProblem::Missing;
        remove_own_cache_file(target);
        return false;
    }
    // Never renamed over a file that is not ours.
    bool const built = builder.run(picture, std::move(*identity));
    if (built && free_for_cache_file(target) && platform::move_file(expand_path(builder.file()), target))
        return true;
    if (problem) {
        *problem = builder.problem();
        if (built)
            *problem = PictureProblem::Storage; // the rename itself
        else if (*problem == PictureProblem::None && !(stop && stop->load()))
            *problem = unexplained_failure(picture, target);
    }
    // As a build that starts by truncating its file: no older file
    // survives a failed build. Only a file that is ours goes.
    remove_own_cache_file(target);
    return false;
}

std::uint64_t take_transcode_peak_bytes() { return transcode_budget().take_peak(); }

}
