// The catalogue's directory search: type matching by extension, and the listing itself.
#include "catalogue/enumeration.h"

#include "imaging/file_types.h"
#include "platform/file_name.h"

#include <dirent.h>
#include <sys/stat.h>

namespace pixmoor {

bool matchesImageType(const QString& fileName, const QString& ext) {
    return matchesCatalogueType(fileName, ext);
}

QStringList enumerateImageFiles(const QString& dir, const QString& ext) {
    QStringList names;
    if (dir.isEmpty()) return names;
    // readdir rather than QDir: a name is whatever bytes the file system holds, and Qt's
    // conversion would turn a name that is not UTF-8 into one that opens nothing. Listed are
    // regular files and links to regular files, in readdir's order: no directory, dangling
    // link, FIFO, socket or device (reading a FIFO would hang the build, a device would feed it
    // endless bytes).
    DIR* stream = ::opendir(encodeFileName(dir).constData());
    if (!stream) return names;
    const int dirFd = ::dirfd(stream);
    while (const dirent* entry = ::readdir(stream)) {
        const QString name = decodeFileName(entry->d_name);
        if (!matchesImageType(name, ext)) continue; // also drops "." and ".."
        bool regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat st {};
            regular = ::fstatat(dirFd, entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode);
        }
        if (regular) names.append(name);
    }
    ::closedir(stream);
    return names;
}

} // namespace pixmoor
