// Enumeration of the catalogue: the files of one image type in one directory, in the order the
// directory listing returns them.
#pragma once

#include <QString>
#include <QStringList>

namespace pixmoor {

// Whether a bare file name belongs to the image type of ext ("bmp", "jpg", ...). The match is
// case-insensitive; the JPEG type also takes .jpeg and .jpe, the TIFF type .tiff.
bool matchesImageType(const QString& fileName, const QString& ext);

// The bare names of the files of dir whose names match ext, in directory-listing order (not
// sorted). Hidden files and files reached through symbolic links are included; directories,
// broken links, FIFOs, sockets and devices are not (opening a FIFO would block the build). A
// directory that cannot be read gives an empty list.
QStringList enumerateImageFiles(const QString& dir, const QString& ext);

} // namespace pixmoor
