// The DIB decoder shared by the BMP reader and the bitmaps held in memory (see dib.h). Sizes come
// from untrusted data: every offset is checked and memory follows the bytes present.
#include "imaging/codec/dib.h"

#include "imaging/codec/errors.h"
#include "imaging/codec/file_bytes.h"
#include "imaging/codec/format_io.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace pixmoor::codec {

namespace {

using namespace detail;

enum Compression : std::uint32_t {
    BiRgb = 0,
    BiRle8 = 1,
    BiRle4 = 2,
    BiBitfields = 3,
    BiJpeg = 4,
    BiPng = 5,
    BiAlphaBitfields = 6,
};

constexpr std::size_t kFileHeader = 14;

int fail(DibHeader& h, DibFault fault, int rc) {
    h.fault = fault;
    return rc;
}

// A bit field of a 16- or 32-bit pixel, widened to 8 bits.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint32_t max = 0;
    explicit Channel(std::uint32_t m) : mask(m) {
        if (!m) return;
        while (!((m >> shift) & 1)) ++shift;
        max = m >> shift; // non-contiguous masks are read as their span; harmless
    }
    std::uint8_t operator()(std::uint32_t pixel) const {
        if (!max) return 0;
        const std::uint64_t v = (pixel & mask) >> shift;
        return std::uint8_t((v * 255 + max / 2) / max);
    }
};

// The colours of an indexed bitmap: its colour table (or the caller's palette through the
// table's indexes), or a gray ramp when it has none.
std::vector<Rgb> paletteOf(const std::uint8_t* d, const DibHeader& h, const DibOptions& options) {
    std::vector<Rgb> palette;
    if (h.bitCount > 8) return palette;
    if (h.paletteCount == 0) return grayRamp(1 << h.bitCount);
    palette.resize(h.paletteCount);
    for (std::size_t k = 0; k < h.paletteCount; ++k) {
        const std::uint8_t* e = d + h.paletteOffset + k * h.paletteEntrySize;
        if (options.paletteIndexes) {
            const std::size_t index = le16(e);
            const std::uint8_t grey = std::uint8_t(index & 0xFF);
            palette[k] = options.indexedColours && index < options.indexedColourCount
                             ? options.indexedColours[index]
                             : Rgb{grey, grey, grey};
        } else {
            palette[k] = {e[2], e[1], e[0]};
        }
    }
    return palette;
}

// The rows of a DIB whose bytes are all in memory.
class MemoryRows final : public DibRows {
public:
    MemoryRows(const std::uint8_t* pixels, std::size_t rowBytes)
        : pixels_(pixels), rowBytes_(rowBytes) {}
    const std::uint8_t* row(std::size_t i) override { return pixels_ + rowBytes_ * i; }

private:
    const std::uint8_t* pixels_;
    std::size_t rowBytes_;
};

