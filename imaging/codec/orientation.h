// Internal to the codec library: a picture's stored orientation (EXIF and TIFF tag 274, values
// 1 to 8) and the sink that turns decoded rows upright, so every reader applies it once, in the
// same way, whatever it decodes for (a raster, a thumbnail).
#pragma once

#include "imaging/codec/decode.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pixmoor::codec::detail {

// What the codec takes from an EXIF block, the payload of a JPEG APP1 segment ("Exif\0\0" and a
// TIFF structure).
struct ExifFacts {
    // Tag 274 of the first directory: 1 (upright) when absent, damaged or out of range.
    int orientation = 1;
    // The JPEG thumbnail of the second directory (tags 513 and 514, the bytes from SOI on), inside
    // the block; null when there is none, or its place is not wholly inside the block, overlaps a
    // directory or does not start with SOI.
    const std::uint8_t* thumbnail = nullptr;
    std::size_t thumbnailSize = 0;
};
ExifFacts readExif(const std::uint8_t* data, std::size_t size);

// The orientation alone (readExif(data, size).orientation).
int exifOrientation(const std::uint8_t* data, std::size_t size);

// Whether an orientation swaps width and height (5 to 8: a quarter turn, with or without a
// mirror).
inline bool swapsSides(int orientation) {
    return orientation >= 5 && orientation <= 8;
}

// Passes rows on to `out` turned upright. Orientation 1, or a sink that turns the picture itself
// (RowSink::turnsItself), gets them straight through (and the decoder may write into out's own
// rows); otherwise 2 mirrors each row as it comes, and the others keep the whole picture at its
// decoded size and send it on once its last row has arrived.
class OrientingSink final : public RowSink {
public:
    OrientingSink(RowSink& out, int orientation);
    // The orientation, when it is known only after the sink was made (before begin()).
    void setOrientation(int orientation);
    bool begin(const RowLayout& layout) override;
    bool row(const std::uint8_t* pixels) override;
    bool keepGoing() override { return out_.keepGoing(); }
    std::uint8_t* rowBuffer(int y) override;
    bool image(Raster&& raster) override;

private:
    bool emit();
    // Asks out whether it turns the picture itself; true when the rows then pass straight on.
    bool passesStraight();

    RowSink& out_;
    int orientation_;
    RowLayout in_{};
    std::size_t pixelBytes_ = 1;
    int rows_ = 0;
    bool straight_ = false;             // rows pass on as stored
    std::vector<std::uint8_t> picture_; // the stored picture, when it must be turned whole
    std::vector<std::uint8_t> line_;    // one output row
};

} // namespace pixmoor::codec::detail
