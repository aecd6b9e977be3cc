// Drawing metafile records with QPainter. Geometry arrives in device coordinates, so the
// painter keeps its own transform and GDI's device-pixel hatches stay device pixels.
#include "imaging/wmf/qpainter_device.h"
#include "imaging/wmf/metafile.h"

#include <QFontMetricsF>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace pixmoor::wmf {
namespace {

// Saves the painter's state for one operation and restores it on every path.
class PainterScope {
public:
    explicit PainterScope(QPainter& p) : p_(p) { p_.save(); }
    ~PainterScope() { p_.restore(); }
    PainterScope(const PainterScope&) = delete;
    PainterScope& operator=(const PainterScope&) = delete;

private:
    QPainter& p_;
};

QPen makePen(const Pen& pen, const QColor& colour) {
    if (pen.style == PsNull) return QPen(Qt::NoPen);
    QPen qpen(colour);
    qpen.setWidthF(pen.width <= 0 ? 1.0 : std::max<qreal>(1.0, pen.width));
    switch (pen.style) {
    case PsDash:
        qpen.setStyle(Qt::DashLine);
        break;
    case PsDot:
        qpen.setStyle(Qt::DotLine);
        break;
    case PsDashDot:
        qpen.setStyle(Qt::DashDotLine);
        break;
    case PsDashDotDot:
        qpen.setStyle(Qt::DashDotDotLine);
        break;
    default:
        qpen.setStyle(Qt::SolidLine);
        break;
    }
    qpen.setCapStyle(pen.endCap == 1   ? Qt::SquareCap
                     : pen.endCap == 2 ? Qt::FlatCap
                                       : Qt::RoundCap);
    qpen.setJoinStyle(pen.join == 1   ? Qt::BevelJoin
                      : pen.join == 2 ? Qt::MiterJoin
                                      : Qt::RoundJoin);
    return qpen;
}

Qt::BrushStyle hatchStyle(int hatch) {
    switch (hatch) {
    case 0:
        return Qt::HorPattern;
    case 1:
        return Qt::VerPattern;
    case 2:
        return Qt::FDiagPattern; // HS_FDIAGONAL: "\\\"
    case 3:
        return Qt::BDiagPattern; // HS_BDIAGONAL: "///"
    case 4:
        return Qt::CrossPattern;
    default:
        return Qt::DiagCrossPattern;
    }
}

QPainter::CompositionMode rop2Mode(int rop2) {
    switch (rop2) {
    case R2NotMergePen:
        return QPainter::RasterOp_NotSourceAndNotDestination;
    case R2MaskNotPen:
        return QPainter::RasterOp_NotSourceAndDestination;
    case R2NotCopyPen:
        return QPainter::RasterOp_NotSource;
    case R2MaskPenNot:
        return QPainter::RasterOp_SourceAndNotDestination;
    case R2Not:
        return QPainter::RasterOp_NotDestination;
    case R2XorPen:
        return QPainter::RasterOp_SourceXorDestination;
    case R2NotMaskPen:
        return QPainter::RasterOp_NotSourceOrNotDestination;
    case R2MaskPen:
        return QPainter::RasterOp_SourceAndDestination;
    case R2NotXorPen:
        return QPainter::RasterOp_NotSourceXorDestination;
    case R2MergeNotPen:
        return QPainter::RasterOp_NotSourceOrDestination;
    case R2MergePenNot:
        return QPainter::RasterOp_SourceOrNotDestination;
    case R2MergePen:
        return QPainter::RasterOp_SourceOrDestination;
    default:
        return QPainter::CompositionMode_SourceOver;
    }
}

// The source raster operations QPainter can express; false for the others.
bool ropMode(std::uint32_t rop, QPainter::CompositionMode& mode) {
    switch (rop) {
    case RopSrcCopy:
        mode = QPainter::CompositionMode_SourceOver;
        return true;
    case RopSrcPaint:
        mode = QPainter::RasterOp_SourceOrDestination;
        return true;
    case RopSrcAnd:
        mode = QPainter::RasterOp_SourceAndDestination;
        return true;
    case RopSrcInvert:
        mode = QPainter::RasterOp_SourceXorDestination;
        return true;
    case RopNotSrcCopy:
        mode = QPainter::RasterOp_NotSource;
        return true;
    case RopSrcErase:
        mode = QPainter::RasterOp_SourceAndNotDestination;
        return true;
    case RopNotSrcErase:
        mode = QPainter::RasterOp_NotSourceAndNotDestination;
        return true;
    case RopMergePaint:
        mode = QPainter::RasterOp_NotSourceOrDestination;
        return true;
    default:
        return false;
    }
}

bool usesNoSource(std::uint32_t rop) {
    // A ternary ROP ignores the source when its truth table is the same for S=0 and S=1.
    const std::uint32_t index = (rop >> 16) & 0xFF;
    return ((index >> 2) & 0x33) == (index & 0x33);
}

} // namespace

