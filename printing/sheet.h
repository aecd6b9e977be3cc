// Thumbnail sheets: every item of the catalogue, in list order, as an enlarged thumbnail with its
// file name under it, cell after cell, row after row, page after page, as one print document.
#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>
#include <functional>

class QPrinter;
class QWidget;

namespace pixmoor {

struct CatalogueType;
class TImage;
class ImageLoader;

struct SheetRun {
    QString directory;    // the catalogue's directory; the captions are file names in it
    QStringList captions; // every item, in list order
    // The catalogue's type: its files are read through the image loader (the codec formats, also
    // when null; decoded ahead) or through the picture control (metafiles, icons).
    const CatalogueType* type = nullptr;
    QSize thumb{70, 70};               // ThumbWidth x ThumbHeight
    ImageLoader* loader = nullptr;     // reads the codec formats (the work form's component's)
    TImage* pictureControl = nullptr;  // reads metafiles and icons (the work form's)
    QWidget* parent = nullptr;         // the error boxes show over it
    std::function<void()> beforeItem;  // runs before each item (pending messages)
    std::function<void(int)> progress; // the progress position after each item, 0 to 100
    // Decode every codec file at its full size through the loader, not ahead on worker
    // threads at the smallest JPEG scale that still covers the cell (the tests compare the two).
    bool fullDecode = false;
};

// The bitmap of one cell, exactly 3 x thumb: the picture stretched over it (metafiles as
// vectors, codec pictures scaled smoothly), or for an icon the icon at its own size at the
// top-left of a white bitmap 15 pixels smaller than the thumbnail, enlarged pixel by pixel.
// Throws when the file cannot be read; the loader reports codec failures itself first.
QImage makeCellBitmap(const QString& path, const SheetRun& run);

// Prints the sheet on printer. A file that cannot be read is reported with "Error Creating Thumb
// Nail For " + its name and gets a cell with "Error" in its corner; the sheet goes on. Any other
// error (the printer failing) aborts the print job and is thrown on.
void printThumbnailSheet(QPrinter& printer, const SheetRun& run);

} // namespace pixmoor
