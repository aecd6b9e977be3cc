// The codec library's image in memory: a raster of 1, 4, 8 or 24 bits with its palette.
// Every reader produces one and every writer consumes one; it has no Qt dependency.
#pragma once

#include "imaging/codec/limits.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pixmoor::codec {

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// Pixels are stored top-down. Indexed rasters (bits 1, 4 or 8) keep one byte per pixel holding a
// palette index below palette.size() <= 2^bits; true-colour rasters (bits 24) keep R, G, B bytes.
// Rows start on 4-byte boundaries so a QImage (Indexed8 or RGB888) can wrap them without copying.
struct Raster {
    int width = 0;
    int height = 0;
    int bits = 0;             // 1, 4, 8 (indexed) or 24 (true colour); 0 for an empty raster
    std::vector<Rgb> palette; // indexed rasters only
    std::size_t stride = 0;   // bytes per row
    std::vector<std::uint8_t> pixels;

    bool empty() const { return width <= 0 || height <= 0 || pixels.empty(); }
    bool indexed() const { return bits > 0 && bits <= 8; }
    std::uint8_t* row(int y) { return pixels.data() + stride * static_cast<std::size_t>(y); }
    const std::uint8_t* row(int y) const {
        return pixels.data() + stride * static_cast<std::size_t>(y);
    }

    // Colour of the pixel at (x, y), whatever the depth.
    Rgb at(int x, int y) const {
        const std::uint8_t* p = row(y);
        if (bits == 24) return {p[3 * x], p[3 * x + 1], p[3 * x + 2]};
        return p[x] < palette.size() ? palette[p[x]] : Rgb{};
    }
};

// Allocates width x height at the given depth, pixels zeroed. Returns an error code of
// errors.h (Ok on success); on failure `out` is left empty.
int allocateRaster(Raster& out, int width, int height, int bits);

} // namespace pixmoor::codec
