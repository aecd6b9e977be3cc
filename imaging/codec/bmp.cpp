// BMP reader, writer and information: Windows and OS/2 headers (12 to 124 bytes), 1, 2, 4, 8, 16,
// 24 and 32 bits, RLE4 and RLE8, bit fields with alpha, bottom-up and top-down rows. Our own code.
#include "imaging/codec/codec.h"
#include "imaging/codec/decode.h"
#include "imaging/codec/errors.h"
#include "imaging/codec/file_bytes.h"
#include "imaging/codec/format_io.h"
#include "imaging/codec/formats.h"
#include "imaging/codec/raster_sink.h"

#include <algorithm>
#include <array>
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

struct BmpHeader {
    std::uint32_t headerSize = 0;
    int width = 0;
    int height = 0;
    bool topDown = false;
    int bitCount = 0;
    std::uint32_t compression = BiRgb;
    bool os2 = false;                     // 12-byte header, or OS/2 2.x (16 to 64 bytes)
    std::array<std::uint32_t, 4> masks{}; // red, green, blue, alpha
    std::size_t paletteOffset = 0;
    std::size_t paletteEntrySize = 4;
    std::size_t paletteCount = 0;    // entries actually present in the file
    std::size_t declaredColours = 0; // what the header announces
    std::size_t pixelOffset = 0;
};

// Parses the headers of a BMP held in d[0..size). Checks every field that later code relies on.
int parseHeader(const std::uint8_t* d, std::size_t size, BmpHeader& h) {
    if (size < 2 || d[0] != 'B' || d[1] != 'M') return NotThisFormat;
    if (size < kFileHeader + 4) return Truncated;
    h.headerSize = le32(d + kFileHeader);
    if (h.headerSize < 12 || h.headerSize > 4096) return Corrupt;
    if (kFileHeader + h.headerSize > size) return Truncated;

    // Copy the info header into a zeroed block so shorter variants read their missing fields as 0.
    std::array<std::uint8_t, 124> info{};
    std::memcpy(info.data(), d + kFileHeader, std::min<std::size_t>(h.headerSize, info.size()));
    std::int64_t width, height;
    if (h.headerSize == 12) {
        h.os2 = true;
        width = le16(&info[4]);
        height = std::int16_t(le16(&info[6])); // OS/2 1.x writers use signed values in practice
        h.bitCount = le16(&info[10]);
    } else {
        h.os2 = h.headerSize < 40 || h.headerSize == 64;
        width = std::int32_t(le32(&info[4]));
        height = std::int32_t(le32(&info[8]));
        h.bitCount = le16(&info[14]);
        h.compression = le32(&info[16]);
        h.declaredColours = le32(&info[32]);
    }
    if (height < 0) {
        h.topDown = true;
        height = -height;
    }
    if (const int rc = checkDimensions(width, height); rc != Ok) return rc;
    h.width = int(width);
    h.height = int(height);

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
        return Unsupported; // the pixels are an embedded JPEG or PNG
    default:
        return Corrupt;
    }
    // OS/2 2.x reuses 3 and 4 for Huffman 1D and RLE24, which we do not read.
    if (h.os2 && (h.compression == BiBitfields || h.compression == BiJpeg)) return Unsupported;
    switch (h.compression) {
    case BiRgb:
        break;
    case BiRle8:
        if (h.bitCount != 8) return Corrupt;
        break;
    case BiRle4:
        if (h.bitCount != 4) return Corrupt;
        break;
    case BiBitfields:
    case BiAlphaBitfields:
        if (h.bitCount != 16 && h.bitCount != 32) return Corrupt;
        break;
    default:
        return Unsupported;
    }
    if ((h.compression == BiRle8 || h.compression == BiRle4) && h.topDown) return Corrupt;

    h.paletteOffset = kFileHeader + h.headerSize;
    if (h.compression == BiBitfields || h.compression == BiAlphaBitfields) {
        const std::size_t count = h.compression == BiAlphaBitfields ? 4 : 3;
        const std::uint8_t* m;
        if (h.headerSize >= 40 + 4 * count) {
            m = &info[40];
            if (h.headerSize >= 56) h.masks[3] = le32(&info[52]);
        } else {
            // The masks follow a 40-byte header.
            if (h.paletteOffset + 4 * count > size) return Truncated;
            m = d + h.paletteOffset;
            h.paletteOffset += 4 * count;
        }
        for (std::size_t i = 0; i < count; ++i) h.masks[i] = le32(m + 4 * i);
    } else if (h.bitCount == 16) {
        h.masks = {0x7C00, 0x03E0, 0x001F, 0};
    } else if (h.bitCount == 32) {
        h.masks = {0xFF0000, 0xFF00, 0xFF, 0};
    }

    h.paletteEntrySize = h.headerSize == 12 ? 3 : 4;
    h.pixelOffset = le32(d + 10);
    // The colour count must describe a table the file can hold: at most 256 entries for an
    // indexed bitmap (more than its depth allows is tolerated, only those are read), and the
    // optional table of a 16- to 32-bit bitmap within the file's bytes.
    const std::size_t tableRoom = size - h.paletteOffset;
    if (h.bitCount <= 8 ? h.declaredColours > 256
                        : h.declaredColours > tableRoom / h.paletteEntrySize)
        return Corrupt;
    if (h.bitCount <= 8) {
        const std::size_t full = std::size_t(1) << h.bitCount;
        std::size_t count = h.declaredColours ? std::min(h.declaredColours, full) : full;
        // Never read the colour table past the pixels or the end of the file.
        std::size_t end = size;
        if (h.pixelOffset >= h.paletteOffset && h.pixelOffset < end) end = h.pixelOffset;
        count = std::min(count,
                         (end > h.paletteOffset ? end - h.paletteOffset : 0) / h.paletteEntrySize);
        h.paletteCount = count;
        if (h.declaredColours == 0) h.declaredColours = full;
    } else {
        h.declaredColours = 0;
    }
    if (h.pixelOffset == 0) h.pixelOffset = h.paletteOffset + h.paletteCount * h.paletteEntrySize;
    if (h.pixelOffset < kFileHeader + 12) return Corrupt;
    if (h.pixelOffset >= size) return Truncated;
    return Ok;
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

