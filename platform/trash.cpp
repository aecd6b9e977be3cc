// Delete to trash. QFile::moveToTrash (Qt 6.4) retries for ever when the trash's "info" folder
// exists but takes no new file (a read-only file system, no write permission), so every trash it
// could pick is checked first, and a file that cannot be removed at all is never handed to it.
#include "platform/trash.h"
#include "platform/file_name.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStorageInfo>
#include <cerrno>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace pixmoor {

namespace {

bool writableDirectory(const QString& dir) {
    const QByteArray native = pixmoor::encodeFileName(dir);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    // access() also answers EROFS for a read-only mount, for root too.
    return ::access(native.constData(), W_OK | X_OK) == 0;
}

bool readOnlyFileSystem(const QString& dir) {
    struct statvfs vfs {};
    return ::statvfs(pixmoor::encodeFileName(dir).constData(), &vfs) == 0 &&
           (vfs.f_flag & ST_RDONLY);
}

// A trash whose info folder exists but cannot take a file would make Qt loop.
bool trashIsSafe(const QString& trash) {
    const QString info = trash + QStringLiteral("/info");
    struct stat st {};
    if (::lstat(pixmoor::encodeFileName(info).constData(), &st) != 0) return errno == ENOENT;
    return writableDirectory(info);
}

} // namespace

QStringList trashCandidates(const QString& path) {
    QStringList candidates;
    const QString uid = QString::number(::getuid());
    const QStorageInfo source(QFileInfo(path).absolutePath());
    const QStorageInfo home(QDir::home());
    if (source.isValid() && source != home) {
        const QString top = source.rootPath();
        const QString sep = top.endsWith(u'/') ? QString() : QStringLiteral("/");
        candidates << top + sep + QStringLiteral(".Trash/") + uid
                   << top + sep + QStringLiteral(".Trash-") + uid;
    }
    candidates << QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                      QStringLiteral("/Trash");
    return candidates;
}

DeleteOutcome deleteToTrash(const QString& path) {
    const QFileInfo info(path);
    const QString dir = info.absolutePath();
    if (!QFileInfo(path).exists() && !info.isSymLink()) return DeleteOutcome::Failed;
    // Nothing can take the file away from a read-only mount or a folder without write access.
    if (readOnlyFileSystem(dir) || !writableDirectory(dir)) return DeleteOutcome::Failed;

    bool safe = true;
    for (const QString& trash : trashCandidates(path)) safe = safe && trashIsSafe(trash);
    if (safe && QFile::moveToTrash(info.absoluteFilePath())) return DeleteOutcome::Trashed;

    // No trash could take it: removed for good, as a delete without a trash would.
    if (::unlink(pixmoor::encodeFileName(info.absoluteFilePath()).constData()) == 0)
        return DeleteOutcome::RemovedForGood;
    return DeleteOutcome::Failed;
}

} // namespace pixmoor
