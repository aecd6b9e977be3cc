// Raster allocation for the codec library: the one place where image memory is sized, so the
// pixel limit and the out-of-memory path are enforced for every reader and converter alike.
#include "imaging/codec/raster.h"

#include "imaging/codec/errors.h"

#include <cstdint>
#include <new>

#include <sys/mman.h>

namespace pixmoor::codec {

int allocateRaster(Raster& out, int width, int height, int bits) {
    out = Raster{};
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24) return BadDepth;
    if (width <= 0 || height <= 0) return Corrupt;
    if (width > limits::kMaxDimension || height > limits::kMaxDimension) return TooLarge;
    if (std::int64_t(width) * height > limits::kMaxPixels) return TooLarge;

    const std::size_t bytesPerPixel = bits == 24 ? 3 : 1;
    const std::size_t stride = (std::size_t(width) * bytesPerPixel + 3) & ~std::size_t(3);
    try {
        const std::size_t size = stride * std::size_t(height);
        // Large rasters ask for transparent huge pages before their first touch: a photograph's
        // thousands of page faults are a good part of a whole decode's time otherwise.
        out.pixels.reserve(size);
        constexpr std::uintptr_t kHugePage = std::uintptr_t(2) << 20;
        const auto start = reinterpret_cast<std::uintptr_t>(out.pixels.data());
        const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
        const std::uintptr_t last = (start + size) & ~(kHugePage - 1);
        if (last > first) // advice only: failure changes nothing
            (void)madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
        out.pixels.assign(size, 0);
    } catch (const std::bad_alloc&) {
        out = Raster{};
        return OutOfMemory;
    }
    out.width = width;
    out.height = height;
    out.bits = bits;
    out.stride = stride;
    return Ok;
}

} // namespace pixmoor::codec
