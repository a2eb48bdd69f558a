#pragma once

// Piece creators make the 256 × 256 tiles the viewer shows at a zoom level.
// Level n (the top level) is the full-size picture, each level below is
// half the one above, and level 0 fits one tile. Not thread-safe: the viewer
// serialises all use of one creator.

#include "app/WString.h"
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
    virtual int width() const = 0;
    virtual int height() const = 0;
    virtual bool is_valid() const = 0;
    int top_level() const;
};

// Decodes straight from the picture at a reduced DCT scale; keeps the last
// level it decoded for further tiles.
class FilePieceCreator final : public PieceCreator {
public:
    explicit FilePieceCreator(WStringView picture);
    bool create_piece(int level, int column, int row, std::unique_ptr<PixelBuffer>& tile) override;
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
};

// Decodes only the compressed bytes a tile needs, from the picture's cache
// file and its entry points. Every number read from the cache file is
// checked before use; a bad file fails tiles, never more.
class CachePieceCreator final : public PieceCreator {
public:
    CachePieceCreator(WStringView picture, WStringView root);
    ~CachePieceCreator() override;
    bool create_piece(int level, int column, int row, std::unique_ptr<PixelBuffer>& tile) override;
    int width() const override { return m_width; }
    int height() const override { return m_height; }
    // Always true: a failed step shows as failed tiles.
    bool is_valid() const override { return true; }

private:
    bool load_record(int record);
    std::optional<JpegFrameSize> full_size() const;

    WString m_picture;
    WString m_cache_file;
    std::optional<CacheHeader> m_header;
    std::uint64_t m_picture_size { 0 };
    int m_width { 0 };
    int m_height { 0 };
    int m_loaded { -1 };
    std::unique_ptr<JpegTileDecoder> m_decoder;
};

}
