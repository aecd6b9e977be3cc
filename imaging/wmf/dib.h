// Device-independent bitmaps (the DIBs embedded in metafiles and the images of .ico files) as
// QImage: the codec's DIB decoder (imaging/codec/dib.h) with its result turned into an image and
// its faults into words.
#pragma once

#include "imaging/codec/limits.h"

#include <QImage>
#include <QString>
#include <cstddef>
#include <cstdint>

namespace pixmoor::wmf {

struct DibOptions {
    // For icons: decode this many rows although the header's height counts the AND mask too.
    int rowsOverride = 0;
    // Keep the fourth byte of 32-bit pixels as alpha (icons); GDI's blts ignore it.
    bool keepAlpha = false;
    // Colour table entries are 16-bit palette indexes (DIB_PAL_COLORS); they map to this table
    // when it is not empty, else to grey levels.
    bool paletteIndexes = false;
    const QList<QRgb>* palette = nullptr;
    // Refuse bitmaps wider or taller than this (0: only limits::kMaxDibSide and kMaxDibPixels,
    // beyond which bitmaps are refused, not truncated).
    int maxSide = 0;
    // When set, the pixels still allowed for the caller's decodes: a bitmap larger than what is
    // left is refused before anything is allocated, and a decoded one is deducted.
    std::uint64_t* pixelBudget = nullptr;
};

struct DibResult {
    QImage image;            // RGB32 (ARGB32 with keepAlpha), top row first; null on error
    QString error;           // why decoding failed
    std::size_t bitsEnd = 0; // offset just past the pixel rows (where an icon's AND mask starts)
    int bitCount = 0;
    bool topDown = false;       // rows stored top row first (negative height)
    bool hasAlphaBytes = false; // a 32-bit image with a non-zero fourth byte somewhere
};

// Decodes a DIB: BITMAPCOREHEADER (12 bytes) or BITMAPINFOHEADER and its successors, 1, 2, 4,
// 8, 16, 24 or 32 bits per pixel, uncompressed, bit fields, RLE4 or RLE8.
DibResult decodeDib(const std::uint8_t* data, std::size_t size, const DibOptions& options = {});

} // namespace pixmoor::wmf
