// The user's cache directory (see cache_home.h).
#include "platform/cache_home.h"

#include <QDir>

namespace pixmoor {

QString userCacheDirectory() {
    const QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (cache.isEmpty() || !QDir::isAbsolutePath(cache)) return QDir::homePath() + "/.cache";
    return cache;
}

} // namespace pixmoor
