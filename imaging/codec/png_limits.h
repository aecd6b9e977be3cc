// Internal to the codec library: the limits every libpng reader of ours sets, so the reader and
// the streaming thumbnail decoder accept and refuse the same files.
#pragma once

#include "imaging/codec/raster.h"

#include <png.h>

namespace pixmoor::codec::detail {

// Ancillary chunks we never use: libpng skips them without inflating or storing them (a large
// compressed ICC profile or text chunk would otherwise cost time and memory). Dimensions are
// capped, and so are the size and number of the ancillary chunks libpng keeps.
inline void applyPngReadLimits(png_structp png) {
    static constexpr png_byte kIgnoredChunks[] = {
        'b', 'K', 'G', 'D', '\0', 'c', 'H', 'R', 'M', '\0', 'e', 'X', 'I', 'f', '\0',
        'g', 'A', 'M', 'A', '\0', 'h', 'I', 'S', 'T', '\0', 'i', 'C', 'C', 'P', '\0',
        'i', 'T', 'X', 't', '\0', 'o', 'F', 'F', 's', '\0', 'p', 'C', 'A', 'L', '\0',
        'p', 'H', 'Y', 's', '\0', 's', 'B', 'I', 'T', '\0', 's', 'C', 'A', 'L', '\0',
        's', 'P', 'L', 'T', '\0', 's', 'R', 'G', 'B', '\0', 't', 'E', 'X', 't', '\0',
        't', 'I', 'M', 'E', '\0', 'z', 'T', 'X', 't', '\0'};
    constexpr int kIgnoredChunkCount = int(sizeof kIgnoredChunks / 5);
    constexpr png_alloc_size_t kPngChunkMax = 8u << 20;
    constexpr png_uint_32 kPngChunkCacheMax = 1000;

    png_set_user_limits(png, kMaxDimension, kMaxDimension);
    png_set_chunk_cache_max(png, kPngChunkCacheMax);
    png_set_chunk_malloc_max(png, kPngChunkMax);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kIgnoredChunks, kIgnoredChunkCount);
}

} // namespace pixmoor::codec::detail