// Streams the rows of an uncompressed bitmap, `available` bytes of pixel data, top row first
// (stored order when storedOrder): palette indices for 8 bits and fewer, R, G, B (or R, G, B, A)
// for the rest.
int streamUncompressed(DibRows& rows, std::size_t available, DibHeader& h,
                       const std::vector<Rgb>& palette, const DibOptions& options, bool storedOrder,
                       RowSink& sink) {
    const int w = int(h.width), height = int(h.height);
    const std::size_t rowBytes = dibRowBytes(h);
    // The last row may lack its padding; everything before it must be whole.
    const std::size_t lastRow = (std::size_t(w) * std::size_t(h.bitCount) + 7) / 8;
    if (available < rowBytes * std::size_t(height - 1) + lastRow)
        return fail(h, DibFault::PixelsTruncated, Truncated);
    h.bitsEnd = h.pixelOffset + std::min(rowBytes * std::size_t(height), available);

    std::array<std::uint32_t, 4> masks = h.masks;
    // Kept alpha also comes from the fourth byte of a 32-bit pixel without an alpha mask.
    if (options.keepAlpha && h.bitCount == 32 && !masks[3]) masks[3] = 0xFF000000u;
    // Alpha is only honoured when the masks carry it and some pixel is not fully transparent:
    // many writers leave the byte at zero in images meant to be opaque.
    const Channel red(masks[0]), green(masks[1]), blue(masks[2]), alpha(masks[3]);
    bool useAlpha = false;
    if (h.bitCount >= 16 && masks[3]) {
        for (int i = 0; i < height && !useAlpha; ++i) {
            const std::uint8_t* src = rows.row(std::size_t(i));
            if (!src) return fail(h, DibFault::PixelsTruncated, Truncated);
            for (int x = 0; x < w; ++x) {
                const std::uint32_t px = h.bitCount == 16 ? le16(src + 2 * x) : le32(src + 4 * x);
                if (px & masks[3]) {
                    useAlpha = true;
                    break;
                }
            }
        }
    }
    h.hasAlpha = useAlpha;
    const bool rgba = useAlpha && options.keepAlpha;
    const std::size_t outBytes = rgba ? 4 : 3;

    RowLayout layout;
    layout.width = w;
    layout.height = height;
    layout.bits =
        h.bitCount <= 8 ? (h.bitCount == 1 ? 1 : (h.bitCount == 8 ? 8 : 4)) : (rgba ? 32 : 24);
    if (h.bitCount <= 8) {
        layout.palette = palette.data();
        layout.paletteSize = int(palette.size());
    }
    // Stored B, G, R rows go to a sink that takes them straight from the data.
    layout.bgr = h.bitCount == 24 && options.bgrRows;
    std::vector<std::uint8_t> own;

    // 16-bit pixels go through a table of all 65536 values.
    std::vector<std::uint8_t> table16;
    if (h.bitCount == 16) {
        table16.resize(65536 * outBytes);
        for (std::uint32_t v = 0; v < 65536; ++v) {
            std::uint8_t* t = &table16[v * outBytes];
            t[0] = red(v), t[1] = green(v), t[2] = blue(v);
            if (rgba) {
                t[3] = alpha(v);
            } else if (useAlpha) {
                const unsigned a = alpha(v);
                t[0] = overWhite(t[0], a), t[1] = overWhite(t[1], a), t[2] = overWhite(t[2], a);
            }
        }
    }
    // The usual byte-aligned layouts skip the general bit-field arithmetic.
    const bool standard32 = h.bitCount == 32 && masks[0] == 0xFF0000 && masks[1] == 0xFF00 &&
                            masks[2] == 0xFF && (!useAlpha || masks[3] == 0xFF000000u);

    if (!sink.begin(layout)) return Stopped;
    for (int y = 0; y < height; ++y) {
        const int stored = h.topDown || storedOrder ? y : height - 1 - y;
        const std::uint8_t* src = rows.row(std::size_t(stored));
        if (!src) return fail(h, DibFault::PixelsTruncated, Truncated);
        if (layout.bgr) {
            if (!sink.row(src)) return Stopped;
            continue;
        }
        std::uint8_t* const target = sink.rowBuffer(y);
        if (!target && own.empty()) own.resize(std::size_t(w) * (h.bitCount <= 8 ? 1 : outBytes));
        std::uint8_t* dst = target ? target : own.data();
        std::uint8_t* const row = dst;
        switch (h.bitCount) {
        case 1:
            for (int x = 0; x < w; ++x) dst[x] = (src[x >> 3] >> (7 - (x & 7))) & 1;
            break;
        case 2:
            for (int x = 0; x < w; ++x) dst[x] = (src[x >> 2] >> (6 - 2 * (x & 3))) & 3;
            break;
        case 4:
            for (int x = 0; x < w; ++x) dst[x] = (src[x >> 1] >> ((x & 1) ? 0 : 4)) & 15;
            break;
        case 8:
            std::memcpy(dst, src, std::size_t(w));
            break;
        case 16:
            for (int x = 0; x < w; ++x, dst += outBytes) {
                const std::uint8_t* t = &table16[std::size_t(le16(src + 2 * x)) * outBytes];
                std::memcpy(dst, t, outBytes);
            }
            break;
        case 24:
            for (int x = 0; x < w; ++x, src += 3, dst += 3)
                dst[0] = src[2], dst[1] = src[1], dst[2] = src[0];
            break;
        case 32:
            if (standard32 && rgba) {
                for (int x = 0; x < w; ++x, src += 4, dst += 4)
                    dst[0] = src[2], dst[1] = src[1], dst[2] = src[0], dst[3] = src[3];
            } else if (standard32 && !useAlpha) {
                for (int x = 0; x < w; ++x, src += 4, dst += 3)
                    dst[0] = src[2], dst[1] = src[1], dst[2] = src[0];
            } else if (standard32) {
                for (int x = 0; x < w; ++x, src += 4, dst += 3) {
                    const unsigned a = src[3];
                    if (a == 255) {
                        dst[0] = src[2], dst[1] = src[1], dst[2] = src[0];
                    } else {
                        dst[0] = overWhite(src[2], a), dst[1] = overWhite(src[1], a),
                        dst[2] = overWhite(src[0], a);
                    }
                }
            } else {
                for (int x = 0; x < w; ++x, dst += outBytes) {
                    const std::uint32_t px = le32(src + 4 * x);
                    dst[0] = red(px), dst[1] = green(px), dst[2] = blue(px);
                    if (rgba) {
                        dst[3] = alpha(px);
                    } else if (useAlpha) {
                        const unsigned a = alpha(px);
                        dst[0] = overWhite(dst[0], a), dst[1] = overWhite(dst[1], a),
                        dst[2] = overWhite(dst[2], a);
                    }
                }
            }
            break;
        }
        if (!sink.row(row)) return Stopped;
    }
    return Ok;
}

