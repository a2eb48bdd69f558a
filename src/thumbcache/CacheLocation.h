#pragma once

#include "core/WString.h"

namespace qv {

// The directory that holds the cache files of the pictures under the
// search root `root` (program path form, with or without its trailing
// separator); returned without a trailing separator.
WString cache_directory_of(WStringView root);

}
