// Printing one image file as one document at the top-left of the printable area: a codec
// picture at three printer pixels per image pixel through the image component (scaled down to
// fit the printable area when that would not fit it), a metafile stretched over a fixed square
// and an icon at its own size through the picture control.
#pragma once

#include <QRect>
#include <QSize>
#include <QString>

class QPrinter;

namespace pixmoor {

class Picture;
class TImage;
class TPMultiImage;

// The square a metafile or icon is printed into, in printer device pixels.
inline constexpr QRect kPicturePrintRect{0, 0, 800, 800};

// The printed size of a codec picture of image pixels on a printable area of page device
// pixels: three printer pixels per image pixel, or, where that would not fit, the largest size
// of the same proportions that fits.
QSize printedImageSize(QSize image, QSize page);

// Prints picture drawn into target as one document; an empty picture prints nothing. Throws
// std::runtime_error when printing fails (the job is then cancelled).
void printPicture(QPrinter& printer, const Picture& picture, const QRect& target);

// Prints the file name: through pictureControl when pictureRoute (metafiles and icons; a file it
// cannot read throws PictureError before any document begins), else through component, which
// loads it, reports a file it cannot read itself, and prints nothing then.
void printImageFile(const QString& name, bool pictureRoute, TImage& pictureControl,
                    TPMultiImage& component);

} // namespace pixmoor