// RLE8 and RLE4. Runs and deltas that leave the row or the image are clipped, and skipped pixels
// stay at index 0, as Windows does. A stream may omit its end-of-bitmap marker once the last line
// is complete; one that stops earlier is truncated.
int decodeRle(const std::uint8_t* p, std::size_t n, DibHeader& h, Raster& out) {
    const bool rle4 = h.compression == BiRle4;
    const int w = int(h.width), height = int(h.height);
    const std::uint64_t claimed = std::uint64_t(w) * std::uint64_t(height);
    if (claimed > limits::kRleAlwaysAllowedPixels &&
        !plausibleExpansion(claimed, n, limits::kMaxRleExpansion))
        return fail(h, DibFault::RleTruncated, Corrupt); // far more pixels than runs describe
    if (const int rc = allocateRaster(out, w, height, rle4 ? 4 : 8); rc != Ok)
        return fail(h, DibFault::OutOfMemory, rc);
    int x = 0, line = 0; // line counts from the bottom of the image
    std::size_t i = 0;
    bool finished = false;
    while (i + 1 < n && line < height) {
        const int count = p[i], value = p[i + 1];
        i += 2;
        std::uint8_t* dst = out.row(height - 1 - line);
        if (count > 0) {
            const int end = std::min(w, x + count);
            if (rle4) {
                const std::uint8_t pair[2] = {std::uint8_t(value >> 4), std::uint8_t(value & 15)};
                for (int k = 0; x + k < end; ++k) dst[x + k] = pair[k & 1];
            } else {
                if (x < end) std::memset(dst + x, value, std::size_t(end - x));
            }
            x = std::min(w, x + count);
        } else if (value == 0) { // end of line
            x = 0;
            ++line;
        } else if (value == 1) { // end of bitmap
            finished = true;
            break;
        } else if (value == 2) { // delta
            if (i + 1 >= n) break;
            x = std::min(w, x + p[i]);
            line += p[i + 1];
            i += 2;
        } else { // absolute run of `value` pixels, padded to a 16-bit boundary
            const std::size_t bytes = rle4 ? std::size_t(value + 1) / 2 : std::size_t(value);
            const std::size_t available = std::min(bytes, n - i);
            const int pixels = std::min<int>(value, int(rle4 ? available * 2 : available));
            for (int k = 0; k < pixels && x < w; ++k, ++x)
                dst[x] = rle4 ? ((p[i + std::size_t(k >> 1)] >> ((k & 1) ? 0 : 4)) & 15)
                              : p[i + std::size_t(k)];
            if (available < bytes) break;
            i += (bytes + 1) & ~std::size_t(1);
        }
    }
    if (!finished && line < height && !(line == height - 1 && x == w)) {
        out = Raster{};
        return fail(h, DibFault::RleTruncated, Truncated);
    }
    return Ok;
}

} // namespace

