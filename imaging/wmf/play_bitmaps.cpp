// Records that paint bitmaps and raster operations: PatBlt, the device-dependent BitBlt and
// StretchBlt (monochrome bitmaps only), and the DIB records DibBitBlt, DibStretchBlt, StretchDIB
// and SetDIBitsToDevice.
#include "imaging/wmf/dib.h"
#include "imaging/wmf/player.h"

#include <QImage>
#include <QRect>
#include <utility>

namespace pixmoor::wmf::detail {

bool Player::bitmapRecord(std::uint16_t fn, const Params& p) {
    switch (fn) {
    case FnPatBlt:
        if (need(p, 6)) {
            const std::uint32_t rop = p.dw(0);
            const qreal h = p.s(2), w = p.s(3), y = p.s(4), x = p.s(5);
            device_.patBlt(dc_.state(), dc_.mapRect(x, y, x + w, y + h), rop);
        }
        return true;
    case FnBitBlt:
    case FnStretchBlt:
    case FnDibBitBlt:
    case FnDibStretchBlt:
    case FnStretchDib:
    case FnSetDibToDev:
        blt(fn, p);
        return true;
    default:
        return false;
    }
}

void Player::blt(std::uint16_t fn, const Params& p) {
    // The variants without a bitmap have exactly (fn >> 8) parameter words and act as PatBlt.
    const std::size_t fixedWords = fn >> 8;
    const bool noBitmap = p.words() == fixedWords;
    std::uint32_t rop = 0;
    qreal srcX = 0, srcY = 0, srcW = -1, srcH = -1, dstX = 0, dstY = 0, dstW = 0, dstH = 0;
    std::size_t bitmapWord = 0;
    bool paletteIndexes = false;
    switch (fn) {
    case FnDibBitBlt:
    case FnBitBlt:
        // rop, ySrc, xSrc, [reserved], height, width, yDst, xDst
        if (!need(p, noBitmap ? 9 : 8)) return;
        rop = p.dw(0);
        srcY = p.s(2), srcX = p.s(3);
        {
            const std::size_t w = noBitmap ? 5 : 4;
            dstH = srcH = p.s(w);
            dstW = srcW = p.s(w + 1);
            dstY = p.s(w + 2), dstX = p.s(w + 3);
        }
        bitmapWord = 8;
        break;
    case FnDibStretchBlt:
    case FnStretchBlt:
        // rop, srcHeight, srcWidth, ySrc, xSrc, [reserved], dstHeight, dstWidth, yDst, xDst
        if (!need(p, noBitmap ? 11 : 10)) return;
        rop = p.dw(0);
        srcH = p.s(2), srcW = p.s(3), srcY = p.s(4), srcX = p.s(5);
        {
            const std::size_t w = noBitmap ? 7 : 6;
            dstH = p.s(w), dstW = p.s(w + 1), dstY = p.s(w + 2), dstX = p.s(w + 3);
        }
        bitmapWord = 10;
        break;
    case FnStretchDib:
        // rop, colorUsage, srcHeight, srcWidth, ySrc, xSrc, dstHeight, dstWidth, yDst, xDst
        if (!need(p, 11)) return;
        rop = p.dw(0);
        paletteIndexes = p.w(2) == 1;
        srcH = p.s(3), srcW = p.s(4), srcY = p.s(5), srcX = p.s(6);
        dstH = p.s(7), dstW = p.s(8), dstY = p.s(9), dstX = p.s(10);
        bitmapWord = 11;
        break;
    case FnSetDibToDev:
        // colorUsage, scanCount, startScan, yDib, xDib, height, width, yDst, xDst
        if (!need(p, 9)) return;
        rop = RopSrcCopy;
        paletteIndexes = p.w(0) == 1;
        srcY = p.s(3), srcX = p.s(4);
        dstH = srcH = p.s(5), dstW = srcW = p.s(6);
        dstY = p.s(7), dstX = p.s(8);
        bitmapWord = 9;
        break;
    default:
        return;
    }
    const QRectF dest(dc_.map(dstX, dstY), dc_.map(dstX + dstW, dstY + dstH));
    if (dc_.identity() || (noBitmap && fn != FnStretchDib && fn != FnSetDibToDev)) {
        // Measuring needs only where the bitmap goes, not its pixels.
        device_.patBlt(dc_.state(), dest.normalized(), rop);
        return;
    }
    QImage image;
    if (fn == FnBitBlt || fn == FnStretchBlt) {
        // A BITMAP16: type, width, height, widthBytes, planes/bitsPixel, then the bits. Only
        // monochrome ones have a device-free meaning.
        const Params b(reinterpret_cast<const char*>(p.bytes(bitmapWord)), p.bytesFrom(bitmapWord));
        const int w = b.s(1), h = b.s(2), stride = b.s(3);
        const int bitsPixel = b.w(4) >> 8;
        const std::size_t avail = b.bytesFrom(5);
        if (!b.has(5) || w <= 0 || h <= 0 || stride <= 0 || bitsPixel != 1 || stride * 8 < w ||
            std::size_t(stride) * std::size_t(h) > avail) {
            warn(QStringLiteral("unsupported or damaged device-dependent bitmap"));
            return;
        }
        image = QImage(w, h, QImage::Format_RGB32);
        if (image.isNull()) return;
        const std::uint8_t* bits = b.bytes(5);
        for (int y = 0; y < h; ++y) {
            QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < w; ++x)
                line[x] = (bits[std::size_t(y) * std::size_t(stride) + std::size_t(x / 8)] >>
                           (7 - x % 8)) &
                                  1
                              ? dc_.backgroundColor.rgb()
                              : dc_.textColor.rgb();
        }
    } else {
        DibOptions options;
        options.paletteIndexes = paletteIndexes;
        options.palette = &dc_.palette;
        options.pixelBudget = &dibPixelsLeft_;
        DibResult dib = decodeDib(p.bytes(bitmapWord), p.bytesFrom(bitmapWord), options);
        if (dib.image.isNull()) {
            warn(QStringLiteral("bitmap: %1").arg(dib.error));
            return;
        }
        image = std::move(dib.image);
        // Source coordinates of a bottom-up DIB count from its bottom row.
        if (!dib.topDown && srcH > 0) srcY = image.height() - srcY - srcH;
    }
    if (srcW > 0 && srcH > 0) {
        const QRect source =
            QRect(int(srcX), int(srcY), int(srcW), int(srcH)).intersected(image.rect());
        if (source.isEmpty()) return;
        if (source != image.rect()) image = image.copy(source);
    }
    device_.drawImage(dc_.state(), dest, image, rop);
}

} // namespace pixmoor::wmf::detail
