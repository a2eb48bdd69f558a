#include "imaging/Picture.h"

#include "base/Log.h"
#include "imaging/Density.h"
#include "imaging/NineSlice.h"
#include "imaging/PixelOp.h"
#include "imaging/PixelRules.h"

#include <algorithm>

namespace qv {

namespace {

class EmptyPicture final : public Picture {
public:
    Size size() const override { return {}; }
    void make_red() override { }
    void draw(DrawTarget&, Point, Size, NineSliceGrid const&, PixelOp const&) const override { }
    WString const& name() const override { return m_name; }

private:
    WString m_name;
};

// Grid points come from skin files; a grid that is out of order or reaches
// outside the picture would make the spans read outside the buffer.
bool grid_fits(std::int32_t outer_start, std::int32_t inner_start, std::int32_t inner_end,
    std::int32_t outer_end, std::int32_t picture_side)
{
    return outer_start >= 0 && outer_start <= inner_start && inner_start <= inner_end
        && inner_end <= outer_end && outer_end <= picture_side;
}

void point_at_whole(PictureRef& ref, Size size)
{
    ref.grid.outer_start = { 0, 0 };
    ref.grid.inner_start = { 0, 0 };
    ref.grid.inner_end = { size.width, size.height };
    ref.grid.outer_end = { size.width, size.height };
}

}

std::shared_ptr<Picture> const& empty_picture()
{
    static std::shared_ptr<Picture> const empty = std::make_shared<EmptyPicture>();
    return empty;
}

BitmapPicture::BitmapPicture(WString name, std::unique_ptr<PixelBuffer> buffer)
    : m_name(std::move(name))
    , m_buffer(std::move(buffer))
{
}

Size BitmapPicture::size() const
{
    return m_buffer ? Size { m_buffer->width(), m_buffer->height() } : Size {};
}

void BitmapPicture::make_red()
{
    if (!m_buffer)
        return;
    for (std::int32_t y = 0; y < m_buffer->height(); ++y) {
        std::uint16_t* row = m_buffer->row(y);
        for (std::int32_t x = 0; x < m_buffer->width(); ++x) {
            if (row[x] != kKeyColour)
                row[x] &= 0xF820;
        }
    }
}

void BitmapPicture::draw(DrawTarget& target, Point position, Size size, NineSliceGrid const& grid,
    PixelOp const& op) const
{
    PixelBuffer* destination = target.buffer();
    if (!destination || !m_buffer)
        return;
    if (!grid_fits(grid.outer_start.x, grid.inner_start.x, grid.inner_end.x, grid.outer_end.x, m_buffer->width())
        || !grid_fits(grid.outer_start.y, grid.inner_start.y, grid.inner_end.y, grid.outer_end.y, m_buffer->height()))
        return;

    Rect clip = target.clip();
    clip = intersect(clip, { 0, 0, destination->width(), destination->height() });
    std::int64_t left = std::max<std::int64_t>(position.x, clip.left);
    std::int64_t top = std::max<std::int64_t>(position.y, clip.top);
    std::int64_t right = std::min<std::int64_t>(std::int64_t { position.x } + size.width, clip.right);
    std::int64_t bottom = std::min<std::int64_t>(std::int64_t { position.y } + size.height, clip.bottom);
    if (right <= left || bottom <= top)
        return;

    AxisRuns h = split_axis(grid.outer_start.x, grid.inner_start.x, grid.inner_end.x, grid.outer_end.x,
        size.width, static_cast<std::int32_t>(left - position.x), static_cast<std::int32_t>(right - position.x));
    AxisRuns v = split_axis(grid.outer_start.y, grid.inner_start.y, grid.inner_end.y, grid.outer_end.y,
        size.height, static_cast<std::int32_t>(top - position.y), static_cast<std::int32_t>(bottom - position.y));

    std::int32_t centre_from = grid.inner_start.x;
    std::int32_t centre_to = grid.inner_end.x;
    std::int32_t column = static_cast<std::int32_t>(left);
    auto draw_row = [&](std::int32_t destination_row, std::int32_t source_row) {
        std::uint16_t* d = destination->row(destination_row) + column;
        std::uint16_t const* s = m_buffer->row(source_row);
        op.shifted_span(d, s, h.start_source, h.start_length, 0);
        d += h.start_length;
        if (centre_to > centre_from)
            op.wrapped_span(d, s, centre_from + h.centre_phase, h.centre_length, 0, centre_from, centre_to);
        d += h.centre_length;
        op.shifted_span(d, s, h.end_source, h.end_length, 0);
    };

    std::int32_t row = static_cast<std::int32_t>(top);
    for (std::int32_t i = 0; i < v.start_length; ++i)
        draw_row(row++, v.start_source + i);
    if (grid.inner_end.y > grid.inner_start.y) {
        std::int32_t unit = grid.inner_start.y + v.centre_phase;
        for (std::int32_t i = 0; i < v.centre_length; ++i) {
            draw_row(row++, unit);
            unit = unit + 1 == grid.inner_end.y ? grid.inner_start.y : unit + 1;
        }
    } else {
        row += v.centre_length;
    }
    for (std::int32_t i = 0; i < v.end_length; ++i)
        draw_row(row++, v.end_source + i);
}

BitmapPicture* picture_from_buffer(PictureRef& ref, std::unique_ptr<PixelBuffer> buffer)
{
    ref.reset();
    if (!buffer)
        return nullptr;
    auto picture = std::make_shared<BitmapPicture>(WString {}, std::move(buffer));
    BitmapPicture* created = picture.get();
    point_at_whole(ref, picture->size());
    ref.picture = std::move(picture);
    return created;
}

BitmapPicture* load_565(PictureRef& ref, WStringView name) { return load_565(ref, name, kMinScaleQuarters); }

BitmapPicture* load_565(PictureRef& ref, WStringView name, std::int32_t quarters)
{
    ref.reset();
    std::unique_ptr<PixelBuffer> buffer = load_bmp_for_scale(name, quarters).buffer;
    if (!buffer) {
        Log::get() << u"load_565 " << name << u" is not 16bit bitmap\n";
        return nullptr;
    }
    auto picture = std::make_shared<BitmapPicture>(WString(name), std::move(buffer));
    BitmapPicture* created = picture.get();
    point_at_whole(ref, picture->size());
    ref.picture = std::move(picture);
    return created;
}

}
