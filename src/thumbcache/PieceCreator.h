#pragma once

// Piece creators make the 256 × 256 tiles the viewer shows at a zoom level.
// Level n (the top level) is the full-size picture, each level below is
// half the one above, and level 0 fits one tile. Not thread-safe: the viewer
// serialises all use of one creator.

#include "core/WString.h"
#include "imaging/JpegCodec.h"
#include "imaging/PixelBuffer.h"
#include "thumbcache/CacheFile.h"

#include <memory>
#include <optional>
#include <vector>

namespace qv {

class JpegTileDecoder;
struct JpegFrameSize;

inline constexpr int kTileSide = 256;

class PieceCreator {
public:
    virtual ~PieceCreator() = default;
    // On success `tile` holds a new 256 × 256 buffer whose top-left part is
    // the tile (column, row) of `level`; the tile is cut at the level's edges.
    virtual bool create_piece(int level, int column, int row, std::unique_ptr<PixelBuffer>& tile) = 0;
    // The size of a whole level, as its tiles are cut from it.
    virtual bool level_size(int level, int& width, int& height) = 0;
    virtual int width() const = 0;
    virtual int height() const = 0;
    virtual bool is_valid() const = 0;
    // Why the picture cannot be shown, once that is known.
    virtual PictureProblem problem() const { return PictureProblem::None; }
    // Whether the cache file it reads turned out damaged (and was marked
    // for building again): the picture is to be read from its own file.
    virtual bool cache_damaged() const { return false; }
    int top_level() const;
};

// Decodes straight from the picture at a reduced DCT scale; keeps the last
// level it decoded for further tiles.
// Opening reads the headers only: a progressive picture, which the library
// reads whole before its first row, is decoded by the first tile, on the
// caller's worker. A failed decode leaves the creator invalid with its reason.
class FilePieceCreator final : public PieceCreator {
public:
    explicit FilePieceCreator(WStringView picture);
    bool create_piece(int level, int column, int row, std::unique_ptr<PixelBuffer>& tile) override;
    bool level_size(int level, int& width, int& height) override;
    PictureProblem problem() const override { return m_problem; }
    int orientation() const { return m_orientation; }
    int width() const override { return m_width; }
    int height() const override { return m_height; }
    bool is_valid() const override { return m_valid; }

private:
    WString m_picture;
    int m_width { 0 };
    int m_height { 0 };
    int m_top_level { 0 };
    int m_decoded_level { -1 };
    std::unique_ptr<PixelBuffer> m_decoded;
    bool m_valid { false };
    PictureProblem m_problem { PictureProblem::None };
    int m_orientation { 1 };
};

// Decodes only the compressed bytes a tile needs, from the picture's cache
// file and its entry points. Every number read from the cache file is
// checked before use; a bad file fails tiles, never more.
class CachePieceCreator final : public PieceCreator {
public:
    CachePieceCreator(WStringView picture, WStringView root);
    // From a cache file already found (and its identity checked) for it.
    struct File {
        WString path;
    };
    CachePieceCreator(WStringView picture, File cache_file);
    ~CachePieceCreator() override;
    bool create_piece(int level, int column, int row, std::unique_ptr<PixelBuffer>& tile) override;
    bool level_size(int level, int& width, int& height) override;
    int width() const override { return m_width; }
    int height() const override { return m_height; }
    // Always true: a failed step shows as failed tiles.
    bool is_valid() const override { return true; }
    // The body's checksum is verified before the first tile; a checksum or
    // a step that fails marks the file (CacheOwnership.h).
    bool cache_damaged() const override { return m_damaged; }

private:
    bool damaged();
    bool load_record(int record);
    int record_of(int level) const;
    std::optional<JpegFrameSize> frame_size(int record) const;
    struct Stream {
        WString file;
        std::uint64_t offset { 0 };
        std::uint64_t length { 0 };
    };
    Stream stream_of(int record) const;

    WString m_picture;
    WString m_cache_file;
    std::optional<CacheHeader> m_header;
    std::uint64_t m_picture_size { 0 };
    int m_width { 0 };
    int m_height { 0 };
    int m_loaded { -1 };
    std::unique_ptr<JpegTileDecoder> m_decoder;
    bool m_checked { false };
    bool m_damaged { false };
};

// Upright tiles from a creator of the picture as stored (Exif orientation
// 2 to 8): each tile is put together from the stored tiles it covers, at
// most four, and turned by a pixel loop; the stored tiles last asked for are
// kept, since neighbouring upright tiles share them.
class OrientedPieceCreator final : public PieceCreator {
public:
    OrientedPieceCreator(std::unique_ptr<PieceCreator> stored, int orientation);
    bool create_piece(int level, int column, int row, std::unique_ptr<PixelBuffer>& tile) override;
    bool level_size(int level, int& width, int& height) override;
    int width() const override;
    int height() const override;
    bool is_valid() const override { return m_stored->is_valid(); }
    PictureProblem problem() const override { return m_stored->problem(); }
    bool cache_damaged() const override { return m_stored->cache_damaged(); }

private:
    PixelBuffer const* stored_tile(int level, int column, int row);

    struct Kept {
        int level { 0 };
        int column { 0 };
        int row { 0 };
        std::unique_ptr<PixelBuffer> tile;
    };
    std::unique_ptr<PieceCreator> m_stored;
    int m_orientation;
    std::vector<Kept> m_kept; // most recent last
};

// The picture's creator turned upright by its Exif orientation.
std::unique_ptr<PieceCreator> upright_creator(std::unique_ptr<PieceCreator> stored, int orientation);

}
