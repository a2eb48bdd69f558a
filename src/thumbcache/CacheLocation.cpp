#include "thumbcache/CacheLocation.h"

#include "base/Paths.h"
#include "thumbcache/CacheFile.h"

namespace qv {

WString cache_directory_of(WStringView root) { return strip_trailing_separator(root) + u"\\" + kCacheDirectory; }

}
