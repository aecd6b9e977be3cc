// Area-averaging reduction of images to thumbnail size: every thumbnail pixel is the exact
// area-weighted mean of the source pixels it covers. Fed row by row, so a decoder can stream
// straight into it without a full-size copy.
#pragma once

#include "imaging/codec/raster.h"

#include <QImage>
#include <QSize>

#include <cstdint>
#include <vector>

namespace pixmoor {

// Reduces a sourceWidth x sourceHeight image to target, stretching it to fill without keeping
// the aspect ratio. Rows are added top to bottom; result() is Format_RGB32.
class AreaDownscaler {
public:
    // Whether the area filter applies: target at least 1 x 1 and no larger than the source in
    // either direction. (Enlarging is left to smooth interpolation, see scaleToThumbnail.)
    static bool fits(int sourceWidth, int sourceHeight, QSize target);

    // Requires fits(sourceWidth, sourceHeight, target). With bgr the rows given to addRgbRow
    // hold B, G, R bytes (as BMP stores them), which saves the reader reordering every pixel.
    AreaDownscaler(int sourceWidth, int sourceHeight, QSize target, bool bgr = false);

    // One source row of R, G, B bytes (B, G, R with bgr). Rows are summed vertically into a band
    // first; each finished band is then reduced horizontally into one target row. A row that
    // lies wholly inside one target row (most of them) is only added, into 16-bit sums; the
    // two rows at a band's edges are weighted by their share.
    void addRgbRow(const std::uint8_t* rgb);
    // One source row of palette indices; palette has 256 entries.
    void addIndexedRow(const std::uint8_t* indices, const codec::Rgb* palette256);
    // One source row of 32-bit pixels (RGB32 or ARGB32, alpha ignored).
    void addRgb32Row(const QRgb* pixels);

    int rowsAdded() const { return sourceY_; }
    bool complete() const { return sourceY_ == sourceHeight_; }
    // The thumbnail; rows not yet added count as black.
    QImage result() const;

private:
    // Source pixel span of one target cell, with the weights of its partly covered ends.
    struct Span {
        int first, last;      // first and last source pixel touching the cell
        std::uint32_t wFirst; // weight of the first pixel (the whole cell when first == last)
        std::uint32_t wLast;  // weight of the last pixel when last > first
    };
    static std::vector<Span> spans(int source, int target);
    // Adds weight x the row to the band of source rows making up the current target row.
    void accumulate(const std::uint8_t* rgb, std::uint32_t weight);
    // Adds a row of whole weight to the 16-bit sums, folding them into the band before they
    // could overflow.
    void addWhole(const std::uint8_t* rgb);
    // Adds the 16-bit sums, times the whole weight, to the band and clears them.
    void foldWholeRows();
    // Turns the finished band into target row `row` and starts an empty one.
    void finishBand(int row);

    int sourceWidth_, sourceHeight_;
    int targetWidth_, targetHeight_;
    bool bgr_;
    std::vector<Span> columns_;
    std::vector<std::uint8_t> rgbRow_; // a converted row for the indexed and 32-bit inputs
    std::vector<std::uint32_t> band_;  // source-width x 3 weighted column sums
    std::vector<std::uint16_t> whole_; // source-width x 3 sums of rows of whole weight
    int wholeRows_ = 0;                // rows in whole_
    std::vector<QRgb> pixels_;         // the finished target rows
    int sourceY_ = 0;
};

// The whole image stretched to exactly target: area-averaged where it shrinks in both
// directions, Qt's smooth scaling when a direction grows. Format_RGB32; a null image or an empty
// target gives a null image. Alpha is composited over white first.
QImage scaleToThumbnail(const QImage& image, QSize target);
QImage scaleToThumbnail(const codec::Raster& raster, QSize target);

// A picture stored in `orientation` (1 to 8, as EXIF and TIFF number them) turned upright, pixel
// for pixel: a sink that reduces a stored picture turns only its small result. Format_RGB32,
// RGB888 and Indexed8 (with its colour table) keep their format, others become RGB32.
QImage uprightImage(const QImage& image, int orientation);

} // namespace pixmoor
