// The user's cache directory, as the desktop's directory conventions define it.
#pragma once

#include <QString>

namespace pixmoor {

// $XDG_CACHE_HOME when it is an absolute path, else ~/.cache (a relative value is ignored).
QString userCacheDirectory();

} // namespace pixmoor
