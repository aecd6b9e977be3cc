// Decoding of device-independent bitmaps for the metafile player and the icon reader. Sizes come
// from untrusted files: every offset is checked and the image size is capped by the data present.
#include "imaging/wmf/dib.h"

#include <algorithm>
#include <bit>
#include <vector>

namespace pixmoor::wmf {
namespace {

// RLE bitmaps: a run gives at most 255 pixels per 2 bytes, but end-of-line, delta and
// end-of-bitmap escapes leave pixels blank; beyond this expansion a bitmap is refused (small
// ones always pass), as the codec's BMP reader does.
constexpr std::uint64_t kMaxRleExpansion = 4096;
constexpr std::uint64_t kRleAlwaysAllowedPixels = std::uint64_t(1) << 20;

constexpr std::uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3,
                        kBiAlphaBitfields = 6;

std::uint32_t u32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}
std::uint16_t u16(const std::uint8_t* p) {
    return std::uint16_t(p[0] | p[1] << 8);
}

DibResult fail(const QString& text) {
    DibResult r;
    r.error = text;
    return r;
}

// A bit-field mask turned into shift and width, for 16- and 32-bit pixels.
struct Field {
    int shift = 0;
    int bits = 0;
    std::uint32_t mask = 0;
    int value(std::uint32_t pixel) const {
        if (!mask) return 0;
        std::uint32_t v = (pixel & mask) >> shift;
        if (bits >= 8) return int(v >> (bits - 8));
        // Widen a narrow field to 8 bits by repeating its bits (5 bits: 31 -> 255).
        std::uint32_t max = (1u << bits) - 1;
        return int((v * 255 + max / 2) / max);
    }
};

Field makeField(std::uint32_t mask) {
    Field f;
    f.mask = mask;
    if (mask) {
        f.shift = std::countr_zero(mask);
        // A mask with holes is treated by its lowest run only.
        f.bits = std::countr_one(mask >> f.shift);
        f.mask = ((f.bits >= 32) ? 0xFFFFFFFFu : ((1u << f.bits) - 1)) << f.shift;
    }
    return f;
}

// Expands RLE4/RLE8 data into one palette index per pixel, bottom row first as stored.
bool decodeRle(const std::uint8_t* p, std::size_t n, bool four, int width, int height,
               std::vector<std::uint8_t>& out) {
    out.assign(std::size_t(width) * std::size_t(height), 0);
    int x = 0, y = 0; // y counts stored rows (bottom-up)
    std::size_t i = 0;
    auto put = [&](std::uint8_t index) {
        if (x < width && y < height)
            out[std::size_t(y) * std::size_t(width) + std::size_t(x)] = index;
        ++x;
    };
    while (i + 1 < n && y < height) {
        std::uint8_t count = p[i], value = p[i + 1];
        i += 2;
        if (count) {
            for (int k = 0; k < count && x < width; ++k)
                put(four ? ((k & 1) ? value & 0x0F : value >> 4) : value);
            continue;
        }
        if (value == 0) { // end of line
            x = 0;
            ++y;
        } else if (value == 1) { // end of bitmap
            return true;
        } else if (value == 2) { // delta
            if (i + 1 >= n) return false;
            // Clamped like a run: many deltas on one row must not wrap x round to negative.
            x = std::min(width, x + p[i]);
            y += p[i + 1];
            i += 2;
        } else { // absolute run of `value` pixels, padded to 16 bits
            std::size_t bytes = four ? (std::size_t(value) + 1) / 2 : value;
            if (i + bytes > n) return false;
            for (int k = 0; k < value && x < width; ++k)
                put(four ? ((k & 1) ? p[i + k / 2] & 0x0F : p[i + k / 2] >> 4) : p[i + k]);
            i += (bytes + 1) & ~std::size_t(1);
        }
    }
    return true;
}

} // namespace