namespace detail {

int parseDibHeader(const std::uint8_t* d, std::size_t size, std::size_t start, bool inFile,
                   const DibOptions& options, DibHeader& h) {
    h = DibHeader{};
    if (start > size || size - start < 4) return fail(h, DibFault::HeaderTruncated, Truncated);
    h.headerSize = le32(d + start);
    if (h.headerSize < 12 || h.headerSize > 4096) return fail(h, DibFault::HeaderSize, Corrupt);
    if (h.headerSize > size - start) return fail(h, DibFault::HeaderTruncated, Truncated);

    // Copy the info header into a zeroed block so shorter variants read their missing fields as 0.
    std::array<std::uint8_t, 124> info{};
    std::memcpy(info.data(), d + start, std::min<std::size_t>(h.headerSize, info.size()));
    if (h.headerSize == 12) {
        h.os2 = true;
        h.width = le16(&info[4]);
        h.height = std::int16_t(le16(&info[6])); // OS/2 1.x writers use signed values in practice
        h.bitCount = le16(&info[10]);
    } else {
        h.os2 = h.headerSize < 40 || h.headerSize == 64;
        h.width = std::int32_t(le32(&info[4]));
        h.height = std::int32_t(le32(&info[8]));
        h.bitCount = le16(&info[14]);
        h.compression = le32(&info[16]);
        h.declaredColours = le32(&info[32]);
    }
    if (h.height < 0) {
        h.topDown = true;
        h.height = -h.height;
    }
    if (options.rowsOverride > 0) h.height = std::min<std::int64_t>(h.height, options.rowsOverride);
    if (const int rc = checkDimensions(h.width, h.height); rc != Ok)
        return fail(h, rc == TooLarge ? DibFault::TooLarge : DibFault::NoPixels, rc);
    if ((options.maxSide > 0 && (h.width > options.maxSide || h.height > options.maxSide)) ||
        (options.maxPixels > 0 && h.width * h.height > options.maxPixels))
        return fail(h, DibFault::TooLarge, TooLarge);
    if (options.pixelBudget) {
        const std::uint64_t pixels = std::uint64_t(h.width * h.height);
        if (pixels > *options.pixelBudget) return fail(h, DibFault::OverBudget, TooLarge);
        *options.pixelBudget -= pixels;
    }

    switch (h.bitCount) {
    case 1:
    case 2:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        break;
    case 0:
        return fail(h, DibFault::Depth, Unsupported); // the pixels are an embedded JPEG or PNG
    default:
        return fail(h, DibFault::Depth, Corrupt);
    }
    // OS/2 2.x reuses 3 and 4 for Huffman 1D and RLE24, which we do not read.
    if (h.os2 && (h.compression == BiBitfields || h.compression == BiJpeg))
        return fail(h, DibFault::Compression, Unsupported);
    switch (h.compression) {
    case BiRgb:
        break;
    case BiRle8:
        if (h.bitCount != 8) return fail(h, DibFault::InvalidRle, Corrupt);
        break;
    case BiRle4:
        if (h.bitCount != 4) return fail(h, DibFault::InvalidRle, Corrupt);
        break;
    case BiBitfields:
    case BiAlphaBitfields:
        if (h.bitCount != 16 && h.bitCount != 32) return fail(h, DibFault::MasksNeedDepth, Corrupt);
        break;
    default:
        return fail(h, DibFault::Compression, Unsupported);
    }
    if ((h.compression == BiRle8 || h.compression == BiRle4) && h.topDown)
        return fail(h, DibFault::InvalidRle, Corrupt);

    h.paletteOffset = start + h.headerSize;
    if (h.compression == BiBitfields || h.compression == BiAlphaBitfields) {
        const std::size_t count = h.compression == BiAlphaBitfields ? 4 : 3;
        const std::uint8_t* m;
        if (h.headerSize >= 40 + 4 * count) {
            m = &info[40];
            if (h.headerSize >= 56) h.masks[3] = le32(&info[52]);
        } else {
            // The masks follow a 40-byte header.
            if (4 * count > size - h.paletteOffset)
                return fail(h, DibFault::MasksTruncated, Truncated);
            m = d + h.paletteOffset;
            h.paletteOffset += 4 * count;
        }
        for (std::size_t i = 0; i < count; ++i) h.masks[i] = le32(m + 4 * i);
    } else if (h.bitCount == 16) {
        h.masks = {0x7C00, 0x03E0, 0x001F, 0};
    } else if (h.bitCount == 32) {
        h.masks = {0xFF0000, 0xFF00, 0xFF, 0};
    }

    h.paletteEntrySize = options.paletteIndexes ? 2 : (h.headerSize == 12 ? 3 : 4);
    // The colour count must describe a table the data can hold: at most 256 entries for an
    // indexed bitmap (more than its depth allows is tolerated, only those are read), and the
    // optional table of a 16- to 32-bit bitmap within the bytes given.
    const std::size_t tableRoom = size - h.paletteOffset;
    if (h.bitCount <= 8 ? h.declaredColours > 256
                        : h.declaredColours > tableRoom / h.paletteEntrySize)
        return fail(h, DibFault::ColourCount, Corrupt);
    std::size_t end = size;
    if (inFile) {
        h.pixelOffset = le32(d + 10);
        if (h.pixelOffset >= h.paletteOffset && h.pixelOffset < end) end = h.pixelOffset;
    }
    std::size_t optionalTable = 0;
    if (h.bitCount <= 8) {
        const std::size_t full = std::size_t(1) << h.bitCount;
        const std::size_t count = h.declaredColours ? std::min(h.declaredColours, full) : full;
        // Never read the colour table past the pixels or the end of the data.
        h.paletteCount = std::min(
            count, (end > h.paletteOffset ? end - h.paletteOffset : 0) / h.paletteEntrySize);
        // In memory the pixels follow the table, so a short one leaves none.
        if (!inFile && h.paletteCount < count)
            return fail(h, DibFault::ColourTableTruncated, Truncated);
        if (h.declaredColours == 0) h.declaredColours = full;
    } else {
        optionalTable = h.declaredColours; // for optimisation only; the pixels follow it
        h.declaredColours = 0;
    }
    if (!inFile) {
        h.pixelOffset = h.paletteOffset + (h.paletteCount + optionalTable) * h.paletteEntrySize;
        if (h.pixelOffset > size) return fail(h, DibFault::PixelsTruncated, Truncated);
        return Ok;
    }
    if (h.pixelOffset == 0) h.pixelOffset = h.paletteOffset + h.paletteCount * h.paletteEntrySize;
    if (h.pixelOffset < kFileHeader + 12) return fail(h, DibFault::PixelOffset, Corrupt);
    if (h.pixelOffset >= size) return fail(h, DibFault::PixelsTruncated, Truncated);
    return Ok;
}

// Uncompressed rows stream straight from the bytes; run-length data, whose deltas jump about the
// picture, is expanded into a raster first. Indices past a short colour table are black, as the
// sink contract has it.
int decodeDibPixels(const std::uint8_t* d, std::size_t size, DibHeader& h,
                    const DibOptions& options, RowSink& sink, FileBytes* release) {
    if (h.compression != BiRle8 && h.compression != BiRle4) {
        MemoryRows rows(d + h.pixelOffset, dibRowBytes(h));
        return decodeDibRows(d, h, size - h.pixelOffset, options, rows, false, sink);
    }
    try {
        const std::vector<Rgb> palette = paletteOf(d, h, options);
        Raster raster;
        if (const int rc = decodeRle(d + h.pixelOffset, size - h.pixelOffset, h, raster); rc != Ok)
            return rc;
        h.bitsEnd = size;
        raster.palette = palette;
        if (release) *release = FileBytes{}; // the bytes go before the raster is handed on
        return sink.image(std::move(raster)) ? Ok : Stopped;
    } catch (const std::bad_alloc&) {
        return fail(h, DibFault::OutOfMemory, OutOfMemory);
    }
}

std::size_t dibRowBytes(const DibHeader& h) {
    return ((std::size_t(h.width) * std::size_t(h.bitCount) + 31) / 32) * 4;
}

bool streamableDib(const DibHeader& h, const DibOptions& options) {
    if (h.compression == BiRle8 || h.compression == BiRle4) return false;
    if (h.bitCount < 16) return true;
    // Alpha is honoured only when some pixel has it, which takes a look at every row first.
    return !h.masks[3] && !(options.keepAlpha && h.bitCount == 32);
}

int decodeDibRows(const std::uint8_t* d, DibHeader& h, std::size_t available,
                  const DibOptions& options, DibRows& rows, bool storedOrder, RowSink& sink) {
    try {
        const std::vector<Rgb> palette = paletteOf(d, h, options);
        return streamUncompressed(rows, available, h, palette, options, storedOrder, sink);
    } catch (const std::bad_alloc&) {
        return fail(h, DibFault::OutOfMemory, OutOfMemory);
    }
}

} // namespace detail

int decodeDib(const std::uint8_t* data, std::size_t size, const DibOptions& options, RowSink& sink,
              DibHeader* header) {
    DibHeader own;
    DibHeader& h = header ? *header : own;
    if (!data) return fail(h = DibHeader{}, DibFault::HeaderTruncated, Truncated);
    if (const int rc = parseDibHeader(data, size, 0, false, options, h); rc != Ok) return rc;
    return decodeDibPixels(data, size, h, options, sink);
}

} // namespace pixmoor::codec
