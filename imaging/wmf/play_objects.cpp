// Records that create, select and delete graphics objects: pens, brushes (solid, hatched and
// pattern), fonts and palettes. Regions are created in play_regions.cpp.
#include "imaging/wmf/dib.h"
#include "imaging/wmf/player.h"

#include <QImage>
#include <algorithm>
#include <cmath>
#include <variant>

namespace pixmoor::wmf::detail {

bool Player::objectRecord(std::uint16_t fn, const Params& p) {
    switch (fn) {
    case FnCreatePenIndirect:
        if (need(p, 5)) {
            LogPen pen;
            pen.style = p.w(0);
            pen.width = std::abs(p.s(1));
            pen.color = p.colour(3);
            objects_.add(pen);
        }
        return true;
    case FnCreateBrushIndirect:
        if (need(p, 4)) {
            Brush brush;
            const int style = p.w(0);
            brush.color = p.colour(1);
            brush.hatch = p.w(3);
            brush.kind = style == 1 ? Brush::Null : style == 2 ? Brush::Hatched : Brush::Solid;
            if (brush.kind == Brush::Hatched && brush.hatch > 5) brush.kind = Brush::Solid;
            objects_.add(brush);
        }
        return true;
    case FnCreateFontIndirect:
        if (need(p, 9)) {
            LogFont font;
            font.height = p.s(0);
            font.width = p.s(1);
            font.escapement = p.s(2);
            font.weight = p.s(4);
            const std::uint8_t* b = p.bytes(5);
            font.italic = b[0];
            font.underline = b[1];
            font.strikeOut = b[2];
            font.charset = b[3];
            const std::size_t faceBytes = std::min<std::size_t>(32, p.bytesFrom(9));
            QByteArray face(reinterpret_cast<const char*>(p.bytes(9)), qsizetype(faceBytes));
            const qsizetype nul = face.indexOf('\0');
            if (nul >= 0) face.truncate(nul);
            font.face = decodeText(face, font.charset == 2 ? 0 : font.charset);
            objects_.add(font);
        }
        return true;
    case FnCreatePalette:
        if (need(p, 2)) {
            const std::size_t count = std::min<std::size_t>(p.w(1), (p.words() - 2) / 2);
            Palette palette;
            for (std::size_t i = 0; i < count; ++i) {
                const std::uint32_t c = p.dw(2 + 2 * i);
                palette.append(qRgb(int(c & 0xFF), int(c >> 8 & 0xFF), int(c >> 16 & 0xFF)));
            }
            objects_.add(palette);
        }
        return true;
    case FnDibCreatePatternBrush:
    case FnCreatePatternBrush:
        createPatternBrush(fn, p);
        return true;
    case FnSelectObject:
        if (need(p, 1)) {
            Object* object = objects_.at(p.s(0));
            if (!object) return true;
            if (auto* pen = std::get_if<LogPen>(object))
                dc_.pen = *pen;
            else if (auto* brush = std::get_if<Brush>(object))
                dc_.brush = *brush;
            else if (auto* font = std::get_if<LogFont>(object))
                dc_.font = *font;
            else if (auto* region = std::get_if<QRegion>(object))
                dc_.setClip(dc_.deviceRegion(*region));
            else if (auto* palette = std::get_if<Palette>(object))
                dc_.palette = *palette;
        }
        return true;
    case FnSelectPalette:
        if (need(p, 1)) {
            if (Object* object = objects_.at(p.s(0)))
                if (auto* palette = std::get_if<Palette>(object)) dc_.palette = *palette;
        }
        return true;
    case FnDeleteObject:
        if (need(p, 1)) {
            objects_.remove(p.s(0));
        }
        return true;
    default:
        return false;
    }
}

void Player::createPatternBrush(std::uint16_t fn, const Params& p) {
    if (!need(p, 2)) return;
    Brush brush;
    brush.kind = Brush::Pattern;
    if (fn == FnDibCreatePatternBrush) {
        DibOptions options;
        options.paletteIndexes = p.w(1) == 1;
        options.palette = &dc_.palette;
        options.maxSide = limits::kMaxPatternSide;
        options.pixelBudget = &dibPixelsLeft_;
        DibResult dib = decodeDib(p.bytes(2), p.bytesFrom(2), options);
        if (dib.image.isNull()) warn(QStringLiteral("pattern bitmap: %1").arg(dib.error));
        brush.pattern = dib.image;
    } else if (p.has(7)) {
        // A device-dependent BITMAP16 head (only monochrome ones are portable): type, width,
        // height, widthBytes, planes+bitsPixel, an unused pointer; 18 reserved bytes; then the
        // bits.
        const int w = p.s(1), h = p.s(2), stride = p.s(3);
        const std::uint8_t* bits = p.bytes(16);
        const std::size_t avail = p.bytesFrom(16);
        if (w > 0 && h > 0 && w <= limits::kMaxPatternSide && h <= limits::kMaxPatternSide && stride * 8 >= w &&
            std::size_t(stride) * std::size_t(h) <= avail && (p.w(4) >> 8) == 1) {
            QImage image(w, h, QImage::Format_RGB32);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    image.setPixel(x, y,
                                   (bits[y * stride + x / 8] >> (7 - x % 8)) & 1
                                       ? dc_.backgroundColor.rgb()
                                       : dc_.textColor.rgb());
            brush.pattern = image;
        } else {
            warn(QStringLiteral("unsupported pattern bitmap"));
        }
    }
    if (brush.pattern.isNull()) brush.kind = Brush::Solid, brush.color = Qt::black;
    objects_.add(brush);
}

} // namespace pixmoor::wmf::detail
