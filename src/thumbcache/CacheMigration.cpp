#include "thumbcache/CacheMigration.h"

#include "base/Log.h"
#include "base/Paths.h"
#include "platform/FileMoves.h"
#include "platform/Files.h"
#include "platform/OwnFiles.h"
#include "thumbcache/CacheFile.h"
#include "thumbcache/CacheLocation.h"
#include "thumbcache/CacheOwnership.h"
#include "thumbcache/ScratchFiles.h"

#include <algorithm>
#include <mutex>

namespace qv {

namespace {

WString error_of(WStringView what, WStringView path)
{
    return WString(what) + u" " + WString(path) + u": " + from_utf8(platform::error_text(platform::last_move_error()));
}

// One old file into the new directory; false, with `error` set, when it
// could not be.
bool move_file_over(WStringView from, WStringView to, MigrationOptions const& options, CacheMigration& migration)
{
    if (platform::stat_path(to)) {
        ++migration.dropped;
        return true;
    }
    if (!options.always_copy) {
        switch (platform::rename_without_replacing(from, to)) {
        case platform::MoveOutcome::Moved:
            ++migration.renamed;
            return true;
        case platform::MoveOutcome::TargetExists:
            // A build of this program got there first: its file is as good.
            ++migration.dropped;
            return true;
        case platform::MoveOutcome::OtherFileSystem:
            break;
        case platform::MoveOutcome::Failed:
            migration.error = error_of(u"cannot move", from);
            return false;
        }
    }
    // Copied under a scratch name, which a build's clean-up removes should
    // this process die meanwhile, and renamed only once whole.
    ScratchFiles scratch(to);
    bool const copied = options.copy ? options.copy(from, scratch.cache) : platform::copy_file(from, scratch.cache);
    if (!copied) {
        migration.error = error_of(u"cannot copy", from);
        return false;
    }
    switch (platform::rename_without_replacing(scratch.cache, to)) {
    case platform::MoveOutcome::Moved:
        ++migration.copied;
        return true;
    case platform::MoveOutcome::TargetExists:
        ++migration.dropped;
        return true;
    default:
        migration.error = error_of(u"cannot rename the copy of", from);
        return false;
    }
}

}

CacheMigration move_cache_directory(WStringView from_path, WStringView to_path, MigrationOptions const& options)
{
    WString const from = strip_trailing_separator(expand_path(from_path));
    WString const to = strip_trailing_separator(expand_path(to_path));
    CacheMigration migration;
    // A link, or another user's directory, is never moved nor moved from:
    // what it holds is not known to be ours.
    platform::OwnDirectory old_directory(from);
    if (!old_directory.is_open()) {
        auto const state = old_directory.state();
        if (state != platform::PlaceState::Missing && state != platform::PlaceState::NotDirectory) {
            migration.outcome = CacheMigration::Outcome::LeftAlone;
            migration.error = from_utf8(platform::place_state_text(state));
        }
        return migration;
    }
    migration.outcome = CacheMigration::Outcome::Failed;
    if (!make_directories(directory_of(to))) {
        migration.error = u"cannot make " + directory_of(to);
        return migration;
    }
    auto const entries = old_directory.list();
    // Renamed whole only when everything in it is ours.
    bool const all_ours = std::all_of(entries.begin(), entries.end(), [&](platform::ListedEntry const& entry) {
        return !entry.is_directory && (is_scratch_file_name(entry.name) || is_own_cache_file(old_directory, entry.name));
    });
    if (!options.always_copy && all_ours && usable_cache_directory(to)) {
        switch (platform::rename_without_replacing(from, to)) {
        case platform::MoveOutcome::Moved:
            migration.renamed = 1;
            migration.outcome = CacheMigration::Outcome::Moved;
            return migration;
        case platform::MoveOutcome::TargetExists:
        case platform::MoveOutcome::OtherFileSystem:
            break;
        case platform::MoveOutcome::Failed:
            migration.error = error_of(u"cannot move", from);
            return migration;
        }
    }
    if (!make_directories(to) || !usable_cache_directory(to)) {
        migration.error = u"cannot make " + to;
        return migration;
    }
    // Copies of a move cut short: their process has gone.
    remove_stale_scratch_files(to);
    std::vector<WString> copied_from;
    for (auto const& entry : entries) {
        if (entry.is_directory)
            continue;
        WString const old_file = join_path(from, entry.name);
        // Scratch files are half-built caches of builds long gone.
        if (is_scratch_file_name(entry.name)) {
            copied_from.push_back(entry.name);
            ++migration.dropped;
            continue;
        }
        if (!is_own_cache_file(old_directory, entry.name)) {
            ++migration.kept;
            continue;
        }
        if (!move_file_over(old_file, join_path(to, entry.name), options, migration))
            return migration;
        if (platform::stat_path(old_file))
            copied_from.push_back(entry.name);
    }
    // Only now that all of it is in the new place.
    for (auto const& name : copied_from)
        old_directory.remove_file(name);
    migration.outcome = CacheMigration::Outcome::Moved;
    if (migration.kept > 0 || !platform::remove_directory(from))
        migration.error = u"the old directory keeps what is not a cache file";
    return migration;
}

WString migration_text(CacheMigration const& migration, WStringView from, WStringView to)
{
    WString const paths = u"{" + WString(from) + u"} to {" + WString(to) + u"}";
    switch (migration.outcome) {
    case CacheMigration::Outcome::Nothing:
        return {};
    case CacheMigration::Outcome::Failed:
        return u"old cache directory not moved: " + paths + u": " + migration.error;
    case CacheMigration::Outcome::LeftAlone:
        return u"old cache directory left alone, " + migration.error + u": {" + WString(from) + u"}";
    case CacheMigration::Outcome::Moved:
        break;
    }
    WString text = u"old cache directory moved: " + paths + u": ";
    if (migration.renamed == 1 && migration.copied == 0 && migration.dropped == 0)
        text += u"renamed whole";
    else
        text += to_wstring(migration.renamed) + u" files renamed, " + to_wstring(migration.copied) + u" copied, "
            + to_wstring(migration.dropped) + u" dropped (there already, or scratch files)";
    if (migration.kept > 0)
        text += u", " + to_wstring(migration.kept) + u" not cache files left";
    if (!migration.error.empty())
        text += u"; " + migration.error;
    return text;
}

WString move_old_document_caches()
{
    // The catalog's worker and the cache tool both start here; one move at
    // a time within a process.
    static std::mutex moving;
    std::lock_guard lock(moving);
    WString const from = strip_trailing_separator(expand_path(u"%my_documents%")) + u"\\" + kCacheDirectory;
    WString const to = cache_directory_of(u"%my_documents%\\");
    WString const text = migration_text(move_cache_directory(from, to), from, to);
    if (!text.empty())
        Log::get() << text << u"\n";
    return text;
}

}
