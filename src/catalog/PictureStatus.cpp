#include "catalog/PictureStatus.h"

#include "base/Directories.h"
#include "base/FileInfo.h"
#include "base/FileStream.h"
#include "base/Paths.h"
#include "thumbcache/CacheBuilder.h"
#include "thumbcache/CacheFile.h"

namespace qv {

PictureStatus read_picture_status(WStringView picture, WStringView root)
{
    PictureStatus status;
    WString cache = cache_file_name(picture, root);
    if (cache.empty()) {
        status.problem = PictureProblem::Missing;
        return status;
    }
    if (is_bad_picture(cache)) {
        status.state = PictureStatus::State::Bad;
    } else if (is_cache_file_valid(cache)) {
        status.state = PictureStatus::State::Ready;
        status.cache_file = std::move(cache);
    } else {
        status.state = PictureStatus::State::Building;
    }
    return status;
}

std::unique_ptr<PieceCreator> open_piece_creator(WStringView picture, WStringView root, PictureStatus const& status)
{
    if (status.state == PictureStatus::State::Ready) {
        int const orientation = probe_jpeg(picture).info.orientation;
        return upright_creator(std::make_unique<CachePieceCreator>(picture, root), orientation);
    }
    auto file = std::make_unique<FilePieceCreator>(picture);
    int const orientation = file->orientation();
    return upright_creator(std::move(file), orientation);
}

bool build_picture_cache(WStringView picture, WStringView root, std::atomic<bool> const* stop, PictureProblem& problem)
{
    WString const cache_directory = strip_trailing_separator(root) + u"\\" + kCacheDirectory;
    if (!FileInfo(cache_directory).exists())
        create_directories(cache_directory);
    WString const name = cache_file_name(picture, root);
    if (name.empty()) {
        problem = PictureProblem::Missing;
        return false;
    }
    if (create_picture_cache(picture, name, stop, &problem))
        return true;
    // The empty file marks a picture that cannot be read; the next search
    // tries it again.
    FileStream marker(name, OpenMode::Write);
    return false;
}

}
