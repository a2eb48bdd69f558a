#pragma once

// Drawable images. Every image the skin and the screens draw (skin bitmaps,
// thumbnails, decoded tiles) is a Picture shared through std::shared_ptr;
// a PictureRef is the value held per use, with the nine-slice grid to draw
// it with. Pictures are loaded at the screen's scale and drawn 1:1; only a
// nine-slice centre is repeated to fill.

#include "base/FileStream.h"
#include "core/WString.h"
#include "imaging/ByteSource.h"
#include "imaging/DrawTarget.h"
#include "imaging/PixelBuffer.h"
#include "imaging/Rect.h"

#include <cstdint>
#include <memory>

namespace qv {

class PixelOp;

// Grid points in picture pixels: borders from outer_start to inner_start
// and from inner_end to outer_end, the tiled centre between.
struct NineSliceGrid {
    Point outer_start;
    Point inner_start;
    Point inner_end;
    Point outer_end;
};

class Picture {
public:
    virtual ~Picture() = default;
    virtual Size size() const = 0;
    // Keeps red and the solid flag of every pixel except the key colour.
    virtual void make_red() = 0;
    // Draws the grid's region nine-slice style into (position, size).
    virtual void draw(DrawTarget& target, Point position, Size size, NineSliceGrid const& grid,
        PixelOp const& op) const = 0;
    // Empty for pictures made from memory.
    virtual WString const& name() const = 0;
};

class BitmapPicture final : public Picture {
public:
    BitmapPicture(WString name, std::unique_ptr<PixelBuffer> buffer);

    Size size() const override;
    void make_red() override;
    void draw(DrawTarget& target, Point position, Size size, NineSliceGrid const& grid,
        PixelOp const& op) const override;
    WString const& name() const override { return m_name; }

    PixelBuffer* buffer() const { return m_buffer.get(); }

private:
    WString m_name;
    std::unique_ptr<PixelBuffer> m_buffer;
};

// The process-wide picture of size 0 x 0 that draws nothing.
std::shared_ptr<Picture> const& empty_picture();

struct PictureRef {
    NineSliceGrid grid;
    std::shared_ptr<Picture> picture { empty_picture() };
    std::uint32_t flags { 0 };      // the skin's picture record flags; not used here

    void reset() { *this = PictureRef {}; }
    bool is_empty() const { return picture == empty_picture(); }
    Size size() const { return picture->size(); }
    void draw(DrawTarget& target, Point position, Size size, PixelOp const& op) const
    {
        picture->draw(target, position, size, grid, op);
    }
};

// Fills `ref` from name + ".bmp" (a 16-bit BMP); on any failure `ref` is
// left empty and "load_565 <name> is not 16bit bitmap" is logged. Returns
// the new picture (null on failure).
BitmapPicture* load_565(PictureRef& ref, WStringView name);
// The same at a screen's scale in quarters (see Density.h): the stored
// density nearest at or above it, made smaller to fit; the grid covers it.
BitmapPicture* load_565(PictureRef& ref, WStringView name, std::int32_t quarters);

// An unnamed picture that takes over `buffer`; the grid covers it whole.
BitmapPicture* picture_from_buffer(PictureRef& ref, std::unique_ptr<PixelBuffer> buffer);

// Sides beyond these, or a total beyond kMaxBmpPixels, are refused.
inline constexpr std::int32_t kMaxBmpSide = 16384;
inline constexpr std::int64_t kMaxBmpPixels = std::int64_t { 64 } << 20;

// A 16-bit BMP taken as RGB565; null for any other bit count, a damaged
// header or memory shortage. A file cut short leaves its missing rows
// undefined.
std::unique_ptr<PixelBuffer> read_bmp_565(ByteSource& source);

template<ReadSkipStream Stream>
    requires(!std::derived_from<Stream, ByteSource>)
std::unique_ptr<PixelBuffer> read_bmp_565(Stream& stream)
{
    StreamByteSource<Stream> source(stream);
    return read_bmp_565(static_cast<ByteSource&>(source));
}

}
