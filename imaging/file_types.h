// The table of picture types, by the file name's extension: the codec's image formats (from its
// format table), the program's own thumbnail files (.THB is a bitmap, .THJ a JPEG), icons,
// metafiles, the built-in bitmap resources (.RES) and the scrolling message files (.SCM, .CMS).
// The one place that turns a name into a way of loading it: each type names the loader's load
// and information reader for its family (codec bitmap, drawn picture, resource, message file).
#pragma once

#include "imaging/codec/format_table.h"

#include <QSize>
#include <QString>
#include <QStringList>
#include <optional>
#include <span>

namespace pixmoor {

class ImageLoader;

struct PictureType {
    // How the loader loads a file of this type into its picture, information and status
    // (jpegScale 0: the plain load; otherwise the thumbnail load for target), and how it reads
    // the file's information.
    void (ImageLoader::*load)(const PictureType& type, const QString& name, int jpegScale,
                              QSize target);
    bool (ImageLoader::*readInfo)(const QString& name);
    const codec::FormatEntry* codec = nullptr; // the format of a codec bitmap type, else null
    bool builtIn = false;                      // compiled into the program: a load needs no file
    bool messageList = false; // a scrolling message list rather than a message file
};

// Upper-cased extension of a file name, dot included, cut to 4 characters (".TIFF" -> ".TIF",
// ".JPEG" -> ".JPE"), as the image component reads it; empty when the name has none.
QString loadExtension(const QString& fileName);

// The type of a file, by its name's extension as loadExtension reads it; null when unknown.
const PictureType* pictureTypeOf(const QString& fileName);
// The codec format a file is loaded through, by its name; none for the other types.
std::optional<codec::ImageFormat> codecFormatOf(const QString& fileName);

// The usual lower-case extension of a codec format ("bmp", "jpg", "tif", ...).
QString usualExtension(codec::ImageFormat format);

// Bitmap sides for the types the codec library does not read, when conversion draws them.
inline constexpr int kMetafileBitmapSide = 300;
inline constexpr int kIconBitmapSide = 32;

// A type the catalogue shows: its files, how they become thumbnails, and what the main window
// does differently for it.
struct CatalogueType {
    const char* name;                // "bmp" ... "wmf": the menu's type, as settings store it
    const codec::FormatEntry* codec; // the format its files load through; null: drawn by the
                                     // picture (icons, metafiles)
    int drawnSide;                   // the side of the white bitmap conversion draws a file of
                                     // a drawn type into; 0 for codec types
    bool keepsOwnSize;               // drawn at its own size, never stretched (icons)
    bool iconLists;                  // fixed 32 x 32 image lists of icons with their own
                                     // transparency; no thumbnail size, no clipboard
    bool pictureControl;             // loaded, viewed and made into thumbnails by the picture
                                     // control rather than the image component (metafiles)
};

// The catalogue's types, in menu order: "bmp", "gif", "ico", "jpg", "pcx", "png", "tif", "wmf".
std::span<const CatalogueType> catalogueTypeTable();
// The catalogue type of that name, or null.
const CatalogueType* catalogueTypeNamed(const QString& name);
QStringList catalogueTypes();

// Whether a file name belongs to a catalogue type, by its whole extension without regard to case:
// a codec type takes every extension of its format (.jpg, .jpeg and .jpe are JPEG; .tif and
// .tiff are TIFF), "ico" and "wmf" their own.
bool matchesCatalogueType(const QString& fileName, const QString& type);

} // namespace pixmoor