QPainterDevice::QPainterDevice(QPainter& painter)
    : painter_(painter),
      rasterOps_(painter.paintEngine() &&
                 painter.paintEngine()->hasFeature(QPaintEngine::RasterOpModes)) {}

void QPainterDevice::applyClip(const GraphicsState& gs) {
    if (gs.clipped)
        painter_.setClipRegion(gs.clip,
                               painter_.hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
}

bool QPainterDevice::applyRop2(const GraphicsState& gs) {
    if (gs.rop2 == R2Nop) return false;
    const bool plain = gs.rop2 == R2CopyPen || gs.rop2 == R2Black || gs.rop2 == R2White;
    painter_.setRenderHint(QPainter::Antialiasing, plain);
    if (!plain && rasterOps_) painter_.setCompositionMode(rop2Mode(gs.rop2));
    return true;
}

void QPainterDevice::fillWithBrush(const GraphicsState& gs, const QPainterPath& path,
                                   const Brush& brush) {
    QColor colour = brush.color;
    if (gs.rop2 == R2Black)
        colour = Qt::black;
    else if (gs.rop2 == R2White)
        colour = Qt::white;
    switch (brush.kind) {
    case Brush::Null:
        return;
    case Brush::Solid:
        painter_.fillPath(path, colour);
        return;
    case Brush::Hatched:
        // Hatch gaps show the background colour in opaque mode.
        if (gs.opaqueBackground) painter_.fillPath(path, gs.backgroundColor);
        painter_.fillPath(path, QBrush(colour, hatchStyle(brush.hatch)));
        return;
    case Brush::Pattern:
        painter_.fillPath(path, brush.pattern.isNull() ? QBrush(colour) : QBrush(brush.pattern));
        return;
    }
}

void QPainterDevice::drawShape(const GraphicsState& gs, const QPainterPath& path, bool fill) {
    PainterScope scope(painter_);
    applyClip(gs);
    if (!applyRop2(gs)) return;
    if (fill) {
        QPainterPath filled = path;
        filled.setFillRule(gs.fillRule);
        fillWithBrush(gs, filled, gs.brush);
    }
    if (gs.pen.style == PsNull) return;
    const QColor colour = gs.rop2 == R2Black   ? QColor(Qt::black)
                          : gs.rop2 == R2White ? QColor(Qt::white)
                                               : gs.pen.color;
    if (gs.pen.style != PsSolid && gs.pen.style != PsInsideFrame && gs.opaqueBackground) {
        // Gaps of a styled line show the background colour in opaque mode.
        QPen under = makePen(gs.pen, gs.backgroundColor);
        under.setStyle(Qt::SolidLine);
        painter_.strokePath(path, under);
    }
    painter_.strokePath(path, makePen(gs.pen, colour));
}

void QPainterDevice::drawPolyline(const GraphicsState& gs, const QPolygonF& points) {
    if (points.size() < 2) return;
    QPainterPath path;
    path.addPolygon(points);
    drawShape(gs, path, false);
}

void QPainterDevice::drawPolygons(const GraphicsState& gs, const QList<QPolygonF>& polygons) {
    QPainterPath path;
    for (const QPolygonF& polygon : polygons) {
        if (polygon.size() < 2) continue;
        path.addPolygon(polygon);
        path.closeSubpath();
    }
    if (!path.isEmpty()) drawShape(gs, path, true);
}

namespace {
QRectF insideFrame(const GraphicsState& gs, const QRectF& rect) {
    if (gs.pen.style != PsInsideFrame || gs.pen.width <= 1) return rect;
    const qreal half = gs.pen.width / 2;
    return rect.adjusted(half, half, -half, -half);
}
} // namespace

void QPainterDevice::drawRect(const GraphicsState& gs, const QRectF& rect) {
    QPainterPath path;
    path.addRect(insideFrame(gs, rect));
    drawShape(gs, path, true);
}

void QPainterDevice::drawRoundRect(const GraphicsState& gs, const QRectF& rect, qreal rx,
                                   qreal ry) {
    QPainterPath path;
    const QRectF r = insideFrame(gs, rect);
    path.addRoundedRect(r, std::min(rx, r.width() / 2), std::min(ry, r.height() / 2));
    drawShape(gs, path, true);
}

void QPainterDevice::drawEllipse(const GraphicsState& gs, const QRectF& rect) {
    QPainterPath path;
    path.addEllipse(insideFrame(gs, rect));
    drawShape(gs, path, true);
}

void QPainterDevice::drawArc(const GraphicsState& gs, const QRectF& box, const QPointF& start,
                             const QPointF& end, ArcKind kind) {
    if (box.width() <= 0 || box.height() <= 0) return;
    // Angles of the radials, as parameters of the ellipse (Qt's arc angles), counter-clockwise
    // on screen with y pointing down.
    const QPointF c = box.center();
    auto angleOf = [&](const QPointF& p) {
        return qRadiansToDegrees(
            std::atan2(-(p.y() - c.y()) / (box.height() / 2), (p.x() - c.x()) / (box.width() / 2)));
    };
    const qreal a0 = angleOf(start);
    qreal sweep = angleOf(end) - a0;
    while (sweep <= 0) sweep += 360;
    if (start == end) sweep = 360;
    QPainterPath path;
    if (kind == ArcKind::Pie) {
        path.moveTo(c);
        path.arcTo(box, a0, sweep);
        path.closeSubpath();
    } else {
        path.arcMoveTo(box, a0);
        path.arcTo(box, a0, sweep);
        if (kind == ArcKind::Chord) path.closeSubpath();
    }
    drawShape(gs, path, kind != ArcKind::Arc);
}

void QPainterDevice::setPixel(const GraphicsState& gs, const QPointF& point, const QColor& colour) {
    PainterScope scope(painter_);
    applyClip(gs);
    painter_.fillRect(QRectF(std::floor(point.x()), std::floor(point.y()), 1, 1), colour);
}

void QPainterDevice::fillPath(const GraphicsState& gs, const QPainterPath& path,
                              const Brush& brush) {
    PainterScope scope(painter_);
    applyClip(gs);
    if (!applyRop2(gs)) return;
    fillWithBrush(gs, path, brush);
}

void QPainterDevice::invertPath(const GraphicsState& gs, const QPainterPath& path) {
    if (!rasterOps_) return;
    PainterScope scope(painter_);
    applyClip(gs);
    painter_.setCompositionMode(QPainter::RasterOp_NotDestination);
    painter_.fillPath(path, Qt::black);
}

qreal QPainterDevice::drawText(const GraphicsState& gs, const QPointF& reference,
                               const QString& text, const TextOptions& options) {
    PainterScope scope(painter_);
    applyClip(gs);
    if (options.opaque && options.rect.isValid())
        painter_.fillRect(options.rect, gs.backgroundColor);
    if (options.clipped && options.rect.isValid())
        painter_.setClipRect(options.rect,
                             painter_.hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
    if (text.isEmpty()) return 0;

    // The font is made at a moderate pixel size and scaled to the wanted height, so tiny and
    // huge sizes and fractional ones all come out right.
    QFont font(gs.font.face.isEmpty() ? QStringLiteral("Sans Serif") : gs.font.face);
    constexpr int kBase = 64;
    font.setPixelSize(kBase);
    font.setWeight(QFont::Weight(std::clamp(gs.font.weight == 0 ? 400 : gs.font.weight, 1, 1000)));
    font.setItalic(gs.font.italic);
    font.setUnderline(gs.font.underline);
    font.setStrikeOut(gs.font.strikeOut);
    font.setKerning(false);
    font.setHintingPreference(QFont::PreferNoHinting);
    QFontMetricsF metrics(font);
    qreal scale = gs.font.height / kBase;
    if (gs.font.cellHeight && metrics.height() > 0) scale = gs.font.height / metrics.height();
    if (scale <= 0) return 0;
    // The text is laid out in the picture's own proportions (frame: 1 when it is not
    // stretched) and the whole is then stretched with the picture, rotation included.
    const qreal frame = std::clamp<qreal>(gs.font.stretch > 0 ? gs.font.stretch : 1, 0.01, 100);
    qreal stretch = 1;
    if (gs.font.width > 0 && metrics.averageCharWidth() > 0)
        stretch = gs.font.width / frame / (metrics.averageCharWidth() * scale);
    stretch = std::clamp<qreal>(stretch, 0.05, 20);
    const qreal sx = scale * stretch; // font units to pixels along the baseline

    // Advances along the baseline, before the frame stretch.
    QList<qreal> advances = options.advances;
    for (qreal& a : advances) a /= frame;
    const qreal extra = gs.charExtra / frame;
    if (advances.size() != text.size()) {
        advances.clear();
        for (QChar ch : text) advances.append(metrics.horizontalAdvance(ch) * sx + extra);
        if (extra == 0) {
            // Keep the font's own spacing (kerning pairs and ligatures aside).
            const qreal whole = metrics.horizontalAdvance(text) * sx;
            qreal sum = 0;
            for (qreal a : advances) sum += a;
            if (sum > 0)
                for (qreal& a : advances) a *= whole / sum;
        }
    }
    qreal width = 0;
    for (qreal a : advances) width += a;

    qreal x0 = 0;
    switch (gs.textAlign & TaHorizontalMask) {
    case TaRight:
        x0 = -width;
        break;
    case TaCenter:
        x0 = -width / 2;
        break;
    default:
        break;
    }
    const qreal ascent = metrics.ascent() * scale, descent = metrics.descent() * scale;
    qreal baseline = 0;
    switch (gs.textAlign & TaVerticalMask) {
    case TaBaseline:
        baseline = 0;
        break;
    case TaBottom:
        baseline = -descent;
        break;
    default:
        baseline = ascent;
        break;
    }

    painter_.translate(reference);
    painter_.scale(frame, 1);
    painter_.rotate(-gs.font.escapement);
    painter_.setRenderHint(QPainter::Antialiasing, true);
    painter_.setRenderHint(QPainter::TextAntialiasing, true);
    if (gs.opaqueBackground && !options.opaque)
        painter_.fillRect(QRectF(x0, baseline - ascent, width, ascent + descent),
                          gs.backgroundColor);
    painter_.setPen(gs.textColor);
    painter_.setFont(font);
    painter_.translate(x0, baseline);
    painter_.scale(sx, scale);
    // Glyphs are drawn from the font engine's cache of rendered glyphs, except under a transform
    // that squeezes them to almost nothing in one direction, or stretches one direction far more
    // than the other: Qt's cache then renders glyphs of no height and reads through a null bitmap.
    // Such text is filled as outlines instead.
    const QTransform t = painter_.combinedTransform();
    const qreal ex = std::hypot(t.m11(), t.m12()), ey = std::hypot(t.m21(), t.m22());
    const bool outlines = std::min(ex, ey) * kBase < 4 || std::max(ex, ey) > 32 * std::min(ex, ey);
    const auto draw = [&](QPointF at, const QString& s) {
        if (!outlines) {
            painter_.drawText(at, s);
            return;
        }
        QPainterPath path;
        path.addText(at, font, s);
        painter_.fillPath(path, gs.textColor);
    };
    if (options.advances.isEmpty() && gs.charExtra == 0) {
        draw(QPointF(0, 0), text);
    } else {
        qreal x = 0;
        for (qsizetype i = 0; i < text.size(); ++i) {
            draw(QPointF(x / sx, 0), QString(text[i]));
            x += advances[i];
        }
    }
    return width;
}

void QPainterDevice::patBlt(const GraphicsState& gs, const QRectF& rect, std::uint32_t rop) {
    PainterScope scope(painter_);
    applyClip(gs);
    painter_.setRenderHint(QPainter::Antialiasing, false);
    QPainterPath path;
    path.addRect(rect);
    switch (rop) {
    case RopBlackness:
        painter_.fillPath(path, Qt::black);
        return;
    case RopWhiteness:
        painter_.fillPath(path, Qt::white);
        return;
    case RopDstCopy:
        return;
    case RopDstInvert:
        if (rasterOps_) {
            painter_.setCompositionMode(QPainter::RasterOp_NotDestination);
            painter_.fillPath(path, Qt::black);
        }
        return;
    case RopPatInvert:
        if (!rasterOps_) return;
        painter_.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        fillWithBrush(gs, path, gs.brush);
        return;
    default: // PATCOPY and the rest: the brush
        fillWithBrush(gs, path, gs.brush);
        return;
    }
}

void QPainterDevice::drawImage(const GraphicsState& gs, const QRectF& dest, const QImage& image,
                               std::uint32_t rop) {
    if (image.isNull() || dest.width() == 0 || dest.height() == 0) return;
    if (usesNoSource(rop)) {
        patBlt(gs, dest.normalized(), rop);
        return;
    }
    QPainter::CompositionMode mode = QPainter::CompositionMode_SourceOver;
    if (!ropMode(rop, mode))
        mode = QPainter::CompositionMode_SourceOver; // MERGECOPY, PATPAINT and rarer: a copy
    if (mode != QPainter::CompositionMode_SourceOver && !rasterOps_) {
        // Without raster operations, the masks of the AND/XOR sprite idiom would show as
        // solid blocks: only the image part (SRCINVERT/SRCPAINT) is drawn.
        if (rop == RopSrcAnd || rop == RopSrcErase || rop == RopNotSrcErase) return;
        mode = QPainter::CompositionMode_SourceOver;
    }
    const QImage source = image.mirrored(dest.width() < 0, dest.height() < 0);
    PainterScope scope(painter_);
    applyClip(gs);
    painter_.setCompositionMode(mode);
    painter_.setRenderHint(QPainter::SmoothPixmapTransform,
                           mode == QPainter::CompositionMode_SourceOver);
    painter_.drawImage(dest.normalized(), source);
}

void drawMetafile(QPainter& painter, const Metafile& metafile, const QRectF& target,
                  QStringList* warnings) {
    if (target.width() <= 0 || target.height() <= 0) return;
    PainterScope scope(painter);
    painter.setClipRect(target, painter.hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
    QPainterDevice device(painter);
    metafile.play(device, target, warnings);
}

QImage renderMetafile(const Metafile& metafile, QSize size, QColor background,
                      QStringList* warnings) {
    if (size.isEmpty()) size = metafile.size();
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) return image;
    image.fill(background);
    QPainter painter(&image);
    drawMetafile(painter, metafile, QRectF(QPointF(0, 0), QSizeF(size)), warnings);
    return image;
}

} // namespace pixmoor::wmf
