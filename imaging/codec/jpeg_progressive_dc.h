// Internal to the codec library: the JPEG reader's faster road for thumbnails of progressive
// files, which decodes their DC scans alone.
#pragma once

#include "imaging/codec/decode.h"
#include "imaging/codec/strategy.h"

#include <cstddef>

namespace pixmoor::codec::detail {

// The 1/8-scale picture of a progressive Huffman JPEG of 1 or 3 components from its DC scans
// alone: at 1/8 each pixel is the mean of its 8 x 8 block, which is the block's DC coefficient,
// so the AC scans (most of such a file) are skipped, not decoded. Taken only when 1/8 of the
// picture still covers minWidth x minHeight (upright). Declined, with nothing sent, for anything
// else or anything doubtful (damage, truncation, odd sampling).
Strategy decodeProgressiveDc(const unsigned char* data, std::size_t size, int minWidth,
                             int minHeight, RowSink& sink);

} // namespace pixmoor::codec::detail
