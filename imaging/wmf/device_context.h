// The device context of a playback: the attributes records set (selected objects, colours,
// modes, position), the mapping from logical units to the device with its transform, clipping
// in device pixels, and the stack of states SaveDC keeps.
#pragma once

#include "imaging/wmf/device.h"
#include "imaging/wmf/metafile.h"
#include "imaging/wmf/objects.h"
#include "imaging/wmf/warnings.h"

#include <QPainterPath>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QRegion>
#include <QTransform>
#include <cmath>
#include <cstdint>
#include <vector>

namespace pixmoor::wmf::detail {

enum MapMode {
    MmText = 1,
    MmLoMetric,
    MmHiMetric,
    MmLoEnglish,
    MmHiEnglish,
    MmTwips,
    MmIsotropic,
    MmAnisotropic
};

// Everything SaveDC keeps and RestoreDC brings back.
struct DcState {
    LogPen pen;
    Brush brush; // kind and colours; patterns are device-independent
    LogFont font;
    Palette palette;
    QColor textColor = Qt::black, backgroundColor = Qt::white;
    bool opaqueBackground = true;
    int rop2 = R2CopyPen;
    Qt::FillRule fillRule = Qt::OddEvenFill;
    int mapMode = MmAnisotropic;
    QPointF windowOrg, windowExt, viewportOrg, viewportExt;
    QPointF position; // logical
    bool clipped = false;
    QRegion clip; // device pixels
    std::uint16_t textAlign = 0;
    int charExtra = 0;
};

// The current state is the DcState part; records set its attributes directly and call
// updateTransform() after changing the mapping, and change the clip through setClip.
class DeviceContext : public DcState {
public:
    // Maps the metafile's frame onto target; identity maps logical units 1:1 (the bounds pass).
    // viewportScale turns the viewport records' device units into the picture's own pixels.
    DeviceContext(const Metafile& mf, const QRectF& target, bool identity, QPointF viewportScale,
                  Warnings& warnings);

    bool identity() const { return identity_; }

    // Mapping: logical to device.
    void updateTransform();
    const QTransform& transform() const { return transform_; }
    QPointF map(qreal x, qreal y) const { return transform_.map(QPointF(x, y)); }
    QRectF mapRect(qreal left, qreal top, qreal right, qreal bottom) const {
        return QRectF(map(left, top), map(right, bottom)).normalized();
    }
    QPointF scaledViewport(qreal x, qreal y) const {
        return QPointF(x * viewportScale_.x(), y * viewportScale_.y());
    }
    qreal scaleX() const { return std::abs(transform_.m11()); }
    qreal scaleY() const { return std::abs(transform_.m22()); }

    // The state as the device takes it: sizes in device pixels.
    GraphicsState state() const;

    // SaveDC and RestoreDC (level: negative, that many back; positive, an absolute level).
    void save();
    void restore(int level);

    // Clipping. A region of more than limits::kMaxClipRects rectangles is refused with a warning.
    void setClip(const QRegion& region);
    void clearClip();
    void clipToRect(const QRectF& rect, bool exclude);
    // A device rectangle as the whole pixels GDI would clip to: left and top included, right
    // and bottom excluded.
    static QRect pixelRect(const QRectF& r);

    // A region object (logical units) in device coordinates: as a path, and as whole pixels.
    QPainterPath regionPath(const QRegion& region) const;
    QRegion deviceRegion(const QRegion& region) const;

private:
    const Metafile& mf_;
    QRectF target_;
    bool identity_;
    QPointF viewportScale_;
    Warnings& warnings_;
    std::vector<DcState> saved_;
    int savedOverflow_ = 0;
    QTransform transform_;
};

} // namespace pixmoor::wmf::detail
