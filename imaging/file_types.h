// The file types the picture and the image component load, by the file name's extension: the
// codec's image formats (from its format table), the program's own thumbnail files (.THB is a
// bitmap, .THJ a JPEG), icons, metafiles, the built-in bitmap resources (.RES) and the scrolling
// message files (.SCM, .CMS). The one place that turns a name into a way of loading it.
#pragma once

#include "imaging/codec/format_table.h"

#include <QString>
#include <QStringList>

namespace pixmoor {

enum class FileKind { Unknown, Image, Icon, Metafile, Resource, MessageFile, MessageList };

struct FileType {
    FileKind kind = FileKind::Unknown;
    codec::ImageFormat format = codec::ImageFormat::Bmp; // for FileKind::Image
};

// Upper-cased extension of a file name, dot included, cut to 4 characters (".TIFF" -> ".TIF",
// ".JPEG" -> ".JPE"), as the image component reads it; empty when the name has none.
QString loadExtension(const QString& fileName);

// How a file is loaded, by its name's extension as loadExtension reads it.
FileType fileTypeOf(const QString& fileName);

// The usual lower-case extension of a codec format ("bmp", "jpg", "tif", ...).
QString usualExtension(codec::ImageFormat format);

// The catalogue's image types, in menu order: "bmp", "gif", "ico", "jpg", "pcx", "png", "tif",
// "wmf".
QStringList catalogueTypes();

// Whether a file name belongs to a catalogue type, by its whole extension without regard to case:
// a codec type takes every extension of its format (.jpg, .jpeg and .jpe are JPEG; .tif and
// .tiff are TIFF), "ico" and "wmf" their own.
bool matchesCatalogueType(const QString& fileName, const QString& type);

} // namespace pixmoor
