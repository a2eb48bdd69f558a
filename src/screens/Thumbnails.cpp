#include "screens/Thumbnails.h"

#include "base/Log.h"
#include "imaging/RenderSurface.h"
#include "thumbcache/CacheFile.h"
#include "thumbcache/Thumbnail.h"

namespace qv {

ThumbnailState load_masked_thumbnail(WStringView picture, WStringView search_root, Size size,
    PictureRef const& mask, PictureRef& out)
{
    WString const cache = cache_file_name(picture, search_root);
    Log::get() << u"Name " << picture << u"\n" << u"Drive " << search_root << u"\n" << u"Cache " << cache << u"\n";
    if (cache.empty() || is_bad_picture(cache))
        return ThumbnailState::Bad;
    if (!is_cache_file_valid(cache))
        return ThumbnailState::Loading;
    auto thumbnail = load_thumbnail(cache);
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
