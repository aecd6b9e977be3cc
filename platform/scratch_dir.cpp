// The private scratch directory: created 0700, never a shared world-writable folder, so the fixed
// scratch file names cannot be hijacked through symbolic links by another user.
#include "platform/scratch_dir.h"
#include "platform/cache_home.h"
#include "platform/file_name.h"

#include <QDir>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace pixmoor {

namespace {

QString baseDirectory() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) && QDir(runtime).exists())
        return runtime;
    return userCacheDirectory();
}

[[noreturn]] void fail(const QString& dir, const char* why) {
    throw std::runtime_error(QStringLiteral("Cannot use the scratch directory %1: %2")
                                 .arg(dir, QString::fromUtf8(why))
                                 .toStdString());
}

} // namespace

QString scratchDirectory() {
    const QString base = baseDirectory();
    if (!QDir().mkpath(base)) fail(base, "it cannot be created");
    const QString dir = QDir::cleanPath(base + "/pixmoor");
    const QByteArray native = pixmoor::encodeFileName(dir);

    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) fail(dir, std::strerror(errno));
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0) fail(dir, std::strerror(errno));
    if (!S_ISDIR(st.st_mode)) fail(dir, "it is not a directory");
    if (st.st_uid != ::getuid()) fail(dir, "it belongs to another user");
    if ((st.st_mode & 07777) != 0700 && ::chmod(native.constData(), 0700) != 0)
        fail(dir, std::strerror(errno));
    return dir;
}

} // namespace pixmoor
