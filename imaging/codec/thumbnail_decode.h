// Streaming decoders for thumbnails: JPEG at a reduced DCT scale and PNG, handing their rows to a
// sink one at a time instead of filling a full-size raster. Same acceptance rules as readJpeg and
// readPng: a file either reader refuses is refused here with the same result code.
#pragma once

#include "imaging/codec/raster.h"

#include <cstdint>
#include <string>

namespace pixmoor::codec {

// The result of a stream whose sink asked to stop. Not a success (below 1) and no error code.
inline constexpr int kStreamStopped = 0;

// Receives a decoded image row by row, top to bottom.
class RowSink {
public:
    virtual ~RowSink() = default;
    // The size of the rows that follow. With a palette (paletteSize 1..256 entries), rows hold one
    // palette index per pixel, an index at or beyond paletteSize meaning black; with palette null,
    // rows hold R, G, B bytes. Returns false to stop the stream.
    virtual bool begin(int width, int height, const Rgb* palette, int paletteSize) = 0;
    // One row of width pixels. Returns false to stop the stream.
    virtual bool row(const std::uint8_t* pixels) = 0;
    // Asked now and then while the decoder works without delivering rows (the scans of a
    // progressive JPEG). Returns false to stop the stream.
    virtual bool keepGoing() { return true; }
};

// Largest JPEG scale denominator (8, 4, 2, else 1) whose image still covers minWidth x minHeight.
int jpegScaleCovering(int width, int height, int minWidth, int minHeight);

// Decodes a JPEG at the scale jpegScaleCovering picks for minWidth x minHeight (0 x 0: full size)
// and streams its rows as RGB, or as gray indices for grayscale files. fastUpsampling drops
// libjpeg's smoothing of the chroma planes (quicker, slightly blockier colour edges). CMYK files
// give Unsupported: readJpeg converts them. Returns Ok, kStreamStopped or an error code.
int streamJpeg(const std::string& file, int minWidth, int minHeight, RowSink& sink,
               bool fastUpsampling = false);

// Decodes a PNG and streams its rows: palette and gray files (up to 8 bits) as indices, others
// as RGB, transparency composited over white exactly as readPng does. Interlaced files are
// gathered in full first (all passes are needed before any row is final). wholeBuffer lets plain
// files be inflated in one call by libdeflate (same rows, less time); false always uses libpng.
// Returns Ok, kStreamStopped or an error code.
int streamPng(const std::string& file, RowSink& sink, bool wholeBuffer = true);

// Streams an uncompressed 24-bit BMP (the common kind) from its bytes as RGB rows, top to bottom.
// Returns Ok, kStreamStopped, or Unsupported for any other BMP (and any damaged one), which
// readBmp then reads and judges.
int streamBmp(const std::string& file, RowSink& sink);

} // namespace pixmoor::codec
