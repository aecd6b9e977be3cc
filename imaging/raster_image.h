// Conversions between the codec library's Raster and QImage. A decoded raster is handed to Qt
// without copying its pixels; an image to be saved becomes a raster of the depth it really has.
#pragma once

#include "imaging/codec/raster.h"

#include <QByteArray>
#include <QImage>

namespace pixmoor {

// Takes over the raster's pixel buffer: the image wraps it (Indexed8 with the raster's palette
// for 1, 4 and 8 bits, RGB888 for 24 bits) and frees it when the last copy of the image goes.
// An empty raster gives a null image. The raster is left empty.
QImage rasterToImage(codec::Raster&& raster);

// A whole BMP file held in memory, decoded by the codec at its own depth (as rasterToImage
// wraps it). result gets the codec's result code; size, when given, the header's width and
// height once read (also for a picture refused as too large).
QImage bmpDataToImage(const QByteArray& data, int& result, QSize* size = nullptr);

// The image as a raster for the writers: an indexed image keeps its palette and indices (1, 4 or
// 8 bits by its colour count), anything else becomes 24-bit true colour with alpha composited
// over white. A null image gives an empty raster. Throws std::bad_alloc when memory runs out.
codec::Raster imageToRaster(const QImage& image);

} // namespace pixmoor
