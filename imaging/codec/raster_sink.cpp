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

bool RasterSink::begin(const RowLayout& layout) {
    const bool indexed = layout.palette != nullptr;
    const int bits = indexed ? (layout.bits == 1 || layout.bits == 4 ? layout.bits : 8) : 24;
    failure_ = allocateRaster(out_, layout.width, layout.height, bits);
    if (failure_ != Ok) return false;
    if (indexed) out_.palette.assign(layout.palette, layout.palette + layout.paletteSize);
    y_ = 0;
    return true;
}

std::uint8_t* RasterSink::rowBuffer(int y) {
    return y >= 0 && y < out_.height ? out_.row(y) : nullptr;
}

bool RasterSink::row(const std::uint8_t* pixels) {
    if (y_ >= out_.height) return false;
    std::uint8_t* target = out_.row(y_);
    if (pixels != target)
        std::memcpy(target, pixels, std::size_t(out_.width) * (out_.bits == 24 ? 3 : 1));
    ++y_;
    return true;
}

bool RasterSink::image(Raster&& raster) {
    out_ = std::move(raster);
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
