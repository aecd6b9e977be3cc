// Records of regions and clipping: creating region objects, filling, framing, painting and
// inverting them, and the clip records (clip rectangles, clip offset, clip region).
#include "imaging/wmf/player.h"

#include <QPainterPath>
#include <QRect>
#include <QRegion>
#include <cmath>
#include <variant>

namespace pixmoor::wmf::detail {

bool Player::regionRecord(std::uint16_t fn, const Params& p) {
    switch (fn) {
    case FnCreateRegion:
        createRegion(p);
        return true;
    case FnFillRegion:
    case FnFrameRegion:
        if (need(p, fn == FnFillRegion ? 2 : 4)) {
            // FillRegion: region, brush. FrameRegion: region, brush, height, width.
            const int regionIndex = p.s(0);
            const int brushIndex = p.s(1);
            Object* region = objects_.at(regionIndex);
            Object* brush = objects_.at(brushIndex);
            if (!region || !brush || !std::holds_alternative<QRegion>(*region) ||
                !std::holds_alternative<Brush>(*brush)) {
                if (region && brush) warn(QStringLiteral("objects are not a region and a brush"));
                return true;
            }
            const QRegion& rgn = std::get<QRegion>(*region);
            if (fn == FnFillRegion) {
                device_.fillPath(dc_.state(), dc_.regionPath(rgn), std::get<Brush>(*brush));
            } else {
                // A frame of the given thickness inside the region's edge.
                const int h = std::abs(p.s(2)), w = std::abs(p.s(3));
                const QRegion inner = rgn.translated(w, 0) & rgn.translated(-w, 0) &
                                      rgn.translated(0, h) & rgn.translated(0, -h);
                device_.fillPath(dc_.state(), dc_.regionPath(rgn.subtracted(inner)),
                                 std::get<Brush>(*brush));
            }
        }
        return true;
    case FnPaintRegion:
    case FnInvertRegion:
        if (need(p, 1)) {
            Object* region = objects_.at(p.s(0));
            if (!region || !std::holds_alternative<QRegion>(*region)) return true;
            const QPainterPath path = dc_.regionPath(std::get<QRegion>(*region));
            if (fn == FnPaintRegion)
                device_.fillPath(dc_.state(), path, dc_.brush);
            else
                device_.invertPath(dc_.state(), path);
        }
        return true;
    // Clipping.
    case FnIntersectClipRect:
    case FnExcludeClipRect:
        if (need(p, 4))
            dc_.clipToRect(dc_.mapRect(p.s(3), p.s(2), p.s(1), p.s(0)), fn == FnExcludeClipRect);
        return true;
    case FnOffsetClipRgn:
        if (need(p, 2) && dc_.clipped)
            dc_.clip.translate(int(std::lround(p.s(1) * dc_.transform().m11())),
                               int(std::lround(p.s(0) * dc_.transform().m22())));
        return true;
    case FnSelectClipRegion:
        if (need(p, 1)) {
            // Index 0 is commonly written to mean "no clipping" when it holds no region.
            if (const Object* object = objects_.slot(p.s(0))) {
                if (auto* region = std::get_if<QRegion>(object)) {
                    if (region->isEmpty())
                        dc_.clearClip();
                    else
                        dc_.setClip(dc_.deviceRegion(*region));
                    return true;
                }
            }
            dc_.clearClip();
        }
        return true;
    default:
        return false;
    }
}

void Player::createRegion(const Params& p) {
    // nextInChain, objectType, objectCount(2), regionSize, scanCount, maxScan,
    // bounds (left, top, right, bottom), then scans: count, top, bottom, count/2 (left,right)
    // pairs, count again.
    if (!need(p, 11)) return;
    const int scans = p.s(5);
    QRegion region;
    std::size_t word = 11;
    int rects = 0;
    for (int s = 0; s < scans && p.has(word + 3); ++s) {
        const std::size_t count = p.w(word);
        const int top = p.s(word + 1), bottom = p.s(word + 2);
        if (!p.has(word + 3 + count + 1)) break;
        for (std::size_t k = 0; k + 1 < count; k += 2) {
            const int left = p.s(word + 3 + k), right = p.s(word + 4 + k);
            if (right > left && bottom > top && rects < limits::kMaxRegionRects) {
                region += QRect(left, top, right - left, bottom - top);
                ++rects;
            }
        }
        word += 3 + count + 1;
    }
    if (rects >= limits::kMaxRegionRects)
        warn(QStringLiteral("region truncated to %1 rectangles").arg(limits::kMaxRegionRects));
    if (scans == 0 && region.isEmpty()) {
        const int l = p.s(7), t = p.s(8), r = p.s(9), b = p.s(10);
        if (r > l && b > t) region = QRect(l, t, r - l, b - t);
    }
    objects_.add(region);
}

} // namespace pixmoor::wmf::detail
