#include "catalog/PictureStatus.h"

#include "base/Directories.h"
#include "base/FileInfo.h"
#include "base/FileStream.h"
#include "base/Paths.h"
#include "imaging/PictureFormat.h"
#include "thumbcache/CacheBuilder.h"
#include "thumbcache/CacheFile.h"
#include "thumbcache/CacheLocation.h"
#include "thumbcache/CacheOwnership.h"

namespace qv {

PictureStatus read_picture_status(WStringView picture, WStringView root)
{
    PictureStatus status;
    auto lookup = find_cache_file(picture, root, IdentityCheck::Content);
    switch (lookup.state) {
    case CacheLookup::State::Missing:
        status.problem = PictureProblem::Missing;
        break;
    case CacheLookup::State::Bad:
        status.state = PictureStatus::State::Bad;
        status.problem = lookup.problem;
        break;
    case CacheLookup::State::Valid:
        status.state = PictureStatus::State::Ready;
        status.cache_file = std::move(lookup.path);
        break;
    case CacheLookup::State::Absent:
        status.state = PictureStatus::State::Building;
        break;
    }
    return status;
}

std::unique_ptr<PieceCreator> open_piece_creator(WStringView picture, WStringView root, PictureStatus const& status)
{
    if (status.state == PictureStatus::State::Ready) {
        int const orientation = cache_orientation(picture).value_or(1);
        return upright_creator(std::make_unique<CachePieceCreator>(picture, CachePieceCreator::File { status.cache_file }), orientation);
    }
    auto file = std::make_unique<FilePieceCreator>(picture);
    int const orientation = file->orientation();
    return upright_creator(std::move(file), orientation);
}

bool build_picture_cache(WStringView picture, WStringView root, std::atomic<bool> const* stop, PictureProblem& problem)
{
    WString const cache_directory = cache_directory_of(root);
    if (!FileInfo(cache_directory).exists())
        create_directories(cache_directory);
    WString const name = find_cache_file(picture, root, IdentityCheck::Listing).path;
    if (name.empty()) {
        problem = PictureProblem::Missing;
        return false;
    }
    if (create_picture_cache(picture, name, stop, &problem))
        return true;
    // A picture that cannot be read is marked so, with its reason, until
    // the next search tries it again. A cache that could not be written
    // says nothing of the picture and leaves no mark.
    if (problem == PictureProblem::None || problem == PictureProblem::Storage)
        return false;
    if (auto identity = identify_picture(picture, root); identity && free_for_cache_file(name)) {
        auto const record = identity_record(*identity, problem);
        FileStream marker(name, OpenMode::Write);
        if (marker.write(record.data(), record.size()) != record.size()) {
            marker.close();
            platform::remove_file(expand_path(name));
        }
    }
    return false;
}

}
