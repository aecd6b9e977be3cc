// The catalogue's directory search: type matching by extension, and the listing itself.
#include "catalogue/enumeration.h"

#include "imaging/codec/regular_file.h"
#include "imaging/file_types.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace pixmoor {

bool matchesImageType(const QString& fileName, const QString& ext) {
    return matchesCatalogueType(fileName, ext);
}

QStringList enumerateImageFiles(const QString& dir, const QString& ext) {
    QStringList names;
    if (dir.isEmpty()) return names;
    // QDir::Files follows symbolic links and drops directories and dangling links; without
    // QDir::System no FIFO, socket or device is listed, but a link to one is: only links whose
    // target is a regular file are kept (reading a FIFO would hang the build, a device would
    // feed it endless bytes). The iterator keeps readdir's order.
    QDirIterator it(dir, QDir::Files | QDir::Hidden);
    while (it.hasNext()) {
        it.next();
        const QString name = it.fileName();
        if (!matchesImageType(name, ext)) continue;
        if (it.fileInfo().isSymLink() &&
            !codec::isRegularFile(QFile::encodeName(it.filePath()).toStdString()))
            continue;
        names.append(name);
    }
    return names;
}

QString joinPath(const QString& dir, const QString& name) {
    if (dir.endsWith(u'/')) return dir + name;
    return dir + u'/' + name;
}

} // namespace pixmoor
