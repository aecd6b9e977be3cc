// Opening picture files on the Qt side: like the codec's readers, only regular files are opened,
// judged on the descriptor, so a link to a FIFO or a device in a browsed folder is refused.
#pragma once

#include "imaging/codec/regular_file.h"
#include "platform/file_name.h"

#include <QFile>
#include <QString>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace pixmoor {

// Opens `file` (not yet open) read-only on path. Returns false with errorText set when the path
// cannot be opened or is not a regular file.
inline bool openImageFile(QFile& file, const QString& path, QString& errorText) {
    if (path.startsWith(u':')) { // Qt resources are compiled in: nothing can block there
        file.setFileName(path);
        if (file.open(QIODevice::ReadOnly)) return true;
        errorText = file.errorString();
        return false;
    }
    const int fd = codec::openRegularFile(pixmoor::nativePath(path));
    if (fd < 0) {
        errorText = errno == EINVAL ? QStringLiteral("Not a regular file")
                                    : QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        errorText = file.errorString();
        return false;
    }
    return true;
}

} // namespace pixmoor
