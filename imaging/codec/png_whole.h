// Internal to the codec library: whole-buffer decoding of plain PNGs for thumbnails (libdeflate
// inflates the image data in one call), giving exactly the rows readPng's libpng set-up gives.
#pragma once

#include "imaging/codec/jpeg_dc.h"

#include <cstddef>

namespace pixmoor::codec::detail {

// Decodes a PNG held in data and streams its rows to sink as streamPng does: non-interlaced,
// 8-bit RGB, RGBA, gray-alpha, and gray or palette of 1 to 8 bits, with every chunk's CRC
// checked. NotApplicable, with nothing sent to the sink, for any other file or any doubt.
FastDecodeResult decodePngWhole(const unsigned char* data, std::size_t size, RowSink& sink);

} // namespace pixmoor::codec::detail
