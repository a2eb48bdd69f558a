#include "screens/MaskedThumbnail.h"

#include "imaging/RenderSurface.h"
#include "thumbcache/ThumbnailReader.h"

namespace qv {

ThumbnailState load_masked_thumbnail(PictureStatus const& status, Size size, PictureRef const& mask, PictureRef& out)
{
    if (status.state == PictureStatus::State::Building)
        return ThumbnailState::Loading;
    if (status.state != PictureStatus::State::Ready)
        return ThumbnailState::Bad;
    auto thumbnail = load_thumbnail(status.cache_file);
    if (!thumbnail || size.width <= 0 || size.height <= 0)
        return ThumbnailState::Bad;
    RenderSurface surface;
    surface.recreate(size);
    if (!surface.buffer())
        return ThumbnailState::Bad;
    stretch_rect(surface.target(), 0, 0, size.width, size.height, *thumbnail, 0, 0, thumbnail->width(),
        thumbnail->height(), copy_op());
    static ThumbnailMaskOp const mask_op;
    mask.draw(surface.target(), Point { 0, 0 }, size, mask_op);
    picture_from_buffer(out, surface.release());
    return ThumbnailState::Ready;
}

}