DibResult decodeDib(const std::uint8_t* data, std::size_t size, const DibOptions& options) {
    if (!data || size < 12) return fail(QStringLiteral("bitmap header is truncated"));
    const std::uint32_t headerSize = u32(data);
    std::int64_t width = 0, height = 0;
    int bitCount = 0;
    std::uint32_t compression = kBiRgb, colorsUsed = 0;
    bool core = false;
    if (headerSize == 12) {
        core = true;
        width = u16(data + 4);
        height = std::int16_t(u16(data + 6));
        bitCount = u16(data + 10);
    } else if (headerSize >= 40 && headerSize <= 124) {
        if (size < headerSize) return fail(QStringLiteral("bitmap header is truncated"));
        width = std::int32_t(u32(data + 4));
        height = std::int32_t(u32(data + 8));
        bitCount = u16(data + 14);
        compression = u32(data + 16);
        colorsUsed = u32(data + 32);
    } else {
        return fail(QStringLiteral("unknown bitmap header size %1").arg(headerSize));
    }
    const bool topDown = height < 0;
    if (topDown) height = -height;
    if (options.rowsOverride > 0) height = std::min<std::int64_t>(height, options.rowsOverride);
    if (width <= 0 || height <= 0)
        return fail(QStringLiteral("bitmap has no pixels (%1 x %2)").arg(width).arg(height));
    if (width * height > kMaxDibPixels || width > 65535 || height > 65535 ||
        (options.maxSide > 0 && (width > options.maxSide || height > options.maxSide)))
        return fail(QStringLiteral("bitmap of %1 x %2 pixels is too large").arg(width).arg(height));
    if (options.pixelBudget) {
        if (std::uint64_t(width * height) > *options.pixelBudget)
            return fail(QStringLiteral("too many bitmap pixels in one picture"));
        *options.pixelBudget -= std::uint64_t(width * height);
    }
    switch (bitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        break;
    default:
        return fail(QStringLiteral("unsupported bitmap depth of %1 bits").arg(bitCount));
    }
    const bool rle = compression == kBiRle8 || compression == kBiRle4;
    if (rle && (topDown || bitCount != (compression == kBiRle8 ? 8 : 4)))
        return fail(QStringLiteral("invalid run-length compressed bitmap"));
    if (compression != kBiRgb && !rle && compression != kBiBitfields &&
        compression != kBiAlphaBitfields)
        return fail(QStringLiteral("unsupported bitmap compression %1").arg(compression));

    std::size_t pos = headerSize;
    // Bit-field masks: inside the larger headers, or as three or four words after a 40-byte one.
    Field red, green, blue, alpha;
    if (compression == kBiBitfields || compression == kBiAlphaBitfields) {
        if (bitCount != 16 && bitCount != 32)
            return fail(QStringLiteral("bit fields need 16 or 32 bits per pixel"));
        const std::size_t maskAt = headerSize >= 52 ? 40 : headerSize;
        // Alpha too: a fourth word after a 40-byte header, or inside a 56-byte or larger one.
        const int masks = compression == kBiAlphaBitfields || headerSize >= 56 ? 4 : 3;
        if (maskAt + 4 * masks > size)
            return fail(QStringLiteral("bitmap colour masks are truncated"));
        red = makeField(u32(data + maskAt));
        green = makeField(u32(data + maskAt + 4));
        blue = makeField(u32(data + maskAt + 8));
        if (masks == 4) alpha = makeField(u32(data + maskAt + 12));
        if (headerSize == 40) pos += 4 * masks;
    } else if (bitCount == 16) {
        red = makeField(0x7C00);
        green = makeField(0x03E0);
        blue = makeField(0x001F);
    }

    // Colour table.
    QList<QRgb> colours;
    // The colour count must describe a table the data can hold: at most 256 entries for an
    // indexed bitmap (only those its depth can address are read), and the optional table of a
    // 16- to 32-bit bitmap within the bytes given, since the pixels follow it.
    if (bitCount <= 8 ? colorsUsed > 256 : !core && colorsUsed > (size - pos) / 4)
        return fail(QStringLiteral("bitmap colour count %1 does not fit its data").arg(colorsUsed));
    if (bitCount <= 8) {
        std::size_t count = colorsUsed ? colorsUsed : (1u << bitCount);
        count = std::min<std::size_t>(count, 1u << bitCount);
        const std::size_t entry = options.paletteIndexes ? 2 : (core ? 3 : 4);
        if (pos + count * entry > size)
            return fail(QStringLiteral("bitmap colour table is truncated"));
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* e = data + pos + i * entry;
            if (options.paletteIndexes) {
                const int index = u16(e);
                if (options.palette && index < options.palette->size())
                    colours.append((*options.palette)[index]);
                else
                    colours.append(qRgb(index & 0xFF, index & 0xFF, index & 0xFF));
            } else {
                colours.append(qRgb(e[2], e[1], e[0]));
            }
        }
        while (colours.size() < (1 << bitCount)) colours.append(qRgb(0, 0, 0));
        pos += count * entry;
    } else if (colorsUsed && !core) {
        pos += std::size_t(colorsUsed) * 4; // a colour table for optimisation only
    }

    const int w = int(width), h = int(height);
    const std::size_t stride = ((std::size_t(w) * std::size_t(bitCount) + 31) / 32) * 4;
    const std::size_t needed = stride * std::size_t(h);
    // Memory only for pixels the data can describe: uncompressed rows must be present (the last
    // row's padding may be missing), and runs expand at most kMaxRleExpansion times.
    if (rle) {
        const std::uint64_t pixels = std::uint64_t(w) * std::uint64_t(h);
        if (pixels > kRleAlwaysAllowedPixels && pixels / kMaxRleExpansion > size - pos)
            return fail(QStringLiteral("run-length compressed bitmap is truncated"));
    } else if (pos > size || size - pos < needed) {
        const std::size_t lastRow = (std::size_t(w) * std::size_t(bitCount) + 7) / 8;
        if (pos > size || size - pos < needed - stride + lastRow)
            return fail(QStringLiteral("bitmap pixel data is truncated"));
    }
    const bool wantAlpha = bitCount == 32 && options.keepAlpha;
    QImage image(w, h, wantAlpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull())
        return fail(QStringLiteral("not enough memory for a %1 x %2 bitmap").arg(w).arg(h));

    DibResult result;
    result.bitCount = bitCount;
    result.topDown = topDown;

    if (rle) {
        std::vector<std::uint8_t> indexes;
        if (!decodeRle(data + pos, size - pos, compression == kBiRle4, w, h, indexes))
            return fail(QStringLiteral("run-length compressed bitmap is truncated"));
        for (int y = 0; y < h; ++y) {
            QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(h - 1 - y));
            for (int x = 0; x < w; ++x)
                line[x] = colours[indexes[std::size_t(y) * std::size_t(w) + std::size_t(x)]];
        }
        result.bitsEnd = size;
        result.image = std::move(image);
        return result;
    }

    const std::size_t available = size - pos;
    bool anyAlpha = false;
    for (int row = 0; row < h; ++row) {
        const std::uint8_t* src = data + pos + std::size_t(row) * stride;
        const std::size_t rowBytes = std::min(stride, available - std::size_t(row) * stride);
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(topDown ? row : h - 1 - row));
        auto byteAt = [&](std::size_t i) -> std::uint8_t { return i < rowBytes ? src[i] : 0; };
        for (int x = 0; x < w; ++x) {
            const std::size_t sx = std::size_t(x);
            switch (bitCount) {
            case 1:
                line[x] = colours[(byteAt(sx / 8) >> (7 - sx % 8)) & 1];
                break;
            case 4:
                line[x] = colours[(byteAt(sx / 2) >> ((sx & 1) ? 0 : 4)) & 0x0F];
                break;
            case 8:
                line[x] = colours[byteAt(sx)];
                break;
            case 16: {
                const std::uint32_t v = byteAt(sx * 2) | byteAt(sx * 2 + 1) << 8;
                line[x] = qRgb(red.value(v), green.value(v), blue.value(v));
                break;
            }
            case 24:
                line[x] = qRgb(byteAt(sx * 3 + 2), byteAt(sx * 3 + 1), byteAt(sx * 3));
                break;
            case 32: {
                const std::uint32_t v = std::uint32_t(byteAt(sx * 4)) |
                                        std::uint32_t(byteAt(sx * 4 + 1)) << 8 |
                                        std::uint32_t(byteAt(sx * 4 + 2)) << 16 |
                                        std::uint32_t(byteAt(sx * 4 + 3)) << 24;
                if (red.mask) {
                    const int a = alpha.mask ? alpha.value(v) : int(v >> 24);
                    line[x] = qRgba(red.value(v), green.value(v), blue.value(v), a);
                } else {
                    line[x] =
                        qRgba(int(v >> 16) & 0xFF, int(v >> 8) & 0xFF, int(v) & 0xFF, int(v >> 24));
                }
                if (qAlpha(line[x])) anyAlpha = true;
                if (!wantAlpha) line[x] |= 0xFF000000u;
                break;
            }
            }
        }
    }
    if (wantAlpha && !anyAlpha) {
        // The fourth byte of most 32-bit DIBs is unused: all zero means opaque.
        for (int y = 0; y < h; ++y) {
            QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < w; ++x) line[x] |= 0xFF000000u;
        }
        image = image.convertToFormat(QImage::Format_RGB32);
    }
    result.hasAlphaBytes = anyAlpha;
    result.bitsEnd = pos + std::min(needed, available);
    result.image = std::move(image);
    return result;
}

} // namespace pixmoor::wmf
