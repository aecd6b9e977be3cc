// The window-free pieces of the catalogue build: drawing a thumbnail from a picture, the "Error"
// and failed-icon thumbnails, the progress position, the file count and the Date sub-item.
#pragma once

#include <QDateTime>
#include <QImage>
#include <QSize>
#include <QString>

namespace pixmoor {

class Picture;

// A white bitmap of size with source stretched over all of it (the aspect ratio is not kept).
// An empty picture leaves it white.
QImage drawThumbnail(const Picture& source, QSize size);
// A bitmap already scaled to fill size, stretched the same way, smoothly.
QImage stretchToThumbnail(const QImage& source, QSize size);
// A white bitmap of size (device pixels) with "Error" written at its top-left corner in the
// default font, at the size text has on a screen of that device pixel ratio.
QImage errorThumbnail(QSize size, qreal devicePixelRatio = 1);
// What an icon that could not be loaded shows: a transparent square with a grey outline and a
// red cross, so its item is plainly marked and every later item keeps its own thumbnail.
QImage failedIconThumbnail(QSize size);

// The progress bar's position after file k of count: k / count x 100, halves to even.
int progressPosition(int k, int count);
// "0 Files", "1 File", "37 Files".
QString fileCountText(int count);
// The Date sub-item: the locale's short date, then the long time unless the time is midnight.
QString fileDateText(const QDateTime& stamp);

} // namespace pixmoor
