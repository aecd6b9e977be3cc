// The device context: mapping (window onto viewport onto the target), the graphics state handed
// to the device, SaveDC/RestoreDC with a bounded stack, and clipping in whole device pixels.
#include "imaging/wmf/device_context.h"

#include "imaging/codec/limits.h"

#include <QPolygonF>
#include <algorithm>

namespace pixmoor::wmf::detail {

DeviceContext::DeviceContext(const Metafile& mf, const QRectF& target, bool identity,
                             QPointF viewportScale, Warnings& warnings)
    : mf_(mf), target_(target), identity_(identity), viewportScale_(viewportScale),
      warnings_(warnings) {
    const QRectF frame = mf.frame();
    windowOrg = frame.topLeft();
    windowExt = QPointF(frame.width(), frame.height());
    viewportOrg = QPointF(0, 0);
    const QSize natural = mf.size();
    viewportExt = QPointF(natural.width(), natural.height());
    updateTransform();
}

// Logical to device: the window onto the viewport (nominal pixels of the picture's own size),
// then the picture's own size onto the target rectangle.
void DeviceContext::updateTransform() {
    if (identity_) {
        transform_ = QTransform();
        return;
    }
    auto nonZero = [](qreal v) { return v == 0 ? 1.0 : v; };
    const qreal sx = nonZero(viewportExt.x()) / nonZero(windowExt.x());
    const qreal sy = nonZero(viewportExt.y()) / nonZero(windowExt.y());
    const QSize natural = mf_.size();
    const qreal fx = target_.width() / natural.width();
    const qreal fy = target_.height() / natural.height();
    // x_target = target.x + fx * vpOrg + (x - winOrg) * fx * sx
    qreal tx = fx * sx, ty = fy * sy;
    if (mapMode == MmIsotropic) {
        // Equal scales on the target, as GDI keeps them for any viewport it is given.
        const qreal s = std::min(std::abs(tx), std::abs(ty));
        tx = std::copysign(s, tx);
        ty = std::copysign(s, ty);
    }
    transform_ = QTransform(tx, 0, 0, ty, target_.x() + fx * viewportOrg.x() - tx * windowOrg.x(),
                            target_.y() + fy * viewportOrg.y() - ty * windowOrg.y());
}

GraphicsState DeviceContext::state() const {
    GraphicsState gs;
    gs.pen.style = pen.style & 0x0F;
    gs.pen.width = pen.width * scaleX();
    gs.pen.color = pen.color;
    gs.pen.endCap = (pen.style >> 8) & 0x0F;
    gs.pen.join = (pen.style >> 12) & 0x0F;
    gs.brush = brush;
    gs.font.face = font.face;
    gs.font.height = std::abs(font.height) * scaleY();
    gs.font.cellHeight = font.height > 0;
    gs.font.width = std::abs(font.width) * scaleX();
    // Text follows the picture when it is stretched out of its own proportions.
    const QSize natural = mf_.size();
    if (!identity_ && target_.height() > 0 && natural.width() > 0)
        gs.font.stretch =
            (target_.width() / natural.width()) / (target_.height() / natural.height());
    gs.font.escapement = font.escapement / 10.0;
    gs.font.weight = font.weight;
    gs.font.italic = font.italic;
    gs.font.underline = font.underline;
    gs.font.strikeOut = font.strikeOut;
    gs.font.charset = font.charset;
    if (gs.font.height == 0) // the default font: about 12 nominal pixels
        gs.font.height = 12 * target_.height() / std::max(1, mf_.size().height());
    gs.textColor = textColor;
    gs.backgroundColor = backgroundColor;
    gs.opaqueBackground = opaqueBackground;
    gs.rop2 = rop2;
    gs.fillRule = fillRule;
    gs.clipped = clipped;
    gs.clip = clip;
    gs.textAlign = textAlign;
    gs.charExtra = charExtra * scaleX();
    return gs;
}

void DeviceContext::save() {
    if (saved_.size() < std::size_t(limits::kMaxSaveDepth))
        saved_.push_back(static_cast<const DcState&>(*this));
    else
        ++savedOverflow_; // too deep: later restores of these levels keep the current state
}

void DeviceContext::restore(int level) {
    // Negative: that many levels back; positive: an absolute level (1 is the first save).
    const int depth = int(saved_.size()) + savedOverflow_;
    const int target = level < 0 ? depth + level : level - 1;
    if (level == 0 || target < 0 || target >= depth) {
        warnings_.add(QStringLiteral("no saved state %1 to restore").arg(level));
        return;
    }
    int drop = depth - target; // states popped; the last one popped becomes current
    while (drop > 0 && savedOverflow_ > 0) {
        --savedOverflow_;
        --drop;
    }
    if (drop == 0) return;
    saved_.resize(saved_.size() - std::size_t(drop - 1));
    static_cast<DcState&>(*this) = std::move(saved_.back());
    saved_.pop_back();
    updateTransform();
}

void DeviceContext::setClip(const QRegion& region) {
    if (region.rectCount() > limits::kMaxClipRects) {
        warnings_.add(QStringLiteral("clipping region is too complex; clip change ignored"));
        return;
    }
    clip = region;
    clipped = true;
}

void DeviceContext::clearClip() {
    clip = QRegion();
    clipped = false;
}

QRect DeviceContext::pixelRect(const QRectF& r) {
    auto clamp = [](qreal v) {
        if (!std::isfinite(v)) return 0; // a degenerate mapping (extents scaled to infinity)
        return int(std::clamp<qreal>(std::round(v), -(1 << 28), 1 << 28));
    };
    const int left = clamp(r.left()), top = clamp(r.top());
    return QRect(left, top, std::max(0, clamp(r.right()) - left),
                 std::max(0, clamp(r.bottom()) - top));
}

void DeviceContext::clipToRect(const QRectF& rect, bool exclude) {
    const QRegion r(pixelRect(rect));
    if (!clipped) {
        setClip(exclude ? QRegion(pixelRect(target_.adjusted(-1, -1, 1, 1))).subtracted(r) : r);
        return;
    }
    setClip(exclude ? clip.subtracted(r) : clip.intersected(r));
}

QPainterPath DeviceContext::regionPath(const QRegion& region) const {
    QPainterPath path;
    for (const QRect& r : region) path.addPolygon(transform_.map(QPolygonF(QRectF(r))));
    path.closeSubpath();
    return path;
}

QRegion DeviceContext::deviceRegion(const QRegion& region) const {
    QRegion device;
    for (const QRect& r : region) device += pixelRect(transform_.mapRect(QRectF(r)));
    return device;
}

} // namespace pixmoor::wmf::detail
