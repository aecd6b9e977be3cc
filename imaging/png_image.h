// PNG data held in memory (an icon's entry, a thumbnail cache entry) decoded into a QImage by the
// codec's PNG reader, with its limits: text and the other ancillary chunks are skipped unread, so
// no picture made here carries a file's text.
#pragma once

#include "imaging/codec/limits.h"

#include <QByteArray>
#include <QImage>

#include <cstdint>

namespace pixmoor {

struct PngImageOptions {
    // Format_ARGB32 with the file's transparency; otherwise Format_RGB32, alpha over white.
    bool keepAlpha = false;
    // Larger pictures are refused before their pixels are allocated.
    int maxSide = limits::kMaxDimension;
    std::int64_t maxPixels = limits::kMaxPixels;
};

// The picture, or a null image when the data is not a PNG the codec reads or the picture is
// larger than the options allow. result (when given) gets the codec's result code; a picture
// refused for its size gives TooLarge.
QImage decodePngImage(const QByteArray& data, const PngImageOptions& options,
                      int* result = nullptr);

} // namespace pixmoor