// Streams the rows of an uncompressed bitmap straight from the file's bytes, top row first:
// palette indices for 8 bits and fewer, R, G, B for the rest (alpha over white).
int streamUncompressed(const std::uint8_t* d, std::size_t size, const BmpHeader& h,
                       const std::vector<Rgb>& palette, RowSink& sink) {
    const std::size_t rowBytes = ((std::size_t(h.width) * h.bitCount + 31) / 32) * 4;
    // The last row may lack its padding; everything before it must be whole.
    const std::size_t lastRow = (std::size_t(h.width) * h.bitCount + 7) / 8;
    if (size - h.pixelOffset < rowBytes * std::size_t(h.height - 1) + lastRow) return Truncated;

    RowLayout layout;
    layout.width = h.width;
    layout.height = h.height;
    layout.bits = h.bitCount <= 8 ? (h.bitCount == 1 ? 1 : (h.bitCount == 8 ? 8 : 4)) : 24;
    if (h.bitCount <= 8) {
        layout.palette = palette.data();
        layout.paletteSize = int(palette.size());
    }
    const int w = h.width;
    std::vector<std::uint8_t> own;

    // Alpha is only honoured when the masks carry it and some pixel is not fully transparent:
    // many writers leave the byte at zero in images meant to be opaque.
    const Channel red(h.masks[0]), green(h.masks[1]), blue(h.masks[2]), alpha(h.masks[3]);
    bool useAlpha = false;
    if (h.bitCount >= 16 && h.masks[3]) {
        for (int i = 0; i < h.height && !useAlpha; ++i) {
            const std::uint8_t* src = d + h.pixelOffset + rowBytes * std::size_t(i);
            for (int x = 0; x < w; ++x) {
                const std::uint32_t px = h.bitCount == 16 ? le16(src + 2 * x) : le32(src + 4 * x);
                if (px & h.masks[3]) {
                    useAlpha = true;
                    break;
                }
            }
        }
    }
    // 16-bit pixels go through a table of all 65536 values.
    std::vector<std::uint8_t> table16;
    if (h.bitCount == 16) {
        table16.resize(65536 * 3);
        for (std::uint32_t v = 0; v < 65536; ++v) {
            std::uint8_t* t = &table16[v * 3];
            t[0] = red(v), t[1] = green(v), t[2] = blue(v);
            if (useAlpha) {
                const unsigned a = alpha(v);
                t[0] = overWhite(t[0], a), t[1] = overWhite(t[1], a), t[2] = overWhite(t[2], a);
            }
        }
    }
    // The usual byte-aligned layouts skip the general bit-field arithmetic.
    const bool standard32 = h.bitCount == 32 && h.masks[0] == 0xFF0000 && h.masks[1] == 0xFF00 &&
                            h.masks[2] == 0xFF && (!useAlpha || h.masks[3] == 0xFF000000u);

    if (!sink.begin(layout)) return Stopped;
    for (int y = 0; y < h.height; ++y) {
        const int stored = h.topDown ? y : h.height - 1 - y;
        const std::uint8_t* src = d + h.pixelOffset + rowBytes * std::size_t(stored);
        std::uint8_t* const target = sink.rowBuffer(y);
        if (!target && own.empty()) own.resize(std::size_t(w) * (h.bitCount <= 8 ? 1 : 3));
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
            for (int x = 0; x < w; ++x, dst += 3) {
                const std::uint8_t* t = &table16[std::size_t(le16(src + 2 * x)) * 3];
                dst[0] = t[0], dst[1] = t[1], dst[2] = t[2];
            }
            break;
        case 24:
            for (int x = 0; x < w; ++x, src += 3, dst += 3)
                dst[0] = src[2], dst[1] = src[1], dst[2] = src[0];
            break;
        case 32:
            if (standard32 && !useAlpha) {
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
                for (int x = 0; x < w; ++x, dst += 3) {
                    const std::uint32_t px = le32(src + 4 * x);
                    dst[0] = red(px), dst[1] = green(px), dst[2] = blue(px);
                    if (useAlpha) {
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
int decodeRle(const std::uint8_t* p, std::size_t n, const BmpHeader& h, Raster& out) {
    const bool rle4 = h.compression == BiRle4;
    const std::uint64_t claimed = std::uint64_t(h.width) * std::uint64_t(h.height);
    if (claimed > kRleAlwaysAllowedPixels && !plausibleExpansion(claimed, n, kMaxRleExpansion))
        return Corrupt; // far more pixels than the runs could describe
    if (const int rc = allocateRaster(out, h.width, h.height, rle4 ? 4 : 8); rc != Ok) return rc;
    const int w = h.width;
    int x = 0, line = 0; // line counts from the bottom of the image
    std::size_t i = 0;
    bool finished = false;
    while (i + 1 < n && line < h.height) {
        const int count = p[i], value = p[i + 1];
        i += 2;
        std::uint8_t* dst = out.row(h.height - 1 - line);
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
    if (!finished && line < h.height && !(line == h.height - 1 && x == w)) {
        out = Raster{};
        return Truncated;
    }
    return Ok;
}

// The colours of an indexed bitmap: its colour table, or a gray ramp when it has none.
std::vector<Rgb> paletteOf(const std::uint8_t* d, const BmpHeader& h) {
    std::vector<Rgb> palette;
    if (h.bitCount > 8) return palette;
    if (h.paletteCount == 0) return grayRamp(1 << h.bitCount);
    palette.resize(h.paletteCount);
    for (std::size_t k = 0; k < h.paletteCount; ++k) {
        const std::uint8_t* e = d + h.paletteOffset + k * h.paletteEntrySize;
        palette[k] = {e[2], e[1], e[0]};
    }
    return palette;
}

const char* compressionName(std::uint32_t c) {
    switch (c) {
    case BiRgb:
        return "None";
    case BiRle8:
        return "RLE8";
    case BiRle4:
        return "RLE4";
    case BiBitfields:
        return "Bitfields";
    case BiAlphaBitfields:
        return "Alpha bitfields";
    case BiJpeg:
        return "JPEG";
    case BiPng:
        return "PNG";
    default:
        return "Unknown";
    }
}

} // namespace

namespace detail {

// Uncompressed rows stream straight from the file's bytes; run-length data, whose deltas jump
// about the picture, is expanded into a raster first. Indices past a short colour table are
// black, as the sink contract has it.
int decodeBmp(const std::string& file, const DecodeOptions&, RowSink& sink) {
    try {
        FileBytes bytes;
        if (const int rc = readFileBytes(file, bytes); rc != Ok) return rc;
        const std::uint8_t* d = bytes.data.get();
        BmpHeader h;
        if (const int rc = parseHeader(d, bytes.size, h); rc != Ok) return rc;
        const std::vector<Rgb> palette = paletteOf(d, h);
        if (h.compression != BiRle8 && h.compression != BiRle4)
            return streamUncompressed(d, bytes.size, h, palette, sink);
        Raster raster;
        if (const int rc = decodeRle(d + h.pixelOffset, bytes.size - h.pixelOffset, h, raster);
            rc != Ok)
            return rc;
        raster.palette = palette;
        bytes = FileBytes{}; // the file's bytes go before the raster is handed on
        return sink.image(std::move(raster)) ? Ok : Stopped;
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
}

} // namespace detail

int readBmp(const std::string& file, int bits, int dither, Raster& out) {
    return detail::readThroughSink(detail::decodeBmp, file, DecodeOptions{}, bits, dither, out);
}

namespace detail {

int infoBmp(const std::string& file, ImageInfo& info) {
    info = ImageInfo{};
    FileBytes bytes;
    if (const int rc = readFileBytes(file, bytes, 64 * 1024); rc != Ok) return rc;
    BmpHeader h;
    const int rc = parseHeader(bytes.data.get(), bytes.size, h);
    // Embedded JPEG or PNG pixels are still a well-formed header worth describing.
    if (rc != Ok && !(rc == Truncated && h.width > 0)) return rc;
    info.format = "BMP";
    info.width = h.width;
    info.height = h.height;
    info.bitsPerPixel = h.bitCount;
    info.colours = std::int32_t(h.declaredColours);
    info.pages = 1;
    info.detail = compressionName(h.compression);
    if (h.headerSize == 12 || h.os2)
        info.detail += ", OS/2";
    else if (h.headerSize == 108)
        info.detail += ", V4";
    else if (h.headerSize >= 124)
        info.detail += ", V5";
    if (h.topDown) info.detail += ", top-down";
    return Ok;
}

} // namespace detail

int writeBmp(const std::string& file, int bits, const Raster& in) {
    try {
        if (file.empty()) return EmptyFileName;
        int rc = Ok;
        Raster scratch;
        const Raster* image = rasterForDepth(in, bits, scratch, rc);
        if (!image) return rc;
        const int fileBits = bits == 0 ? 4 : bits;
        const std::size_t colours = fileBits <= 8 ? std::size_t(1) << fileBits : 0;
        const std::size_t w = std::size_t(image->width);
        const std::size_t rowBytes = ((w * std::size_t(fileBits) + 31) / 32) * 4;
        const std::size_t imageBytes = rowBytes * std::size_t(image->height);
        const std::size_t offset = kFileHeader + 40 + colours * 4;
        if (offset + imageBytes > 0xFFFFFFFFu) return TooLarge;

        std::vector<std::uint8_t> head(offset, 0);
        head[0] = 'B', head[1] = 'M';
        putLe32(&head[2], std::uint32_t(offset + imageBytes));
        putLe32(&head[10], std::uint32_t(offset));
        std::uint8_t* ih = &head[kFileHeader];
        putLe32(ih, 40);
        putLe32(ih + 4, std::uint32_t(image->width));
        putLe32(ih + 8, std::uint32_t(image->height));
        putLe16(ih + 12, 1);
        putLe16(ih + 14, std::uint32_t(fileBits));
        putLe32(ih + 20, std::uint32_t(imageBytes));
        putLe32(ih + 24, 2835); // 72 dpi
        putLe32(ih + 28, 2835);
        putLe32(ih + 32, std::uint32_t(colours));
        for (std::size_t k = 0; k < colours && k < image->palette.size(); ++k) {
            std::uint8_t* e = &head[kFileHeader + 40 + 4 * k];
            e[0] = image->palette[k].b, e[1] = image->palette[k].g, e[2] = image->palette[k].r;
        }

        OutputFile out;
        if ((rc = out.open(file)) != Ok) return rc;
        if (std::fwrite(head.data(), 1, head.size(), out.get()) != head.size()) return WriteFailed;
        std::vector<std::uint8_t> row(rowBytes, 0);
        for (int y = image->height - 1; y >= 0; --y) {
            const std::uint8_t* src = image->row(y);
            std::fill(row.begin(), row.end(), 0);
            switch (fileBits) {
            case 1:
                for (std::size_t x = 0; x < w; ++x)
                    row[x >> 3] |= std::uint8_t((src[x] & 1) << (7 - (x & 7)));
                break;
            case 4:
                for (std::size_t x = 0; x < w; ++x)
                    row[x >> 1] |= std::uint8_t((src[x] & 15) << ((x & 1) ? 0 : 4));
                break;
            case 8:
                std::memcpy(row.data(), src, w);
                break;
            default:
                for (std::size_t x = 0; x < w; ++x)
                    row[3 * x] = src[3 * x + 2], row[3 * x + 1] = src[3 * x + 1],
                            row[3 * x + 2] = src[3 * x];
            }
            if (std::fwrite(row.data(), 1, rowBytes, out.get()) != rowBytes) return WriteFailed;
        }
        return out.commit();
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
}

} // namespace pixmoor::codec
