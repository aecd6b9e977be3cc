// Records that set the device context's state: SaveDC and RestoreDC, background, colours, text
// alignment, fill mode, ROP2, and the mapping (map mode, window and viewport).
#include "imaging/wmf/player.h"

#include <cmath>

namespace pixmoor::wmf::detail {

bool Player::stateRecord(std::uint16_t fn, const Params& p) {
    switch (fn) {
    case FnSaveDc:
        dc_.save();
        return true;
    case FnRestoreDc:
        if (need(p, 1)) dc_.restore(p.s(0));
        return true;
    case FnSetBkMode:
        if (need(p, 1)) dc_.opaqueBackground = p.w(0) == 2;
        return true;
    case FnSetBkColor:
        if (need(p, 2)) dc_.backgroundColor = p.colour(0);
        return true;
    case FnSetTextColor:
        if (need(p, 2)) dc_.textColor = p.colour(0);
        return true;
    case FnSetTextAlign:
        if (need(p, 1)) dc_.textAlign = p.w(0);
        return true;
    case FnSetTextCharExtra:
        if (need(p, 1)) dc_.charExtra = p.s(0);
        return true;
    case FnSetPolyFillMode:
        if (need(p, 1)) dc_.fillRule = p.w(0) == 2 ? Qt::WindingFill : Qt::OddEvenFill;
        return true;
    case FnSetRop2:
        if (need(p, 1)) {
            const int rop = p.w(0);
            if (rop >= R2Black && rop <= R2White)
                dc_.rop2 = rop;
            else
                warn(QStringLiteral("unknown ROP2 %1").arg(rop));
        }
        return true;
    case FnSetMapMode:
        if (need(p, 1)) {
            const int mode = p.w(0);
            if (mode >= MmText && mode <= MmAnisotropic) {
                dc_.mapMode = mode;
                dc_.updateTransform();
            }
        }
        return true;
    // Mapping. Parameters come y first.
    case FnSetWindowOrg:
        if (need(p, 2)) {
            dc_.windowOrg = QPointF(p.s(1), p.s(0));
            dc_.updateTransform();
        }
        return true;
    case FnSetWindowExt:
        if (need(p, 2)) {
            dc_.windowExt = QPointF(p.s(1), p.s(0));
            dc_.updateTransform();
        }
        return true;
    case FnSetViewportOrg:
        if (need(p, 2)) {
            dc_.viewportOrg = dc_.scaledViewport(p.s(1), p.s(0));
            dc_.updateTransform();
        }
        return true;
    case FnSetViewportExt:
        if (need(p, 2)) {
            dc_.viewportExt = dc_.scaledViewport(p.s(1), p.s(0));
            dc_.updateTransform();
        }
        return true;
    case FnOffsetWindowOrg:
        if (need(p, 2)) {
            dc_.windowOrg += QPointF(p.s(1), p.s(0));
            dc_.updateTransform();
        }
        return true;
    case FnOffsetViewportOrg:
        if (need(p, 2)) {
            dc_.viewportOrg += dc_.scaledViewport(p.s(1), p.s(0));
            dc_.updateTransform();
        }
        return true;
    case FnScaleWindowExt:
    case FnScaleViewportExt:
        if (need(p, 4)) {
            const int yDen = p.s(0), yNum = p.s(1), xDen = p.s(2), xNum = p.s(3);
            if (xDen == 0 || yDen == 0) {
                warn(QStringLiteral("scale with a zero denominator"));
                return true;
            }
            QPointF& ext = fn == FnScaleWindowExt ? dc_.windowExt : dc_.viewportExt;
            const QPointF scaled(ext.x() * xNum / xDen, ext.y() * yNum / yDen);
            // Repeated scaling must not drive the extents to infinity (GDI's are 32-bit).
            if (std::abs(scaled.x()) > 1e9 || std::abs(scaled.y()) > 1e9) {
                warn(QStringLiteral("scaled extent out of range; ignored"));
                return true;
            }
            ext = scaled;
            dc_.updateTransform();
        }
        return true;
    default:
        return false;
    }
}

} // namespace pixmoor::wmf::detail
