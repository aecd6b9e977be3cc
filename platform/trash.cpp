// Delete to trash through GIO's g_file_trash, as the desktop's file managers do: the home trash
// ($XDG_DATA_HOME/Trash, created 0700 with its parents when missing) for files on the home's file
// system, the top-directory trash of another mount for the rest. (Qt 6.4's QFile::moveToTrash put
// files into a "files" folder inside the browsed folder when ~/.local/share did not exist, and
// retried for ever when a trash's "info" folder took no file.)
// GIO first: its headers name a structure member "signals", which Qt defines as a keyword.
#include <gio/gio.h>

#include "platform/trash.h"
#include "platform/file_name.h"

#include <QFileInfo>
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

// Hands the file to GIO's trash; true when it is there.
bool moveToTrash(const QByteArray& native) {
    GFile* file = g_file_new_for_path(native.constData());
    GError* error = nullptr;
    const bool trashed = g_file_trash(file, nullptr, &error);
    if (error) g_error_free(error);
    g_object_unref(file);
    return trashed;
}

} // namespace

DeleteOutcome deleteToTrash(const QString& path) {
    const QFileInfo info(path);
    const QString dir = info.absolutePath();
    const QByteArray native = pixmoor::encodeFileName(info.absoluteFilePath());
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0) return DeleteOutcome::Failed;
    // Nothing can take the file away from a read-only mount or a folder without write access.
    if (readOnlyFileSystem(dir) || !writableDirectory(dir)) return DeleteOutcome::Failed;
    if (moveToTrash(native)) return DeleteOutcome::Trashed;

    // No trash could take it: removed for good, as a delete without a trash would.
    if (::unlink(native.constData()) == 0) return DeleteOutcome::RemovedForGood;
    return DeleteOutcome::Failed;
}

} // namespace pixmoor
