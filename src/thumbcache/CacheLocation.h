#pragma once

// Where cache files live. The pictures folder's go to the user's cache
// directory, "$XDG_CACHE_HOME/quilvane/documents" (by default
// "~/.cache/quilvane/documents"), so that nothing of the program lands in
// a folder people copy, back up or sync. A memory card keeps its own in
// "!quilvanecache" at its root, so that they travel with it; a card that
// cannot be written keeps them in ".../quilvane/cards/<its directory
// name>". Any other root (a folder opened by itself) has a directory of
// its own under ".../quilvane/folders", named after its whole path.

#include "core/WString.h"

#include <functional>

namespace qv {

// The directory that holds the cache files of the pictures under the
// search root `root` (program path form, with or without its trailing
// separator); returned without a trailing separator. Remembered per root:
// cheap enough to ask for every picture, from any thread. Whether a card
// can be written is asked again after a few seconds, since a card may be
// mounted again read-only or writable.
WString cache_directory_of(WStringView root);

// The search root (with its trailing separator) whose caches
// `cache_directory` holds, as given by cache_directory_of or as the
// directory's place tells; empty when neither knows.
WString root_of_cache_directory(WStringView cache_directory);

// The program's directory in the user's cache directory:
// $XDG_CACHE_HOME/quilvane, else $HOME/.cache/quilvane; program form.
WString user_cache_directory();

// The name of a folder's cache directory under ".../quilvane/folders":
// its whole path, readable, one name per path; and back (nothing for a
// name that does not come from a path, as those of paths too long for
// one name).
WString folder_cache_name(WStringView expanded_path);
WString folder_of_cache_name(WStringView name);

// Moves the old cache directory of the pictures folder (its
// "!quilvanecache") to where its caches now live, once (see
// CacheMigration.h), and logs it. Safe to call at every start: without an
// old directory it does nothing. Returns what it logged.
WString move_old_document_caches();

namespace cache_location_seam {

// Answers in place of the file system whether a card refuses writes;
// empty for the file system's answer. Forgets every remembered place.
void set_card_refuses_writes(std::function<bool(WStringView card)> check);
// Forgets every remembered place, as after a change of the environment.
void forget();

}

}
