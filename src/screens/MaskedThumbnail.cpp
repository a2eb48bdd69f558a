#include "thumbcache/CacheOwnership.h"
#include "screens/MaskedThumbnail.h"

#include "imaging/RenderSurface.h"
#include "thumbcache/ThumbnailReader.h"

namespace qv {

namespace {

// A thumbnail of the cell's own size is masked where it lies; anything
// else is stretched, as the 64 x 64 one is to cells of up to 64 pixels.
ThumbnailState masked(std::unique_ptr<PixelBuffer> thumbnail, Size size, PictureRef const& mask, PictureRef& out)
{
    RenderSurface surface;
    if (thumbnail->width() == size.width && thumbnail->height() == size.height) {
        surface.adopt(std::move(thumbnail));
    } else {
        surface.recreate(size);
        if (!surface.buffer())
            return ThumbnailState::Bad;
        stretch_rect(surface.target(), 0, 0, size.width, size.height, *thumbnail, 0, 0, thumbnail->width(),
            thumbnail->height(), copy_op());
    }
    static ThumbnailMaskOp const mask_op;
    mask.draw(surface.target(), Point { 0, 0 }, size, mask_op);
    picture_from_buffer(out, surface.release());
    return ThumbnailState::Ready;
}

ThumbnailState check_status(PictureStatus const& status, Size size)
{
    if (status.state == PictureStatus::State::Building)
        return ThumbnailState::Loading;
    if (status.state != PictureStatus::State::Ready || size.width <= 0 || size.height <= 0)
        return ThumbnailState::Bad;
    return ThumbnailState::Ready;
}

}

ThumbnailState load_masked_thumbnail(PictureStatus const& status, Size size, PictureRef const& mask, PictureRef& out)
{
    if (auto const state = check_status(status, size); state != ThumbnailState::Ready)
        return state;
    auto thumbnail = load_thumbnail(status.cache_file);
    // A thumbnail that does not decode from a file of ours is damage: the
    // file is built again, and the cell waits for it.
    if (!thumbnail)
        return mark_cache_damaged(status.cache_file) ? ThumbnailState::Loading : ThumbnailState::Bad;
    return masked(std::move(thumbnail), size, mask, out);
}

ThumbnailState load_masked_thumbnail(WStringView picture, PictureStatus const& status, Size size,
    PictureRef const& mask, PictureRef& out)
{
    if (auto const state = check_status(status, size); state != ThumbnailState::Ready)
        return state;
    if (std::max(size.width, size.height) > kThumbnailSide) {
        if (auto square = load_thumbnail_square(status.cache_file, picture, std::max(size.width, size.height)))
            return masked(std::move(square), size, mask, out);
    }
    return load_masked_thumbnail(status, size, mask, out);
}

}
