// Decoding into a raster (see raster_sink.h), and the default whole-image hand-over of sinks.
#include "imaging/codec/raster_sink.h"

#include "imaging/codec/codec.h"
#include "imaging/codec/errors.h"
#include "imaging/codec/format_io.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace pixmoor::codec {

bool RowSink::image(Raster&& raster) {
    return detail::streamRaster(raster, *this) == Ok;
}

namespace detail {

int streamRaster(const Raster& raster, RowSink& sink) {
    RowLayout layout;
    layout.width = raster.width;
    layout.height = raster.height;
    layout.bits = raster.bits;
    if (raster.indexed()) {
        layout.palette = raster.palette.data();
        layout.paletteSize = int(std::min<std::size_t>(raster.palette.size(), 256));
    }
    if (!sink.begin(layout)) return Stopped;
    for (int y = 0; y < raster.height; ++y)
        if (!sink.row(raster.row(y))) return Stopped;
    return Ok;
}

bool RasterSink::turnsItself(int orientation) {
    orientation_ = orientation >= 1 && orientation <= 8 ? orientation : 1;
    return true;
}

namespace {

// Quarter turns: the band's rows as stored, at most this many bytes of them.
constexpr std::size_t kBandBytes = std::size_t(4) << 20;
constexpr int kBandRows = 64; // 64 one-byte pixels fill a cache line of each raster row

bool quarterTurn(int orientation) {
    return orientation >= 5;
}

// Stored pixel (x, y) of row `from` goes to `to` mirrored: the row reversed, pixel by pixel.
void mirrorRow(const std::uint8_t* from, std::uint8_t* to, std::size_t width, std::size_t px) {
    if (from == to) {
        for (std::size_t a = 0, b = width - 1; a < b; ++a, --b)
            std::swap_ranges(to + a * px, to + (a + 1) * px, to + b * px);
        return;
    }
    for (std::size_t x = 0; x < width; ++x)
        std::memcpy(to + (width - 1 - x) * px, from + x * px, px);
}

} // namespace

bool RasterSink::begin(const RowLayout& layout) {
    const bool indexed = layout.palette != nullptr;
    const int bits = indexed ? (layout.bits == 1 || layout.bits == 4 ? layout.bits : 8) : 24;
    storedWidth_ = layout.width;
    storedHeight_ = layout.height;
    pixelBytes_ = indexed ? 1 : 3;
    const bool swapped = quarterTurn(orientation_);
    failure_ = allocateRaster(out_, swapped ? layout.height : layout.width,
                              swapped ? layout.width : layout.height, bits);
    if (failure_ != Ok) return false;
    if (indexed) out_.palette.assign(layout.palette, layout.palette + layout.paletteSize);
    y_ = 0;
    bandRows_ = bandStart_ = 0;
    if (swapped) {
        const std::size_t rowBytes = std::size_t(storedWidth_) * pixelBytes_;
        const std::size_t rows = std::clamp<std::size_t>(kBandBytes / rowBytes, 1, kBandRows);
        try {
            band_.assign(rows * rowBytes, 0);
        } catch (const std::bad_alloc&) {
            out_ = Raster{};
            failure_ = OutOfMemory;
            return false;
        }
    }
    return true;
}

std::uint8_t* RasterSink::rowBuffer(int y) {
    if (y < 0 || y >= storedHeight_ || out_.empty()) return nullptr;
    switch (orientation_) {
    case 1:
    case 2: // mirrored in place
        return out_.row(y);
    case 3: // mirrored in place
    case 4:
        return out_.row(storedHeight_ - 1 - y);
    default: // gathered in the band
        return nullptr;
    }
}

bool RasterSink::row(const std::uint8_t* pixels) {
    if (y_ >= storedHeight_ || out_.empty()) return false;
    const std::size_t width = std::size_t(storedWidth_), rowBytes = width * pixelBytes_;
    if (quarterTurn(orientation_)) {
        std::memcpy(band_.data() + std::size_t(bandRows_) * rowBytes, pixels, rowBytes);
        ++bandRows_;
        ++y_;
        if (std::size_t(bandRows_) * rowBytes == band_.size() || y_ == storedHeight_) placeBand();
        return true;
    }
    const bool flipped = orientation_ == 3 || orientation_ == 4;
    std::uint8_t* target = out_.row(flipped ? storedHeight_ - 1 - y_ : y_);
    if (orientation_ == 2 || orientation_ == 3)
        mirrorRow(pixels, target, width, pixelBytes_);
    else if (pixels != target)
        std::memcpy(target, pixels, rowBytes);
    ++y_;
    return true;
}

// For stored pixel (sx, sy) of a w x h picture, the upright position (x, y):
//   5 (sy, sx)   6 (h-1-sy, sx)   7 (h-1-sy, w-1-sx)   8 (sy, w-1-sx)
// so each stored column is one raster row, and the band's rows are neighbours in it.
void RasterSink::placeBand() {
    const std::size_t w = std::size_t(storedWidth_), h = std::size_t(storedHeight_);
    const std::size_t px = pixelBytes_, rowBytes = w * px, n = std::size_t(bandRows_);
    const std::size_t top = std::size_t(bandStart_);
    const bool rowsAscend = orientation_ == 5 || orientation_ == 8;    // x = sy, else h-1-sy
    const bool columnsAscend = orientation_ == 5 || orientation_ == 6; // y = sx, else w-1-sx
    // The band covers raster columns first..first+n-1, in stored order or reversed.
    const std::size_t first = rowsAscend ? top : h - top - n;
    const std::uint8_t* band = band_.data();
    for (std::size_t sx = 0; sx < w; ++sx) {
        std::uint8_t* dst = out_.row(int(columnsAscend ? sx : w - 1 - sx)) + first * px;
        const std::uint8_t* src = band + sx * px;
        if (px == 1) {
            if (rowsAscend)
                for (std::size_t k = 0; k < n; ++k) dst[k] = src[k * rowBytes];
            else
                for (std::size_t k = 0; k < n; ++k) dst[n - 1 - k] = src[k * rowBytes];
        } else {
            for (std::size_t k = 0; k < n; ++k)
                std::memcpy(dst + (rowsAscend ? k : n - 1 - k) * px, src + k * rowBytes, px);
        }
    }
    bandStart_ += bandRows_;
    bandRows_ = 0;
}

bool RasterSink::image(Raster&& raster) {
    // A turned picture is written to its place like streamed rows: a second raster, which the
    // upright result needs.
    if (orientation_ != 1) return streamRaster(raster, *this) == Ok;
    out_ = std::move(raster);
    storedWidth_ = out_.width;
    storedHeight_ = out_.height;
    y_ = out_.height;
    return true;
}

int readThroughSink(Decoder decode, const std::string& file, const DecodeOptions& options, int bits,
                    int dither, Raster& out) {
    out = Raster{};
    if (!validDepth(bits)) return BadDepth;
    try {
        RasterSink sink(out);
        int rc = decode(file, options, sink);
        // A raster that could not be allocated stops the decoder: report why.
        if (rc == Stopped && sink.failure() != 0 && sink.failure() != Ok) rc = sink.failure();
        if (rc == Ok && !sink.complete()) rc = Truncated;
        if (rc == Ok && out.indexed()) coverIndices(out);
        if (rc == Ok) rc = convertDepth(out, bits, dither);
        if (rc != Ok) out = Raster{};
        return rc;
    } catch (const std::bad_alloc&) {
        out = Raster{};
        return OutOfMemory;
    }
}

} // namespace detail
} // namespace pixmoor::codec
