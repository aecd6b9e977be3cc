// Records that draw lines and shapes: the current position, lines, polylines and polygons,
// rectangles, ellipses, arcs, pies and chords, and single pixels.
#include "imaging/wmf/player.h"

#include <QList>
#include <QPointF>
#include <QPolygonF>
#include <cmath>

namespace pixmoor::wmf::detail {
namespace {

// count points of p from word on, each x then y, on the device.
QList<QPointF> readPoints(const DeviceContext& dc, const Params& p, std::size_t word,
                          std::size_t count) {
    QList<QPointF> points;
    points.reserve(qsizetype(count));
    for (std::size_t i = 0; i < count; ++i)
        points.append(dc.map(p.s(word + 2 * i), p.s(word + 2 * i + 1)));
    return points;
}

} // namespace

bool Player::drawingRecord(std::uint16_t fn, const Params& p) {
    switch (fn) {
    case FnMoveTo:
        if (need(p, 2)) dc_.position = QPointF(p.s(1), p.s(0));
        return true;
    case FnLineTo:
        if (need(p, 2)) {
            const QPointF to(p.s(1), p.s(0));
            device_.drawPolyline(dc_.state(), QPolygonF{dc_.map(dc_.position.x(), dc_.position.y()),
                                                        dc_.map(to.x(), to.y())});
            dc_.position = to;
        }
        return true;
    case FnPolyline:
    case FnPolygon:
        if (need(p, 1)) {
            const std::size_t count = p.w(0);
            if (!p.has(1 + 2 * count)) {
                warn(QStringLiteral("%1 points do not fit in the record").arg(count));
                return true;
            }
            const QPolygonF points(readPoints(dc_, p, 1, count));
            if (fn == FnPolyline)
                device_.drawPolyline(dc_.state(), points);
            else
                device_.drawPolygons(dc_.state(), {points});
        }
        return true;
    case FnPolyPolygon:
        if (need(p, 1)) {
            const std::size_t polygons = p.w(0);
            if (!p.has(1 + polygons)) {
                warn(QStringLiteral("%1 polygons do not fit in the record").arg(polygons));
                return true;
            }
            std::size_t total = 0;
            for (std::size_t i = 0; i < polygons; ++i) total += p.w(1 + i);
            if (!p.has(1 + polygons + 2 * total)) {
                warn(QStringLiteral("%1 points do not fit in the record").arg(total));
                return true;
            }
            QList<QPolygonF> list;
            std::size_t word = 1 + polygons;
            for (std::size_t i = 0; i < polygons; ++i) {
                const std::size_t count = p.w(1 + i);
                list.append(QPolygonF(readPoints(dc_, p, word, count)));
                word += 2 * count;
            }
            device_.drawPolygons(dc_.state(), list);
        }
        return true;
    case FnRectangle:
        if (need(p, 4)) device_.drawRect(dc_.state(), dc_.mapRect(p.s(3), p.s(2), p.s(1), p.s(0)));
        return true;
    case FnEllipse:
        if (need(p, 4))
            device_.drawEllipse(dc_.state(), dc_.mapRect(p.s(3), p.s(2), p.s(1), p.s(0)));
        return true;
    case FnRoundRect:
        if (need(p, 6)) {
            // The corner ellipse's width and height; the device takes radii.
            device_.drawRoundRect(dc_.state(), dc_.mapRect(p.s(5), p.s(4), p.s(3), p.s(2)),
                                  std::abs(p.s(1)) * dc_.scaleX() / 2,
                                  std::abs(p.s(0)) * dc_.scaleY() / 2);
        }
        return true;
    case FnArc:
    case FnPie:
    case FnChord:
        if (need(p, 8)) {
            const ArcKind kind = fn == FnArc   ? ArcKind::Arc
                                 : fn == FnPie ? ArcKind::Pie
                                               : ArcKind::Chord;
            device_.drawArc(dc_.state(), dc_.mapRect(p.s(7), p.s(6), p.s(5), p.s(4)),
                            dc_.map(p.s(3), p.s(2)), dc_.map(p.s(1), p.s(0)), kind);
        }
        return true;
    case FnSetPixel:
        if (need(p, 4)) device_.setPixel(dc_.state(), dc_.map(p.s(3), p.s(2)), p.colour(0));
        return true;
    case FnFloodFill:
    case FnExtFloodFill:
        warn(QStringLiteral("flood fill is not supported"));
        return true;
    default:
        return false;
    }
}

} // namespace pixmoor::wmf::detail
