// Internal to the codec library: the 1/8-scale thumbnail of a progressive JPEG from its DC scans
// alone. At 1/8 scale each output pixel is the mean of its 8 x 8 block, which is the block's DC
// coefficient, so the AC scans (most of a progressive file) are skipped, not decoded.
#pragma once

#include "imaging/codec/thumbnail_decode.h"

#include <cstddef>

namespace pixmoor::codec::detail {

enum class FastDecodeResult {
    Done,          // the rows went to the sink
    NotApplicable, // not a plain progressive Huffman JPEG of 1 or 3 components, or anything
                   // doubtful (damage, truncation, odd sampling): nothing went to the sink, and
                   // the caller decodes the file the ordinary way, which gives the verdict
    Stopped,       // the sink asked to stop
};

// When jpegScaleCovering picks 1/8 for minWidth x minHeight, decodes the progressive JPEG held
// in data at 1/8 scale (ceil(width / 8) x ceil(height / 8),
// as libjpeg's scaling gives) from its DC coefficients, colour-converted like libjpeg (YCbCr to
// RGB; gray as gray indices), and streams the rows to sink. The subsampled colour planes are
// replicated over their blocks.
FastDecodeResult decodeProgressiveDc(const unsigned char* data, std::size_t size, int minWidth,
                                     int minHeight, RowSink& sink);

} // namespace pixmoor::codec::detail
