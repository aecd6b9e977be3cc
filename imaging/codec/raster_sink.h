// Internal to the codec library: the sink that turns a row-by-row decode into a raster, and the
// reader built on it ("decode into a raster, then convert the depth") that every readX is.
#pragma once

#include "imaging/codec/decode.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pixmoor::codec::detail {

// Keeps the decoded rows as a raster of the layout's depth and palette. Offers its own rows to
// the decoder, so they are decoded in place, and takes whole rasters without copying them.
// A picture stored turned is written straight to its upright place in the raster, so turning
// costs no second picture: mirrored and flipped rows go to their row (decoded in place too),
// quarter-turned ones are gathered in a small band of rows and written column-wise.
class RasterSink final : public RowSink {
public:
    explicit RasterSink(Raster& out) : out_(out) {}
    bool turnsItself(int orientation) override;
    bool begin(const RowLayout& layout) override;
    bool row(const std::uint8_t* pixels) override;
    std::uint8_t* rowBuffer(int y) override;
    bool image(Raster&& raster) override;
    // Whether every announced row arrived.
    bool complete() const { return !out_.empty() && y_ == storedHeight_; }
    // Why begin() refused the layout (OutOfMemory, TooLarge...), Ok otherwise.
    int failure() const { return failure_; }

private:
    // Writes the gathered band of stored rows to their columns of the raster.
    void placeBand();

    Raster& out_;
    int orientation_ = 1;
    int storedWidth_ = 0, storedHeight_ = 0;
    std::size_t pixelBytes_ = 1;
    int y_ = 0; // stored rows received
    int failure_ = 0;
    std::vector<std::uint8_t> band_; // quarter turns: stored rows not yet placed
    int bandRows_ = 0;               // rows the band holds
    int bandStart_ = 0;              // the stored row at the band's top
};

using Decoder = int (*)(const std::string& file, const DecodeOptions& options, RowSink& sink);

// Decodes file with decode into `out`, then brings it to bits (0, 1, 4, 8, 24) with or without
// dithering. Indices past a short palette are black, as the sink contract has it: the palette is
// grown with black up to the largest index used. On failure `out` is left empty; running out of
// memory gives OutOfMemory.
int readThroughSink(Decoder decode, const std::string& file, const DecodeOptions& options, int bits,
                    int dither, Raster& out);

// Streams a whole raster through sink: begin() with its layout, then its rows. Ok, or Stopped.
int streamRaster(const Raster& raster, RowSink& sink);

} // namespace pixmoor::codec::detail
