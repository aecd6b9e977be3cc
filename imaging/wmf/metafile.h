// A Windows metafile (WMF): its bytes, header and record list, checked once when it is read,
// and its playback onto an abstract device (see device.h) or a QPainter.
#pragma once

#include "imaging/codec/limits.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

class QPainter;

namespace pixmoor::wmf {

class Device;

// Raised when data is not a readable metafile; what() is a text fit for the user.
class MetafileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One record of the stream: its function number and where its parameters are.
struct Record {
    std::uint16_t function = 0;
    std::uint32_t offset = 0; // of the record's first byte in Metafile::bytes()
    std::uint32_t size = 0;   // in bytes, the 6-byte record head included
};

class Metafile {
public:
    // Longest side of a metafile's own size in pixels, and the largest file read (limits.h).
    static constexpr int kMaxPixelSide = limits::kMaxMetafileSide;
    static constexpr qint64 kMaxFileBytes = limits::kMaxMetafileBytes;

    // Throw MetafileError when the data is not a metafile (bad or truncated header).
    static std::shared_ptr<const Metafile> fromData(const QByteArray& data);
    static std::shared_ptr<const Metafile> fromFile(const QString& path);

    // The original file, as it goes to the clipboard ("image/x-wmf").
    const QByteArray& bytes() const { return bytes_; }

    bool isPlaceable() const { return placeable_; }
    QRect boundingBox() const { return box_; } // the placeable header's box, logical units
    int unitsPerInch() const { return unitsPerInch_; }
    int objectCount() const { return objectCount_; }
    const std::vector<Record>& records() const { return records_; }
    // Why the record stream ends before its end-of-file record (a record of size 0, or one that
    // runs past the end of the data); empty when it ends cleanly.
    const QString& stopReason() const { return stopReason_; }

    // The logical rectangle that fills the picture's rectangle: the placeable box, else the
    // window origin and extent, else the bounds of what is drawn. Extents may be negative.
    QRectF frame() const { return frame_; }
    // The picture's own size in pixels: the placeable box at 96 pixels per inch, else the
    // window extent, else the drawing's bounds (one logical unit a pixel).
    QSize size() const { return size_; }

    // Plays every record onto device, mapping the frame onto target (device coordinates).
    // Problems met on the way (bad object indexes, short records) are appended to warnings.
    void play(Device& device, const QRectF& target, QStringList* warnings = nullptr) const;

private:
    Metafile() = default;

    QByteArray bytes_;
    bool placeable_ = false;
    QRect box_;
    int unitsPerInch_ = 0;
    int objectCount_ = 0;
    std::vector<Record> records_;
    QString stopReason_;
    QRectF frame_;
    QSize size_;
    // Viewport records are in the device units of the program that wrote the file; the first
    // viewport extent it sets stands for the picture's own size, and this scale maps them so.
    QPointF viewportScale_{1, 1};
    friend class PlayerAccess;
};

// Draws the metafile scaled into target (as vectors), clipped to target.
void drawMetafile(QPainter& painter, const Metafile& metafile, const QRectF& target,
                  QStringList* warnings = nullptr);

// The metafile rendered into an image of the given size (its own size when empty) on background.
QImage renderMetafile(const Metafile& metafile, QSize size = {}, QColor background = Qt::white,
                      QStringList* warnings = nullptr);

} // namespace pixmoor::wmf
